#include "engine/storage/ABSBitsArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSStream.h"
#include "tests/engine/RaisedError.h"

namespace {

constexpr TABSBitsStreamCodes kCodes{1, 2, 3, 4, 5, 6};

// Answers of the model, written without words or popcounts.
struct Model {
  std::vector<bool> bits;
  int Count() const {
    int c = 0;
    for (bool b : bits) c += b;
    return c;
  }
  int FirstClear() const {
    for (int i = 0; i < static_cast<int>(bits.size()); ++i)
      if (!bits[i]) return i;
    return -1;
  }
  int Next(int from) const {
    for (int i = std::max(from, 0); i < static_cast<int>(bits.size()); ++i)
      if (bits[i]) return i;
    return -1;
  }
  int Prior(int from) const {
    for (int i = std::min(from, static_cast<int>(bits.size()) - 1); i >= 0; --i)
      if (bits[i]) return i;
    return -1;
  }
  int Rank(int n) const {
    int c = 0;
    for (int i = 0; i < n && i < static_cast<int>(bits.size()); ++i) c += bits[i];
    return c;
  }
  int Select(int k) const {
    for (int i = 0; i < static_cast<int>(bits.size()); ++i)
      if (bits[i] && k-- == 0) return i;
    return -1;
  }
};

void ExpectSame(const TABSBitsArray& a, const Model& m, std::mt19937& rng) {
  const int n = static_cast<int>(m.bits.size());
  ASSERT_EQ(a.BitCount(), n);
  ASSERT_EQ(a.SetBitCount(), m.Count());
  ASSERT_EQ(a.FirstClearBit(), m.FirstClear());
  for (int i = 0; i < n; ++i) ASSERT_EQ(a.GetBit(i), m.bits[i]) << i;
  std::uniform_int_distribution<int> probe(-3, n + 3);
  for (int t = 0; t < 40; ++t) {
    const int p = probe(rng);
    ASSERT_EQ(a.NextSetBit(p), m.Next(p)) << p;
    ASSERT_EQ(a.PriorSetBit(p), m.Prior(p)) << p;
    ASSERT_EQ(a.Rank(p), m.Rank(p)) << p;
    ASSERT_EQ(a.Select(p), m.Select(p)) << p;
  }
}

TEST(BitsArrayTest, MatchesVectorModelUnderRandomOperations) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    TABSBitsArray a;
    Model m;
    for (int step = 0; step < 3000; ++step) {
      const int op = static_cast<int>(rng() % 100);
      const int n = static_cast<int>(m.bits.size());
      if (op < 8) {
        // Grow and shrink across word boundaries; shrinking must drop bits
        // so that growing again shows them clear.
        const int size = static_cast<int>(rng() % 300);
        a.Resize(size);
        m.bits.resize(size, false);
      } else if (op < 9) {
        a.SetAllBits();
        m.bits.assign(m.bits.size(), true);
      } else if (op < 10) {
        a.ClearAllBits();
        m.bits.assign(m.bits.size(), false);
      } else if (n > 0) {
        const int bit = static_cast<int>(rng() % n);
        const bool value = op < 60;
        a.AssignBit(bit, value);
        m.bits[bit] = value;
      }
      if (step % 50 == 0) ExpectSame(a, m, rng);
    }
    ExpectSame(a, m, rng);
  }
}

TEST(BitsArrayTest, RankAndSelectAreInverseOnLargeSparseArrays) {
  TABSBitsArray a;
  a.Resize(100000);
  std::vector<int> set;
  for (int i = 3; i < 100000; i += 997) {
    a.SetBit(i);
    set.push_back(i);
  }
  ASSERT_EQ(a.SetBitCount(), static_cast<int>(set.size()));
  for (int k = 0; k < static_cast<int>(set.size()); ++k) {
    EXPECT_EQ(a.Select(k), set[k]);
    EXPECT_EQ(a.Rank(set[k]), k);
  }
  EXPECT_EQ(a.NextSetBit(set.back() + 1), -1);
  EXPECT_EQ(a.PriorSetBit(set.front() - 1), -1);
  EXPECT_EQ(a.PriorSetBit(99999), set.back());
}

