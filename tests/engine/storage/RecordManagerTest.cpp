#include "engine/storage/ABSRecordManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/storage/RecordManagerTestPeer.h"

namespace {

using Peer = TABSMemoryRecordManagerTestPeer;

// The size of a plan row, so that walks take the copy path real tables take.
constexpr std::int32_t kSize = 37;

// An image whose first 4 bytes carry a tag, so slots can be told apart.
std::vector<unsigned char> Image(std::int32_t tag) {
  std::vector<unsigned char> image(kSize, 0xEE);
  std::memcpy(image.data(), &tag, 4);
  return image;
}

std::int32_t TagOf(const unsigned char* image) {
  std::int32_t tag;
  std::memcpy(&tag, image, 4);
  return tag;
}

class RecordManagerTest : public ::testing::Test {
 protected:
  // Stores records tagged 0 .. n-1 and checks they get IDs 0 .. n-1.
  void Fill(TABSMemoryRecordManager& m, int n) {
    for (int i = 0; i < n; ++i) {
      RecordPosition pos{-7, 9};
      ASSERT_TRUE(m.StoreNewRecord(0, Image(i).data(), pos));
      ASSERT_EQ(pos.RecordId, i);
      ASSERT_EQ(pos.SubPosition, 0);
    }
  }
  void Remove(TABSMemoryRecordManager& m, std::int32_t id) {
    RecordPosition pos{id, 0};
    ASSERT_TRUE(m.RemoveRecord(0, pos));
  }
  // One NavigateRecord step; returns the result and leaves the ID in `id`.
  FetchResult Step(TABSMemoryRecordManager& m, FetchMode mode, std::int32_t& id,
                   bool beforeFirst = false, bool afterLast = false) {
    NavigationRequest req;
    req.Direction = mode;
    req.Position = RecordPosition{id, 0};
    req.RecordBuffer = buffer_;
    req.BeforeFirst = beforeFirst;
    req.AfterLast = afterLast;
    m.NavigateRecord(0, req);
    id = req.Position.RecordId;
    if (req.Result == FetchResult::Found) {
      EXPECT_EQ(TagOf(buffer_), id);
    }
    return req.Result;
  }
  // The IDs seen walking next from before the first record.
  std::vector<std::int32_t> WalkForward(TABSMemoryRecordManager& m) {
    std::vector<std::int32_t> ids;
    NavigationRequest req;
    req.Direction = FetchMode::Next;
    req.RecordBuffer = buffer_;
    req.BeforeFirst = true;
    for (m.NavigateRecord(0, req); req.Result == FetchResult::Found; m.NavigateRecord(0, req)) {
      EXPECT_FALSE(req.BeforeFirst);
      ids.push_back(std::int32_t{req.Position.RecordId});
    }
    EXPECT_EQ(req.Result, FetchResult::Eof);
    return ids;
  }

