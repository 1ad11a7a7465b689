#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times `tarvexctl load` against srec_cat and python3-intelhex on one dense 1 MiB Intel HEX file,
# and the same load of a build for flash at 0x08000000 with --base, swapped bytes and address
# lines and a CRC-32 fix-up (its image checked against srec_cat's -offset, -byte-swap and -crc32).
#   BUILD_DIR  build directory holding tools/tarvexctl/tarvexctl (default: build; built if missing)
#   RUNS       timed runs per tool (default: 10; python3-intelhex gets at most 3)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
RUNS=${RUNS:-10}
CTL="$BUILD_DIR/tools/tarvexctl/tarvexctl"

if [ ! -x "$CTL" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target tarvexctl
fi
command -v srec_cat >/dev/null || { echo "srec_cat missing: run scripts/deps.sh" >&2; exit 1; }
PYTHON=""
for py in /usr/bin/python3 python3; do
  if "$py" -c 'import intelhex' 2>/dev/null; then PYTHON=$py; break; fi
done
[ -n "$PYTHON" ] || { echo "python3-intelhex missing: run scripts/deps.sh" >&2; exit 1; }

WORK=$(mktemp -d /tmp/compare_loaders.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# Every byte of 1 MiB, 16 data bytes per record.
head -c 1048576 /dev/urandom >"$WORK/data.bin"
srec_cat "$WORK/data.bin" -binary -o "$WORK/image.hex" -intel -obs=16
HEX="$WORK/image.hex"
echo "input: $(stat -c %s "$HEX") bytes of Intel HEX, $(grep -c '^:' "$HEX") records"
# The same bytes where a Cortex-M's flash is.
srec_cat "$WORK/data.bin" -binary -offset 0x08000000 -o "$WORK/high.hex" -intel -obs=16
HIGH="$WORK/high.hex"
MAPPED=(--base 0x08000000 --rom 27C080 --swap-bytes --swap-lines 18,19 --checksum crc32le:ffffc)

run_ctl()  { "$CTL" load "$HEX" --fill FF --out "$WORK/ctl.bin" >/dev/null; }
run_ctl_count() { "$CTL" load "$HEX" --fill FF >/dev/null; }
run_ctl_mapped() { "$CTL" load "$HIGH" --fill FF "${MAPPED[@]}" --strict --out "$WORK/mapped.bin" >/dev/null; }
run_srec() { srec_cat "$HEX" -intel -fill 0xFF 0 0x100000 -o "$WORK/srec.bin" -binary; }
run_py()   {
  "$PYTHON" -c 'import sys
from intelhex import IntelHex
ih = IntelHex(sys.argv[1]); ih.padding = 0xFF
ih.tobinfile(sys.argv[2], start=0, size=0x100000)' "$HEX" "$WORK/py.bin"
}

# Median wall time of $2 runs of $1 in microseconds (one untimed warm-up run first); the
# median keeps a run that waited for the disk or another process from skewing the figure.
time_us() {
  local fn=$1 runs=$2 start end times=()
  "$fn"
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N); "$fn"; end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

ctl_us=$(time_us run_ctl "$RUNS")
count_us=$(time_us run_ctl_count "$RUNS")
mapped_us=$(time_us run_ctl_mapped "$RUNS")
srec_us=$(time_us run_srec "$RUNS")
py_runs=$(( RUNS < 3 ? RUNS : 3 ))
py_us=$(time_us run_py "$py_runs")

# All three must have produced the same image, or the timings mean nothing.
cmp "$WORK/ctl.bin" "$WORK/srec.bin"
cmp "$WORK/ctl.bin" "$WORK/py.bin"
cmp <(head -c 1048576 "$WORK/ctl.bin") "$WORK/data.bin"
# The mapped image: srec_cat moves and swaps, and puts the CRC of the bytes below 0xFFFFC there
# (srec_cat has no address-line swap, so lines 18 and 19 are swapped back by block moves).
"$CTL" load "$HIGH" --fill FF --base 0x08000000 --rom 27C080 --swap-bytes --checksum crc32le:ffffc \
  --out "$WORK/mapped-ref-ctl.bin" >/dev/null
srec_cat \( "$HIGH" -intel -offset -0x08000000 -fill 0xFF 0 0x100000 -byte-swap 2 -exclude 0xFFFFC 0x100000 \) \
  \( "$HIGH" -intel -offset -0x08000000 -fill 0xFF 0 0x100000 -byte-swap 2 -crop 0 0xFFFFC -crc32-le 0xFFFFC \
     -crop 0xFFFFC 0x100000 \) -o "$WORK/mapped-srec.bin" -binary
cmp "$WORK/mapped-ref-ctl.bin" "$WORK/mapped-srec.bin"
# Lines 18 and 19 swapped: the middle two quarters trade places; the CRC is taken after.
cmp <(head -c 262144 "$WORK/mapped.bin") <(head -c 262144 "$WORK/mapped-ref-ctl.bin")
cmp <(tail -c +262145 "$WORK/mapped.bin" | head -c 262144) <(tail -c +524289 "$WORK/mapped-ref-ctl.bin" | head -c 262144)
echo "images: identical (1 MiB each; the mapped one as srec_cat makes it)"

# tarvexctl --out writes the image like the other two (and syncs it to disk before the
# rename); without --out it only loads and prints the count.
awk -v c="$ctl_us" -v n="$count_us" -v m="$mapped_us" -v s="$srec_us" -v p="$py_us" -v r="$RUNS" -v pr="$py_runs" 'BEGIN {
  printf "%-30s %10s %6s %s\n", "tool", "median ms", "runs", "time / tarvexctl --out"
  printf "%-30s %10.2f %6d %s\n", "tarvexctl load --out", c / 1000, r, "1.0x"
  printf "%-30s %10.2f %6d %.1fx\n", "tarvexctl load (count only)", n / 1000, r, n / c
  printf "%-30s %10.2f %6d %.2fx\n", "  ... --base, swaps, CRC fix-up", m / 1000, r, m / c
  printf "%-30s %10.2f %6d %.1fx\n", "srec_cat", s / 1000, r, s / c
  printf "%-30s %10.2f %6d %.1fx\n", "python3-intelhex", p / 1000, pr, p / c
}'
