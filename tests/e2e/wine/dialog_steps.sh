# Window steps of the dialog program that both case scripts take: the Wine cases (cases.sh,
# sourced by run.sh) and the guest kernel's (tests/e2e/kernel/wine_cases.sh). Each uses the
# case script's own prepare_run and lib.sh's ui.

# Prepares the run folder for case $1 (prepare_run), sets the Windows version $2 and starts
# fwloader.exe there with the environment settings that follow. Sets dir.
start_run() {
  local name=$1 version=$2
  shift 2
  prepare_run "$name" || return 1
  set_version fwloader.exe "$version" || return 1
  start_program "$dir" fwloader.exe "$@"
}

# After a failed run's last box was answered OK: the question whether to restart and try again,
# answered No.
decline_restart() {
  ui expect NOTE $ID_MSGBOX_TEXT "$RESTART_AGAIN_QUESTION"
  ui press NOTE No
}

# The boxes that end a transfer that failed: "Unable to start upgrade firmware." (waited for up
# to $3 ms, uidriver's own time-out when not given; a screenshot $2 when named), OK, then
# "Firmware update failed!" with the status line $1, OK, and the restart declined.
answer_failed_transfer() {
  local status=$1 picture=${2:-} wait=${3:-}
  ui ${wait:+timeout "$wait"} expect NOTE $ID_MSGBOX_TEXT "$UNABLE_TO_START"
  [ -z "$picture" ] || shot "$picture"
  ui press NOTE OK
  ui expect NOTE $ID_MSGBOX_TEXT "Firmware update failed!" expect "$MAIN_TITLE" $ID_STATUS "$status"
  ui press NOTE OK
  decline_restart
}

# No run starts: the status line says the model does not match, the drive list's text is $1
# (empty: no drive), any further uidriver steps given hold, and Upgrade is disabled.
expect_not_started() {
  local entry=$1
  shift
  ui expect "$MAIN_TITLE" $ID_STATUS "Drive model doesn't match!!" \
    expect "$MAIN_TITLE" $ID_DRIVE_LIST "$entry" "$@" enabled "$MAIN_TITLE" Upgrade 0
}
