// B-tree record index: layout, splits, merges, navigation and the mended
// behaviours, on a fake table with real record and page managers.
#include <gtest/gtest.h>
#include "engine/memory/ABSNativeCodes.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/storage/ABSRecordManager.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/index/BTreeChecker.h"
#include "tests/engine/index/BTreeTestSupport.h"

namespace {

constexpr std::int32_t S = TFakeIndexTable::kSession;

struct IntTree {
  explicit IntTree(std::uint16_t pageSize = 4096, bool unique = false)
      : table({{"K", dtInteger}, {"V", dtInteger}}, pageSize), index(table, nullptr) {
    def = MakeIndexDef({{"K"}}, unique);
    index.CreateIndexPages(S, nullptr, *def);
    table.Pages().CommitSessionPages(S);
  }
  RecordPosition Add(std::int32_t key) {
    auto image = table.NewImage();
    table.SetInt(image, 0, key);
    const RecordPosition p = table.Store(image);
    index.InsertKey(S, image.data(), p);
    table.Pages().CommitSessionPages(S);
    images.push_back(image);
    return p;
  }
  void Remove(const RecordPosition& p) {
    index.DeleteKey(S, images[static_cast<std::size_t>(p.RecordId)].data(), p);
    table.Pages().CommitSessionPages(S);
  }
  std::vector<std::int32_t> LeafCounts() {
    std::vector<std::int32_t> counts;
    TABSKeyPath first;
    if (!index.EdgePath(S, first, false)) return counts;
    for (std::int32_t no = first.Leaf().PageNo; no != -1;) {
      TABSPage* page = table.Pages().GetPage(S, no, false, kBTreePageType);
      TABSBTreePageView v(page->GetPageData(), index.KeyRef().KeySize(), page->GetPageDataSize());
      counts.push_back(v.Count());
      no = v.NextPageNo();
      table.Pages().PutPage(page);
    }
    return counts;
  }
  std::vector<RecordPosition> Order() {
    std::vector<RecordPosition> order;
    const std::string error = CheckBTree(index, S, &order);
    EXPECT_EQ(error, "");
    return order;
  }
  TFakeIndexTable table;
  TABSBTreeRecordIndex index;
  std::unique_ptr<TABSIndexDef> def;
  std::vector<std::vector<std::byte>> images;
};

std::vector<std::int32_t> Ids(const std::vector<RecordPosition>& positions) {
  std::vector<std::int32_t> ids;
  for (const RecordPosition& p : positions) ids.push_back(std::int32_t{p.RecordId});
  return ids;
}

}  // namespace

TEST(BTreeLayout, IntegerKeyFitsItsExampleCounts) {
  IntTree t;
  EXPECT_EQ(t.index.KeyRef().KeySize(), 5);
  std::vector<std::uint8_t> page(4096);
  TABSBTreePageView leaf(page.data(), 5, 4096);
  leaf.InitHeader(false, true, false);
  EXPECT_EQ(leaf.Capacity(), 370);
  TABSBTreePageView node(page.data(), 5, 4096);
  node.InitHeader(false, false, false);
  EXPECT_EQ(node.Capacity(), 453);
  std::int32_t keys = 0;
  std::int32_t rest = 0;
  t.index.KeysPerPage(keys, rest);
  EXPECT_EQ(keys, 4096 / 9);
  EXPECT_EQ(rest, 4096 % 9);
}

TEST(BTreeLayout, LeafSplitsAt371Into185And186AndKeepsTheRootNumber) {
  IntTree t;
  const std::int32_t root = t.index.RootPageNo();
  for (std::int32_t i = 0; i < 370; ++i) t.Add(i * 2);
  EXPECT_EQ(t.LeafCounts(), std::vector<std::int32_t>{370});
  t.Add(101);
  EXPECT_EQ(t.LeafCounts(), (std::vector<std::int32_t>{185, 186}));
  EXPECT_EQ(t.index.RootPageNo(), root);
  EXPECT_EQ(t.Order().size(), 371u);
  EXPECT_EQ(t.table.Pages().GetUsedPageCount(), 3);
}

TEST(BTreeLayout, RefusesKeyLayoutsThatCannotWork) {
  struct Case {
    TTestField Field;
    TTestColumn Column;
    std::int32_t Code;
  };
  const Case cases[] = {
      {{"F", dtInteger}, {"Missing"}, 20043},
      {{"F", dtBlob}, {"F"}, 20295},
      {{"F", dtString, 40}, {"F", false, false, 0}, native_code::kIndexedLengthTooSmall},
      {{"F", dtLargeint}, {"F", false, false, 4}, native_code::kPrefixOfNonText},
      {{"F", dtString, 2000}, {"F", false, false, 2000}, native_code::kIndexKeyTooLarge},
  };
  for (const Case& c : cases) {
    TFakeIndexTable table({c.Field});
    TABSBTreeRecordIndex index(table, nullptr);
    auto def = MakeIndexDef({c.Column});
    EXPECT_EQ(NativeErrorOf([&] { index.CreateIndexPages(S, nullptr, *def); }), c.Code)
        << c.Field.Name << " " << c.Column.IndexedLength;
    EXPECT_EQ(table.Pages().GetUsedPageCount(), 0);
  }
}

