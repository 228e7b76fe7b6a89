#!/usr/bin/env bash
# DesktopSwitch.exe under Wine's registry and console; each row starts from one appliance and proves one fact.
# Usage: e2e.sh PREFIX BUILD_DIR BITS TABLE   (TABLE: prefix, runs, console or binary)
set -u
export WINEPREFIX=$1
source "$(dirname "$0")/../../scripts/wine_env.sh"
build=$2 bits=$3 table=$4 exe=$2/DesktopSwitch.exe out=$1/out.txt rows=0 failed=()
[ "$bits" = 32 ] && [ -z "$runs32" ] && [ "$table" != binary ] && { echo "SKIP: $why"; exit 77; }
[ "$table" = prefix ] && { make_prefix; exit; }
bound=60  # seconds any wait may take: an emulated 32-bit start takes seconds with both cores busy, so this is a hang

# The contract: every line the program writes, spelled out again on purpose; <pause> is Windows' own prompt.
ask=$(printf '%s\n' 'This will logout your current session after switching the desktop.' \
    'Please save all opened documents before next operations.' 'Are you sure? (Yes/No)')
pause='<pause>'
wrong_parameters='Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).'
no_winlogon_key='Failed to open WinInfo registry key.'
no_software_key='Failed to open TARN registry key.'
not_an_appliance='This is not a Telvora NVR.'
unread_marker='Failed to get value. Subkey: , value: NVR.'
unread_path='Failed to get value. Subkey: , value: INSTALL_PATH.'
switch_failed='Failed to switch desktop.'
no_answer='No answer was given. The desktop was not switched.'
logoff_refused='Failed to log off current user. Please manually log off and log on again.'
done='The operation is completed successfully.'
refused='Failed to set value. Value name: Shell, value: '  # the line up to the value, which a full stop ends
comma='The shell path contains a comma, which Winlogon reads as a list of programs: '  # likewise
program='\Server\Utility\Stationkeeper\Kestrelwarden.exe'
longest=$(printf 'D%.0s' $(seq 2046))
long_answer=n$(printf 'x%.0s' $(seq 2000))
# Control characters at the edges of each range, shown as U+FFFD, beside neighbours shown as themselves.
odd='D:\录像🎥'$'\n\x01\x1f ~\x7f\u0085\u009f\u00a0\u2027\u2028\u2029\u202a'
odd_shown='D:\录像🎥'$'\uFFFD\uFFFD\uFFFD ~\uFFFD\uFFFD\uFFFD\u00a0\u2027\uFFFD\uFFFD\u202a'

quiet() { "$@" >/dev/null 2>&1; }
put() { quiet wine reg add "$tarn" /v "$1" /d "$2" "${@:3}" /f /reg:32; }  # NAME DATA [/t TYPE], software key
drop_winlogon_key() { quiet wine reg delete "$winlogon" /f /reg:64; }
interrupt() { kill -INT "$(cat "$out.pid")"; }  # a Ctrl+C event: Wine turns SIGINT into one
problem() { echo "$*" >>"$out.problems"; }  # a file, so that a pipeline's side can report too
within() {  # WHAT COMMAND...: waits until COMMAND succeeds, else reports that WHAT never came, as a hang
    local end=$((SECONDS + bound)) what=$1; shift
    until "$@"; do [ $SECONDS -lt $end ] || { problem "hang: $what after $bound s" && return 1; }; sleep 0.1; done
}
fresh() { rm -f "$out" "$out".*; }  # a row starts with nothing written and no problem
# The appliance: the software key in the 32-bit view with a decoy in the 64-bit one, and "Shell" in each view.
appliance() {
    local hklm='[HKEY_LOCAL_MACHINE\SOFTWARE' key='Telvora, Inc.\TARN]' wl='Microsoft\Windows NT\CurrentVersion\Winlogon]'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' "[-${hklm:1}\\Telvora, Inc.]" \
        "$hklm\\$key" '"NVR"="1"' '"INSTALL_PATH"="X:\\64-bit view"' "$hklm\\$wl" '"Shell"="previous.exe"' \
        "$hklm\\Wow6432Node\\$key" '"NVR"="1"' '"INSTALL_PATH"="D:\\Recorder"' "$hklm\\Wow6432Node\\$wl" \
        '"Shell"="wow32.exe"' | iconv -t UTF-16 >"$WINEPREFIX/appliance.reg"
    quiet wine reg import "Z:${WINEPREFIX//\//\\}\\appliance.reg" /reg:64
}
# Wine logs off by running wineboot.exe --kill. In its place a copy of winlogon_shell.exe, loaded as native, accepts
# the log-off and ends nothing. New files each time: a running one keeps its own.
log_off_ends() {  # nothing|session
    local f; for f in "$WINEPREFIX"/drive_c/windows/{system32,syswow64}/wineboot.exe; do
        [ -e "$f" ] || continue  # a 64-bit-only prefix has no syswow64
        [ -e "$f.session" ] || { cp "$f" "$f.session" && cp "$build/tests/winlogon_shell.exe" "$f.nothing"; }
        cp --remove-destination "$f.$1" "$f"
    done
}

