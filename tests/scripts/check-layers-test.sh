#!/usr/bin/env bash
# Runs scripts/check-layers on small trees of one file with one include each
# and compares what it reports with the floor table. Exits 1 on the first
# case that disagrees.
set -uo pipefail
CHECK="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/check-layers"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# file | include line | expected: ok, or the folder named in the complaint.
# Each floor includes itself and the floor below it; each floor but the top
# is refused the floor above it.
CASES=$(
  cat <<'EOF'
platform/os/Random.cpp|#include <random>|ok
platform/os/Random.cpp|#include "platform/os/Random.h"|ok
platform/os/Random.cpp|#include "platform/locale/Locale.h"|platform/os
platform/os/Random.cpp|#include <QString>|platform/os
platform/locale/Locale.cpp|#include "platform/os/DateTime.h"|ok
platform/locale/Locale.cpp|#include "platform/data/Field.h"|platform/locale
platform/data/Field.cpp|#include "platform/locale/Locale.h"|ok
platform/data/Field.cpp|#include "platform/qt/TPanel.h"|platform/data
platform/qt/TPanel.h|#include <QWidget>|ok
platform/qt/TPanel.h|#include "platform/data/DataSet.h"|ok
platform/qt/TPanel.h|#include "engine/memory/ABSMemory.h"|platform/qt
engine/memory/ABSMemory.cpp|#include "platform/os/SystemMemory.h"|ok
engine/memory/ABSMemory.cpp|#include "platform/data/FieldType.h"|ok
engine/memory/ABSMemory.cpp|#include "platform/qt/TPanel.h"|engine/memory
engine/memory/ABSMemory.cpp|#include "engine/types/ABSTypes.h"|engine/memory
engine/types/ABSVariant.cpp|#include "engine/memory/ABSMemory.h"|ok
engine/types/ABSVariant.cpp|#include "engine/schema/ABSMetaDefs.h"|engine/types
engine/types/ABSVariant.cpp|#include <QString>|engine/types
engine/schema/ABSMetaDefs.cpp|#include "engine/types/ABSVariant.h"|ok
engine/schema/ABSMetaDefs.cpp|#include "engine/storage/ABSFieldManager.h"|engine/schema
engine/storage/ABSFieldManager.h|#include "engine/schema/ABSCursorState.h"|ok
engine/storage/ABSFieldManager.h|#include "../schema/ABSCursorState.h"|ok
engine/storage/ABSFieldManager.h|#include "engine/index/ABSBTree.h"|engine/storage
engine/storage/ABSFieldManager.h|#include "../index/ABSBTree.h"|engine/storage
engine/index/ABSBTree.cpp|#include "engine/storage/ABSPageManager.h"|ok
engine/index/ABSBTree.cpp|#include "engine/tables/ABSTableData.h"|engine/index
engine/tables/ABSTableData.cpp|#include "engine/index/ABSIndexManager.h"|ok
engine/tables/ABSTableData.cpp|#include "engine/local/ABSCursor.h"|engine/tables
engine/tables/ABSTableData.cpp|#include "engine/temporary/ABSTemporaryTableData.h"|engine/tables
engine/local/ABSCursor.h|#include "engine/tables/ABSTableData.h"|ok
engine/local/ABSCursor.h|#include "engine/temporary/ABSTemporaryTableData.h"|engine/local
engine/local/ABSCursor.h|#include "engine/components/ABSTable.h"|engine/local
engine/temporary/ABSTemporaryTableData.h|#include "engine/tables/ABSTableData.h"|ok
engine/temporary/ABSTemporaryTableData.h|#include "engine/local/ABSCursor.h"|engine/temporary
engine/temporary/ABSTemporaryTableData.h|#include "engine/components/ABSTable.h"|engine/temporary
engine/components/ABSTable.h|#include "engine/local/ABSCursor.h"|ok
engine/components/ABSTable.h|#include "engine/temporary/ABSTemporaryDatabaseData.h"|ok
engine/components/ABSTable.h|#include "platform/data/DataSet.h"|ok
engine/components/ABSTable.h|#include "platform/qt/TPanel.h"|engine/components
engine/components/ABSTable.h|#include <QObject>|engine/components
engine/components/ABSTable.h|#include "app/MainForm.h"|engine/components
engine/components/ABSTable.h|#include "engine/disk/ABSDiskData.h"|engine/components
app/MainForm.h|#include "engine/components/ABSTable.h"|ok
app/MainForm.h|#include "platform/qt/TPanel.h"|ok
app/MainForm.h|#include <QWidget>|ok
engine/disk/ABSDiskData.h|#include <cstdint>|folder
platform/Locale.cpp|#include <cstdint>|folder
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
rm -rf "$WORK/tree" && mkdir -p "$WORK/tree/engine/storage" "$WORK/tree/platform/os"
printf '#include "engine/local/ABSCursor.h"\n#include <QString>\n' >"$WORK/tree/engine/storage/A.h"
printf '#include "app/X.h"\n' >"$WORK/tree/platform/os/B.h"
output=$(bash "$CHECK" "$WORK/tree")
want='engine/storage/A.h:1: include "engine/local/ABSCursor.h" not allowed in engine/storage
engine/storage/A.h:2: include <QString> not allowed in engine/storage
platform/os/B.h:1: include "app/X.h" not allowed in platform/os'
if [[ $output != "$want" ]]; then
  echo "FAIL several offences: said '$output'"
  failures=$((failures + 1))
fi

((failures == 0)) && echo "check-layers: all cases agree"
exit $((failures != 0))
