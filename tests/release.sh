#!/usr/bin/env bash
# The README's release, from a copy of the sources under a path that a glob misreads, with a temporary directory
# under such a path too, each case as tests/README.md lists it; none leaves anything behind.
# Usage: release.sh SOURCE_DIR WINDOWS_BUILD VERSION
set -u
readonly src=$1 build=$2 version=$3
readonly work=$build/release-check zip=DesktopSwitch-$version-win32
readonly copy="$work/a copy [1] of the sources" releases="$work/a copy [1] of the sources/build/release"
source "$src/scripts/wine_env.sh"
# Wine's server socket needs a short path: Wine keeps the temporary directory the run was given.
wine_tmp=${TMPDIR:-/tmp}

fail() {
    printf 'not ok: expected %s, got %s\n0 passed, 1 failed\n' "$1" "$2"
    exit 1
}
same() { [ "$2" = "$3" ] || fail "$1: $2" "$3"; }  # WHAT EXPECTED GOT
# What releases leave: zips and their sums, a password, a staging record; anything in the temporary directory.
left() { { ls "$releases" | grep -E 'DesktopSwitch-|signing|staged-elsewhere'; ls -A "$TMPDIR"; } | paste -sd ' '; }
# NAME STATUS LEFT LINE...: a release, kept in NAME.log, that ends with STATUS and says each LINE, wherever CMake
# wraps it, after which left says LEFT.
release() {
    local status line
    (cd "$copy" && cmake --workflow --preset release) >"$1.log" 2>&1
    status=$?
    for line in "${@:4}"; do
        if [ "$status" != "$2" ] || [ "$(left)" != "$3" ] || ! tr -s ' \n' ' ' <"$1.log" | grep -qF -- "$line"; then
            fail "exit code $2, \"$line\", left: $3" "exit code $status, $(tail -12 "$1.log"), left: $(left)"
        fi
    done
}
# NAME PFX REASON LINE...: a release signing with PFX, refused for REASON, that leaves nothing behind.
refused() {
    DESKTOPSWITCH_SIGN_PFX=$work/$2 release "$1" 1 "" "Signing DesktopSwitch.exe failed, so nothing was packaged: $3" \
        "${@:4}"
}
# NAME: the zip, checked against the sum published beside it, and its program against SHA256SUMS; CR LF in the guide.
unpack() {
    same "$1.zip as published" "$1.zip: OK" "$(cd "$releases" && sha256sum -c "$1.zip.sha256" 2>&1)"
    unzip -q "$releases/$1.zip" -d "$1"
    same "the sums of $1.zip's files" "DesktopSwitch.exe: OK" "$(cd "$1" && sha256sum -c SHA256SUMS 2>&1)"
    same "CR LF in every line of README.txt" "$(wc -l <"$1/README.txt")" "$(grep -c $'\r$' "$1/README.txt")"
}
# GUIDE LINE: the guide holds LINE, ended by CR LF; otherwise the check shows the guide's step 2.
in_guide() { grep -qxF "$2"$'\r' "$1" || fail "\"$2\" in $1" "$(sed -n '/^2\. /,/^Do not/p' "$1")"; }
# PEM KEY [PASSWORD] [PFX]: the certificate and key as a PKCS#12 file.
pfx() { openssl pkcs12 -export -inkey "$2" -in "$1.pem" -passout "pass:${3-secret}" -out "${4-$1}.pfx"; }
# NAME SUBJECT OPTION...: a key and a self-signed certificate, both in NAME.pfx.
cert() {
    openssl req -x509 -newkey rsa:2048 -nodes -utf8 -subj "$2" -keyout "$1.key" -out "$1.pem" "${@:3}" 2>/dev/null
    pfx "$1" "$1.key"
}
# NAME START END: sign.key's certificate for those dates.
dated() {
    openssl ca -batch -config openssl.cnf -selfsign -keyfile sign.key -in sign.csr -startdate "$2" -enddate "$3" \
        -out "$1.pem" 2>/dev/null
    pfx "$1" sign.key
}

