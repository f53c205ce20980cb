// Indexes, views and searches of the local cursor: the index definitions,
// distinct fields, filters and the searches by field values and by key.
#include <atomic>
#include <cstring>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSBTreePage.h"
#include "engine/index/ABSConstraintManager.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSLocalCursorInternal.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/types/ABSConvert.h"
#include "engine/types/ABSNames.h"
#include "engine/types/ABSVariant.h"

using namespace local_cursor_detail;

namespace {

// Characters of a text value, for a prefix comparison.
std::int32_t TextLength(const TABSVariant& value) {
  if (value.IsNull()) return -1;
  switch (value.DataType()) {
    case stChar:
    case stString:
      return static_cast<std::int32_t>(strnlen(static_cast<const char*>(value.Data()),
                                               static_cast<std::size_t>(value.DataSize())));
    case stWideChar:
    case stWideString: {
      const auto* units = static_cast<const char16_t*>(value.Data());
      std::int32_t n = 0;
      while (2 * (n + 1) <= value.DataSize() && units[n] != 0) ++n;
      return n;
    }
    default:
      return -1;
  }
}

bool IsTextType(TABSStorageType type) {
  return type == stChar || type == stString || type == stWideChar || type == stWideString;
}

}  // namespace

void TABSLocalCursor::RefreshConstraintDefs(TABSTableData& table) {
  auto constraints = std::make_unique<TABSConstraintDefs>();
  if (table.ConstraintManager()) {
    constraints->CopyListFrom(table.ConstraintManager()->ConstraintDefs());
  }
  ConstraintDefs = std::move(constraints);
}

TABSIndexDefs* TABSLocalCursor::FetchIndexDefs() {
  if (TableData != nullptr) {
    TableLock hold(*TableData);
    auto fresh = std::make_unique<TABSIndexDefs>();
    fresh->CopyListFrom(TableData->IndexDefs());
    IndexDefs = std::move(fresh);
  }
  return IndexDefs.get();
}

void TABSLocalCursor::AddIndexToTable(const TABSIndexDef& indexDef) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  if (IndexDefs && IndexDefs->IndexOfName(indexDef.Name()) >= 0) {
    throw EABSException(20022, "Cannot create index '%s'. Index already exists", {indexDef.Name()});
  }
  table.AddTableIndex(indexDef, this);
  FetchIndexDefs();
  RefreshConstraintDefs(table);
}

void TABSLocalCursor::DropIndexFromTable(const std::string& indexName) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  const TABSIndexDef* def = IndexDefs ? IndexDefs->FindByName(indexName) : nullptr;
  if (def == nullptr) {
    throw EABSException(20021, "Cannot delete index '%s'. Index not found", {indexName});
  }
  table.DropTableIndex(def->ObjectId, this);
  FetchIndexDefs();
  RefreshConstraintDefs(table);
  SetCurrentIndex(IndexName);  // a dropped current index leaves record order
}

void TABSLocalCursor::DropAllIndexes() {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  table.DropAllTableIndexes(this);
  FetchIndexDefs();
  RefreshConstraintDefs(table);
  SetCurrentIndex(IndexName);
}

namespace {

// The physical names for a list of names that may be logical ones.
std::vector<std::string> PhysicalNames(const std::vector<std::string>& names,
                                       const TABSFieldDefs* physical,
                                       const TABSFieldDefs* logical) {
  std::vector<std::string> result = names;
  for (std::string& name : result) {
    if (physical != nullptr && physical->IndexOfName(name) >= 0) continue;
    const std::int32_t at = logical != nullptr ? logical->IndexOfName(name) : -1;
    if (at >= 0) name = (*physical)[(*logical)[at]->PhysicalFieldNo]->Name();
  }
  return result;
}

}  // namespace

void TABSLocalCursor::BuildIndexFromFields(const std::vector<std::string>& fieldNames,
                                           const std::vector<std::string>& directions,
                                           const std::vector<std::string>& caseOptions,
                                           std::string& indexName, bool& flag) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  const std::vector<std::string> names =
      PhysicalNames(fieldNames, PhysicalFieldDefs.get(), LogicalFieldDefs.get());
  const std::int32_t found = table.IndexDefs().FindIndexForFieldLists(
      &names, &directions, &table.FieldManager()->FieldDefs(), Session ? Session->SessionId() : 0,
      &caseOptions);
  if (found != -1) {
    indexName = table.IndexDefs().FindByObjectId(found)->Name();
    flag = false;
  } else {
    TABSIndexDef def;
    std::string name = "$tmp";
    for (const std::string& field : names) name += "$" + field;
    def.SetName(name);
    def.SetColumnsFromLists(names, directions, caseOptions);
    def.IsTemporaryIndex = 255;
    def.CreatorSessionId = Session ? Session->SessionId() : 0;
    table.AddTableIndex(def, this);
    indexName = name;
    flag = true;
  }
  FetchIndexDefs();
}