TEST(BitsArrayTest, BoundsCodesLeaveTheArrayUnchanged) {
  TABSBitsArray a;
  a.Resize(70);
  a.SetBit(69);
  const struct {
    const char* what;
    std::function<void()> call;
    std::int32_t code;
  } cases[] = {
      {"get -1", [&] { (void)a.GetBit(-1); }, 10394},
      {"get 70", [&] { (void)a.GetBit(70); }, 10394},
      {"set 70", [&] { a.SetBit(70); }, 10395},
      {"set -1", [&] { a.SetBit(-1); }, 10395},
      {"clear 70", [&] { a.ClearBit(70); }, 10428},
      {"resize -1", [&] { a.Resize(-1); }, 10429},
      {"bytes -1", [&] { a.AssignBytes("x", -1); }, 10429},
      {"bytes nil", [&] { a.AssignBytes(nullptr, 5); }, 10399},
      {"copy nil", [&] { a.CopyToBytes(nullptr); }, 10399},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NativeErrorOf(c.call), c.code) << c.what;
    EXPECT_EQ(a.BitCount(), 70) << c.what;
    EXPECT_EQ(a.SetBitCount(), 1) << c.what;
    EXPECT_TRUE(a.GetBit(69)) << c.what;
  }
}

TEST(BitsArrayTest, ByteFormPutsBitNInByteNDivEight) {
  TABSBitsArray a;
  a.Resize(13);
  a.SetBit(0);
  a.SetBit(9);
  a.SetBit(12);
  unsigned char bytes[2] = {0xFF, 0xFF};
  a.CopyToBytes(bytes);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[1], 0x12);
  // Bits beyond the count in the last byte are ignored on the way in.
  const unsigned char in[2] = {0x80, 0xFF};
  TABSBitsArray b;
  b.AssignBytes(in, 10);
  EXPECT_EQ(b.SetBitCount(), 3);
  EXPECT_TRUE(b.GetBit(7));
  EXPECT_TRUE(b.GetBit(8));
  EXPECT_TRUE(b.GetBit(9));
  b.Resize(16);
  EXPECT_EQ(b.SetBitCount(), 3) << "growing shows the ignored bits clear";
}

TEST(BitsArrayTest, StreamRoundTripAndCorruptStreams) {
  TABSBitsArray a;
  a.Resize(75);
  for (int i = 0; i < 75; i += 7) a.SetBit(i);
  TABSMemoryStream s;
  a.SaveToStream(s, kCodes);
  ASSERT_EQ(s.Size(), 8 + 10);

  TABSBitsArray b;
  s.SetPosition(0);
  b.LoadFromStream(s, kCodes);
  EXPECT_TRUE(a == b);

  const auto* bytes = static_cast<const unsigned char*>(s.Memory());
  const std::vector<unsigned char> good(bytes, bytes + s.Size());
  struct Case {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> spoil;
    std::int32_t code;
  };
  const Case cases[] = {
      {"short bit count", [](auto& v) { v.resize(3); }, kCodes.BitCountRead},
      {"negative bit count", [](auto& v) { v[3] = 0x80; }, kCodes.BitCountRead},
      {"short set count", [](auto& v) { v.resize(6); }, kCodes.SetCountRead},
      {"set count above bits", [](auto& v) { v[4] = 76; }, kCodes.SetCountRead},
      {"set count wrong", [](auto& v) { v[4] ^= 1; }, kCodes.SetCountRead},
      {"short bytes", [](auto& v) { v.pop_back(); }, kCodes.BytesRead},
      {"huge bit count", [](auto& v) { v[3] = 0x7F; }, kCodes.BytesRead},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> bad = good;
    c.spoil(bad);
    TABSMemoryStream in;
    in.Write(bad.data(), static_cast<std::int32_t>(bad.size()));
    in.SetPosition(0);
    TABSBitsArray target;
    target.Resize(5);
    target.SetBit(4);
    EXPECT_EQ(NativeErrorOf([&] { target.LoadFromStream(in, kCodes); }), c.code) << c.what;
    EXPECT_EQ(target.BitCount(), 5) << c.what;
    EXPECT_EQ(target.SetBitCount(), 1) << c.what;
  }
}

TEST(BitsArrayTest, FailedGrowthUnderMemoryLimitChangesNothing) {
  TABSBitsArray a;
  a.Resize(64);
  a.SetBit(63);
  const std::int64_t before = EngineMemoryManager.MemoryLimit();
  EngineMemoryManager.SetMemoryLimit(EngineMemoryManager.AllocatedSize() + 16);
  const std::int32_t code = NativeErrorOf([&] { a.Resize(1 << 20); });
  EngineMemoryManager.SetMemoryLimit(before);
  EXPECT_NE(code, 0);
  EXPECT_EQ(a.BitCount(), 64);
  EXPECT_TRUE(a.GetBit(63));
  EXPECT_EQ(a.SetBitCount(), 1);
}

}  // namespace
