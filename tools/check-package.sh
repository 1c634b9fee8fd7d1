#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks a built .deb as Debian, a software centre, a desktop and man see it: lintian with no error and
# no warning (the package's own override, with its reason, is the one exception), then the unpacked
# files with tests/checkinstalled.cmake: appstreamcli validate, desktop-file-validate, man --warnings.
# Usage: tools/check-package.sh [zelcom_*.deb]   (default: the one in build-deb/)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh lintian
deb="${1:-$(ls -1 build-deb/zelcom_*.deb)}"

# Info and pedantic tags are shown as hints; errors and warnings fail. (--show-overrides would make the
# overridden tag fail too.)
lintian --display-info --pedantic --fail-on error,warning "$deb"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
cmake -DUSR="$root/usr" -DVERSION="$(dpkg-deb -f "$deb" Version)" -P tests/checkinstalled.cmake
echo "package checked: $deb"
