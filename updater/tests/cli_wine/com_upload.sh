#!/usr/bin/env bash
# qz450-upload.exe under Wine with the prefix's COM ports on simulated bootloaders (ptys made
# by the native qz450sim): one upload on COM1 that must arrive byte for byte, one to a silent
# controller that must end in the time-out, one stopped by Ctrl-C while it waits, and two at
# once on COM1 and COM2.
#
#   com_upload.sh WINE QZ450_UPLOAD_EXE [QZ450SIM]
#
# WINE is the loader that runs the program (the build's emulator). QZ450SIM defaults to the
# native build's build/linux/qz450sim. Runs inside the Wine session of scripts/test, or starts
# its own through scripts/with-wine.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
if [[ -z ${WINEPREFIX:-} || -z ${QZ_WINE_SESSION:-} ]]; then
  exec "$root/scripts/with-wine" bash "$0" "$@"
fi

usage="usage: com_upload.sh WINE QZ450_UPLOAD_EXE [QZ450SIM]"
loader=${1:?$usage}
exe=$(realpath "${2:?$usage}")
sim=$(realpath -m "${3:-$root/build/linux/qz450sim}")
if [[ ! -x $sim ]]; then
  echo "FAIL: the native simulator $sim is missing (build the linux preset first)" >&2
  exit 1
fi

work=$(mktemp -d "$QZ_WINE_SESSION/cli-com1.XXXXXX")
failures=0
source "$root/updater/sim/com1.bash"
# The COM ports go back to what they were; a test that shares the session must not find a dead pty.
cleanup() {
  sim_restore_coms
  rm -rf "$work"
}
trap cleanup EXIT

# The tool's JSON result is the marker that it ran: a 32-bit program under a Wine without its
# 32-bit side prints nothing and exits 0.
require_result() { # OUTPUT
  if [[ $1 != *'"outcome"'* ]]; then
    echo "FAIL: qz450-upload.exe printed no JSON result: it did not run under $loader" >&2
    exit 1
  fi
}

expect() { # WHAT ACTUAL EXPECTED
  if [[ $2 == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: expected [$3], got [$2]" >&2
    failures=$((failures + 1))
  fi
}

# start_sim ARGS...: the simulator in the background, on COM1; sets pty.
start_sim() {
  sim_start "$work/sim" --timeout 30 "$@" || exit 1
  sim_link_com 1
}

# same_image FILE: the received FILE begins with the whole image.
same_image() { [[ -f $1 ]] && cmp -s <(head -c 5000 "$1") "$work/fw.bin"; }

head -c 5000 /dev/urandom >"$work/fw.bin"

echo "== success on COM1"
start_sim --trace "$work/trace1.txt" --out "$work/got.bin"
json=$(cd "$work" && timeout 60 "$loader" "$exe" --json COM1 fw.bin 2>"$work/tool.err")
rc=$?
sim_end
require_result "$json"
expect "exit code" "$rc" 0
expect "outcome" "$(sim_field outcome "$json")" success
expect "port" "$(sim_field port "$json")" COM1
expect "bytes" "$(sim_field bytes "$json")" 5000
summary=$(sed -n '2p' "$work/sim.out")
expect "simulator outcome" "$(sim_field outcome "$summary")" complete
expect "wake-up speeds" "$(sed -n 's/.*"wake_speeds":\[\([^]]*\)\].*/\1/p' <<<"$summary")" "9600,57600,19200"
if same_image "$work/got.bin"; then
  echo "ok: image arrived byte for byte"
else
  echo "FAIL: the received image differs" >&2
  failures=$((failures + 1))
fi
[[ $failures -eq 0 ]] || { cat "$work/tool.err" >&2; echo "$json" >&2; cat "$work/sim.err" >&2; }

echo "== silent controller on COM1"
start_sim --silent
json=$(cd "$work" && timeout 60 "$loader" "$exe" --json --timeout 2 COM1 fw.bin 2>"$work/tool.err")
rc=$?
sim_kill
require_result "$json"
expect "exit code" "$rc" 5
expect "outcome" "$(sim_field outcome "$json")" timeout

echo "== Ctrl-C while waiting on COM1"
# Wine turns SIGINT into the console's Ctrl-C event.
start_sim --silent
(cd "$work" && exec timeout 60 "$loader" "$exe" --json COM1 fw.bin >"$work/tool.out" 2>"$work/tool.err") &
tool_pid=$!
for _ in $(seq 200); do
  grep -q "Waiting for the bootloader" "$work/tool.err" 2>/dev/null && break
  sleep 0.05
done
win_pid=$(pgrep -f "^[^ ]*qz450-upload.exe --json COM1" | tail -n 1)
[[ -n $win_pid ]] && kill -INT "$win_pid"
wait "$tool_pid"
rc=$?
sim_kill
require_result "$(cat "$work/tool.out")"
expect "exit code" "$rc" 130
expect "outcome" "$(sim_field outcome "$(cat "$work/tool.out")")" interrupted

echo "== COM1 and COM2 at once"
for n in 1 2; do
  sim_start "$work/sim$n" --timeout 30 --out "$work/got$n.bin" || exit 1
  sim_link_com $n
done
json=$(cd "$work" && timeout 60 "$loader" "$exe" --json COM1 2 fw.bin 2>"$work/tool.err")
rc=$?
require_result "$json"
expect "exit code" "$rc" 0
expect "one JSON line per port" "$(grep -c . <<<"$json")" 2
for n in 1 2; do
  line=$(grep "\"port\":\"COM$n\"" <<<"$json")
  expect "COM$n outcome" "$(sim_field outcome "$line")" success
  sim_use "$work/sim$n"
  sim_end
  expect "COM$n simulator outcome" "$(sim_field outcome "$(sed -n '2p' "$work/sim$n.out")")" complete
  if same_image "$work/got$n.bin"; then
    echo "ok: COM$n image arrived byte for byte"
  else
    echo "FAIL: the image received on COM$n differs" >&2
    failures=$((failures + 1))
  fi
done
[[ $failures -eq 0 ]] || { cat "$work/tool.err" >&2; echo "$json" >&2; }
# COM2 and 2 are one port.
(cd "$work" && timeout 60 "$loader" "$exe" COM2 2 fw.bin >/dev/null 2>"$work/tool.err")
expect "one port twice: exit code" "$?" 2
expect "one port twice: usage line" "$(head -n 1 "$work/tool.err" | tr -d '\r')" \
  "usage: qz450-upload [options] PORT [PORT...] FIRMWARE.bin"

if ((failures)); then
  echo "FAILED: $failures check(s)" >&2
  exit 1
fi
echo "PASSED"
