// The memory table against a model: a sorted vector of (record ID, value,
// NULL flag). Two cursor states work on one table, the second through a
// filter callback view; inserts, updates, deletes, steps next (one by one
// and in batches), prior and current, seeks by record number, record
// numbers and counts are compared with the model after every operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <vector>

#include "engine/index/ABSConstraintManager.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/storage/ABSRecordManager.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/tables/TableDataTestSupport.h"

namespace {

struct ModelRecord {
  std::int32_t id;
  std::int32_t value;
  bool secondNull;
};

// Where a model cursor stands.
struct ModelPlace {
  bool atStart = true;
  bool atEnd = false;
  std::int32_t id = 0;
};

bool EvenValue(void* /*owner*/, const std::byte* buffer) {
  return LoadLE<std::int32_t>(buffer, 1) % 2 == 0;  // field 0 follows the null bitmap
}

class TableDataModelTest : public MemoryTablesTest, public ::testing::WithParamInterface<int> {
 protected:
  std::vector<ModelRecord> model_;

  static bool Visible(const ModelRecord& r, bool filtered) { return !filtered || r.value % 2 == 0; }

  std::vector<const ModelRecord*> View(bool filtered) const {
    std::vector<const ModelRecord*> view;
    for (const ModelRecord& r : model_) {
      if (Visible(r, filtered)) view.push_back(&r);
    }
    return view;
  }
  const ModelRecord* Find(std::int32_t id) const {
    for (const ModelRecord& r : model_) {
      if (r.id == id) return &r;
    }
    return nullptr;
  }
  // The model's answer to one step; updates `place`.
  std::optional<ModelRecord> Step(ModelPlace& place, FetchMode mode, bool filtered) const {
    const auto view = View(filtered);
    if (model_.empty()) {
      place.atStart = mode == FetchMode::Prior;
      place.atEnd = mode != FetchMode::Prior;
      return std::nullopt;
    }
    if (mode == FetchMode::Current) {
      const ModelRecord* r = place.atStart || place.atEnd ? nullptr : Find(place.id);
      if (r == nullptr || !Visible(*r, filtered)) return std::nullopt;
      return *r;
    }
    const ModelRecord* found = nullptr;
    if (mode == FetchMode::Next) {
      for (const ModelRecord* r : view) {
        if (!place.atEnd && (place.atStart || r->id > place.id)) {
          found = r;
          break;
        }
      }
    } else {
      for (auto it = view.rbegin(); it != view.rend(); ++it) {
        if (!place.atStart && (place.atEnd || (*it)->id < place.id)) {
          found = *it;
          break;
        }
      }
    }
    if (found == nullptr) {
      place.atStart = mode == FetchMode::Prior;
      place.atEnd = mode == FetchMode::Next;
      return std::nullopt;
    }
    place = ModelPlace{false, false, found->id};
    return *found;
  }

