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
FAILED, REMOVED = 3, 6  # screen numbers the driver announces
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
        self.result = os.path.join(self.work, "result")
        self.log = open(os.path.join(self.work, "driver.log"), "wb")
        command = [args.run, args.driver, scene, "--ready", windows_path(self.ready),
                   "--result", windows_path(self.result), *extra]
        # Files, not pipes: a Wine helper that outlives the run would hold a
        # pipe open.
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.window = None

    def wait_ready(self, screen=None, timeout=30, find=True):
        """Waits until the driver announces a screen (the given one, when
        named) and the window is found."""
        end = time.time() + timeout
        while time.time() < end:
            if os.path.exists(self.ready):
                with open(self.ready) as f:
                    shown = f.read().strip()
                os.remove(self.ready)
                if screen is None or shown == str(screen):
                    break
            if self.process.poll() is not None:
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
    check(near(image.at(8 * s, 4 * s), "18181d"), f"{name}: gradient top {image.at(8 * s, 4 * s)}")
    bottom = image.at(8 * s, image.height - 5 * s)
    check(near(bottom, "09090b"), f"{name}: gradient bottom {bottom}")
    scaled = [v * s for v in TITLE_BOX]
    check(image.count(scaled, bright) > 40, f"{name}: no title text drawn")


def primary_accent(name, image, s, top):
    # A line through the upper part of the pills, above the labels: the
    # primary pill is the only accent there.
    y = (top + 5) * s
    line = sum(accent(image.at(x, y)) for x in range(image.width))
    check(line > 60 * s, f"{name}: primary button not accent ({line} pixels)")


def glow(image, s):
    # Left of the logo and below it: the glow alone over the background.
    points = [(220 - 64, 112), (220 + 64, 112), (220, 178)]
    return [image.at(x * s, y * s) for x, y in points]


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
]


def take_shots(args, s):
    for name, scene, keys, extra in SHOTS:
        driver = Driver(args, scene, *extra)
        try:
            if not check(driver.wait_ready(), f"{name}: window did not appear"):
                continue
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


def screen_checks(name, image, s):
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


def interaction(args):
    def run(scene, *extra):
        return Driver(args, scene, *extra)

    # Space ticks the box; Enter uninstalls with data removal; Enter closes.
    d = run("confirm")
    if check(d.wait_ready(), "confirm: no window"):
        d.key("space")
        d.key("Return")
        check(d.wait_ready(REMOVED), "confirm: no removed screen")
        d.key("Return")
        check(d.wait_exit(15) == 0, "confirm: not closed with 0 after Removed")
        check(d.result_fields().get("removeData") == "1", "confirm: ticked box not passed on")
    d.end()

    # Dragging by the body text moves the window; no window manager helps.
    d = run("welcome")
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

    # A worker stuck past the join does not keep the process.
    d = run("blocked", "--join-ms", "1000")
    if check(d.wait_ready(find=False), "blocked: no window"):
        started = time.time()
        code = d.wait_exit(20)
        check(code == 1, f"blocked worker: exit code {code}")
        print(f"blocked worker: process ended {time.time() - started:.1f} s after the window",
              flush=True)
    d.end()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--dpi", type=int, default=96)
    parser.add_argument("--shots-only", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    args.suffix = "" if args.dpi == 96 else f"-{args.dpi}dpi"
    take_shots(args, args.dpi / 96)
    if not args.shots_only and args.dpi == 96:
        interaction(args)
    print(f"{len(failures)} failed check(s)" if failures else "all window checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
