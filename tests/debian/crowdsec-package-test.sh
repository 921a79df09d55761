#!/usr/bin/env bash
# Installs sentrel-crowdsec (built beside SENTREL_PACKAGE) where crowdsec is installed: the engine's
# own configuration test then loads its parser, scenarios and acquisition from /etc/crowdsec, and
# after the purge none of them. Skips (77) without root, the package or crowdsec.
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
deb=$(ls "$(dirname "${SENTREL_PACKAGE:-/none/x}")"/sentrel-crowdsec_*.deb 2> /dev/null | head -n 1 || true)
[[ -f "$deb" ]] || skip "no sentrel-crowdsec package beside SENTREL_PACKAGE (scripts/package.sh)"
command -v crowdsec > /dev/null || skip "crowdsec is not installed (scripts/install-deps.sh --test)"
if dpkg-query -W -f='${Status}' sentrel-crowdsec 2> /dev/null | grep -q "ok installed"; then
    skip "sentrel-crowdsec is installed on this machine already; the test leaves it alone"
fi
work=$(mktemp -d)
trap 'dpkg --purge sentrel-crowdsec > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
# The system's configuration, logging to standard output instead of its file.
sed 's/^\( *log_media:\).*/\1 stdout/' /etc/crowdsec/config.yaml > "$work/config.yaml"
# What of ours the engine loads: file names and scenario names, sorted.
loaded() {
    crowdsec -c "$work/config.yaml" -t -info 2>&1 | grep -oE "/etc/crowdsec/[a-z0-9./-]*sentrel[a-z.-]*|name=sentrel/[a-z-]+" \
        | sort -u | paste -sd ' '
}
dpkg -i "$deb" > /dev/null || fail "the package does not install"
expected="/etc/crowdsec/acquis.d/sentrel.yaml /etc/crowdsec/parsers/s01-parse/sentrel-logs.yaml\
 /etc/crowdsec/scenarios/sentrel-port-scan.yaml /etc/crowdsec/scenarios/sentrel-tripwire.yaml name=sentrel/port-scan\
 name=sentrel/port-scan-spoofable name=sentrel/tripwire name=sentrel/tripwire-spoofable"
[[ $(loaded) == "$expected" ]] || fail "installed, the engine loads: $(loaded)"
dpkg --purge sentrel-crowdsec > /dev/null 2>&1
[[ -z $(loaded) ]] || fail "purged, the engine still loads: $(loaded)"
echo "PASS"
