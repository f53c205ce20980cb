#!/bin/bash
# `cpack -G DEB` builds a package that installs the program, its desktop
# entry, its icon and its metadata. Usage: debian-package-test.sh BUILD_DIR
set -euo pipefail
build="$1"
id=org.example.tilgungsplan
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; exit 1; }
shopt -s nullglob
debs=("$out"/*.deb)
((${#debs[@]} == 1)) || { echo "expected one package, found ${#debs[@]}" >&2; exit 1; }
contents=$(dpkg-deb -c "${debs[0]}")
echo "$contents"
for f in ./usr/bin/tilgungsplan ./usr/share/applications/$id.desktop \
         ./usr/share/icons/hicolor/scalable/apps/$id.svg ./usr/share/metainfo/$id.metainfo.xml; do
  grep -qE " ${f//./\\.}\$" <<<"$contents" || { echo "missing in package: $f" >&2; exit 1; }
done
# The package says what it needs of the system (read from the executable).
dpkg-deb -f "${debs[0]}" Depends | grep -q "libqt6widgets6" ||
  { echo "package does not depend on the toolkit" >&2; exit 1; }
echo "package ok"
