#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a bounded time:
#   bash tools/fuzz.sh [seconds per target, default 20] [target name...]
# Each target starts from its seed corpus (tests/data and tests/fuzz/seeds) and keeps what it
# finds in build-fuzz/corpus/<target>; a crash, hang, leak or broken property leaves the input
# in build-fuzz/findings/<target> and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
wanted=("$@")

bash tools/setup.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DKAVELON_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 "${launcher[@]}"
cmake --build build-fuzz

# The targets write their input files into a private folder under TMPDIR: in memory when
# the system has one, so the runs are not slowed by the disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

failed=0
summary=()
while IFS=$'\t' read -r name program dict seeds; do
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " == *" $name "* ]]; then continue; fi
  corpus=build-fuzz/corpus/$name
  findings=build-fuzz/findings/$name
  mkdir -p "$corpus" "$findings"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$findings/")
  [ "$dict" != "-" ] && options+=(-dict="$dict")
  log=build-fuzz/fuzz-$name.log
  # shellcheck disable=SC2086  # the seed folders are separate words
  if "$program" "${options[@]}" "$corpus" $seeds </dev/null >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=1
    tail -n 40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-14s %10s executions in %ss  %s' "$name" "${runs:-?}" "$seconds" "$result")")
done <build-fuzz/fuzz-targets.txt

printf 'fuzz targets:\n'
printf '  %s\n' "${summary[@]}"
exit $failed
