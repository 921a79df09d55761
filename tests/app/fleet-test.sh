#!/usr/bin/env bash
# One desktop's tripwire bans the intruder on another host, through the real engine: three hosts
# in network namespaces on a bridge, each with a configuration folder of its own. A holds the
# engine's local API; B runs Sentrel and an engine agent (registered with A) reading its
# events.jsonl with the shipped parser and scenarios; C runs the firewall bouncer (nftables,
# registered with A). The intruder 192.0.2.66 completes a connection to B's tripwire and is then
# dropped by C; 192.0.2.67 only sends SYNs to B (half-open probes and a scan: the address may be
# forged) and gets alerts, never a ban. Then a scan of completed connections, and system log lines
# in both formats. Prints the timeline. Root only; skips (77) otherwise.
#   fleet-test.sh <sentrel binary> <folder of the shipped engine files, laid out as /etc/crowdsec>
why="the fleet's namespaces" needs="crowdsec cscli crowdsec-firewall-bouncer nft hping3"
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2 shipped=$3
declare -A address=([A]=192.0.2.10 [B]=192.0.2.11 [C]=192.0.2.12) ns
api=http://192.0.2.10:8080/ key=fleettestbouncerkey0123456789 service=8000
tripwire=12345 guarded=(12345 12346 12347 12348 12349 12350 12351 12352)
# How often the bouncer asks A for new decisions (10 s by default).
poll=${FLEET_BOUNCER_POLL:-1s}

# The bridge is here, with the intruders' addresses; each host is a namespace on it.
ip link add fleet type bridge
for intruder in 66 67 68; do ip addr add "192.0.2.$intruder/24" dev fleet; done
ip link set fleet up
on() { local name=$1; shift; nsenter -t "${ns[$name]}" -n "$@"; }
# daemon <host> <output file> <command>...: started in the background on the host (nsenter runs the
# command in its own place, so the pid is the command's, which the rig ends).
daemon() { nsenter -t "${ns[$1]}" -n "${@:3}" > "$2" 2>&1 & pids+=" $!"; }
for name in A B C; do
    ns[$name]=$(namespace)
    pids+=" ${ns[$name]}"
    ip link add "to$name" type veth peer name eth0 netns "/proc/${ns[$name]}/ns/net"
    ip link set "to$name" master fleet up
    on "$name" sh -c "ip addr add ${address[$name]}/24 dev eth0 && ip link set eth0 up"
done

# config <host> [listen address]: a copy of the engine's configuration as its package ships it,
# every path in the host's own folder but the shared hub's, without the central API; the same
# patterns, profile and simulation setting.
config() {
    local dir=$work/$1
    mkdir -p "$dir/data"
    sed "/online_client:/,+1d; s|/etc/crowdsec/|$dir/|; s|/var/lib/crowdsec/data/|$dir/data/|; s|/var/log/|$dir/|
         s|daemonize: true|daemonize: false|; s|listen_uri: .*|listen_uri: ${2:-127.0.0.1:8080}|" \
        /etc/crowdsec/config.yaml > "$dir/config.yaml"
    cp -r /etc/crowdsec/patterns /etc/crowdsec/profiles.yaml /etc/crowdsec/simulation.yaml "$dir/"
}
cscliA() { cscli -c "$work/A/config.yaml" --error "$@"; }
# elapsed: milliseconds since the intrusion.
elapsed() { echo $(( ($(date +%s%N) - start) / 1000000 )); }
mark() { printf '%3d.%03d s  %s\n' $(($1 / 1000)) $(($1 % 1000)) "$2" >> "$work/timeline"; }
# connect <source> <target> <port>...: a connection from the bridge to each port in turn, "ok" if
# accepted within 2 s, else "timeout".
connect() {
    python3 -c 'import socket, sys
def attempt(port):
    try:
        return socket.create_connection((sys.argv[2], int(port)), 2, (sys.argv[1], 0)).close() or "ok"
    except OSError:
        return "timeout"
print(" ".join(map(attempt, sys.argv[3:])))' "$@"
}
# decisions <address>: the decisions A holds for it, as "<scenario>:<type>" (as a bouncer asks).
decisions() {
    python3 - "$api" "$key" "$1" << 'PY'
import json, sys, urllib.request
request = urllib.request.Request(f"{sys.argv[1]}v1/decisions?ip={sys.argv[3]}", headers={"X-Api-Key": sys.argv[2]})
found = json.load(urllib.request.urlopen(request, timeout=2)) or []
print(" ".join(sorted(f"{d['scenario']}:{d['type']}" for d in found)))
PY
}
# scenarios <address>: the scenarios of the alerts A stored for it. Read from A's database: cscli
# lists only alerts that carry a decision, and the ones without are the point here.
scenarios() {
    python3 - "$work/A/data/crowdsec.db" "$1" << 'PY'
import sqlite3, sys
rows = sqlite3.connect(sys.argv[1]).execute("select distinct scenario from alerts where source_value = ?", sys.argv[2:])
print(" ".join(sorted(r[0] for r in rows)))
PY
}
# retry <tenths of a second> <command>...: runs it until it succeeds.
retry() { local tenths=$1; shift; for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done; return 1; }

