#!/usr/bin/env bash
# Installs the configured build tree into a temporary prefix, checks what landed there, then
# builds the consumer against it with find_package(ROZUri) and with pkg-config, and runs both.
# Usage: consumer-build.sh <build dir> <consumer source dir> <app id> <c++ compiler>
set -euo pipefail
build=$1 consumer=$2 id=$3 cxx=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }

for f in bin/mantleshade share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/256x256/apps/$id.png \
         include/rozuri/osc/core/OSCMessage.h include/rozuri/platform/foundation/Error.h \
         lib/cmake/ROZUri/ROZUriConfig.cmake lib/cmake/ROZUri/ROZUriConfigVersion.cmake; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ -n "$(find "$prefix" -name 'rozuri.pc')" ] || fail "rozuri.pc is not installed"
[ -x "$prefix/bin/mantleshade" ] || fail "bin/mantleshade is not executable"
for px in 16 32 48 64 128 256; do
    file "$prefix/share/icons/hicolor/${px}x${px}/apps/$id.png" | grep -q "$px x $px" \
        || fail "the ${px} px PNG icon is missing or not ${px} px"
done
# The library never brings Qt along.
if grep -rIl -e 'Qt6' -e '#include <Q' "$prefix/include" "$prefix"/lib*/cmake "$prefix"/lib*/pkgconfig 2>/dev/null \
    | grep -q .; then
    fail "Qt appears in the installed library"
fi
if find "$prefix" -name '*.a' | grep -v '/librozuri_[a-z]*\.a$' | grep -q .; then
    fail "an archive without the rozuri_ prefix is installed"
fi

cmake -S "$consumer" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" >"$tmp/configure.log" 2>&1 || { cat "$tmp/configure.log"; fail "configure"; }
cmake --build "$tmp/cmake-build" >"$tmp/build.log" 2>&1 || { cat "$tmp/build.log"; fail "find_package build"; }
"$tmp/cmake-build/consumer" || fail "the find_package consumer"

pcdir=$(dirname "$(find "$prefix" -name 'rozuri.pc' | head -1)")
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs rozuri) || fail "pkg-config rozuri"
# shellcheck disable=SC2086
"$cxx" -std=c++20 "$consumer/main.cpp" -o "$tmp/pc-consumer" $flags || fail "pkg-config build"
"$tmp/pc-consumer" || fail "the pkg-config consumer"
echo "installed, and built against with find_package and pkg-config"
