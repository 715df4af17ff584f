#!/usr/bin/env python3
"""The setup window in German, Japanese and Arabic on a virtual X display:
a screenshot of the welcome and failure screens in each, checks that the
title and body are drawn inside their boxes, and that Arabic mirrors the
row: its primary button sits on the left, where the mirror puts it.

Run inside with_display.sh (96 dpi), like screens_test.py:
  language_screens_test.py --run build/wine-run.sh --driver build/bin/qv-window-driver.exe
                           --out build/window-screens [--shots-only]
"""
import argparse
import os
import subprocess
import sys

import screens_test
from screens_test import Driver, check, failures

# The window's name in each language (its title bar is drawn, this is
# what xdotool finds).
LANGUAGES = {
    "de": "QuorvelAI Setup",
    "ja": "QuorvelAI セットアップ",
    "ar": "إعداد QuorvelAI",
}
SHOTS = [("welcome", "welcome"), ("failed", "failed")]
TITLE_BOX = (24, 186, 416, 218)
BODY_BOX = (24, 218, 416, 266)
# The empty bands around them: under the logo's glow, left and right of
# the boxes.
EMPTY_BANDS = [(0, 186, 20, 266), (420, 186, 440, 266)]


SEGOE_NAMES = ["Segoe UI", "Segoe UI Semibold", "Segoe UI Variable Text",
               "Segoe UI Variable Text Semibold", "Segoe UI Variable Display Semib"]


def segoe_ui_as(args, family):
    """Points the prefix's Segoe UI names at another font. Windows' Segoe
    UI has Arabic glyphs; the test prefix's Liberation Sans does not,
    DejaVu Sans does (new processes read the replacements)."""
    for name in SEGOE_NAMES:
        subprocess.run([args.run, "reg", "add", "HKCU\\Software\\Wine\\Fonts\\Replacements",
                        "/v", name, "/d", family, "/f"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def text_pixels(image, box):
    return image.count(box, lambda c: min(c) > 120)


def checks(name, tag, image):
    check(text_pixels(image, TITLE_BOX) > 40, f"{name}: no title drawn in its box")
    check(text_pixels(image, BODY_BOX) > 20, f"{name}: no body text drawn in its box")
    for band in EMPTY_BANDS:
        check(text_pixels(image, band) == 0, f"{name}: text outside its box in {band}")
    if not name.startswith("failed"):
        return
    # Not retryable: the primary "Copy details" (Enter copies) and "Close".
    # Left to right the primary is the left button; mirrored it is the
    # right one. Its accent pixels tell where it is.
    xs = [x for x in range(image.width) if screens_test.accent(image.at(x, 296))]
    centre = sum(xs) / len(xs) if xs else 220
    check(len(xs) > 60, f"{name}: no primary button drawn ({len(xs)} accent pixels)")
    if tag == "ar":
        check(centre > 240, f"{name}: primary button not on the right (centre {centre:.0f})")
    else:
        check(centre < 200, f"{name}: primary button not on the left (centre {centre:.0f})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--shots-only", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for tag, window_name in LANGUAGES.items():
        screens_test.TITLE = f"^{window_name}$"
        segoe_ui_as(args, "DejaVu Sans" if tag == "ar" else "Liberation Sans")
        for name, scene in SHOTS:
            driver = Driver(args, scene, "--language", tag)
            try:
                if not check(driver.wait_ready(), f"{name}-{tag}: window did not appear"):
                    continue
                image = driver.shot(os.path.join(args.out, f"{name}-{tag}.png"))
                if not args.shots_only:
                    checks(f"{name}-{tag}", tag, image)
            finally:
                driver.end()
    segoe_ui_as(args, "Liberation Sans")
    print(f"{len(failures)} failed check(s)" if failures else "all language checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
