#!/usr/bin/env bash
# The README's release, from a copy of the sources under a path that a glob misreads, with a temporary directory
# under such a path too: interrupted while signing, when a second release stops at once; unsigned; refused for each
# bad password, certificate, path or time-stamp server; signed by "No"; time-stamped, then run. None leaves anything
# behind. Usage: release.sh SOURCE_DIR WINDOWS_BUILD VERSION
set -u
src=$1
build=$2
version=$3
work=$build/release-check
copy="$work/a copy [1] of the sources"
releases=$copy/build/release
zip=DesktopSwitch-$version-win32
source "$src/scripts/wine_env.sh"
# Wine's server socket needs a short path: Wine keeps the temporary directory the run was given.
wine_tmp=${TMPDIR:-/tmp}

fail() {
    echo "not ok: expected $1, got $2"
    echo "0 passed, 1 failed"
    exit 1
}
# WHAT COMMAND...: COMMAND must succeed, or the check fails, expecting WHAT.
expect() { "${@:2}" || fail "$1" "$(tail -4 "$work/$log.log" 2>/dev/null; left)"; }
# LOG: a release, what it said in LOG.log, which expect and said read.
log=
release() {
    log=$1
    (cd "$copy" && cmake --workflow --preset release) >"$work/$1.log" 2>&1
}
# What releases leave: zips and their sums, a password, a staging record; anything in the temporary directory.
left() {
    ls "$releases" | grep -E 'DesktopSwitch-|signing|staged-elsewhere' | tr '\n' ' '
    ls -A "$TMPDIR" | tr '\n' ' '
}
sums_match() { (cd "$1" && sha256sum -c --quiet "$2"); }  # FOLDER SUMS_FILE
matches() { [[ $1 == $2 ]]; }  # TEXT PATTERN
said() { tr -s ' \n' ' ' <"$work/$log.log" | grep -q "$1"; }
# LOG REASON: the release stopped with its reason, leaving nothing behind.
refused() {
    release "$1"
    expect "$2" test "$?" != 0
    expect "$2" said "$2"
    expect "$2, nothing left" test -z "$(left)"
}
# NAME: the zip, checked against the sum published beside it, and its 3 files against theirs; CR LF in the guide.
unpack() {
    expect "$1.zip as published" sums_match "$releases" "$1.zip.sha256"
    unzip -q "$releases/$1.zip" -d "$1"
    expect "the sums of $1.zip's files" sums_match "$1" SHA256SUMS
    expect "CR LF in every line of README.txt" test "$(grep -c $'\r$' "$1/README.txt")" = "$(wc -l <"$1/README.txt")"
}
# SCRIPT: a Python server on the loopback address; sets port once it says it. Each server is stopped on exit.
servers=()
trap 'kill "${servers[@]}" 2>/dev/null' EXIT
serve() {
    rm -f port
    python3 -c "$1" >port 2>/dev/null &
    servers+=($!)
    for _ in $(seq 1200); do
        if [ -s port ]; then
            port=$(cat port)
            return
        fi
        sleep 0.1
    done
    fail "a server's port" none
}
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

