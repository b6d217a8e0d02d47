#!/usr/bin/env bash
# Benchmarks: whole runs of the real tobrin against einstein-sim, and how
# close they come to the serial line's limit.  Prints, for the built-in
# image on a one-sided 40-track drive and for a full two-sided 80-track
# image (random data: every sector goes in full form):
#   bytes on the wire and the line-time lower bound (bytes x 11 / 9600 s),
#   the emulated time of the run and of each phase, the ratio of emulated
#   transfer time to its line bound, the worst data-request delay during
#   the format against its 128 T budget, the simulator's speed, and the CPU
#   seconds tobrin used; then tobrin's CPU seconds while it waits 10 s at a
#   prompt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default --target tobrin einstein-sim >/dev/null

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
sim=./build/default/sim/einstein-sim
tobrin=./build/default/tobrin

# start_einstein OPTIONS...: starts einstein-sim, sets $line
start_einstein() {
  rm -f "$work/sim.log" "$work/sim.in"
  mkfifo "$work/sim.in"
  "$sim" "$@" <"$work/sim.in" >"$work/sim.log" &
  exec 5>"$work/sim.in"
  for _ in $(seq 200); do grep -q "line on" "$work/sim.log" && break; sleep 0.05; done
  line=$(sed -n 's/^einstein-sim: line on //p' "$work/sim.log")
}

wait_for() {  # wait_for FILE TEXT
  for _ in $(seq 600); do grep -aq "$2" "$1" && return 0; sleep 0.05; done
  echo "bench: timed out waiting for '$2'" >&2; return 1
}

figure() {  # figure REGEX: the first number after it in the sim's figures
  grep -a '^einstein-sim:' "$work/sim.log" | grep -aoE "$1 [0-9.]+" | head -1 | grep -oE '[0-9.]+$'
}

run_case() {  # run_case TITLE "SIM OPTIONS" TOBRIN ARGS...
  local title=$1 options=$2; shift 2
  # shellcheck disable=SC2086
  start_einstein $options
  rm -f "$work/keys"; mkfifo "$work/keys"
  TIMEFORMAT='%U %S'
  { time TOBRIN_COM1="$line" "$tobrin" 1 "$@" <"$work/keys" >"$work/tobrin.log"; } 2>"$work/tobrin.time" &
  local pc=$!
  exec 4>"$work/keys"
  printf 'YYY' >&4
  wait_for "$work/sim.log" "Waiting to proceed"
  printf 'Y' >&4
  wait "$pc"; exec 4>&-
  wait_for "$work/sim.log" "einstein-sim: speed"
  exec 5>&-; wait || true

  local total program format transfer in out tbytes worst speed wall
  total=$(figure "emulated time"); program=$(figure "program loaded at")
  format=$(figure "format"); transfer=$(figure "transfer")
  in=$(figure "from the PC"); out=$(figure "to the PC")
  tbytes=$(grep -aoE 'transfer [0-9]+$' "$work/sim.log" | grep -oE '[0-9]+$')
  worst=$(figure "worst data-request delay"); speed=$(figure "speed"); wall=$(figure "over")
  read -r user sys <"$work/tobrin.time"
  awk -v t="$title" -v total="$total" -v program="$program" -v format="$format" -v transfer="$transfer" \
      -v in_="$in" -v out="$out" -v tb="$tbytes" -v worst="$worst" -v speed="$speed" -v wall="$wall" \
      -v user="$user" -v sys="$sys" 'BEGIN {
    bytes = in_ + out; bound = bytes * 11 / 9600; tbound = tb * 11 / 9600
    printf "%s\n", t
    printf "  bytes on the wire           %d (%d from the PC, %d to the PC)\n", bytes, in_, out
    printf "  line-time lower bound       %.2f s\n", bound
    printf "  emulated run                %.2f s (program send %.2f s, format %.2f s, transfer %.2f s)\n", total, program, format, transfer
    printf "  transfer / its line bound   %.2f (%d bytes, bound %.2f s)\n", transfer / tbound, tb, tbound
    printf "  worst data-request delay    %d T of a 128 T budget\n", worst
    printf "  simulator                   %.1f emulated MHz (%.2f s of wall time)\n", speed, wall
    printf "  tobrin CPU, whole run       %.2f s (user %.2f, system %.2f)\n", user + sys, user, sys
  }'
}

head -c 819200 /dev/urandom >"$work/ds80.img"
run_case "Built-in image, one-sided 40-track drive" ""
run_case "Full two-sided 80-track image, two-sided 80-track drive" "--tracks 80 --sides 2" "$work/ds80.img"

# Waiting at a prompt costs no processor time.
start_einstein
rm -f "$work/keys"; mkfifo "$work/keys"
TIMEFORMAT='%U %S'
{ time TOBRIN_COM1="$line" "$tobrin" 1 -notrans <"$work/keys" >/dev/null; } 2>"$work/tobrin.time" &
pc=$!
exec 4>"$work/keys"
sleep 10
printf 'N' >&4
wait "$pc" || true; exec 4>&-
echo quit >&5; exec 5>&-; wait || true
read -r user sys <"$work/tobrin.time"
awk -v u="$user" -v s="$sys" 'BEGIN { printf "tobrin CPU while waiting 10 s at a prompt: %.3f s\n", u + s }'
