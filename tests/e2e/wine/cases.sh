# The cases of the Wine end-to-end runs, sourced by run.sh. Each case_NAME function runs one
# scenario in its own folder and reports failed checks with `fail`.

. "$here/dialog_steps.sh"

ALL_CASES=(harness platform_win win64_suites update block_fails no_supported_drive no_transport
           nt_family terminate)

# The harness itself, with a probe program instead of fwloader.exe: a GUI program's standard
# output is captured, the Windows version set for its file name takes effect, the environment
# reaches it, Wine's own ASPI library stays out, and its message box is read and answered.
case_harness() {
  local probe dir
  probe=$(built wine_probe.exe)
  [ -n "$probe" ] || { fail "wine_probe.exe is not built"; return; }
  dir=$WORK/run-harness
  mkdir -p "$dir" && cp "$probe" "$dir/"
  set_version wine_probe.exe win98 || return
  start_program "$dir" wine_probe.exe FWLOADER_SIM=drives=kdr
  [ "$(ui_text NOTE $ID_MSGBOX_TEXT)" = 'Probe line one\nProbe line two' ] ||
    fail "the probe's message box text was not read"
  shot probe-message
  ui press NOTE No
  expect_exit 0
  expect_stdout "platform 1 major 4" "FWLOADER_SIM=drives=kdr" "WNASPI32 missing" "answer 7"
}

# Runs one GoogleTest program of the build under Wine, from its folder (beside sumseal.dll);
# its output and XML report are kept in the case folder.
run_gtest() {
  local exe=$1 name rc
  name=$(basename "$exe" .exe)
  (cd "$(dirname "$exe")" && timeout 120 $WINE "./$name.exe" \
    "--gtest_output=xml:$(winpath "$case_dir/$name.xml")") >"$case_dir/$name.txt" 2>&1
  rc=$?
  if [ "$rc" != 0 ] || ! grep -q '^\[  PASSED  \]' "$case_dir/$name.txt"; then
    fail "$name exit status $rc: $(grep -E '^\[  FAILED  \]' "$case_dir/$name.txt" | head -n 20)"
  else
    log "    $name: $(grep '^\[  PASSED  \]' "$case_dir/$name.txt")"
  fi
}

# The GoogleTest suite of the seam's Windows binding, against the real (Wine's) API.
case_platform_win() {
  local exe
  exe=$(built platform_win_test.exe)
  [ -n "$exe" ] || { fail "platform_win_test.exe is not built"; return; }
  run_gtest "$exe"
}

# Every other GoogleTest program of the win64 build: the layers' suites as the Windows compiler
# and runtime build them (structure layouts, the ASPI path, the engine on the simulated drive).
case_win64_suites() {
  local exe count=0
  while IFS= read -r exe; do
    [ "$(basename "$exe")" = platform_win_test.exe ] && continue
    run_gtest "$exe"
    count=$((count + 1))
  done < <(find "$BUILD" -name '*_test.exe' -type f -not -path '*/CMakeFiles/*' | sort)
  [ "$count" -gt 0 ] || fail "no GoogleTest programs in $BUILD"
}

# ---- fwloader.exe, the dialog program ----

# A folder as the user would run the program from: fwloader.exe with sumseal.dll, the firmware
# file under the preset name, and the stand-in ASPI library unless $2 is "no-aspi". Sets dir
# (run in this shell, not in a command substitution, so that its failures count).
prepare_run() {
  local name=$1 aspi=${2:-aspi} exe file
  dir=$WORK/run-$name
  mkdir -p "$dir"
  for file in fwloader.exe sumseal.dll; do
    exe=$(built "$file")
    [ -n "$exe" ] || { fail "$file is not built"; return 1; }
    cp "$exe" "$dir/"
  done
  if [ "$aspi" = aspi ]; then
    # A test fixture, built into its own folder: it joins the program for this run only.
    exe=$BUILD/test-fixtures/wnaspi32.dll
    [ -f "$exe" ] || { fail "wnaspi32.dll (the stand-in) is not built in $BUILD/test-fixtures"; return 1; }
    cp "$exe" "$dir/"
  fi
  python3 "$here/firmware.py" make "$dir/QF2TR08.BIN" || { fail "no firmware file"; return 1; }
  cp "$dir/QF2TR08.BIN" "$case_dir/firmware.bin"
}

# The drive's factory boot data: the first 16 KiB of the simulated drive's flash (sim/kdr_drive),
# which the program reads back and puts at the start of the image.
write_boot_data() {
  python3 - "$1" <<'PY'
import sys
x, out = 0x7305C, bytearray()
for _ in range(0x4000):
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    out.append((x >> 16) & 0xFF)
open(sys.argv[1], "wb").write(out)
PY
}

