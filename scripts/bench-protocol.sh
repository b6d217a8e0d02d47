#!/usr/bin/env bash
# Single damaged bytes at each kind of protocol position, five positions of
# each kind where there are five (a byte changed by XOR 5Ah on its way), and
# how each run ends: with the disk identical to the image, with a named
# failure, or WRONG (success over a disk that differs) - never for ever.
# A fill value has no checksum, so a damaged one is WRONG unless the run
# has -verify, which finds it and sends the batch again: the fill values
# are damaged once more in runs with -verify.  Also: how long a mistyped
# image name takes to be refused.
#
#   bash scripts/bench-protocol.sh
#
# The positions are counted on the wire of a run without faults, from the
# format command on (the PC's bytes) and from the first format status byte
# on (the Einstein's), for a random one-sided 40-track image (every sector
# a full block) and for the built-in image (its sectors 5-79 of each batch
# and all later ones go in the fill form).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh
head -c 204800 /dev/urandom >"$work/ss40.img"

# The random image's wire: after "*" and the 3 geometry bytes, batch b
# (0-4) is its batch byte and 80 blocks of 514 bytes (marker, 512 data
# bytes, the PC's checksum); the end byte follows.  The Einstein answers
# with 2 format status bytes and the flags byte, then per batch 80
# checksums and the status block (03h 00h).
batch_start() { echo $((4 + $1 * (1 + 80 * 514))); }
block_start() { echo $(($(batch_start "$1") + 1 + 514 * $2)); }  # batch, sector: its marker

declare -a cases  # "kind|sim options|image|tobrin options"
for b in 0 1 2 3 4; do
  k=$((b * 17 % 80))
  cases+=("PC checksum|--change-byte $(($(block_start $b $k) + 513))|random")
  cases+=("Einstein checksum|--change-byte-from-einstein $((3 + b * 82 + k))|random")
  cases+=("block marker|--change-byte $(block_start $b $k)|random")
  cases+=("batch byte|--change-byte $(batch_start $b)|random")
  cases+=("status byte|--change-byte-from-einstein $((3 + b * 82 + 81))|random")
  # the built-in image: batch 0's fill blocks begin at byte 2575, later batches are all fills
  cases+=("fill value|--change-byte $((2576 + 2 * (b * 13 % 70)))|builtin")
  cases+=("fill value, -verify|--change-byte $((2576 + 2 * (b * 13 % 70)))|builtin|-verify")
done
for g in 1 2 3; do cases+=("geometry byte|--change-byte $g|random"); done
cases+=("drive flags|--change-byte-from-einstein 2|random")
cases+=("end byte|--change-byte $(batch_start 5)|random")

printf "%-20s %-40s %-10s %7s  %s\n" "kind" "fault" "outcome" "wall s" "first line of the report"
i=0
for c in "${cases[@]}"; do
  IFS='|' read -r kind options image extra <<<"$c"
  [ "$image" = random ] && image="$work/ss40.img"
  # shellcheck disable=SC2086
  run "case$i" "$options" "$image" $extra
  dir="$work/case$i"
  line=$(grep -a -A1 'TOBRIN HALTED' "$dir/tobrin.log" | grep -a 'Error ->' | head -1 | cut -c1-70 || true)
  [ -z "$line" ] && line=$(grep -ao '+ [0-9]* line faults\? recovered' "$dir/tobrin.log" | head -1 || true)
  printf "%-20s %-40s %-10s %7.1f  %s\n" "$kind" "$options" "$(outcome "case$i")" "$(cut -d' ' -f2 "$dir/result")" "$line"
  i=$((i + 1))
done

# A mistyped image name: refused before any prompt, the line untouched.
"$sim" --quiet </dev/null >"$work/idle.log" 2>&1 &
idle=$!
line=$(line_of "$work/idle.log")
start=$(date +%s.%N)
TOBRIN_COM1="$line" "$tobrin" 1 "$work/mistyped.dsk" </dev/null >"$work/mistyped.log" 2>&1 || true
end=$(date +%s.%N)
kill -INT "$idle"; wait "$idle" || true
printf "a mistyped image name is refused %.3f s after tobrin starts, before any prompt (%s bytes to the Einstein): %s\n" \
  "$(echo "$end - $start" | bc)" "$(number "$work/idle.log" 'from the PC')" "$(grep -a 'Error ->' "$work/mistyped.log")"
