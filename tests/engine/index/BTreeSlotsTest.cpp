// B-tree record index: navigation, seeks, ranks, uniqueness, distinct
// marks, scans, estimates and the errors of the index slots.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSRecordManager.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/index/BTreeChecker.h"
#include "tests/engine/index/BTreeTestSupport.h"

namespace {

constexpr std::int32_t S = TFakeIndexTable::kSession;

// A one-column table (integer or text) with an index on it.
struct Tree {
  Tree(const TTestField& field, const TTestColumn& column, std::uint16_t pageSize = 128,
       bool unique = true)
      : table({field, {"V", dtInteger}}, pageSize), index(table, nullptr) {
    text = field.Type == dtString;
    def = MakeIndexDef({column}, unique);
    index.CreateIndexPages(S, nullptr, *def);
    table.Pages().CommitSessionPages(S);
  }
  std::vector<std::byte> Image(std::int32_t key, const std::string& s = "") const {
    auto image = table.NewImage();
    if (text) {
      table.SetText(image, 0, s);
    } else {
      table.SetInt(image, 0, key);
    }
    return image;
  }
  RecordPosition Add(const std::vector<std::byte>& image) {
    const RecordPosition p = table.Store(image);
    index.InsertKey(S, image.data(), p);
    table.Pages().CommitSessionPages(S);
    images.push_back(image);
    return p;
  }
  RecordPosition AddInt(std::int32_t key) { return Add(Image(key)); }
  void Remove(const RecordPosition& p) {
    index.DeleteKey(S, images[static_cast<std::size_t>(p.RecordId)].data(), p);
    RecordPosition gone = p;
    table.Records().RemoveRecord(S, gone);
    table.Pages().CommitSessionPages(S);
  }
  mutable TFakeIndexTable table;
  TABSBTreeRecordIndex index;
  std::unique_ptr<TABSIndexDef> def;
  std::vector<std::vector<std::byte>> images;
  bool text = false;
};

const TTestField kInt{"K", dtInteger};
const TTestColumn kIntColumn{"K"};

NavigationRequest Request(FetchMode direction, std::vector<std::byte>& buffer,
                          const RecordPosition& from = {}) {
  NavigationRequest r;
  r.Direction = direction;
  r.Position = from;
  r.RecordBuffer = buffer.data();
  return r;
}

}  // namespace

TEST(BTreeNavigation, FlagsFollowTheResult) {
  Tree t(kInt, kIntColumn);
  std::vector<std::byte> buffer(static_cast<std::size_t>(t.table.RecordSize()));
  // Empty index: not found, flags untouched.
  NavigationRequest empty = Request(FetchMode::Next, buffer);
  empty.BeforeFirst = true;
  t.index.NavigateIndex(S, empty, nullptr, 0);
  EXPECT_EQ(empty.Result, FetchResult::NotFound);

  const RecordPosition a = t.AddInt(10);
  const RecordPosition b = t.AddInt(20);
  NavigationRequest r = Request(FetchMode::Next, buffer);
  r.BeforeFirst = true;
  t.index.NavigateIndex(S, r, nullptr, 0);
  EXPECT_EQ(r.Result, FetchResult::Found);
  EXPECT_EQ(r.Position, a);
  EXPECT_FALSE(r.BeforeFirst) << "a second step would return the first record again";
  t.index.NavigateIndex(S, r, nullptr, 0);
  EXPECT_EQ(r.Position, b);
  t.index.NavigateIndex(S, r, nullptr, 0);
  EXPECT_EQ(r.Result, FetchResult::Eof);
  EXPECT_TRUE(r.AfterLast);
  EXPECT_FALSE(r.BeforeFirst);
  // From after the last, prior gives the last record and clears the flag.
  r.Direction = FetchMode::Prior;
  t.index.NavigateIndex(S, r, nullptr, 0);
  EXPECT_EQ(r.Position, b);
  EXPECT_FALSE(r.AfterLast);
  t.index.NavigateIndex(S, r, nullptr, 0);
  t.index.NavigateIndex(S, r, nullptr, 0);
  EXPECT_EQ(r.Result, FetchResult::Bof);
  EXPECT_TRUE(r.BeforeFirst);

  r.Direction = FetchMode::Current;
  EXPECT_EQ(NativeErrorOf([&] { t.index.NavigateIndex(S, r, nullptr, 0); }), 20053);
  // A record whose entry is absent: not found.
  NavigationRequest lost = Request(FetchMode::Next, buffer, RecordPosition{77, 0});
  std::vector<std::byte> image = t.Image(15);
  lost.RecordBuffer = image.data();
  t.index.NavigateIndex(S, lost, nullptr, 0);
  EXPECT_EQ(lost.Result, FetchResult::NotFound);
}

