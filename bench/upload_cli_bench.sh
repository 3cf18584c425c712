#!/usr/bin/env bash
# Benchmark (not a test): 64 KiB uploads with `qz450-upload --no-wake` on the simulator's paced
# link (57600 baud, 5760 bytes per second each way), measured in one run:
#  - one port against the XMODEM framing ceiling at 57600 baud: 128 of every 133 bytes on the
#    line are image bytes, so at best 128/133 * 5760 bytes per second (goal: at least 0.98 of
#    it; the ACK that answers each block costs 0.75 % on its own);
#  - lrzsz `sx` sending the same image with 128-byte blocks on the same link (goal: no slower);
#  - 8 ports at once, one simulator each: the slowest port's transfer against the single
#    port's (goal: at most 1.05, the tool sleeps on its lines and never spins), and the tool's
#    processor time against the run's wall time (goal: under 5 % of one core).
# Transfer times are the simulators' own (first request to the end). Prints the load average
# too: the figures are only as good as the machine is quiet.
#
#   bench/upload_cli_bench.sh [RUNS]     RUNS runs (default 1): the single port's best, and the
#                                        8 ports' median ratio (each ratio from one run)
#
# QZ_BUILD names the build folder with qz450-upload and qz450sim (default: build/linux-release
# when it has them, else build/linux). QZ_BENCH_PORTS changes the 8.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-1}
ports=${QZ_BENCH_PORTS:-8}
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
sim_pids=()
# Never fails: a simulator that has ended already must not turn the benchmark's status into a
# failure after its figures were printed.
cleanup() {
  if ((${#sim_pids[@]})); then kill "${sim_pids[@]}" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

size=65536
head -c $size /dev/urandom >"$work/fw.bin"

now() { date +%s.%N; }

# start_sims N: N simulators, each waiting in its bootloader; sets ptys.
start_sims() {
  local i pty
  sim_pids=()
  ptys=()
  for ((i = 0; i < $1; ++i)); do
    # Emptied here, not by the redirection in the child: the read below must never see the last
    # run's pty, nor a file not made yet.
    : >"$work/sim$i.out"
    "$build/qz450sim" --timeout 120 --pace --awake --out "$work/received$i.bin" >"$work/sim$i.out" 2>"$work/sim$i.err" &
    sim_pids+=($!)
  done
  for ((i = 0; i < $1; ++i)); do
    pty=""
    for _ in $(seq 200); do
      pty=$(sed -n 's/^PTY //p' "$work/sim$i.out" | head -n 1)
      [[ -n $pty ]] && break
      sleep 0.025
    done
    [[ -n $pty ]] || { echo "bench: simulator $i gave no pty" >&2; exit 1; }
    ptys+=("$pty")
  done
}

# sim_transfer_seconds I: simulator I's transfer time (first request to the end) in seconds,
# once it has ended; the upload checked.
sim_transfer_seconds() {
  local summary
  summary=$(sed -n '2p' "$work/sim$1.out")
  if [[ $summary != *'"outcome":"complete"'* ]]; then
    echo "bench: the upload on simulator $1 failed: $summary" >&2
    exit 1
  fi
  cmp -s <(head -c $size "$work/received$1.bin") "$work/fw.bin" || { echo "bench: image $1 differs" >&2; exit 1; }
  sed -n 's/.*"transfer_ms":\([0-9.]*\).*/\1/p' <<<"$summary" | awk '{printf "%.6f", $1 / 1000}'
}

wait_sims() {
  wait "${sim_pids[@]}" || true
  sim_pids=()
}

# tool ARGS...: qz450-upload --no-wake --quiet ARGS; sets whole (wall seconds) and cpu (user +
# system seconds of the tool).
tool() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f "%U %S" -o "$work/time.txt" "$build/qz450-upload" --no-wake --quiet "$@"
  t1=$(now)
  whole=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
  cpu=$(awk '{ printf "%.6f", $1 + $2 }' "$work/time.txt")
}

ceiling=$(awk -v n=$size 'BEGIN { blocks = int((n + 127) / 128); printf "%.6f", blocks * 133 / 5760 }')
min() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b + 0 < a + 0) print b; else print a }'; }

best_whole=""; best_transfer=""; best_sx_whole=""; best_sx_transfer=""
gang_ratios=(); gang_cpu_shares=()
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

for ((run = 1; run <= runs; ++run)); do
  # One port: the controller is already in its bootloader.
  start_sims 1
  tool "${ptys[0]}" "$work/fw.bin"
  wait_sims
  single=$(sim_transfer_seconds 0)
  best_whole=$(min "$best_whole" "$whole")
  best_transfer=$(min "$best_transfer" "$single")

  if ((have_sx)); then
    # sx on the same paced link at 57600 baud: "{" wakes the simulator's receive, then sx sends.
    start_sims 1
    exec 3<>"${ptys[0]}"
    stty -F "${ptys[0]}" 57600 raw -echo
    t0=$(now)
    printf '{' >&3
    sx -q "$work/fw.bin" <&3 >&3 2>/dev/null
    t1=$(now)
    exec 3>&-
    wait_sims
    best_sx_transfer=$(min "$best_sx_transfer" "$(sim_transfer_seconds 0)")
    best_sx_whole=$(min "$best_sx_whole" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')")
  fi

  # All ports at once.
  start_sims "$ports"
  tool "${ptys[@]}" "$work/fw.bin" >/dev/null
  wait_sims
  slowest=0
  for ((i = 0; i < ports; ++i)); do
    slowest=$(awk -v a="$slowest" -v b="$(sim_transfer_seconds $i)" 'BEGIN { print (b > a ? b : a) }')
  done
  ratio=$(awk -v s="$slowest" -v t="$single" 'BEGIN { printf "%.6f", s / t }')
  share=$(awk -v c="$cpu" -v w="$whole" 'BEGIN { printf "%.6f", c / w }')
  gang_ratios+=("$ratio")
  gang_cpu_shares+=("$share")
  printf 'run %d: one port %.3f s; %d ports at once: slowest %.3f s, ratio %.3f, processor %.1f %% of one core\n' \
    "$run" "$single" "$ports" "$slowest" "$ratio" "$(awk -v s="$share" 'BEGIN { print s * 100 }')"
done

echo "64 KiB image, 57600 baud paced link, best of $runs run(s); load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '  XMODEM framing ceiling:              %8.3f s\n' "$ceiling"
printf '  qz450-upload --no-wake, whole run:   %8.3f s   (transfer %.3f s)\n' "$best_whole" "$best_transfer"
((have_sx)) && printf '  sx (lrzsz), whole run:               %8.3f s   (transfer %.3f s)\n' "$best_sx_whole" "$best_sx_transfer"
awk -v c="$ceiling" -v w="$best_whole" -v t="$best_transfer" 'BEGIN {
  printf "ratio ceiling / qz450-upload transfer:      %.3f (goal >= 0.98)\n", c / t
  printf "ratio ceiling / qz450-upload whole run:     %.3f\n", c / w }'
if ((have_sx)); then
  awk -v sw="$best_sx_whole" -v st="$best_sx_transfer" -v w="$best_whole" -v t="$best_transfer" 'BEGIN {
    printf "ratio sx / qz450-upload transfer time:      %.3f (goal >= 1: no slower)\n", st / t
    printf "ratio sx / qz450-upload whole run:          %.3f\n", sw / w }'
fi
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
awk -v r="$(median "${gang_ratios[@]}")" -v p="$ports" -v c="$(median "${gang_cpu_shares[@]}")" 'BEGIN {
  printf "ratio slowest of %d ports / one port:        %.3f (goal <= 1.05)\n", p, r
  printf "processor time of the %d-port run:           %.1f %% of one core (goal < 5 %%)\n", p, c * 100 }'
