#!/usr/bin/env bash
# Does this machine run 32-bit x86 programs? Some kernels have 32-bit emulation turned
# off ("Exec format error"), and nobody chooses which kind of machine a run gets.
#   exit 0: it does;  exit 1: it does not, and the reason is printed on stdout.
# CEBRIDGE_NO_32BIT=1 answers "does not" on any machine, so that path can be tried.
set -uo pipefail

if [ "${CEBRIDGE_NO_32BIT:-0}" = 1 ]; then
  echo "CEBRIDGE_NO_32BIT=1 says not to run 32-bit programs"
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "${scratch}"' EXIT
printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n' > "${scratch}/probe.c"
if ! gcc -m32 "${scratch}/probe.c" -o "${scratch}/probe" 2>/dev/null; then
  echo "gcc -m32 cannot build a program here (g++-multilib missing?)"
  exit 1
fi
if ! "${scratch}/probe" 2>/dev/null; then
  echo "this machine's kernel does not run 32-bit programs"
  exit 1
fi
exit 0
