// Operations over searches: navigation, seeks, ranks, uniqueness, distinct
// marks, key updates, scans and estimates.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSBTreeHeld.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSException.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/storage/ABSRecordManager.h"

namespace {

// Reads the record at request.Position into request.RecordBuffer; what was
// found there. The request's direction and result are left as they are.
FetchResult ReadRecordAt(TABSBaseRecordManager& records, std::int32_t sessionId,
                         const NavigationRequest& request) {
  NavigationRequest read;
  read.Direction = FetchMode::Current;
  read.Position = request.Position;
  read.RecordBuffer = request.RecordBuffer;
  records.NavigateRecord(sessionId, read);
  return read.Result;
}

}  // namespace

// ---- Navigation ----

bool TABSBTreeRecordIndex::Navigate(std::int32_t sessionId, NavigationRequest& request,
                                    TABSKeyPath& path, bool found, TABSIndexPositionCache* nearby) {
  if (!found) {
    request.Result = FetchResult::NotFound;
    return false;
  }
  request.BeforeFirst = false;
  request.AfterLast = false;
  // Both callers checked the root.
  request.Position = LeafReference(sessionId, path, nearby);
  request.Result = ReadRecordAt(Table().IndexRecordManager(), sessionId, request);
  return request.Result == FetchResult::Found;
}

void TABSBTreeRecordIndex::NavigateIndex(std::int32_t sessionId, NavigationRequest& request,
                                         TABSIndexPositionCache* cache, std::int32_t stateValue) {
  if (request.Direction == FetchMode::Current) {
    throw EABSException(20053, "Invalid 'get record' mode for index: grmCurrent");
  }
  CheckedRoot(20121);
  // A step from where the cache stopped moves the cached path in place.
  const bool cached = cache != nullptr && cache->KeyPath != nullptr && !request.BeforeFirst &&
                      !request.AfterLast &&
                      cache->Matches(def_->ObjectId, request.Position, stateValue);
  TABSKeyPath& path = cached ? *cache->KeyPath : path_;
  try {
    NavigateFrom(sessionId, request, cache, stateValue, cached, path);
  } catch (...) {
    // The cached path may have moved: it no longer matches its position.
    if (cache != nullptr) cache->Clear();
    throw;
  }
}

namespace {

// The step of StepPath that stays in the leaf, inline: a walk with the
// position cache moves within one leaf for all but one of its entries, and
// this step needs no page. False (path unchanged) when the neighbour is in
// another leaf or there is none; StepPath then takes over.
bool StepWithinLeaf(TABSKeyPath& path, bool backward) {
  if (path.LevelCount <= 0) return false;
  TABSKeyPath::Level& leaf = path.Levels[path.LevelCount - 1];
  if (backward ? leaf.EntryNo <= 0 : leaf.EntryNo >= leaf.EntryCount - 1) return false;
  leaf.EntryNo += backward ? -1 : 1;
  return true;
}

}  // namespace

