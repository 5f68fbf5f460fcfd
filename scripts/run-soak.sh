#!/usr/bin/env bash
# Runs the soak of the real program (tests/soak/soak_real.py) on a virtual X server.
# Usage: bash scripts/run-soak.sh [--seconds N] [--bin PATH]
#   defaults: 600 seconds, build/default/tallimo (built when missing)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=600
bin=build/default/tallimo
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--bin PATH]" >&2; exit 2 ;;
  esac
done
if [[ ! -x $bin ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target tallimo -j 2
fi
TALLIMO_BIN=$(realpath "$bin") SOAK_SECONDS=$seconds /usr/bin/python3 -B tests/soak/soak_real.py
