#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, says how Wine runs the 32-bit program here,
# checks the code's format, builds the 32-bit product and the 64-bit build of the same sources, runs the Wine suite
# against each (the 32-bit runs show as skipped only where no route runs them), then checks a release.
# One test command runs in a checkout at a time: a second one stops at once, with a line. Whatever ends a run, every
# process it started ends within seconds and its folder in /tmp goes (own_run); the next run ends what a run left.
set -euo pipefail
unset CDPATH BASH_ENV ENV
cd "$(dirname "$0")/.."
source scripts/wine_env.sh
refuse_checkout_path "$(pwd -P)"
# The release check stages a release under /tmp, since its copy's path holds a bracket: the program, twice while it
# is signed, a few MiB.
if [ "$(df --output=avail -k /tmp | tail -1)" -lt 16384 ]; then
    echo "The test command needs 16 MiB free in /tmp, for its sockets and a staged release, so it stopped."
    exit 1
fi
# First, so that the lock is never inherited by the run's watcher, which may outlive this shell by a second.
own_run test
mkdir -p build
exec {lock_fd}>>build/test.lock
if ! flock -n "$lock_fd"; then
    read -r holder _ <build/test.lock
    echo "Another test command (process $holder) is running in this checkout, so this one stopped;" \
        "kill $holder ends it."
    exit 1
fi
# The lock records the run that holds it: its process, which a refused run names, and its folder, which the next
# run ends if it is still there.
read -r _ previous_tmp <build/test.lock || true
echo "$$ $run_tmp" >build/test.lock
if [[ $previous_tmp == /tmp/desktopswitch-test.* ]]; then
    end_run "$previous_tmp"
fi

finish_run() {
    local status=$?
    disown -a  # the run's end kills its steps; the shell need not report each
    end_run "$run_tmp"
    if [ "$status" -gt 128 ]; then
        echo "Stopped by a signal; every process of this run has ended." >&2
    fi
}
trap finish_run EXIT
trap 'exit 130' INT
trap 'exit 129' HUP
trap 'exit 143' TERM

step bash scripts/setup.sh
route_said=$(wine_route)
route=$(route_name "$route_said")
route_line "$route_said"
if [ "$route" = 64-bit-only ]; then
    echo "The 32-bit program's runs are skipped: its file is still checked, and the 64-bit build runs every row."
fi
enter_route "$route"

# The project's own sources, found without git: a source archive has none, and another repository may hold this one.
find app platform shellconfig scripts tests -name '*.cpp' -print0 -o -name '*.h' -print0 >"$run_tmp/sources"
step xargs -0 -a "$run_tmp/sources" clang-format --dry-run --Werror
for preset in windows windows64; do
    step configure_preset "$preset"
    step cmake --build --preset "$preset" -j "$(nproc)"
done
failed=()
for preset in windows windows64 release; do
    if ! step ctest --preset "$preset"; then
        failed+=("$preset")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed: ctest --preset ${failed[*]}"
    exit 1
fi