# Where a release's leftovers would show, under a path that a glob misreads, outside the checkout: MinGW's driver
# leaves files behind in a TMPDIR whose path holds "=".
release_tmp=$(mktemp -d "$wine_tmp/release.XXXXXX")
export TMPDIR="$release_tmp/tmp [1]"
trap 'pkill -P $$; rm -rf "$release_tmp"' EXIT  # the servers below, on the loopback address, end with this script
rm -rf "$work"
mkdir -p "$copy" "$TMPDIR"
# Without git: the sources may come from an archive, or sit inside another repository.
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
cd "$work" || exit 1
printf '%s\n' '[ca]' default_ca=ca '[ca]' unique_subject=no database=index new_certs_dir=. serial=serial \
    default_md=sha256 policy=p '[p]' commonName=supplied '[tsa]' default_tsa=t '[t]' serial=serial \
    signer_cert=tsa.pem signer_key=tsa.key signer_digest=sha256 default_policy=1.2.3.4 digests=sha256 \
    ess_cert_id_alg=sha256 >openssl.cnf
: >index
echo 01 >serial
cert sign '/O=Example Org/CN=Tëst Signer' -days 2 -addext extendedKeyUsage=codeSigning,serverAuth
cert ms '/OU=Code Signing/CN=Server' -days 2 -addext extendedKeyUsage=1.3.6.1.4.1.311.2.1.22
cert enc /CN=Enc -days 2 -addext keyUsage=critical,keyEncipherment -addext extendedKeyUsage=codeSigning
cert weak /CN=Weak -days 2 -newkey rsa:1024
cert no /CN=No -days 2
pfx no no.key ''
cert tsa /CN=TSA -days 3650 -addext extendedKeyUsage=critical,timeStamping
openssl req -new -key sign.key -subj /CN=Dated -out sign.csr
dated old 20200101000000Z 20200102000000Z
dated future 20400101000000Z 20400102000000Z
mkfifo fifo
# A valid leaf issued by the expired certificate.
openssl req -new -key no.key -subj /CN=Leaf -out leaf.csr
openssl x509 -req -in leaf.csr -CA old.pem -CAkey sign.key -days 2 -out leaf.pem 2>/dev/null
openssl pkcs12 -export -inkey no.key -in leaf.pem -certfile old.pem -passout pass:secret -out chain.pfx
[ -s chain.pfx ] || fail "the throwaway certificates" none
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
# The silent one: the password waits, for its owner only. Each port is read within 30 s, unless its server ends.
exec {silent}< <(python3 -c "$authority" silent 2>/dev/null)
read -r -t 30 -u "$silent" silent_port || fail "the silent server's port" nothing
(cd "$copy" && DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$silent_port exec setsid cmake --workflow \
    --preset release) >interrupted.log 2>&1 &
interrupted=$!
# Until it signs, while it runs, for at most 120 s: it builds the release tree first.
SECONDS=0
while [ ! -e "$releases/signing/password" ] && kill -0 "$interrupted" 2>/dev/null && [ "$SECONDS" -lt 120 ]; do
    sleep 0.1
done
release busy 1 "signing staged-elsewhere" "Another release is running in this build tree, so nothing was packaged."
same "an owner-only password while signing" 600 "$(stat -c %a "$releases/signing/password")"
kill -INT -- -"$interrupted"
timeout 20 tail --pid="$interrupted" -s 0.1 -f /dev/null  # until it has ended, for at most 20 s
same "the password and staging record left by Ctrl+C" "signing staged-elsewhere" "$(left)"

DESKTOPSWITCH_SIGN_PFX= release unsigned 0 "$zip-unsigned.zip $zip-unsigned.zip.sha256" \
    'DesktopSwitch.exe is unsigned: set DESKTOPSWITCH_SIGN_PFX and DESKTOPSWITCH_SIGN_PASSWORD to sign it.'
