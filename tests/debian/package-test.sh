#!/usr/bin/env bash
# Installs the package (SENTREL_PACKAGE) as root with a throwaway member of the group sentrel, runs it as
# member and outsider, answers no, purges. Skips (77) without root or package.
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
deb=${SENTREL_PACKAGE:-}
[[ -n "$deb" && -f "$deb" ]] || skip "no package given (SENTREL_PACKAGE=path of the .deb from scripts/package.sh)"
if dpkg-query -W -f='${Status}' sentrel 2> /dev/null | grep -q "ok installed"; then
    skip "a sentrel package is installed on this machine already; the test leaves it alone"
fi
unshare --net true 2> /dev/null || skip "no private network namespace can be made here"

member=sentrel-pkgtest helper=/usr/libexec/sentrel/sentrel-bind list=/etc/sentrel/bind-ports
watch=/usr/libexec/sentrel/sentrel-watch block=/usr/libexec/sentrel/sentrel-block
getent passwd "$member" > /dev/null && skip "the account $member exists already"
group_was_there=$(getent group sentrel > /dev/null && echo yes || echo no)
work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
    apt-get purge -y -qq -o DPkg::Lock::Timeout=120 sentrel > /dev/null 2>&1 || true
    userdel "$member" > /dev/null 2>&1 || true
    [[ $group_was_there == yes ]] || groupdel sentrel > /dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
useradd --system --no-create-home --shell /usr/sbin/nologin "$member"

debconf-set-selections <<EOF
sentrel sentrel/privileged-ports boolean true
sentrel sentrel/add-installing-user boolean true
EOF
SUDO_USER=$member DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=120 "$deb" > "$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "the package does not install"; }
dpkg -L sentrel | sort > "$work/files"

# Mode, owner, group and capabilities of a file: "750:root:sentrel cap_net_raw=ep".
access() { echo "$(stat -c %a:%U:%G "$1")" $(getcap "$1" | cut -d' ' -f2-); }
[[ $(access "$helper") == "750:root:sentrel cap_net_bind_service=ep" ]] || fail "the helper is $(access "$helper")"
[[ $(access "$watch") == "750:root:sentrel cap_net_raw=ep" ]] || fail "the watch helper is $(access "$watch")"
[[ $(access "$block") == "750:root:sentrel cap_net_admin=ep" ]] || fail "the firewall helper is $(access "$block")"
[[ $(access /usr/bin/sentrel) != *cap_* ]] || fail "the program itself holds a capability"
[[ "$(stat -c %a:%U "$list")" == 644:root ]] && dpkg-query -W -f='${Conffiles}' sentrel | grep -q " $list " \
    || fail "the port list is not a conffile only root may write"
[[ "$(grep -v '^#' "$list" | xargs)" == "21 23 25 53 70 79 80 137 138 139 69 135 161 162 445 514 520" ]] || fail "the port list: $(cat "$list")"
id -nG "$member" | grep -qw sentrel || fail "$member was not added to the group sentrel"
debconf-show sentrel | grep -q "add-installing-user: false" || fail "the request to add a user was kept"
desktop-file-validate /usr/share/applications/sentrel.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/org.sentrel.Sentrel.metainfo.xml > /dev/null || fail "AppStream entry"
units=/lib/systemd/system
if command -v systemd-analyze > /dev/null; then
    # Verifying the socket verifies its service too; the exposure is that of the file as shipped.
    systemd-analyze verify $units/sentrel.service $units/sentrel-watch.socket || fail "systemd-analyze verify"
    cp $units/sentrel.service "$work/"
    score=$(systemd-analyze security --offline=yes "$work/sentrel.service" | sed -n 's/.*exposure level for .*: \([0-9.]*\) .*/\1/p')
    awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 1.5) }' || fail "the service's exposure is ${score:-unknown}, above 1.5"
else
    echo "systemd-analyze is not installed: the units are neither verified nor scored"
fi
[[ ! -e /etc/systemd/system/multi-user.target.wants/sentrel.service && ! -e /etc/systemd/system/sockets.target.wants/sentrel-watch.socket ]] \
    || fail "the service or the watch socket was enabled"

