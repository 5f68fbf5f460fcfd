#!/usr/bin/env bash
# The reliability stage: every test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (system and fault-injection tests included), each
# libFuzzer target for a minute, and a short soak of the real program.
# About 12 minutes on two cores; FUZZ_SECONDS and SOAK_SECONDS shorten or
# lengthen it. The long runs: scripts/fuzz.sh, scripts/run-soak.sh and
# TALLIMO_SOAK_DAYS=31 build/asan/tests/soak_tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

fuzz_seconds=${FUZZ_SECONDS:-60}
soak_seconds=${SOAK_SECONDS:-60}

bash scripts/install-deps.sh

echo "== reliability: every test suite under ASan and UBSan"
cmake --preset asan
cmake --build --preset asan -j 2
ctest --preset asan -j 2

echo "== reliability: fuzzing, ${fuzz_seconds} s a target"
bash scripts/fuzz.sh --seconds "$fuzz_seconds"

echo "== reliability: the real program under input for ${soak_seconds} s"
bash scripts/run-soak.sh --seconds "$soak_seconds"
