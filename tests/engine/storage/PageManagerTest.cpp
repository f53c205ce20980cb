#include "engine/storage/ABSPageManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSMemory.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "tests/engine/RaisedError.h"

namespace {

constexpr std::uint16_t kType = 12;

std::int32_t TagOf(const TABSPage* page) {
  return LoadLE<std::int32_t>(page->GetPageData());
}
std::int32_t StoredTag(const TABSMemoryPageManager& m, std::int32_t no) {
  return LoadLE<std::int32_t>(m.StoredPage(no));
}

class PageManagerTest : public ::testing::Test {
 protected:
  PageManagerTest() { m_.SetCacheCapacityForTesting(3); }

  // n new pages for `session`, each tagged with 1000 + its number, committed.
  void Fill(int n, std::int32_t session = 1) {
    for (int i = 0; i < n; ++i) {
      TABSPage* p = m_.AddNewPage(session, kType);
      StoreLE<std::int32_t>(p->GetPageData(), 1000 + p->PageNo());
      m_.PutPage(p);
    }
    m_.CommitSessionPages(session);
  }
  // Gets and puts back page `no` unchanged.
  void Visit(std::int32_t no, std::int32_t session = 1) {
    m_.PutPage(m_.GetPage(session, no, false, kType));
  }

  TABSMemoryPageManager m_;
};

TEST_F(PageManagerTest, CommittedPagesAreCachedUnmodifiedAndGotBackAsTheSameObject) {
  TABSPage* p = m_.AddNewPage(1, kType);
  EXPECT_EQ(p->PageNo(), 0);
  EXPECT_TRUE(p->IsModified());
  EXPECT_EQ(p->UseCount(), 1);
  EXPECT_FALSE(p->OwnsBuffer());
  EXPECT_EQ(p->ModifiedList(), m_.SessionModifiedList(1));
  StoreLE<std::int32_t>(p->GetPageData(), 77);
  m_.PutPage(p);
  EXPECT_EQ(m_.SessionAllocatedPages(1), std::vector<std::int32_t>{0});
  m_.CommitSessionPages(1);
  EXPECT_TRUE(m_.SessionAllocatedPages(1).empty());
  EXPECT_EQ(m_.SessionModifiedList(1)->Count(), 0);
  ASSERT_TRUE(m_.IsPageCached(0));
  TABSPage* again = m_.GetPage(2, 0, true, kType);
  EXPECT_EQ(again, p);
  EXPECT_FALSE(again->IsModified());
  EXPECT_EQ(again->SessionId(), 2);
  EXPECT_EQ(TagOf(again), 77);
  m_.PutPage(again);
  EXPECT_EQ(StoredTag(m_, 0), 77);
}

TEST_F(PageManagerTest, SessionRulesAndTheirCodes) {
  Fill(2);
  EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(-1, 0, false, kType); }), 20186);
  // Commit of a session that never touched the manager does nothing.
  const std::int32_t sessions = m_.SessionCount();
  m_.CommitSessionPages(42);
  EXPECT_EQ(m_.SessionCount(), sessions);
  // A held cached page blocks its session's commit.
  TABSPage* held = m_.GetPage(1, 1, false, kType);
  EXPECT_EQ(NativeErrorOf([&] { m_.CommitSessionPages(1); }), 20152);
  m_.PutPage(held);
  m_.CommitSessionPages(1);
  EXPECT_EQ(m_.PagesInUse(), 0);
}

TEST_F(PageManagerTest, EvictionWithCacheOfThree) {
  Fill(6);  // pages 0-2 cached on commit, 3-5 destroyed (cache full)
  EXPECT_EQ(m_.CacheOrder(), (std::vector<std::int32_t>{0, 1, 2}));
  EXPECT_EQ(m_.LivePageCount(), 3);
  Visit(3);  // read into the cache; the least recently used page leaves
  EXPECT_EQ(m_.CacheOrder(), (std::vector<std::int32_t>{1, 2, 3}));
  Visit(1);  // a hit becomes the most recent
  EXPECT_EQ(m_.CacheOrder(), (std::vector<std::int32_t>{2, 3, 1}));

  // The LRU page in use is not evicted: the cache stays one above capacity.
  TABSPage* held = m_.GetPage(1, 2, false, kType);
  Visit(4);
  EXPECT_EQ(m_.CacheCount(), 4);
  EXPECT_EQ(m_.CacheOrder(), (std::vector<std::int32_t>{2, 3, 1, 4}));
  m_.PutPage(held);  // 2 becomes the most recent, 3 is now the oldest
  EXPECT_EQ(m_.CacheOrder(), (std::vector<std::int32_t>{1, 4, 2}));

  // A modified page leaves the cache for its session's list, never evicted.
  TABSPage* p = m_.GetPage(1, 4, false, kType);
  StoreLE<std::int32_t>(p->GetPageData(), 4444);
  p->MarkModified();
  m_.PutPage(p);
  EXPECT_FALSE(m_.IsPageCached(4));
  EXPECT_EQ(m_.SessionModifiedList(1)->FindPage(4), p);
  Visit(5);
  Visit(0);
  Visit(3);
  EXPECT_EQ(m_.FindLivePage(4), p);
  m_.CommitSessionPages(1);
  EXPECT_EQ(StoredTag(m_, 4), 4444);
  EXPECT_LE(m_.CacheCount(), 3);
}

