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
# A -read run is identical when the image it wrote holds the disk's every
# sector.  The bad-area group runs at the machine's pace (minutes): a batch
# with sectors the monitor tries ten times each must end named, with its
# sectors, never as an Einstein that stopped answering; one whose Einstein
# is reset meanwhile must end within about two minutes of the reset.
#
#   bash scripts/bench-faults.sh            drops and changes at 1e-3, 10 seeds
#   bash scripts/bench-faults.sh 3          3 seeds
#   SCENARIOS="drop" bash scripts/bench-faults.sh    one group only
#     groups: drop change noisy verify fast read ends bad
set -euo pipefail
cd "$(dirname "$0")/.."
seeds="${1:-10}"
scenarios="${SCENARIOS:-drop change noisy verify fast read ends bad}"
source scripts/bench-common.sh
head -c 819200 /dev/urandom >"$work/ds80.img"
# The built-in disk as tobrin writes it on an Einstein, for -read.
run builtin-disk "--save $work/builtin.dsk" builtin

# recovered LOG: the line faults the run recovered from ("  + 3 line faults recovered")
recovered() {
  local n
  n=$(grep -aoE '[0-9]+ line faults? recovered' "$1" | head -1 | grep -oE '^[0-9]+' || true)
  echo "${n:-0}"
}

# tag_of TITLE: the folder name of a scenario's runs
tag_of() { echo "$1" | tr -c 'a-zA-Z0-9' '_'; }

# scenario TITLE "SIM OPTIONS" IMAGE [TOBRIN OPTIONS...]: the seeds' runs,
# two at a time, and a table line
scenario() {
  local title=$1 options=$2 image=$3 tag
  shift 3
  tag=$(tag_of "$title")
  for seed in $(seq "$seeds"); do
    "${runner:-run}" "$tag-$seed" "$options --seed $seed" "$image" "$@" &
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
    read)
      runner=run_read
      scenario "-read, changes 1e-3 both ways: built-in, SS40" "--corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" "$work/builtin.dsk"
      scenario "-read, drops 1e-3 both ways: built-in, SS40" "--drop-to-einstein 0.001 --drop-from-einstein 0.001" "$work/builtin.dsk"
      scenario "-read -fast, changes 1e-3 both ways: built-in" "--corrupt-to-einstein 0.001 --corrupt-from-einstein 0.001" "$work/builtin.dsk" -fast
      scenario "-read -fast, drops 1e-3 both ways: built-in" "--drop-to-einstein 0.001 --drop-from-einstein 0.001" "$work/builtin.dsk" -fast
      runner=run
      ;;
    ends)
      seeds_saved=$seeds; seeds=1
      scenario "line cut during the format (10 s)" "--cut-line-at 10" builtin
      scenario "line cut during the transfer (24 s)" "--cut-line-at 24" builtin
      scenario "reset during the format (10 s)" "--reset-at 10" builtin
      scenario "reset during the transfer (24 s)" "--reset-at 24" builtin
      seeds=$seeds_saved
      ;;
    bad)
      # Twenty sectors of tracks 2 and 3 that never take a write, in the
      # first batch (it begins at about 21 s), at the machine's pace.
      bad=""
      for track in 2 3; do for id in $(seq 0 9); do bad+=" --fail-write $track:$id"; done; done
      seeds_saved=$seeds; seeds=1
      title="bad area: 20 sectors in one batch, real pace"
      scenario "$title" "--pace real$bad" builtin
      grep -a -E '^  \+ (Track|The Einstein is still)' "$work/$(tag_of "$title")-1/tobrin.log" | sed 's/^/      /'
      title="bad area, the Einstein reset in it (100 s)"
      scenario "$title" "--pace real --reset-at 100$bad" builtin
      echo "      from the reset to tobrin's end: $(echo "$(cut -d' ' -f2 "$work/$(tag_of "$title")-1/result") - 100" | bc) s (the run's wall time less the emulated 100 s)"
      seeds=$seeds_saved
      ;;
  esac
done
