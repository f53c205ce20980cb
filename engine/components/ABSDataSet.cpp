// TABSDataSet: construction, database use, opening and closing, and the
// record hooks that move, count and store records. Field exchange and the
// calculated area are in ABSDataSetFields.cpp.
#include "engine/components/ABSDataSet.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/components/ABSDatabaseComponent.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSDesignMode.h"
#include "platform/data/DatabaseError.h"

using platform::TBookmarkFlag;
using platform::TDataSetState;
using platform::TGetMode;
using platform::TGetResult;
using platform::TRecordBuffer;

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

// Gives CurrentBuffer back to what it was when the scope ends.
class CurrentBufferGuard {
 public:
  explicit CurrentBufferGuard(TABSCursorState& cursor)
      : cursor_(cursor), saved_(cursor.CurrentBuffer) {}
  ~CurrentBufferGuard() { cursor_.CurrentBuffer = saved_; }
  CurrentBufferGuard(const CurrentBufferGuard&) = delete;
  CurrentBufferGuard& operator=(const CurrentBufferGuard&) = delete;

 private:
  TABSCursorState& cursor_;
  std::byte* saved_;
};

// A record buffer of the cursor, released through it however the scope ends.
class ScratchRecord {
 public:
  explicit ScratchRecord(TABSCursor& cursor)
      : cursor_(cursor), buffer_(cursor.AllocRecordBuffer()) {}
  ~ScratchRecord() {
    try {
      cursor_.ReleaseRecordBuffer(buffer_);
    } catch (...) {
      // Releasing a buffer of this cursor only frees memory.
    }
  }
  ScratchRecord(const ScratchRecord&) = delete;
  ScratchRecord& operator=(const ScratchRecord&) = delete;
  std::byte* get() const { return buffer_; }

 private:
  TABSCursor& cursor_;
  std::byte* buffer_;
};

}  // namespace

TABSDataSet::TABSDataSet(platform::TComponent* owner) : platform::TDataSet(owner) {
  if (!DesignMode.load() && owner != nullptr && owner->IsDesigning()) DesignMode.store(true);
}

TABSDataSet::~TABSDataSet() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
    // Closing frees the buffers also when a hook fails; nothing else to do.
  }
  FreeOldRecord();
  FreeKeyBuffers();
  wideStrings_.clear();
  cursor_.reset();
  // A use bit that is still set (a failed close) detaches the database now.
  useBits_ = 0;
  std::unique_ptr<TABSDatabaseUse> ending = std::move(databaseUse_);
}

// ---------------------------------------------------------------------------
// Properties

void TABSDataSet::SetDatabaseName(const std::string& name) {
  if (!IsLoading() && name != databaseName_) {
    CheckInactive();
    if (Database() != nullptr) {
      platform::DatabaseError("Cannot perform this operation on an open database", this);
    }
  }
  databaseName_ = name;
  inMemory_ = EqualsIgnoringAsciiCase(name, "MEMORY");
}

void TABSDataSet::SetInMemory(bool on) {
  CheckInactive();
  if (on) databaseName_ = "MEMORY";
  inMemory_ = on;
}

// ---------------------------------------------------------------------------
// The added operations

void TABSDataSet::CloseForDatabase() {
  Close();
}

void TABSDataSet::SetDatabaseUse(int bit, bool on) {
  const std::uint32_t mask = 1u << bit;
  if (on) {
    if ((useBits_ & mask) != 0) return;
    if (useBits_ == 0) databaseUse_ = std::make_unique<TABSDatabaseUse>(*this);
    useBits_ |= mask;
    return;
  }
  if ((useBits_ & mask) == 0) return;
  useBits_ &= ~mask;
  if (useBits_ != 0) return;
  // Detached before the use ends: what the release runs sees no database.
  std::unique_ptr<TABSDatabaseUse> ending = std::move(databaseUse_);
}

