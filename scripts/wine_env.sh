# What the scripts share: the route to Wine's 32-bit loader, the Wine set-up, and a run's ownership of what it
# starts. Sourcing this file only defines functions and read-only constants: it probes nothing, builds nothing and
# exports nothing.
# Sourced by: scripts/test.sh, scripts/demo.sh, scripts/bench.sh, tests/wine/lib.sh and tests/release.sh.
# The routes, native, emulated and 64-bit-only, are README.md's ("Which machines run what").

readonly tarn='HKLM\SOFTWARE\Telvora, Inc.\TARN'
readonly winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
readonly wine_lib=/usr/lib/wine
# qemu-i386's guest address space. qemu finds free guest space page by page, and Wine's 32-bit loader reserves its
# address space in tens of thousands of calls: a start took 50 s with the default 4 GiB and 3 s with this; with
# 0x80000000 every 32-bit start fails.
readonly qemu_guest_space=0x81000000

# NAME: prints 1 when the switch NAME is 1, nothing when it is empty or unset; refuses any other value.
switch_value() {
    local value=${!1:-}
    if [ -n "$value" ] && [ "$value" != 1 ]; then
        echo "$1 is 1 to take its route or empty not to, not \"$value\"." >&2
        return 2
    fi
    echo "$value"
}

kernel_runs_32bit() { "$wine_lib/wine" --version >/dev/null 2>&1; }
# Started exactly as the loader folder starts it, less WINELOADERNOEXEC, which would start a whole Wine session.
qemu_runs_32bit() { qemu-i386 -R "$qemu_guest_space" "$wine_lib/wine" --version >/dev/null 2>&1; }

