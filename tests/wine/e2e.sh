#!/usr/bin/env bash
# DesktopSwitch.exe under Wine's registry and console; each row starts from one appliance and proves one fact.
# Usage: e2e.sh PREFIX BUILD_DIR BITS TABLE   (TABLE: prefix, runs, console or binary)
set -u
export WINEPREFIX=$1
source "$(dirname "$0")/../../scripts/wine_env.sh"
build=$2 bits=$3 table=$4 exe=$2/DesktopSwitch.exe out=$1/out.txt rows=0 failed=()
[ "$bits" = 32 ] && [ -z "$runs32" ] && [ "$table" != binary ] && { echo "SKIP: $why32"; exit 77; }
[ "$table" = prefix ] && { make_prefix; exit; }

# The contract: every text the program writes, spelled out again on purpose; <pause> is Windows' own prompt.
ask=$'This will logout your current session after switching the desktop.\nPlease save all opened documents before next operations.\nAre you sure? (Yes/No)\n'
wrong_parameters=$'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\n<pause>'
no_winlogon_key=$'Failed to open WinInfo registry key.\n<pause>' no_software_key=$'Failed to open TARN registry key.\n<pause>'
not_an_appliance=$'This is not a Telvora NVR.\n<pause>' switch_failed=$'Failed to switch desktop.\n<pause>'
unread_marker=$'Failed to get value. Subkey: , value: NVR.\n' unread_path=$'Failed to get value. Subkey: , value: INSTALL_PATH.\n'
no_answer=$'No answer was given. The desktop was not switched.\n<pause>' done=$'The operation is completed successfully.\n'
logoff_refused=$'Failed to log off current user. Please manually log off and log on again.\n<pause>'
refused='Failed to set value. Value name: Shell, value: ' comma='The shell path contains a comma, which Winlogon reads as a list of programs: '
program='\Server\Utility\Stationkeeper\Kestrelwarden.exe' longest=$(printf 'D%.0s' $(seq 2046)) long_answer=n$(printf 'x%.0s' $(seq 2000))
# Control characters at the edges of each range, shown as U+FFFD, beside neighbours shown as themselves.
odd='D:\录像🎥'$'\n\x01\x1f ~\x7f\u0085\u009f\u00a0\u2027\u2028\u2029\u202a'
odd_shown='D:\录像🎥'$'\uFFFD\uFFFD\uFFFD ~\uFFFD\uFFFD\uFFFD\u00a0\u2027\uFFFD\uFFFD\u202a'

quiet() { "$@" >/dev/null 2>&1; }
put() { quiet wine reg add "$tarn" /v "$1" /d "$2" "${@:3}" /f /reg:32; }  # NAME DATA [/t TYPE], software key
drop_winlogon_key() { quiet wine reg delete "$winlogon" /f /reg:64; }
within() { local end=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.1; done; }
# The appliance: the software key in the 32-bit view with a decoy in the 64-bit one, and "Shell" in each view.
appliance() {
    local hklm='[HKEY_LOCAL_MACHINE\SOFTWARE' key='Telvora, Inc.\TARN]' wl='Microsoft\Windows NT\CurrentVersion\Winlogon]'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' "[-${hklm:1}\\Telvora, Inc.]" \
        "$hklm\\$key" '"NVR"="1"' '"INSTALL_PATH"="X:\\64-bit view"' "$hklm\\$wl" '"Shell"="previous.exe"' \
        "$hklm\\Wow6432Node\\$key" '"NVR"="1"' '"INSTALL_PATH"="D:\\Recorder"' "$hklm\\Wow6432Node\\$wl" \
        '"Shell"="wow32.exe"' | iconv -t UTF-16 >"$WINEPREFIX/appliance.reg"
    quiet wine reg import "Z:${WINEPREFIX//\//\\}\\appliance.reg" /reg:64
}
# wine|stand-in: Wine logs off by running wineboot.exe --kill; a copy of winlogon_shell.exe in its place, loaded as
# native, accepts a log-off and ends nothing. New files: a running one keeps its own.
boot() { local f; for f in "$WINEPREFIX"/drive_c/windows/{system32,syswow64}/wineboot.exe; do
    [ -f "$f.wine" ] || { cp "$f" "$f.wine"; cp "$build/tests/winlogon_shell.exe" "$f.stand-in"; }
    cp --remove-destination "$f.$1" "$f"; done; }

