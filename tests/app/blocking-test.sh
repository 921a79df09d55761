#!/usr/bin/env bash
# Blocking at the firewall, end to end: the real program and firewall helper in a private network
# namespace, the intruder in a second one joined by a veth pair (documentation addresses). Never
# blocked: a forged half-open probe, an allow-listed address, any hop of any default route. The
# helper refuses on its own what the program never blocks, and leaves another table untouched.
#   blocking-test.sh <sentrel binary> <sentrel-block binary> <corpus folder>
why="the firewall" needs="nft hping3"
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2 helper=$3 corpus=$4

peer=$(namespace)
pids+=" $peer"
there() { nsenter -t "$peer" -n "$@"; }
ip link add va type veth peer name vb
ip link set vb netns "/proc/$peer/ns/net"
ip addr add 192.0.2.1/24 dev va
ip addr add 2001:db8::1/64 dev va nodad
ip link set va up
for a in 192.0.2.2 192.0.2.3 192.0.2.4 192.0.2.5 192.0.2.6 192.0.2.8 192.0.2.9; do there ip addr add "$a/24" dev vb; done
there ip addr add 2001:db8::2/64 dev vb nodad
there ip addr add 2001:db8::9/64 dev vb nodad
there ip link set vb up
# The ways out of this host: a multipath default route through 192.0.2.3 and 192.0.2.8, and for
# traffic from 192.0.2.1 a policy table whose default leads through 192.0.2.9 (2001:db8::9).
ip route replace default nexthop via 192.0.2.3 nexthop via 192.0.2.8
ip route add default via 192.0.2.9 table 100
ip -6 route add default via 2001:db8::9 table 100
ip rule add from 192.0.2.1 table 100

# Somebody else's table.
nft add table inet other
nft add chain inet other input '{ type filter hook input priority 10; policy accept; }'
nft add rule inet other input tcp dport 9 counter accept
nft list table inet other > "$work/other.before"

