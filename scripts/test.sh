#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build, the same tests
# under AddressSanitizer and UBSan, a 30-second fuzzing run of the disc
# image reader (scripts/fuzz.sh), the Windows tobrin.exe under wine
# (scripts/test-windows.sh), the CI workflows (scripts/check-workflows.sh),
# and the packages built and given every check of the release command
# (scripts/release.sh --quick: all but this test command).  Exits non-zero
# when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for preset in default asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "=== windows: cross build of tobrin.exe and its unit tests"
cmake --preset windows >/dev/null
cmake --build --preset windows

status=0
for preset in default asan; do
  echo "=== $preset: tests"
  ctest --preset "$preset" || status=1
done
echo "=== fuzz: the disc image reader, 30 s"
bash scripts/fuzz.sh 30 || status=1
bash scripts/test-windows.sh || status=1
echo "=== workflows: the release workflow (scripts/check-workflows.sh)"
bash scripts/check-workflows.sh || status=1
echo "=== release: the packages and their checks (scripts/release.sh --quick)"
bash scripts/release.sh --quick || status=1
exit $status
