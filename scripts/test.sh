#!/usr/bin/env bash
# Installs what is missing, builds Tallimo and its tests, and runs every test.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh

# Let ccache reuse objects built in another checkout of the same sources.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true

# Two jobs at most: the build machines have two cores and share them.
cmake --preset default
cmake --build --preset default -j 2
# The preset shows the output of failing tests and fails when no test ran.
ctest --preset default -j 2

# The native Windows build, cross-compiled and tested under Wine.
bash scripts/test-windows.sh

# Sanitizers, fuzzing, fault injection and a short soak of the real program.
bash scripts/test-reliability.sh

# How large the tests are against the code, counted the way the project does.
ratio=../shared/tools/test-ratio.sh
if [[ -f "$ratio" ]]; then bash "$ratio" || true; fi