  unsigned char buffer_[kSize] = {};
};

TEST_F(RecordManagerTest, ConstructionRefusesRecordSizeZero) {
  EXPECT_EQ(RaisedBy([] { TABSMemoryRecordManager m(0, 1000); }).Message(),
            "Invalid record size = 0 - Native error: 10011");
  EXPECT_EQ(NativeErrorOf([] { TABSMemoryRecordManager m(-4, 1000); }), 10011);
}

TEST_F(RecordManagerTest, StoresInOrderAndGrowsInStepsKeepingRecords) {
  TABSMemoryRecordManager m(kSize, 1000);
  EXPECT_EQ(Peer::Capacity(m), 0);
  Fill(m, 1000);
  EXPECT_EQ(Peer::Capacity(m), 1000);
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  RecordPosition pos;
  ASSERT_TRUE(m.StoreNewRecord(0, Image(1000).data(), pos));
  EXPECT_EQ(pos.RecordId, 1000);
  EXPECT_EQ(Peer::Capacity(m), 2000);
  // Record buffer plus bit array grew by exactly one step.
  EXPECT_EQ(EngineMemoryManager.AllocatedSize() - before, 1000 * kSize + 125);
  EXPECT_EQ(m.RecordCount(), 1001);
  EXPECT_EQ(m.ChangeCounter(), 1001);
  EXPECT_EQ(Peer::FirstId(m), 0);
  EXPECT_EQ(Peer::LastId(m), 1000);
  std::vector<std::int32_t> ids = WalkForward(m);  // checks every tag as well
  ASSERT_EQ(ids.size(), 1001u);
  for (int i = 0; i <= 1000; ++i) EXPECT_EQ(ids[i], i);
}

TEST_F(RecordManagerTest, FailedStoresReportFalseAndHoldNothing) {
  // 1000 slots of 3 MB pass the signed 32-bit byte count of one block.
  const std::int32_t big = 3 * 1024 * 1024;
  TABSMemoryRecordManager huge(big, 1000);
  std::vector<unsigned char> image(big, 1);
  RecordPosition pos{5, 0};
  EXPECT_FALSE(huge.StoreNewRecord(0, image.data(), pos));
  EXPECT_FALSE(huge.StoreNewRecord(0, nullptr, pos));
  EXPECT_EQ(huge.RecordCount(), 0);
  EXPECT_EQ(huge.ChangeCounter(), 0);

  // The record buffer fits the memory limit, its bit array does not.
  TABSMemoryRecordManager m(kSize, 1000);
  EngineMemoryManager.SetMemoryLimit(1000 * kSize + 50);
  const bool stored = m.StoreNewRecord(0, Image(0).data(), pos);
  const std::int64_t held = EngineMemoryManager.AllocatedSize();
  EngineMemoryManager.SetMemoryLimit(0);
  EXPECT_FALSE(stored);
  EXPECT_EQ(held, 0);
  EXPECT_EQ(m.RecordCount(), 0);
  ASSERT_TRUE(m.StoreNewRecord(0, Image(0).data(), pos));
  EXPECT_EQ(pos.RecordId, 0);
}

TEST_F(RecordManagerTest, RemovingAMiddleRecordIsSkippedByNavigationAndNumbering) {
  TABSMemoryRecordManager m(kSize, 1000);
  Fill(m, 4);
  EXPECT_TRUE(Peer::NoDeletions(m));
  EXPECT_EQ(m.PositionToRecordId(3), 3);
  EXPECT_EQ(m.RecordIdToPosition(3), 4);
  Remove(m, 1);
  EXPECT_FALSE(Peer::NoDeletions(m));
  EXPECT_EQ(m.RecordCount(), 3);
  std::int32_t id = 0;
  EXPECT_EQ(Step(m, FetchMode::Next, id), FetchResult::Found);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(Step(m, FetchMode::Prior, id), FetchResult::Found);
  EXPECT_EQ(id, 0);
  id = 1;
  EXPECT_EQ(Step(m, FetchMode::Current, id), FetchResult::NotFound);
  EXPECT_EQ(m.RecordIdToPosition(3), 3);
  EXPECT_EQ(m.PositionToRecordId(2), 3);
  EXPECT_EQ(m.PositionToRecordId(0), 0);
  EXPECT_EQ(m.PositionToRecordId(1), 2);
  EXPECT_EQ(m.PositionToRecordId(3), 4);  // the position after the last
  EXPECT_EQ(m.PositionToRecordId(4), -1);
  EXPECT_EQ(m.PositionToRecordId(-1), -1);
  // A removed ID is never reused in the middle.
  RecordPosition pos;
  ASSERT_TRUE(m.StoreNewRecord(0, Image(4).data(), pos));
  EXPECT_EQ(pos.RecordId, 4);
  EXPECT_EQ(WalkForward(m), (std::vector<std::int32_t>{0, 2, 3, 4}));
}

TEST_F(RecordManagerTest, RemovingFirstAndLastMovesTheBounds) {
  TABSMemoryRecordManager m(kSize, 1000);
  Fill(m, 6);
  Remove(m, 2);
  Remove(m, 0);
  EXPECT_EQ(Peer::FirstId(m), 1);
  Remove(m, 1);
  EXPECT_EQ(Peer::FirstId(m), 3);  // skips the removed 2
  RecordPosition pos{5, 77};
  ASSERT_TRUE(m.RemoveRecord(0, pos));
  EXPECT_EQ(Peer::LastId(m), 4);
  EXPECT_EQ(pos.RecordId, 4);  // the caller's position follows the new last ID
  EXPECT_EQ(pos.SubPosition, 0);
  ASSERT_TRUE(m.StoreNewRecord(0, Image(5).data(), pos));
  EXPECT_EQ(pos.RecordId, 5);  // the slot after the last ID is reused
  // Seeking prior from below the first live ID falls out before the first.
  std::int32_t id = 3;
  EXPECT_EQ(Step(m, FetchMode::Prior, id), FetchResult::Bof);
  EXPECT_EQ(m.RecordIdToPosition(3), 1);
  EXPECT_EQ(m.RecordIdToPosition(5), 3);
  EXPECT_EQ(m.PositionToRecordId(2), 5);
}

TEST_F(RecordManagerTest, RemovingTheOnlyRecordRestartsNumbering) {
  TABSMemoryRecordManager m(kSize, 1000);
  Fill(m, 3);
  Remove(m, 0);
  Remove(m, 2);
  Remove(m, 1);
  EXPECT_EQ(m.RecordCount(), 0);
  EXPECT_EQ(Peer::FirstId(m), 0);
  EXPECT_EQ(Peer::LastId(m), 0);
  EXPECT_EQ(m.ChangeCounter(), 6);
  std::int32_t id = 0;
  EXPECT_EQ(Step(m, FetchMode::Prior, id), FetchResult::Eof);
  EXPECT_EQ(m.RecordIdToPosition(0), 0);
  RecordPosition pos;
  ASSERT_TRUE(m.StoreNewRecord(0, Image(0).data(), pos));
  EXPECT_EQ(pos.RecordId, 0);
  EXPECT_EQ(m.RecordCount(), 1);
  // Slots 1 and 2 keep stale bits from before; they must not count as live.
  EXPECT_EQ(WalkForward(m), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(m.RecordIdToPosition(2), 1);
  EXPECT_EQ(m.PositionToRecordId(1), 1);
}

TEST_F(RecordManagerTest, RefusedOverwritesAndRemovalsChangeNothing) {
  TABSMemoryRecordManager m(kSize, 1000);
  RecordPosition pos{0, 0};
  EXPECT_FALSE(m.OverwriteRecord(0, Image(9).data(), pos));  // empty, no buffer
  EXPECT_FALSE(m.RemoveRecord(0, pos));
  Fill(m, 4);
  Remove(m, 2);
  const std::int32_t changes = m.ChangeCounter();
  for (std::int32_t bad : {-1, 2, 4, 999, 1000, std::numeric_limits<std::int32_t>::max()}) {
    pos = RecordPosition{bad, 0};
    EXPECT_FALSE(m.OverwriteRecord(0, Image(9).data(), pos)) << bad;
    EXPECT_FALSE(m.RemoveRecord(0, pos)) << bad;
  }
  EXPECT_FALSE(m.OverwriteRecord(0, nullptr, RecordPosition{1, 0}));
  EXPECT_EQ(m.ChangeCounter(), changes);
  EXPECT_EQ(m.RecordCount(), 3);
  EXPECT_EQ(WalkForward(m), (std::vector<std::int32_t>{0, 1, 3}));

  ASSERT_TRUE(m.OverwriteRecord(0, Image(3).data(), RecordPosition{3, 0}));
  EXPECT_EQ(m.ChangeCounter(), changes + 1);
}

TEST_F(RecordManagerTest, NavigationAtTheEnds) {
  TABSMemoryRecordManager m(kSize, 1000);
  std::int32_t id = 0;
  for (FetchMode mode : {FetchMode::Current, FetchMode::Next, FetchMode::Prior}) {
    EXPECT_EQ(Step(m, mode, id, true), FetchResult::Eof);  // empty table
  }
  Fill(m, 3);
  EXPECT_EQ(Step(m, FetchMode::Prior, id, true), FetchResult::Bof);
  EXPECT_EQ(Step(m, FetchMode::Current, id, true), FetchResult::NotFound);
  EXPECT_EQ(Step(m, FetchMode::Next, id, false, true), FetchResult::Eof);
  EXPECT_EQ(Step(m, FetchMode::Prior, id, false, true), FetchResult::Found);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(Step(m, FetchMode::Next, id), FetchResult::Eof);
  id = 0;
  EXPECT_EQ(Step(m, FetchMode::Prior, id), FetchResult::Bof);
  // Positions far outside the table are answered, not followed.
  id = -50;
  EXPECT_EQ(Step(m, FetchMode::Next, id), FetchResult::Found);
  EXPECT_EQ(id, 0);
  id = 500;
  EXPECT_EQ(Step(m, FetchMode::Prior, id), FetchResult::Found);
  EXPECT_EQ(id, 2);
  id = 5000;
  EXPECT_EQ(Step(m, FetchMode::Next, id), FetchResult::Eof);

  NavigationRequest req;  // no record buffer to copy into
  req.Position = RecordPosition{1, 0};
  EXPECT_EQ(RaisedBy([&] { m.NavigateRecord(0, req); }).Message(),
            "Error retrieving record - Native error: 10019");
}

// One request reused from step to step, as a cursor does: whatever an
// earlier step or the caller left in it, a forward step answers in full.
TEST_F(RecordManagerTest, ReusedRequestStepsForwardWithAFullAnswer) {
  TABSMemoryRecordManager m(kSize, 1000);
  Fill(m, 4);
  Remove(m, 1);
  NavigationRequest req;
  req.RecordBuffer = buffer_;
  req.Direction = FetchMode::Current;
  req.Position = RecordPosition{1, 0};
  m.NavigateRecord(0, req);
  ASSERT_EQ(req.Result, FetchResult::NotFound);  // the removed ID
  req.Position = RecordPosition{2, 7};
  req.Direction = FetchMode::Next;
  m.NavigateRecord(0, req);
  EXPECT_EQ(req.Result, FetchResult::Found);
  EXPECT_EQ(req.Position.RecordId, 3);
  EXPECT_EQ(req.Position.SubPosition, 0);
  EXPECT_EQ(TagOf(buffer_), 3);
  // A found step followed by a step that only changes the direction or sets
  // a flag is not a plain forward step.
  req.Position = RecordPosition{2, 0};
  req.Direction = FetchMode::Prior;
  m.NavigateRecord(0, req);
  EXPECT_EQ(req.Result, FetchResult::Found);
  EXPECT_EQ(req.Position.RecordId, 0);
  req.Direction = FetchMode::Next;
  req.AfterLast = true;
  m.NavigateRecord(0, req);
  EXPECT_EQ(req.Result, FetchResult::Eof);
  EXPECT_EQ(req.Position.RecordId, 0);
  req.AfterLast = false;
  req.BeforeFirst = true;
  req.Position = RecordPosition{2, 0};
  m.NavigateRecord(0, req);
  EXPECT_EQ(req.Position.RecordId, 0);
  EXPECT_FALSE(req.BeforeFirst);
  EXPECT_EQ(TagOf(buffer_), 0);
}

// The record at a position (what an index reads after each of its steps):
// found only for a live ID, the sub-position always becomes 0, the ends
// flags and a miss leave the buffer untouched.
TEST_F(RecordManagerTest, CurrentAnswersOnlyLiveRecords) {
  TABSMemoryRecordManager m(kSize, 4);
  Fill(m, 6);  // two growth steps
  Remove(m, 2);
  Remove(m, 0);
  struct Case {
    std::int32_t id;
    std::uint16_t sub;
    bool beforeFirst;
    bool afterLast;
    FetchResult result;
  };
  const Case cases[] = {
      {1, 0, false, false, FetchResult::Found},    {5, 3, false, false, FetchResult::Found},
      {4, 0, false, false, FetchResult::Found},    {0, 0, false, false, FetchResult::NotFound},
      {2, 0, false, false, FetchResult::NotFound}, {6, 0, false, false, FetchResult::NotFound},
      {7, 0, false, false, FetchResult::NotFound}, {-1, 0, false, false, FetchResult::NotFound},
      {1, 0, true, false, FetchResult::NotFound},  {1, 0, false, true, FetchResult::NotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    std::memset(buffer_, 0x55, sizeof buffer_);
    NavigationRequest req;
    req.Direction = FetchMode::Current;
    req.Position = RecordPosition{c.id, c.sub};
    req.RecordBuffer = buffer_;
    req.BeforeFirst = c.beforeFirst;
    req.AfterLast = c.afterLast;
    m.NavigateRecord(0, req);
    EXPECT_EQ(req.Result, c.result);
    EXPECT_EQ(req.Position.RecordId, c.id);
    if (c.result == FetchResult::Found) {
      EXPECT_EQ(req.Position.SubPosition, 0);
      EXPECT_EQ(std::memcmp(buffer_, Image(c.id).data(), kSize), 0);
    } else {
      EXPECT_EQ(buffer_[0], 0x55);
    }
  }
}

// The copy of a record image takes a different path for each size class
// (up to 16, 16 to 32, 33 to 48, 49 to 64, larger): every byte of every
// size arrives, and nothing beyond the image is written.
TEST_F(RecordManagerTest, EveryRecordSizeIsCopiedWhole) {
  for (std::int32_t size = 1; size <= 80; ++size) {
    SCOPED_TRACE(size);
    TABSMemoryRecordManager m(size, 3);
    std::vector<unsigned char> image(static_cast<std::size_t>(size));
    RecordPosition pos;
    for (int r = 0; r < 4; ++r) {
      for (std::int32_t i = 0; i < size; ++i) image[i] = static_cast<unsigned char>(r * 101 + i);
      ASSERT_TRUE(m.StoreNewRecord(0, image.data(), pos));
    }
    std::vector<unsigned char> out(static_cast<std::size_t>(size) + 8, 0xA5);
    NavigationRequest req;
    req.Direction = FetchMode::Next;
    req.BeforeFirst = true;
    req.RecordBuffer = out.data();
    for (int r = 0; r < 4; ++r) {
      m.NavigateRecord(0, req);
      ASSERT_EQ(req.Result, FetchResult::Found);
      for (std::int32_t i = 0; i < size; ++i) {
        ASSERT_EQ(out[i], static_cast<unsigned char>(r * 101 + i))
            << "record " << r << " byte " << i;
      }
      for (std::size_t i = static_cast<std::size_t>(size); i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0xA5) << "written beyond the image";
      }
    }
  }
}

TEST_F(RecordManagerTest, ClearAllRecordsFreesAndRestarts) {
  TABSMemoryRecordManager m(kSize, 10);
  Fill(m, 25);
  Remove(m, 3);
  const std::int32_t changes = m.ChangeCounter();
  m.ClearAllRecords(0);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), 0);
  EXPECT_EQ(m.RecordCount(), 0);
  EXPECT_EQ(Peer::Capacity(m), 0);
  EXPECT_EQ(m.ChangeCounter(), changes);
  EXPECT_FALSE(Peer::NoDeletions(m));
  EXPECT_EQ(m.RecordIdToPosition(0), -1);
  RecordPosition pos;
  ASSERT_TRUE(m.StoreNewRecord(0, Image(0).data(), pos));
  EXPECT_EQ(pos.RecordId, 0);
  EXPECT_EQ(m.RecordCount(), 1);
}

