# bench-common.sh - what the fault benchmarks share (sourced, not run, from
# the checkout): the programs built, whole runs of tobrin against
# einstein-sim with keys typed ahead, and what they ended in.  Sets $work
# (removed at exit), $sim and $tobrin.

bash scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default --target tobrin einstein-sim >/dev/null

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
sim="$PWD/build/default/sim/einstein-sim"
tobrin="$PWD/build/default/tobrin"

# line_of LOG: the line einstein-sim announces in its LOG, once it has
line_of() {
  for _ in $(seq 200); do grep -q "line on" "$1" && break; sleep 0.05; done
  sed -n 's/^einstein-sim: line on //p' "$1"
}

# with_sim DIR "SIM OPTIONS" TOBRIN-ARGS...: einstein-sim started with the
# options, tobrin run against it with the keys typed ahead, both ended; the
# logs in DIR, and in DIR/result tobrin's status and wall time
with_sim() {
  local dir=$1 options=$2
  shift 2
  mkdir -p "$dir"
  # shellcheck disable=SC2086
  "$sim" --quiet $options </dev/null >"$dir/sim.log" 2>&1 &
  local sim_pid=$!
  local line; line=$(line_of "$dir/sim.log")
  local start end status=0
  start=$(date +%s.%N)
  printf 'YYYY' | TOBRIN_COM1="$line" timeout 3000 "$tobrin" "$@" >"$dir/tobrin.log" 2>&1 || status=$?
  end=$(date +%s.%N)
  sleep 0.5
  kill -INT "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  echo "$status $(echo "$end - $start" | bc)" >"$dir/result"
}

# run NAME "SIM OPTIONS" IMAGE [TOBRIN OPTIONS...]: one run (IMAGE builtin
# or a path), its results in $work/NAME/
run() {
  local name=$1 options=$2 image=$3 args=(1)
  shift 3
  [ "$image" != builtin ] && args+=("$image")
  with_sim "$work/$name" "--expect $image $options" "${args[@]}" "$@"
}

# run_read NAME "SIM OPTIONS" DISK [TOBRIN OPTIONS...]: one tobrin -read of
# an Einstein whose drive holds DISK (an extended DSK image), its results in
# $work/NAME/ (the image read: read.dsk; compared with DISK: compare.log)
run_read() {
  local name=$1 options=$2 disk=$3
  shift 3
  local dir="$work/$name"
  with_sim "$dir" "--disk $disk $options" 1 -read "$dir/read.dsk" "$@"
  if [ -f "$dir/read.dsk" ]; then
    echo quit | "$sim" --quiet --disk "$dir/read.dsk" --expect "$disk" >"$dir/compare.log" 2>&1 || true
  fi
}

# outcome NAME: identical, named, WRONG or hang (a write: the sim compared
# its disk with the image; a read: the image read was compared with the disk)
outcome() {
  local dir="$work/$1" status
  status=$(cut -d' ' -f1 "$dir/result")
  if [ "$status" = 124 ]; then echo hang; return; fi
  if grep -aq "Disk formatted and disk image transferred" "$dir/tobrin.log"; then
    if grep -aq "the disk matches the image" "$dir/sim.log"; then echo identical; else echo WRONG; fi
  elif grep -aq "^Disk read into" "$dir/tobrin.log"; then
    if grep -aq "the disk matches the image" "$dir/compare.log" 2>/dev/null; then echo identical; else echo WRONG; fi
  elif grep -aq "TOBRIN HALTED" "$dir/tobrin.log"; then echo named
  else echo hang; fi
}

number() {  # number FILE REGEX: the first number after REGEX
  grep -aoE "$2 [0-9.]+" "$1" | head -1 | grep -oE '[0-9.]+$' || echo 0
}

# realistic_disk FILE: 200 KB, 40 tracks of 10 sectors of 512 bytes.
realistic_disk() {
  local out=$1 code=build/default/z80/target_program.bin text parts="$work/parts"
  mkdir -p "$parts"
  # Tracks 0-1: the boot header and the system's Z80 code.
  cat build/default/z80/boot_code.bin "$code" "$code" "$code" "$code" "$code" "$code" >"$parts/all"
  head -c 10240 "$parts/all" >"$parts/system"
  # Track 2 sectors 0-3: a directory of 12 files, the rest of it free (E5h).
  : >"$parts/dir"
  for n in $(seq 1 12); do
    printf '\000%-8s%-3s\000\000\000\200' "FILE$n" "$([ $((n % 2)) = 0 ] && echo COM || echo TXT)" >>"$parts/dir"
    printf '%b' "$(printf '\\%03o' $(seq $((n * 8)) $((n * 8 + 15)) | awk '{print $1 % 256}'))" >>"$parts/dir"
  done
  head -c $((2048 - $(stat -c %s "$parts/dir"))) /dev/zero | tr '\000' '\345' >>"$parts/dir"
  # Files: text (licences every Debian system carries, so that the disk
  # stays the same while this project's documents change) and the
  # program's code, taking two thirds of the disk with the above; the last
  # third blank.
  cat /usr/share/common-licenses/{GPL-3,GPL-2,LGPL-2.1,GFDL-1.3} >"$parts/text"
  { cat "$parts/text"; for _ in $(seq 20); do cat "$code"; done; cat "$parts/text" "$parts/text"; } >"$parts/all"
  head -c $((136 * 1024 - 10240 - 2048)) "$parts/all" >"$parts/files"
  cat "$parts/system" "$parts/dir" "$parts/files" >"$out"
  head -c $((204800 - $(stat -c %s "$out"))) /dev/zero | tr '\000' '\345' >>"$out"
}
