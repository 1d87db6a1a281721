# The window steps of the guest's cases, sourced by wine_guest.sh: case_NAME for each case of
# wine_guest.py, which checks the targets' traces and flashes afterwards. Each case runs the
# installed files (OUT/install) from a folder of its own, as a user would.

. "$here/../wine/dialog_steps.sh"

KDR_ENTRY="KORVADSKRW/DVD KDR-7305C"
OTHER_ENTRY="OTHERCO DVD-ROM DR-1600 "
LONG=120000  # ms: a wait that spans the transfer or the drive's programming, under TCG

# A folder with fwloader.exe and sumseal.dll as installed and, unless $2 is "no-firmware", the
# firmware file under the name the program presets. Sets dir.
prepare_run() {
  local firmware=${2:-firmware}
  dir=$WORK/run-$1
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$OUT/install/fwloader.exe" "$OUT/install/sumseal.dll" "$dir/" ||
    { fail "the installed files are missing"; return 1; }
  if [ "$firmware" = firmware ]; then
    cp "$OUT/firmware/QF2TR08.BIN" "$dir/" || { fail "no firmware file"; return 1; }
  fi
}

# Fails unless the drive list holds exactly the entries given, in order.
expect_entries() {
  local want got
  want=$(printf '%s\n' "$@")
  got=$(ui_text items "$MAIN_TITLE" $ID_DRIVE_LIST)
  [ "$got" = "$want" ] || fail "drive list: $(printf '%q ' "$got"), expected $(printf '%q ' "$want")"
}

# A whole update, started by the program itself on the supported drive, under Windows version
# $1; the drive list must hold exactly the entries given after $1.
update_run() {
  local version=$1
  shift
  start_run "$case_name" "$version" || return
  ui timeout $LONG expect "$MAIN_TITLE" $ID_STATUS "Transferring....." \
    expect "$MAIN_TITLE" $ID_REVISION "TR07" progress "$MAIN_TITLE" $ID_PROGRESS 30
  expect_entries "$@"
  shot dialog-transfer
  ui timeout $LONG expect "$MAIN_TITLE" $ID_STATUS "Updating....." \
    enabled "$MAIN_TITLE" Close 0 expect NOTE $ID_MSGBOX_TEXT "$RESTART_QUESTION"
  shot closing-message
  # The four log lines are out while the restart question waits (Yes would restart now).
  expect_lines_now 4 closing-message
  ui press NOTE No
  ui enabled "$MAIN_TITLE" Close 1 expect "$MAIN_TITLE" $ID_STATUS "Finished" \
    progress "$MAIN_TITLE" $ID_PROGRESS 100 enabled "$MAIN_TITLE" Upgrade 0
  shot finished
  close_program
  expect_stdout "Please wait for a moment ......" "Firmware update successfully completed!" \
    "Restarting CDROM...." "Complete"
}

# The program started again beside no firmware file: its discovery reads the drive's new
# revision, and the run it starts by itself ends at the file, before any block is sent.
started_again() {
  local first=$case_dir
  case_dir=$first/started-again
  mkdir -p "$case_dir"
  prepare_run "$case_name-again" no-firmware || { case_dir=$first; return; }
  start_program "$dir" fwloader.exe
  ui expect "$MAIN_TITLE" $ID_REVISION "TR08" \
    expect "$MAIN_TITLE" $ID_DRIVE_LIST "${KDR_ENTRY}(0)" \
    expect NOTE $ID_MSGBOX_TEXT "Firmware update failed!" \
    expect "$MAIN_TITLE" $ID_STATUS "ERR: fail to read input file!"
  shot new-revision
  ui press NOTE OK
  decline_restart
  close_program
  expect_stdout "Firmware update failed!"
  case_dir=$first
}

# Windows XP (NT 5): drives found by an INQUIRY through each letter's \\.\X: device.
case_xp_update() {
  update_run winxp "${KDR_ENTRY}(0)"
  started_again
}

# Windows NT 4: drives found by each letter's stored inquiry data and capabilities.
case_nt4_update() {
  update_run nt40 "${KDR_ENTRY}(0)"
  started_again
}

# Another model on d:, the supported one on e:: both listed (the list sorts its entries; the
# number is the order found), the update on the second.
case_two_drives() {
  update_run winxp "${KDR_ENTRY}(1)" "${OTHER_ENTRY}(0)"
}

# A failed transfer: the box that says so, the status line, the failed-update messages.
failed_transfer() {
  local status=$1
  start_run "$case_name" winxp || return
  answer_failed_transfer "$status" failed-message $LONG
  ui enabled "$MAIN_TITLE" Close 1 expect "$MAIN_TITLE" $ID_STATUS "$status"
  shot failed
  close_program
  expect_stdout "Firmware update failed!"
}

# Block 3's WRITE BUFFER fails six times with HARDWARE ERROR 04/44/00 (each byte as %2X).
case_block_fails() {
  failed_transfer "Execute command error!!  4/44/ 0"
}

# The read-back of a block differs from it on every attempt: never taken for the block.
case_readback_differs() {
  failed_transfer "Execute command error!!  0/ 0/ 0"
}

# The drive refuses the commit: the program says it could not start, the drive's answers to the
# polls decide the outcome, and it is a failure.
case_commit_refused() {
  start_run "$case_name" winxp || return
  ui timeout $LONG expect NOTE $ID_MSGBOX_TEXT "$UNABLE_TO_START" \
    expect "$MAIN_TITLE" $ID_STATUS "Updating....."
  shot commit-refused
  ui press NOTE OK
  ui timeout $LONG expect NOTE $ID_MSGBOX_TEXT "Firmware update failed!"
  ui press NOTE OK
  decline_restart
  close_program
  expect_stdout "Please wait for a moment ......" "Unable to start upgrade firmware." \
    "Please close all other program and try again." "Firmware update failed!"
}

# The window's close command while the drive holds a block: "Terminate???", OK, and the run
# stops before its next block. Progress 12 %: blocks 0..15 are written, and block 16, which the
# target holds for 7 s (wine_guest.py), is under way.
case_terminate() {
  start_run "$case_name" winxp || return
  ui timeout $LONG progress "$MAIN_TITLE" $ID_PROGRESS 12 syscommand "$MAIN_TITLE" $SC_CLOSE
  ui expect fwloader $ID_MSGBOX_TEXT "Terminate???"
  shot terminate-question
  ui press fwloader OK
  answer_failed_transfer "ERR: terminate upgrade/backup flash!" "" $LONG
  close_program
  expect_stdout "Firmware update failed!"
}

# Windows 98 with Wine's own WNASPI32.dll: it loads, and it finds no drive.
case_win98_wine_aspi() {
  start_run "$case_name" win98 || return
  expect_not_started ""
  expect_entries
  shot no-drive
  close_program
  expect_stdout
}
