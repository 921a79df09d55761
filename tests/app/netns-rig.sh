# Sourced first by the root-only system tests, with why (what needs root) and needs (the commands
# it needs) set: skips (77) without them or a private network namespace, else runs the test again
# inside one, its loopback up. Gives work (a folder removed at exit, once the processes in pids are
# ended), fail, step, waitFor, store and startSentrel.
skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "$why needs root"
for tool in ${needs:-}; do
    command -v "$tool" > /dev/null || skip "$tool is not installed (scripts/install-deps.sh --test)"
done
if [[ "${1:-}" != --inside ]]; then
    unshare --net true 2> /dev/null || skip "no private network namespace can be made here"
    exec unshare --net "$0" --inside "$@"
fi
ip link set lo up
work=$(mktemp -d)
pids=""
trap 'kill $pids 2> /dev/null; wait 2> /dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; head -n 60 "$work/out" 2> /dev/null; exit 1; }
step() { printf '%-58s %s\n' "$1" "$2"; [[ $2 == "$3" ]] || fail "$1: expected $3"; }
# waitFor <pattern> <file> [tenths of a second; 50 unless given]
waitFor() { for _ in $(seq "${3:-50}"); do grep -q "$1" "$2" 2> /dev/null && return 0; sleep 0.1; done; return 1; }
# store <folder> <Logs: True|False> <more lines, [Alarm]'s first>: a silent store that starts monitoring.
store() {
    mkdir -p "$1"
    printf '[%%General]\nStart=Sentrel II\nStart%%20Monitoring=1\nLogs=%s\n[Sounds]\nOn=False\n[Events]\nSyslog=0\n[Alarm]\nNotifications=0\n%b' \
        "$2" "$3" > "$1/Sentrel II.ini"
}
# startSentrel <command>...: runs it in the background (pid), its output in $work/out, until ready.
startSentrel() {
    "$@" > "$work/out" 2>&1 &
    pid=$!
    pids+=" $pid"
    waitFor "^Ready\.$" "$work/out" 200 || fail "the program did not start"
}
