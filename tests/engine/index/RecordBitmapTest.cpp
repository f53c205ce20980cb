#include "engine/index/ABSRecordBitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "engine/index/ABSIndexBitmapOrder.h"
#include "engine/storage/ABSRecordManager.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/index/BTreeTestSupport.h"

namespace {

// The bitmap's view of a table with a real memory record manager; a
// position's record ID is its bit number.
class BitmapTableOn : public TABSBitmapTable {
 public:
  explicit BitmapTableOn(TABSMemoryRecordManager& records) : records_(records) {}
  std::int32_t BitmapRecordIdOf(const RecordPosition& position) const override {
    return position.RecordId >= 0 ? position.RecordId : -1;
  }
  void BitmapPositionOf(std::int32_t recordId, RecordPosition& position) const override {
    position.RecordId = recordId;
    position.SubPosition = 0;
  }
  std::int64_t BitmapRecordCount() const override { return records_.RecordCount(); }
  std::int32_t BitmapChangeCounter() const override { return records_.ChangeCounter(); }

 private:
  TABSMemoryRecordManager& records_;
};

// A table of 8-byte records.
struct TestBitmapTable {
  TABSMemoryRecordManager Records{8, 16};
  BitmapTableOn Table{Records};
  RecordPosition Store() {
    RecordPosition p;
    const std::uint64_t image = 0;
    Records.StoreNewRecord(0, &image, p);
    return p;
  }
  void Remove(RecordPosition p) { Records.RemoveRecord(0, p); }
};

// What the model answers.
std::int64_t ModelNumber(const std::vector<bool>& m, std::int64_t n) {
  if (n < 0 || n >= static_cast<std::int64_t>(m.size())) return -1;
  return std::count(m.begin(), m.begin() + n + 1, true);
}
std::int64_t ModelAt(const std::vector<bool>& m, std::int64_t k) {
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (m[i] && --k == 0) return static_cast<std::int64_t>(i);
  }
  return -1;
}
std::int64_t ModelFind(const std::vector<bool>& m, bool fromStart, bool forward,
                       std::int64_t current) {
  const auto size = static_cast<std::int64_t>(m.size());
  if (forward) {
    for (std::int64_t i = fromStart ? 0 : current + 1; i < size; ++i) {
      if (i >= 0 && m[static_cast<std::size_t>(i)]) return i;
    }
  } else {
    for (std::int64_t i = fromStart ? size - 1 : std::min(current - 1, size - 1); i >= 0; --i) {
      if (m[static_cast<std::size_t>(i)]) return i;
    }
  }
  return -1;
}

void ExpectRecordOrderMatches(const TABSRecordBitmap& bitmap, const std::vector<bool>& model) {
  const auto size = static_cast<std::int64_t>(model.size());
  ASSERT_EQ(bitmap.BitCount(), size);
  const std::int64_t visible = std::count(model.begin(), model.end(), true);
  ASSERT_EQ(bitmap.VisibleCount(), visible);
  for (std::int64_t n = -1; n <= size + 1; ++n) {
    const RecordPosition at{static_cast<std::int32_t>(n), 0};
    ASSERT_EQ(bitmap.RecordNumberOf(at), ModelNumber(model, n)) << n;
    for (bool forward : {true, false}) {
      RecordPosition found{-7, 0};
      const std::int64_t expected = ModelFind(model, false, forward, n);
      ASSERT_EQ(bitmap.FindVisible(false, forward, found, at), n >= 0 && expected >= 0) << n;
      ASSERT_EQ(found.RecordId, expected >= 0 && n >= 0 ? expected : -7) << n << forward;
    }
  }
  for (bool forward : {true, false}) {
    RecordPosition found{-7, 0};
    const std::int64_t expected = ModelFind(model, true, forward, 0);
    ASSERT_EQ(bitmap.FindVisible(true, forward, found, {}), expected >= 0);
    ASSERT_EQ(found.RecordId, expected >= 0 ? expected : -7);
  }
  for (std::int64_t k = -1; k <= visible + 1; ++k) {
    RecordPosition found{-7, 0};
    const std::int64_t expected = ModelAt(model, k);
    ASSERT_EQ(bitmap.RecordAtNumber(k, found), expected >= 0) << k;
    ASSERT_EQ(found.RecordId, expected >= 0 ? expected : -7) << k;
  }
}

}  // namespace

