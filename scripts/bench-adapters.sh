#!/usr/bin/env bash
# The adapters people have, on the virtual Einstein: every adapter preset
# of einstein-sim (how the chip keeps to CTS, its receive latency, the
# rates it makes) against every mode, each run compared with its image:
#   - the built-in disk and a realistic one-sided disk (bench-common.sh):
#     plain, -verify, -fast and -read (the disk read back whole);
#   - a random two-sided 80-track image: plain and -fast.
# For each run: the outcome (identical, named: a halt report, WRONG, hang),
# tobrin's status, the emulated time and its ratio to the ideal adapter's
# at the same rate (-fast: "ideal-9600", an ideal adapter on a line that
# carries nothing faster than 9600, is the measure of the presets whose
# chip makes neither faster rate), the rate -fast agreed, the overruns
# and how many bytes the adapter started after CTS went off.
#
#   bash scripts/bench-adapters.sh
#   ADAPTERS="ideal ch340-linux" MODES="plain -fast" DISKS="builtin" bash scripts/bench-adapters.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh

adapters="${ADAPTERS:-ideal ftdi cp2102n cp2102 ch340-linux 16550-fifo}"
modes="${MODES:-plain -verify -fast -read}"
disks="${DISKS:-builtin realistic ds80}"

realistic_disk "$work/realistic.img"
head -c 819200 /dev/urandom >"$work/ds80.img"

# disk_file DISK: $work/DISK.dsk, the disk a -read of DISK reads (the
# image written by a plain run with the ideal adapter, saved)
disk_file() {
  local image=builtin
  [ "$1" = realistic ] && image="$work/realistic.img"
  [ -f "$work/$1.dsk" ] || run "make-$1" "--save $work/$1.dsk" "$image"
}

# one DISK MODE ADAPTER: a run, in $work/DISK_MODE-ADAPTER
run_name() { echo "$1${2//[^a-z]/_}-$3"; }
one() {
  local disk=$1 mode=$2 adapter=$3 image drive="" name sim_adapter="--adapter $3"
  [ "$adapter" = ideal-9600 ] && sim_adapter="--adapter ideal --max-baud 9700"
  name=$(run_name "$disk" "$mode" "$adapter")
  case $disk in
    builtin) image=builtin ;;
    realistic) image="$work/realistic.img" ;;
    ds80) image="$work/ds80.img"; drive="--tracks 80 --sides 2" ;;
  esac
  case $mode in
    plain) run "$name" "$drive $sim_adapter" "$image" ;;
    -read) run_read "$name" "$drive $sim_adapter" "$work/$disk.dsk" ;;
    *) run "$name" "$drive $sim_adapter" "$image" "$mode" ;;
  esac
}

printf "%-10s %-8s %-12s %-10s %6s %9s %7s %6s %9s %6s\n" disk mode adapter outcome status emulated "x ideal" rate overruns late
for disk in $disks; do
  [[ " $modes " != *" -read "* ]] || [ "$disk" = ds80 ] || disk_file "$disk" >/dev/null
  for mode in $modes; do
    if [ "$disk" = ds80 ] && [ "$mode" != plain ] && [ "$mode" != -fast ]; then continue; fi
    row_adapters=$adapters
    [ "$mode" = -fast ] && row_adapters="$adapters ideal-9600"
    n=0
    for adapter in $row_adapters; do
      one "$disk" "$mode" "$adapter" &
      n=$((n + 1))
      if (( n % 2 == 0 )); then wait; fi
    done
    wait
    ideal="" ideal_9600=""
    [ "$mode" = -fast ] && ideal_9600=$(number "$work/$(run_name "$disk" "$mode" ideal-9600)/sim.log" 'emulated time')
    for adapter in $row_adapters; do
      name=$(run_name "$disk" "$mode" "$adapter")
      dir="$work/$name"
      emulated=$(number "$dir/sim.log" 'emulated time')
      [ "$adapter" = ideal ] && ideal=$emulated
      rate=$(grep -aoE 'line (runs|stays) at [0-9]+' "$dir/tobrin.log" | grep -oE '[0-9]+$' | head -1 || true)
      measure=$ideal
      [ "${rate:-}" = 9600 ] && [ -n "$ideal_9600" ] && measure=$ideal_9600
      ratio="-"
      [ -n "$measure" ] && [ "$measure" != 0 ] && ratio=$(printf "%.2f" "$(echo "$emulated / $measure" | bc -l)")
      printf "%-10s %-8s %-12s %-10s %6s %8.1fs %7s %6s %9s %6s\n" "$disk" "$mode" "$adapter" "$(outcome "$name")" \
        "$(cut -d' ' -f1 "$dir/result")" "$emulated" "$ratio" "${rate:--}" \
        "$(number "$dir/sim.log" 'overruns')" "$(number "$dir/sim.log" 'adapter:')"
    done
  done
done
