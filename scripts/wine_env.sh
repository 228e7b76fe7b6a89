# The route to Wine's 32-bit loader and the Wine set-up that the scripts share. Sourcing this file only defines
# functions and read-only constants: it probes nothing, builds nothing and exports nothing.
# Sourced by: scripts/test.sh, scripts/demo.sh, scripts/bench.sh, tests/wine/lib.sh and tests/release.sh.
#
# The routes, tried in this order:
#   native       the kernel runs 32-bit x86 code: Debian's own wine;
#   emulated     it cannot, and qemu-i386 runs Wine's 32-bit loader: a loader folder in build/wine-loaders;
#   64-bit-only  neither, or DESKTOPSWITCH_64BIT_ONLY=1: every program runs on Wine's 64-bit loader.
# DESKTOPSWITCH_EMULATE_32BIT=1 takes the emulated route where the kernel would do, to prove it there.

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

# The quiet Wine set-up every caller wants; what a user exported must not steer it. Exports into the caller.
use_wine_settings() {
    unset CDPATH WINEARCH WINELOADER
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

# ROUTE: a new prefix at WINEPREFIX that records the route it was made on, since a prefix made on one route may not
# serve another (a 64-bit-only one has no 32-bit system).
make_prefix() {
    local said
    rm -rf "$WINEPREFIX" || return
    if ! said=$(wine wineboot -i 2>&1) || ! wineserver -w; then
        printf 'Wine could not make the prefix %s:\n%s\n' "$WINEPREFIX" "$said" >&2
        return 1
    fi
    echo "$1" >"$WINEPREFIX/route"
}
prefix_fits() { [ "$(cat "$WINEPREFIX/route" 2>/dev/null)" = "$1" ]; }

# VIEW (64 or 32): "Shell" as stored in that registry view. reg export keeps UTF-16, where reg query would print
# through the console code page. Prints nothing when there is no such value.
shell_value() {
    local exported=$WINEPREFIX/winlogon.reg
    rm -f "$exported"
    wine reg export "$winlogon" "$exported" /y "/reg:$1" >/dev/null 2>&1 || return 0
    iconv -f UTF-16 -t UTF-8 "$exported" | tr -d '\r' | sed -n 's/^"Shell"="\(.*\)"$/\1/p' | sed 's/\\\\/\\/g'
    rm -f "$exported"
}
