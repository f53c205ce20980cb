#include "engine/temporary/ABSTemporaryRecordManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/memory/ABSMemory.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

using Image = std::vector<unsigned char>;

Image MakeImage(std::int32_t size, std::uint64_t seed) {
  Image image(static_cast<std::size_t>(size));
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<unsigned char>(x);
  }
  return image;
}

std::unique_ptr<TABSTemporaryRecordManager> MakeManager(std::int32_t recordSize, bool keep,
                                                        std::int64_t limit,
                                                        std::int32_t growthStep = 1000,
                                                        std::int32_t blockSize = 10) {
  TemporaryLimitsForTesting().RecordLimit = limit;
  auto m = std::make_unique<TABSTemporaryRecordManager>(recordSize, keep, growthStep, blockSize);
  TemporaryLimitsForTesting().RecordLimit = -1;
  return m;
}

// What NavigateRecord answers, from the rules for record numbers (a stale
// position beyond the table is bounded).
struct Expected {
  FetchResult Result;
  std::uint64_t Position;
  bool BeforeFirst;
  bool AfterLast;
};
Expected Navigate(std::uint64_t count, FetchMode mode, bool bof, bool eof, std::uint64_t p) {
  if (count == 0) return {FetchResult::Eof, p, bof, eof};
  if (bof) {
    if (mode == FetchMode::Next) return {FetchResult::Found, 0, false, eof};
    return {mode == FetchMode::Prior ? FetchResult::Bof : FetchResult::NotFound, p, bof, eof};
  }
  if (eof) {
    if (mode == FetchMode::Prior) return {FetchResult::Found, count - 1, bof, false};
    return {mode == FetchMode::Next ? FetchResult::Eof : FetchResult::NotFound, p, bof, eof};
  }
  switch (mode) {
    case FetchMode::Current:
      return {p < count ? FetchResult::Found : FetchResult::NotFound, p, bof, eof};
    case FetchMode::Next:
      if (p + 1 >= count) return {FetchResult::Eof, p, bof, eof};
      return {FetchResult::Found, p + 1, bof, eof};
    case FetchMode::Prior:
      if (p == 0) return {FetchResult::Bof, p, bof, eof};
      return {FetchResult::Found, p - 1 < count ? p - 1 : count - 1, bof, eof};
  }
  return {};
}

// The manager against a vector of images, for each memory limit and both
// keep-in-memory settings: appends, reads by number, navigation in every
// mode from every kind of position (also stale ones), emptying; where each
// record lives is checked against the limit.
TEST(TemporaryRecordManagerTest, MatchesVectorModel) {
  TTemporarySeams seams;
  struct Case {
    std::int64_t limit;
    bool keep;
    std::int32_t recordSize;
    std::int32_t blockSize;
  };
  std::vector<Case> cases;
  for (const std::int64_t limit : {0, 1, 3, 1000}) {
    for (const bool keep : {false, true}) {
      cases.push_back({limit, keep, 37, 10});
      cases.push_back({limit, keep, 1, 0});
      cases.push_back({limit, keep, 4099, 1});
    }
  }
  std::mt19937_64 rng(2024);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "limit " << c.limit << " keep " << c.keep << " size " << c.recordSize);
    auto m = MakeManager(c.recordSize, c.keep, c.limit, 7, c.blockSize);
    std::vector<Image> model;
    std::uint64_t seed = 0;
    Image buffer(static_cast<std::size_t>(c.recordSize));
    std::size_t mostRecords = 0;
    for (int step = 0; step < 4000; ++step) {
      // Emptying is rare, so that the largest limit is passed too.
      int op = static_cast<int>(rng() % 500) / 5;
      if (step == 3000) op = 100;  // empty it at least once, then fill again
      if (op < 55) {
        const Image image = MakeImage(c.recordSize, ++seed);
        RecordPosition position;
        ASSERT_TRUE(m->StoreNewRecord(0, image.data(), position));
        EXPECT_EQ(TABSTemporaryRecordManager::RecordNumber(position), model.size());
        model.push_back(image);
      } else if (op < 70 && !model.empty()) {
        const auto n = static_cast<std::int64_t>(rng() % model.size());
        m->ReadRecord(n, buffer.data());
        ASSERT_EQ(buffer, model[static_cast<std::size_t>(n)]) << "record " << n;
      } else if (op < 99 || (op == 99 && (step < 2500 || rng() % 30 != 0))) {
        NavigationRequest r;
        r.Direction = static_cast<FetchMode>(rng() % 3);
        r.BeforeFirst = rng() % 8 == 0;
        r.AfterLast = !r.BeforeFirst && rng() % 8 == 0;
        // Positions inside, at the end and beyond it (stale).
        std::uint64_t p = rng() % (model.size() + 3);
        if (rng() % 16 == 0) p = (std::uint64_t{1} << 48) - 1 - rng() % 3;
        r.Position = TABSTemporaryRecordManager::PositionOf(p);
        r.RecordBuffer = buffer.data();
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        const Expected e = Navigate(model.size(), r.Direction, r.BeforeFirst, r.AfterLast, p);
        m->NavigateRecord(0, r);
        ASSERT_EQ(r.Result, e.Result) << "step " << step << " p " << p;
        ASSERT_EQ(TABSTemporaryRecordManager::RecordNumber(r.Position), e.Position);
        ASSERT_EQ(r.BeforeFirst, e.BeforeFirst);
        ASSERT_EQ(r.AfterLast, e.AfterLast);
        if (e.Result == FetchResult::Found) {
          ASSERT_EQ(buffer, model[e.Position]);
        }
        EXPECT_EQ(m->EstimateRecordNumber(0, TABSTemporaryRecordManager::PositionOf(p)),
                  p < model.size() ? static_cast<std::int64_t>(p) + 1 : -1);
      } else {
        m->ClearAllRecords(-2);
        model.clear();
        EXPECT_EQ(m->RecordFile(), nullptr);
      }
      mostRecords = std::max(mostRecords, model.size());
      ASSERT_EQ(m->RecordCount(), static_cast<std::int64_t>(model.size()));
      const std::int64_t inMemory =
          c.keep ? static_cast<std::int64_t>(model.size())
                 : std::min<std::int64_t>(static_cast<std::int64_t>(model.size()), c.limit);
      ASSERT_EQ(m->MemoryCount(), inMemory);
      ASSERT_EQ(m->RecordFile() != nullptr, !c.keep && m->RecordCount() > c.limit);
      ASSERT_LE(m->MemoryCapacity(), c.keep ? std::numeric_limits<std::int32_t>::max() : c.limit);
    }
    EXPECT_GT(mostRecords, static_cast<std::size_t>(c.limit)) << "the file was never used";
  }
}

