#!/usr/bin/env bash
# cmake --install into a scratch prefix, then build a C consumer with pkg-config and a
# CMake consumer with find_package(lumekwhlist), and run both.
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
echo "installed library, header, pkg-config file and CMake package work"
