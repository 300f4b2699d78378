#!/usr/bin/python3
"""Checks frames a farm stamped against the pictures they were stamped from.

    stamped_once.py SOURCE_FOLDER STAMPED_FOLDER FIRST LAST

For each frame render_%04d of FIRST to LAST: the stamped PNG and TGA read
whole and hold the same pixels (one stamping, not one run's PNG beside
another's TGA), and they differ from the source only in one block at the
bottom-left corner, where the report goes: every other pixel is the
source's. Prints each frame that fails and exits 1; prints nothing and exits
0 when all pass. Pictures are read with Pillow, apart from velloq-host's own
decoders.
"""
import sys

from PIL import Image, ImageChops


def problem(source_folder, stamped_folder, frame):
    name = "render_%04d" % frame
    try:
        source = Image.open("%s/%s.png" % (source_folder, name)).convert("RGB")
        png = Image.open("%s/%s.png" % (stamped_folder, name)).convert("RGB")
        tga = Image.open("%s/%s.tga" % (stamped_folder, name)).convert("RGB")
    except (OSError, ValueError) as error:
        return "%s: %s" % (name, error)
    if png.tobytes() != tga.tobytes():
        return name + ": its PNG and TGA hold different pixels"
    box = ImageChops.difference(png, source).getbbox()
    if box is None:
        return name + ": not stamped"
    left, top, right, bottom = box
    width, height = png.size
    if left > width // 8 or bottom < height * 7 // 8 or right > width * 3 // 4 or top < height // 3:
        return "%s: differs from its source outside the report's corner (%d, %d to %d, %d)" % (
            name, left, top, right, bottom)
    return None


def main():
    source_folder, stamped_folder = sys.argv[1], sys.argv[2]
    first, last = int(sys.argv[3]), int(sys.argv[4])
    problems = [p for p in (problem(source_folder, stamped_folder, n) for n in range(first, last + 1)) if p]
    for text in problems:
        print(text)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
