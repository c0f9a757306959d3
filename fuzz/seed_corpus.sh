#!/bin/sh
# Makes seed corpora for the fuzzers from the real-world test data and, when
# given, a folder of the fixture PKI (zorbelu-make-fixtures FOLDER): one
# folder per kind of input.
#   der    DER certificates and tokens
#   cert   certificates, DER and PEM
#   name   the DER names inside the certificates
#   token  tokens and TimeStampResps (BER and DER)
#   tac    attribute certificates, and the tokens that may carry one
#   crl    CRLs, DER and PEM
# usage: seed_corpus.sh TESTDATA_DIR OUT_DIR [FIXTURE_DIR]
set -eu
testdata=$1
out=$2
fixtures=${3:-}
mkdir -p "$out/der" "$out/cert" "$out/name" "$out/token" "$out/tac" "$out/crl"
n=0
for pem in $(find "$testdata" -name '*.pem' | sort); do
  n=$((n + 1))
  openssl x509 -in "$pem" -outform DER -out "$out/der/$n.der" 2>/dev/null || continue
  cp "$out/der/$n.der" "$out/cert/$n.der"
  cp "$pem" "$out/cert/$n.pem"
done
# Tokens are DER too, often with indefinite lengths.
for token in $(find "$testdata" -name '*.tsr' -o -iname '*token*.der' -o -name '*TimeStamp*.der' | sort); do
  n=$((n + 1))
  cp "$token" "$out/der/$n.der"
  cp "$token" "$out/token/$n.der"
  cp "$token" "$out/tac/$n.der"
done
for tac in $(find "$testdata" -iname '*attr*cert*' -o -name '*TAC*.der' | sort); do
  n=$((n + 1))
  cp "$tac" "$out/tac/$n.der"
  cp "$tac" "$out/token/$n.der"  # fuzz_token reads TACs too
done
if [ -n "$fixtures" ]; then
  for cert in "$fixtures"/certs/* "$fixtures"/aia/*; do
    n=$((n + 1))
    case $cert in
      *.pem) cp "$cert" "$out/cert/$n.pem" ;;
      *) cp "$cert" "$out/cert/$n.der" && cp "$cert" "$out/der/$n.der" ;;
    esac
  done
  for token in "$fixtures"/tokens/*; do
    n=$((n + 1))
    cp "$token" "$out/token/$n.der"
    cp "$token" "$out/der/$n.der"
  done
  for crl in "$fixtures"/crl/*; do
    n=$((n + 1))
    cp "$crl" "$out/crl/$n.crl"
  done
fi
# Name seeds: every SEQUENCE directly inside the certificates' to-be-signed
# part (issuer and subject among them), cut out with dd.
for der in "$out"/cert/*.der; do
  base=$(basename "$der" .der)
  openssl asn1parse -in "$der" -inform DER 2>/dev/null |
    awk -F'[:= ]+' '/d=2/ && /cons: SEQUENCE/ { sub(/^ +/, ""); $0 = $0; for (i = 1; i <= NF; i++) { if ($i == "hl") hl = $(i+1); if ($i == "l") l = $(i+1) } print $1, hl + l }' |
    while read -r offset length; do
      dd if="$der" of="$out/name/$base-$offset.der" bs=1 skip="$offset" count="$length" status=none
    done
done
for kind in der cert name token tac crl; do
  printf '%s: %s  ' "$kind" "$(ls "$out/$kind" | wc -l)"
done
echo
