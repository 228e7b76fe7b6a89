#!/usr/bin/env bash
# The README's release from a copy of the sources under a path a glob misreads: interrupted while signing, when a second
# stops at once; unsigned; refused for each bad password, certificate, path or time-stamp server; by "No"; time-stamped,
# then run. None leaves anything in the temporary directory. Usage: release.sh SOURCE_DIR WINDOWS_BUILD VERSION
set -u
src=$1 build=$2 version=$3 work=$2/release-check
copy="$work/a copy [1] of the sources" zip=DesktopSwitch-$version-win32
export WINEPREFIX=$build/wine-prefix && source "$src/scripts/wine_env.sh"
fail() { echo "FAIL: expected $1, got $2"; exit 1; }
release() { (cd "$copy" && cmake --workflow --preset release) >"$work/$1.log" 2>&1; }  # LOG
left() { { ls "$copy/build/release" | grep -E 'DesktopSwitch-|signing'; ls -A "$TMPDIR"; } | tr '\n' ' '; }  # zips, password, staging
refused() {  # LOG REASON: the release stopped with its reason, leaving no zip, password or staging directory behind
    release "$1" && fail "$2" made
    tr -s ' \n' ' ' <"$work/$1.log" | grep -q "$2" && [ -z "$(left)" ] || fail "$2, nothing left" "$(tail -4 "$work/$1.log"; left)"
}
unpack() {  # NAME: the zip, checked against the sum published beside it, and its 3 files against theirs; CR LF
    (cd "$copy/build/release" && sha256sum -c --quiet "$1.zip.sha256") && unzip -q "$copy/build/release/$1.zip" -d "$1" &&
        [ "$(ls "$1" | tr '\n' ' ')" = "DesktopSwitch.exe README.txt SHA256SUMS " ] && (cd "$1" && sha256sum -c --quiet SHA256SUMS) &&
        [ "$(grep -c $'\r$' "$1/README.txt")" = "$(wc -l <"$1/README.txt")" ] || fail "$1.zip as published" "$(ls "$1")"
}
serve() {  # SCRIPT: a Python server on the loopback address, $server; $port once it says it
    rm -f port && { python3 -c "$1" >port 2>/dev/null & } && server=$! && trap 'kill $server 2>/dev/null' EXIT
    for _ in $(seq 1200); do [ -s port ] && port=$(cat port) && return; sleep 0.1; done; fail "a server's port" none
}
pfx() { openssl pkcs12 -export -inkey "$2" -in "$1.pem" -passout "pass:${3-secret}" -out "${4-$1}.pfx"; }  # PEM KEY [PASS] [PFX]
cert() {  # NAME SUBJECT OPTION...: a key and a self-signed certificate, both in NAME.pfx
    openssl req -x509 -newkey rsa:2048 -nodes -utf8 -subj "$2" -keyout "$1.key" -out "$1.pem" "${@:3}" 2>/dev/null && pfx "$1" "$1.key"
}
dated() { openssl ca -batch -config openssl.cnf -selfsign -keyfile sign.key -in sign.csr -startdate "$2" -enddate "$3" \
    -out "$1.pem" 2>/dev/null && pfx "$1" sign.key; }  # NAME START END: sign.key's certificate for those dates
