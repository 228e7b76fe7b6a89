#!/usr/bin/env bash
# The release a technician downloads, made with the README's command from a copy of the sources at a longer
# path, later than the windows build: refused on a wrong password, then unsigned, then signed with a
# throwaway certificate. Usage: release.sh SOURCE_DIR WINDOWS_BUILD_DIR VERSION
set -u
src=$1 build=$2 version=$3 work=$2/release-check
copy=$work/a-copy-of-the-sources-at-a-longer-path zip=build/release/DesktopSwitch-$version-win32.zip
fail() { echo "FAIL: expected $1, got $2"; exit 1; }
unpack() {  # DIR: the zip's files, their sums checked
    rm -rf "${work:?}/$1"; unzip -q "$copy/$zip" -d "$work/$1" || fail "a zip" none
    [ "$(ls "$work/$1" | tr '\n' ' ')" = "DesktopSwitch.exe README.txt SHA256SUMS " ] || fail "three files" "$(ls "$work/$1")"
    (cd "$work/$1" && sha256sum -c --quiet SHA256SUMS) || fail "matching SHA256SUMS" mismatch
}
rm -rf "$work" && mkdir -p "$copy" && (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$copy") && cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Test -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:secret -out sign.pfx && cd "$copy" || fail keys none
export DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx

DESKTOPSWITCH_SIGN_PASSWORD=wrong cmake --workflow --preset release >"$work/refused.log" 2>&1 && fail refused made
grep -q 'Wrong password' "$work/refused.log" && [ ! -e "$zip" ] || fail "the reason, no zip" "$(tail "$work/refused.log")"

DESKTOPSWITCH_SIGN_PFX= cmake --workflow --preset release >"$work/unsigned.log" 2>&1 || fail made "$(tail "$work/unsigned.log")"
grep -q 'DesktopSwitch.exe is unsigned' "$work/unsigned.log" || fail "a word that it is unsigned" none
unpack unsigned
cmp "$work/unsigned/DesktopSwitch.exe" "$build/DesktopSwitch.exe" || fail "the windows build's program, byte for byte" other
[ "$(grep -c $'\r$' "$work/unsigned/README.txt")" = "$(wc -l <"$work/unsigned/README.txt")" ] || fail "CR LF" LF
resources=$(i686-w64-mingw32-windres -i "$work/unsigned/DesktopSwitch.exe" -O rc)
for want in "FILEVERSION ${version//./, }, 0" "PRODUCTVERSION ${version//./, }, 0" "\"FileVersion\", \"$version\"" \
    "\"ProductVersion\", \"$version\"" '"OriginalFilename", "DesktopSwitch.exe"' 'Translation", 0x409, 1200'; do
    grep -qF "$want" <<<"$resources" || fail "$want" "$resources"
done

DESKTOPSWITCH_SIGN_PASSWORD=secret cpack --preset release >"$work/signed.log" 2>&1 || fail signed "$(tail "$work/signed.log")"
unpack signed && exe=$work/signed/DesktopSwitch.exe && cd "$work"
osslsigncode verify -CAfile cert.pem -in "$exe" >verify.log 2>&1 || fail "a valid signature" "$(cat verify.log)"
cp "$exe" changed.exe && printf X | dd of=changed.exe bs=1 seek=2000 conv=notrunc 2>/dev/null
osslsigncode verify -CAfile cert.pem -in changed.exe >/dev/null 2>&1 && fail "a changed byte refused" valid
export WINEPREFIX=$build/wine-prefix && source "$src/scripts/wine_env.sh" && { [ -d "$WINEPREFIX" ] || make_prefix; }
out=$(wine "$exe" x </dev/null 2>/dev/null | tr -d '\r' | head -1)
[ "$out" = "Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop)." ] || fail "it runs" "$out"
echo "PASS release"
