# Shell helpers (sourced) that put qz450sim behind COM1 of the current Wine prefix, for the
# end-to-end tests, the demo and the benchmarks. Needs WINEPREFIX; `sim` names the simulator.
#
#   sim_start PREFIX ARGS...  the simulator in the background with ARGS; its standard output and
#                             error go to PREFIX.out and PREFIX.err; sets sim_pid, sim_out
#                             (= PREFIX) and pty; fails (return 1) when no pty came
#   sim_link_com1             COM1 of the prefix is the simulator's pty from now on
#   sim_wait_summary [N]      waits until summary line N (default 1) is out, or the simulator
#                             has ended; sets sim_summary to it (empty when there is none)
#   sim_end                   waits for the simulator to end (it ends by itself after its
#                             uploads, or by --timeout)
#   sim_kill                  ends it now
#   sim_restore_com1          COM1 and the simulator back as they were before sim_link_com1
#   sim_field NAME JSON       the bare value of a top-level field of a summary ("a,b" for a list)
#
# sim_wait_summary, sim_end and sim_kill must run in the shell that called sim_start, not in a
# $(...) subshell: only that shell can wait for its child.

sim_pid=""
sim_out=""
pty=""
sim_summary=""
sim_com1_link=""
sim_com1_before=""

sim_start() {
  sim_out=$1
  shift
  # Made here, not by the redirection in the child, so that the reads below never miss them.
  : >"$sim_out.out"
  : >"$sim_out.err"
  "$sim" "$@" >"$sim_out.out" 2>"$sim_out.err" &
  sim_pid=$!
  pty=""
  local _
  for _ in $(seq 200); do
    pty=$(sed -n 's/^PTY //p' "$sim_out.out" | head -n 1)
    [[ -n $pty ]] && return 0
    if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  echo "the simulator gave no pty:" >&2
  cat "$sim_out.err" >&2
  return 1
}

# Wine's device manager reads the registry mapping when it starts; the running session uses the
# device link made from it, so both are set.
sim_link_com1() {
  if [[ -z $sim_com1_link ]]; then
    sim_com1_link=$WINEPREFIX/dosdevices/com1
    sim_com1_before=$(readlink "$sim_com1_link" 2>/dev/null || true)
  fi
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
  ln -sfn "$pty" "$sim_com1_link"
}

sim_wait_summary() {
  local line=${1:-1}
  sim_summary=""
  while :; do
    # Line 1 is the pty; summaries follow, one per upload.
    sim_summary=$(sed -n "$((line + 1))p" "$sim_out.out")
    [[ -n $sim_summary ]] && return 0
    if [[ -z $sim_pid ]] || ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  sim_summary=$(sed -n "$((line + 1))p" "$sim_out.out")
}

# (if-statements: a failing command here must not end a caller that runs with errexit)
sim_end() {
  if [[ -n $sim_pid ]]; then wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=""
}

sim_kill() {
  if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null || true; fi
  sim_end
}

sim_restore_com1() {
  sim_kill
  [[ -n $sim_com1_link ]] || return 0
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM1 /f >/dev/null 2>&1 || true
  if [[ -n $sim_com1_before ]]; then ln -sfn "$sim_com1_before" "$sim_com1_link"; else rm -f "$sim_com1_link"; fi
  sim_com1_link=""
}

sim_field() { sed -n "s/.*\"$1\":\\(\"[^\"]*\"\\|\\[[^]]*\\]\\|[^,}]*\\).*/\\1/p" <<<"$2" | tr -d '"[]'; }
