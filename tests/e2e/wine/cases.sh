# The cases of the Wine end-to-end runs, sourced by run.sh. Each case_NAME function runs one
# scenario in its own folder and reports failed checks with `fail`.

ALL_CASES=(harness)

# The harness itself, with a probe program instead of fwloader.exe: a GUI program's standard
# output is captured, the Windows version set for its file name takes effect, the environment
# reaches it, and its message box is read and answered.
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
  expect_stdout "platform 1 major 4" "FWLOADER_SIM=drives=kdr" "answer 7"
}
