// TDataSet: the dataset framework's record navigator. It owns the dataset
// state, the window of record buffers, the field objects and the data
// events; a derived dataset provides the record hooks (protected virtuals
// below) that fetch, store and position records on its own storage.
//
// The buffer window. The dataset keeps W record buffers, W = max(1, the
// largest BufferCount any of its data links asks for), plus one spare buffer
// for the record fetched past an edge and one calculation buffer: W + 2
// buffers, all from NewRecordBuffer and all returned through
// DisposeRecordBuffer (the dataset never frees a buffer any other way).
// Buffers exist only while the dataset is open.
//   - window records: buffers [0, WindowRecordCount()) hold consecutive
//     records in the dataset's order; the active record is one of them.
//   - the window is as full as the records allow: min(W, records) buffers
//     are filled after every operation (plus the inserted record).
//   - while inserting, the new record's buffer sits in the window at the
//     active position with bookmark flag bfInserted.
//   - the "cursor buffer" is the window buffer whose record the derived
//     dataset's cursor stands on, or unknown; a fetch relative to the window
//     is preceded by GoToBufferRecord when the cursor stands elsewhere.
//
// Hook order of the framework's operations:
//   open     ChangeActive(true) -> OpenTableCursor -> StartCursor (fields:
//            FieldDefs.Update -> InitFieldDefs -> LoadFieldDefs; default
//            fields created; bound) -> NewRecordBuffer x (W + 2) -> first
//            fill. A failure runs the close path and leaves the dataset
//            inactive; then the exception propagates.
//   close    ChangeActive(false) -> CloseTableCursor (base: DisposeRecordBuffer
//            for each buffer, then ShutDownCursor: unbind, destroy default
//            fields). A derived dataset cancels a pending change in its
//            ChangeActive before calling the base.
//   First    GoBeforeFirst, LoadRecord(Next) until W records or the end.
//   Last     GoAfterLast, LoadRecord(Prior) until W records or the start.
//   Next/Prior/MoveBy: inside the window no hook is called; at an edge
//            GoToBufferRecord(edge buffer) when the cursor stands elsewhere,
//            then LoadRecord(Next/Prior) into the spare buffer and rotate.
//   RecNo:=n GoToRecordNumber(n) (the derived dataset calls DoBeforeScroll,
//            positions, Resync(Center), DoAfterScroll). n < 1 is taken as 1.
//   resync   (post, cancel, refresh) GoToBufferRecord(active) ->
//            LoadRecord(Current) -> LoadRecord(Prior) x rows above ->
//            LoadRecord(Next) until full or the end -> LoadRecord(Prior)
//            until full or the start. After delete the resync starts from the
//            cursor's own position (the deleted record has none).
//   Append   CheckBrowseMode -> BeforeInsert -> CanModifyRecords ->
//            BeginRecordInsert -> GoAfterLast -> LoadRecord(Prior) x (W - 1)
//            -> PrepareNewRecord (base: BlankRecordBuffer, ZeroCalculatedArea,
//            WriteBookmarkFlag(bfInserted)) -> state insert -> DoOnNewRecord
//            -> deDataSetChange -> AfterInsert.
//   Insert   as Append, but the cursor is put on the active record
//            (GoToBufferRecord) before BeginRecordInsert and the new buffer
//            takes the active record's place in the window.
//   Edit     CheckBrowseMode -> BeforeEdit -> CanModifyRecords ->
//            BeginRecordEdit -> state edit -> deRecordChange -> AfterEdit.
//   Post     deUpdateRecord -> BeforePost -> required-field check ->
//            StoreRecord -> state browse -> resync -> deDataSetChange ->
//            AfterPost. On failure the state stays (OnPostError decides).
// Keeping the tail. Appending row after row at the end would read the W - 1
// rows above the new one again for every Append and every Post, though they
// are the rows the window already holds. A dataset whose RecordsVersion()
// tells when its records change skips those reads when nothing but its own
// append changed them and the window has no calculated fields (W > 2 only):
//   Append   ... BeginRecordInsert -> GoAfterLast -> (the first window row
//            leaves when the window is full) -> PrepareNewRecord ...
//   Post     ... StoreRecord -> state browse -> TakeAppendedRecord, and
//            when that answers false GoToBufferRecord(active) ->
//            LoadRecord(Current) -> LoadRecord(Next) == EOF -> ...
// The rows shown are the same as after the full reads; when any check
// fails, the operation reads as above.
// Error events (OnPostError, OnEditError, OnDeleteError) receive the failure
// of the operation's hooks; daFail rethrows it, daRetry runs the hooks again,
// daAbort ends the operation with the silent EAbort.
//   Cancel   BeforeCancel -> CancelRecordChange -> state browse -> drop the
//            inserted buffer -> resync -> deDataSetChange -> AfterCancel.
//   Delete   a pending insert is only cancelled; otherwise (a pending edit is
//            cancelled) BeforeDelete -> DeleteActiveRecord -> resync from the
//            cursor -> deDataSetChange -> AfterDelete.
//   RecordCount, RecNo: TotalRecords, ActiveRecordNumber.
//   Refresh  CheckBrowseMode -> BeforeRefresh -> RefreshCursor -> resync ->
//            AfterRefresh.
//   bookmarks GetBookmark: ReadBookmarkFlag(active) == bfCurrent ->
//            ReadBookmarkData into a zero-filled block of BookmarkSize bytes;
//            GotoBookmark: DoBeforeScroll, GoToBookmark, Resync(Center),
//            DoAfterScroll; CompareBookmarks: CompareBookmarkOrder;
//            BookmarkValid: IsBookmarkValid.
//   field    read: TField -> LoadFieldData; write: TField -> StoreFieldData
//            (the setter does not check the state). A field the dataset gave
//            a slot (SetFieldSlot) reads the active buffer itself while
//            browsing, editing or inserting, and writes it itself while
//            editing or inserting (Validate, the bytes, deFieldChange).
//
// BOF and EOF: First sets BOF, Last sets EOF; a move that stops at the first
// (last) record sets BOF (EOF) and clears the other; any other move, an
// insert, post, cancel, delete and refresh clear both. Both are set whenever
// the dataset has no records.
//
// Data events go to every data source of the dataset (TDataSource), which
// passes them to its links, unless controls are disabled
// (DisableControls/EnableControls, counted). While disabled, only opening
// and closing reach the links at once (deUpdateState when the dataset's
// activity changes: the links drop what they hold of its fields); every
// other event is held back, and the last EnableControls sends
// deUpdateState when a change of state was held back, then deDataSetChange
// when any other event was.
//
// Ownership: the dataset owns its field definitions, fields and buffers
// (through the hooks); it borrows its data sources (each registers itself and
// leaves when destroyed; a dataset being destroyed detaches them first).
// Thread safety: none.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/Component.h"
#include "platform/data/Field.h"
#include "platform/data/FieldDefs.h"
#include "platform/os/Exception.h"

