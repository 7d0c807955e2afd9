#!/usr/bin/env bash
# Prints the folder of a Windows Qt 6.4.2 for MinGW-w64 (the one with lib/cmake/Qt6), for
# `make windows`. Usage: tools/windows-qt.sh [ARCHIVE|FOLDER]
#   FOLDER   an unpacked Qt: used as it is.
#   ARCHIVE  a .tar.xz of one (qt-6.4.2-mingw-w64.tar.xz): unpacked once into the cache, keyed by
#            its checksum, so a second build starts at once and a new archive is never mistaken
#            for the old one.
#   nothing  the Qt this script built before, or else it builds one now with build-qt.sh (about
#            18 minutes on 2 cores) and keeps it in the cache.
# The cache is $TQB9_CACHE, or ~/.cache/tq-b9: outside the tree, so a clean clone or `make clean`
# does not cost another unpack or build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${TQB9_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tq-b9}
given=${1:-}

is_qt() { [ -f "$1/lib/cmake/Qt6/Qt6Config.cmake" ]; }

# An archive unpacks to one top folder (qt6-mingw-w64/); take whichever it is.
unpack() {
    local archive=$1 into=$2
    local partial="$into.partial"
    rm -rf "$partial" && mkdir -p "$partial"
    tar -C "$partial" -xJf "$archive"
    rm -rf "$into" && mv "$partial" "$into"
}

qt_in() {
    local top
    for top in "$1"/*/; do
        if is_qt "$top"; then
            echo "${top%/}"
            return 0
        fi
    done
    return 1
}

if [ -n "$given" ] && [ -d "$given" ]; then
    is_qt "$given" || { echo "windows-qt: $given has no lib/cmake/Qt6" >&2; exit 1; }
    cd "$given" && pwd
    exit 0
fi

if [ -n "$given" ]; then
    [ -f "$given" ] || { echo "windows-qt: $given: no such archive or folder" >&2; exit 1; }
    sum=$(sha256sum "$given" | cut -c1-16)
    into="$cache/qt-windows-$sum"
    if ! qt_in "$into" >/dev/null 2>&1; then
        echo "windows-qt: unpacking $given into $into" >&2
        unpack "$given" "$into"
    fi
    qt_in "$into" || { echo "windows-qt: $given holds no Qt (lib/cmake/Qt6)" >&2; exit 1; }
    exit 0
fi

# No archive: build Qt from Debian's qt6-base source. The build script and the qtserialport
# source beside it come with the project's shared folder; TQB9_QT_BUILD_SCRIPT names another.
into="$cache/qt-windows-built"
if qt_in "$into" >/dev/null 2>&1; then
    qt_in "$into"
    exit 0
fi
script=${TQB9_QT_BUILD_SCRIPT:-$here/../../shared/windows/build-qt.sh}
[ -x "$script" ] || [ -f "$script" ] || {
    echo "windows-qt: no QT_WINDOWS given and no build-qt.sh at $script" >&2
    echo "windows-qt: give QT_WINDOWS=ARCHIVE|FOLDER or TQB9_QT_BUILD_SCRIPT=PATH" >&2
    exit 1
}
# apt-get source needs a deb-src entry; Debian 12 images often have only deb lines.
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "windows-qt: adding a deb-src entry for Debian 12 (apt-get source)" >&2
    cat >/etc/apt/sources.list.d/tq-b9-deb-src.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    apt-get update -qq
fi
work="$cache/qt-build"
echo "windows-qt: building Qt for Windows in $work (about 18 minutes on 2 cores)" >&2
bash "$script" "$work" >&2
unpack "$work/qt-6.4.2-mingw-w64.tar.xz" "$into"
rm -rf "$work"
qt_in "$into"
