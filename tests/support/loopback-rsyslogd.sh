#!/usr/bin/env bash
# A private rsyslogd on loopback (no root; everything in <folder>), RFC 5424 over TCP and UDP in, each
# message's parsed fields as one JSON object a line in <folder>/messages.jsonl.
#   loopback-rsyslogd.sh start|stop <folder> <tcp-port> <udp-port>
set -euo pipefail
dir=$(realpath "$2") tcp=$3 udp=$4
pidfile="$dir/rsyslogd.pid"
if [[ -f "$pidfile" ]]; then
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null && sleep 0.05 || break; done
    rm -f "$pidfile"
fi
[[ $1 == start ]] || exit 0
mkdir -p "$dir/work"
cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir/work" maxMessageSize="64k")
module(load="imtcp")
module(load="imudp")
input(type="imtcp" address="127.0.0.1" port="$tcp")
input(type="imudp" address="127.0.0.1" port="$udp")
template(name="fields" type="string" string="{\"pri\":%pri%,\"app\":\"%app-name:::json%\",\"procid\":\"%procid:::json%\",\"msgid\":\"%msgid:::json%\",\"sd\":\"%structured-data:::json%\"}\n")
action(type="omfile" file="$dir/messages.jsonl" template="fields" flushOnTXEnd="on" asyncWriting="off")
CONF
"$(command -v rsyslogd || echo /usr/sbin/rsyslogd)" -f "$dir/rsyslog.conf" -i "$pidfile" > "$dir/rsyslogd.out" 2>&1
# It forks into the background; it is ready once both inputs are bound.
for _ in $(seq 200); do
    ss -Htln "sport = :$tcp" | grep -q . && ss -Huln "sport = :$udp" | grep -q . && exit 0
    sleep 0.05
done
cat "$dir/rsyslogd.out" >&2
exit 1
