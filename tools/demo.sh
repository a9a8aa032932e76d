#!/usr/bin/env bash
# The demo, run by ./run demo inside lumek-sandbox: lumekctl against the reference daemon on
# the private bus, a process snapshot, and a NIC limit in a private network namespace.
set -uo pipefail
bin=$1
ctl=$bin/lumekctl
step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; "$@"; echo "(exit status $?)"; }

echo "Inside lumek-sandbox: private system bus $DBUS_SYSTEM_BUS_ADDRESS"
echo "stand-in state in $LUMEK_STANDIN_DIR"

step "$ctl" --version
step "$ctl" call lumek_whlist_load_all
step "$ctl" call lumek_whlist_get_count_by_obj_type "(0, 'program', '')"
step "$ctl" --json call lumek_kmod_whlist_load "('',)"
step "$ctl" call lumek_bgset_set "'background'"
# Wrong arguments: the daemon refuses them and lumekctl reports the code and the message.
step "$ctl" call lumek_whlist_load_by_path "(1, 2)"

# The whitelist: label a few files in the stand-in, then list, count and look them up
# through lumekctl (the reference daemon serves what the stand-in holds).
standin=$bin/lumek-standin
"$standin" label /usr/bin/ls --set trusted
"$standin" label /usr/bin/env --set verified
"$standin" label /usr/bin/true --set vordsw
"$standin" protect /usr/bin/ls --set readonly
step "$standin" entries
step "$ctl" list
step "$ctl" list --type program --filter /usr/bin/l
step "$ctl" count program
step "$ctl" --json show /usr/bin/ls
step "$ctl" hash /usr/bin/env
step "$ctl" export /tmp/lumek-demo-whitelist.txt && rm -f /tmp/lumek-demo-whitelist.txt
step "$ctl" module protect ext4 on
step "$ctl" module list
step "$ctl" bgset set night
step "$standin" text bgset
step "$ctl" show /no/such/file
# A program keeps the label it has (it is labelled only while "unknown"), and lumekctl says so.
step "$ctl" label add /usr/bin/ls
# Exit statuses: 2 for a bad option value, 3 when no daemon owns its name on the system bus.
step "$ctl" list --type nosuchtype
step "$bin/lumek-sandbox" --no-daemon -- "$ctl" list

# A snapshot in a private pid namespace, so it shows only a few processes of its own.
pswork=$(mktemp /tmp/lumek-demo-ps.XXXXXX)
cat >"$pswork" <<PS
sleep 300 & sleep 300 & (while :; do :; done) & sleep 2
echo '\$ lumekctl ps --sort cpu'; '$ctl' ps --sort cpu
echo '\$ lumekctl ps --fds (one process)'; '$ctl' ps --fds | sed -n '1p;/sleep 300/,/^ *[0-9]/p' | head -n 5
echo '\$ lumekctl --json ps (the start of it)'; '$ctl' --json ps | head -n 12
kill %1 %2 %3
PS
step unshare -pf --mount-proc bash "$pswork"
rm -f "$pswork"

step unshare -n bash -c "
    ip link set lo up && ip link add v0 type veth peer name v1 && ip link set v0 up && ip link set v1 up
    echo '\$ lumekctl nic limit v0 --send 100'; '$ctl' nic limit v0 --send 100; echo \"(exit status \$?)\"
    echo '\$ tc class show dev v0'; tc class show dev v0
    echo '\$ lumekctl nic clear v0'; '$ctl' nic clear v0; echo \"(exit status \$?)\"
    echo '\$ tc qdisc show dev v0'; tc qdisc show dev v0"