// Why a cached walk (NavigateIndex with the cursor's position cache) is
// cheap; bench_index IndexWalk measures it against a std::map iteration:
// - the step within a leaf is inline (StepWithinLeaf) and reads no page;
// - the entry's record position is read from the leaf without a second
//   root check (LeafReference), the root was checked on entry;
// - the record read with Direction Current is served by the memory record
//   manager's inline fast path, without its general navigation.
void TABSBTreeRecordIndex::NavigateFrom(std::int32_t sessionId, NavigationRequest& request,
                                        TABSIndexPositionCache* cache, std::int32_t stateValue,
                                        bool cached, TABSKeyPath& path) {
  bool found;
  if (request.BeforeFirst || request.AfterLast) {
    found = EdgePath(sessionId, path, request.AfterLast);
  } else {
    const bool backward = request.Direction == FetchMode::Prior;
    found = cached || FindRecordPath(sessionId, request.Position, path,
                                     static_cast<const std::byte*>(request.RecordBuffer));
    if (cached && StepWithinLeaf(path, backward)) {
      // Fast path: the neighbour is in the same leaf (see StepWithinLeaf),
      // its position usually among the cached ones read with that leaf.
      const TABSKeyPath::Level& leaf = path.Leaf();
      const std::int32_t at = leaf.EntryNo - cache->NearbyFrom;
      if (leaf.PageNo == cache->NearbyPage && at >= 0 && at < cache->NearbyCount &&
          cache->NearbyRevert == PageManager().RevertCount()) {
        request.BeforeFirst = request.AfterLast = false;
        request.Position = cache->Nearby[at];
        request.Result = ReadRecordAt(Table().IndexRecordManager(), sessionId, request);
        if (request.Result == FetchResult::Found) {
          cache->Position = request.Position;
          cache->ChangeCounter = stateValue;
        } else {
          cache->Clear();
        }
        return;
      }
    } else if (found && !StepPath(sessionId, path, backward)) {
      const bool next = request.Direction == FetchMode::Next;
      request.AfterLast = next;
      request.BeforeFirst = !next;
      request.Result = next ? FetchResult::Eof : FetchResult::Bof;
      if (cached) cache->Clear();
      return;
    }
  }
  if (Navigate(sessionId, request, path, found, cache)) {
    if (cache != nullptr) {
      if (cache->KeyPath == nullptr) cache->KeyPath = MakeLateOwned(new TABSKeyPath());
      if (!cached) cache->KeyPath->CopyFrom(path);
      cache->IndexId = def_->ObjectId;
      cache->Position = request.Position;
      cache->ChangeCounter = stateValue;
    }
  } else if (cached) {
    cache->Clear();
  } else if (cache != nullptr) {
    cache->NearbyCount = 0;  // read for a step that did not land
  }
}

void TABSBTreeRecordIndex::SeekKey(std::int32_t sessionId, NavigationRequest& request) {
  if (request.Direction == FetchMode::Current) {
    throw EABSException(20053, "Invalid 'get record' mode for index: grmCurrent");
  }
  CheckedRoot(20121);
  TABSKeyPath& path = path_;
  const bool next = request.Direction == FetchMode::Next;
  bool found;
  if (request.BeforeFirst || request.AfterLast) {
    found = EdgePath(sessionId, path, request.AfterLast);
  } else {
    // The entry after (prior: before) the gone record's key and position, so
    // later records with an equal key are not skipped.
    const RecordPosition from = request.Position;
    const Target t = TargetOf(static_cast<const std::byte*>(request.RecordBuffer), &from, true);
    {
      HeldPages held(PageManager(), sessionId);
      Descend(sessionId, held, t, next ? Child::NotStrict : Child::Strict, next, path);
    }
    if (next) {
      found = Normalize(sessionId, path);
    } else {
      found = Normalize(sessionId, path) ? StepPath(sessionId, path, true)
                                         : EdgePath(sessionId, path, true);
    }
    if (!found) {
      request.AfterLast = next;
      request.BeforeFirst = !next;
      request.Result = next ? FetchResult::Eof : FetchResult::Bof;
      return;
    }
  }
  Navigate(sessionId, request, path, found);
}

// ---- Ranks ----

std::int64_t TABSBTreeRecordIndex::RecordNumberOf(std::int32_t sessionId,
                                                  const RecordPosition& position,
                                                  const std::byte* recordBuffer) {
  CheckedRoot(20123);
  TABSKeyPath& path = path_;
  if (!FindRecordPath(sessionId, position, path, recordBuffer)) return -1;
  std::int64_t before = path.Leaf().EntryNo;
  HeldPages first(PageManager(), sessionId);
  std::int32_t no = View(first.Get(path.Leaf().PageNo)).PrevPageNo();
  first.ReleaseAll();
  while (no != -1) {
    HeldPages held(PageManager(), sessionId);
    const TABSBTreePageView v = View(held.Get(no));
    before += v.Count();
    no = v.PrevPageNo();
  }
  return before + 1;
}

void TABSBTreeRecordIndex::RecordAtNumber(std::int32_t sessionId, std::int64_t n,
                                          RecordPosition& position) {
  CheckedRoot(20123);
  TABSKeyPath first;
  if (!EdgePath(sessionId, first, false)) {
    throw EABSException(20074, "Cannot retrieve record from empty index");
  }
  if (n < 1) return;
  std::int64_t remaining = n - 1;
  for (std::int32_t no = first.Leaf().PageNo; no != -1;) {
    HeldPages held(PageManager(), sessionId);
    const TABSBTreePageView v = View(held.Get(no));
    if (remaining < v.Count()) {
      position = RecordPosition::Load(v.Ref(static_cast<std::int32_t>(remaining)));
      return;
    }
    remaining -= v.Count();
    no = v.NextPageNo();
  }
  throw EABSException(20075, "Cannot set RecNo greater than RecordCount");
}