TABSDatabaseUse::TABSDatabaseUse(TABSDataSet& dataSet) : dataSet_(dataSet) {
  // Finding the database, counting the use and listing the dataset are one
  // step under the session lock: components on other threads share the
  // database component of the default session.
  platform::RankedLockGuard hold(Sessions().SessionLock());
  const std::string& sessionName = dataSet.SessionName();
  const std::string& databaseName = dataSet.DatabaseName();
  // A database component made for a named session may have registered with
  // the default session while that session did not exist yet; it moves to
  // its session now rather than a second, temporary component being made
  // there.
  if (!sessionName.empty() && !databaseName.empty()) {
    TABSSession* named = Sessions().LookupSession(sessionName);
    TABSSession* fallback = Sessions().DefaultSession();
    if (named != nullptr && fallback != nullptr && named != fallback &&
        named->LookupDatabaseForOwner(databaseName, dataSet.Owner()) == nullptr) {
      TABSDatabase* waiting = fallback->LookupDatabaseForOwner(databaseName, dataSet.Owner());
      if (waiting != nullptr) waiting->AttachToSession(true);
    }
  }
  TABSSession& session = Sessions().RequireSession(sessionName);
  TABSDatabase& database = session.AcquireDatabase(databaseName, dataSet.Owner());
  TABSSession* from = database.Session() != nullptr ? database.Session() : &session;
  try {
    database.AddDataset(dataSet);
  } catch (...) {
    from->ReleaseDatabase(database);
    throw;
  }
  database_ = &database;
  session_ = from;
}

TABSDatabaseUse::~TABSDatabaseUse() {
  try {
    platform::RankedLockGuard hold(Sessions().SessionLock());
    database_->RemoveDataset(dataSet_);
    session_->ReleaseDatabase(*database_);
  } catch (...) {
    // Releasing counts down and may disconnect an unused database; a dataset
    // of it that refuses to close leaves nothing for this use to undo.
  }
}

std::unique_ptr<TABSCursor> TABSDataSet::CreateCursor() {
  return nullptr;
}

void TABSDataSet::FreeCursor() {
  cursor_.reset();
}

void TABSDataSet::AfterCursorOpen() {}

void TABSDataSet::RaiseNil(std::int32_t code) {
  throw EABSException(code, "Nil pointer occured");
}

TABSCursor& TABSDataSet::RequireCursor(std::int32_t code) const {
  if (cursor_ == nullptr) RaiseNil(code);
  return *cursor_;
}

// ---------------------------------------------------------------------------
// Opening and closing

void TABSDataSet::OpenTableCursor() {
  if (databaseName_.empty()) platform::DatabaseError("DatabaseName property is blank", this);
  SetDatabaseUse(duOpen, true);
  if (cursor_ == nullptr) cursor_ = CreateCursor();
  if (cursor_ == nullptr) throw EABSException(20001, "Error creating table handle");
}

void TABSDataSet::StartCursor() {
  if (cursor_ == nullptr) return;
  SetBookmarkSize(kBookmarkSize);
  // Definitions up to date, default fields made and bound.
  platform::TDataSet::StartCursor();
  GiveFieldSlots();
  BuildIndexFieldMap();
  FreeOldRecord();
  cursor_->FilterCallbackOwner = this;
  FitRecordBufferSize(*cursor_);
  AllocKeyBuffers();
  cursor_->ClearKeyRange();
  AfterCursorOpen();
}

void TABSDataSet::GiveFieldSlots() {
  for (int i = 0; i < Fields().Count(); ++i) {
    platform::TField& field = Fields()[i];
    const TDirectSlot* slot = field.IsDataField() ? DirectSlot(field) : nullptr;
    // The exchange form must be the field's native form, byte for byte.
    if (slot == nullptr || slot->Size != field.DataSize()) continue;
    SetFieldSlot(field, slot->Offset, slot->Size, slot->NullByte, slot->NullMask);
  }
}

