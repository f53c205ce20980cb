// A dataset over a std::vector of records for the framework's tests (and the
// grid's): it implements every record hook on an in-memory array, counts
// buffers and fetches, logs the hooks in call order, and can be told to fail.
//
// Record buffer layout (all offsets in bytes):
//   [0, D)            the record image: per data field 1 null flag byte
//                     (1 = has a value) followed by the native value
//   [D, D + 4)        the record id (the bookmark), little-endian uint32
//   [D + 4]           the bookmark flag (TBookmarkFlag)
//   [D + 5, ...)      the calculated area (CalcFieldsSize bytes)
// Record ids are never reused; the cursor is an index into the array,
// -1 before the first record and Count() after the last.
// A new record goes in front of the record the cursor stood on when the
// insert began, or at the end when the framework moved the cursor after the
// last record since (an append).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"

namespace platform::test {

struct TVectorColumn {
  std::string name;
  TFieldType type;
  int size = 0;
};

class TVectorDataSet : public TDataSet {
 public:
  struct Row {
    std::uint32_t id;
    std::vector<std::uint8_t> image;
  };

  explicit TVectorDataSet(std::vector<TVectorColumn> columns, TComponent* owner = nullptr)
      : TDataSet(owner), columns_(std::move(columns)) {
    int offset = 0;
    for (const auto& s : columns_) {
      offsets_.push_back(offset);
      offset += 1 + NativeSize(s);
    }
    dataSize_ = offset;
  }

  ~TVectorDataSet() override {
    try {
      Close();
    } catch (...) {
    }
  }

  // --- test controls ---------------------------------------------------------
  int fetches = 0;           // LoadRecord calls
  int liveBuffers = 0;       // allocated and not yet disposed
  int buffersAllocated = 0;  // NewRecordBuffer calls
  bool readOnly = false;
  bool failOpen = false;     // OpenTableCursor raises
  bool failPost = false;     // StoreRecord raises
  int failFetchAfter = -1;   // LoadRecord raises when fetches reaches this
  int bookmarkSize = 4;      // BookmarkSize the dataset announces (only 4 bytes are written)
  int lastRecordNumber = 0;  // argument of the last GoToRecordNumber
  bool logging = false;
  std::vector<std::string> log;  // hook names in call order while logging
  bool versioned = false;        // RecordsVersion tells `version`, else -1
  std::int64_t version = 0;      // grows with every change of the stored rows
  int storeInsertAt = -1;        // >= 0: a new record is stored at this index
  int changeOnStore = -1;        // >= 0: StoreRecord also changes this row (another writer)

  std::vector<Row>& Rows() { return rows_; }
  int Count() const { return static_cast<int>(rows_.size()); }

  // Appends a stored record directly (no framework involved); `values` are
  // the int32 values of the leading integer fields, NULL for the rest.
  void AddStoredRow(const std::vector<std::int32_t>& values) {
    Row row{nextId_++, std::vector<std::uint8_t>(static_cast<std::size_t>(dataSize_), 0)};
    for (std::size_t i = 0; i < values.size() && i < columns_.size(); ++i) {
      StoreInt(row, static_cast<int>(i), values[i]);
    }
    rows_.push_back(std::move(row));
    ++version;
  }
  // Changes the first value of stored row `index` behind the framework's back.
  void ChangeStoredRow(int index, std::int32_t value) {
    StoreInt(rows_[static_cast<std::size_t>(index)], 0, value);
    ++version;
  }
  void StoreInt(Row& row, int fieldIndex, std::int32_t value) {
    std::size_t at = static_cast<std::size_t>(offsets_[static_cast<std::size_t>(fieldIndex)]);
    row.image[at] = 1;
    std::memcpy(&row.image[at + 1], &value, 4);
  }

  // Exposes the protected services a test needs.
  using TDataSet::ActiveBuffer;
  using TDataSet::CalcBuffer;

