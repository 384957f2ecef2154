#!/usr/bin/env bash
# Sets up the machine, builds every preset, and runs every test stage:
#   format                every C and C++ source laid out as .clang-format says
#   default, asan, tsan   x86_64 Linux suites (plain, ASan+UBSan, TSan)
#   i686                  -m32 Linux: the products built always; its suite is built and
#                         run where the kernel runs 32-bit programs
#   release               the Linux products as shipped: Release (-O3), file by file
#   headers               every header of the products compiled alone
#   mingw-i686            the 32-bit Windows build with answer checks: the products built
#                         always, exports checked; its unit tests are built and run under
#                         wine32 where 32-bit programs run (the end-to-end suite runs
#                         against the release DLL)
#   mingw-i686-release    the DLL users get (Release, no answer checks): exports and
#                         imports checked; the end-to-end suite runs against it under
#                         wine32 where 32-bit programs run
#   mingw-x64             64-bit Windows build, its suite under wine64 (with a subset of
#                         the serve API tests against cebridge.exe)
#   package               the Debian package (lintian-clean) and the x64 Windows zip, each
#                         unpacked and run from there (scripts/check_package.sh)
#   fuzz                  every fuzz target from its seeds (tests/fuzz/run_fuzzers.sh)
#   browser               the `cebridge serve` page driven in headless Chromium, a
#                         screenshot of each view in build/default/browser-screenshots
#   bench                 the benches run briefly (bench/speed_table.py): one table of our
#                         figures against dd, cp and cp -r of the same run, beside the
#                         goals, in the summary too; it never fails on speed
# Every stage runs even when an earlier one failed; the end shows one line per stage
# (passed, skipped: why, or failed: the failed tests) and the run fails if any stage
# failed.
#   CEBRIDGE_TEST_STAGES="default fuzz"   just these stages (CEBRIDGE_TEST_PRESETS too)
#   CEBRIDGE_NO_32BIT=1                   behave as on a machine that runs no 32-bit program
#   CEBRIDGE_FUZZ_SECONDS=N               fuzz each target for N seconds
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "setup: failed"; exit 1; }

jobs=${CEBRIDGE_JOBS:-2}
stages=(${CEBRIDGE_TEST_STAGES:-${CEBRIDGE_TEST_PRESETS:-format default asan tsan i686 release headers mingw-i686 mingw-i686-release mingw-x64 package fuzz browser bench}})
no_32bit_reason=$(bash scripts/probe32.sh)
# The 32-bit Windows suites need wine32 as well, which the setup may have failed to get.
no_wine32_reason=${no_32bit_reason}
if [ -z "${no_wine32_reason}" ] && [ ! -x /usr/lib/wine/wine ]; then
  no_wine32_reason="wine32 is not installed (the setup could not install it, see its output)"
fi
skip_reason=

build_preset() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "${jobs}"
}

# A Windows build's export tables: the plug-in's four functions and the emulator's
# RAPI operations, all undecorated.
check_windows_exports() {
  local bin=build/$1/bin rapi_names
  rapi_names=$(sed -n '/^EXPORTS/,$p' emulator/ceemu.def | tail -n +2 | tr -d ' \r' | grep -v '^$' | paste -sd';')
  cmake -DLIBRARY="${bin}/cebridge.dll" -DOBJDUMP=i686-w64-mingw32-objdump -P tests/abi/check_exports.cmake &&
  cmake -DLIBRARY="${bin}/ceemu.dll" -DOBJDUMP=i686-w64-mingw32-objdump \
        -DEXPECTED="${rapi_names}" -P tests/abi/check_exports.cmake
}

# Runs a Windows suite; the prefix is made once (wineboot), so no test pays for the
# first start. The wine variables stay in this subshell, out of later stages.
run_under_wine() (
  local loader=$2 arch=$3
  export WINEDEBUG=-all WINEARCH="${arch}" WINEPREFIX="${HOME}/.cache/cebridge/wine-${arch}"
  mkdir -p "$(dirname "${WINEPREFIX}")"
  "${loader}" wineboot -i && ctest --preset "$1"
)