TEST(BTreeLayout, PrefixPartsStoreIndexedLengthPlusThree) {
  TFakeIndexTable table({{"S", dtString, 100}, {"W", dtWideString, 30}, {"I", dtInteger}});
  TABSBTreeRecordIndex index(table, nullptr);
  auto def = MakeIndexDef({{"S"}, {"W"}, {"I"}});
  index.CreateIndexPages(S, nullptr, *def);
  table.Pages().CommitSessionPages(S);
  const auto& parts = index.KeyRef().Parts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].PartSize, 23);
  EXPECT_EQ(parts[0].PrefixMode, 2);
  EXPECT_EQ(parts[1].PartSize, 23);
  EXPECT_EQ(parts[2].PartSize, 5);
  EXPECT_EQ(index.KeyRef().KeySize(), 51);
  EXPECT_EQ(index.KeyRef().FullKeySize(), 102 + 63 + 5);
  EXPECT_EQ(def->RootPageNo, -1) << "the index keeps its own copy";
  EXPECT_EQ(index.IndexDef()->RootPageNo, 0);
  index.DropIndexPages(S);
  table.Pages().CommitSessionPages(S);
  EXPECT_EQ(table.Pages().GetUsedPageCount(), 0);
}

TEST(BTreeBuild, CreateOnRecordsInsertsOneEntryPerRecordInRecordOrder) {
  TFakeIndexTable table({{"K", dtInteger}}, 128);
  std::vector<std::int32_t> keys = {5, 3, 5, 1, 5, 9, 3};
  for (int round = 0; round < 6; ++round) {
    for (std::int32_t k : {5, 3, 5, 1, 5, 9, 3}) keys.push_back(k + round);
  }
  for (std::int32_t k : keys) {
    auto image = table.NewImage();
    table.SetInt(image, 0, k);
    table.Store(image);
  }
  TABSBTreeRecordIndex index(table, nullptr);
  auto def = MakeIndexDef({{"K"}});
  TTestCursor cursor;
  index.CreateIndexPages(S, &cursor.State, *def);
  table.Pages().CommitSessionPages(S);
  std::vector<RecordPosition> order;
  ASSERT_EQ(CheckBTree(index, S, &order), "");
  std::vector<std::int32_t> expected(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) expected[i] = static_cast<std::int32_t>(i);
  std::stable_sort(expected.begin(), expected.end(),
                   [&](std::int32_t a, std::int32_t b) { return keys[a] < keys[b]; });
  EXPECT_EQ(Ids(order), expected);

  TABSBTreeRecordIndex empty(table, nullptr);
  auto def2 = MakeIndexDef({{"K"}});
  TFakeIndexTable none({{"K", dtInteger}});
  TABSBTreeRecordIndex emptyIndex(none, nullptr);
  emptyIndex.CreateIndexPages(S, &cursor.State, *def2);
  none.Pages().CommitSessionPages(S);
  EXPECT_EQ(emptyIndex.EntryCount(S), 0);
  EXPECT_EQ(none.Pages().GetUsedPageCount(), 1);
}

TEST(BTreeBuild, EqualKeysAcrossPagesKeepPositionOrderAndDeleteExactly) {
  IntTree t(128);
  std::vector<RecordPosition> all;
  for (int i = 0; i < 200; ++i) all.push_back(t.Add(i % 3 == 0 ? 7 : 7 + i % 2));
  std::vector<RecordPosition> order = t.Order();
  // Per key, ascending record IDs.
  for (std::size_t i = 1; i < order.size(); ++i) {
    const auto ka = LoadLE<std::int32_t>(t.images[order[i - 1].RecordId].data() + 1);
    const auto kb = LoadLE<std::int32_t>(t.images[order[i].RecordId].data() + 1);
    ASSERT_TRUE(ka < kb || (ka == kb && order[i - 1].RecordId < order[i].RecordId)) << i;
  }
  // Remove every other duplicate of 7: exactly those entries go.
  std::vector<std::int32_t> kept;
  for (const RecordPosition& p : all) {
    if (p.RecordId % 6 == 0) {
      t.Remove(p);
    }
  }
  for (const RecordPosition& p : t.Order()) {
    EXPECT_NE(p.RecordId % 6, 0);
    kept.push_back(std::int32_t{p.RecordId});
  }
  EXPECT_EQ(kept.size(), 200u - 34u);
  EXPECT_EQ(NativeErrorOf([&] { t.Remove(all[0]); }), 20027);
}

