#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a bounded time from its seeds in tests/fuzz/corpus/<target>, then prints one line
# per target: executions per second, total executions, crashes.
#   loader   the firmware loaders against a reference model of both file formats
#   parsers  NT 4 stored inquiry data, simulation scenarios, the terminal program's command line
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]   SECONDS (default 60) is shared evenly by the
# targets (default: all). Exit status 1 if any target crashed. Needs clang and libclang-rt
# (Debian: clang, libclang-rt-14-dev or the matching version).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(loader parsers)
out=build/fuzz
mkdir -p "$out"
cxx=${CXX_FUZZ:-$(command -v clang++ || command -v clang++-14)}
cc=${CC_FUZZ:-$(command -v clang || command -v clang-14)}

# The targets are built by the project's own build, from the same libraries as the programs
# (FWLOADER_FUZZ: every library instrumented for the fuzzer, the targets linked with libFuzzer).
configured=0
build() {
  if [ "$configured" -eq 0 ]; then
    cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_C_COMPILER="$cc" -DFWLOADER_SANITIZE=address,undefined -DFWLOADER_FUZZ=ON \
      -DFWLOADER_BUILD_BENCHMARKS=OFF >/dev/null
    configured=1
  fi
  case "$1" in
    loader|parsers) cmake --build "$out" --target "${1}_fuzz" >/dev/null ;;
    *) echo "unknown fuzz target: $1" >&2; exit 2 ;;
  esac
}

max_len() { case "$1" in loader) echo 8192 ;; *) echo 4096 ;; esac; }

per_target=$(( seconds / ${#targets[@]} ))
[ "$per_target" -lt 1 ] && per_target=1
summary=()
crashed=0
for t in "${targets[@]}"; do
  build "$t"
  dir=$out/$t
  mkdir -p "$dir/corpus" "$dir/artifacts"
  # Work on a copy so that the seeds in the repository stay as they are.
  cp tests/fuzz/corpus/"$t"/* "$dir/corpus/"
  before=$(ls "$dir/artifacts" | wc -l)
  status=0
  "$out/tests/fuzz/${t}_fuzz" -max_total_time="$per_target" -max_len="$(max_len "$t")" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$dir/artifacts/" -print_final_stats=1 \
    "$dir/corpus" >"$dir/log.txt" 2>&1 || status=$?
  grep -E '^#[0-9]+ +(pulse|DONE)|ERROR|^SUMMARY|_fuzz: ' "$dir/log.txt" || true
  crashes=$(( $(ls "$dir/artifacts" | wc -l) - before ))
  [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ] && crashes=1
  [ "$crashes" -ne 0 ] && crashed=1
  stat() { sed -n "s/^stat::$1: *//p" "$dir/log.txt" | tail -n 1; }
  summary+=("$(printf '%-8s %6s s  %8s exec/s  %10s executions  %s crashes' "$t" "$per_target" \
    "$(stat average_exec_per_sec)" "$(stat number_of_executed_units)" "$crashes")")
done

echo
echo "fuzzing summary (artifacts in $out/<target>/artifacts):"
printf '  %s\n' "${summary[@]}"
exit "$crashed"