TEST_F(RecordManagerTest, LiveCountTableWalkMatchesBitByBitWalk) {
  TABSMemoryRecordManager m(kSize, 64);
  Fill(m, 300);
  // An irregular pattern, with the first and the last slots removed too.
  for (std::int32_t id = 0; id < 300; ++id) {
    if (id % 7 == 0 || id % 11 == 3 || id == 299) Remove(m, id);
  }
  std::vector<std::int32_t> live = WalkForward(m);
  ASSERT_EQ(static_cast<std::int64_t>(live.size()), m.RecordCount());
  for (std::size_t p = 0; p < live.size(); ++p) {
    EXPECT_EQ(m.PositionToRecordId(static_cast<std::int64_t>(p)), live[p]) << p;
    EXPECT_EQ(m.RecordIdToPosition(live[p]), static_cast<std::int64_t>(p) + 1) << live[p];
  }
  EXPECT_EQ(m.PositionToRecordId(m.RecordCount()), Peer::LastId(m) + 1);
  // IDs beyond the last live one number as many records as there are.
  EXPECT_EQ(m.RecordIdToPosition(Peer::Capacity(m) - 1), m.RecordCount());
}

TEST_F(RecordManagerTest, EstimateRecordNumberRoundsHalfToEven) {
  TABSMemoryRecordManager m(kSize, 1000);
  EXPECT_EQ(m.EstimateRecordNumber(0, {0, 0}), -1);
  Fill(m, 1);
  EXPECT_EQ(m.EstimateRecordNumber(0, {0, 0}), 1);

  // IDs 0..7 with 1, 2, 4 and 5 removed: count 4, first 0, last 7.
  TABSMemoryRecordManager u(kSize, 1000);
  Fill(u, 8);
  for (int i : {1, 2, 4, 5}) Remove(u, i);
  EXPECT_EQ(u.EstimateRecordNumber(0, {3, 0}), 6);   // 5.25 -> 5
  EXPECT_EQ(u.EstimateRecordNumber(0, {6, 0}), 11);  // 10.5 -> 10
  EXPECT_EQ(u.EstimateRecordNumber(0, {2, 0}), 5);   // 3.5 -> 4
  EXPECT_EQ(u.EstimateRecordNumber(0, {8, 0}), -1);
  EXPECT_EQ(u.EstimateRecordNumber(0, {-1, 0}), -1);

  // IDs 0..5 with 1 and 4 removed: count 4, first 0, last 5.
  TABSMemoryRecordManager v(kSize, 1000);
  Fill(v, 6);
  Remove(v, 1);
  Remove(v, 4);
  EXPECT_EQ(v.EstimateRecordNumber(0, {2, 0}), 3);  // 2.5 -> 2
  EXPECT_EQ(v.EstimateRecordNumber(0, {3, 0}), 5);  // 3.75 -> 4
}

}  // namespace

