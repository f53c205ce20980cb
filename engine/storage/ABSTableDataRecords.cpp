// Table data: record operations (fetch, insert, update, delete), counts,
// record numbers, the view and the cursor's record bitmap.
//
// Every operation takes the database lock itself. The view of a cursor
// (filter callback) is tested record by record in record order; a record
// bitmap of the cursor caches the result between changes.
#include <algorithm>
#include <mutex>

#include "engine/local/ABSCursorState.h"
#include "engine/storage/ABSDatabaseData.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemBlock.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/storage/ABSTableData.h"
#include "engine/types/ABSException.h"

namespace {
using Guard = std::lock_guard<platform::RankedMutex>;

TABSMemoryRecordManager& MemoryRecords(TABSBaseRecordManager& records) {
  // The memory table creates nothing else.
  return static_cast<TABSMemoryRecordManager&>(records);
}

// Puts back a cursor's position, end flags and current buffer when a
// neighbour search that borrowed them ends, also on errors.
class CursorPlaceGuard {
 public:
  explicit CursorPlaceGuard(TABSCursorState& cursor)
      : cursor_(cursor),
        position_(cursor.Position),
        atStart_(cursor.AtStart),
        atEnd_(cursor.AtEnd),
        buffer_(cursor.CurrentBuffer) {}
  ~CursorPlaceGuard() {
    if (!dismissed_) Restore();
  }
  // The cursor keeps the place it has now.
  void Dismiss() { dismissed_ = true; }
  CursorPlaceGuard(const CursorPlaceGuard&) = delete;
  CursorPlaceGuard& operator=(const CursorPlaceGuard&) = delete;
  void Restore() {
    cursor_.Position = position_;
    cursor_.AtStart = atStart_;
    cursor_.AtEnd = atEnd_;
    cursor_.CurrentBuffer = buffer_;
  }

 private:
  TABSCursorState& cursor_;
  RecordPosition position_;
  bool atStart_;
  bool atEnd_;
  std::byte* buffer_;
  bool dismissed_ = false;
};
}  // namespace

std::int32_t TABSTableData::TableChangeCounter() const {
  const std::int32_t records = recordManager_ ? recordManager_->ChangeCounter() : 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(records) +
                                   static_cast<std::uint32_t>(emptyCount_));
}

// ---- TABSBitmapTable ----

std::int32_t TABSTableData::BitmapRecordIdOf(const RecordPosition& position) const {
  return position.RecordId;
}

RecordPosition TABSTableData::BitmapPositionOf(std::int32_t recordId) const {
  RecordPosition position;
  position.RecordId = recordId;
  return position;
}

std::int64_t TABSTableData::BitmapRecordCount() const {
  return recordManager_ ? recordManager_->RecordCount() : 0;
}

std::int32_t TABSTableData::BitmapChangeCounter() const {
  return TableChangeCounter();
}

// ---- The view ----

bool TABSTableData::RecordPassesView(const TABSCursorState& cursor) const {
  if (cursor.FilterCallback != nullptr &&
      !cursor.FilterCallback(cursor.FilterCallbackOwner, cursor.CurrentBuffer)) {
    return false;
  }
  return true;
}

bool TABSTableData::ReadRecordAt(const RecordPosition& position, std::byte* buffer) {
  NavigationRequest request;
  request.Direction = FetchMode::Current;
  request.Position = position;
  request.RecordBuffer = buffer;
  recordManager_->NavigateRecord(kNoSessionId, request);
  return request.Result == FetchResult::Found;
}

bool TABSTableData::ViewStep(TABSCursorState& cursor, bool forward, bool fromEnd) {
  NavigationRequest request;
  request.Direction = forward ? FetchMode::Next : FetchMode::Prior;
  request.Position = cursor.Position;
  request.BeforeFirst = fromEnd ? forward : cursor.AtStart;
  request.AfterLast = fromEnd ? !forward : cursor.AtEnd;
  request.RecordBuffer = cursor.CurrentBuffer;
  const std::int32_t sessionId = CursorSessionId(cursor);
  for (;;) {
    recordManager_->NavigateRecord(sessionId, request);
    if (request.Result != FetchResult::Found) return false;
    request.BeforeFirst = request.AfterLast = false;
    if (RecordPassesView(cursor)) break;
  }
  cursor.Position = request.Position;
  cursor.AtStart = cursor.AtEnd = false;
  return true;
}

