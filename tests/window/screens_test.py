#!/usr/bin/env python3
"""Real setup windows on a virtual X display: a screenshot of every screen,
pixel checks on them, and what only the scripted driver can set up: the
check box's value reaching the uninstall, dragging, and a stuck worker.

Run inside with_display.sh, which provides DISPLAY and the Wine prefix:
  screens_test.py --run build/wine-run.sh --driver build/bin/qv-window-driver.exe
                  --out build/window-screens [--dpi 144] [--shots-only]
Screenshots stay in --out as test artefacts. Exits 1 when a check fails.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

TITLE = "^(QuorvelAI Setup|Uninstall QuorvelAI)$"
WORKING, FAILED, DONE, REMOVED = 1, 3, 4, 6  # screen numbers the driver announces
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Driver:
    """One run of the driver program with one scene."""

    def __init__(self, args, scene, *extra):
        self.work = tempfile.mkdtemp(prefix="qv-window-")
        self.ready = os.path.join(self.work, "ready")
        self.read_to = 0
        self.result = os.path.join(self.work, "result")
        self.log = open(os.path.join(self.work, "driver.log"), "wb")
        command = [args.run, args.driver, scene, "--ready", windows_path(self.ready),
                   "--result", windows_path(self.result), *extra]
        # Files, not pipes: a Wine helper that outlives the run would hold a
        # pipe open.
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.window = None

    def announcements(self):
        """Screens announced since the last call. The driver appends a line
        for each; only whole lines count, so a half-written one waits."""
        try:
            with open(self.ready, "rb") as f:
                f.seek(self.read_to)
                fresh = f.read()
        except OSError:
            return []
        whole = fresh[:fresh.rfind(b"\n") + 1]
        self.read_to += len(whole)
        return whole.decode().split()

    def wait_ready(self, screen=None, timeout=30, find=True):
        """Waits until the driver announces a screen (the given one, when
        named) and the window is found."""
        end = time.time() + timeout
        while time.time() < end:
            ended = self.process.poll() is not None
            shown = self.announcements()
            if shown and (screen is None or str(screen) in shown):
                break
            if ended:
                print(f"driver ended with {self.process.poll()} before announcing", flush=True)
                return False
            time.sleep(0.05)
        else:
            print(f"no screen announced; driver state {self.process.poll()}, files in {self.work}",
                  flush=True)
            return False
        if not find:
            return True
        while time.time() < end:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                                   capture_output=True, text=True).stdout.split()
            if found:
                self.window = found[0]
                return True
            time.sleep(0.05)
        hidden = subprocess.run(["xdotool", "search", "--name", TITLE], capture_output=True,
                                text=True).stdout.split()
        print(f"no visible window; windows by name: {hidden}", flush=True)
        subprocess.run(["import", "-window", "root", os.path.join(self.work, "root.png")])
        return False

    def geometry(self):
        out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", self.window],
                             capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def shot(self, path):
        x, y, w, h = self.geometry()
        subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", path],
                       check=True, capture_output=True)
        return Image(path)

    def key(self, *keys):
        # Real key events (XTEST) into the focused window, as a keyboard
        # would send them; the window takes the focus first.
        subprocess.run(["xdotool", "windowfocus", self.window], capture_output=True)
        subprocess.run(["xdotool", "key", "--delay", "50", *keys], capture_output=True)

    def wait_exit(self, timeout=30):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None

    def result_fields(self):
        try:
            with open(self.result) as f:
                return dict(p.split("=", 1) for p in f.read().split())
        except OSError:
            return {}

    def end(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


class Image:
    """An RGB picture read through ImageMagick."""

    def __init__(self, path):
        size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True,
                              text=True, check=True).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])
        self.data = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                                   check=True).stdout

    def at(self, x, y):
        i = (int(y) * self.width + int(x)) * 3
        return tuple(self.data[i:i + 3])

    def count(self, box, test):
        x0, y0, x1, y1 = (int(v) for v in box)
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if test(self.at(x, y)))


def near(colour, hex_rgb, tolerance=6):
    want = tuple(int(hex_rgb[i:i + 2], 16) for i in (0, 2, 4))
    return all(abs(a - b) <= tolerance for a, b in zip(colour, want))


def accent(c):
    return c[0] > 200 and 80 < c[1] < 215 and c[2] < 80


def bright(c):
    return min(c) > 140


# Logical boxes (at 96 dpi) of what each screen draws.
TITLE_BOX = (24, 186, 416, 218)
BODY_BOX = (28, 220, 412, 262)


def common_checks(name, image, s):
    scaled = [v * s for v in TITLE_BOX]
    check(image.count(scaled, bright) > 40, f"{name}: no title text drawn")
    if name.startswith("high-contrast"):
        return
    check(near(image.at(8 * s, 4 * s), "18181d"), f"{name}: gradient top {image.at(8 * s, 4 * s)}")
    bottom = image.at(8 * s, image.height - 5 * s)
    check(near(bottom, "09090b"), f"{name}: gradient bottom {bottom}")


def primary_accent(name, image, s, top):
    # A line through the upper part of the pills, above the labels: the
    # primary pill is the only accent there.
    y = (top + 5) * s
    line = sum(accent(image.at(x, y)) for x in range(image.width))
    check(line > 60 * s, f"{name}: primary button not accent ({line} pixels)")


def glow_points(s):
    # Left of the logo and below it: the glow alone over the background.
    return [(x * s, y * s) for x, y in [(220 - 64, 112), (220 + 64, 112), (220, 178)]]


def glow(image, s):
    return [image.at(x, y) for x, y in glow_points(s)]


SHOTS = [
    # name, scene, keys after ready, extra driver options
    ("welcome", "welcome", [], []),
    ("welcome-note", "note", [], []),
    ("working", "working", [], []),
    ("working-indeterminate", "indeterminate", [], []),
    ("waiting-for-app", "waiting", [], []),
    ("failed-retryable", "failed-retryable", ["Return"], []),
    ("failed", "failed", [], []),
    ("done", "done", [], []),
    ("confirm-uninstall", "confirm", [], []),
    ("confirm-uninstall-ticked", "confirm", ["space"], []),
    ("removed", "removed", [], []),
    ("high-contrast", "welcome", [], ["--high-contrast", "1"]),
    ("high-contrast-confirm", "confirm", ["space"], ["--high-contrast", "1"]),
]


def take_shot(args, s, name, scene, keys, extra):
    driver = Driver(args, scene, *extra)
    try:
        # A run that ends by itself may stand on its progress screen long
        # enough to be announced first on a loaded machine.
        final = {"done": DONE, "removed": REMOVED}.get(name)
        if not check(driver.wait_ready(final), f"{name}: window did not appear"):
            return
        if keys:
            driver.key(*keys)
            time.sleep(0.3)
            if name.startswith("failed"):
                check(driver.wait_ready(FAILED), f"{name}: failure screen did not appear")
        image = driver.shot(os.path.join(args.out, f"{name}{args.suffix}.png"))
        x, y, w, h = driver.geometry()
        check((w, h) == (int(440 * s), int(340 * s)), f"{name}: size {w}x{h} at scale {s}")
        check((x, y) == ((1024 - w) // 2, (768 - h) // 2), f"{name}: not centred ({x}, {y})")
        common_checks(name, image, s)
        screen_checks(name, image, s)
    finally:
        driver.end()


def take_shots(args, s):
    for name, scene, keys, extra in SHOTS:
        once_more_if_failed(f"{name}{args.suffix}", take_shot, args, s, name, scene, keys, extra)


def once_more_if_failed(what, run, *arguments):
    """Runs a check; when it fails, runs it once more from a fresh start, and
    only the second run's failures count. XTEST keys into Wine are now and
    then lost on a loaded machine (a Tab, a space or the Return)."""
    before = len(failures)
    run(*arguments)
    if len(failures) == before:
        return
    print(f"{what}: trying once more", flush=True)
    del failures[before:]
    run(*arguments)


def contrast_checks(name, image, s):
    """The black theme the driver sets: no gradient, no glow, no accent."""
    for x, y in [(8, 4), (8, 330), *[(x / s, y / s) for x, y in glow_points(s)]]:
        check(near(image.at(x * s, y * s), "000000", 2), f"{name}: not the window colour at ({x}, {y})")
    logo = [v * s for v in (160, 52, 280, 172)]
    # The link is in the theme's yellow link colour, whose soft edges pass
    # for amber.
    link = [v * s for v in (24, 296, 416, 320)]
    amber = (image.count([0, 0, image.width, image.height], accent) - image.count(logo, accent) -
             (image.count(link, accent) if name == "high-contrast" else 0))
    check(amber == 0, f"{name}: {amber} accent pixels outside the logo")
    if name == "high-contrast":
        yellow = image.count(link, lambda c: near(c, "ffff00", 8))
        check(yellow > 20, f"{name}: the link is not in the link colour ({yellow} pixels)")
    top = 248 if name == "high-contrast" else 290
    line = sum(near(image.at(x, (top + 5) * s), "1aebff", 8) for x in range(image.width))
    check(line > 60 * s, f"{name}: primary button not in the highlight colour ({line} pixels)")
    white = image.count([v * s for v in TITLE_BOX], lambda c: near(c, "ffffff", 60))
    check(white > 40, f"{name}: title not in the window text colour")
    if name == "high-contrast-confirm":
        ticked = image.count([v * s for v in (60, 250, 140, 272)], lambda c: near(c, "1aebff", 8))
        check(ticked > 20, f"{name}: ticked box not in the highlight colour")


def screen_checks(name, image, s):
    if name.startswith("high-contrast"):
        contrast_checks(name, image, s)
        return
    if name.startswith("welcome"):
        primary_accent(name, image, s, 248)
        g = glow(image, s)
        check(all(c[1] > c[2] + 3 for c in g), f"{name}: glow not amber {g}")
    if name == "welcome-note":
        red = image.count([v * s for v in (36, 218, 404, 248)], lambda c: c[0] > 150 and c[1] < 140)
        check(red > 20, f"{name}: the note is not drawn in red")
    if name.startswith("working") or name == "done":
        check(image.count([v * s for v in BODY_BOX], lambda c: min(c) > 100) > 30,
              f"{name}: no status line drawn")
    if name == "working":
        check(accent(image.at(67 * s, 265 * s)), f"{name}: bar start not filled {image.at(67 * s, 265 * s)}")
        check(not accent(image.at(370 * s, 265 * s)), f"{name}: bar filled past 42 %")
    if name == "done":
        check(accent(image.at(370 * s, 265 * s)), f"{name}: bar not full")
    if name.startswith("failed"):
        g = glow(image, s)
        check(all(c[0] > c[1] + 4 and c[2] >= c[1] - 1 for c in g), f"{name}: glow not red {g}")
        check(image.count([v * s for v in (32, 220, 408, 266)], lambda c: min(c) > 100) > 30,
              f"{name}: no error message drawn")
        primary_accent(name, image, s, 290)
    if name.startswith("confirm"):
        primary_accent(name, image, s, 290)
        ticked = image.count([v * s for v in (60, 250, 140, 272)], accent)
        if name.endswith("ticked"):
            check(ticked > 20, f"{name}: check box not ticked")
        else:
            check(ticked == 0, f"{name}: check box ticked")
    if name == "removed":
        primary_accent(name, image, s, 276)


def confirm_keys(args):
    """Space ticks the box; Enter uninstalls with data removal; Enter closes."""
    d = Driver(args, "confirm")
    if check(d.wait_ready(), "confirm: no window"):
        d.key("space")
        d.key("Return")
        check(d.wait_ready(REMOVED), "confirm: no removed screen")
        d.key("Return")
        check(d.wait_exit(15) == 0, "confirm: not closed with 0 after Removed")
        check(d.result_fields().get("removeData") == "1", "confirm: ticked box not passed on")
    d.end()


def drag(args):
    """Dragging by the body text moves the window; no window manager helps."""
    d = Driver(args, "welcome")
    if check(d.wait_ready(), "drag: no window"):
        x, y, _, _ = d.geometry()
        subprocess.run(["xdotool", "mousemove", str(x + 60), str(y + 200), "mousedown", "1"])
        time.sleep(0.3)
        for step in range(1, 11):
            subprocess.run(["xdotool", "mousemove", str(x + 60 + 8 * step), str(y + 200 + 4 * step)])
            time.sleep(0.1)
        time.sleep(0.3)
        subprocess.run(["xdotool", "mouseup", "1"])
        time.sleep(0.5)
        nx, ny, _, _ = d.geometry()
        check(abs(nx - x - 80) <= 3 and abs(ny - y - 40) <= 3,
              f"drag: window at ({nx}, {ny}), expected ({x + 80}, {y + 40})")
        d.key("Escape")
        check(d.wait_exit(15) == 1, "drag: Esc did not close the moved window")
    d.end()


def blocked_worker(args):
    """A worker stuck past the join does not keep the process."""
    d = Driver(args, "blocked", "--join-ms", "1000")
    if check(d.wait_ready(find=False), "blocked: no window"):
        started = time.time()
        code = d.wait_exit(20)
        check(code == 1, f"blocked worker: exit code {code}")
        print(f"blocked worker: process ended {time.time() - started:.1f} s after the window",
              flush=True)
    d.end()


def interaction(args):
    once_more_if_failed("confirm", confirm_keys, args)
    once_more_if_failed("drag", drag, args)
    blocked_worker(args)


# Where each Tab of each scene puts the ring, as zones where each item sits
# (logical pixels at 96 dpi). Items go as they are drawn, top to bottom and
# left to right, minimise and close last; the focus starts on the primary
# button (on the check box of the confirmation), so the first Tab rings the
# item after it. Row top from the layout.
ROW_TOP = {"welcome": 248, "confirm": 290, "failed": 290, "removed": 276}
TAB_ORDER = {
    "welcome": ["link", "minimise", "close", "row"],
    "confirm": ["row", "row", "minimise", "close", "box"],
    "failed": ["row", "minimise", "close", "row"],
    "removed": ["minimise", "close", "row"],
}
# What Enter does on each item of each scene, in Tab order. Enter on the
# check box presses the default button, Uninstall.
ENTER_EFFECT = {
    "welcome": ["folder dialog", "minimises", "exit 1", "runs"],
    "confirm": ["removes", "exit 1", "minimises", "exit 1", "removes"],
    "failed": ["exit 1", "minimises", "exit 1", "copies"],
    "removed": ["minimises", "exit 0", "exit 0"],
}


def zone_centre(scene, item):
    """The logical centre (x or None, y) where the item's ring must be."""
    if item == "row":
        return None, ROW_TOP[scene] + 18
    return {"link": (None, 308), "box": (None, 261), "minimise": (379, 22),
            "close": (415, 22)}[item]


