#!/usr/bin/env bash
# The guest's side of wine_guest.py, run as root in the guest kernel, chrooted into the host's
# root under a tmpfs overlay:  wine_guest.sh OUT_DIR
# A virtual display, a fresh 32-bit Wine prefix, one window driver serving the whole boot
# (starting a Wine process costs seconds under TCG), then each case of OUT_DIR/guest/cases.txt
# ("NAME SCSI_ID[,SCSI_ID...]") with its drives as d:, e:, ... The console gets
# "=== case NAME begin" and "... end" for the host's clock; each failed check is a line of
# OUT_DIR/NAME/failures.txt. Every wait is bounded.
set -u
here=$(cd "$(dirname "$0")" && pwd)
OUT=$1
GUEST=$OUT/guest
WORK=/tmp/fwloader-wine
mkdir -p "$WORK/home"
export HOME=$WORK/home WINEPREFIX=$WORK/prefix WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installer, no menu entries; Wine's own ASPI library stays what it is.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
WINE=/usr/lib/wine/wine  # the 32-bit loader: the prefix and every program in it are 32-bit
export WINELOADER=$WINE
UIDRIVER=$OUT/tools/bin/uidriver.exe  # built for i686 by wine_guest.py

uptime_s() { cut -d' ' -f1 /proc/uptime; }

. "$here/../wine/lib.sh"
. "$here/wine_cases.sh"

case_name=""

# lib.sh's checks, with each failure kept for the host as well.
fail() {
  log "    FAIL: $*"
  printf '%s\n' "$*" >>"$OUT/$case_name/failures.txt"
  case_fails=$((case_fails + 1))
}

# A command that does not exist is a broken case, not a passing one.
command_not_found_handle() {
  fail "no command $1"
  return 127
}

# ---- the window driver: one process, requests over a pipe (uidriver serve) ----

UI_PID=""
start_uidriver() {
  coproc UI { exec timeout 1200 "$WINE" "$UIDRIVER" serve 2>>"$GUEST/uidriver-stderr.txt"; }
}

# Sends one request (the steps as arguments); prints the steps' output. Sets ui_status to
# "ok", "fail <the failed step>", "bad" or "no answer" (the driver ended or took 300 s).
ui_request() {
  ui_status="no answer"
  if [ -z "$UI_PID" ] || ! kill -0 "$UI_PID" 2>/dev/null; then start_uidriver; fi
  printf '%s\n' "$#" "$@" >&"${UI[1]}" 2>/dev/null || return 1
  local line
  while IFS= read -r -t 300 line <&"${UI[0]}"; do
    line=${line%$'\r'}
    case "$line" in
      ok) ui_status=ok; return 0 ;;
      fail*|bad) ui_status=$line; return 1 ;;
      *) printf '%s\n' "$line" ;;
    esac
  done
  # No answer in time: that driver is ended, the next request starts another.
  kill "$UI_PID" 2>/dev/null
  UI_PID=""
  return 1
}

# lib.sh's ui, through the serving driver. A failed step fails the case; the screen and the
# windows are kept, and every Wine process is ended (the driver starts again at the next case).
ui() {
  [ "$case_broken" = 0 ] || return 1
  printf '> %s\n' "$*" >>"$case_dir/uidriver.txt"
  ui_request "$@" >>"$case_dir/uidriver.txt" && return 0
  fail "window step failed: $* ($ui_status)"
  case_broken=1
  timeout 30 import -window root "$case_dir/failure.png" 2>/dev/null
  ui_request list >"$case_dir/windows.txt"
  timeout 30 wineserver -k >/dev/null 2>&1
  UI_PID=""
  return 1
}

# The output lines of one request, line ends removed.
ui_text() {
  [ "$case_broken" = 0 ] || return 1
  ui_request "$@"
}

set_version() { ui version "$1" "$2"; }

# Drive letters d:, e:, ... for the guest's devices at these SCSI ids (comma-separated), and
# no other letter but c: and z:.
map_drives() {
  local letters=(d e f g h i j) i=0 id block
  rm -f "$WINEPREFIX"/dosdevices/[d-y]: "$WINEPREFIX"/dosdevices/[d-y]::
  for id in ${1//,/ }; do
    block=$(ls -d /sys/bus/scsi/devices/[0-9]*:0:"$id":0/block/sr* 2>/dev/null | head -n 1)
    [ -n "$block" ] || { fail "no /dev/sr* for SCSI id $id"; return 1; }
    ln -s "/dev/$(basename "$block")" "$WINEPREFIX/dosdevices/${letters[i]}::"
    i=$((i + 1))
  done
  ls -l "$WINEPREFIX/dosdevices" >"$case_dir/dosdevices.txt"
}

# ---- set-up ----

set_up() {
  Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >"$GUEST/xvfb.txt" 2>&1 &
  local i=0
  while [ ! -S /tmp/.X11-unix/X7 ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
  [ -S /tmp/.X11-unix/X7 ] || { echo "=== no X display"; return 1; }
  export DISPLAY=:7
  # One server for the whole boot: each Wine process would otherwise start its own.
  mkdir -p "$WINEPREFIX"
  wineserver -p
  timeout 400 "$WINE" wineboot -i >"$GUEST/wineboot.txt" 2>&1 ||
    { echo "=== wineboot failed, see guest/wineboot.txt"; return 1; }
  echo "=== wineboot done at $(uptime_s) s"
  # A Wine virtual desktop: windows get Wine's own frames in the screenshots, and a message box
  # closes at once when answered (without a window manager Wine holds it about 2 s).
  cat >"$WORK/settings.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
EOF
  timeout 120 "$WINE" regedit /s "$(winpath "$WORK/settings.reg")" ||
    { echo "=== regedit failed"; return 1; }
  start_uidriver
  ui_request list >"$GUEST/windows-at-start.txt" || { echo "=== no window driver"; return 1; }
  echo "=== wine ready after $(uptime_s) s"
}

if ! set_up; then
  timeout 30 wineserver -k
  exit 1
fi
while read -r case_name ids; do
  case_dir=$OUT/$case_name
  case_fails=0
  case_broken=0
  mkdir -p "$case_dir"
  : >"$case_dir/failures.txt"
  echo "=== case $case_name begin at $(uptime_s) s"
  if map_drives "$ids"; then
    "case_$case_name"
  fi
  # Whatever the case did, its program does not outlive it.
  if [ -n "$prog_pid" ] && kill -0 "$prog_pid" 2>/dev/null; then
    fail "the program still ran at the end of the case"
    timeout 30 import -window root "$case_dir/left-running.png" 2>/dev/null
    timeout 30 wineserver -k >/dev/null 2>&1
    UI_PID=""
  fi
  prog_pid=""
  echo "=== case $case_name end at $(uptime_s) s ($case_fails failed)"
done <"$GUEST/cases.txt"
free -m >"$GUEST/memory.txt"
[ -n "$UI_PID" ] && eval "exec ${UI[1]}>&-"  # the driver ends at the end of its input
timeout 30 wineserver -k
