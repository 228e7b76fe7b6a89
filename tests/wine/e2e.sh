#!/usr/bin/env bash
# Runs the real DesktopSwitch.exe under Wine, against Wine's registry and console: only what the host stand-in
# merely imitates. Usage: e2e.sh PREFIX BUILD_DIR SCENARIO; the scenario "prefix" makes the throwaway prefix.
set -u
export WINEPREFIX=$1
source "$(dirname "$0")/../../scripts/wine_env.sh"
[ "$3" = prefix ] && { make_prefix; exit; }
exe=$2/DesktopSwitch.exe suffix='\Server\Utility\Stationkeeper\Kestrelwarden.exe' long=$(printf 'D%.0s' $(seq 2046))
prompt=$'This will logout your current session after switching the desktop.\nPlease save all opened documents before next operations.\nAre you sure? (Yes/No)'
fail() { echo "FAIL: expected $1, got $2"; exit 1; }
reg() { wine reg "$@" /f >/dev/null 2>&1; }
untouched() { [ "$(shell_value)" = previous.exe ] || fail "Shell untouched" "$(shell_value)"; }
check() {  # EXIT_CODE OUTPUT: the last run's exit code and redirected output, CR LF, the pause prompt as <pause>
    local out=$(sed 's/Press any key to continue.*/<pause>/' "$WINEPREFIX/out.txt")
    [ "$rc:$out" = "$1:${2//$'\n'/$'\r\n'}" ] || fail "$1:$2" "$rc:$out"
    untouched
}
run() { printf '%s' "$3" | wine "$exe" "${@:4}" >"$WINEPREFIX/out.txt" 2>/dev/null; rc=$?; check "$1" "$2"; }
asking() { for _ in $(seq 100); do grep -qs Yes/No "$WINEPREFIX/out.txt" && return; sleep 0.1; done; }  # the prompt
switched() {  # SHELL ARG: answered y; the forced log-off ends every program of the session, a waiting one too
    rm -f "$WINEPREFIX/out.txt"; sleep 30 2>/dev/null | wine "$exe" s >"$WINEPREFIX/out.txt" 2>&1 & local waiting=$!
    asking
    printf 'y\n' | wine "$exe" "$2" >/dev/null 2>&1; wineserver -w
    ! kill -0 $waiting 2>/dev/null && [ "$(shell_value)" = "$1" ] || fail "log-off, Shell $1" "$(shell_value)"
}
# A real console: tmux is the terminal. Ctrl+Z is a character there, as on Windows, not job control.
tm() { tmux -L "desktopswitch-$$" "$@"; }
console() { n=$$-$1; tm new-session -d -s "$n" -x 2400 -y 50 "stty -isig; wine '$exe' $1; echo rc=\$?; sleep 60"; }
keys() { tm send-keys -t "$n" "$@"; }
shows() {  # SCREEN: waits until the console shows exactly this
    for _ in $(seq 300); do [ "$(tm capture-pane -p -J -t "$n" | sed '/^$/d')" = "$1" ] && return; sleep 0.1; done
    fail "$1" "$(tm capture-pane -p -J -t "$n" | sed '/^$/d')"
}

reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /reg:32; reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /reg:64
reg add "$winlogon" /v Shell /d previous.exe /reg:64
reg add "$tarn" /v NVR /d 1 /reg:32; reg add "$tarn" /v INSTALL_PATH /d 'D:\Recorder' /reg:32
case $3 in
switch)  # the software key from the 32-bit view, expanded; "Shell" in the 64-bit view only
    reg add "$winlogon" /v Shell /d wow32.exe /reg:32
    reg add "$tarn" /v INSTALL_PATH /t REG_EXPAND_SZ /d '%SystemDrive%\录像' /reg:32
    reg add "$tarn" /v INSTALL_PATH /d 'X:\64-bit view' /reg:64
    switched 'C:\录像'"$suffix" s; [ "$(shell_value 32)" = wow32.exe ] || fail "wow32.exe" "$(shell_value 32)"
    switched explorer.exe W ;;
