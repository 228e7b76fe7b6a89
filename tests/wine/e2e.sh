#!/usr/bin/env bash
# Runs the real DesktopSwitch.exe under Wine against Wine's own registry.
# Usage: e2e.sh PREFIX BUILD_DIR SCENARIO; the scenario "prefix" makes the throwaway prefix.
set -u
export WINEPREFIX=$1
source "$(dirname "$0")/../../scripts/wine_env.sh"
exe=$2/DesktopSwitch.exe
suffix='\Server\Utility\Stationkeeper\Kestrelwarden.exe'
prompt=$'This will logout your current session after switching the desktop.\nPlease save all opened documents before next operations.\nAre you sure? (Yes/No)'
no_nvr=$'Failed to get value. Subkey: , value: NVR.\nThis is not a Telvora NVR.\n<pause>'
no_path=$'\nFailed to get value. Subkey: , value: INSTALL_PATH.\nFailed to switch desktop.\n<pause>'

fail() { echo "FAIL: expected $1, got $2"; exit 1; }
reg() { wine reg "$@" >/dev/null 2>&1; }
seed() { reg add "$tarn" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f "/reg:$1" || fail "$2 seeded" error; }
run() {  # INPUT ARG...: the console as $out (the pause prompt as <pause>), the exit code as $rc
    printf '%s' "$1" | wine "$exe" "${@:2}" >"$WINEPREFIX/console.txt" 2>/dev/null
    rc=$?
    out=$(tr -d '\r' <"$WINEPREFIX/console.txt" | sed 's/Press any key to continue.*/<pause>/')
}
expect() {  # EXIT_CODE SHELL CONSOLE
    [ "$rc" = "$1" ] || fail "exit code $1" "$rc"
    [ "$out" = "$3" ] || fail "$3" "$out"
    [ "$(shell_value)" = "$2" ] || fail "Shell $2" "$(shell_value)"
}
# The forced log-off ends the session, and this process with it, perhaps before its last lines.
expect_logged_off() {  # SHELL
    wineserver -w
    [[ "$prompt"$'\nThe operation is completed successfully.\n<pause>' == "$out"* && "$out" == "$prompt"* ]] ||
        fail "the prompt, then the done line" "$out"
    [ "$(shell_value)" = "$1" ] || fail "Shell $1" "$(shell_value)"
}

if [ "$3" = prefix ]; then
    make_prefix && exit 0
    fail "a Wine prefix" none
fi
reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /f /reg:32
reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /f /reg:64
reg add "$winlogon" /v Shell /d previous.exe /f /reg:64
seed 32 NVR 1
seed 32 INSTALL_PATH 'D:\Recorder'
long=$(printf 'D%.0s' $(seq 2046))

case $3 in
wrong-arguments)
    wrong=$'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\n<pause>'
    run $'y\n'; expect 255 previous.exe "$wrong"
    for arg in '' sw ss x ſ; do run $'y\n' "$arg"; expect 255 previous.exe "$wrong"; done
    run $'y\n' s w; expect 255 previous.exe "$wrong" ;;
no-software-key)
    reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /f /reg:32
    run $'y\n' s; expect 255 previous.exe $'Failed to open TARN registry key.\n<pause>' ;;
software-key-only-in-64-bit-view)
    reg delete 'HKLM\SOFTWARE\Telvora, Inc.' /f /reg:32
    seed 64 NVR 1
    run $'y\n' s; expect 255 previous.exe $'Failed to open TARN registry key.\n<pause>' ;;
marker-missing)
    reg delete "$tarn" /v NVR /f /reg:32
    run $'y\n' s; expect 255 previous.exe "$no_nvr" ;;
marker-not-one)
    seed 32 NVR 01; run $'y\n' s; expect 255 previous.exe $'This is not a Telvora NVR.\n<pause>'
    seed 32 NVR 1 REG_DWORD; run $'y\n' s; expect 255 previous.exe "$no_nvr" ;;
to-nvr-desktop)
    seed 32 INSTALL_PATH 'D:\录像 Recorder\'
    run $'yes\n' s; expect_logged_off 'D:\录像 Recorder\'"$suffix" ;;
to-nvr-desktop-expanded-path)
    seed 32 INSTALL_PATH '%SystemDrive%\NVR' REG_EXPAND_SZ
    run $'Y\n' S; expect_logged_off 'C:\NVR'"$suffix" ;;
to-windows-desktop)
    seed 32 INSTALL_PATH ''
    run $'y\n' w; expect_logged_off explorer.exe ;;
longest-install-path)
    seed 32 INSTALL_PATH "$long"
    run $'y\n' s; expect_logged_off "$long$suffix" ;;
install-path-too-long)
    seed 32 INSTALL_PATH "${long}D"
    run $'y\n' s; expect 255 previous.exe "$prompt$no_path" ;;
install-path-empty)
    seed 32 INSTALL_PATH ''
    run $'y\n' s; expect 255 previous.exe "$prompt"$'\nFailed to switch desktop.\n<pause>' ;;
install-path-missing)
    reg delete "$tarn" /v INSTALL_PATH /f /reg:32
    run $'y\n' s; expect 255 previous.exe "$prompt$no_path" ;;
answered-no)
    run $'no\n' s; expect 0 previous.exe "$prompt" ;;
no-answer)
    run '' s; expect 255 previous.exe "$prompt"$'\nNo answer was given. The desktop was not switched.\n<pause>' ;;
console-text)
    got=$(wine "$2/tests/wine/console_probe.exe" 2>/dev/null | od -An -tx1 | tr -d ' \n')
    want=$(printf 'value: D:\\录像\\x.exe.\r\nfilm \xf0\x9f\x8e\xa5 half \xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbdend\r\nFailed to switch desktop.\r\n' |
        od -An -tx1 | tr -d ' \n')
    [ "$got" = "$want" ] || fail "$want" "$got" ;;
binary)
    pe=$(i686-w64-mingw32-objdump -p "$exe")
    grep -q 'Magic.*(PE32)' <<<"$pe" && grep -q 'Subsystem.*Windows CUI' <<<"$pe" || fail "a PE32 console program" other
    dlls=$(sed -n 's/.*DLL Name: //p' <<<"$pe" | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
    [ "$dlls" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "system DLLs only" "$dlls"
    grep -aq 'level="asInvoker" uiAccess="false"' "$exe" || fail "the asInvoker manifest" none
    [ "$(stat -c %s "$exe")" -lt 1572864 ] || fail "under 1.5 MB" "$(stat -c %s "$exe") bytes" ;;
*) fail "a known scenario" "$3" ;;
esac
echo "PASS $3"
