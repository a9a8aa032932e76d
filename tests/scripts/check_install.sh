#!/usr/bin/env bash
# cmake --install into a scratch prefix, then build a C consumer with pkg-config and a
# CMake consumer with find_package(lumekwhlist), and run both; check the man3 pages.
set -euo pipefail
build=$1 cdir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name 'liblumekwhlist.so.0' -printf '%h\n' | head -n1)
export PKG_CONFIG_PATH="$libdir/pkgconfig"
export LD_LIBRARY_PATH="$libdir"
cc -o "$work/consumer" "$cdir/header_test.c" $(pkg-config --cflags --libs lumekwhlist) ${LUMEK_TEST_CFLAGS:-}
"$work/consumer"
cmake -S "$cdir/cmake_consumer" -B "$work/cm" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_C_FLAGS="${LUMEK_TEST_CFLAGS:-}" >/dev/null
cmake --build "$work/cm" >/dev/null
"$work/cm/consumer"
# Every exported name has its man3 page, and groff reads every page without a warning.
names=$(nm -D --defined-only "$libdir/liblumekwhlist.so.0" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sed 's/@.*//' | grep -v '^LUMEKWHLIST_' | sort)
pages=$(find "$work/prefix/share/man/man3" -name '*.3' -printf '%f\n' | sed 's/\.3$//' | grep -vx lumekwhlist | sort)
[ "$names" = "$pages" ] || { echo "man3 pages differ from the exports:"; diff <(echo "$names") <(echo "$pages"); exit 1; }
warnings=$(cd "$work/prefix/share/man" && for p in man3/*.3; do groff -man -Tutf8 -ww -z "$p" 2>&1; done)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
# Comment text that roff would read as a request or an escape comes out as written.
printf '%s\n' '/**' ' * f - a\b' ' * @x: it' ' *' ' * .Bd and' " * 'q" ' *' ' * Returns: -1' ' */' \
  'LUMEKWHLIST_PUBLIC int f(int x);' >"$work/h.h"
"$(dirname "$0")/../../tools/man3/gen_man3.py" --header "$work/h.h" --version 0 --outdir "$work/g"
text=$(cd "$work/g" && groff -man -Tascii -ww -P-cbou man3/f.3 2>&1 | tr -s ' \n' ' ')
[[ $text == *"f - a\b "*".Bd and 'q "*" -1 "* ]] || { echo "man3 text not as written: $text"; exit 1; }
echo "installed library, header, pkg-config file, CMake package and man3 pages work"