TEST(BTreeNavigation, SeekAfterADeletedRecordKeepsLaterEqualKeys) {
  Tree t(kInt, kIntColumn, 128, false);
  std::vector<RecordPosition> fives;
  t.AddInt(1);
  for (int i = 0; i < 30; ++i) fives.push_back(t.AddInt(5));
  t.AddInt(9);
  // The current record (the 10th five) is deleted; next continues with the
  // 11th five, prior with the 9th.
  const RecordPosition gone = fives[9];
  t.Remove(gone);
  for (auto [direction, expected] :
       {std::pair{FetchMode::Next, fives[10]}, std::pair{FetchMode::Prior, fives[8]}}) {
    std::vector<std::byte> buffer = t.images[static_cast<std::size_t>(gone.RecordId)];
    NavigationRequest r = Request(direction, buffer, gone);
    t.index.SeekKey(S, r);
    EXPECT_EQ(r.Result, FetchResult::Found);
    EXPECT_EQ(r.Position, expected);
  }
  // Nothing beyond: after-last.
  std::vector<std::byte> high = t.Image(50);
  NavigationRequest r = Request(FetchMode::Next, high, RecordPosition{999, 0});
  t.index.SeekKey(S, r);
  EXPECT_EQ(r.Result, FetchResult::Eof);
  EXPECT_TRUE(r.AfterLast);
}

TEST(BTreeRanks, NumbersAndTheirErrors) {
  Tree t(kInt, kIntColumn);
  RecordPosition keep{42, 0};
  EXPECT_EQ(NativeErrorOf([&] { t.index.RecordAtNumber(S, 1, keep); }), 20074);
  std::vector<RecordPosition> byKey(60);
  for (int i = 0; i < 60; ++i) byKey[(i * 7) % 60] = t.AddInt((i * 7) % 60);
  for (int n : {1, 2, 30, 59, 60}) {
    RecordPosition at;
    t.index.RecordAtNumber(S, n, at);
    EXPECT_EQ(at, byKey[n - 1]);
    EXPECT_EQ(t.index.RecordNumberOf(S, at, t.images[at.RecordId].data()), n);
  }
  EXPECT_EQ(NativeErrorOf([&] { t.index.RecordAtNumber(S, 61, keep); }), 20075);
  for (std::int64_t below : {0, -1, -100}) {
    t.index.RecordAtNumber(S, below, keep);
    EXPECT_EQ(keep, (RecordPosition{42, 0}));
  }
  EXPECT_EQ(t.index.RecordNumberOf(S, RecordPosition{5, 0}, t.Image(3).data()), -1);
}

TEST(BTreeUniqueness, WholeValuesDecideBeyondTheStoredPrefix) {
  Tree t({"S", dtString, 40}, {"S"}, 256);
  const std::string prefix = "Customer number 0000000000-";
  const RecordPosition a = t.Add(t.Image(0, prefix + "A"));
  const RecordPosition b = t.Add(t.Image(0, prefix + "B"));
  EXPECT_FALSE(t.index.IsKeyUnique(S, t.Image(0, prefix + "A").data()));
  EXPECT_TRUE(t.index.IsKeyUnique(S, t.Image(0, prefix + "C").data()));
  // B becomes A: its stored prefix stays, its whole value now duplicates A.
  const auto newB = t.Image(0, prefix + "A");
  EXPECT_FALSE(t.index.IsUpdateUnique(S, newB.data(), t.images[b.RecordId].data()));
  EXPECT_TRUE(t.index.IsUpdateUnique(S, t.images[b.RecordId].data(), t.images[b.RecordId].data()));
  EXPECT_TRUE(
      t.index.IsUpdateUnique(S, t.Image(0, prefix + "D").data(), t.images[b.RecordId].data()));
  // Distinct values that share the prefix both stay marked.
  struct Marks : TABSIndexMarks {
    std::vector<bool> marked;
    bool IsMarked(std::int64_t n, const RecordPosition&) override { return marked[n]; }
    void Unmark(std::int64_t n, const RecordPosition&) override { marked[n] = false; }
  } marks;
  t.Add(t.Image(0, prefix + "A"));
  marks.marked.assign(3, true);
  t.index.MarkDistinct(S, marks, -1);
  EXPECT_EQ(marks.marked, (std::vector<bool>{true, false, true}));
  (void)a;

  Tree plain(kInt, kIntColumn, 128, false);
  plain.AddInt(1);
  EXPECT_TRUE(plain.index.IsKeyUnique(S, plain.Image(1).data())) << "not a unique index";
}