def ring_box(base, image, s):
    """The box of the pixels that changed from base, away from the glow and
    the logo, which move by themselves."""
    xs, ys = [], []
    cx, cy, r2 = 220 * s, 112 * s, (140 * s) ** 2
    for y in range(image.height):
        row = slice(y * image.width * 3, (y + 1) * image.width * 3)
        if base.data[row] == image.data[row]:
            continue
        for x in range(image.width):
            if (x - cx) ** 2 + (y - cy) ** 2 < r2:
                continue
            a, b = base.at(x, y), image.at(x, y)
            if max(abs(p - q) for p, q in zip(a, b)) > 60:
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs), max(ys)


def cycle_ring(d, scene, s, shots):
    """Tab through every item and once more; Shift+Tab back. True when the
    ring sat on each item in order."""
    base = d.shot(os.path.join(shots, "base.png"))
    order = TAB_ORDER[scene]
    seen = []
    for step in range(len(order) + 1):
        d.key("Tab")
        time.sleep(0.25)
        box = ring_box(base, d.shot(os.path.join(shots, f"tab{step}.png")), s)
        seen.append(box)
        item = order[step % len(order)]
        if not check(box is not None, f"keys {scene}: no ring after Tab {step + 1}"):
            return False
        want_x, want_y = zone_centre(scene, item)
        mid_x, mid_y = (box[0] + box[2]) / 2 / s, (box[1] + box[3]) / 2 / s
        ok = abs(mid_y - want_y) <= 4 and (want_x is None or abs(mid_x - want_x) <= 4)
        if step > 0 and item == "row" and order[step - 1] == "row":
            ok = ok and mid_x > (seen[step - 1][0] + seen[step - 1][2]) / 2 / s
        if not check(ok, f"keys {scene}: Tab {step + 1} ringed ({mid_x:.0f}, {mid_y:.0f}), "
                         f"not the {item}"):
            return False
    check(seen[-1] == seen[0], f"keys {scene}: the ring did not wrap to the first item")
    d.key("shift+Tab")
    time.sleep(0.25)
    back = ring_box(base, d.shot(os.path.join(shots, "back.png")), s)
    check(back == seen[-2], f"keys {scene}: Shift+Tab did not go back to the last item")
    d.key("Tab")
    return True