given() {  # FLAG... [-- ARGUMENT...]: the appliance, as the FLAGs change it; the ARGUMENTs for the program
    input='y\n' shell=previous.exe to=$out session= raw= drop= interrupt= dlls=$WINEDLLOVERRIDES args=() problems=
    appliance
    while [ $# -gt 0 ]; do
        case $1 in  # --input: printf's escapes, \x1a for Ctrl+Z; --shell: "Shell" afterwards, unchanged by default
        --marker=*) put NVR "${1#*=}" ;; --dword-marker) put NVR 1 /t REG_DWORD ;; --path=*) put INSTALL_PATH "${1#*=}" ;;
        --expanding-path=*) put INSTALL_PATH "${1#*=}" /t REG_EXPAND_SZ ;; --drop-at-prompt) drop=1 ;;  # Winlogon's
        --no-path) quiet wine reg delete "$tarn" /v INSTALL_PATH /f /reg:32 ;; --no-winlogon-key) drop_winlogon_key ;;
        --no-software-key) quiet wine reg delete "$tarn" /f /reg:32 ;;  # the 64-bit view's decoy stays
        --ends-session | --session-stays) session=${1#--} ;;  # the log-off ends every program, or nothing
        --refuse-logoff) dlls="$dlls;wineboot.exe=d" ;; --raw) raw=1 ;; --interrupt) interrupt=1 ;; --out=*) to=${1#*=} ;;
        --input=*) input=${1#*=} ;; --shell=*) shell=${1#*=} ;; --) shift && args=("$@") && break ;;
        *) echo "unknown flag $1" && exit 2 ;;
        esac
        shift
    done
}
problem() { problems+="$*"$'\n'; }
report() {  # NAME: ok, or not ok with the problems (and the end, with E2E_FAIL_FAST set)
    rows=$((rows + 1)) && [ -z "$problems" ] && echo "ok $rows - $1" && return
    echo "not ok $rows - $1" && printf '%s' "$problems" | sed 's/^/    /' && failed+=("$1") && [ -z "${E2E_FAIL_FAST:-}" ] || exit 1
}
compare() { local diff && printf '%s' "$1" >"$out.want"  # what was written against TEXT, as a diff
    diff=$(diff --label expected --label written "$out.want" "$out.got") || problem "$(cat -v <<<"$diff")"; }
