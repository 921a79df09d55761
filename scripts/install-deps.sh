#!/usr/bin/env bash
# Installs the Debian 12 packages Sentrel needs. Quick when they are all there already.
#   scripts/install-deps.sh          what building and running needs
#   scripts/install-deps.sh --test   plus what the test suite and the benchmark use
#   scripts/install-deps.sh --package  plus what building the Debian package uses
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools
    libxcb1-dev libxcb-xinput-dev # the global function keys on X11
    libnftables-dev               # the firewall helper speaks to the kernel through it
    pulseaudio-utils alsa-utils   # paplay, aplay: the alert sounds
    dbus                          # the chat client link
    qt6-wayland                   # the native Wayland platform
    libqt6sql6-sqlite             # the history's store
    libloc-dev libloc-database    # where a source is: the offline location database and its reader
    libwayland-dev                # asks the Wayland compositor which protocols it offers
)
# The wallpaper tools (gsettings, xfconf-query, feh) come with the desktops that use them.
if [[ "${1:-}" == "--test" || "${1:-}" == "--package" ]]; then
    packages+=(
        debhelper dpkg-dev            # scripts/package.sh
        libcap2-bin                   # setcap, run by the package when it is installed
        lintian                       # its check of the package
    )
fi
if [[ "${1:-}" == "--test" ]]; then
    packages+=(
        xvfb xclip                    # a private X display and a second client for the clipboard test
        trayer                        # a tray host for the benchmark's window mode and the X11 test
        openbox xdotool x11-utils     # the X11 test: a window manager, the pointer and keys, xwininfo
        imagemagick                   # import: the X11 test's screenshots of the tray icon
        dbus-daemon                   # a private session bus for the chat link and notification tests
        dunst dbus-bin                # a real notification server, dbus-run-session and dbus-send
        libglib2.0-bin                # gsettings and glib-compile-schemas, for the wallpaper test
        util-linux                    # unshare: the end-to-end test's private network
        iproute2                      # ip: loopback up in the package and packet watch tests' namespaces
        desktop-file-utils appstream  # validating the installed desktop entry and AppStream entry
        systemd                       # systemd-analyze verify for the shipped unit
        clang libclang-rt-14-dev      # the helpers' fuzzers (libFuzzer)
        nmap hping3                   # the stealth scan test and the benchmark's stealth mode
        nftables                      # nft: the blocking test compares the whole rule set
        python3 procps
        rsyslog iproute2              # a private syslog collector on loopback (tests/support), ss,
                                      # a default route that comes and goes in a private network
        xdotool x11-utils             # presses F9-F12 through XTEST while xev holds the focus
        desktop-file-utils            # desktop-file-validate for the autostart entry
        weston                        # the Wayland test: a headless compositor and its screenshooter
        python3-dbus python3-gi       # the stand-in desktop portal of the hotkey and Wayland tests
        crowdsec crowdsec-firewall-bouncer # the fleet test: the engine, its local API and bouncer
    )
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# The engine's package registers with its central API on installation unless this file holds
# something (its README.Debian): test machines stay offline; the fleet test runs its own API.
if [[ " ${missing[*]} " == *" crowdsec "* && ! -s /etc/crowdsec/online_api_credentials.yaml ]]; then
    $sudo mkdir -p /etc/crowdsec
    echo "# no thanks: this machine stays off the central API" | $sudo tee /etc/crowdsec/online_api_credentials.yaml > /dev/null
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
