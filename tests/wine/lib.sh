# The Wine suite's harness, sourced by each table; tests/README.md says how a row reads.
# Usage: TABLE.sh PREFIX BUILD_DIR BITS ROW_BOUND   (ROW_BOUND: the seconds a row may take before it is a hang)
set -u
export WINEPREFIX=$1
readonly bits=$3 bound=$4
# Windows starts no program whose path passes 260 characters, so the build is reached through a short link.
readonly short_dir=$(mktemp -d "${TMPDIR:-/tmp}/build.XXXXXX")
ln -s "$2" "$short_dir/build"
readonly build=$short_dir/build
readonly exe=$build/DesktopSwitch.exe
trap 'rm -rf "$short_dir"' EXIT
readonly out=$WINEPREFIX/row  # the row's files: $out.txt (what it wrote), $out.want, $out.got, $out.problems
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine_env.sh"
route_said=$(wine_route) || exit 2
readonly route=$(route_name "$route_said")
if [ "$bits" = 32 ] && [ "$route" = 64-bit-only ] && [ "$(basename "$0")" != binary.sh ]; then
    echo "SKIP: the 32-bit program runs nowhere here: ${route_said#*$'\t'}."
    exit 77
fi
enter_route "$route" || exit 2
# Starts a program of this build as the process itself, which a Ctrl+C event (SIGINT) must reach: Debian's wine
# starts a 64-bit program through start.exe.
loader=wine
if [ "$bits" = 64 ]; then
    loader=$wine_lib/wine64
fi

# The contract: every line the program writes, spelled out again on purpose.
ask=(
    'This will logout your current session after switching the desktop.'
    'Please save all opened documents before next operations.'
    'Are you sure? (Yes/No)'
)
wrong_parameters='Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).'
no_winlogon_key='Failed to open WinInfo registry key.'
no_software_key='Failed to open TARN registry key.'
not_an_appliance='This is not a Telvora NVR.'
unread_marker='Failed to get value. Subkey: , value: NVR.'
unread_path='Failed to get value. Subkey: , value: INSTALL_PATH.'
switch_failed='Failed to switch desktop.'
no_answer='No answer was given. The desktop was not switched.'
logoff_refused='Failed to log off current user. Please manually log off and log on again.'
switched='The operation is completed successfully.'
# The command interpreter's pause prompt, in Windows' language on Windows: a row names it by this line.
pause='<pause>'
program='\Server\Utility\Stationkeeper\Kestrelwarden.exe'

# given: what a row arranges, from its flags, each variable for the row alone.
given() {
    expected=()  # the lines the row lists, one an element
    arguments=()  # the program's arguments, after --
    input='y\n'  # what the program reads, in printf's escapes (\x1a is Ctrl+Z); --input=
    shell=previous.exe  # "Shell" of the 64-bit view afterwards, as the appliance has it; --shell=
    output=$out.txt  # where the program writes; --out=
    logoff=  # --logoff=: ends-session, ends-nothing or refused; empty where no log-off is asked
    at_prompt=  # the step once the program asks: drop_winlogon_key (--drop-at-prompt) or interrupt (--interrupt)
    raw=  # 1 with --raw: the program starts from raw_console.exe, which takes the console's modes away
    dlls=$WINEDLLOVERRIDES  # for the program
    holder=  # with ends-session, the process of a second program waiting at its prompt
    deadline=$((SECONDS + bound))  # when the row has taken its bound
    rm -f "$out".*
    appliance
    while [ $# -gt 0 ] && [[ $1 != --* ]]; do
        expected+=("$1")
        shift
    done
    while [ $# -gt 0 ]; do
        case $1 in
        --marker=*) software_value NVR "${1#*=}" ;;
        --dword-marker) software_value NVR 1 /t REG_DWORD ;;
        --path=*) software_value INSTALL_PATH "${1#*=}" ;;
        --expanding-path=*) software_value INSTALL_PATH "${1#*=}" /t REG_EXPAND_SZ ;;
        --no-path) quietly wine reg delete "$tarn" /v INSTALL_PATH /f /reg:32 ;;
        --no-software-key) quietly wine reg delete "$tarn" /f /reg:32 ;;  # the 64-bit view's decoy stays
        --no-winlogon-key) drop_winlogon_key ;;
        --drop-at-prompt) at_prompt=drop_winlogon_key ;;
        --interrupt) at_prompt=interrupt ;;
        --raw) raw=1 ;;
        --logoff=*) logoff=${1#*=} ;;
        --input=*) input=${1#*=} ;;
        --out=*) output=${1#*=} ;;
        --shell=*) shell=${1#*=} ;;
        --) shift; arguments=("$@"); break ;;
        *) echo "unknown flag $1"; exit 2 ;;
        esac
        shift
    done
    arrange_logoff
}