void TABSDataSet::BuildIndexFieldMap() {
  indexFieldMap_.clear();
  if (cursor_->IndexName.empty()) return;
  const TABSIndexDef* index =
      cursor_->IndexDefs ? cursor_->IndexDefs->FindByName(cursor_->IndexName) : nullptr;
  if (index == nullptr) throw EABSException(10325, "Cannot find index %s", {cursor_->IndexName});
  for (const TABSIndexColumn& column : index->Columns) {
    const std::int32_t at =
        cursor_->LogicalFieldDefs ? cursor_->LogicalFieldDefs->IndexOfName(column.Name) : -1;
    if (at < 0) continue;
    indexFieldMap_.push_back(at + 1);
  }
}

void TABSDataSet::AllocKeyBuffers() {
  for (TABSMemBlock& key : keyBuffers_) {
    key = TABSMemBlock::Adopt(cursor_->AllocKeyBuffer());
    std::memset(key.get(), 0, static_cast<std::size_t>(cursor_->KeyBufferSize));
  }
}

void TABSDataSet::FreeKeyBuffers() noexcept {
  for (TABSMemBlock& key : keyBuffers_) key.Reset();
}

void TABSDataSet::ShutDownCursor() {
  if (cursor_ != nullptr) {
    FreeOldRecord();
    FreeKeyBuffers();
  }
  platform::TDataSet::ShutDownCursor();
  advFieldDefs_.Clear();
  engineFieldDefs_.ClearDefs();
  advIndexDefs_.Clear();
  engineIndexDefs_.ClearDefs();
  indexFieldMap_.clear();
  directSlots_.clear();
  plainRecord_ = false;
  noDefaults_ = false;
  // Every buffer is gone by now, so no slot refers to these strings.
  wideStrings_.clear();
}

void TABSDataSet::CloseTableCursor() {
  struct ReleaseUse {
    TABSDataSet& dataSet;
    ~ReleaseUse() {
      try {
        dataSet.SetDatabaseUse(duOpen, false);
      } catch (...) {
      }
    }
  };
  ReleaseUse release{*this};
  try {
    platform::TDataSet::CloseTableCursor();
  } catch (...) {
    if (cursor_ != nullptr) FreeCursor();
    throw;
  }
  if (cursor_ != nullptr) FreeCursor();
}

void TABSDataSet::ChangeActive(bool value) {
  if (!value && (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert)) {
    CancelRecordChange();
  }
  platform::TDataSet::ChangeActive(value);
}

// ---------------------------------------------------------------------------
// Buffers and bookmarks

void TABSDataSet::FitRecordBufferSize(TABSCursor& cursor) {
  const std::int32_t needed = cursor.BaseBufferSize + CalcFieldsSize();
  if (cursor.RecordBufferSize < needed) cursor.RecordBufferSize = needed;
}

TRecordBuffer TABSDataSet::NewRecordBuffer() {
  TABSCursor& cursor = RequireCursor(10052);
  // Room for the calculated area, whatever reset the cursor's size since.
  FitRecordBufferSize(cursor);
  return reinterpret_cast<TRecordBuffer>(cursor.AllocRecordBuffer());
}

void TABSDataSet::DisposeRecordBuffer(TRecordBuffer buffer) {
  TABSCursor& cursor = RequireCursor(10053);
  ReleaseWideStrings(buffer);
  std::byte* raw = Raw(buffer);
  cursor.ReleaseRecordBuffer(raw);
}

void TABSDataSet::BlankRecordBuffer(TRecordBuffer buffer) {
  // Without any default value in the table there is nothing to apply.
  RequireCursor(10054).InitRecordBuffer(Raw(buffer), !noDefaults_);
}

int TABSDataSet::RecordDataSize() {
  return RequireCursor(10055).BaseBufferSize - kBufferTrailerSize;
}

void TABSDataSet::ReadBookmarkData(TRecordBuffer buffer, void* data) {
  if (buffer == nullptr) RaiseNil(10034);
  if (data == nullptr) RaiseNil(10035);
  RequireCursor(10036);
  std::memcpy(data, buffer + PositionOffset(), RecordPosition::kStoredSize);
}

