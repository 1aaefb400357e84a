#!/usr/bin/env python3
"""Times vellico on the benchmark inputs and prints a table: the median of
several runs, peak memory, and the ratios to `cp IN OUT` and to `cat IN > OUT`
measured in the same run (alternating with them, so all see the same machine
state). Each writes a new output; both copy the file inside the system where
it can, which is the floor for a program that writes every byte again.

With --baseline OTHER_BINARY, every input is also stamped by that build,
alternating with this one run by run, and the table gives the ratio of the
two medians: how much slower (above 1) or faster this build is.

The runs write a new output. A second table gives the cost of replacing an
existing output instead, which makes the new file durable (flushed to the
disk) before the old one goes: its time and the ratio to a new output.

Last, the batch row: a list of 2,000 small files stamped in one run, as
list mode always did (in the run's own process), with --jobs 1 (one worker
process) and with --jobs 0 (one per core), alternately: files per second.

Usage: run.py BINARY DATA_FOLDER JPEG [RUNS] [--baseline OTHER_BINARY]
(the `measure` launcher is expected beside BINARY in bench/)"""
import os, shutil, statistics, subprocess, sys

arguments = sys.argv[1:]
baseline = None
if "--baseline" in arguments:
    at = arguments.index("--baseline")
    baseline = os.path.abspath(arguments[at + 1])
    del arguments[at:at + 2]
binary, folder, jpeg = os.path.abspath(arguments[0]), arguments[1], os.path.abspath(arguments[2])
runs = int(arguments[3]) if len(arguments) > 3 else 5
work = os.path.abspath(os.path.join(folder, "out"))
os.makedirs(work, exist_ok=True)
here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
for mark in ("CropmarkHorizontal.jpg", "CropmarkVertical.jpg"):
    data = open(os.path.join(root, "data", mark), "rb").read()
    open(os.path.join(work, mark), "wb").write(data)


launcher = os.path.join(os.path.dirname(binary), "bench", "measure")


def measure(command, cwd=None):
    """Wall time in seconds and peak resident memory in MB of one command."""
    result = subprocess.run([launcher] + command, stdout=subprocess.PIPE, cwd=cwd or work)
    if result.returncode != 0:
        raise SystemExit("failed: %s" % " ".join(command))
    seconds, peak = result.stdout.split()
    return float(seconds), int(peak) / 1024.0


def stamp(program, source, output, *options):
    """Stamps into a new output (the old one removed first)."""
    if os.path.exists(output):
        os.remove(output)
    return measure([program, "-i" + source, "-o" + output, "-j" + jpeg] + list(options))


