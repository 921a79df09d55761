#!/usr/bin/env bash
# The program as the systemd unit runs it: an unprivileged user holding CAP_NET_BIND_SERVICE and
# CAP_NET_RAW as ambient capabilities under NoNewPrivileges, the watch helper a group-only file
# with cap_net_raw. The helper must still get its capability (no "needs administrator rights"),
# a port below 1024 must still be bound, and once the program is ready no thread of it may hold
# anything but CAP_NET_BIND_SERVICE in any set. Root only (setpriv, setcap); skips (77) otherwise.
#   service-privilege-test.sh <sentrel binary> <sentrel-watch binary>
set -euo pipefail
why="starting as another user with capabilities" needs=setcap
source "$(dirname "$0")/netns-rig.sh"
sentrel=$2 watch=$3
chmod 755 "$work"

# The program beside its helper, as the package lays them out (it looks in ../libexec/sentrel).
mkdir -p "$work/bin" "$work/libexec/sentrel" "$work/home/config"
cp "$sentrel" "$work/bin/sentrel"
install -m 0750 -g nogroup "$watch" "$work/libexec/sentrel/sentrel-watch"
setcap cap_net_raw=ep "$work/libexec/sentrel/sentrel-watch" 2> /dev/null || skip "this file system holds no file capabilities"
store "$work/home/config" False '[Ports]\nNumber=0\n0=80\n'
chown -R nobody "$work/home"
caps=+net_bind_service,+net_raw
startSentrel setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps="$caps" --ambient-caps="$caps" \
    --bounding-set=-all,"$caps" --no-new-privs \
    env -i HOME="$work/home" XDG_RUNTIME_DIR="$work/home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    "$work/bin/sentrel" --headless --config-dir "$work/home/config"
step "port 80 guarded" "$(grep -c "Monitoring Port: 80$" "$work/out")" 1
step "watch helper armed" "$(grep -c "Stealth scan watch" "$work/out")" 0
# CAP_NET_BIND_SERVICE alone is 0x400; the bounding set keeps CAP_NET_RAW (0x2000), which takes
# CAP_SETPCAP to drop and gives nothing under NoNewPrivileges.
for task in /proc/"$pid"/task/*; do
    step "thread $(basename "$task") capabilities" "$(grep -E '^Cap(Inh|Prm|Eff|Amb)' "$task/status" | xargs)" \
        "CapInh: 0000000000000000 CapPrm: 0000000000000400 CapEff: 0000000000000400 CapAmb: 0000000000000000"
done
grep ^CapBnd "/proc/$pid/status"
echo "PASS"