def visible(title):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                          capture_output=True, text=True).stdout.split()


def enter_effect(d, scene, effect, what):
    d.key("Return")
    if effect == "runs":
        check(d.wait_ready(DONE, find=False), f"{what}: Install did not run")
    elif effect == "removes":
        check(d.wait_ready(REMOVED, find=False), f"{what}: Uninstall did not run")
    elif effect == "folder dialog":
        end = time.time() + 20
        while time.time() < end and not visible("^Choose where to install QuorvelAI$"):
            time.sleep(0.2)
        check(visible("^Choose where to install QuorvelAI$"), f"{what}: no folder dialog")
    elif effect == "minimises":
        # Without a window manager, Wine shows a minimised window as a small
        # bar at the bottom left.
        full = (int(440 * d.scale), int(340 * d.scale))
        end = time.time() + 5
        while time.time() < end and d.geometry()[2:] == full:
            time.sleep(0.1)
        check(d.geometry()[2:] != full, f"{what}: the window was not minimised")
    elif effect == "ticks":
        time.sleep(0.3)
        image = d.shot(os.path.join(d.work, "ticked.png"))
        check(image.count([v * d.scale for v in (60, 250, 140, 272)], accent) > 20,
              f"{what}: the box was not ticked")
    elif effect == "copies":
        d.key("Escape")
        check(d.wait_exit(15) == 1, f"{what}: Esc after the copy did not close")
        check(d.result_fields().get("copied") == "1", f"{what}: nothing was copied")
    elif effect.startswith("exit"):
        code = d.wait_exit(15)
        check(code == int(effect[5:]), f"{what}: exit code {code}")


