#!/usr/bin/env bash
# The real program against the real nmap, in a private network namespace: each scan's events by
# detection and port. A connect scan is connections only, never also half-open. Then the host as a
# container host and router: a bridge with a "container" namespace behind it and an "internet"
# namespace on another link, forwarding between them. What the container sends to other hosts is
# none of the program's business, however it looks (requests to guarded port numbers, a half-open
# scan); what it sends to the host's own bridge address is (a half-open scan, a fragmented one).
# Root only (nmap's raw scans and the packet watch need it); skips (77) otherwise.
#   stealth-scan-test.sh <sentrel binary>
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "nmap's raw scans and the packet watch need root"
command -v nmap > /dev/null || skip "nmap is not installed (scripts/install-deps.sh --test)"
if [[ "${1:-}" != --inside ]]; then
    unshare --net true 2> /dev/null || skip "no private network namespace can be made here"
    exec unshare --net "$0" --inside "$@"
fi
sentrel=$2
ip link set lo up
work=$(mktemp -d)
namespaces=()
trap 'kill "$pid" "${namespaces[@]}" 2> /dev/null; wait "$pid" 2> /dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; sed -n '1,40p' "$work/out"; exit 1; }

tcp=(21 23 25 80 12345 12346) udp=(53 137 138)
mkdir -p "$work/config"
{
    printf '[%%General]\nStart=Sentrel II\nStart%%20Monitoring=1\nLogs=False\n[Sounds]\nOn=False\n'
    printf '[Events]\nSyslog=0\n[Alarm]\nNotifications=0\n'
    printf '[Ports]\nNumber=%d\n' $((${#tcp[@]} - 1))
    for i in "${!tcp[@]}"; do printf '%d=%d\n' "$i" "${tcp[i]}"; done
    printf '[UDP%%20Ports]\nNumber=%d\n' $((${#udp[@]} - 1))
    for i in "${!udp[@]}"; do printf '%d=%d\n' "$i" "${udp[i]}"; done
} > "$work/config/Sentrel II.ini"
HOME=$work XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen \
    "$sentrel" --headless --config-dir "$work/config" > "$work/out" 2>&1 &
pid=$!
for _ in $(seq 200); do grep -q "^Ready\.$" "$work/out" && break; sleep 0.1; done
grep -q "^Ready\.$" "$work/out" || fail "the program did not start"
grep -q "Stealth scan watch" "$work/out" && fail "the packet watch is not armed"
events=$work/data/Sentrel/events.jsonl

# The intrusions recorded since the last call, as "<detection>:<port>,<port>..." per detection; with
# scans=1 the port scans too (port_scan: the ports of its records).
seen=0 scans=0
recorded() {
    python3 - "$events" "$seen" "$scans" << 'PY'
import json, sys, collections
lines = open(sys.argv[1]).read().splitlines()[int(sys.argv[2]):]
ports = collections.defaultdict(set)
for line in lines:
    record = json.loads(line)
    if record.get("event") == "intrusion":
        ports[record["detection"]].add(record["port"])
    elif record.get("event") == "port_scan" and sys.argv[3] == "1":
        ports["port_scan"].update(int(p) for p in str(record.get("ports", "")).split(",") if p.isdigit())
print(" ".join(f"{d}:{','.join(map(str, sorted(p)))}" for d, p in sorted(ports.items())))
PY
}

guarded=$(IFS=,; echo "${tcp[*]}") udpList=$(IFS=,; echo "${udp[*]}")
sorted=$(printf '%s\n' "${tcp[@]}" | sort -n | paste -sd,)
# nmap's arguments | what the program recorded
rows=(
    "-sS 127.0.0.1|half_open:$sorted"
    "-sT 127.0.0.1|connect:$sorted"
    "-sF 127.0.0.1|fin:$sorted"
    "-sN 127.0.0.1|null:$sorted"
    "-sX 127.0.0.1|xmas:$sorted"
    "-sU -p $udpList 127.0.0.1|udp:$(printf '%s\n' "${udp[@]}" | sort -n | paste -sd,)"
    "-6 -sS ::1|half_open:$sorted"
)
failed=0
for row in "${rows[@]}"; do
    args=${row%%|*} expected=${row#*|}
    [[ $args == *-p* ]] || args="-p $guarded $args"
    # shellcheck disable=SC2086
    nmap -n -Pn -T4 --max-retries 1 $args > "$work/nmap.out" 2>&1 || fail "nmap $args: $(cat "$work/nmap.out")"
    for _ in $(seq 50); do [[ -f $events && $(recorded) == "$expected" ]] && break; sleep 0.1; done
    # A SYN counts as half-open a second after it was seen: anything more comes by then.
    sleep 1.5
    got=$(recorded)
    printf '%-28s %s\n' "nmap $args" "$got"
    [[ $got == "$expected" ]] || { echo "  expected $expected"; failed=1; }
    seen=$(wc -l < "$events")
done

# A namespace of its own, kept by a sleeping process: its pid names it.
namespace() {
    unshare --net sleep 600 > /dev/null 2>&1 &
    until [[ $(readlink /proc/$!/ns/net) != "$(readlink /proc/self/ns/net)" ]]; do sleep 0.05; done
    nsenter -t $! -n ip link set lo up
    echo $!
}
container=$(namespace) internet=$(namespace)
namespaces+=("$container" "$internet")
inside() { local ns=$1; shift; nsenter -t "$ns" -n "$@"; }
ip link add br0 type bridge && ip link set br0 up && ip addr add 172.17.0.1/16 dev br0
ip link add veth-c type veth peer name eth0 netns "$container"
ip link set veth-c master br0 up
inside "$container" ip addr add 172.17.0.2/16 dev eth0
inside "$container" ip link set eth0 up
inside "$container" ip route add default via 172.17.0.1
ip link add veth-i type veth peer name eth0 netns "$internet"
ip link set veth-i up && ip addr add 198.51.100.1/24 dev veth-i
inside "$internet" ip addr add 198.51.100.5/24 dev eth0
inside "$internet" ip addr add 198.51.100.6/24 dev eth0
inside "$internet" ip link set eth0 up
inside "$internet" ip route add default via 198.51.100.1
sysctl -qw net.ipv4.ip_forward=1
inside "$internet" python3 -m http.server 80 --bind 198.51.100.5 > /dev/null 2>&1 &
namespaces+=($!)
for _ in $(seq 50); do inside "$container" curl -s -o /dev/null http://198.51.100.5/ && break; sleep 0.1; done
seen=$(wc -l < "$events") scans=1

twenty=$guarded,22,443,8080,3389,110,143,993,995,5900,6000,111,139,445
# what the container does | what the program recorded
rows=(
    "requests|"
    "-sS -p $twenty 198.51.100.6|"
    "-sS -p $guarded 172.17.0.1|half_open:$sorted"
    "-sS -f -p $guarded 172.17.0.1|fragment:$sorted"
)
for row in "${rows[@]}"; do
    args=${row%%|*} expected=${row#*|}
    if [[ $args == requests ]]; then
        # Five ordinary requests to a web server on a guarded port number, forwarded by the host.
        for _ in 1 2 3 4 5; do inside "$container" curl -s -o /dev/null http://198.51.100.5/ || fail "request failed"; done
    else
        # shellcheck disable=SC2086
        inside "$container" nmap -n -Pn -T4 --max-retries 1 $args > "$work/nmap.out" 2>&1 \
            || fail "nmap $args: $(cat "$work/nmap.out")"
    fi
    for _ in $(seq 50); do [[ $(recorded) == "$expected" ]] && break; sleep 0.1; done
    sleep 1.5
    got=$(recorded)
    printf '%-28s %s\n' "container: ${args:0:40}" "${got:-nothing}"
    [[ $got == "$expected" ]] || { echo "  expected ${expected:-nothing}"; failed=1; }
    seen=$(wc -l < "$events")
done
[[ $failed -eq 0 ]] || fail "a scan was not recorded as expected"
echo "PASS"