// The insert after a uniqueness check starts where the check found the
// key's place: only for that key and while the tree is unchanged.
TEST(BTreeUniqueness, AnInsertStartsAtTheCheckedPlaceOnlyForTheCheckedKey) {
  Tree t(kInt, kIntColumn);
  std::vector<RecordPosition> byKey(1200);
  for (std::int32_t k = 0; k < 600; k += 2) byKey[static_cast<std::size_t>(k)] = t.AddInt(k);
  std::int32_t pages = 0;
  ASSERT_EQ(CheckBTree(t.index, S, nullptr, &pages), "");
  ASSERT_GT(pages, 20) << "several levels";

  // The checked key itself.
  ASSERT_TRUE(t.index.IsKeyUnique(S, t.Image(301).data()));
  t.AddInt(301);
  ASSERT_EQ(CheckBTree(t.index, S), "");
  // Another key after the check.
  ASSERT_TRUE(t.index.IsKeyUnique(S, t.Image(101).data()));
  t.AddInt(999);
  ASSERT_EQ(CheckBTree(t.index, S), "");
  // A change of the tree between the check and the insert: the entry below
  // the checked place leaves, so the place moves.
  ASSERT_TRUE(t.index.IsKeyUnique(S, t.Image(303).data()));
  t.Remove(byKey[302]);
  t.AddInt(303);
  ASSERT_EQ(CheckBTree(t.index, S), "");
  // A failed check keeps nothing.
  ASSERT_FALSE(t.index.IsKeyUnique(S, t.Image(304).data()));
  t.AddInt(305);
  std::vector<RecordPosition> order;
  ASSERT_EQ(CheckBTree(t.index, S, &order), "");
  EXPECT_EQ(order.size(), 300u + 3u);
}

TEST(BTreeUpdate, ChangedKeysMoveAndUnchangedKeysStay) {
  Tree t(kInt, kIntColumn, 128, false);
  for (int i = 0; i < 40; ++i) t.AddInt(i);
  const RecordPosition p{5, 0};
  const auto oldImage = t.images[5];
  auto newImage = t.Image(100);
  TTestCursor cursor;
  cursor.Point(newImage, p, &oldImage);
  t.index.UpdateRecordKey(S, cursor.State, true);
  ASSERT_TRUE(t.table.Records().OverwriteRecord(S, newImage.data(), p));
  t.index.UpdateRecordKey(S, cursor.State, false);
  t.table.Pages().CommitSessionPages(S);
  t.images[5] = newImage;
  std::vector<RecordPosition> order;
  ASSERT_EQ(CheckBTree(t.index, S, &order), "");
  EXPECT_EQ(order.back(), p);
  // Same key: nothing to do, also when the old entry would be missing.
  cursor.Point(newImage, RecordPosition{500, 0}, &newImage);
  t.index.UpdateRecordKey(S, cursor.State, true);
  // A changed key whose old entry is absent.
  cursor.Point(t.Image(7), RecordPosition{500, 0}, &oldImage);
  auto other = t.Image(7);
  cursor.Point(other, RecordPosition{500, 0}, &oldImage);
  EXPECT_EQ(NativeErrorOf([&] { t.index.UpdateRecordKey(S, cursor.State, true); }), 20250);
}

