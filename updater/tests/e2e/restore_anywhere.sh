#!/usr/bin/env bash
# The settings come back wherever they were left:
# - geometry saved while minimised (-32000 pixels, a tiny size) or on a monitor since unplugged:
#   the window starts inside the screen, in the saved state;
# - a program folder named with characters outside the ANSI code page: the settings file is
#   read without a warning and written back with the same ANSI bytes, no byte-order mark.
#
# Usage: restore_anywhere.sh UPDATER_EXE UI_PROBE_EXE [QZ450SIM (not used)]
set -euo pipefail
source "$(dirname "$0")/common.bash"
e2e_session "$0" "$@"
e2e_setup "$1" "$2"
ini=$app/updater7304.ini

# settings_file PORT PATH WIDTH HEIGHT TOP LEFT STATE: the bytes a shut-down writes.
settings_file() {
  printf '%s\r\n"%s"\r\n[Main]\r\nWindow Width=%s\r\nWindow Height=%s\r\nWindow Top=%s\r\nWindow Left=%s\r\nWindow State=%s\r\n' "$@"
}

# inside WHAT RECT SCREEN: the rectangle (left,top,right,bottom) lies on the screen.
inside() {
  local l t r b sl st sr sb
  IFS=, read -r l t r b <<<"$2"
  IFS=, read -r sl st sr sb <<<"$3"
  expect "$1 ($2) lies on the screen ($3)" \
    "$((l >= sl && t >= st && r <= sr && b <= sb && r > l && b > t))" 1
}

echo "== closed while minimised: starts minimised, comes back on the screen at its design size"
settings_file 2 'C:\fw.bin' 2400 420 -480000 -480000 1 >"$ini"
start_updater
out=$(probe dump "$pid" 30000) || fail "the window did not show"
expect "minimised" "$(value iconic "$out")" 1
probe restore "$pid"
out=$(probe dump "$pid" 10000) || fail "the window is gone"
expect "restored" "$(value iconic "$out")" 0
window=$(value window "$out")
inside "restored window" "$window" "$(value screen "$out")"
expect "restored window at its design client size (7860 x 6405 twips)" "$(value client "$out")" "524x427"
end_by click "$pid" Exit

echo "== saved on a monitor since unplugged: inside the screen, saved size kept"
settings_file 2 'C:\fw.bin' 9000 7800 -90000 150000 0 >"$ini"
start_updater
out=$(probe dump "$pid" 30000) || fail "the window did not show"
window=$(value window "$out")
inside "window" "$window" "$(value screen "$out")"
IFS=, read -r l t r b <<<"$window"
expect "size kept (pixels)" "$((r - l))x$((b - t))" "600x520"
end_by click "$pid" Exit

echo "== a program folder outside the ANSI code page"
# Cyrillic and CJK letters: outside the code page of the session.
far="$e2e_work/Прошивка 更新"
mkdir -p "$far"
mv "$app/Updater7304.exe" "$far/"
app=$far
ini=$app/updater7304.ini
saved=$(settings_file 4 'C:\Firmware\QZ450 image.bin' 9000 7800 1200 2400 0 && echo .)
saved=${saved%.}
printf '%s' "$saved" >"$ini"
start_updater
out=$(probe dump "$pid" 30000) || fail "the window did not show; message box: $(probe msgbox "$pid" 1000 | tr '\n' ' ')"
expect "no message box" "$(value message_box "$out")" 0
expect "port restored" "$(value ComPortSet.text "$out")" "4"
expect "path restored" "$(value FileText.text "$out")" 'C:\Firmware\QZ450 image.bin'
expect "geometry restored" "$(value window "$out")" "160,80,760,600"
end_by click "$pid" Exit
expect_file "the same ANSI bytes written back, no byte-order mark" "$ini" "$saved"

e2e_finish
