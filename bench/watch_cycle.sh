#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times `tarvexctl watch` under `tarvex-sim --full-speed` (about 1 MB/s): a one-block change of a
# 27C080 image, from the rename over the file to the last transfer, against the whole download.
#   BUILD_DIR  build directory holding tarvexctl and tarvex-sim (default: build; built if missing)
#   RUNS       one-block changes timed (default: 20)
#   FORMAT     bin (default) or ihex: the watched file is a 1 MiB binary or its Intel HEX form
# Goal: the one-block cycle under 100 ms and at most a tenth of the whole download.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
RUNS=${RUNS:-20}
FORMAT=${FORMAT:-bin}
case "$FORMAT" in bin | ihex) ;; *) echo "FORMAT is bin or ihex" >&2; exit 2 ;; esac
CTL="$BUILD_DIR/tools/tarvexctl/tarvexctl"
SIM="$BUILD_DIR/tools/tarvex-sim/tarvex-sim"

if [ ! -x "$CTL" ] || [ ! -x "$SIM" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target tarvexctl tarvex-sim
fi

WORK=$(mktemp -d /tmp/watch_cycle.XXXXXX)
PID=""
cleanup() {
  [ -n "$PID" ] && kill -TERM "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

now_ns() { date +%s%N; }
# Waits until OUT has $1 lines; gives up after 60 s.
wait_lines() {
  local deadline=$(( $(now_ns) + 60000000000 ))
  while [ "$(wc -l <"$WORK/out")" -lt "$1" ]; do
    [ "$(now_ns)" -gt "$deadline" ] && { echo "no cycle line $1; stderr:" >&2; cat "$WORK/err" >&2; exit 1; }
    sleep 0.002
  done
}
ms_of_line() { sed -n "$1p" "$WORK/out" | sed 's/.*"ms":\([0-9]*\).*/\1/'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

head -c 1048576 /dev/urandom >"$WORK/image.bin"
# The file a build would write: FILE.new, renamed over FILE.
FILE="$WORK/fw.$FORMAT"
make_file() {
  if [ "$FORMAT" = bin ]; then
    cp "$WORK/image.bin" "$1"
  else
    "$CTL" load "$WORK/image.bin" --format bin --out "$1" --out-format ihex >/dev/null
  fi
}
make_file "$FILE"

# The whole download as `write` does it, timed from outside (process start included).
t0=$(now_ns)
"$SIM" --full-speed -- "$CTL" write "$FILE" --format "$FORMAT" --rom 27C080 -q
write_ms=$(( ($(now_ns) - t0) / 1000000 ))

: >"$WORK/out"
"$SIM" --full-speed -- "$CTL" watch "$FILE" --format "$FORMAT" --rom 27C080 --json -q >"$WORK/out" 2>"$WORK/err" &
PID=$!
wait_lines 1
full_ms=$(ms_of_line 1)

: >"$WORK/cycle_ms"
: >"$WORK/outside_ms"
for i in $(seq 1 "$RUNS"); do
  # One byte of a block picked in turn goes up by one: exactly one block changes.
  at=$(( (i % 32) * 32768 + i ))
  old=$(od -An -tu1 -j "$at" -N1 "$WORK/image.bin" | tr -d ' ')
  printf "\\$(printf %03o $(( (old + 1) % 256 )))" | dd of="$WORK/image.bin" bs=1 seek="$at" conv=notrunc status=none
  make_file "$FILE.new"
  t0=$(now_ns)
  mv "$FILE.new" "$FILE"
  wait_lines $(( i + 1 ))
  echo $(( ($(now_ns) - t0) / 1000000 )) >>"$WORK/outside_ms"
  ms_of_line $(( i + 1 )) >>"$WORK/cycle_ms"
  grep -q '"blocks":\[[0-9]*\],' <(sed -n "$(( i + 1 ))p" "$WORK/out") || { echo "cycle $i sent not one block:" >&2; sed -n "$(( i + 1 ))p" "$WORK/out" >&2; exit 1; }
done

cycle=$(median <"$WORK/cycle_ms")
outside=$(median <"$WORK/outside_ms")
worst=$(sort -n "$WORK/cycle_ms" | tail -1)
echo "$FORMAT file, $(stat -c %s "$FILE") bytes"
echo "whole 27C080 download: watch's first cycle $full_ms ms, 'tarvexctl write' $write_ms ms (with start-up)"
echo "one-block cycle over $RUNS changes: median $cycle ms (worst $worst ms) from the change to the last transfer,"
echo "  median $outside ms from the rename to the cycle line seen by this script"
echo "ratio one-block / whole download: $(awk -v a="$cycle" -v b="$full_ms" 'BEGIN { printf "%.3f", a / b }')"
ok=yes
[ "$cycle" -lt 100 ] || ok=no
[ $(( cycle * 10 )) -le "$full_ms" ] || ok=no
echo "goal (under 100 ms and at most 1/10 of the whole download): $ok"
