#!/usr/bin/env bash
# A PC late with every byte it writes (einstein-sim --pc-late MS: a busy
# machine, a hub), on the virtual Einstein with -fast, where the Einstein
# grants the next batch's stream while it works and must take in what is
# still due before anything that does not look at the line:
#   - the built-in disk on its one-sided drive;
#   - a one-sided image on a two-sided drive (each side 1 laid down blank
#     after side 0 is read back, in the window's last moments).
# For each lag: the outcome (identical, named, WRONG, hang), tobrin's
# status, the emulated time, the 8251's overruns and where the first one
# came (the instruction, in build/default/z80/target_program.lst).
#
#   bash scripts/bench-late-pc.sh
#   LAGS="0 100" bash scripts/bench-late-pc.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh

lags="${LAGS:-0 50 100 150 200}"
realistic_disk "$work/realistic.img"

one() {  # one DISK LAG
  local drive="" image=builtin
  [ "$1" = one-on-two ] && { drive="--sides 2"; image="$work/realistic.img"; }
  run "$1-$2" "$drive --pc-late $2" "$image" -fast
}

printf "%-11s %6s %-10s %6s %9s %8s %s\n" disk lag outcome status emulated overruns "first overrun"
for disk in builtin one-on-two; do
  n=0
  for lag in $lags; do
    one "$disk" "$lag" &
    n=$((n + 1))
    if (( n % 2 == 0 )); then wait; fi
  done
  wait
  for lag in $lags; do
    dir="$work/$disk-$lag"
    first=$(sed -n 's/.*after the instruction at //p' "$dir/sim.log")
    printf "%-11s %4sms %-10s %6s %8.1fs %8s %s\n" "$disk" "$lag" "$(outcome "$disk-$lag")" \
      "$(cut -d' ' -f1 "$dir/result")" "$(number "$dir/sim.log" 'emulated time')" \
      "$(number "$dir/sim.log" 'overruns')" "${first:--}"
  done
done
