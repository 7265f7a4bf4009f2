#!/usr/bin/env bash
# Installs what is needed, builds everything, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build --output-on-failure --parallel "$jobs" --timeout 300 "$@"
