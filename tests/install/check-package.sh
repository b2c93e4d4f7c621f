#!/usr/bin/env bash
# Builds the Debian package from the configured build tree into a temporary folder (nothing is
# installed on the system) and checks its file list and control fields.
# Usage: check-package.sh <build dir> <app id> <version>
set -euo pipefail
build=$1 id=$2 version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(find "$tmp" -maxdepth 1 -name '*.deb')
[ "$(basename "$deb")" = "mantleshade_${version}_$(dpkg --print-architecture).deb" ] || fail "package file: $deb"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/mantleshade usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/icons/hicolor/256x256/apps/$id.png \
         usr/share/icons/hicolor/48x48/apps/$id.png usr/share/icons/hicolor/16x16/apps/$id.png; do
    grep -qx "./$f" <<<"$files" || fail "$f is not in the package"
done
! grep -E '/include/|\.a$|/cmake/|\.pc$' <<<"$files" || fail "the library is in the application's package"

[ "$(dpkg-deb -f "$deb" Package)" = mantleshade ] || fail "Package field"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version field"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libc6 libqt6widgets6 libqt6multimedia6 libqt6svg6 gstreamer1.0-plugins-base \
         gstreamer1.0-plugins-good gstreamer1.0-libav; do
    grep -Eq "(^|, )$d( |,|$)" <<<"$depends" || fail "Depends lacks $d: $depends"
done
echo "$(basename "$deb"): Depends: $depends"
