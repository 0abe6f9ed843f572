#!/usr/bin/env bash
# Signs one Windows executable in place with osslsigncode, when CARDWICK_SIGN_CERT names a
# certificate; without it the file stays unsigned and nothing happens.
#   CARDWICK_SIGN_CERT      the certificate: PEM or DER (then CARDWICK_SIGN_KEY is its private key),
#                           or a PKCS#12 bundle (.pfx or .p12) holding both
#   CARDWICK_SIGN_KEY       the private key, for a PEM or DER certificate
#   CARDWICK_SIGN_PASS      the password of the key or bundle, if it has one
#   CARDWICK_TIMESTAMP_URL  an RFC 3161 time-stamp server; the signature is time-stamped when given
# usage: sign.sh FILE
set -euo pipefail
file=$1
[ -n "${CARDWICK_SIGN_CERT:-}" ] || exit 0
args=(sign -h sha256 -n "Orvela Cardwick")
case "$CARDWICK_SIGN_CERT" in
*.pfx | *.p12) args+=(-pkcs12 "$CARDWICK_SIGN_CERT") ;;
*) args+=(-certs "$CARDWICK_SIGN_CERT" -key "${CARDWICK_SIGN_KEY:?CARDWICK_SIGN_KEY names no key}") ;;
esac
[ -z "${CARDWICK_SIGN_PASS:-}" ] || args+=(-pass "$CARDWICK_SIGN_PASS")
[ -z "${CARDWICK_TIMESTAMP_URL:-}" ] || args+=(-ts "$CARDWICK_TIMESTAMP_URL")
rm -f "$file.signed"
osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >/dev/null
mv -f "$file.signed" "$file"
echo "signed $file"
