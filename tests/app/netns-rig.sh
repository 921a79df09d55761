# Sourced first by the root-only system tests (why: what needs root; needs: the commands it needs):
# skips (77) without them or a private network namespace, else runs the test again inside one.
# Gives work (removed at exit, once the processes in pids end), fail, step, waitFor, store,
# startHeadless and namespace.
set -euo pipefail
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
# startHeadless <sentrel binary>: headless over the store in $work/config, its records in $events.
startHeadless() {
    startSentrel env HOME="$work" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen \
        "$1" --headless --config-dir "$work/config"
    events=$work/data/Sentrel/events.jsonl
}
# namespace: prints the pid of a process keeping a network namespace of its own, its loopback up.
namespace() {
    unshare --net sleep 600 > /dev/null 2>&1 &
    until [[ $(readlink /proc/$!/ns/net) != "$(readlink /proc/self/ns/net)" ]]; do sleep 0.05; done
    nsenter -t $! -n ip link set lo up
    echo $!
}
