#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/storage/ABSPage.h"
#include "tests/engine/RaisedError.h"

namespace {

// Page objects numbered 0 .. n-1, borrowed from a memory page manager, so the
// list under test can hold real pages.
class SortedPageListTest : public ::testing::Test {
 protected:
  void MakePages(int n) {
    for (int i = 0; i < n; ++i) pages_.push_back(manager_.AddNewPage(0, 12));
  }
  void TearDown() override {
    for (TABSPage* p : pages_) manager_.PutPage(p);
    manager_.CommitSessionPages(0);
  }
  TABSMemoryPageManager manager_;
  std::vector<TABSPage*> pages_;
};

TEST_F(SortedPageListTest, MatchesMapModelUnderRandomAddDeleteTouch) {
  MakePages(200);
  for (unsigned seed : {7u, 8u}) {
    std::mt19937 rng(seed);
    TABSSortedPageList list;
    std::map<std::int32_t, std::int64_t> model;  // page number -> stamp
    std::int64_t counter = 0;
    for (int step = 0; step < 4000; ++step) {
      const std::int32_t no = static_cast<std::int32_t>(rng() % pages_.size());
      const int op = static_cast<int>(rng() % 3);
      const bool present = model.count(no) != 0;
      if (op == 0 && !present) {
        list.AddPage(pages_[no]);
        model[no] = ++counter;
      } else if (op == 1) {
        const std::int32_t code = NativeErrorOf([&] { list.DeletePage(no); });
        if (model.empty()) {
          ASSERT_EQ(code, 20165);
        } else {
          ASSERT_EQ(code, present ? 0 : 20166) << "delete " << no << " of " << model.size();
        }
        model.erase(no);
      } else if (op == 2) {
        ASSERT_EQ(NativeErrorOf([&] { list.TouchPage(pages_[no]); }), present ? 0 : 20167);
        if (present) model[no] = ++counter;
      }
      ASSERT_EQ(list.Count(), static_cast<std::int32_t>(model.size()));
      if (step % 25 != 0) continue;
      std::int32_t i = 0;
      const std::pair<const std::int32_t, std::int64_t>* oldest = nullptr;
      for (const auto& entry : model) {
        ASSERT_EQ(list.KeyAt(i), entry.first);
        ASSERT_EQ(list.PageAt(i), pages_[entry.first]);
        ASSERT_EQ(list.StampAt(i), entry.second);
        ASSERT_EQ(list.IndexOfPage(entry.first), i);
        if (oldest == nullptr || entry.second < oldest->second) oldest = &entry;
        ++i;
      }
      ASSERT_EQ(list.GetOldestPage(), oldest ? pages_[oldest->first] : nullptr);
      // Stamps are unique, so nothing is older than the oldest.
      ASSERT_EQ(list.GetNextOlderPage(), nullptr);
      const std::int32_t probe = static_cast<std::int32_t>(rng() % 220) - 10;
      ASSERT_EQ(list.FindPage(probe), model.count(probe) ? pages_[probe] : nullptr);
    }
    EXPECT_EQ(list.UseCounter(), counter);
  }
}

TEST_F(SortedPageListTest, SetCountGrowsAndShrinksByDoublingSteps) {
  TABSSortedPageList list;
  const struct {
    std::int32_t count;
    std::int32_t capacity;
    std::int32_t grow;
    std::int32_t shrink;
  } steps[] = {
      {1, 2000, 2000, 1000},        // the grow step doubles before it is added
      {2001, 6000, 4000, 1000},     //
      {6001, 14000, 8000, 1000},    //
      {14001, 24000, 10000, 1000},  // capped at 10000
      {14002, 24000, 10000, 1000},  // within capacity: no change
      {100, 100, 10000, 2000},      // capacity - n above the shrink step: cut to n
      {50, 100, 10000, 2000},       // only 50 spare: kept
      {0, 0, 10000, 2000},          // zero frees
      {30000, 30000, 10000, 2000},  // capacity + step below n: exactly n
  };
  for (const auto& s : steps) {
    list.SetCount(s.count);
    EXPECT_EQ(list.Count(), s.count);
    EXPECT_EQ(list.Capacity(), s.capacity) << "after SetCount(" << s.count << ")";
    EXPECT_EQ(list.GrowStep(), s.grow) << s.count;
    EXPECT_EQ(list.ShrinkStep(), s.shrink) << s.count;
  }
  list.SetCount(0);
}

TEST_F(SortedPageListTest, DeleteErrorsAndTheOneEntryList) {
  MakePages(3);
  TABSSortedPageList list;
  EXPECT_EQ(NativeErrorOf([&] { list.DeletePage(0); }), 20165);
  list.AddPage(pages_[2]);
  // One entry: another number is refused, the entry stays.
  const EABSException e = RaisedBy([&] { list.DeletePage(1); });
  EXPECT_EQ(e.NativeError(), 20166);
  EXPECT_NE(std::string(e.what()).find("key = 1, itemCount = 1"), std::string::npos) << e.what();
  EXPECT_EQ(list.FindPage(2), pages_[2]);
  list.AddPage(pages_[0]);  // before the single key
  list.AddPage(pages_[1]);
  EXPECT_EQ(list.KeyAt(0), 0);
  EXPECT_EQ(list.KeyAt(1), 1);
  EXPECT_EQ(list.KeyAt(2), 2);
  EXPECT_EQ(list.Capacity(), 2000);
  list.DeletePage(1);
  EXPECT_EQ(list.IndexOfPage(1), -1);
  EXPECT_EQ(list.IndexOfPage(2), 1);
  EXPECT_EQ(list.Capacity(), 2) << "1998 spare entries pass the shrink step";
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 2) << "Clear keeps the storage";
}

}  // namespace
