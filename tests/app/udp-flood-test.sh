#!/usr/bin/env bash
# A forged flood costs kilobytes: 5 s of hping3's UDP datagrams from random sources to a tripwire
# grow Log.txt and standard output by a few kilobytes, and a connection meanwhile is recorded as
# usual. Root only (hping3 forges with a raw socket); skips (77) otherwise.
#   udp-flood-test.sh <sentrel binary>
set -euo pipefail
why="hping3's forged sources" needs=hping3
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2
store "$work/config" True '[Ports]\nNumber=0\n0=12346\n[UDP%20Ports]\nNumber=0\n0=137\n'
startHeadless "$sentrel"
grep -q "Monitoring UDP Port: 137" "$work/out" || fail "the UDP tripwire is not armed"
log=$work/data/Sentrel/Log.txt
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
