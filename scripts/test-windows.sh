#!/usr/bin/env bash
# The Windows stage: runs the very tobrin.exe that users get, under wine.
#  - the unit tests of the product code, built for Windows, through ctest
#    with wine as the cross-compiling emulator;
#  - the run-driver transcript tests against tobrin.exe, its COM1 and COM2
#    mapped to pseudo-terminals on which the tests play the Einstein;
#  - its key read in a console: tobrin.exe in tmux, keys by send-keys;
#  - a whole run of tobrin.exe against einstein-sim.
# Expects the default and windows builds to be there (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

source scripts/wine-env.sh
# COM1 and COM2 are links that the tests point at their pseudo-terminals.
# (Map both: an unmapped COM2 would be the host's /dev/ttyS1.)
ports="$WINEPREFIX/tobrin-ports"
mkdir -p "$ports"
timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$ports/com1" /f </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d "$ports/com2" /f </dev/null >/dev/null 2>&1
# A persistent, warmed-up wineserver of our own, its output to /dev/null: a
# server that wine starts on demand would inherit a test's output pipe (and
# every run would wait for wine's services).
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 </dev/null || true
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
echo "=== windows: unit tests under wine"
# Each test is its own wine process; now and then wine fails to start one
# (no output at all, 0.00 s), so a test that fails runs once more.
ctest --preset windows --repeat until-pass:2 </dev/null || status=1

export TOBRIN_WINE_EXE="$PWD/build/windows/tobrin.exe" TOBRIN_WINE_PORTS="$ports"
echo "=== windows: tobrin.exe transcripts under wine"
timeout 1200 ./build/default/tests/run_tests --gtest_filter='RunDriver.*' --gtest_brief=1 </dev/null || status=1
echo "=== windows: tobrin.exe's key read in a console (tmux) under wine"
# These start a wine process per window (a dozen): one that wine fails to
# start (nothing printed at all) fails the suite, which then runs once more.
timeout 600 ./build/default/tests/wine_console_tests --gtest_brief=1 </dev/null ||
  timeout 600 ./build/default/tests/wine_console_tests --gtest_brief=1 </dev/null || status=1
echo "=== windows: tobrin.exe against einstein-sim under wine"
timeout 600 ./build/default/tests/end_to_end_tests --gtest_filter='EndToEnd.TheBuiltIn*:EndToEnd.AWriteProtected*:EndToEnd.AnAdapterThatRounds*' --gtest_brief=1 || status=1
exit $status
