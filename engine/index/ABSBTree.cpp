// Structure of the tree: creating, dropping, emptying and opening its pages,
// insertion with splits and deletion with merges.
#include "engine/index/ABSBTree.h"

#include <algorithm>
#include <cstring>

#include "engine/index/ABSBTreeHeld.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/storage/ABSRecordManager.h"

void TABSKeyPath::Push(std::int32_t pageNo, std::int32_t entryNo, std::int32_t entryCount) {
  if (LevelCount >= kMaxLevels) {
    throw EABSException(native_code::kKeyPathTooDeep, "Index error: key path deeper than %d levels",
                        {kMaxLevels});
  }
  Levels[LevelCount++] = Level{pageNo, entryNo, entryCount};
  CurrentLevel = LevelCount - 1;
}

double TABSKeyPath::RelativePosition() const {
  double position = 0;
  double scale = 1;
  for (std::int32_t i = LevelCount - 1; i >= 0; --i) {
    position += Levels[i].EntryNo * scale;
    scale *= std::max(Levels[i].EntryCount, 1);
  }
  return LevelCount == 0 ? 0 : position / scale;
}

TABSBTreeRecordIndex::TABSBTreeRecordIndex(TABSIndexTable& table, TABSBaseIndexManager* manager)
    : TABSIndex(table, manager) {}

TABSBTreeRecordIndex::~TABSBTreeRecordIndex() = default;

TABSPageManager& TABSBTreeRecordIndex::PageManager() const {
  return pageManager_ != nullptr ? *pageManager_ : Table().IndexPageManager(*def_);
}

std::int32_t TABSBTreeRecordIndex::RootPageNo() const {
  return def_ == nullptr ? -1 : def_->RootPageNo;
}

std::int32_t TABSBTreeRecordIndex::CheckedRoot(std::int32_t code) const {
  const std::int32_t root = RootPageNo();
  if (root < 0) throw EABSException(code, "Invalid page number");
  return root;
}

TABSBTreePageView TABSBTreeRecordIndex::View(const TABSPage& page) const {
  return TABSBTreePageView(page.GetPageData(), keyRef_.KeySize(), page.GetPageDataSize());
}

void TABSBTreeRecordIndex::InitEmptyRoot(TABSPage& page) const {
  View(page).InitHeader(true, true, true);
  page.MarkModified();
}

void TABSBTreeRecordIndex::PrepareLayout() {
  TABSPageManager& pages = Table().IndexPageManager(*def_);
  const std::int32_t dataSize = pages.GetPageSize() - pages.GetPageHeaderSize();
  TABSRecordKeyRef layout;
  layout.PrepareKeyLayout(*def_, Table().IndexFieldManager(), dataSize);
  const std::int32_t recordSize = Table().IndexRecordManager().RecordSize();
  const std::int32_t entryMax = layout.KeySize() + kLeafRefSize;
  // Every buffer first, then the layout: a failure leaves the index as it was.
  TABSMemBlock searchKey(layout.KeySize());
  TABSMemBlock searchFull(layout.FullKeySize());
  TABSMemBlock entryFull(layout.FullKeySize());
  TABSMemBlock otherFull(layout.FullKeySize());
  TABSMemBlock keyScratch(static_cast<std::int64_t>(layout.KeySize()) * 3 + 16);
  TABSMemBlock record(std::max(recordSize, 1));
  TABSMemBlock split(dataSize + entryMax);
  TABSMemBlock lengths(static_cast<std::int64_t>(sizeof(std::int32_t)) *
                       std::max(layout.PartCount(), 1));
  TABSMemBlock probeKey(layout.KeySize());
  TABSMemBlock appendKey(layout.KeySize());
  probe_.Valid = append_.Valid = false;
  keyRef_ = layout;
  dataSize_ = dataSize;
  searchKey_ = std::move(searchKey);
  searchFull_ = std::move(searchFull);
  entryFull_ = std::move(entryFull);
  otherFull_ = std::move(otherFull);
  keyScratch_ = std::move(keyScratch);
  record_ = std::move(record);
  splitArea_ = std::move(split);
  lengths_ = std::move(lengths);
  probeKey_ = std::move(probeKey);
  appendKey_ = std::move(appendKey);
  pageManager_ = &pages;
}

