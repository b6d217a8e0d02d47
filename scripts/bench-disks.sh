#!/usr/bin/env bash
# What -verify, -read and the TOBRIN boot disk cost and give, on the
# virtual Einstein (emulated time):
#   - -verify against the same run without it, for the built-in image on a
#     one-sided 40-track drive and a random image on a two-sided 80-track one;
#   - -read of a disk TOBRIN wrote: the image it gives back against the
#     original, and its time against the line bound (bytes x 11 / 9600 s),
#     one-sided 40-track and two-sided 80-track;
#   - the TOBRIN boot disk: boot to "[ Waiting to proceed" against the typed
#     loader's program send, and two disks written in a row from one boot.
#
#   bash scripts/bench-disks.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh
head -c 204800 /dev/urandom >"$work/ss40.img"
head -c 819200 /dev/urandom >"$work/ds80.img"

seconds() { number "$work/$1/sim.log" 'emulated time'; }

echo "-verify"
for setup in "built-in, SS40||builtin" "random, DS80|--tracks 80 --sides 2|$work/ds80.img"; do
  IFS='|' read -r title options image <<<"$setup"
  run plain "$options" "$image"
  run verified "$options" "$image" -verify
  plain=$(seconds plain) verified=$(seconds verified)
  printf "  %-16s without %8.1f s, with %8.1f s: x %.2f (%s; %s)\n" "$title" "$plain" "$verified" \
    "$(echo "$verified / $plain" | bc -l)" "$(outcome verified)" \
    "$(grep -ao '[0-9]* sectors verified, [0-9]* needed a rewrite' "$work/verified/tobrin.log" || echo '?')"
done

echo "-read of a disk TOBRIN wrote"
for setup in "SS40||$work/ss40.img" "DS80|--tracks 80 --sides 2|$work/ds80.img"; do
  IFS='|' read -r title options image <<<"$setup"
  dir="$work/read-$title"
  mkdir -p "$dir"
  run "write-$title" "$options --save $dir/written.dsk" "$image"
  # shellcheck disable=SC2086
  "$sim" --quiet $options --disk "$dir/written.dsk" </dev/null >"$dir/sim.log" 2>&1 &
  pid=$!
  line=$(line_of "$dir/sim.log")
  printf 'YYYY' | TOBRIN_COM1="$line" timeout 3000 "$tobrin" 1 -read "$dir/copy.dsk" >"$dir/tobrin.log" 2>&1 || true
  sleep 0.5; kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
  # The copy against the original, through the virtual Einstein's own comparison.
  echo quit | "$sim" --quiet $options --disk "$dir/copy.dsk" --expect "$image" >"$dir/compare.log" 2>&1 || true
  total=$(number "$dir/sim.log" 'emulated time'); loaded=$(number "$dir/sim.log" 'program loaded at')
  to=$(number "$dir/sim.log" 'from the PC'); from=$(number "$dir/sim.log" 'to the PC')
  read_s=$(echo "$total - $loaded" | bc -l)
  bytes=$((from + to - 2049))
  bound=$(echo "$bytes * 11 / 9600" | bc -l)
  printf "  %-5s %s; read %.1f s for %d bytes on the wire, line bound %.1f s: x %.2f\n" "$title" \
    "$(grep -ao 'the disk matches the image ([0-9]* sectors)\|the disk differs.*' "$dir/compare.log" | head -1)" \
    "$read_s" "$bytes" "$bound" "$(echo "$read_s / $bound" | bc -l)"
done

echo "The TOBRIN boot disk"
run bootdisk "--save $work/tobrin.dsk" builtin
loader=$(number "$work/bootdisk/sim.log" 'program loaded at')
dir="$work/rows"
mkdir -p "$dir"
head -c 204800 /dev/urandom >"$dir/a.img"
head -c 204800 /dev/urandom >"$dir/b.img"
mkfifo "$dir/commands"
"$sim" --quiet --disk "$work/tobrin.dsk" --boot-disk <"$dir/commands" >"$dir/sim.log" 2>&1 &
pid=$!
exec 7>"$dir/commands"
line=$(line_of "$dir/sim.log")
for disk in a b; do
  echo swap >&7
  printf 'Y' | TOBRIN_COM1="$line" timeout 3000 "$tobrin" 1 "$dir/$disk.img" -notrans >"$dir/$disk.log" 2>&1 || true
  echo "save $dir/$disk.dsk" >&7
  sleep 0.5
done
echo quit >&7
exec 7>&-
wait "$pid" || true
ready=$(number "$dir/sim.log" 'program loaded at')
printf "  boot to the program: %.3f s (the typed loader's program send: %.2f s, and the typing)\n" "$ready" "$loader"
for disk in a b; do
  echo quit | "$sim" --quiet --disk "$dir/$disk.dsk" --expect "$dir/$disk.img" >"$dir/$disk.compare" 2>&1 || true
  printf "  disk %s from the same boot: %s; %s\n" "$disk" \
    "$(grep -ao 'Disk formatted and disk image transferred' "$dir/$disk.log" || echo 'no success line')" \
    "$(grep -ao 'the disk matches the image ([0-9]* sectors)\|the disk differs.*' "$dir/$disk.compare" | head -1)"
done
