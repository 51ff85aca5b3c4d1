#!/usr/bin/python3
"""Reference values of stored samples for the image record tests.

Each case is a sample format (bits per sample as the image record takes
them: 8, 16, 32, -32, -64), whether 16- and 32-bit samples are signed, the
scale and zero point, and the sample's bytes (little-endian); numpy decodes
the bytes and applies value * bscale + bzero in float64. 8-bit samples are
unsigned whatever the flag; a format the record does not know reads as 0.
Writes image_decode.txt: one line per case, "bits, signed, bscale, bzero,
the bytes, the value".

Run: /usr/bin/python3 tests/reference/image_reference.py
"""
import os

import numpy as np

DTYPES = {(8, 0): "<u1", (8, 1): "<u1", (16, 0): "<u2", (16, 1): "<i2", (32, 0): "<u4", (32, 1): "<i4",
          (-32, 0): "<f4", (-64, 0): "<f8"}

CASES = [
    (16, 1, 2.0, 10.0, b"\xff\xff"),
    (16, 0, 2.0, 10.0, b"\xff\xff"),
    (32, 0, 1.0, 0.0, b"\xff\xff\xff\xff"),
    (32, 1, 1.0, 0.0, b"\xff\xff\xff\xff"),
    (8, 0, 0.5, 1.0, bytes([200])),
    (8, 1, 1.0, 0.0, bytes([200])),
    (-32, 0, 3.0, -1.0, np.float32(-0.1).tobytes()),
    (-64, 0, 1.0, 0.25, np.float64(1.0 / 3.0).tobytes()),
    (24, 0, 3.0, 4.0, b"\x09\x00\x00"),  # no such format
]


def main():
    lines = ["# bits signed bscale bzero bytes... value (see image_reference.py)"]
    for bits, signed, bscale, bzero, raw in CASES:
        dtype = DTYPES.get((bits, signed))
        value = 0.0 if dtype is None else float(np.frombuffer(raw, dtype=dtype)[0]) * bscale + bzero
        lines.append(" ".join([str(bits), str(signed), repr(bscale), repr(bzero)] + [str(b) for b in raw] + [repr(value)]))
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "image_decode.txt")
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