TEST_F(PageManagerTest, PageHeldOrUncommittedByAnotherSessionIsRefused) {
  Fill(1);
  // Held by session 1.
  TABSPage* held = m_.GetPage(1, 0, false, kType);
  EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(2, 0, false, kType); }), 20090);
  m_.PutPage(held);

  // Created by session 1 and put back, not committed: no second copy.
  TABSPage* fresh = m_.AddNewPage(1, kType);
  const std::int32_t no = fresh->PageNo();
  m_.PutPage(fresh);
  EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(2, no, false, kType); }), 20090);
  // Changed by session 1 and put back.
  TABSPage* changed = m_.GetPage(1, 0, false, kType);
  changed->MarkModified();
  m_.PutPage(changed);
  EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(2, 0, false, kType); }), 20090);
  EXPECT_EQ(m_.LivePageCount(), 2) << "no page exists twice";

  m_.CommitSessionPages(1);
  TABSPage* now = m_.GetPage(2, no, false, kType);
  EXPECT_EQ(now, fresh);
  m_.PutPage(now);
  m_.CommitSessionPages(2);
}

TEST_F(PageManagerTest, FailedCommitAndDiscardChangeNothing) {
  Fill(3);
  TABSPage* a = m_.AddNewPage(1, kType);
  TABSPage* b = m_.AddNewPage(1, kType);
  m_.PutPage(a);
  m_.FreePage(1, 0);  // 0 is cached: released only by a commit that succeeds
  const std::int32_t used = m_.GetUsedPageCount();

  // b still in use: 20086, and the freed number, the lists and the cache
  // are as they were (the literal order released page 0 first).
  EXPECT_EQ(NativeErrorOf([&] { m_.CommitSessionPages(1); }), 20086);
  EXPECT_EQ(m_.GetUsedPageCount(), used);
  EXPECT_TRUE(m_.UsedPages().GetBit(0));
  EXPECT_TRUE(m_.IsPageCached(0));
  EXPECT_EQ(m_.SessionFreedPages(1), std::vector<std::int32_t>{0});
  EXPECT_EQ(m_.SessionModifiedList(1)->Count(), 2);
  EXPECT_TRUE(a->IsModified());

  EXPECT_EQ(NativeErrorOf([&] { m_.DiscardSessionPages(1); }), 20088);
  EXPECT_EQ(m_.SessionModifiedList(1)->Count(), 2);
  EXPECT_EQ(m_.FindLivePage(a->PageNo()), a);
  EXPECT_EQ(m_.GetUsedPageCount(), used);

  m_.PutPage(b);
  m_.DiscardSessionPages(1);
  EXPECT_EQ(m_.GetUsedPageCount(), used - 2) << "discarded allocations are released";
  EXPECT_EQ(m_.SessionModifiedList(1)->Count(), 0);
  EXPECT_TRUE(m_.SessionFreedPages(1).empty());
  EXPECT_TRUE(m_.UsedPages().GetBit(0)) << "the discarded free never happened";
  EXPECT_EQ(m_.LivePageCount(), 3);
}