def keyboard_item(args, s, shots, scene, index, effect):
    what = f"keys {scene}{args.suffix}, item {index + 1}"
    d = Driver(args, scene)
    d.scale = s
    try:
        if not check(d.wait_ready(), f"{what}: no window"):
            return
        if index == 0:
            if not cycle_ring(d, scene, s, shots):
                return
        else:
            d.key(*["Tab"] * (index + 1))
            time.sleep(0.2)
        enter_effect(d, scene, effect, what)
    finally:
        d.end()


def keyboard(args, s):
    """Every item of each screen in Tab order; Enter on each does its action.
    At other scales only the ring's places are checked again: what Enter
    does on an item does not depend on the scale."""
    shots = os.path.join(args.out, f"keys{args.suffix}")
    os.makedirs(shots, exist_ok=True)
    for scene, effects in ENTER_EFFECT.items():
        for index, effect in enumerate(effects if s == 1 else effects[:1]):
            once_more_if_failed(f"keys {scene}{args.suffix}, item {index + 1}", keyboard_item,
                                args, s, shots, scene, index, effect)


def probe(args, title, *press):
    """The window's accessible children as another process reads them."""
    out = subprocess.run([args.run, args.probe, title, *press], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL, timeout=60)
    rows = [line.split("\t") for line in out.stdout.splitlines() if line.count("\t") == 4]
    return out.returncode, rows


