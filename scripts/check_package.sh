#!/usr/bin/env bash
# The products as a user gets them, run from where they are unpacked with nothing of
# the build tree in reach:
#   check_package.sh DEB [WINDOWS_ZIP]
# The Debian package is unpacked into a folder of its own (dpkg-deb -x) and its
# cebridge runs --version, info, ls and one serve API call against the demo phone,
# in a clean environment. The demo phone and a DTD file of the unpacked tree are
# marked first, so the run proves it took them from there, not from the source tree.
# The Windows zip is unpacked, the emulated phone put in rapi.dll's place, and
# cebridge.exe info runs under wine64.
set -euo pipefail
deb=$(realpath "$1")
zip=${2:+$(realpath "$2")}
scratch=$(mktemp -d)
trap 'kill "${server:-}" 2>/dev/null || true; rm -rf "${scratch}"' EXIT

root=${scratch}/root
dpkg-deb -x "${deb}" "${root}"
program=${root}/usr/bin/cebridge
share=${root}/usr/share/cebridge
sed -i 's/"OrigName"="MV-2400"/"OrigName"="UNPACKED-MODEL"/' "${share}/phones/demo/registry.reg"
grep -q UNPACKED-MODEL "${share}/phones/demo/registry.reg"
echo '<!-- unpacked -->' >> "${share}/dtd/obex-capability.dtd"
test -f "${root}/usr/share/man/man1/cebridge.1.gz"
test -f "${root}/usr/share/bash-completion/completions/cebridge"

home=${scratch}/home
mkdir -p "${home}"
cd "${scratch}" # (nothing of the source or build tree is the working folder)
run() { env -i HOME="${home}" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="${scratch}" "$@"; }

run "${program}" --version | grep -qx "cebridge $(dpkg-deb -f "${deb}" Version)"
run "${program}" info | tee "${scratch}/info.txt"
grep -q UNPACKED-MODEL "${scratch}/info.txt"
grep -rqs 'unpacked' "${home}/.local/share/cebridge/dtd/obex-capability.dtd"
run "${program}" ls '/My Documents' | grep -q readme.txt

# serve: the address it prints, one API call with its token, and TERM ends it with 0.
env -i HOME="${home}" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="${scratch}" "${program}" serve > "${scratch}/serve.txt" 2>&1 &
server=$!
while ! grep -q 'serving http' "${scratch}/serve.txt"; do
  kill -0 "${server}" || { cat "${scratch}/serve.txt"; exit 1; }
  sleep 0.1
done
address=$(sed -n 's/^cebridge: serving //p' "${scratch}/serve.txt")
/usr/bin/python3 - "${address}" <<'PY'
import json, sys, urllib.request
address = sys.argv[1]
page, token = address.split('#token=')
request = urllib.request.Request(page + 'api/info', headers={'Authorization': 'Bearer ' + token})
info = json.load(urllib.request.urlopen(request, timeout=60))
assert info['model'] == 'UNPACKED-MODEL', info
PY
kill -TERM "${server}"
wait "${server}"
server=
echo "package: the Debian package runs from its unpacked tree"

if [ -n "${zip}" ]; then
  windows=${scratch}/windows
  mkdir -p "${windows}"
  (cd "${windows}" && python3 -m zipfile -e "${zip}" .)
  folder=$(dirname "$(find "${windows}" -name cebridge.exe | head -n 1)")
  cp "${folder}/ceemu.dll" "${folder}/rapi.dll"
  export WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="${HOME}/.cache/cebridge/wine-win64"
  mkdir -p "$(dirname "${WINEPREFIX}")"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  (cd "${folder}" && /usr/lib/wine/wine64 ./cebridge.exe info) | tee "${scratch}/windows-info.txt"
  grep -q 'MV-2400' "${scratch}/windows-info.txt"
  echo "package: the Windows zip runs from its unpacked folder under wine64"
fi
