#include "tests/engine/index/BTreeChecker.h"

#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/storage/ABSRecordManager.h"

namespace {

struct Walker {
  TABSBTreeRecordIndex& index;
  TABSPageManager& pages;
  std::int32_t session;
  const TABSRecordKeyRef& keys;
  std::set<std::int32_t> seen;
  std::map<std::int32_t, std::vector<std::int32_t>> levels;  // level -> pages in order
  std::vector<std::vector<std::byte>> leafKeys;
  std::vector<RecordPosition> leafRefs;
  std::int32_t leafDepth = -1;
  std::string error;

  bool Fail(const std::string& what, std::int32_t pageNo) {
    if (error.empty()) error = what + " (page " + std::to_string(pageNo) + ")";
    return false;
  }

  // Copies the page's header and entries, so no page stays held during the walk.
  std::vector<std::uint8_t> Read(std::int32_t pageNo) {
    TABSPage* page = pages.GetPage(session, pageNo, false, kBTreePageType);
    std::vector<std::uint8_t> copy(page->GetPageData(),
                                   page->GetPageData() + page->GetPageDataSize());
    pages.PutPage(page);
    return copy;
  }

  // Returns the first leaf key below the page (into `first`).
  bool Walk(std::int32_t pageNo, std::int32_t depth, bool isRoot, std::vector<std::byte>& first) {
    if (!seen.insert(pageNo).second) return Fail("page reached twice", pageNo);
    std::vector<std::uint8_t> data = Read(pageNo);
    TABSBTreePageView v(data.data(), keys.KeySize(), static_cast<std::int32_t>(data.size()));
    levels[depth].push_back(pageNo);
    if (v.IsRoot() != isRoot) return Fail("root flag wrong", pageNo);
    if (v.StoredKeySize() != keys.KeySize()) return Fail("key size wrong", pageNo);
    if (v.Count() > v.Capacity()) return Fail("more entries than fit", pageNo);
    if (!isRoot && v.Count() == 0) return Fail("empty page below the root", pageNo);
    if (isRoot && !v.IsLeaf() && v.Count() < 2) return Fail("root node with one entry", pageNo);
    const auto k = static_cast<std::size_t>(keys.KeySize());
    if (v.IsLeaf()) {
      if (leafDepth == -1) leafDepth = depth;
      if (leafDepth != depth) return Fail("leaves at different depths", pageNo);
      for (std::int32_t i = 0; i < v.Count(); ++i) {
        leafKeys.emplace_back(v.Key(i), v.Key(i) + k);
        leafRefs.push_back(RecordPosition::Load(v.Ref(i)));
      }
      if (v.Count() > 0) first.assign(v.Key(0), v.Key(0) + k);
      return true;
    }
    for (std::int32_t i = 0; i < v.Count(); ++i) {
      std::vector<std::byte> childFirst;
      if (!Walk(v.Child(i), depth + 1, false, childFirst)) return false;
      if (i == 0) first = childFirst;
      if (i > 0 && std::memcmp(v.Key(i), childFirst.data(), k) != 0) {
        return Fail("separator " + std::to_string(i) + " differs from its child's first key",
                    pageNo);
      }
    }
    return true;
  }

  bool Chains() {
    for (const auto& [depth, list] : levels) {
      for (std::size_t i = 0; i < list.size(); ++i) {
        std::vector<std::uint8_t> data = Read(list[i]);
        TABSBTreePageView v(data.data(), keys.KeySize(), static_cast<std::int32_t>(data.size()));
        const std::int32_t prev = i == 0 ? -1 : list[i - 1];
        const std::int32_t next = i + 1 == list.size() ? -1 : list[i + 1];
        if (v.PrevPageNo() != prev) return Fail("previous link wrong", list[i]);
        if (v.NextPageNo() != next) return Fail("next link wrong", list[i]);
        if (v.IsLeaf() != (depth == leafDepth))
          return Fail("page kind wrong for its level", list[i]);
      }
    }
    return true;
  }

  // The index order of two leaf entries, whole values read from their records.
  int CompareEntries(std::size_t i, std::size_t j) {
    TABSBaseRecordManager& records = index.Table().IndexRecordManager();
    TABSMemBlock ra(records.RecordSize());
    TABSMemBlock rb(records.RecordSize());
    for (auto [pos, buf] : {std::pair{leafRefs[i], &ra}, std::pair{leafRefs[j], &rb}}) {
      NavigationRequest r;
      r.Direction = FetchMode::Current;
      r.Position = pos;
      r.RecordBuffer = buf->get();
      records.NavigateRecord(session, r);
      if (r.Result != FetchResult::Found) return 2;
    }
    TABSMemBlock fa(keys.FullKeySize());
    TABSMemBlock fb(keys.FullKeySize());
    keys.BuildFullKey(ra.as<std::byte>(), fa.as<std::byte>());
    keys.BuildFullKey(rb.as<std::byte>(), fb.as<std::byte>());
    return keys.CompareEntryKeys(leafKeys[i].data(), fa.as<std::byte>(), leafKeys[j].data(),
                                 fb.as<std::byte>());
  }

  bool Ordered() {
    for (std::size_t i = 1; i < leafKeys.size(); ++i) {
      int c = keys.HasPrefixParts() ? CompareEntries(i - 1, i)
                                    : keys.CompareKeys(leafKeys[i - 1].data(), leafKeys[i].data());
      if (c == 2) return Fail("leaf entry without its record at " + std::to_string(i), -1);
      if (c == 0) {
        const RecordPosition& a = leafRefs[i - 1];
        const RecordPosition& b = leafRefs[i];
        c = a.RecordId != b.RecordId
                ? (a.RecordId < b.RecordId ? -1 : 1)
                : (a.SubPosition < b.SubPosition ? -1 : (a.SubPosition > b.SubPosition ? 1 : 0));
      }
      if (c >= 0) return Fail("leaf entries out of order at " + std::to_string(i), -1);
    }
    return true;
  }
};

}  // namespace

std::string CheckBTree(TABSBTreeRecordIndex& index, std::int32_t sessionId,
                       std::vector<RecordPosition>* leafOrder, std::int32_t* pageCount) {
  if (index.RootPageNo() < 0) return "index has no root page";
  Walker w{index, index.PageManager(), sessionId, index.KeyRef(), {}, {}, {}, {}, -1, {}};
  if (w.pages.PagesInUse() != 0) return "pages in use before the check";
  std::vector<std::byte> first;
  if (w.Walk(index.RootPageNo(), 0, true, first) && w.Chains()) w.Ordered();
  if (w.error.empty() && w.pages.PagesInUse() != 0) w.error = "pages left in use";
  if (leafOrder != nullptr) *leafOrder = w.leafRefs;
  if (pageCount != nullptr) *pageCount = static_cast<std::int32_t>(w.seen.size());
  return w.error;
}
