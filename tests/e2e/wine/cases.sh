# The cases of the Wine end-to-end runs, sourced by run.sh. Each case_NAME function runs one
# scenario in its own folder and reports failed checks with `fail`.

ALL_CASES=(harness platform_win)

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

# The GoogleTest suite of the seam's Windows binding, against the real (Wine's) API.
case_platform_win() {
  local exe rc
  exe=$(built platform_win_test.exe)
  [ -n "$exe" ] || { fail "platform_win_test.exe is not built"; return; }
  (cd "$(dirname "$exe")" && timeout 120 $WINE ./platform_win_test.exe \
    "--gtest_output=xml:$(winpath "$case_dir/platform_win_test.xml")") >"$case_dir/gtest.txt" 2>&1
  rc=$?
  [ "$rc" = 0 ] || fail "platform_win_test.exe exit status $rc: $(grep -E '^\[  FAILED  \]' "$case_dir/gtest.txt" | head -n 20)"
  grep -q '^\[  PASSED  \]' "$case_dir/gtest.txt" || fail "GoogleTest did not report PASSED"
}
