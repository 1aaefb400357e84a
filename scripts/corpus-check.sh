#!/usr/bin/env bash
# Stamps every PDF of a folder and classifies each result:
#   STAMPED   the output passes `qpdf --check` and has the input's page count
#   REFUSED   exit status 1 with a message naming a real reason: an encrypted
#             input, a certified one whose certification forbids changing its
#             pages, a signed one whose damage rules out the update that
#             would keep its signatures, or one that qpdf cannot open either
#   DEFECT    a crash, a timeout, a failure without a message, a refusal of an
#             input qpdf opens (with or without warnings; other than an
#             encrypted one), an output qpdf --check does not pass cleanly
#             (unless the input's own content has the same errors), a
#             different page count, or an existing output file changed by a
#             failed run
# Exits 1 when there is any defect.
#
# Usage: scripts/corpus-check.sh [FOLDER] [PROGRAM]
#   FOLDER   default: ../shared/corpus beside the checkout
#   PROGRAM  default: build/vellico
# Environment: CORPUS_TIMEOUT (seconds per file, default 60), CORPUS_JPEG,
#   CORPUS_JOBS (files checked at once, default: the number of cores).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/../shared/corpus}
program=${2:-$root/build/vellico}
limit=${CORPUS_TIMEOUT:-60}
jpeg=${CORPUS_JPEG:-$root/examples/logo.jpg}
jobs=${CORPUS_JOBS:-$(nproc 2>/dev/null || echo 2)}

if [ ! -d "$folder" ]; then
  echo "corpus-check: no folder $folder" >&2
  exit 2
fi
for tool in qpdf timeout; do
  command -v "$tool" >/dev/null 2>&1 || { echo "corpus-check: $tool is needed" >&2; exit 2; }
done
# The program runs in a scratch folder: make every path absolute.
folder=$(cd "$folder" && pwd)
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
jpeg=$(cd "$(dirname "$jpeg")" && pwd)/$(basename "$jpeg")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

sentinel="$scratch/sentinel"
printf 'existing output, must survive a failed run' > "$sentinel"