run_stage() {
  local stage=$1
  case "${stage}" in
    i686)
      if [ -n "${no_32bit_reason}" ]; then
        # The products only: their 344-byte ABI is checked as they compile, and suites
        # that cannot run here need not be built.
        cmake --preset i686 >/dev/null &&
          cmake --build --preset i686 --target cebridge ceemu cebridge_host -j "${jobs}" || return 1
        skip_reason="products built; tests neither built nor run: ${no_32bit_reason}"
        return 0
      fi
      build_preset i686 && ctest --preset i686
      ;;
    release)
      build_preset release
      ;;
    headers)
      cmake --preset release >/dev/null && cmake --build --preset release --target cebridge_headers -j "${jobs}"
      ;;
    mingw-i686)
      if [ -n "${no_wine32_reason}" ]; then
        cmake --preset mingw-i686 >/dev/null &&
          cmake --build --preset mingw-i686 --target cebridge ceemu cebridge_host cebridge_serve -j "${jobs}" &&
          check_windows_exports mingw-i686 || return 1
        skip_reason="products built, exports checked; unit tests neither built nor run under wine32: ${no_wine32_reason}"
        return 0
      fi
      build_preset mingw-i686 && check_windows_exports mingw-i686 && run_under_wine mingw-i686 /usr/lib/wine/wine win32
      ;;
    mingw-i686-release)
      # The file to ship: nothing imported but the system's own libraries.
      build_preset mingw-i686-release && check_windows_exports mingw-i686-release &&
        cmake -DLIBRARY=build/mingw-i686-release/bin/cebridge.dll -DOBJDUMP=i686-w64-mingw32-objdump \
              -P tests/abi/check_imports.cmake || return 1
      if [ -n "${no_wine32_reason}" ]; then
        skip_reason="built, exports and imports checked; end-to-end suite not run under wine32: ${no_wine32_reason}"
        return 0
      fi
      cmake --build --preset mingw-i686-release --target cebridge_e2e_tests -j "${jobs}" &&
        run_under_wine mingw-i686-release /usr/lib/wine/wine win32
      ;;
    mingw-x64)
      build_preset mingw-x64 && run_under_wine mingw-x64 /usr/lib/wine/wine64 win64
      ;;
    package)
      # The presets' own products, packed as users get them (built again only where a
      # stage before this one did not build them).
      build_preset release && build_preset mingw-x64 || return 1
      (cd build/release && cpack -G DEB >/dev/null) && (cd build/mingw-x64 && cpack -G ZIP >/dev/null) || return 1
      local deb zip
      deb=$(ls build/release/cebridge_*.deb) && zip=$(ls build/mingw-x64/cebridge-*-windows-x64.zip) || return 1
      lintian --fail-on error "${deb}" &&
        bash scripts/check_package.sh "${deb}" "${zip}"
      ;;
    fuzz)
      bash tests/fuzz/run_fuzzers.sh
      ;;
    format)
      bash scripts/check_format.sh
      ;;
    browser)
      build_preset default || return 1
      local output
      output=$(/usr/bin/python3 tests/browser/serve_test.py build/default/bin . \
               --screenshots build/default/browser-screenshots 2>&1)
      local code=$?
      echo "${output}"
      skip_reason=$(sed -n 's/^browser: skipped: //p' <<<"${output}")
      return ${code}
      ;;
    bench)
      build_preset default || return 1
      local table
      table=$(mktemp)
      /usr/bin/python3 bench/speed_table.py build/default/bin . --table "${table}"
      local code=$?
      stage_details=$(cat "${table}")
      rm -f "${table}"
      return ${code}
      ;;
    *)
      build_preset "${stage}" && ctest --preset "${stage}"
      ;;
  esac
}

duration() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

# The names of the tests that failed in a stage's output (gtest's "[  FAILED  ]" lines,
# ctest's list of failed programs), so that the summary alone says what to look at
# when only the end of a long log is kept.
failed_tests() {
  { grep -aoE '^\[  FAILED  \] [A-Za-z_][A-Za-z0-9_./]*' "$1" | sed 's/^\[  FAILED  \] //'
    grep -aE '^[[:space:]]+[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' "$1" |
      sed -E 's/^[[:space:]]+[0-9]+ - //; s/ \(Failed\)$//'
  } | sort -u | paste -sd, | sed 's/,/, /g'
}

summary=()
failures=0
for stage in "${stages[@]}"; do
  echo "=== ${stage} ==="
  skip_reason=
  stage_details= # lines a stage adds to the summary below its own
  started=${SECONDS}
  stage_log=$(mktemp)
  if run_stage "${stage}" > >(tee "${stage_log}") 2>&1; then
    if [ -n "${skip_reason}" ]; then result="skipped: ${skip_reason}"; else result=passed; fi
  else
    result=failed
    failures=$((failures + 1))
  fi
  wait $! # the tee behind the stage's output has written its last line
  names=$(failed_tests "${stage_log}")
  rm -f "${stage_log}"
  [ "${result}" = failed ] && [ -n "${names}" ] && result="failed: ${names}"
  took=$(duration $((SECONDS - started)))
  echo "=== ${stage}: ${result} (${took}) ==="
  summary+=("${stage}: ${result} (${took})")
  if [ -n "${stage_details}" ]; then
    while IFS= read -r line; do summary+=("  ${line}"); done <<<"${stage_details}"
  fi
done

echo "=== summary (${SECONDS} s in all) ==="
printf '%s\n' "${summary[@]}"
[ "${failures}" -eq 0 ]
