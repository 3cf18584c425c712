#!/usr/bin/env bash
# Benchmark (not a test): Updater7304.exe under Wine, clicked by the probe, against the
# simulated bootloader on COM1. Prints, from one run:
#  - the answer time: from the simulator sending "%" to "{" arriving, over N uploads of a
#    one-block image (median goal <= 2 ms, 99th percentile goal <= 20 ms). The simulator sends
#    its first "%" 700 ms after the last wake-up, past the window's 500 ms listening pause, so
#    each "%" reaches a window that is already polling;
#  - a 64 KiB upload on the paced 57600-baud link, click to "Success!", against the fixed
#    pauses of the sequence (1.0 s) plus the XMODEM framing ceiling (128 of every 133 bytes on
#    the line are image bytes, 5760 bytes per second): goal ratio <= 1.05.
#
#   bench/window_upload_bench.sh [UPDATER_EXE UI_PROBE_EXE QZ450SIM]
#
# QZ_BENCH_UPLOADS sets N (default 100). Defaults: build/win64's programs, and the simulator
# of build/linux-release (else build/linux).
set -eEuo pipefail
# A step that fails without a message of its own still says where the run stopped.
trap 'echo "FAIL: the benchmark stopped at line $LINENO: $BASH_COMMAND" >&2' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/updater/tests/e2e/common.bash"
e2e_session "$0" "$@"

updater=$(realpath -m "${1:-$root/build/win64/Updater7304.exe}")
probe_exe=$(realpath -m "${2:-$root/build/win64/tests/ui_probe.exe}")
sim=${3:-$root/build/linux-release/qz450sim}
[[ -x $sim ]] || sim=$root/build/linux/qz450sim
sim=$(realpath -m "$sim")
for program in "$updater" "$probe_exe" "$sim"; do
  [[ -f $program ]] || { echo "bench: $program is missing" >&2; exit 2; }
done
uploads=${QZ_BENCH_UPLOADS:-100}

e2e_setup "$updater" "$probe_exe"
source "$root/updater/sim/com1.bash"
trap 'sim_restore_com1; e2e_cleanup' EXIT

# upload NAME SIM_ARGS...: one click on UpLoad with a new simulator behind COM1; the success
# box is confirmed; sets sim_summary and click_to_box_ms.
upload() {
  local name=$1 out
  shift
  sim_start "$e2e_work/$name" --timeout 60 --out "$e2e_work/$name.bin" "$@" || fail "the simulator did not start"
  sim_link_com1 || fail "upload $name: COM1 could not be linked to the simulator"
  out=$(probe upload "$pid" 120000) || fail "upload $name: no message box: $out"
  [[ $(value box_title "$out") == "Success!" ]] || fail "upload $name: $(value box_title "$out"): $(value box_text "$out")"
  click_to_box_ms=$(value box_after_ms "$out")
  probe msgbox "$pid" 30000 ok >/dev/null || fail "upload $name: the \"Success!\" box did not close on OK"
  sim_wait_summary
  sim_end
  [[ $(sim_field outcome "$sim_summary") == complete ]] || fail "upload $name: $sim_summary"
  out=$(probe wait-text "$pid" Status "Status: Idle" 30000) ||
    fail "upload $name: the window is not back at Idle; its status reads \"$(value text "$out")\" (probe: ${out//$'\n'/; })"
}

# start_window FILE: the window on port 1 and FILE, as if chosen last time.
start_window() {
  printf '1\r\n"%s"\r\n' "$(winepath -w "$1")" >"$app/updater7304.ini"
  start_updater
  probe dump "$pid" 30000 >/dev/null || fail "the window did not show"
}

head -c 128 /dev/urandom >"$e2e_work/one-block.bin"
start_window "$e2e_work/one-block.bin"
: >"$e2e_work/answers"
for ((i = 1; i <= uploads; ++i)); do
  upload "answer$i" --percent-after-ms 700 --percent-ms 1000
  sim_field start_to_answer_ms "$sim_summary" >>"$e2e_work/answers"
  if ((i % 10 == 0)); then echo "bench: $i of $uploads uploads" >&2; fi
done
end_by click "$pid" Exit >/dev/null

size=65536
head -c $size /dev/urandom >"$e2e_work/64k.bin"
start_window "$e2e_work/64k.bin"
upload whole --pace
cmp -s <(head -c $size "$e2e_work/whole.bin") "$e2e_work/64k.bin" || fail "the 64 KiB image differs"
whole_ms=$click_to_box_ms
whole_transfer_ms=$(sim_field transfer_ms "$sim_summary")
end_by click "$pid" Exit >/dev/null

echo "answer time, \"%\" sent to \"{\" arrived, $uploads uploads through the window"
sort -n "$e2e_work/answers" | awk '{ v[NR] = $1 } END {
  median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  p99 = v[int((99 * NR + 99) / 100)]
  printf "  median %.3f ms, 99th percentile %.3f ms, slowest %.3f ms\n", median, p99, v[NR]
  printf "ratio median / 2 ms goal:               %.3f (goal <= 1)\n", median / 2
  printf "ratio 99th percentile / 20 ms goal:     %.3f (goal <= 1)\n", p99 / 20 }'
awk -v n=$size -v w="$whole_ms" -v t="$whole_transfer_ms" 'BEGIN {
  ceiling = int((n + 127) / 128) * 133 / 5760 * 1000
  floor = 1000 + ceiling
  printf "64 KiB image, 57600 baud paced link, click to \"Success!\"\n"
  printf "  fixed pauses 1000 ms + framing ceiling %.0f ms = %.0f ms; measured %.0f ms (transfer %.0f ms)\n", ceiling, floor, w, t
  printf "ratio measured / (pauses + ceiling):    %.3f (goal <= 1.05)\n", w / floor }'
