#!/usr/bin/env bash
# The program on a real X server with a tray host, step by step as a user drives it; with a folder,
# screenshots go there.   desktop-session.sh <sentrel binary> [folder for screenshots]
session_tools="trayer xwininfo"
source "$(dirname "$0")/../support/x-session.sh"
scale=${QT_SCALE_FACTOR:-1} # screenshots at 200%: QT_SCALE_FACTOR=2 SENTREL_X11_SCREEN=2048x1536

shot() { [[ -z "$shots" ]] || import "$@"; } # only with a folder for screenshots
port=$(free_ports 1)
write_store Logs=False Min%20On%20Startup=1 Use%20IconTray=1 "$port"
# Push settings for the Push page's screenshot, which picks the service (no push is ever sent).
printf '%s\n' '[Push]' Service=none URL=https://ntfy.example/desk-alarm Token=tk_example >>"$store"
# No reverse lookups of the made-up sources: a test sends nothing beyond loopback.
printf '%s\n' '[History]' Reverse%20DNS=0 >>"$store"
history="$XDG_DATA_HOME/Sentrel/history.sqlite"
python3 "$(dirname "$0")/history-fill.py" "$history" "$(dirname "$0")/../../src/history/HistorySchema.cpp" >/dev/null \
    || fail "the history could not be filled"
start_window_manager
trayer --edge top --align right --widthtype pixel --width 200 --height 40 --SetDockType true \
    --transparent false --tint 0x404040 >/dev/null 2>&1 &
pids+=($!)
within 50 xdotool search --class trayer || fail "the tray host did not start"

step "--check finds X11, its tray and its keys"
check_reports "Display: X11" "Tray: XEmbed" "Global hotkeys: X11 input extension"
start_sentrel

step "the icon is embedded in the tray"
icon_geometry() { # a window under the panel about as wide as high
    local tray
    for tray in $(xdotool search --class trayer); do xwininfo -tree -id "$tray"; done | awk '/^ +0x/ { for (i = 1; i < NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-]/) {
        split($i, size, /[x+-]/); split($(i + 1), at, /[+]/)
        if (size[1] >= 16 && size[1] <= 48 && size[2] >= 16) { print at[2], at[3], size[1], size[2]; exit }
    } }'
}
has_icon() { [[ -n "$(icon_geometry)" ]]; }
within 100 has_icon || fail "no icon in the tray"
read -r ix iy iw ih <<<"$(icon_geometry)"
cx=$((ix + iw / 2)) cy=$((iy + ih / 2))
echo "   icon at $ix,$iy ${iw}x$ih"

step "the window minimized at start-up goes into the tray within about a second"
within 100 grep -q "Ready" "$work/sentrel.log" || true
within 30 window || fail "no monitor window"
within 25 hidden || fail "the minimized window stayed visible"

step "a double click on the icon restores it"
xdotool mousemove $cx $cy click --repeat 2 --delay 80 1
within 30 shown || fail "the double click did not restore the window"

if command -v openbox >/dev/null; then
    step "minimized by the user, it goes into the tray again"
    xdotool windowminimize "$(window)"
    within 25 hidden || fail "the minimized window stayed on the task bar"
    step "a second start brings the first forward, says so and ends with 0"
    said=$(timeout 20 "$binary" 2>/dev/null) || fail "the second start ended with $?"
    [[ $said == "Sentrel is already running; its window was asked to come forward." ]] || fail "it said: $said"
    within 30 shown || fail "the second start did not bring the window back"
    kill -0 $sentrel || fail "the first instance ended"
fi

step "a right click opens the tray menu"
popups() { xdotool search --onlyvisible --class sentrel 2>/dev/null | wc -l; }
before=$(popups)
xdotool mousemove $cx $cy click 3
more_popups() { [[ $(popups) -gt $before ]]; }
within 30 more_popups || fail "no menu"
read -r screen_width _ <<<"$(xdotool getdisplaygeometry)"
shot -window root -crop "$((260 * scale))x$((160 * scale))+$((screen_width - 260 * scale))+0" "$shots/tray-menu.png"
xdotool key Escape
sleep 0.5
[[ -z "$shots" ]] || xdotool mousemove $((cx - 1)) $cy sleep 0.2 mousemove $cx $cy sleep 2 # the tooltip tells the protection state
shot -window root -crop "$((330 * scale))x$((110 * scale))+$((screen_width - 330 * scale))+0" "$shots/tray-tooltip.png"

