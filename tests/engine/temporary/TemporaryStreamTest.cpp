#include "engine/temporary/ABSTemporaryStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/memory/ABSNativeCodes.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

std::vector<char> Contents(TABSTemporaryStream& s) {
  const std::int64_t at = s.Position();
  std::vector<char> bytes(static_cast<std::size_t>(s.Size()));
  s.Seek(0, TABSSeekOrigin::Beginning);
  EXPECT_EQ(s.Read(bytes.data(), static_cast<std::int32_t>(bytes.size())),
            static_cast<std::int32_t>(bytes.size()));
  s.Seek(at, TABSSeekOrigin::Beginning);
  return bytes;
}

// Writes that end at, one past and well past the threshold, with and
// without the keep-in-memory flag, at the default threshold of 1 MiB.
TEST(TemporaryStreamTest, MovesToFileOnlyPastTheThreshold) {
  TTemporarySeams seams;
  struct Case {
    bool keep;
    std::int64_t total;
    bool inFile;
  };
  const std::int64_t t = TABSTemporaryStream::DefaultMemoryThreshold;
  const Case cases[] = {{false, t - 1, false}, {false, t, false},    {false, t + 1, true},
                        {false, 3 * t, true},  {true, 3 * t, false}, {true, t + 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "keep " << c.keep << " total " << c.total);
    TABSTemporaryStream s(c.keep);
    std::vector<char> model;
    std::int64_t written = 0;
    std::int32_t chunk = 1;
    while (written < c.total) {
      const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(chunk, c.total - written));
      std::vector<char> bytes(static_cast<std::size_t>(n));
      for (std::int32_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((written + i) * 31 % 251);
      ASSERT_EQ(s.Write(bytes.data(), n), n);
      model.insert(model.end(), bytes.begin(), bytes.end());
      written += n;
      chunk = chunk * 3 + 7;
      ASSERT_EQ(s.Position(), written);
    }
    EXPECT_EQ(s.InFile(), c.inFile);
    EXPECT_EQ(s.Size(), c.total);
    EXPECT_EQ(Contents(s), model);
  }
}

// Random writes, seeks and size changes around a small threshold against a
// byte vector; position and size checked after every call.
TEST(TemporaryStreamTest, MatchesModelAcrossTheSwitch) {
  TTemporarySeams seams;
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    TABSTemporaryStream s(false, 4000);
    std::vector<char> model;
    std::int64_t position = 0;
    for (int step = 0; step < 300; ++step) {
      const int op = static_cast<int>(rng() % 8);
      if (op < 4) {
        const auto n = static_cast<std::int32_t>(rng() % 700);
        std::vector<char> bytes(static_cast<std::size_t>(n));
        for (char& b : bytes) b = static_cast<char>(rng());
        ASSERT_EQ(s.Write(bytes.data(), n), n);
        if (n > 0) {
          if (static_cast<std::int64_t>(model.size()) < position + n) model.resize(position + n);
          std::memcpy(model.data() + position, bytes.data(), static_cast<std::size_t>(n));
          position += n;
        }
      } else if (op < 6) {
        position = rng() % (model.size() + 50);
        ASSERT_EQ(s.Seek(position, TABSSeekOrigin::Beginning), position);
      } else if (op < 7) {
        const auto n = static_cast<std::int32_t>(rng() % 900);
        std::vector<char> bytes(static_cast<std::size_t>(n));
        const std::int64_t size = static_cast<std::int64_t>(model.size());
        const std::int64_t expected =
            std::max<std::int64_t>(0, std::min<std::int64_t>(n, size - position));
        ASSERT_EQ(s.Read(bytes.data(), n), expected);
        if (expected > 0) {
          ASSERT_EQ(std::memcmp(bytes.data(), model.data() + position, expected), 0);
        }
        position += expected;
      } else {
        const std::int64_t newSize = rng() % (model.size() + 1000);
        s.SetSize(newSize);
        model.resize(newSize);
        position = std::min<std::int64_t>(position, newSize);
      }
      ASSERT_EQ(s.Position(), position) << step;
      ASSERT_EQ(s.Size(), static_cast<std::int64_t>(model.size())) << step;
    }
    ASSERT_EQ(Contents(s), model);
  }
}

// A move to the file that cannot complete (no file, a short copy, a copy
// whose last bytes stay buffered) raises and keeps the bytes in memory.
TEST(TemporaryStreamTest, FailedMoveKeepsMemoryData) {
  TTemporarySeams seams;
  struct Case {
    const char* name;
    bool failCreate;
    std::int64_t writeBytes;
    std::int32_t size;  // bytes in memory; below 64 KiB they reach the file buffer whole
    std::int32_t code;
  };
  const Case cases[] = {{"no file", true, -1, 90000, 10104},
                        {"short copy", false, 1000, 90000, native_code::kTempStreamSpill},
                        {"short last window", false, 0, 40000, native_code::kTempStreamSpill}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TABSTemporaryStream s(false, c.size + 10);
    std::vector<char> model(static_cast<std::size_t>(c.size));
    for (std::size_t i = 0; i < model.size(); ++i) model[i] = static_cast<char>(i % 253);
    ASSERT_EQ(s.Write(model.data(), c.size), c.size);
    s.Seek(c.size - 5, TABSSeekOrigin::Beginning);
    seams.Faults().FailCreate = c.failCreate;
    seams.Faults().WriteBytesLeft = c.writeBytes;
    const char more[20000] = {1};
    EXPECT_EQ(NativeErrorOf([&] { s.Write(more, sizeof more); }), c.code);
    TTemporarySeams::Reset();
    EXPECT_FALSE(s.InFile());
    EXPECT_EQ(s.Position(), c.size - 5);
    EXPECT_EQ(Contents(s), model);
    // The next write moves it after all.
    s.Seek(0, TABSSeekOrigin::End);
    ASSERT_EQ(s.Write(more, sizeof more), static_cast<std::int32_t>(sizeof more));
    EXPECT_TRUE(s.InFile());
    model.insert(model.end(), more, more + sizeof more);
    EXPECT_EQ(Contents(s), model);
  }
}

// An allocation failure while the memory stream grows is an engine error and
// leaves the stream's bytes as they were.
TEST(TemporaryStreamTest, AllocationFailuresLeaveTheStreamIntact) {
  TABSTemporaryStream s(true);
  const std::vector<char> first(300, 'x');
  ASSERT_EQ(s.Write(first.data(), 300), 300);
  const std::vector<char> more(5000, 'y');
  const int allocations = InjectAllocationFailures(
      [&] {
        s.Seek(300, TABSSeekOrigin::Beginning);
        s.SetSize(300);
        s.Write(more.data(), 5000);
      },
      {.AfterFailure = [&] { EXPECT_EQ(Contents(s), first); }});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(s.Size(), 5300);
}

}  // namespace