rm -rf "$work"
mkdir -p "$copy" "$work/tmp [1]"
(cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$copy")
cd "$work" || exit 1
export TMPDIR="$work/tmp [1]"  # where a release's leftovers would show, under a path that a glob misreads
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
if [ ! -s chain.pfx ]; then
    fail certificates none
fi
export DESKTOPSWITCH_SIGN_PASSWORD=secret DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx

# A time-stamp server that takes the request and never answers: the password waits, for its owner only.
serve 'import socket, time
s = socket.create_server(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True)
held = s.accept()
time.sleep(600)'
(cd "$copy" && DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port exec setsid cmake --workflow --preset release) \
    >interrupted.log 2>&1 &
interrupted=$!
for _ in $(seq 1200); do
    if [ -e "$releases/signing/password" ]; then
        break
    fi
    sleep 0.1
done
release busy
expect "a second release in the tree refused" test "$?" != 0
expect "a second release refused at once" said 'Another release is running in this build tree'
expect "an owner-only password while signing" test "$(stat -c %a "$releases/signing/password")" = 600
kill -INT -- -"$interrupted"
wait "$interrupted"
expect "the password left by Ctrl+C" test -n "$(left)"

DESKTOPSWITCH_SIGN_PFX= release unsigned
expect "only the unsigned zip and its sum" test "$(left)" = "$zip-unsigned.zip $zip-unsigned.zip.sha256 "
expect "a release said unsigned" said 'DesktopSwitch.exe is unsigned'
unpack "$zip-unsigned"
expect "a guide that says UNSIGNED" grep -q UNSIGNED "$zip-unsigned/README.txt"
expect "the windows build's program" cmp "$zip-unsigned/DesktopSwitch.exe" "$build/DesktopSwitch.exe"
resources=$(i686-w64-mingw32-windres -i "$zip-unsigned/DesktopSwitch.exe" -O rc)
version_lines=$(grep -cF -e "VERSION ${version//./, }, 0" -e "Version\", \"$version\"" \
    -e '"CompanyName", "The DesktopSwitch developers"' -e 'Translation", 0x409, 1200' <<<"$resources")
expect "the version resource of $version" test "$version_lines" = 6

# Each refusal also proves that the unsigned zip before it was removed.
DESKTOPSWITCH_SIGN_PASSWORD=wrong refused wrong 'invalid password'
DESKTOPSWITCH_SIGN_PFX=$work/old.pfx refused expired 'the certificate has expired'
DESKTOPSWITCH_SIGN_PFX=$work/chain.pfx refused chain 'a certificate of its chain has expired'
DESKTOPSWITCH_SIGN_PFX=$work/future.pfx refused future 'the certificate is not valid yet'
DESKTOPSWITCH_SIGN_PFX=$work/ms.pfx refused ms 'the certificate is not for code signing'
DESKTOPSWITCH_SIGN_PFX=$work/enc.pfx refused enc "the certificate's key usage does not allow digital signatures"
DESKTOPSWITCH_SIGN_PFX=$work/weak.pfx refused weak 'the certificate has an RSA key of 1024 bits'
DESKTOPSWITCH_SIGN_PFX=$work/fifo refused fifo 'DESKTOPSWITCH_SIGN_PFX is not a regular file'
DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 refused silent 'RFC 3161 timestamping failed'

DESKTOPSWITCH_SIGN_PASSWORD= DESKTOPSWITCH_SIGN_PFX=$work/no.pfx release no
expect 'a release signed by "No"' test "$(left)" = "$zip.zip $zip.zip.sha256 "
expect 'a signer named "No", without a time stamp' said "DesktopSwitch.exe is signed by No. It has no time stamp: \
its signature stops being valid when the certificate expires, on 20"
expect 'the guide naming "No"' grep -q $'^       No\r$' <(unzip -p "$releases/$zip.zip" README.txt)

# A time-stamp authority on the loopback address, for one request, made of openssl's ts commands.
serve 'import http.server as h, subprocess
class Authority(h.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        ts = "openssl ts -reply -config openssl.cnf -queryfile /dev/stdin".split()
        reply = subprocess.run(ts, input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)
server = h.HTTPServer(("127.0.0.1", 0), Authority)
print(server.server_port, flush=True)
server.handle_request()'
# From a path relative to the sources, with a certificate for code signing among other purposes.
DESKTOPSWITCH_SIGN_PFX=../sign.pfx DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port release signed
expect "signed and time-stamped" said 'It is time-stamped: its signature stays valid after the certificate expires'
unpack "$zip"
expect "the signer named in README.txt" grep -q '^       Tëst Signer'$'\r$' "$zip/README.txt"
expect "the signed zip and its sum, and nothing in the temporary directory" test "$(left)" = "$zip.zip $zip.zip.sha256 "
# Ten days on, after the signing certificate has expired.
later=$(($(date +%s) + 864000))
expect "a time-stamped signature that outlives its certificate" \
    osslsigncode verify -CAfile sign.pem -TSA-CAfile tsa.pem -time "$later" -in "$zip/DesktopSwitch.exe"
# The signed program, where the 32-bit program runs: the line for a wrong argument, the pause, -1.
route_said=$(wine_route)
route=$(route_name "$route_said")
if [ "$route" != 64-bit-only ]; then
    enter_route "$route"
    export WINEPREFIX=$build/wine-prefix TMPDIR=$wine_tmp
    if ! prefix_fits "$route"; then
        make_prefix "$route"
    fi
    ran=$(wine "$zip/DesktopSwitch.exe" x </dev/null 2>/dev/null; echo "rc=$?")
    wineserver -k
    wrong=$'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\r\nPress any key'
    expect "the signed program's line for a wrong argument, the pause and -1" matches "$ran" "$wrong*rc=255"
fi
echo "1 passed, 0 failed"
