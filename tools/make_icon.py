#!/usr/bin/python3
"""Draws the updater's icon and writes resources/updater.ico.

The file holds the 16 images of the updater's icon group (tools/icon/checking.py, REQUIRED_IMAGES):
64, 48, 32, 24 and 16 px in 16 colours (4 bpp) and again in 256 colours (8 bpp), then 256 px (PNG)
and 64, 48, 32, 24 and 16 px in 32-bit BGRA. Each size is drawn once (tools/icon/drawing.py) and
encoded at each depth (tools/icon/encoding.py); the check (tools/icon/checking.py) reads the file
on its own.

Only the standard library is used, so the output is the same byte for byte wherever it is run.

Usage: make_icon.py                 write resources/updater.ico
       make_icon.py --check [FILE]  verify the icon (default: the committed one): its structure,
                                    and that it equals a fresh render byte for byte
       make_icon.py --self-test     check that the verifier rejects a table of corrupted icons
"""

import os
import struct
import sys
import zlib

from icon import checking, drawing, encoding

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ICON_PATH = os.path.join(ROOT, "resources", "updater.ico")


def build_icon():
    pictures = {}
    images = []
    for size, bpp in checking.REQUIRED_IMAGES:
        if size not in pictures:
            pictures[size] = drawing.draw(size)
        images.append((size, bpp, pictures[size]))
    return encoding.icon_file(images)


def main(argv):
    fresh = build_icon()
    checking.check_file(fresh)
    if "--self-test" in argv:
        total, accepted = checking.self_test(fresh)
        for description in accepted:
            print("self-test FAILED: corruption accepted:", description)
        print(f"self-test: {total - len(accepted)} of {total} corruptions rejected")
        return 1 if accepted else 0
    if "--check" in argv:
        rest = [a for a in argv if a != "--check"]
        path = rest[0] if rest else ICON_PATH
        with open(path, "rb") as f:
            committed = f.read()
        try:
            decoded = checking.check_file(committed)
        except (checking.IconError, struct.error, zlib.error, IndexError) as e:
            print(f"{path}: malformed: {e}")
            return 1
        if committed != fresh:
            print(f"{path}: well-formed but differs from a fresh render (run tools/make_icon.py)")
            return 1
        print(f"{path}: {len(decoded)} images, {len(committed)} bytes, matches a fresh render")
        return 0
    with open(ICON_PATH, "wb") as f:
        f.write(fresh)
    print(f"wrote {ICON_PATH}: {len(checking.REQUIRED_IMAGES)} images, {len(fresh)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