// ---- Keys of records ----

int TABSBTreeRecordIndex::CompareRecordKeys(const std::byte* a, const std::byte* b,
                                            std::int32_t partCount) {
  keyRef_.BuildFullKey(a, otherFull_.as<std::byte>());
  keyRef_.BuildFullKey(b, entryFull_.as<std::byte>());
  return keyRef_.CompareFullKeys(otherFull_.as<std::byte>(), entryFull_.as<std::byte>(), partCount);
}

void TABSBTreeRecordIndex::MarkDistinct(std::int32_t sessionId, TABSIndexMarks& marks,
                                        std::int32_t partCount) {
  CheckedRoot(20124);
  TABSKeyPath first;
  if (!EdgePath(sessionId, first, false)) return;
  const auto size = static_cast<std::size_t>(keyRef_.FullKeySize());
  bool havePrevious = false;
  std::int64_t ordinal = 0;
  for (std::int32_t no = first.Leaf().PageNo; no != -1;) {
    HeldPages held(PageManager(), sessionId);
    const TABSBTreePageView v = View(held.Get(no));
    for (std::int32_t i = 0; i < v.Count(); ++i, ++ordinal) {
      const RecordPosition position = RecordPosition::Load(v.Ref(i));
      if (!marks.IsMarked(ordinal, position)) continue;
      // Whole values decide, not the stored prefixes.
      ReadRecord(sessionId, position, record_.get(), 20170);
      keyRef_.BuildFullKey(record_.as<std::byte>(), entryFull_.as<std::byte>());
      if (havePrevious && keyRef_.CompareFullKeys(otherFull_.as<std::byte>(),
                                                  entryFull_.as<std::byte>(), partCount) == 0) {
        marks.Unmark(ordinal, position);
      } else {
        std::memcpy(otherFull_.get(), entryFull_.get(), size);
        havePrevious = true;
      }
    }
    no = v.NextPageNo();
  }
}

bool TABSBTreeRecordIndex::IsKeyUnique(std::int32_t sessionId, const std::byte* recordBuffer) {
  const std::int32_t root = CheckedRoot(20125);
  if (!def_->Unique && !def_->Primary) return true;
  probe_.Valid = false;
  // The equal search (the first entry >= the key, compared on the whole
  // values), with the descent kept for the insert that usually follows. A
  // key above every entry is unique without one.
  const Target t = TargetOf(recordBuffer, nullptr, true);
  if (!AppendPath(sessionId, t, probe_.Path)) {
    HeldPages held(PageManager(), sessionId);
    Descend(sessionId, held, t, Child::Strict, false, probe_.Path);
    TABSKeyPath at;
    at.CopyFrom(probe_.Path);
    if (Normalize(sessionId, at)) {
      const TABSBTreePageView v = View(held.Get(at.Leaf().PageNo));
      if (CompareEntry(sessionId, t, v.Key(at.Leaf().EntryNo),
                       RecordPosition::Load(v.Ref(at.Leaf().EntryNo))) == 0) {
        return false;
      }
    }
  }
  if (!keyRef_.HasPrefixParts()) {
    std::memcpy(probeKey_.get(), t.Key, static_cast<std::size_t>(keyRef_.KeySize()));
    probe_.SessionId = sessionId;
    probe_.RootPageNo = root;
    probe_.RevertCount = PageManager().RevertCount();
    probe_.Valid = true;
  }
  return true;
}

const TABSKeyPath* TABSBTreeRecordIndex::ProbedPath(std::int32_t sessionId,
                                                    const std::byte* key) const {
  if (!probe_.Valid || probe_.SessionId != sessionId || probe_.RootPageNo != RootPageNo() ||
      probe_.RevertCount != PageManager().RevertCount()) {
    return nullptr;
  }
  if (std::memcmp(probeKey_.get(), key, static_cast<std::size_t>(keyRef_.KeySize())) != 0) {
    return nullptr;
  }
  return &probe_.Path;
}

