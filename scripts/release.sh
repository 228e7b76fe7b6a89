#!/usr/bin/env bash
# Makes the release: in build/release, DesktopSwitch-<version>-win32.zip (…-win32-unsigned.zip without a
# certificate), holding DesktopSwitch.exe, README.txt (the guide, CR LF) and SHA256SUMS, and beside it <zip>.sha256
# for the release page. Signing is README.md's ("Making a release"). The zip is made from the named files with fixed
# times and modes, so that one commit gives one unsigned zip, then opened and checked against what was built and
# signed; only a zip that passes is published. A release that fails at any step leaves no zip and no .sha256 there.
set -euo pipefail
unset CDPATH  # a relative cd would follow it into another folder
cd "$(dirname "$0")/.."
source scripts/start.sh
readonly releases=$PWD/build/release
# The release's own folder lies beside what it publishes, so that publishing is a rename.
start_command release "$releases"
# Nothing an earlier release published stands while this one has not passed.
rm -f "$releases"/DesktopSwitch-*.zip "$releases"/DesktopSwitch-*.zip.sha256
# What the zip's entries are dated, as the reproducible-builds convention has it: SOURCE_DATE_EPOCH where set, a
# fixed time (2000-01-01) otherwise. A zip holds times from 1980 to 2107, in the time zone its reader takes as its
# own: UTC.
epoch=${SOURCE_DATE_EPOCH:-946684800}
if ! [[ $epoch =~ ^[0-9]{1,10}$ ]] || [ "$epoch" -lt 315532800 ] || [ "$epoch" -ge 4354819200 ]; then
    echo "SOURCE_DATE_EPOCH is \"$epoch\", not a time a zip holds (seconds since 1970, from 1980 to 2107)," \
        "so nothing was released."
    exit 1
fi
# A zip holds even seconds, and rounds an odd one up: at :59, into the next minute.
epoch=$((epoch - epoch % 2))
export TZ=UTC0
unset ZIP ZIPOPT UNZIP UNZIPOPT ZIPINFO ZIPINFOOPT

step configure_preset release
# Every object anew: one built by hand, with settings of its own, is newer than its sources too.
step cmake --build --preset release -j "$(nproc)" --clean-first
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
# The program is signed, and the guide and sums written, in a folder of their own; the zip is made from copies, and
# checked against these.
made=$run_folder/made
mkdir "$made" "$run_folder/secret" "$run_folder/staged"
cp build/release/DesktopSwitch.exe "$made/"
# Signing, and the guide. A refusal says why on one line, then what the tool said; CMake's own words come only when
# it fails otherwise.
sign() {
    cmake -D "STAGED=$made" -D "SECRET=$run_folder/secret" -D "PROJECT_VERSION=$version" -P release/sign.cmake \
        2>"$run_folder/signing"
}
if ! step sign; then
    if [ -e "$run_folder/secret/refusal" ]; then
        cat "$run_folder/secret/refusal"
    else
        cat "$run_folder/signing"
    fi
    exit 1
fi
cat "$run_folder/signing"
zip=DesktopSwitch-$version-win32
if [ -n "${DESKTOPSWITCH_SIGN_PFX:-}" ]; then
    zip+=.zip
else
    zip+=-unsigned.zip
fi
shipped=(DesktopSwitch.exe README.txt SHA256SUMS)
cd "$made"
sha256sum DesktopSwitch.exe README.txt >SHA256SUMS
cp "${shipped[@]}" ../staged/
cd ../staged
chmod 644 "${shipped[@]}"
touch -d "@$epoch" "${shipped[@]}"
# -X: no owner and no times but the one above; -D: no folders.
zip -X -D -q "../$zip" "${shipped[@]}"

# The zip as it ships: exactly the three files, regular, of one mode and one time, each byte for byte as built and
# signed, and its sums hold.
cd "$run_folder"
listed=$(zipinfo "$zip" | sed '1,2d;$d' | awk '{ print $1, $7, $8, $NF }')
unzip -q "$zip" -d unpacked
for file in "${shipped[@]}"; do
    if ! cmp -s "made/$file" "unpacked/$file"; then
        listed+=$'\n'"$file, which differs from what was built and signed"
    fi
done
cd unpacked
dated=$(LC_ALL=C date -u -d "@$epoch" '+%y-%b-%d %H:%M')
if [ "$listed" != "$(printf -- "-rw-r--r-- $dated %s\n" "${shipped[@]}")" ] || ! sha256sum --quiet -c SHA256SUMS; then
    echo "The zip does not hold exactly what was built and signed, so nothing was released. It held:"
    echo "$listed"
    exit 1
fi
cd "$run_folder"
sha256sum "$zip" >"$zip.sha256"
mv "$zip.sha256" "$zip" "$releases/"
echo "Released build/release/$zip, and beside it its checksum for the release page."
