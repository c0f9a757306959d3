#!/bin/sh
# Makes seed corpora for the fuzzers from the real-world test data: DER and
# PEM certificates, and the DER names inside them.
# usage: seed_corpus.sh TESTDATA_DIR OUT_DIR
set -eu
testdata=$1
out=$2
mkdir -p "$out/der" "$out/cert" "$out/name"
n=0
for pem in $(find "$testdata" -name '*.pem' | sort); do
  n=$((n + 1))
  openssl x509 -in "$pem" -outform DER -out "$out/der/$n.der" 2>/dev/null || continue
  cp "$out/der/$n.der" "$out/cert/$n.der"
  cp "$pem" "$out/cert/$n.pem"
done
# Tokens are DER too, often with indefinite lengths.
for token in $(find "$testdata" -name '*.tsr' | sort); do
  n=$((n + 1))
  cp "$token" "$out/der/$n.der"
done
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
echo "seeds: $(ls "$out/der" | wc -l) DER objects, $(ls "$out/cert" | wc -l) certificates, $(ls "$out/name" | wc -l) name-like elements"
