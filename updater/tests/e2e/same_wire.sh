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

sim_pid=""
com1_link=$WINEPREFIX/dosdevices/com1
com1_before=$(readlink "$com1_link" 2>/dev/null || true)
same_wire_cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM1 /f >/dev/null 2>&1 || true
  if [[ -n $com1_before ]]; then ln -sfn "$com1_before" "$com1_link"; else rm -f "$com1_link"; fi
  e2e_cleanup
}
trap same_wire_cleanup EXIT

# start_sim NAME: a simulator for one upload; sets pty.
start_sim() {
  "$sim" --timeout 60 --trace "$e2e_work/$1.trace" >"$e2e_work/$1.out" 2>"$e2e_work/$1.err" &
  sim_pid=$!
  pty=""
  for _ in $(seq 200); do
    pty=$(sed -n 's/^PTY //p' "$e2e_work/$1.out" | head -n 1)
    [[ -n $pty ]] && break
    sleep 0.05
  done
  [[ -n $pty ]] || fail "the simulator gave no pty"
}

end_sim() {
  for _ in $(seq 200); do
    sed -n 2p "$e2e_work/$1.out" | grep -q . && break
    sleep 0.05
  done
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

firmware=$app/qz450.bin
head -c 3000 /dev/urandom >"$firmware"

echo "== the window's upload"
start_sim window
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
ln -sfn "$pty" "$com1_link"
printf '1\r\n"%s"\r\n' "$(winepath -w "$firmware")" >"$app/updater7304.ini"
start_updater
probe dump "$pid" 30000 >/dev/null || fail "the window did not show"
probe click "$pid" UpLoad >/dev/null
out=$(probe msgbox "$pid" 60000) || fail "no message after the window's upload"
expect "window: success" "$(value title "$out")" "Success!"
probe msgbox "$pid" 10000 ok >/dev/null
end_sim window
end_by click "$pid" Exit

echo "== the tool's upload"
start_sim tool
"$tool" --quiet "$pty" "$firmware" || fail "the tool's upload failed"
end_sim tool

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
