#!/usr/bin/env bash
# A whole TOBRIN run without an Einstein: builds everything, starts a
# virtual Einstein (einstein-sim) on a pseudo-terminal, and runs tobrin
# against it in this terminal.  Answer tobrin's prompts with Y as you would
# at a real machine (the loader is already typed in on the virtual one).
# At the end the written disk is saved as demo.dsk and the virtual Einstein
# boots it.
#
#   bash scripts/demo.sh                 the built-in system disk, 40 tracks, one side
#   bash scripts/demo.sh mydisk.dsk      an image file of yours
#   EINSTEIN="--tracks 80 --sides 2" bash scripts/demo.sh   another drive
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tobrin einstein-sim >/dev/null

work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null || true; kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
mkfifo "$work/commands"
# shellcheck disable=SC2086
./build/default/sim/einstein-sim --save demo.dsk --boot ${EINSTEIN:-} <"$work/commands" >"$work/einstein.log" &
sim=$!
exec 3>"$work/commands"
for _ in $(seq 100); do grep -q "line on" "$work/einstein.log" && break; sleep 0.05; done
line=$(sed -n 's/^einstein-sim: line on //p' "$work/einstein.log")
echo "A virtual Einstein is on $line; its screen is shown when tobrin is done."
echo

status=0
TOBRIN_COM1="$line" ./build/default/tobrin 1 "$@" || status=$?

echo
if [ "$status" -ne 0 ]; then echo quit >&3; fi
wait "$sim" || true
echo "--- The Einstein's screen ---"
# Each screen line as it was left: the last of its in-place rewrites.
awk -F'\r' '{ for (i = NF; i > 0; i--) if ($i ~ /^Einstein\| /) { sub(/^Einstein\| /, "", $i); sub(/ +$/, "", $i); if ($i != "") print $i; break } }' \
  "$work/einstein.log"
echo "--- einstein-sim ---"
grep -a '^einstein-sim: ' "$work/einstein.log" | grep -v "line on\|run  TOBRIN" || true
exit "$status"
