#!/usr/bin/env bash
# Builds a static GNU libidn for MinGW-w64 into FOLDER (once), from Debian's
# own source package of the libidn the Linux build uses: Debian ships no
# MinGW build of it. Only the library is built (no tools, no translations).
#
# Usage: scripts/mingw-idn.sh FOLDER
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$dest/lib/libidn.a" ] && exit 0

source "$(dirname "$0")/debian-source.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fetch_debian_source libidn 'libidn_*.orig.tar.gz' mingw-idn
tar xzf libidn_*.orig.tar.gz
cd libidn-*/
./configure --host=x86_64-w64-mingw32 --prefix="$dest" --disable-shared --enable-static \
  --disable-nls --disable-doc --disable-valgrind-tests --disable-java --disable-csharp >/dev/null
# The library's own gnulib part first: its headers are made from it.
make -C lib/gl -j"$(nproc)" >/dev/null
make -C lib -j"$(nproc)" >/dev/null
make -C lib install >/dev/null
echo "libidn for MinGW-w64 in $dest"
