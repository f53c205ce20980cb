// Searches of the tree: descent, bounds, paths and their steps, condition
// searches, navigation, ranks, uniqueness, scans and estimates.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/local/ABSCursorState.h"
#include "engine/storage/ABSIndexTable.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/types/ABSBTree.h"
#include "engine/types/ABSBTreeHeld.h"
#include "engine/types/ABSException.h"

namespace {

int ComparePositions(const RecordPosition& a, const RecordPosition& b) {
  if (a.RecordId != b.RecordId) return a.RecordId < b.RecordId ? -1 : 1;
  if (a.SubPosition != b.SubPosition) return a.SubPosition < b.SubPosition ? -1 : 1;
  return 0;
}

}  // namespace

TABSBTreeRecordIndex::Target TABSBTreeRecordIndex::TargetOf(const std::byte* recordBuffer,
                                                           const RecordPosition* position,
                                                           bool wholeValues,
                                                           std::int32_t partLimit,
                                                           const std::int32_t* lengths) {
  Target t;
  keyRef_.BuildKey(recordBuffer, searchKey_.as<std::byte>());
  t.Key = searchKey_.as<std::byte>();
  if (wholeValues && keyRef_.HasPrefixParts()) {
    keyRef_.BuildFullKey(recordBuffer, searchFull_.as<std::byte>());
    t.FullKey = searchFull_.as<std::byte>();
  }
  t.Lengths = lengths;
  t.PartLimit = partLimit;
  if (position != nullptr) {
    t.HasPosition = true;
    t.Position = *position;
  }
  return t;
}

void TABSBTreeRecordIndex::ReadRecord(std::int32_t sessionId, const RecordPosition& position,
                                      void* buffer, std::int32_t errorCode) {
  NavigationRequest request;
  request.Direction = FetchMode::Current;
  request.Position = position;
  request.RecordBuffer = buffer;
  Table().IndexRecordManager().NavigateRecord(sessionId, request);
  if (request.Result != FetchResult::Found) {
    throw EABSException(errorCode, "Cannot retrieve record for index");
  }
}

int TABSBTreeRecordIndex::CompareEntry(std::int32_t sessionId, const Target& t,
                                       const std::byte* key, const RecordPosition& position) {
  int c = keyRef_.CompareKeys(t.Key, key, t.Lengths, t.PartLimit);
  if (c != 0) return c;
  if (t.FullKey != nullptr) {
    // Equal prefixes: the whole values of the entry's record decide.
    ReadRecord(sessionId, position, record_.get(), 20170);
    keyRef_.BuildFullKey(record_.as<std::byte>(), entryFull_.as<std::byte>());
    c = keyRef_.CompareFullKeys(t.FullKey, entryFull_.as<std::byte>(), t.PartLimit);
    if (c != 0) return c;
  }
  return t.HasPosition ? ComparePositions(t.Position, position) : 0;
}

void TABSBTreeRecordIndex::FirstLeafEntry(HeldPages& held, std::int32_t pageNo,
                                          const std::byte*& key, RecordPosition& position) {
  for (std::int32_t depth = 0; depth < TABSKeyPath::kMaxLevels; ++depth) {
    const TABSBTreePageView v = View(held.Get(pageNo));
    if (v.Count() == 0) throw EABSException(20024, "Internal index error");
    if (v.IsLeaf()) {
      key = v.Key(0);
      position = RecordPosition::Load(v.Ref(0));
      return;
    }
    pageNo = v.Child(0);
  }
  throw EABSException(20020, "Internal index error");
}