crop() { import -window root -crop "${iw}x${ih}+$ix+$iy" rgb:- | md5sum | cut -c1-32; }
icon_states() { for _ in 1 2 3 4 5 6 7 8 9 10; do crop; sleep 0.25; done | sort -u | wc -l; }

step "an intrusion makes the icon flash"
xdotool mousemove 5 760 # away from the window and the icon
exec 3<>"/dev/tcp/127.0.0.1/$port" && exec 3>&-
within 50 grep -q "Intruder Detected" "$work/sentrel.log" || true
[[ $(icon_states) -ge 2 ]] || fail "the icon did not flash"

step "the pointer over the window stops it"
eval "$(xdotool getwindowgeometry --shell "$(window)")"
xdotool mousemove $((X + 4)) $((Y + 30)) sleep 0.1 mousemove $((X + 8)) $((Y + 32)) sleep 0.1 mousemove $((X + 12)) $((Y + 34))
sleep 1.2
[[ $(icon_states) -eq 1 ]] || fail "the icon kept flashing"

shot -window "$(window)" -frame "$shots/monitor-expanded.png" 2>/dev/null || shot -window "$(window)" "$shots/monitor-expanded.png"

step "Help > Contents without the manual shows the Help box"
rm -f "$XDG_DATA_HOME/Sentrel/ReadMe.html"
activate "$(window)"
xdotool key --window "$(window)" F1
named() { local ids; ids=$(xdotool search --onlyvisible --name "$1") && echo "${ids%%$'\n'*}"; }
within 50 named '^Help$' || fail "no Help box"
shot -window "$(named '^Help$')" "$shots/help-box.png"
activate "$(named '^Help$')"
xdotool key Return
within 30 gone '^Help$' || fail "the Help box did not close"

