#!/usr/bin/env bash
# The options dialog on a real X server: Ctrl+O opens it and the guarded port refuses connections
# while it is open, Esc closes it and the port accepts again, and Ctrl+O then Enter leaves every
# one of the 38 original keys as it was. With a folder, screenshots of the pages go there.
#   options-dialog.sh <sentrel binary> [folder for screenshots]
source "$(dirname "$0")/../support/x-session.sh"

# Twelve ports, as many as the first start lists, so that the store holds its 38 keys.
read -r -a ports <<<"$(free_ports 12)"
port=${ports[0]}
write_store "${ports[@]}"
start_window_manager
start_sentrel

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
refuses() { ! accepts; }
options() { xdotool search --onlyvisible --name '^Options$' | head -1; }
keys() { python3 - "$store" <<'PY'
import configparser, sys
c = configparser.RawConfigParser(); c.optionxform = str; c.read(sys.argv[1])
for s in ("%General", "Display", "Sounds", "Ports", "Advance"):
    for k, v in c.items(s): print(f"{s}/{k}={v}")
PY
}
open_options() {
    activate "$(window)"
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
activate "$(options)"
xdotool key Escape
within 30 gone '^Options$' || fail "Esc did not close the options"
within 50 accepts || fail "the port did not come back"

step "Ctrl+O then Enter leaves the 38 original keys as they were"
before=$(keys)
[[ $(wc -l <<<"$before") -eq 38 ]] || fail "the store holds $(wc -l <<<"$before") keys, not 38"
open_options
activate "$(options)"
xdotool key Return
within 30 gone '^Options$' || fail "Enter did not close the options"
within 50 accepts || fail "the port did not come back after OK"
after=$(keys)
[[ "$before" == "$after" ]] || { diff <(echo "$before") <(echo "$after") || true; fail "OK changed the store"; }
echo "PASS"
