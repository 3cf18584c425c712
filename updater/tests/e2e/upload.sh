#!/usr/bin/env bash
# The upload as a user does it, with the prefix's COM1 on the simulated bootloader:
# - pick port 1 in the list and the firmware with Browse (a name without "bin" brings the
#   question; OK reopens the dialog with that name, Cancel keeps it);
# - "Wait For Controller Then Upload": "Success!", the image arrives byte for byte, the
#   controller was woken at 9600, 57600 and 19200 baud and listened to at 57600;
# - a silent controller: the time-out message; a controller that cancels: no message; COM5
#   with nothing behind it: the port message; each time back to Idle with the controls enabled;
# - a second upload after all of these works;
# - Exit while the upload waits for the controller ends the program and saves the settings;
#   so does the close box while the file is being sent (the receiver is told: CAN).
#
# Usage: upload.sh UPDATER_EXE UI_PROBE_EXE [QZ450SIM]
# QZ450SIM defaults to the native build's build/linux/qz450sim.
set -euo pipefail
source "$(dirname "$0")/common.bash"
e2e_session "$0" "$@"
root=$(cd "$(dirname "$0")/../../.." && pwd)
sim=$(realpath -m "${3:-$root/build/linux/qz450sim}")
[[ -x $sim ]] || fail "the native simulator $sim is missing (build the linux preset first)"
e2e_setup "$1" "$2"
ini=$app/updater7304.ini
crlf=$'\r\n'

# COM1 of the prefix goes back to what it was at the end.
com1_link=$WINEPREFIX/dosdevices/com1
com1_before=$(readlink "$com1_link" 2>/dev/null || true)
sim_pid=""
restore_com1() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM1 /f >/dev/null 2>&1 || true
  if [[ -n $com1_before ]]; then ln -sfn "$com1_before" "$com1_link"; else rm -f "$com1_link"; fi
  e2e_cleanup
}
trap restore_com1 EXIT

# start_sim NAME ARGS...: the simulator on a new pty, linked as COM1; its output in NAME.*
start_sim() {
  local name=$1
  shift
  sim_out=$e2e_work/$name
  "$sim" --timeout 60 --trace "$sim_out.trace" --out "$sim_out.bin" "$@" >"$sim_out.out" 2>"$sim_out.err" &
  sim_pid=$!
  local pty=""
  for _ in $(seq 200); do
    pty=$(sed -n 's/^PTY //p' "$sim_out.out" | head -n 1)
    [[ -n $pty ]] && break
    sleep 0.05
  done
  [[ -n $pty ]] || fail "the simulator gave no pty"
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
  ln -sfn "$pty" "$com1_link"
}

# sim_summary: waits for the simulator to end; prints its summary line.
sim_summary() {
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  sed -n '2p' "$sim_out.out"
}

json_field() { sed -n "s/.*\"$1\":\\(\"[^\"]*\"\\|\\[[^]]*\\]\\|[^,}]*\\).*/\\1/p" <<<"$2" | tr -d '"[]'; }

# expect_idle: the window is back at Idle with the five controls enabled and no message box.
expect_idle() {
  local out
  out=$(probe dump "$pid" 10000)
  expect "$1: Status: Idle" "$(value Status.text "$out")" "Status: Idle"
  expect "$1: no message box" "$(value message_box "$out")" 0
  expect "$1: controls enabled" "$(for c in UpLoad FileText Browse Label1 ComPortSet; do value "$c.enabled" "$out"; done | tr -d '\n')" 11111
  area=$(value BravlinkCRC2.text "$out")
}

mkdir -p "$e2e_work/images"
head -c 3000 /dev/urandom >"$e2e_work/images/fw.bin"
printf 'notes' >"$e2e_work/images/notes.txt"

echo "== start, pick port 1 and the firmware file"
start_updater
images=${win_folder%\\app}\\images
probe msgbox "$pid" 30000 ok >/dev/null || fail "no load warning at the first start"
probe dump "$pid" 30000 >/dev/null || fail "the window did not show"
probe select "$pid" 0 >/dev/null

