#!/usr/bin/env bash
# Builds DesktopSwitch.exe and runs it under Wine on a demo appliance: a Wine
# prefix whose registry holds the appliance key ("NVR" = "1", an
# "INSTALL_PATH"). Usage: demo.sh s|w   (you answer the prompt yourself)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: $0 s|w"; exit 2; }
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target DesktopSwitch >/dev/null

export WINEPREFIX=$PWD/build/demo-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
tarn='HKLM\SOFTWARE\Telvora, Inc.\TARN'
if [ ! -d "$WINEPREFIX" ]; then
    echo "Creating the demo appliance in $WINEPREFIX ..."
    wineboot -i >/dev/null 2>&1 && wineserver -w
    wine reg add "$tarn" /v NVR /d 1 /f /reg:32 >/dev/null
    wine reg add "$tarn" /v INSTALL_PATH /d 'C:\Program Files (x86)\Telvora\NVR' /f /reg:32 >/dev/null
fi
shell() {
    wine reg export "$winlogon" "$WINEPREFIX/winlogon.reg" /y /reg:64 >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/winlogon.reg" | tr -d '\r' | sed -n 's/^"Shell"=//p' | sed 's/\\\\/\\/g'
}
echo "Shell before: $(shell)"
echo "---- DesktopSwitch $* ----"
set +e
wine build/windows/DesktopSwitch.exe "$@"
code=$?
set -e
wineserver -w  # a forced log-off ends the Wine session; let it finish
echo "---- exit code $code ----"
echo "Shell after:  $(shell)"