TEST(BTreeScans, RangesEstimatesAndPaths) {
  Tree t(kInt, kIntColumn, 128, false);
  for (int i = 0; i < 100; ++i) t.AddInt(i);
  const auto from = t.Image(20);
  const auto to = t.Image(29);
  struct Case {
    std::int32_t StartCode, EndCode;
    bool Backward;
    std::vector<std::int32_t> Expected;
  };
  const Case cases[] = {
      {5, 4, false, {20, 21, 22, 23, 24, 25, 26, 27, 28, 29}},
      {3, 2, false, {21, 22, 23, 24, 25, 26, 27, 28}},
      {4, 5, true, {29, 28, 27, 26, 25, 24, 23, 22, 21, 20}},
  };
  for (const Case& c : cases) {
    TABSScanState* state = t.index.NewScanState();
    TABSScanBound start{c.StartCode, c.Backward ? to.data() : from.data()};
    TABSScanBound end{c.EndCode, c.Backward ? from.data() : to.data()};
    std::vector<std::int32_t> seen;
    RecordPosition p;
    bool first = true;
    while (t.index.ScanStep(S, state, c.Backward, first ? &start : nullptr, &end, p)) {
      seen.push_back(std::int32_t{p.RecordId});
      first = false;
    }
    EXPECT_EQ(seen, c.Expected) << c.StartCode;
    EXPECT_EQ(NativeErrorOf([&] { t.index.ScanStep(S, state, false, &start, &end, p); }), 20078);
    t.index.FreeScanState(state);
    EXPECT_EQ(state, nullptr);
  }
  RecordPosition p;
  EXPECT_EQ(NativeErrorOf([&] { t.index.ScanStep(S, nullptr, false, nullptr, nullptr, p); }),
            20077);

  const std::int64_t total = 100;
  const TABSScanBound low{5, from.data()};
  const TABSScanBound high{4, to.data()};
  const std::int64_t estimate = t.index.EstimateRangeCount(S, low, high, total);
  EXPECT_GE(estimate, 0);
  EXPECT_LE(estimate, 12);
  EXPECT_GE(estimate, 6);
  const auto beyond = t.Image(1000);
  EXPECT_EQ(t.index.EstimateRangeCount(S, TABSScanBound{5, beyond.data()}, high, total), 0);
  // Bounds the wrong way round never give a negative count.
  EXPECT_EQ(t.index.EstimateRangeCount(S, TABSScanBound{5, to.data()},
                                       TABSScanBound{4, from.data()}, total),
            0);
  for (auto [code, side] : {std::pair{3, -1}, {5, -1}, {2, 1}, {4, 1}, {1, 0}, {0, 0}}) {
    EXPECT_EQ(t.index.ConditionSide(code), side) << code;
  }

  TABSKeyPath* a = t.index.NewKeyPath();
  TABSKeyPath* b = t.index.NewKeyPath();
  ASSERT_TRUE(t.index.FindRecordPath(S, RecordPosition{20, 0}, *a, from.data()));
  ASSERT_TRUE(t.index.FindRecordPath(S, RecordPosition{29, 0}, *b, to.data()));
  EXPECT_EQ(t.index.CompareKeyPaths(a, b), -1);
  EXPECT_EQ(t.index.CompareKeyPaths(b, a), 1);
  EXPECT_EQ(t.index.CompareKeyPaths(a, a), 0);
  EXPECT_EQ(t.index.ReadPathReference(S, *b), (RecordPosition{29, 0}));
  EXPECT_EQ(NativeErrorOf([&] { t.index.CompareKeyPaths(nullptr, b); }), 10384);
  EXPECT_EQ(NativeErrorOf([&] { t.index.CompareKeyPaths(a, nullptr); }), 10385);
  b->LevelCount -= 1;
  EXPECT_EQ(NativeErrorOf([&] { t.index.CompareKeyPaths(a, b); }), 20051);
  b->LevelCount += 1;
  b->Levels[0].PageNo += 1;
  EXPECT_EQ(NativeErrorOf([&] { t.index.CompareKeyPaths(a, b); }), 20052);
  const double rel = a->RelativePosition();
  EXPECT_GT(rel, 0.1);
  EXPECT_LT(rel, 0.3);
  t.index.FreeKeyPath(a);
  t.index.FreeKeyPath(b);
  EXPECT_EQ(a, nullptr);
}