# Logical centres (at 96 dpi) of the welcome screen's children.
WELCOME_CENTRES = {"QuorvelAI": (220, 202), "Roblox AI Game Creator": (220, 232),
                   "Install": (220, 266), "Change install location": (220, 308),
                   "Minimise": (379, 22), "Close window": (415, 22)}


def reader_positions(args, d, s, what):
    """The welcome screen's children as another process reads them, each
    where the screen draws it at scale s; at most Install reports the focus."""
    code, rows = probe(args, "QuorvelAI Setup")
    names = [row[1] for row in rows]
    check(code == 0 and names == list(WELCOME_CENTRES), f"{what}: welcome children {names} (exit {code})")
    left, top, _, _ = d.geometry()
    for row in rows:
        x, y, w, h = (int(v) for v in row[4].split())
        want = WELCOME_CENTRES.get(row[1], (0, 0))
        at = ((x - left + w / 2) / s, (y - top + h / 2) / s)
        check(abs(at[0] - want[0]) <= 3 and abs(at[1] - want[1]) <= 3,
              f"{what}: {row[1]} centred at {at}, not {want}")
    focused = [row[1] for row in rows if int(row[3], 16) & 0x4]  # STATE_SYSTEM_FOCUSED
    check(focused in ([], ["Install"]), f"{what}: focus reported on {focused}")


