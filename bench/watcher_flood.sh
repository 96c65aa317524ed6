#!/bin/bash
# bench/watcher_flood.sh BIN_DIR: flaps a link in a network namespace as fast as
# ip can for five seconds while a watcher runs, and prints the share of a
# core the watcher used meanwhile (its ticks against the wall time). As root.
set -e
bin=$1
w=$(mktemp -d); cp -a $bin/. $w/prog; chmod 700 $w/prog; chmod 600 $w/prog/corvale.mdb
sqlite3 $w/prog/corvale.mdb "insert into IPs (IPaddress) values ('10.1')"
ns=flood$$; ip netns add $ns; ip netns add $ns-p
ip link add eth0 netns $ns type veth peer name p0 netns $ns-p
ip -n $ns-p link set p0 up; ip -n $ns addr add 10.1.0.5/16 dev eth0; ip -n $ns link set eth0 up
sleep 0.5; ip -n $ns route add default via 10.1.0.1 dev eth0 || true
mkdir -m 700 $w/run
ip netns exec $ns env -i XDG_RUNTIME_DIR=$w/run PATH=/usr/bin:/bin $w/prog/brisken --watch --settle=10 2>$w/err &
sleep 1
pid=$(pgrep -f "$w/prog/brisken --watch" | head -1)
t0=$(awk '{print $14+$15}' /proc/$pid/stat); s0=$(date +%s.%N); n=0
end=$((SECONDS+5))
while [ $SECONDS -lt $end ]; do ip -n $ns link set eth0 down; ip -n $ns link set eth0 up; n=$((n+2)); done
t1=$(awk '{print $14+$15}' /proc/$pid/stat); s1=$(date +%s.%N)
awk -v n=$n -v t=$((t1-t0)) -v a=$s0 -v b=$s1 -v hz=$(getconf CLK_TCK) \
    'BEGIN { printf "link changes: %d in %.1f s; the watcher used %.3f of a core\n", n, b-a, t/((b-a)*hz) }'
kill $pid; sleep 0.2; ip netns del $ns; ip netns del $ns-p; rm -rf $w
