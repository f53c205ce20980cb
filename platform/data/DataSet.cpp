// TDataSet: state, open and close, editing operations and events. The
// fields' creation, binding and direct slots are in DataSetFields.cpp, the
// buffer window's fill, step and resync routines in DataSetWindow.cpp.
#include "platform/data/DataSet.h"

#include <algorithm>
#include <cstring>

#include "platform/data/DataSource.h"
#include "platform/data/DatabaseError.h"
#include "platform/data/ListSnapshot.h"
#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

namespace platform {

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  std::vector<TDataSource*> sources;
  sources.swap(dataSources_);
  for (TDataSource* s : sources) {
    try {
      s->DataSetDestroyed();
    } catch (...) {
    }
  }
  // The hooks are gone: buffers still held here belong to a derived class
  // that did not close itself; they can only be forgotten.
  buffers_.clear();
  state_ = TDataSetState::dsInactive;
}

const FormatSettings& TDataSet::Settings() const {
  return settings_ != nullptr ? *settings_ : FormatSettings::User();
}

// ---------------------------------------------------------------------------
// State

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  Notify(TDataEvent::deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) {
  state_ = state;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset", this);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  Notify(TDataEvent::deCheckBrowseMode);
  if (IsEditState(state_)) {
    UpdateRecord();
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  }
}

// ---------------------------------------------------------------------------
// Open and close

void TDataSet::SetActive(bool active) {
  if (state_ == TDataSetState::dsOpening) return;
  if (active == Active()) return;
  if (active) {
    if (BeforeOpen) BeforeOpen(*this);
    ChangeActive(true);
    if (AfterOpen) AfterOpen(*this);
  } else {
    if (BeforeClose && !IsDestroying()) BeforeClose(*this);
    ChangeActive(false);
    if (AfterClose && !IsDestroying()) AfterClose(*this);
  }
}

void TDataSet::ChangeActive(bool value) {
  if (value) {
    OpenSequence();
  } else {
    CloseSequence();
  }
}

void TDataSet::OpenSequence() {
  defaultFields_ = std::none_of(fields_.items_.begin(), fields_.items_.end(),
                                [](const auto& f) { return f->IsDataField(); });
  state_ = TDataSetState::dsOpening;
  try {
    OpenTableCursor();
    StartCursor();
    AllocateBuffers();
    FillFromStart();
    bof_ = true;
    eof_ = windowCount_ == 0;
  } catch (...) {
    // The close path, so that nothing the open acquired stays behind.
    try {
      CloseTableCursor();
    } catch (...) {
    }
    FreeBuffers();
    if (!fields_.items_.empty()) {
      BindFields(false);
      if (defaultFields_) DestroyFields();
    }
    state_ = TDataSetState::dsInactive;
    throw;
  }
  state_ = TDataSetState::dsInactive;
  SetState(TDataSetState::dsBrowse);
}

void TDataSet::CloseSequence() {
  try {
    CloseTableCursor();
  } catch (...) {
    FreeBuffers();
    SetState(TDataSetState::dsInactive);
    throw;
  }
  FreeBuffers();
  bof_ = eof_ = true;
  SetState(TDataSetState::dsInactive);
}

void TDataSet::CloseTableCursor() {
  FreeBuffers();
  ShutDownCursor();
}

void TDataSet::StartCursor() {
  fieldDefs_.SetUpdated(false);
  fieldDefs_.Update();
  if (defaultFields_) CreateFields();
  BindFields(true);
}

void TDataSet::ShutDownCursor() {
  BindFields(false);
  if (defaultFields_) DestroyFields();
}

void TDataSet::InitFieldDefs() {
  if (HasCursor()) LoadFieldDefs();
}

// ---------------------------------------------------------------------------
// Default hook bodies

void TDataSet::CloseFieldBlob(TField*) {}
bool TDataSet::CanModifyRecords() {
  return true;
}
bool TDataSet::IsFieldInCurrentIndex(TField*) {
  return false;
}
void TDataSet::RefreshCursor() {}
bool TDataSet::TakeAppendedRecord(TRecordBuffer) {
  return false;
}
void TDataSet::LoadFieldDefs() {}
void TDataSet::UpdateIndexDefs() {}
void TDataSet::DefChanged(const void*) {}
bool TDataSet::CopyCurrentRecord(TRecordBuffer) {
  return false;
}

void TDataSet::AddRecordFromBuffer(TRecordBuffer, bool) {
  DatabaseError("Adding a whole record is not supported", this);
}

std::unique_ptr<std::iostream> TDataSet::CreateFieldBlobStream(TField* field, TBlobStreamMode) {
  DatabaseError(
      "Field '" + (field != nullptr ? field->FieldName() : std::string()) + "' has no BLOB stream",
      this);
}