// The record just appended to the file is read back at once (the write
// block reaches the file first), and next walks across the boundary.
TEST(TemporaryRecordManagerTest, ReadsTheLatestFileRecordAndWalksAcrossTheBoundary) {
  TTemporarySeams seams;
  auto m = MakeManager(16, false, 3);
  std::vector<Image> model;
  Image buffer(16);
  for (int i = 0; i < 6; ++i) {
    model.push_back(MakeImage(16, i));
    RecordPosition position;
    ASSERT_TRUE(m->StoreNewRecord(0, model.back().data(), position));
    m->ReadRecord(i, buffer.data());
    EXPECT_EQ(buffer, model.back()) << i;
  }
  EXPECT_EQ(m->MemoryCount(), 3);
  NavigationRequest r;
  r.BeforeFirst = true;
  r.Direction = FetchMode::Next;
  r.RecordBuffer = buffer.data();
  for (int i = 0; i < 6; ++i) {
    m->NavigateRecord(0, r);
    ASSERT_EQ(r.Result, FetchResult::Found);
    EXPECT_EQ(buffer, model[i]);
  }
  m->NavigateRecord(0, r);
  EXPECT_EQ(r.Result, FetchResult::Eof);
  r.AfterLast = true;
  r.Direction = FetchMode::Prior;
  for (int i = 5; i >= 0; --i) {
    m->NavigateRecord(0, r);
    ASSERT_EQ(r.Result, FetchResult::Found);
    EXPECT_EQ(buffer, model[i]);
  }
}

TEST(TemporaryRecordManagerTest, PositionsCompareAsFortyEightBitNumbers) {
  TTemporarySeams seams;
  auto m = MakeManager(8, true, 0);
  const std::uint64_t pairs[][2] = {
      {65535, 65536}, {0xFFFFFFFFull, 0x100000000ull}, {0x7FFFFFFFull, 0x80000000ull}, {0, 1}};
  for (const auto& pair : pairs) {
    const RecordPosition a = TABSTemporaryRecordManager::PositionOf(pair[0]);
    const RecordPosition b = TABSTemporaryRecordManager::PositionOf(pair[1]);
    EXPECT_EQ(m->CompareRecordPositions(a, b), -1);
    EXPECT_EQ(m->CompareRecordPositions(b, a), 1);
    EXPECT_EQ(m->CompareRecordPositions(a, a), 0);
    EXPECT_EQ(TABSTemporaryRecordManager::RecordNumber(b), pair[1]);
  }
}

