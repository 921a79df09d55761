#!/usr/bin/env bash
# Builds the Debian packages `sentrel` and `sentrel-crowdsec` (the CrowdSec files) from the debian/
# folder (debhelper, cmake build system), after installing what that needs. Everything it prints
# goes to standard error except the last line: the path of sentrel's .deb (sentrel-crowdsec's is
# beside it). The build happens in a clean copy under build-deb/ (or $SENTREL_PACKAGE_DIR), since
# dpkg-buildpackage writes next to the source folder.
#   scripts/package.sh --for-tests   the same package for the test suite to install, built without
#                                    optimisation, debug information or a debug symbols package:
#                                    it installs and runs the same, in a fraction of the build time
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --package >&2
out=$(realpath -m "${SENTREL_PACKAGE_DIR:-build-deb}")
rm -rf "$out"
mkdir -p "$out/sentrel"
tar --exclude-vcs --exclude='./build*' --exclude='./.ci' -cf - . | tar -C "$out/sentrel" -xf -

# Reuse compiled objects across package builds when ccache is there.
if command -v ccache > /dev/null; then
    export SENTREL_COMPILER_LAUNCHER=ccache
fi
export DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
if [[ "${1:-}" == "--for-tests" ]]; then
    export DEB_BUILD_OPTIONS="$DEB_BUILD_OPTIONS noopt noautodbgsym" DEB_CXXFLAGS_STRIP="-g"
fi
(cd "$out/sentrel" && dpkg-buildpackage --build=binary --no-sign) >&2

deb=$(ls "$out"/sentrel_*.deb)
crowdsec=$(ls "$out"/sentrel-crowdsec_*.deb)
if command -v lintian > /dev/null; then
    # Errors fail the build; warnings are listed.
    lintian --fail-on error --tag-display-limit 0 "$deb" "$crowdsec" >&2
fi
echo "sentrel-crowdsec: $crowdsec" >&2
echo "$deb"
