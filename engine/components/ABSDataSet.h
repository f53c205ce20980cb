// TABSDataSet: the engine's dataset. It implements the record hooks of the
// dataset framework (platform/data/DataSet.h) on one engine cursor (TABSCursor)
// and binds the dataset to its database component through the session
// components (TABSDatabaseUse, held while a database-use bit is set).
// TABSTable (ABSTable.h) derives from it and makes the cursor.
//
// Record buffer (every buffer of the framework's window, the calculation
// buffer and the old-record copy; all allocated by the cursor):
//   [0, D)          the record image (D = the cursor's DataSize)
//   [D, D + 6)      RecordPosition of the record (the bookmark)
//   [D + 6]         RecordFlag, used as the framework's bookmark flag
//   [D + 7, ...)    the calculated area, CalcFieldsSize() bytes: per
//                   calculated field one flag byte (1 = has a value) and its
//                   value in the native form; a wide string is kept as a
//                   pointer-sized reference to a string the dataset owns.
// Bookmarks are 7 bytes: the 6 position bytes and one zero byte.
//
// Ownership: the dataset owns its cursor while open, the old-record buffer
// during an edit, the six key buffers while open, its engine definitions,
// its AdvFieldDefs/AdvIndexDefs and the strings of wide calculated fields
// (freed when their buffer is cleared or disposed, and at close). It borrows
// its database component through its TABSDatabaseUse (attached while a
// database-use bit is set).
// Threads: none; a dataset is used by one thread. Attaching and detaching
// take the session lock.
//
// Errors: a hook that needs a cursor or a buffer and gets none raises
// EABSException "Nil pointer occured" with its own code; state errors of
// posting, inserting and deleting carry their own codes; a refused cursor
// record operation raises EABSEngineError with the cursor's result code.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/components/ABSAdvDefs.h"
#include "engine/components/ABSSessionComponent.h"
#include "engine/local/ABSCursor.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/schema/ABSMetaDefs.h"
#include "platform/data/DataSet.h"

class TABSDatabase;
class TABSDataSet;

// One dataset's use of its database component. Made under the session lock:
// the session the dataset's SessionName names acquires its DatabaseName
// (connecting it, or making a temporary component when no component has the
// name) and the component lists the dataset. The destructor, again under the
// session lock, takes the dataset off the list and releases the component
// through the session it is registered with, whatever SessionName says by
// then. Never raises from the destructor.
class TABSDatabaseUse {
 public:
  explicit TABSDatabaseUse(TABSDataSet& dataSet);
  ~TABSDatabaseUse();
  TABSDatabaseUse(const TABSDatabaseUse&) = delete;
  TABSDatabaseUse& operator=(const TABSDatabaseUse&) = delete;

  TABSDatabase& Database() const { return *database_; }

 private:
  TABSDataSet& dataSet_;
  TABSDatabase* database_ = nullptr;  // borrowed, counted by the use
  TABSSession* session_ = nullptr;    // the session database_ came from
};

// Database-use bits (SetDatabaseUse): why the dataset uses its database now.
enum TABSDatabaseUseBit : int {
  duOpen = 0,       // while the dataset is open
  duTableOp = 3,    // during CreateTable, ClearTable, DeleteTable, RenameTable
  duFieldDefs = 4,  // while field definitions are read from a closed table
  duIndexDefs = 5,  // while index definitions are read
};

class TABSDataSet : public platform::TDataSet, public TABSSessionNamed {
 public:
  static constexpr int kBookmarkSize = 7;
  // The buffer layout above: the RecordFlag byte sits this far after the
  // position, and the bytes from the record image's end to the calculated
  // area are the position and the flag.
  static constexpr std::int32_t kFlagAfterPosition =
      static_cast<std::int32_t>(RecordPosition::kStoredSize);
  static constexpr std::int32_t kBufferTrailerSize = kFlagAfterPosition + 1;
  static constexpr int kKeyBufferCount = 6;
  static constexpr const char* kCurrentVersion = "6.07 ";

  explicit TABSDataSet(platform::TComponent* owner = nullptr);
  // Closes the dataset and frees what it holds. Never raises.
  ~TABSDataSet() override;