TBookmarkFlag TABSDataSet::ReadBookmarkFlag(TRecordBuffer buffer) {
  if (buffer == nullptr) RaiseNil(10059);
  RequireCursor(10060);
  const std::uint8_t flag = buffer[FlagOffset()];
  return flag >= 1 && flag <= 3 ? static_cast<TBookmarkFlag>(flag) : platform::bfCurrent;
}

void TABSDataSet::WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  RequireCursor(10057);
  if (buffer == nullptr) RaiseNil(10057);
  if (flag <= platform::bfInserted) buffer[FlagOffset()] = flag;
}

void TABSDataSet::WriteBookmarkData(TRecordBuffer buffer, const void* data) {
  RequireCursor(10058);
  if (buffer == nullptr) RaiseNil(10061);
  if (data != nullptr) std::memcpy(buffer + PositionOffset(), data, RecordPosition::kStoredSize);
}

void TABSDataSet::PrepareNewRecord(TRecordBuffer buffer) {
  platform::TDataSet::PrepareNewRecord(buffer);
  buffer[FlagOffset()] = static_cast<std::uint8_t>(RecordFlag::Inserted);
  RecordPosition none;
  none.RecordId = -1;
  none.SubPosition = 0xFFFF;
  none.Store(buffer + PositionOffset());
}

int TABSDataSet::CompareBookmarkOrder(const void* a, const void* b) {
  if (a == nullptr && b == nullptr) return 0;
  if (b == nullptr) return -1;
  if (a == nullptr) return 1;
  TABSCursor& cursor = RequireCursor(10063);
  return cursor.ComparePositions(RecordPosition::Load(a), RecordPosition::Load(b));
}

bool TABSDataSet::IsBookmarkValid(const void* bookmark) {
  if (cursor_ == nullptr || bookmark == nullptr) return false;
  CursorPosChanged();
  TABSPositionGuard position(*cursor_);
  CurrentBufferGuard current(*cursor_);
  ScratchRecord scratch(*cursor_);
  cursor_->CurrentBuffer = scratch.get();
  cursor_->AtStart = false;
  cursor_->AtEnd = false;
  cursor_->Position = RecordPosition::Load(bookmark);
  return cursor_->FetchRecord(FetchMode::Current) == FetchResult::Found;
}

// ---------------------------------------------------------------------------
// Positioning and fetching

void TABSDataSet::GoBeforeFirst() {
  RequireCursor(10044).MoveToStart();
}

void TABSDataSet::GoAfterLast() {
  RequireCursor(10045).MoveToEnd();
}

void TABSDataSet::GoToBookmark(const void* bookmark) {
  if (bookmark == nullptr) RaiseNil(10037);
  TABSCursor& cursor = RequireCursor(10038);
  cursor.Position = RecordPosition::Load(bookmark);
  cursor.AtStart = false;
  cursor.AtEnd = false;
}

void TABSDataSet::GoToBufferRecord(TRecordBuffer buffer) {
  RequireCursor(10046);
  if (buffer == nullptr) RaiseNil(10047);
  GoToBookmark(buffer + PositionOffset());
}

void TABSDataSet::GoToRecordNumber(int n) {
  TABSCursor& cursor = RequireCursor(10042);
  DoBeforeScroll();
  // Record numbers start at 1; anything below goes to the first record.
  cursor.SeekRecordNumber(std::max(n, 1));
  CursorPosChanged();
  Resync(platform::TResyncMode::Center);
  DoAfterScroll();
}

