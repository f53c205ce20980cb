#include "engine/temporary/ABSTemporaryPageManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "engine/memory/ABSNativeCodes.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

constexpr std::uint16_t kType = 7;

std::unique_ptr<TABSTemporaryPageManager> MakePages(bool keep, std::int64_t limit) {
  TemporaryLimitsForTesting().PageLimit = limit;
  auto m = std::make_unique<TABSTemporaryPageManager>(keep);
  TemporaryLimitsForTesting().PageLimit = -1;
  m->SetCacheCapacityForTesting(1);  // pages are read back from the store
  return m;
}

using Image = std::vector<std::uint8_t>;

Image PageImage(std::uint32_t seed) {
  Image image(TABSTemporaryPageManager::PageSize);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>((seed * 131 + i * 7) >> (i % 3));
  }
  return image;
}

// The pages against a map of page images through the base's operations:
// new pages, changes, frees and commits, with the memory page limit at 0 and
// 2 and with keep-in-memory; memory and file page numbers follow the limit.
TEST(TemporaryPageManagerTest, MatchesMapModel) {
  TTemporarySeams seams;
  struct Case {
    bool keep;
    std::int64_t limit;
  };
  const Case cases[] = {{false, 0}, {false, 2}, {true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "keep " << c.keep << " limit " << c.limit);
    auto m = MakePages(c.keep, c.limit);
    std::map<std::int32_t, Image> model;
    std::mt19937 rng(5);
    std::uint32_t seed = 0;
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(rng() % 10);
      if (op < 4 || model.empty()) {
        TABSPage* page = m->AddNewPage(1, kType);
        const std::int32_t no = page->PageNo();
        ASSERT_EQ(model.count(no), 0u);
        if (!c.keep && no >= c.limit) {
          EXPECT_GE(no, m->NextPageNo() - 1) << "file pages are new";
        }
        const Image image = PageImage(++seed);
        std::memcpy(page->GetPageBuffer(), image.data(), image.size());
        m->PutPage(page);
        model[no] = image;
      } else if (op < 7) {
        auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
        TABSPage* page = m->GetPage(1, it->first, false, kType);
        ASSERT_EQ(std::memcmp(page->GetPageBuffer(), it->second.data(), it->second.size()), 0)
            << "page " << it->first;
        if (rng() % 2 == 0) {
          it->second = PageImage(++seed);
          std::memcpy(page->GetPageBuffer(), it->second.data(), it->second.size());
          page->MarkModified();
        }
        m->PutPage(page);
      } else if (op < 8) {
        auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
        m->FreePage(1, it->first);
        model.erase(it);
      }
      if (op >= 8 || rng() % 3 == 0) m->CommitSessionPages(1);
      if (op >= 8) {
        ASSERT_EQ(m->AllocatedPageCount(), static_cast<std::int32_t>(model.size()));
      }
    }
    m->CommitSessionPages(1);
    EXPECT_EQ(m->GetUsedPageCount(), static_cast<std::int32_t>(model.size()));
    for (const auto& [no, image] : model) {
      EXPECT_TRUE(m->AllocationBits().GetBit(no));
      TABSPage* page = m->GetPage(1, no, false, kType);
      EXPECT_EQ(std::memcmp(page->GetPageBuffer(), image.data(), image.size()), 0) << no;
      m->PutPage(page);
    }
    EXPECT_EQ(m->PageFile() != nullptr, !c.keep && m->NextPageNo() > c.limit);
    if (m->PageFile() != nullptr) {
      EXPECT_GE(m->PageFile()->Size(),
                static_cast<std::int64_t>(m->NextPageNo()) * TABSTemporaryPageManager::PageSize);
    }
  }
}