bool TABSLocalCursor::FindIndexForFields(const std::vector<std::string>& fieldNames,
                                         const std::vector<std::string>& directions,
                                         const std::vector<std::string>& caseOptions) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  const std::vector<std::string> names =
      PhysicalNames(fieldNames, PhysicalFieldDefs.get(), LogicalFieldDefs.get());
  return table.IndexDefs().HasIndexForFieldLists(&names, &directions,
                                                 &table.FieldManager()->FieldDefs(),
                                                 Session ? Session->SessionId() : 0, &caseOptions);
}

void TABSLocalCursor::SetDistinctFields(const std::vector<std::string>& fieldNames,
                                        const std::vector<std::string>& directions,
                                        const std::vector<std::string>& caseOptions) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  std::string name;
  bool created = false;
  BuildIndexFromFields(fieldNames, directions, caseOptions, name, created);
  SetCurrentIndex(name);
  DistinctFieldCount = static_cast<std::int32_t>(fieldNames.size());
  InvalidateView();
}

void TABSLocalCursor::ApplyFilterText(const std::string& filterText, bool /*caseInsensitive*/,
                                      bool /*partialCompare*/) {
  throw EABSException(native_code::kFilterTextUnsupported,
                      "Filter expressions are not supported: '%s'", {filterText});
}

void TABSLocalCursor::DropFilter() {
  FilterExpression.reset();
  InvalidateView();
}

bool TABSLocalCursor::LocateByExpression(const std::string& fieldName,
                                         const std::string& comparisonOperator,
                                         const TABSVariant& /*value*/) {
  throw EABSException(native_code::kSearchExpressionUnsupported,
                      "Search expressions are not supported: %s %s",
                      {fieldName, comparisonOperator});
}

