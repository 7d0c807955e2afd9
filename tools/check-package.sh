#!/usr/bin/env bash
# What `make package` checks on the Debian package it built, so that a broken package fails the
# build: lintian finds no error, the desktop entry, the metainfo and the manual pages are valid,
# the dependencies were computed, and the programs run from a scratch root the package was
# unpacked into (--version naming the package's version and the firmware's CRC-32, --info).
#
#   tools/check-package.sh PACKAGE.deb
set -euo pipefail
deb=$1

echo "== lintian $deb"
lintian --fail-on error --display-info "$deb"

echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6core6 libqt6serialport6 libqt6widgets6; do
  [[ $depends == *"$lib"* ]] || { echo "check-package: Depends lacks $lib" >&2; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

echo "== desktop entry, metainfo, manual pages"
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "check-package: $page: $warnings" >&2; exit 1; }
  echo "$(basename "$page"): ok"
done

echo "== the programs, run from $root"
version=$(dpkg-deb -f "$deb" Version)
run() {
  echo "\$ $*"
  "$@"
}
out=$(run "$root/usr/bin/tq-b9-cli" --version)
echo "$out"
grep -q "^tq-b9-cli $version, " <<<"$out" ||
  { echo "check-package: tq-b9-cli --version does not say $version" >&2; exit 1; }
grep -q 'CRC-32 0x[0-9A-F]\{8\}$' <<<"$out" ||
  { echo "check-package: tq-b9-cli --version names no CRC-32" >&2; exit 1; }
run "$root/usr/bin/tq-b9-cli" --info
QT_QPA_PLATFORM=offscreen run "$root/usr/bin/tq-b9" --version
run "$root/usr/bin/tq-b9-sim" --version
echo "check-package: $deb is good"
