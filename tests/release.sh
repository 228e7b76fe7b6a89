#!/usr/bin/env bash
# The README's release, from a copy of the sources under a path a glob misreads: interrupted while signing, unsigned,
# refused for each bad password, certificate or time-stamp server, signed without a password, then from a relative
# path with a stamp from an authority on the loopback address. Usage: release.sh SOURCE_DIR WINDOWS_BUILD VERSION
set -u
src=$1 build=$2 version=$3 work=$2/release-check
copy="$work/a copy [1] of the sources" zip=DesktopSwitch-$version-win32
fail() { echo "FAIL: expected $1, got $2"; exit 1; }
release() { (cd "$copy" && cmake --workflow --preset release) >"$work/$1.log" 2>&1; }  # LOG
left() { ls "$copy/build/release" | grep -E 'DesktopSwitch-|signing' | tr '\n' ' '; }
refused() {  # LOG REASON: the release stopped with its reason and left no zip and no password behind
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
rm -rf "$work" && mkdir -p "$copy" && (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$copy") && cd "$work"
printf '%s\n' '[ca]' default_ca=ca '[ca]' unique_subject=no database=index new_certs_dir=. serial=serial default_md=sha256 policy=p \
    '[p]' commonName=supplied '[tsa]' default_tsa=t '[t]' serial=serial signer_cert=tsa.pem signer_key=tsa.key \
    signer_digest=sha256 default_policy=1.2.3.4 digests=sha256 ess_cert_id_alg=sha256 >openssl.cnf
: >index && echo 01 >serial && cert sign '/O=Example Org/CN=Tëst Signer' -days 2 -addext extendedKeyUsage=codeSigning &&
    cert server '/OU=Code Signing/CN=Server' -days 2 -addext extendedKeyUsage=serverAuth &&
    cert tsa /CN=TSA -days 3650 -addext extendedKeyUsage=critical,timeStamping &&
    openssl req -new -key sign.key -subj /CN=Dated -out sign.csr && dated old 20200101000000Z 20200102000000Z &&
    dated future 20400101000000Z 20400102000000Z &&
    pfx sign sign.key '' open || fail certificates none
export DESKTOPSWITCH_SIGN_PASSWORD=secret DESKTOPSWITCH_SIGN_PFX=$work/sign.pfx
# A time-stamp server that takes the request and never answers: the password waits, for its owner only.
serve 'import socket, time; s = socket.create_server(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True); held = s.accept(); time.sleep(600)'
(cd "$copy" && DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port exec setsid cmake --workflow --preset release) >interrupted.log 2>&1 &
for _ in $(seq 1200); do [ -e "$copy/build/release/signing/password" ] && break; sleep 0.1; done
mode=$(stat -c %a "$copy/build/release/signing/password") && kill -INT -- -$! && wait $!; kill $server
[ "$mode" = 600 ] && [ -n "$(left)" ] || fail "an owner-only password, left by Ctrl+C" "$mode $(left)"

DESKTOPSWITCH_SIGN_PFX= release unsigned || fail made "$(tail "$work/unsigned.log")"
[ "$(left)" = "$zip-unsigned.zip $zip-unsigned.zip.sha256 " ] || fail "only the unsigned zip and its sum" "$(left)"
grep -q 'DesktopSwitch.exe is unsigned' unsigned.log && unpack "$zip-unsigned" && grep -q UNSIGNED "$zip-unsigned/README.txt" &&
    cmp "$zip-unsigned/DesktopSwitch.exe" "$build/DesktopSwitch.exe" || fail "the windows build's program, said unsigned" other
resources=$(i686-w64-mingw32-windres -i "$zip-unsigned/DesktopSwitch.exe" -O rc)
[ "$(grep -cF -e "VERSION ${version//./, }, 0" -e "Version\", \"$version\"" -e '"CompanyName", "The DesktopSwitch developers"' \
    -e 'Translation", 0x409, 1200' <<<"$resources")" = 6 ] || fail "the version resource of $version" "$resources"

# Each refusal also proves that the unsigned zip before it was removed, under a path a glob would misread.
DESKTOPSWITCH_SIGN_PASSWORD=wrong refused wrong 'invalid password'
DESKTOPSWITCH_SIGN_PFX=$work/old.pfx refused expired 'the certificate has expired'
DESKTOPSWITCH_SIGN_PFX=$work/future.pfx refused future 'the certificate is not valid yet'
DESKTOPSWITCH_SIGN_PFX=$work/server.pfx refused server 'the certificate is not for code signing'
DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 refused silent 'RFC 3161 timestamping failed'
DESKTOPSWITCH_SIGN_PASSWORD= DESKTOPSWITCH_SIGN_PFX=$work/open.pfx release open && [ "$(left)" = "$zip.zip $zip.zip.sha256 " ] ||
    fail "a release signed with a certificate that has no password" "$(tail -4 open.log; left)"

# A time-stamp authority on the loopback address, for one request, made of openssl's ts commands.
serve 'import http.server as h, subprocess
class Authority(h.BaseHTTPRequestHandler):
    def do_POST(self):
        query, ts = self.rfile.read(int(self.headers["Content-Length"])), "openssl ts -reply -config openssl.cnf -queryfile"
        reply = subprocess.run(ts.split() + ["/dev/stdin"], input=query, capture_output=True, check=True).stdout
        self.send_response(200); self.send_header("Content-Type", "application/timestamp-reply"); self.end_headers()
        self.wfile.write(reply)
server = h.HTTPServer(("127.0.0.1", 0), Authority); print(server.server_port, flush=True); server.handle_request()'
DESKTOPSWITCH_SIGN_PFX=../sign.pfx DESKTOPSWITCH_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port release signed ||
    fail "signed, from a path relative to the sources" "$(tail "$work/signed.log")"
unpack "$zip" && exe=$work/$zip/DesktopSwitch.exe && grep -q '^       Tëst Signer'$'\r$' "$zip/README.txt" ||
    fail "the signer named in README.txt" "$(grep -A2 'one signer' "$zip/README.txt")"
later=$(($(date +%s) + 10 * 86400))  # after the signing certificate has expired
osslsigncode verify -CAfile sign.pem -TSA-CAfile tsa.pem -time $later -in "$exe" >verify.log 2>&1 ||
    fail "a time-stamped signature that outlives its certificate" "$(cat verify.log)"
echo "PASS release"
