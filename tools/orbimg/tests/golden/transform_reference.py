#!/usr/bin/python3
"""Expected results of `orbimg transform` on small FITS images.

Each case is a source image (FITS order: row 1, the bottom of the picture,
first), the transform steps and the result, worked out here with numpy from
how the picture is seen: flips and canvas anchors act on the picture (its
top row is FITS row NAXIS2), bin blocks start at the bottom-left pixel, the
resampling grid starts at pixel (1, 1), brightness and contrast act on the
display scale (levels: the extremes of the image, mapped to 0 .. 255).

Writes transform.txt, one case a line:
  W H P | source samples | steps | W H P | result samples

Run: /usr/bin/python3 tools/orbimg/tests/golden/transform_reference.py
"""
import os

import numpy as np


def ramp(width, height, planes=1):
    """Pixel (x, y) of plane p holds 10 y + x + 100 p (FITS, 1-based)."""
    y, x = np.mgrid[1:height + 1, 1:width + 1]
    return np.stack([10.0 * y + x + 100.0 * p for p in range(planes)])


def picture(img):
    """The planes as seen, top row first."""
    return img[:, ::-1, :]


def from_picture(pic):
    return pic[:, ::-1, :]


def flip(img, vertical):
    return from_picture(picture(img)[:, ::-1, :]) if vertical else img[:, :, ::-1]


def binned(img, bx, by, round_up):
    _, h, w = img.shape
    nx = -(-w // bx) if round_up else w // bx
    ny = -(-h // by) if round_up else h // by
    out = np.zeros((img.shape[0], ny, nx))
    for j in range(ny):
        for i in range(nx):
            out[:, j, i] = img[:, j * by:(j + 1) * by, i * bx:(i + 1) * bx].sum(axis=(1, 2))
    return out


def resampled_ramp(width, height, new_width, new_height):
    """A linear ramp stays linear: sample the ramp on the new grid."""
    y, x = np.mgrid[0:new_height, 0:new_width]
    sx = x * width / new_width + 1.0
    sy = y * height / new_height + 1.0
    return (10.0 * sy + sx)[np.newaxis]


def canvas(img, width, height, anchor, fill):
    """Anchor 0 top left ... 4 centre ... 8 bottom right, as seen; `fill` a
    display value."""
    lo, hi = img.min(), img.max()
    pic = picture(img)
    out = np.full((img.shape[0], height, width), lo + fill / 255.0 * (hi - lo))
    left = (width - img.shape[2]) * (anchor % 3) // 2
    top = (height - img.shape[1]) * (anchor // 3) // 2
    for y in range(img.shape[1]):
        for x in range(img.shape[2]):
            if 0 <= y + top < height and 0 <= x + left < width:
                out[:, y + top, x + left] = pic[:, y, x]
    return from_picture(out)


def display(img, bright=0.0, contrast=128.0, pivot=128.0):
    lo, hi = img.min(), img.max()
    d = (img - lo) / (hi - lo) * 255.0
    d = (d - pivot) * contrast / 128.0 + pivot + bright
    return lo + d / 255.0 * (hi - lo)


def main():
    levels = np.array([[[0.0, 50.0, 100.0, 255.0]]])
    r32 = ramp(3, 2)
    cases = [
        (ramp(3, 4), "--flip v", flip(ramp(3, 4), True)),
        (ramp(3, 4), "--flip h", flip(ramp(3, 4), False)),
        (ramp(3, 4, 3), "--flip v", flip(ramp(3, 4, 3), True)),
        (ramp(5, 5), "--bin 2x2", binned(ramp(5, 5), 2, 2, False)),
        (ramp(5, 5), "--bin 2x2 --round-up", binned(ramp(5, 5), 2, 2, True)),
        (ramp(4, 4), "--bin 1x2", binned(ramp(4, 4), 1, 2, False)),
        (ramp(5, 5), "--bin 6x2 --round-up", binned(ramp(5, 5), 6, 2, True)),
        (ramp(4, 4), "--resample 8x8", resampled_ramp(4, 4, 8, 8)),
        (r32, "--canvas 5x4 --anchor 0", canvas(r32, 5, 4, 0, 0)),
        (r32, "--canvas 5x4 --anchor 8 --fill 255", canvas(r32, 5, 4, 8, 255)),
        (r32, "--canvas 1x2", canvas(r32, 1, 2, 4, 0)),
        (r32, "--flip h --canvas 4x2 --anchor 3", canvas(flip(r32, False), 4, 2, 3, 0)),
        (r32, "--canvas 4x2 --anchor 3 --flip h", flip(canvas(r32, 4, 2, 3, 0), False)),
        (levels, "--bright 10", display(levels, bright=10)),
        (levels, "--contrast 256 --pivot 100", display(levels, contrast=256, pivot=100)),
        (levels, "--contrast 256", display(levels, contrast=256)),
    ]

    def shape(img):
        return "%d %d %d" % (img.shape[2], img.shape[1], img.shape[0])

    def samples(img):
        return " ".join("%.17g" % v for v in img.ravel())

    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "transform.txt")
    with open(path, "w") as out:
        out.write("# Written by transform_reference.py: W H P | source | steps | W H P | result\n")
        for source, steps, result in cases:
            out.write(" | ".join([shape(source), samples(source), steps, shape(result), samples(result)]) + "\n")


if __name__ == "__main__":
    main()