TGetResult TABSDataSet::LoadRecord(TRecordBuffer buffer, TGetMode mode, bool check) {
  TABSCursor& cursor = RequireCursor(10041);
  cursor.CurrentBuffer = Raw(buffer);
  const FetchMode fetch = mode == TGetMode::gmCurrent ? FetchMode::Current
                          : mode == TGetMode::gmNext  ? FetchMode::Next
                                                      : FetchMode::Prior;
  const FetchResult result = cursor.FetchRecord(fetch);
  if (result == FetchResult::Bof) return TGetResult::grBOF;
  if (result == FetchResult::Eof) return TGetResult::grEOF;
  if (result != FetchResult::Found) {
    if (check) throw EABSException(10026, "Cannot retrieve record");
    return TGetResult::grError;
  }
  cursor.Position.Store(buffer + cursor.PositionOffset);
  buffer[cursor.PositionOffset + kFlagAfterPosition] =
      static_cast<std::uint8_t>(RecordFlag::Current);
  ZeroCalculatedArea(buffer);
  CalculateFields(buffer);
  return TGetResult::grOK;
}

bool TABSDataSet::TakeAppendedRecord(TRecordBuffer buffer) {
  // A plain record is stored as the bytes of its buffer (auto-increment
  // values are written into the buffer before the store) and read back as
  // them, so the buffer lacks only the flag of a record read; without
  // calculated fields a read does nothing else. An in-memory table shows its
  // records in the order of insertion unless an index orders them, so the
  // appended record is the last one.
  if (!plainRecord_ || !inMemory_ || cursor_ == nullptr || cursor_->HasCurrentIndex() ||
      buffer == nullptr || CalcFieldsSize() > 0) {
    return false;
  }
  buffer[FlagOffset()] = static_cast<std::uint8_t>(RecordFlag::Current);
  return true;
}

bool TABSDataSet::CopyCurrentRecord(TRecordBuffer buffer) {
  if (cursor_ == nullptr || IsEmpty()) return false;
  TRecordBuffer active = ActiveBuffer();
  if (active == nullptr || ReadBookmarkFlag(active) != platform::bfCurrent) return false;
  GoToBufferRecord(active);
  CursorPosChanged();
  CurrentBufferGuard current(*cursor_);
  cursor_->CurrentBuffer = Raw(buffer);
  return cursor_->FetchRecord(FetchMode::Current) == FetchResult::Found;
}

// ---------------------------------------------------------------------------
// Counting and numbering

int TABSDataSet::TotalRecords() {
  if (!Active()) return 0;
  return static_cast<int>(RequireCursor(10056).CountRecords());
}

int TABSDataSet::ActiveRecordNumber() {
  TABSCursor& cursor = RequireCursor(10043);
  if (State() == TDataSetState::dsInsert) return -1;
  TRecordBuffer buffer = State() == TDataSetState::dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr) return -1;
  TABSPositionGuard position(cursor);
  CurrentBufferGuard current(cursor);
  cursor.CurrentBuffer = Raw(buffer);
  cursor.AtStart = false;
  cursor.AtEnd = false;
  cursor.Position = RecordPosition::Load(buffer + cursor.PositionOffset);
  return static_cast<int>(cursor.CurrentRecordNumber());
}

// ---------------------------------------------------------------------------
// Editing

bool TABSDataSet::CanModifyRecords() {
  return platform::TDataSet::CanModifyRecords() && !readOnly_;
}

void TABSDataSet::BeginRecordInsert() {
  if (readOnly_) return;
  if (cursor_ == nullptr) RaiseNil(native_code::kInsertWithoutCursor);
  cursor_->PrepareInsert();
}

void TABSDataSet::BeginRecordEdit() {
  if (readOnly_) return;
  TABSCursor& cursor = RequireCursor(10065);
  TRecordBuffer active = ActiveBuffer();
  if (active == nullptr) RaiseNil(10067);
  // A full buffer, so that the copy has the layout of every other buffer.
  TABSMemBlock copy = TABSMemBlock::Adopt(cursor.AllocRecordBuffer());
  std::memcpy(copy.get(), active, static_cast<std::size_t>(cursor.DataSize() + kBufferTrailerSize));
  oldRecord_ = std::move(copy);
  try {
    cursor.CurrentBuffer = Raw(active);
    cursor.PrepareEdit();
    CheckEngineResult(cursor.LastResultCode, cursor.LastResultText);
  } catch (...) {
    FreeOldRecord();
    throw;
  }
}

