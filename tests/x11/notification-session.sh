#!/usr/bin/env bash
# The program's desktop notifications shown by a real notification server (dunst) on a private
# X display and session bus: a 12-port scan is one notification updated in place, not twelve,
# and its default action (a click on it) brings the minimized monitor window back.
#   notification-session.sh <sentrel binary> [folder for screenshots]
set -euo pipefail

binary=$(readlink -f "$1")
shots=${2:+$(readlink -f "$2")}

if [[ -z "${SENTREL_X11_INNER:-}" ]]; then
    for tool in xvfb-run dbus-run-session dbus-send dunst dunstctl busctl ss openbox xdotool import python3; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    export SENTREL_X11_INNER=1
    xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$0" "$@" && exit 0
    status=$?
    [[ $status -eq 77 ]] && exit 77
    exit $status
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [[ -f $work/sentrel.log ]] && sed 's/^/  | /' "$work/sentrel.log"; exit 1; }
step() { echo "-- $*"; }
within() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME/dunst" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# Long enough that the notification is still on screen when the test clicks it.
printf '[global]\n    font = Monospace 9\n    width = 420\n[urgency_normal]\n    timeout = 60\n' \
    >"$XDG_CONFIG_HOME/dunst/dunstrc"

ports=$(python3 -c '
import socket
held = [socket.socket() for _ in range(12)]
for s in held: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))')
read -ra ports <<<"$ports"
{
    printf '[%%General]\nStart=Sentrel II\nHide%%20Monitor=0\nStart%%20Monitoring=1\nRun=0\nLogs=False\n'
    printf '[Display]\nMin%%20On%%20Startup=1\nUse%%20IconTray=0\nUse%%20Hotkeys=0\nWindows%%20Startup=0\n'
    printf 'Flash%%20Icon=0\nChange%%20Background=0\nAttack%%20Run=0\nCopy%%20Clipboard=0\n'
    printf '[Sounds]\nOn=False\n[Advance]\nDDE%%20On=0\nRPS=0\n[Ports]\nNumber=11\n'
    for i in "${!ports[@]}"; do printf '%s=%s\n' "$i" "${ports[$i]}"; done
    printf '[Alarm]\nOne%%20Alarm%%20Per%%20Scan=1\nNotifications=1\n'
} >"$XDG_CONFIG_HOME/Sentrel II.ini"

openbox >/dev/null 2>&1 &
pids+=($!)
within 50 xprop -root _NET_SUPPORTING_WM_CHECK || true
dunst >"$work/dunst.log" 2>&1 &
pids+=($!)
# Asked without activating it: the bus would start a second server from its service file.
has_server() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q true
}
within 50 has_server || fail "dunst did not start"

"$binary" >"$work/sentrel.log" 2>&1 &
pids+=($!)
shown() { xdotool search --onlyvisible --name '^Sentrel 2\.0$' | grep -q .; }
step "the program starts minimized and guards the twelve ports"
guarded() { ss -Htln "sport = :${ports[11]}" | grep -q .; }
within 100 guarded || fail "port ${ports[11]} is not guarded"
within 30 bash -c '! xdotool search --onlyvisible --name "^Sentrel 2\.0$" | grep -q .' \
    || fail "the window did not start minimized"
sleep 1
dunstctl close-all
dunstctl history-clear 2>/dev/null || true

step "a 12-port scan"
for port in "${ports[@]}"; do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null || true; done
within 50 [ "$(dunstctl count displayed)" = 1 ] || fail "no notification is displayed"
sleep 1.5 # the coalesced update
[[ $(dunstctl count displayed) == 1 && $(dunstctl count waiting) == 0 ]] \
    || fail "$(dunstctl count displayed) notifications displayed, $(dunstctl count waiting) waiting"
[[ -n "$shots" ]] && import -window root -crop 460x96+560+46 "$shots/notification.png"

step "its default action restores the window"
dunstctl action 0
within 30 shown || fail "the window was not restored"

step "the history holds the incident once, with its twelve ports"
dunstctl close-all
history=$(dunstctl history)
python3 - "$history" <<'PY' || fail "history: $history"
import json, sys
items = json.loads(sys.argv[1])["data"][0]
bodies = [item["body"]["data"] for item in items]
assert len(bodies) == 1, bodies
assert "12 ports so far" in bodies[0] and "Intruder" in items[0]["summary"]["data"], bodies
PY
echo "PASS"