quietly() { "$@" >/dev/null 2>&1; }
software_value() { quietly wine reg add "$tarn" /v "$1" /d "$2" "${@:3}" /f /reg:32; }  # NAME DATA [/t TYPE]
drop_winlogon_key() { quietly wine reg delete "$winlogon" /f /reg:64; }
interrupt() { kill -INT "$(cat "$out.pid")"; }  # a Ctrl+C event: Wine turns SIGINT into one
problem() { echo "$*" >>"$out.problems"; }  # a file, so that a pipeline's side can report too
seconds_left() { echo $((deadline > SECONDS ? deadline - SECONDS : 1)); }

# WHAT COMMAND...: waits until COMMAND succeeds; past the row's deadline, reports that WHAT never came, as a hang.
within() {
    until "${@:2}"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            problem "hang: $1 within $bound s"
            return 1
        fi
        sleep 0.1
    done
}

# The appliance: the software key in the 32-bit view with a decoy in the 64-bit one, and "Shell" in each view.
appliance() {
    local machine='HKEY_LOCAL_MACHINE\SOFTWARE'
    local software='Telvora, Inc.\TARN'
    local logon='Microsoft\Windows NT\CurrentVersion\Winlogon'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' \
        "[-$machine\\Telvora, Inc.]" \
        "[$machine\\$software]" '"NVR"="1"' '"INSTALL_PATH"="X:\\64-bit view"' \
        "[$machine\\$logon]" '"Shell"="previous.exe"' \
        "[$machine\\Wow6432Node\\$software]" '"NVR"="1"' '"INSTALL_PATH"="D:\\Recorder"' \
        "[$machine\\Wow6432Node\\$logon]" '"Shell"="wow32.exe"' | iconv -t UTF-16 >"$WINEPREFIX/appliance.reg"
    quietly wine reg import "Z:${WINEPREFIX//\//\\}\\appliance.reg" /reg:64
}

# Wine logs off by running wineboot.exe --kill. In its place ends_nothing.exe, loaded as native, accepts the
# log-off and ends nothing. New files each time: a running one keeps its own.
# WHAT: nothing or session.
log_off_ends() {
    local booter
    for booter in "$WINEPREFIX"/drive_c/windows/{system32,syswow64}/wineboot.exe; do
        [ -e "$booter" ] || continue  # a 64-bit-only prefix has no syswow64
        if [ ! -e "$booter.session" ]; then
            cp "$booter" "$booter.session"
            cp "$build/tests/ends_nothing.exe" "$booter.nothing"
        fi
        cp --remove-destination "$booter.$1" "$booter"
    done
}

arrange_logoff() {
    case $logoff in
    refused) dlls+=";wineboot.exe=d" ;;
    ends-nothing) log_off_ends nothing; dlls+=";wineboot.exe=n" ;;
    ends-session)  # a second DesktopSwitch.exe at its prompt, on input held open here: a real log-off must end it
        mkfifo "$out.hold"
        wine "$exe" s <"$out.hold" >"$out.held" 2>&1 &
        holder=$!
        exec 7>"$out.hold"
        within "the second program's prompt" grep -qs Yes/No "$out.held" ;;
    esac
}
# After the program: the session it logged off has ended, or Wine's own log-off is back.
settle_logoff() {
    case $logoff in
    ends-session)
        within "the end of the second program" eval '! kill -0 "$holder" 2>/dev/null'
        exec 7>&- ;;
    ends-nothing) log_off_ends session ;;
    esac
}

at_first_prompt() {
    if [ -n "$at_prompt" ]; then
        within "the prompt" grep -qs Yes/No "$out.txt" || return
        "$at_prompt"
    fi
}

# FILE CR: what the program wrote, a line each, with its pause as the line $pause. With CR=1 every line must end in
# CR LF, and a line without its CR is marked. A log-off that ends the session may end the program before its pause
# or during it, so there the pause is left out: those rows list none.
transcript() {
    awk -v crlf="$2" '
        function line(text) {
            if (crlf && !sub(/\r$/, "", text)) text = text " [no CR]"
            print text
        }
        # The pause writes no line end of its own: on a console what follows it shares its line.
        match($0, /Press any key to continue\.* */) {
            print "<pause>"
            $0 = substr($0, RSTART + RLENGTH)
            if ($0 == "") next
        }
        { line($0) }' "$1" 2>/dev/null >"$out.got"
    if [ "$logoff" = ends-session ]; then
        sed -i '/^<pause>$/d' "$out.got"
    fi
}

compare() {  # the listed lines against $out.got, as a diff
    printf '%s\n' "${expected[@]}" >"$out.want"
    diff --label expected --label written "$out.want" "$out.got" | cat -v >>"$out.problems"
}

