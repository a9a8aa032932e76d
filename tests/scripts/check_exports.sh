#!/usr/bin/env bash
# The shared library exports exactly the names of its version script, and nothing else.
set -euo pipefail
lib=$1 map=$2
expected=$(sed -n '/global:/,/local:/p' "$map" | grep -oE '^[[:space:]]*[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' ;' | sort)
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sed 's/@.*//' | grep -v '^LUMEKWHLIST_' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exported symbols differ from $map:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "liblumekwhlist.so.0" ] || { echo "SONAME is '$soname'"; exit 1; }
echo "exports: $(echo "$expected" | wc -l) names, SONAME $soname"