void TABSBTreeRecordIndex::CreateIndexPages(std::int32_t sessionId, TABSCursorState* cursor,
                                            const TABSIndexDef& def) {
  TABSIndex::CreateIndexPages(sessionId, cursor, def);
  PrepareLayout();
  {
    HeldPages held(PageManager(), sessionId);
    TABSPage& root = held.AddNew();
    InitEmptyRoot(root);
    def_->RootPageNo = root.PageNo();
    def_->KeySize = keyRef_.KeySize();
  }
  if (cursor == nullptr) return;
  // The table's records in record order, as a walk from before the first.
  TABSBaseRecordManager& records = Table().IndexRecordManager();
  TABSMemBlock buffer(std::max(records.RecordSize(), 1));
  NavigationRequest request;
  request.Direction = FetchMode::Next;
  request.BeforeFirst = true;
  request.RecordBuffer = buffer.get();
  for (;;) {
    records.NavigateRecord(sessionId, request);
    if (request.Result != FetchResult::Found) break;
    InsertKey(sessionId, buffer.as<std::byte>(), request.Position);
  }
}

void TABSBTreeRecordIndex::OpenIndex(const TABSIndexDef& def) {
  TABSIndex::OpenIndex(def);
  PrepareLayout();
}

void TABSBTreeRecordIndex::CollectPages(std::int32_t sessionId, std::vector<std::int32_t>& pages) {
  // Level by level: the leftmost page of each level, then its chain.
  std::int32_t first = RootPageNo();
  while (first != -1) {
    std::int32_t below = -1;
    for (std::int32_t no = first; no != -1;) {
      HeldPages held(PageManager(), sessionId);
      const TABSBTreePageView v = View(held.Get(no));
      pages.push_back(no);
      if (no == first && !v.IsLeaf() && v.Count() > 0) below = v.Child(0);
      no = v.NextPageNo();
    }
    first = below;
  }
}

void TABSBTreeRecordIndex::DropIndexPages(std::int32_t sessionId) {
  CheckedRoot(20119);
  probe_.Valid = append_.Valid = false;
  std::vector<std::int32_t> pages;
  CollectPages(sessionId, pages);
  for (std::int32_t no : pages) PageManager().FreePage(sessionId, no);
  def_->RootPageNo = -1;
}

void TABSBTreeRecordIndex::EmptyIndex(std::int32_t sessionId) {
  const std::int32_t root = CheckedRoot(20120);
  probe_.Valid = append_.Valid = false;
  std::vector<std::int32_t> pages;
  CollectPages(sessionId, pages);
  {
    HeldPages held(PageManager(), sessionId);
    InitEmptyRoot(held.Get(root));
  }
  for (std::int32_t no : pages) {
    if (no != root) PageManager().FreePage(sessionId, no);
  }
}

void TABSBTreeRecordIndex::RebuildIndex(std::int32_t sessionId, TABSCursorState* cursor) {
  if (RootPageNo() >= 0) DropIndexPages(sessionId);
  CreateIndexPages(sessionId, cursor, *def_);
}

void TABSBTreeRecordIndex::KeysPerPage(std::int32_t& keys, std::int32_t& remainder) {
  const std::int32_t area = PageManager().GetKeyAreaSize();
  const std::int32_t size = keyRef_.KeySize() + 4;
  keys = area / size;
  remainder = area % size;
}

// ---- Insertion ----

void TABSBTreeRecordIndex::InsertRecordKey(std::int32_t sessionId, const TABSCursorState& cursor) {
  InsertKey(sessionId, cursor.CurrentBuffer, cursor.Position);
}

