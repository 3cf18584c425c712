#!/usr/bin/env bash
# Benchmark (not a test): a 64 KiB upload with `qz450-upload --no-wake` on the simulator's
# paced link (57600 baud, 5760 bytes per second each way), against
#  - the XMODEM framing ceiling at 57600 baud: 128 of every 133 bytes on the line are image
#    bytes, so at best 128/133 * 5760 bytes per second (goal: at least 0.97 of it);
#  - lrzsz `sx` sending the same image with 128-byte blocks on the same link (goal: no slower).
# Prints the measured times and the ratios, from one run.
#
#   bench/upload_cli_bench.sh [RUNS]
#
# QZ_BUILD names the build folder with qz450-upload and qz450sim (default: build/linux-release
# when it has them, else build/linux).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-1}
build=${QZ_BUILD:-}
if [[ -z $build ]]; then
  build=$root/build/linux-release
  [[ -x $build/qz450-upload && -x $build/qz450sim ]] || build=$root/build/linux
fi
for program in qz450-upload qz450sim; do
  [[ -x $build/$program ]] || { echo "bench: $build/$program is missing" >&2; exit 2; }
done
have_sx=1
command -v sx >/dev/null || { have_sx=0; echo "bench: lrzsz's sx is not installed (apt-get install lrzsz): no comparison with it" >&2; }

work=$(mktemp -d)
sim_pid=""
# Never fails: a simulator that has ended already must not turn the benchmark's status into a
# failure after its figures were printed.
cleanup() {
  if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

size=65536
head -c $size /dev/urandom >"$work/fw.bin"

now() { date +%s.%N; }

# start_sim ARGS...: sets pty.
start_sim() {
  # Emptied here, not by the redirection in the child: the read below must never see the last
  # run's pty, nor a file not made yet.
  : >"$work/sim.out"
  "$build/qz450sim" --timeout 60 --pace "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  pty=""
  for _ in $(seq 200); do
    pty=$(sed -n 's/^PTY //p' "$work/sim.out" | head -n 1)
    [[ -n $pty ]] && break
    sleep 0.025
  done
  [[ -n $pty ]] || { echo "bench: the simulator gave no pty" >&2; exit 1; }
}

# The simulator's summary: its transfer time (first request to the end) in seconds, checked.
sim_transfer_seconds() {
  wait "$sim_pid" || true
  sim_pid=""
  local summary
  summary=$(sed -n '2p' "$work/sim.out")
  if [[ $summary != *'"outcome":"complete"'* ]]; then
    echo "bench: the upload failed: $summary" >&2
    exit 1
  fi
  cmp -s <(head -c $size "$work/received.bin") "$work/fw.bin" || { echo "bench: image differs" >&2; exit 1; }
  sed -n 's/.*"transfer_ms":\([0-9.]*\).*/\1/p' <<<"$summary" | awk '{printf "%.6f", $1 / 1000}'
}

ceiling=$(awk -v n=$size 'BEGIN { blocks = int((n + 127) / 128); printf "%.6f", blocks * 133 / 5760 }')

best_tool_whole=""; best_tool_transfer=""; best_sx_whole=""; best_sx_transfer=""
min() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b + 0 < a + 0) print b; else print a }'; }

for ((run = 1; run <= runs; ++run)); do
  # qz450-upload: the controller is already in its bootloader.
  start_sim --awake --out "$work/received.bin"
  t0=$(now)
  "$build/qz450-upload" --no-wake --quiet "$pty" "$work/fw.bin"
  t1=$(now)
  tool_transfer=$(sim_transfer_seconds)
  tool_whole=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
  best_tool_whole=$(min "$best_tool_whole" "$tool_whole")
  best_tool_transfer=$(min "$best_tool_transfer" "$tool_transfer")

  if ((have_sx)); then
    # sx on the same paced link at 57600 baud: "{" wakes the simulator's receive, then sx sends.
    start_sim --awake --out "$work/received.bin"
    exec 3<>"$pty"
    stty -F "$pty" 57600 raw -echo
    t0=$(now)
    printf '{' >&3
    sx -q "$work/fw.bin" <&3 >&3 2>/dev/null
    t1=$(now)
    exec 3>&-
    sx_transfer=$(sim_transfer_seconds)
    sx_whole=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
    best_sx_whole=$(min "$best_sx_whole" "$sx_whole")
    best_sx_transfer=$(min "$best_sx_transfer" "$sx_transfer")
  fi
done

echo "64 KiB image, 57600 baud paced link, best of $runs run(s)"
printf '  XMODEM framing ceiling:              %8.3f s\n' "$ceiling"
printf '  qz450-upload --no-wake, whole run:   %8.3f s   (transfer %.3f s)\n' "$best_tool_whole" "$best_tool_transfer"
((have_sx)) && printf '  sx (lrzsz), whole run:               %8.3f s   (transfer %.3f s)\n' "$best_sx_whole" "$best_sx_transfer"
awk -v c="$ceiling" -v w="$best_tool_whole" -v t="$best_tool_transfer" 'BEGIN {
  printf "ratio ceiling / qz450-upload whole run:     %.3f (goal >= 0.97)\n", c / w
  printf "ratio ceiling / qz450-upload transfer:      %.3f\n", c / t }'
if ((have_sx)); then
  awk -v sw="$best_sx_whole" -v st="$best_sx_transfer" -v w="$best_tool_whole" -v t="$best_tool_transfer" 'BEGIN {
    printf "ratio sx / qz450-upload transfer time:      %.3f (goal >= 1: no slower)\n", st / t
    printf "ratio sx / qz450-upload whole run:          %.3f\n", sw / w }'
fi
