# shellcheck shell=bash
# The Wine suite's harness, sourced by each table (TABLE.sh PREFIX BUILD_DIR BITS ROW_BOUND TABLE_BOUND), in call
# order; tests/README.md says how a row reads, and lists the flags.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/start.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine_env.sh"
readonly bits=$3 row_bound=$4 table_deadline=$((SECONDS + $5))
prefix=$(realpath -m -- "$1") || exit 2
# A row's files: $out.txt what the program wrote, .want and .got the lines listed and written, .problems, a console
# row's .screen, .err, .pid, a calls row's .trace, .calls, the second program's .hold, .held, .input, and .reg.
readonly out=$prefix/row
source "$(dirname "${BASH_SOURCE[0]}")/../rows.sh"
# Windows starts no program, nor in a working folder, whose path passes 260 characters: work beside a link.
own_run table || set_up_failed "the table's folder"
export WINEPREFIX=$prefix
ln -s "$(realpath -- "$2")" "$run_folder/build" || set_up_failed "the link to the build"
cd "$run_folder" || set_up_failed "the table's folder"
readonly build=$run_folder/build exe=$run_folder/build/DesktopSwitch.exe socket=$run_folder/tmux
choose_route || set_up_failed "the route"
if [ "$bits" = 32 ] && [ "$route" = 64-bit-only ] && [ "$(basename "$0")" != binary.sh ]; then
    echo "SKIP: the 32-bit program runs nowhere here: $route_reason."
    exit 77
fi
enter_route "$route" || set_up_failed "Wine's loaders for the $route route"
# The program as the process itself, which SIGINT must reach: Debian's wine starts a 64-bit one through start.exe.
declare -A loaders=([32]=wine [64]=$wine_lib/wine64)
readonly loader=${loaders[$bits]}

# The contract: every line the program writes, spelled out again on purpose.
# shellcheck disable=SC2034  # used by the tables that source this file
readonly ask=(
    'This will logout your current session after switching the desktop.'
    'Please save all opened documents before next operations.'
    'Are you sure? (Yes/No)'
)
# shellcheck disable=SC2034  # used by the tables that source this file
readonly wrong_parameters='Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).' \
    no_winlogon_key='Failed to open WinInfo registry key.' \
    no_software_key='Failed to open TARN registry key.' \
    not_an_appliance='This is not a Telvora NVR.' \
    unread_marker='Failed to get value. Subkey: , value: NVR.' \
    unread_path='Failed to get value. Subkey: , value: INSTALL_PATH.' \
    switch_failed='Failed to switch desktop.' \
    no_answer='No answer was given. The desktop was not switched.' \
    logoff_refused='Failed to log off current user. Please manually log off and log on again.' \
    switched='The operation is completed successfully.' \
    program='\Server\Utility\Stationkeeper\Kestrelwarden.exe'
# The command interpreter's pause prompt, in Windows' language on Windows: a row lists it as this line.
readonly pause='<pause>'

# A table that runs the program begins with Wine's own log-off, its stand-in beside it, and one Wine session.
start_table() {
    local booter
    for booter in "$WINEPREFIX"/drive_c/windows/{system32,syswow64}/wineboot.exe; do
        if [ -e "$booter" ] && [ ! -e "$booter.session" ]; then  # a 64-bit-only prefix has no syswow64
            cp "$booter" "$booter.session" || set_up_failed "a copy of Wine's log-off"
            cp "$build/tests/ends_nothing.exe" "$booter.nothing" || set_up_failed "a copy of the log-off's stand-in"
        fi
    done
    log_off_ends session || set_up_failed "Wine's own log-off"
    wineserver -p || set_up_failed "wineserver -p"
}

# ---- The row kinds

# run NAME EXIT_CODE LINE... [FLAG...] [-- ARGUMENT...]: DesktopSwitch.exe, its input a pipe, writes the LINEs with
# CR LF line ends, exits with EXIT_CODE and leaves "Shell" as --shell says.
run() {
    local name=$1 code=$2 rc
    shift 2
    given run "$@" || return
    run_program 2>"$out.err"
    rc=$?
    if [ "$rc" = 124 ]; then
        problem "hang: the program still ran after $row_bound s"
    fi
    same "exit code" "$code" "$rc"
    settle_logoff
    if [ "$output" = "$out.txt" ]; then
        transcript "$out.txt" 1
    fi
    check_shell
    wine_said
    report "$name"
}

