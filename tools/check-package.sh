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

# Depends follows the programs: the package of every library they link is named, and so are the platform
# plugins and a CJK font, which are loaded at run time. Versions are left out of the comparison.
depends="$(dpkg-deb -f "$deb" Depends | sed 's/ ([^)]*)//g; s/, /\n/g')"
need=(qt6-qpa-plugins "fonts-wqy-microhei | fonts-noto-cjk")
for lib in $(objdump -p "$root"/usr/bin/* | awk '$1 == "NEEDED" { print $2 }' | sort -u); do
    path="$(ldconfig -p | awk -v l="$lib" '$1 == l && !found { print $NF; found = 1 }')"
    # With /lib merged into /usr/lib, dpkg knows a library under one of the two names.
    owner="$(dpkg-query -S "$path" 2>/dev/null || dpkg-query -S "/usr${path#/usr}" 2>/dev/null \
        || dpkg-query -S "${path#/usr}" 2>/dev/null || true)"
    need+=("${owner%%:*}")
done
for p in "${need[@]}"; do
    if ! grep -qxF -- "$p" <<<"$depends"; then
        echo "Depends lacks '$p':" $depends >&2
        exit 1
    fi
done
echo "Depends:" $depends

cmake -DUSR="$root/usr" -DVERSION="$(dpkg-deb -f "$deb" Version)" -P tests/checkinstalled.cmake
echo "package checked: $deb"
