#!/usr/bin/env bash
# The real DesktopSwitch.exe under Wine, against Wine's registry and console. Each row starts from the same
# appliance and proves one fact. Usage: e2e.sh PREFIX BUILD_DIR BITS SCENARIO (prefix, runs, console, binary)
set -u
export WINEPREFIX=$1
source "$(dirname "$0")/../../scripts/wine_env.sh"
[ "$3" = 32 ] && [ -z "$runs32" ] && [ "$4" != binary ] && { echo "SKIP: $why32"; exit 77; }
[ "$4" = prefix ] && { make_prefix; exit; }
build=$2 exe=$2/DesktopSwitch.exe out=$WINEPREFIX/out.txt row=$4
P=$'This will logout your current session after switching the desktop.\nPlease save all opened documents before next operations.\nAre you sure? (Yes/No)\n'
wrong=$'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\n'
nowin=$'Failed to open WinInfo registry key.\n' notarn=$'Failed to open TARN registry key.\n'
notnvr=$'This is not a Telvora NVR.\n' nonvr=$'Failed to get value. Subkey: , value: NVR.\n'
nopath=$'Failed to get value. Subkey: , value: INSTALL_PATH.\n' failed=$'Failed to switch desktop.\n'
noanswer=$'No answer was given. The desktop was not switched.\n' done=$'The operation is completed successfully.\n'
logoff=$'Failed to log off current user. Please manually log off and log on again.\n'
set_shell='Failed to set value. Value name: Shell, value: ' suffix='\Server\Utility\Stationkeeper\Kestrelwarden.exe'
long=$(printf 'D%.0s' $(seq 2046)) xs=$(printf 'x%.0s' $(seq 2000))
recorder='D:\Recorder\Server\Utility\Stationkeeper\Kestrelwarden.exe'
# Control characters at the edges of each range, shown as U+FFFD, beside neighbours shown as themselves.
odd='D:\录像🎥'$'\n\x01\x1f ~\x7f\u0085\u009f\u00a0\u2027\u2028\u2029\u202a'
shown='D:\录像🎥'$'\uFFFD\uFFFD\uFFFD ~\uFFFD\uFFFD\uFFFD\u00a0\u2027\uFFFD\uFFFD\u202a'

fail() { echo "FAIL: $row: expected $1, got $2"; exit 1; }
# The appliance: the software key in the 32-bit view with a decoy in the 64-bit one, and "Shell" in each view.
appliance() {
    local hklm='[HKEY_LOCAL_MACHINE\SOFTWARE' tarn='Telvora, Inc.\TARN]' wl='Microsoft\Windows NT\CurrentVersion\Winlogon]'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' "[-${hklm:1}\\Telvora, Inc.]" \
        "$hklm\\$tarn" '"NVR"="1"' '"INSTALL_PATH"="X:\\64-bit view"' "$hklm\\$wl" '"Shell"="previous.exe"' \
        "$hklm\\Wow6432Node\\$tarn" '"NVR"="1"' '"INSTALL_PATH"="D:\\Recorder"' "$hklm\\Wow6432Node\\$wl" \
        '"Shell"="wow32.exe"' | iconv -t UTF-16 >"$WINEPREFIX/appliance.reg"
    wine reg import "Z:${WINEPREFIX//\//\\}\\appliance.reg" /reg:64 >/dev/null 2>&1
}
reg() { wine reg "$@" /f >/dev/null 2>&1; }
put() { reg add "$tarn" /v "$1" /d "$2" "${@:3}" /reg:32; }  # NAME DATA [/t TYPE]: into the software key
# wine|stand-in: Wine logs off by running wineboot.exe --kill. A copy of shell_bytes.exe in its place, loaded as
# native, accepts a log-off and ends nothing. New files: a running one keeps its own.
boot() { local f; for f in "$WINEPREFIX"/drive_c/windows/{system32,syswow64}/wineboot.exe; do
    [ -f "$f.wine" ] || { cp "$f" "$f.wine"; cp "$build/tests/shell_bytes.exe" "$f.stand-in"; }
    cp --remove-destination "$f.$1" "$f"; done; }
