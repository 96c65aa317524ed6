#!/usr/bin/env bash
# ./build.sh install and uninstall for one user, in folders of the test's own:
# both desktop entries valid, the installed engine run through the autostart
# entry's Exec line on a network, the database kept by the uninstall.
set -euo pipefail
source_dir=$1
build_dir=$2

home=$(mktemp -d)
machine="cvi-$$"
# The build tree's database is the test's while it runs (no other test runs
# meanwhile), empty to begin with; the one there is put back at the end.
built="$build_dir/bin/corvale.mdb"
cp -p "$built" "$home/built.mdb"
cp "$build_dir/empty/corvale.mdb" "$built"
trap 'kill -TERM "${watcher:-}" 2>/dev/null || true; cp -p "$home/built.mdb" "$built"; ip netns del "$machine" 2>/dev/null || true; ip netns del "$machine-p" 2>/dev/null || true; rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
fail() { echo "FAILED: $*" >&2; exit 1; }

BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
folder="$home/.local/lib/corvale"
autostart="$XDG_CONFIG_HOME/autostart/brisken.desktop"
desktop-file-validate "$XDG_DATA_HOME/applications/corvale.desktop" "$autostart" || fail "an entry is not valid"
[[ -f "$XDG_DATA_HOME/icons/hicolor/64x64/apps/corvale.png" ]] || fail "no icon"
[[ $(stat -c %a "$folder") == 700 && $(stat -c %a "$folder/corvale.mdb") == 600 ]] || fail "not private"
grep -q "^Exec=\"$folder/corvale\"$" "$XDG_DATA_HOME/applications/corvale.desktop" || fail "menu Exec"
grep -q "^Keywords=autostart;startup;network;login;$" "$XDG_DATA_HOME/applications/corvale.desktop" || fail "menu Keywords"
[[ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/corvale.svg" ]] || fail "no scalable icon"
# What software centres show of the tool, valid as they read it.
metainfo="$XDG_DATA_HOME/metainfo/example.corvale.Corvale.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "the metainfo is not valid"
# The template of each place's user target, which the watcher starts.
target="$XDG_CONFIG_HOME/systemd/user/corvale-place@.target"
grep -q '^Description=The laptop is at %I (Corvale)$' "$target" || fail "no place target template"

# Both programs on the PATH, their pages found by man through it.
for name in brisken corvale; do
    [[ "$(readlink "$home/.local/bin/$name")" == "$folder/$name" ]] || fail "no link for $name on the PATH"
    [[ $(PATH="$home/.local/bin:/usr/bin:/bin" $name --version) == "$name "* ]] || fail "$name is not on the PATH"
    page=$(env -u MANPATH PATH="$home/.local/bin:/usr/bin:/bin" man -w $name) || fail "man does not find $name"
    [[ "$page" == "$home/.local/share/man/man1/$name.1" ]] || fail "man finds $name at $page"
done

# A network with a gateway, and a list for its address.
ip netns add "$machine" && ip netns add "$machine-p" || { echo "no network namespaces here"; exit 77; }
ip link add eth0 netns "$machine" type veth peer name peth0 netns "$machine-p"
ip -n "$machine-p" link set peth0 up
ip -n "$machine" addr add 10.9.8.7/24 dev eth0
ip -n "$machine" link set eth0 up
for _ in $(seq 500); do
    ip -n "$machine" -o link show dev eth0 | grep -q 'LOWER_UP.*state UP' && break
    sleep 0.01
done
ip -n "$machine" route add default via 10.9.8.1 dev eth0
printf '#!/bin/sh\ntouch "%s/ran"\n' "$home" >"$home/item"
chmod +x "$home/item"
sqlite3 "$folder/corvale.mdb" "insert into IPs (IPaddress) values ('10.9.8.7');
    insert into ConnectedList (IPID,TargetPath,StartinPath,ListOrder) values (1,'$home/item','$home',1);"

# The entry keeps the engine watching; the session's end stops it.
exec_line=$(sed -n 's/^Exec=//p' "$autostart")
[[ "$exec_line" == *" --watch --wait-for-network=20" ]] || fail "autostart Exec: $exec_line"
mkdir -m 700 "$home/run"
ip netns exec "$machine" env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" PATH=/usr/bin:/bin \
    sh -c "exec $exec_line" &
watcher=$!
for _ in $(seq 1000); do
    [[ -f "$home/ran" ]] && break
    sleep 0.01
done
[[ -f "$home/ran" ]] || fail "the item did not start"
kill -TERM "$watcher"
wait "$watcher" || fail "the watcher did not end with status 0 at the session's end"

# Installing again keeps the user's edits to the logon entry; only the
# program's place in Exec is brought up to date.
sed -i -e 's#^Exec=.*#Exec="/old/place/brisken" --watch --wait-for-network=40#' -e '$a X-Mine=kept' "$autostart"
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
grep -qx "Exec=\"$folder/brisken\" --watch --wait-for-network=40" "$autostart" || fail "edits lost: $(cat "$autostart")"
grep -qx "X-Mine=kept" "$autostart" || fail "a line of the user's is gone"
! grep -q "^ninja: " "$home/install.log" || fail "install printed the build tool's words: $(cat "$home/install.log")"
# An entry deleted on purpose is not laid again; install says how to get it back.
rm "$autostart"
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
[[ ! -e "$autostart" ]] || fail "the deleted logon entry came back"
grep -q "./build.sh autostart" "$home/install.log" || fail "install did not say how to get it back: $(cat "$home/install.log")"
"$source_dir/build.sh" autostart >/dev/null
grep -q "^Exec=\"$folder/brisken\" --watch --wait-for-network=20$" "$autostart" || fail "autostart did not lay it"

# A home that another user's group can write: the engine would refuse the
# database, and install says so instead of reporting success. The group of
# root alone (a private group, as umask 002 makes) is harmless.
if [[ $(id -u) == 0 ]]; then
    chgrp 65534 "$home" && chmod g+w "$home"
    if BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"; then
        fail "install reported success for a database the engine refuses"
    fi
    grep -q "the engine refuses its database" "$home/install.log" || fail "install said: $(cat "$home/install.log")"
    grep -q "(chmod go-w $home)" "$home/install.log" || fail "no fix named: $(cat "$home/install.log")"
    chgrp 0 "$home"
    BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log" ||
        fail "a private group's write was refused: $(cat "$home/install.log")"
    # A second group given root's number (groupadd -o) with another member
    # makes it no private group: seen through a group file of the test's own.
    { cat /etc/group; echo "corvale-alias:x:0:nobody"; } >"$home/group"
    said=$(unshare -m sh -c "mount --bind '$home/group' /etc/group &&
        '$folder/brisken' --dry-run --address=127.0.0.1 2>&1") &&
        fail "a group that nobody shares counted as private"
    [[ "$said" == *"can be written by its group, to which nobody belongs too"* ]] || fail "the refusal said: $said"
    chmod g-w "$home"
fi

# A watcher still running when Corvale goes is ended with it; an install
# over it says when the new engine takes over.
ip netns exec "$machine" env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" PATH=/usr/bin:/bin \
    "$folder/brisken" --watch 2>/dev/null &
watcher=$!
for _ in $(seq 1000); do
    grep -qx -- --watch <(tr '\0' '\n' <"/proc/$watcher/cmdline") 2>/dev/null && break
    sleep 0.01
done
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
grep -q "The engine.s watcher (process $watcher" "$home/install.log" || fail "install said: $(cat "$home/install.log")"
said=$("$source_dir/build.sh" uninstall)
for _ in $(seq 1000); do
    kill -0 "$watcher" 2>/dev/null || break
    sleep 0.01
done
if kill -0 "$watcher" 2>/dev/null; then
    kill -TERM "$watcher"
    fail "the watcher outlived the uninstall"
fi
wait "$watcher" || fail "the watcher did not end with status 0 at the uninstall"
[[ "$said" == *"The engine's watcher (process $watcher"*" is ended."* ]] || fail "uninstall said: $said"
[[ "$said" == *"Your database is kept: $folder/corvale.mdb"* ]] || fail "uninstall said: $said"
[[ -f "$folder/corvale.mdb" ]] || fail "the database is gone"
for file in "$folder/brisken" "$folder/corvale" "$autostart" "$XDG_DATA_HOME/applications/corvale.desktop" \
    "$XDG_DATA_HOME/icons/hicolor/64x64/apps/corvale.png" "$XDG_DATA_HOME/icons/hicolor/scalable/apps/corvale.svg" \
    "$metainfo" "$target" \
    "$home/.local/bin/brisken" "$home/.local/bin/corvale" "$home/.local/share/man/man1/brisken.1"; do
    [[ ! -e "$file" ]] || fail "$file is still there"
done
# Files of the user's own by our names are left as they are by install and
# uninstall, and named.
menu="$XDG_DATA_HOME/applications/corvale.desktop"
page="$home/.local/share/man/man1/brisken.1"
mkdir -p "$(dirname "$menu")" "$(dirname "$page")"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=/opt/other/brisken --foo\n' >"$autostart"
# Our mark alone, on an entry that runs another program, is no proof; nor
# is a link whose text merely begins with the program folder.
printf '[Desktop Entry]\nType=Application\nName=Mine\nExec=/opt/mine/tool\nX-Corvale-Entry=1\n' >"$menu"
printf '.TH BRISKEN 1 "2020" "Other 1.0" "User Commands"\n' >"$page"
ln -s "$folder/../../mine" "$home/.local/bin/corvale"
for file in "$autostart" "$menu" "$page"; do cp "$file" "$file.mine"; done
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
said=$("$source_dir/build.sh" uninstall)
[[ "$(readlink "$home/.local/bin/corvale")" == "$folder/../../mine" ]] || fail "a link of the user's was replaced"
grep -q "$home/.local/bin/corvale is a file of yours" "$home/install.log" || fail "install did not name the link"
rm "$home/.local/bin/corvale"
for file in "$autostart" "$menu" "$page"; do
    cmp -s "$file" "$file.mine" || fail "$file was changed: $(cat "$file")"
    grep -q "$file is a file of yours" "$home/install.log" || fail "install did not name $file"
    [[ "$said" == *"$file is a file of yours"* ]] || fail "uninstall did not name $file: $said"
done

# A first install takes the lists made in the build tree along, once; an
# edited logon entry outlives the uninstall, which says so.
rm -f "$autostart" "$folder/corvale.mdb"
sqlite3 "$built" "insert into IPs (IPaddress) values ('10.77')"
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
grep -q "Your lists in $built are carried over" "$home/install.log" || fail "install said: $(cat "$home/install.log")"
[[ $(sqlite3 "$folder/corvale.mdb" "select IPaddress from IPs") == 10.77 ]] || fail "the lists were not carried over"
sqlite3 "$built" "insert into IPs (IPaddress) values ('10.78')"
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log"
! grep -q "carried over" "$home/install.log" || fail "carried over twice"
[[ $(sqlite3 "$folder/corvale.mdb" "select count(*) from IPs") == 1 ]] || fail "the two databases are not apart"
sed -i 's/--wait-for-network=20/--wait-for-network=30/' "$autostart"
said=$("$source_dir/build.sh" uninstall)
[[ -f "$autostart" && "$said" == *"Your edited logon entry $autostart is kept"* ]] || fail "uninstall said: $said"
# A program folder that is a link is refused before anything changes.
mv "$folder" "$home/elsewhere"
ln -s "$home/elsewhere" "$folder"
chmod 755 "$home/elsewhere"
BUILD_DIR="$build_dir" "$source_dir/build.sh" install >"$home/install.log" 2>&1 && fail "installed through a link"
grep -q "Nothing was changed:" "$home/install.log" && grep -q "$folder is a link" "$home/install.log" ||
    fail "install said: $(cat "$home/install.log")"
[[ $(stat -c %a "$home/elsewhere") == 755 ]] || fail "the link's target was changed"
echo "installed, run at logon, uninstalled"
