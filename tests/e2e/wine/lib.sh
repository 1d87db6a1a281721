# Shared pieces of the Wine end-to-end runs, sourced by run.sh. Every wait is bounded: each Wine
# process runs under `timeout`, and uidriver gives up on a window after its own time-out.

# Set by run.sh: BUILD (the win64 build folder), OUT (the test output folder), WORK (a temporary
# folder holding the Wine prefix and the run folders), WINE, UIDRIVER.

MAIN_TITLE="Korvane WINDOWS DOWNLOAD for 48x COMBO DRIVE"
ABOUT_TITLE="About Korvane Romwright"
ID_STATUS=1014
ID_PROGRESS=1011
ID_REVISION=1016
ID_DRIVE_LIST=1000
ID_MSGBOX_TEXT=65535
SC_CLOSE=61536  # WM_SYSCOMMAND: the window's close command
# The texts of the run's message boxes (\n: a line break, as uidriver writes it).
RESTART_QUESTION='The system must be restarted. Please save all unsaved data before rebooting this system.\nWould you like to restart the system now?'
RESTART_AGAIN_QUESTION='The system must be restarted and try again. Please save all unsaved data before rebooting this system.\nWould you like to restart the system now?'
UNABLE_TO_START='Unable to start upgrade firmware.\nPlease close all other program and try again.'

case_dir=""    # the current case's output folder
case_fails=0   # failed checks of the current case
case_broken=0  # 1 once a window step failed: the rest of the case is skipped
prog_pid=""    # the program started last

log() { printf '%s\n' "$*" >&2; }

fail() {
  log "    FAIL: $*"
  case_fails=$((case_fails + 1))
}

# A Unix path as a Windows program under Wine names it (drive Z: is the Unix root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The Windows version that Wine reports to programs of this file name: win98, or "default"
# (the prefix's own, of the NT family).
set_version() {
  local exe=$1 version=$2
  if [ "$version" = default ]; then
    timeout 60 $WINE reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe" /f >/dev/null 2>&1
    return 0
  fi
  timeout 60 $WINE reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /t REG_SZ \
    /d "$version" /f >/dev/null 2>&1 || { fail "cannot set the Windows version of $exe"; return 1; }
}

# Runs uidriver with the given steps; a failed step fails the case (uidriver says which). The
# screen and the list of windows at that moment are kept (failure.png, windows.txt), and the
# program is ended, so that a broken case costs one time-out and not one per later step.
ui() {
  [ "$case_broken" = 0 ] || return 1
  timeout 90 $WINE "$UIDRIVER" "$@" 2>>"$case_dir/uidriver.txt" && return 0
  fail "window step failed: $* ($(tail -n 1 "$case_dir/uidriver.txt"))"
  case_broken=1
  timeout 30 import -window root "$case_dir/failure.png" 2>/dev/null
  timeout 30 $WINE "$UIDRIVER" list >"$case_dir/windows.txt" 2>/dev/null
  timeout 30 wineserver -k >/dev/null 2>&1
  return 1
}

# Prints the text of a control (or a message box's text), one line.
ui_text() {
  [ "$case_broken" = 0 ] || return 1
  timeout 90 $WINE "$UIDRIVER" text "$1" "$2" 2>>"$case_dir/uidriver.txt" | tr -d '\r'
}

# A PNG of the whole screen, kept with the case's output.
shot() {
  [ "$case_broken" = 0 ] || return 1
  timeout 30 import -window root "$case_dir/$1.png" 2>>"$case_dir/uidriver.txt" ||
    fail "no screenshot $1.png"
}

# Starts a Windows program in the background in folder $1, its standard output and Wine's
# standard error kept in the case folder. Sets prog_pid.
start_program() {
  local dir=$1 exe=$2
  shift 2
  (cd "$dir" && exec env "$@" timeout 180 $WINE "./$exe" \
    >"$case_dir/stdout.txt" 2>"$case_dir/wine-stderr.txt") &
  prog_pid=$!
}

# Waits for the program started last; fails the case unless it ended with status $1.
expect_exit() {
  local want=$1 rc
  wait "$prog_pid"
  rc=$?
  [ "$case_broken" = 0 ] || return 1  # ended by the failed step, its status says nothing
  [ "$rc" = 124 ] && { fail "the program did not end in time"; return 1; }
  [ "$rc" = "$want" ] || fail "exit status $rc, expected $want"
}

# Compares the program's standard output (line ends normalised) with the lines given.
expect_stdout() {
  local expected="$case_dir/expected-stdout.txt" actual="$case_dir/stdout.lf.txt"
  if [ $# -eq 0 ]; then : >"$expected"; else printf '%s\n' "$@" >"$expected"; fi
  tr -d '\r' <"$case_dir/stdout.txt" >"$actual"
  diff -u "$expected" "$actual" >"$case_dir/stdout.diff" ||
    fail "standard output differs: $(head -c 2000 "$case_dir/stdout.diff")"
}

# Fails unless the program's standard output holds exactly N lines at this moment (NAME: the
# moment, for the file that keeps them, stdout-at-NAME.txt).
expect_lines_now() {
  local n=$1 name=$2 now="$case_dir/stdout-at-$2.txt"
  tr -d '\r' <"$case_dir/stdout.txt" >"$now"
  [ "$(wc -l <"$now")" = "$n" ] ||
    fail "standard output held $(wc -l <"$now") lines at the $name, expected $n"
}

# Closes the main dialog with its Close button and expects the program to end.
close_program() {
  ui enabled "$MAIN_TITLE" Close 1 press "$MAIN_TITLE" Close
  expect_exit 0
}
