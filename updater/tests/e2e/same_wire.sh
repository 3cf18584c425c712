#!/usr/bin/env bash
# The window and the command-line tool put the same bytes on the wire, at the same speeds and in
# the same order, for the same upload: the simulator's traces of both, normalised (no times, no
# repeated "%"), must be equal.
#
# Usage: same_wire.sh UPDATER_EXE UI_PROBE_EXE [QZ450SIM] [QZ450_UPLOAD]
# The simulator and the native tool come from the native build by default.
set -euo pipefail
source "$(dirname "$0")/common.bash"
e2e_session "$0" "$@"
e2e_setup "$1" "$2"
root=$(cd "$e2e_here/../../.." && pwd)
sim=$(realpath -m "${3:-$root/build/linux/qz450sim}")
tool=$(realpath -m "${4:-$root/build/linux/qz450-upload}")
[[ -x $sim && -x $tool ]] || fail "the native simulator or tool is missing (build the linux preset first)"

source "$root/updater/sim/com1.bash"
trap 'sim_restore_com1; e2e_cleanup' EXIT

# start_sim NAME: a simulator for one upload; sets pty.
start_sim() {
  sim_start "$e2e_work/$1" --timeout 60 --trace "$e2e_work/$1.trace" || fail "the simulator did not start"
}

# end_sim: the upload's summary is out (the wire is complete); the simulator goes.
end_sim() {
  sim_wait_summary
  sim_kill
}

firmware=$app/qz450.bin
head -c 3000 /dev/urandom >"$firmware"

echo "== the window's upload"
start_sim window
sim_link_com1
printf '1\r\n"%s"\r\n' "$(winepath -w "$firmware")" >"$app/updater7304.ini"
start_updater
probe dump "$pid" 30000 >/dev/null || fail "the window did not show"
probe click "$pid" UpLoad >/dev/null
out=$(probe msgbox "$pid" 60000) || fail "no message after the window's upload"
expect "window: success" "$(value title "$out")" "Success!"
probe msgbox "$pid" 10000 ok >/dev/null
end_sim
end_by click "$pid" Exit

echo "== the tool's upload"
start_sim tool
"$tool" --quiet "$pty" "$firmware" || fail "the tool's upload failed"
end_sim

"$sim" --normalise "$e2e_work/window.trace" --upload 1 >"$e2e_work/window.wire"
"$sim" --normalise "$e2e_work/tool.trace" --upload 1 >"$e2e_work/tool.wire"
[[ -s $e2e_work/window.wire ]] || fail "empty trace of the window's upload"
if diff -u "$e2e_work/window.wire" "$e2e_work/tool.wire" >"$e2e_work/wire.diff"; then
  echo "ok: same bytes, speeds and order on the wire ($(wc -l <"$e2e_work/window.wire") trace lines)"
else
  echo "FAIL: the window and the tool differ on the wire:" >&2
  head -n 40 "$e2e_work/wire.diff" >&2
  e2e_failures=$((e2e_failures + 1))
fi

e2e_finish
