#!/usr/bin/env bash
# The options dialog on a real X server: Ctrl+O opens it and the guarded port refuses connections
# while it is open, Esc closes it and the port accepts again, and Ctrl+O then Enter leaves every
# one of the 38 original keys as it was. With a folder, screenshots of the pages go there.
#   options-dialog.sh <sentrel binary> [folder for screenshots]
set -euo pipefail

binary=$(readlink -f "$1")
shots=${2:+$(readlink -f "$2")}

if [[ -z "${SENTREL_X11_INNER:-}" ]]; then
    for tool in xvfb-run Xvfb xdotool import python3; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    export SENTREL_X11_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
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
export QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Twelve free ports, as many as the first start lists, so that the store holds its 38 keys.
read -r -a ports <<<"$(python3 -c '
import socket
held = [socket.socket() for _ in range(12)]
for s in held: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in held))')"
port=${ports[0]}
store="$XDG_CONFIG_HOME/Sentrel II.ini"
cat >"$store" <<INI
[%General]
Start=Sentrel II
Hide%20Monitor=0
Start%20Monitoring=1
Run=0
Run%20File=None
Logs=True
[Display]
Always%20On%20Top=0
Min%20On%20Startup=0
Use%20IconTray=0
Use%20Hotkeys=0
Auto%20Scroll%20Monitor=1
Windows%20Startup=0
Flash%20Icon=1
Change%20Background=0
Attack%20Run=0
Attack%20Run%20File=None
Copy%20Clipboard=0
[Sounds]
On=False
0=NetOn.wav
1=NetOff.wav
2=Intruder.wav
3=Start.wav
[Ports]
Number=11
$(for i in "${!ports[@]}"; do echo "$i=${ports[$i]}"; done)
[Advance]
DDE%20On=0
DDE%20Service=mIRC
RPS=0
INI

if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    pids+=($!)
    within 50 xprop -root _NET_SUPPORTING_WM_CHECK || true
fi

"$binary" >"$work/sentrel.log" 2>&1 &
pids+=($!)

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
refuses() { ! accepts; }
window() { xdotool search --onlyvisible --name '^Sentrel 2\.0$' | head -1; }
options() { xdotool search --onlyvisible --name '^Options$' | head -1; }
keys() { python3 - "$store" <<'PY'
import configparser, sys
c = configparser.RawConfigParser(); c.optionxform = str; c.read(sys.argv[1])
for s in ("%General", "Display", "Sounds", "Ports", "Advance"):
    for k, v in c.items(s): print(f"{s}/{k}={v}")
PY
}
open_options() {
    xdotool windowactivate --sync "$(window)" 2>/dev/null || xdotool windowfocus "$(window)"
    xdotool key ctrl+o
    within 50 options || fail "Ctrl+O opened no window titled Options"
}

step "the monitor window is up and the port is guarded"
within 100 window || fail "no monitor window"
within 50 accepts || fail "the port does not accept"

step "Ctrl+O opens the options; the port refuses while they are open"
open_options
within 30 refuses || fail "the port still accepts with the options open"
if command -v xprop >/dev/null; then
    xprop -id "$(options)" WM_TRANSIENT_FOR | grep -q "window id" || fail "the options are not kept above the monitor window"
fi

if [[ -n "$shots" ]]; then
    dialog=$(options)
    sleep 0.5
    # The page labels are the first row of the dialog; each is clicked at its middle.
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    for page in general display sounds advance alarm; do
        case $page in general) x=35 ;; display) x=99 ;; sounds) x=162 ;; advance) x=228 ;; alarm) x=287 ;; esac
        xdotool mousemove --window "$dialog" $x 16 click 1
        sleep 0.4
        import -window "$dialog" "$shots/options-$page.png"
    done
fi

step "Esc closes them and the port accepts again"
xdotool windowactivate --sync "$(options)" 2>/dev/null || true
xdotool key Escape
within 30 bash -c '! xdotool search --onlyvisible --name "^Options\$" | grep -q .' || fail "Esc did not close the options"
within 50 accepts || fail "the port did not come back"

step "Ctrl+O then Enter leaves the 38 original keys as they were"
before=$(keys)
[[ $(wc -l <<<"$before") -eq 38 ]] || fail "the store holds $(wc -l <<<"$before") keys, not 38"
open_options
xdotool windowactivate --sync "$(options)" 2>/dev/null || true
xdotool key Return
within 30 bash -c '! xdotool search --onlyvisible --name "^Options\$" | grep -q .' || fail "Enter did not close the options"
within 50 accepts || fail "the port did not come back after OK"
after=$(keys)
[[ "$before" == "$after" ]] || { diff <(echo "$before") <(echo "$after") || true; fail "OK changed the store"; }
echo "PASS"