# Classifies one input; prints its verdict line.
check_one() {
  local input=$1 name output log status message input_check input_opens
  local output_check inherited pages_in pages_out verdict reason
  name=$(basename "$input")
  local work
  work=$(mktemp -d "$scratch/file.XXXXXX")
  output="$work/out.pdf"
  cp "$sentinel" "$output"
  log=$(cd "$work" && timeout "$limit" "$program" "-i$input" "-o$output" "-j$jpeg" 2>&1)
  status=$?
  # The last line, without the progress text that shares it.
  message=$(printf '%s' "$log" | tr -d '\r' | grep -v '^Warning: ' | sed -e '/^$/d' | tail -n 1)
  message=${message#"Input file: '$input'"}
  message=$(printf '%s' "$message" | sed -e 's/^.*, output file: .*$//' -e 's/^Processing\.*//')
  qpdf --check "$input" >"$work/input-check" 2>&1
  input_check=$?   # 0 clean, 2 errors, 3 warnings (damaged but recoverable)
  # Whether qpdf opens it at all, damaged or not.
  qpdf --show-npages "$input" >/dev/null 2>&1
  case $? in 0|3) input_opens=1 ;; *) input_opens=0 ;; esac

  verdict="" reason=""
  if [ "$status" -eq 124 ]; then
    verdict=DEFECT reason="timeout after ${limit}s"
  elif [ "$status" -gt 1 ]; then
    verdict=DEFECT reason="exit status $status (crash?)"
  elif [ "$status" -eq 1 ]; then
    if ! cmp -s "$output" "$sentinel"; then
      verdict=DEFECT reason="failed run changed the existing output: $message"
    elif [ -z "$message" ] || printf '%s' "$message" | grep -q '^Processing'; then
      verdict=DEFECT reason="failed without a message"
    elif printf '%s' "$message" | grep -qiE 'encrypted|certification .* forbids changing the pages|signatures could not be kept'; then
      verdict=REFUSED reason="$message"
    elif [ "$input_opens" -eq 0 ]; then
      verdict=REFUSED reason="$message (qpdf cannot open it either)"
    else
      verdict=DEFECT reason="refused an input qpdf opens: $message"
    fi
  else
    qpdf --check "$output" >"$work/output-check" 2>&1
    output_check=$?
    # Problems of objects copied as they stand (their keys, tokens, content
    # and compressed data, the page tree's own oddities) are the input's:
    # qpdf reports them for both files, by the same object numbers. Stream
    # lengths and anything about the file's structure must come out clean.
    inherited=0
    if [ "$output_check" -ne 0 ] && [ "$input_check" -ne 0 ]; then
      # Pages and kids the input's tree names but does not hold stay named,
      # and the syntax inside objects copied as they stand is the input's own
      # (qpdf does not always reach it in a damaged input).
      normalize() { grep -aiE '^(WARNING|ERROR)' | grep -av '^WARNING: page object' |
        grep -avE 'operation for dictionary attempted on object of type null|/Type key should be /Page' |
        grep -avE 'duplicated key|unknown token|stream keyword|error decoding stream data|without filtering|name with stray' | sed -E -e 's/^(WARNING|ERROR): [^ ,(]*//' -e 's/object stream [0-9]+ //' -e 's/(at )?offset [0-9]+//g'; }
      normalize < "$work/input-check" > "$work/input-problems"
      normalize < "$work/output-check" > "$work/output-problems"
      inherited=1
      # An update keeps the input's bytes, and with them its damage to the
      # structure: that too is the input's when qpdf says the same of both.
      structure='expected endstream|loop detected resolving|xref|reconstruct'
      cmp -s -n "$(stat -c %s "$input")" "$input" "$output" && structure='x^'
      if grep -aqiE "$structure" "$work/output-problems" ||
         grep -avxF -f "$work/input-problems" "$work/output-problems" | grep -aq .; then
        inherited=0
      fi
    fi
    # An input qpdf cannot open at all, stamped into an output it opens: better than refusing.
    if [ "$output_check" -eq 3 ] && [ "$input_opens" -eq 0 ]; then
      inherited=1
    fi
    pages_in=$(qpdf --show-npages "$input" 2>/dev/null)
    pages_out=$(qpdf --show-npages "$output" 2>/dev/null)
    if cmp -s "$output" "$sentinel"; then
      verdict=DEFECT reason="success reported but nothing written"
    elif [ "$output_check" -ne 0 ] && [ "$inherited" -eq 0 ]; then
      verdict=DEFECT reason="output not clean (qpdf exit $output_check): $(grep -iE -m1 'warning|error' "$work/output-check")"
    elif [ -n "$pages_in" ] && [ "$pages_in" != "$pages_out" ]; then
      verdict=DEFECT reason="page count $pages_in became $pages_out"
    else
      verdict=STAMPED reason="$pages_out pages"
      [ "$output_check" -ne 0 ] && reason="$reason (qpdf exit $output_check, as for the input)"
    fi
  fi
  printf '%-8s %-70s %s\n' "$verdict" "$name" "$reason"
  rm -rf "$work"
}
export -f check_one
export program jpeg limit scratch sentinel

find -L "$folder" -maxdepth 1 -type f \( -name '*.pdf' -o -name '*.PDF' \) -print0 | sort -z |
  xargs -0 -n 1 -P "$jobs" bash -c 'check_one "$1"' _ > "$scratch/verdicts"
sort -k2 "$scratch/verdicts"
stamped=$(grep -c '^STAMPED' "$scratch/verdicts")
refused=$(grep -c '^REFUSED' "$scratch/verdicts")
defects=$(grep -c '^DEFECT' "$scratch/verdicts")
echo
echo "corpus-check: $stamped stamped, $refused refused with a reason, $defects defects"
[ "$defects" -eq 0 ]
