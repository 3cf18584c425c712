#!/usr/bin/env bash
# Deployment of ValtroveCtrl.ocx without its machine-wide registration, in a Wine prefix of its
# own, made fresh for this test:
#   1. the prefix holds no key of the control (machine classes in both registry views, the
#      user's classes);
#   2. side by side: the test host with its application manifest, run from a folder holding the
#      host, the library and the library's manifest, creates and drives the control; the same
#      host without its manifest gets "class not registered";
#   3. per user: "regsvr32 /n /i:user" writes the user's classes and nothing machine-wide,
#      "regsvr32 /u /n /i:user" removes them; the same two steps beside a machine-wide
#      registration leave that registration exactly as it was.
#
# Usage: deploy_test.sh [--in-place] LIBRARY_DIR HOST HOST_MANIFEST CHECK
#   LIBRARY_DIR  folder holding ValtroveCtrl.ocx and ValtroveCtrl.manifest
#   HOST         the side-by-side host (valuestore_sxs_host), HOST_MANIFEST its application manifest
#   CHECK        the registry check program; its library is the one in the folder above its own
#   --in-place   run the host from LIBRARY_DIR itself (an unpacked package) and leave out step 3,
#                whose checks name the check program's own library
# Environment: WINE starts the test programs, HOST_WINE the system's regsvr32 and reg of the
# library's architecture (default: WINE). Always runs in a scripts/with-wine session of its own,
# whose prefix is fresh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [[ -z ${QZ_DEPLOY_SESSION:-} ]]; then
  QZ_DEPLOY_SESSION=1 exec "$here/../../../scripts/with-wine" bash "$0" "$@"
fi

in_place=0
if [[ ${1:-} == --in-place ]]; then
  in_place=1
  shift
fi
(($# == 4)) || { sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 2; }
library_dir=$(cd "$1" && pwd)
host=$2
host_manifest=$3
check=$4
wine=${WINE:-wine}
host_wine=${HOST_WINE:-$wine}

work=$(mktemp -d "$QZ_WINE_SESSION/deploy.XXXXXX")
echo "== a fresh prefix"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# run_check WHAT PROGRAM FILTER: the GoogleTest program passes at least one test.
run_check() {
  local out
  if ! out=$("$wine" "$2" --gtest_filter="$3" 2>&1); then
    echo "$out"
    fail "$1"
  fi
  if ! grep -Eq '^\[  PASSED  \] [1-9]' <<<"$out"; then
    echo "$out"
    fail "$1: no test ran"
  fi
  echo "ok: $1"
}

run_check "no key of the control in either registry view, nor in the user's classes" "$check" "NoKeys.*"

echo "== side by side"
if ((in_place)); then
  app=$library_dir
else
  app=$work/app
  mkdir "$app"
  cp "$library_dir/ValtroveCtrl.ocx" "$library_dir/ValtroveCtrl.manifest" "$app/"
fi
host_name=$(basename "$host")
cp "$host" "$app/$host_name"
cp "$host_manifest" "$app/$host_name.manifest"
run_check "the host with its manifest creates the control by ProgID and stores values" "$app/$host_name" "SideBySide.*"
rm "$app/$host_name.manifest"
run_check "the host without its manifest gets \"class not registered\"" "$app/$host_name" "NoManifest.*"
rm "$app/$host_name"
((in_place)) && exit 0

echo "== per user"
ocx=$(winepath -w "$library_dir/ValtroveCtrl.ocx" 2>/dev/null)
regsvr() {
  "$host_wine" regsvr32 /s "$@" "$ocx" >/dev/null 2>&1 || fail "regsvr32 $* $ocx"
}
regsvr /n /i:user
run_check "regsvr32 /n /i:user writes the user's classes, nothing machine-wide" "$check" "PerUser.*"
regsvr /u /n /i:user
run_check "regsvr32 /u /n /i:user leaves no key" "$check" "PerUserRemoved.*:NoKeys.*"

echo "== per user beside a machine-wide registration"
# The machine-wide keys of the control, exported by the system's reg of the library's
# architecture (so in the library's registry view); a missing key exports as nothing.
machine_keys=("CLSID\\{0C6404B8-48C5-4494-8608-C606118CB0DA}" "ValtroveCTL.Valtrove"
  "TypeLib\\{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}" "Interface\\{09D0D1E1-0E46-4FB8-8275-B3B05B79A4EE}"
  "Interface\\{25AF3E82-2151-42BD-9B80-5CA0E796B45E}" "Interface\\{62AFD228-940A-4A1A-B2D8-303F965E06FB}")
export_machine() {
  local key n=0
  : >"$work/$1"
  for key in "${machine_keys[@]}"; do
    n=$((n + 1))
    rm -f "$work/key.reg"
    "$host_wine" reg export "HKLM\\Software\\Classes\\$key" "$(winepath -w "$work/key.reg" 2>/dev/null)" /y \
      >/dev/null 2>&1 || true
    { echo "== $key"; [[ -f $work/key.reg ]] && iconv -f UTF-16LE -t UTF-8 "$work/key.reg"; } >>"$work/$1"
  done
}
regsvr
run_check "regsvr32 registers machine-wide" "$check" "Registered.*"
export_machine before.txt
grep -q 'InprocServer32' "$work/before.txt" || fail "reg export found no machine-wide class"
regsvr /n /i:user
run_check "the user's classes beside it" "$check" "PerUser.UserClassesHoldTheRegistration:PerUser.UserKeysLeadToAWorkingControl"
regsvr /u /n /i:user
run_check "the user's keys are gone" "$check" "PerUserRemoved.*"
export_machine after.txt
if ! cmp -s "$work/before.txt" "$work/after.txt"; then
  diff "$work/before.txt" "$work/after.txt" || true
  fail "the per-user steps changed the machine-wide registration"
fi
echo "ok: the machine-wide registration is byte for byte as it was"
regsvr /u
run_check "regsvr32 /u leaves nothing" "$check" "Unregistered.*:NoKeys.*"
echo "all checks passed"
