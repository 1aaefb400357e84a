#!/usr/bin/env bash
# Builds a static GNU libidn for MinGW-w64 into FOLDER (once), from Debian's
# own source package of the libidn the Linux build uses: Debian ships no
# MinGW build of it. Only the library is built (no tools, no translations).
#
# Usage: scripts/mingw-idn.sh FOLDER
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$dest/lib/libidn.a" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Only the upstream tarball is needed; Debian's own part of the source package may be missing from a mirror.
fetch() { apt-get source --download-only libidn >/dev/null 2>&1 || true; ls libidn_*.orig.tar.gz >/dev/null 2>&1; }
if ! fetch; then
  # The source needs a deb-src entry; add Debian's own when allowed to and none is there.
  if [ "$(id -u)" = 0 ] && [ -f /etc/os-release ]; then
    if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      . /etc/os-release
      printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$VERSION_CODENAME" > /etc/apt/sources.list.d/vellico-idn-src.sources
    fi
    apt-get update -q >/dev/null
    fetch || { echo "mingw-idn: cannot fetch libidn's source" >&2; exit 1; }
  else
    echo "mingw-idn: cannot fetch libidn's source (needs a deb-src entry, or root to add one)" >&2
    exit 1
  fi
fi
tar xzf libidn_*.orig.tar.gz
cd libidn-*/
./configure --host=x86_64-w64-mingw32 --prefix="$dest" --disable-shared --enable-static \
  --disable-nls --disable-doc --disable-valgrind-tests --disable-java --disable-csharp >/dev/null
# The library's own gnulib part first: its headers are made from it.
make -C lib/gl -j"$(nproc)" >/dev/null
make -C lib -j"$(nproc)" >/dev/null
make -C lib install >/dev/null
echo "libidn for MinGW-w64 in $dest"