options() { named '^Options$'; }
# The original sections and Alarm as Section/Key=value lines.
keys() { awk '/^\[/ { s = substr($0, 2, length($0) - 2); next }
    NF && s ~ /^(%General|Display|Sounds|Ports|Advance|Alarm)$/ { print s "/" $0 }' "$store"; }
open_options() {
    activate "$(window)"
    xdotool key ctrl+o
    within 50 options || fail "Ctrl+O opened no window titled Options"
    activate "$(options)"
}
close_options() { # $1: the key, $2: its name
    activate "$(options)"
    xdotool key "$1"
    within 30 gone '^Options$' || fail "$2 did not close the options"
}

step "Ctrl+O opens the options; the port refuses while they are open"
within 50 accepts "$port" || fail "the port does not accept"
open_options
within 30 refuses "$port" || fail "the port still accepts with the options open"
if command -v xprop >/dev/null; then
    xprop -id "$(options)" WM_TRANSIENT_FOR | grep -q "window id" || fail "the options are not kept above the monitor window"
fi

if [[ -n "$shots" ]]; then
    activate "$(options)"
    xdotool key ctrl+Prior sleep 0.3 key ctrl+Prior sleep 0.3 key alt+s sleep 0.2 key n sleep 0.4 # the Push page; its service: ntfy
    import -window "$(options)" "$shots/options-push.png"
    xdotool key ctrl+Next sleep 0.4 # the Blocking page
    import -window "$(options)" "$shots/options-blocking.png"
    dialog=$(options)
    sleep 0.5
    for page in general:35 display:99 sounds:162 advance:228 alarm:287; do # each page label's middle
        xdotool mousemove --window "$dialog" "$((${page#*:} * scale))" "$((16 * scale))" click 1 sleep 0.4
        import -window "$dialog" "$shots/options-${page%:*}.png"
    done
fi

step "Esc closes them and the port accepts again"
close_options Escape Esc
within 50 accepts "$port" || fail "the port did not come back"

step "the options from the keyboard alone: Ctrl+Tab to each page, one setting each by its access key, OK"
before=$(keys)
open_options
# Hide Monitor; Use Hotkeys (the same H, on a page only now shown); Sounds On; RPS; one alarm per scan.
xdotool key alt+h
for key in alt+h alt+n alt+t alt+o; do xdotool sleep 0.3 key ctrl+Tab sleep 0.3 key $key; done
sleep 0.3
close_options Return Enter
changed=$(comm -13 <(sort <<<"$before") <(keys | sort))
expected=$(printf '%s\n' %General/Hide%20Monitor=1 Display/Use%20Hotkeys=1 Sounds/On=True Advance/RPS=1 \
    Alarm/One%20Alarm%20Per%20Scan=1 | sort)
[[ "$changed" == "$expected" ]] || { diff <(echo "$expected") <(echo "$changed") || true; fail "the store holds other changes"; }
[[ $(keys | wc -l) -eq $(wc -l <<<"$before") ]] || fail "OK dropped a key: $(keys)"

if [[ -n "$shots" ]]; then
    activate "$(window)"
    xdotool key ctrl+m sleep 0.8
    import -window "$(window)" -frame "$shots/monitor-collapsed.png"
    xdotool key ctrl+m sleep 0.5 key alt+h sleep 0.5 key a
    within 30 named '^About Sentrel$' || fail "no About box"
    sleep 0.5
    import -window "$(named '^About Sentrel$')" -frame "$shots/about.png"
    xdotool key Return sleep 0.5
fi

# The page row as the X server delivers its keys (a posted event would not show how a real keyboard
# sends Ctrl+Shift+Tab): from General back round the ends to Alarm, "Desktop notifications" off by its
# access key; Alt+3 to Sounds, "Off". Only those two reach the store.
step "the page row from the keyboard: Ctrl+Shift+Tab back a page, Alt+digit to one"
before=$(keys)
open_options
for _ in 1 2 3 4; do xdotool key ctrl+shift+Tab sleep 0.3; done
xdotool key alt+n sleep 0.3 key alt+3 sleep 0.3 key alt+f sleep 0.3
close_options Return Enter
changed=$(comm -13 <(sort <<<"$before") <(keys | sort) | tr '\n' ' ')
[[ "$changed" == "Alarm/Notifications=0 Sounds/On=False " ]] || fail "the store changed by: $changed"

# The History window from the keyboard alone, on a store of made-up incidents filled before the start.
history_window() {
    local history=$1 source=198.51.100.23 port
    step "Ctrl+H opens the History window; a filter typed in it, Enter, Enter open a source's details"
    activate "$(window)"
    xdotool key ctrl+h
    within 50 named '^History$' || fail "Ctrl+H opened no History window"
    activate "$(named '^History$')"
    sleep 1
    shot -window "$(named '^History$')" "$shots/history.png"
    xdotool key alt+d type --delay 40 "$source"
    xdotool sleep 0.6 key Return sleep 0.4 key Return
    within 50 named "^Source $source\$" || fail "no details of $source"
    details=$(named "^Source $source\$")
    activate "$details"
    sleep 0.6
    shot -window "$details" "$shots/history-source.png"
    step "Allow on: its first port, Allow: the allow list holds that source on that port alone"
    port=$(python3 -c 'import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
print(min(p for (p,) in db.execute("SELECT port FROM incident_ports JOIN incidents ON id = incident WHERE address = ?",
      (bytes(10) + b"\xff\xff" + bytes(int(x) for x in sys.argv[2].split(".")),))))' "$history" "$source")
    xdotool key alt+n sleep 0.2 key Down sleep 0.2 key alt+a
    allowed() { grep -qxF "Allow=$source:$port" "$store"; }
    within 50 allowed || fail "the allow list holds: $(grep '^Allow=' "$store")"
    [[ $(grep -c '^Allow=' "$store") -eq 1 ]] || fail "more than one allow list in the store"
    xdotool key Escape sleep 0.3
    activate "$(named '^History$')"
    xdotool key Escape
    within 30 gone '^History$' || fail "Esc did not close the History window"
}
history_window "$history"

step "File > Exit (Ctrl+Q) ends the program with 0"
activate "$(window)"
xdotool key ctrl+q
ended() { ! kill -0 $sentrel; }
within 100 ended
wait $sentrel || fail "the program ended with $?"
echo "PASS"