# The kernel-enforced lists: each switched on, filled, read back and emptied; the stand-in
# shows what the kernel was told.
standin=$bin/lumek-standin
lists=$(mktemp -d /tmp/lumek-demo-lists.XXXXXX)
cp /usr/bin/sleep "$lists/worker"
"$lists/worker" 300 &
worker=$!
sleep 0.2
step "$ctl" netctl on --level 2
step "$ctl" netctl status
step "$ctl" netctl add /usr/bin/true --mode 2
step "$ctl" netctl add /usr/bin/env --mode 1 --uid 1000
step "$ctl" netctl add "$(ls /usr/lib/*/libz.so.1 | head -n 1)"
step "$ctl" netctl add --pkg coreutils --mode 2
step "$ctl" netctl list
step "$ctl" --json netctl list --uid 1000
step "$ctl" netctl list --pkg
step "$ctl" netctl del /usr/bin/true --mode 1
step "$ctl" netctl del /usr/bin/true --mode 2
step "$ctl" netctl del /usr/bin/env --mode 1 --uid 1000
step "$ctl" netctl del --pkg coreutils --mode 2
step "$ctl" netctl list
step "$ctl" netctl off
step "$ctl" ppro on
step "$ctl" ppro add "$lists/worker" --type 1
step "$ctl" ppro add /usr/bin/true --type 2
step "$ctl" ppro list
step "$ctl" ppro del "$lists/worker"
step "$ctl" ppro del /usr/bin/true
step "$ctl" --json ppro list
step "$ctl" pblk on
step "$ctl" pblk add /opt/blocked/tool
step "$ctl" pblk add /opt/blocked/tool
step "$ctl" pblk list
step "$ctl" pblk del /opt/blocked/tool
step "$ctl" pblk del /opt/blocked/tool
step "$ctl" pblk status
step "$standin" kernel
step "$ctl" udeb create
step "$ctl" udeb add 1000 7
step "$ctl" udeb list 1000
step "$ctl" udeb clear
step "$standin" status 0
step "$ctl" udeb add 1000 7
step "$ctl" pblk on
kill "$worker"
wait "$worker" 2>/dev/null
rm -rf "$lists"

# Application identities: two fixture packages in a private package database (bound over
# /var/lib/dpkg in a mount namespace of their own), an identity for each, a policy between
# them, and the viewer raised to level 1.
"$standin" status 1
kid=$(mktemp -d /tmp/lumek-demo-kid.XXXXXX)
mkdir -p "$kid/dpkg/info" "$kid/viewer" "$kid/notes"
cp /usr/bin/true "$kid/viewer/demo-viewer"
echo "shopping list" >"$kid/notes/notes.txt"
for p in demo-viewer demo-notes; do
  printf 'Package: %s\nStatus: install ok installed\nMaintainer: demo\nArchitecture: all\nVersion: 1.0\nDescription: demo\n\n' "$p" >>"$kid/dpkg/status"
done
printf '/.\n%s\n%s\n' "$kid/viewer" "$kid/viewer/demo-viewer" >"$kid/dpkg/info/demo-viewer.list"
printf '/.\n%s\n%s\n' "$kid/notes" "$kid/notes/notes.txt" >"$kid/dpkg/info/demo-notes.list"
cat >"$kid/run.sh" <<KID
mount --bind '$kid/dpkg' /var/lib/dpkg || exit 1
step() { printf '\n\033[1m\$ %s\033[0m\n' "\$*"; "\$@"; echo "(exit status \$?)"; }
step '$ctl' kid feature on
step '$ctl' kid feature status
step '$ctl' kid app create demo-viewer demo-viewer
step '$ctl' kid app create demo-notes demo-notes
step '$ctl' kid app create stray not-installed
step '$ctl' kid type demo-viewer
step '$ctl' kid type --file '$kid/notes/notes.txt'
step '$ctl' kid policy add demo-viewer '$kid/notes/notes.txt' 3
step '$ctl' kid policy list
step '$ctl' kid app improve demo-viewer --level 1
step '$ctl' kid type demo-viewer
step '$ctl' kid policy update demo-viewer '$kid/notes/notes.txt' 1
step '$ctl' --json kid policy list demo-viewer
step '$standin' kids
KID
unshare -m bash "$kid/run.sh"
rm -rf "$kid"
# The runtime label database: created from the daemon's whitelist (the files labelled above),
# read back with filters, a status refresh, and the drift check before and after a change.
step "$ctl" rtdb create
step "$ctl" rtdb load --label trusted
step "$ctl" rtdb special
step "$ctl" rtdb status /usr/bin/ls 1
step "$ctl" rtdb sync set 1700000000
step "$ctl" rtdb sync get
step "$standin" memdb
step "$ctl" rtdb check
"$standin" label /usr/bin/env --set trusted
step "$ctl" rtdb check
step "$ctl" --json rtdb check
step "$ctl" rtdb delete
# File labelling: a fixture package installed in a private dpkg database, a program with its
# dependencies, one label explained and a package plan. The files live on a tmpfs over /mnt
# in a private mount namespace (package files under a "/tmp/" path are never labelled).
label_demo() {
  local pkg=/mnt/lumek-demo
  mount -t tmpfs tmpfs /mnt || return
  mkdir -p "$pkg/dpkg/info" "$pkg/dpkg/updates" "$pkg/opt/bin"
  cp /usr/bin/true /usr/bin/ls "$pkg/opt/bin/"
  printf '#!/bin/sh\necho hello\n' >"$pkg/opt/bin/hello.sh"
  printf 'Package: lumek-demo\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\nMaintainer: demo <demo@example.org>\nDescription: labelling demo\n\n' >"$pkg/dpkg/status"
  printf '%s\n' /. /opt "$pkg/opt/bin" "$pkg/opt/bin/true" "$pkg/opt/bin/ls" "$pkg/opt/bin/hello.sh" \
    /usr/share/doc/tmp/gone >"$pkg/dpkg/info/lumek-demo.list"
  mount --bind "$pkg/dpkg" /var/lib/dpkg || return
  step "$ctl" package plan lumek-demo
  step "$ctl" package add lumek-demo
  step "$ctl" label explain "$pkg/opt/bin/ls"
  step "$ctl" --json label explain /usr/bin/ls
  step "$ctl" package plan "lumek-demo;touch pwned"
  # Mark the program and its libraries "unknown", then admit the program with them.
  local prog=$pkg/opt/bin/ls libs
  libs=$(objdump -p "$prog" | awk '/NEEDED/ {print $2}' | while read -r n; do
    readlink -f "$(whereis "$n" | awk '{print $2}')"; done)
  # shellcheck disable=SC2086
  step "$ctl" label delete "$prog" $libs
  step "$ctl" deps list "$prog" --label verified
  step "$ctl" label add "$prog"
  step "$standin" entries
  step "$ctl" dir plan --kind protect "$pkg/opt/bin"
  step "$ctl" package delete lumek-demo
}
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  unshare -m bash -c "$(declare -f step label_demo); ctl='$ctl' standin='$standin'; label_demo"
else
  echo "(labelling demo skipped: a private mount namespace needs root)"
