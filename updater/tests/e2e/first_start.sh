#!/usr/bin/env bash
# First start, settings file and restore, as a new user meets them:
# - the first start in an empty folder warns that the settings file could not be loaded, before
#   the window shows; the window then shows its title, "Status: Idle", the port text "0" with
#   the eight ports, the controls at their places, Browse focused;
# - Tab walks the controls in tab order; "w" and "x" typed alone on a button do nothing; Exit
#   (here by its access key Alt+X) writes updater7304.ini byte for byte;
# - a second start restores port, path (with commas) and geometry; a picked port and a typed
#   path are saved;
# - "Window State" 2 starts maximised; the close box saves too.
#
# Usage: first_start.sh UPDATER_EXE UI_PROBE_EXE [QZ450SIM (not used)]
set -euo pipefail
source "$(dirname "$0")/common.bash"
e2e_session "$0" "$@"
e2e_setup "$1" "$2"
ini=$app/updater7304.ini
crlf=$'\r\n'

echo "== first start in an empty folder"
start_updater
out=$(probe msgbox "$pid" 30000) || fail "no message box at the first start"
shot first-start-warning
expect "warning title" "$(value title "$out")" "Updater7304"
expect "warning text" "$(value text "$out")" \
  "An error occured while loading file $win_folder\\updater7304.ini. The default settings will be loaded instead."
expect "warning has one OK button" "$(value buttons "$out")" "OK"
expect "window not shown while the warning is up" "$(value main_visible "$out")" 0
probe msgbox "$pid" 10000 ok >/dev/null || fail "the warning did not close"

out=$(probe dump "$pid" 30000) || fail "the window did not show"
shot first-start-window
expect "title" "$(value title "$out")" "Velkor 7304 Updater Version 7.0.3"
expect "no further message box" "$(value message_box "$out")" 0
expect "status" "$(value Status.text "$out")" "Status: Idle"
expect "port text" "$(value ComPortSet.text "$out")" "0"
expect "port list" "$(value ComPortSet.items "$out")" "1|2|3|4|5|6|7|8"
expect "no port picked" "$(value ComPortSet.selected "$out")" "-1"
expect "file box empty" "$(value FileText.text "$out")" ""
expect "client area 7860 x 6405 twips" "$(value client "$out")" "524x427"
expect "not maximised" "$(value zoomed "$out")" 0
expect "Browse has the focus" "$(value focus "$out")" "Browse"
expect "tab order" "$(value tab_order "$out")" "Browse|FileText|ComPortSet|UpLoad|Exit"
# Places in client pixels (twips / 15): left, top, right, bottom.
expect "Frame1 place" "$(value Frame1.place "$out")" "24,8,97,57"
expect "Label1 place" "$(value Label1.place "$out")" "24,8,73,25"
expect "ComPortSet left and top" "$(value ComPortSet.place "$out" | cut -d, -f1,2)" "40,24"
expect "Frame2 place" "$(value Frame2.place "$out")" "8,64,513,185"
expect "FileText place" "$(value FileText.place "$out")" "24,88,425,115"
expect "Browse place" "$(value Browse.place "$out")" "440,72,505,97"
expect "UpLoad place" "$(value UpLoad.place "$out")" "168,128,353,169"
expect "Status place" "$(value Status.place "$out")" "144,192,449,209"
expect "transfer control area" "$(value BravlinkCRC2.place "$out")" "104,216,425,377"
expect "Exit place" "$(value Exit.place "$out")" "208,388,321,421"
for control in Browse UpLoad Exit FileText ComPortSet Label1 Status BravlinkCRC2; do
  expect "$control enabled and visible" \
    "$(value "$control.enabled" "$out")$(value "$control.visible" "$out")" "11"
done

# The keyboard walks the tab stops in order and wraps; Alt+X is the Exit button. A letter typed
# alone is no access key, whichever button has the focus: "x" and "w" change nothing.
focus=Browse
for next in FileText ComPortSet UpLoad Exit Browse; do
  if [[ $focus == Browse || $focus == UpLoad || $focus == Exit ]]; then
    probe key "$pid" w >/dev/null
    probe key "$pid" x >/dev/null
  fi
  probe key "$pid" tab >/dev/null
  now=$(probe dump "$pid" 10000) || fail "the window is gone after the keys typed on $focus"
  expect "Tab moves the focus to $next" "$(value focus "$now")" "$next"
  if [[ $focus == Browse || $focus == UpLoad || $focus == Exit ]]; then
    expect "\"w\" and \"x\" on $focus: no message box, still idle" \
      "$(value message_box "$now") $(value Status.text "$now")" "0 Status: Idle"
  fi
  focus=$next
done

IFS=, read -r left top right bottom <<<"$(value window "$out")"
end_by key "$pid" alt+x
expect_file "settings file written at Exit" "$ini" \
  "0${crlf}\"\"${crlf}[Main]${crlf}Window Width=$(((right - left) * 15))${crlf}Window Height=$(((bottom - top) * 15))${crlf}Window Top=$((top * 15))${crlf}Window Left=$((left * 15))${crlf}Window State=0${crlf}"

echo "== second start restores port, path and geometry"
path='C:\Firmware, 2024\QZ450 image, v7.bin'
printf '5\r\n"%s"\r\n[Main]\r\nWindow Width=9000\r\nWindow Height=7800\r\nWindow Top=1200\r\nWindow Left=2400\r\nWindow State=0\r\n' \
  "$path" >"$ini"
start_updater
out=$(probe dump "$pid" 30000) || fail "the window did not show"
shot second-start-window
expect "no message box" "$(value message_box "$out")" 0
expect "port restored" "$(value ComPortSet.text "$out")" "5"
expect "path with commas restored" "$(value FileText.text "$out")" "$path"
expect "geometry restored (left, top, right, bottom)" "$(value window "$out")" "160,80,760,600"
expect "not maximised" "$(value zoomed "$out")" 0

# Pick the third port; type a path by hand.
probe select "$pid" 2 >/dev/null
typed='D:\typed, by hand\fw.bin'
probe settext "$pid" FileText "$typed" >/dev/null
out=$(probe dump "$pid" 10000)
expect "port 3 picked" "$(value ComPortSet.text "$out")" "3"
end_by click "$pid" Exit
expect_file "picked port, typed path and geometry saved" "$ini" \
  "3${crlf}\"$typed\"${crlf}[Main]${crlf}Window Width=9000${crlf}Window Height=7800${crlf}Window Top=1200${crlf}Window Left=2400${crlf}Window State=0${crlf}"

echo "== Window State 2 starts maximised"
printf '3\r\n"%s"\r\n[Main]\r\nWindow Width=9000\r\nWindow Height=7800\r\nWindow Top=1200\r\nWindow Left=2400\r\nWindow State=2\r\n' \
  "$typed" >"$ini"
start_updater
out=$(probe dump "$pid" 30000) || fail "the window did not show"
shot maximised-window
expect "maximised" "$(value zoomed "$out")" 1
expect "status" "$(value Status.text "$out")" "Status: Idle"
expect "port" "$(value ComPortSet.text "$out")" "3"
end_by close "$pid"
expect "records saved by the close box" "$(head -n 2 "$ini" | tr -d '\r')" "3"$'\n'"\"$typed\""
expect "state saved by the close box" "$(grep -a '^Window State=' "$ini" | tr -d '\r')" "Window State=2"

e2e_finish
