#!/usr/bin/env bash
# End-to-end runs of the Windows program under wine64 on a virtual X display.
#
#   bash tests/e2e/wine/run.sh BUILD_DIR OUT_DIR [CASE...]
#
# BUILD_DIR is the win64 build (cmake --preset win64 && cmake --build --preset win64). OUT_DIR
# receives one folder per case: the program's standard output, the expected output, the
# simulated drive's flash, screenshots (PNG) and the window driver's messages. Without CASE
# names every case runs. The last line is "N passed, M failed"; the exit status is 0 only when
# nothing failed.
#
# Everything runs inside one xvfb-run, in a fresh Wine prefix in a temporary folder that is
# removed at the end. Every wait is bounded by `timeout`.
set -u

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR OUT_DIR [CASE...]" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && OUT=$(cd "$2" && pwd) || exit 2
shift 2

if [ -z "${FW_WINE_ON_DISPLAY:-}" ]; then
  # One virtual display for the whole run; 24-bit colour so that screenshots show true colours.
  export FW_WINE_ON_DISPLAY=1
  exec timeout 1200 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$BUILD" "$OUT" "$@"
fi

WINE=$(command -v wine64 || command -v wine)
WORK=$(mktemp -d -t fwloader-wine.XXXXXX)
export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
# Without the wnaspi32 override Wine would use its own built-in ASPI library.
export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"
export WINEARCH=win64

cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$here/lib.sh"
. "$here/cases.sh"

# The first file of this name in the build, or nothing.
built() { find "$BUILD" -name "$1" -type f -not -path '*/CMakeFiles/*' 2>/dev/null | sort | head -n 1; }

UIDRIVER=$(built uidriver.exe)
if [ -z "$UIDRIVER" ]; then
  echo "no uidriver.exe in $BUILD: build the win64 preset first" >&2
  echo "0 passed, 1 failed"
  exit 1
fi

started=$(date +%s.%N)
log "Wine prefix: $WINEPREFIX"
boot_started=$(date +%s.%N)
if ! timeout 300 wineboot -i >"$OUT/wineboot.txt" 2>&1; then
  echo "wineboot failed, see $OUT/wineboot.txt" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
boot_seconds=$(awk -v a="$boot_started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
log "wineboot: ${boot_seconds} s"
# A Wine virtual desktop: windows get Wine's own frames and captions in the screenshots, and a
# message box closes at once when answered (without a window manager Wine holds it about 2 s).
timeout 60 $WINE reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f \
  >/dev/null 2>&1 &&
  timeout 60 $WINE reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ \
    /d 1024x768 /f >/dev/null 2>&1 || { echo "cannot set the virtual desktop" >&2; echo "0 passed, 1 failed"; exit 1; }
timeout 30 wineserver -k >/dev/null 2>&1

passed=0
failed=0
failed_names=""
wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=("${ALL_CASES[@]}")
for name in "${wanted[@]}"; do
  if ! declare -F "case_$name" >/dev/null; then
    log "unknown case $name (cases: ${ALL_CASES[*]})"
    failed=$((failed + 1))
    failed_names+=" $name"
    continue
  fi
  case_dir=$OUT/$name
  rm -rf "$case_dir"
  mkdir -p "$case_dir"
  case_fails=0
  case_broken=0
  case_started=$(date +%s.%N)
  log "== $name"
  "case_$name"
  seconds=$(awk -v a="$case_started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  # A case leaves nothing running behind it for the next one.
  timeout 30 wineserver -k >/dev/null 2>&1
  if [ "$case_fails" -eq 0 ]; then
    passed=$((passed + 1))
    log "   passed (${seconds} s)"
  else
    failed=$((failed + 1))
    failed_names+=" $name"
    log "   FAILED (${seconds} s), output in $case_dir"
  fi
done

total=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
log "whole run ${total} s (wineboot ${boot_seconds} s); output in $OUT"
[ -n "$failed_names" ] && log "failed:$failed_names"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
