#!/usr/bin/env bash
# Builds a static HarfBuzz with its subsetter for MinGW-w64 into FOLDER
# (once), from Debian's own source package of the HarfBuzz the Linux build
# uses: Debian ships no MinGW build of it. No glib, FreeType, ICU or cairo:
# the font layer needs HarfBuzz's own OpenType code only.
#
# The sources are those the tarball's one-file builds name: libharfbuzz.a of
# src/harfbuzz.cc's, libharfbuzz-subset.a of the ones src/harfbuzz-subset.cc
# adds (that file holds all of HarfBuzz too, which would be linked twice).
#
# Usage: scripts/mingw-harfbuzz.sh FOLDER
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$dest/lib/pkgconfig/harfbuzz-subset.pc" ] && exit 0

source "$(dirname "$0")/debian-source.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fetch_debian_source harfbuzz 'harfbuzz_*.orig.tar.*' mingw-harfbuzz
tar xf harfbuzz_*.orig.tar.*
cd harfbuzz-*/src
[ -f harfbuzz.cc ] && [ -f harfbuzz-subset.cc ] || { echo "mingw-harfbuzz: no src/harfbuzz.cc and src/harfbuzz-subset.cc in HarfBuzz's source" >&2; exit 1; }

included() { grep -o '^#include "[^"]*"' "$1" | cut -d'"' -f2 | sort; }
included harfbuzz.cc > base.list
included harfbuzz-subset.cc | comm -13 base.list - > subset.list
# HarfBuzz's own flags; the Windows-only backends (GDI, Uniscribe, DirectWrite)
# compile to nothing without their HAVE_ macros. Big objects, as its build
# asks; its warnings are not ours to read.
compile() {
  mkdir -p "$work/$1"
  while read -r source; do echo "$source $work/$1/${source//\//-}.o"; done < "$1.list" |
    xargs -P"$(nproc)" -n2 sh -c 'x86_64-w64-mingw32-g++-posix -O2 -DNDEBUG -fno-exceptions -fno-rtti \
      -fno-threadsafe-statics -Wa,-mbig-obj -w -I. -c "$0" -o "$1"'
  x86_64-w64-mingw32-ar rcs "$dest/lib/lib$2.a" "$work/$1"/*.o
}
mkdir -p "$dest/lib/pkgconfig" "$dest/include/harfbuzz"
compile base harfbuzz
compile subset harfbuzz-subset

# The public headers, as its build installs them.
headers() { sed -n "/^$1 = files(/,/^)/p" meson.build | grep -o "'[^']*\.hh*'" | tr -d "'"; }
cp $(headers hb_base_headers) $(headers hb_subset_headers) hb-version.h "$dest/include/harfbuzz/"

version=$(sed -n 's/^#define HB_VERSION_STRING "\(.*\)"$/\1/p' hb-version.h)
pc() {
  printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\n\nName: %s\nDescription: %s\nVersion: %s\n%sLibs: -L${libdir} -l%s\nCflags: -I${includedir}/harfbuzz\n' \
    "$dest" "$1" "$2" "$version" "$3" "$1" > "$dest/lib/pkgconfig/$1.pc"
}
pc harfbuzz "HarfBuzz text shaping library" ""
# Written last: the mark that the build is complete.
pc harfbuzz-subset "HarfBuzz font subsetter" "Requires: harfbuzz = $version"$'\n'
echo "HarfBuzz for MinGW-w64 in $dest"