bool TABSBTreeRecordIndex::AppendPath(std::int32_t sessionId, const Target& t, TABSKeyPath& path) {
  if (!append_.Valid || append_.SessionId != sessionId || append_.RootPageNo != RootPageNo() ||
      append_.RevertCount != PageManager().RevertCount()) {
    return false;
  }
  if (CompareEntry(sessionId, t, appendKey_.as<std::byte>(), append_.LastPosition) <= 0) {
    return false;
  }
  path.CopyFrom(append_.Path);
  return true;
}

bool TABSBTreeRecordIndex::IsUpdateUnique(std::int32_t sessionId, const std::byte* newBuffer,
                                          const std::byte* oldBuffer) {
  CheckedRoot(20125);
  if (CompareRecordKeys(newBuffer, oldBuffer, -1) == 0) return true;
  return IsKeyUnique(sessionId, newBuffer);
}

void TABSBTreeRecordIndex::UpdateRecordKey(std::int32_t sessionId, const TABSCursorState& cursor,
                                           bool removeOld) {
  CheckedRoot(20293);
  keyRef_.BuildFullKey(cursor.OriginalBuffer, otherFull_.as<std::byte>());
  keyRef_.BuildFullKey(cursor.CurrentBuffer, entryFull_.as<std::byte>());
  if (std::memcmp(otherFull_.get(), entryFull_.get(),
                  static_cast<std::size_t>(keyRef_.FullKeySize())) == 0) {
    return;
  }
  if (removeOld) {
    DeleteKey(sessionId, cursor.OriginalBuffer, cursor.Position, 20250);
  } else {
    InsertKey(sessionId, cursor.CurrentBuffer, cursor.Position);
  }
}

// ---- Scans and estimates ----

TABSScanState* TABSBTreeRecordIndex::NewScanState() {
  return new TABSScanState();
}

void TABSBTreeRecordIndex::FreeScanState(TABSScanState*& state) {
  delete state;
  state = nullptr;
}

bool TABSBTreeRecordIndex::ScanStep(std::int32_t sessionId, TABSScanState* state, bool backward,
                                    const TABSScanBound* start, const TABSScanBound* end,
                                    RecordPosition& position) {
  if (state == nullptr) throw EABSException(20077, "Pointer is nil");
  if (state->Started && start != nullptr) throw EABSException(20078, "Index error: invalid params");
  CheckedRoot(20124);
  if (!state->Started) {
    state->Started = true;
    state->Backward = backward;
    const bool found = start != nullptr ? ConditionSearch(sessionId, *start, backward, state->Path)
                                        : EdgePath(sessionId, state->Path, backward);
    if (!found) state->Done = true;
    if (end != nullptr && !state->Done) {
      state->HasEnd = true;
      if (!ConditionSearch(sessionId, *end, !backward, state->EndPath)) state->Done = true;
    }
  } else if (!state->Done && !StepPath(sessionId, state->Path, state->Backward)) {
    state->Done = true;
  }
  if (state->Done) return false;
  if (state->HasEnd) {
    const int c = CompareKeyPaths(&state->Path, &state->EndPath);
    if (state->Backward ? c < 0 : c > 0) {
      state->Done = true;
      return false;
    }
  }
  position = ReadPathReference(sessionId, state->Path);
  return true;
}

int TABSBTreeRecordIndex::ConditionSide(std::int32_t condition) {
  if (condition == 3 || condition == 5) return -1;
  if (condition == 2 || condition == 4) return 1;
  return 0;
}

std::int64_t TABSBTreeRecordIndex::EstimateRangeCount(std::int32_t sessionId,
                                                      const TABSScanBound& lower,
                                                      const TABSScanBound& upper,
                                                      std::int64_t totalRecords) {
  CheckedRoot(20125);
  TABSKeyPath low;
  TABSKeyPath high;
  if (!ConditionSearch(sessionId, lower, false, low)) return 0;
  if (!ConditionSearch(sessionId, upper, true, high)) return 0;
  const double share = high.RelativePosition() - low.RelativePosition();
  const auto estimate = static_cast<std::int64_t>(std::llround(share * totalRecords));
  return std::clamp<std::int64_t>(estimate, 0, std::max<std::int64_t>(totalRecords, 0));
}