TEST(BTreeLifecycle, EmptyRebuildOpenAndMissingRoot) {
  Tree t(kInt, kIntColumn, 128, false);
  for (int i = 0; i < 200; ++i) t.AddInt(i % 17);
  const std::int32_t root = t.index.RootPageNo();
  // Another index object opened on the same definition sees the same tree.
  TABSBTreeRecordIndex reopened(t.table, nullptr);
  reopened.OpenIndex(*t.index.IndexDef());
  EXPECT_EQ(reopened.EntryCount(S), 200);
  t.index.EmptyIndex(S);
  t.table.Pages().CommitSessionPages(S);
  EXPECT_EQ(t.index.RootPageNo(), root);
  EXPECT_EQ(t.index.EntryCount(S), 0);
  EXPECT_EQ(t.table.Pages().GetUsedPageCount(), 1);
  // Rebuilding walks the records again.
  TTestCursor cursor;
  t.index.RebuildIndex(S, &cursor.State);
  t.table.Pages().CommitSessionPages(S);
  EXPECT_EQ(t.index.EntryCount(S), 200);
  std::int32_t pages = 0;
  ASSERT_EQ(CheckBTree(t.index, S, nullptr, &pages), "");
  EXPECT_EQ(pages, t.table.Pages().GetUsedPageCount());
  t.index.DropIndexPages(S);
  t.table.Pages().CommitSessionPages(S);
  EXPECT_EQ(t.table.Pages().GetUsedPageCount(), 0);
  EXPECT_EQ(t.index.RootPageNo(), -1);

  // Every operation that needs the root names its own code.
  std::vector<std::byte> buffer = t.Image(1);
  NavigationRequest r = Request(FetchMode::Next, buffer);
  TTestCursor c;
  c.Point(buffer, RecordPosition{0, 0}, &buffer);
  RecordPosition p;
  TABSKeyPath path;
  TABSScanState state;
  const TABSScanBound bound{1, buffer.data()};
  struct Marks : TABSIndexMarks {
    bool IsMarked(std::int64_t, const RecordPosition&) override { return true; }
    void Unmark(std::int64_t, const RecordPosition&) override {}
  } marks;
  const std::pair<std::int32_t, std::function<void()>> cases[] = {
      {20119, [&] { t.index.DropIndexPages(S); }},
      {20120, [&] { t.index.EmptyIndex(S); }},
      {20121, [&] { t.index.NavigateIndex(S, r, nullptr, 0); }},
      {20121, [&] { t.index.SeekKey(S, r); }},
      {20122, [&] { t.index.FindRecordPath(S, p, path, buffer.data()); }},
      {20123, [&] { t.index.RecordNumberOf(S, p, buffer.data()); }},
      {20123, [&] { t.index.RecordAtNumber(S, 1, p); }},
      {20124, [&] { t.index.MarkDistinct(S, marks, 1); }},
      {20124, [&] { t.index.ScanStep(S, &state, false, nullptr, nullptr, p); }},
      {20125, [&] { t.index.IsKeyUnique(S, buffer.data()); }},
      {20125, [&] { t.index.EstimateRangeCount(S, bound, bound, 1); }},
      {20126, [&] { t.index.InsertRecordKey(S, c.State); }},
      {20127, [&] { t.index.DeleteRecordKey(S, c.State); }},
      {20293, [&] { t.index.UpdateRecordKey(S, c.State, false); }},
  };
  for (const auto& [code, call] : cases) EXPECT_EQ(NativeErrorOf(call), code);
}

TEST(BTreeKeys, CompareRecordKeysLooksAtTheLeadingParts) {
  TFakeIndexTable table({{"A", dtInteger}, {"B", dtString, 40}});
  TABSBTreeRecordIndex index(table, nullptr);
  auto def = MakeIndexDef({{"A"}, {"B", true}});
  index.CreateIndexPages(S, nullptr, *def);
  table.Pages().CommitSessionPages(S);
  auto a = table.NewImage();
  auto b = table.NewImage();
  table.SetInt(a, 0, 1);
  table.SetInt(b, 0, 1);
  const std::string shared = "Twenty-one characters";
  table.SetText(a, 1, shared + "x");
  table.SetText(b, 1, shared + "y");
  struct Case {
    std::int32_t Parts;
    int Expected;
  };
  for (const Case c : {Case{1, 0}, Case{2, 1}, Case{-1, 1}}) {
    EXPECT_EQ(index.CompareRecordKeys(a.data(), b.data(), c.Parts), c.Expected) << c.Parts;
  }
  table.SetNull(b, 0);
  EXPECT_EQ(index.CompareRecordKeys(a.data(), b.data(), 1), 1) << "NULL sorts first";
}