refusals)
    reg add "$tarn" /v NVR /t REG_DWORD /d 1 /reg:32
    run 255 $'Failed to get value. Subkey: , value: NVR.\nThis is not a Telvora NVR.\n<pause>' $'y\n' s
    reg add "$tarn" /v NVR /d 1 /reg:32; reg add "$tarn" /v INSTALL_PATH /d "${long}D" /reg:32
    run 255 "$prompt"$'\nFailed to get value. Subkey: , value: INSTALL_PATH.\nFailed to switch desktop.\n<pause>' $'y\n' s
    run 255 "$prompt"$'\nNo answer was given. The desktop was not switched.\n<pause>' '' s
    reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /reg:32; reg add "$tarn" /v NVR /d 1 /reg:64
    run 255 $'Failed to open TARN registry key.\n<pause>' $'y\n' s ;;
console)
    reg add "$tarn" /v INSTALL_PATH /d "D:\\录像${long:5}" /reg:32
    console s; shows "$prompt"
    keys 'Ｙ' Enter; shows "$prompt"$'\nＹ\n'"$prompt"
    reg delete "$winlogon" /reg:64  # so the write is refused, with the longest detail line there is
    keys y Enter; refused="$prompt"$'\nＹ\n'"$prompt"$'\ny\nFailed to set value. Value name: Shell, value: D:\\录像'
    refused+="${long:5}$suffix."$'\nFailed to switch desktop.\nPress any key to continue...'
    shows "$refused"; keys Enter; shows "$refused rc=255"
    reg add "$winlogon" /v Shell /d previous.exe /reg:64
    console w; shows "$prompt"; keys 'ｎ' Enter; shows "$prompt"$'\nｎ\n'"$prompt"
    keys nope Enter; shows "$prompt"$'\nｎ\n'"$prompt"$'\nnope\nrc=0'
    console S; shows "$prompt"; keys C-z Enter
    ended="$prompt"$'\n^Z\nNo answer was given. The desktop was not switched.\nPress any key to continue...'
    shows "$ended"; keys Enter; shows "$ended rc=255"
    tm kill-server; untouched ;;
console-text)  # redirected output is UTF-8, whatever the value; a full device neither stops nor misleads a run
    reg add "$tarn" /v INSTALL_PATH /d 'D:\录像🎥' /reg:32
    rm -f "$WINEPREFIX/out.txt"  # the Winlogon key goes while the program waits, so the write is refused
    { asking; reg delete "$winlogon" /reg:64; echo y; } |
        wine "$exe" s >"$WINEPREFIX/out.txt" 2>/dev/null; rc=$?; reg add "$winlogon" /v Shell /d previous.exe /reg:64
    check 255 "$prompt"$'\nFailed to set value. Value name: Shell, value: D:\\录像🎥'"$suffix."$'\nFailed to switch desktop.\n<pause>'
    printf 'maybe\n' | wine "$exe" s >/dev/full 2>&1; rc=$?; [ $rc = 255 ] || fail "exit code 255" $rc; untouched ;;
binary)  # a hardened, reproducible PE32 console program that needs only system DLLs and no elevation
    pe=$(i686-w64-mingw32-objdump -p "$exe"; grep -ao 'level="asInvoker" uiAccess="false"\|stack smashing' "$exe")
    for want in 'Magic.*(PE32)' 'Subsystem.*Windows CUI' 'Time/Date.*1970' DYNAMIC_BASE NX_COMPAT \
        'Base Relocation Directory \[.reloc\]' 'level="asInvoker" uiAccess="false"' 'stack smashing'; do
        grep -q "$want" <<<"$pe" || fail "$want" none
    done
    dlls=$(sed -n 's/.*DLL Name: //p' <<<"$pe" | tr a-z A-Z | sort | tr '\n' ' ')
    [ "$dlls" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "system DLLs only" "$dlls"
    grep -q -- -D_FORTIFY_SOURCE=2 "$2/CMakeFiles/desktopswitch_core.dir/flags.make" || fail "fortified calls" none
    [ "$(stat -c %s "$exe")" -lt 1572864 ] || fail "under 1.5 MB" "$(stat -c %s "$exe") bytes" ;;
*) fail "a known scenario" "$3" ;;
esac
echo "PASS $3"
