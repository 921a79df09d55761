#!/usr/bin/env bash
# A forged flood costs kilobytes: hping3 sends UDP datagrams from random forged sources to a UDP
# tripwire for at most 5 s, in a private network namespace. Log.txt and standard output grow by a
# few kilobytes (the first probes, then one summary a second), and a connection made during the
# flood is recorded as usual. Root only (hping3 forges with a raw socket); skips (77) otherwise.
#   udp-flood-test.sh <sentrel binary>
set -euo pipefail
why="hping3's forged sources" needs=hping3
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2
store "$work/config" True '[Ports]\nNumber=0\n0=12346\n[UDP%20Ports]\nNumber=0\n0=137\n'
startSentrel env HOME="$work" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen \
    "$sentrel" --headless --config-dir "$work/config"
grep -q "Monitoring UDP Port: 137" "$work/out" || fail "the UDP tripwire is not armed"
log=$work/data/Sentrel/Log.txt events=$work/data/Sentrel/events.jsonl
size() { stat -c %s "$1" 2> /dev/null || echo 0; }
logBefore=$(size "$log") outBefore=$(size "$work/out")

timeout 5 hping3 -q --udp --flood --rand-source -p 137 127.0.0.1 > "$work/hping3.out" 2>&1 &
flood=$!
sleep 2
python3 -c 'import socket; s = socket.create_connection(("127.0.0.1", 12346), 5); s.recv(1); s.close()'
wait "$flood" || true
sent=$(grep -o '^[0-9]* packets transmitted' "$work/hping3.out" | cut -d' ' -f1 || true)
sleep 3 # the last summary comes within two seconds
logGrowth=$(($(size "$log") - logBefore)) outGrowth=$(($(size "$work/out") - outBefore))
echo "flood: ${sent:-?} datagrams sent; Log.txt grew by $logGrowth bytes, standard output by $outGrowth"
grep "Message: UDP flood: " "$work/out" | tail -n 3 || true

grep -q "Message: UDP flood: [0-9,]* probes from [0-9,]* addresses, the addresses may be forged" "$work/out" \
    || fail "no flood summary"
grep -q '"event":"flood".*"detection":"udp"' "$events" || fail "no flood event"
grep -q '"detection":"connect"' "$events" || fail "the connection during the flood was not recorded"
[[ $logGrowth -lt 65536 && $outGrowth -lt 65536 ]] || fail "the flood cost more than 64 KB"
echo "PASS"
