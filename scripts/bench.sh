#!/usr/bin/env bash
# Median wall time of a complete DesktopSwitch run answered No against the floor, a program that does nothing but
# is linked the same way by the same toolchain, side by side in one Wine prefix with a resident wineserver. Times the
# build whose loader is native here: the 32-bit program, or the 64-bit build where the 32-bit one would be timed with
# its emulator. Fails when a run costs more than 1.25 times the floor; `wine reg query` reading one value is shown for
# reference only. Usage: bench.sh [RUNS]
set -euo pipefail
unset CDPATH  # a relative cd would follow it into another folder
cd "$(dirname "$0")/.."
runs=${1:-21}
source scripts/start.sh
source scripts/wine_env.sh
start_command benchmark
start_wine
preset=windows
if [ "$route" != native ]; then
    preset=windows64
    echo "Timing the 64-bit build on the native loader: the 32-bit program would be timed with its emulator."
fi
export WINEPREFIX=$PWD/build/bench-prefix
step configure_preset "$preset" >/dev/null
step cmake --build --preset "$preset" -j "$(nproc)" --target DesktopSwitch bench_floor >/dev/null
if ! prefix_fits "$route"; then
    step make_prefix "$route"
fi
step wineserver -p
step import_reg "$run_folder/appliance" "[$appliance_key]" '"INSTALL_PATH"="D:\\Recorder"' '"NVR"="1"'

# Both read the answer from a file: started from a pipeline, the same program costs Wine 10 to 30 ms more.
printf 'n\n' >"$run_folder/answer"
switch_run() { wine "build/$preset/DesktopSwitch.exe" s <"$run_folder/answer" >/dev/null; }
floor_run() { wine "build/$preset/bench_floor.exe" <"$run_folder/answer" >/dev/null; }
query_run() { wine reg query "$tarn" /v NVR /reg:32 >/dev/null; }
for what in switch floor query; do
    "${what}_run"  # warms the file cache
    : >"$run_folder/$what.ns"
done
for _ in $(seq "$runs"); do
    for what in switch floor query; do
        started=$(date +%s%N)
        "${what}_run"
        echo $(($(date +%s%N) - started)) >>"$run_folder/$what.ns"
    done
done
median() {
    sort -n "$run_folder/$1.ns" | awk '
        { v[NR] = $1 }
        END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
awk -v runs="$runs" -v build="$preset" -v s="$(median switch)" -v f="$(median floor)" -v q="$(median query)" 'BEGIN {
    printf "build: %s, %d runs each, median wall time\n", build, runs
    printf "DesktopSwitch s, answered No: %6.1f ms\n", s / 1e6
    printf "the floor, doing nothing:     %6.1f ms\n", f / 1e6
    printf "wine reg query (reference):  %6.1f ms\n", q / 1e6
    printf "ratio to the floor: %.3f (limit 1.250)\n", s / f
    exit (s <= 1.25 * f) ? 0 : 1
}'
