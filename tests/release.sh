#!/usr/bin/env bash
# The README's release, in a copy of the sources at a path holding ' & ( ) and spaces: one row a case, with what it
# expects beside it. Usage: release.sh SOURCE_DIR WINDOWS_BUILD VERSION ROW_BOUND TABLE_BOUND (as the Wine tables)
set -u
readonly src=$1 build=$2 version=$3 row_bound=$4 table_deadline=$((SECONDS + $5)) work=$2/release-check
readonly zip=DesktopSwitch-$version-win32 out=$work/row released="Released build/release/DesktopSwitch-$version-win32"
source "$src/scripts/start.sh"
source "$src/scripts/wine_env.sh"
source "$src/tests/rows.sh"
copy="$work/it's a copy & (1)"
releases=$copy/build/release

# What releases left in build/release: zips and their checksums, and the releases' own folders.
left() {
    local paths=("$releases"/DesktopSwitch-*.zip* "$releases"/desktopswitch-*)
    echo "${paths[*]##*/}"
}
# NAME STATUS LEFT LINE...: the release, started as README says, exits with STATUS, says each LINE (however
# wrapped), leaves LEFT.
release() {
    local status=0 line
    new_row
    env -C "$copy" bash scripts/release.sh >"$out.log" 2>&1 </dev/null || status=$?
    same "exit code" "$2" "$status"
    same "what it left" "$3" "$(left)"
    for line in "${@:4}"; do
        tr -s ' \n' ' ' <"$out.log" | grep -qF -- "$line" || problem "it did not say: $line"
    done
    if [ -s "$out.problems" ]; then
        problem "it said: $(tail -12 "$out.log")"
    fi
    report "$1"
}
# NAME PFX REASON LINE...: a release signing with PFX, refused for REASON, that leaves nothing behind.
refused() {
    DESKTOPSWITCH_SIGN_PFX=$work/$2 release "$1" 1 "" \
        "Signing DesktopSwitch.exe failed, so nothing was packaged: $3" "${@:4}"
}
# NAME: the published zip NAME.zip, against the checksum published beside it, unpacked in NAME.
unpack() {
    same "$1.zip as published" "$1.zip: OK" "$(cd "$releases" && sha256sum -c "$1.zip.sha256" 2>&1)"
    rm -rf "$1"
    unzip -q "$releases/$1.zip" -d "$1" || problem "unzip could not unpack $1.zip"
}
# ZIP: each file's mode, date, time and name.
listed() { zipinfo "$releases/$1" | sed '1,2d;$d' | awk '{ print $1, $7, $8, $9 }'; }
# GUIDE LINE: the guide holds LINE, ended by CR LF.
in_guide() { grep -qxF "$2"$'\r' "$1" || problem "no line \"$2\" in $1"; }
# COMMAND...: a step of the check's own set-up; its failure ends the check, saying nothing of the release.
set_up() { "$@" 2>>"$run_folder/set-up.log" || set_up_failed "$*: $(tail -3 "$run_folder/set-up.log")"; }
# NAME KEY [PASSWORD]: NAME.pem and KEY as NAME.pfx.
pfx() { openssl pkcs12 -export -inkey "$2" -in "$1.pem" -passout "pass:${3-$password}" -out "$1.pfx"; }
# NAME SUBJECT OPTION...: a key and a self-signed certificate, both in NAME.pfx.
cert() {
    openssl req -x509 -newkey rsa:2048 -nodes -utf8 -subj "$2" -keyout "$1.key" -out "$1.pem" "${@:3}" || return
    pfx "$1" "$1.key"
}
# NAME START END: sign.key's certificate for those dates.
dated() {
    openssl ca -batch -config openssl.cnf -selfsign -keyfile sign.key -in sign.csr -startdate "$2" -enddate "$3" \
        -out "$1.pem" || return
    pfx "$1" sign.key
}
# The throwaway certificates, and a certification authority's files for openssl's ca and ts commands.
certificates() {
    printf '%s\n' '[ca]' default_ca=ca '[ca]' unique_subject=no database=index new_certs_dir=. serial=serial \
        default_md=sha256 policy=p '[p]' commonName=supplied '[tsa]' default_tsa=t '[t]' serial=serial \
        signer_cert=tsa.pem signer_key=tsa.key signer_digest=sha256 default_policy=1.2.3.4 digests=sha256 \
        ess_cert_id_alg=sha256 >openssl.cnf || return
    : >index || return
    echo 01 >serial || return
    cert sign '/O=Example Org/CN=Tëst Signer' -days 2 -addext extendedKeyUsage=codeSigning,serverAuth || return
    cp sign.pfx "$unusual" || return
    cert ms '/OU=Code Signing/CN=Server' -days 2 -addext extendedKeyUsage=1.3.6.1.4.1.311.2.1.22 || return
    cert enc /CN=Enc -days 2 -addext keyUsage=critical,keyEncipherment -addext extendedKeyUsage=codeSigning || return
    cert weak /CN=Weak -days 2 -newkey rsa:1024 || return
    cert nameless /C=US/L=Nowhere -days 2 || return
    cert no /CN=No -days 2 || return
    pfx no no.key '' || return
    cert tsa /CN=TSA -days 3650 -addext extendedKeyUsage=critical,timeStamping || return
    openssl req -new -key sign.key -subj /CN=Dated -out sign.csr || return
    dated old 20200101000000Z 20200102000000Z || return
    dated future 20400101000000Z 20400102000000Z || return
    mkfifo fifo || return
    # A valid leaf issued by the expired certificate.
    openssl req -new -key no.key -subj /CN=Leaf -out leaf.csr || return
    openssl x509 -req -in leaf.csr -CA old.pem -CAkey sign.key -days 2 -out leaf.pem || return
    openssl pkcs12 -export -inkey no.key -in leaf.pem -certfile old.pem -passout "pass:$password" -out chain.pfx ||
        return
    # Two certificates on sign.key: the first, which signs, not for code signing.
    openssl req -x509 -key sign.key -subj /CN=Twin -days 2 -addext extendedKeyUsage=serverAuth -out twin.pem || return
    cat twin.pem sign.pem >twins.pem || return
    openssl pkcs12 -export -inkey sign.key -in twins.pem -passout "pass:$password" -out twins.pfx
}
# A time-stamp authority on the loopback address for one request, by openssl ts; given an argument, it never answers.
readonly authority='import http.server as h, subprocess, sys, time
class Authority(h.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        if sys.argv[1:]:
            time.sleep(600)
        ts = "openssl ts -reply -config openssl.cnf -queryfile /dev/stdin".split()
        reply = subprocess.run(ts, input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)
server = h.HTTPServer(("127.0.0.1", 0), Authority)
print(server.server_port, flush=True)
server.handle_request()'
# [silent]: an authority's address, whose path holds a ";", in timestamp_url, once its port is read.
authority() {
    local port
    exec {server}< <(python3 -c "$authority" "$@" 2>/dev/null)
    read -r -t "$row_bound" -u "$server" port || return
    timestamp_url="http://127.0.0.1:$port/a;b"
}
# NAME: a release in the background (NAME.log), held while it signs: signing is its process, password_file its own.
signing_release() {
    local passwords=()
    authority silent || set_up_failed "a time-stamp authority"
    # As from a terminal: a command started in the background ignores SIGINT.
    DESKTOPSWITCH_SIGN_TIMESTAMP_URL=$timestamp_url setsid env --default-signal=INT bash "$copy/scripts/release.sh" \
        >"$1.log" 2>&1 </dev/null &
    signing=$!
    until passwords=("$releases"/desktopswitch-release.*/secret/password); [ ${#passwords[@]} -gt 0 ]; do
        within "a release that signs" kill -0 "$signing" || return
    done
    password_file=${passwords[0]}
}
# SIGNAL: sent to that release's group, it leaves nothing; its folder goes once its every process has ended.
ends_with_nothing_left() {
    kill "-$1" -- "-$signing"
    within "the end of its folder" test ! -e "${password_file%/secret/password}" || return
    wait "$signing"
    same "what it left" "" "$(left)"
}
# BODY: the zip that releases run from here on: the real one, after BODY has had its way with the staged files.
zip_doing() {
    printf '#!/bin/sh\n%s\nexec %s "$@"\n' "$1" "$real_zip" >"$work/tools/zip" || return
    chmod +x "$work/tools/zip"
}

own_run release-check || exit 2
shopt -s nullglob
rm -rf "$work"
set_up mkdir -p "$copy/build" "$work/tools"
real_zip=$(command -v zip) || set_up_failed zip
# Without git: the sources may come from an archive, or sit inside another repository.
set_up tar -C "$src" --exclude=./build --exclude=./.git -cf "$work/sources.tar" .
set_up tar -C "$copy" -xf "$work/sources.tar"
cd "$work" || exit 2
readonly unusual=$'sign;it\'s [1]\n*.pfx' password=pass-w0rd
certificates 2>>"$run_folder/set-up.log" || set_up_failed "the certificates: $(tail -3 "$run_folder/set-up.log")"
export DESKTOPSWITCH_SIGN_PASSWORD=$password DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx

# A lock record as a copied checkout has one: a live process holding, at that descriptor, another tree's lock.
exec {other_tree}>>"$work/lock"
set_up flock "$other_tree"
echo "$$ $other_tree test command" >"$copy/build/lock"
new_row
signing_release interrupted
report 'a copied lock record names nobody, and a release signs'
holder=${password_file%/secret/password}
release 'a second release stops at once, naming the first' 1 "${holder##*/}" \
    "The release (process $signing) is using this checkout's build tree, so the release stopped;" \
    "kill $signing ends it."
new_row
same "the password's mode" 600 "$(stat -c %a "$password_file")"
same "processes with the password on their command line" "" "$(grep -l 'pass-w0r[d]' /proc/[0-9]*/cmdline 2>/dev/null)"
report 'the password, only its owner reads it, and on no command line'
new_row
ends_with_nothing_left INT
same "the last line" "Stopped by SIGINT; every process of this run has ended." "$(tail -1 interrupted.log)"
report 'Ctrl+C while signing leaves nothing, and says so'
new_row
signing_release killed
ends_with_nothing_left KILL
report 'SIGKILL while signing leaves nothing'

# A build by hand, with settings of its own, in the tree the releases have built.
set_up touch "$copy/app/main.cpp"
set_up env -C "$copy" cmake --build --preset release -- CXX_FLAGS=-O0
DESKTOPSWITCH_SIGN_PFX='' release 'unsigned, published with its checksum, built anew' 0 \
    "$zip-unsigned.zip $zip-unsigned.zip.sha256" \
    'DesktopSwitch.exe is unsigned: set DESKTOPSWITCH_SIGN_PFX and DESKTOPSWITCH_SIGN_PASSWORD to sign it.' \
    "$released-unsigned.zip, and beside it its checksum for the release page."
new_row
unpack "$zip-unsigned"
same "the zip's files" "-rw-r--r-- 00-Jan-01 00:00 DesktopSwitch.exe
-rw-r--r-- 00-Jan-01 00:00 README.txt
-rw-r--r-- 00-Jan-01 00:00 SHA256SUMS" "$(listed "$zip-unsigned.zip")"
same "the sums of its files" "DesktopSwitch.exe: OK
README.txt: OK" "$(cd "$zip-unsigned" && sha256sum -c SHA256SUMS 2>&1)"
same "the windows build's program" "" "$(cmp "$zip-unsigned/DesktopSwitch.exe" "$build/DesktopSwitch.exe" 2>&1)"
# The version resource's lines that carry the version, the maker and the language, in the program's order.
resource="FILEVERSION ${version//./, }, 0
PRODUCTVERSION ${version//./, }, 0
VALUE \"CompanyName\", \"The DesktopSwitch developers\"
VALUE \"FileVersion\", \"$version\"
VALUE \"ProductVersion\", \"$version\"
VALUE \"Translation\", 0x409, 1200"
same "the version resource of $version" "$resource" \
    "$(i686-w64-mingw32-windres -i "$zip-unsigned/DesktopSwitch.exe" -O rc | sed 's/^ *//' | grep -xF "$resource")"
same "CR LF in every line of the guide" "$(wc -l <"$zip-unsigned/README.txt")" \
    "$(grep -c $'\r$' "$zip-unsigned/README.txt")"
in_guide "$zip-unsigned/README.txt" "2. This release is UNSIGNED: DesktopSwitch.exe has no Digital Signatures tab."
report 'the unsigned zip: its files, modes and times, the program as built, its version, the guide in CR LF'
set_up cp "$releases/$zip-unsigned.zip" "$releases/$zip-unsigned.zip.sha256" "$work/"

# One commit, one zip: moved, configured afresh under settings that would steer the build, the zip tools, a relative
# cd and the time zone, with a restrictive umask, the checkout releases the same bytes.
set_up mv "$copy" "$work/moved"
copy=$work/moved
releases=$copy/build/release
set_up mkdir -p "$work/decoy/scripts"
echo 'set -o noglob' >"$work/noglob" || set_up_failed "a start-up file"
umask=$(umask)
umask 077
CFLAGS=-O0 CXXFLAGS='-O2 -march=native' CPPFLAGS=-DNDEBUG RCFLAGS=-DX LDFLAGS='-Wl,-z,relro -Wl,-z,now' \
    CMAKE_INSTALL_MODE=ABS_SYMLINK CMAKE_BUILD_TYPE=Debug CMAKE_GENERATOR=Ninja CMAKE_CXX_COMPILER_LAUNCHER=false \
    MAKEFLAGS=-n LIBRARY_PATH=/nowhere CPATH=/nowhere ZIPOPT=-9 TZ=Pacific/Kiritimati CDPATH=$work/decoy \
    DESKTOPSWITCH_SIGN_PFX='' release 'a moved checkout releases, steered by nothing in the environment' 0 \
    "$zip-unsigned.zip $zip-unsigned.zip.sha256" "$released-unsigned.zip"
umask "$umask"
new_row
same "the zip" "" "$(cmp "$work/$zip-unsigned.zip" "$releases/$zip-unsigned.zip" 2>&1)"
same "the checksum" "" "$(cmp "$work/$zip-unsigned.zip.sha256" "$releases/$zip-unsigned.zip.sha256" 2>&1)"
report 'the same zip and checksum'
set_up cp "$copy/app/main.cpp" main.cpp
echo '#error not today' >>"$copy/app/main.cpp"
BASH_ENV=$work/noglob DESKTOPSWITCH_SIGN_PFX='' \
    release 'one that cannot compile leaves no zip, not even the last one, whatever its shell starts with' 2 "" \
    '#error not today'
set_up cp main.cpp "$copy/app/main.cpp"
SOURCE_DATE_EPOCH=1e9 release 'a SOURCE_DATE_EPOCH that is no time stops it' 1 "" \
    'SOURCE_DATE_EPOCH is "1e9", not a time a zip holds (seconds since 1970, from 1980 to 2107),' \
    'so nothing was released.'
# A zip that holds a link, a file of another mode, another program or another file is not released, nor one whose
# file has another time.
zip_doing 'cp -p README.txt extra.txt; cp README.txt DesktopSwitch.exe; chmod 600 README.txt
ln -s README.txt SHA256SUMS.link; mv SHA256SUMS.link SHA256SUMS; touch -h -r extra.txt SHA256SUMS
set -- -y "$@" extra.txt' || set_up_failed zip
PATH=$work/tools:$PATH DESKTOPSWITCH_SIGN_PFX='' release 'only a zip that holds what was built and signed' 1 "" \
    'The zip does not hold exactly what was built and signed, so nothing was released. It held:' \
    '-rw------- 00-Jan-01 00:00 README.txt lrwxrwxrwx 00-Jan-01 00:00 SHA256SUMS -rw-r--r-- 00-Jan-01 00:00 extra.txt' \
    'DesktopSwitch.exe, which differs from what was built and signed' \
    'SHA256SUMS, which differs from what was built and signed'
zip_doing 'touch README.txt' || set_up_failed zip
PATH=$work/tools:$PATH DESKTOPSWITCH_SIGN_PFX='' release 'nor one dated otherwise' 1 "" \
    'The zip does not hold exactly what was built and signed, so nothing was released.'

DESKTOPSWITCH_SIGN_PASSWORD=wrong refused 'a wrong password' sign.pfx \
    "the certificate's private key could not be read." 'Mac verify error: invalid password?'
# The clock decides, not SOURCE_DATE_EPOCH, though it lies within the certificate's days.
SOURCE_DATE_EPOCH=1577880000 refused 'an expired certificate' old.pfx 'the certificate has expired.' \
    'subject=CN = Dated, valid until 2020-01-02 00:00:00Z'
refused 'an expired one in its chain' chain.pfx 'a certificate of its chain has expired.' \
    'subject=CN = Dated, valid until 2020-01-02 00:00:00Z'
refused 'one not valid yet' future.pfx 'the certificate is not valid yet.' \
    'subject=CN = Dated, valid from 2040-01-01 00:00:00Z'
refused 'one for commercial code signing' ms.pfx 'the certificate is not for code signing.' \
    'Microsoft Commercial Code Signing'
refused 'a key for encipherment' enc.pfx "the certificate's key usage does not allow digital signatures." \
    'Key Encipherment'
refused 'a 1024-bit RSA key' weak.pfx 'the certificate has an RSA key of 1024 bits, under the 2048 that signing needs.'
refused 'the first of two certificates on its key, which signs' twins.pfx 'the certificate is not for code signing.' \
    'TLS Web Server Authentication'
refused 'a certificate naming no signer' nameless.pfx 'the certificate names no signer.' 'localityName = Nowhere'
refused 'a FIFO' fifo 'DESKTOPSWITCH_SIGN_PFX is not a regular file.' "$work/fifo"
DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 refused 'an unreachable time-stamp server' sign.pfx \
    'osslsigncode refused.' 'RFC 3161 timestamping failed'

# SOURCE_DATE_EPOCH long before the certificate's days, at :59, dates the zip's files in its own minute; the clock
# finds the certificate valid.
expires=$(openssl x509 -in no.pem -noout -enddate -dateopt iso_8601)
DESKTOPSWITCH_SIGN_PASSWORD='' DESKTOPSWITCH_SIGN_PFX=$work/no.pfx SOURCE_DATE_EPOCH=1234567919 \
    release 'signed, without a time stamp or a password' 0 "$zip.zip $zip.zip.sha256" \
    "DesktopSwitch.exe is signed by No. It has no time stamp: its signature stops being valid when the certificate \
expires, on ${expires#notAfter=}."
new_row
unpack "$zip"
in_guide "$zip/README.txt" "       No"
same "the files' times" "09-Feb-13 23:31 09-Feb-13 23:31 09-Feb-13 23:31" \
    "$(listed "$zip.zip" | cut -d' ' -f2,3 | paste -sd ' ')"
report 'its guide names the signer, its files are dated by SOURCE_DATE_EPOCH'

# A certificate for code signing among other purposes, at a path relative to the sources holding ; ' [ ] * and a
# line end, time-stamped.
authority || set_up_failed "a time-stamp authority"
expires=$(openssl x509 -in sign.pem -noout -enddate -dateopt iso_8601)
DESKTOPSWITCH_SIGN_PFX=../$unusual DESKTOPSWITCH_SIGN_TIMESTAMP_URL=$timestamp_url \
    release 'signed and time-stamped' 0 "$zip.zip $zip.zip.sha256" \
    "DesktopSwitch.exe is signed by Tëst Signer. It is time-stamped: its signature stays valid after the certificate \
expires, on ${expires#notAfter=}."
new_row
unpack "$zip"
in_guide "$zip/README.txt" "       Tëst Signer"
# Ten days on, after the signing certificate has expired.
same "its signature" Succeeded "$(osslsigncode verify -CAfile sign.pem -TSA-CAfile tsa.pem \
    -time "$(($(date +%s) + 864000))" -in "$zip/DesktopSwitch.exe" 2>&1 | tail -1)"
report 'its guide names the signer, and its signature outlives the certificate'
# The signed program, where the 32-bit program runs: its wrong-argument line, Wine's pause, and -1.
choose_route || exit 2
if [ "$route" != 64-bit-only ]; then
    new_row
    set_up enter_route "$route"
    export WINEPREFIX=$build/wine-prefix
    if ! prefix_fits "$route"; then
        set_up make_prefix "$route"
    fi
    same "its run" $'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\r
Press any key to continue... \nexit code 255' \
        "$(wine "$zip/DesktopSwitch.exe" x </dev/null 2>/dev/null; printf '\nexit code %s' "$?")"
    report 'the signed program runs'
fi
finish