TEST(TemporaryPageManagerTest, UnallocatedPagesAreRefused) {
  TTemporarySeams seams;
  auto m = MakePages(false, 1);
  // A page never handed out: reads and writes refuse it.
  {
    auto fresh = MakePages(false, 0);
    TABSPage p(*fresh);
    EXPECT_EQ(NativeErrorOf([&] { fresh->ReadPage(p); }), 10396);
    EXPECT_EQ(NativeErrorOf([&] { fresh->WritePage(p); }), 10397);
  }
  TABSPage* first = m->AddNewPage(1, kType);   // memory page 0
  TABSPage* second = m->AddNewPage(1, kType);  // file page 1
  EXPECT_EQ(second->PageNo(), 1);
  EXPECT_TRUE(second->OwnsBuffer());
  m->PutPage(first);
  m->PutPage(second);
  m->CommitSessionPages(1);
  m->FreePage(1, 1);
  m->CommitSessionPages(1);
  EXPECT_EQ(NativeErrorOf([&] { m->GetPage(1, 1, false, kType); }), 10396);
  // A freed file number is not handed out again.
  TABSPage* third = m->AddNewPage(1, kType);
  EXPECT_EQ(third->PageNo(), 2);
  m->PutPage(third);
  m->CommitSessionPages(1);
}

// A page file that refuses writes makes the commit raise; once it takes
// writes again the commit goes through and every page reads back. A short
// read of a file page is a read error (20299), never a stale page.
TEST(TemporaryPageManagerTest, FileFaultsAreEngineErrors) {
  TTemporarySeams seams;
  auto m = MakePages(false, 0);
  std::map<std::int32_t, Image> model;
  for (int i = 0; i < 40; ++i) {
    TABSPage* page = m->AddNewPage(1, kType);
    model[page->PageNo()] = PageImage(i);
    std::memcpy(page->GetPageBuffer(), model[page->PageNo()].data(), 4096);
    m->PutPage(page);
  }
  seams.Faults().WriteBytesLeft = 4096;
  EXPECT_EQ(NativeErrorOf([&] { m->CommitSessionPages(1); }), native_code::kTempPageWrite);
  seams.Faults().WriteBytesLeft = -1;
  m->CommitSessionPages(1);
  for (const auto& [no, image] : model) {
    TABSPage* page = m->GetPage(1, no, false, kType);
    ASSERT_EQ(std::memcmp(page->GetPageBuffer(), image.data(), 4096), 0) << no;
    m->PutPage(page);
  }
  seams.Faults().ReadBytesLeft = 100;
  EXPECT_EQ(NativeErrorOf([&] {
              for (const auto& entry : model) m->PutPage(m->GetPage(1, entry.first, false, kType));
            }),
            20299);
  seams.Faults().ReadBytesLeft = -1;
  seams.Faults().FailCreate = true;
  auto none = MakePages(false, 0);
  EXPECT_EQ(NativeErrorOf([&] { none->AddNewPage(1, kType); }), 10104);
  EXPECT_EQ(none->AllocatedPageCount(), 0);
  EXPECT_EQ(none->NextPageNo(), 0);
}

// Allocation failures while pages are added, in memory and on file, leave
// no page behind and the store usable.
TEST(TemporaryPageManagerTest, AllocationFaultsLeaveNoPage) {
  TTemporarySeams seams;
  for (const std::int64_t limit : {0, 1000}) {
    SCOPED_TRACE(limit);
    auto m = MakePages(false, limit);
    const int allocations = InjectAllocationFailures(
        [&] {
          TABSPage* page = m->AddNewPage(1, kType);
          m->PutPage(page);
          m->DiscardSessionPages(1);
        },
        {.AfterFailure = [&] { EXPECT_EQ(m->LivePageCount(), 0); }, .MemoryUnchanged = false});
    EXPECT_GT(allocations, 0);
  }
}

TEST(TemporaryPageManagerTest, KeepInMemoryNeverMakesAFile) {
  TTemporarySeams seams;
  seams.Faults().FailCreate = true;
  auto m = MakePages(true, 0);
  for (int i = 0; i < 120; ++i) m->PutPage(m->AddNewPage(1, kType));
  m->CommitSessionPages(1);
  EXPECT_EQ(m->PageFile(), nullptr);
  EXPECT_EQ(m->AllocatedPageCount(), 120);
}

}  // namespace
