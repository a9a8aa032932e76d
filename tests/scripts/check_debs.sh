#!/usr/bin/env bash
# Inside lumek-sandbox: build the Debian packages from a copy of the tree, install them with
# the real dpkg into a scratch root, build and run C and CMake clients against that root, then
# let the installed dpkg hook see a fixture package being installed and check its label.
set -euo pipefail
src=$1 cdir=$2 standin=$3 # standin: the build's lumek-standin, to read labels back
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
tar -C "$src" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/src" -xf -
if ! (cd "$work/src" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b) >"$work/log" 2>&1; then
  tail -n 40 "$work/log"
  exit 1
fi
ls "$work"/*.deb | grep -v -- -dbgsym_ >"$work/debs"
dpkg-deb -c "$work"/liblumekwhlist-dev_*.deb | grep 'man3/lumek_whlist_load_sm\.3\.gz -> ' >/dev/null || { echo "-dev lacks man3 pages"; exit 1; }
R=$work/root
mkdir -p "$R/var/lib/dpkg/updates" "$R/var/lib/dpkg/info"
: >"$R/var/lib/dpkg/status"
# The scratch root holds none of the packages they depend on.
if ! xargs dpkg --root="$R" --log=/dev/null --force-depends -i <"$work/debs" >"$work/log" 2>&1; then
  cat "$work/log"
  exit 1
fi
libdir=$R/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
# shellcheck disable=SC2046
cc -o "$work/client" "$cdir/header_test.c" $(pkg-config --cflags --libs lumekwhlist)
"$work/client"
cmake -S "$cdir/cmake_consumer" -B "$work/cm" -DCMAKE_PREFIX_PATH="$R/usr" >/dev/null
cmake --build "$work/cm" >/dev/null
"$work/cm/consumer"
unset LD_LIBRARY_PATH
# The installed files where the system has them, as though the packages were installed there:
# dpkg reads its configuration from the system, whatever root it installs into.
for d in /etc/dpkg/dpkg.cfg.d /usr/sbin /usr/libexec "${libdir#"$R"}"; do
  mount -t overlay overlay -o "lowerdir=$R$d:$d" "$d"
done
/usr/sbin/lumekctl rtdb create >/dev/null
mkdir -p "$work/fx/DEBIAN" "$work/fx/opt/fx"
printf 'Package: fx\nVersion: 1\nArchitecture: all\nMaintainer: m <m@m>\nDescription: d\n' >"$work/fx/DEBIAN/control"
cp /usr/bin/true "$work/fx/opt/fx/prog"
dpkg-deb --root-owner-group -Zgzip --build "$work/fx" "$work/fx.deb" >/dev/null
dpkg --root="$R" --log=/dev/null -i "$work/fx.deb" >/dev/null
label=$("$standin" label "$R/opt/fx/prog")
if [ "$label" != verified ]; then
  echo "the installed hook did not label $R/opt/fx/prog (label: '$label')" >&2
  exit 1
fi
echo "packages built, installed, used by C and CMake clients; their hook labelled a new package"
