#!/usr/bin/env bash
# Sets up the machine, builds cebridge, and shows the demo phone through the host:
# its capability, its My Documents folder and its contacts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "${CEBRIDGE_JOBS:-2}" --target cebridge cebridge_host ceemu

host=build/default/bin/cebridge
"${host}" info
"${host}" ls '/My Documents'
"${host}" contacts
