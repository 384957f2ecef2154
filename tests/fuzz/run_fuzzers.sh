#!/usr/bin/env bash
# The fuzz stage of the test command: builds every fuzz target (the fuzz preset, into
# build/fuzz-clang/fuzzers/) and runs each from its committed seeds for a bounded time. A crash, leak, hang or
# sanitizer report fails the stage; the report's end and the input, in hex, are printed.
#   CEBRIDGE_FUZZ_SECONDS   seconds per target (default 30; the targets run as many at
#                           once as CEBRIDGE_JOBS says, 2 by default: two minutes in all)
#   CEBRIDGE_FUZZ_TARGETS   the targets to run (default: every tests/fuzz/*_fuzz.cpp)
# The emulator's target serves a throw-away copy of the demo phone.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
cd "${source_dir}"
build_dir=build/fuzz-clang
seconds=${CEBRIDGE_FUZZ_SECONDS:-30}
jobs=${CEBRIDGE_JOBS:-2}

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "${jobs}" || exit 1

seed_folders() {
  case "$1" in
    pugxml_reader) echo tests/fuzz/pugxml_seeds ;;
    *) echo "tests/fuzz/seeds/$1"; [ -d "tests/fuzz/regressions/$1" ] && echo "tests/fuzz/regressions/$1" ;;
  esac
}

print_findings() {
  local artifacts=$1 log=$2
  local first
  first=$(grep -n -m1 -E '==[0-9]+==ERROR|runtime error:|ERROR: libFuzzer|==[0-9]+== ?ERROR' "${log}" | cut -d: -f1)
  echo "--- its report:"
  if [ -n "${first}" ]; then sed -n "${first},$((first + 40))p" "${log}"; else grep -v '^#[0-9]' "${log}" | tail -n 40; fi
  for input in "${artifacts}"/*; do
    [ -f "${input}" ] || continue
    echo "--- input $(basename "${input}") ($(stat -c %s "${input}") bytes), in hex:"
    od -An -tx1 -v "${input}" | head -n 64
  done
}

# Fuzzes one target; its one-line result (and a finding's report) on stdout, and a
# nonzero exit when it found something.
fuzz_one() {
  local target=$1
  local corpus="${build_dir}/corpus/${target}" artifacts="${build_dir}/artifacts/${target}"
  local log="${build_dir}/logs/${target}.log" phone="" runs status
  rm -rf "${artifacts}"
  mkdir -p "${corpus}" "${artifacts}" "$(dirname "${log}")"
  local environment=() options=()
  if [ "${target}" = emulator_tobrann ]; then
    phone=$(mktemp -d)
    cp -r data/phones/demo/. "${phone}"
    environment=(CEBRIDGE_DEVICE="${phone}")
    # The server keeps mounted volumes and handles from one input to the next, so
    # every input looks to libFuzzer like a leak and it runs the leak checker's whole
    # scan after each (thirty times slower). Leaks are still checked when the run ends.
    options=(-detect_leaks=0)
  fi
  # shellcheck disable=SC2046  # one word per seed folder
  env "${environment[@]}" "${build_dir}/fuzzers/${target}_fuzz" "${options[@]}" -max_total_time="${seconds}" -timeout=30 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="${artifacts}/" \
      "${corpus}" $(seed_folders "${target}") > "${log}" 2>&1
  status=$?
  [ -n "${phone}" ] && rm -rf "${phone}"
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "${log}" | tail -n 1)
  if [ "${status}" -ne 0 ] || compgen -G "${artifacts}/*" >/dev/null; then
    echo "fuzz ${target}: FAILED after ${runs:-?} runs (exit ${status}); log: ${log}"
    print_findings "${artifacts}" "${log}"
    return 1
  fi
  echo "fuzz ${target}: ${runs} runs in ${seconds} s, no finding"
}

# shellcheck disable=SC2206  # one word per target
targets=(${CEBRIDGE_FUZZ_TARGETS:-$(for f in tests/fuzz/*_fuzz.cpp; do basename "$f" _fuzz.cpp; done)})
results=$(mktemp -d)
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "${jobs}" ]; do wait -n; done
  { fuzz_one "${target}" > "${results}/${target}" || touch "${results}/${target}.failed"; } &
done
wait
failed=()
for target in "${targets[@]}"; do
  cat "${results}/${target}"
  [ -e "${results}/${target}.failed" ] && failed+=("${target}")
done
rm -rf "${results}"

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