namespace platform {

class FormatSettings;
class TDataSource;
class TDataLink;

enum class TDataSetState : std::uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening,
};

// Editing a record: Edit or Insert/Append until Post or Cancel.
inline bool IsEditState(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert;
}

enum class TDataEvent : std::uint8_t {
  deFieldChange,   // info: the TField*
  deRecordChange,  // info: the TField* or 0
  deDataSetChange,
  deDataSetScroll,  // info: rows the window moved (positive: towards the end)
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,  // state changed; links see Active or Editing change
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
};

// Bookmark flag of a record buffer.
enum TBookmarkFlag : std::uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
enum class TGetMode : std::uint8_t { gmCurrent, gmNext, gmPrior };
enum class TGetResult : std::uint8_t { grOK, grBOF, grEOF, grError };
enum class TResyncMode : std::uint8_t {
  Exact,   // the active record keeps its row in the window where possible
  Center,  // the active record is put in the middle of the window
};
enum class TDataAction : std::uint8_t { daFail, daAbort, daRetry };
enum class TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };

// A record buffer: memory of the derived dataset's layout, allocated and
// freed only through NewRecordBuffer/DisposeRecordBuffer. Borrowed here.
using TRecordBuffer = std::uint8_t*;
// An opaque bookmark of BookmarkSize bytes; empty for "no bookmark".
using TBookmark = std::vector<std::uint8_t>;

