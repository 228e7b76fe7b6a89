#!/usr/bin/env bash
# Median wall time of a complete DesktopSwitch run answered No, against
# `wine reg query` reading one value, side by side in one Wine prefix with a
# resident wineserver. Fails when the run costs more than the query.
# Usage: bench.sh [RUNS]   (after the windows preset is built)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-21}
export WINEPREFIX=$PWD/build/bench-prefix
source scripts/wine_env.sh
exe=build/windows/DesktopSwitch.exe
[ -d "$WINEPREFIX" ] || make_prefix
wineserver -p
trap 'wineserver -k' EXIT
wine reg add "$tarn" /v NVR /d 1 /f /reg:32 >/dev/null
wine reg add "$tarn" /v INSTALL_PATH /d 'D:\Recorder' /f /reg:32 >/dev/null

ns() { date +%s%N; }
switch_run() { printf 'n\n' | wine "$exe" s >/dev/null; }
query_run() { wine reg query "$tarn" /v NVR /reg:32 >/dev/null; }
switch_run; query_run  # warm the file cache for both
: >"$WINEPREFIX/switch.ns"; : >"$WINEPREFIX/query.ns"
for _ in $(seq "$runs"); do
    t=$(ns); switch_run; echo $(($(ns) - t)) >>"$WINEPREFIX/switch.ns"
    t=$(ns); query_run; echo $(($(ns) - t)) >>"$WINEPREFIX/query.ns"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
size=$(stat -c %s "$exe")
awk -v runs="$runs" -v s="$(median "$WINEPREFIX/switch.ns")" -v q="$(median "$WINEPREFIX/query.ns")" -v size="$size" 'BEGIN {
    printf "runs: %d each\nDesktopSwitch s, answered No: median %.1f ms\nwine reg query, one value:    median %.1f ms\n", runs, s / 1e6, q / 1e6
    printf "ratio: %.3f (limit 1.000)\nDesktopSwitch.exe: %d bytes (limit 1572864)\n", s / q, size
    exit (s <= q && size < 1572864) ? 0 : 1
}'
