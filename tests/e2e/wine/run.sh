#!/usr/bin/env bash
# End-to-end runs of the Windows program under Wine on a virtual X display.
#
#   bash tests/e2e/wine/run.sh [--i686 BUILD32] BUILD_DIR OUT_DIR [CASE...]
#   bash tests/e2e/wine/run.sh --runs-i686
#
# BUILD_DIR is the win64 build (cmake --preset win64 && cmake --build --preset win64), run under
# wine64. OUT_DIR receives one folder per case: the program's standard output, the expected
# output, the simulated drive's flash, screenshots (PNG) and the window driver's messages.
# Without CASE names every case runs. The last line is "N passed, M failed"; the exit status is
# 0 only when nothing failed.
#
# BUILD32 is an i686 build with the tests (the win32 preset's settings and
# -DFWLOADER_BUILD_TESTS=ON). Where this machine's kernel runs 32-bit programs, the same cases
# run on it under 32-bit Wine too, into OUT_DIR/i686/; where it cannot, one line says so and
# only BUILD_DIR runs (the guest suite, tests/e2e/kernel/wine_guest.py, runs the i686
# deliverables under 32-bit Wine on any machine). --runs-i686 answers that question alone: exit
# status 0 when the i686 build can run here, otherwise 1 and the line.
#
# Everything runs inside one xvfb-run, each build in a fresh Wine prefix in a temporary folder
# that is removed at the end. Every wait is bounded by `timeout`.
set -u

here=$(cd "$(dirname "$0")" && pwd)
# The loaders themselves: /usr/bin/wine starts the 32-bit one whenever wine32 is installed, even
# where the kernel cannot run it.
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || command -v wine)
WINE32=/usr/lib/wine/wine

# True when 32-bit Wine runs here; otherwise says why, in one line.
i686_runs() {
  local answer
  if [ ! -x "$WINE32" ]; then
    echo "wine-e2e: no 32-bit Wine here (bash scripts/setup-debian --with-wine32): the i686 build is not run on this machine"
    return 1
  fi
  if ! answer=$("$WINE32" --version 2>&1); then
    echo "wine-e2e: this machine's kernel does not run 32-bit programs ($(printf '%s' "$answer" | tail -n 1 | sed 's/.*: //')): the i686 build runs in the guest suite only (tests/e2e/kernel/wine_guest.py)"
    return 1
  fi
}

if [ "${1:-}" = --runs-i686 ]; then
  i686_runs
  exit
fi
BUILD32=""
if [ "${1:-}" = --i686 ] && [ $# -ge 2 ]; then
  BUILD32=$(cd "$2" && pwd) || exit 2
  shift 2
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 [--i686 BUILD32] BUILD_DIR OUT_DIR [CASE...] | --runs-i686" >&2
  exit 2
fi
BUILD64=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && OUT_TOP=$(cd "$2" && pwd) || exit 2
shift 2

if [ -z "${FW_WINE_ON_DISPLAY:-}" ]; then
  # One virtual display for the whole run; 24-bit colour so that screenshots show true colours.
  export FW_WINE_ON_DISPLAY=1
  i686=()
  [ -n "$BUILD32" ] && i686=(--i686 "$BUILD32")
  exec timeout 1800 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "${i686[@]}" "$BUILD64" "$OUT_TOP" "$@"
fi

WORK=$(mktemp -d -t fwloader-wine.XXXXXX)
export WINEDEBUG=-all
# Without the wnaspi32 override Wine would use its own built-in ASPI library.
export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"

cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$here/lib.sh"
. "$here/cases.sh"

# The first file of this name in the build, or nothing.
built() { find "$BUILD" -name "$1" -type f -not -path '*/CMakeFiles/*' 2>/dev/null | sort | head -n 1; }

seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

passed=0
failed=0
failed_names=""
wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=("${ALL_CASES[@]}")

# Runs the wanted cases on one build: run_build BUILD OUT ARCH LOADER (ARCH win64 or win32).
run_build() {
  BUILD=$1 OUT=$2 WINE=$4
  export WINEARCH=$3 WINELOADER=$4 WINEPREFIX=$WORK/prefix-$3
  mkdir -p "$OUT"
  UIDRIVER=$(built uidriver.exe)
  if [ -z "$UIDRIVER" ]; then
    log "no uidriver.exe in $BUILD: build it with the tests first"
    failed=$((failed + 1))
    failed_names+=" ($WINEARCH: not built)"
    return
  fi
  local started boot_started boot_seconds name case_started seconds
  started=$(date +%s.%N)
  log "Wine prefix ($WINEARCH): $WINEPREFIX"
  boot_started=$(date +%s.%N)
  if ! timeout 300 $WINE wineboot -i >"$OUT/wineboot.txt" 2>&1; then
    log "wineboot failed, see $OUT/wineboot.txt"
    failed=$((failed + 1))
    failed_names+=" ($WINEARCH: wineboot)"
    return
  fi
  boot_seconds=$(seconds_since "$boot_started")
  log "wineboot: ${boot_seconds} s"
  # A Wine virtual desktop: windows get Wine's own frames and captions in the screenshots, and
  # a message box closes at once when answered (without a window manager Wine holds it about 2 s).
  if ! { timeout 60 $WINE reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default \
           /f >/dev/null 2>&1 &&
         timeout 60 $WINE reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ \
           /d 1024x768 /f >/dev/null 2>&1; }; then
    log "cannot set the virtual desktop"
    failed=$((failed + 1))
    failed_names+=" ($WINEARCH: desktop)"
    return
  fi
  timeout 30 wineserver -k >/dev/null 2>&1

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
    log "== $name ($WINEARCH)"
    "case_$name"
    seconds=$(seconds_since "$case_started")
    # A case leaves nothing running behind it for the next one.
    timeout 30 wineserver -k >/dev/null 2>&1
    if [ "$case_fails" -eq 0 ]; then
      passed=$((passed + 1))
      log "   passed (${seconds} s)"
    else
      failed=$((failed + 1))
      failed_names+=" $name($WINEARCH)"
      log "   FAILED (${seconds} s), output in $case_dir"
    fi
  done
  log "$WINEARCH: ${wanted[*]} in $(seconds_since "$started") s (wineboot ${boot_seconds} s); output in $OUT"
}

run_build "$BUILD64" "$OUT_TOP" win64 "$WINE64"
if [ -n "$BUILD32" ]; then
  if i686_runs >&2; then
    run_build "$BUILD32" "$OUT_TOP/i686" win32 "$WINE32"
  fi
fi

[ -n "$failed_names" ] && log "failed:$failed_names"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