void TABSBTreeRecordIndex::InsertKey(std::int32_t sessionId, const std::byte* recordBuffer,
                                     const RecordPosition& position) {
  CheckedRoot(20126);
  const Target t = TargetOf(recordBuffer, &position, true);
  HeldPages held(PageManager(), sessionId);
  TABSKeyPath& path = path_;
  if (const TABSKeyPath* probed = ProbedPath(sessionId, t.Key)) {
    path.CopyFrom(*probed);
  } else if (!AppendPath(sessionId, t, path)) {
    Descend(sessionId, held, t, Child::Strict, false, path);
  }
  probe_.Valid = append_.Valid = false;

  // Which levels split: the leaf when it is full, then every full parent
  // above a split. Fetch their next pages and reserve the new pages before
  // anything changes.
  std::int32_t newPages = 0;
  for (std::int32_t level = path.LevelCount - 1; level >= 0; --level) {
    const TABSBTreePageView v = View(held.Get(path.Levels[level].PageNo));
    if (v.Count() < v.Capacity()) break;
    if (level == 0) {
      newPages += 2;
      break;
    }
    ++newPages;
    if (v.NextPageNo() != -1) held.Get(v.NextPageNo());
  }
  if (newPages > 0) PageManager().ReservePages(sessionId, newPages);

  // The entry to place: key, then the record position.
  std::uint8_t* entry = keyScratch_.as<std::uint8_t>();
  std::byte* sepKey = keyScratch_.as<std::byte>() + keyRef_.KeySize() + 8;
  std::memcpy(entry, t.Key, static_cast<std::size_t>(keyRef_.KeySize()));
  position.Store(entry + keyRef_.KeySize());
  for (std::int32_t level = path.LevelCount - 1; level >= 0; --level) {
    TABSPage& page = held.Get(path.Levels[level].PageNo);
    TABSBTreePageView v = View(page);
    const std::int32_t at = path.Levels[level].EntryNo;
    if (v.Count() < v.Capacity()) {
      const bool atEnd = level == path.LevelCount - 1 && at == v.Count() && v.NextPageNo() == -1;
      v.InsertEntry(at, entry, entry + keyRef_.KeySize());
      page.MarkModified();
      if (atEnd) {
        // The rightmost leaf grew at its end; the levels above are unchanged.
        append_.Path.CopyFrom(path);
        append_.Path.Leaf().EntryNo = at + 1;
        append_.Path.Leaf().EntryCount = at + 1;
        append_.LastPosition = position;
        std::memcpy(appendKey_.get(), t.Key, static_cast<std::size_t>(keyRef_.KeySize()));
        append_.SessionId = sessionId;
        append_.RootPageNo = RootPageNo();
        append_.RevertCount = PageManager().RevertCount();
        append_.Valid = true;
      }
      return;
    }
    if (level == 0) {
      SplitRoot(held, page, at, entry);
      return;
    }
    std::int32_t newPageNo = -1;
    SplitInto(held, v, page, at, entry, sepKey, newPageNo);
    // The parent gets (first key of the new page, new page) after the entry
    // that leads to the old page.
    std::memcpy(entry, sepKey, static_cast<std::size_t>(keyRef_.KeySize()));
    StoreLE<std::int32_t>(entry + keyRef_.KeySize(), newPageNo);
    path.Levels[level - 1].EntryNo += 1;
  }
}

namespace {

// The entries of `v` with `entry` placed at `at`, into `area`; returns the count.
std::int32_t GatherWithEntry(const TABSBTreePageView& v, std::int32_t at, const std::uint8_t* entry,
                             std::uint8_t* area) {
  const std::int32_t e = v.EntrySize();
  const std::int32_t n = v.Count();
  std::memcpy(area, v.Entry(0), static_cast<std::size_t>(at) * e);
  std::memcpy(area + static_cast<std::size_t>(at) * e, entry, static_cast<std::size_t>(e));
  std::memcpy(area + static_cast<std::size_t>(at + 1) * e, v.Entry(at),
              static_cast<std::size_t>(n - at) * e);
  return n + 1;
}

}  // namespace