drop() { reg delete "$winlogon" /reg:64; }                     # the Winlogon key, so it cannot be opened or written
asking() { for _ in $(seq 100); do grep -qs Yes/No "$1" && return; sleep 0.1; done; }  # FILE shows the prompt

# ROW NAME ARRANGE INPUT OUTPUT EXIT SHELL ARGUMENT...: ARRANGE (shell code) changes the appliance; the program
# runs with the ARGUMENTs and INPUT's output (shell code) as standard input. It must write exactly OUTPUT, with
# CR LF line ends and the pause prompt as <pause>, exit with EXIT, and leave SHELL in the 64-bit view, written in
# full with its terminator. A run that logs off must end every program of the session, so a second program waits
# at the prompt meanwhile; it may end this one before its pause. ARRANGE stays=1 makes it end nothing; the stand-in
# stands in only while that program holds the session, as a session that starts would run it too.
row() {
    row=$1; local arrange=$2 input=$3 want=$4 code=$5 shell=$6 to=$out waiting= stays=; shift 6
    appliance; eval "$arrange"; rm -f "$out" "$out.2"
    [[ $want == *"$done"* ]] && { sleep 60 2>/dev/null | wine "$exe" s >"$out.2" 2>&1 & waiting=$!; asking "$out.2"; }
    [ -z "$stays" ] || { boot stand-in; local -x WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n"; }
    eval "$input" | timeout 20 wine "$exe" "$@" >"$to" 2>/dev/null; local rc=$?
    [ -z "$stays" ] || { boot wine; kill -0 "$waiting" || fail "the session to go on" ended; waiting=; }
    # A forced log-off ends the session: wait for it to end the waiting program before reading the registry.
    [ -z "$waiting" ] || timeout 20 tail --pid="$waiting" -f /dev/null || fail "the log-off to end a waiting program" "it waits"
    local got=$(head -c 100000 "$out" 2>/dev/null | sed 's/Press any key to continue.*/<pause>/')
    [ -z "$waiting" ] || { want=${want%<pause>} got=${got%<pause>}; }  # the log-off may end the pause
    want=${want//$'\n'/$'\r\n'}
    [ "$rc:${got%$'\n'}:$(shell_value)" = "$code:${want%$'\n'}:$shell" ] || fail "$code:$want:$shell" "$rc:$got:$(shell_value)"
    [ "$shell" = previous.exe ] || [ -z "$shell" ] || [ "$(wine "$build/tests/shell_bytes.exe")" = $(((${#shell} + 1) * 2))$'\r' ] ||
        fail "Shell in $(((${#shell} + 1) * 2)) bytes" "$(wine "$build/tests/shell_bytes.exe")"  # UTF-16, terminated
}

# CONSOLE NAME ARRANGE SCREEN ANSWER...: the same, at a real console (tmux is the terminal; Ctrl+Z is a character
# there, as on Windows, not job control) with DesktopSwitch.exe s. Each ANSWER, tmux keys, or "drop", is given
# once the prompt shows; Enter answers the pause. SCREEN is the console then, without the pause prompt, ending in
# the exit code. The program runs inside raw_console.exe when the name says "raw".
tm() { tmux -L "desktopswitch-$$" "$@"; }
console() {
    row=$1; local arrange=$2 want=$3 asked=0 screen= cmd="'$exe' s"; shift 3
    appliance; eval "$arrange"; tm kill-server 2>/dev/null
    [[ $row == *raw* ]] && cmd="'$build/tests/raw_console.exe' 'Z:${exe//\//\\}' s"
    tm new-session -d -x 2400 -y 50 "stty -isig; wine $cmd; echo rc=\$?; sleep 60"
    for _ in $(seq 300); do
        screen=$(tm capture-pane -p -J | sed '/^$/d; s/Press any key to continue\.* *//')
        [[ $screen == *rc=* ]] && break
        if [ $# -gt 0 ] && [ "$(grep -c Yes/No <<<"$screen")" -gt $asked ]; then
            [ "$1" = drop ] && drop || { tm send-keys $1 Enter; asked=$((asked + 1)); }; shift
        fi
        tm capture-pane -p | grep -q 'Press any key' && tm send-keys Enter
        sleep 0.1
    done
    tm kill-server
    [ "$screen" = "$want" ] || fail "$want" "$screen"
}

# One server for all rows, not one for each; Wine's own wineboot.exe back first, after any run cut short.
[ "$4" = binary ] || { boot wine; wineserver -p; trap 'wineserver -k' EXIT; }
case $4 in
runs)
    row 'a refused log-off' 'local -x WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=d"' 'echo y' \
        "$P$logoff<pause>" 255 "$recorder" s
    row 'only the first character counts' '' "printf 'maybe\n\n y\n1\nNope\n'" "$P$P$P$P$P" 0 previous.exe S
    row 'declined' '' "echo nO" "$P" 0 previous.exe s
    row 'end of input' '' "echo ok" "$P$P$noanswer<pause>" 255 previous.exe s
    row 'no argument' '' 'echo y' "$wrong<pause>" 255 previous.exe
    row 'two arguments' '' 'echo y' "$wrong<pause>" 255 previous.exe s w
    row 'two letters' '' 'echo y' "$wrong<pause>" 255 previous.exe sw
    row 'an empty argument' '' 'echo y' "$wrong<pause>" 255 previous.exe ''
    row 'another letter' '' 'echo y' "$wrong<pause>" 255 previous.exe x
    row 'a letter that is S only to Unicode' '' 'echo y' "$wrong<pause>" 255 previous.exe ſ
    row 'no Winlogon key' drop 'echo y' "$nowin<pause>" 255 '' s
    row 'the software key only in the 64-bit view' "reg delete '$tarn' /reg:32" 'echo y' "$notarn<pause>" 255 \
        previous.exe s
    row 'a marker of another type' 'put NVR 1 /t REG_DWORD' 'echo y' "$nonvr$notnvr<pause>" 255 previous.exe s
    row 'a marker other than 1' 'put NVR 0' 'echo y' "$notnvr<pause>" 255 previous.exe s
    row 'no path' "reg delete '$tarn' /v INSTALL_PATH /reg:32" "echo y" "$P$nopath$failed<pause>" 255 previous.exe s
    row 'an empty path' "put INSTALL_PATH ''" "echo y" "$P$failed<pause>" 255 previous.exe s
    row 'one unit too long' "put INSTALL_PATH 'D$long'" "echo y" "$P$nopath$failed<pause>" 255 previous.exe s
    row 'a refused write shows the value as one line' 'put INSTALL_PATH "$odd"' "{ asking $out; drop; echo y; }" \
        "$P$set_shell$shown$suffix.
$failed<pause>" 255 '' s
    row 'a full output device' 'to=/dev/full' 'echo maybe' '' 255 previous.exe s
    row 'nothing after Ctrl+Z is read' '' "printf 'x\x1ay\n'" "$P$P$noanswer<pause>" 255 previous.exe s
    row 'Ctrl+Z after a long line' '' "printf 'n$xs\x1a\n'" "$P" 0 previous.exe s
    row 'the NVR desktop, from the 32-bit view, expanded' "put INSTALL_PATH '%SystemDrive%\\录像' /t REG_EXPAND_SZ" \
        "echo yes" "$P$done<pause>" 0 'C:\录像'"$suffix" s
    [ "$(shell_value 32)" = wow32.exe ] || fail "the 32-bit Shell untouched" "$(shell_value 32)"
    row 'the Windows desktop, no path read' "stays=1; reg delete '$tarn' /v INSTALL_PATH /reg:32" "echo Y" \
        "$P$done<pause>" 0 explorer.exe W
    row 'the longest path' "stays=1; put INSTALL_PATH '$long'" "echo y" "$P$done<pause>" 0 "$long$suffix" s
    row 'Ctrl+Z ends the input, the line before it answers' stays=1 "printf 'y\x1a\n'" "$P$done<pause>" 0 "$recorder" s
    row='a smashed stack ends the program, whose guard is drawn afresh'  # STATUS_STACK_BUFFER_OVERRUN
    guards=$(for _ in 1 2; do wine "$build/tests/smash.exe"; echo "rc=$?"; done | tr -d '\r' | tr '\n' ' ')
    [[ $guards =~ ^([0-9a-f]+)\ rc=9\ ([0-9a-f]+)\ rc=9\ $ ]] && [ "${BASH_REMATCH[1]}" != "${BASH_REMATCH[2]}" ] &&
        [ "${BASH_REMATCH[1]}" != 0 ] || fail "two different guards, each run ended by its overrun" "$guards" ;;
console)
    console 'look-alikes are asked again' '' "${P}Ｙ"$'\n'"${P}ｎ"$'\n'"${P}nope"$'\nrc=0' Ｙ ｎ nope
    console 'Ctrl+Z alone is no answer' '' "${P}^Z"$'\n'"${noanswer}rc=255" C-z
    # Wine ends the read at Ctrl+C; Windows' default handler may end the program first. Neither changes anything.
    console 'Ctrl+C is no answer' '' "${P}${noanswer}rc=255" C-c
    console 'Ctrl+Z ends the line it ends' '' "${P}y^Z"$'\n'"${done}rc=0" 'y C-z'
    console 'nothing after Ctrl+Z is read' '' "${P}x^Zy"$'\n'"${P}${noanswer}rc=255" 'x C-z y'
    console 'Ctrl+Z after a line longer than one read' '' "${P}n$xs^Z"$'\nrc=0' "n$xs C-z"
    console 'raw: a parent that left no line input, but insert mode' '' \
        "${P}xn"$'\n'"${P}x^Z"$'\n'"${P}${noanswer}mode kept"$'\nrc=255' 'n Left x' 'x C-z'
    console 'a refused write shows its value as itself' "put INSTALL_PATH 'D:\\录像'" \
        "${P}y"$'\n'"${set_shell}D:\\录像$suffix."$'\n'"${failed}rc=255" drop y ;;
binary)  # a hardened, reproducible console program for Vista and later that needs only system DLLs and no elevation
    arch=([32]=i686 [64]=x86_64) pe=([32]='(PE32)' [64]='(PE32+)') manifest=([32]=x86 [64]=amd64)
    info=$(${arch[$3]}-w64-mingw32-objdump -p "$exe"
        grep -ao 'processorArchitecture="[a-z0-9]*"\|level="asInvoker" uiAccess="false"\|supportedOS Id="[^"]*"' "$exe")
    for want in "Magic.*${pe[$3]}" 'Subsystem.*Windows CUI' 'Time/Date.*1970' DYNAMIC_BASE NX_COMPAT \
        $'MajorOSystemVersion\t6' $'MinorOSystemVersion\t0' $'MajorSubsystemVersion\t6' $'MinorSubsystemVersion\t0' \
        'Base Relocation Directory \[.reloc\]' "processorArchitecture=\"${manifest[$3]}\"" \
        'level="asInvoker" uiAccess="false"' SystemFunction036 \
        e2011457-1546-43c5-a5fe-008deee3d3f0; do  # Windows Vista among the supported
        grep -q "$want" <<<"$info" || fail "$want" none
    done
    dlls=$(sed -n 's/.*DLL Name: //p' <<<"$info" | tr a-z A-Z | sort | tr '\n' ' ')
    [ "$dlls" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "system DLLs only" "$dlls"
    grep -q -- -D_FORTIFY_SOURCE=2 "$build/CMakeFiles/desktopswitch_core.dir/flags.make" || fail "fortified calls" none
    [ "$(stat -c %s "$exe")" -lt 1572864 ] || fail "under 1.5 MB" "$(stat -c %s "$exe") bytes" ;;
*) fail "a known scenario" "$4" ;;
esac
echo "PASS $4"
