// Table data: record operations (fetch, insert, update, delete), counts,
// record numbers, the view and the cursor's record bitmap.
//
// Every operation takes the database lock itself. The view of a cursor
// (filter callback) is tested record by record in record order; a record
// bitmap of the cursor caches the result between changes.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <mutex>

#include "engine/index/ABSIndex.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSStorageSession.h"
#include "engine/tables/ABSTableData.h"

namespace {
using Guard = platform::RankedLockGuard;

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
// Filter expressions, query conditions and key searches are compiled and
// evaluated by the query engine; a view that needs one is refused rather
// than shown unfiltered.
[[noreturn]] void RaiseNoQueryEngine(const char* what) {
  throw EABSException(native_code::kNoQueryEngine,
                      "%s needs the query engine, which is not available", {what});
}

// !cursor.HasRestrictedView(), written out inline for the per-record step
// (the two must name the same members).
inline bool HasNoViewRestriction(const TABSCursorState& cursor) {
  return cursor.FilterCallback == nullptr && cursor.QueryExpression == nullptr &&
         cursor.FilterExpression == nullptr && cursor.RangeStartKey == nullptr &&
         cursor.RangeEndKey == nullptr && cursor.DistinctFieldCount <= 0;
}
}  // namespace

std::int32_t TABSTableData::TableChangeCounter() const {
  const std::int32_t records = recordManager_ ? recordManager_->ChangeCounter() : 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(records) +
                                   static_cast<std::uint32_t>(emptyCount_));
}

std::int64_t TABSTableData::CursorRecordsVersion(const TABSCursorState& cursor) const {
  Guard hold(database_.Lock());
  if (cursor.HasRestrictedView()) return -1;
  return static_cast<std::uint32_t>(TableChangeCounter());
}

// ---- TABSBitmapTable ----

std::int32_t TABSTableData::BitmapRecordIdOf(const RecordPosition& position) const {
  return position.RecordId;
}

void TABSTableData::BitmapPositionOf(std::int32_t recordId, RecordPosition& position) const {
  position.RecordId = recordId;
  position.SubPosition = 0;
}

std::int64_t TABSTableData::BitmapRecordCount() const {
  return recordManager_ ? recordManager_->RecordCount() : 0;
}

std::int32_t TABSTableData::BitmapChangeCounter() const {
  return TableChangeCounter();
}

// ---- The view ----

TABSIndex& TABSTableData::ViewIndex(const TABSCursorState& cursor) const {
  if (!cursor.HasCurrentIndex() || !indexManager_) {
    throw EABSException(native_code::kViewNeedsIndex,
                        "A range or distinct view of table '%s' needs a current index",
                        {tableName_});
  }
  return indexManager_->GetIndex(cursor.IndexId);
}

bool TABSTableData::PassesView(const TABSCursorState& cursor, const std::byte* buffer) const {
  if (cursor.FilterExpression != nullptr) RaiseNoQueryEngine("A filter expression");
  if (cursor.QueryExpression != nullptr) RaiseNoQueryEngine("A query condition");
  if (cursor.RangeStartKey != nullptr || cursor.RangeEndKey != nullptr) {
    // Start: at or above the key (above it with the exclusive flag); end
    // likewise below.
    TABSIndex& index = ViewIndex(cursor);
    if (cursor.RangeStartKey != nullptr) {
      const int c = index.CompareRecordKeys(
          buffer, cursor.RangeStartKey,
          cursor.RangeStartFieldCount > 0 ? cursor.RangeStartFieldCount : -1);
      if (c < 0 || (c == 0 && cursor.RangeStartFlag != 0)) return false;
    }
    if (cursor.RangeEndKey != nullptr) {
      const int c =
          index.CompareRecordKeys(buffer, cursor.RangeEndKey,
                                  cursor.RangeEndFieldCount > 0 ? cursor.RangeEndFieldCount : -1);
      if (c > 0 || (c == 0 && cursor.RangeEndFlag != 0)) return false;
    }
  }
  if (cursor.FilterCallback != nullptr &&
      !cursor.FilterCallback(cursor.FilterCallbackOwner, buffer)) {
    return false;
  }
  return true;
}

bool TABSTableData::RecordPassesView(const TABSCursorState& cursor) const {
  return PassesView(cursor, cursor.CurrentBuffer);
}