def dpi_change(args):
    """The window moved to a 192 dpi monitor (WM_DPICHANGED, sent by the
    driver since Wine cannot change a monitor's scale): twice the size, the
    text drawn at that size, and the children where they are drawn."""
    d = Driver(args, "welcome", "--dpi-changed", "192")
    try:
        if not check(d.wait_ready(), "dpi change: no window"):
            return
        image = d.shot(os.path.join(args.out, "welcome-dpi-changed-192.png"))
        x, y, w, h = d.geometry()
        check((w, h) == (880, 680), f"dpi change: size {w}x{h}")
        check((x, y) == ((1024 - w) // 2, (768 - h) // 2), f"dpi change: not centred ({x}, {y})")
        common_checks("welcome-dpi-changed", image, 2)
        screen_checks("welcome-dpi-changed", image, 2)
        reader_positions(args, d, 2, "dpi change")
    finally:
        d.end()


def screen_reader(args, s):
    """What a screen reader in another process reads, where it finds each
    part, and a press through it."""
    d = Driver(args, "welcome")
    if check(d.wait_ready(), "reader: no window"):
        reader_positions(args, d, s, f"reader{args.suffix}")
        code, _ = probe(args, "QuorvelAI Setup", "Install")
        check(code == 0, f"reader: Install not pressed (exit {code})")
        check(d.wait_ready(DONE, find=False), "reader: Install did not run")
    d.end()
    d = Driver(args, "working")
    if check(d.wait_ready(), "reader: no working window"):
        time.sleep(1)
        code, rows = probe(args, "QuorvelAI Setup")
        bars = [row for row in rows if row[0] == "48"]  # ROLE_SYSTEM_PROGRESSBAR
        # The value the bar shows, easing towards the reported 42 %.
        check(len(bars) == 1 and bars[0][2] in ("41 %", "42 %"), f"reader: progress bar {bars}")
    d.end()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--probe")
    parser.add_argument("--dpi", type=int, default=96)
    parser.add_argument("--shots-only", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    args.suffix = "" if args.dpi == 96 else f"-{args.dpi}dpi"
    take_shots(args, args.dpi / 96)
    if not args.shots_only:
        keyboard(args, args.dpi / 96)
    if not args.shots_only and args.probe:
        screen_reader(args, args.dpi / 96)
    if not args.shots_only and args.dpi == 96:
        interaction(args)
        if args.probe:
            dpi_change(args)
    print(f"{len(failures)} failed check(s)" if failures else "all window checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