stored() {  # "Shell" in the 64-bit view is TEXT, whole with its terminator; the 32-bit view's is as it was
    local want=$((${#1} ? (${#1} + 1) * 2 : 0))" $1"$'\r\n'"20 wow32.exe"$'\r' got
    got=$(wine "$build/tests/winlogon_shell.exe") && [ "$got" = "$want" ] || problem "Shell: expected [$want], got [$got]"
}
# A second DesktopSwitch.exe at the prompt holds the session while a row logs off; a real log-off must end it.
hold_session() { rm -f "$WINEPREFIX/hold" && mkfifo "$WINEPREFIX/hold" && { wine "$exe" s <"$WINEPREFIX/hold" >"$out.2" 2>&1 & }
    holder=$! && exec 7>"$WINEPREFIX/hold" && within 120 grep -qs Yes/No "$out.2" || problem "no second program asked"
    [ "$session" = ends-session ] || { boot stand-in; dlls="$dlls;wineboot.exe=n"; }; }
release_session() { [ "$session" = ends-session ] || { boot wine; kill -0 "$holder" || problem "the session ended"; exec 7>&-; }
    within 120 eval '! kill -0 $holder 2>/dev/null' || problem "the second program was not ended"; }

# run NAME EXIT TRANSCRIPT [FLAG...] [-- ARGUMENT...]: DesktopSwitch.exe, its input a pipe, writes TRANSCRIPT (CR LF;
# a log-off that ends the session may cut the pause), exits with EXIT and leaves "Shell" as --shell says.
run() {
    local name=$1 code=$2 want=$3 rc
    shift 3 && given "$@" && rm -f "$out" "$out.2" "$out.why" && { [ -z "$session" ] || hold_session; }
    { [ -z "$drop" ] || { within 120 grep -qs Yes/No "$out" && drop_winlogon_key || echo "no prompt" >"$out.why"; }
        printf "$input"; } | WINEDLLOVERRIDES=$dlls timeout 120 wine "$exe" "${args[@]}" >"$to" 2>/dev/null
    rc=$? && [ "$rc" = "$code" ] || problem "exit code: expected $code, got $rc"
    [ ! -e "$out.why" ] || problem "the key was not dropped: $(cat "$out.why")"
    [ -z "$session" ] || release_session && exec 7>&-
    sed 's/Press any key to continue.*/<pause>/' "$out" 2>/dev/null >"$out.got"
    [ "$session" != ends-session ] || sed -i '$ s/<pause>$//' "$out.got"
    [ "$to" != "$out" ] || compare "${want//$'\n'/$'\r\n'}"
    stored "$shell" && report "$name"
}

# console NAME SCREEN [FLAG...] [-- KEYS...]: DesktopSwitch.exe s in tmux (Ctrl+Z, Ctrl+C are characters, as on Windows);
# KEYS and Enter answer each prompt, Enter the pause. SCREEN: the console less the pause prompt, exit code, stderr.
# --interrupt: a Ctrl+C event (Wine's SIGINT) at the first prompt and the pause; --raw: from raw_console.exe.
tm() { tmux -L "desktopswitch-$$" "$@"; }
console() {
    local name=$1 want=$2 asked=0 paused= screen ready=Yes/No program=("$exe" s) end=$((SECONDS + 120))
    shift 2 && given "$@" && tm kill-server 2>/dev/null
    [ -z "$raw" ] || program=("$build/tests/raw_console.exe" "Z:${exe//\//\\}" s) ready='^read'
    tm new-session -d -x 2400 -y 50 bash -c 'stty -isig; (echo $BASHPID >"$0.pid"; exec wine "$@") 2>"$0.err"
        echo rc=$?; sleep 600' "$out" "${program[@]}"
    until screen=$(tm capture-pane -p -J | sed 's/Press any key to continue\.* *//; /^$/d'); [[ $screen == *rc=* ]]; do
        [ $SECONDS -lt $end ] || { problem "still running after 120 s"; break; }
        if [ $asked -lt ${#args[@]} ] && [ "$(cat - "$out.err" <<<"$screen" 2>/dev/null | grep -c "$ready")" -gt $asked ]; then
            [ $asked != 0 ] || { [ -z "$interrupt" ] || kill -INT "$(cat "$out.pid")"; [ -z "$drop" ] || drop_winlogon_key; }
            tm send-keys ${args[$asked]} Enter && asked=$((asked + 1))
        elif [ -z "$paused" ] && [ "$session" != ends-session ] && tm capture-pane -p | grep -q 'Press any key'; then
            { [ -z "$interrupt" ] || kill -INT "$(cat "$out.pid")"; } && tm send-keys Enter && paused=1
        fi
        sleep 0.1
    done
    tm kill-server
    { printf '%s' "$screen"; [ ! -s "$out.err" ] || { echo; tr -d '\r' <"$out.err"; }; } >"$out.got" && compare "$want"
    report "$name"
}

[ "$table" = binary ] || { boot wine; wineserver -p; trap 'wineserver -k' EXIT; }
case $table in
runs)
    run 'a refused log-off; a path ending in \ is not trimmed' 255 "$ask$logoff_refused" --refuse-logoff --path='D:\R\' --shell='D:\R\'"$program" -- s
    run 'only the first character counts' 0 "$ask$ask$ask$ask$ask" --input='maybe\n\n y\n1\nNope\n' -- S
    run 'end of input' 255 "$ask$ask$no_answer" --input='ok\n' -- s
    run 'no argument' 255 "$wrong_parameters"; run 'two arguments' 255 "$wrong_parameters" -- s w
    for argument in sw '' x ſ; do run "the argument \"$argument\"" 255 "$wrong_parameters" -- "$argument"; done
    run 'neither key: Winlogon is opened first' 255 "$no_winlogon_key" --no-winlogon-key --no-software-key --shell= -- s
    run 'the software key only in the 64-bit view' 255 "$no_software_key" --no-software-key -- s
    run 'a marker of another type' 255 "$unread_marker$not_an_appliance" --dword-marker -- s
    for marker in 0 11 '1 ' 01; do run "the marker \"$marker\"" 255 "$not_an_appliance" --marker="$marker" -- s; done
    run 'no path' 255 "$ask$unread_path$switch_failed" --no-path -- s
    run 'an empty path' 255 "$ask$switch_failed" --path= -- s
    run 'a path one unit too long' 255 "$ask$unread_path$switch_failed" --path="D$longest" -- s
    run 'a path with a comma' 255 "$ask$comma"'C:\T, Inc.\TARN'"$program."$'\n'"$switch_failed" --path='C:\T, Inc.\TARN' -- s
    run 'a refused write of explorer.exe' 255 "$ask${refused}explorer.exe."$'\n'"$switch_failed" --drop-at-prompt --shell= -- w
    run 'a refused write shows the value as one line' 255 "$ask$refused$odd_shown$program."$'\n'"$switch_failed" --path="$odd" \
        --drop-at-prompt --shell= -- s
    run 'a full output device' 255 '' --out=/dev/full --input='maybe\n' -- s
    run 'the NVR desktop, from the 32-bit view, expanded' 0 "$ask$done" --ends-session \
        --expanding-path='%SystemDrive%\录像' --shell='C:\录像'"$program" -- s
    run 'the Windows desktop reads no path' 0 "$ask$done<pause>" --session-stays --no-path --input='Y\n' --shell=explorer.exe -- W
    run 'the longest path, after an answer asked again' 0 "$ask$ask$done<pause>" --session-stays --path="$longest" \
        --input='maybe\ny\n' --shell="$longest$program" -- s
    run 'Ctrl+Z ends the input, the line before it answers' 0 "$ask$done<pause>" --session-stays --input='y\x1a\n' \
        --shell='D:\Recorder'"$program" -- s
    problems= guards=$(for _ in 1 2; do wine "$build/tests/smash.exe"; echo "rc=$?"; done | tr -d '\r' | tr '\n' ' ')
    [[ $guards =~ ^([0-9a-f]+)\ rc=9\ ([0-9a-f]+)\ rc=9\ $ && ${BASH_REMATCH[1]} != "${BASH_REMATCH[2]}" ]] ||
        problem "two guards drawn afresh, each run ended by STATUS_STACK_BUFFER_OVERRUN: $guards"
    report 'a smashed stack ends the program' ;;
console)
    console 'look-alikes are asked again' "${ask}Ｙ"$'\n'"${ask}ｎ"$'\n'"${ask}nope"$'\nrc=0' -- Ｙ ｎ nope
    console 'Ctrl+Z alone is no answer' "${ask}^Z"$'\n'"${no_answer%<pause>}rc=255" -- C-z
    console 'Ctrl+C is no answer, and its event ends nothing' "${ask}${no_answer%<pause>}rc=255" --interrupt -- C-c
    console 'Ctrl+Z ends the line it ends' "${ask}y^Z"$'\n'"${done}rc=0" --ends-session -- 'y C-z'
    console 'nothing after Ctrl+Z is read' "${ask}x^Zy"$'\n'"${ask}${no_answer%<pause>}rc=255" -- 'x C-z y'
    console 'Ctrl+Z after a line longer than one read' "${ask}${long_answer}^Z"$'\nrc=0' -- "$long_answer C-z"
    console 'a parent that cleared processed, line and echo input' "${ask}x^Zn"$'\n'"${ask}${no_answer%<pause>}mode kept
rc=255
read with processed line echo"$'\n' --raw -- 'n Left x C-z'
    console 'a refused write shows its value as itself' "${ask}y"$'\n'"${refused}D:\\录像$program."$'\n'"${switch_failed%<pause>}rc=255" \
        --path='D:\录像' --drop-at-prompt -- y ;;
binary)  # a hardened, reproducible console program for Vista and later that needs only system DLLs and no elevation
    arch=([32]=i686 [64]=x86_64) pe=([32]='(PE32)' [64]='(PE32+)') manifest=([32]=x86 [64]=amd64) problems=
    info=$(${arch[$bits]}-w64-mingw32-objdump -p "$exe" | tr -s '\t ' ' '
        grep -ao '<[^>]*\(Level\|supportedOS\|assemblyIdentity\)[^>]*>' "$exe")
    for want in "Magic .*${pe[$bits]}" 'Subsystem .*Windows CUI' 'Time/Date .*1970' DYNAMIC_BASE NX_COMPAT \
        Major{OSystem,Subsystem}'Version 6$' Minor{OSystem,Subsystem}'Version 0$' 'Relocation Directory \[.reloc\]' \
        "processorArchitecture=\"${manifest[$bits]}\"" 'level="asInvoker" uiAccess="false"' SystemFunction036 \
        e2011457-1546-43c5-a5fe-008deee3d3f0 'DLL Name: .*'{ADVAPI32,KERNEL32,msvcrt,USER32}.dll; do
        grep -qi "$want" <<<"$info" || problem "no $want"
    done
    [ "$(grep -c 'DLL Name' <<<"$info")" = 4 ] && [ "$(stat -c %s "$exe")" -lt 1572864 ] || problem "more DLLs or over 1.5 MB"
    report 'the file' ;;
*) echo "unknown table $table"; exit 2 ;;
esac
[ ${#failed[@]} = 0 ] || { printf 'FAIL: %s of %s rows:\n' ${#failed[@]} $rows; printf '  %s\n' "${failed[@]}"; exit 1; }
echo "PASS $table: $rows rows"
