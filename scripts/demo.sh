#!/usr/bin/env bash
# Builds DesktopSwitch.exe and runs it under Wine on a demo appliance: a Wine prefix whose registry holds the
# appliance key ("NVR" = "1", an "INSTALL_PATH"). Usage: demo.sh s|w   (you answer the prompt yourself)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: $0 s|w"; exit 2; }
bash scripts/setup.sh
export WINEPREFIX=$PWD/build/demo-prefix
source scripts/wine_env.sh
say_route
preset=$(shown_build)
if [ -n "$runs32" ]; then
    echo "Running the 32-bit DesktopSwitch.exe, the program that ships."
else
    echo "Running the 64-bit build of DesktopSwitch.exe, built from the same sources as the 32-bit program that ships."
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target DesktopSwitch >/dev/null
if ! prefix_fits; then
    echo "Creating the demo appliance in $WINEPREFIX ..."
    make_prefix
    wine reg add "$tarn" /v NVR /d 1 /f /reg:32 >/dev/null
    wine reg add "$tarn" /v INSTALL_PATH /d 'C:\Program Files (x86)\Telvora\NVR' /f /reg:32 >/dev/null
fi
echo "Shell before: \"$(shell_value)\""
echo "---- DesktopSwitch $* ----"
set +e
wine "build/$preset/DesktopSwitch.exe" "$@"
code=$?
set -e
wineserver -w  # a forced log-off ends the Wine session; let it finish
echo "---- exit code $code ----"
echo "Shell after:  \"$(shell_value)\""