std::int32_t TABSBTreeRecordIndex::ChooseChild(std::int32_t sessionId, HeldPages& held,
                                               const TABSBTreePageView& v, const Target& t,
                                               Child rule) {
  // The last child whose first leaf entry is below t (Strict) or not above
  // it (NotStrict); child 0 when there is none.
  std::int32_t lo = 1;
  std::int32_t hi = v.Count() - 1;
  std::int32_t found = 0;
  while (lo <= hi) {
    const std::int32_t mid = (lo + hi) / 2;
    const int c = keyRef_.CompareKeys(v.Key(mid), t.Key, t.Lengths, t.PartLimit);
    bool take;
    if (c != 0) {
      take = c < 0;
    } else if (t.FullKey == nullptr && !t.HasPosition) {
      take = rule == Child::NotStrict;
    } else {
      // A tie with the separator: the first leaf entry below the child has a
      // real record position and decides.
      const std::byte* key = nullptr;
      RecordPosition position;
      FirstLeafEntry(held, v.Child(mid), key, position);
      const int ct = CompareEntry(sessionId, t, key, position);
      take = rule == Child::Strict ? ct > 0 : ct >= 0;
    }
    if (take) {
      found = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return found;
}

std::int32_t TABSBTreeRecordIndex::LeafBound(std::int32_t sessionId, const TABSBTreePageView& v,
                                             const Target& t, bool upper) {
  std::int32_t lo = 0;
  std::int32_t hi = v.Count();
  while (lo < hi) {
    const std::int32_t mid = (lo + hi) / 2;
    const int c = CompareEntry(sessionId, t, v.Key(mid), RecordPosition::Load(v.Ref(mid)));
    if (upper ? c >= 0 : c > 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

void TABSBTreeRecordIndex::Descend(std::int32_t sessionId, HeldPages& held, const Target& t,
                                   Child rule, bool upper, TABSKeyPath& path) {
  path.Clear();
  std::int32_t no = RootPageNo();
  for (;;) {
    const TABSBTreePageView v = View(held.Get(no));
    if (v.IsLeaf()) {
      path.Push(no, LeafBound(sessionId, v, t, upper), v.Count());
      return;
    }
    if (v.Count() == 0) throw EABSException(20020, "Internal index error");
    const std::int32_t i = ChooseChild(sessionId, held, v, t, rule);
    path.Push(no, i, v.Count());
    no = v.Child(i);
  }
}

bool TABSBTreeRecordIndex::FindExact(std::int32_t sessionId, HeldPages& held, const Target& t,
                                     TABSKeyPath& path) {
  Descend(sessionId, held, t, Child::NotStrict, false, path);
  const TABSKeyPath::Level& leaf = path.Leaf();
  if (leaf.EntryNo >= leaf.EntryCount) return false;
  const TABSBTreePageView v = View(held.Get(leaf.PageNo));
  return CompareEntry(sessionId, t, v.Key(leaf.EntryNo), RecordPosition::Load(v.Ref(leaf.EntryNo))) ==
         0;
}

bool TABSBTreeRecordIndex::Normalize(std::int32_t sessionId, TABSKeyPath& path) {
  TABSKeyPath::Level& leaf = path.Leaf();
  if (leaf.EntryNo < leaf.EntryCount) return true;
  if (leaf.EntryCount == 0) return false;
  leaf.EntryNo = leaf.EntryCount - 1;
  if (StepPath(sessionId, path, false)) return true;
  leaf.EntryNo = leaf.EntryCount;
  return false;
}

bool TABSBTreeRecordIndex::StepPath(std::int32_t sessionId, TABSKeyPath& path, bool backward) {
  if (path.LevelCount == 0) {
    throw EABSException(backward ? 20069 : 20068, "Index error: invalid position");
  }
  std::int32_t level = path.LevelCount - 1;
  while (level >= 0) {
    const TABSKeyPath::Level& l = path.Levels[level];
    if (backward ? l.EntryNo > 0 : l.EntryNo < l.EntryCount - 1) break;
    --level;
  }
  if (level < 0) return false;
  // Read the new pages first: a failure leaves the path as it was.
  TABSKeyPath moved = path;
  moved.Levels[level].EntryNo += backward ? -1 : 1;
  HeldPages held(PageManager(), sessionId);
  for (std::int32_t l = level + 1; l < path.LevelCount; ++l) {
    const TABSBTreePageView v = View(held.Get(path.Levels[l].PageNo));
    const std::int32_t neighbour = backward ? v.PrevPageNo() : v.NextPageNo();
    if (neighbour == -1) {
      throw EABSException(backward ? 20071 : 20070, "Index error: invalid page number");
    }
    const TABSBTreePageView n = View(held.Get(neighbour));
    moved.Levels[l] = TABSKeyPath::Level{neighbour, backward ? n.Count() - 1 : 0, n.Count()};
  }
  path = moved;
  return true;
}

bool TABSBTreeRecordIndex::EdgePath(std::int32_t sessionId, TABSKeyPath& path, bool last) {
  path.Clear();
  HeldPages held(PageManager(), sessionId);
  std::int32_t no = RootPageNo();
  for (;;) {
    const TABSBTreePageView v = View(held.Get(no));
    if (v.Count() == 0) {
      if (v.IsLeaf()) return false;
      throw EABSException(20020, "Internal index error");
    }
    const std::int32_t i = last ? v.Count() - 1 : 0;
    path.Push(no, i, v.Count());
    if (v.IsLeaf()) return true;
    no = v.Child(i);
  }
}

std::int64_t TABSBTreeRecordIndex::EntryCount(std::int32_t sessionId) {
  TABSKeyPath first;
  if (!EdgePath(sessionId, first, false)) return 0;
  std::int64_t total = 0;
  for (std::int32_t no = first.Leaf().PageNo; no != -1;) {
    HeldPages held(PageManager(), sessionId);
    const TABSBTreePageView v = View(held.Get(no));
    total += v.Count();
    no = v.NextPageNo();
  }
  return total;
}

RecordPosition TABSBTreeRecordIndex::ReadPathReference(std::int32_t sessionId,
                                                       const TABSKeyPath& path) {
  CheckedRoot(20122);
  if (path.LevelCount == 0) throw EABSException(20068, "Index error: invalid position");
  const TABSKeyPath::Level& leaf = path.Leaf();
  HeldPages held(PageManager(), sessionId);
  const TABSBTreePageView v = View(held.Get(leaf.PageNo));
  if (!v.IsLeaf() || leaf.EntryNo < 0 || leaf.EntryNo >= v.Count()) {
    throw EABSException(20069, "Index error: invalid position");
  }
  return RecordPosition::Load(v.Ref(leaf.EntryNo));
}

bool TABSBTreeRecordIndex::ConditionSearch(std::int32_t sessionId, const TABSScanBound& bound,
                                           bool backward, TABSKeyPath& path) {
  const std::int32_t code = bound.Condition;
  if (code == 0) return EdgePath(sessionId, path, backward);
  std::int32_t* lengths = nullptr;
  if (bound.Partial) {
    lengths = lengths_.as<std::int32_t>();
    keyRef_.SetCompareLengths(bound.RecordBuffer, true, lengths);
  }
  const Target t = TargetOf(bound.RecordBuffer, nullptr, !bound.Partial, bound.PartCount, lengths);
  const auto entryAt = [&](const TABSKeyPath& p) {
    HeldPages held(PageManager(), sessionId);
    const TABSBTreePageView v = View(held.Get(p.Leaf().PageNo));
    return CompareEntry(sessionId, t, v.Key(p.Leaf().EntryNo),
                        RecordPosition::Load(v.Ref(p.Leaf().EntryNo)));
  };
  // The first entry >= t (upper: > t); false when every entry is below.
  const auto bound_ = [&](bool upper) {
    {
      HeldPages held(PageManager(), sessionId);
      Descend(sessionId, held, t, upper ? Child::NotStrict : Child::Strict, upper, path);
    }
    return Normalize(sessionId, path);
  };
  // The entry before that bound.
  const auto before = [&](bool upper) {
    if (bound_(upper)) return StepPath(sessionId, path, true);
    return EdgePath(sessionId, path, true);
  };
  if (!backward) {
    switch (code) {
      case 1:
        return bound_(false) && entryAt(path) == 0;
      case 2:
        return EdgePath(sessionId, path, false) && entryAt(path) > 0;
      case 3:
        return bound_(true);
      case 4:
        return EdgePath(sessionId, path, false) && entryAt(path) >= 0;
      case 5:
        return bound_(false);
      default:
        return false;
    }
  }
  switch (code) {
    case 1:
      return before(true) && entryAt(path) == 0;
    case 2:
      return before(false);
    case 3:
      return EdgePath(sessionId, path, true) && entryAt(path) < 0;
    case 4:
      return before(true);
    case 5:
      return EdgePath(sessionId, path, true) && entryAt(path) <= 0;
    default:
      return false;
  }
}

// ---- Paths ----

TABSKeyPath* TABSBTreeRecordIndex::NewKeyPath() { return new TABSKeyPath(); }

void TABSBTreeRecordIndex::FreeKeyPath(TABSKeyPath*& path) {
  delete path;
  path = nullptr;
}

bool TABSBTreeRecordIndex::FindRecordPath(std::int32_t sessionId, const RecordPosition& position,
                                          TABSKeyPath& path, const std::byte* recordBuffer) {
  CheckedRoot(20122);
  const Target t = TargetOf(recordBuffer, &position, true);
  HeldPages held(PageManager(), sessionId);
  return FindExact(sessionId, held, t, path);
}

int TABSBTreeRecordIndex::CompareKeyPaths(const TABSKeyPath* a, const TABSKeyPath* b) {
  if (a == nullptr) throw EABSException(10384, "Nil pointer occured");
  if (b == nullptr) throw EABSException(10385, "Nil pointer occured");
  if (a->LevelCount != b->LevelCount) throw EABSException(20051, "Invalid index key path");
  for (std::int32_t l = 0; l < a->LevelCount; ++l) {
    if (a->Levels[l].PageNo != b->Levels[l].PageNo) {
      throw EABSException(20052, "Invalid index key path");
    }
    if (a->Levels[l].EntryNo != b->Levels[l].EntryNo) {
      return a->Levels[l].EntryNo < b->Levels[l].EntryNo ? -1 : 1;
    }
  }
  return 0;
}

// ---- Navigation ----

bool TABSBTreeRecordIndex::Navigate(std::int32_t sessionId, NavigationRequest& request,
                                    TABSKeyPath& path, bool found) {
  if (!found) {
    request.Result = FetchResult::NotFound;
    return false;
  }
  request.BeforeFirst = false;
  request.AfterLast = false;
  request.Position = ReadPathReference(sessionId, path);
  NavigationRequest read;
  read.Direction = FetchMode::Current;
  read.Position = request.Position;
  read.RecordBuffer = request.RecordBuffer;
  Table().IndexRecordManager().NavigateRecord(sessionId, read);
  request.Result = read.Result;
  return read.Result == FetchResult::Found;
}

void TABSBTreeRecordIndex::NavigateIndex(std::int32_t sessionId, NavigationRequest& request,
                                         TABSIndexPositionCache* cache,
                                         std::int32_t stateValue) {
  if (request.Direction == FetchMode::Current) {
    throw EABSException(20053, "Invalid 'get record' mode for index: grmCurrent");
  }
  CheckedRoot(20121);
  TABSKeyPath& path = path_;
  bool found;
  if (request.BeforeFirst || request.AfterLast) {
    found = EdgePath(sessionId, path, request.AfterLast);
  } else {
    if (cache != nullptr && cache->KeyPath != nullptr &&
        cache->Matches(def_->ObjectId, request.Position, stateValue)) {
      path = *cache->KeyPath;
      found = true;
    } else {
      found = FindRecordPath(sessionId, request.Position, path,
                             static_cast<const std::byte*>(request.RecordBuffer));
    }
    if (found && !StepPath(sessionId, path, request.Direction == FetchMode::Prior)) {
      const bool next = request.Direction == FetchMode::Next;
      request.AfterLast = next;
      request.BeforeFirst = !next;
      request.Result = next ? FetchResult::Eof : FetchResult::Bof;
      return;
    }
  }
  if (Navigate(sessionId, request, path, found) && cache != nullptr) {
    if (cache->KeyPath == nullptr) cache->KeyPath = MakeLateOwned(new TABSKeyPath());
    *cache->KeyPath = path;
    cache->IndexId = def_->ObjectId;
    cache->Position = request.Position;
    cache->ChangeCounter = stateValue;
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
    const Target t =
        TargetOf(static_cast<const std::byte*>(request.RecordBuffer), &from, true);
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
  return keyRef_.CompareFullKeys(otherFull_.as<std::byte>(), entryFull_.as<std::byte>(),
                                 partCount);
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
  CheckedRoot(20125);
  if (!def_->Unique && !def_->Primary) return true;
  TABSScanBound equal;
  equal.Condition = 1;
  equal.RecordBuffer = recordBuffer;
  TABSKeyPath path;
  return !ConditionSearch(sessionId, equal, false, path);
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

TABSScanState* TABSBTreeRecordIndex::NewScanState() { return new TABSScanState(); }

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
