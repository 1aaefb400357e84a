#!/usr/bin/env python3
"""Makes the JPEG fixtures of the end-to-end tests (needs cjpeg).

stamp.jpg: 96 x 48, left half pure red, right half pure blue. The two
colours tell which way up the stamp was drawn; the split sits on a 16-pixel
block boundary and chroma is not subsampled, so both halves stay flat.
black.jpg: 16 x 16 pure black, drawn scaled with -size where a large,
unmistakable stamp is wanted.
"""
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def write_jpeg(name, width, height, pixel):
    pixels = b"".join(bytes(pixel(x, y)) for y in range(height) for x in range(width))
    ppm = b"P6\n%d %d\n255\n" % (width, height) + pixels
    with open(os.path.join(HERE, name), "wb") as out:
        subprocess.run(["cjpeg", "-quality", "95", "-sample", "1x1", "-optimize"], input=ppm, stdout=out, check=True)


write_jpeg("stamp.jpg", 96, 48, lambda x, y: (255, 0, 0) if x < 48 else (0, 0, 255))
write_jpeg("black.jpg", 16, 16, lambda x, y: (0, 0, 0))
