#!/usr/bin/env bash
# The program on a headless Wayland compositor, no X server, no platform named for Qt: it records an
# intrusion, binds F9-F12 at a stand-in portal on a private bus and obeys them; with a folder, a
# screenshot of its window goes there.
#   wayland-session.sh <sentrel binary> [folder for the screenshot]
here=$(dirname "$(readlink -f "$0")")
compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null \
    || { echo "SKIP: the Qt Wayland platform (qt6-wayland) is not installed"; exit 77; }
/usr/bin/python3 -c "import dbus, gi" 2>/dev/null || { echo "SKIP: python3-dbus or python3-gi is missing"; exit 77; }
# The X11 sessions' helpers and private home, without their X server.
session_tools="weston weston-screenshooter weston-fullscreen dbus-send convert ss" session_bus=1 x_server=0
source "$here/../support/x-session.sh"
unset DISPLAY QT_QPA_PLATFORM
export WAYLAND_DISPLAY=sentrel-test XDG_SESSION_TYPE=wayland
# Pixman renders for real, so that the screenshooter (allowed to any client by --debug) has pixels.
weston --backend=headless-backend.so --use-pixman --debug --socket=$WAYLAND_DISPLAY --width=1024 \
    --height=768 --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
within 100 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || fail "weston did not start"

port=$(free_ports 1)
write_store Use%20Hotkeys=1 Use%20IconTray=1 Copy%20Clipboard=1 "$port"
step "--check: Wayland, and no hotkeys where the desktop offers no portal"
check_reports "Display: Wayland" "Global hotkeys: not available (the desktop offers no GlobalShortcuts portal)"

step "with a stand-in portal the program binds F9-F12 there"
/usr/bin/python3 "$here/../support/stand-in-portal.py" answer >"$work/portal.log" 2>&1 &
pids+=($!)
within 100 grep -q ready "$work/portal.log" || fail "the stand-in portal did not start"
check_reports "Display: Wayland" "Global hotkeys: portal (org.freedesktop.portal.GlobalShortcuts)"
start_sentrel
within 100 grep -q "^bound .*=F9/.*=F10/.*=F11/.*=F12/" "$work/portal.log" || fail "F9-F12 were not bound"

step "an intrusion is recorded"
within 100 accepts "$port" || fail "port $port is not guarded"
within 50 grep -q '"event":"intrusion"' "$XDG_DATA_HOME/Sentrel/events.jsonl" || fail "no intrusion recorded"

# Below the panel and its clock; cleared lines leave the list brighter.
shot() { rm -f "$work"/wayland-screenshot-*.png; (cd "$work" && weston-screenshooter) && mv "$work"/wayland-screenshot-*.png "$work/$1.png"; }
brightness() { convert "$work/$1.png" -crop 1024x720+0+48 -colorspace Gray -format "%[fx:mean]" info:; }
activate() { dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
    org.sentrel.StandIn.Activate "string:$1" >/dev/null; }
sleep 1
shot listed || fail "no screenshot"
[[ -n "$shots" ]] && cp "$work/listed.png" "$shots/wayland-window.png"

step "F12 through the portal clears the list"
activate clear-messages
sleep 2.5 # the keys are polled every 1.5 s
shot cleared
awk -v a="$(brightness listed)" -v b="$(brightness cleared)" 'BEGIN { exit !(b > a) }' \
    || fail "the list was not cleared"

step "F9 through the portal stops monitoring: the port refuses"
activate start-stop-monitoring
within 50 refuses "$port" || fail "the port still accepts after F9"
if grep -q "systemTrayWindowChanged\|wl_seats" "$work/sentrel.log"; then fail "Qt's Wayland noise reached standard error"; fi

# Shown: light pixels (the window's) below the panel; the background and the covering client are dark.
window_shown() { shot "$1" && convert "$work/$1.png" -crop 1024x736+0+32 -colorspace Gray -threshold 90% \
    -format "%[fx:mean]" info: | awk '{ exit !($1 > 0.02) }'; }
step "no tray host: Minimize On Startup leaves the window shown; a second start brings it forward"
kill "$sentrel" && wait "$sentrel" || true
write_store Min%20On%20Startup=1 Use%20IconTray=1 "$port"
start_sentrel
within 100 accepts "$port" && sleep 1 || fail "port $port is not guarded after the restart"
window_shown started || fail "the window is not shown"
weston-fullscreen -w 1024 -h 768 >/dev/null 2>&1 &
pids+=($!)
sleep 1
! window_shown covered || fail "the covering window did not cover"
"$binary" | grep -q "already running" || fail "the second start did not defer"
sleep 1
window_shown raised && kill -0 "$sentrel" || fail "the window did not come forward"
echo "PASS"
