#!/usr/bin/env bash
# The README's release, run in a copy of the sources whose path holds an apostrophe, an ampersand, parentheses and
# spaces, one row a case, each with what it expects beside it.
# Usage: release.sh SOURCE_DIR WINDOWS_BUILD VERSION
set -u
shopt -s nullglob
readonly src=$1 build=$2 version=$3 work=$2/release-check
source "$src/scripts/start.sh"
source "$src/scripts/wine_env.sh"
readonly zip=DesktopSwitch-$version-win32 released="Released build/release/DesktopSwitch-$version-win32"
real_zip=$(command -v zip) || exit 2
copy="$work/it's a copy & (1)"
releases=$copy/build/release
rows=0

# WHAT: a row failed; the check ends here.
fail() {
    printf 'not ok %s - %s\n%s\n' "$((rows + 1))" "$name" "$1" | sed '3,$s/^/    /'
    echo "$rows passed, 1 failed"
    exit 1
}
# WHAT EXPECTED GOT
same() {
    if [ "$2" != "$3" ]; then
        fail "$1: expected [$2], got [$3]"
    fi
}
ok() {
    rows=$((rows + 1))
    echo "ok $rows - $name"
}
# COMMAND...: a step of the check's own set-up; its failure ends the check, saying so, and nothing of the release.
set_up() {
    if ! "$@" 2>>"$run_folder/set-up.log"; then
        printf 'set-up: %s\n' "$*"
        tail -5 "$run_folder/set-up.log"
        exit 2
    fi
}
# What releases left in build/release: zips and their checksums, and the releases' own folders.
left() {
    local paths=("$releases"/DesktopSwitch-*.zip* "$releases"/desktopswitch-*)
    echo "${paths[*]##*/}"
}
# NAME STATUS LEFT LINE...: the release, its output kept in NAME.log, exits with STATUS, says each LINE (however its
# words are wrapped) and leaves LEFT in build/release.
release() {
    local status=0 line
    name=$1
    bash "$copy/scripts/release.sh" >"$work/$1.log" 2>&1 </dev/null || status=$?
    for line in "${@:4}"; do
        if [ "$status" != "$2" ] || [ "$(left)" != "$3" ] || ! tr -s ' \n' ' ' <"$work/$1.log" | grep -qF -- "$line"
        then
            fail "expected: exit code $2, \"$line\", left: [$3]
got: exit code $status, left: [$(left)], said:
$(tail -12 "$work/$1.log")"
        fi
    done
    ok
}
# NAME PFX REASON LINE...: a release signing with PFX, refused for REASON, that leaves nothing behind.
refused() {
    DESKTOPSWITCH_SIGN_PFX=$work/$2 release "$1" 1 "" \
        "Signing DesktopSwitch.exe failed, so nothing was packaged: $3" "${@:4}"
}
# NAME: the published zip NAME.zip, checked against the checksum published beside it, unpacked in NAME.
unpack() {
    same "$1.zip as published" "$1.zip: OK" "$(cd "$releases" && sha256sum -c "$1.zip.sha256" 2>&1)"
    rm -rf "$1"
    set_up unzip -q "$releases/$1.zip" -d "$1"
}
# GUIDE LINE: the guide holds LINE, ended by CR LF.
in_guide() {
    if ! grep -qxF "$2"$'\r' "$1"; then
        fail "no line \"$2\" in $1"
    fi
}
# PEM KEY [PASSWORD] [PFX]: the certificate and key as a PKCS#12 file.
pfx() { openssl pkcs12 -export -inkey "$2" -in "$1.pem" -passout "pass:${3-secret}" -out "${4-$1}.pfx"; }
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
# BODY: the zip that releases run from here on: the real one, after BODY has had its way with the staged files.
zip_doing() {
    printf '#!/bin/sh\n%s\nexec %s "$@"\n' "$1" "$real_zip" >"$work/tools/zip"
    chmod +x "$work/tools/zip"
}

