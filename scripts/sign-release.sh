#!/usr/bin/env bash
# Signs Typeloader.exe with Authenticode (SHA-256 digest) using Debian's
# osslsigncode, with the organisation's code-signing certificate.
#
#   scripts/sign-release.sh path/to/Typeloader.exe
#
# `cpack --preset windows` runs it on the bundle's copy of the exe, before
# SHA256SUMS and the SBOM are made, whenever TYPELOADER_SIGN_PKCS12 is set.
#
# Environment (names of files, never secrets themselves: a password on a
# command line can be read by every user of the machine):
#   TYPELOADER_SIGN_PKCS12         the certificate and its key, a PKCS#12 (.p12/.pfx) file
#   TYPELOADER_SIGN_PASSWORD_FILE  a file whose first line is the PKCS#12 password
#   TYPELOADER_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so that the
#                                  signature stays valid after the certificate expires
#
# The exe is signed into a temporary folder beside it and moved over it only
# when everything succeeded: on any failure it is left exactly as it was.
set -euo pipefail

fail() {
    echo "sign-release: $*" >&2
    exit 1
}

[ $# -eq 1 ] || fail "usage: sign-release.sh <Typeloader.exe>"
exe=$1
[ -f "$exe" ] || fail "$exe: no such file"
p12=${TYPELOADER_SIGN_PKCS12:-}
password_file=${TYPELOADER_SIGN_PASSWORD_FILE:-}
timestamp_url=${TYPELOADER_SIGN_TIMESTAMP_URL:-}

[ -n "$p12" ] || fail "TYPELOADER_SIGN_PKCS12 is not set: name the PKCS#12 (.p12/.pfx) file of the code-signing certificate"
[ -f "$p12" ] && [ -r "$p12" ] || fail "TYPELOADER_SIGN_PKCS12=$p12: no readable file there"
[ -n "$password_file" ] || fail "TYPELOADER_SIGN_PASSWORD_FILE is not set: name a file whose first line is the password of $p12"
[ -f "$password_file" ] && [ -r "$password_file" ] || fail "TYPELOADER_SIGN_PASSWORD_FILE=$password_file: no readable file there"

work=$(mktemp -d "$(dirname "$exe")/.sign-release.XXXXXX")
trap 'rm -rf "$work"' EXIT

# osslsigncode would sign a signed file again.
if osslsigncode extract-signature -in "$exe" -out "$work/existing.sig" >/dev/null 2>&1; then
    fail "$exe is already signed: sign the unsigned build, so that removing the signature gives the build back"
fi

signed="$work/$(basename "$exe")"
arguments=(sign -pkcs12 "$p12" -readpass "$password_file" -h sha256 -n Typeloader)
if [ -n "$timestamp_url" ]; then
    arguments+=(-ts "$timestamp_url")
fi
if ! osslsigncode "${arguments[@]}" -in "$exe" -out "$signed" >"$work/osslsigncode.log" 2>&1; then
    # osslsigncode names these two only among OpenSSL's error lines.
    grep -q "mac verify failure" "$work/osslsigncode.log" &&
        fail "wrong password for $p12 (the first line of $password_file does not open it); $exe is unchanged"
    grep -q "Failed to extract PKCS#12 data" "$work/osslsigncode.log" &&
        fail "$p12 is not a PKCS#12 file; $exe is unchanged"
    cat "$work/osslsigncode.log" >&2
    fail "osslsigncode could not sign $exe (see above); $exe is unchanged"
fi

# osslsigncode signs with any certificate, expired or made for something else.
# The password reaches openssl as "file:<path>", never as text on its command
# line; OpenSSL 3 reads the old RC2 encryption of older Windows exports only
# with its legacy provider.
read_certificate() {
    openssl pkcs12 "$@" -in "$p12" -passin "file:$password_file" -nokeys -clcerts -out "$work/certificate.pem" 2>/dev/null
}
read_certificate || read_certificate -legacy || fail "openssl cannot read the certificate in $p12; $exe is unchanged"
subject=$(openssl x509 -in "$work/certificate.pem" -noout -subject -nameopt oneline | sed "s/^subject= *//")
openssl x509 -in "$work/certificate.pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
    fail "$subject in $p12 is not a code-signing certificate (no codeSigning extended key usage); $exe is unchanged"
openssl x509 -in "$work/certificate.pem" -noout -checkend 0 >/dev/null ||
    fail "$subject in $p12 has expired ($(openssl x509 -in "$work/certificate.pem" -noout -enddate)); $exe is unchanged"

# A signed release must stay comparable with a rebuild: removing the
# signature has to give back the unsigned bytes exactly.
osslsigncode remove-signature -in "$signed" -out "$work/unsigned-again.exe" >/dev/null 2>&1 ||
    fail "osslsigncode cannot remove the signature it made; $exe is unchanged"
cmp -s "$work/unsigned-again.exe" "$exe" ||
    fail "removing the signature does not give back $exe byte for byte (is its size a multiple of 8?); $exe is unchanged"

chmod --reference="$exe" "$signed"
mv -f "$signed" "$exe"
echo "sign-release: signed $exe as $subject${timestamp_url:+, time-stamped by $timestamp_url}"