fi

# A user's private directory, the application lists and kid network control: a fixture user
# in a fixture password database and a home on a tmpfs, in a mount namespace of their own.
kid2=$(mktemp -d /tmp/lumek-demo-kid2.XXXXXX)
mkdir -p "$kid2/dpkg/info" "$kid2/net"
cp /usr/bin/true "$kid2/net/demo-net"
cp /usr/bin/true "$kid2/net/probe"
echo "read me" >"$kid2/net/README"
for p in demo-net demo-reader; do
  printf 'Package: %s\nStatus: install ok installed\nMaintainer: demo\nArchitecture: all\nVersion: 1.0\nDescription: demo\n\n' "$p" >>"$kid2/dpkg/status"
done
printf '/.\n%s\n%s\n%s\n' "$kid2/net" "$kid2/net/demo-net" "$kid2/net/README" >"$kid2/dpkg/info/demo-net.list"
printf '%s\n' "$kid2/net/README" >"$kid2/dpkg/info/demo-reader.list"
printf 'root:x:0:0:root:/root:/bin/sh\ndemo:x:4242:4242:Demo User:/home/demo:/bin/sh\n' >"$kid2/passwd"
cat >"$kid2/run.sh" <<KID
mount --bind '$kid2/dpkg' /var/lib/dpkg || exit 1
mount --bind '$kid2/passwd' /etc/passwd || exit 1
mount -t tmpfs tmpfs /home || exit 1
mkdir -p /home/demo/Documents/letters /home/demo/Music
echo "dear demo" >/home/demo/Documents/letters/one.txt
step() { printf '\n\033[1m\$ %s\033[0m\n' "\$*"; "\$@"; echo "(exit status \$?)"; }
step '$ctl' kid app create demo-net demo-net
step '$ctl' kid app create demo-reader demo-reader
step '$ctl' kid app list
step '$ctl' kid app list installed
step '$ctl' --json kid app list third
step '$ctl' kid privacy on /home/demo/Documents
step '$ctl' kid policy list
step '$ctl' kid resource list --kid-type 0
step '$standin' kids kid_file
step '$ctl' kid privacy on /home/demo/Documents/letters
step '$ctl' kid privacy on /home/demo/..
step '$ctl' kid privacy off /home/demo/Documents
step '$ctl' kid policy list
step '$ctl' kid resource list --kid-type 0
step '$ctl' kid resource add --kid-type 2 '$kid2/net/probe'
step '$ctl' kid netctl add demo-net
step '$ctl' kid netctl add --file '$kid2/net/probe'
step '$ctl' kid netctl list
step '$ctl' --json kid netctl list
step '$ctl' kid netctl remove demo-net
step '$ctl' kid netctl list
KID
unshare -m bash "$kid2/run.sh"
rm -rf "$kid2"