# A connection from the intruder's namespace: "ok" if accepted within 2 s, else "timeout".
connect() {
    there python3 - "$1" "$2" "$3" << 'PY'
import socket, sys
source, target, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
s = socket.socket(socket.AF_INET6 if ":" in target else socket.AF_INET)
s.bind((source, 0))
s.settimeout(2)
try:
    s.connect((target, port))
    print("ok")
except OSError:
    print("timeout")
PY
}
# fw [results] <request in hex> | fw [results] add|delete <seconds> <address>...: the firewall
# helper with one request; prints its exit status (65: refused, 66: an empty one) or, with
# results, the reply's result per address (0 taken, 1 own address, 2 gateway, 3 full).
fw() {
    python3 - "$helper" "$@" << 'PY'
import ipaddress, socket, subprocess, sys
path, *args = sys.argv[1:]
results = args[0] == "results"
op, *rest = args[results:]
request = bytes.fromhex(op) if op not in ("add", "delete") else b"SF\x02" + op[0].encode() + bytes([len(rest) - 1]) \
    + b"".join(bytes([a.version]) + a.packed.ljust(16, b"\0") + (int(rest[0]) if op == "add" else 0).to_bytes(4, "big")
               for a in map(ipaddress.ip_address, rest[1:]))
ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
helper = subprocess.Popen([path], stdin=theirs, env={}, stderr=subprocess.DEVNULL)
theirs.close()
ours.send(request)
status = helper.wait(10)
print(" ".join(map(str, ours.recv(4096)[5:])) if results and status == 0 else status)
PY
}
# The addresses the firewall table holds.
held() { nft -j list table inet sentrel | python3 -c 'import json, sys
print(sum(len(o["set"].get("elem", [])) for o in json.load(sys.stdin)["nftables"] if "set" in o))'; }

store "$work/config" False 'Block%20Intruders=1\nBlock%20Minutes=1\nAllow=192.0.2.4\n[Ports]\nNumber=0\n0=12345\n'
startHeadless "$sentrel"

step "192.0.2.2 connects" "$(connect 192.0.2.2 192.0.2.1 12345)" ok
waitFor '"event":"intrusion".*"address":"192.0.2.2"' "$events" || fail "the connection was not recorded"
waitFor "Blocked 192.0.2.2 for 1 minute" "$work/out" || fail "it was not blocked"
grep -q '"event":"blocked".*"address":"192.0.2.2".*"seconds":60.*"automatic":true' "$events" || fail "no blocked event"
step "192.0.2.2 connects again, blocked" "$(connect 192.0.2.2 192.0.2.1 12345)" timeout
# The watch still saw its SYNs (and a forged-looking probe): counted against the block, no alarm.
there hping3 -q -F -c 1 -p 12345 -a 192.0.2.2 192.0.2.1 > /dev/null 2>&1 || true
sleep 1.5
step "192.0.2.2's probes after the block, recorded" \
    "$(grep -c '"event":"intrusion".*"address":"192.0.2.2"' "$events")" 1
step "IPv6 2001:db8::2 connects" "$(connect 2001:db8::2 2001:db8::1 12345)" ok
waitFor "Blocked 2001:db8::2 for 1 minute" "$work/out" || fail "IPv6 was not blocked"
step "2001:db8::2 connects again, blocked" "$(connect 2001:db8::2 2001:db8::1 12345)" timeout
step "the helper deletes 192.0.2.2" "$(fw delete 0 192.0.2.2)" 0
step "192.0.2.2 connects after the delete" "$(connect 192.0.2.2 192.0.2.1 12345)" ok
step "the helper adds 192.0.2.6 for 2 s" "$(fw add 2 192.0.2.6)" 0
step "192.0.2.6 connects while blocked" "$(connect 192.0.2.6 192.0.2.1 12345)" timeout
sleep 2.5
step "192.0.2.6 connects after the expiry" "$(connect 192.0.2.6 192.0.2.1 12345)" ok
step "allow-listed 192.0.2.4 connects" "$(connect 192.0.2.4 192.0.2.1 12345)" ok
for address in 192.0.2.3 192.0.2.8 192.0.2.9 2001:db8::9; do
    target=192.0.2.1
    [[ $address == *:* ]] && target=2001:db8::1
    step "the gateway $address connects" "$(connect "$address" "$target" 12345)" ok
    waitFor "Not blocking $address: the default gateway" "$work/out" || fail "no word on the gateway $address"
done
there hping3 -q -S -c 1 -p 12345 -a 192.0.2.5 192.0.2.1 > /dev/null 2>&1 || true
waitFor '"detection":"half_open".*"address":"192.0.2.5"\|"address":"192.0.2.5".*"detection":"half_open"' "$events" \
    || fail "the half-open probe was not recorded"
sleep 1
for address in 192.0.2.3 192.0.2.8 192.0.2.9 192.0.2.4 192.0.2.5; do
    grep -q "\"event\":\"blocked\".*\"address\":\"$address\"" "$events" && fail "$address was blocked"
    step "$address connects, not blocked" "$(connect "$address" 192.0.2.1 12345)" ok
done

# The helper alone from here: the program ends first, so that no late block of its own (192.0.2.2
# and 192.0.2.6 came back) lands in the sets being filled.
kill "$pid"
wait "$pid" 2> /dev/null || true
flushSets() { nft flush set inet sentrel blocked4 && nft flush set inet sentrel blocked6; }
flushSets
step "helper: own, multipath hop, policy gateway, IPv6 policy gateway, intruder" \
    "$(fw results add 60 192.0.2.1 2001:db8::1 192.0.2.8 192.0.2.9 2001:db8::9 198.51.100.1)" "1 1 2 2 2 0"
fill=($(printf '203.0.113.%d ' $(seq 0 127)) $(printf '198.51.100.%d ' $(seq 0 63)) $(printf '2001:db8:f::%x ' $(seq 0 63)))
for start in 0 64 128 192; do
    [[ $(fw results add 60 "${fill[@]:start:64}") == "$(yes 0 | head -64 | xargs)" ]] || fail "filling from $start"
done
step "helper: a 257th address; one already there" "$(fw results add 60 2001:db8:f::ff 198.51.100.1)" "3 0"
step "helper: entries held" "$(held)" 256
flushSets

# Only the corpus's well-formed requests are served.
served=""
for file in "$corpus"/*; do
    status=$(fw "$(od -An -v -tx1 "$file" | tr -d ' \n')")
    [[ $status == 0 ]] && served+="$(basename "$file") "
    [[ $status == 0 || $status == 65 || $status == 66 ]] || fail "$(basename "$file"): exit status $status"
done
step "corpus requests served" "$served" "add-64 add-v4 add-v6 delete-mixed delete-v4 delete-v6 list "
nft list table inet other > "$work/other.after"
cmp -s "$work/other.before" "$work/other.after" || fail "the other table changed"
echo "PASS"