  void Run(bool withNotNull, bool withUniqueIndex, unsigned seed, int operations) {
    TABSFieldDefs fields;
    fields.AddFieldDef("Value", dtInteger);
    fields.AddFieldDef("Second", dtInteger);
    TABSConstraintDefs constraints;
    if (withNotNull) {
      TABSConstraintDef* notNull = constraints.AddNotNullConstraint();
      notNull->SetName("SecondNotNull");
      notNull->SetTargetName("Second");
    }
    TABSTableData& table = CreateTestTable(Memory(), "Model", fields, &constraints);
    if (withUniqueIndex) {
      // A unique index on Value brings its unique constraint along.
      TABSIndexDef def;
      def.SetName("ByValue");
      def.Unique = true;
      def.Columns.push_back(TABSIndexColumn{"Value"});
      table.AddTableIndex(def, nullptr);
    }
    TableCursor ordered(table, "Model");
    if (withUniqueIndex) ordered.state.IndexId = table.IndexDefs()[0]->ObjectId;
    // Every record once, in the order of the index: ascending values.
    auto checkIndexOrder = [&] {
      if (!withUniqueIndex) return;
      std::vector<std::int32_t> expected;
      for (const ModelRecord& r : model_) expected.push_back(r.value);
      std::sort(expected.begin(), expected.end());
      std::vector<std::int32_t> seen;
      ordered.state.AtStart = true;
      ordered.state.AtEnd = false;
      while (table.FetchCursorRecord(ordered.state, FetchMode::Next) == FetchResult::Found) {
        seen.push_back(ordered.GetInt(0));
      }
      ASSERT_EQ(seen, expected);
      if (!expected.empty()) {
        const auto n = static_cast<std::int64_t>(expected.size());
        table.SeekCursorRecordNumber(ordered.state, n);
        ASSERT_EQ(table.FetchCursorRecord(ordered.state, FetchMode::Current), FetchResult::Found);
        ASSERT_EQ(ordered.GetInt(0), expected.back());
        ASSERT_EQ(table.GetCursorRecordNumber(ordered.state), n);
      }
    };
    TableCursor a(table, "Model");
    TableCursor b(table, "Model");
    b.state.FilterCallback = &EvenValue;
    TableCursor* cursors[2] = {&a, &b};
    ModelPlace places[2];
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

    for (int op = 0; op < operations; ++op) {
      const int c = pick(2);
      TableCursor& cursor = *cursors[c];
      ModelPlace& place = places[c];
      const bool filtered = c == 1;
      SCOPED_TRACE(testing::Message() << "seed " << seed << " op " << op << " cursor " << c);
      int kind = pick(100);
      // Past a few hundred records inserts turn into deletes, so every
      // operation stays cheap and the table keeps shrinking and growing.
      if (kind < 22 && model_.size() > 300) kind = 40;
      if (kind < 22) {  // insert, as the cursor does: constraints first
        const std::int32_t value = pick(1000);
        const bool secondNull = pick(8) == 0;
        cursor.SetInt(0, value);
        cursor.SetInt(1, value * 3, secondNull);
        const bool allowed = table.ConstraintManager()->CheckRecordConstraints(
            0, cursor.Buffer(), true, false, cursor.state.Position, true, nullptr);
        bool taken = false;
        for (const ModelRecord& r : model_) taken = taken || r.value == value;
        ASSERT_EQ(allowed, !(withNotNull && secondNull) && !(withUniqueIndex && taken));
        if (!allowed) continue;
        ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
        // New records come after every live one in record order.
        const std::int32_t id = cursor.state.Position.RecordId;
        ASSERT_TRUE(model_.empty() || id > model_.back().id);
        model_.push_back({id, value, secondNull});
        place = ModelPlace{false, false, cursor.state.Position.RecordId};
      } else if (kind < 32) {  // update the current record
        if (place.atStart || place.atEnd) continue;
        const std::int32_t value = pick(1000);
        auto it = std::find_if(model_.begin(), model_.end(),
                               [&](const ModelRecord& r) { return r.id == place.id; });
        bool taken = false;
        for (const ModelRecord& r : model_) taken = taken || (r.value == value && r.id != place.id);
        if (withUniqueIndex && taken) continue;  // the cursor's constraint check refuses it
        cursor.SetInt(0, value);
        cursor.SetInt(1, value * 3, false);
        ASSERT_EQ(table.UpdateCursorRecord(cursor.state), it != model_.end());
        if (it != model_.end()) *it = {it->id, value, false};
      } else if (kind < 50) {  // delete the current record
        if (place.atStart || place.atEnd) continue;
        auto it = std::find_if(model_.begin(), model_.end(),
                               [&](const ModelRecord& r) { return r.id == place.id; });
        const bool exists = it != model_.end();
        ModelPlace expected = place;
        if (exists) {
          ModelPlace probe = place;
          if (Step(probe, FetchMode::Next, filtered)) {
            expected = probe;
          } else {
            probe = place;
            expected = Step(probe, FetchMode::Prior, filtered) ? probe : ModelPlace{true, false, 0};
          }
        }
        ASSERT_EQ(table.DeleteCursorRecord(cursor.state), exists);
        if (!exists) continue;
        model_.erase(it);
        place = expected;
        ASSERT_EQ(cursor.state.AtStart, place.atStart);
        if (!place.atStart) {
          ASSERT_EQ(cursor.state.Position.RecordId, place.id);
        }
      } else if (kind < 85) {  // a step
        const FetchMode mode = kind < 62   ? FetchMode::Next
                               : kind < 74 ? FetchMode::Prior
                                           : FetchMode::Current;
        if (mode == FetchMode::Next && pick(2) == 0) {
          // A batch of steps into buffers of their own.
          const int count = 1 + pick(6);
          std::vector<TABSMemBlock> blocks;
          std::vector<std::byte*> buffers;
          for (int i = 0; i < count; ++i) {
            blocks.push_back(TABSMemBlock::Zeroed(cursor.state.RecordBufferSize));
            buffers.push_back(blocks.back().as<std::byte>());
          }
          std::byte* const own = cursor.Buffer();
          const std::int32_t fetched =
              table.FetchNextCursorRecords(cursor.state, buffers.data(), count);
          ASSERT_EQ(cursor.Buffer(), own);
          const auto offset =
              static_cast<std::size_t>(table.FieldManager()->FieldDefs()[0]->MemoryOffset);
          int expectedCount = 0;
          while (expectedCount < count) {
            const std::optional<ModelRecord> expected = Step(place, mode, filtered);
            if (!expected) break;
            ASSERT_LT(expectedCount, fetched);
            const std::byte* got = buffers[static_cast<std::size_t>(expectedCount)];
            ASSERT_EQ(LoadLE<std::int32_t>(got, offset), expected->value);
            ASSERT_EQ(IsNullBitSet(got, 1), expected->secondNull);
            ++expectedCount;
          }
          ASSERT_EQ(fetched, expectedCount);
          ASSERT_EQ(cursor.state.AtStart, place.atStart);
          ASSERT_EQ(cursor.state.AtEnd, place.atEnd);
          if (!place.atStart && !place.atEnd) {
            ASSERT_EQ(cursor.state.Position.RecordId, place.id);
          }
          continue;
        }
        const std::optional<ModelRecord> expected = Step(place, mode, filtered);
        const FetchResult result = table.FetchCursorRecord(cursor.state, mode);
        if (expected) {
          ASSERT_EQ(result, FetchResult::Found) << static_cast<int>(mode);
          ASSERT_EQ(cursor.state.Position.RecordId, expected->id);
          ASSERT_EQ(cursor.GetInt(0), expected->value);
          ASSERT_EQ(cursor.IsNull(1), expected->secondNull);
        } else {
          ASSERT_NE(result, FetchResult::Found) << static_cast<int>(mode);
          if (mode != FetchMode::Current) {
            ASSERT_EQ(cursor.state.AtStart, place.atStart);
            ASSERT_EQ(cursor.state.AtEnd, place.atEnd);
          }
        }
      } else if (kind < 93) {  // seek a record number, then read it back
        const auto view = View(filtered);
        const auto count = static_cast<std::int64_t>(view.size());
        const std::int64_t number =
            static_cast<std::int64_t>(pick(static_cast<int>(count) + 6)) - 2;
        table.SeekCursorRecordNumber(cursor.state, number);
        if (count == 0) continue;
        const std::int64_t clamped = std::clamp<std::int64_t>(number, 1, count);
        place = ModelPlace{false, false, view[static_cast<std::size_t>(clamped - 1)]->id};
        ASSERT_FALSE(cursor.state.AtStart || cursor.state.AtEnd);
        ASSERT_EQ(cursor.state.Position.RecordId, place.id);
        ASSERT_EQ(table.GetCursorRecordNumber(cursor.state), clamped);
      } else if (kind < 94) {
        checkIndexOrder();
      } else {  // counts and the current number
        const auto view = View(filtered);
        ASSERT_EQ(table.CountVisibleRecords(cursor.state), static_cast<std::int64_t>(view.size()));
        ASSERT_EQ(table.GetTableRecordCount(0), static_cast<std::int64_t>(model_.size()));
        std::int64_t number = -1;
        if (!place.atStart && !place.atEnd) {
          for (std::size_t i = 0; i < view.size(); ++i) {
            if (view[i]->id == place.id) number = static_cast<std::int64_t>(i) + 1;
          }
        }
        if (number != -1) {
          ASSERT_EQ(table.GetCursorRecordNumber(cursor.state), number);
        }
      }
    }
  }
};

TEST_P(TableDataModelTest, WithoutConstraint) {
  Run(false, false, 1000u + GetParam(), 100000);
}
TEST_P(TableDataModelTest, WithNotNullConstraint) {
  Run(true, false, 2000u + GetParam(), 100000);
}
TEST_P(TableDataModelTest, WithUniqueIndexAndNotNull) {
  Run(true, true, 3000u + GetParam(), 100000);
}

INSTANTIATE_TEST_SUITE_P(Seeds, TableDataModelTest, ::testing::Values(1, 2));

}  // namespace
