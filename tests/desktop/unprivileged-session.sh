#!/usr/bin/env bash
# As a normal user outside the group sentrel, on a real X server and a private bus with a tray host
# and a notification server: the tooltip, the start-up notification and --check name every guard
# that is missing and the remedy. Run as root, the program runs as nobody; run as a normal user, as
# that user.   unprivileged-session.sh <sentrel binary>
session_tools="dbus-send dunst dunstctl setpriv" session_bus=1
source "$(dirname "$0")/../support/x-session.sh"

if [[ $(id -u) == 0 ]]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    user_home=$work/nobody
else
    id -nG | grep -qw sentrel && { echo "SKIP: this user is in the group sentrel"; exit 77; }
    as_user=()
    user_home=$work
fi
mkdir -p "$user_home/config" "$user_home/run"
chmod 711 "$work" && chmod 700 "$user_home/run"
[[ $(id -u) == 0 ]] && chown -R nobody:nogroup "$user_home"
store="$user_home/config/Sentrel II.ini"

# One free port and a privileged one for TCP and for UDP, blocking on.
read -r tcp udp <<<"$(free_ports 2)"
write_store Logs=False Use%20IconTray=1 "$tcp" 21
printf '%s\n' '[Alarm]' Block%20Intruders=1 Notifications=1 '[UDP Ports]' Number=1 0=137 "1=$udp" >>"$store"
[[ $(id -u) == 0 ]] && chown nobody:nogroup "$store"
run_as_user() {
    "${as_user[@]}" env HOME="$user_home" XDG_CONFIG_HOME="$user_home/config" XDG_DATA_HOME="$user_home/data" \
        XDG_RUNTIME_DIR="$user_home/run" "$binary" "$@"
}
expected=("1 of 2 ports unguarded: 21 needs administrator rights"
    "1 of 2 UDP ports unguarded: 137 needs administrator rights"
    "Stealth scan watch off: it needs administrator rights"
    "Blocking intruders off: it needs administrator rights"
    'To guard the rest, join the group sentrel and log in again: sudo adduser $USER sentrel')

step "--check passes with gaps, names each and the remedy, and ends with 4"
code=0
run_as_user --check >"$work/check.log" 2>&1 || code=$?
[[ $code == 4 ]] || fail "the check ended with $code: $(cat "$work/check.log")"
grep -q "^Check passed with gaps: an intrusion on port $tcp reached" "$work/check.log" || fail "$(cat "$work/check.log")"
for line in "${expected[@]}"; do grep -qxF "$line" "$work/check.log" || fail "no \"$line\": $(cat "$work/check.log")"; done

/usr/bin/python3 "$(dirname "$0")/../support/stand-in-tray-watcher.py" >"$work/tray.log" 2>&1 &
pids+=($!)
within 50 grep -q ready "$work/tray.log" || fail "the tray host did not start"
dunst >"$work/dunst.log" 2>&1 &
pids+=($!)
within 50 dunstctl close-all || fail "dunst did not start"
start_window_manager
run_as_user >"$work/sentrel.log" 2>&1 &
sentrel=$! && pids+=($sentrel)

step "the tooltip counts every guard and names the remedy"
within 100 grep -q "^item " "$work/tray.log" || fail "no tray icon: $(cat "$work/tray.log")"
read -r _ item path <<<"$(grep -m1 '^item ' "$work/tray.log")"
tooltip() { dbus-send --session --print-reply --dest="$item" "$path" org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierItem string:ToolTip; }
summary="1 of 2 ports unguarded, 1 of 2 UDP ports unguarded, stealth scan watch off, blocking off"
tells_all() { tooltip | grep -qF "$summary" && tooltip | grep -qF "${expected[4]}"; }
within 50 tells_all || fail "the tooltip: $(tooltip)"

step "the start-up notification names each and the remedy, once"
sleep 1 # the blocking helper's answer updates the notification in place
[[ $(dunstctl count displayed) == 1 ]] || fail "not one notification: $(dunstctl count)"
dunstctl close-all
bodies=$(dunstctl history | /usr/bin/python3 -c 'import json, sys
print("\n".join(n["body"]["data"] for n in json.load(sys.stdin)["data"][0]))')
for line in "${expected[@]}"; do
    [[ $(grep -cxF "$line" <<<"$bodies") == 1 ]] || fail "the notification lacks \"$line\": $bodies"
done
echo "PASS"