namespace {

// One field of a search by field values and the value it must equal.
struct SearchKey {
  const TABSFieldDef* Field;
  std::int32_t FieldNo;  // physical
  const TABSVariant* Value;
  std::int32_t Length;  // characters compared of a text key; -1 the whole value
};

struct Search {
  std::vector<SearchKey> Keys;
  bool CaseInsensitive;
};

// Whether the record image satisfies every key (typed comparison).
bool MatchesKeys(void* context, const std::byte* image) {
  const auto& search = *static_cast<const Search*>(context);
  for (const SearchKey& key : search.Keys) {
    const TABSVariant& value = *key.Value;
    const bool valueNull = value.IsNull();
    const int r = CompareValuesSigned(
        image + key.Field->MemoryOffset, value.Data(), key.Field->StorageType, UserDefaultLocale,
        search.CaseInsensitive, key.Length, valueNull, IsNullBitSet(image, key.FieldNo),
        valueNull ? key.Field->StorageType : value.DataType(), key.Field->ValueSize,
        value.DataSize());
    if (r != 0) return false;
  }
  return true;
}

std::atomic<std::int64_t> indexedLocates{0};

// The B-tree of the cursor's current index when its first keys.size()
// columns are exactly the searched fields (as a set, names by the engine
// name rule) and every value can be laid into a record image bit for bit:
// same fixed-size storage type as its field (or NULL), no text (the scan's
// typed text comparison and prefix options stay with the scan). Nil: scan.
TABSBTreeRecordIndex* CoveringIndex(const TABSCursorState& cursor, TABSTableData& table,
                                    const Search& search, bool partialKey) {
  if (partialKey || !cursor.HasCurrentIndex() || cursor.HasRestrictedView()) return nullptr;
  if (cursor.IndexDefs == nullptr || table.IndexManager() == nullptr) return nullptr;
  const TABSIndexDef* def = cursor.IndexDefs->FindByObjectId(cursor.IndexId);
  if (def == nullptr || def->Columns.size() < search.Keys.size()) return nullptr;
  std::vector<std::string> leading;
  for (std::size_t i = 0; i < search.Keys.size(); ++i) {
    leading.push_back(EngineNameKey(def->Columns[i].Name));
  }
  for (const SearchKey& key : search.Keys) {
    if (IsTextType(key.Field->StorageType)) return nullptr;
    const TABSVariant& value = *key.Value;
    if (!value.IsNull() &&
        (value.DataType() != key.Field->StorageType || value.DataSize() != key.Field->ValueSize)) {
      return nullptr;
    }
    bool covered = false;
    for (std::string& name : leading) {
      if (!name.empty() && name == EngineNameKey(key.Field->Name())) {
        name.clear();  // each column covers one searched field
        covered = true;
        break;
      }
    }
    if (!covered) return nullptr;
  }
  return dynamic_cast<TABSBTreeRecordIndex*>(table.IndexManager()->FindOpenIndex(cursor.IndexId));
}

// The search through `index` (see CoveringIndex). Found: the cursor stands
// on the record, which `scratch` holds; else its place is as it was.
bool LocateThroughIndex(TABSCursorState& cursor, TABSTableData& table, TABSBTreeRecordIndex& index,
                        Search& search, std::byte* scratch) {
  // The probe: a record image holding the searched values in their fields.
  TABSMemBlock probe = TABSMemBlock::Zeroed(cursor.RecordBufferSize);
  std::byte* const image = probe.as<std::byte>();
  for (const SearchKey& key : search.Keys) {
    const bool isNull = key.Value->IsNull();
    SetNullBit(image, key.FieldNo, isNull);
    if (!isNull) {
      std::memcpy(image + key.Field->MemoryOffset, key.Value->Data(),
                  static_cast<std::size_t>(key.Field->ValueSize));
    }
  }
  const auto parts = static_cast<std::int32_t>(search.Keys.size());
  const std::int32_t sessionId = TABSTableData::CursorSessionId(cursor);
  TABSKeyPath path;
  TABSScanBound bound;
  bound.Condition = 1;  // equal
  bound.RecordBuffer = image;
  bound.PartCount = parts;
  bool more = index.ConditionSearch(sessionId, bound, false, path);
  // Entries with equal key parts follow one another in index order, the
  // cursor's order; the first whose record matches by typed comparison wins.
  const RecordPosition oldPosition = cursor.Position;
  const bool oldStart = cursor.AtStart;
  const bool oldEnd = cursor.AtEnd;
  const auto restore = [&] {
    cursor.Position = oldPosition;
    cursor.AtStart = oldStart;
    cursor.AtEnd = oldEnd;
  };
  cursor.CurrentBuffer = scratch;
  try {
    while (more) {
      cursor.Position = index.ReadPathReference(sessionId, path);
      cursor.AtStart = cursor.AtEnd = false;
      if (table.FetchCursorRecord(cursor, FetchMode::Current) == FetchResult::Found) {
        if (MatchesKeys(&search, scratch)) return true;
        if (index.CompareRecordKeys(image, scratch, parts) != 0) break;
      }
      more = index.StepPath(sessionId, path, false);
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return false;
}

}  // namespace

std::int64_t local_cursor_detail::IndexedLocateCount() {
  return indexedLocates.load();
}

bool TABSLocalCursor::LocateByFields(const std::vector<std::string>& keyFieldNames,
                                     const std::vector<const TABSVariant*>& keyValues,
                                     bool caseInsensitive, bool partialKey) {
  TABSTableData& table = TableOf(TableData);
  if (keyFieldNames.size() != keyValues.size() || keyFieldNames.empty()) {
    throw EABSException(native_code::kLocateListLengths,
                        "Error - different list lengths. L1 = %d, L2 = %d",
                        {keyFieldNames.size(), keyValues.size()});
  }
  Search search{{}, caseInsensitive};
  search.Keys.reserve(keyFieldNames.size());
  for (std::size_t i = 0; i < keyFieldNames.size(); ++i) {
    const std::int32_t logical =
        LogicalFieldDefs ? LogicalFieldDefs->IndexOfName(keyFieldNames[i]) : -1;
    if (logical < 0 || keyValues[i] == nullptr) {
      throw EABSException(native_code::kLocateFieldNotFound, "Cannot find field %s",
                          {keyFieldNames[i]});
    }
    const std::int32_t physical = (*LogicalFieldDefs)[logical]->PhysicalFieldNo;
    const TABSFieldDef* field = (*PhysicalFieldDefs)[physical];
    const std::int32_t length =
        partialKey && IsTextType(field->StorageType) ? TextLength(*keyValues[i]) : -1;
    search.Keys.push_back({field, physical, keyValues[i], length});
  }
  // The scan reads into a buffer of its own: the caller's buffer changes
  // only when a record was found.
  TableLock hold(table);
  TABSMemBlock scratch = TABSMemBlock::Zeroed(RecordBufferSize);
  std::byte* const buffer = CurrentBuffer;
  CurrentBuffer = scratch.as<std::byte>();
  bool found = false;
  try {
    platform::RankedLockGuard database(table.DatabaseData().Lock());
    TABSBTreeRecordIndex* index = CoveringIndex(*this, table, search, partialKey);
    if (index != nullptr) {
      ++indexedLocates;
      found = LocateThroughIndex(*this, table, *index, search, scratch.as<std::byte>());
    } else {
      found = table.LocateRecordImage(*this, &MatchesKeys, &search);
    }
  } catch (...) {
    CurrentBuffer = buffer;
    throw;
  }
  CurrentBuffer = buffer;
  if (found && buffer != nullptr) {
    std::memcpy(buffer, scratch.get(), static_cast<std::size_t>(DataSize()));
  }
  return found;
}

bool TABSLocalCursor::SeekByKey(bool flag) {
  return TableOf(TableData).SeekByCondition(*this, flag ? 1 : 0);
}
