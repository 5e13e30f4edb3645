"""Decodes a map picture with Pillow and checks it against expected pixels.

Usage: check_with_pillow.py PICTURE X,Y,R,G,B ...

The picture must be a BMP of 896 x 896 pixels; each X,Y,R,G,B names a pixel
as a viewer shows it (Y counted down from the top) and the colour it must
have. Prints one line per problem and exits with 1 when there is any.
"""

import sys

from PIL import Image

PICTURE_SIDE = 896


def problems_of(path, expectations):
    problems = []
    with Image.open(path) as picture:
        picture.load()
        if picture.format != "BMP":
            problems.append(f"format {picture.format}, expected BMP")
        if picture.size != (PICTURE_SIDE, PICTURE_SIDE):
            problems.append(f"size {picture.size}, expected {(PICTURE_SIDE, PICTURE_SIDE)}")
            return problems
        shown = picture.convert("RGB")
        for expectation in expectations:
            x, y, red, green, blue = (int(part) for part in expectation.split(","))
            actual = shown.getpixel((x, y))
            if actual != (red, green, blue):
                problems.append(f"pixel ({x}, {y}) is {actual}, expected {(red, green, blue)}")
    return problems


def main(arguments):
    if len(arguments) < 2:
        print(__doc__.strip())
        return 2
    problems = problems_of(arguments[0], arguments[1:])
    for problem in problems:
        print(problem)
    if not problems:
        print(f"{len(arguments) - 1} pixels as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