# A supported drive: the update starts by itself and succeeds. Screenshots: the dialog during
# the transfer, the closing message box, the About box.
case_update() {
  local dir
  start_run update win98 FWLOADER_SIM=drives=kdr FWLOADER_SIM_PACE_MS=20 \
    "FWLOADER_SIM_FLASH=$(winpath "$case_dir/flash.bin")" || return
  ui expect "$MAIN_TITLE" $ID_STATUS "Transferring....." progress "$MAIN_TITLE" $ID_PROGRESS 30
  shot dialog-transfer
  ui expect "$MAIN_TITLE" $ID_STATUS "Updating....." enabled "$MAIN_TITLE" Close 0
  ui expect NOTE $ID_MSGBOX_TEXT "$RESTART_QUESTION"
  shot closing-message
  # Each log line is flushed as it is written: all four are out while the last box waits (a
  # restart answered Yes would otherwise lose them).
  expect_lines_now 4 closing-message
  ui press NOTE No
  # The worker has ended once Close is enabled again; Upgrade stays disabled after a run.
  ui enabled "$MAIN_TITLE" Close 1 expect "$MAIN_TITLE" $ID_STATUS "Finished" \
    progress "$MAIN_TITLE" $ID_PROGRESS 100 enabled "$MAIN_TITLE" Upgrade 0
  ui syscommand "$MAIN_TITLE" 16 wait "$ABOUT_TITLE" sleep 300
  shot about-box
  # The About box is modal to the main dialog: the main dialog takes no input behind it.
  timeout 30 $WINE "$UIDRIVER" list >"$case_dir/windows-about.txt" 2>/dev/null
  grep -q "visible=1 enabled=0 class=#32770 caption=\"$MAIN_TITLE\"" "$case_dir/windows-about.txt" ||
    fail "the main dialog is enabled while the About box is open"
  ui press "$ABOUT_TITLE" OK
  close_program
  expect_stdout "Please wait for a moment ......" "Firmware update successfully completed!" \
    "Restarting CDROM...." "Complete"
  write_boot_data "$case_dir/boot.bin"
  if [ -f "$case_dir/flash.bin" ]; then
    python3 "$here/firmware.py" check "$case_dir/firmware.bin" "$case_dir/flash.bin" \
      "$case_dir/boot.bin" >"$case_dir/flash-check.txt" 2>&1 ||
      fail "flash: $(cat "$case_dir/flash-check.txt")"
  else
    fail "the stand-in wrote no flash file"
  fi
}

# Fails unless the stand-in wrote no flash file: the drive was never told to program.
expect_no_flash() {
  [ ! -e "$case_dir/flash.bin" ] || fail "the drive was programmed (flash.bin written)"
}

# Block 3's WRITE BUFFER fails on all six attempts: the failure box, the sense on the status
# line, then the failed-update messages; the drive is never programmed.
case_block_fails() {
  local dir
  start_run block_fails win98 "FWLOADER_SIM=drives=kdr,write-fail=3:6" \
    "FWLOADER_SIM_FLASH=$(winpath "$case_dir/flash.bin")" || return
  # The injected failure reports HARDWARE ERROR 04/44/00, each byte as %2X.
  answer_failed_transfer "Execute command error!!  4/44/ 0" block-failed-message
  ui enabled "$MAIN_TITLE" Close 1 expect "$MAIN_TITLE" $ID_STATUS "Execute command error!!  4/44/ 0"
  close_program
  expect_stdout "Firmware update failed!"
  expect_no_flash
}

# Only a drive of another model: no run starts, the status says so and Upgrade is disabled.
case_no_supported_drive() {
  local dir
  start_run no_supported_drive win98 FWLOADER_SIM=drives=other \
    "FWLOADER_SIM_FLASH=$(winpath "$case_dir/flash.bin")" || return
  expect_not_started "OTHERCO DVD-ROM DR-1600 (0)" expect "$MAIN_TITLE" $ID_REVISION "1.02"
  shot no-supported-drive
  close_program
  expect_stdout
  expect_no_flash
}

# No WNASPI32 beside the program (and Wine's own kept out): the program's own box, then an
# empty drive list.
case_no_transport() {
  local dir
  prepare_run no_transport no-aspi || return
  set_version fwloader.exe win98 || return
  start_program "$dir" fwloader.exe FWLOADER_SIM=drives=kdr
  ui expect fwloader $ID_MSGBOX_TEXT "Cannot Load Dynamic Library!!!"
  shot no-transport-message
  ui press fwloader OK
  expect_not_started ""
  close_program
  expect_stdout
}

# The NT family (Wine's default version): the program takes the drive-letter path and leaves
# ASPI alone, even with the stand-in beside it; Wine has no drive to find.
case_nt_family() {
  local dir
  start_run nt_family default FWLOADER_SIM=drives=kdr \
    "FWLOADER_SIM_FLASH=$(winpath "$case_dir/flash.bin")" || return
  expect_not_started ""
  shot nt-family-no-drive
  close_program
  expect_stdout
  expect_no_flash
}

# The window's close command during the transfer (Close itself is disabled then): "Terminate???"
# in a box captioned with the program's name, OK, and the run stops before its next block; the
# dialog stays open until the user closes it afterwards.
case_terminate() {
  local dir
  start_run terminate win98 FWLOADER_SIM=drives=kdr FWLOADER_SIM_PACE_MS=20 \
    "FWLOADER_SIM_FLASH=$(winpath "$case_dir/flash.bin")" || return
  ui progress "$MAIN_TITLE" $ID_PROGRESS 10 syscommand "$MAIN_TITLE" $SC_CLOSE
  ui expect fwloader $ID_MSGBOX_TEXT "Terminate???"
  shot terminate-question
  ui press fwloader OK
  answer_failed_transfer "ERR: terminate upgrade/backup flash!"
  close_program
  expect_stdout "Firmware update failed!"
  expect_no_flash
}