TEST(RecordBitmapTest, RecordOrderAgainstAModel) {
  TestBitmapTable table;
  for (int i = 0; i < 300; ++i) table.Store();
  std::mt19937 random(4711);
  for (int round = 0; round < 6; ++round) {
    TABSRecordBitmap bitmap(&table.Table);
    bitmap.BeginRebuild(false);
    std::vector<bool> model(300, false);
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(random() % 100);
      // Up to 500: marking beyond the bit count grows the bits.
      const auto n = static_cast<std::int32_t>(random() % (round < 3 ? 320 : 500));
      const RecordPosition at{n, 0};
      if (op < 55) {
        bitmap.MarkVisible(at);
        if (n >= static_cast<std::int32_t>(model.size())) model.resize(n + 1, false);
        model[n] = true;
      } else if (op < 97) {
        bitmap.MarkHidden(at);
        if (n >= static_cast<std::int32_t>(model.size())) model.resize(n + 1, false);
        model[n] = false;
      } else if (op < 98) {
        bitmap.MarkAllVisible();
        std::fill(model.begin(), model.end(), true);
      } else {
        const auto count = static_cast<std::int32_t>(random() % 400);
        bitmap.SetBitCount(count);
        model.resize(count, false);
      }
      if (step % 50 == 49) {
        ASSERT_NO_FATAL_FAILURE(ExpectRecordOrderMatches(bitmap, model));
      }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectRecordOrderMatches(bitmap, model));
  }
}

TEST(RecordBitmapTest, IndexOrderWithARealTreeAgainstAModel) {
  TFakeIndexTable table({{"K", dtInteger}, {"V", dtInteger}}, 128);
  TABSBTreeRecordIndex index(table, nullptr);
  auto def = MakeIndexDef({{"K"}}, true);
  index.CreateIndexPages(TFakeIndexTable::kSession, nullptr, *def);
  // Keys 0..199 stored in a shuffled order: ordinal == key.
  std::vector<std::int32_t> keys(200);
  std::iota(keys.begin(), keys.end(), 0);
  std::mt19937 random(99);
  std::shuffle(keys.begin(), keys.end(), random);
  std::vector<RecordPosition> positionOfKey(keys.size());
  for (std::int32_t key : keys) {
    auto image = table.NewImage();
    table.SetInt(image, 0, key);
    const RecordPosition p = table.Store(image);
    index.InsertKey(TFakeIndexTable::kSession, image.data(), p);
    positionOfKey[static_cast<std::size_t>(key)] = p;
  }
  table.Pages().CommitSessionPages(TFakeIndexTable::kSession);

  TABSIndexBitmapOrder order(index, table.Records(), TFakeIndexTable::kSession);
  TABSKeyPath* path = index.NewKeyPath();
  auto pathOfKey = [&](std::int32_t key) {
    auto image = table.NewImage();
    table.SetInt(image, 0, key);
    EXPECT_TRUE(index.FindRecordPath(TFakeIndexTable::kSession,
                                     positionOfKey[static_cast<std::size_t>(key)], *path,
                                     image.data()));
  };
  auto keyAtPath = [&] {
    const RecordPosition p = index.ReadPathReference(TFakeIndexTable::kSession, *path);
    for (std::size_t k = 0; k < positionOfKey.size(); ++k) {
      if (positionOfKey[k] == p) return static_cast<std::int64_t>(k);
    }
    return std::int64_t{-1};
  };

  BitmapTableOn bitmapTable(table.Records());
  TABSRecordBitmap bitmap(&bitmapTable);
  bitmap.BeginRebuild(true);
  ASSERT_TRUE(bitmap.IndexOrdered());
  // Rebuild as the table data does: walk the records, mark those that pass.
  std::vector<bool> model(keys.size(), false);
  for (std::int32_t key : keys) {
    if (key % 3 == 0) continue;
    pathOfKey(key);
    bitmap.MarkVisibleByKeyPath(order, *path);
    model[static_cast<std::size_t>(key)] = true;
  }
  for (int step = 0; step < 300; ++step) {
    const auto key = static_cast<std::int32_t>(random() % keys.size());
    pathOfKey(key);
    if (step % 4 == 0) {
      const bool visible = random() % 2 == 0;
      if (visible) {
        bitmap.MarkVisibleByKeyPath(order, *path);
      } else {
        bitmap.MarkHiddenByKeyPath(order, *path);
      }
      model[static_cast<std::size_t>(key)] = visible;
      continue;
    }
    ASSERT_EQ(bitmap.IsKeyPathVisible(order, *path), model[static_cast<std::size_t>(key)]);
    ASSERT_EQ(bitmap.RecordNumberOfKeyPath(order, *path), ModelNumber(model, key));
    for (bool forward : {true, false}) {
      pathOfKey(key);
      const std::int64_t expected = ModelFind(model, false, forward, key);
      ASSERT_EQ(bitmap.FindVisibleByKeyPath(order, false, forward, *path), expected >= 0);
      // Not found: the path stays at the key it started from.
      ASSERT_EQ(keyAtPath(), expected >= 0 ? expected : key) << key << forward;
    }
  }
  for (bool forward : {true, false}) {
    pathOfKey(1);
    ASSERT_TRUE(bitmap.FindVisibleByKeyPath(order, true, forward, *path));
    ASSERT_EQ(keyAtPath(), ModelFind(model, true, forward, 0));
  }
  const std::int64_t visible = std::count(model.begin(), model.end(), true);
  ASSERT_EQ(bitmap.VisibleCount(), visible);
  for (std::int64_t k = 0; k <= visible + 1; ++k) {
    pathOfKey(5);
    const std::int64_t expected = ModelAt(model, k);
    ASSERT_EQ(bitmap.KeyPathAtNumber(order, k, *path), expected) << k;
    ASSERT_EQ(keyAtPath(), expected >= 0 ? expected : 5) << k;
  }
  // A change through the cursor resets an index-ordered bitmap.
  bitmap.AfterRecordWritten(positionOfKey[4], true);
  EXPECT_FALSE(bitmap.Active());
  EXPECT_EQ(bitmap.BitCount(), 0);
  index.FreeKeyPath(path);
  index.DropIndexPages(TFakeIndexTable::kSession);
  table.Pages().CommitSessionPages(TFakeIndexTable::kSession);
}

