#!/usr/bin/env bash
# Builds the Debian package the Debian way (dpkg-buildpackage) from a copy of the sources, lints it,
# unpacks it into a temporary root and checks what it installs there.
# usage: package_test.sh SOURCE_DIR WORK_DIR
#
# WORK_DIR keeps the copy and the package between runs: the compiler flags name the copy's path, so a
# fixed path lets ccache serve a rebuild of unchanged sources.
set -euo pipefail

source_dir=$(cd "${1:?usage: package_test.sh SOURCE_DIR WORK_DIR}" && pwd)
work=${2:?usage: package_test.sh SOURCE_DIR WORK_DIR}
checks=$(cd "$(dirname "$0")" && pwd)/check_installed.sh

# dpkg-buildpackage builds in the source tree's root and writes the package beside it: a copy keeps
# both out of the sources. The copy holds what git would commit (tracked files as they are now, and new
# files that are not ignored), never a build folder.
copy=$work/src
rm -rf -- "$copy" "$work"/kivobar*_* "$work/root"
mkdir -p -- "$copy"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
        tar --null -T - -cf -) | tar -xf - -C "$copy"
else
    tar -C "$source_dir" --exclude=./.git --exclude='./build*' --exclude='./obj-*' -cf - . | tar -xf - -C "$copy"
fi

# debhelper gives the build a home of its own, so ccache is told where the user's cache is.
if [ -z "${CCACHE_DIR:-}" ] && command -v ccache >/dev/null; then
    CCACHE_DIR=$(ccache --get-config cache_dir) && export CCACHE_DIR
fi

log=$work/dpkg-buildpackage.log
echo "building the package in $copy (log: $log)"
if ! (cd "$copy" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$log" 2>&1; then
    tail -n 40 -- "$log"
    echo "FAIL: dpkg-buildpackage failed"
    exit 1
fi

version=$(dpkg-parsechangelog -l "$copy/debian/changelog" -S Version)
deb=$work/kivobar_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb
[ -f "$deb" ] || { echo "FAIL: no $deb"; ls -- "$work"; exit 1; }
echo "built $deb"

failures=0
# Every tag lintian finds either is mended or carries an override with its reason in debian/, so a
# warning is a failure as much as an error is.
if ! lintian --fail-on error,warning --display-info "$deb"; then
    echo "FAIL: lintian"
    failures=$((failures + 1))
fi

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || { echo "FAIL: the package's version is not $version"; failures=$((failures + 1)); }
# The manual page goes in compressed, as debhelper does it.
dpkg-deb -c "$deb" | grep ' \./usr/share/man/man1/kivobar\.1\.gz$' >/dev/null \
    || { echo "FAIL: no compressed manual page in the package"; failures=$((failures + 1)); }

mkdir -- "$work/root"
dpkg-deb -x "$deb" "$work/root"
"$checks" "$work/root" "$version" || failures=$((failures + 1))

exit $((failures > 0))
