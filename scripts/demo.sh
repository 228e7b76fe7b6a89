#!/usr/bin/env bash
# Builds DesktopSwitch.exe and runs it under Wine on a demo appliance: a Wine prefix whose registry holds the
# appliance key ("NVR" = "1", an "INSTALL_PATH") and, before each run, the other desktop's "Shell", so that the run
# shows its change. Usage: demo.sh s|w   (you answer the prompt yourself). Exits with the program's exit code.
set -euo pipefail
unset CDPATH
cd "$(dirname "$0")/.."
if [ $# -lt 1 ]; then
    echo "usage: $0 s|w"
    exit 2
fi
bash scripts/setup.sh
source scripts/wine_env.sh
route_said=$(wine_route)
route=$(route_name "$route_said")
route_line "$route_said"
enter_route "$route"
preset=windows
if [ "$route" = 64-bit-only ]; then
    preset=windows64
    echo "Running the 64-bit build of DesktopSwitch.exe, built from the same sources as the 32-bit program that ships."
else
    echo "Running the 32-bit DesktopSwitch.exe, the program that ships."
fi
export WINEPREFIX=$PWD/build/demo-prefix
# Wine's server socket lives here, in a short path whatever the checkout's, and goes with the demo.
demo_tmp=$(mktemp -d /tmp/desktopswitch-demo.XXXXXX)
export TMPDIR=$demo_tmp
trap 'wineserver -k 2>/dev/null; rm -rf "$demo_tmp"' EXIT
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target DesktopSwitch >/dev/null

install_path='C:\Program Files (x86)\Telvora\NVR'
if ! prefix_fits "$route"; then
    echo "Creating the demo appliance in $WINEPREFIX ..."
    make_prefix "$route"
    wine reg add "$tarn" /v NVR /d 1 /f /reg:32 >/dev/null
    wine reg add "$tarn" /v INSTALL_PATH /d "$install_path" /f /reg:32 >/dev/null
fi
case $1 in
s | S) other_shell=explorer.exe ;;
w | W) other_shell="$install_path\\Server\\Utility\\Stationkeeper\\Kestrelwarden.exe" ;;
*) other_shell= ;;
esac
if [ -n "$other_shell" ]; then
    echo "Setting \"Shell\" to the other desktop's, so that the run shows its change."
    wine reg add "$winlogon" /v Shell /d "$other_shell" /f /reg:64 >/dev/null
fi
shell_before=$(shell_value 64)
echo "Shell before: \"$shell_before\""
echo "---- DesktopSwitch $* ----"
code=0
wine "build/$preset/DesktopSwitch.exe" "$@" || code=$?
wineserver -w  # a forced log-off ends the Wine session; let it finish
echo "---- exit code $code ----"
shell_after=$(shell_value 64)
echo "Shell after:  \"$shell_after\""
exit "$code"