 protected:
  static int NativeSize(const TVectorColumn& s) {
    switch (s.type) {
      case ftSmallint:
      case ftWord:
      case ftBoolean:
        return 2;
      case ftInteger:
      case ftAutoInc:
      case ftDate:
      case ftTime:
        return 4;
      case ftString:
      case ftFixedChar:
        return s.size + 1;
      case ftWideString:
        return (s.size + 1) * 2;
      default:
        return 8;
    }
  }

  void Log(const char* hook) {
    if (logging) log.emplace_back(hook);
  }

  int BufferSize() const { return dataSize_ + 5 + CalcFieldsSize(); }
  std::uint32_t IdOf(TRecordBuffer b) const {
    std::uint32_t id;
    std::memcpy(&id, b + dataSize_, 4);
    return id;
  }
  // Index of the record with `id`, searched outwards from the cursor (the
  // framework asks for records next to it), -1 when there is none.
  int IndexOfId(std::uint32_t id) const {
    int n = Count();
    int start = std::clamp(cursor_, 0, n > 0 ? n - 1 : 0);
    for (int d = 0; d < n; ++d) {
      int up = start + d;
      int down = start - d;
      if (up < n && rows_[static_cast<std::size_t>(up)].id == id) return up;
      if (down >= 0 && down != up && rows_[static_cast<std::size_t>(down)].id == id) return down;
      if (up >= n && down < 0) break;
    }
    return -1;
  }

  TRecordBuffer StateBuffer() const {
    switch (State()) {
      case TDataSetState::dsBrowse:
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert:
        return ActiveBuffer();
      case TDataSetState::dsCalcFields:
        return CalcBuffer();
      default:
        return nullptr;
    }
  }

  // --- hooks -----------------------------------------------------------------
  void OpenTableCursor() override {
    Log("OpenTableCursor");
    if (failOpen) throw std::runtime_error("open failed");
    open_ = true;
    cursor_ = -1;
  }
  void StartCursor() override {
    Log("StartCursor");
    SetBookmarkSize(bookmarkSize);
    TDataSet::StartCursor();
  }
  void LoadFieldDefs() override {
    Log("LoadFieldDefs");
    FieldDefs().Clear();
    for (const auto& s : columns_) FieldDefs().Add(s.name, s.type, s.size);
  }
  void CloseTableCursor() override {
    Log("CloseTableCursor");
    TDataSet::CloseTableCursor();
    open_ = false;
  }
  void ShutDownCursor() override {
    Log("ShutDownCursor");
    TDataSet::ShutDownCursor();
  }
  void ChangeActive(bool value) override {
    Log(value ? "ChangeActive(true)" : "ChangeActive(false)");
    if (!value && (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert)) {
      CancelRecordChange();
    }
    TDataSet::ChangeActive(value);
  }
  bool HasCursor() override { return open_; }

  TRecordBuffer NewRecordBuffer() override {
    Log("NewRecordBuffer");
    auto* b = new std::uint8_t[static_cast<std::size_t>(BufferSize())]();
    ++liveBuffers;
    ++buffersAllocated;
    owned_.insert(b);
    return b;
  }
  void DisposeRecordBuffer(TRecordBuffer buffer) override {
    Log("DisposeRecordBuffer");
    if (owned_.erase(buffer) != 1) throw std::logic_error("buffer not from NewRecordBuffer");
    delete[] buffer;
    --liveBuffers;
  }
  void BlankRecordBuffer(TRecordBuffer buffer) override {
    Log("BlankRecordBuffer");
    std::memset(buffer, 0, static_cast<std::size_t>(dataSize_));
  }
  void ZeroCalculatedArea(TRecordBuffer buffer) override {
    if (CalcFieldsSize() > 0) {
      std::memset(buffer + dataSize_ + 5, 0, static_cast<std::size_t>(CalcFieldsSize()));
    }
  }
  int RecordDataSize() override { return dataSize_; }