// A backward step from any position lands on the nearest live record below
// it (never above the last one), with sub-position 0 and that record's
// image, or reports the start: with and without removed records in the way.
TEST_F(RecordManagerTest, BackwardStepsFindTheNearestLiveRecordBelow) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> removed;
  };
  const std::vector<Case> cases = {
      {"no removals", {}},
      {"gap in the middle", {3, 4}},
      {"first and last removed", {0, 9}},
      {"all but one removed", {0, 1, 2, 3, 4, 6, 7, 8, 9}},
  };
  for (const Case& c : cases) {
    TABSMemoryRecordManager m(kSize, 1000);
    Fill(m, 10);
    for (std::int32_t id : c.removed) Remove(m, id);
    auto live = [&](std::int32_t id) {
      return id >= 0 && id < 10 &&
             std::find(c.removed.begin(), c.removed.end(), id) == c.removed.end();
    };
    for (std::int32_t from = -1; from <= 13; ++from) {
      for (std::uint16_t sub : {std::uint16_t{0}, std::uint16_t{5}}) {
        std::int32_t expected = std::min(from - 1, 9);
        while (expected >= 0 && !live(expected)) --expected;
        NavigationRequest req;
        req.Direction = FetchMode::Prior;
        req.Result = FetchResult::Found;
        req.Position = RecordPosition{from, sub};
        req.RecordBuffer = buffer_;
        std::memset(buffer_, 0, sizeof buffer_);
        m.NavigateRecord(0, req);
        SCOPED_TRACE(std::string(c.name) + " from " + std::to_string(from));
        if (expected < 0) {
          EXPECT_EQ(req.Result, FetchResult::Bof);
          continue;
        }
        ASSERT_EQ(req.Result, FetchResult::Found);
        EXPECT_EQ(req.Position.RecordId, expected);
        EXPECT_EQ(req.Position.SubPosition, 0);
        EXPECT_EQ(TagOf(buffer_), expected);
      }
    }
  }
}