TEST_F(PageManagerTest, FreedNumbersAreReleasedAtCommitAndTheirPagesDestroyed) {
  Fill(3);
  m_.FreePage(1, 1);
  EXPECT_TRUE(m_.IsPageCached(1));
  m_.CommitSessionPages(1);
  EXPECT_EQ(m_.FindLivePage(1), nullptr);
  EXPECT_FALSE(m_.UsedPages().GetBit(1));
  EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(1, 1, false, kType); }), 10392);

  // Allocated and freed in one session: destroyed, never written.
  TABSPage* p = m_.AddNewPage(1, kType);
  ASSERT_EQ(p->PageNo(), 1);
  m_.PutPage(p);
  m_.FreePage(1, 1);
  m_.CommitSessionPages(1);
  EXPECT_EQ(m_.FindLivePage(1), nullptr);
  EXPECT_EQ(m_.GetUsedPageCount(), 2);

  // Freed twice: the count drops once.
  m_.FreePage(1, 2);
  m_.FreePage(1, 2);
  m_.CommitSessionPages(1);
  EXPECT_EQ(m_.GetUsedPageCount(), 1);
}

TEST_F(PageManagerTest, CommitChecksEveryWriteFirst) {
  Fill(2);
  // Session 1 changes page 1; session 2 frees and releases it meanwhile.
  TABSPage* p = m_.GetPage(1, 1, false, kType);
  p->MarkModified();
  m_.PutPage(p);
  TABSPage* q = m_.AddNewPage(1, kType);
  m_.PutPage(q);
  m_.FreePage(2, 1);
  EXPECT_EQ(NativeErrorOf([&] { m_.CommitSessionPages(2); }), 0);
  EXPECT_EQ(NativeErrorOf([&] { m_.CommitSessionPages(1); }), 10393);
  EXPECT_EQ(m_.SessionModifiedList(1)->Count(), 2);
  EXPECT_TRUE(q->IsModified()) << "no page was written before the refusal";
  m_.DiscardSessionPages(1);
}

TEST_F(PageManagerTest, FailedReadLeavesNothingCached) {
  Fill(2);
  const std::int32_t cached = m_.CacheCount();
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(1, 7, false, kType); }), 10392);
    EXPECT_EQ(NativeErrorOf([&] { m_.GetPage(1, -3, false, kType); }), 10392);
    EXPECT_EQ(m_.FindLivePage(7), nullptr);
    EXPECT_EQ(m_.CacheCount(), cached);
  }
}

TEST_F(PageManagerTest, FailedAllocationChangesNothing) {
  Fill(50);
  const std::int32_t capacity = m_.PageCapacity();
  const std::int32_t length = m_.StoreLength();
  const std::int32_t live = m_.LivePageCount();
  const std::int64_t limit = EngineMemoryManager.MemoryLimit();
  // Room for the lists but not for 50 more stored pages.
  EngineMemoryManager.SetMemoryLimit(EngineMemoryManager.AllocatedSize() + 10 * 4096);
  const std::int32_t code = NativeErrorOf([&] { m_.AddNewPage(1, kType); });
  EngineMemoryManager.SetMemoryLimit(limit);
  EXPECT_EQ(code, 30004);
  EXPECT_EQ(m_.GetUsedPageCount(), 50);
  EXPECT_EQ(m_.UsedPages().SetBitCount(), 50);
  EXPECT_EQ(m_.PageCapacity(), capacity);
  EXPECT_EQ(m_.StoreLength(), length);
  EXPECT_EQ(m_.LivePageCount(), live);
  EXPECT_EQ(m_.PagesInUse(), 0);
  EXPECT_TRUE(m_.SessionAllocatedPages(1).empty());
  m_.CommitSessionPages(1);

  TABSPage* p = m_.AddNewPage(1, kType);
  EXPECT_EQ(p->PageNo(), 50);
  EXPECT_EQ(m_.PageCapacity(), 100);
  m_.PutPage(p);
  m_.CommitSessionPages(1);
}

TEST_F(PageManagerTest, ResizedBufferReachesTheStoreOnlyAtCommit) {
  TABSPage loose(m_);
  EXPECT_EQ(NativeErrorOf([&] { loose.ResizePageBuffer(5000); }), 20038);
  loose.AllocPageBuffer();
  EXPECT_EQ(NativeErrorOf([&] { loose.ResizePageBuffer(4095); }), 20039);
  StoreLE<std::int32_t>(loose.GetPageBuffer(), 5);
  loose.ResizePageBuffer(4200);  // owned: grown in place or moved, contents kept
  EXPECT_EQ(LoadLE<std::int32_t>(loose.GetPageBuffer()), 5);
  EXPECT_EQ(loose.GetBufferSize(), 4200);

  Fill(1);
  TABSPage* p = m_.GetPage(1, 0, false, kType);
  ASSERT_FALSE(p->OwnsBuffer());
  p->ResizePageBuffer(4096 + 11);
  EXPECT_TRUE(p->OwnsBuffer());
  EXPECT_EQ(TagOf(p), 1000);
  StoreLE<std::int32_t>(p->GetPageData(), 99);
  EXPECT_EQ(StoredTag(m_, 0), 1000) << "a private copy until written";
  p->MarkModified();
  m_.PutPage(p);
  m_.CommitSessionPages(1);
  EXPECT_EQ(StoredTag(m_, 0), 99);
}

