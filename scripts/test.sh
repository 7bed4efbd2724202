#!/usr/bin/env bash
# Builds everything and runs every test under Wine (a fresh private Wine session per run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32 "$@"