void TABSTableData::RefreshCursorBitmap(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10272);
  if (!cursor.RecordBitmap) cursor.RecordBitmap = MakeLateOwned(new TABSRecordBitmap(this));
  TABSRecordBitmap& bitmap = *cursor.RecordBitmap;
  if (!bitmap.NeedsRebuild(cursor.RecordBitmapStale, cursor.HasRestrictedView())) return;
  TABSMemBlock scratch(std::max<std::int32_t>(records.RecordSize(), 1));
  try {
    bitmap.BeginRebuild(false);
    CursorPlaceGuard place(cursor);
    cursor.CurrentBuffer = scratch.as<std::byte>();
    cursor.AtStart = true;
    cursor.AtEnd = false;
    bool found = ViewStep(cursor, true, true);
    while (found) {
      bitmap.MarkVisible(cursor.Position);
      found = ViewStep(cursor, true, false);
    }
  } catch (...) {
    bitmap.ResetBitmap();  // a half-built bitmap must not be taken for a complete one
    throw;
  }
  cursor.RecordBitmapStale = false;
}

std::int64_t TABSTableData::CountVisibleRecords(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  if (cursor.HasRestrictedView()) {
    RefreshCursorBitmap(cursor);
    return cursor.RecordBitmap->VisibleCount();
  }
  return CountAllRecords(cursor);
}

// ---- Fetching ----

FetchResult TABSTableData::FetchCursorRecord(TABSCursorState& cursor, FetchMode mode) {
  Guard hold(database_.Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10015);
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10016, "Nil pointer occured");
  if (records.RecordCount() == 0) {
    // Nothing to stand on: the next step in either direction starts at an end.
    cursor.AtStart = mode == FetchMode::Prior;
    cursor.AtEnd = mode != FetchMode::Prior;
    return FetchResult::Eof;
  }
  if (mode != FetchMode::Current && cursor.HasRestrictedView()) {
    if (ViewStep(cursor, mode == FetchMode::Next, false)) return FetchResult::Found;
    cursor.AtStart = mode == FetchMode::Prior;
    cursor.AtEnd = mode == FetchMode::Next;
    return mode == FetchMode::Next ? FetchResult::Eof : FetchResult::Bof;
  }
  NavigationRequest request;
  request.Direction = mode;
  request.IndexId = cursor.IndexId;
  request.Position = cursor.Position;
  request.BeforeFirst = cursor.AtStart;
  request.AfterLast = cursor.AtEnd;
  request.RecordBuffer = cursor.CurrentBuffer;
  records.NavigateRecord(CursorSessionId(cursor), request);
  FetchResult result = request.Result;
  cursor.Position = request.Position;
  if (result == FetchResult::Found) {
    cursor.AtStart = cursor.AtEnd = false;
    if (mode == FetchMode::Current && !RecordPassesView(cursor)) result = FetchResult::NotFound;
  } else if (mode == FetchMode::Next) {
    cursor.AtStart = false;
    cursor.AtEnd = true;
  } else if (mode == FetchMode::Prior) {
    cursor.AtStart = true;
    cursor.AtEnd = false;
  } else {
    cursor.AtStart = request.BeforeFirst;
    cursor.AtEnd = request.AfterLast;
  }
  return result;
}

bool TABSTableData::LocateRecordImage(TABSCursorState& cursor,
                                      bool (*matches)(void* context, const std::byte* image),
                                      void* context) {
  Guard hold(database_.Lock());
  RequireRecordManager(10380);
  if (cursor.CurrentBuffer == nullptr) throw EABSException(20058, "Pointer is nil");
  CursorPlaceGuard place(cursor);
  bool found = ViewStep(cursor, true, true);
  while (found && matches != nullptr && !matches(context, cursor.CurrentBuffer)) {
    found = ViewStep(cursor, true, false);
  }
  if (!found) return false;
  place.Dismiss();
  return true;
}

bool TABSTableData::SeekByCondition(TABSCursorState& cursor, int /*kind*/) {
  Guard hold(database_.Lock());
  if (!cursor.HasCurrentIndex()) {
    throw EABSException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index "
                        "on search fields.");
  }
  throw EABSException(10324, "Cannot find index by ID = %d", {cursor.IndexId});
}

// ---- Record numbers ----

void TABSTableData::SeekCursorRecordNumber(TABSCursorState& cursor, std::int64_t number) {
  Guard hold(database_.Lock());
  const std::int64_t count = CountVisibleRecords(cursor);
  if (count == 0) return;
  // Numbers outside 1..count go to the nearest record.
  if (number > count) number = count;
  if (number < 1) number = 1;
  cursor.AtStart = cursor.AtEnd = false;
  if (cursor.HasRestrictedView()) {
    cursor.RecordBitmap->RecordAtNumber(number, cursor.Position);
  } else {
    RecordNumberToPosition(cursor, number);
  }
}

std::int64_t TABSTableData::GetCursorRecordNumber(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  if (cursor.AtStart || cursor.AtEnd) return -1;
  if (CountVisibleRecords(cursor) == 0) return -1;
  if (cursor.HasRestrictedView()) return cursor.RecordBitmap->RecordNumberOf(cursor.Position);
  return PositionToRecordNumber(cursor);
}

