#include "engine/storage/ABSMemoryPageManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/memory/ABSCoding.h"
#include "engine/types/ABSStream.h"
#include "tests/engine/RaisedError.h"

namespace {

constexpr std::uint16_t kType = 12;

// Pages 0 .. n-1 of session 1, page i filled with byte (i * 7 + 1), committed.
void Fill(TABSMemoryPageManager& m, int n) {
  for (int i = 0; i < n; ++i) {
    TABSPage* p = m.AddNewPage(1, kType);
    std::memset(p->GetPageData(), p->PageNo() * 7 + 1, p->GetPageDataSize());
    m.PutPage(p);
  }
  m.CommitSessionPages(1);
}

void Free(TABSMemoryPageManager& m, std::int32_t no) {
  m.FreePage(1, no);
  m.CommitSessionPages(1);
}

std::vector<unsigned char> Saved(TABSMemoryPageManager& m) {
  TABSMemoryStream s;
  m.SaveToStream(s);
  const auto* bytes = static_cast<const unsigned char*>(s.Memory());
  return std::vector<unsigned char>(bytes, bytes + s.Size());
}

void LoadBytes(TABSMemoryPageManager& m, const std::vector<unsigned char>& bytes) {
  TABSMemoryStream s;
  s.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  s.SetPosition(0);
  m.LoadFromStream(s);
}

TEST(MemoryPageManagerTest, NewStoreAndItsGrowth) {
  TABSMemoryPageManager m;
  EXPECT_EQ(m.GetPageSize(), 4096);
  EXPECT_EQ(m.GetPageHeaderSize(), 0);
  EXPECT_EQ(m.GetKeyAreaSize(), 4096);
  EXPECT_EQ(m.GetUsedPageCount(), 0);
  EXPECT_EQ(m.PageCapacity(), 0);
  TABSPage* p = m.AddNewPage(1, kType);
  EXPECT_EQ(p->PageNo(), 0);
  EXPECT_EQ(p->GetPageDataSize(), 4096);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(p->GetPageData()[i], 0) << i;
  EXPECT_EQ(m.PageCapacity(), 50);
  EXPECT_EQ(m.StoreLength(), 50);
  m.PutPage(p);
  m.CommitSessionPages(1);
  Fill(m, 50);
  EXPECT_EQ(m.HighestPageNo(), 50);
  EXPECT_EQ(m.PageCapacity(), 100);
  EXPECT_EQ(m.StoreLength(), 100);
  EXPECT_EQ(m.GetUsedPageCount(), 51);
}

TEST(MemoryPageManagerTest, LowestFreeNumberIsReusedWithItsOldContents) {
  TABSMemoryPageManager m;
  Fill(m, 4);
  Free(m, 2);
  Free(m, 1);
  EXPECT_EQ(m.GetUsedPageCount(), 2);
  TABSPage* p = m.AddNewPage(1, kType);
  EXPECT_EQ(p->PageNo(), 1);
  EXPECT_EQ(p->GetPageData()[100], 1 * 7 + 1);
  TABSPage* q = m.AddNewPage(1, kType);
  EXPECT_EQ(q->PageNo(), 2);
  TABSPage* r = m.AddNewPage(1, kType);
  EXPECT_EQ(r->PageNo(), 4);
  for (TABSPage* x : {p, q, r}) m.PutPage(x);
  m.CommitSessionPages(1);
}

TEST(MemoryPageManagerTest, SmallPagesForTests) {
  TABSMemoryPageManager m(256);
  Fill(m, 3);
  EXPECT_EQ(m.GetPageSize(), 256);
  EXPECT_EQ(m.GetKeyAreaSize(), 256);
  EXPECT_EQ(m.StoredPage(2)[255], 2 * 7 + 1);
}

TEST(MemoryPageManagerTest, StreamRoundTripKeepsNumbersBitsAndContents) {
  TABSMemoryPageManager a;
  Fill(a, 60);
  Free(a, 3);
  Free(a, 57);
  const std::vector<unsigned char> bytes = Saved(a);
  ASSERT_EQ(bytes.size(), 4u * 3 + 2 * 2 + 4 + 4 + 4 + 100 / 8 + 1 + 100u * 4096);

  TABSMemoryPageManager b;
  Fill(b, 2);  // replaced by the load
  LoadBytes(b, bytes);
  EXPECT_EQ(b.PageCapacity(), 100);
  EXPECT_EQ(b.HighestPageNo(), 59);
  EXPECT_EQ(b.GetUsedPageCount(), 58);
  EXPECT_TRUE(b.UsedPages() == a.UsedPages());
  EXPECT_EQ(b.LivePageCount(), 0) << "the old cached pages are gone";
  for (std::int32_t n = 0; n < 100; ++n) {
    ASSERT_EQ(std::memcmp(a.StoredPage(n), b.StoredPage(n), 4096), 0) << n;
  }
  EXPECT_EQ(Saved(b), bytes);
  TABSPage* p = b.AddNewPage(1, kType);
  EXPECT_EQ(p->PageNo(), 3);
  EXPECT_EQ(p->GetPageData()[0], 3 * 7 + 1);
  b.PutPage(p);
  b.CommitSessionPages(1);
}

// Byte offsets of the stream items.
constexpr std::size_t kCapacity = 0, kHighest = 4, kGrowth = 8, kPageSize = 12, kHeader = 14,
                      kUsed = 16, kBitCount = 20, kSetCount = 24, kBits = 28;

TEST(MemoryPageManagerTest, CorruptStreamsRaiseTheItemsCodeAndChangeNothing) {
  TABSMemoryPageManager a;
  Fill(a, 5);
  Free(a, 1);
  const std::vector<unsigned char> good = Saved(a);
  const std::size_t pages = kBits + 7;  // 50 bits in 7 bytes
  auto put32 = [](std::vector<unsigned char>& v, std::size_t at, std::int32_t x) {
    StoreLE<std::int32_t>(v.data() + at, x);
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> spoil;
    std::int32_t code;
  };
  const Case cases[] = {
      {"empty", [](auto& v) { v.clear(); }, 10369},
      {"short highest", [](auto& v) { v.resize(kHighest + 2); }, 10370},
      {"short growth", [](auto& v) { v.resize(kGrowth); }, 10371},
      {"short page size", [](auto& v) { v.resize(kPageSize + 1); }, 10372},
      {"short header", [](auto& v) { v.resize(kHeader); }, 10373},
      {"short used", [](auto& v) { v.resize(kUsed + 3); }, 10374},
      {"short bit count", [](auto& v) { v.resize(kBitCount); }, 10401},
      {"short set count", [](auto& v) { v.resize(kSetCount + 1); }, 10426},
      {"short bits", [](auto& v) { v.resize(kBits + 3); }, 10402},
      {"short page", [pages](auto& v) { v.resize(pages + 4096 * 49 + 100); }, 10375},
      {"negative capacity", [&](auto& v) { put32(v, kCapacity, -1); }, 10369},
      {"huge capacity", [&](auto& v) { put32(v, kCapacity, 2000000000); }, 10401},
      {"highest beyond capacity", [&](auto& v) { put32(v, kHighest, 50); }, 10370},
      {"highest below a set bit", [&](auto& v) { put32(v, kHighest, 3); }, 10370},
      {"growth step 0", [&](auto& v) { put32(v, kGrowth, 0); }, 10371},
      {"other page size", [](auto& v) { v[kPageSize + 1] = 0x02; }, 10372},
      {"header size", [](auto& v) { v[kHeader] = 0x10; }, 10373},
      {"used count above bits", [&](auto& v) { put32(v, kUsed, 5); }, 10374},
      {"bit count not capacity", [&](auto& v) { put32(v, kBitCount, 49); }, 10401},
      {"set count not bits", [&](auto& v) { put32(v, kSetCount, 3); }, 10426},
      {"bit flipped", [](auto& v) { v[kBits] ^= 0x02; }, 10426},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> bad = good;
    c.spoil(bad);
    TABSMemoryPageManager b;
    Fill(b, 2);
    EXPECT_EQ(NativeErrorOf([&] { LoadBytes(b, bad); }), c.code) << c.what;
    EXPECT_EQ(b.GetUsedPageCount(), 2) << c.what;
    EXPECT_EQ(b.PageCapacity(), 50) << c.what;
    EXPECT_EQ(b.StoredPage(1)[9], 1 * 7 + 1) << c.what;
    EXPECT_EQ(b.LivePageCount(), 2) << c.what;
  }
}

TEST(MemoryPageManagerTest, LoadIsRefusedWhilePagesAreUsedOrUncommitted) {
  TABSMemoryPageManager a;
  Fill(a, 1);
  const std::vector<unsigned char> bytes = Saved(a);
  TABSMemoryPageManager b;
  Fill(b, 2);
  TABSPage* held = b.GetPage(1, 0, false, kType);
  EXPECT_EQ(NativeErrorOf([&] { LoadBytes(b, bytes); }), 20086);
  EXPECT_EQ(held->GetPageData()[0], 1) << "the held page still reads its buffer";
  b.PutPage(held);
  b.FreePage(1, 1);
  EXPECT_EQ(NativeErrorOf([&] { LoadBytes(b, bytes); }), 20097);
  b.CommitSessionPages(1);
  LoadBytes(b, bytes);
  EXPECT_EQ(b.GetUsedPageCount(), 1);
}

TEST(MemoryPageManagerTest, StoreCodes) {
  TABSMemoryPageManager m;
  Fill(m, 2);
  EXPECT_EQ(NativeErrorOf([&] { m.ReleasePageNo(50); }), 10428);
  EXPECT_EQ(NativeErrorOf([&] { m.ReleasePageNo(-1); }), 10428);
  EXPECT_EQ(m.GetUsedPageCount(), 2);
  Free(m, 1);
  TABSPage loose(m);
  EXPECT_EQ(NativeErrorOf([&] { (void)m.GetPage(1, 1, false, kType); }), 10392);
  EXPECT_EQ(NativeErrorOf([&] { m.WritePage(loose); }), 10393);
}

}  // namespace
