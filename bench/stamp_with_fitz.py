#!/usr/bin/python3
"""Reference stamper for the benchmark: the same stamp (image at 20,10 from the
bottom left, its pixel size in points) on every page, with mupdf's Python
bindings, through the direct insertion call (the public one looks up every
name in use on the page first, which makes it quadratic on shared resources).
Usage: stamp_with_fitz.py IN.pdf OUT.pdf IMAGE.jpg WIDTH HEIGHT"""
import sys
import fitz

source, target, image, width, height = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5])
data = open(image, "rb").read()
document = fitz.open(source)
xref, digests = 0, None
for page in document:
    box = page.rect
    clip = fitz.Rect(20, box.height - 10 - height, 20 + width, box.height - 10) * ~page.transformation_matrix
    xref, digests = page._insert_image(stream=data if xref == 0 else None, xref=xref, clip=clip, overlay=1,
                                       oc=0, rotate=0, keep_proportion=1, width=0, height=0, alpha=-1,
                                       _imgname="VellicoBench", digests=digests)
document.save(target, garbage=0, deflate=False)