# console NAME LINE... [FLAG...] --keys KEYS...: DesktopSwitch.exe s in tmux, Ctrl+Z and Ctrl+C keys (stty -isig);
# KEYS and Enter answer each prompt, Enter the pause; the LINEs are the screen, rc=N and standard error.
console() {
    local name=$1 answered=0 keys program_started ready=Yes/No pane
    shift
    given console "$@" || return
    program_started=("$loader" "$exe" s)
    if [ -n "$raw" ]; then
        program_started=("$loader" "$build/tests/raw_console.exe" "Z:${exe//\//\\}" s)
        ready='^read'  # raw_console.exe's report, once the program reads
    fi
    # shellcheck disable=SC2016  # the inner shell's own variables
    if ! tmux -f /dev/null -S "$socket" new-session -d -x 2400 -y 50 bash -c 'stty -isig
        (echo $BASHPID >"$0.pid"; exec "$@") 2>"$0.err"
        echo rc=$?
        sleep 600' "$out" "${program_started[@]}" || ! pane=$(tmux -S "$socket" display -p '#{pane_tty}'); then
        problem "set-up: tmux could not start the program on a console"
        report "$name"
        return
    fi
    for keys in "${arguments[@]}"; do
        answered=$((answered + 1))
        within "prompt $answered" asked "$ready" "$answered" || break
        if [ "$answered" = 1 ]; then
            at_first_prompt
        fi
        read -ra keys <<<"$keys"
        tmux -S "$socket" send-keys "${keys[@]}" Enter
    done
    if [ "$logoff" != ends-session ] && within "the pause or the end" shown 'Press any key\|rc=[0-9]' &&
        shown 'Press any key'; then
        at_pause
        tmux -S "$socket" send-keys Enter
    fi
    within "the program's end" shown 'rc=[0-9]'
    screen >"$out.screen"
    tmux -S "$socket" kill-server
    settle_logoff
    tr -d '\r' <"$out.err" >>"$out.screen"
    transcript "$out.screen" 0
    report "$name"
}

# A failed row shows what Wine wrote to standard error, if anything: a fault of Wine's own is told apart so.
wine_said() {
    if [ -s "$out.problems" ] && [ -s "$out.err" ]; then
        problem "Wine said: $(cat -v "$out.err")"
    fi
}

# ---- A row's set-up

