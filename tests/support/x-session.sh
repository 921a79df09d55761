# Sourced first by the session tests (<sentrel binary> [folder for screenshots]; session_tools: the
# tools needed beyond python3; session_bus=1: a private session bus that starts no services, so that no
# notification server or portal of this machine answers, else none; x_server=0: no X server). The
# caller runs again inside a private Xvfb unless x_server=0 (exit 77 when a tool is missing), in a
# private home, with step helpers.
set -euo pipefail

binary=$(readlink -f "$1")
shots=${2:+$(readlink -f "$2")}
x_server=${x_server:-1}
# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do "$@" >/dev/null 2>&1 && return 0 || sleep 0.1; done
    return 1
}

if [[ -z "${SENTREL_SESSION_INNER:-}" ]]; then
    [[ $x_server == 1 ]] && session_tools="Xvfb xdotool import ${session_tools:-}"
    [[ ${session_bus:-0} == 1 ]] && session_tools="dbus-run-session ${session_tools:-}"
    for tool in python3 ${session_tools:-}; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    bus=()
    if [[ ${session_bus:-0} == 1 ]]; then
        bus_config=$(mktemp)
        printf '%s\n' '<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>' \
            '<policy context="default"><allow user="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>' >"$bus_config"
        bus=(dbus-run-session --config-file="$bus_config" --)
    fi
    if [[ $x_server == 1 ]]; then
        # The server picks a free display and names it once it accepts clients (lock files raced with a
        # server still shutting down); it never resets, which would turn away a client during the reset.
        display_file=$(mktemp)
        # A larger screen (SENTREL_X11_SCREEN=2048x1536) leaves room for screenshots at QT_SCALE_FACTOR=2.
        Xvfb -displayfd 3 -screen 0 "${SENTREL_X11_SCREEN:-1024x768}x24" -nolisten tcp -noreset 3>"$display_file" 2>/dev/null &
        xvfb=$!
        named() { [[ $(cat "$display_file") == *$'\n'* ]]; }
        within 100 named || true
        export DISPLAY=:$(tr -dc 0-9 <"$display_file")
        rm -f "$display_file"
    fi
    status=0
    SENTREL_SESSION_INNER=1 "${bus[@]}" "$0" "$@" || status=$?
    [[ $x_server == 1 ]] && { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null || true; }
    rm -f "${bus_config:-}"
    exit "$status"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    [[ -n "$shots" ]] && import -window root "$shots/failure.png"
    [[ -f $work/sentrel.log ]] && sed 's/^/  | /' "$work/sentrel.log"
    exit 1
}
step() { echo "-- $*"; }

export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin
unset WAYLAND_DISPLAY
# The XEmbed tray path, whatever runs around us, unless the test asked for its own bus.
[[ ${session_bus:-0} == 1 ]] || unset DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
store="$XDG_CONFIG_HOME/Sentrel II.ini"

# $1 ports free on loopback, held together while chosen so that they differ.
free_ports() {
    python3 -c '
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in held))' "$1"
}

# The store with the original keys and the given ports; Key=value arguments replace defaults.
write_store() {
    local -a guarded=("$@") changes=()
    while [[ ${#guarded[@]} -gt 0 && ${guarded[0]} == *=* ]]; do changes+=("${guarded[0]}"); guarded=("${guarded[@]:1}"); done
    {
        printf '%s\n' '[%General]' 'Start=Sentrel II' Hide%20Monitor=0 Start%20Monitoring=1 Run=0 Run%20File=None \
            Logs=True '[Display]' Always%20On%20Top=0 Min%20On%20Startup=0 Use%20IconTray=0 Use%20Hotkeys=0 \
            Auto%20Scroll%20Monitor=1 Windows%20Startup=0 Flash%20Icon=1 Change%20Background=0 Attack%20Run=0 \
            Attack%20Run%20File=None Copy%20Clipboard=0 '[Sounds]' On=False 0=NetOn.wav 1=NetOff.wav \
            2=Intruder.wav 3=Start.wav '[Ports]' "Number=$((${#guarded[@]} - 1))"
        for i in "${!guarded[@]}"; do echo "$i=${guarded[$i]}"; done
        printf '%s\n' '[Advance]' DDE%20On=0 DDE%20Service=mIRC RPS=0
    } >"$store"
    for change in "${changes[@]}"; do sed -i "s/^${change%%=*}=.*/$change/" "$store"; done
}

start_window_manager() {
    command -v openbox >/dev/null || return 0
    openbox >/dev/null 2>&1 &
    pids+=($!)
    within 50 xprop -root _NET_SUPPORTING_WM_CHECK || true
}
start_sentrel() { "$binary" >"$work/sentrel.log" 2>&1 & sentrel=$! && pids+=($sentrel); }
# --check passes (with gaps too, status 4: a port another program holds is not what these look at)
# and prints each of the given lines.
check_reports() {
    local code=0
    "$binary" --check >"$work/check.log" 2>&1 || code=$?
    [[ $code == 0 || $code == 4 ]] || fail "the check failed: $(cat "$work/check.log")"
    local line
    for line in "$@"; do grep -qxF "$line" "$work/check.log" || fail "no \"$line\": $(cat "$work/check.log")"; done
}
accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
refuses() { ! accepts "$1"; }

window() { xdotool search --name '^Sentrel 2\.0$' | head -1; }
shown() { xdotool search --onlyvisible --name '^Sentrel 2\.0$' | grep -q .; }
hidden() { ! shown; }
gone() { ! xdotool search --onlyvisible --name "$1" | grep -q .; }
activate() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null || true; }