TEST(TemporaryRecordManagerTest, RefusesChangesAndBadSizes) {
  TTemporarySeams seams;
  EXPECT_EQ(NativeErrorOf([] { TABSTemporaryRecordManager m(0, false, 1000, 10); }), 10124);
  auto m = MakeManager(4, false, 1);
  const Image a = {1, 2, 3, 4}, b = {9, 9, 9, 9};
  RecordPosition p0, p1;
  ASSERT_TRUE(m->StoreNewRecord(0, a.data(), p0));
  ASSERT_TRUE(m->StoreNewRecord(0, a.data(), p1));
  EXPECT_FALSE(m->OverwriteRecord(0, b.data(), p0));
  EXPECT_FALSE(m->OverwriteRecord(0, b.data(), p1));
  EXPECT_FALSE(m->RemoveRecord(0, p0));
  EXPECT_EQ(m->RecordCount(), 2);
  Image buffer(4);
  for (int n = 0; n < 2; ++n) {
    m->ReadRecord(n, buffer.data());
    EXPECT_EQ(buffer, a);
  }
  EXPECT_EQ(NativeErrorOf([&] { m->ReadRecord(2, buffer.data()); }), 10127);
}

// The limit never asks for more than one memory block or a signed 32-bit
// count, whatever the machine's memory; with the largest possible limit a
// record size whose tenth-of-memory count would wrap still gets a positive,
// block-sized limit.
TEST(TemporaryRecordManagerTest, MemoryLimitFitsOneBlock) {
  const std::int64_t gib = std::int64_t{1} << 30;
  struct Case {
    std::int64_t available;
    std::int32_t recordSize;
  };
  const Case cases[] = {{128 * gib, 1},
                        {22 * gib + gib / 2, 37},
                        {1024 * gib, 4096},
                        {50 * gib, 2},
                        {gib, 37},
                        {0, 37},
                        {-5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.available << " / " << c.recordSize);
    const std::int32_t limit =
        TABSTemporaryRecordManager::MemoryLimitFor(c.available, c.recordSize);
    EXPECT_GE(limit, 0);
    EXPECT_LE(static_cast<std::int64_t>(limit) * c.recordSize, TABSMemoryManager::MaxBlockSize);
    const std::int64_t tenth = c.available > 0 ? (c.available / 10) / c.recordSize : 0;
    EXPECT_EQ(limit, std::min<std::int64_t>(tenth, TABSMemoryManager::MaxBlockSize / c.recordSize));
  }
  TTemporarySeams seams;
  auto m = MakeManager(4096, false, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(m->MemoryLimit(), TABSMemoryManager::MaxBlockSize / 4096);
}

// A growth of the memory array that fails leaves the capacity as it was:
// the next append grows again instead of writing past the array.
TEST(TemporaryRecordManagerTest, FailedGrowthChangesNothing) {
  TTemporarySeams seams;
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    auto m = MakeManager(24, keep, 100, 2);
    std::vector<Image> model;
    RecordPosition position;
    for (int i = 0; i < 2; ++i) {
      model.push_back(MakeImage(24, i));
      ASSERT_TRUE(m->StoreNewRecord(0, model.back().data(), position));
    }
    ASSERT_EQ(m->MemoryCapacity(), 2);
    EngineMemoryManager.FailAllocationForTesting(1);
    const Image third = MakeImage(24, 99);
    EXPECT_FALSE(m->StoreNewRecord(0, third.data(), position));
    EngineMemoryManager.FailAllocationForTesting(0);
    EXPECT_EQ(m->MemoryCapacity(), 2);
    EXPECT_EQ(m->RecordCount(), 2);
    for (int i = 0; i < 5; ++i) {
      model.push_back(MakeImage(24, 10 + i));
      ASSERT_TRUE(m->StoreNewRecord(0, model.back().data(), position));
    }
    Image buffer(24);
    for (std::size_t n = 0; n < model.size(); ++n) {
      m->ReadRecord(static_cast<std::int64_t>(n), buffer.data());
      EXPECT_EQ(buffer, model[n]);
    }
  }
}