void TABSMemoryTableData::RecordNumberToPosition(TABSCursorState& cursor, std::int64_t number) {
  Guard hold(DatabaseData().Lock());
  const std::int32_t id = MemoryRecords(RequireRecordManager(10380)).PositionToRecordId(number - 1);
  if (id == -1) return;
  cursor.Position.RecordId = id;
  cursor.Position.SubPosition = 0;
}

std::int64_t TABSMemoryTableData::PositionToRecordNumber(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  return MemoryRecords(RequireRecordManager(10380)).RecordIdToPosition(cursor.Position.RecordId);
}

std::int64_t TABSMemoryTableData::CountAllRecords(TABSCursorState& /*cursor*/) {
  Guard hold(DatabaseData().Lock());
  return RequireRecordManager(10272).RecordCount();
}

// ---- Record changes ----

bool TABSMemoryTableData::InsertCursorRecord(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10010);
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10018, "Nil pointer occured");
  const std::int32_t sessionId = CursorSessionId(cursor);
  RecordPosition position = cursor.Position;
  if (!records.StoreNewRecord(sessionId, cursor.CurrentBuffer, position)) return false;
  position.SubPosition = 0;
  // Keys would be inserted here; a failure there removes the record again
  // (see the index manager) so that record and keys stay all or nothing.
  if (!pendingBlobs_.empty()) AdoptBlobs(cursor.CurrentBuffer);
  if (cursor.RecordBitmap && cursor.RecordBitmap->Active()) {
    cursor.RecordBitmap->AfterRecordWritten(position, RecordPassesView(cursor));
  }
  cursor.Position = position;
  cursor.AtStart = cursor.AtEnd = false;
  CommitTableSession(sessionId, CursorInTransaction(cursor));
  return true;
}

bool TABSMemoryTableData::UpdateCursorRecord(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10014);
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10017, "Nil pointer occured");
  const std::int32_t sessionId = CursorSessionId(cursor);
  // The stored record as it is, for the BLOB blocks the new image replaces.
  TABSMemBlock old;
  if (hasBlobFields_) {
    old = TABSMemBlock(records.RecordSize());
    if (!ReadRecordAt(cursor.Position, old.as<std::byte>())) return false;
  }
  if (!records.OverwriteRecord(sessionId, cursor.CurrentBuffer, cursor.Position)) return false;
  if (old) {
    FreeReplacedBlobs(old.as<std::byte>(), cursor.CurrentBuffer);
    AdoptBlobs(cursor.CurrentBuffer);
  }
  if (cursor.RecordBitmap && cursor.RecordBitmap->Active()) {
    cursor.RecordBitmap->AfterRecordWritten(cursor.Position, RecordPassesView(cursor));
  }
  CommitTableSession(sessionId, CursorInTransaction(cursor));
  return true;
}

bool TABSMemoryTableData::DeleteCursorRecord(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10013);
  const std::int32_t sessionId = CursorSessionId(cursor);
  const RecordPosition doomed = cursor.Position;
  // The stored record, whose BLOB blocks go once the removal succeeded.
  TABSMemBlock old;
  if (hasBlobFields_) {
    old = TABSMemBlock(records.RecordSize());
    if (!ReadRecordAt(doomed, old.as<std::byte>())) return false;
  }
  // The record the cursor stands on afterwards: the next one of its view,
  // else the prior one, else none.
  bool haveNeighbour = false;
  RecordPosition neighbour;
  {
    TABSMemBlock scratch(std::max<std::int32_t>(cursor.RecordBufferSize, records.RecordSize()));
    CursorPlaceGuard place(cursor);
    cursor.CurrentBuffer = scratch.as<std::byte>();
    cursor.AtStart = cursor.AtEnd = false;
    if (FetchCursorRecord(cursor, FetchMode::Next) == FetchResult::Found) {
      haveNeighbour = true;
    } else {
      place.Restore();
      cursor.CurrentBuffer = scratch.as<std::byte>();
      cursor.AtStart = cursor.AtEnd = false;
      haveNeighbour = FetchCursorRecord(cursor, FetchMode::Prior) == FetchResult::Found;
    }
    neighbour = cursor.Position;
  }
  const std::int32_t counterBefore = TableChangeCounter();
  RecordPosition removed = doomed;
  if (!records.RemoveRecord(sessionId, removed)) return false;
  if (old) FreeReplacedBlobs(old.as<std::byte>(), nullptr);
  if (cursor.RecordBitmap && cursor.RecordBitmap->Active()) {
    cursor.RecordBitmap->AfterRecordRemoved(doomed, counterBefore, cursor.DistinctFieldCount > 0);
  }
  if (haveNeighbour) {
    cursor.Position = neighbour;
    cursor.AtStart = cursor.AtEnd = false;
  } else {
    cursor.AtStart = true;
    cursor.AtEnd = false;
  }
  CommitTableSession(sessionId, CursorInTransaction(cursor));
  return true;
}