TEST(BTreeBuild, DeletingEverythingCollapsesTheRootInPlace) {
  for (bool backwards : {false, true}) {
    IntTree t(128);
    const std::int32_t root = t.index.RootPageNo();
    std::vector<RecordPosition> all;
    for (int i = 0; i < 300; ++i) all.push_back(t.Add((i * 37) % 300));
    std::int32_t pages = 0;
    ASSERT_EQ(CheckBTree(t.index, S, nullptr, &pages), "");
    ASSERT_GT(pages, 20);
    if (backwards) std::reverse(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
      t.Remove(all[i]);
      if (i % 25 == 0) {
        ASSERT_EQ(CheckBTree(t.index, S), "") << i;
      }
    }
    EXPECT_EQ(t.index.RootPageNo(), root);
    EXPECT_EQ(t.index.EntryCount(S), 0);
    EXPECT_EQ(t.table.Pages().GetUsedPageCount(), 1) << "every page below the root is freed";
    EXPECT_EQ(CheckBTree(t.index, S), "");
  }
}

TEST(BTreeBuild, UnderfullLeafMergesIntoItsPreviousAndTheFirstIntoItsNext) {
  // 128-byte pages: 10 integer entries per leaf, a leaf under 55 bytes of
  // entries (5 entries) merges when both fit.
  IntTree t(128);
  for (int i = 0; i < 11; ++i) t.Add(i);  // root split: leaves 5 + 6
  ASSERT_EQ(t.LeafCounts(), (std::vector<std::int32_t>{5, 6}));
  t.Remove(t.Order()[10]);  // second leaf down to 5 entries: no merge (5+5 > 10 - header)
  ASSERT_EQ(t.LeafCounts(), (std::vector<std::int32_t>{5, 5}));
  t.Remove(t.Order()[9]);  // 4 entries: merges into the previous one
  EXPECT_EQ(t.LeafCounts(), (std::vector<std::int32_t>{9}));
  EXPECT_EQ(t.table.Pages().GetUsedPageCount(), 1);

  IntTree u(128);
  for (int i = 0; i < 11; ++i) u.Add(i);
  u.Remove(u.Order()[0]);
  u.Remove(u.Order()[0]);  // the first leaf down to 3: merges into its next
  EXPECT_EQ(u.LeafCounts(), (std::vector<std::int32_t>{9}));
  EXPECT_EQ(CheckBTree(u.index, S), "");
}

TEST(BTreeKeys, PrefixTiesAndNullsOrderByWholeValues) {
  TFakeIndexTable table({{"S", dtString, 60}, {"D", dtInteger}}, 256);
  TABSBTreeRecordIndex index(table, nullptr);
  auto def = MakeIndexDef({{"S"}, {"D", true}});
  index.CreateIndexPages(S, nullptr, *def);
  const std::string prefix = "Customer number 0000000000-";
  std::vector<std::string> values;
  for (int i = 0; i < 60; ++i) values.push_back(prefix + std::to_string((i * 7919) % 1000));
  std::vector<std::pair<std::string, RecordPosition>> stored;
  for (int i = 0; i < 60; ++i) {
    auto image = table.NewImage();
    table.SetText(image, 0, values[i]);
    if (i % 5 == 0) {
      table.SetNull(image, 1);
    } else {
      table.SetInt(image, 1, i);
    }
    const RecordPosition p = table.Store(image);
    index.InsertKey(S, image.data(), p);
  }
  table.Pages().CommitSessionPages(S);
  std::vector<RecordPosition> order;
  ASSERT_EQ(CheckBTree(index, S, &order), "");
  std::vector<std::string> seen;
  for (const RecordPosition& p : order) seen.push_back(values[p.RecordId]);
  std::vector<std::string> sorted = values;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return platform::FormatSettings::User().Compare(platform::AnsiToWide(a),
                                                    platform::AnsiToWide(b), false) < 0;
  });
  EXPECT_EQ(seen, sorted);
}

TEST(BTreeBuild, AnEmptiedPageLeavesEvenBesideAnExactlyFullOne) {
  // 128-byte pages hold exactly 10 integer entries (18 + 10 x 11 bytes): an
  // emptied page next to a full one still goes, so no empty page remains.
  IntTree t(128);
  std::vector<RecordPosition> left;
  for (int k = 0; k <= 100; k += 10) t.Add(k);  // leaves 0..40 | 50..100
  for (int k = 41; k <= 45; ++k) t.Add(k);      // left leaf full
  for (int k = 101; k <= 104; ++k) t.Add(k);    // right leaf full
  ASSERT_EQ(t.LeafCounts(), (std::vector<std::int32_t>{10, 10}));
  for (int i = 0; i < 10; ++i) t.Remove(t.Order()[0]);
  EXPECT_EQ(t.LeafCounts(), std::vector<std::int32_t>{10});
  EXPECT_EQ(t.table.Pages().GetUsedPageCount(), 1);
  EXPECT_EQ(CheckBTree(t.index, S), "");
}