class TDataSet : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSet&)>;
  using TErrorEvent = std::function<void(TDataSet&, const std::exception&, TDataAction&)>;

  explicit TDataSet(TComponent* owner = nullptr);
  // Detaches the data sources. A derived dataset must close itself in its
  // own destructor (the hooks are gone here); a dataset still open here is
  // only marked inactive, its buffers are then the derived class's to free.
  ~TDataSet() override;

  // --- state -------------------------------------------------------------
  TDataSetState State() const { return state_; }
  bool Active() const {
    return state_ != TDataSetState::dsInactive && state_ != TDataSetState::dsOpening;
  }
  // Opens (BeforeOpen, ChangeActive(true), AfterOpen) or closes (BeforeClose,
  // ChangeActive(false), AfterClose); nothing when already so.
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  // Raises "Name: Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // Raises "Name: Cannot perform this operation on an open dataset".
  void CheckInactive() const;
  // Posts a pending edit or insert (after the links' deCheckBrowseMode);
  // raises when closed.
  void CheckBrowseMode();
  bool Modified() const { return modified_; }
  bool CanModify() { return CanModifyRecords(); }
  virtual bool IsSequenced() { return true; }

  // --- navigation (REQUIRES: Active) -----------------------------------------
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves by up to `distance` records; returns how many it moved (signed).
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return windowCount_ == 0; }
  // TotalRecords(); 0 when closed.
  int RecordCount();
  // ActiveRecordNumber() (1-based, -1 while inserting); SetRecNo posts a
  // pending change and goes to record max(n, 1) through GoToRecordNumber.
  int RecNo();
  void SetRecNo(int n);

  // --- editing (REQUIRES: Active; the order of hooks is in the class comment)
  // A new record after the last one; it becomes the active record.
  void Append();
  // A new record in front of the active one.
  void Insert();
  // Edits the active record; on an empty dataset it appends instead.
  void Edit();
  // Stores a pending edit or insert; nothing while browsing. On failure the
  // state stays edit or insert. A derived dataset may override to act after
  // the framework's post (it calls the base).
  virtual void Post();
  // Abandons a pending edit or insert; nothing while browsing. After an
  // append the last record is active, after an insert the record the insert
  // started on.
  virtual void Cancel();
  // Deletes the active record; the next one becomes active (the prior one
  // at the end). Raises on an empty dataset; cancels a pending insert instead.
  void Delete();
  // Re-reads the data and rebuilds the window around the active record.
  void Refresh();
  // Sends deUpdateRecord so that controls put their pending values.
  // REQUIRES: edit, insert or key entry.
  void UpdateRecord();

  // --- bookmarks -------------------------------------------------------------
  int BookmarkSize() const { return bookmarkSize_; }
  // The active record's bookmark; empty when there is none (empty dataset,
  // inserted record).
  TBookmark GetBookmark();
  // REQUIRES: Active and a bookmark of this dataset.
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  // < 0, 0, > 0 as `a` comes before, with or after `b` (empty bookmarks:
  // both 0; only b empty -1; only a empty 1).
  int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // --- fields ---------------------------------------------------------------
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const { return fieldDefs_; }
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  TField& FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
  // Sum of the calculated fields' slots (1 flag byte + DataSize each, at
  // least a pointer's size for a wide string); valid while open.
  int CalcFieldsSize() const { return calcFieldsSize_; }
  bool DefaultFields() const { return defaultFields_; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }

  // Formats of the field texts: `settings` (borrowed, must outlive the
  // dataset) or, with nullptr, FormatSettings::User().
  void SetFormatSettings(const FormatSettings* settings) { settings_ = settings; }
  const FormatSettings& Settings() const;

  // --- controls -------------------------------------------------------------
  void DisableControls();
  // Re-enables; at the last call the links receive what was held back (see
  // the class comment).
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }
  // Sends the event to every data source (and its links); controls disabled
  // hold back all but opening and closing. Derived datasets may override to
  // react first (they call the base); the framework's own events that
  // disabled controls hold back (dePropertyChange aside) are only noted and
  // do not pass through it.
  virtual void DataEvent(TDataEvent event, std::intptr_t info = 0);
  // The window size W and the active record's row (for the data links).
  int BufferCount() const { return bufferCount_; }
  int WindowRecordCount() const { return windowCount_; }
  int WindowActiveRecord() const { return activeRecord_; }

  // The framework's exception report for controls: hands `e` to the
  // application's handler (platform::ReportException).
  virtual void ReportException(const std::exception& e);

  // Events (empty: nothing happens).
  TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TNotifyEvent BeforeRefresh, AfterRefresh;
  TNotifyEvent OnCalcFields, OnNewRecord;
  TErrorEvent OnPostError, OnEditError, OnDeleteError;

 protected:
  // ===== Record hooks: the derived dataset implements these. =====
  // Clear the calculated area of `buffer`.
  virtual void ZeroCalculatedArea(TRecordBuffer buffer) = 0;
  // A number in 0 .. 2^32 - 1 that grows by one (wrapping to 0) with every
  // change of the records the dataset shows, by anyone; -1 when the dataset
  // cannot tell. Base: -1. While it stays the same, the window keeps the
  // records it holds (see "Keeping the tail").
  virtual std::int64_t RecordsVersion() { return -1; }
  // After StoreRecord stored an appended record from `buffer`, the only
  // change of the records since the window was read: true when the dataset
  // knows without reading that the buffer holds what LoadRecord(gmCurrent)
  // would read of the stored record and that no record follows it; it then
  // finishes the buffer as that read would. False lets the framework read
  // the record and look for one after it. Used only while keeping the tail
  // (no calculated fields). Base: false.
  virtual bool TakeAppendedRecord(TRecordBuffer buffer);
  // Close the BLOB of `field`. Base: nothing.
  virtual void CloseFieldBlob(TField* field);
  // Close the cursor. Base: the framework's shut-down (dispose the buffers,
  // then ShutDownCursor). Overriders call the base first.
  virtual void CloseTableCursor();
  // Convert a date/time value between the native form (toNative: true is
  // the direction TDateTime -> native) and a TDateTime. Base: the native
  // forms of the field table in Field.h.
  virtual void ConvertFieldData(TFieldType type, const void* source, void* dest, bool toNative);
  // May records be changed. Base: true.
  virtual bool CanModifyRecords();
  virtual bool IsFieldInCurrentIndex(TField* field);
  // Number of records; 0 when closed.
  virtual int TotalRecords() = 0;
  // 1-based number of the active record, -1 while inserting or without one.
  virtual int ActiveRecordNumber() = 0;
  // Initialise `buffer` for a new record. Base: BlankRecordBuffer,
  // ZeroCalculatedArea, WriteBookmarkFlag(bfInserted).
  virtual void PrepareNewRecord(TRecordBuffer buffer);
  // Abandon the pending insert or edit (state is still edit/insert).
  virtual void CancelRecordChange() = 0;
  virtual void BeginRecordEdit() = 0;
  virtual void BeginRecordInsert() = 0;
  // Re-read the data (before the framework's resync). Base: nothing.
  virtual void RefreshCursor();
  virtual void OpenTableCursor() = 0;
  // Open or close. Base: the framework's open or close sequence.
  virtual void ChangeActive(bool value);
  // Make record `n` (>= 1) active: DoBeforeScroll, position, Resync(Center),
  // DoAfterScroll.
  virtual void GoToRecordNumber(int n) = 0;
  virtual TRecordBuffer NewRecordBuffer() = 0;
  virtual void DisposeRecordBuffer(TRecordBuffer buffer) = 0;
  // Copy the bookmark of `buffer` into `data` (BookmarkSize bytes, zeroed).
  virtual void ReadBookmarkData(TRecordBuffer buffer, void* data) = 0;
  virtual TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual int RecordDataSize() = 0;
  virtual void AddRecordFromBuffer(TRecordBuffer buffer, bool append);
  virtual void DeleteActiveRecord() = 0;
  virtual void GoBeforeFirst() = 0;
  virtual void GoToBookmark(const void* bookmark) = 0;
  virtual void BlankRecordBuffer(TRecordBuffer buffer) = 0;
  virtual void GoAfterLast() = 0;
  // Post the state buffer (insert or update). Raises on failure.
  virtual void StoreRecord() = 0;
  virtual void GoToBufferRecord(TRecordBuffer buffer) = 0;
  virtual void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void WriteBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  // Store the native value `buffer` (nullptr: NULL) of `field` into the state
  // buffer. Refuses (raises) a write the state does not allow.
  virtual void StoreFieldData(TField* field, const void* buffer) = 0;
  // Fetch the current, next or prior record into `buffer`. With `check` an
  // error raises; otherwise it is reported as grError.
  virtual TGetResult LoadRecord(TRecordBuffer buffer, TGetMode mode, bool check) = 0;
  // Release what the open dataset holds. Base: unbind the fields and destroy
  // default fields. Overriders call the base.
  virtual void ShutDownCursor();
  // Rebuild FieldDefs from the open storage. Base: nothing.
  virtual void LoadFieldDefs();
  // Finish opening. Base: FieldDefs out of date and updated, default fields
  // created when there are no data fields, fields bound. Overriders call the
  // base for these steps.
  virtual void StartCursor();
  virtual bool HasCursor() = 0;
  virtual bool IsBookmarkValid(const void* bookmark) = 0;
  // Order of two bookmarks (nullptr for none).
  virtual int CompareBookmarkOrder(const void* a, const void* b) = 0;
  // A stream on the BLOB of `field` in the state buffer. Base: raises.
  virtual std::unique_ptr<std::iostream> CreateFieldBlobStream(TField* field, TBlobStreamMode mode);
  virtual bool CopyCurrentRecord(TRecordBuffer buffer);
  // Copy the native value of `field` from the state buffer into `buffer`
  // (nullptr: only ask); false for NULL or no record.
  virtual bool LoadFieldData(TField* field, void* buffer) = 0;

  // ===== Further overridable steps. =====
  // FieldDefs.Update(): bring the definitions up to date. Base: LoadFieldDefs
  // when HasCursor().
  virtual void InitFieldDefs();
  // TIndexDefs::Update() of an index list of this dataset. Base: nothing.
  virtual void UpdateIndexDefs();
  // A definition list of this dataset was changed from outside.
  virtual void DefChanged(const void* defs);
  // Called after a new record was prepared, before AfterInsert. Base:
  // OnNewRecord.
  virtual void DoOnNewRecord();
  // The master data source, if any. Base: nullptr.
  virtual TDataSource* GetDataSource() { return nullptr; }

  // ===== Framework services for the hooks. =====
  // The buffer of the active record; nullptr when the window is empty.
  // While a data link reads the text of another row of the window
  // (TDataLink::DisplayText), it is that row's buffer.
  TRecordBuffer ActiveBuffer() const {
    if (windowCount_ == 0 || buffers_.empty()) return nullptr;
    return buffers_[static_cast<std::size_t>(readRecord_ >= 0 ? readRecord_ : activeRecord_)];
  }
  // The buffer whose calculated fields are being computed, or the
  // dataset's calculation buffer.
  TRecordBuffer CalcBuffer() const { return calcBuffer_; }
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  // Computes the calculated fields of `buffer` (state dsCalcFields while
  // OnCalcFields runs; restored afterwards, also on failure). Nothing when
  // there are no calculated fields.
  void CalculateFields(TRecordBuffer buffer);
  // Rebuild the window around the record the cursor stands on.
  void Resync(TResyncMode mode);
  void DoBeforeScroll();
  void DoAfterScroll();
  // Field objects.
  void CreateFields();
  void BindFields(bool binding);
  void DestroyFields();
  // Gives the bound data field `field` a slot: its native value of `size`
  // bytes (its DataSize) sits unchanged at `offset` of every record buffer,
  // NULL while bit `nullMask` of byte `nullByte` is set; the field then
  // reads and writes the active buffer itself (see "field" above). The
  // slots go when the fields are bound or unbound.
  void SetFieldSlot(TField& field, int offset, int size, int nullByte, std::uint8_t nullMask);
  // Sets a temporary state and returns the previous one (RestoreState).
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  // Marks the cursor position unknown (after a hook that moves it).
  void CursorPosChanged() { cursorRecord_ = -1; }
  // Puts the cursor on the active record when it stands elsewhere.
  void UpdateCursorPos();

 private:
  friend class TField;
  friend class TBlobField;
  friend class TDateTimeField;
  friend class TFieldDefs;
  friend class TIndexDefs;
  friend class TDataSource;
  friend class TDataLink;

  void SetState(TDataSetState state);
  // A slotted field's read and write of the active buffer; false when the
  // state or an empty window leaves them to LoadFieldData/StoreFieldData.
  bool LoadSlot(const TField& field, void* buffer, bool& hasValue) const;
  bool StoreSlot(TField& field, const void* buffer);
  void OpenSequence();
  void CloseSequence();
  void AllocateBuffers();
  void FreeBuffers() noexcept;
  void SetBufferCount(int count);
  void UpdateBufferCount();
  void ClearWindow();
  bool Fetch(TRecordBuffer buffer, TGetMode mode);
  bool FetchNext();
  bool FetchPrior();
  void FillFromStart();
  void FillFromEnd();
  void ResyncFromCursor(int rowsAbove);
  void FinishResync();
  void CheckRequiredFields();
  void BeginInsertAt(bool append);
  // Appending: the window may stay as it is (see "Keeping the tail").
  bool CanKeepTail();
  // After an append's fill that started at version `before`: the window is
  // the tail when nothing changed meanwhile. `holdsStart`: no record lies
  // above the window.
  void NoteTail(std::int64_t before, bool holdsStart);
  // After the appended record was stored, `kept` the version the window was
  // read at: true when the window could stay (the active buffer re-read,
  // nothing else changed); false leaves the resync to the caller.
  bool KeepTailAfterPost(std::int64_t kept);
  void DropInsertedBuffer();
  // Defined in DataSet.cpp, the only user.
  template <typename Operation>
  void RunWithErrorEvent(const TErrorEvent& event, Operation&& operation);
  void CheckEditable();
  void NotifyScroll(int shift);
  void FieldChanged(TField* field);
  // DataEvent, or for an event that disabled controls hold back, only the
  // field's change and the note that something was held back.
  void Notify(TDataEvent event, std::intptr_t info = 0);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  // The display text of `field` in window row `row`: the field reads that
  // row's buffer through ActiveBuffer; the active record does not move.
  // REQUIRES: 0 <= row < windowCount_.
  std::string WindowDisplayText(int row, const TField& field) const;

  TDataSetState state_ = TDataSetState::dsInactive;
  TFieldDefs fieldDefs_{this};
  TFields fields_{this};
  std::vector<TDataSource*> dataSources_;     // borrowed; each leaves when destroyed
  const FormatSettings* settings_ = nullptr;  // borrowed

  // The window (see the class comment). buffers_ has bufferCount_ + 1
  // entries while open (index bufferCount_ is the spare); every pointer came
  // from NewRecordBuffer and goes back through DisposeRecordBuffer.
  std::vector<TRecordBuffer> buffers_;
  TRecordBuffer calcBuffer_ = nullptr;     // current calculation target
  TRecordBuffer ownCalcBuffer_ = nullptr;  // the allocated calculation buffer
  int bufferCount_ = 1;
  int windowCount_ = 0;
  int activeRecord_ = 0;
  // The window row ActiveBuffer gives while WindowDisplayText reads it; -1
  // otherwise (the active record's).
  mutable int readRecord_ = -1;
  int cursorRecord_ = -1;
  int scrollShift_ = 0;  // rows the window moved during the current operation
  bool bof_ = true;
  bool eof_ = true;
  bool insertAppends_ = false;  // the pending insert came from Append
  // The window holds the last records of the dataset's order (followed by
  // the inserted buffer while appending), at least W - 1 of them or all when
  // tailHoldsStart_, as of RecordsVersion() == windowVersion_. Set only by
  // an append and the post of an append; anything else that changes the
  // window clears it.
  bool windowIsTail_ = false;
  bool tailHoldsStart_ = false;
  std::int64_t windowVersion_ = -1;
  TBookmark insertReturn_;  // the record active before Insert

  int bookmarkSize_ = 4;
  int calcFieldsSize_ = 0;
  int disableCount_ = 0;
  bool defaultFields_ = false;
  bool autoCalcFields_ = true;
  bool modified_ = false;
  bool pendingChange_ = false;  // an event was held back while disabled
  bool pendingState_ = false;   // a change of state was held back while disabled
  bool toldActive_ = false;     // Active() as the data sources last heard it
};

}  // namespace platform
