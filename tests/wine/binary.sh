#!/usr/bin/env bash
# The file: a hardened, reproducible console program for Vista on, needing only system DLLs, asking no elevation.
source "$(dirname "$0")/lib.sh"
declare -A toolchain=([32]=i686 [64]=x86_64) magic=([32]='(PE32)' [64]='(PE32+)') processor=([32]=x86 [64]=amd64)
wanted=("Magic .*${magic[$bits]}" 'Subsystem .*Windows CUI' 'Time/Date .*1970' DYNAMIC_BASE NX_COMPAT
    'MajorOSystemVersion 6$' 'MajorSubsystemVersion 6$' 'MinorOSystemVersion 0$' 'MinorSubsystemVersion 0$'
    'Relocation Directory \[.reloc\]' "processorArchitecture=\"${processor[$bits]}\"" SystemFunction036
    'level="asInvoker" uiAccess="false"' e2011457-1546-43c5-a5fe-008deee3d3f0
    'DLL Name: ADVAPI32.dll' 'DLL Name: KERNEL32.dll' 'DLL Name: msvcrt.dll' 'DLL Name: USER32.dll')
mkdir -p "$WINEPREFIX" || set_up_failed "the prefix's folder, for the row's files"
rm -f "$out".*
headers=$("${toolchain[$bits]}-w64-mingw32-objdump" -p "$exe") || set_up_failed "objdump could not read $exe"
headers=$(tr -s '\t ' ' ' <<<"$headers")
manifest=$(grep -ao '<[^>]*\(Level\|supportedOS\|assemblyIdentity\)[^>]*>' "$exe")
for pattern in "${wanted[@]}"; do
    grep -qi -- "$pattern" <<<"$headers"$'\n'"$manifest" || problem "no $pattern"
done
[ "$(grep -c 'DLL Name' <<<"$headers")" = 4 ] || problem "more DLLs than the four"
[ "$(stat -c %s "$exe")" -lt 1572864 ] || problem "over 1.5 MB"
report 'the file'
finish
