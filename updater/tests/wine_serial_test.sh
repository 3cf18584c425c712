#!/usr/bin/env bash
# Runs the Win32 transport tests (updater_win32_serial_port_win_test.exe) under Wine on COM
# ports backed by ptys: COM21 echoes, COM22 runs lrzsz rx on demand (wine_serial_peer.py).
# Runs inside the current Wine session, or starts one through scripts/with-wine.
#
#   updater/tests/wine_serial_test.sh TEST_EXE [GTEST ARGS...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${WINEPREFIX:-} || -z ${QZ_WINE_SESSION:-} ]]; then
  exec "$here/../../scripts/with-wine" bash "${BASH_SOURCE[0]}" "$@"
fi
test_exe=$(realpath "$1")
shift

echo_com=21
rx_com=22
work=$(mktemp -d "$QZ_WINE_SESSION/serial.XXXXXX")
peers=()

cleanup() {
  local rc=$?
  for pid in "${peers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for n in $echo_com $rx_com; do
    wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$n" /f >/dev/null 2>&1 || true
    rm -f "$WINEPREFIX/dosdevices/com$n"
  done
  if ((rc != 0)) && [[ -s $work/rx-files/rx.log ]]; then
    echo "== rx.log" >&2
    cat "$work/rx-files/rx.log" >&2
  fi
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT

python3 "$here/wine_serial_peer.py" --link "$work/echo" --echo >/dev/null &
peers+=($!)
python3 "$here/wine_serial_peer.py" --link "$work/rx" --rx-dir "$work/rx-files" >/dev/null &
peers+=($!)
for _ in $(seq 100); do [[ -L $work/echo && -L $work/rx ]] && break; sleep 0.05; done
[[ -L $work/echo && -L $work/rx ]] || { echo "wine_serial_test: the pty peers did not start" >&2; exit 1; }

# The registry value keeps the mapping for later sessions; the link makes it live in this one.
map_port() {
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}
map_port $echo_com "$work/echo"
map_port $rx_com "$work/rx"

export QZ_WINTEST_ECHO_COM=$echo_com
export QZ_WINTEST_RX_COM=$rx_com
export QZ_WINTEST_RX_DIR="Z:${work//\//\\}\\rx-files"
# Through the loader of the build's programs (QZ_WINE, set by CTest), requiring GoogleTest's
# closing line: a program that did not run prints nothing.
bash "$here/../../cmake/run-gtest.sh" "${QZ_WINE:-wine}" "$test_exe" "$@"
