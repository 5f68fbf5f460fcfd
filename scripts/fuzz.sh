#!/usr/bin/env bash
# Runs the libFuzzer targets one after another and prints, for each, the
# executions, executions per second and edge coverage.
# Usage: bash scripts/fuzz.sh [--seconds N] [TARGET...]
#   default: 600 seconds for each of parse_int16, day_record and channel.
# The corpora grow under build/fuzz/corpus/<target>, seeded from
# tests/fuzz/corpus/<target>; a crash leaves its input in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=600
targets=()
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    -*) echo "usage: $0 [--seconds N] [parse_int16|day_record|channel]..." >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=(parse_int16 day_record channel)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

declare -A max_len=([parse_int16]=64 [day_record]=65 [channel]=256)
mkdir -p build/fuzz/artifacts
status=0
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t
  log=build/fuzz/$t.log
  mkdir -p "$corpus"
  if build/fuzz/tests/fuzz/fuzz_"$t" -max_total_time="$seconds" \
    -max_len="${max_len[$t]}" -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/"$t"- \
    "$corpus" tests/fuzz/corpus/"$t" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  # The log can hold raw input bytes: read it as text, and let a missing figure be "?".
  runs=$(grep -a -o '^stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  rate=$(grep -a -o '^stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -a -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  pcs=$(grep -a -o 'PC tables ([0-9]* PCs)' "$log" | head -1 | grep -o '[0-9][0-9]*' | head -1 || true)
  printf 'fuzz %-12s %s: %s executions in %s s, %s/s, coverage %s of %s edges, corpus %s files\n' \
    "$t" "$result" "${runs:-?}" "$seconds" "${rate:-?}" "${cov:-?}" "${pcs:-?}" "$(ls "$corpus" | wc -l)"
  if [[ $result != ok ]]; then
    grep -a -v 'WARNING: AddressSanitizer failed to allocate' "$log" | tail -40 >&2 || true
  fi
done
exit "$status"
