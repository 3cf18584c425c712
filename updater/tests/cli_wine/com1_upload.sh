#!/usr/bin/env bash
# qz450-upload.exe under Wine with the prefix's COM1 on the simulated bootloader (a pty made
# by the native qz450sim): one upload that must arrive byte for byte, one to a silent
# controller that must end in the time-out, and one stopped by Ctrl-C while it waits.
#
#   com1_upload.sh QZ450_UPLOAD_EXE [QZ450SIM]
#
# QZ450SIM defaults to the native build's build/linux/qz450sim. Runs inside the Wine session
# of scripts/test, or starts its own through scripts/with-wine.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
if [[ -z ${WINEPREFIX:-} || -z ${QZ_WINE_SESSION:-} ]]; then
  exec "$root/scripts/with-wine" bash "$0" "$@"
fi

exe=$(realpath "${1:?usage: com1_upload.sh QZ450_UPLOAD_EXE [QZ450SIM]}")
sim=$(realpath -m "${2:-$root/build/linux/qz450sim}")
if [[ ! -x $sim ]]; then
  echo "FAIL: the native simulator $sim is missing (build the linux preset first)" >&2
  exit 1
fi

work=$(mktemp -d "$QZ_WINE_SESSION/cli-com1.XXXXXX")
sim_pid=""
failures=0
com1_link=$WINEPREFIX/dosdevices/com1
com1_before=$(readlink "$com1_link" 2>/dev/null || true)
# COM1 goes back to what it was; a test that shares the session must not find a dead pty.
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM1 /f >/dev/null 2>&1
  if [[ -n $com1_before ]]; then ln -sfn "$com1_before" "$com1_link"; else rm -f "$com1_link"; fi
  rm -rf "$work"
}
trap cleanup EXIT

expect() { # WHAT ACTUAL EXPECTED
  if [[ $2 == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: expected [$3], got [$2]" >&2
    failures=$((failures + 1))
  fi
}

# json_field NAME JSON: the bare value of a top-level field.
json_field() { sed -n "s/.*\"$1\":\\(\"[^\"]*\"\\|[^,}]*\\).*/\\1/p" <<<"$2" | tr -d '"'; }

# start_sim ARGS...: the simulator in the background; sets pty.
start_sim() {
  "$sim" --timeout 30 "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  pty=""
  for _ in $(seq 100); do
    pty=$(sed -n 's/^PTY //p' "$work/sim.out" | head -n 1)
    [[ -n $pty ]] && break
    sleep 0.05
  done
  [[ -n $pty ]] || { echo "FAIL: the simulator gave no pty" >&2; cat "$work/sim.err" >&2; exit 1; }
  # COM1 of this prefix is the simulator's pty: the registry mapping, which Wine's device
  # manager reads when it starts, and the device link it makes from it, for the running session.
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
  ln -sfn "$pty" "$com1_link"
}

stop_sim() {
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

head -c 5000 /dev/urandom >"$work/fw.bin"

echo "== success on COM1"
start_sim --trace "$work/trace1.txt" --out "$work/got.bin"
json=$(cd "$work" && timeout 60 wine "$exe" --json COM1 fw.bin 2>"$work/tool.err")
rc=$?
stop_sim
expect "exit code" "$rc" 0
expect "outcome" "$(json_field outcome "$json")" success
expect "port" "$(json_field port "$json")" COM1
expect "bytes" "$(json_field bytes "$json")" 5000
summary=$(sed -n '2p' "$work/sim.out")
expect "simulator outcome" "$(json_field outcome "$summary")" complete
expect "wake-up speeds" "$(sed -n 's/.*"wake_speeds":\[\([^]]*\)\].*/\1/p' <<<"$summary")" "9600,57600,19200"
if [[ -f $work/got.bin ]] && cmp -s <(head -c 5000 "$work/got.bin") "$work/fw.bin"; then
  echo "ok: image arrived byte for byte"
else
  echo "FAIL: the received image differs" >&2
  failures=$((failures + 1))
fi
[[ $failures -eq 0 ]] || { cat "$work/tool.err" >&2; echo "$json" >&2; cat "$work/sim.err" >&2; }

echo "== silent controller on COM1"
start_sim --silent
json=$(cd "$work" && timeout 60 wine "$exe" --json --timeout 2 COM1 fw.bin 2>"$work/tool.err")
rc=$?
kill "$sim_pid" 2>/dev/null
stop_sim
expect "exit code" "$rc" 5
expect "outcome" "$(json_field outcome "$json")" timeout

echo "== Ctrl-C while waiting on COM1"
# Wine turns SIGINT into the console's Ctrl-C event.
start_sim --silent
(cd "$work" && exec timeout 60 wine "$exe" --json COM1 fw.bin >"$work/tool.out" 2>"$work/tool.err") &
tool_pid=$!
for _ in $(seq 200); do
  grep -q "Waiting for the bootloader" "$work/tool.err" 2>/dev/null && break
  sleep 0.05
done
win_pid=$(pgrep -f "^[^ ]*qz450-upload.exe --json COM1" | tail -n 1)
[[ -n $win_pid ]] && kill -INT "$win_pid"
wait "$tool_pid"
rc=$?
kill "$sim_pid" 2>/dev/null
stop_sim
expect "exit code" "$rc" 130
expect "outcome" "$(json_field outcome "$(cat "$work/tool.out")")" interrupted

if ((failures)); then
  echo "FAILED: $failures check(s)" >&2
  exit 1
fi
echo "PASSED"