probe click "$pid" Browse >/dev/null
out=$(probe filedialog "$pid" 30000 "$images\\notes.txt") || fail "no file dialog"
expect "dialog title" "$(value title "$out")" "Select File to Upload"
expect "dialog filter" "$(value filter "$out")" "Update Files (*.bin)"
expect "dialog preset with the empty file box" "$(value preset "$out")" ""
out=$(probe msgbox "$pid" 30000) || fail "no question for a name without bin"
expect "question" "$(value text "$out")" "You do not have a binary file loaded. Would you like to try again?"
expect "question title" "$(value title "$out")" "Updater7304"
expect "question buttons" "$(value buttons "$out")" "OK|Cancel"
probe msgbox "$pid" 10000 ok >/dev/null
# The dialog opens again in the rejected file's folder with its name; Open as it is brings the
# same full path back, and with it the question.
out=$(probe filedialog "$pid" 30000 +) || fail "OK did not reopen the dialog"
expect "dialog reopened with the rejected name" "$(value preset "$out")" "notes.txt"
out=$(probe msgbox "$pid" 30000) || fail "no question for the same name"
expect "question again" "$(value text "$out")" "You do not have a binary file loaded. Would you like to try again?"
probe msgbox "$pid" 10000 cancel >/dev/null
out=$(probe dump "$pid" 10000)
expect "Cancel keeps the rejected path" "$(value FileText.text "$out")" "$images\\notes.txt"

probe click "$pid" Browse >/dev/null
out=$(probe filedialog "$pid" 30000 "$images\\fw.bin") || fail "no file dialog"
expect "dialog preset with the file box" "$(value preset "$out")" "notes.txt"
out=$(probe dump "$pid" 10000)
expect "file chosen" "$(value FileText.text "$out")" "$images\\fw.bin"
expect "no question for a .bin file" "$(value message_box "$out")" 0
expect "port 1 picked" "$(value ComPortSet.text "$out")" "1"

echo "== upload to the simulated bootloader"
# A slow flash write per block, so that the transfer can be seen on the screen.
start_sim success1 --flash-delay-ms 150
out=$(probe upload "$pid" 60000 "Status: Upload Sequence Started") || fail "the upload did not start sending: $out"
if [[ -n ${QZ_E2E_SHOTS:-} ]]; then
  # The picture a few blocks into the transfer.
  for _ in $(seq 50); do
    case $(value BravlinkCRC2.text "$(probe dump "$pid" 5000)") in
      *"Block "[4-9]" of"* | *"Block "[12][0-9]" of"*) break ;;
    esac
    sleep 0.1
  done
  shot upload-sending
fi
expect "statuses while waiting and sending" "$(value statuses "$out")" \
  "Status: Waiting for Bootloader Start Character|Status: Upload Sequence Started"
out=$(probe msgbox "$pid" 60000) || fail "no message after the upload"
shot upload-success
expect "success message" "$(value text "$out")" "File Transfer Complete"
expect "success title" "$(value title "$out")" "Success!"
probe msgbox "$pid" 10000 ok >/dev/null
summary=$(sim_summary)
expect "simulator: complete" "$(json_field outcome "$summary")" complete
expect "simulator: woken at 9600, 57600, 19200" "$(json_field wake_speeds "$summary")" "9600,57600,19200"
expect "simulator: listened at 57600" "$(json_field listen_speed "$summary")" 57600
expect "image arrived byte for byte" "$(head -c 3000 "$sim_out.bin" | od -An -tx1 | tr -d ' \n')" \
  "$(od -An -tx1 "$e2e_work/images/fw.bin" | tr -d ' \n')"
probe wait-text "$pid" Status "Status: Idle" 30000 >/dev/null || true
expect_idle "after success"
expect "area shows the finished transfer" "$area" \
  "COM1 closed; Sent fw.bin; Block 24 of 24, 3000 of 3000 bytes; 100%; retries 0; Complete"