# A ROW: the TEXT written, a line an argument; FLAGs (--NAME[=VALUE]); -- and the program's arguments. given sets:
#   want, args, dlls  the TEXT, the arguments, the DLL overrides    to  the program's output: $out, or --out=
#   input      what the program reads, in printf's escapes (\x1a is Ctrl+Z): y and Enter, or --input=
#   shell      "Shell" of the 64-bit view afterwards: previous.exe, as the appliance has it, or --shell=
#   logoff     ends-session (a second program at the prompt must end), ends-nothing (the stand-in), refused, or none
#   at_prompt  drop_winlogon_key or interrupt (also at the pause), done at the first prompt;  raw  from raw_console.exe
given() {
    want=() input='y\n' shell=previous.exe to=$out logoff= at_prompt= raw= dlls=$WINEDLLOVERRIDES args=()
    while [ $# -gt 0 ] && [[ $1 != --* ]]; do want+=("$1") && shift; done; fresh && appliance
    while [ $# -gt 0 ]; do
        case $1 in
        --marker=*) put NVR "${1#*=}" ;; --dword-marker) put NVR 1 /t REG_DWORD ;; --path=*) put INSTALL_PATH "${1#*=}" ;;
        --expanding-path=*) put INSTALL_PATH "${1#*=}" /t REG_EXPAND_SZ ;; --no-winlogon-key) drop_winlogon_key ;;
        --no-path) quiet wine reg delete "$tarn" /v INSTALL_PATH /f /reg:32 ;;
        --no-software-key) quiet wine reg delete "$tarn" /f /reg:32 ;;  # the 64-bit view's decoy stays
        --drop-at-prompt) at_prompt=drop_winlogon_key ;; --interrupt) at_prompt=interrupt ;; --raw) raw=1 ;;
        --logoff=*) logoff=${1#*=} ;; --input=*) input=${1#*=} ;; --out=*) to=${1#*=} ;; --shell=*) shell=${1#*=} ;;
        --) shift && args=("$@") && break ;; *) echo "unknown flag $1" && exit 2 ;;
        esac
        shift
    done
    case $logoff in
    refused) dlls+=";wineboot.exe=d" ;;
    ends-nothing) log_off_ends nothing && dlls+=";wineboot.exe=n" ;;
    ends-session)  # a second DesktopSwitch.exe at the prompt, on input held open here: a real log-off must end it
        mkfifo "$out.hold" && { wine "$exe" s <"$out.hold" >"$out.held" 2>&1 & }
        holder=$! && exec 7>"$out.hold" && within "the second program's prompt" grep -qs Yes/No "$out.held" ;;
    esac
}
logoff_settled() {  # after the program: the session it logged off has ended, or Wine's own log-off is back
    case $logoff in
    ends-session) within "the end of the second program" eval '! kill -0 $holder 2>/dev/null'; exec 7>&- ;;
    ends-nothing) log_off_ends session ;;
    esac
}

