#!/usr/bin/env bash
# Blocking at the firewall, end to end: the real program and the real firewall helper in a private
# network namespace, the intruder in a second one joined by a veth pair (documentation addresses).
# A connection is recorded and blocked automatically, so the next one times out; the helper's
# delete and a short expiry let it through again; no block for a forged half-open probe, an
# allow-listed address or the default gateway; the helper refuses every malformed request of the
# kept corpus and leaves another table byte-identical. Root only; skips (77) otherwise.
#   blocking-test.sh <sentrel binary> <sentrel-block binary> <corpus folder>
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "the firewall and network namespaces need root"
command -v nft > /dev/null || skip "nft is not installed (scripts/install-deps.sh --test)"
command -v hping3 > /dev/null || skip "hping3 is not installed (scripts/install-deps.sh --test)"
if [[ "${1:-}" != --inside ]]; then
    unshare --net true 2> /dev/null || skip "no private network namespace can be made here"
    exec unshare --net "$0" --inside "$@"
fi
sentrel=$2 helper=$3 corpus=$4
work=$(mktemp -d)
pid="" peer=""
trap 'kill $pid $peer 2> /dev/null; wait 2> /dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; sed -n '1,60p' "$work/out" 2> /dev/null; exit 1; }

# The intruder's namespace: a process that holds it; commands run there through nsenter.
unshare --net sleep 600 &
peer=$!
sleep 0.2
there() { nsenter --net="/proc/$peer/ns/net" "$@"; }
ip link set lo up
ip link add va type veth peer name vb
ip link set vb netns "/proc/$peer/ns/net"
ip addr add 192.0.2.1/24 dev va
ip addr add 2001:db8::1/64 dev va nodad
ip link set va up
there ip link set lo up
for a in 192.0.2.2/24 192.0.2.3/24 192.0.2.4/24 192.0.2.5/24 192.0.2.6/24; do there ip addr add "$a" dev vb; done
there ip addr add 2001:db8::2/64 dev vb nodad
there ip link set vb up
# The way out of this host leads through the intruder's 192.0.2.3.
ip route add default via 192.0.2.3

# Somebody else's table, which must come through untouched.
nft add table inet other
nft add chain inet other input '{ type filter hook input priority 10; policy accept; }'
nft add rule inet other input tcp dport 9 counter accept
nft list table inet other > "$work/other.before"

# A connection from the intruder's namespace: "ok" when it is accepted within 2 s, else "timeout".
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
# Runs the helper with a request in hex; prints its exit status (65: refused, 66: an empty one).
call() {
    python3 - "$helper" "$1" << 'PY'
import socket, subprocess, sys
ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
helper = subprocess.Popen([sys.argv[1]], stdin=theirs, env={}, stderr=subprocess.DEVNULL)
theirs.close()
ours.send(bytes.fromhex(sys.argv[2]))
print(helper.wait(10))
PY
}
request() { # add|delete <IPv4 address> [seconds]
    local hex
    hex=$(printf '%02x' ${2//./ })
    if [[ $1 == add ]]; then call "5346016104${hex}$(printf '%08x' "$3")"; else call "5346016404${hex}"; fi
}

mkdir -p "$work/config"
printf '[%%General]\nStart=Sentrel II\nStart%%20Monitoring=1\nLogs=False\n[Sounds]\nOn=False\n' > "$work/config/Sentrel II.ini"
printf '[Events]\nSyslog=0\n[Alarm]\nNotifications=0\nBlock%%20Intruders=1\nBlock%%20Minutes=1\nAllow=192.0.2.4\n' \
    >> "$work/config/Sentrel II.ini"
printf '[Ports]\nNumber=0\n0=12345\n' >> "$work/config/Sentrel II.ini"
HOME=$work XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen \
    "$sentrel" --headless --config-dir "$work/config" > "$work/out" 2>&1 &
pid=$!
waitFor() { for _ in $(seq "${3:-50}"); do grep -q "$1" "$2" 2> /dev/null && return 0; sleep 0.1; done; return 1; }
waitFor "^Ready\.$" "$work/out" 200 || fail "the program did not start"
events=$work/data/Sentrel/events.jsonl

step() { printf '%-58s %s\n' "$1" "$2"; [[ $2 == "$3" ]] || fail "$1: expected $3"; }
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
step "the helper deletes 192.0.2.2" "$(request delete 192.0.2.2)" 0
step "192.0.2.2 connects after the delete" "$(connect 192.0.2.2 192.0.2.1 12345)" ok
step "the helper adds 192.0.2.6 for 2 s" "$(request add 192.0.2.6 2)" 0
step "192.0.2.6 connects while blocked" "$(connect 192.0.2.6 192.0.2.1 12345)" timeout
sleep 2.5
step "192.0.2.6 connects after the expiry" "$(connect 192.0.2.6 192.0.2.1 12345)" ok
# Connections (and a forged SYN) from what must never be blocked.
step "allow-listed 192.0.2.4 connects" "$(connect 192.0.2.4 192.0.2.1 12345)" ok
step "the gateway 192.0.2.3 connects" "$(connect 192.0.2.3 192.0.2.1 12345)" ok
waitFor "Not blocking 192.0.2.3: the default gateway" "$work/out" || fail "no word on the gateway"
there hping3 -q -S -c 1 -p 12345 -a 192.0.2.5 192.0.2.1 > /dev/null 2>&1 || true
waitFor '"detection":"half_open".*"address":"192.0.2.5"\|"address":"192.0.2.5".*"detection":"half_open"' "$events" \
    || fail "the half-open probe was not recorded"
sleep 1
for address in 192.0.2.3 192.0.2.4 192.0.2.5; do
    grep -q "\"event\":\"blocked\".*\"address\":\"$address\"" "$events" && fail "$address was blocked"
    step "$address connects, not blocked" "$(connect "$address" 192.0.2.1 12345)" ok
done

# The helper: only the corpus's well-formed requests are served; the other table is untouched.
served=""
for file in "$corpus"/*; do
    status=$(call "$(od -An -v -tx1 "$file" | tr -d ' \n')")
    [[ $status == 0 ]] && served+="$(basename "$file") "
    [[ $status == 0 || $status == 65 || $status == 66 ]] || fail "$(basename "$file"): exit status $status"
done
step "corpus requests served" "$served" "add-v4 add-v6 delete-v4 delete-v6 list "
nft list table inet other > "$work/other.after"
cmp -s "$work/other.before" "$work/other.after" || fail "the other table changed"
step "table inet other unchanged" yes yes
# What the program said and recorded about blocking, for the log.
grep -E "Blocked|Unblocked|Not blocking" "$work/out"
grep -E '"event":"(un)?blocked"' "$events"
echo "PASS"
