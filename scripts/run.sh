#!/usr/bin/env bash
# Installs what is needed, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --target vantelorquist
exec ./build/src/app/vantelorquist "$@"
