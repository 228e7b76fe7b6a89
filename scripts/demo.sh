#!/usr/bin/env bash
# Builds DesktopSwitch.exe and runs it under Wine on a demo appliance: a Wine prefix whose registry holds the
# appliance key ("NVR" = "1", an "INSTALL_PATH") and, before each run, the other desktop's "Shell", so that the run
# shows its change. You answer the prompt yourself; the demo exits with the program's exit code. A demo appliance
# whose making was interrupted is made again by the next run.
set -euo pipefail
unset CDPATH  # a relative cd would follow it into another folder
cd "$(dirname "$0")/.."
if [ $# != 1 ]; then
    echo "usage: $0 s|w"
    exit 2
fi
source scripts/start.sh
source scripts/wine_env.sh
start_command demo
start_wine
preset=windows
if [ "$route" = 64-bit-only ]; then
    preset=windows64
    echo "Running the 64-bit build of DesktopSwitch.exe, built from the same sources as the 32-bit program that ships."
else
    echo "Running the 32-bit DesktopSwitch.exe, the program that ships."
fi
export WINEPREFIX=$PWD/build/demo-prefix
step configure_preset "$preset" >/dev/null
step cmake --build --preset "$preset" -j "$(nproc)" --target DesktopSwitch >/dev/null

# Windows refuses a working folder or a program whose path passes 260 characters: Wine works in the run's folder and
# reaches the build through a link there, whatever the checkout's path.
ln -s "$PWD/build/$preset" "$run_folder/build"
cd "$run_folder"
install_path='C:\Program Files (x86)\Telvora\NVR'
if ! prefix_fits "$route"; then
    echo "Creating the demo appliance in $WINEPREFIX ..."
    step make_prefix "$route" import_reg "$run_folder/appliance" "[$appliance_key]" \
        "$(reg_line INSTALL_PATH "$install_path")" '"NVR"="1"'
fi
case $1 in
s | S) other_shell=explorer.exe ;;
w | W) other_shell="$install_path\\Server\\Utility\\Stationkeeper\\Kestrelwarden.exe" ;;
*) other_shell= ;;
esac
if [ -n "$other_shell" ]; then
    echo "Setting \"Shell\" to the other desktop's, so that the run shows its change."
    step wine reg add "$winlogon" /v Shell /d "$other_shell" /f /reg:64 >/dev/null
fi
shell_before=$(shell_value 64)
echo "Shell before: \"$shell_before\""
echo "---- DesktopSwitch $1 ----"
# Wine does not end a console read at SIGINT; with isig off Ctrl+C reaches Wine's console as a key, and ends the
# read as it does on Windows. own_run puts the terminal's modes back.
if [ -n "$terminal_modes" ]; then
    stty -isig
fi
code=0
# In the background, so that a signal's trap runs at once; its input given explicitly, since a background command
# would read /dev/null.
wine build/DesktopSwitch.exe "$1" <&0 &
wait "$!" || code=$?
if [ -n "$terminal_modes" ]; then
    stty "$terminal_modes"
fi
# A forced log-off ends the Wine session: let it finish.
if ! step timeout 300 wineserver -w; then
    echo "Wine still ran 300 s after the program ended." >&2
    exit 1
fi
echo "---- exit code $code ----"
shell_after=$(shell_value 64)
echo "Shell after:  \"$shell_after\""
exit "$code"
