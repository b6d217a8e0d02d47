#!/usr/bin/env bash
# The virtual Einstein beside MAME's Einstein running the machine's own
# monitor, MOS 1.2 (the rig in ../shared/mame, which needs MAME and the ROM:
# not part of the test command).  The same runs on both - the built-in disk
# plain, with -verify, and with -fast where the line stays at 9600 (MAME's
# null modem has no faster rate; einstein-sim --max-baud 9700 likewise) -
# and per run the time from the loader's start to the program's end, the
# format's and the program send's, and the track sides whose first sector
# command waited for its sector to come round (the rig: its slots.py; the
# virtual Einstein: its controller's count of sector commands that waited).
#
#   bash scripts/bench-real.sh              (about ten minutes on two cores)
#   RIG=/path/to/mame bash scripts/bench-real.sh
set -euo pipefail
cd "$(dirname "$0")/.."
rig="${RIG:-../shared/mame}"
# Debian installs MAME as /usr/games/mame, which root's PATH leaves out.
PATH="$PATH:/usr/games"
if ! command -v mame >/dev/null || [ ! -f "$rig/check-real.sh" ]; then
  echo "bench-real: needs MAME (apt-get install mame socat) and the rig in $rig" >&2
  exit 2
fi
cmake --preset default >/dev/null
cmake --build --preset default --target tobrin einstein-sim >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "=== MAME's Einstein with the MOS 1.2 (check-real.sh --all)"
MAME_CHECK_OUT="$work/real" sh "$rig/check-real.sh" --all | sed 's/^/  /' || true

# The virtual Einstein's runs, as the rig's reference run makes them.
sim_run() {  # NAME SIM-OPTIONS TOBRIN-ARGS...
  local name=$1 options=$2
  shift 2
  SIM_ARGS="$options" python3 "$rig/mkref.py" "$work/$name.dsk" "$@" >"$work/$name.sim" 2>&1 || true
}
sim_run plain "" 1
sim_run verify "" 1 -verify
sim_run fast "--max-baud 9700" 1 -fast

printf '\n%-8s %22s %22s %16s %20s\n' "run" "loader to end: MAME" "virtual (ratio)" "format: MAME/virtual" "sides waiting a turn"
for name in plain verify fast; do
  json="$work/real/$name.json"
  read -r real_total real_format < <(python3 - "$json" <<'PY'
import json, sys
p = json.load(open(sys.argv[1]))["einstein"]["phases_emulated_s"]
print(p.get("loader_start_to_program_end_s"), p.get("format_s (first write track .. the command after the last)"))
PY
  )
  missed=$(python3 "$rig/slots.py" "$work/real/run-$name" | python3 -c '
import json, sys
d = json.load(sys.stdin)
print(" ".join("%s %d/%d" % (k, v["missed_slots"], v["track_side_runs"]) for k, v in d.items()))')
  sim_total=$(grep -oE 'emulated time [0-9.]+' "$work/$name.sim" | grep -oE '[0-9.]+$')
  sim_format=$(grep -oE 'format [0-9.]+ s, transfer' "$work/$name.sim" | grep -oE '[0-9.]+')
  sim_waited=$(grep -oE '[0-9]+ of them waited' "$work/$name.sim" | grep -oE '^[0-9]+')
  printf '%-8s %20ss %15ss (%4.2f) %10ss / %6ss   MAME: %s; virtual: %s commands\n' "$name" "$real_total" "$sim_total" \
    "$(echo "$sim_total / $real_total" | bc -l)" "$real_format" "$sim_format" "$missed" "$sim_waited"
done
echo "(the virtual Einstein's format is timed from the format command to the write's start; MAME's from the first"
echo " Write Track to the command after the last; with -fast each side is formatted as it is written, so MAME's"
echo " figure spans the whole write and the virtual one is the drive check alone)"
