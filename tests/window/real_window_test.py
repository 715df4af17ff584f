#!/usr/bin/env python3
"""The real setup program's window against the local release server, driven
with xdotool on a virtual display: install, cancel during a download, a
failure with Try again and Copy details, Alt+F4 on the failure screen, the
first screen and mode of an --update run and of a run over an existing
install, and the uninstall from the install's Uninstall.exe, whose
temporary copy goes afterwards.

Run inside with_display.sh and with_server.sh (QV_TEST_HTTP_URL,
QV_TEST_HTTPS_URL, QV_TEST_SERVER_DIR):
  real_window_test.py --run build/wine-run.sh --setup build/bin/QuorvelAI-Setup.exe
                      --driver build/bin/qv-window-driver.exe --prefix PREFIX
The driver's scenes give the titles of the two progress screens to compare
with. Exits 1 when a check fails.
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import screens_test as screens  # noqa: E402

check = screens.check
PAYLOAD = "/good/Installs/1.2.0/win-x64/QuorvelAI-1.2.0-win-x64.tar.xz"


def control(operation, body):
    request = urllib.request.Request(os.environ["QV_TEST_HTTP_URL"] + "/__control/" + operation,
                                     data=json.dumps(body).encode(), method="POST",
                                     headers={"Content-Type": "application/json"})
    urllib.request.urlopen(request, timeout=10).read()


def requests_for(path):
    with open(os.path.join(os.environ["QV_TEST_SERVER_DIR"], "requests.log")) as f:
        return [json.loads(line) for line in f if line.strip() and json.loads(line)["path"] == path]


class Setup(screens.Driver):
    """One run of the setup program, seen through its window."""

    def __init__(self, args, folder, *options, program=None):
        self.work = None
        self.log = open(os.path.join(args.logs, "setup.log"), "ab")
        if program:
            command = [args.run, program, *options]
        else:
            command = [args.run, args.setup, "--base-url", os.environ["QV_TEST_HTTPS_URL"] + "/good",
                       "--no-launch", "--no-shortcuts", *options]
        if folder:
            command += ["--dir", folder]
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.window = None

    def find(self, timeout=30, own=True):
        """Finds the window; own=False also after the started program ended
        (a window of the copy it handed over to)."""
        end = time.time() + timeout
        while time.time() < end and (not own or self.process.poll() is None):
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", screens.TITLE],
                                   capture_output=True, text=True).stdout.split()
            if found:
                self.window = found[0]
                time.sleep(0.5)
                return True
            time.sleep(0.1)
        return False

    def shows(self, test, timeout=30):
        """Waits until a screenshot passes test(image)."""
        end = time.time() + timeout
        while time.time() < end and self.process.poll() is None:
            try:
                if test(self.shot(os.path.join(args_global.logs, "now.png"))):
                    return True
            except subprocess.CalledProcessError:
                pass
            time.sleep(0.3)
        return False


def accent_line(image, top):
    return sum(screens.accent(image.at(x, top + 5)) for x in range(image.width)) > 60


def welcome(image):
    return accent_line(image, 248)


def failure(image):
    return accent_line(image, 290) and not accent_line(image, 248)


def working(image):
    """A progress screen: the bar's track or fill along the bar, no Install button."""
    bar = sum(1 for x in range(70, 370)
              if screens.near(image.at(x, 265), "26262c", 10) or screens.accent(image.at(x, 265)))
    return bar > 250 and not welcome(image)


def title_mask(image):
    x0, y0, x1, y1 = screens.TITLE_BOX
    return {(x, y) for y in range(y0, y1) for x in range(x0, x1) if screens.bright(image.at(x, y))}


def same_title(a, b):
    """Whether two screenshots show the same title text: their light pixels
    in the title box nearly coincide (anti-aliasing may differ a little)."""
    if not a or not b:
        return False
    return len(a ^ b) <= 0.1 * max(len(a), len(b))


