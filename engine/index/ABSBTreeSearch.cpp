// Searches of the tree: descent, bounds, paths and their steps, condition
// searches.
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
  if (keyRef_.IsSingleInteger() && t.Lengths == nullptr && t.PartLimit != 0) {
    const int c = keyRef_.CompareSingleInteger(t.Key, key);
    if (c != 0 || !t.HasPosition) return c;
    return ComparePositions(t.Position, position);
  }
  const bool settle = t.FullKey != nullptr;
  bool loaded = false;
  std::int32_t from = 0;
  for (;;) {
    std::int32_t tied = -1;
    const int c = keyRef_.CompareKeysFrom(t.Key, key, from, t.Lengths, t.PartLimit, settle, tied);
    if (c != 0) return c;
    if (tied < 0) break;
    // Equal prefixes: the whole values of the entry's record decide.
    if (!loaded) {
      ReadRecord(sessionId, position, record_.get(), 20170);
      keyRef_.BuildFullKey(record_.as<std::byte>(), entryFull_.as<std::byte>());
      loaded = true;
    }
    const int w = keyRef_.CompareFullPart(tied, t.FullKey, entryFull_.as<std::byte>());
    if (w != 0) return w;
    from = tied + 1;
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
    // Separators decide up to the first prefix part they tie on.
    std::int32_t tied = -1;
    const int c = keyRef_.IsSingleInteger() && t.Lengths == nullptr && t.PartLimit != 0
                      ? keyRef_.CompareSingleInteger(v.Key(mid), t.Key)
                      : keyRef_.CompareKeysFrom(v.Key(mid), t.Key, 0, t.Lengths, t.PartLimit,
                                                t.FullKey != nullptr, tied);
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
  return CompareEntry(sessionId, t, v.Key(leaf.EntryNo),
                      RecordPosition::Load(v.Ref(leaf.EntryNo))) == 0;
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
  const std::int32_t step = backward ? -1 : 1;
  if (level == path.LevelCount - 1) {
    // Within the leaf: nothing to read.
    path.Levels[level].EntryNo += step;
    return true;
  }
  // Read the new pages first: a failure leaves the path as it was.
  TABSKeyPath::Level moved[TABSKeyPath::kMaxLevels];
  HeldPages held(PageManager(), sessionId);
  for (std::int32_t l = level + 1; l < path.LevelCount; ++l) {
    const TABSBTreePageView v = View(held.Get(path.Levels[l].PageNo));
    const std::int32_t neighbour = backward ? v.PrevPageNo() : v.NextPageNo();
    if (neighbour == -1) {
      throw EABSException(backward ? 20071 : 20070, "Index error: invalid page number");
    }
    const TABSBTreePageView n = View(held.Get(neighbour));
    moved[l] = TABSKeyPath::Level{neighbour, backward ? n.Count() - 1 : 0, n.Count()};
  }
  path.Levels[level].EntryNo += step;
  for (std::int32_t l = level + 1; l < path.LevelCount; ++l) path.Levels[l] = moved[l];
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
  return LeafReference(sessionId, path);
}

RecordPosition TABSBTreeRecordIndex::LeafReference(std::int32_t sessionId, const TABSKeyPath& path,
                                                   TABSIndexPositionCache* nearby) {
  if (path.LevelCount == 0) throw EABSException(20068, "Index error: invalid position");
  const TABSKeyPath::Level& leaf = path.Leaf();
  TABSPageManager& pages = PageManager();
  TABSPage* page = pages.GetPage(sessionId, leaf.PageNo, false, kBTreePageType);
  const TABSBTreePageView v = View(*page);
  const bool valid = v.IsLeaf() && leaf.EntryNo >= 0 && leaf.EntryNo < v.Count();
  const RecordPosition position =
      valid ? RecordPosition::Load(v.Ref(leaf.EntryNo)) : RecordPosition{};
  if (nearby != nullptr) {
    nearby->NearbyCount = 0;
    if (valid) {
      // The entries from this one on, or the last ones of the leaf when
      // this one is near its end (a backward walk).
      const std::int32_t n = v.Count();
      const std::int32_t count = std::min(n, TABSIndexPositionCache::kNearby);
      const std::int32_t from = std::min(leaf.EntryNo, n - count);
      for (std::int32_t i = 0; i < count; ++i) {
        nearby->Nearby[i] = RecordPosition::Load(v.Ref(from + i));
      }
      nearby->NearbyPage = leaf.PageNo;
      nearby->NearbyFrom = from;
      nearby->NearbyCount = count;
      nearby->NearbyRevert = pages.RevertCount();
    }
  }
  pages.PutPage(page);
  if (!valid) throw EABSException(20069, "Index error: invalid position");
  return position;
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
  // One holder for the whole search: the leaf reached by the descent is
  // usually the one whose entry is looked at.
  HeldPages held(PageManager(), sessionId);
  const auto entryAt = [&](const TABSKeyPath& p) {
    const TABSBTreePageView v = View(held.Get(p.Leaf().PageNo));
    return CompareEntry(sessionId, t, v.Key(p.Leaf().EntryNo),
                        RecordPosition::Load(v.Ref(p.Leaf().EntryNo)));
  };
  // The first entry >= t (upper: > t); false when every entry is below.
  const auto bound_ = [&](bool upper) {
    Descend(sessionId, held, t, upper ? Child::NotStrict : Child::Strict, upper, path);
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

TABSKeyPath* TABSBTreeRecordIndex::NewKeyPath() {
  return new TABSKeyPath();
}

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
