#!/usr/bin/env bash
# Builds a static libpng for MinGW-w64 into FOLDER (once), from Debian's own
# source package of the libpng the Linux build uses: Debian ships no MinGW
# build of it. It links against Debian's MinGW zlib (libz-mingw-w64-dev).
#
# Usage: scripts/mingw-libpng.sh FOLDER
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$dest/lib/libpng16.a" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get source --download-only libpng1.6 >/dev/null 2>&1; then
  # The source needs a deb-src entry; add Debian's own when allowed to.
  if [ "$(id -u)" = 0 ] && [ -f /etc/os-release ]; then
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$VERSION_CODENAME" > /etc/apt/sources.list.d/vellico-libpng-src.sources
    apt-get update -q >/dev/null
    apt-get source --download-only libpng1.6 >/dev/null
  else
    echo "mingw-libpng: cannot fetch libpng's source (needs a deb-src entry, or root to add one)" >&2
    exit 1
  fi
fi
tar xf libpng1.6_*.orig.tar.*
cd libpng-*/
mingw=/usr/x86_64-w64-mingw32
./configure --host=x86_64-w64-mingw32 --prefix="$dest" --disable-shared --enable-static \
  CPPFLAGS="-I$mingw/include" LDFLAGS="-L$mingw/lib" >/dev/null
make -j"$(nproc)" libpng16.la >/dev/null
make install-libLTLIBRARIES install-pkgincludeHEADERS install-nodist_pkgincludeHEADERS \
  install-pkgconfigDATA >/dev/null
# The unversioned names the pkg-config file and CMake's FindPNG look for.
ln -sf libpng16.a "$dest/lib/libpng.a"
ln -sf libpng16.pc "$dest/lib/pkgconfig/libpng.pc"
for header in png.h pngconf.h pnglibconf.h; do ln -sf "libpng16/$header" "$dest/include/$header"; done
echo "libpng for MinGW-w64 in $dest"
