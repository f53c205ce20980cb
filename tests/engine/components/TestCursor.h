// Test support: a cursor for the dataset and table component tests. It
// keeps the rows of each table it made in a store of its own (one row image
// per record, in the order of appending) and the table data objects in the
// process's "MEMORY" database, so that sessions and database components see
// the tables exactly as they see real ones (HasTable, the table list).
//
// Record identifiers are 1, 2, 3, ... per table, never reused, so the order
// of identifiers is the order of the rows. Only the record and table
// operations the components use are implemented; the others raise.
//
// Install it with TTestCursorScope (which also empties the store when it
// ends); tests drive the components, never the cursor directly.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/local/ABSCursor.h"

class TABSDatabaseData;
class TABSTableData;

// Named apart from the cursors other test suites define for themselves.
namespace components_test {

struct TTestTable {
  std::unique_ptr<TABSFieldDefs> FieldDefs;
  std::unique_ptr<TABSIndexDefs> IndexDefs;
  std::unique_ptr<TABSConstraintDefs> ConstraintDefs;
  struct Row {
    std::int32_t Id;
    std::vector<std::byte> Image;
  };
  std::vector<Row> Rows;
  std::int32_t NextId = 1;
  int AttachedCursors = 0;
};

// Knobs of every test cursor: failures to inject.
struct TTestCursorControls {
  // WriteRecord leaves this result code instead of storing (0: store).
  std::int32_t WriteResult = 0;
  // PrepareEdit leaves this result code.
  std::int32_t EditResult = 0;
};

TTestCursorControls& TestCursorControls();
// The store's table for a table data object, nil when the test cursor did
// not make it.
TTestTable* TestTableOf(const TABSTableData* table);

class TTestCursor : public TABSCursor {
 public:
  TTestCursor() = default;
  ~TTestCursor() override;

  void MakeTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                 TABSConstraintDefs& constraintDefs) override;
  void RemoveTable() override;
  void WipeTable() override;
  void RenameTableTo(const std::string& newTableName) override;
  void LoadFieldLayout() override;
  void AttachTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                   TABSConstraintDefs& constraintDefs) override;
  void DetachTable() override;
  void EnterTableLock() override {}
  void LeaveTableLock() override {}
  bool AcquireTableLock(std::int32_t, std::int32_t, bool, std::int32_t) override { return true; }
  bool ReleaseTableLock(std::int32_t, bool) override { return true; }
  void AddIndexToTable(const TABSIndexDef&) override { Unsupported(); }
  void DropIndexFromTable(const std::string&) override { Unsupported(); }
  void DropAllIndexes() override { Unsupported(); }
  void BuildIndexFromFields(const std::vector<std::string>&, const std::vector<std::string>&,
                            const std::vector<std::string>&, std::string&, bool&) override {
    Unsupported();
  }
  bool FindIndexForFields(const std::vector<std::string>&, const std::vector<std::string>&,
                          const std::vector<std::string>&) override {
    Unsupported();
  }
  void CopyFieldValue(std::int32_t, bool, TABSCursor&, std::int32_t) override { Unsupported(); }
  void InitRecordBuffer(std::byte* buffer, bool applyDefaults) override;
  std::int64_t CountRecords() override;
  FetchResult FetchRecord(FetchMode mode) override;
  void SeekRecordNumber(std::int64_t recordNumber) override;
  std::int64_t CurrentRecordNumber() override;
  std::int32_t ComparePositions(const RecordPosition& a, const RecordPosition& b) override;
  void MoveToStart() override;
  void MoveToEnd() override;
  void PrepareInsert() override {}
  void PrepareEdit() override;
  void AbandonChanges(bool wasInserting) override;
  void WriteRecord(bool isInsert) override;
  void EraseRecord() override;
  void SetDistinctFields(const std::vector<std::string>&, const std::vector<std::string>&,
                         const std::vector<std::string>&) override {
    Unsupported();
  }
  void ApplyFilterText(const std::string&, bool, bool) override { Unsupported(); }
  void DropFilter() override {}
  bool LocateByFields(const std::vector<std::string>&, const std::vector<const TABSVariant*>&, bool,
                      bool) override {
    Unsupported();
  }
  bool SeekByKey(bool) override { Unsupported(); }
  bool LocateByExpression(const std::string&, const std::string&, const TABSVariant&) override {
    Unsupported();
  }
  TABSLocalBLOBStream* OpenBlobStream(bool, bool, bool, std::int32_t, std::int32_t) override {
    Unsupported();
  }
  void CloseBlobStreams(std::int32_t) override {}
  void FreeBlobStreams(bool) override {}
  std::int64_t LastSequenceValue(std::int32_t) override { return 0; }
  void BeginChangeBatch() override {}
  void CommitChangeBatch() override {}
  void RollbackChangeBatch() override {}
  bool CheckConstraints(bool) override { return true; }

 private:
  [[noreturn]] static void Unsupported();
  TABSDatabaseData& Database() const;
  // The row index of Position, or of the first row after it when it is gone.
  std::size_t LowerBound() const;
  TTestTable& Table() const { return *table_; }

  TABSTableData* tableData_ = nullptr;
  TTestTable* table_ = nullptr;
};

std::unique_ptr<TABSCursor> MakeTestCursor();

// Installs the test cursor for its lifetime and empties the store at the end.
class TTestCursorScope {
 public:
  TTestCursorScope();
  ~TTestCursorScope();
  TTestCursorScope(const TTestCursorScope&) = delete;
  TTestCursorScope& operator=(const TTestCursorScope&) = delete;

 private:
  std::unique_ptr<TABSCursor> (*previous_)();
};

}  // namespace components_test
