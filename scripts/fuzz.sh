#!/usr/bin/env bash
# Fuzzes the disc image reader: arbitrary bytes opened as an image and read
# as the transfer reads them, under libFuzzer with AddressSanitizer and
# UBSan (clang), from seeds of valid extended images and raw dumps.
#
#   bash scripts/fuzz.sh            run for 30 seconds (the test command's smoke run)
#   bash scripts/fuzz.sh 3600       run for an hour
#
# Prints the executions done; exits non-zero on a crash, a leak or a
# sanitizer report (the input that caused it is left in build/fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

work=build/fuzz/run
rm -rf "$work"
mkdir -p "$work/seeds" "$work/corpus"
./build/fuzz/make_seeds "$work/seeds"
# Inputs up to 16 KB: a few track records, where the reader's decisions are.
status=0
./build/fuzz/disc_image_fuzz "$work/corpus" "$work/seeds" -max_total_time="$seconds" -max_len=16384 \
  -len_control=100 -print_final_stats=1 -artifact_prefix=build/fuzz/ >"$work/log" 2>&1 || status=$?
grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$work/log" || true
if [ "$status" -ne 0 ]; then
  grep -E "ERROR|SUMMARY|Test unit written" "$work/log" | head -20
  echo "fuzz: FAILED (exit $status); the log is $work/log"
  exit 1
fi
echo "fuzz: no crash, leak or sanitizer report in ${seconds} s"
