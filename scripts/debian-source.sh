# Sourced by the MinGW build scripts: fetch_debian_source PACKAGE TARBALL NAME
# downloads Debian's source package PACKAGE into the current folder until its
# upstream tarball (a glob, TARBALL) is there; NAME is said in errors.
# Only the upstream tarball is needed; Debian's own part of the source package may be missing from a mirror.
fetch_debian_source() {
  local package=$1 tarball=$2 name=$3
  fetch() { apt-get source --download-only "$package" >/dev/null 2>&1 || true; ls $tarball >/dev/null 2>&1; }
  fetch && return 0
  # The source needs a deb-src entry; add Debian's own when allowed to and none is there.
  if [ "$(id -u)" = 0 ] && [ -f /etc/os-release ]; then
    if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      . /etc/os-release
      printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$VERSION_CODENAME" > "/etc/apt/sources.list.d/vellico-$package-src.sources"
    fi
    apt-get update -q >/dev/null
    fetch || { echo "$name: cannot fetch $package's source" >&2; exit 1; }
  else
    echo "$name: cannot fetch $package's source (needs a deb-src entry, or root to add one)" >&2
    exit 1
  fi
}
