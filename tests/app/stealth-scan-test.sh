#!/usr/bin/env bash
# The real program against the real nmap in a private network namespace: each scan's events by
# detection and port (a connect scan never also half-open). Then the host as a container host and
# router: what a container sends to other hosts is none of the program's business, what it sends to
# the host's bridge address is. Root only; skips (77) otherwise.
#   stealth-scan-test.sh <sentrel binary>
set -euo pipefail
why="nmap's raw scans and the packet watch" needs=nmap
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2
list() { local IFS=,; echo "$*"; }
sorted() { printf '%s\n' "$@" | sort -n | paste -sd,; }
# A store section listing the ports: [<section>], Number=<last index>, <index>=<port>...
section() { printf '[%s]\\nNumber=%d\\n' "$1" $(($# - 2)); shift; local i=0; for p; do printf '%d=%d\\n' $((i++)) "$p"; done; }
tcp=(21 23 25 80 12345 12346) udp=(53 137 138)
store "$work/config" False "$(section Ports "${tcp[@]}")$(section 'UDP%20Ports' "${udp[@]}")"
startHeadless "$sentrel"
grep -q "Stealth scan watch" "$work/out" && fail "the packet watch is not armed"

# The intrusions recorded since line $seen as "<detection>:<port>,..."; with scans=1 port scans too.
seen=0 scans=0
recorded() {
    python3 - "$events" "$seen" "$scans" << 'PY'
import json, sys, collections
ports = collections.defaultdict(set)
for record in map(json.loads, open(sys.argv[1]).read().splitlines()[int(sys.argv[2]):]):
    if record.get("event") == "intrusion":
        ports[record["detection"]].add(record["port"])
    elif record.get("event") == "port_scan" and sys.argv[3] == "1":
        ports["port_scan"].update(int(p) for p in str(record.get("ports", "")).split(",") if p.isdigit())
print(" ".join(f"{d}:{','.join(map(str, sorted(p)))}" for d, p in sorted(ports.items())))
PY
}
# expect <what the program records> <command>...: runs the command, then compares.
expect() {
    local expected=$1 what="${*:2}" got
    shift
    "$@" > "$work/command.out" 2>&1 || fail "$what: $(cat "$work/command.out")"
    for _ in $(seq 50); do [[ -f $events && $(recorded) == "$expected" ]] && break; sleep 0.1; done
    sleep 1.5 # a SYN counts as half-open a second after it was seen: anything more comes by then
    got=$(recorded)
    step "$what" "${got:-nothing}" "${expected:-nothing}"
    seen=$(wc -l < "$events")
}
nmap=(nmap -n -Pn -T4 --max-retries 1) guarded=$(list "${tcp[@]}") all=$(sorted "${tcp[@]}")
for scan in S:half_open T:connect F:fin N:null X:xmas; do
    expect "${scan#*:}:$all" "${nmap[@]}" -p "$guarded" "-s${scan%:*}" 127.0.0.1
done
expect "udp:$(sorted "${udp[@]}")" "${nmap[@]}" -p "$(list "${udp[@]}")" -sU 127.0.0.1
expect "half_open:$all" "${nmap[@]}" -p "$guarded" -6 -sS ::1

container=$(namespace) internet=$(namespace)
pids+=" $container $internet"
inside() { local ns=$1; shift; nsenter -t "$ns" -n "$@"; }
ip -batch - << IP
link add br0 type bridge
link set br0 up
addr add 172.17.0.1/16 dev br0
link add veth-c type veth peer name eth0 netns $container
link set veth-c master br0 up
link add veth-i type veth peer name eth0 netns $internet
link set veth-i up
addr add 198.51.100.1/24 dev veth-i
IP
inside "$container" ip -batch - <<< $'addr add 172.17.0.2/16 dev eth0\nlink set eth0 up\nroute add default via 172.17.0.1'
inside "$internet" ip -batch - \
    <<< $'addr add 198.51.100.5/24 dev eth0\naddr add 198.51.100.6/24 dev eth0\nlink set eth0 up\nroute add default via 198.51.100.1'
sysctl -qw net.ipv4.ip_forward=1
inside "$internet" python3 -m http.server 80 --bind 198.51.100.5 > /dev/null 2>&1 &
pids+=" $!"
for _ in $(seq 50); do inside "$container" curl -s -o /dev/null http://198.51.100.5/ && break; sleep 0.1; done
seen=$(wc -l < "$events") scans=1

# Five ordinary requests to a web server on a guarded port number, forwarded by the host.
requests() { for _ in 1 2 3 4 5; do inside "$container" curl -s -o /dev/null http://198.51.100.5/ || return 1; done; }
expect "" requests
expect "" inside "$container" "${nmap[@]}" -sS -p "$guarded,22,443,8080,3389,110,143,993,995,5900,6000,111,139,445" \
    198.51.100.6
expect "half_open:$all" inside "$container" "${nmap[@]}" -sS -p "$guarded" 172.17.0.1
expect "fragment:$all" inside "$container" "${nmap[@]}" -sS -f -p "$guarded" 172.17.0.1
echo "PASS"
