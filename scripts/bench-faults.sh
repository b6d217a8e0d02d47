#!/usr/bin/env bash
# Fault benchmarks: whole runs of the real tobrin against einstein-sim with
# faults on the line, seeded and reproducible, keys all typed ahead ("YYYY":
# no user action).  Each run ends in one of:
#   identical  "Disk formatted and disk image transferred." and the disk is the image
#   named      a halt report says what went wrong
#   WRONG      success reported over a disk that differs from the image
#   hang       tobrin did not end within its bound (killed)
# and the table shows, per scenario, the outcomes, the recoveries per run,
# the emulated time against a clean run, and the blocks the Einstein took in
# with a changed byte: full blocks whose 8-bit checksum let the change
# through, fill-form blocks (03h v), which carry no checksum, and
# compressed blocks (-fast) whose CRC-16 let it through.
#
#   bash scripts/bench-faults.sh            drops and changes at 1e-3, 10 seeds
#   bash scripts/bench-faults.sh 3          3 seeds
#   SCENARIOS="drop" bash scripts/bench-faults.sh    one group only
#     groups: drop change noisy verify fast ends
set -euo pipefail
cd "$(dirname "$0")/.."
seeds="${1:-10}"
scenarios="${SCENARIOS:-drop change noisy verify fast ends}"
source scripts/bench-common.sh
head -c 819200 /dev/urandom >"$work/ds80.img"

# recovered LOG: the line faults the run recovered from ("  + 3 line faults recovered")
recovered() {
  local n
  n=$(grep -aoE '[0-9]+ line faults? recovered' "$1" | head -1 | grep -oE '^[0-9]+' || true)
  echo "${n:-0}"
}

# scenario TITLE "SIM OPTIONS" IMAGE [TOBRIN OPTIONS...]: the seeds' runs,
# two at a time, and a table line
scenario() {
  local title=$1 options=$2 image=$3 tag
  shift 3
  tag=$(echo "$title" | tr -c 'a-zA-Z0-9' '_')
  for seed in $(seq "$seeds"); do
    run "$tag-$seed" "$options --seed $seed" "$image" "$@" &
    if (( seed % 2 == 0 )); then wait; fi
  done
  wait
  local identical=0 named=0 wrong=0 hang=0 recoveries=0 emulated=0 wall=0 through=0 fills=0 compressed=0 halts=""
  for seed in $(seq "$seeds"); do
    local dir="$work/$tag-$seed"
    case $(outcome "$tag-$seed") in
      identical) identical=$((identical + 1)) ;;
      named) named=$((named + 1)); halts+="$(grep -a -A1 'TOBRIN HALTED' "$dir/tobrin.log" | grep -a 'Error ->' | head -1 | cut -c1-90)"$'\n' ;;
      WRONG) wrong=$((wrong + 1)) ;;
      hang) hang=$((hang + 1)) ;;
    esac
    recoveries=$(echo "$recoveries + $(recovered "$dir/tobrin.log")" | bc)
    emulated=$(echo "$emulated + $(number "$dir/sim.log" 'emulated time')" | bc)
    wall=$(echo "$wall + $(cut -d' ' -f2 "$dir/result")" | bc)
    through=$((through + $(number "$dir/sim.log" 'checksum let through')))
    fills=$((fills + $(number "$dir/sim.log" 'fill form')))
    compressed=$((compressed + $(number "$dir/sim.log" 'compressed')))
  done
  printf "%-44s %3d identical %3d named %3d WRONG %3d hang | recoveries/run %5.1f | emulated %7.1f s | wall %6.1f s | changed blocks taken: checksum let through %d, fill form %d, compressed %d\n" \
    "$title" "$identical" "$named" "$wrong" "$hang" "$(echo "$recoveries / $seeds" | bc -l)" \
    "$(echo "$emulated / $seeds" | bc -l)" "$(echo "$wall / $seeds" | bc -l)" "$through" "$fills" "$compressed"
  [ -n "$halts" ] && printf '%s' "$halts" | sort | uniq -c | sed 's/^/      /'
  return 0
}

echo "Fault benchmarks, $seeds seeds a scenario (averages per run)"
for group in $scenarios; do
  case $group in
    drop)
      seeds_saved=$seeds; seeds=1
      scenario "clean: built-in image, SS40" "" builtin
      scenario "clean: random image, DS80" "--tracks 80 --sides 2" "$work/ds80.img"
      seeds=$seeds_saved
      scenario "drops 1e-3 both ways: built-in, SS40" "--drop-to-einstein 0.001 --drop-from-einstein 0.001" builtin
      scenario "drops 1e-3 both ways: random, DS80" "--tracks 80 --sides 2 --drop-to-einstein 0.001 --drop-from-einstein 0.001" "$work/ds80.img"
      ;;
    change)
      scenario "changes 1e-3 both ways: built-in, SS40" "--corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" builtin
      scenario "changes 1e-3 both ways: random, DS80" "--tracks 80 --sides 2 --corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" "$work/ds80.img"
      ;;
    noisy)
      scenario "changes 1e-2 both ways: built-in, SS40" "--corrupt-to-einstein 0.01 --corrupt-from-einstein 0.01" builtin
      ;;
    verify)
      scenario "changes 1e-3 both ways, -verify: random, DS80" "--tracks 80 --sides 2 --corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" "$work/ds80.img" -verify
      ;;
    fast)
      scenario "changes 1e-3 both ways, -fast: built-in, SS40" "--corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" builtin -fast
      scenario "changes 1e-3 both ways, -fast: random, DS80" "--tracks 80 --sides 2 --corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" "$work/ds80.img" -fast
      scenario "drops 1e-3 both ways, -fast: built-in, SS40" "--drop-to-einstein 0.001 --drop-from-einstein 0.001" builtin -fast
      ;;
    ends)
      seeds_saved=$seeds; seeds=1
      scenario "line cut during the format (10 s)" "--cut-line-at 10" builtin
      scenario "line cut during the transfer (24 s)" "--cut-line-at 24" builtin
      scenario "reset during the format (10 s)" "--reset-at 10" builtin
      scenario "reset during the transfer (24 s)" "--reset-at 24" builtin
      seeds=$seeds_saved
      ;;
  esac
done
