#!/usr/bin/env python3
"""Writes the bundled example: sample.pdf (four pages: US Letter, A4, A4 shown
rotated, and an A4 page with a bleed area for printer's marks) and logo.ppm,
which `cjpeg -quality 90 logo.ppm > logo.jpg` turns into the demo's JPEG.

Run it from this folder; the outputs are committed, so the demo needs nothing
but the program itself."""
import zlib

# ---------------------------------------------------------------- the logo
GLYPHS = {  # 5 x 7 bitmap letters
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
}

def logo(word="APPROVED", scale=5, pad=14):
    width = pad * 2 + len(word) * 6 * scale - scale
    height = pad * 2 + 7 * scale
    red, white = (200, 30, 40), (255, 255, 255)
    pixels = [[white] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            border = min(x, y, width - 1 - x, height - 1 - y)
            if 3 <= border < 7:
                pixels[y][x] = red
    for i, ch in enumerate(word):
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[pad + row * scale + dy][pad + (i * 6 + col) * scale + dx] = red
    with open("logo.ppm", "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height))
        out.write(bytes(c for row in pixels for p in row for c in p))

# ---------------------------------------------------------------- the PDF
def text_page(title, lines, width, height):
    ops = ["0.2 0.3 0.6 RG 2 w 40 40 %d %d re S" % (width - 80, height - 80)]
    ops.append("BT /F1 22 Tf 60 %d Td (%s) Tj ET" % (height - 90, title))
    y = height - 130
    for line in lines:
        ops.append("BT /F2 12 Tf 60 %d Td (%s) Tj ET" % (y, line))
        y -= 18
    return zlib.compress("\n".join(ops).encode())

BODY = [
    "This sample document comes with Vellico.",
    "Each page is laid out differently so that the stamp's placement",
    "can be seen: page sizes, an inherited media box, a rotated page",
    "and a page with a bleed area for printer's marks.",
]

def build():
    objects = {}
    objects[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objects[2] = b"<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 4 >>"
    objects[3] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
                  b" /Resources << /Font << /F1 10 0 R /F2 11 0 R >> >> >>")
    letter = text_page("Page 1: US Letter", BODY, 612, 792)
    objects[4] = b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(letter) + letter + b"\nendstream"
    # An intermediate node: its pages inherit the A4 media box and the resources.
    objects[6] = (b"<< /Type /Pages /Parent 2 0 R /Kids [7 0 R 8 0 R 9 0 R] /Count 3"
                  b" /MediaBox [0 0 595 842] /Resources 12 0 R >>")
    objects[7] = b"<< /Type /Page /Parent 6 0 R /Contents 13 0 R >>"
    objects[8] = b"<< /Type /Page /Parent 6 0 R /Rotate 90 /Contents 14 0 R >>"
    objects[9] = (b"<< /Type /Page /Parent 6 0 R /MediaBox [0 0 667 914] /CropBox [36 36 631 878]"
                  b" /TrimBox [36 36 631 878] /Contents 15 0 R >>")
    objects[10] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"
    objects[11] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
    objects[12] = b"<< /Font << /F1 10 0 R /F2 11 0 R >> >>"
    pages = [
        (13, text_page("Page 2: A4, media box inherited", BODY, 595, 842)),
        (14, text_page("Page 3: A4 shown rotated (/Rotate 90)", BODY, 595, 842)),
        (15, text_page("Page 4: A4 inside a bleed area", BODY, 631 + 36, 878 + 36)),
    ]
    for num, data in pages:
        objects[num] = b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data + b"\nendstream"
    objects[16] = b"<< /Title (Vellico sample) /Producer (make-sample.py) >>"

    out = b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"
    size = max(objects) + 1
    offsets = {}
    for num in sorted(objects):
        offsets[num] = len(out)
        out += b"%d 0 obj\n" % num + objects[num] + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for num in range(1, size):
        out += b"%010d 00000 n \n" % offsets[num] if num in offsets else b"0000000000 00000 f \n"
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info 16 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, xref)
    with open("sample.pdf", "wb") as f:
        f.write(out)

if __name__ == "__main__":
    logo()
    build()
