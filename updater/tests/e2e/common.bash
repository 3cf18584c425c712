# Shared by the end-to-end scripts (sourced): the Wine session, the probe, checks, screenshots.

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Runs the calling script inside a private Wine session unless it already is in one.
# Usage: e2e_session "$0" "$@"
e2e_session() {
  if [[ -z ${WINEPREFIX:-} || -z ${DISPLAY:-} ]]; then
    exec "$e2e_here/../../../scripts/with-wine" bash "$@"
  fi
}

# e2e_setup UPDATER_EXE PROBE_EXE: a new empty folder holding a copy of the program.
e2e_setup() {
  e2e_probe_exe=$2
  e2e_work=$(mktemp -d "${QZ_WINE_SESSION:-${TMPDIR:-/tmp}}/e2e.XXXXXX")
  e2e_failures=0
  trap e2e_cleanup EXIT
  app=$e2e_work/app
  mkdir -p "$app"
  cp "$1" "$app/Updater7304.exe"
}

# A program left running by a failed check is ended; the folder goes.
e2e_cleanup() {
  if [[ -n ${pid:-} ]] && ! (probe wait-exit "$pid" 0) >/dev/null 2>&1; then
    wine taskkill /f /pid "$pid" >/dev/null 2>&1 || true
  fi
  if [[ -n ${QZ_E2E_KEEP:-} ]]; then
    cp -r "$e2e_work" "$QZ_E2E_KEEP" && echo "kept: $QZ_E2E_KEEP"
  fi
  rm -rf "$e2e_work"
}

# The probe through the loader of the build's programs (QZ_WINE, set by CTest; "wine" otherwise).
# Its last line "probe_exit=STATUS" shows it ran: a 32-bit program under a Wine without its
# 32-bit side prints nothing and exits 0. Its output goes through a file: a program it starts
# must not hold a pipe of ours open. Now and then Wine fails to start a program at all
# ("ShellExecuteEx failed: Internal error."); the probe then never ran, so it is started again,
# at most three times.
probe() {
  local out err rc=0 try
  out=$(mktemp "$e2e_work/probe.XXXXXX")
  err=$(mktemp "$e2e_work/probe-err.XXXXXX")
  for try in 1 2 3; do
    rc=0
    "${QZ_WINE:-wine}" "$e2e_probe_exe" "$@" >"$out" 2>"$err" || rc=$?
    grep -q "ShellExecuteEx failed" "$err" || break
    echo "probe $1: Wine could not start the probe (attempt $try)" >&2
  done
  cat "$out"
  cat "$err" >&2
  rm -f "$err"
  if ! grep -q '^probe_exit=' "$out"; then
    rm -f "$out"
    touch "$e2e_work/probe-did-not-run"
    echo "FAIL: ui_probe printed no probe_exit line: it did not run under ${QZ_WINE:-wine} ($*)" >&2
    exit 1
  fi
  rm -f "$out"
  return "$rc"
}

# value NAME OUTPUT: the value of the line "NAME=..." in the probe's output.
value() { sed -n "s/^$1=//p" <<<"$2" | head -n 1; }

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect WHAT ACTUAL EXPECTED
expect() {
  if [[ $2 != "$3" ]]; then
    echo "FAIL: $1" >&2
    echo "  expected: [$3]" >&2
    echo "  actual:   [$2]" >&2
    e2e_failures=$((e2e_failures + 1))
  else
    echo "ok: $1"
  fi
}

# expect_file WHAT FILE EXPECTED_BYTES (printf format already applied)
expect_file() {
  if [[ ! -f $2 ]]; then
    echo "FAIL: $1: $2 does not exist" >&2
    e2e_failures=$((e2e_failures + 1))
  elif ! cmp -s "$2" <(printf '%s' "$3"); then
    echo "FAIL: $1" >&2
    echo "  expected bytes:" >&2
    printf '%s' "$3" | od -c | sed 's/^/    /' >&2
    echo "  actual bytes:" >&2
    od -c "$2" | sed 's/^/    /' >&2
    e2e_failures=$((e2e_failures + 1))
  else
    echo "ok: $1"
  fi
}

# Saves a picture of the whole screen when QZ_E2E_SHOTS names a folder. (QZ_E2E_KEEP names a
# folder that gets a copy of the work folder at the end, for a look after a failure.)
shot() {
  if [[ -n ${QZ_E2E_SHOTS:-} ]]; then
    mkdir -p "$QZ_E2E_SHOTS"
    import -window root "$QZ_E2E_SHOTS/$1.png" && echo "screenshot: $QZ_E2E_SHOTS/$1.png"
  fi
}

# start_updater: starts the copy in $app; sets pid and win_folder (the folder, Windows path).
start_updater() {
  local out
  # Through a file, not a pipe: the program must not hold our pipe open.
  probe start "$app/Updater7304.exe" >"$e2e_work/start.out" || fail "the program did not start"
  out=$(<"$e2e_work/start.out")
  pid=$(value pid "$out")
  local path
  path=$(value path "$out")
  win_folder=${path%\\*}
}

# end_by HOW...: ends the program with `probe HOW... TIMEOUT` (click PID Exit, close PID);
# the process ends with exit code 0.
end_by() {
  local out
  out=$(probe "$@" 30000) || fail "the program did not end after: $*"
  expect "process ended with exit code 0 after: $1 ${3:-}" "$(value exit_code "$out")" 0
}

e2e_finish() {
  # (a probe that did not run inside a $(...) ends only that subshell)
  [[ ! -e $e2e_work/probe-did-not-run ]] || fail "ui_probe did not run"
  if ((e2e_failures)); then
    echo "$e2e_failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}
