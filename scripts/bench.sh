#!/usr/bin/env bash
# Median wall time of a complete DesktopSwitch run answered No against the floor, a program that does nothing but
# is linked the same way by the same toolchain, side by side in one Wine prefix with a resident wineserver. Uses
# the build this machine runs; fails when a run costs more than 1.25 times the floor. `wine reg query` reading one
# value is shown for reference only. Usage: bench.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-21}
bash scripts/setup.sh  # before the probe: it starts Wine's 32-bit loader, which must be installed
export WINEPREFIX=$PWD/build/bench-prefix
source scripts/wine_env.sh
say_route
preset=$(timed_build)
[ "$preset" = windows ] || echo "Timing the 64-bit build on the native loader: the 32-bit program would be timed with its emulator."
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target DesktopSwitch bench_floor >/dev/null
prefix_fits || make_prefix
wineserver -p
trap 'wineserver -k' EXIT
wine reg add "$tarn" /v NVR /d 1 /f /reg:32 >/dev/null
wine reg add "$tarn" /v INSTALL_PATH /d 'D:\Recorder' /f /reg:32 >/dev/null

# Both read the answer from a file: started from a pipeline, the same program costs Wine 10 to 30 ms more.
printf 'n\n' >"$WINEPREFIX/answer"
switch_run() { wine "build/$preset/DesktopSwitch.exe" s <"$WINEPREFIX/answer" >/dev/null; }
floor_run() { wine "build/$preset/bench_floor.exe" <"$WINEPREFIX/answer" >/dev/null; }
query_run() { wine reg query "$tarn" /v NVR /reg:32 >/dev/null; }
for what in switch floor query; do "${what}_run"; : >"$WINEPREFIX/$what.ns"; done  # warm the file cache
for _ in $(seq "$runs"); do
    for what in switch floor query; do
        t=$(date +%s%N); "${what}_run"; echo $(($(date +%s%N) - t)) >>"$WINEPREFIX/$what.ns"
    done
done
median() { sort -n "$WINEPREFIX/$1.ns" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
awk -v runs="$runs" -v build="$preset" -v s="$(median switch)" -v f="$(median floor)" -v q="$(median query)" 'BEGIN {
    printf "build: %s, %d runs each, median wall time\n", build, runs
    printf "DesktopSwitch s, answered No: %6.1f ms\nthe floor, doing nothing:     %6.1f ms\n", s / 1e6, f / 1e6
    printf "wine reg query (reference):  %6.1f ms\nratio to the floor: %.3f (limit 1.250)\n", q / 1e6, s / f
    exit (s <= 1.25 * f) ? 0 : 1
}'