TEST(RecordBitmapTest, CreatedWithoutATable) {
  EXPECT_EQ(NativeErrorOf([] { TABSRecordBitmap bitmap(nullptr); }), 10425);
  TestBitmapTable t;
  TABSRecordBitmap bitmap(&t.Table);
  EXPECT_EQ(bitmap.Stamp(), -1);
  EXPECT_FALSE(bitmap.Active());
}

TEST(RecordBitmapTest, UpkeepAfterStoreOverwriteAndRemoval) {
  TestBitmapTable t;
  for (int i = 0; i < 10; ++i) t.Store();
  TABSRecordBitmap bitmap(&t.Table);
  bitmap.BeginRebuild(false);
  for (std::int32_t id = 0; id < 10; id += 2) bitmap.MarkVisible({id, 0});
  ASSERT_EQ(bitmap.VisibleCount(), 5);
  ASSERT_FALSE(bitmap.NeedsRebuild(false, true));

  // A stored record that passes counts at once; the stamp stays, so the
  // table's change makes the bitmap stale.
  const RecordPosition added = t.Store();
  bitmap.AfterRecordWritten(added, true);
  EXPECT_EQ(bitmap.VisibleCount(), 6);
  EXPECT_EQ(bitmap.RecordNumberOf(added), 6);
  EXPECT_TRUE(bitmap.NeedsRebuild(false, true));

  // An overwrite that no longer passes hides the record.
  bitmap.BeginRebuild(false);
  bitmap.MarkAllVisible();
  bitmap.AfterRecordWritten({3, 0}, false);
  EXPECT_EQ(bitmap.VisibleCount(), 10);
  EXPECT_EQ(bitmap.RecordNumberOf({4, 0}), 4);

  // The cursor's own removal carries the stamp forward ...
  std::int32_t before = t.Records.ChangeCounter();
  t.Remove({5, 0});
  bitmap.AfterRecordRemoved({5, 0}, before, false);
  EXPECT_EQ(bitmap.VisibleCount(), 9);
  EXPECT_FALSE(bitmap.IsStale());
  // ... but not in a distinct view ...
  before = t.Records.ChangeCounter();
  t.Remove({6, 0});
  bitmap.AfterRecordRemoved({6, 0}, before, true);
  EXPECT_EQ(bitmap.VisibleCount(), 8);
  EXPECT_TRUE(bitmap.IsStale());
  // ... nor for a bitmap that was stale already.
  before = t.Records.ChangeCounter();
  t.Remove({7, 0});
  bitmap.AfterRecordRemoved({7, 0}, before, false);
  EXPECT_TRUE(bitmap.IsStale());

  // An inactive bitmap is left alone.
  bitmap.ResetBitmap();
  bitmap.AfterRecordWritten({1, 0}, true);
  EXPECT_EQ(bitmap.BitCount(), 0);
}

TEST(RecordBitmapTest, TheRebuildRule) {
  struct Case {
    bool build;        // BeginRebuild first (active, fresh stamp)
    bool changeTable;  // then store a record (stale)
    bool cursorStale;  // the cursor's flag
    bool restricted;   // the cursor has a restricted view
    bool rebuild;
  } cases[] = {
      {false, false, false, true, true},    // never built
      {false, false, false, false, false},  // no view, nothing to build
      {true, false, false, true, false},    // current
      {true, false, true, true, true},      // the view changed
      {true, false, true, false, false},    // the view was removed
      {true, true, false, true, true},      // the table changed
      {true, true, false, false, true},     // active and stale
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.build << c.changeTable << c.cursorStale << c.restricted);
    TestBitmapTable t;
    t.Store();
    TABSRecordBitmap bitmap(&t.Table);
    if (c.build) bitmap.BeginRebuild(false);
    if (c.changeTable) t.Store();
    EXPECT_EQ(bitmap.NeedsRebuild(c.cursorStale, c.restricted), c.rebuild);
  }
  // Emptying a table leaves the change counter; resetting the bitmaps of
  // the attached cursors is what makes them rebuild.
  TestBitmapTable t;
  t.Store();
  TABSRecordBitmap bitmap(&t.Table);
  bitmap.BeginRebuild(false);
  bitmap.MarkVisible({0, 0});
  t.Records.ClearAllRecords(0);
  EXPECT_FALSE(bitmap.NeedsRebuild(false, true));
  bitmap.ResetBitmap();
  EXPECT_TRUE(bitmap.NeedsRebuild(false, true));
  EXPECT_EQ(bitmap.VisibleCount(), 0);
}
