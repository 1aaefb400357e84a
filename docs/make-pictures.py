#!/usr/bin/env python3
"""Renders the demo's input and outputs (run `make demo` first) with pdftoppm
and writes the README's pictures: all four pages side by side, before and
after stamping, and with crop marks; and a vector logo (a page of a PDF)
beside the same logo as a JPEG, both stamped, at high zoom."""
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


def pdf(objects):
    """A PDF of `objects` (their texts, numbered from 1; the first the catalog)."""
    out, offsets = b"%PDF-1.7\n", []
    for num, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (num, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    return out + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)

def page_pdf(width, height, content, resources=b"<< >>"):
    return pdf([b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Resources %s /Contents 4 0 R >>"
                % (width, height, resources),
                b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content)])

# A 120 x 60 point logo: a ring drawn with curves and a word in Helvetica.
RING = b"".join(b"%s %.2f %.2f m %.2f %.2f %.2f %.2f %.2f %.2f c %.2f %.2f %.2f %.2f %.2f %.2f c "
                b"%.2f %.2f %.2f %.2f %.2f %.2f c %.2f %.2f %.2f %.2f %.2f %.2f c S " % (
                    b"", 30 + r, 30, 30 + r, 30 + k * r, 30 + k * r, 30 + r, 30, 30 + r, 30 - k * r, 30 + r,
                    30 - r, 30 + k * r, 30 - r, 30, 30 - r, 30 - k * r, 30 - k * r, 30 - r, 30, 30 - r, 30 + k * r,
                    30 - r, 30 + r, 30 - k * r, 30 + r, 30) for r, k in [(24, 0.5523)])
LOGO = page_pdf(120, 60, b"0.1 0.3 0.6 RG 4 w " + RING + b"0.1 0.3 0.6 rg BT /F1 16 Tf 58 24 Td (Vell) Tj ET",
                b"<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>")
with tempfile.TemporaryDirectory() as tmp:
    logo, jpeg, blank, out = (os.path.join(tmp, name) for name in ("logo.pdf", "logo", "blank.pdf", "out.pdf"))
    open(logo, "wb").write(LOGO)
    open(blank, "wb").write(page_pdf(280, 80, b""))
    # The same logo as a JPEG of 150 dots an inch, as a logo file usually is.
    subprocess.run(["pdftoppm", "-r", "150", "-jpeg", "-singlefile", logo, jpeg], check=True)
    program = os.path.join(ROOT, "build", "vellico")
    subprocess.run([program, "-i" + blank, "-o" + out + ".1", "-j" + logo, "-pos10,10"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([program, "-i" + out + ".1", "-o" + out, "-j" + jpeg + ".jpg", "-pos150,10", "-size120,60",
                    "--id", "jpeg"], check=True, stdout=subprocess.DEVNULL)
    # Zoomed into the word of each: 1,200 dots an inch.
    pages = []
    for left in (10, 150):
        with tempfile.TemporaryDirectory() as crop:
            subprocess.run(["pdftoppm", "-r", "1200", "-x", str((left + 52) * 1200 // 72), "-y", str(22 * 1200 // 72),
                            "-W", "700", "-H", "500", out, os.path.join(crop, "p")], check=True)
            data = open(os.path.join(crop, os.listdir(crop)[0]), "rb").read()
            parts = data.split(b"\n", 3)
            w, h = map(int, parts[1].split())
            pages.append((w, h, parts[3]))
    write_png(os.path.join(ROOT, "docs/sample-vector-vs-jpeg.png"), *side_by_side(pages))
    print("wrote docs/sample-vector-vs-jpeg.png")
