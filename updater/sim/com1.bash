# Shell helpers (sourced) that put qz450sim behind COM ports of the current Wine prefix (COM1
# unless told otherwise), for the end-to-end tests, the demo and the benchmarks. Needs
# WINEPREFIX; `sim` names the simulator. Several simulators may run at once, each known by the
# PREFIX it was started with; the functions below act on the current one.
#
#   sim_start PREFIX ARGS...  the simulator in the background with ARGS; its standard output and
#                             error go to PREFIX.out and PREFIX.err; it becomes the current one:
#                             sets sim_pid, sim_out (= PREFIX) and pty; fails (return 1) when no
#                             pty came
#   sim_use PREFIX            the simulator started with PREFIX is the current one again
#   sim_link_com [N]          COMN (default 1) of the prefix is the current simulator's pty from
#                             now on; sim_link_com1 is sim_link_com 1
#   sim_wait_summary [N]      waits until summary line N (default 1) is out, or the simulator
#                             has ended; sets sim_summary to it (empty when there is none)
#   sim_end                   waits for the simulator to end (it ends by itself after its
#                             uploads, or by --timeout)
#   sim_kill                  ends it now
#   sim_restore_coms          every simulator started here ended, every COM port linked here
#                             back as it was; sim_restore_com1 does the same
#   sim_field NAME JSON       the bare value of a top-level field of a summary ("a,b" for a list)
#
# sim_wait_summary, sim_end, sim_kill and sim_restore_coms must run in the shell that called
# sim_start, not in a $(...) subshell: only that shell can wait for its children.

sim_pid=""
sim_out=""
pty=""
sim_summary=""
declare -gA sim_pids=()       # PREFIX -> pid (empty once ended)
declare -gA sim_ptys=()       # PREFIX -> pty
declare -gA sim_com_before=() # N -> where COMN pointed before it was linked here ("" for nothing)

sim_start() {
  sim_out=$1
  shift
  # Made here, not by the redirection in the child, so that the reads below never miss them.
  : >"$sim_out.out"
  : >"$sim_out.err"
  "$sim" "$@" >"$sim_out.out" 2>"$sim_out.err" &
  sim_pid=$!
  sim_pids[$sim_out]=$sim_pid
  pty=""
  local _
  for _ in $(seq 200); do
    pty=$(sed -n 's/^PTY //p' "$sim_out.out" | head -n 1)
    if [[ -n $pty ]]; then
      sim_ptys[$sim_out]=$pty
      return 0
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  echo "the simulator gave no pty:" >&2
  cat "$sim_out.err" >&2
  return 1
}

sim_use() {
  sim_out=$1
  sim_pid=${sim_pids[$1]:-}
  pty=${sim_ptys[$1]:-}
}

# Wine's device manager reads the registry mapping when it starts; the running session uses the
# device link made from it, so both are set.
sim_link_com() {
  local n=${1:-1}
  local link=$WINEPREFIX/dosdevices/com$n
  if [[ ! -v sim_com_before[$n] ]]; then
    sim_com_before[$n]=$(readlink "$link" 2>/dev/null || true)
  fi
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$pty" /f >/dev/null 2>&1
  ln -sfn "$pty" "$link"
}

sim_link_com1() { sim_link_com 1; }

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
  if [[ -n $sim_out ]]; then sim_pids[$sim_out]=""; fi
}

sim_kill() {
  if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null || true; fi
  sim_end
}

sim_restore_coms() {
  local prefix n
  for prefix in "${!sim_pids[@]}"; do
    sim_use "$prefix"
    sim_kill
  done
  for n in "${!sim_com_before[@]}"; do
    wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$n" /f >/dev/null 2>&1 || true
    if [[ -n ${sim_com_before[$n]} ]]; then
      ln -sfn "${sim_com_before[$n]}" "$WINEPREFIX/dosdevices/com$n"
    else
      rm -f "$WINEPREFIX/dosdevices/com$n"
    fi
    unset "sim_com_before[$n]"
  done
}

sim_restore_com1() { sim_restore_coms; }

sim_field() { sed -n "s/.*\"$1\":\\(\"[^\"]*\"\\|\\[[^]]*\\]\\|[^,}]*\\).*/\\1/p" <<<"$2" | tr -d '"[]'; }
