#!/usr/bin/env bash
# Notifications on a real server (dunst), private X display and bus: the start names the entry it
# could not guard; a 12-port scan is one notification whose default action restores the window.
#   notification-session.sh <sentrel binary> [folder for screenshots]
session_tools="dbus-send dunst dunstctl ss openbox" session_bus=1
source "$(dirname "$0")/../support/x-session.sh"

mkdir -p "$XDG_CONFIG_HOME/dunst"
# Long enough that the notification is still on screen when the test clicks it.
printf '[global]\n    font = Monospace 9\n    width = 420\n[urgency_normal]\n    timeout = 60\n' \
    >"$XDG_CONFIG_HOME/dunst/dunstrc"

read -r -a ports <<<"$(free_ports 12)"
write_store Logs=False Min%20On%20Startup=1 Flash%20Icon=0 "${ports[@]}" 70000
printf '[Alarm]\nOne%%20Alarm%%20Per%%20Scan=1\nNotifications=1\n' >>"$store"

start_window_manager
dunst >"$work/dunst.log" 2>&1 &
pids+=($!)
within 50 dunstctl close-all || fail "dunst did not start" # it fails until dunst answers on the bus
# One notification displayed and none waiting, within 5 s and still $1 s later (an update coalesced).
alone() { [[ $(dunstctl count displayed) == 1 && $(dunstctl count waiting) == 0 ]]; }
one_notification() { within 50 alone && sleep "$1" && alone; }

start_sentrel
step "the program starts minimized and guards the twelve ports"
guarded() { ss -Htln "sport = :${ports[11]}" | grep -q .; }
within 100 guarded || fail "port ${ports[11]} is not guarded"
within 30 hidden || fail "the window did not start minimized"

step "one notification names the entry it could not guard, and why"
one_notification 1 || fail "not one notification at start-up: $(dunstctl count)"
dunstctl close-all
dunstctl history | grep -q '1 of 13 ports unguarded: 70000 is not a valid port' || fail "history: $(dunstctl history)"
dunstctl close-all
dunstctl history-clear 2>/dev/null || true

step "a 12-port scan"
for port in "${ports[@]}"; do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null || true; done
one_notification 1.5 || fail "not one notification for the scan: $(dunstctl count)"
[[ -n "$shots" ]] && import -window root -crop 460x96+560+46 "$shots/notification.png"

step "its default action restores the window"
dunstctl action 0
within 30 shown || fail "the window was not restored"

echo "PASS"
