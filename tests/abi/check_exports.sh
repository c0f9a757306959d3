#!/bin/sh
# Fails when a library exports a name that is not one of its calls, or when
# one of its calls is missing. A line NAME of the list stands for the name in
# any version; NAME@@VERSION for the name in that version only.
# usage: check_exports.sh LIBRARY EXPECTED_LIST
set -eu
library=$1
expected=$2
# Version nodes show as absolute symbols (type A); they are no calls.
exported=$(nm -D --defined-only "$library" | awk 'NF >= 3 && $2 != "A" { print $3 }' | sort -u)
[ -n "$exported" ] || { echo "no exported symbols found in $library"; exit 1; }
wanted=$(grep -v '^#' "$expected")
has() { printf '%s\n' "$1" | grep -qxF -e "$2"; }
failed=0
for symbol in $exported; do
  if ! has "$wanted" "$symbol" && ! has "$wanted" "${symbol%%@*}"; then
    echo "exported but not a call of the library: $symbol"
    failed=1
  fi
done
names=$(printf '%s\n' "$exported" | sed 's/@.*//')
for line in $wanted; do
  case "$line" in
    *@*) has "$exported" "$line" && continue ;;
    *) has "$names" "$line" && continue ;;
  esac
  echo "a call of the library that is not exported as listed: $line"
  failed=1
done
[ "$failed" = 0 ] || exit 1
echo "$(printf '%s\n' "$exported" | wc -l) exports, all known"
