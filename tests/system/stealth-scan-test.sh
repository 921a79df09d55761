#!/usr/bin/env bash
# The real program against the real nmap, in a private network namespace: each scan's events by
# detection and port. A connect scan is connections only, never also half-open. Root only (nmap's
# raw scans and the packet watch need it); skips (77) otherwise.
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
trap 'kill "$pid" 2> /dev/null; wait "$pid" 2> /dev/null; rm -rf "$work"' EXIT
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

# The intrusions recorded since the last call, as "<detection>:<port>,<port>..." per detection.
seen=0
recorded() {
    python3 - "$events" "$seen" << 'PY'
import json, sys, collections
lines = open(sys.argv[1]).read().splitlines()[int(sys.argv[2]):] if len(sys.argv) > 1 else []
ports = collections.defaultdict(set)
for line in lines:
    record = json.loads(line)
    if record.get("event") == "intrusion":
        ports[record["detection"]].add(record["port"])
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
[[ $failed -eq 0 ]] || fail "a scan was not recorded as expected"
echo "PASS"
