#!/usr/bin/env bash
# Runs two builds of the program side by side on every PDF of one or more
# folders, with the clock frozen (faketime) so that both draw the same
# resource names, and compares what they write: the output's bytes (AES
# outputs, whose initialisation vectors are random, once decrypted), the
# exit status and the console text. Lists every file where they differ.
#
# Usage: scripts/compare-builds.sh OLD_PROGRAM NEW_PROGRAM [--options "-crop_marks ..."] FOLDER...
# Environment: COMPARE_TIMEOUT (seconds per run, default 60), COMPARE_JPEG.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
absolute() { (cd "$(dirname "$1")" && printf '%s/%s' "$(pwd)" "$(basename "$1")"); }
old=$(absolute "$1") new=$(absolute "$2")
shift 2
options=""
if [ "${1:-}" = "--options" ]; then
  options=$2
  shift 2
fi
limit=${COMPARE_TIMEOUT:-60}
jpeg=$(absolute "${COMPARE_JPEG:-$root/examples/logo.jpg}")
command -v faketime >/dev/null 2>&1 || { echo "compare-builds: faketime is needed (Debian: faketime)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for side in old new; do
  mkdir -p "$work/$side"
  cp "$root/data/CropmarkHorizontal.jpg" "$root/data/CropmarkVertical.jpg" "$work/$side/"
done

same=0 different=0
shopt -s nullglob
for folder in "$@"; do
  folder=$(cd "$folder" && pwd)
  for input in "$folder"/*.pdf "$folder"/*.PDF; do
    for side in old new; do
      program=$old
      [ $side = new ] && program=$new
      rm -f "$work/$side/out.pdf"
      # shellcheck disable=SC2086
      (cd "$work/$side" && faketime -f "2026-01-01 00:00:00" \
        timeout "$limit" "$program" "-i$input" "-oout.pdf" "-j$jpeg" $options \
        > "$work/$side/console.txt" 2>&1; echo $? > "$work/$side/status.txt")
    done
    why=""
    cmp -s "$work/old/status.txt" "$work/new/status.txt" || why="exit status $(cat "$work/old/status.txt") -> $(cat "$work/new/status.txt")"
    if [ -z "$why" ] && ! cmp -s "$work/old/console.txt" "$work/new/console.txt"; then
      why="console: $(tr -d '\r' < "$work/new/console.txt" | tail -c 160 | tr '\n' ' ')"
    fi
    if [ -z "$why" ] && [ -f "$work/old/out.pdf" ] && ! cmp -s "$work/old/out.pdf" "$work/new/out.pdf"; then
      why="output bytes differ"
      # AES output differs from run to run (random initialisation vectors):
      # such outputs count as the same when their decrypted objects are.
      if command -v qpdf >/dev/null 2>&1 && qpdf --show-encryption "$work/new/out.pdf" 2>/dev/null | grep -q AES; then
        qpdf --decrypt --static-id "$work/old/out.pdf" "$work/old/clear.pdf" >/dev/null 2>&1
        qpdf --decrypt --static-id "$work/new/out.pdf" "$work/new/clear.pdf" >/dev/null 2>&1
        if [ -s "$work/old/clear.pdf" ] && cmp -s "$work/old/clear.pdf" "$work/new/clear.pdf"; then
          why=""
        fi
        rm -f "$work/old/clear.pdf" "$work/new/clear.pdf"
      fi
    fi
    if [ -z "$why" ]; then
      same=$((same + 1))
    else
      different=$((different + 1))
      printf '%-70s %s\n' "$(basename "$input")" "$why"
    fi
  done
done
echo "compare-builds: $same the same, $different different${options:+ (options: $options)}"
[ "$different" -eq 0 ]
