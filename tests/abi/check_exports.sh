#!/bin/sh
# Fails when the library exports a name that is not one of its calls.
# usage: check_exports.sh LIBRARY EXPECTED_LIST
set -eu
library=$1
expected=$2
exported=$(nm -D --defined-only "$library" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | sort -u)
[ -n "$exported" ] || { echo "no exported symbols found in $library"; exit 1; }
unexpected=$(printf '%s\n' "$exported" | grep -vxF -f "$expected" || true)
if [ -n "$unexpected" ]; then
  echo "exported but not a call of the library:"
  printf '  %s\n' $unexpected
  exit 1
fi
echo "$(printf '%s\n' "$exported" | wc -l) exports, all known"