def stamp_over(program, source, output, *options):
    """Stamps over an existing output (written first when missing)."""
    if not os.path.exists(output):
        open(output, "wb").write(b"%PDF-1.4\n")
    return measure([program, "-i" + source, "-o" + output, "-j" + jpeg] + list(options))


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
fitz = have_fitz() and baseline is None
width, height = jpeg_size(jpeg)
rows = []
replacements = []
medians = {}
for name in inputs:
    source = os.path.abspath(os.path.join(folder, name + ".pdf"))
    output = os.path.join(work, name + "-stamped.pdf")
    ours, cats, copies, peaks, others, theirs = [], [], [], [], [], []
    replaced, their_replaced = [], []
    for _ in range(runs):
        catted = os.path.join(work, "cat.pdf")
        if os.path.exists(catted):
            os.remove(catted)  # a new output, as for the others
        elapsed, _ = measure(["sh", "-c", 'cat "$0" > "$1"', source, catted])
        cats.append(elapsed)
        copy = os.path.join(work, "cp.pdf")
        if os.path.exists(copy):
            os.remove(copy)
        copies.append(measure(["cp", source, copy])[0])
        elapsed, peak = stamp(binary, source, output)
        ours.append(elapsed)
        peaks.append(peak)
        replaced.append(stamp_over(binary, source, output)[0])
        if baseline:
            theirs.append(stamp(baseline, source, os.path.join(work, name + "-baseline.pdf"))[0])
            their_replaced.append(stamp_over(baseline, source, os.path.join(work, name + "-baseline.pdf"))[0])
    if fitz:
        for _ in range(max(1, runs // 2)):
            elapsed, _ = measure(["/usr/bin/python3", os.path.join(here, "stamp_with_fitz.py"), source,
                                  os.path.join(work, "fitz.pdf"), jpeg, str(width), str(height)])
            others.append(elapsed)
    size = os.path.getsize(source) / 1048576.0
    medians[name] = statistics.median(ours)
    replacements.append((name, statistics.median(replaced), statistics.median(ours),
                         statistics.median(their_replaced) if their_replaced else None))
    rows.append((name, size, statistics.median(ours), statistics.median(copies), statistics.median(cats), max(peaks),
                 statistics.median(others) if others else None,
                 statistics.median(theirs) if theirs else None))

print()
if baseline:
    print("%-24s %7s %10s %7s %7s %7s %7s %8s %11s %11s" % ("input", "MB", "vellico s", "cp s", "x cp", "cat s",
                                                         "x cat", "peak MB", "baseline s", "x baseline"))
    for name, size, ours, cp, cat, peak, other, their in rows:
        print("%-24s %7.1f %10.3f %7.3f %7.2f %7.3f %7.2f %8.1f %11.3f %11.3f" % (
            name, size, ours, cp, ours / cp, cat, ours / cat, peak, their, ours / their))
else:
    print("%-24s %7s %10s %7s %7s %7s %7s %8s %11s %10s" % ("input", "MB", "vellico s", "cp s", "x cp", "cat s",
                                                         "x cat", "peak MB", "mupdf-py s", "x mupdf-py"))
    for name, size, ours, cp, cat, peak, other, their in rows:
        print("%-24s %7.1f %10.3f %7.3f %7.2f %7.3f %7.2f %8.1f %11s %10s" % (
            name, size, ours, cp, ours / cp, cat, ours / cat, peak, "%.3f" % other if other else "-",
            "%.3f" % (ours / other) if other else "-"))
print()
print("Replacing an existing output (flushed before the rename):")
if baseline:
    print("%-24s %10s %10s %8s %12s %12s" % ("input", "replace s", "new s", "x new", "baseline s", "x baseline"))
    for name, replace, new, their in replacements:
        print("%-24s %10.3f %10.3f %8.2f %12.3f %12.3f" % (name, replace, new, replace / new, their,
                                                         replace / their))
else:
    print("%-24s %10s %10s %8s" % ("input", "replace s", "new s", "x new"))
    for name, replace, new, _ in replacements:
        print("%-24s %10.3f %10.3f %8.2f" % (name, replace, new, replace / new))
print()
print("text-20000 / text-2000: %.1fx" % (medians["text-20000"] / medians["text-2000"]))

source = os.path.abspath(os.path.join(folder, "text-2000.pdf"))
# A marks run against plain runs measured alternately with it, like cat above.
plains, marks, baseline_marks = [], [], []
for _ in range(runs):
    plains.append(stamp(binary, source, os.path.join(work, "plain.pdf"))[0])
    marks.append(stamp(binary, source, os.path.join(work, "marks.pdf"), "-crop_marks")[0])
    if baseline:
        baseline_marks.append(stamp(baseline, source, os.path.join(work, "marks-baseline.pdf"), "-crop_marks")[0])
plain, mark = statistics.median(plains), statistics.median(marks)
print("marks run on text-2000: %.3f s, %.1fx a plain run (%.3f s)" % (mark, mark / plain, plain))

# PNG stamps of the JPEG's pixel size (make_inputs writes them), alternating
# with the JPEG run by run: an opaque one keeps its image data, one with
# alpha is decoded and written as an image and a soft mask.
pngs = [("opaque PNG", "logo-opaque.png"), ("PNG with alpha", "logo-alpha.png")]
times = {"JPEG": []}
for _ in range(runs):
    times["JPEG"].append(stamp(binary, source, os.path.join(work, "jpeg.pdf"))[0])
    for label, name in pngs:
        image = os.path.abspath(os.path.join(folder, name))
        if os.path.exists(os.path.join(work, "png.pdf")):
            os.remove(os.path.join(work, "png.pdf"))
        elapsed, _ = measure([binary, "-i" + source, "-o" + os.path.join(work, "png.pdf"), "-j" + image])
        times.setdefault(label, []).append(elapsed)
jpeg_time = statistics.median(times["JPEG"])
for label, _ in pngs:
    png_time = statistics.median(times[label])
    print("%s stamp on text-2000: %.3f s, %.2fx the JPEG stamp (%.3f s)" % (label, png_time, png_time / jpeg_time,
                                                                         jpeg_time))
if baseline:
    print("marks run on text-2000, baseline: %.3f s; this build %.3fx the baseline" % (
        statistics.median(baseline_marks), mark / statistics.median(baseline_marks)))

# Incremental updates against `cp` of the same file, alternately, into new
# outputs: the output holds the input, so copying it is the floor. An
# approval stamp on the first page of a long file, and a stamp on every page.
source = os.path.abspath(os.path.join(folder, "text-20000.pdf"))
print()
if baseline:
    print("%-30s %10s %7s %7s %11s %11s" % ("update of text-20000", "vellico s", "cp s", "x cp", "baseline s",
                                           "x baseline"))
else:
    print("%-30s %10s %7s %7s" % ("update of text-20000", "vellico s", "cp s", "x cp"))
for label, options in (("--incremental -s1 -e1", ["--incremental", "-s1", "-e1"]),
                       ("--incremental, every page", ["--incremental"])):
    ours, copies, theirs = [], [], []
    for _ in range(runs):
        # Each starts with nothing left to write back or free: whichever ran
        # after the 68 MB copy paid for flushing it.
        copy, update, theirs_update = (os.path.join(work, name)
                                       for name in ("copy.pdf", "update.pdf", "update-baseline.pdf"))
        for path in (copy, update, theirs_update):
            if os.path.exists(path):
                os.remove(path)
        os.sync()
        copies.append(measure(["cp", source, copy])[0])
        os.sync()
        ours.append(stamp(binary, source, update, *options)[0])
        if baseline:
            os.sync()
            theirs.append(stamp(baseline, source, theirs_update, *options)[0])
    mine, floor = statistics.median(ours), statistics.median(copies)
    if baseline:
        their = statistics.median(theirs)
        print("%-30s %10.3f %7.3f %7.2f %11.3f %11.3f" % (label, mine, floor, mine / floor, their, mine / their))
    else:
        print("%-30s %10.3f %7.3f %7.2f" % (label, mine, floor, mine / floor))

# The batch row: one list of small files, here and in workers.
batch_list = os.path.abspath(os.path.join(folder, "batch-list.txt"))
if os.path.exists(batch_list):
    files = sum(1 for _ in open(batch_list))
    batch_out = os.path.join(work, "batch-out")
    modes = [("list, here", []), ("--jobs 1", ["--jobs", "1"]), ("--jobs 0", ["--jobs", "0"])]
    times = {name: [] for name, _ in modes}
    for _ in range(runs):
        for name, options in modes:
            shutil.rmtree(batch_out, ignore_errors=True)
            times[name].append(measure([binary, "-i" + batch_list, "-f" + batch_out, "-j" + jpeg] + options,
                                       cwd=os.path.dirname(batch_list))[0])
    rate = {name: files / statistics.median(times[name]) for name, _ in modes}
    print()
    print("batch of %d small files (%d cores):" % (files, os.cpu_count()))
    for name, _ in modes:
        print("  %-12s %8.1f files/s (median %.3f s)" % (name, rate[name], statistics.median(times[name])))
    print("  --jobs 1 / list here: %.2fx;  --jobs 0 / --jobs 1: %.2fx" % (
        rate["--jobs 1"] / rate["list, here"], rate["--jobs 0"] / rate["--jobs 1"]))
