#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, checks
# the code's format, builds the host and Windows presets, runs the host tests
# (sanitized), the end-to-end runs of DesktopSwitch.exe under Wine and the
# check of a release, unsigned and signed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
for preset in host windows; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$(nproc)"
done
ctest --preset host
ctest --preset windows
ctest --preset release
