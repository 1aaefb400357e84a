#!/usr/bin/env bash
# Builds a static Nettle for MinGW-w64 into FOLDER (once), from Debian's own
# source package of the Nettle the Linux build uses: Debian ships no MinGW
# build of it. Only the symmetric part is built (no public-key code, no GMP).
#
# Usage: scripts/mingw-nettle.sh FOLDER
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$dest/lib/libnettle.a" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get source --download-only nettle >/dev/null 2>&1; then
  # The source needs a deb-src entry; add Debian's own when allowed to.
  if [ "$(id -u)" = 0 ] && [ -f /etc/os-release ]; then
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$VERSION_CODENAME" > /etc/apt/sources.list.d/vellico-nettle-src.sources
    apt-get update -q >/dev/null
    apt-get source --download-only nettle >/dev/null
  else
    echo "mingw-nettle: cannot fetch Nettle's source (needs a deb-src entry, or root to add one)" >&2
    exit 1
  fi
fi
tar xzf nettle_*.orig.tar.gz
cd nettle-*/
./configure --host=x86_64-w64-mingw32 --prefix="$dest" --disable-shared --enable-static \
  --disable-public-key --disable-documentation --disable-assembler >/dev/null
make -j"$(nproc)" >/dev/null
make install >/dev/null
echo "Nettle for MinGW-w64 in $dest"
