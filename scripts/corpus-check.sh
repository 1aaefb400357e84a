#!/usr/bin/env bash
# Stamps every PDF of a folder and classifies each result:
#   STAMPED   the output passes `qpdf --check` and has the input's page count
#   REFUSED   exit status 1 with a message naming a real reason: an encrypted
#             input, or one that qpdf itself finds damaged
#   DEFECT    a crash, a timeout, a failure without a message, a refusal of an
#             input qpdf accepts (other than an encrypted one), an invalid output
#             from an input that passes `qpdf --check`, a different page count,
#             or an existing output file changed by a failed run
# Exits 1 when there is any defect.
#
# Usage: scripts/corpus-check.sh [FOLDER] [PROGRAM]
#   FOLDER   default: ../shared/corpus beside the checkout
#   PROGRAM  default: build/vellico
# Environment: CORPUS_TIMEOUT (seconds per file, default 60), CORPUS_JPEG.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/../shared/corpus}
program=${2:-$root/build/vellico}
limit=${CORPUS_TIMEOUT:-60}
jpeg=${CORPUS_JPEG:-$root/examples/logo.jpg}

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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

stamped=0 refused=0 defects=0
sentinel="$work/sentinel"
printf 'existing output, must survive a failed run' > "$sentinel"
shopt -s nullglob
for input in "$folder"/*.pdf "$folder"/*.PDF; do
  name=$(basename "$input")
  output="$work/out.pdf"
  cp "$sentinel" "$output"
  log=$(cd "$work" && timeout "$limit" "$program" "-i$input" "-o$output" "-j$jpeg" 2>&1)
  status=$?
  # The last line, without the progress text that shares it.
  message=$(printf '%s' "$log" | tr -d '\r' | sed -e '/^$/d' | tail -n 1)
  message=${message#"Input file: '$input'"}
  qpdf --check "$input" >/dev/null 2>&1
  input_check=$?   # 0 clean, 2 errors, 3 warnings (damaged but recoverable)

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
    elif printf '%s' "$message" | grep -qi 'encrypted'; then
      verdict=REFUSED reason="$message"
    elif [ "$input_check" -ne 0 ]; then
      verdict=REFUSED reason="$message (qpdf: damaged)"
    else
      verdict=DEFECT reason="refused an input qpdf accepts: $message"
    fi
  else
    qpdf --check "$output" >/dev/null 2>&1
    output_check=$?
    pages_in=$(qpdf --show-npages "$input" 2>/dev/null)
    pages_out=$(qpdf --show-npages "$output" 2>/dev/null)
    if cmp -s "$output" "$sentinel"; then
      verdict=DEFECT reason="success reported but nothing written"
    elif [ "$output_check" -ne 0 ] && [ "$input_check" -eq 0 ]; then
      verdict=DEFECT reason="invalid output from a valid input (qpdf exit $output_check)"
    elif [ -n "$pages_in" ] && [ "$pages_in" != "$pages_out" ]; then
      verdict=DEFECT reason="page count $pages_in became $pages_out"
    else
      verdict=STAMPED reason="$pages_out pages"
      [ "$output_check" -ne 0 ] && reason="$reason (qpdf exit $output_check, as for the input)"
    fi
  fi
  case $verdict in
    STAMPED) stamped=$((stamped + 1)) ;;
    REFUSED) refused=$((refused + 1)) ;;
    DEFECT) defects=$((defects + 1)) ;;
  esac
  printf '%-8s %-70s %s\n' "$verdict" "$name" "$reason"
done

echo
echo "corpus-check: $stamped stamped, $refused refused with a reason, $defects defects"
[ "$defects" -eq 0 ]
