#!/usr/bin/env bash
# Installs every Debian package that building and testing cebridge needs.
# Safe to run again; run as root (or through sudo) on Debian 12 or later.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libedit-dev
  g++-multilib
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine64 locales
  clang libclang-rt-dev clang-format
  libical-dev libcpp-httplib-dev libsqlite3-dev libcurl4-openssl-dev libxml2-dev
  python3 python3-vobject python3-icalendar radicale
  chromium chromium-driver python3-selenium fonts-nanum
  help2man lintian dpkg-dev
  tcl  # makes SQLite's amalgamation from its Debian source (the Windows builds)
)

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync serves indexes of the wrong size for a while
# ("Mirror sync in progress?"); apt keeps what it did fetch, so try a few times and
# then install from the indexes it has. Only a failed install stops the setup.
apt_update() {
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    [ "${try}" -lt 3 ] && sleep 20
  done
  echo "setup: apt-get update kept failing; installing from the package indexes apt has"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt_update
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows tests run wine as a Korean PC (LC_ALL=ko_KR.UTF-8: ANSI code page 949).
# Wine also names the host's files in that locale's character set, so without the
# locale itself it cannot open the demo phone's Korean file names.
if ! locale -a 2>/dev/null | grep -qix 'ko_KR.utf-\?8'; then
  $SUDO localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
fi

# Where the kernel runs 32-bit programs, the real target (the 32-bit Windows DLL) runs
# its suite under 32-bit wine, which Debian ships for the i386 architecture only.
# Elsewhere wine32 could not start, so it is not installed. When the i386 indexes are
# not to be had (a mirror mid-sync leaves i386 libraries a version behind amd64 ones),
# the setup goes on without wine32 and the test command says which suites it skipped.
if bash "$(dirname "$0")/probe32.sh" >/dev/null; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    apt_update
    $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 ||
      echo "setup: wine32 could not be installed; the 32-bit Windows suites cannot run"
  fi
fi

# The Windows builds cross-build what Debian ships only for Linux from Debian's own
# source packages, fetched here once: SQLite (its single-file amalgamation), the
# iCalendar reader and the full cpp-httplib header (the -dev package holds only its
# declarations). apt reads them from the same archive as the binary packages.
debian_sources=${CEBRIDGE_DEBIAN_SOURCES:-${HOME}/.cache/cebridge/debian-src}
source_packages=(sqlite3 libical3 cpp-httplib)
have_sources() {
  local p
  for p in "${source_packages[@]}"; do
    [ -f "${debian_sources}/${p}.stamp" ] || return 1
  done
}
if ! have_sources; then
  if ! apt-get source --print-uris sqlite3 >/dev/null 2>&1; then
    list=/etc/apt/sources.list.d/cebridge-deb-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types:.*deb\b.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "${list}" >/dev/null
    else
      sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list |
        $SUDO tee "${list%.sources}.list" >/dev/null
    fi
    apt_update
  fi
  mkdir -p "${debian_sources}"
  for p in "${source_packages[@]}"; do
    [ -f "${debian_sources}/${p}.stamp" ] && continue
    rm -rf "${debian_sources:?}/${p}" && mkdir -p "${debian_sources}/${p}"
    # A mirror may lack a package's Debian part while it has the upstream tarball:
    # then the tarball alone is unpacked (the build needs upstream's sources only).
    (cd "${debian_sources}/${p}" && { apt-get source -qq "${p}" >/dev/null 2>&1 ||
       { ls ./*.orig.tar.* >/dev/null 2>&1 && tar xf ./*.orig.tar.*; }; }) &&
      touch "${debian_sources}/${p}.stamp" ||
      echo "setup: apt-get source ${p} failed; the Windows builds lack what it gives"
  done
fi