void TABSBTreeRecordIndex::SplitInto(HeldPages& held, TABSBTreePageView& x, TABSPage& xPage,
                                     std::int32_t at, const std::uint8_t* entry, std::byte* sepKey,
                                     std::int32_t& newPageNo) {
  const std::int32_t e = x.EntrySize();
  auto* area = splitArea_.as<std::uint8_t>();
  const std::int32_t n = GatherWithEntry(x, at, entry, area);
  const std::int32_t left = n / 2;
  TABSPage& yPage = held.AddNew();
  TABSBTreePageView y = View(yPage);
  y.InitHeader(false, x.IsLeaf(), false);
  y.SetPrev(xPage.PageNo());
  y.SetNext(x.NextPageNo());
  std::memcpy(y.Entry(0), area + static_cast<std::size_t>(left) * e,
              static_cast<std::size_t>(n - left) * e);
  y.SetCount(n - left);
  std::memcpy(x.Entry(0), area, static_cast<std::size_t>(left) * e);
  x.SetCount(left);
  if (x.NextPageNo() != -1) {
    TABSPage& next = held.Get(x.NextPageNo());
    View(next).SetPrev(yPage.PageNo());
    next.MarkModified();
  }
  x.SetNext(yPage.PageNo());
  xPage.MarkModified();
  yPage.MarkModified();
  std::memcpy(sepKey, y.Key(0), static_cast<std::size_t>(keyRef_.KeySize()));
  newPageNo = yPage.PageNo();
}

void TABSBTreeRecordIndex::SplitRoot(HeldPages& held, TABSPage& rootPage, std::int32_t at,
                                     const std::uint8_t* entry) {
  TABSBTreePageView r = View(rootPage);
  const bool leaf = r.IsLeaf();
  const std::int32_t e = r.EntrySize();
  auto* area = splitArea_.as<std::uint8_t>();
  const std::int32_t n = GatherWithEntry(r, at, entry, area);
  const std::int32_t left = n / 2;
  TABSPage& aPage = held.AddNew();
  TABSPage& bPage = held.AddNew();
  TABSBTreePageView a = View(aPage);
  TABSBTreePageView b = View(bPage);
  a.InitHeader(false, leaf, false);
  b.InitHeader(false, leaf, false);
  a.SetNext(bPage.PageNo());
  b.SetPrev(aPage.PageNo());
  std::memcpy(a.Entry(0), area, static_cast<std::size_t>(left) * e);
  a.SetCount(left);
  std::memcpy(b.Entry(0), area + static_cast<std::size_t>(left) * e,
              static_cast<std::size_t>(n - left) * e);
  b.SetCount(n - left);
  r.InitHeader(true, false, false);
  const std::int32_t k = keyRef_.KeySize();
  std::memset(r.Entry(0), 0, static_cast<std::size_t>(k));
  r.SetChild(0, aPage.PageNo());
  r.SetKey(1, b.Key(0));
  r.SetChild(1, bPage.PageNo());
  r.SetCount(2);
  aPage.MarkModified();
  bPage.MarkModified();
  rootPage.MarkModified();
}

// ---- Deletion ----

void TABSBTreeRecordIndex::DeleteRecordKey(std::int32_t sessionId, const TABSCursorState& cursor) {
  DeleteKey(sessionId, cursor.CurrentBuffer, cursor.Position, 20027);
}

void TABSBTreeRecordIndex::DeleteKey(std::int32_t sessionId, const std::byte* recordBuffer,
                                     const RecordPosition& position, std::int32_t notFoundCode) {
  CheckedRoot(20127);
  probe_.Valid = append_.Valid = false;
  const Target t = TargetOf(recordBuffer, &position, true);
  HeldPages held(PageManager(), sessionId);
  TABSKeyPath& path = path_;
  if (!FindExact(sessionId, held, t, path)) {
    throw EABSException(notFoundCode, "Index error: cannot delete entry. Entry not found");
  }
  PrefetchForDelete(held, path);
  std::vector<std::int32_t> freed;
  RemoveAt(held, path, path.LevelCount - 1, path.Leaf().EntryNo, freed);
  held.ReleaseAll();
  for (std::int32_t no : freed) PageManager().FreePage(sessionId, no);
}

