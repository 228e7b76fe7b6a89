#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, says how Wine runs the 32-bit program here,
# checks the code's format, builds the 32-bit product and the 64-bit build of the same sources, runs the Wine suite
# against each (the 32-bit runs show as skipped only where no route runs them), then checks a release.
# One test command runs in a checkout at a time: a second one stops at once, with a line. Ctrl+C stops the run
# within seconds, and every Wine session a run starts ends with it.
set -euo pipefail
unset CDPATH
cd "$(dirname "$0")/.."
mkdir -p build
exec {lock_fd}>build/test.lock
if ! flock -n "$lock_fd"; then
    echo "Another test command is running in this checkout, so this one stopped."
    exit 1
fi
bash scripts/setup.sh
source scripts/wine_env.sh
route_said=$(wine_route)
route=$(route_name "$route_said")
route_line "$route_said"
if [ "$route" = 64-bit-only ]; then
    echo "The 32-bit program's runs are skipped: its file is still checked, and the 64-bit build runs every row."
fi
enter_route "$route"

# Wine's server sockets and tmux's live here: a socket's path has at most 107 bytes, whatever the checkout's is.
run_tmp=$(mktemp -d /tmp/desktopswitch-test.XXXXXX)
export TMPDIR=$run_tmp
ctest_session=
end_run() {
    local status=$? prefix socket
    if [ -n "$ctest_session" ]; then
        pkill -KILL -s "$ctest_session" || true
    fi
    for prefix in build/windows/wine-prefix build/windows64/wine-prefix; do
        if [ -d "$prefix" ]; then
            WINEPREFIX=$PWD/$prefix wineserver -k 2>/dev/null || true
        fi
    done
    for socket in "$run_tmp"/tmux.*/socket; do
        if [ -S "$socket" ]; then
            tmux -S "$socket" kill-server 2>/dev/null || true
        fi
    done
    rm -rf "$run_tmp"
    if [ "$status" -gt 128 ]; then
        echo "Stopped by a signal; every Wine session of this run has ended." >&2
    fi
}
trap end_run EXIT
trap 'exit 130' INT
trap 'exit 129' HUP
trap 'exit 143' TERM

git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
for preset in windows windows64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$(nproc)"
done
# ctest runs in a session of its own, so that Ctrl+C reaches this script alone, which then ends the whole run: ctest
# would only mark its running test interrupted and go on to the next. It never holds the checkout's lock.
failed=()
for preset in windows windows64 release; do
    setsid ctest --preset "$preset" {lock_fd}>&- &
    ctest_session=$!
    if ! wait "$ctest_session"; then
        failed+=("$preset")
    fi
    ctest_session=
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed: ctest --preset ${failed[*]}"
    exit 1
fi