unpack "$zip-unsigned"
in_guide "$zip-unsigned/README.txt" "2. This release is UNSIGNED: DesktopSwitch.exe has no Digital Signatures tab."
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

# Each refusal also proves that the unsigned zip before it was removed.
DESKTOPSWITCH_SIGN_PASSWORD=wrong refused wrong sign.pfx "the certificate's private key could not be read." \
    'Mac verify error: invalid password?'
refused expired old.pfx 'the certificate has expired.' 'subject=CN = Dated, valid until 2020-01-02 00:00:00Z'
refused chain chain.pfx 'a certificate of its chain has expired.' 'subject=CN = Dated, valid until 2020-01-02 00:00:00Z'
refused future future.pfx 'the certificate is not valid yet.' 'subject=CN = Dated, valid from 2040-01-01 00:00:00Z'
refused ms ms.pfx 'the certificate is not for code signing.' 'Microsoft Commercial Code Signing'
refused enc enc.pfx "the certificate's key usage does not allow digital signatures." 'Key Encipherment'
refused weak weak.pfx 'the certificate has an RSA key of 1024 bits, under the 2048 that signing needs.'
refused fifo fifo 'DESKTOPSWITCH_SIGN_PFX is not a regular file.' "$work/fifo"
DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 refused silent sign.pfx 'osslsigncode refused.' \
    'RFC 3161 timestamping failed'

expires=$(openssl x509 -in no.pem -noout -enddate -dateopt iso_8601)
DESKTOPSWITCH_SIGN_PASSWORD= DESKTOPSWITCH_SIGN_PFX=$work/no.pfx release no 0 "$zip.zip $zip.zip.sha256" \
    "DesktopSwitch.exe is signed by No. It has no time stamp: its signature stops being valid when the \
certificate expires, on ${expires#notAfter=}."
unzip -q "$releases/$zip.zip" README.txt -d no
in_guide no/README.txt "       No"

exec {answering}< <(python3 -c "$authority" 2>/dev/null)
read -r -t 30 -u "$answering" authority_port || fail "the time-stamp authority's port" nothing
expires=$(openssl x509 -in sign.pem -noout -enddate -dateopt iso_8601)
# From a path relative to the sources, with a certificate for code signing among other purposes.
DESKTOPSWITCH_SIGN_PFX=../sign.pfx DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$authority_port release signed 0 \
    "$zip.zip $zip.zip.sha256" "DesktopSwitch.exe is signed by Tëst Signer. It is time-stamped: its signature stays \
valid after the certificate expires, on ${expires#notAfter=}."
unpack "$zip"
in_guide "$zip/README.txt" "       Tëst Signer"
# Ten days on, after the signing certificate has expired.
later=$(($(date +%s) + 864000))
verified=$(osslsigncode verify -CAfile sign.pem -TSA-CAfile tsa.pem -time "$later" -in "$zip/DesktopSwitch.exe" 2>&1)
same "a time-stamped signature that outlives its certificate" Succeeded "$(tail -1 <<<"$verified")"
# The signed program, where the 32-bit program runs.
route=$(route_name "$(wine_route)")
if [ "$route" != 64-bit-only ]; then
    enter_route "$route"
    export WINEPREFIX=$build/wine-prefix TMPDIR=$wine_tmp
    if ! prefix_fits "$route"; then
        make_prefix "$route"
    fi
    ran=$(wine "$zip/DesktopSwitch.exe" x </dev/null 2>/dev/null; printf '\nexit code %s' "$?")
    wineserver -k
    # The line for a wrong argument, the pause as Wine's command interpreter words it, and -1.
    expected=$'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\r\n'
    expected+=$'Press any key to continue... \nexit code 255'
    same "the signed program's run" "$expected" "$ran"
fi
echo "1 passed, 0 failed"