void TABSBTreeRecordIndex::PrefetchForDelete(HeldPages& held, const TABSKeyPath& path) {
  // Levels that may merge: from the leaf up while a page would be below half
  // after losing one entry. Their neighbours are read now, and for node
  // pages the leftmost pages below them (their first key), so that the
  // merge itself fetches nothing new.
  for (std::int32_t level = path.LevelCount - 1; level >= 1; --level) {
    TABSBTreePageView v = View(held.Get(path.Levels[level].PageNo));
    const bool mayMerge = (v.Count() - 1) * v.EntrySize() < (v.DataSize() - kBTreeHeaderSize) / 2;
    if (!mayMerge) break;
    const std::int32_t prev = v.PrevPageNo();
    const std::int32_t next = v.NextPageNo();
    if (prev != -1) held.Get(prev);
    if (next != -1) {
      const TABSBTreePageView n = View(held.Get(next));
      if (level == 1 && !n.IsLeaf() && n.Count() > 0) held.Get(n.Child(0));
    }
    if (!v.IsLeaf()) {
      const std::byte* key;
      RecordPosition unused;
      FirstLeafEntry(held, path.Levels[level].PageNo, key, unused);
    }
  }
}

const std::byte* TABSBTreeRecordIndex::SubtreeFirstKey(HeldPages& held, const TABSKeyPath& path,
                                                       std::int32_t level) {
  for (std::int32_t a = level - 1; a >= 0; --a) {
    const std::int32_t entryNo = path.Levels[a].EntryNo;
    if (entryNo > 0) return View(held.Get(path.Levels[a].PageNo)).Key(entryNo);
  }
  return nullptr;
}

void TABSBTreeRecordIndex::SetSubtreeFirstKey(HeldPages& held, const TABSKeyPath& path,
                                              std::int32_t level, const std::byte* key) {
  for (std::int32_t a = level - 1; a >= 0; --a) {
    const std::int32_t entryNo = path.Levels[a].EntryNo;
    if (entryNo > 0) {
      TABSPage& page = held.Get(path.Levels[a].PageNo);
      View(page).SetKey(entryNo, key);
      page.MarkModified();
      return;
    }
  }
}