// Every allocation of a run of appends fails in turn: each failure is a
// refused append that changes nothing and keeps no memory.
TEST(TemporaryRecordManagerTest, AllocationFaultsRefuseTheAppend) {
  TTemporarySeams seams;
  auto m = MakeManager(37, false, 5, 2);
  std::vector<Image> model;
  const int allocations = InjectAllocationFailures(
      [&] {
        const auto before = m->RecordCount();
        RecordPosition position;
        for (std::int64_t i = before; i < 8; ++i) {
          Image image = MakeImage(37, i);
          if (!m->StoreNewRecord(0, image.data(), position)) {
            throw EABSException(1, "refused");
          }
          model.push_back(image);
        }
      },
      {.AfterFailure =
           [&] {
             EXPECT_EQ(m->RecordCount(), static_cast<std::int64_t>(model.size()));
             Image buffer(37);
             for (std::size_t n = 0; n < model.size(); ++n) {
               m->ReadRecord(static_cast<std::int64_t>(n), buffer.data());
               EXPECT_EQ(buffer, model[n]);
             }
           },
       .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(m->RecordCount(), 8);
}

// Stale positions: after emptying, and bookmarks beyond the end.
TEST(TemporaryRecordManagerTest, StalePositionsAreBounded) {
  TTemporarySeams seams;
  for (const std::int64_t limit : {0, 1000}) {
    SCOPED_TRACE(limit);
    auto m = MakeManager(8, false, limit);
    Image buffer(8, 0), image(8, 7);
    RecordPosition position;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(m->StoreNewRecord(0, image.data(), position));
    m->ClearAllRecords(-2);
    NavigationRequest r;
    r.RecordBuffer = buffer.data();
    r.Position = TABSTemporaryRecordManager::PositionOf(9);
    for (const FetchMode mode : {FetchMode::Prior, FetchMode::Current, FetchMode::Next}) {
      r.Direction = mode;
      m->NavigateRecord(0, r);
      EXPECT_EQ(r.Result, FetchResult::Eof);
    }
    image[0] = 1;
    ASSERT_TRUE(m->StoreNewRecord(0, image.data(), position));
    EXPECT_EQ(TABSTemporaryRecordManager::RecordNumber(position), 0u);
    image[0] = 2;
    ASSERT_TRUE(m->StoreNewRecord(0, image.data(), position));
    r.Position = TABSTemporaryRecordManager::PositionOf(9);
    r.Direction = FetchMode::Prior;
    m->NavigateRecord(0, r);
    EXPECT_EQ(r.Result, FetchResult::Found);
    EXPECT_EQ(TABSTemporaryRecordManager::RecordNumber(r.Position), 1u);
    EXPECT_EQ(buffer[0], 2);
  }
}

// A record file that refuses writes or reads: each failure is an engine
// error (or a refused append), nothing stored is lost, and once the file
// works again every record reads back.
TEST(TemporaryRecordManagerTest, FileFaultsLoseNothing) {
  TTemporarySeams seams;
  const std::int32_t size = 40000;  // more than half the file buffer
  auto m = MakeManager(size, false, 0);
  std::vector<Image> model;
  RecordPosition position;
  for (int i = 0; i < 2; ++i) {
    model.push_back(MakeImage(size, i));
    ASSERT_TRUE(m->StoreNewRecord(0, model.back().data(), position));
  }
  seams.Faults().WriteBytesLeft = 100;
  const Image refused = MakeImage(size, 50);
  EXPECT_FALSE(m->StoreNewRecord(0, refused.data(), position));
  EXPECT_EQ(m->RecordCount(), 2);
  Image buffer(static_cast<std::size_t>(size));
  EXPECT_EQ(NativeErrorOf([&] { m->ReadRecord(1, buffer.data()); }), 10125);
  NavigationRequest r;
  r.RecordBuffer = buffer.data();
  r.Direction = FetchMode::Current;
  m->NavigateRecord(0, r);
  EXPECT_EQ(r.Result, FetchResult::NotFound);
  seams.Faults().WriteBytesLeft = -1;
  for (int i = 2; i < 5; ++i) {
    model.push_back(MakeImage(size, i));
    ASSERT_TRUE(m->StoreNewRecord(0, model.back().data(), position));
  }
  for (std::size_t n = 0; n < model.size(); ++n) {
    m->ReadRecord(static_cast<std::int64_t>(n), buffer.data());
    ASSERT_EQ(buffer, model[n]) << n;
  }
  seams.Faults().ReadBytesLeft = 10;
  EXPECT_EQ(NativeErrorOf([&] { m->ReadRecord(0, buffer.data()); }), 10130);
  seams.Faults().ReadBytesLeft = -1;
  m->ReadRecord(0, buffer.data());
  EXPECT_EQ(buffer, model[0]);
  seams.Faults().FailCreate = true;
  auto other = MakeManager(8, false, 0);
  EXPECT_FALSE(other->StoreNewRecord(0, buffer.data(), position));
  EXPECT_EQ(other->RecordCount(), 0);
}

// Keep-in-memory never creates a file; a cleared table closes its file.
TEST(TemporaryRecordManagerTest, FilesExistOnlyWhileNeeded) {
  TTemporarySeams seams;
  seams.Faults().FailCreate = true;  // any attempt to make a file would refuse the append
  auto keep = MakeManager(8, true, 0);
  const Image image(8, 3);
  RecordPosition position;
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(keep->StoreNewRecord(0, image.data(), position));
  EXPECT_EQ(keep->RecordFile(), nullptr);
  seams.Faults().FailCreate = false;
  auto spill = MakeManager(8, false, 2);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(spill->StoreNewRecord(0, image.data(), position));
  ASSERT_NE(spill->RecordFile(), nullptr);
  const int fd = spill->RecordFile()->Descriptor();
  EXPECT_TRUE(IsOpenDescriptor(fd));
  spill->ClearAllRecords(-2);
  EXPECT_FALSE(IsOpenDescriptor(fd));
}

}  // namespace
