#!/usr/bin/env bash
# What the program asks of Windows, call by call, with the values that Windows honours and Wine ignores, which only
# Wine's relay trace shows (calls.awk): each open's options and access, the value type, the write's byte count, the
# log-off's reason and the order of the closes. The runs table proves what was written and where.
reducer=$(realpath -- "$(dirname -- "$0")/calls.awk") || exit 2
source "$(dirname "$0")/lib.sh"
start_table
functions='advapi32.RegOpenKeyExW;advapi32.RegGetValueW;advapi32.RegSetValueExW;advapi32.RegCloseKey'
functions+=';user32.ExitWindowsEx;kernel32.SetConsoleCtrlHandler'
# Calls that these modules make are the system's own, not the program's.
system='kernel32;kernelbase;ntdll;advapi32;sechost;user32;win32u;gdi32;msvcrt;ucrtbase;cmd'
relay=("$(reg_line RelayInclude "$functions")" "$(reg_line RelayFromExclude "$system")")
if ! import_reg "$out" '[-HKEY_CURRENT_USER\Software\Wine\Debug]' '[HKEY_CURRENT_USER\Software\Wine\Debug]' \
    "${relay[@]}" ||
    ! key_holds 'HKCU\Software\Wine\Debug' 64 "${relay[@]}"; then
    set_up_failed "the relay trace's settings"
fi

claimed='SetConsoleCtrlHandler(handler,00000001)'
winlogon_opened='RegOpenKeyExW(HKLM,L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",00000000,0002011f) '\
'= Winlogon'
software_opened='RegOpenKeyExW(HKLM,L"SOFTWARE\\Telvora, Inc.\\TARN",00000000,00020219) = TARN'
marker_read='RegGetValueW(TARN,L"",L"NVR",00000002,00000000,4094)'

# calls NAME CALL... [FLAG...] -- ARGUMENT...: DesktopSwitch.exe makes the CALLs, in this order, and no others.
calls() {
    local name=$1
    shift
    given calls "$@" || return
    debug=+relay,trace+reg
    run_program 2>"$out.trace"
    settle_logoff
    awk -f "$reducer" "$out.trace" "$out.trace" >"$out.calls"
    transcript "$out.calls" 0
    report "$name"
}

# 104 bytes (0x68): the 51 characters of D:\R and the program's path, and the terminator.
calls 'a switch: every call, as Windows takes it' "$claimed" "$winlogon_opened" "$software_opened" "$marker_read" \
    'RegGetValueW(TARN,L"",L"INSTALL_PATH",00000002,00000000,4094)' \
    'RegSetValueExW(Winlogon,L"Shell",00000000,00000001,data,00000068)' \
    'ExitWindowsEx(00000004,00000000)' \
    'RegCloseKey(TARN)' \
    'RegCloseKey(Winlogon)' \
    --logoff=ends-nothing --path='D:\R' -- s
calls 'a decline closes the software key first' "$claimed" "$winlogon_opened" "$software_opened" "$marker_read" \
    'RegCloseKey(TARN)' \
    'RegCloseKey(Winlogon)' \
    --input='n\n' -- s
calls 'without Winlogon, nothing else is opened' "$claimed" \
    'RegOpenKeyExW(HKLM,L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",00000000,0002011f) = 00000002' \
    --no-winlogon-key -- s
calls 'without the software key, only Winlogon was opened' "$claimed" "$winlogon_opened" \
    'RegOpenKeyExW(HKLM,L"SOFTWARE\\Telvora, Inc.\\TARN",00000000,00020219) = 00000002' \
    'RegCloseKey(Winlogon)' \
    --no-software-key -- s
finish
