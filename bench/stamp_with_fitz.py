#!/usr/bin/python3
"""Reference stamper for the benchmark: the same stamp (image at 20,10 from the
bottom left, its pixel size in points) on every page, with mupdf's Python
bindings. Usage: stamp_with_fitz.py IN.pdf OUT.pdf IMAGE.jpg WIDTH HEIGHT"""
import sys
import fitz

source, target, image, width, height = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5])
data = open(image, "rb").read()
document = fitz.open(source)
xref = 0
for page in document:
    box = page.rect
    area = fitz.Rect(20, box.height - 10 - height, 20 + width, box.height - 10)
    xref = page.insert_image(area, stream=data if xref == 0 else None, xref=xref)
document.save(target, garbage=0, deflate=False)
