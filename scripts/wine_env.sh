# Sourced by the demo, the benchmark and the Wine tests: one quiet Wine set-up,
# the two registry keys, and the lossless read of "Shell".
# Set WINEPREFIX before sourcing.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
tarn='HKLM\SOFTWARE\Telvora, Inc.\TARN'
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'

make_prefix() { rm -rf "$WINEPREFIX" && wineboot -i >/dev/null 2>&1 && wineserver -w; }

# "Shell" as stored in the given registry view (64 by default): reg export keeps
# UTF-16 where reg query would print through the console code page.
shell_value() {
    wine reg export "$winlogon" "$WINEPREFIX/winlogon.reg" /y "/reg:${1:-64}" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/winlogon.reg" | tr -d '\r' | sed -n 's/^"Shell"="\(.*\)"$/\1/p' | sed 's/\\\\/\\/g'
}
