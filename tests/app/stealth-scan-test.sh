#!/usr/bin/env bash
# The real program against the real nmap in a private network namespace: each scan's events by
# detection and port (a connect scan never also half-open). Root only; skips (77) otherwise.
#   stealth-scan-test.sh <sentrel binary>
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

# The intrusions recorded since line $seen as "<detection>:<port>,...".
seen=0
recorded() {
    python3 - "$events" "$seen" << 'PY'
import json, sys, collections
ports = collections.defaultdict(set)
for record in map(json.loads, open(sys.argv[1]).read().splitlines()[int(sys.argv[2]):]):
    if record.get("event") == "intrusion":
        ports[record["detection"]].add(record["port"])
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
expect "fragment:$all" "${nmap[@]}" -p "$guarded" -sS -f 127.0.0.1
echo "PASS"
