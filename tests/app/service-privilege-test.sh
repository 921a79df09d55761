#!/usr/bin/env bash
# The program as the systemd units run it: CAP_NET_BIND_SERVICE alone under NoNewPrivileges, the
# watch through a socket starting one helper per connection with CAP_NET_RAW alone. Armed, a port
# below 1024 bound, no thread holding more nor a packet socket. Root only; skips (77) otherwise.
#   service-privilege-test.sh <sentrel binary> <sentrel-watch binary>
why="starting as another user with capabilities" needs="setcap systemd-socket-activate"
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2 watch=$3
chmod 755 "$work"

# The program beside its helper, as the package lays them out (it looks in ../libexec/sentrel).
mkdir -p "$work/bin" "$work/libexec/sentrel" "$work/home/config"
cp "$sentrel" "$work/bin/sentrel"
install -m 0750 -g nogroup "$watch" "$work/libexec/sentrel/sentrel-watch"
setcap cap_net_raw=ep "$work/libexec/sentrel/sentrel-watch" 2> /dev/null || skip "this file system holds no file capabilities"
store "$work/home/config" False '[Ports]\nNumber=0\n0=80\n'
chown -R nobody "$work/home"
nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups --no-new-privs)
caps() { echo --inh-caps="$1" --ambient-caps="$1" --bounding-set=-all,"$1"; }
socket=$work/watch.socket
systemd-socket-activate --seqpacket --accept --inetd -l "$socket" "${nobody[@]}" $(caps +net_raw) \
    "$work/libexec/sentrel/sentrel-watch" &
pids+=" $!"
for _ in $(seq 50); do [[ -S $socket ]] && break; sleep 0.1; done
chgrp nogroup "$socket" && chmod 0660 "$socket"
startSentrel "${nobody[@]}" $(caps +net_bind_service) env -i HOME="$work/home" XDG_RUNTIME_DIR="$work/home" \
    PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen SENTREL_WATCH_SOCKET="$socket" \
    "$work/bin/sentrel" --headless --config-dir "$work/home/config"
step "port 80 guarded" "$(grep -c "Monitoring Port: 80$" "$work/out")" 1
step "watch helper armed" "$(grep -c "Stealth scan watch" "$work/out")" 0
# CAP_NET_BIND_SERVICE alone is 0x400.
for task in /proc/"$pid"/task/*; do
    step "thread $(basename "$task") capabilities" "$(grep -E '^Cap(Inh|Prm|Eff|Amb)' "$task/status" | xargs)" \
        "CapInh: 0000000000000000 CapPrm: 0000000000000400 CapEff: 0000000000000400 CapAmb: 0000000000000000"
done
step "bounding set" "$(grep ^CapBnd "/proc/$pid/status" | xargs)" "CapBnd: 0000000000000400"
# The watch's packet socket is the helper's: none of the program's descriptors is one.
packets=$(awk 'NR > 1 { print "socket:[" $NF "]" }' /proc/net/packet)
step "packet sockets in this network" "$(wc -w <<< "$packets")" 1
step "packet sockets of the program" "$(for fd in /proc/"$pid"/fd/*; do readlink "$fd"; done | grep -cxF "$packets")" 0
# Stopping and starting monitoring connects anew; with no capability at all that is armed as well.
step "a second watch, without capabilities" "$("${nobody[@]}" $(caps -all) /usr/bin/python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET); s.connect(sys.argv[1]); s.send(b"SW\x02")
print(s.recv(8).hex())' "$socket")" 53570200
echo "PASS"