def first_screen(s, timeout=60):
    """The first of the welcome and the progress screens that the window
    shows, with its screenshot."""
    end = time.time() + timeout
    while time.time() < end and s.process.poll() is None:
        try:
            image = s.shot(os.path.join(args_global.logs, "first.png"))
        except subprocess.CalledProcessError:
            continue
        if welcome(image):
            return "welcome", image
        if working(image):
            return "working", image
        time.sleep(0.1)
    return None, None


def red_glow(image):
    c = image.at(220 - 64, 112)
    return c[0] > c[1] + 4


def folder(args, name):
    return "C:\\qv-window-" + name + "-" + str(os.getpid())


def linux_folder(args, windows):
    return os.path.join(args.prefix, "drive_c", windows[3:])


def fresh_start(args):
    """No faults, and no download left by an earlier run to resume."""
    control("reset", {})
    for downloads in glob.glob(os.path.join(args.prefix, "drive_c", "users", "*", "Temp",
                                            "QuorvelAI-Setup")):
        shutil.rmtree(downloads, ignore_errors=True)


def test_install(args):
    fresh_start(args)
    target = folder(args, "install")
    s = Setup(args, target)
    if check(s.find(), "install: no window") and check(s.shows(welcome), "install: no welcome"):
        s.key("Return")
        check(s.wait_exit(120) == 0, "install: Done did not close with 0")
        check(os.path.isfile(os.path.join(linux_folder(args, target), "app-1.2.0", "QuorvelAI.exe")),
              "install: app-1.2.0 not installed")
    s.end()
    return target


def test_cancel_download(args):
    fresh_start(args)
    control("faults", {"path": PAYLOAD, "faults": [{"throttle_bps": 100000}], "repeat_last": True})
    s = Setup(args, folder(args, "cancel"))
    if check(s.find(), "cancel: no window") and s.shows(welcome):
        s.key("Return")
        # The download is under way once the payload was asked for.
        end = time.time() + 30
        while time.time() < end and not requests_for(PAYLOAD):
            time.sleep(0.2)
        time.sleep(1.0)
        s.key("Escape")
        check(s.shows(welcome, 60), "cancel: did not return to the welcome screen")
        check(s.process.poll() is None, "cancel: the window closed")
        s.key("Escape")
        check(s.wait_exit(20) == 1, "cancel: Esc on the welcome screen did not close with 1")
    s.end()


def test_retry(args):
    fresh_start(args)
    # Two damaged transfers fail the checksum twice; the third is sound.
    control("faults", {"path": PAYLOAD, "faults": [{"corrupt_at": 1000}, {"corrupt_at": 1000}, {}]})
    s = Setup(args, folder(args, "retry"))
    if check(s.find(), "retry: no window") and s.shows(welcome):
        s.key("Return")
        if check(s.shows(failure, 90), "retry: no failure screen"):
            check(red_glow(s.shot(os.path.join(args.logs, "failed.png"))), "retry: glow not red")
            s.key("c")
            time.sleep(0.5)
            clip = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                                  text=True, timeout=10).stdout
            check("Error: QV-HASH-1" in clip, f"copy details: clipboard holds {clip[:60]!r}")
            before = len(requests_for("/good/versions.json"))
            s.key("Return")
            check(s.wait_exit(120) == 0, "retry: Try again did not succeed")
            check(len(requests_for("/good/versions.json")) == before,
                  "retry: the version index was fetched again")
    s.end()


def test_alt_f4(args):
    fresh_start(args)
    control("faults", {"path": PAYLOAD, "faults": [{"corrupt_at": 1000}], "repeat_last": True})
    s = Setup(args, folder(args, "altf4"))
    if check(s.find(), "alt+f4: no window") and s.shows(welcome):
        s.key("Return")
        if check(s.shows(failure, 90), "alt+f4: no failure screen"):
            s.key("alt+F4")
            check(s.wait_exit(20) == 1, "alt+f4: not closed with 1")
            subprocess.run(["xdotool", "keyup", "alt"], capture_output=True)
    s.end()


