#!/usr/bin/env bash
# A private rsyslogd on loopback (no root; configuration, pid and work files in the folder): RFC 5424
# over TCP and UDP in, each message's parsed fields as one JSON object a line in <folder>/messages.jsonl.
#   loopback-rsyslogd.sh start <folder> <tcp-port> <udp-port>   starts it, returns once it listens
#   loopback-rsyslogd.sh stop <folder>                          stops it and waits until it is gone
set -euo pipefail

command=${1:?start or stop}
dir=$(realpath "${2:?folder}")
pidfile="$dir/rsyslogd.pid"

stop() {
    [[ -f "$pidfile" ]] || return 0
    local pid
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null && sleep 0.05 || break; done
    rm -f "$pidfile"
}

case "$command" in
stop)
    stop
    ;;
start)
    tcp=${3:?tcp port}
    udp=${4:?udp port}
    rsyslogd=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
    [[ -x "$rsyslogd" ]] || { echo "rsyslogd not found" >&2; exit 3; }
    mkdir -p "$dir/work"
    cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir/work" maxMessageSize="64k")
module(load="imtcp")
module(load="imudp")
input(type="imtcp" address="127.0.0.1" port="$tcp")
input(type="imudp" address="127.0.0.1" port="$udp")
template(name="fields" type="string" string="{\"pri\":%pri%,\"time\":\"%timereported:::date-rfc3339,json%\",\"host\":\"%hostname:::json%\",\"app\":\"%app-name:::json%\",\"procid\":\"%procid:::json%\",\"msgid\":\"%msgid:::json%\",\"sd\":\"%structured-data:::json%\",\"msg\":\"%msg:::json%\"}\n")
action(type="omfile" file="$dir/messages.jsonl" template="fields" flushOnTXEnd="on" asyncWriting="off")
CONF
    stop
    "$rsyslogd" -f "$dir/rsyslog.conf" -i "$pidfile" > "$dir/rsyslogd.out" 2>&1
    # It forks into the background; wait until both inputs are bound.
    for _ in $(seq 200); do
        if ss -Htln "sport = :$tcp" | grep -q . && ss -Huln "sport = :$udp" | grep -q .; then
            exit 0
        fi
        sleep 0.05
    done
    echo "rsyslogd did not come up:" >&2
    cat "$dir/rsyslogd.out" >&2
    exit 1
    ;;
*)
    echo "usage: $0 start <folder> <tcp-port> <udp-port> | stop <folder>" >&2
    exit 2
    ;;
esac
