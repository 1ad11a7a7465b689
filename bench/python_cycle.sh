#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times the Python module against tarvexctl on the same work:
#   1. a one-block change of a 27C080 image under `tarvex-sim --full-speed` (about 1 MB/s): in
#      the module load, then stop, write_changed, run and reset under one hold(), from before
#      the load to the end of the reset; against `tarvexctl watch`'s cycle (its "ms", timed by bench/watch_cycle.sh,
#      run here with the same FORMAT and RUNS)
#   2. loading a dense 1 MiB Intel HEX file: Image.load in a running interpreter against a
#      `tarvexctl load` process
#   BUILD_DIR  build directory holding tarvexctl, tarvex-sim and python/ (default: build)
#   RUNS       one-block changes and loads timed (default: 20)
#   FORMAT     bin (default) or ihex: the changed file of (1)
# Goals: the module's cycle within 10 % of the watch's, its load within 20 % of tarvexctl's.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
RUNS=${RUNS:-20}
FORMAT=${FORMAT:-bin}
PYTHON=${PYTHON:-/usr/bin/python3}
CTL="$BUILD_DIR/tools/tarvexctl/tarvexctl"
SIM="$BUILD_DIR/tools/tarvex-sim/tarvex-sim"
if [ ! -x "$CTL" ] || [ ! -x "$SIM" ] || ! ls "$BUILD_DIR"/python/tarvex/_tarvex.*.so >/dev/null 2>&1; then
  cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target tarvexctl tarvex-sim tarvex_python
fi
export PYTHONPATH="$PWD/$BUILD_DIR/python" PYTHONDONTWRITEBYTECODE=1

WORK=$(mktemp -d /tmp/python_cycle.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

echo "== tarvexctl watch, $FORMAT file"
BUILD_DIR=$BUILD_DIR RUNS=$RUNS FORMAT=$FORMAT bash bench/watch_cycle.sh | tee "$WORK/watch.txt"
watch_ms=$(sed -n 's/^one-block cycle over [0-9]* changes: median \([0-9]*\) ms.*/\1/p' "$WORK/watch.txt")

echo "== the module, $FORMAT file"
head -c 1048576 /dev/urandom >"$WORK/image.bin"
"$SIM" --full-speed -- "$PYTHON" - "$WORK" "$FORMAT" "$RUNS" "$CTL" >"$WORK/module.txt" <<'PY'
import os, statistics, subprocess, sys, time
import tarvex

work, fmt, runs, ctl = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
data = bytearray(open(os.path.join(work, "image.bin"), "rb").read())
path = os.path.join(work, "fw." + fmt)

def make_file():
    # As a build writes it: a new file renamed over the old, made outside the timing.
    if fmt == "bin":
        with open(path + ".new", "wb") as f:
            f.write(data)
    else:
        subprocess.run([ctl, "load", os.path.join(work, "image.bin"), "--format", "bin", "--out", path + ".new",
                        "--out-format", "ihex"], check=True, stdout=subprocess.DEVNULL)
    os.replace(path + ".new", path)

with open(os.path.join(work, "image.bin"), "wb") as f:
    f.write(data)
make_file()
with tarvex.open(rom="27C080") as emu:
    t0 = time.perf_counter()
    emu.write_changed(tarvex.Image.load(path, format=fmt))
    full_ms = (time.perf_counter() - t0) * 1000
    cycle, alone = [], []
    for i in range(1, runs + 1):
        at = (i % 32) * 32768 + i
        data[at] = (data[at] + 1) % 256
        with open(os.path.join(work, "image.bin"), "wb") as f:
            f.write(data)
        make_file()
        t0 = time.perf_counter()
        img = tarvex.Image.load(path, format=fmt)
        with emu.hold():  # one claim for the cycle, as the watch holds it
            emu.stop()
            t1 = time.perf_counter()
            blocks = emu.write_changed(img)
            t2 = time.perf_counter()
            emu.run()
            emu.reset()
        t3 = time.perf_counter()
        assert blocks == [i % 32], blocks
        cycle.append((t3 - t0) * 1000)
        alone.append((t2 - t1) * 1000)
print(f"whole 27C080 download (write_changed, nothing known): {full_ms:.0f} ms")
print(f"one-block cycle over {runs} changes: median {statistics.median(cycle):.1f} ms (worst {max(cycle):.1f} ms)"
      f" from before the load to the end of the reset")
print(f"  of which write_changed alone: median {statistics.median(alone):.1f} ms")
print(f"cycle_ms {statistics.median(cycle):.3f}")
PY
grep -v '^cycle_ms' "$WORK/module.txt"
module_ms=$(sed -n 's/^cycle_ms //p' "$WORK/module.txt")

echo "== loading a dense 1 MiB Intel HEX file"
"$CTL" load "$WORK/image.bin" --format bin --out "$WORK/dense.hex" --out-format ihex >/dev/null
"$PYTHON" - "$WORK/dense.hex" "$RUNS" "$CTL" >"$WORK/load.txt" <<'PY'
import statistics, subprocess, sys, time
import tarvex

hexfile, runs, ctl = sys.argv[1], int(sys.argv[2]), sys.argv[3]
ctl_ms, module_ms = [], []
for _ in range(runs):
    t0 = time.perf_counter()
    subprocess.run([ctl, "load", hexfile], check=True, stdout=subprocess.DEVNULL)
    ctl_ms.append((time.perf_counter() - t0) * 1000)
    t0 = time.perf_counter()
    img = tarvex.Image.load(hexfile)
    module_ms.append((time.perf_counter() - t0) * 1000)
    assert img.count == 1048576 and not img.warnings
t0 = time.perf_counter()
subprocess.run([sys.executable, "-c", f"import tarvex; tarvex.Image.load({hexfile!r})"], check=True)
fresh = (time.perf_counter() - t0) * 1000
print(f"tarvexctl load (a process): median {statistics.median(ctl_ms):.1f} ms")
print(f"Image.load (in the interpreter): median {statistics.median(module_ms):.1f} ms")
print(f"  a new python3 process that imports tarvex and loads: {fresh:.0f} ms")
print(f"load_ms {statistics.median(ctl_ms):.3f} {statistics.median(module_ms):.3f}")
PY
grep -v '^load_ms' "$WORK/load.txt"
read -r ctl_load module_load < <(sed -n 's/^load_ms //p' "$WORK/load.txt")

echo "== goals"
awk -v m="$module_ms" -v w="$watch_ms" -v cl="$ctl_load" -v ml="$module_load" 'BEGIN {
  printf "one-block cycle: module %.1f ms, watch %d ms, ratio %.2f (goal at most 1.10): %s\n", m, w, m / w, (m <= 1.10 * w) ? "yes" : "no"
  printf "1 MiB Intel HEX load: module %.1f ms, tarvexctl %.1f ms, ratio %.2f (goal at most 1.20): %s\n", ml, cl, ml / cl, (ml <= 1.20 * cl) ? "yes" : "no"
}'
