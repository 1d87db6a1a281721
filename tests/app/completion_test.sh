#!/usr/bin/env bash
# The bash completion of fwloader, as bash calls it: COMP_WORDS split at bash's word breaks
# (with '=' among them, as by default, and without), the replies in COMPREPLY.
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
source "$1"
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
mkdir "old builds"
touch "my fw.Bin" "QF2TR08.BIN" "fw.HEX" "notes.txt" "trace log.txt"

failures=0
# expect "WANT" WORD...: completes the last word; WANT is the sorted replies joined by '|'.
expect() {
  local want=$1
  shift
  COMP_WORDS=(fwloader "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _fwloader
  local got
  got="$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd'|')"
  if [[ $got != "$want" ]]; then
    echo "FAIL: fwloader $*: got '$got', want '$want'"
    failures=$((failures + 1))
  fi
}

# Firmware files in any case of .bin and .hex, names with spaces whole, folders to descend.
expect "QF2TR08.BIN|fw.HEX|my fw.Bin|old builds" --file ""
expect "my fw.Bin" -f "my"
expect "QF2TR08.BIN|fw.HEX|my fw.Bin|old builds" --check ""
# --option=value, '=' a word break: the value alone is completed.
expect "QF2TR08.BIN|fw.HEX|my fw.Bin|old builds" --file "=" ""
expect "my fw.Bin" --file "=" "my"
expect "trace log.txt" --trace "=" "trace"
expect "trace log.txt" --sim-flash "=" "tr"
expect "drives=" --simulate "=" "dri"
expect "write-fail-sense=|write-fail=" --simulate "=" "write-f"
expect "drives=kdr+disk|drives=kdr+kdr|drives=kdr+none|drives=kdr+other" --simulate "=" "drives=kdr+"
expect "time-scale=20,end=idle|time-scale=20,end=reset|time-scale=20,end=vanish" \
  --simulate "=" "time-scale=20,end="
# '=' not a word break: the whole word, option included, is replaced.
expect "--file=my fw.Bin" "--file=my"
expect "--simulate=hang" "--simulate=ha"
expect "--trace=trace log.txt" "--trace=trace"
# Options themselves; --simulate takes a scenario only after '='.
expect "--sim-flash|--simulate|--simulate=" "--si"
expect "" --simulate ""

# /dev/sr* as they exist here: whatever the machine has, every reply is one.
COMP_WORDS=(fwloader --device "=" "/dev/sr")
COMP_CWORD=3
COMPREPLY=()
_fwloader
for device in "${COMPREPLY[@]}"; do
  [[ $device == /dev/sr* && -e $device ]] || { echo "FAIL: --device= offers $device"; failures=$((failures + 1)); }
done

echo "completion_test: $failures failures"
exit $((failures != 0))
