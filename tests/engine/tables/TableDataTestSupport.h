// Test support for table data: plan-like field lists, a cursor state with
// its own record buffer attached to a table, and field access by number.
#pragma once

#include <cstdint>
#include <string>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSTableData.h"

// Jahr, Monat, Tag (integer) and Darlehen, Tilgung, Zins (currency).
inline void AddPlanFields(TABSFieldDefs& defs) {
  for (const char* name : {"Jahr", "Monat", "Tag"}) defs.AddFieldDef(name, dtInteger);
  for (const char* name : {"Darlehen", "Tilgung", "Zins"}) defs.AddFieldDef(name, dtCurrency);
}

// A cursor state on `table` with a zeroed record buffer of its own; attached
// while it lives.
class TableCursor {
 public:
  TableCursor(TABSTableData& table, const std::string& name) : table_(table) {
    state.TableName = name;
    table.GetRecordLayout(state);
    buffer_ = TABSMemBlock::Zeroed(state.RecordBufferSize);
    state.CurrentBuffer = buffer_.as<std::byte>();
    state.AtStart = true;
    table.AttachCursor(state);
  }
  ~TableCursor() { table_.DetachCursor(state); }
  TableCursor(const TableCursor&) = delete;
  TableCursor& operator=(const TableCursor&) = delete;

  std::byte* Buffer() const { return state.CurrentBuffer; }

  // Field `fieldNo` as a 32-bit integer; NULL when `isNull`.
  void SetInt(std::int32_t fieldNo, std::int32_t value, bool isNull = false) {
    const TABSFieldDef& field = *table_.FieldManager()->FieldDefs()[fieldNo];
    StoreLE(Buffer(), static_cast<std::size_t>(field.MemoryOffset), value);
    SetNullBit(Buffer(), fieldNo, isNull);
  }
  std::int32_t GetInt(std::int32_t fieldNo) const {
    const TABSFieldDef& field = *table_.FieldManager()->FieldDefs()[fieldNo];
    return LoadLE<std::int32_t>(Buffer(), static_cast<std::size_t>(field.MemoryOffset));
  }
  bool IsNull(std::int32_t fieldNo) const { return IsNullBitSet(Buffer(), fieldNo); }

  TABSCursorState state;

 private:
  TABSTableData& table_;
  TABSMemBlock buffer_;
};

// Creates table `name` in `database` from `fields` (no index, no constraint
// unless given) through a creating cursor that detaches again.
inline TABSTableData& CreateTestTable(TABSDatabaseData& database, const std::string& name,
                                      const TABSFieldDefs& fields,
                                      const TABSConstraintDefs* constraints = nullptr) {
  TABSTableData& table = database.CreateTableData(name);
  TABSCursorState creator;
  creator.TableName = name;
  TABSIndexDefs noIndexes;
  TABSConstraintDefs noConstraints;
  table.CreateTableFromDefs(creator, fields, noIndexes,
                            constraints != nullptr ? *constraints : noConstraints);
  return table;
}
