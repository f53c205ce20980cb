// Key layout: stored keys order as the engine's value comparison orders the
// values, for every indexable kind of column, and text keys compare without
// a heap allocation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/types/ABSConvert.h"
#include "tests/engine/index/BTreeTestSupport.h"

namespace {

// Counts operator new calls of this thread while armed. Sanitizer builds keep
// the sanitizer's allocator: a replacement would not meet it in every pairing.
thread_local bool countNews = false;
thread_local long newCount = 0;

}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
#define ABS_COUNT_NEWS 1
[[gnu::noinline]] void* operator new(std::size_t n) {
  if (countNews) ++newCount;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (countNews) ++newCount;
  return std::malloc(n == 0 ? 1 : n);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
#endif

namespace {

struct KeyCase {
  TTestField Field;
  TTestColumn Column;
};

// Writes a random value of the field's type into the image (or NULL).
void RandomValue(std::mt19937& rng, const TFakeIndexTable& table, std::vector<std::byte>& image) {
  const TABSFieldDef& f = *table.Fields()[0];
  if (rng() % 8 == 0) {
    table.SetNull(image, 0);
    return;
  }
  SetNullBit(image.data(), 0, false);
  std::byte* at = image.data() + f.MemoryOffset;
  std::memset(at, 0, static_cast<std::size_t>(f.ValueSize));
  if (IsStringStorageType(f.StorageType)) {
    static const char16_t letters[] = {u'a', u'A', u'b', u'\u00e9', u'\u00c9', u'z', u'1'};
    const std::size_t chars =
        std::min<std::size_t>(1 + rng() % 30, static_cast<std::size_t>(f.DeclaredSize));
    for (std::size_t i = 0; i < chars; ++i) {
      const char16_t c = letters[rng() % 7];
      if (IsWideStringStorageType(f.StorageType)) {
        StoreLE<char16_t>(at + 2 * i, c);
      } else {
        at[i] = static_cast<std::byte>(c);
      }
    }
    return;
  }
  for (std::int32_t i = 0; i < f.ValueSize; ++i) at[i] = static_cast<std::byte>(rng() % 4);
  if (f.StorageType == stDouble || f.StorageType == stCurrency) {
    StoreLE<double>(at, static_cast<double>(static_cast<int>(rng() % 200) - 100) / 8);
  }
}

}  // namespace

TEST(BTreeKeyOrder, StoredKeysOrderAsTheValueComparison) {
  const KeyCase cases[] = {
      {{"F", dtInteger}, {"F"}},
      {{"F", dtLargeint}, {"F", true}},
      {{"F", dtSmallint}, {"F"}},
      {{"F", dtCardinal}, {"F"}},
      {{"F", dtDouble}, {"F"}},
      {{"F", dtCurrency}, {"F", true}},
      {{"F", dtDate}, {"F"}},
      {{"F", dtDateTime}, {"F"}},
      {{"F", dtLogical}, {"F"}},
      {{"F", dtString, 16}, {"F"}},
      {{"F", dtString, 16}, {"F", true, true}},
      {{"F", dtWideString, 8}, {"F"}},
      {{"F", dtWideString, 8}, {"F", false, true}},
  };
  std::mt19937 rng(3);
  for (const KeyCase& c : cases) {
    TFakeIndexTable table({c.Field});
    TABSBTreeRecordIndex index(table, nullptr);
    auto def = MakeIndexDef({c.Column});
    index.CreateIndexPages(1, nullptr, *def);
    table.Pages().CommitSessionPages(1);
    const TABSRecordKeyRef& keys = index.KeyRef();
    const TABSFieldDef& f = *table.Fields()[0];
    std::vector<std::byte> ka(static_cast<std::size_t>(keys.KeySize()));
    std::vector<std::byte> kb(ka.size());
    for (int i = 0; i < 400; ++i) {
      auto a = table.NewImage();
      auto b = table.NewImage();
      RandomValue(rng, table, a);
      RandomValue(rng, table, b);
      if (i % 5 == 0) b = a;
      keys.BuildKey(a.data(), ka.data());
      keys.BuildKey(b.data(), kb.data());
      int expected = CompareValuesSigned(a.data() + f.MemoryOffset, b.data() + f.MemoryOffset,
                                         f.StorageType, UserDefaultLocale, c.Column.CaseInsensitive,
                                         -1, IsNullBitSet(b.data(), 0), IsNullBitSet(a.data(), 0),
                                         f.StorageType, f.ValueSize, f.ValueSize);
      if (c.Column.Descending) expected = -expected;
      ASSERT_EQ(keys.CompareKeys(ka.data(), kb.data()), expected)
          << "type " << int(f.StorageType) << " case " << i;
      if (i % 5 == 0) {
        ASSERT_EQ(ka, kb) << "the same value gives the same key bytes";
      }
    }
  }
}

TEST(BTreeKeyOrder, TextKeysCompareWithoutHeapAllocation) {
#if !defined(ABS_COUNT_NEWS)
  GTEST_SKIP() << "allocations are not counted in sanitizer builds";
#endif
  TFakeIndexTable table({{"S", dtString, 60}, {"W", dtWideString, 40}});
  TABSBTreeRecordIndex index(table, nullptr);
  auto def = MakeIndexDef({{"S", false, true, 60}, {"W", true, false, 80}});
  index.CreateIndexPages(1, nullptr, *def);
  table.Pages().CommitSessionPages(1);
  const TABSRecordKeyRef& keys = index.KeyRef();
  auto a = table.NewImage();
  auto b = table.NewImage();
  table.SetText(a, 0, "A text long enough to pass the small-string buffer: one");
  table.SetText(b, 0, "a text long enough to pass the small-string buffer: one");
  SetNullBit(a.data(), 1, false);
  SetNullBit(b.data(), 1, false);
  for (int i = 0; i < 30; ++i) {
    StoreLE<char16_t>(a.data() + table.Fields()[1]->MemoryOffset + 2 * i, u'x');
    StoreLE<char16_t>(b.data() + table.Fields()[1]->MemoryOffset + 2 * i, i == 29 ? u'y' : u'x');
  }
  std::vector<std::byte> ka(static_cast<std::size_t>(keys.KeySize()));
  std::vector<std::byte> kb(ka.size());
  keys.BuildKey(a.data(), ka.data());
  keys.BuildKey(b.data(), kb.data());
  EXPECT_EQ(keys.CompareKeys(ka.data(), kb.data()), 1) << "descending second part decides";
  countNews = true;
  newCount = 0;
  int sum = 0;
  for (int i = 0; i < 100; ++i) sum += keys.CompareKeys(ka.data(), kb.data());
  countNews = false;
  EXPECT_EQ(sum, 100);
  EXPECT_EQ(newCount, 0);
}
