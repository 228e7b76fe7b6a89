# shellcheck shell=bash
# What the Wine commands and tables share: the route to Wine's 32-bit loader, the Wine set-up, and the registry as
# reg import and reg export see it. Sourcing this file only defines functions and read-only constants.
# The routes, native, emulated and 64-bit-only, are README.md's ("Which machines run what").

readonly winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
# The appliance software's key in the 32-bit view: as reg export and reg query name it, and as a .reg file imported
# through the 64-bit view does.
# shellcheck disable=SC2034  # used by the scripts that source this file
readonly tarn='HKLM\SOFTWARE\Telvora, Inc.\TARN' \
    appliance_key='HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Telvora, Inc.\TARN'
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

# Sets route, the first that works here, and route_reason, why; fails, with a line, on a switch that is neither 1
# nor empty.
choose_route() {
    local only64 emulate
    only64=$(switch_value DESKTOPSWITCH_64BIT_ONLY) || return
    emulate=$(switch_value DESKTOPSWITCH_EMULATE_32BIT) || return
    route=64-bit-only
    route_reason="DESKTOPSWITCH_64BIT_ONLY is 1"
    if [ "$only64" = 1 ]; then
        return
    fi
    if [ "$emulate" != 1 ] && kernel_runs_32bit; then
        route=native
        route_reason="this machine executes 32-bit x86 code"
        return
    fi
    route_reason="this machine cannot execute 32-bit x86 code"
    if [ "$emulate" = 1 ]; then
        route_reason="DESKTOPSWITCH_EMULATE_32BIT is 1"
    fi
    if qemu_runs_32bit; then
        route=emulated
        route_reason+=", so qemu-i386 emulates Wine's 32-bit loader"
    else
        route_reason+=", and qemu-i386 cannot emulate it"
    fi
}

# How a command that runs Wine goes on from start_command: a checkout Wine can take, the route chosen and said, Wine
# set up for it.
start_wine() {
    local root
    root=$(pwd -P)
    # Wine makes no prefix whose path passes 950 bytes (seen: 950 made, 975 not), and a table's prefix lies 28 bytes
    # below the checkout.
    if [ "${#root}" -gt 900 ]; then
        echo "The checkout path is ${#root} bytes long, and Wine takes at most 900, so nothing was built."
        exit 1
    fi
    choose_route || exit
    echo "Wine route: $route, as $route_reason."
    enter_route "$route" || exit
}

# ROUTE: exports what Wine needs on that route, and a quiet Wine that installs no Mono or Gecko and makes no menu
# entries or file associations. own_run has dropped the user's own Wine settings.
enter_route() {
    local folder
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" LC_ALL=C.UTF-8
    if [ "$1" = native ]; then
        return
    fi
    folder=$(loader_folder "$1") || return
    export PATH=$folder/bin:$PATH WINELOADER=$folder/lib/wine/wine64
}

# KIND (emulated or 64-bit-only): prints a folder of loaders for that route, on the PATH as "wine" for every program
# and its children. Wine starts a process of the other bitness by running "wine" or "wine64" from the folder of the
# running loader, found through /proc/self/exe, and finds its libraries and data at fixed places beside it: so the
# loaders are copies (a link would lead Wine back to /usr/lib/wine) and the rest are links. Named after what it
# copies, so that another Wine or qemu never shares one; built beside its name and renamed into place whole, so a
# folder that bears the name is complete, and what an interrupted build left is removed by the next.
loader_folder() {
    local root sum folder new
    root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd -P) || return
    sum=$(cat "$wine_lib/wine64" "$wine_lib/wine" "$(command -v qemu-i386)" | cksum | tr ' ' -) || return
    folder=$root/build/wine-loaders/$1-$sum
    if [ ! -d "$folder" ]; then
        mkdir -p "$root/build/wine-loaders" || return
        rm -rf "$folder".?????? || return
        new=$(mktemp -d "$folder.XXXXXX") || return
        build_loader_folder "$new" "$1" || return
        # Another table started by hand may have put its own in place meanwhile: that one serves.
        mv -T "$new" "$folder" 2>/dev/null || rm -rf "$new"
    fi
    [ -x "$folder/bin/wine" ] || return
    echo "$folder"
}
# FOLDER KIND: the loaders. Scripts, not links: a loader re-executes itself by the name it was started as.
build_loader_folder() {
    mkdir -p "$1/bin" "$1/lib/wine" "$1/share" || return
    cp "$wine_lib/wine64" "$1/lib/wine/wine64" || return
    # shellcheck disable=SC2016  # $0 and $@ are the script's own, expanded when it runs
    printf '#!/bin/sh\nexec "${0%%/bin/wine}/lib/wine/wine64" "$@"\n' >"$1/bin/wine" || return
    chmod a+rx "$1/bin/wine" || return
    if [ "$2" = emulated ]; then
        cp "$wine_lib/wine" "$1/lib/wine/wine32" || return
        # What Wine runs as its 32-bit loader. -0 names the guest after this script, so that the 32-bit loader's own
        # 32-bit children come back here.
        # shellcheck disable=SC2016  # $0 and $@ are the script's own, expanded when it runs
        printf '#!/bin/sh\nWINELOADERNOEXEC=1 exec qemu-i386 -R %s -0 "$0" "${0%%/wine}/wine32" "$@"\n' \
            "$qemu_guest_space" >"$1/lib/wine/wine" || return
        chmod a+rx "$1/lib/wine/wine" || return
    fi
    ln -s "$wine_lib/wineserver" "$1/lib/wine/wineserver" || return
    ln -s /usr/share/wine "$1/share/wine" || return
    ln -s /usr/lib/x86_64-linux-gnu /usr/lib/i386-linux-gnu "$1/lib/"
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

# KEY VIEW (64 or 32): the key as reg export writes it, in UTF-8 without CRs, each value on one line; fails with 1
# where there is no such key, and with 2, saying why, where it could not be read. reg export keeps UTF-16, where reg
# query would print through the console code page.
exported_key() {
    local file=$WINEPREFIX/exported.reg said
    # To a file, not a pipe: a Wine server that reg starts keeps its output open.
    if ! wine reg export "$1" "$file" /y "/reg:$2" >"$file.said" 2>&1; then
        said=$(tr -d '\r' <"$file.said")
        if [ "$said" = 'reg: Unable to find the specified registry key' ]; then
            return 1
        fi
        echo "reg export of $1 failed: $said" >&2
        return 2
    fi
    # reg export continues a long hex line on the next.
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | sed -e :more -e '/\\$/N; s/\\\n *//; t more' || return 2
}
# VIEW: "Shell" as stored in that registry view; nothing when there is no such value or key; fails, saying why,
# where the key could not be read.
shell_value() {
    local key status=0
    key=$(exported_key "$winlogon" "$1") || status=$?
    if [ "$status" = 2 ]; then
        return 1
    fi
    sed -n 's/^"Shell"="\(.*\)"$/\1/p' <<<"$key" | sed 's/\\\\/\\/g'
}
