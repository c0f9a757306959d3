#!/bin/sh
# Makes the eight "CERT" resources: the trust anchors of the five time-stamp
# services, our own stand-ins (see docs/roots.md).
#
#   res/certs/make_certs.sh            (from the top of the repository)
#
# Writes res/certs/cert_<id>.der and keeps each private key in
# tests/data/root_keys/key_<id>.pem, where only the tests use them to issue
# TSA certificates. Keys already there are used again, and serial numbers and
# validity are fixed, so that a second run writes the same bytes. After a run
# with new keys, put the new SHA-1 fingerprints
#   openssl sha1 res/certs/cert_*.der
# into kServiceRoots in src/verify/root_store_management.cpp.
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
certs="$top/res/certs"
keys="$top/tests/data/root_keys"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$keys"

not_before=20250101000000Z
not_after=20550101000000Z
org="Zorbelutilnd Stand-in Certificates"
unit="Test use only"

cat > "$work/ca.cnf" <<CNF
[ ca ]
default_ca = stand_in
[ stand_in ]
database = $work/index.txt
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
preserve = yes
[ any_name ]
organizationName = supplied
organizationalUnitName = supplied
commonName = supplied
[ req ]
distinguished_name = req_name
prompt = no
[ req_name ]
[ root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ intermediate ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF

# make ID COMMON_NAME [ISSUER_ID]
make() {
    id=$1 cn=$2 issuer=${3:-}
    key="$keys/key_$id.pem"
    [ -f "$key" ] || openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$key"
    : > "$work/index.txt"
    printf '%04X\n' "$id" > "$work/serial"
    openssl req -new -key "$key" -subj "/O=$org/OU=$unit/CN=$cn" -utf8 -config "$work/ca.cnf" \
        -out "$work/$id.csr"
    if [ -z "$issuer" ]; then
        set -- -selfsign -keyfile "$key" -extensions root
    else
        set -- -cert "$work/$issuer.pem" -keyfile "$keys/key_$issuer.pem" -extensions intermediate
    fi
    openssl ca -batch -notext -config "$work/ca.cnf" -startdate $not_before -enddate $not_after \
        -in "$work/$id.csr" -out "$work/$id.pem" "$@" 2> "$work/ca.log" || { cat "$work/ca.log" >&2; exit 1; }
    openssl x509 -in "$work/$id.pem" -outform DER -out "$certs/cert_$id.der"
}

make 1007 "Kovra Open-K Time-Stamp Root A"
make 1008 "Kovra Time-Stamp Root 1"
make 1009 "Government Time-Stamp Root"
make 1010 "Government Time-Stamp CA" 1009
make 1011 "Kovra Time-Stamp Root 2"
make 1012 "Kovra Open-K Time-Stamp Root B"
make 1080 "Kovra Time-Stamp Root 3"
make 1081 "Kovra Time-Stamp CA 3" 1080

for id in 1007 1008 1009 1010 1011 1012 1080 1081; do
    printf '%s  ' "$id"
    openssl sha1 -r "$certs/cert_$id.der" | cut -d' ' -f1
done
