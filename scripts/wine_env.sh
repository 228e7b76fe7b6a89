# Sourced by the demo, the benchmark and the Wine tests: the route to Wine's 32-bit loader, one quiet Wine set-up,
# the two registry keys, and the lossless read of "Shell". Set WINEPREFIX before sourcing.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
tarn='HKLM\SOFTWARE\Telvora, Inc.\TARN'
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
lib=/usr/lib/wine

# A folder of loaders for a route other than Debian's own, on the PATH as "wine" for every program and its children.
# Wine starts a process of the other bitness by running "wine" or "wine64" from the folder of the running loader,
# found through /proc/self/exe, and finds its libraries and data at fixed places beside it: so the loaders are copies
# (a link would lead Wine back to /usr/lib/wine) and the rest are links. Built aside and renamed into place, as two
# runs may build it at once, and never changed after; named after the loaders and qemu it holds. It lives in the
# checkout's build tree, which a copy of the checkout does not share.
loader_folder() {  # 64-bit-only|emulated: prints the folder, or fails
    local sum dir new loader64=$lib/wine64
    sum=$(cat $lib/wine64 $lib/wine "$(command -v qemu-i386)" 2>/dev/null | cksum | tr ' ' -)
    dir=$(dirname "${BASH_SOURCE[0]}")/../build/wine-loaders/$1-$sum
    mkdir -p "${dir%/*}" && dir=$(cd "${dir%/*}" && pwd)/${dir##*/} || return
    [ -d "$dir" ] && echo "$dir" && return
    new=$(mktemp -d "$dir.XXXXXX") && mkdir "$new/bin" || return
    if [ "$1" = emulated ]; then
        loader64='"${0%/bin/wine}/lib/wine/wine64"'
        mkdir -p "$new/lib/wine" "$new/share" && cp $lib/wine64 "$new/lib/wine/" && cp $lib/wine "$new/lib/wine/wine32" &&
            ln -s $lib/wineserver "$new/lib/wine/" && ln -s /usr/share/wine "$new/share/" &&
            ln -s /usr/lib/x86_64-linux-gnu /usr/lib/i386-linux-gnu "$new/lib/" || return
        # -R: the guest's address space. qemu 7 finds free guest space page by page, and Wine's 32-bit loader
        # reserves its address space in tens of thousands of calls: a start took 50 s with the default 4 GiB and
        # 3 s with 0x81000000; with 0x80000000 every 32-bit start fails. -0 names the guest after this script, so
        # that the 32-bit loader's own 32-bit children come back here.
        printf '#!/bin/sh\nWINELOADERNOEXEC=1 exec qemu-i386 -R 0x81000000 -0 "$0" "${0%%/wine}/wine32" "$@"\n' \
            >"$new/lib/wine/wine" && chmod +x "$new/lib/wine/wine"
    fi
    # A script, not a link: the loader re-executes itself by the name it was started as.
    printf '#!/bin/sh\nexec %s "$@"\n' "$loader64" >"$new/bin/wine" && chmod -R a+rX "$new" && chmod +x "$new/bin/wine" || return
    mv -T "$new" "$dir" 2>/dev/null || rm -rf "$new"
    echo "$dir"
}

# The 32-bit loader, by the first route that works: native where the kernel runs 32-bit code, emulated by qemu-i386
# where it cannot, else none, and every program runs on the 64-bit loader. DESKTOPSWITCH_64BIT_ONLY=1 takes the last
# route on any machine, DESKTOPSWITCH_EMULATE_32BIT=1 the emulated one (to prove it where the kernel would do).
if [ -n "${DESKTOPSWITCH_64BIT_ONLY:-}" ]; then
    route=64-bit-only why="DESKTOPSWITCH_64BIT_ONLY is set"
elif [ -z "${DESKTOPSWITCH_EMULATE_32BIT:-}" ] && $lib/wine --version >/dev/null 2>&1; then
    route=native why="this machine executes 32-bit x86 code"
else
    why="this machine cannot execute 32-bit x86 code"
    [ -z "${DESKTOPSWITCH_EMULATE_32BIT:-}" ] || why="DESKTOPSWITCH_EMULATE_32BIT is set"
    if qemu-i386 $lib/wine --version >/dev/null 2>&1 && folder=$(loader_folder emulated); then
        route=emulated why="$why, so qemu-i386 emulates Wine's 32-bit loader"
    else
        route=64-bit-only why="$why, and qemu-i386 cannot emulate it"
    fi
fi
[ $route != 64-bit-only ] || folder=$(loader_folder 64-bit-only)
[ $route = native ] || export PATH=$folder/bin:$PATH WINELOADER=$folder/lib/wine/wine64
[ $route != 64-bit-only ] || WINELOADER=$lib/wine64
runs32=$([ $route = 64-bit-only ] || echo 1)  # whether the 32-bit program runs here
# Says the route once; the program to show is the 32-bit product wherever it runs, the one to time is the build
# whose loader is native: the 64-bit build where the 32-bit program would be timed with its emulator.
say_route() { echo "Wine route: $route, as $why."; }
shown_build() { [ -n "$runs32" ] && echo windows || echo windows64; }
timed_build() { [ $route = native ] && echo windows || echo windows64; }

# A prefix made on one route may not serve another (a 64-bit-only one has no 32-bit system), so it records its route.
make_prefix() { rm -rf "$WINEPREFIX" && wine wineboot -i >/dev/null 2>&1 && wineserver -w && echo $route >"$WINEPREFIX/route"; }
prefix_fits() { [ "$(cat "$WINEPREFIX/route" 2>/dev/null)" = $route ]; }

# "Shell" as stored in the given registry view (64 by default): reg export keeps
# UTF-16 where reg query would print through the console code page.
shell_value() {
    rm -f "$WINEPREFIX/winlogon.reg"; wine reg export "$winlogon" "$WINEPREFIX/winlogon.reg" /y "/reg:${1:-64}" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/winlogon.reg" 2>/dev/null | tr -d '\r' | sed -n 's/^"Shell"="\(.*\)"$/\1/p' | sed 's/\\\\/\\/g'
}
