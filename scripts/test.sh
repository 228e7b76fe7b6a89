#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, says how Wine runs the 32-bit program here,
# checks the format of the C++ and the shell, builds the 32-bit product and the 64-bit build of the same sources, runs
# the Wine suite against each (the 32-bit runs show as skipped only where no route runs them), then checks a release.
set -euo pipefail
unset CDPATH  # a relative cd would follow it into another folder
cd "$(dirname "$0")/.."
source scripts/start.sh
source scripts/wine_env.sh
start_command "test command"
start_wine
if [ "$route" = 64-bit-only ]; then
    echo "The 32-bit program's runs are skipped: its file is still checked, and the 64-bit build runs every row."
fi

# The project's own files, found without git: a source archive has none, and another repository may hold this one.
find app platform shellconfig scripts tests -name '*.cpp' -print0 -o -name '*.h' -print0 >"$run_folder/sources"
step xargs -0 -a "$run_folder/sources" clang-format --dry-run --Werror
find scripts tests .ci -type f '(' -name '*.sh' -o -name run ')' -print0 >"$run_folder/scripts"
step xargs -0 -a "$run_folder/scripts" shellcheck -x -f gcc
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
