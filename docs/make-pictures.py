#!/usr/bin/env python3
"""Renders the demo's input and outputs (run `make demo` first) with pdftoppm
and writes the README's pictures: all four pages side by side, before and
after stamping, and with crop marks."""
import os, struct, subprocess, tempfile, zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

def render(pdf, dpi=36):
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["pdftoppm", "-r", str(dpi), pdf, os.path.join(tmp, "p")], check=True)
        pages = []
        for name in sorted(os.listdir(tmp)):
            data = open(os.path.join(tmp, name), "rb").read()
            parts = data.split(b"\n", 3)  # P6, "w h", 255, pixels
            w, h = map(int, parts[1].split())
            pages.append((w, h, parts[3]))
        return pages

def side_by_side(pages, gap=12):
    height = max(h for _, h, _ in pages)
    width = sum(w for w, _, _ in pages) + gap * (len(pages) + 1)
    rows = []
    for y in range(height):
        row = bytearray(b"\xe8" * 3 * gap)
        for w, h, px in pages:
            row += px[y * w * 3:(y + 1) * w * 3] if y < h else b"\xe8" * 3 * w
            row += b"\xe8" * 3 * gap
        rows.append(bytes(row))
    return width, height, rows

def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + r for r in rows)
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)

for source, picture in [("examples/sample.pdf", "docs/sample-before.png"),
                        ("build/demo/sample-stamped.pdf", "docs/sample-stamped.png"),
                        ("build/demo/sample-crop-marks.pdf", "docs/sample-crop-marks.png")]:
    write_png(os.path.join(ROOT, picture), *side_by_side(render(os.path.join(ROOT, source))))
    print("wrote", picture)
