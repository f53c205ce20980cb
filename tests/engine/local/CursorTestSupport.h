// Test support for local cursors: a fixture with a session on "MEMORY", the
// plan table's field definitions and cursors attached to a table.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/tables/ABSDatabaseData.h"
#include "tests/engine/MemoryTables.h"

// Jahr, Monat, Tag (32-bit integers) and Darlehen, Tilgung, Zins (currency).
inline void PlanFields(TABSFieldDefs& fields) {
  fields.AddFieldDef("Jahr", dtInteger);
  fields.AddFieldDef("Monat", dtInteger);
  fields.AddFieldDef("Tag", dtInteger);
  fields.AddFieldDef("Darlehen", dtCurrency);
  fields.AddFieldDef("Tilgung", dtCurrency);
  fields.AddFieldDef("Zins", dtCurrency);
}

// One plan row as the cursor exchanges it.
struct PlanRow {
  std::int32_t Jahr = 0, Monat = 0, Tag = 0;
  double Darlehen = 0, Tilgung = 0, Zins = 0;
  friend bool operator==(const PlanRow&, const PlanRow&) = default;
};

class CursorTest : public MemoryTablesTest {
 protected:
  CursorTest() {
    session_.DatabaseName = "MEMORY";
    session_.SetAttached(true);
  }
  ~CursorTest() override { session_.SetAttached(false); }

  // A cursor prepared for `table`, not attached.
  std::unique_ptr<TABSLocalCursor> NewCursor(const std::string& table) {
    auto cursor = std::make_unique<TABSLocalCursor>();
    cursor->Session = &session_;
    cursor->TableName = table;
    cursor->InMemory = true;
    return cursor;
  }

  void MakeTable(const std::string& table, TABSFieldDefs& fields, TABSIndexDefs* indexes = nullptr,
                 TABSConstraintDefs* constraints = nullptr) {
    TABSIndexDefs noIndexes;
    TABSConstraintDefs noConstraints;
    NewCursor(table)->MakeTable(fields, indexes ? *indexes : noIndexes,
                                constraints ? *constraints : noConstraints);
  }

  void MakePlanTable(const std::string& table) {
    TABSFieldDefs fields;
    PlanFields(fields);
    MakeTable(table, fields);
  }

  // A cursor attached and laid out on an existing table.
  std::unique_ptr<TABSLocalCursor> Open(const std::string& table) {
    auto cursor = NewCursor(table);
    TABSFieldDefs f;
    TABSIndexDefs i;
    TABSConstraintDefs c;
    cursor->AttachTable(f, i, c);
    cursor->LoadFieldLayout();
    return cursor;
  }

  TABSLocalSession session_;
};

// A record buffer of a cursor, freed with the holder.
class RecordBuffer {
 public:
  explicit RecordBuffer(const TABSCursor& cursor)
      : block_(TABSMemBlock::Adopt(cursor.AllocRecordBuffer())) {}
  std::byte* get() const { return block_.as<std::byte>(); }

 private:
  TABSMemBlock block_;
};

inline void WriteRow(TABSCursor& cursor, std::byte* buffer, const PlanRow& row) {
  cursor.WriteFieldData(0, &row.Jahr, buffer);
  cursor.WriteFieldData(1, &row.Monat, buffer);
  cursor.WriteFieldData(2, &row.Tag, buffer);
  cursor.WriteFieldData(3, &row.Darlehen, buffer);
  cursor.WriteFieldData(4, &row.Tilgung, buffer);
  cursor.WriteFieldData(5, &row.Zins, buffer);
}

inline PlanRow ReadRow(const TABSCursor& cursor, const std::byte* buffer) {
  PlanRow row;
  cursor.ReadFieldData(0, &row.Jahr, buffer);
  cursor.ReadFieldData(1, &row.Monat, buffer);
  cursor.ReadFieldData(2, &row.Tag, buffer);
  cursor.ReadFieldData(3, &row.Darlehen, buffer);
  cursor.ReadFieldData(4, &row.Tilgung, buffer);
  cursor.ReadFieldData(5, &row.Zins, buffer);
  return row;
}

// Inserts `row` through the cursor's edit cycle; returns LastResultCode.
inline std::int32_t InsertRow(TABSCursor& cursor, std::byte* buffer, const PlanRow& row) {
  cursor.CurrentBuffer = buffer;
  cursor.InitRecordBuffer(buffer, true);
  cursor.PrepareInsert();
  WriteRow(cursor, buffer, row);
  cursor.WriteRecord(true);
  return cursor.LastResultCode;
}

inline PlanRow Row(std::int32_t n) {
  return PlanRow{2000 + n, n % 12 + 1, n % 28 + 1, 1000.0 * n, 10.5 * n, 0.25 * n};
}
