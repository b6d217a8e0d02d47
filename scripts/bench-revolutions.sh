#!/usr/bin/env bash
# The disk at its own pace, on the virtual Einstein (emulated time): for
# three disks, plain and with -verify, the run's emulated seconds and the
# revolutions per track side of each disk phase as einstein-sim measures
# them through its controller model (format: its first Write Track to the
# end of its last; write and read-back: from a sector call until the line is
# used again, the program's work between the calls included).  The -fast
# rows (a faster line agreed, sectors compressed, every sector read back)
# name the rate and how far the sectors compressed; "-fast at 9600" is an
# Einstein whose line carries nothing faster (compression alone).  A -fast
# run has no format pass (each side is formatted as it is written): its
# format column is empty and its write column holds the Write Tracks.
#   - the built-in image on a one-sided 40-track drive;
#   - a realistic full one-sided 40-track disk, built here: boot tracks of
#     Z80 code, a directory, files of text and Z80 code, a third left blank;
#   - random one-sided 40-track and two-sided 80-track images.
#
#   bash scripts/bench-revolutions.sh
#   MODES="-fast -fast@9600" bash scripts/bench-revolutions.sh   (those rows only)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh

realistic_disk "$work/realistic.img"
head -c 819200 /dev/urandom >"$work/ds80.img"
head -c 204800 /dev/urandom >"$work/ss40.img"

revolutions() {  # revolutions NAME PHASE
  grep -aoE "$2 [0-9.]+ \([0-9]+" "$work/$1/sim.log" | head -1 | grep -oE '[0-9.]+ ' | tr -d ' ' || echo '-'
}
from_command() {  # from_command NAME: the format's figure from the format command on
  grep -aoE '[0-9.]+ from the command' "$work/$1/sim.log" | head -1 | grep -oE '^[0-9.]+' || echo '-'
}

printf "%-30s %9s %8s %10s %8s %8s  %s\n" "disk, run" "emulated" "format" "(+ check)" "write" "verify" "(revolutions per track side)"
for setup in "built-in, SS40||builtin|plain -verify -fast" \
             "realistic, SS40||$work/realistic.img|plain -verify -fast -fast@9600" \
             "random, SS40||$work/ss40.img|plain -fast" \
             "random, DS80|--tracks 80 --sides 2|$work/ds80.img|plain -verify -fast"; do
  IFS='|' read -r title options image modes <<<"$setup"
  for mode in $modes; do
    [ -n "${MODES:-}" ] && [[ " $MODES " != *" $mode "* ]] && continue
    name="${title%%,*}-${title##* }$mode"
    case $mode in
      plain) run "$name" "$options" "$image" ;;
      -fast@9600) run "$name" "$options --max-baud 9700" "$image" -fast ;;
      *) run "$name" "$options" "$image" "$mode" ;;
    esac
    verify=-
    [ "$mode" != plain ] && verify=$(revolutions "$name" read)
    ratio=$(grep -aoE '\([0-9.]+ to 1\)' "$work/$name/tobrin.log" | head -1 | tr -d '()' || true)
    printf "%-30s %8.1fs %8s %10s %8s %8s  %s\n" "$title ${mode/@/ at }" \
      "$(number "$work/$name/sim.log" 'emulated time')" \
      "$(revolutions "$name" format)" "$(from_command "$name")" "$(revolutions "$name" write)" "$verify" \
      "$(outcome "$name")$(grep -aoE ' at [0-9]+ baud' "$work/$name/tobrin.log" | head -1)${ratio:+, compressed $ratio}"
  done
done