void TDataSet::PrepareNewRecord(TRecordBuffer buffer) {
  BlankRecordBuffer(buffer);
  ZeroCalculatedArea(buffer);
  WriteBookmarkFlag(buffer, bfInserted);
}

void TDataSet::DoOnNewRecord() {
  if (OnNewRecord) OnNewRecord(*this);
}

void TDataSet::ReportException(const std::exception& e) {
  platform::ReportException(e);
}

namespace {

// One value between a TDateTime at `source` or `dest` and its native form of
// type Native at the other, in the direction `toNative` gives.
template <typename Native>
void ConvertDateTimeValue(const void* source, void* dest, bool toNative,
                          Native (*toNativeForm)(TDateTime), TDateTime (*fromNativeForm)(Native)) {
  if (toNative) {
    TDateTime value;
    std::memcpy(&value, source, sizeof value);
    const Native native = toNativeForm(value);
    std::memcpy(dest, &native, sizeof native);
  } else {
    Native native;
    std::memcpy(&native, source, sizeof native);
    const TDateTime value = fromNativeForm(native);
    std::memcpy(dest, &value, sizeof value);
  }
}

}  // namespace

void TDataSet::ConvertFieldData(TFieldType type, const void* source, void* dest, bool toNative) {
  switch (type) {
    case ftDate:
      ConvertDateTimeValue(source, dest, toNative, DateTimeToNativeDate, NativeDateToDateTime);
      break;
    case ftTime:
      ConvertDateTimeValue(source, dest, toNative, DateTimeToNativeTime, NativeTimeToDateTime);
      break;
    case ftDateTime:
      ConvertDateTimeValue(source, dest, toNative, DateTimeToNativeDateTime,
                           NativeDateTimeToDateTime);
      break;
    default:
      DatabaseError(
          "No date or time conversion for field type " + std::to_string(static_cast<int>(type)),
          this);
  }
}

// ---------------------------------------------------------------------------
// Editing

template <typename Operation>
void TDataSet::RunWithErrorEvent(const TErrorEvent& event, Operation&& operation) {
  for (;;) {
    try {
      operation();
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      if (!event) throw;
      TDataAction action = TDataAction::daFail;
      event(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) throw EAbort("Operation aborted");
    }
  }
}

void TDataSet::CheckEditable() {
  if (!CanModifyRecords()) DatabaseError("Cannot modify a read-only dataset", this);
}

void TDataSet::Append() {
  BeginInsertAt(true);
}
void TDataSet::Insert() {
  BeginInsertAt(false);
}

void TDataSet::Edit() {
  CheckActive();
  if (IsEditState(state_)) return;
  if (windowCount_ == 0) {
    Append();
    return;
  }
  CheckBrowseMode();
  if (BeforeEdit) BeforeEdit(*this);
  RunWithErrorEvent(OnEditError, [this] {
    CheckEditable();
    UpdateCursorPos();
    BeginRecordEdit();
  });
  SetState(TDataSetState::dsEdit);
  Notify(TDataEvent::deRecordChange, 0);
  if (AfterEdit) AfterEdit(*this);
}

void TDataSet::UpdateRecord() {
  if (!IsEditState(state_) && state_ != TDataSetState::dsSetKey) {
    DatabaseError("Dataset not in edit or insert mode", this);
  }
  Notify(TDataEvent::deUpdateRecord);
}

void TDataSet::Post() {
  CheckActive();
  if (!IsEditState(state_)) return;
  UpdateRecord();
  if (BeforePost) BeforePost(*this);
  // The version the kept window of an append was read at, else -1.
  const std::int64_t kept = state_ == TDataSetState::dsInsert && insertAppends_ && windowIsTail_ &&
                                    activeRecord_ == windowCount_ - 1
                                ? windowVersion_
                                : -1;
  RunWithErrorEvent(OnPostError, [this] {
    CheckRequiredFields();
    StoreRecord();
  });
  CursorPosChanged();
  SetState(TDataSetState::dsBrowse);
  if (kept < 0 || !KeepTailAfterPost(kept)) {
    if (windowCount_ > 0) GoToBufferRecord(ActiveBuffer());
    ResyncFromCursor(activeRecord_);
  }
  FinishResync();
  if (AfterPost) AfterPost(*this);
}