# A: the local API alone. Its own client (for cscli), B's agent and C's bouncer are registered.
config A 192.0.2.10:8080
mkdir -p "$work/B"
cscliA machines add fleet-a --password fleet-a-password -f "$work/A/local_api_credentials.yaml" --url "$api"
cscliA machines add fleet-b --password fleet-b-password -f "$work/B/local_api_credentials.yaml" --url "$api" \
    || fail "B's agent could not be registered"
cscliA bouncers add fleet-c -k "$key" > /dev/null || fail "C's bouncer could not be registered"
daemon A "$work/A/out" crowdsec -c "$work/A/config.yaml" -no-cs
retry 150 on A python3 -c 'import socket; socket.create_connection(("192.0.2.10", 8080), 1)' 2> /dev/null \
    || fail "A's local API did not start: $(tail -n 5 "$work/A/crowdsec_api.log" "$work/A/out")"

# B: Sentrel guarding 8 ports (a scan by its default), then the agent reading its events with the
# shipped files, and a system log file in the form rsyslog writes.
store "$work/config" False "[Ports]\nNumber=7\n$(for i in "${!guarded[@]}"; do printf '%d=%d\\n' "$i" "${guarded[i]}"; done)"
startSentrel nsenter -t "${ns[B]}" -n env HOME="$work" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" \
    QT_QPA_PLATFORM=offscreen "$sentrel" --headless --config-dir "$work/config"
events=$work/data/Sentrel/events.jsonl
grep -q "Stealth scan watch" "$work/out" && fail "the packet watch is not armed"
config B
mkdir -p "$work/B/parsers/s00-raw" "$work/B/parsers/s02-enrich" "$work/B/scenarios"
# The engine's own raw and date stages, as its package enables them.
cp -P /etc/crowdsec/parsers/s00-raw/syslog-logs.yaml "$work/B/parsers/s00-raw/"
cp -P /etc/crowdsec/parsers/s02-enrich/dateparse-enrich.yaml "$work/B/parsers/s02-enrich/"
cp -r "$shipped/parsers" "$shipped/scenarios" "$work/B/"
sed "/^  - /d; s|^filenames:|filenames:\n  - $events|" "$shipped/acquis.d/sentrel.yaml" > "$work/B/acquis.yaml"
printf -- '---\nfilenames: [%s]\nlabels: {type: syslog}\n' "$work/B/auth.log" >> "$work/B/acquis.yaml"
touch "$work/B/auth.log"
daemon B "$work/B/out" crowdsec -c "$work/B/config.yaml" -no-api
retry 150 grep -qs "Starting processing data" "$work/B/crowdsec.log" \
    || fail "B's agent did not start: $(tail -n 5 "$work/B/crowdsec.log" "$work/B/out")"

# C: the firewall bouncer and a service the intruders reach.
mkdir -p "$work/C"
cat > "$work/C/bouncer.yaml" << EOF
mode: nftables
pid_dir: $work/C/
update_frequency: $poll
daemonize: false
log_mode: file
log_dir: $work/C/
log_level: info
api_url: $api
api_key: $key
disable_ipv6: true
deny_action: DROP
deny_log: false
supported_decisions_types: [ban]
nftables:
  ipv4: {enabled: true, set-only: false, table: crowdsec, chain: crowdsec-chain}
  ipv6: {enabled: false}
EOF
daemon C /dev/null python3 -m http.server -b 192.0.2.12 "$service"
daemon C "$work/C/out" crowdsec-firewall-bouncer -c "$work/C/bouncer.yaml"
retry 100 on C nft list table ip crowdsec > /dev/null 2>&1 \
    || fail "C's bouncer did not start: $(tail -n 5 "$work/C/out")"
reached() { [[ $(connect 192.0.2.66 192.0.2.12 "$service") == ok ]]; }
retry 50 reached || fail "C's service is not reached"
step "192.0.2.66 and 192.0.2.67 reach C's service" \
    "$(connect 192.0.2.66 192.0.2.12 "$service") $(connect 192.0.2.67 192.0.2.12 "$service")" "ok ok"

