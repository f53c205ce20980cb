// A cursor with every table operation stubbed out, for testing the state
// and the helpers that TABSCursor implements itself.
#pragma once

#include <stdexcept>

#include "engine/local/ABSCursor.h"

// Lays a cursor state out for a copy of `fields`, as attaching a table does.
inline void LayOutState(TABSCursorState& state, const TABSFieldDefs& fields) {
  state.PhysicalFieldDefs = std::make_unique<TABSFieldDefs>();
  state.PhysicalFieldDefs->CopyListFrom(fields);
  state.LogicalFieldDefs = std::make_unique<TABSFieldDefs>();
  state.LogicalFieldDefs->CopyListFrom(fields);
  for (std::int32_t i = 0; i < state.LogicalFieldDefs->DefCount(); ++i) {
    (*state.LogicalFieldDefs)[i]->PhysicalFieldNo = i;
  }
  state.ComputeBufferLayout();
}

class TestCursor : public TABSCursor {
 public:
  void LayOut(const TABSFieldDefs& fields) { LayOutState(*this, fields); }

  [[noreturn]] static void Unused() { throw std::logic_error("not used by the state tests"); }

  void MakeTable(TABSFieldDefs&, TABSIndexDefs&, TABSConstraintDefs&) override { Unused(); }
  void RemoveTable() override { Unused(); }
  void WipeTable() override { Unused(); }
  void RenameTableTo(const std::string&) override { Unused(); }
  void LoadFieldLayout() override { Unused(); }
  void AttachTable(TABSFieldDefs&, TABSIndexDefs&, TABSConstraintDefs&) override { Unused(); }
  void DetachTable() override { Unused(); }
  void EnterTableLock() override { Unused(); }
  void LeaveTableLock() override { Unused(); }
  bool AcquireTableLock(std::int32_t, std::int32_t, bool, std::int32_t) override { Unused(); }
  bool ReleaseTableLock(std::int32_t, bool) override { Unused(); }
  void AddIndexToTable(const TABSIndexDef&) override { Unused(); }
  void DropIndexFromTable(const std::string&) override { Unused(); }
  void DropAllIndexes() override { Unused(); }
  void BuildIndexFromFields(const std::vector<std::string>&, const std::vector<std::string>&,
                            const std::vector<std::string>&, std::string&, bool&) override {
    Unused();
  }
  bool FindIndexForFields(const std::vector<std::string>&, const std::vector<std::string>&,
                          const std::vector<std::string>&) override {
    Unused();
  }
  void CopyFieldValue(std::int32_t, bool, TABSCursor&, std::int32_t) override { Unused(); }
  void InitRecordBuffer(std::byte*, bool) override { Unused(); }
  std::int64_t CountRecords() override { Unused(); }
  FetchResult FetchRecord(FetchMode) override { Unused(); }
  void SeekRecordNumber(std::int64_t) override { Unused(); }
  std::int64_t CurrentRecordNumber() override { Unused(); }
  std::int32_t ComparePositions(const RecordPosition&, const RecordPosition&) override { Unused(); }
  void MoveToStart() override { Unused(); }
  void MoveToEnd() override { Unused(); }
  void PrepareInsert() override { Unused(); }
  void PrepareEdit() override { Unused(); }
  void AbandonChanges(bool) override { Unused(); }
  void WriteRecord(bool) override { Unused(); }
  void EraseRecord() override { Unused(); }
  void SetDistinctFields(const std::vector<std::string>&, const std::vector<std::string>&,
                         const std::vector<std::string>&) override {
    Unused();
  }
  void ApplyFilterText(const std::string&, bool, bool) override { Unused(); }
  void DropFilter() override { Unused(); }
  bool LocateByFields(const std::vector<std::string>&, const std::vector<const TABSVariant*>&, bool,
                      bool) override {
    Unused();
  }
  bool SeekByKey(bool) override { Unused(); }
  bool LocateByExpression(const std::string&, const std::string&, const TABSVariant&) override {
    Unused();
  }
  TABSLocalBLOBStream* OpenBlobStream(bool, bool, bool, std::int32_t, std::int32_t) override {
    Unused();
  }
  void CloseBlobStreams(std::int32_t) override { Unused(); }
  void FreeBlobStreams(bool) override { Unused(); }
  std::int64_t LastSequenceValue(std::int32_t) override { Unused(); }
  void BeginChangeBatch() override { Unused(); }
  void CommitChangeBatch() override { Unused(); }
  void RollbackChangeBatch() override { Unused(); }
  bool CheckConstraints(bool) override { Unused(); }
};