# KIND ARGUMENT...: what a row of that kind arranges, from its lines and flags; a flag it cannot honour fails it.
given() {
    local kind=$1
    local -A arranged_by=()
    shift
    # The lines listed, the program's arguments (or keys), and what each flag sets, as tests/README.md lists them.
    expected=() arguments=() marker='"NVR"="1"' path='"INSTALL_PATH"="D:\\Recorder"' software_key=1 winlogon_key=1
    drop_at_prompt='' logoff='' input='y\n' held='' output=$out.txt shell=previous.exe interrupt='' raw=''
    debug=$WINEDEBUG dlls=$WINEDLLOVERRIDES  # the program's Wine channels (a calls row's trace) and DLLs
    new_row
    while [ $# -gt 0 ] && [[ $1 != --* ]]; do
        expected+=("$1")
        shift
    done
    while [ $# -gt 0 ]; do
        case $kind:$1 in
        *:--marker=*) takes "$1" marker "$(reg_line NVR "${1#*=}")" ;;
        *:--dword-marker) takes "$1" marker '"NVR"=dword:00000001' ;;
        *:--path=*) takes "$1" path "$(reg_line INSTALL_PATH "${1#*=}")" ;;
        *:--expanding-path=*) takes "$1" path "$(reg_line INSTALL_PATH "${1#*=}" hex)" ;;
        *:--no-path) takes "$1" path '' ;;
        *:--no-software-key) takes "$1" software_key '' ;;
        *:--no-winlogon-key) takes "$1" winlogon_key '' ;;
        *:--drop-at-prompt) takes "$1" drop_at_prompt 1 ;;
        *:--logoff=refused | *:--logoff=ends-nothing | *:--logoff=ends-session) takes "$1" logoff "${1#*=}" ;;
        *:--logoff=*) problem "an unknown log-off: $1" ;;
        run:--input=* | calls:--input=*) takes "$1" input "${1#*=}" ;;
        run:--held-input) takes "$1" held 1 input ;;
        run:--out=*) takes "$1" output "${1#*=}" ;;
        run:--shell=*) takes "$1" shell "${1#*=}" ;;
        console:--interrupt) takes "$1" interrupt 1 ;;
        console:--raw) takes "$1" raw 1 ;;
        run:-- | calls:-- | console:--keys)
            shift
            arguments=("$@")
            break ;;
        *) problem "a $kind row takes no flag $1" ;;
        esac
        shift
    done
    cannot_honour "${arranged_by[software_key]:-}" "${arranged_by[marker]:-}" "${arranged_by[path]:-}"
    cannot_honour "${held:+--held-input}" "${arranged_by[drop_at_prompt]:-}" "${arranged_by[logoff]:-}"
    cannot_honour "${arranged_by[output]:-}" "${expected[*]:+the lines listed}"
    if [ -s "$out.problems" ] || ! arrange_registry || ! arrange_logoff; then
        report "$name"
        return 1
    fi
}
# FLAG VARIABLE VALUE [WHAT]: FLAG sets VARIABLE, which arranges WHAT (VARIABLE unless given), as no other flag may.
takes() {
    local what=${4:-$2}
    if [ -n "${arranged_by[$what]:-}" ]; then
        problem "$1 and ${arranged_by[$what]} both arrange the $what"
    fi
    arranged_by[$what]=$1
    printf -v "$2" '%s' "$3"
}
# FLAG OTHER...: FLAG, where given, leaves nothing for any OTHER given to act on.
cannot_honour() {
    local other
    for other in "${@:2}"; do
        if [ -n "$1" ] && [ -n "$other" ]; then
            problem "$1 leaves nothing for $other to act on"
        fi
    done
}
# WHAT COMMAND...: a step of the row's set-up; when it fails, so does the row, as a set-up failure.
arranged() {
    "${@:2}" && return
    problem "set-up: $1"
    return 1
}

# The appliance, with the row's values, in one reg import; the software key, which the program reads, read back.
arrange_registry() {
    local machine='HKEY_LOCAL_MACHINE\SOFTWARE' software=(${path:+"$path"} "$marker") imported=()
    local logon='Microsoft\Windows NT\CurrentVersion\Winlogon'
    if [ -n "$software_key" ]; then
        imported=("[$appliance_key]" "${software[@]}")
    fi
    arranged "reg import of the appliance" import_reg "$out" "[-$machine\\Telvora, Inc.]" \
        "[-$machine\\Wow6432Node\\Telvora, Inc.]" "${imported[@]}" "[$machine\\Telvora, Inc.\\TARN]" '"NVR"="1"' \
        '"INSTALL_PATH"="X:\\64-bit view"' "[$machine\\$logon]" '"Shell"="previous.exe"' \
        "[$machine\\Wow6432Node\\$logon]" '"Shell"="wow32.exe"' || return
    if [ -z "$software_key" ]; then
        arranged "the software key, deleted" key_absent "$tarn" 32 || return
    else
        arranged "the software key, read back" key_holds "$tarn" 32 "${software[@]}" || return
    fi
    if [ -z "$winlogon_key" ]; then
        drop_winlogon_key
    fi
}
# KEY VIEW LINE...: the key, in that registry view, holds exactly the values LINE..., as reg export writes them, in
# any order.
key_holds() {
    [ "$(exported_key "$1" "$2" | sed -e 1,3d -e "/^$/d" | sort)" = "$(printf '%s\n' "${@:3}" | sort)" ]
}
# KEY VIEW: there is no such key in that registry view.
key_absent() {
    local status=0
    exported_key "$1" "$2" >/dev/null || status=$?
    [ "$status" = 1 ]
}
# reg import deletes no Winlogon key.
drop_winlogon_key() {
    wine reg delete "$winlogon" /f /reg:64 >/dev/null 2>&1
    arranged "the Winlogon key, deleted" key_absent "$winlogon" 64
}

