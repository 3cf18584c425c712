#!/usr/bin/env bash
# Runs a GoogleTest program through the loader named first (the test's emulator, Wine), for CTest:
# the discovery (--gtest_list_tests) and every discovered test. A test run passes only when the
# program exits 0 AND printed GoogleTest's closing "[  PASSED  ]" line: a program that never ran
# (a 32-bit program under a Wine without its 32-bit side prints nothing and exits 0) fails.
#
#   run-gtest.sh LOADER PROGRAM ARGS...
set -uo pipefail
loader=$1
shift
for arg; do
  # A listing is checked by the discovery check, which counts the tests found.
  [[ $arg == --gtest_list_tests ]] && exec "$loader" "$@"
done
log=$(mktemp "${TMPDIR:-/tmp}/run-gtest.XXXXXX")
trap 'rm -f "$log"' EXIT
"$loader" "$@" | tee "$log"
rc=${PIPESTATUS[0]}
if ((rc == 0)) && ! grep -q '^\[  PASSED  \] [0-9]' "$log"; then
  echo "FAIL: ${1##*/} exited 0 without GoogleTest's closing PASSED line: the program did not run under $loader" >&2
  exit 1
fi
exit "$rc"