# "Shell" of the 64-bit view as the row expects it, and the 32-bit view's as the appliance has it. The calls table
# proves the size written.
check_shell() {
    local got
    got="$(shell_value 64) $(shell_value 32)"
    [ "$got" = "$shell wow32.exe" ] || problem "Shell: expected [$shell wow32.exe], got [$got]"
}

rows=0
failed=0
# NAME: ok, or not ok with the problems. A hang, or any failure with E2E_FAIL_FAST set, ends the table: the rows after
# a hang would wait the same way.
report() {
    rows=$((rows + 1))
    if [ ! -s "$out.problems" ]; then
        echo "ok $rows - $1"
        return
    fi
    echo "not ok $rows - $1"
    sed 's/^/    /' "$out.problems"
    failed=$((failed + 1))
    if [ -n "${E2E_FAIL_FAST:-}" ] || grep -q '^hang: ' "$out.problems"; then
        finish
    fi
}
finish() {
    echo "$((rows - failed)) passed, $failed failed"
    exit $((failed > 0))
}

# [NAME=VALUE...]: DesktopSwitch.exe with the row's arguments, input and DLLs, writing to $output, within the row's
# bound; its exit code is the function's.
run_program() {
    { at_first_prompt; printf '%b' "$input"; } |
        env WINEDLLOVERRIDES="$dlls" "$@" timeout "$(seconds_left)" wine "$exe" "${arguments[@]}" >"$output"
}

# run NAME EXIT_CODE LINE... [FLAG...] [-- ARGUMENT...]: DesktopSwitch.exe, its input a pipe, writes the LINEs with
# CR LF line ends, exits with EXIT_CODE and leaves "Shell" as --shell says.
run() {
    local name=$1 code=$2 rc
    shift 2
    given "$@"
    run_program 2>/dev/null
    rc=$?
    if [ "$rc" = 124 ]; then
        problem "hang: the program still ran after $bound s"
    elif [ "$rc" != "$code" ]; then
        problem "exit code: expected $code, got $rc"
    fi
    settle_logoff
    if [ "$output" = "$out.txt" ]; then
        transcript "$out.txt" 1
        compare
    fi
    check_shell
    report "$name"
}

# console NAME LINE... [FLAG...] -- KEYS...: DesktopSwitch.exe s on a real console in tmux (stty -isig: Ctrl+Z and
# Ctrl+C are keys, as on Windows). Each KEYS, then Enter, answers one prompt; Enter ends the pause. The LINEs are the
# screen as the user sees it, the exit code (rc=N) and what was written to standard error.
console() {
    local name=$1 answered=0 asked keys paused= screen ready=Yes/No tmux_dir
    shift
    given "$@"
    local started=("$loader" "$exe" s)
    if [ -n "$raw" ]; then
        started=("$loader" "$build/tests/raw_console.exe" "Z:${exe//\//\\}" s)
        ready='^read'  # raw_console.exe's report, once the program reads
    fi
    # tmux's socket has a path of at most 107 bytes, so it lives in a short folder of its own.
    tmux_dir=$(mktemp -d "${TMPDIR:-/tmp}/tmux.XXXXXX")
    tmux -S "$tmux_dir/socket" new-session -d -x 2400 -y 50 bash -c 'stty -isig
        (echo $BASHPID >"$0.pid"; exec "$@") 2>"$0.err"
        echo rc=$?
        sleep 600' "$out" "${started[@]}"
    until screen=$(tmux -S "$tmux_dir/socket" capture-pane -p -J | sed '/^$/d'); [[ $screen == *rc=* ]]; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            problem "hang: the program still ran after $bound s"
            break
        fi
        asked=$(cat - "$out.err" <<<"$screen" | grep -c "$ready")
        if [ "$answered" -lt ${#arguments[@]} ] && [ "$asked" -gt "$answered" ]; then
            if [ "$answered" = 0 ] && [ -n "$at_prompt" ]; then
                "$at_prompt"
            fi
            read -ra keys <<<"${arguments[$answered]}"
            tmux -S "$tmux_dir/socket" send-keys "${keys[@]}" Enter
            answered=$((answered + 1))
        elif [ -z "$paused" ] && [[ $screen == *'Press any key'* ]] && [ "$logoff" != ends-session ]; then
            if [ "$at_prompt" = interrupt ]; then
                interrupt
            fi
            tmux -S "$tmux_dir/socket" send-keys Enter
            paused=1
        fi
        sleep 0.1
    done
    tmux -S "$tmux_dir/socket" kill-server
    rm -rf "$tmux_dir"
    settle_logoff
    printf '%s\n' "$screen" >"$out.screen"
    tr -d '\r' <"$out.err" >>"$out.screen"
    transcript "$out.screen" 0
    compare
    report "$name"
}

# Every table begins with Wine's own log-off and one Wine session, ended with the table.
start_table() {
    log_off_ends session
    wineserver -p
    trap 'wineserver -k; rm -rf "$short_dir"' EXIT
}