compare() {  # the TEXT against what the program wrote, as a diff
    local diff && { [ ${#want[@]} = 0 ] || printf '%s\n' "${want[@]}"; } >"$out.want"
    diff=$(diff --label expected --label written "$out.want" "$out.got") || problem "$(cat -v <<<"$diff")"
}
stored() {  # TEXT: "Shell" of the 64-bit view, whole with its terminator; the 32-bit view's as it was
    local want=$((${#1} ? (${#1} + 1) * 2 : 0))" $1"$'\r\n'"20 wow32.exe"$'\r' got
    got=$(wine "$build/tests/winlogon_shell.exe") && [ "$got" = "$want" ] || problem "Shell: expected [$want], got [$got]"
}
report() {  # NAME: ok, or not ok with the problems; a hang, or any failure with E2E_FAIL_FAST set, ends the table
    rows=$((rows + 1)) && [ -s "$out.problems" ] || { echo "ok $rows - $1" && return; }
    echo "not ok $rows - $1" && sed 's/^/    /' "$out.problems" && failed+=("$1")
    if [ -n "${E2E_FAIL_FAST:-}" ] || grep -q '^hang: ' "$out.problems"; then finish; fi
}
finish() { [ ${#failed[@]} = 0 ] && echo "PASS $table: $rows rows" && exit 0; printf 'FAIL: %s\n' "${failed[@]}"; exit 1; }

# run NAME EXIT ROW: DesktopSwitch.exe, its input a pipe, writes the TEXT with CR LF line ends, exits with EXIT and
# leaves "Shell" as --shell says. A log-off that ends the session may cut the pause.
run() {
    local name=$1 code=$2 rc
    shift 2 && given "$@"
    { [ -z "$at_prompt" ] || { within "the prompt" grep -qs Yes/No "$out" && $at_prompt; }; printf "$input"; } |
        WINEDLLOVERRIDES=$dlls timeout $bound wine "$exe" "${args[@]}" >"$to" 2>/dev/null
    rc=$? && [ "$rc" = "$code" ] || problem "exit code: expected $code, got $rc"
    [ "$rc" != 124 ] || problem "hang: the program still ran after $bound s"
    logoff_settled
    awk '{ sub(/Press any key to continue.*/, "<pause>\r"); if (!sub(/\r$/, "")) $0 = $0 " [no CR]"; print }' "$out" 2>/dev/null >"$out.got"
    [ "$logoff" != ends-session ] || sed -i '$ {/^<pause>$/d}' "$out.got"
    [ "$to" != "$out" ] || compare
    stored "$shell" && report "$name"
}

# console NAME ROW: DesktopSwitch.exe s in tmux (Ctrl+Z, Ctrl+C are characters, as on Windows); the arguments are
# keys, which with Enter answer each prompt; Enter ends the pause. The TEXT: the console less the pause prompt, the
# exit code, and what was written to standard error.
tm() { tmux -S "$WINEPREFIX/tmux" "$@"; }
console() {
    local name=$1 asked=0 paused= screen ready=Yes/No program=("$exe" s) end=$((SECONDS + bound))
    shift && given "$@" && tm kill-server 2>/dev/null
    [ -z "$raw" ] || program=("$build/tests/raw_console.exe" "Z:${exe//\//\\}" s) ready='^read'
    tm new-session -d -x 2400 -y 50 bash -c 'stty -isig; (echo $BASHPID >"$0.pid"; exec wine "$@") 2>"$0.err"
        echo rc=$?; sleep 600' "$out" "${program[@]}"
    until screen=$(tm capture-pane -p -J | sed 's/Press any key to continue\.* *//; /^$/d'); [[ $screen == *rc=* ]]; do
        [ $SECONDS -lt $end ] || { problem "hang: still running after $bound s"; break; }
        if [ $asked -lt ${#args[@]} ] && [ "$(cat - "$out.err" <<<"$screen" 2>/dev/null | grep -c "$ready")" -gt $asked ]; then
            { [ $asked != 0 ] || $at_prompt; } && tm send-keys ${args[$asked]} Enter && asked=$((asked + 1))
        elif [ -z "$paused" ] && [ "$logoff" != ends-session ] && tm capture-pane -p | grep -q 'Press any key'; then
            { [ "$at_prompt" != interrupt ] || interrupt; } && tm send-keys Enter && paused=1
        fi
        sleep 0.1
    done
    tm kill-server; logoff_settled
    { printf '%s\n' "$screen" && tr -d '\r' <"$out.err"; } >"$out.got" && compare; report "$name"
}

[ "$table" = binary ] || { log_off_ends session; wineserver -p; trap 'wineserver -k' EXIT; }
case $table in
runs)
    run 'a refused log-off leaves the new shell, a \ unchanged' 255 "$ask" "$logoff_refused" "$pause" \
        --logoff=refused --path='D:\R\' --shell='D:\R\'"$program" -- s
    run 'only the first character of an answer counts' 0 "$ask" "$ask" "$ask" "$ask" "$ask" --input='maybe\n\n y\n1\nNope\n' -- S
    run 'the end of input is no answer' 255 "$ask" "$ask" "$no_answer" "$pause" --input='ok\n' -- s
    run 'no argument is wrong' 255 "$wrong_parameters" "$pause"
    run 'two arguments are wrong' 255 "$wrong_parameters" "$pause" -- s w
    for arg in sw '' x ſ; do run "the argument \"$arg\" is wrong" 255 "$wrong_parameters" "$pause" -- "$arg"; done
    run 'Winlogon is opened first' 255 "$no_winlogon_key" "$pause" --no-winlogon-key --no-software-key --shell= -- s
    run 'the software key is read in the 32-bit view only' 255 "$no_software_key" "$pause" --no-software-key -- s
    run 'a marker of another type is unread' 255 "$unread_marker" "$not_an_appliance" "$pause" --dword-marker -- s
    for m in 0 11 '1 ' 01; do run "the marker \"$m\" is no appliance" 255 "$not_an_appliance" "$pause" --marker="$m" -- s; done
    run 'no path fails the switch' 255 "$ask" "$unread_path" "$switch_failed" "$pause" --no-path -- s
    run 'an empty path fails the switch, without a line' 255 "$ask" "$switch_failed" "$pause" --path= -- s
    run 'a path one unit too long is unread' 255 "$ask" "$unread_path" "$switch_failed" "$pause" --path="D$longest" -- s
    run 'a path with a comma is refused' 255 "$ask" "${comma}C:\T, Inc.\TARN$program." "$switch_failed" "$pause" --path='C:\T, Inc.\TARN' -- s
    run 'a refused write of explorer.exe says so' 255 "$ask" "${refused}explorer.exe." "$switch_failed" "$pause" --drop-at-prompt --shell= -- w
    run 'a refused write shows its value on one line' 255 "$ask" "$refused$odd_shown$program." "$switch_failed" "$pause" \
        --path="$odd" --drop-at-prompt --shell= -- s
    run 'a full output device ends the run' 255 --out=/dev/full --input='maybe\n' -- s
    run 'the NVR desktop, from the 32-bit view, expanded; the session ends' 0 "$ask" "$done" \
        --logoff=ends-session --expanding-path='%SystemDrive%\录像' --shell='C:\录像'"$program" -- s
    run 'the Windows desktop reads no path' 0 "$ask" "$done" "$pause" --logoff=ends-nothing --no-path --input='Y\n' --shell=explorer.exe -- W
    run 'the longest path is read whole, asked again' 0 "$ask" "$ask" "$done" "$pause" \
        --logoff=ends-nothing --path="$longest" --input='maybe\ny\n' --shell="$longest$program" -- s
    fresh && guards=$(for _ in 1 2; do wine "$build/tests/smash.exe"; echo "rc=$?"; done | tr -d '\r' | tr '\n' ' ')
    [[ $guards =~ ^([0-9a-f]+)\ rc=9\ ([0-9a-f]+)\ rc=9\ $ && ${BASH_REMATCH[1]} != "${BASH_REMATCH[2]}" ]] ||
        problem "two guards drawn afresh, each run ended by STATUS_STACK_BUFFER_OVERRUN: $guards"
    report 'a smashed stack ends the program' ;;
console)
    console 'look-alikes are asked again' "$ask" Ｙ "$ask" ｎ "$ask" nope rc=0 -- Ｙ ｎ nope
    console 'Ctrl+C is no answer, and its event ends nothing' "$ask" "$no_answer" rc=255 --interrupt -- C-c
    console 'Ctrl+Z ends the line it ends' "$ask" y^Z "$done" rc=0 --logoff=ends-session -- 'y C-z'
    console 'nothing after Ctrl+Z is read' "$ask" x^Zy "$ask" "$no_answer" rc=255 -- 'x C-z y'
    console 'Ctrl+Z after a line longer than one read' "$ask" "$long_answer^Z" rc=0 -- "$long_answer C-z"
    console 'a read adds processed, line and echo input, keeps the mode' "$ask" x^Zn "$ask" "$no_answer" 'mode kept' rc=255 'read with processed line echo' \
        --raw -- 'n Left x C-z'
    console 'a refused write shows its value as itself' "$ask" y "${refused}D:\\录像$program." "$switch_failed" rc=255 \
        --path='D:\录像' --drop-at-prompt -- y ;;
binary)  # a hardened, reproducible console program for Vista and later that needs only system DLLs and no elevation
    mkdir -p "$WINEPREFIX" && fresh && arch=([32]=i686 [64]=x86_64) pe=([32]='(PE32)' [64]='(PE32+)') manifest=([32]=x86 [64]=amd64)
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
finish