rm -rf "$work" && mkdir -p "$copy" "$work/tmp" && (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$copy") && cd "$work"
export TMPDIR=$work/tmp  # where a release's leftovers would show
printf '%s\n' '[ca]' default_ca=ca '[ca]' unique_subject=no database=index new_certs_dir=. serial=serial default_md=sha256 policy=p \
    '[p]' commonName=supplied '[tsa]' default_tsa=t '[t]' serial=serial signer_cert=tsa.pem signer_key=tsa.key \
    signer_digest=sha256 default_policy=1.2.3.4 digests=sha256 ess_cert_id_alg=sha256 >openssl.cnf
: >index && echo 01 >serial && cert sign '/O=Example Org/CN=Tëst Signer' -days 2 -addext extendedKeyUsage=codeSigning &&
    cert ms '/OU=Code Signing/CN=Server' -days 2 -addext extendedKeyUsage=1.3.6.1.4.1.311.2.1.22 &&
    cert enc /CN=Enc -days 2 -addext keyUsage=critical,keyEncipherment -addext extendedKeyUsage=codeSigning &&
    cert weak /CN=Weak -days 2 -newkey rsa:1024 && cert no /CN=No -days 2 && pfx no no.key '' &&
    cert tsa /CN=TSA -days 3650 -addext extendedKeyUsage=critical,timeStamping &&
    openssl req -new -key sign.key -subj /CN=Dated -out sign.csr && dated old 20200101000000Z 20200102000000Z &&
    dated future 20400101000000Z 20400102000000Z && mkfifo fifo &&
    openssl req -new -key no.key -subj /CN=Leaf -out leaf.csr && # a valid leaf, issued by the expired certificate
    openssl x509 -req -in leaf.csr -CA old.pem -CAkey sign.key -days 2 -out leaf.pem 2>/dev/null &&
    openssl pkcs12 -export -inkey no.key -in leaf.pem -certfile old.pem -passout pass:secret -out chain.pfx || fail certificates none
export DESKTOPSWITCH_SIGN_PASSWORD=secret DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx
# A time-stamp server that takes the request and never answers: the password waits, for its owner only.
serve 'import socket, time; s = socket.create_server(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True); held = s.accept(); time.sleep(600)'
(cd "$copy" && DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port exec setsid cmake --workflow --preset release) >interrupted.log 2>&1 &
for _ in $(seq 1200); do [ -e "$copy/build/release/signing/password" ] && break; sleep 0.1; done
release busy && fail "a second release in the tree refused" made
mode=$(stat -c %a "$copy/build/release/signing/password") && kill -INT -- -$! && wait $!; kill $server
[ "$mode" = 600 ] && [ -n "$(left)" ] && grep -q 'Another release is running in this build tree' busy.log ||
    fail "a second release refused at once, and an owner-only password left by Ctrl+C" "$mode $(left)"

DESKTOPSWITCH_SIGN_PFX= release unsigned && [ "$(left)" = "$zip-unsigned.zip $zip-unsigned.zip.sha256 " ] ||
    fail "only the unsigned zip and its sum" "$(tail -4 unsigned.log; left)"
grep -q 'DesktopSwitch.exe is unsigned' unsigned.log && unpack "$zip-unsigned" && grep -q UNSIGNED "$zip-unsigned/README.txt" &&
    cmp "$zip-unsigned/DesktopSwitch.exe" "$build/DesktopSwitch.exe" || fail "the windows build's program, said unsigned" other
resources=$(i686-w64-mingw32-windres -i "$zip-unsigned/DesktopSwitch.exe" -O rc)
[ "$(grep -cF -e "VERSION ${version//./, }, 0" -e "Version\", \"$version\"" -e '"CompanyName", "The DesktopSwitch developers"' \
    -e 'Translation", 0x409, 1200' <<<"$resources")" = 6 ] || fail "the version resource of $version" "$resources"

# Each refusal also proves that the unsigned zip before it was removed, under a path a glob would misread.
DESKTOPSWITCH_SIGN_PASSWORD=wrong refused wrong 'invalid password'
DESKTOPSWITCH_SIGN_PFX=$work/old.pfx refused expired 'the certificate has expired'
DESKTOPSWITCH_SIGN_PFX=$work/chain.pfx refused chain 'a certificate of its chain has expired'
DESKTOPSWITCH_SIGN_PFX=$work/future.pfx refused future 'the certificate is not valid yet'
DESKTOPSWITCH_SIGN_PFX=$work/ms.pfx refused ms 'the certificate is not for code signing'
DESKTOPSWITCH_SIGN_PFX=$work/enc.pfx refused enc "the certificate's key usage does not allow digital signatures"
DESKTOPSWITCH_SIGN_PFX=$work/weak.pfx refused weak 'the certificate has an RSA key of 1024 bits'
DESKTOPSWITCH_SIGN_PFX=$work/fifo refused fifo 'DESKTOPSWITCH_SIGN_PFX is not a regular file'
DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 refused silent 'RFC 3161 timestamping failed'
DESKTOPSWITCH_SIGN_PASSWORD= DESKTOPSWITCH_SIGN_PFX=$work/no.pfx release no && [ "$(left)" = "$zip.zip $zip.zip.sha256 " ] &&
    grep -q '^DesktopSwitch.exe is signed by No. It has no time stamp: its signature stops being valid when the certificate expires, on 20' no.log &&
    unzip -p "$copy/build/release/$zip.zip" README.txt | grep -q $'^       No\r$' ||
    fail 'a release signed by "No", without a password or a time stamp' "$(tail -4 no.log; left)"

# A time-stamp authority on the loopback address, for one request, made of openssl's ts commands.
serve 'import http.server as h, subprocess
class Authority(h.BaseHTTPRequestHandler):
    def do_POST(self):
        query, ts = self.rfile.read(int(self.headers["Content-Length"])), "openssl ts -reply -config openssl.cnf -queryfile"
        reply = subprocess.run(ts.split() + ["/dev/stdin"], input=query, capture_output=True, check=True).stdout
        self.send_response(200); self.send_header("Content-Type", "application/timestamp-reply"); self.end_headers()
        self.wfile.write(reply)
server = h.HTTPServer(("127.0.0.1", 0), Authority); print(server.server_port, flush=True); server.handle_request()'
DESKTOPSWITCH_SIGN_PFX=../sign.pfx DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port release signed &&
    grep -q 'It is time-stamped: its signature stays valid after the certificate expires' signed.log ||
    fail "signed and time-stamped, from a path relative to the sources" "$(tail "$work/signed.log")"
unpack "$zip" && exe=$work/$zip/DesktopSwitch.exe && grep -q '^       Tëst Signer'$'\r$' "$zip/README.txt" ||
    fail "the signer named in README.txt" "$(grep -A2 'one signer' "$zip/README.txt")"
# Ten days on, after the signing certificate has expired.
osslsigncode verify -CAfile sign.pem -TSA-CAfile tsa.pem -time $(($(date +%s) + 864000)) -in "$exe" >verify.log 2>&1 ||
    fail "a time-stamped signature that outlives its certificate" "$(cat verify.log)"
[ "$(left)" = "$zip.zip $zip.zip.sha256 " ] || fail "the signed zip and its sum, nothing in the temporary directory" "$(left)"
# The signed program, where the 32-bit program runs: the line for a wrong argument, the pause, -1.
if [ -n "$runs32" ]; then [ -d "$WINEPREFIX" ] || make_prefix; ran=$(wine "$exe" x </dev/null 2>/dev/null; echo "rc=$?")
    [[ $ran == $'Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).\r\nPress any key'*rc=255 ]] ||
        fail "the signed program's run" "$ran"; fi
echo "PASS release"