own_run release-check || exit 2
rm -rf "$work"
set_up mkdir -p "$copy" "$work/tools"
# Without git: the sources may come from an archive, or sit inside another repository.
set_up tar -C "$src" --exclude=./build --exclude=./.git -cf "$work/sources.tar" .
set_up tar -C "$copy" -xf "$work/sources.tar"
cd "$work" || exit 2
# A certification authority's files, for openssl's ca and ts commands.
authority_files() {
    printf '%s\n' '[ca]' default_ca=ca '[ca]' unique_subject=no database=index new_certs_dir=. serial=serial \
        default_md=sha256 policy=p '[p]' commonName=supplied '[tsa]' default_tsa=t '[t]' serial=serial \
        signer_cert=tsa.pem signer_key=tsa.key signer_digest=sha256 default_policy=1.2.3.4 digests=sha256 \
        ess_cert_id_alg=sha256 >openssl.cnf || return
    : >index || return
    echo 01 >serial
}
set_up authority_files
readonly unusual=$'sign;it\'s [1]\n*.pfx'
set_up cert sign '/O=Example Org/CN=Tëst Signer' -days 2 -addext extendedKeyUsage=codeSigning,serverAuth
set_up cp sign.pfx "$unusual"
set_up cert ms '/OU=Code Signing/CN=Server' -days 2 -addext extendedKeyUsage=1.3.6.1.4.1.311.2.1.22
set_up cert enc /CN=Enc -days 2 -addext keyUsage=critical,keyEncipherment -addext extendedKeyUsage=codeSigning
set_up cert weak /CN=Weak -days 2 -newkey rsa:1024
set_up cert no /CN=No -days 2
set_up cert nameless /C=US/L=Nowhere -days 2
set_up pfx no no.key ''
set_up cert tsa /CN=TSA -days 3650 -addext extendedKeyUsage=critical,timeStamping
set_up openssl req -new -key sign.key -subj /CN=Dated -out sign.csr
set_up dated old 20200101000000Z 20200102000000Z
set_up dated future 20400101000000Z 20400102000000Z
set_up mkfifo fifo
# A valid leaf issued by the expired certificate.
set_up openssl req -new -key no.key -subj /CN=Leaf -out leaf.csr
set_up openssl x509 -req -in leaf.csr -CA old.pem -CAkey sign.key -days 2 -out leaf.pem
set_up openssl pkcs12 -export -inkey no.key -in leaf.pem -certfile old.pem -passout pass:secret -out chain.pfx
export DESKTOPSWITCH_SIGN_PASSWORD=secret DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx

# A time-stamp authority on the loopback address, for one request, made of openssl's ts commands; given an argument,
# one that takes the request and never answers. It says its port on its first line.
authority='import http.server as h, subprocess, sys, time
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
silent='' answering=''
# NAME [silent]: an authority's address in NAME, once its port is read, within 30 s.
authority() {
    local port
    exec {server}< <(python3 -c "$authority" "${@:2}" 2>/dev/null)
    read -r -t 30 -u "$server" port || return
    printf -v "$1" 'http://127.0.0.1:%s/a;b' "$port"
}