# ROOT, as pwd -P gives it: nothing where the build takes the checkout's path; otherwise, before anything is built,
# one line naming the first character it cannot take, or the path's length, and a failure. CMake, make and the
# presets read " # : ; < > \ |, a tab and a line end as their own syntax; [ ] and ? reach make's shell unquoted, as
# patterns that may match another checkout; $( and ${ expand; Wine makes no prefix under a path holding *, nor one
# whose path passes 950 bytes (seen: 950 made, 975 not), and a table's prefix is 29 bytes below the checkout.
refuse_checkout_path() {
    local LC_ALL=C refused=$'"#*:;<>?[]\\|\t\n' at character
    for ((at = 0; at < ${#1}; at++)); do
        character=${1:at:1}
        if [[ ${1:at:2} == '$(' || ${1:at:2} == '${' ]]; then
            character=${1:at:2}
        fi
        if [[ $refused == *"$character"* || ${#character} == 2 ]]; then
            character=${character/$'\t'/a tab}
            echo "The build cannot take ${character/$'\n'/a line end} in the checkout's path, so nothing was built."
            return 1
        fi
    done
    if [ "${#1}" -gt 900 ]; then
        echo "The checkout path is ${#1} bytes long, and the build takes at most 900, so nothing was built."
        return 1
    fi
}

# PRESET: configured from the project's root with the generator the presets pin, afresh where the build tree was
# made by another (two generators link different bytes) or for a checkout that has since moved.
configure_preset() {
    local cache=build/$1/CMakeCache.txt fresh=
    if [ -e "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles' "$cache"; then
        fresh=--fresh
    fi
    if [ -e "$cache" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$(pwd -P)" "$cache"; then
        fresh=--fresh
    fi
    cmake --preset "$1" $fresh
}

# Prints the route and why, separated by a tab; fails, with a line, on a switch that is neither 1 nor empty.
wine_route() {
    local only64 emulate why
    only64=$(switch_value DESKTOPSWITCH_64BIT_ONLY) || return
    emulate=$(switch_value DESKTOPSWITCH_EMULATE_32BIT) || return
    if [ "$only64" = 1 ]; then
        printf '64-bit-only\tDESKTOPSWITCH_64BIT_ONLY is 1\n'
        return
    fi
    if [ "$emulate" != 1 ] && kernel_runs_32bit; then
        printf 'native\tthis machine executes 32-bit x86 code\n'
        return
    fi
    why="this machine cannot execute 32-bit x86 code"
    if [ "$emulate" = 1 ]; then
        why="DESKTOPSWITCH_EMULATE_32BIT is 1"
    fi
    if qemu_runs_32bit; then
        printf 'emulated\t%s, so qemu-i386 emulates Wine'"'"'s 32-bit loader\n' "$why"
    else
        printf '64-bit-only\t%s, and qemu-i386 cannot emulate it\n' "$why"
    fi
}

# SAID, as wine_route prints it: the route's name alone; the line that says the route and why.
route_name() { echo "${1%%$'\t'*}"; }
route_line() { echo "Wine route: ${1%%$'\t'*}, as ${1#*$'\t'}."; }

# The quiet Wine set-up every caller wants; what a user exported must not steer it, and no shell the run starts
# reads the user's start-up files. Exports into the caller.
use_wine_settings() {
    unset CDPATH WINEARCH WINELOADER BASH_ENV ENV
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
}

# ROUTE: exports what Wine needs for that route (PATH and WINELOADER), with the settings above.
enter_route() {
    use_wine_settings
    "enter_${1//-/_}"
}
enter_native() { :; }
enter_emulated() {
    local folder
    folder=$(loader_folder emulated) || return
    export PATH=$folder/bin:$PATH WINELOADER=$folder/lib/wine/wine64
}
enter_64_bit_only() {
    local folder
    folder=$(loader_folder 64-bit-only) || return
    export PATH=$folder/bin:$PATH WINELOADER=$wine_lib/wine64
}

# A folder of loaders for a route other than Debian's own, on the PATH as "wine" for every program and its
# children. Wine starts a process of the other bitness by running "wine" or "wine64" from the folder of the running
# loader, found through /proc/self/exe, and finds its libraries and data at fixed places beside it: so the loaders
# are copies (a link would lead Wine back to /usr/lib/wine) and the rest are links. Named after what it copies, so
# another Wine or qemu never shares one; checked before every use, and built aside and renamed into place under a
# lock, so that a run interrupted while building leaves only a leftover, pruned by the next.
# KIND (emulated or 64-bit-only): prints the folder.
loader_folder() {
    local kind=$1 root sum folder
    root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd -P) || return
    if [ "$kind" = emulated ]; then
        sum=$(cat "$wine_lib/wine64" "$wine_lib/wine" "$(command -v qemu-i386)" | cksum | tr ' ' -) || return
    else
        sum=$(cksum <"$wine_lib/wine64" | tr ' ' -) || return
    fi
    folder=$root/build/wine-loaders/$kind-$sum
    mkdir -p "$root/build/wine-loaders" || return
    (
        flock 9 || exit
        find "$root/build/wine-loaders" -mindepth 1 -maxdepth 1 -name '*.??????' -exec rm -rf {} + || exit
        if loader_folder_sound "$folder" "$kind"; then
            exit 0
        fi
        echo "Building the Wine loader folder $folder." >&2
        build_loader_folder "$folder" "$kind"
    ) 9>"$root/build/wine-loaders/.lock" || return
    echo "$folder"
}

# FOLDER KIND: whether the folder holds all it must, its copies whole, and its loaders start.
loader_folder_sound() {
    local folder=$1 kind=$2 link
    [ -x "$folder/bin/wine" ] || return
    if [ "$kind" = 64-bit-only ]; then
        "$folder/bin/wine" --version >/dev/null 2>&1
        return
    fi
    cmp -s "$wine_lib/wine64" "$folder/lib/wine/wine64" || return
    cmp -s "$wine_lib/wine" "$folder/lib/wine/wine32" || return
    [ "$(cat "$folder/lib/wine/wine" 2>/dev/null)" = "$(emulated_loader_script)" ] || return
    for link in lib/wine/wineserver share/wine lib/x86_64-linux-gnu lib/i386-linux-gnu; do
        [ -e "$folder/$link" ] || return
    done
    "$folder/bin/wine" --version >/dev/null 2>&1 || return
    qemu-i386 -R "$qemu_guest_space" "$folder/lib/wine/wine32" --version >/dev/null 2>&1
}

# What Wine runs as its 32-bit loader on the emulated route. -0 names the guest after this script, so that the
# 32-bit loader's own 32-bit children come back here.
emulated_loader_script() {
    printf '#!/bin/sh\n'
    printf 'WINELOADERNOEXEC=1 exec qemu-i386 -R %s -0 "$0" "${0%%/wine}/wine32" "$@"\n' "$qemu_guest_space"
}

# FOLDER KIND: builds the folder beside its final name, then puts it in place of whatever stood there.
build_loader_folder() {
    local folder=$1 kind=$2 new old
    new=$(mktemp -d "$folder.XXXXXX") || return
    mkdir "$new/bin" || return
    # A script, not a link: the loader re-executes itself by the name it was started as.
    if [ "$kind" = emulated ]; then
        mkdir -p "$new/lib/wine" "$new/share" || return
        cp "$wine_lib/wine64" "$new/lib/wine/wine64" || return
        cp "$wine_lib/wine" "$new/lib/wine/wine32" || return
        ln -s "$wine_lib/wineserver" "$new/lib/wine/wineserver" || return
        ln -s /usr/share/wine "$new/share/wine" || return
        ln -s /usr/lib/x86_64-linux-gnu /usr/lib/i386-linux-gnu "$new/lib/" || return
        emulated_loader_script >"$new/lib/wine/wine" || return
        chmod a+x "$new/lib/wine/wine" || return
        printf '#!/bin/sh\nexec "${0%%/bin/wine}/lib/wine/wine64" "$@"\n' >"$new/bin/wine" || return
    else
        printf '#!/bin/sh\nexec %s/wine64 "$@"\n' "$wine_lib" >"$new/bin/wine" || return
    fi
    chmod -R a+rX "$new" || return
    chmod a+x "$new/bin/wine" || return
    if [ -e "$folder" ]; then
        old=$(mktemp -d "$folder.XXXXXX") || return
        mv -T "$folder" "$old" || return
        rm -rf "$old"
    fi
    mv -T "$new" "$folder"
}

# ROUTE [SET-UP...]: a new prefix at WINEPREFIX, with the command SET-UP run in it, that records the route it was
# made on, since a prefix made on one route may not serve another (a 64-bit-only one has no 32-bit system). The
# record comes last, once Wine has saved the prefix, and goes first: a making cut short anywhere is made anew.
make_prefix() {
    local made_for=$1 said
    shift
    rm -f "$WINEPREFIX/route" || return
    rm -rf "$WINEPREFIX" || return
    if ! said=$(wine wineboot -i 2>&1) || ! timeout 600 wineserver -w; then
        printf 'Wine could not make the prefix %s:\n%s\n' "$WINEPREFIX" "$said" >&2
        return 1
    fi
    if [ $# -gt 0 ]; then
        "$@" || return
        timeout 600 wineserver -w || return
    fi
    echo "$made_for" >"$WINEPREFIX/route"
}
prefix_fits() { [ "$(cat "$WINEPREFIX/route" 2>/dev/null)" = "$1" ]; }

# NAME DATA [hex]: a registry value as a .reg line, as reg export writes it; hex for REG_EXPAND_SZ.
reg_line() {
    local data=${2//\\/\\\\}
    if [ "${3:-}" = hex ]; then
        data=$(printf '%s\0' "$2" | iconv -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',,')
        echo "\"$1\"=hex(2):${data:1:-1}"
        return
    fi
    data=${data//\"/\\\"}
    echo "\"$1\"=\"${data//$'\n'/\\n}\""
}

# FILE LINE...: the LINEs, a .reg file's after its header, written to FILE.reg and imported into WINEPREFIX's
# registry through its 64-bit view, where the 32-bit view is Wow6432Node; fails as reg import does.
import_reg() {
    local file=$1.reg
    shift
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' "$@" | iconv -t UTF-16 >"$file" || return
    wine reg import "Z:${file//\//\\}" /reg:64 >/dev/null 2>&1
}

# KEY VIEW (64 or 32): the key as reg export writes it, in UTF-8 without CRs; fails where there is no such key.
# reg export keeps UTF-16, where reg query would print through the console code page.
exported_key() {
    local file=$WINEPREFIX/exported.reg
    rm -f "$file"
    wine reg export "$1" "$file" /y "/reg:$2" >/dev/null 2>&1 || return
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'
    rm -f "$file"
}
# VIEW: "Shell" as stored in that registry view; nothing when there is no such value.
shell_value() {
    local key
    key=$(exported_key "$winlogon" "$1") || return 0
    sed -n 's/^"Shell"="\(.*\)"$/\1/p' <<<"$key" | sed 's/\\\\/\\/g'
}

# A run's processes go wherever Wine and tmux put them (their servers start sessions of their own), but each
# inherits the environment it was started with: a variable that names the run marks them all.
# NAME VALUE: every process whose environment holds NAME=VALUE, killed, however often they fork. The caller is never
# among them: it exported the mark after it started, and /proc shows a process's environment as it started.
end_marked() {
    local round marked
    for round in 1 2 3 4 5 6 7 8 9 10; do
        marked=$(env -u "$1" grep -lzxF -- "$1=$2" /proc/[0-9]*/environ 2>/dev/null; true)
        if [ -z "$marked" ]; then
            return 0
        fi
        marked=${marked//\/proc\//}
        kill -KILL ${marked//\/environ/} 2>/dev/null
    done
}

# KIND: makes this run the owner of what it starts, whatever ends it. Its folder, /tmp/desktopswitch-KIND.XXXXXX,
# holds Wine's and tmux's sockets, whose paths have at most 107 bytes whatever the checkout's path. Once this shell
# has ended, by any signal, a watcher in a session of its own ends every process marked with the run and removes
# the folder. Sets run_tmp; exports TMPDIR and DESKTOPSWITCH_RUN.
own_run() {
    if ! run_tmp=$(mktemp -d "/tmp/desktopswitch-$1.XXXXXX" 2>&1); then
        echo "A run needs a folder of its own in /tmp, for sockets whose paths must be short: $run_tmp" >&2
        return 1
    fi
    export TMPDIR=$run_tmp DESKTOPSWITCH_RUN=$run_tmp
    env -u DESKTOPSWITCH_RUN setsid bash -c 'source "$0"; tail --pid="$1" -f /dev/null; end_run "$2"' \
        "${BASH_SOURCE[0]}" "$$" "$run_tmp" </dev/null >/dev/null 2>&1 &
}
# COMMAND...: runs it in the background and waits, so that a signal's trap runs at once rather than once it ends.
step() {
    "$@" &
    wait "$!"
}
# FOLDER: ends the run whose folder it is, if it has not ended yet: every process marked with it, Wine's server
# among them, and the folder.
end_run() {
    end_marked DESKTOPSWITCH_RUN "$1"
    rm -rf "$1"
}
