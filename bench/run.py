#!/usr/bin/env python3
"""Times vellico on the benchmark inputs and prints a table: the median of
several runs, peak memory, and the ratio to `cat IN > OUT` measured in the
same run (alternating with it, so both see the same machine state).

Usage: run.py BINARY DATA_FOLDER JPEG [RUNS]
(the `measure` launcher is expected beside BINARY in bench/)"""
import os, statistics, subprocess, sys

binary, folder, jpeg = os.path.abspath(sys.argv[1]), sys.argv[2], os.path.abspath(sys.argv[3])
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
work = os.path.abspath(os.path.join(folder, "out"))
os.makedirs(work, exist_ok=True)
here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
for mark in ("CropmarkHorizontal.jpg", "CropmarkVertical.jpg"):
    data = open(os.path.join(root, "data", mark), "rb").read()
    open(os.path.join(work, mark), "wb").write(data)


launcher = os.path.join(os.path.dirname(binary), "bench", "measure")


def measure(command):
    """Wall time in seconds and peak resident memory in MB of one command."""
    result = subprocess.run([launcher] + command, stdout=subprocess.PIPE, cwd=work)
    if result.returncode != 0:
        raise SystemExit("failed: %s" % " ".join(command))
    seconds, peak = result.stdout.split()
    return float(seconds), int(peak) / 1024.0


def have_fitz():
    return subprocess.run(["/usr/bin/python3", "-c", "import fitz"], stderr=subprocess.DEVNULL).returncode == 0


def jpeg_size(path):
    data = open(path, "rb").read()
    i = 2
    while i < len(data):
        marker = data[i + 1]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + int.from_bytes(data[i + 2:i + 4], "big")
    return 100, 100


inputs = ["text-2000", "text-2000-objstm", "text-20000", "images-100", "shared-resources-5000"]
fitz = have_fitz()
width, height = jpeg_size(jpeg)
rows = []
medians = {}
for name in inputs:
    source = os.path.abspath(os.path.join(folder, name + ".pdf"))
    output = os.path.join(work, name + "-stamped.pdf")
    ours, cats, peaks, others = [], [], [], []
    for _ in range(runs):
        elapsed, _ = measure(["sh", "-c", 'cat "$0" > "$1"', source, os.path.join(work, "cat.pdf")])
        cats.append(elapsed)
        elapsed, peak = measure([binary, "-i" + source, "-o" + output, "-j" + jpeg])
        ours.append(elapsed)
        peaks.append(peak)
    if fitz:
        for _ in range(max(1, runs // 2)):
            elapsed, _ = measure(["/usr/bin/python3", os.path.join(here, "stamp_with_fitz.py"), source,
                                  os.path.join(work, "fitz.pdf"), jpeg, str(width), str(height)])
            others.append(elapsed)
    size = os.path.getsize(source) / 1048576.0
    medians[name] = statistics.median(ours)
    rows.append((name, size, statistics.median(ours), statistics.median(cats), max(peaks),
                 statistics.median(others) if others else None))

print()
print("%-24s %8s %10s %9s %8s %9s %12s %10s" % ("input", "MB", "vellico s", "cat s", "x cat", "peak MB",
                                              "mupdf-py s", "x mupdf-py"))
for name, size, ours, cat, peak, other in rows:
    print("%-24s %8.1f %10.3f %9.3f %8.2f %9.1f %12s %10s" % (
        name, size, ours, cat, ours / cat, peak, "%.3f" % other if other else "-",
        "%.3f" % (ours / other) if other else "-"))
print()
print("text-20000 / text-2000: %.1fx" % (medians["text-20000"] / medians["text-2000"]))
# A marks run against plain runs measured alternately with it, like cat above.
source = os.path.abspath(os.path.join(folder, "text-2000.pdf"))
plains, marks = [], []
for _ in range(runs):
    plains.append(measure([binary, "-i" + source, "-o" + os.path.join(work, "plain.pdf"), "-j" + jpeg])[0])
    marks.append(measure([binary, "-i" + source, "-o" + os.path.join(work, "marks.pdf"), "-j" + jpeg,
                          "-crop_marks"])[0])
plain, mark = statistics.median(plains), statistics.median(marks)
print("marks run on text-2000: %.3f s, %.1fx a plain run (%.3f s)" % (mark, mark / plain, plain))