echo "== a silent controller: the time-out message"
start_sim silent --silent
out=$(probe upload "$pid" 60000) || fail "no time-out message: $out"
expect "status while waiting" "$(value statuses "$out")" "Status: Waiting for Bootloader Start Character"
expect "time-out title" "$(value box_title "$out")" "Updater7304"
expect "time-out message" "$(value box_text "$out")" "Serial Timeout. Please check QZ450 serial connection"
echo "info: the time-out message came $(value box_after_ms "$out") ms after the click"
probe msgbox "$pid" 10000 ok >/dev/null
probe wait-text "$pid" Status "Status: Idle" 30000 >/dev/null || true
expect_idle "after the time-out"
kill "$sim_pid" 2>/dev/null || true
sim_summary >/dev/null

echo "== a controller that cancels the transfer: no message"
start_sim cancel --cancel-after 3
out=$(probe upload "$pid" 60000) || fail "the upload did not end: $out"
expect "statuses" "$(value statuses "$out")" \
  "Status: Waiting for Bootloader Start Character|Status: Upload Sequence Started|Status: Idle"
expect "no message" "$(value box_title "$out")" ""
expect_idle "after the cancelled transfer"
expect "area shows the cancel" "$(sed 's/.*; //' <<<"$area")" "Cancelled by the receiver"
summary=$(sim_summary)
expect "simulator: cancelled" "$(json_field outcome "$summary")" cancelled

echo "== COM5 with nothing behind it"
probe select "$pid" 4 >/dev/null
out=$(probe upload "$pid" 60000) || fail "no port message: $out"
expect "port message" "$(value box_text "$out")" \
  "COM 5 is in use by another program or doesn't exist on your computer. Please check and try again"
expect "port message title" "$(value box_title "$out")" "Updater7304"
probe msgbox "$pid" 10000 ok >/dev/null
probe wait-text "$pid" Status "Status: Idle" 30000 >/dev/null || true
expect_idle "after the port message"

echo "== a second upload works"
probe select "$pid" 0 >/dev/null
start_sim success2
out=$(probe upload "$pid" 60000) || fail "no message after the second upload: $out"
expect "second success" "$(value box_text "$out")|$(value box_title "$out")" "File Transfer Complete|Success!"
probe msgbox "$pid" 10000 ok >/dev/null
summary=$(sim_summary)
expect "simulator: second image complete" "$(json_field outcome "$summary")" complete
expect "second image arrived byte for byte" "$(head -c 3000 "$sim_out.bin" | od -An -tx1 | tr -d ' \n')" \
  "$(od -An -tx1 "$e2e_work/images/fw.bin" | tr -d ' \n')"
probe wait-text "$pid" Status "Status: Idle" 30000 >/dev/null || true
expect_idle "after the second upload"

echo "== Exit while waiting for the controller"
start_sim silent2 --silent
out=$(probe upload "$pid" 60000 "Status: Waiting for Bootloader Start Character") || fail "the upload did not wait: $out"
end_by click "$pid" Exit
expect "records saved" "$(head -n 2 "$ini" | tr -d '\r')" "1"$'\n'"\"$images\\fw.bin\""
expect "state saved" "$(grep -a '^Window State=' "$ini" | tr -d '\r')" "Window State=0"
kill "$sim_pid" 2>/dev/null || true
sim_summary >/dev/null

echo "== the close box during the transfer"
start_updater
probe dump "$pid" 30000 >/dev/null || fail "the window did not show"
start_sim closing --flash-delay-ms 300
out=$(probe upload "$pid" 60000 "Status: Upload Sequence Started") || fail "the upload did not start sending: $out"
end_by close "$pid"
summary=$(sim_summary)
expect "simulator: the transfer was cancelled by the sender" \
  "$(json_field outcome "$summary") $(json_field reason "$summary")" "cancelled sender"
expect "records saved" "$(head -n 2 "$ini" | tr -d '\r')" "1"$'\n'"\"$images\\fw.bin\""

e2e_finish
