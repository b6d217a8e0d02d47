#!/usr/bin/env bash
# Builds tobrin and runs it with the arguments given, e.g.
#   scripts/run.sh 1 mydisk.dsk
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tobrin >/dev/null
exec ./build/default/tobrin "$@"