void TABSDataSet::CancelRecordChange() {
  TABSCursor& cursor = RequireCursor(10066);
  FreeOldRecord();
  cursor.OriginalBuffer = nullptr;
  cursor.CurrentBuffer = Raw(StateBuffer());
  cursor.AbandonChanges(State() == TDataSetState::dsInsert);
  CheckEngineResult(cursor.LastResultCode, cursor.LastResultText);
}

void TABSDataSet::StoreRecord() {
  if (!Active()) throw EABSException(10029, "Dataset is not opened");
  const bool inserting = State() == TDataSetState::dsInsert;
  if (!inserting && State() != TDataSetState::dsEdit) {
    throw EABSException(10030, "Dataset is not in insert or edit mode");
  }
  if (readOnly_) throw EABSException(10032, "Dataset is in read only mode");
  TABSCursor& cursor = RequireCursor(10048);
  TRecordBuffer record = StateBuffer();
  cursor.CurrentBuffer = Raw(record);
  cursor.OriginalBuffer = inserting ? nullptr : static_cast<std::byte*>(oldRecord_.get());
  cursor.WriteRecord(inserting);
  cursor.OriginalBuffer = nullptr;
  if (cursor.LastResultCode == 0) {
    if (!inserting) FreeOldRecord();
    // The stored record's position, so that the window finds it again.
    if (record != nullptr) cursor.Position.Store(record + cursor.PositionOffset);
  }
  CheckEngineResult(cursor.LastResultCode, cursor.LastResultText);
}

void TABSDataSet::AddRecordFromBuffer(TRecordBuffer buffer, bool /*append*/) {
  if (!Active()) throw EABSException(10075, "Dataset is not opened");
  if (State() != TDataSetState::dsInsert) {
    throw EABSException(10076, "Dataset is not in insert or edit mode");
  }
  if (readOnly_) throw EABSException(10077, "Dataset is in read only mode");
  TABSCursor& cursor = RequireCursor(10078);
  cursor.CurrentBuffer = Raw(buffer);
  cursor.WriteRecord(true);
  CheckEngineResult(cursor.LastResultCode, cursor.LastResultText);
}

void TABSDataSet::DeleteActiveRecord() {
  if (!Active()) throw EABSException(10068, "Dataset is not opened");
  if (readOnly_) throw EABSException(10069, "Dataset is in read only mode");
  TABSCursor& cursor = RequireCursor(10070);
  TRecordBuffer active = ActiveBuffer();
  if (active == nullptr) RaiseNil(10071);
  GoToBufferRecord(active);
  cursor.CurrentBuffer = Raw(active);
  cursor.EraseRecord();
  CursorPosChanged();
  CheckEngineResult(cursor.LastResultCode, cursor.LastResultText);
}

void TABSDataSet::RefreshCursor() {
  if (Active() && cursor_ != nullptr && cursor_->FilterCallback != nullptr) {
    cursor_->InvalidateView();
  }
}

void TABSDataSet::CloseFieldBlob(platform::TField* field) {
  TABSCursor& cursor = RequireCursor(10108);
  CurrentBufferGuard current(cursor);
  cursor.CurrentBuffer = Raw(StateBuffer());
  cursor.CloseBlobStreams(field->FieldNo() - 1);
}

bool TABSDataSet::IsFieldInCurrentIndex(platform::TField* field) {
  return std::find(indexFieldMap_.begin(), indexFieldMap_.end(), field->FieldNo()) !=
         indexFieldMap_.end();
}

TRecordBuffer TABSDataSet::OtherStateBuffer() const {
  switch (State()) {
    case TDataSetState::dsSetKey:
      return keyBuffers_[0].as<std::uint8_t>();
    case TDataSetState::dsCalcFields:
      return CalcBuffer();
    case TDataSetState::dsOldValue:
      return oldRecord_.as<std::uint8_t>();
    default:
      return nullptr;
  }
}