def reference_titles(args):
    """The title masks of the driver's Install and Upgrade progress screens."""
    titles = {}
    for mode, scene in (("install", "working"), ("upgrade", "indeterminate")):
        d = screens.Driver(args, scene)
        if check(d.wait_ready(), f"reference {scene}: no window"):
            titles[mode] = title_mask(d.shot(os.path.join(args.logs, f"reference-{mode}.png")))
        d.end()
    return titles


def test_first_screen(args, name, folder_arg, options, mode, titles):
    """A run that must start at once on the progress screen of mode, and
    finish by itself with 0."""
    fresh_start(args)
    # Slow enough that the progress screen stands for a few seconds.
    control("faults", {"path": PAYLOAD, "faults": [{"throttle_bps": 100000}], "repeat_last": True})
    s = Setup(args, folder_arg, *options)
    if check(s.find(), f"{name}: no window"):
        shown, image = first_screen(s)
        if check(shown == "working", f"{name}: first screen {shown}, not the progress screen"):
            s.shot(os.path.join(args.logs, f"{name}.png"))
            check(same_title(title_mask(image), titles.get(mode)),
                  f"{name}: the progress screen's title is not the {mode} one")
        check(s.wait_exit(120) == 0, f"{name}: did not finish by itself with 0")
    s.end()


def temp_copies(args):
    return set(glob.glob(os.path.join(args.prefix, "drive_c", "users", "*", "Temp",
                                      "QuorvelAI-Uninstall-*.exe")))


def test_uninstall(args, root):
    """From the install's own Uninstall.exe, as the system starts it: its
    temporary copy shows the window, removes the install and goes itself."""
    fresh_start(args)
    before = temp_copies(args)
    s = Setup(args, None, program=root + "\\Uninstall.exe")
    if check(s.find(own=False), "uninstall: no window"):
        copies = temp_copies(args) - before
        check(len(copies) == 1, f"uninstall: temporary copies {copies}")
        s.key("Return")
        time.sleep(3)
        s.key("Return")
        gone = False
        end = time.time() + 30
        while time.time() < end and not gone:
            gone = not subprocess.run(["xdotool", "search", "--onlyvisible", "--name", screens.TITLE],
                                      capture_output=True, text=True).stdout.split()
            time.sleep(0.2)
        check(gone, "uninstall: Enter on the removed screen did not close the window")
        check(not os.path.exists(os.path.join(linux_folder(args, root), "app-1.2.0")),
              "uninstall: app-1.2.0 still there")
        end = time.time() + 30
        while time.time() < end and any(os.path.exists(c) for c in copies):
            time.sleep(0.5)
        check(not any(os.path.exists(c) for c in copies),
              "uninstall: the temporary copy is still there 30 s after its window closed")
    s.end()


args_global = None


def main():
    global args_global
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--prefix", default=os.environ.get("QV_WINEPREFIX", ""))
    parser.add_argument("--logs", required=True)
    args = parser.parse_args()
    args_global = args
    os.makedirs(args.logs, exist_ok=True)
    root = test_install(args)
    test_cancel_download(args)
    test_retry(args)
    test_alt_f4(args)
    titles = reference_titles(args)
    update = folder(args, "update")
    test_first_screen(args, "update", update, ["--update"], "install", titles)
    check(os.path.isfile(os.path.join(linux_folder(args, update), "app-1.2.0", "QuorvelAI.exe")),
          "update: app-1.2.0 not installed")
    # The last install is the registered one: a plain run upgrades it.
    test_first_screen(args, "existing install", None, [], "upgrade", titles)
    test_uninstall(args, root)
    print(f"{len(screens.failures)} failed check(s)" if screens.failures else "all checks passed")
    return 1 if screens.failures else 0


if __name__ == "__main__":
    sys.exit(main())
