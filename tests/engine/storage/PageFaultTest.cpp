// The page manager and its store under failing allocations: every operation
// either happens or raises and leaves pages, numbers and memory as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/storage/ABSBitsArray.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/types/ABSStream.h"
#include "tests/engine/FaultInjection.h"

namespace {

constexpr std::uint16_t kType = 12;

void Fill(TABSMemoryPageManager& m, int n, std::int32_t session = 1) {
  for (int i = 0; i < n; ++i) {
    TABSPage* p = m.AddNewPage(session, kType);
    std::memset(p->GetPageData(), p->PageNo() + 1, 16);
    m.PutPage(p);
  }
  m.CommitSessionPages(session);
}

// What a failed operation must not have changed.
struct Snapshot {
  explicit Snapshot(const TABSMemoryPageManager& m)
      : used(m.GetUsedPageCount()),
        setBits(m.UsedPages().SetBitCount()),
        capacity(m.PageCapacity()),
        length(m.StoreLength()),
        highest(m.HighestPageNo()),
        live(m.LivePageCount()),
        inUse(m.PagesInUse()),
        cache(m.CacheOrder()) {}
  bool operator==(const Snapshot&) const = default;
  std::int32_t used, setBits, capacity, length, highest, live, inUse;
  std::vector<std::int32_t> cache;
};

void ExpectUnchanged(const TABSMemoryPageManager& m, const Snapshot& before) {
  const Snapshot now(m);
  EXPECT_EQ(now.used, before.used);
  EXPECT_EQ(now.setBits, before.setBits);
  EXPECT_EQ(now.capacity, before.capacity);
  EXPECT_EQ(now.length, before.length);
  EXPECT_EQ(now.highest, before.highest);
  EXPECT_EQ(now.live, before.live);
  EXPECT_EQ(now.inUse, before.inUse);
  EXPECT_EQ(now.cache, before.cache);
}

TEST(PageFaultTest, AddNewPageOnAnEmptyStoreAndAtTheGrowthBoundary) {
  for (const int before : {0, 50}) {
    SCOPED_TRACE(before);
    TABSMemoryPageManager m;
    Fill(m, before);
    const Snapshot snap(m);
    TABSPage* page = nullptr;
    const int allocations =
        InjectAllocationFailures([&] { page = m.AddNewPage(2, kType); }, {.AfterFailure = [&] {
                                   ExpectUnchanged(m, snap);
                                   EXPECT_TRUE(m.SessionAllocatedPages(2).empty());
                                   const TABSSortedPageList* list = m.SessionModifiedList(2);
                                   EXPECT_TRUE(list == nullptr || list->Count() == 0);
                                 }});
    EXPECT_GT(allocations, 50) << "fifty store buffers, the bits and the list";
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->PageNo(), before);
    m.PutPage(page);
    m.CommitSessionPages(2);
  }
}

TEST(PageFaultTest, GetPageAndPutPageOfAChangedCachedPage) {
  TABSMemoryPageManager m;
  Fill(m, 3);
  const Snapshot snap(m);
  const int allocations = InjectAllocationFailures(
      [&] {
        TABSPage* p = m.GetPage(2, 1, false, kType);  // session 2's first page
        p->GetPageData()[0] = 42;
        p->MarkModified();
        m.PutPage(p);  // moves to session 2's list: needs no memory
      },
      {.AfterFailure = [&] {
        ExpectUnchanged(m, snap);
        EXPECT_FALSE(m.FindLivePage(1)->IsModified());
      }});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(m.SessionModifiedList(2)->Count(), 1);
  m.CommitSessionPages(2);
  EXPECT_EQ(m.StoredPage(1)[0], 42);
}

TEST(PageFaultTest, CommitAndDiscardNeedNoMemory) {
  TABSMemoryPageManager m;
  Fill(m, 5);
  for (int i = 0; i < 3; ++i) m.PutPage(m.AddNewPage(1, kType));
  m.FreePage(1, 2);
  EXPECT_EQ(InjectAllocationFailures([&] { m.CommitSessionPages(1); }), 0);
  EXPECT_EQ(m.GetUsedPageCount(), 7);
  for (int i = 0; i < 3; ++i) m.PutPage(m.AddNewPage(1, kType));
  EXPECT_EQ(InjectAllocationFailures([&] { m.DiscardSessionPages(1); }), 0);
  EXPECT_EQ(m.GetUsedPageCount(), 7);
}

TEST(PageFaultTest, LoadFromStreamReplacesAllOrNothing) {
  TABSMemoryPageManager source;
  Fill(source, 7);
  TABSMemoryStream stream;
  source.SaveToStream(stream);

  TABSMemoryPageManager target;
  Fill(target, 2);
  const Snapshot snap(target);
  const int allocations = InjectAllocationFailures(
      [&] {
        stream.SetPosition(0);
        target.LoadFromStream(stream);
      },
      {.AfterFailure = [&] {
        ExpectUnchanged(target, snap);
        EXPECT_EQ(target.StoredPage(1)[0], 2);
      }});
  EXPECT_GE(allocations, 50);
  EXPECT_EQ(target.GetUsedPageCount(), 7);
  EXPECT_TRUE(target.UsedPages() == source.UsedPages());
  EXPECT_EQ(target.StoredPage(6)[15], 7);
}

TEST(PageFaultTest, SaveToStreamLeavesTheStoreAlone) {
  TABSMemoryPageManager m;
  Fill(m, 4);
  const Snapshot snap(m);
  TABSMemoryStream stream;
  const int allocations = InjectAllocationFailures(
      [&] {
        stream.SetSize(0);
        m.SaveToStream(stream);
      },
      {.AfterFailure = [&] { ExpectUnchanged(m, snap); }, .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(stream.Size(), 4 * 4 + 2 * 2 + 8 + 7 + 50 * 4096);
}

TEST(PageFaultTest, BitArrayGrowthAndLoad) {
  TABSBitsArray bits;
  bits.Resize(10);
  bits.SetBit(3);
  InjectAllocationFailures([&] { bits.Resize(5000); }, {.AfterFailure = [&] {
                             EXPECT_EQ(bits.BitCount(), 10);
                             EXPECT_EQ(bits.SetBitCount(), 1);
                           }});
  EXPECT_EQ(bits.BitCount(), 5000);
  bits.SetBit(4999);
  constexpr TABSBitsStreamCodes codes{1, 2, 3, 4, 5, 6};
  TABSMemoryStream stream;
  bits.SaveToStream(stream, codes);
  TABSBitsArray loaded;
  const int allocations = InjectAllocationFailures(
      [&] {
        stream.SetPosition(0);
        loaded.LoadFromStream(stream, codes);
      },
      {.AfterFailure = [&] { EXPECT_EQ(loaded.BitCount(), 0); }});
  EXPECT_GT(allocations, 0);
  EXPECT_TRUE(loaded == bits);
}

}  // namespace