void TDataSet::Cancel() {
  if (!IsEditState(state_)) return;
  if (BeforeCancel) BeforeCancel(*this);
  bool wasInsert = state_ == TDataSetState::dsInsert;
  CancelRecordChange();
  CursorPosChanged();
  SetState(TDataSetState::dsBrowse);
  if (wasInsert) {
    DropInsertedBuffer();
  } else {
    if (windowCount_ > 0) GoToBufferRecord(ActiveBuffer());
    ResyncFromCursor(activeRecord_);
  }
  FinishResync();
  if (AfterCancel) AfterCancel(*this);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (windowCount_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", this);
  if (state_ == TDataSetState::dsEdit) Cancel();
  Notify(TDataEvent::deCheckBrowseMode);
  if (BeforeDelete) BeforeDelete(*this);
  RunWithErrorEvent(OnDeleteError, [this] {
    UpdateCursorPos();
    DeleteActiveRecord();
  });
  // The deleted record has no position: rebuild from where the cursor went.
  CursorPosChanged();
  ResyncFromCursor(activeRecord_);
  FinishResync();
  if (AfterDelete) AfterDelete(*this);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  if (BeforeRefresh) BeforeRefresh(*this);
  RefreshCursor();
  CursorPosChanged();
  if (windowCount_ > 0) {
    GoToBufferRecord(ActiveBuffer());
    ResyncFromCursor(activeRecord_);
  } else {
    FillFromStart();
  }
  FinishResync();
  if (AfterRefresh) AfterRefresh(*this);
}

// ---------------------------------------------------------------------------
// Counting, bookmarks

int TDataSet::RecordCount() {
  return Active() ? TotalRecords() : 0;
}

int TDataSet::RecNo() {
  return Active() ? ActiveRecordNumber() : -1;
}

void TDataSet::SetRecNo(int n) {
  CheckBrowseMode();
  // Record numbers start at 1; a smaller request means the first record.
  if (n < 1) n = 1;
  if (n == ActiveRecordNumber()) return;
  GoToRecordNumber(n);
}

TBookmark TDataSet::GetBookmark() {
  if (!Active() || windowCount_ == 0) return {};
  TRecordBuffer buffer = ActiveBuffer();
  if (ReadBookmarkFlag(buffer) != bfCurrent) return {};
  TBookmark bookmark(static_cast<std::size_t>(bookmarkSize_), 0);
  ReadBookmarkData(buffer, bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  if (bookmark.empty()) return;
  DoBeforeScroll();
  GoToBookmark(bookmark.data());
  CursorPosChanged();
  Resync(TResyncMode::Center);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!Active() || bookmark.empty()) return false;
  bool valid = IsBookmarkValid(bookmark.data());
  CursorPosChanged();
  return valid;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  return CompareBookmarkOrder(a.empty() ? nullptr : a.data(), b.empty() ? nullptr : b.data());
}

// ---------------------------------------------------------------------------
// Events and controls

void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::DisableControls() {
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  const bool state = pendingState_;
  const bool change = pendingChange_;
  pendingState_ = pendingChange_ = false;
  if (state) DataEvent(TDataEvent::deUpdateState);
  if (change) DataEvent(TDataEvent::deDataSetChange);
}

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deFieldChange) FieldChanged(reinterpret_cast<TField*>(info));
  if (event == TDataEvent::deUpdateState) {
    if (disableCount_ > 0 && Active() == toldActive_) {
      pendingState_ = true;
      return;
    }
    toldActive_ = Active();
  } else if (disableCount_ > 0) {
    pendingChange_ = true;
    return;
  }
  // A handler may detach a data source; those that left are skipped.
  VisitStillListed(dataSources_, [&](TDataSource* s) { s->DataEvent(event, info); });
}

void TDataSet::Notify(TDataEvent event, std::intptr_t info) {
  // An event held back reaches no one: noted here without the round trip
  // through DataEvent, which a bulk load between DisableControls and
  // EnableControls would pay for every field set and every record step.
  if (disableCount_ > 0 && event != TDataEvent::dePropertyChange) {
    if (event == TDataEvent::deUpdateState) {
      // Opening and closing still go out at once.
      if (Active() == toldActive_) {
        pendingState_ = true;
        return;
      }
    } else {
      if (event == TDataEvent::deFieldChange) FieldChanged(reinterpret_cast<TField*>(info));
      pendingChange_ = true;
      return;
    }
  }
  DataEvent(event, info);
}

void TDataSet::NotifyScroll(int shift) {
  Notify(TDataEvent::deDataSetScroll, shift);
}

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(dataSources_.begin(), dataSources_.end(), source) != dataSources_.end()) return;
  dataSources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  auto it = std::find(dataSources_.begin(), dataSources_.end(), source);
  if (it == dataSources_.end()) return;
  dataSources_.erase(it);
  UpdateBufferCount();
}

void TDataSet::UpdateBufferCount() {
  int wanted = 1;
  for (const TDataSource* s : dataSources_) {
    for (const TDataLink* l : s->links_) wanted = std::max(wanted, l->bufferCount_);
  }
  SetBufferCount(wanted);
}

}  // namespace platform