# run <name> <uid:gid> <settings> <setpriv group options>: the program in a private network, one
# connection to port 21 when guarded; output in $work/<name>.out and .err.
run() {
    local name=$1 user=$2 settings=$3
    shift 3
    local home="$work/home-$name"
    mkdir -p -m 700 "$home/config" "$home/run"
    [[ -z "$settings" ]] || printf '%s\n' "$settings" > "$home/config/Sentrel II.ini"
    chown -R "$user" "$home"
    set -- --reuid="${user%:*}" --regid="${user#*:}" "$@"
    out="$work/$name" home="$home" run="$home/run" unshare --net bash -c '
        set -e
        ip link set lo up
        as_user=(setpriv "$@" --inh-caps=-all
            env -i HOME="$home" XDG_RUNTIME_DIR="$run" PATH=/usr/bin:/bin LANG=C.UTF-8)
        # A plain command in the background, so that $! is the program itself and the signal reaches it.
        "${as_user[@]}" /usr/bin/sentrel --config-dir "$home/config" > "$out.out" 2> "$out.err" &
        pid=$!
        for _ in $(seq 200); do grep -q "^Ready\.$" "$out.out" && break; sleep 0.1; done
        if grep -q "Monitoring Port: 21$" "$out.out"; then
            "${as_user[@]}" bash -c "exec 3<> /dev/tcp/127.0.0.1/21" || true
            for _ in $(seq 100); do grep -q "Attacked Port: 21" "$out.out" && break; sleep 0.1; done
        fi
        kill -TERM "$pid" || true
        wait "$pid" || true
    ' bash "$@" || true
    cat "$work/$name.out"
}
# A run's TCP ports, or with "udp" its tripwires: "<port> monitored|privileged|open", in order.
ports_of() {
    local keep='/UDP Port/d' name=Port
    [[ ${2:-} == udp ]] && keep='/UDP Port/!d' name='UDP Port'
    sed -n "$keep; s/.*Monitoring $name: \([0-9]*\)$/\1 monitored/p; s/.*$name: \([0-9]*\) needs administrator rights$/\1 privileged/p;
        s/.*$name: \([0-9]*\) is already open$/\1 open/p" "$work/$1.out" | xargs
}
expect_ports() { [[ "$(ports_of "$1" "$2")" == "$4" ]] || { cat "$work/$1.err"; fail "$3: $(ports_of "$1" "$2")"; }; }
as_member=$(id -u "$member"):$(id -g "$member")

run member "$as_member" "" --init-groups
expect_ports member tcp "not all twelve default ports were guarded" "21 monitored 23 monitored 25 monitored 53 monitored 70 monitored 79 monitored 80 monitored 137 monitored 138 monitored 139 monitored 12345 monitored 12346 monitored"
expect_ports member udp "not all eleven default UDP ports were guarded" "69 monitored 135 monitored 137 monitored 138 monitored 139 monitored 161 monitored 162 monitored 445 monitored 514 monitored 520 monitored 1434 monitored"
grep -q "IP: 127.0.0.1$" "$work/member.out" && grep -q "Attacked Port: 21$" "$work/member.out" \
    || fail "the connection to port 21 was not recorded"

run nobody 65534:65534 "" --clear-groups
expect_ports nobody tcp "outside the group, ports below 1024 were not reported as needing administrator rights" "21 privileged 23 privileged 25 privileged 53 privileged 70 privileged 79 privileged 80 privileged 137 privileged 138 privileged 139 privileged 12345 monitored 12346 monitored"
expect_ports nobody udp "outside the group, UDP ports below 1024 were not refused" "69 privileged 135 privileged 137 privileged 138 privileged 139 privileged 161 privileged 162 privileged 445 privileged 514 privileged 520 privileged 1434 monitored"
# Through a shell: setpriv itself still holds root's capabilities when it starts a program.
setpriv --reuid=65534 --regid=65534 --clear-groups sh -c 'exec "$0"' "$helper" < /dev/null 2> "$work/exec.err" \
    && fail "nobody could run the helper"
grep -q "Permission denied" "$work/exec.err" || fail "the helper ran for nobody: $(cat "$work/exec.err")"

echo "sentrel sentrel/privileged-ports boolean false" | debconf-set-selections
DEBIAN_FRONTEND=noninteractive dpkg-reconfigure sentrel > /dev/null 2>&1 || fail "dpkg-reconfigure"
[[ $(access "$helper") == 750:root:root ]] || fail "after no, the helper is $(access "$helper")"
[[ $(access "$watch") == *" cap_net_raw=ep" ]] || fail "after no, the watch helper lost its capability"

# Purging takes the firewall table with it: one documentation address blocked for a minute first
# (not 192.0.2.1, a test network's usual gateway, which the helper refuses to block).
python3 - "$block" << 'PY' || fail "the firewall helper did not block"
import socket, subprocess, sys
ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
helper = subprocess.Popen([sys.argv[1]], stdin=theirs, env={})
ours.send(b"SF\x02a\x01\x04" + bytes([198, 51, 100, 1]) + bytes(12) + (60).to_bytes(4, "big"))
sys.exit(0 if helper.wait(10) == 0 and ours.recv(64)[3] == 0 else 1)
PY
nft list table inet sentrel > /dev/null || fail "no table after blocking"
apt-get purge -y -qq -o DPkg::Lock::Timeout=120 sentrel > /dev/null
nft list table inet sentrel > /dev/null 2>&1 && fail "the firewall table outlived the purge"
left=()
while read -r path; do
    [[ "$path" != "/." ]] && [[ -e "$path" || -L "$path" ]] || continue
    [[ -d "$path" ]] && dpkg -S "$path" > /dev/null 2>&1 && continue # a folder other packages share
    left+=("$path")
done < <(cat "$work/files"; printf '%s\n' /var/lib/sentrel /var/lib/private/sentrel /etc/sentrel /usr/share/sentrel /usr/libexec/sentrel)
[[ ${#left[@]} -eq 0 ]] || fail "left after purge: ${left[*]}"
dpkg-query -W sentrel > /dev/null 2>&1 && fail "dpkg still knows the package"
[[ -z "$(debconf-show sentrel 2> /dev/null)" ]] || fail "debconf still holds the answers"
getent group sentrel > /dev/null || fail "the group sentrel went with the package (system groups stay)"
echo "PASS"
