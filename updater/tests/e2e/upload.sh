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

source "$root/updater/sim/com1.bash"
trap 'sim_restore_com1; e2e_cleanup' EXIT

# start_sim NAME ARGS...: the simulator on a new pty, linked as COM1; its output in NAME.*
start_sim() {
  local name=$1
  shift
  sim_start "$e2e_work/$name" --timeout 60 --trace "$e2e_work/$name.trace" --out "$e2e_work/$name.bin" "$@" ||
    fail "the simulator did not start"
  sim_link_com1
}

# sim_result: waits for the simulator's summary of the upload; sets summary.
sim_result() {
  sim_wait_summary
  summary=$sim_summary
}

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
sim_result
expect "simulator: complete" "$(sim_field outcome "$summary")" complete
expect "simulator: woken at 9600, 57600, 19200" "$(sim_field wake_speeds "$summary")" "9600,57600,19200"
expect "simulator: listened at 57600" "$(sim_field listen_speed "$summary")" 57600
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
sim_kill

echo "== a controller that cancels the transfer: no message"
start_sim cancel --cancel-after 3 --flash-delay-ms 150
out=$(probe upload "$pid" 60000) || fail "the upload did not end: $out"
expect "statuses" "$(value statuses "$out")" \
  "Status: Waiting for Bootloader Start Character|Status: Upload Sequence Started|Status: Idle"
expect "no message" "$(value box_title "$out")" ""
expect_idle "after the cancelled transfer"
expect "area shows the cancel" "$(sed 's/.*; //' <<<"$area")" "Cancelled by the receiver"
sim_result
expect "simulator: cancelled" "$(sim_field outcome "$summary")" cancelled

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
sim_result
expect "simulator: second image complete" "$(sim_field outcome "$summary")" complete
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
sim_kill

echo "== the close box during the transfer"
start_updater
probe dump "$pid" 30000 >/dev/null || fail "the window did not show"
start_sim closing --flash-delay-ms 300
out=$(probe upload "$pid" 60000 "Status: Upload Sequence Started") || fail "the upload did not start sending: $out"
end_by close "$pid"
sim_result
# The wire: the sender's last bytes are the two CAN. The port's settings go back to what they
# were right after them; a simulator that wakes late sees that change with the bytes and calls
# the transfer abandoned rather than cancelled.
last_rx=$(grep ' RX ' "$sim_out.trace" | tail -n 1)
expect "the receiver was told: two CAN are the last bytes sent" "${last_rx: -4}" 1818
case "$(sim_field outcome "$summary") $(sim_field reason "$summary")" in
  "cancelled sender" | "abandoned speed changed to "*) echo "ok: simulator: $(sim_field outcome "$summary")" ;;
  *) expect "simulator: the transfer ended by the sender" "$(sim_field outcome "$summary")" cancelled ;;
esac
expect "records saved" "$(head -n 2 "$ini" | tr -d '\r')" "1"$'\n'"\"$images\\fw.bin\""

e2e_finish
