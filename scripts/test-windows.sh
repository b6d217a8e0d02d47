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

missing=()
for p in wine wine64 tmux; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=(); [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The prefix (about 700 MB) lives outside the checkout and is made once.
export WINEPREFIX="${TOBRIN_WINE_PREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/tobrin-wine}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== windows: creating the wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1
fi
# COM1 and COM2 are links that the tests point at their pseudo-terminals.
# (Map both: an unmapped COM2 would be the host's /dev/ttyS1.)
ports="$WINEPREFIX/tobrin-ports"
mkdir -p "$ports"
timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$ports/com1" /f >/dev/null 2>&1
timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d "$ports/com2" /f >/dev/null 2>&1
# A persistent, warmed-up wineserver of our own, its output to /dev/null: a
# server that wine starts on demand would inherit a test's output pipe (and
# every run would wait for wine's services).
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 </dev/null || true
timeout 120 wine cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
echo "=== windows: unit tests under wine"
ctest --preset windows || status=1

export TOBRIN_WINE_EXE="$PWD/build/windows/tobrin.exe" TOBRIN_WINE_PORTS="$ports"
echo "=== windows: tobrin.exe transcripts under wine"
timeout 1200 ./build/default/tests/run_tests --gtest_filter='RunDriver.*' --gtest_brief=1 || status=1
echo "=== windows: tobrin.exe's key read in a console (tmux) under wine"
timeout 600 ./build/default/tests/wine_console_tests --gtest_brief=1 || status=1
echo "=== windows: tobrin.exe against einstein-sim under wine"
timeout 600 ./build/default/tests/end_to_end_tests --gtest_filter='EndToEnd.TheBuiltIn*:EndToEnd.AWriteProtected*' --gtest_brief=1 || status=1
exit $status