  // --- published properties ---
  std::string CurrentVersion() const { return kCurrentVersion; }
  void SetCurrentVersion(const std::string&) {}  // stored by forms, read by nothing
  const std::string& DatabaseName() const { return databaseName_; }
  // REQUIRES (unless loading): closed and no database attached. Sets
  // InMemory to whether the name is "MEMORY" in any letter case.
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const override { return sessionName_; }
  void SetSessionName(const std::string& name) override { sessionName_ = name; }
  bool InMemory() const { return inMemory_; }
  // REQUIRES: closed. True also sets DatabaseName to "MEMORY".
  void SetInMemory(bool on);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on) { readOnly_ = on; }

  // --- state ---
  TABSCursor* Cursor() const { return cursor_.get(); }
  TABSDatabase* Database() const {
    return databaseUse_ != nullptr ? &databaseUse_->Database() : nullptr;
  }
  platform::TIndexDefs& IndexDefs() { return indexDefs_; }
  TABSAdvFieldDefs& AdvFieldDefs() { return advFieldDefs_; }
  TABSAdvIndexDefs& AdvIndexDefs() { return advIndexDefs_; }
  TABSFieldDefs& EngineFieldDefs() { return engineFieldDefs_; }
  TABSIndexDefs& EngineIndexDefs() { return engineIndexDefs_; }
  TABSConstraintDefs& EngineConstraintDefs() { return engineConstraintDefs_; }

  // --- for tests ---
  // The database-use bits set now (SetDatabaseUse).
  std::uint32_t DatabaseUseBits() const { return useBits_; }
  // Strings of wide calculated fields the dataset holds now.
  std::size_t WideCalcStringCount() const { return wideStrings_.size(); }

  // --- the operations added to the framework's ---
  // Closes the dataset; the database component calls it when it closes.
  virtual void CloseForDatabase();
  // On: the first bit set attaches the database (makes the dataset's
  // TABSDatabaseUse). Off: the last bit cleared detaches it again (ends the
  // use; a failure there is not reported). Setting a set bit or clearing a
  // clear one does nothing.
  virtual void SetDatabaseUse(int bit, bool on);
  // A new cursor for opening; nil here.
  virtual std::unique_ptr<TABSCursor> CreateCursor();
  // Frees the cursor (which detaches it from its table).
  virtual void FreeCursor();
  // The last step of opening; nothing here.
  virtual void AfterCursorOpen();

 protected:
  // ===== record hooks =====
  void ZeroCalculatedArea(platform::TRecordBuffer buffer) override;
  std::int64_t RecordsVersion() override {
    return cursor_ != nullptr ? cursor_->RecordsVersion() : -1;
  }
  bool TakeAppendedRecord(platform::TRecordBuffer buffer) override;
  void CloseFieldBlob(platform::TField* field) override;
  void CloseTableCursor() override;
  void ConvertFieldData(platform::TFieldType type, const void* source, void* dest,
                        bool toNative) override;
  bool CanModifyRecords() override;
  bool IsFieldInCurrentIndex(platform::TField* field) override;
  int TotalRecords() override;
  int ActiveRecordNumber() override;
  void PrepareNewRecord(platform::TRecordBuffer buffer) override;
  void CancelRecordChange() override;
  void BeginRecordEdit() override;
  void BeginRecordInsert() override;
  void RefreshCursor() override;
  void OpenTableCursor() override;
  void ChangeActive(bool value) override;
  void GoToRecordNumber(int n) override;
  platform::TRecordBuffer NewRecordBuffer() override;
  void DisposeRecordBuffer(platform::TRecordBuffer buffer) override;
  void ReadBookmarkData(platform::TRecordBuffer buffer, void* data) override;
  platform::TBookmarkFlag ReadBookmarkFlag(platform::TRecordBuffer buffer) override;
  int RecordDataSize() override;
  void AddRecordFromBuffer(platform::TRecordBuffer buffer, bool append) override;
  void DeleteActiveRecord() override;
  void GoBeforeFirst() override;
  void GoToBookmark(const void* bookmark) override;
  void BlankRecordBuffer(platform::TRecordBuffer buffer) override;
  void GoAfterLast() override;
  void StoreRecord() override;
  void GoToBufferRecord(platform::TRecordBuffer buffer) override;
  void WriteBookmarkFlag(platform::TRecordBuffer buffer, platform::TBookmarkFlag flag) override;
  void WriteBookmarkData(platform::TRecordBuffer buffer, const void* data) override;
  void StoreFieldData(platform::TField* field, const void* buffer) override;
  platform::TGetResult LoadRecord(platform::TRecordBuffer buffer, platform::TGetMode mode,
                                  bool check) override;
  void ShutDownCursor() override;
  void LoadFieldDefs() override;
  void StartCursor() override;
  bool HasCursor() override { return cursor_ != nullptr; }
  bool IsBookmarkValid(const void* bookmark) override;
  int CompareBookmarkOrder(const void* a, const void* b) override;
  bool CopyCurrentRecord(platform::TRecordBuffer buffer) override;
  bool LoadFieldData(platform::TField* field, void* buffer) override;

  // ===== services for TABSTable =====
  // The record buffer of the dataset's state (see the state table), or nil.
  platform::TRecordBuffer StateBuffer() const {
    const platform::TDataSetState state = State();
    if (state == platform::TDataSetState::dsBrowse || state == platform::TDataSetState::dsEdit ||
        state == platform::TDataSetState::dsInsert) {
      return ActiveBuffer();
    }
    return OtherStateBuffer();
  }
  // Reads the field and constraint definitions of `cursor`'s table into the
  // engine definitions, then FieldDefs and AdvFieldDefs from them.
  void ReadDefinitionsFrom(TABSCursor& cursor);
  // Sets the cursor being opened (CreateCursor's result).
  void AdoptCursor(std::unique_ptr<TABSCursor> cursor) { cursor_ = std::move(cursor); }
  // Whether a wide calculated field exists (its slots hold references).
  bool IsWideCalcField(const platform::TField& field) const;

  TABSAdvFieldDefs advFieldDefs_;
  TABSAdvFieldDefs advFieldDefsRead_;  // as last read from the table
  TABSAdvIndexDefs advIndexDefs_;
  TABSAdvIndexDefs advIndexDefsRead_;
  TABSFieldDefs engineFieldDefs_;
  TABSIndexDefs engineIndexDefs_;
  TABSConstraintDefs engineConstraintDefs_;

 private:
  // StateBuffer of the states without an active buffer.
  platform::TRecordBuffer OtherStateBuffer() const;
  std::byte* Raw(platform::TRecordBuffer buffer) const {
    return reinterpret_cast<std::byte*>(buffer);
  }
  // Raises EABSException `code` "Nil pointer occured".
  [[noreturn]] static void RaiseNil(std::int32_t code);
  TABSCursor& RequireCursor(std::int32_t code) const;
  // Gives the cursor's record buffers room for the calculated area: the one
  // place the record buffer size (base buffer + CalcFieldsSize) is computed.
  void FitRecordBufferSize(TABSCursor& cursor);
  std::int32_t PositionOffset() const { return cursor_->PositionOffset; }
  std::int32_t FlagOffset() const { return cursor_->PositionOffset + kFlagAfterPosition; }
  std::int32_t CalcOffset() const { return cursor_->CalcAreaOffset; }
  void FreeOldRecord() noexcept { oldRecord_.Reset(); }
  void FreeKeyBuffers() noexcept;
  void AllocKeyBuffers();
  void BuildIndexFieldMap();
  // Frees the strings referenced by the wide calculated slots of `buffer`.
  void ReleaseWideStrings(platform::TRecordBuffer buffer) noexcept;
  // The string a wide calculated slot refers to, nil for none.
  std::u16string* WideStringOf(const std::uint8_t* slot) const;
  void StoreCalcValue(platform::TField* field, std::uint8_t* slot, const void* value);
  bool LoadCalcValue(platform::TField* field, const std::uint8_t* slot, void* value) const;

  // Where a field whose exchange form is its stored form sits in the record
  // image (the fields of the plan row); other fields go through the cursor.
  struct TDirectSlot {
    std::int32_t Offset = -1;  // -1: exchange through the cursor
    std::int32_t Size = 0;
    std::int32_t NullByte = 0;
    std::uint8_t NullMask = 0;
  };
  // One slot per logical field, from the cursor's layout (LoadFieldDefs).
  void BuildDirectSlots();
  // Gives every bound data field with a direct slot its framework slot
  // (TDataSet::SetFieldSlot), so that it reads and writes the active buffer
  // without the exchange hooks.
  void GiveFieldSlots();
  const TDirectSlot* DirectSlot(const platform::TField& field) const {
    const auto at = static_cast<std::size_t>(field.FieldNo() - 1);
    return at < directSlots_.size() && directSlots_[at].Offset >= 0 ? &directSlots_[at] : nullptr;
  }

  std::vector<TDirectSlot> directSlots_;
  // Every field has a direct slot and the table has no other field: a stored
  // record is the bytes of the buffer it was stored from.
  bool plainRecord_ = false;
  // No field of the table has a default value: new records need none applied.
  bool noDefaults_ = false;

  std::string databaseName_;
  std::string sessionName_;
  bool inMemory_ = false;
  bool readOnly_ = false;

  std::unique_ptr<TABSCursor> cursor_;
  // Held exactly while a use bit is set.
  std::unique_ptr<TABSDatabaseUse> databaseUse_;
  std::uint32_t useBits_ = 0;

  TABSMemBlock oldRecord_;  // a full record buffer during an edit
  std::array<TABSMemBlock, kKeyBufferCount> keyBuffers_;
  std::vector<std::int32_t> indexFieldMap_;  // 1-based field numbers

  platform::TIndexDefs indexDefs_{this};
  // Strings of wide calculated fields, by the address a slot refers to.
  std::unordered_map<const std::u16string*, std::unique_ptr<std::u16string>> wideStrings_;
};
