#!/bin/bash
# The desktop entry and the AppStream metadata pass their validators, and
# `cmake --install` puts the program and the three files where the desktop
# looks for them. Usage: desktop-files-test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1" build="$2"
id=org.example.tilgungsplan

desktop-file-validate "$src/packaging/$id.desktop"
appstreamcli validate --no-net "$src/packaging/$id.metainfo.xml"

# The desktop entry names what the metadata and the icon are called by.
grep -qx "Icon=$id" "$src/packaging/$id.desktop"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$src/packaging/$id.metainfo.xml"
grep -q "<screenshot" "$src/packaging/$id.metainfo.xml"
grep -qx "Categories=Office;Finance;" "$src/packaging/$id.desktop"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/tilgungsplan usr/share/applications/$id.desktop \
         usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/metainfo/$id.metainfo.xml; do
  [[ -f "$stage/$f" ]] || { echo "not installed: /$f" >&2; exit 1; }
done
[[ -x "$stage/usr/bin/tilgungsplan" ]] || { echo "not executable: /usr/bin/tilgungsplan" >&2; exit 1; }
# The installed metadata still validates where it lies.
appstreamcli validate --no-net "$stage/usr/share/metainfo/$id.metainfo.xml"
echo "desktop files ok"