  TGetResult LoadRecord(TRecordBuffer buffer, TGetMode mode, bool check) override {
    Log(mode == TGetMode::gmCurrent ? "LoadRecord(Current)"
        : mode == TGetMode::gmNext  ? "LoadRecord(Next)"
                                    : "LoadRecord(Prior)");
    ++fetches;
    if (failFetchAfter >= 0 && fetches >= failFetchAfter) {
      if (check) DatabaseError("Cannot retrieve record", this);
      return TGetResult::grError;
    }
    int n = Count();
    if (mode == TGetMode::gmNext) {
      if (cursor_ < n) ++cursor_;
    } else if (mode == TGetMode::gmPrior) {
      if (cursor_ > -1) --cursor_;
    }
    if (cursor_ < 0) return TGetResult::grBOF;
    if (cursor_ >= n) return TGetResult::grEOF;
    const Row& row = rows_[static_cast<std::size_t>(cursor_)];
    std::memcpy(buffer, row.image.data(), static_cast<std::size_t>(dataSize_));
    std::memcpy(buffer + dataSize_, &row.id, 4);
    buffer[dataSize_ + 4] = bfCurrent;
    ZeroCalculatedArea(buffer);
    CalculateFields(buffer);
    return TGetResult::grOK;
  }

  void GoBeforeFirst() override {
    Log("GoBeforeFirst");
    cursor_ = -1;
  }
  void GoAfterLast() override {
    Log("GoAfterLast");
    cursor_ = Count();
    if (inserting_) insertAt_ = Count();
  }
  void GoToBookmark(const void* bookmark) override {
    Log("GoToBookmark");
    std::uint32_t id;
    std::memcpy(&id, bookmark, 4);
    int i = IndexOfId(id);
    if (i >= 0) cursor_ = i;
  }
  void GoToBufferRecord(TRecordBuffer buffer) override {
    Log("GoToBufferRecord");
    int i = IndexOfId(IdOf(buffer));
    if (i >= 0) cursor_ = i;
  }
  void GoToRecordNumber(int n) override {
    Log("GoToRecordNumber");
    lastRecordNumber = n;
    DoBeforeScroll();
    cursor_ = Count() == 0 ? -1 : std::clamp(n - 1, 0, Count() - 1);
    Resync(TResyncMode::Center);
    DoAfterScroll();
  }
  void ReadBookmarkData(TRecordBuffer buffer, void* data) override {
    std::memcpy(data, buffer + dataSize_, 4);
  }
  void WriteBookmarkData(TRecordBuffer buffer, const void* data) override {
    if (data != nullptr) std::memcpy(buffer + dataSize_, data, 4);
  }
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[dataSize_ + 4]);
  }
  void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override {
    Log("WriteBookmarkFlag");
    buffer[dataSize_ + 4] = flag;
  }
  void PrepareNewRecord(TRecordBuffer buffer) override {
    Log("PrepareNewRecord");
    TDataSet::PrepareNewRecord(buffer);
    std::uint32_t none = 0xFFFFFFFFu;
    std::memcpy(buffer + dataSize_, &none, 4);
  }

  int TotalRecords() override { return open_ ? Count() : 0; }
  int ActiveRecordNumber() override {
    if (State() == TDataSetState::dsInsert) return -1;
    TRecordBuffer b = State() == TDataSetState::dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (b == nullptr) return -1;
    int i = IndexOfId(IdOf(b));
    return i < 0 ? -1 : i + 1;
  }

  bool CanModifyRecords() override { return !readOnly; }
  std::int64_t RecordsVersion() override { return versioned ? version : -1; }
  void BeginRecordInsert() override {
    Log("BeginRecordInsert");
    inserting_ = true;
    insertAt_ = std::clamp(cursor_, 0, Count());
  }
  void BeginRecordEdit() override { Log("BeginRecordEdit"); }
  void CancelRecordChange() override {
    Log("CancelRecordChange");
    inserting_ = false;
  }
  void StoreRecord() override {
    Log("StoreRecord");
    if (failPost) DatabaseError("Post failed", this);
    ++version;
    if (changeOnStore >= 0) ChangeStoredRow(changeOnStore, 3333);
    TRecordBuffer b = ActiveBuffer();
    std::vector<std::uint8_t> image(b, b + dataSize_);
    if (State() == TDataSetState::dsInsert) {
      Row row{nextId_++, std::move(image)};
      std::memcpy(b + dataSize_, &row.id, 4);
      b[dataSize_ + 4] = bfInserted;
      int at = std::clamp(storeInsertAt >= 0 ? storeInsertAt : insertAt_, 0, Count());
      rows_.insert(rows_.begin() + at, std::move(row));
      cursor_ = at;
      inserting_ = false;
    } else {
      int i = IndexOfId(IdOf(b));
      if (i < 0) DatabaseError("Record not found", this);
      rows_[static_cast<std::size_t>(i)].image = std::move(image);
      cursor_ = i;
    }
  }
  void DeleteActiveRecord() override {
    Log("DeleteActiveRecord");
    if (readOnly) DatabaseError("Dataset is in read only mode", this);
    int i = IndexOfId(IdOf(ActiveBuffer()));
    if (i < 0) DatabaseError("Record not found", this);
    rows_.erase(rows_.begin() + i);
    ++version;
    cursor_ = i < Count() ? i : Count() - 1;
  }

  void StoreFieldData(TField* field, const void* buffer) override {
    TDataSetState s = State();
    if (s != TDataSetState::dsEdit && s != TDataSetState::dsInsert &&
        s != TDataSetState::dsCalcFields) {
      DatabaseError("Dataset not in edit or insert mode", this);
    }
    TRecordBuffer record = StateBuffer();
    if (record == nullptr) DatabaseError("No record", this);
    std::uint8_t* slot;
    if (field->IsCalculated()) {
      slot = record + dataSize_ + 5 + field->Offset();
    } else {
      field->Validate(buffer);
      slot = record + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
    }
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) {
      std::memcpy(slot + 1, buffer, static_cast<std::size_t>(field->DataSize()));
    } else {
      std::memset(slot + 1, 0, static_cast<std::size_t>(field->DataSize()));
    }
    if (s != TDataSetState::dsCalcFields) {
      DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(field));
    }
  }
  bool LoadFieldData(TField* field, void* buffer) override {
    TRecordBuffer record = StateBuffer();
    if (record == nullptr) return false;
    const std::uint8_t* slot =
        field->IsCalculated() ? record + dataSize_ + 5 + field->Offset()
                              : record + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
    if (slot[0] == 0) return false;
    if (buffer != nullptr)
      std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }

  bool IsBookmarkValid(const void* bookmark) override {
    if (!open_ || bookmark == nullptr) return false;
    std::uint32_t id;
    std::memcpy(&id, bookmark, 4);
    return IndexOfId(id) >= 0;
  }
  int CompareBookmarkOrder(const void* a, const void* b) override {
    if (a == nullptr && b == nullptr) return 0;
    if (b == nullptr) return -1;
    if (a == nullptr) return 1;
    std::uint32_t ia, ib;
    std::memcpy(&ia, a, 4);
    std::memcpy(&ib, b, 4);
    int x = IndexOfId(ia), y = IndexOfId(ib);
    return x < y ? -1 : (x > y ? 1 : 0);
  }

 private:
  std::vector<TVectorColumn> columns_;
  std::vector<int> offsets_;
  int dataSize_ = 0;
  std::vector<Row> rows_;
  std::set<TRecordBuffer> owned_;
  std::uint32_t nextId_ = 1;
  int cursor_ = -1;
  bool open_ = false;
  bool inserting_ = false;
  int insertAt_ = 0;
};

// A link that asks for `rows` records and counts the events it receives.
class TCountingLink : public TDataLink {
 public:
  explicit TCountingLink(int rows = 1) { SetBufferCount(rows); }
  int activeChanges = 0, dataSetChanges = 0, scrolls = 0, recordChanges = 0, editingChanges = 0;

 protected:
  void ActiveChanged() override { ++activeChanges; }
  void DataSetChanged() override { ++dataSetChanges; }
  void DataSetScrolled(int) override { ++scrolls; }
  void RecordChanged(TField*) override { ++recordChanges; }
  void EditingChanged() override { ++editingChanges; }
};

}  // namespace platform::test