# NAME: a release started in the background that signs, held there by an authority that never answers, its output
# kept in NAME.log. Sets signing, its process, and password, its password file, once it is there (within 120 s: the
# first release in the copy builds first).
signing_release() {
    local passwords=()
    set_up authority silent silent
    DESKTOPSWITCH_SIGN_TIMESTAMP_URL=$silent setsid bash "$copy/scripts/release.sh" >"$1.log" 2>&1 </dev/null &
    signing=$!
    SECONDS=0
    while [ ${#passwords[@]} = 0 ] && kill -0 "$signing" 2>/dev/null && [ "$SECONDS" -lt 120 ]; do
        sleep 0.1
        passwords=("$releases"/desktopswitch-release.*/secret/password)
    done
    if [ ${#passwords[@]} = 0 ]; then
        fail "no release signing within 120 s: $(tail -5 "$1.log")"
    fi
    password=${passwords[0]}
}
# SIGNAL: once that release has got SIGNAL, sent to its process group, nothing of it is left within 10 s.
ends_with_nothing_left() {
    kill "-$1" -- "-$signing"
    SECONDS=0
    while [ -n "$(left)" ] || kill -0 "$signing" 2>/dev/null; do
        if [ "$SECONDS" -ge 10 ]; then
            fail "after SIG$1, 10 s on: left [$(left)], $(ps -o pid=,args= -s "$signing")"
        fi
        sleep 0.1
    done
}

# The first release in the fresh copy, holding its tree, and a lock record there as a copied checkout has one: it
# names a live process that holds, at that descriptor, a lock on another tree's file. It must name nobody.
exec {other_tree}>>"$work/lock"
set_up flock "$other_tree"
set_up mkdir "$copy/build"
echo "$$ $other_tree test command" >"$copy/build/lock"
name='a copied lock record names nobody, and a release signs'
signing_release interrupted
ok
holder=${password%/secret/password}
release 'a second release stops at once, naming the first' 1 "${holder##*/}" \
    "The release (process $signing) is using this checkout's build tree, so the release stopped;" \
    "kill $signing ends it."
name='a password only its owner reads'
same "the password's mode" 600 "$(stat -c %a "$password")"
ok
name='Ctrl+C while signing leaves nothing, and says so'
ends_with_nothing_left INT
same "the last line" "Stopped by SIGINT; every process of this run has ended." "$(tail -1 interrupted.log)"
ok
name='SIGKILL while signing leaves nothing'
signing_release killed
ends_with_nothing_left KILL
ok

DESKTOPSWITCH_SIGN_PFX='' release 'unsigned, published with its checksum' 0 \
    "$zip-unsigned.zip $zip-unsigned.zip.sha256" \
    'DesktopSwitch.exe is unsigned: set DESKTOPSWITCH_SIGN_PFX and DESKTOPSWITCH_SIGN_PASSWORD to sign it.' \
    "$released-unsigned.zip, and beside it its checksum for the release page."
unpack "$zip-unsigned"
name='the unsigned zip: its files, modes and times, the program as built, its version, the guide in CR LF'
same "the zip's files" "-rw-r--r-- 00-Jan-01 00:00 DesktopSwitch.exe
-rw-r--r-- 00-Jan-01 00:00 README.txt
-rw-r--r-- 00-Jan-01 00:00 SHA256SUMS" \
    "$(zipinfo "$releases/$zip-unsigned.zip" | sed '1,2d;$d' | awk '{ print $1, $7, $8, $9 }')"
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
found=$(i686-w64-mingw32-windres -i "$zip-unsigned/DesktopSwitch.exe" -O rc | sed 's/^ *//' | grep -xF "$resource")
same "the version resource of $version" "$resource" "$found"
same "CR LF in every line of the guide" "$(wc -l <"$zip-unsigned/README.txt")" \
    "$(grep -c $'\r$' "$zip-unsigned/README.txt")"
in_guide "$zip-unsigned/README.txt" "2. This release is UNSIGNED: DesktopSwitch.exe has no Digital Signatures tab."
ok
set_up cp "$releases/$zip-unsigned.zip" "$releases/$zip-unsigned.zip.sha256" "$work/"

# One commit, one zip: a moved checkout, configured afresh under settings that would steer the build, the zip tools
# and the clock's zone, with a restrictive umask, releases the same bytes.
set_up mv "$copy" "$work/moved"
copy=$work/moved
releases=$copy/build/release
umask=$(umask)
umask 077
CFLAGS=-O0 CXXFLAGS='-O2 -march=native' CPPFLAGS=-DNDEBUG RCFLAGS=-DX LDFLAGS='-Wl,-z,relro -Wl,-z,now' \
    CMAKE_INSTALL_MODE=ABS_SYMLINK CMAKE_BUILD_TYPE=Debug CMAKE_GENERATOR=Ninja CMAKE_CXX_COMPILER_LAUNCHER=false \
    MAKEFLAGS=-n LIBRARY_PATH=/nowhere CPATH=/nowhere ZIPOPT=-9 TZ=Pacific/Kiritimati DESKTOPSWITCH_SIGN_PFX='' \
    release 'a moved checkout releases, steered by nothing in the environment' 0 \
    "$zip-unsigned.zip $zip-unsigned.zip.sha256" "$released-unsigned.zip"
umask "$umask"
name='the same zip and checksum'
same "the zip" "" "$(cmp "$work/$zip-unsigned.zip" "$releases/$zip-unsigned.zip" 2>&1)"
same "the checksum" "" "$(cmp "$work/$zip-unsigned.zip.sha256" "$releases/$zip-unsigned.zip.sha256" 2>&1)"
ok
set_up cp "$copy/app/main.cpp" main.cpp
echo '#error not today' >>"$copy/app/main.cpp"
DESKTOPSWITCH_SIGN_PFX='' release 'one that cannot compile leaves no zip, not even the last one' 2 "" \
    '#error not today'
set_up cp main.cpp "$copy/app/main.cpp"
SOURCE_DATE_EPOCH=1e9 release 'a SOURCE_DATE_EPOCH that is no time stops it' 1 "" \
    'SOURCE_DATE_EPOCH is "1e9", not a time a zip holds (seconds since 1970, from 1980 to 2107),' \
    'so nothing was released.'

# Only a zip that holds what was built and signed is released.
export PATH=$work/tools:$PATH DESKTOPSWITCH_SIGN_PFX=''
zip_doing 'ln -s README.txt SHA256SUMS.link; mv SHA256SUMS.link SHA256SUMS; set -- -y "$@"'
release 'a zip holding a link is not released' 1 "" \
    'The zip does not hold exactly what was built and signed, so nothing was released. It held:' \
    '-rw-r--r-- DesktopSwitch.exe -rw-r--r-- README.txt lrwxrwxrwx SHA256SUMS SHA256SUMS, which differs'
zip_doing 'chmod 600 README.txt'
release 'nor one holding a file of another mode' 1 "" '-rw------- README.txt'
zip_doing 'cp README.txt DesktopSwitch.exe'
release 'nor one holding another program' 1 "" 'DesktopSwitch.exe, which differs from what was built and signed'
zip_doing 'cp README.txt extra.txt; set -- "$@" extra.txt'
release 'nor one holding another file' 1 "" '-rw-r--r-- SHA256SUMS -rw-r--r-- extra.txt'
zip_doing ''
export DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx

DESKTOPSWITCH_SIGN_PASSWORD=wrong refused 'a wrong password' sign.pfx \
    "the certificate's private key could not be read." 'Mac verify error: invalid password?'
refused 'an expired certificate' old.pfx \
    'the certificate has expired.' 'subject=CN = Dated, valid until 2020-01-02 00:00:00Z'
# The clock decides, not SOURCE_DATE_EPOCH: a time within the certificate's days changes nothing.
SOURCE_DATE_EPOCH=1577880000 refused 'an expired certificate, whatever SOURCE_DATE_EPOCH says' old.pfx \
    'the certificate has expired.'
refused 'an expired certificate in its chain' chain.pfx \
    'a certificate of its chain has expired.' 'subject=CN = Dated, valid until 2020-01-02 00:00:00Z'
refused 'a certificate not valid yet' future.pfx \
    'the certificate is not valid yet.' 'subject=CN = Dated, valid from 2040-01-01 00:00:00Z'
refused 'a certificate for commercial code signing only' ms.pfx \
    'the certificate is not for code signing.' 'Microsoft Commercial Code Signing'
refused 'a key for encipherment only' enc.pfx \
    "the certificate's key usage does not allow digital signatures." 'Key Encipherment'
refused 'a 1024-bit RSA key' weak.pfx \
    'the certificate has an RSA key of 1024 bits, under the 2048 that signing needs.'
refused 'a certificate that names no signer' nameless.pfx \
    'the certificate names no signer.' 'localityName = Nowhere'
refused 'a FIFO for a certificate' fifo \
    'DESKTOPSWITCH_SIGN_PFX is not a regular file.' "$work/fifo"
DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 refused 'an unreachable time-stamp server' sign.pfx \
    'osslsigncode refused.' 'RFC 3161 timestamping failed'

# Signed by "No", without password or time stamp, with SOURCE_DATE_EPOCH long before the certificate's days: that
# dates the zip's files, and the clock still finds the certificate valid.
expires=$(openssl x509 -in no.pem -noout -enddate -dateopt iso_8601)
DESKTOPSWITCH_SIGN_PASSWORD='' DESKTOPSWITCH_SIGN_PFX=$work/no.pfx SOURCE_DATE_EPOCH=1234567890 \
    release 'signed, without a time stamp or a password' 0 "$zip.zip $zip.zip.sha256" \
    "DesktopSwitch.exe is signed by No. It has no time stamp: its signature stops being valid when the certificate \
expires, on ${expires#notAfter=}."
unpack "$zip"
name='its guide names the signer, its files are dated by SOURCE_DATE_EPOCH'
in_guide "$zip/README.txt" "       No"
same "the files' times" "09-Feb-13 23:31 09-Feb-13 23:31 09-Feb-13 23:31" \
    "$(zipinfo "$releases/$zip.zip" | sed '1,2d;$d' | awk '{ print $7, $8 }' | paste -sd ' ')"
ok

# From a path relative to the sources that holds ; ' [ ] * and a line end, with a certificate for code signing among
# other purposes, time-stamped by an authority on the loopback address whose address holds a ;.
set_up authority answering
expires=$(openssl x509 -in sign.pem -noout -enddate -dateopt iso_8601)
DESKTOPSWITCH_SIGN_PFX=../$unusual DESKTOPSWITCH_SIGN_TIMESTAMP_URL=$answering \
    release 'signed and time-stamped' 0 "$zip.zip $zip.zip.sha256" \
    "DesktopSwitch.exe is signed by Tëst Signer. It is time-stamped: its signature stays valid after the certificate \
expires, on ${expires#notAfter=}."
unpack "$zip"
name='its guide names the signer, and its signature outlives the certificate'
in_guide "$zip/README.txt" "       Tëst Signer"
# Ten days on, after the signing certificate has expired.
later=$(($(date +%s) + 864000))
verified=$(osslsigncode verify -CAfile sign.pem -TSA-CAfile tsa.pem -time "$later" -in "$zip/DesktopSwitch.exe" 2>&1)
same "a time-stamped signature that outlives its certificate" Succeeded "$(tail -1 <<<"$verified")"
ok
# The signed program, where the 32-bit program runs.
choose_route || exit 2
if [ "$route" != 64-bit-only ]; then
    name='the signed program runs'
    set_up enter_route "$route"
    export WINEPREFIX=$build/wine-prefix
    if ! prefix_fits "$route"; then
        set_up make_prefix "$route"
    fi
    ran=$(wine "$zip/DesktopSwitch.exe" x </dev/null 2>/dev/null; printf '\nexit code %s' "$?")
    # The line for a wrong argument, the pause as Wine's command interpreter words it, and -1.
    expected=$'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\r\n'
    expected+=$'Press any key to continue... \nexit code 255'
    same "its run" "$expected" "$ran"
    ok
fi
echo "$rows passed, 0 failed"
