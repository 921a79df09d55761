#!/usr/bin/env bash
# Installs the built package, then, as an unprivileged user in a private network namespace,
# starts the installed program headless with a fresh store: all twelve default ports must be
# guarded and a loopback connection to port 21 recorded. Then purges the package and checks that
# nothing of it is left outside that user's own folders. Skips (77) when not root or when no
# package was built; scripts/test.sh builds it once and passes it in SENTREL_PACKAGE.
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
deb=${SENTREL_PACKAGE:-}
[[ -n "$deb" && -f "$deb" ]] || skip "no package given (SENTREL_PACKAGE=path of the .deb from scripts/package.sh)"
if dpkg-query -W -f='${Status}' sentrel 2> /dev/null | grep -q "ok installed"; then
    skip "a sentrel package is installed on this machine already; the test leaves it alone"
fi
unshare --net true 2> /dev/null || skip "no private network namespace can be made here"

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
    apt-get purge -y -qq -o DPkg::Lock::Timeout=120 sentrel > /dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

echo "== install $deb"
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "$deb" > "$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "the package does not install"; }
dpkg -L sentrel | sort > "$work/files"

helper=/usr/libexec/sentrel/sentrel-bind
[[ "$(getcap "$helper")" == *"cap_net_bind_service=ep" ]] || fail "the helper lacks its capability"
[[ "$(stat -c %a:%U "$helper")" == 755:root ]] || fail "the helper's mode is $(stat -c %a:%U "$helper")"
[[ -z "$(getcap /usr/bin/sentrel)" ]] || fail "the program itself holds a capability"
desktop-file-validate /usr/share/applications/sentrel.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/org.sentrel.Sentrel.metainfo.xml > /dev/null || fail "AppStream entry"
if command -v systemd-analyze > /dev/null; then
    systemd-analyze verify /lib/systemd/system/sentrel.service || fail "systemd-analyze verify"
fi
[[ ! -e /etc/systemd/system/multi-user.target.wants/sentrel.service ]] || fail "the service was enabled"

echo "== run as an unprivileged user in a private network"
home="$work/home"
mkdir -p "$home"
chown 65534:65534 "$home"
# A runtime folder of its own, so that no other instance of the user's is asked to come forward.
mkdir -m 700 "$work/run"
chown 65534:65534 "$work/run"
export home work
unshare --net bash -c '
    set -e
    ip link set lo up
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all
        env -i HOME="$home" XDG_RUNTIME_DIR="$work/run" PATH=/usr/bin:/bin LANG=C.UTF-8)
    # A plain command in the background, so that $! is the program itself and the signal reaches it.
    "${as_user[@]}" /usr/bin/sentrel > "$work/out" 2> "$work/err" &
    pid=$!
    for _ in $(seq 200); do grep -q "^Ready\.$" "$work/out" && break; sleep 0.1; done
    "${as_user[@]}" bash -c "exec 3<> /dev/tcp/127.0.0.1/21" || true
    for _ in $(seq 100); do grep -q "Attacked Port: 21" "$work/out" && break; sleep 0.1; done
    kill -TERM "$pid" || true
    wait "$pid" || true
' || true
cat "$work/out"
expected=""
for port in 21 23 25 53 70 79 80 137 138 139 12345 12346; do
    expected+="[ ORRA ] - Monitoring Port: $port"$'\n'
done
[[ "$(grep "Monitoring Port: \|needs administrator\|already open" "$work/out")"$'\n' == "$expected" ]] \
    || { cat "$work/err"; fail "not all twelve default ports were guarded"; }
grep -q "IP: 127.0.0.1$" "$work/out" && grep -q "Attacked Port: 21$" "$work/out" \
    || fail "the connection to port 21 was not recorded"

echo "== purge"
apt-get purge -y -qq -o DPkg::Lock::Timeout=120 sentrel > /dev/null
left=()
while read -r path; do
    [[ "$path" != "/." ]] && [[ -e "$path" || -L "$path" ]] || continue
    # A folder that stays belongs to other packages too (/usr/bin, /usr/share/icons/...).
    [[ -d "$path" ]] && dpkg -S "$path" > /dev/null 2>&1 && continue
    left+=("$path")
done < "$work/files"
for path in /var/lib/sentrel /var/lib/private/sentrel /etc/sentrel /usr/share/sentrel /usr/libexec/sentrel; do
    [[ -e "$path" ]] && left+=("$path")
done
[[ ${#left[@]} -eq 0 ]] || fail "left after purge: ${left[*]}"
dpkg-query -W sentrel > /dev/null 2>&1 && fail "dpkg still knows the package"
echo "PASS"