void TABSBTreeRecordIndex::RemoveAt(HeldPages& held, TABSKeyPath& path, std::int32_t level,
                                    std::int32_t index, std::vector<std::int32_t>& freed) {
  const std::int32_t k = keyRef_.KeySize();
  std::byte* scratch = keyScratch_.as<std::byte>();
  std::byte* newFirst = scratch;    // the page's first key after the removal
  std::byte* xFirst = scratch + k;  // the first key below a page that merges away
  std::byte* nextKey = scratch + 2 * k;
  TABSPage& xPage = held.Get(path.Levels[level].PageNo);
  TABSBTreePageView x = View(xPage);
  if (x.Count() == 0) throw EABSException(20025, "Index error: page is empty");
  const bool firstChanges = index == 0 && x.Count() > 1;
  if (firstChanges) std::memcpy(newFirst, x.Key(1), static_cast<std::size_t>(k));
  x.RemoveEntry(index);
  xPage.MarkModified();
  if (firstChanges) SetSubtreeFirstKey(held, path, level, newFirst);
  if (level == 0) {
    CollapseRoot(held, freed);
    return;
  }
  if (!x.IsUnderfull()) return;

  const std::int32_t e = x.EntrySize();
  const std::int32_t room = x.DataSize() - kBTreeHeaderSize;
  const auto fits = [&](const TABSBTreePageView& sibling) {
    const std::int32_t bytes = (sibling.Count() + x.Count()) * e;
    // An empty page always goes: it may merge into a page that is exactly full.
    return x.Count() == 0 ? bytes <= room : bytes + kBTreeHeaderSize < x.DataSize();
  };
  const std::int32_t prevNo = x.PrevPageNo();
  const std::int32_t nextNo = x.NextPageNo();
  const std::int32_t xNo = xPage.PageNo();

  if (prevNo != -1) {
    TABSPage& pPage = held.Get(prevNo);
    TABSBTreePageView p = View(pPage);
    if (fits(p)) {
      // Entry 0 of a node gets the real first key of its child.
      // (A page with a previous page is never the leftmost below every
      // ancestor, so the key exists.)
      if (!x.IsLeaf() && x.Count() > 0) {
        const std::byte* first = SubtreeFirstKey(held, path, level);
        if (first == nullptr) throw EABSException(20024, "Internal index error");
        x.SetKey(0, first);
      }
      std::memcpy(p.Entry(p.Count()), x.Entry(0), static_cast<std::size_t>(x.Count()) * e);
      p.SetCount(p.Count() + x.Count());
      p.SetNext(nextNo);
      pPage.MarkModified();
      if (nextNo != -1) {
        TABSPage& nPage = held.Get(nextNo);
        View(nPage).SetPrev(prevNo);
        nPage.MarkModified();
      }
      x.SetCount(0);
      freed.push_back(xNo);
      RemoveAt(held, path, level - 1, path.Levels[level - 1].EntryNo, freed);
      return;
    }
  }
  if (nextNo != -1) {
    TABSPage& nPage = held.Get(nextNo);
    TABSBTreePageView n = View(nPage);
    if (fits(n)) {
      // The ancestor whose entry after the path leads to the next page.
      std::int32_t a = level - 1;
      while (a >= 0 &&
             path.Levels[a].EntryNo >= View(held.Get(path.Levels[a].PageNo)).Count() - 1) {
        --a;
      }
      const bool hadEntries = x.Count() > 0;
      if (hadEntries) {
        if (x.IsLeaf()) {
          std::memcpy(xFirst, x.Key(0), static_cast<std::size_t>(k));
        } else {
          const std::byte* key = nullptr;
          RecordPosition unused;
          FirstLeafEntry(held, xNo, key, unused);
          std::memcpy(xFirst, key, static_cast<std::size_t>(k));
        }
      }
      if (!n.IsLeaf() && n.Count() > 0 && a >= 0) {
        const TABSBTreePageView av = View(held.Get(path.Levels[a].PageNo));
        std::memcpy(nextKey, av.Key(path.Levels[a].EntryNo + 1), static_cast<std::size_t>(k));
        n.SetKey(0, nextKey);
      }
      std::memmove(n.Entry(x.Count()), n.Entry(0), static_cast<std::size_t>(n.Count()) * e);
      std::memcpy(n.Entry(0), x.Entry(0), static_cast<std::size_t>(x.Count()) * e);
      n.SetCount(n.Count() + x.Count());
      n.SetPrev(prevNo);
      nPage.MarkModified();
      if (prevNo != -1) {
        TABSPage& pPage = held.Get(prevNo);
        View(pPage).SetNext(nextNo);
        pPage.MarkModified();
      }
      if (hadEntries && a >= 0) {
        TABSPage& aPage = held.Get(path.Levels[a].PageNo);
        View(aPage).SetKey(path.Levels[a].EntryNo + 1, xFirst);
        aPage.MarkModified();
      }
      x.SetCount(0);
      freed.push_back(xNo);
      RemoveAt(held, path, level - 1, path.Levels[level - 1].EntryNo, freed);
      return;
    }
  }
}

void TABSBTreeRecordIndex::CollapseRoot(HeldPages& held, std::vector<std::int32_t>& freed) {
  TABSPage& rootPage = held.Get(RootPageNo());
  TABSBTreePageView r = View(rootPage);
  while (!r.IsLeaf() && r.Count() == 1) {
    const std::int32_t childNo = r.Child(0);
    TABSPage& child = held.Get(childNo);
    const TABSBTreePageView c = View(child);
    std::memcpy(r.Data(), c.Data(),
                static_cast<std::size_t>(kBTreeHeaderSize + c.Count() * c.EntrySize()));
    r.SetRoot(true);
    r.SetPrev(-1);
    r.SetNext(-1);
    rootPage.MarkModified();
    freed.push_back(childNo);
  }
}