# 192.0.2.67: SYNs only, one to each guarded port (an alert each, and a scan). Its alerts reach A.
hping3 -q -S -c 8 -i u100000 -p ++"$tripwire" -a 192.0.2.67 192.0.2.11 > /dev/null 2>&1 || true
waitFor '"event":"port_scan","host":"[^"]*","address":"192.0.2.67"' "$events" 50 || fail "B recorded no scan"
alerted() { [[ $(scenarios "$1") == *port-scan* ]]; }
retry 100 alerted 192.0.2.67 || fail "no alert for 192.0.2.67 reached A: $(tail -n 5 "$work/B/crowdsec.log")"

# 192.0.2.66: one completed connection to B's tripwire.
start=$(date +%s%N)
mark 0 "192.0.2.66 connects to B's tripwire (port $tripwire): $(connect 192.0.2.66 192.0.2.11 "$tripwire")"
waitFor '"event":"intrusion".*"address":"192.0.2.66"' "$events" 50 || fail "B recorded no intrusion"
mark "$(elapsed)" "B's events.jsonl holds the intrusion (connect, spoofable false)"
decided() { [[ -n $(decisions "$1") ]]; }
retry 300 decided 192.0.2.66 || fail "A made no decision for 192.0.2.66: $(tail -n 5 "$work/B/crowdsec.log")"
mark "$(elapsed)" "A holds a decision for 192.0.2.66: $(decisions 192.0.2.66)"
held() { on C nft list set ip crowdsec crowdsec-blacklists 2> /dev/null | grep -q "$1"; }
retry 300 held 192.0.2.66 \
    || fail "C's firewall never held 192.0.2.66: $(tail -n 5 "$work/C/crowdsec-firewall-bouncer.log")"
dropped=$(elapsed)
mark "$dropped" "C's firewall holds 192.0.2.66"
step "192.0.2.66's next connection to C" "$(connect 192.0.2.66 192.0.2.12 "$service")" timeout
mark "$(elapsed)" "192.0.2.66's connection to C timed out"
cat "$work/timeline"
(( dropped < 15000 )) || fail "the drop took ${dropped} ms"

# 192.0.2.68 completes a connection to every guarded port: a scan that cannot be forged. The
# system log's lines (as Sentrel writes them) of 192.0.2.69's connection and 192.0.2.70's probes,
# and of 192.0.2.71's connection in the ECS format (the fields that matter).
connect 192.0.2.68 192.0.2.11 "${guarded[@]}" > /dev/null
line() { echo "$(date '+%b %e %H:%M:%S') b sentrel[42]: event=$1 address=$2 family=ipv4 $3" >> "$work/B/auth.log"; }
line intrusion 192.0.2.69 "source_port=40001 port=23 sentinel=false incident=7 detection=connect spoofable=false"
line intrusion 192.0.2.70 "source_port=40002 port=23 sentinel=false incident=8 detection=xmas spoofable=true"
line port_scan 192.0.2.70 "state=started incident=8 port_count=8 ports=1,2,3,4,5,6,7,23 spoofable=true"
echo "$(date '+%b %e %H:%M:%S') b sentrel[42]: {\"@timestamp\":\"$(date -Isec)\",\"event\":{\"action\":\"intrusion\"},\
\"sentrel\":{\"address\":\"192.0.2.71\",\"port\":23,\"detection\":\"connect\",\"spoofable\":false}}" >> "$work/B/auth.log"
# expect <address> <its alerts on A> <its decisions on A>
expect() {
    alertsAre() { [[ $(scenarios "$1") == "$2" ]]; }
    retry 100 alertsAre "$1" "$2" || true
    step "$1: A's alerts" "$(scenarios "$1")" "$2"
    step "$1: A's decisions" "$(decisions "$1")" "$3"
}
expect 192.0.2.67 "sentrel/port-scan-spoofable sentrel/tripwire-spoofable" ""
expect 192.0.2.68 "sentrel/port-scan sentrel/tripwire" "sentrel/port-scan:ban sentrel/tripwire:ban"
expect 192.0.2.69 sentrel/tripwire sentrel/tripwire:ban
expect 192.0.2.70 "sentrel/port-scan-spoofable sentrel/tripwire-spoofable" ""
expect 192.0.2.71 sentrel/tripwire sentrel/tripwire:ban
step "192.0.2.67 still reaches C" "$(connect 192.0.2.67 192.0.2.12 "$service")" ok
echo "PASS"