# A held input is a FIFO opened for reading and writing: it never ends and gives nothing. Wine's own log-off must end
# a second program, $holder, held at its prompt so.
arrange_logoff() {
    if [ -n "$held" ]; then
        arranged "the held input" mkfifo "$out.input" || return
    fi
    case $logoff in
    refused) dlls+=";wineboot.exe=d" ;;
    ends-nothing)
        log_off_ends nothing || return
        dlls+=";wineboot.exe=n" ;;
    ends-session)
        arranged "the second program's input" mkfifo "$out.hold" || return
        wine "$exe" s <>"$out.hold" >"$out.held" 2>&1 &
        holder=$!
        within "the second program's prompt" grep -qs Yes/No "$out.held" ;;
    esac
}
# WHAT: nothing or session. Wine logs off by running wineboot.exe --kill; in its place ends_nothing.exe, loaded as
# native, accepts the log-off and ends nothing. New files each time: a running one keeps its own.
log_off_ends() {
    local booter
    for booter in "$WINEPREFIX"/drive_c/windows/{system32,syswow64}/wineboot.exe; do
        if [ -e "$booter.$1" ]; then
            arranged "the log-off that ends $1" cp --remove-destination "$booter.$1" "$booter" || return
        fi
    done
}

# ---- A row's steps, as they are called

# DesktopSwitch.exe as the row arranged it, within the row's bound.
run_program() {
    if [ -n "$held" ]; then
        program <>"$out.input"
        return
    fi
    { at_first_prompt "$out.txt"; printf '%b' "$input"; } | program
}
program() {
    env WINEDLLOVERRIDES="$dlls" WINEDEBUG="$debug" timeout "$(seconds_left)" wine "$exe" "${arguments[@]}" \
        >"$output"
}
seconds_left() { echo $((deadline > SECONDS ? deadline - SECONDS : 1)); }

# [FILE]: what the row does at its first prompt; with FILE, once the program has asked there.
at_first_prompt() {
    if [ -n "$drop_at_prompt" ] && [ $# -gt 0 ]; then
        within "the prompt" grep -qs Yes/No "$1" || return
    fi
    if [ -n "$drop_at_prompt" ]; then
        drop_winlogon_key
    fi
    at_pause
}
at_pause() {
    if [ -n "$interrupt" ]; then
        kill -INT "$(cat "$out.pid")"  # a Ctrl+C event: Wine turns SIGINT into one
    fi
}
screen() { tmux -S "$socket" capture-pane -p -J | sed '/^$/d'; }
shown() { screen | grep -q "$1"; }  # PATTERN
# PATTERN COUNT: the program has asked COUNT times, and reads. Wine's console takes the terminal raw only as it
# reads: a key typed before would pass through the terminal's line discipline, Enter arriving as a line feed.
asked() {
    [ "$(screen | cat - "$out.err" | grep -c "$1")" -ge "$2" ] || return
    stty -a <"$pane" | grep -q -- ' -icanon'
}

# After the program: the session it logged off has ended, or Wine's own log-off is back.
settle_logoff() {
    case $logoff in
    ends-session) within "the end of the second program" test ! -e "/proc/$holder" ;;
    ends-nothing) log_off_ends session ;;
    esac
}

# FILE CR: what the program wrote, a line each and its pause as $pause, against the lines listed; with CR=1 a line
# without its CR is marked. A log-off that ends the session may end the program at its pause: those rows list none.
transcript() {
    awk -v crlf="$2" -v pause="$pause" -v logoff="$logoff" '
        # The pause writes no line end of its own: on a console what follows it shares its line.
        match($0, /Press any key to continue\.* */) {
            if (logoff != "ends-session") print pause
            $0 = substr($0, RSTART + RLENGTH)
            if ($0 == "") next
        }
        crlf && !sub(/\r$/, "") { $0 = $0 " [no CR]" }
        { print }' "$1" 2>/dev/null >"$out.got"
    printf '%s\n' "${expected[@]}" >"$out.want"
    diff --label expected --label written "$out.want" "$out.got" | cat -v >>"$out.problems"
}

# "Shell" of the 64-bit view as the row expects it, and the 32-bit view's as the appliance has it.
check_shell() {
    local got64='' got32=''
    if ! got64=$(shell_value 64 2>&1) || ! got32=$(shell_value 32 2>&1); then
        problem "set-up: Shell could not be read: $got64$got32"
        return
    fi
    same "Shell" "$shell wow32.exe" "$got64 $got32"
}
