#!/usr/bin/env bash
# Runs scripts/check-layers on small trees of one file with one include each
# and compares what it reports with the floor table. Exits 1 on the first
# case that disagrees.
set -uo pipefail
CHECK="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/check-layers"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# file | include line | expected: ok, or the floor named in the complaint
CASES=$(
  cat <<'EOF'
platform/Locale.cpp|#include <unicode/locid.h>|ok
platform/Locale.cpp|#include "platform/DateTime.h"|ok
platform/Locale.cpp|#include "engine/types/ABSTypes.h"|platform
platform/Locale.cpp|#include "platform/qt/TPanel.h"|platform
platform/Locale.cpp|#include <QString>|platform
platform/qt/TPanel.h|#include <QWidget>|ok
platform/qt/TPanel.h|#include "platform/Locale.h"|ok
platform/qt/TPanel.h|#include "engine/types/ABSTypes.h"|platform/qt
platform/qt/TPanel.h|#include "app/MainForm.h"|platform/qt
engine/types/ABSVariant.cpp|#include "engine/storage/ABSMemory.h"|ok
engine/types/ABSVariant.cpp|#include "engine/storage/ABSMemBlock.h"|ok
engine/types/ABSVariant.cpp|#include "platform/TextCodec.h"|ok
engine/types/ABSVariant.cpp|#include "engine/storage/ABSRecordManager.h"|engine/types
engine/types/ABSVariant.cpp|#include "engine/local/ABSMetaDefs.h"|engine/types
engine/types/ABSVariant.cpp|#include "engine/types/ABSBTree.h"|engine/types
engine/types/ABSVariant.cpp|#include <QString>|engine/types
engine/types/ABSBTree.cpp|#include "engine/storage/ABSRecordManager.h"|ok
engine/types/ABSBTree.cpp|#include "engine/storage/ABSPageManager.h"|ok
engine/types/ABSBTree.cpp|#include "engine/storage/ABSIndex.h"|ok
engine/types/ABSBTree.cpp|#include "engine/local/ABSCursorState.h"|ok
engine/types/ABSBTree.cpp|#include "engine/local/ABSCursor.h"|engine/types (B-tree)
engine/types/ABSBTree.cpp|#include "engine/storage/ABSTableData.h"|engine/types (B-tree)
engine/local/ABSMetaDefs.cpp|#include "engine/local/ABSLateOwned.h"|ok
engine/local/ABSMetaDefs.cpp|#include "engine/storage/ABSMemory.h"|ok
engine/local/ABSMetaDefs.cpp|#include "engine/storage/ABSFieldManager.h"|engine/local (definitions and cursor state)
engine/local/ABSCursorStateFields.cpp|#include "engine/local/ABSCursor.h"|engine/local (definitions and cursor state)
engine/storage/ABSFieldManager.h|#include "engine/local/ABSCursorState.h"|ok
engine/storage/ABSFieldManager.h|#include "engine/types/ABSBTree.h"|ok
engine/storage/ABSFieldManager.h|#include "engine/local/ABSCursor.h"|engine/storage
engine/storage/ABSFieldManager.h|#include "../local/ABSCursor.h"|engine/storage
engine/storage/ABSFieldManager.h|#include "engine/temporary/ABSTempData.h"|engine/storage
engine/storage/ABSFieldManager.h|#include "engine/components/ABSTable.h"|engine/storage
engine/local/ABSCursor.h|#include "engine/storage/ABSTableData.h"|ok
engine/local/ABSCursor.h|#include "engine/components/ABSTable.h"|engine/local (sessions and cursors)
engine/temporary/ABSTempData.h|#include "engine/local/ABSCursor.h"|ok
engine/temporary/ABSTempData.h|#include "engine/components/ABSTable.h"|engine/temporary
engine/components/ABSTable.h|#include "engine/local/ABSCursor.h"|ok
engine/components/ABSTable.h|#include "platform/FieldType.h"|ok
engine/components/ABSTable.h|#include "platform/qt/TPanel.h"|engine/components
engine/components/ABSTable.h|#include <QObject>|engine/components
engine/components/ABSTable.h|#include "app/MainForm.h"|engine/components
app/MainForm.h|#include "engine/components/ABSTable.h"|ok
engine/disk/ABSDiskData.h|#include <cstdint>|folder
EOF
)

failures=0
while IFS='|' read -r file include expected; do
  rm -rf "$WORK/tree" && mkdir -p "$WORK/tree/$(dirname "$file")"
  printf '// probe\n%s\n' "$include" >"$WORK/tree/$file"
  output=$(bash "$CHECK" "$WORK/tree")
  status=$?
  case $expected in
    ok) want="" ;;
    folder) want="$file:1: folder has no floor in scripts/check-layers" ;;
    *) want="$file:2: include ${include#\#include } not allowed in $expected" ;;
  esac
  if [[ -z $want && $status -ne 0 ]] || [[ -n $want && $status -ne 1 ]] || [[ $output != "$want" ]]; then
    echo "FAIL $file with $include: exit $status, said '$output', expected '$want'"
    failures=$((failures + 1))
  fi
done <<<"$CASES"

# Several offences in one tree are all reported, in file order.
rm -rf "$WORK/tree" && mkdir -p "$WORK/tree/engine/storage" "$WORK/tree/platform"
printf '#include "engine/local/ABSCursor.h"\n#include <QString>\n' >"$WORK/tree/engine/storage/A.h"
printf '#include "app/X.h"\n' >"$WORK/tree/platform/B.h"
output=$(bash "$CHECK" "$WORK/tree")
want='engine/storage/A.h:1: include "engine/local/ABSCursor.h" not allowed in engine/storage
engine/storage/A.h:2: include <QString> not allowed in engine/storage
platform/B.h:1: include "app/X.h" not allowed in platform'
if [[ $output != "$want" ]]; then
  echo "FAIL several offences: said '$output'"
  failures=$((failures + 1))
fi

((failures == 0)) && echo "check-layers: all cases agree"
exit $((failures != 0))
