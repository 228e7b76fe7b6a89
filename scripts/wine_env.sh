# Sourced by the demo, the benchmark and the Wine tests: which programs this machine can run, one quiet Wine
# set-up, the two registry keys, and the lossless read of "Shell". Set WINEPREFIX before sourcing.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
tarn='HKLM\SOFTWARE\Telvora, Inc.\TARN'
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'

# Some machines run with IA-32 emulation off: the 32-bit loader cannot even start there, and Debian's wine
# wrapper always picks it when it is installed. Such machines run everything with the 64-bit loader, and so does
# any machine given DESKTOPSWITCH_64BIT_ONLY=1: "wine" on the PATH is then that loader, for every child too.
if [ -z "${DESKTOPSWITCH_64BIT_ONLY:-}" ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    runs32=1
else
    runs32= why32="this machine cannot execute 32-bit x86 programs (IA-32 emulation is off)"
    [ -n "${DESKTOPSWITCH_64BIT_ONLY:-}" ] && why32="DESKTOPSWITCH_64BIT_ONLY is set"
    export WINELOADER=/usr/lib/wine/wine64 PATH=${TMPDIR:-/tmp}/desktopswitch-wine64:$PATH
    # A script, not a symlink: the loader re-executes itself by the name it was started as, and a link named
    # "wine" would hand every run to the 32-bit loader first. Renamed into place, as parallel tests source this.
    printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" >"${PATH%%:*}.$$" && chmod +x "${PATH%%:*}.$$"
    mkdir -p "${PATH%%:*}" && mv -f "${PATH%%:*}.$$" "${PATH%%:*}/wine"
fi
# The program this machine runs: the 32-bit product where it can, else the 64-bit build of the same sources.
runnable_build() { [ -n "$runs32" ] && echo windows || echo windows64; }

make_prefix() { rm -rf "$WINEPREFIX" && wine wineboot -i >/dev/null 2>&1 && wineserver -w; }

# "Shell" as stored in the given registry view (64 by default): reg export keeps
# UTF-16 where reg query would print through the console code page.
shell_value() {
    rm -f "$WINEPREFIX/winlogon.reg"; wine reg export "$winlogon" "$WINEPREFIX/winlogon.reg" /y "/reg:${1:-64}" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/winlogon.reg" 2>/dev/null | tr -d '\r' | sed -n 's/^"Shell"="\(.*\)"$/\1/p' | sed 's/\\\\/\\/g'
}
