#!/usr/bin/env bash
# Checks that every C and C++ source of the project is laid out as .clang-format says.
#   bash scripts/check_format.sh          list the files that differ (fails if any)
#   bash scripts/check_format.sh --fix    rewrite them in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi
report=$(mktemp)
trap 'rm -f "${report}"' EXIT
if ! clang-format --dry-run --Werror "${sources[@]}" 2>"${report}"; then
  grep -o '^[^:]*:[0-9]*' "${report}" | sort -u | head -40
  echo "format: $(grep -c 'clang-format-violations' "${report}") places differ; bash scripts/check_format.sh --fix rewrites them"
  exit 1
fi
echo "format: ${#sources[@]} files as .clang-format says"