# Package-manager hooks: lumekctl dpkg-hook on a few paths, then a tiny package built with
# dpkg-deb, in the read-only package list, installed by the real dpkg into a scratch root and
# upgraded from v1 to v2 there, with the dpkg integration of contrib/dpkg installed as an
# administrator would (cmake --install --component dpkg; the prefix, dpkg's configuration
# directory and the data lists are private to this mount namespace). Its protection is
# lifted for the upgrade and put back after it; the file v2 no longer ships loses its label.
dpkg_demo() {
  local d=/mnt/lumek-dpkg root=/mnt/lumek-dpkg/root f=/mnt/lumek-dpkg/root/opt/lumekdemo/demo-true v
  mount -t tmpfs tmpfs /mnt && mount -t tmpfs tmpfs /etc/dpkg/dpkg.cfg.d || return
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$d/prefix/sbin" "$d/data"
  : >"$root/var/lib/dpkg/status"
  cp -a /usr/share/lumek-utils/data/. "$d/data" && echo lumekdemo >>"$d/data/readonly_pkg_list"
  mount --bind "$d/data" /usr/share/lumek-utils/data || return
  for v in 1 2; do
    mkdir -p "$d/v$v/DEBIAN" "$d/v$v/opt/lumekdemo"
    printf 'Package: lumekdemo\nVersion: %s\nArchitecture: all\nMaintainer: demo <demo@example.org>\nDescription: hook demo\n' $v >"$d/v$v/DEBIAN/control"
    cp /usr/bin/true "$d/v$v/opt/lumekdemo/demo-true"
    printf '# lumekdemo\n' >"$d/v$v/opt/lumekdemo/README.md"
  done
  echo v2 >>"$d/v2/opt/lumekdemo/demo-true"
  printf '#!/bin/sh\necho hello\n' >"$d/v1/opt/lumekdemo/hello.sh"
  chmod 755 "$d/v1/opt/lumekdemo/hello.sh"
  for v in 1 2; do dpkg-deb --root-owner-group -Zgzip --build "$d/v$v" "$d/lumekdemo_$v.deb" >/dev/null || return; done
  cmake --install "$build" --component dpkg --prefix "$d/prefix" >/dev/null || return
  ln -s "$ctl" "$d/prefix/sbin/lumekctl"
  step "$ctl" rtdb create
  printf '/usr/bin/true\n/usr/bin/env\n/usr/share/doc/README.md\n' | step "$ctl" dpkg-hook
  step "$ctl" --json dpkg-hook --protect coreutils:amd64 /usr/bin/ls /usr/bin/cat
  step grep -v '^#' /etc/dpkg/dpkg.cfg.d/lumek
  step dpkg --root="$root" --log=/dev/null -i "$d/lumekdemo_1.deb"
  step "$standin" protect "$f"
  step "$ctl" package unprotect --root="$root" --admindir="$root/var/lib/dpkg" lumekdemo
  step "$ctl" package protect --root="$root" --admindir="$root/var/lib/dpkg" lumekdemo
  step "$standin" entries
  # The extra pre-invoke hook runs after the configured one: it shows the protection lifted.
  step dpkg --root="$root" --log=/dev/null --pre-invoke="echo during the run: \$($standin protect $f)" -i "$d/lumekdemo_2.deb"
  step dpkg-query --root="$root" -W lumekdemo
  step "$standin" protect "$f"
  step "$standin" entries
  step "$ctl" rtdb special
  step "$ctl" rtdb check
  step "$ctl" rtdb delete
}
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  unshare -m bash -c "$(declare -f step dpkg_demo); ctl='$ctl' standin='$standin' build='$bin/..'; dpkg_demo"
else
  echo "(package-manager demo skipped: a private mount namespace needs root)"
fi