void TABSTableData::Navigate(TABSCursorState& cursor, NavigationRequest& request) {
  if (request.IndexId != -1 && request.Direction != FetchMode::Current) {
    RequireIndexManager().NavigateByIndex(CursorSessionId(cursor), request, TableChangeCounter(),
                                          cursor.PositionCache.get());
  } else {
    // Record order reads no pages: the record store needs no session.
    recordManager_->NavigateRecord(kNoSessionId, request);
  }
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
  // A distinct view shows the first record of every run of records equal on
  // its leading index fields: a step passes over the equals of the record
  // it starts from, and a step back lands on the first of its run.
  const std::int32_t distinct = cursor.DistinctFieldCount;
  TABSIndex* index = distinct > 0 ? &ViewIndex(cursor) : nullptr;
  const std::int64_t imageSize = std::max(cursor.RecordBufferSize, recordManager_->RecordSize());
  TABSMemBlock previous;
  if (index != nullptr && !fromEnd && !cursor.AtStart && !cursor.AtEnd) {
    previous = TABSMemBlock(imageSize);
    if (!ReadRecordAt(cursor.Position, previous.as<std::byte>())) previous.Reset();
  }
  NavigationRequest request;
  request.Direction = forward ? FetchMode::Next : FetchMode::Prior;
  request.Position = cursor.Position;
  request.BeforeFirst = fromEnd ? forward : cursor.AtStart;
  request.AfterLast = fromEnd ? !forward : cursor.AtEnd;
  request.RecordBuffer = cursor.CurrentBuffer;
  request.IndexId = cursor.IndexId;
  for (;;) {
    Navigate(cursor, request);
    if (request.Result != FetchResult::Found) return false;
    request.BeforeFirst = request.AfterLast = false;
    if (!RecordPassesView(cursor)) continue;
    if (previous &&
        index->CompareRecordKeys(cursor.CurrentBuffer, previous.as<std::byte>(), distinct) == 0) {
      continue;
    }
    break;
  }
  if (index != nullptr && !forward) {
    TABSMemBlock probe(imageSize);
    NavigationRequest back = request;
    back.RecordBuffer = probe.get();
    for (;;) {
      Navigate(cursor, back);
      if (back.Result != FetchResult::Found) break;
      if (index->CompareRecordKeys(probe.as<std::byte>(), cursor.CurrentBuffer, distinct) != 0) {
        break;
      }
      if (PassesView(cursor, probe.as<std::byte>())) {
        std::memcpy(cursor.CurrentBuffer, probe.get(),
                    static_cast<std::size_t>(recordManager_->RecordSize()));
        request.Position = back.Position;
      }
    }
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
  return FetchCursorRecordLocked(cursor, mode);
}

FetchResult TABSTableData::FetchCursorRecordLocked(TABSCursorState& cursor, FetchMode mode) {
  assert(database_.Lock().HeldByThisThread());
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
  // A cursor off both ends stands on a record it found: the record store's
  // plain forward step applies.
  if (!cursor.AtStart && !cursor.AtEnd) request.Result = FetchResult::Found;
  request.RecordBuffer = cursor.CurrentBuffer;
  Navigate(cursor, request);
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

FetchResult TABSMemoryTableData::FetchCursorRecord(TABSCursorState& cursor, FetchMode mode) {
  Guard hold(DatabaseData().Lock());
  if (cursor.IndexId == -1 && recordManager_ && cursor.CurrentBuffer != nullptr &&
      HasNoViewRestriction(cursor)) {
    // A walk forward from a record the cursor found onto the live slot after
    // it: the record store's plain step, nothing else to decide.
    if (mode == FetchMode::Next && !(cursor.AtStart | cursor.AtEnd) &&
        MemoryRecords(*recordManager_)
            .StepToNextSlot(cursor.Position.RecordId, cursor.CurrentBuffer)) [[likely]] {
      ++cursor.Position.RecordId;
      cursor.Position.SubPosition = 0;
      return FetchResult::Found;
    }
    // Record order without a view: the step the general path would take,
    // with the memory record store called directly (its forward and current
    // steps are inline) and every record passing.
    NavigationRequest request;
    request.Direction = mode;
    request.Position = cursor.Position;
    request.BeforeFirst = cursor.AtStart;
    request.AfterLast = cursor.AtEnd;
    if (!cursor.AtStart && !cursor.AtEnd) request.Result = FetchResult::Found;
    request.RecordBuffer = cursor.CurrentBuffer;
    MemoryRecords(*recordManager_).NavigateRecord(kNoSessionId, request);
    if (request.Result == FetchResult::Found) [[likely]] {
      cursor.Position = request.Position;
      cursor.AtStart = cursor.AtEnd = false;
      return FetchResult::Found;
    }
    // Nothing found: the general path sets the end flags from the unchanged
    // cursor.
  }
  return FetchCursorRecordLocked(cursor, mode);
}

std::int32_t TABSTableData::FetchNextCursorRecords(TABSCursorState& cursor,
                                                   std::byte* const* buffers, std::int32_t count) {
  Guard hold(database_.Lock());
  struct RestoreBuffer {
    TABSCursorState& c;
    std::byte* keep;
    ~RestoreBuffer() { c.CurrentBuffer = keep; }
  } restore{cursor, cursor.CurrentBuffer};
  std::int32_t fetched = 0;
  while (fetched < count) {
    cursor.CurrentBuffer = buffers[fetched];
    if (FetchCursorRecord(cursor, FetchMode::Next) != FetchResult::Found) break;
    ++fetched;
  }
  return fetched;
}

std::int32_t TABSMemoryTableData::FetchNextCursorRecords(TABSCursorState& cursor,
                                                         std::byte* const* buffers,
                                                         std::int32_t count) {
  Guard hold(DatabaseData().Lock());
  std::int32_t fetched = 0;
  if (cursor.IndexId == -1 && recordManager_ && HasNoViewRestriction(cursor) &&
      !(cursor.AtStart | cursor.AtEnd)) {
    const TABSMemoryRecordManager& records = MemoryRecords(*recordManager_);
    std::int32_t id = cursor.Position.RecordId;
    while (fetched < count && buffers[fetched] != nullptr &&
           records.StepToNextSlot(id, buffers[fetched])) {
      ++id;
      ++fetched;
    }
    if (fetched > 0) {
      cursor.Position.RecordId = id;
      cursor.Position.SubPosition = 0;
    }
  }
  if (fetched == count) return fetched;
  // The rest (a first step, a deleted slot, the end, a view) one by one.
  return fetched +
         TABSTableData::FetchNextCursorRecords(cursor, buffers + fetched, count - fetched);
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
  RaiseNoQueryEngine("A key search");
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
  if (cursor.HasRestrictedView() && cursor.HasCurrentIndex()) {
    // The view in index order: walk it (the bitmap is in record order).
    TABSMemBlock scratch(std::max(cursor.RecordBufferSize, recordManager_->RecordSize()));
    CursorPlaceGuard place(cursor);
    cursor.CurrentBuffer = scratch.as<std::byte>();
    bool found = ViewStep(cursor, true, true);
    for (std::int64_t k = 1; found && k < number; ++k) found = ViewStep(cursor, true, false);
    const RecordPosition at = cursor.Position;
    place.Restore();
    place.Dismiss();
    if (found) cursor.Position = at;
  } else if (cursor.HasCurrentIndex()) {
    RequireIndexManager()
        .GetIndex(cursor.IndexId)
        .RecordAtNumber(CursorSessionId(cursor), number, cursor.Position);
  } else if (cursor.HasRestrictedView()) {
    cursor.RecordBitmap->RecordAtNumber(number, cursor.Position);
  } else {
    RecordNumberToPosition(cursor, number);
  }
}

std::int64_t TABSTableData::GetCursorRecordNumber(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  if (cursor.AtStart || cursor.AtEnd) return -1;
  if (CountVisibleRecords(cursor) == 0) return -1;
  if (cursor.HasCurrentIndex()) {
    TABSMemBlock scratch(std::max(cursor.RecordBufferSize, recordManager_->RecordSize()));
    if (!ReadRecordAt(cursor.Position, scratch.as<std::byte>())) return -1;
    if (!cursor.HasRestrictedView()) {
      return RequireIndexManager()
          .GetIndex(cursor.IndexId)
          .RecordNumberOf(CursorSessionId(cursor), cursor.Position, scratch.as<std::byte>());
    }
    const RecordPosition target = cursor.Position;
    CursorPlaceGuard place(cursor);
    cursor.CurrentBuffer = scratch.as<std::byte>();
    std::int64_t number = 1;
    for (bool found = ViewStep(cursor, true, true); found; found = ViewStep(cursor, true, false)) {
      if (cursor.Position == target) return number;
      ++number;
    }
    return -1;
  }
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
  const TABSStorageSession* session = StorageSessionOf(cursor.Session);
  const std::int32_t sessionId = session != nullptr ? session->SessionId() : kNoSessionId;
  RecordPosition position = cursor.Position;
  // The memory record store is final: a direct call.
  if (!MemoryRecords(records).StoreNewRecord(sessionId, cursor.CurrentBuffer, position)) {
    return false;
  }
  position.SubPosition = 0;
  if (indexManager_ && indexManager_->IndexCount() > 0) {
    // Record and keys are all or nothing: when a key fails, the record goes again.
    const RecordPosition before = cursor.Position;
    cursor.Position = position;
    try {
      indexManager_->InsertKeys(sessionId, cursor);
    } catch (...) {
      RecordPosition stored = position;
      records.RemoveRecord(sessionId, stored);
      cursor.Position = before;
      throw;
    }
  }
  if (!pendingBlobs_.empty()) AdoptBlobs(cursor.CurrentBuffer);
  if (cursor.RecordBitmap && cursor.RecordBitmap->Active()) {
    cursor.RecordBitmap->AfterRecordWritten(position, RecordPassesView(cursor));
  }
  cursor.Position = position;
  cursor.AtStart = cursor.AtEnd = false;
  TABSTableData::CommitTableSession(sessionId, session != nullptr && session->InTransaction());
  return true;
}

bool TABSMemoryTableData::UpdateCursorRecord(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10014);
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10017, "Nil pointer occured");
  const std::int32_t sessionId = CursorSessionId(cursor);
  const bool indexed = indexManager_ && indexManager_->IndexCount() > 0;
  // The stored record as it is: the old keys, and the BLOB blocks the new
  // image replaces.
  TABSMemBlock old;
  if (hasBlobFields_ || indexed) {
    old = TABSMemBlock(std::max(cursor.RecordBufferSize, records.RecordSize()));
    if (!ReadRecordAt(cursor.Position, old.as<std::byte>())) return false;
  }
  if (indexed) {
    // The keys leave from the stored image, whatever the caller kept as the
    // original.
    std::byte* const original = cursor.OriginalBuffer;
    struct RestoreOriginal {
      TABSCursorState& c;
      std::byte* keep;
      ~RestoreOriginal() { c.OriginalBuffer = keep; }
    } restore{cursor, original};
    cursor.OriginalBuffer = old.as<std::byte>();
    indexManager_->UpdateKeys(sessionId, cursor, 1);
    if (!records.OverwriteRecord(sessionId, cursor.CurrentBuffer, cursor.Position)) {
      indexManager_->UndoUpdateKeys(sessionId, cursor);
      return false;
    }
    try {
      indexManager_->UpdateKeys(sessionId, cursor, 0);
    } catch (...) {
      // The old keys are back in every index: the old image goes back too.
      records.OverwriteRecord(sessionId, old.get(), cursor.Position);
      throw;
    }
  } else if (!records.OverwriteRecord(sessionId, cursor.CurrentBuffer, cursor.Position)) {
    return false;
  }
  if (hasBlobFields_) {
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
  if (hasBlobFields_ || (indexManager_ && indexManager_->IndexCount() > 0)) {
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
  if (old && indexManager_ && indexManager_->IndexCount() > 0) {
    const RecordPosition at = cursor.Position;
    cursor.Position = doomed;
    struct RestorePosition {
      TABSCursorState& c;
      RecordPosition keep;
      ~RestorePosition() { c.Position = keep; }
    } restore{cursor, at};
    indexManager_->DeleteKeys(sessionId, cursor);
  }
  const std::int32_t counterBefore = TableChangeCounter();
  RecordPosition removed = doomed;
  if (!records.RemoveRecord(sessionId, removed)) return false;
  if (old && hasBlobFields_) FreeReplacedBlobs(old.as<std::byte>(), nullptr);
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
