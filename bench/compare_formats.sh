#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times the core loader (bench_load_image) against srec_cat on one dense 1 MiB image written by
# srec_cat as Motorola S-record and as extended Tektronix hex (with a start address, so both
# end in an end record), each converted to a 1 MiB binary image. Fails when the core loader is
# not at least MIN_RATIO times faster.
#   BUILD_DIR  build directory holding bench/bench_load_image (default: build; built if missing)
#   RUNS       timed runs per tool and format (default: 10)
#   MIN_RATIO  required srec_cat time / core loader time (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
RUNS=${RUNS:-10}
MIN_RATIO=${MIN_RATIO:-5}
LOADER="$BUILD_DIR/bench/bench_load_image"

if [ ! -x "$LOADER" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DTARVEX_BUILD_BENCH=ON >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target bench_load_image
fi
command -v srec_cat >/dev/null || { echo "srec_cat missing: run scripts/deps.sh" >&2; exit 1; }

WORK=$(mktemp -d /tmp/compare_formats.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

head -c 1048576 /dev/urandom >"$WORK/data.bin"
srec_cat "$WORK/data.bin" -binary -execution-start-address=0 -o "$WORK/image.srec" -Motorola -obs=32
srec_cat "$WORK/data.bin" -binary -execution-start-address=0 -o "$WORK/image.tek" -Tektronix_Extended -obs=32

# Median wall time of $2 runs of $1 in microseconds, after one untimed warm-up run.
time_us() {
  local fn=$1 runs=$2 start end times=()
  "$fn"
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N); "$fn"; end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

status=0
printf '%-20s %12s %14s %12s %8s\n' "format" "text bytes" "srec_cat ms" "tarvex ms" "ratio"
for fmt in srec tek; do
  IN="$WORK/image.$fmt"
  case $fmt in
    srec) SREC_FMT=-Motorola; NAME="S-record" ;;
    tek) SREC_FMT=-Tektronix_Extended; NAME="extended Tektronix" ;;
  esac
  run_srec() { srec_cat "$IN" "$SREC_FMT" -fill 0xFF 0 0x100000 -o "$WORK/srec.bin" -binary; }
  # Warnings would go to standard error; a file srec_cat wrote must draw none.
  run_tarvex() { "$LOADER" "$IN" "$WORK/tarvex.bin" FF >/dev/null 2>"$WORK/warnings"; }
  srec_us=$(time_us run_srec "$RUNS")
  tarvex_us=$(time_us run_tarvex "$RUNS")
  # Both must have produced the same image, or the timings mean nothing.
  cmp "$WORK/srec.bin" "$WORK/tarvex.bin"
  cmp "$WORK/tarvex.bin" "$WORK/data.bin"
  if [ -s "$WORK/warnings" ]; then
    echo "unexpected warnings for $NAME:" >&2; cat "$WORK/warnings" >&2; status=1
  fi
  ratio=$(awk -v s="$srec_us" -v t="$tarvex_us" 'BEGIN { printf "%.1f", s / t }')
  printf '%-20s %12d %14.2f %12.2f %7sx\n' "$NAME" "$(stat -c %s "$IN")" \
    "$(awk -v v="$srec_us" 'BEGIN { print v / 1000 }')" "$(awk -v v="$tarvex_us" 'BEGIN { print v / 1000 }')" "$ratio"
  if ! awk -v r="$ratio" -v m="$MIN_RATIO" 'BEGIN { exit !(r >= m) }'; then
    echo "$NAME: srec_cat / tarvex = ${ratio}x, below the required ${MIN_RATIO}x" >&2
    status=1
  fi
done
echo "images: identical to the source data (1 MiB each)"
exit $status