TEST_F(PageManagerTest, DestructionWithUncommittedPagesFreesEverything) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  {
    TABSMemoryPageManager m;
    TABSPage* p = m.AddNewPage(1, kType);
    m.PutPage(p);
    EXPECT_EQ(NativeErrorOf([&] { m.CheckAllCommitted(); }), 20097);
    TABSPage* held = m.AddNewPage(2, kType);
    (void)held;  // still in use at destruction
  }
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
  Fill(1);
  EXPECT_EQ(NativeErrorOf([&] { m_.CheckAllCommitted(); }), 0);
}

// A store with a page header, kept in a map: ReadPage answers false for an
// unknown number, and IsPageCurrent / PageLoaded are counted.
class HeaderStore : public TABSPageManager {
 public:
  HeaderStore() : TABSPageManager(TABSPageGeometry{128, 8, 120}) {}
  void AllocatePage(TABSPage& page) override {
    AssignPageNo(page, next_);
    page.AllocPageBuffer();
    images_[next_++].assign(page.GetPageBuffer(), page.GetPageBuffer() + 128);
  }
  void ReleasePageNo(std::int32_t no) override { images_.erase(no); }
  bool ReadPage(TABSPage& page) override {
    const auto found = images_.find(page.PageNo());
    if (found == images_.end()) return false;
    page.AllocPageBuffer();
    std::memcpy(page.GetPageBuffer(), found->second.data(), 128);
    return true;
  }
  void WritePage(TABSPage& page) override {
    std::memcpy(images_[page.PageNo()].data(), page.GetPageBuffer(), 128);
  }
  bool IsPageCurrent(std::int32_t, const TABSPage&) override { return current_; }
  void PageLoaded(std::int32_t, TABSPage&) override { ++loaded_; }

  std::map<std::int32_t, std::vector<std::uint8_t>> images_;
  std::int32_t next_ = 0;
  bool current_ = true;
  int loaded_ = 0;
};

TEST(PageHeaderStoreTest, FailedReadsAndTypeChecksLeaveNothingCached) {
  HeaderStore m;
  for (const std::uint16_t type : {12, 13}) {
    TABSPage* p = m.AddNewPage(1, type);
    EXPECT_EQ(LoadLE<std::uint16_t>(p->GetPageBuffer()), type);
    EXPECT_LT(LoadLE<std::int32_t>(p->GetPageBuffer() + 2), 1073741823);
    EXPECT_EQ(p->GetPageDataSize(), 120);
    m.PutPage(p);
  }
  m.SetCacheCapacityForTesting(0);
  m.CommitSessionPages(1);  // written and destroyed: nothing cached
  ASSERT_EQ(m.LivePageCount(), 0);
  m.loaded_ = 0;

  const EABSException read = RaisedBy([&] { m.GetPage(1, 5, false, 12); });
  EXPECT_EQ(read.NativeError(), 20299);
  EXPECT_NE(std::string(read.what()).find("Page No: 5, type 12"), std::string::npos);
  const EABSException type = RaisedBy([&] { m.GetPage(1, 1, false, 12); });
  EXPECT_EQ(type.NativeError(), 20153);
  EXPECT_NE(std::string(type.what()).find("Expecting type 12, but found 13"), std::string::npos);
  EXPECT_EQ(m.LivePageCount(), 0);
  EXPECT_EQ(m.CacheCount(), 0);
  EXPECT_EQ(m.loaded_, 0);

  // Any type, or the check turned off, reads the page.
  m.SetCacheCapacityForTesting(5);
  TABSPage* any = m.GetPage(1, 1, false, TABSPageManager::AnyPageType);
  EXPECT_EQ(m.loaded_, 1);
  m.PutPage(any);
  m.DisablePageTypeCheck = true;
  m.PutPage(m.GetPage(1, 0, false, 99));
  // A recheck asks whether a cached page is current and reloads it if not.
  m.PutPage(m.GetPage(1, 1, true, 13));
  EXPECT_EQ(m.loaded_, 2);
  m.current_ = false;
  m.PutPage(m.GetPage(1, 1, true, 13));
  EXPECT_EQ(m.loaded_, 3);
}

}  // namespace
