// Two cursors on one table against a model: random inserts, updates,
// deletes, abandoned edits, fetches in both directions, seeks by number,
// counts and searches by field value. The other cursor's changes must give
// the refusal codes and never a wrong row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

struct Entry {
  std::int32_t Id;
  PlanRow Row;
};

// Seed, and whether the cursors walk a unique index on Jahr.
using ModelParam = std::tuple<unsigned, bool>;

class LocalCursorModel : public CursorTest, public ::testing::WithParamInterface<ModelParam> {
 protected:
  struct Side {
    std::unique_ptr<TABSLocalCursor> Cursor;
    std::unique_ptr<RecordBuffer> Buffer, Original;
    std::int64_t Key = 0;  // order key of the record the cursor last stood on
  };

  // The model is kept in the cursors' order: record IDs, or Jahr with the index.
  std::int64_t OrderKey(const Entry& e) const { return indexed_ ? e.Row.Jahr : e.Id; }

  void SetUpSides() {
    MakePlanTable("Model");
    if (indexed_) {
      auto maker = Open("Model");
      TABSIndexDef def;
      def.SetName("ByJahr");
      def.Unique = true;
      def.SetColumnsFromLists({"Jahr"}, {""}, {""});
      maker->AddIndexToTable(def);
    }
    for (Side& side : sides_) {
      side.Cursor = Open("Model");
      side.Buffer = std::make_unique<RecordBuffer>(*side.Cursor);
      side.Original = std::make_unique<RecordBuffer>(*side.Cursor);
      side.Cursor->CurrentBuffer = side.Buffer->get();
      side.Cursor->OriginalBuffer = side.Original->get();
      if (indexed_) side.Cursor->SetCurrentIndex("ByJahr");
    }
  }

  // Remembers the order key of the record the cursor stands on, while the
  // model still has it.
  void Remember(Side& side) {
    const TABSLocalCursor& c = *side.Cursor;
    if (c.AtStart || c.AtEnd) return;
    if (const Entry* e = Find(c.Position.RecordId)) side.Key = OrderKey(*e);
  }
  std::vector<Entry>::const_iterator FirstAbove(std::int64_t key) const {
    return std::find_if(model_.begin(), model_.end(),
                        [&](const Entry& e) { return OrderKey(e) > key; });
  }
  std::vector<Entry>::const_iterator FirstNotBelow(std::int64_t key) const {
    return std::find_if(model_.begin(), model_.end(),
                        [&](const Entry& e) { return OrderKey(e) >= key; });
  }

  const Entry* Find(std::int32_t id) const {
    auto it =
        std::find_if(model_.begin(), model_.end(), [&](const Entry& e) { return e.Id == id; });
    return it != model_.end() ? &*it : nullptr;
  }
  void Erase(std::int32_t id) {
    model_.erase(
        std::find_if(model_.begin(), model_.end(), [&](const Entry& e) { return e.Id == id; }));
  }

  PlanRow RandomRow() {
    PlanRow row = Row(static_cast<std::int32_t>(rng_() % 5000));
    // Unique, so a search has one answer, and not in insertion order.
    row.Jahr = static_cast<std::int32_t>((static_cast<std::int64_t>(nextKey_++) * 7919) % 1000003);
    return row;
  }

  void Insert(Side& side) {
    const PlanRow row = RandomRow();
    ASSERT_EQ(InsertRow(*side.Cursor, side.Buffer->get(), row), 0);
    const std::int32_t id = side.Cursor->Position.RecordId;
    ASSERT_EQ(Find(id), nullptr);
    const Entry entry{id, row};
    model_.insert(FirstAbove(OrderKey(entry)), entry);
    Remember(side);
  }

  // The expected step from the cursor's place in the model.
  FetchResult Expected(const Side& side, FetchMode mode, const Entry*& entry) const {
    const TABSLocalCursor& c = *side.Cursor;
    entry = nullptr;
    if (model_.empty()) return FetchResult::Eof;
    if (mode == FetchMode::Next) {
      if (c.AtEnd) {
        // The index answers any step from after the end with its last entry.
        if (!indexed_) return FetchResult::Eof;
        entry = &model_.back();
        return FetchResult::Found;
      }
      auto it = c.AtStart ? model_.begin() : FirstAbove(side.Key);
      if (it == model_.end()) return FetchResult::Eof;
      entry = &*it;
      return FetchResult::Found;
    }
    if (c.AtStart) {
      // The index answers any step from before the start with its first entry.
      if (!indexed_) return FetchResult::Bof;
      entry = &model_.front();
      return FetchResult::Found;
    }
    auto it = c.AtEnd ? model_.end() : FirstNotBelow(side.Key);
    if (it == model_.begin()) return FetchResult::Bof;
    entry = &*std::prev(it);
    return FetchResult::Found;
  }

  // Reads the record the cursor stands on into its buffer again, as the
  // dataset does after a delete or a cancelled edit: an indexed step starts
  // from the key in the buffer.
  void Resync(Side& side) {
    TABSLocalCursor& c = *side.Cursor;
    c.CurrentBuffer = side.Buffer->get();
    if (c.AtStart || c.AtEnd) return;
    ASSERT_EQ(c.FetchRecord(FetchMode::Current), FetchResult::Found);
    Remember(side);
  }

  void Fetch(Side& side, FetchMode mode) {
    TABSLocalCursor& c = *side.Cursor;
    c.CurrentBuffer = side.Buffer->get();
    // A record the other cursor deleted (its record ID perhaps taken by a new
    // record since) has no place in the index any more: the dataset starts
    // over, as it does after a failed resync.
    if (indexed_ && !c.AtStart && !c.AtEnd) {
      const Entry* now = Find(c.Position.RecordId);
      if (now == nullptr || OrderKey(*now) != side.Key) c.MoveToStart();
    }
    const Entry* entry = nullptr;
    const FetchResult expected = Expected(side, mode, entry);
    const bool atStart = c.AtStart, atEnd = c.AtEnd;
    const std::int32_t from = c.Position.RecordId;
    ASSERT_EQ(c.FetchRecord(mode), expected)
        << "mode " << int(mode) << " from "
        << (atStart ? "start"
            : atEnd ? "end"
                    : "record ")
        << from << " key " << side.Key << " rows " << model_.size() << " first key "
        << (model_.empty() ? -1 : OrderKey(model_.front()));
    if (entry != nullptr) {
      ASSERT_EQ(c.Position.RecordId, entry->Id);
      ASSERT_EQ(ReadRow(c, side.Buffer->get()), entry->Row);
      Remember(side);
    }
  }

  // Puts the cursor on visible record `n` and loads it for an edit.
  bool Load(Side& side, std::int64_t n) {
    TABSLocalCursor& c = *side.Cursor;
    c.CurrentBuffer = side.Buffer->get();
    c.SeekRecordNumber(n);
    if (model_.empty()) return false;
    const std::int64_t clamped =
        std::clamp<std::int64_t>(n, 1, static_cast<std::int64_t>(model_.size()));
    EXPECT_EQ(c.CurrentRecordNumber(), clamped);
    EXPECT_EQ(c.FetchRecord(FetchMode::Current), FetchResult::Found);
    const Entry& entry = model_[static_cast<std::size_t>(clamped - 1)];
    EXPECT_EQ(c.Position.RecordId, entry.Id);
    EXPECT_EQ(ReadRow(c, side.Buffer->get()), entry.Row);
    c.Position.Store(side.Buffer->get() + c.PositionOffset);
    std::memcpy(side.Original->get(), side.Buffer->get(),
                static_cast<std::size_t>(c.RecordBufferSize));
    Remember(side);
    return true;
  }

  std::int64_t RandomNumber() {
    return static_cast<std::int64_t>(rng_() % (model_.size() + 3));  // 0 and beyond the end too
  }

  // Between my load and my write the other cursor may change or delete the
  // record, or do nothing.
  void Interfere(Side& other, std::int32_t id) {
    const unsigned what = rng_() % 4;
    if (what >= 2 || Find(id) == nullptr) return;
    const auto at =
        std::find_if(model_.begin(), model_.end(), [&](const Entry& e) { return e.Id == id; });
    ASSERT_TRUE(Load(other, at - model_.begin() + 1));
    TABSLocalCursor& c = *other.Cursor;
    if (what == 0) {
      PlanRow row = at->Row;
      row.Zins += 1;
      WriteRow(c, other.Buffer->get(), row);
      c.WriteRecord(false);
      ASSERT_EQ(c.LastResultCode, 0);
      at->Row = row;
    } else {
      c.EraseRecord();
      ASSERT_EQ(c.LastResultCode, 0);
      Erase(id);
      ASSERT_NO_FATAL_FAILURE(Resync(other));
    }
  }

  void Update(Side& side, Side& other) {
    if (!Load(side, RandomNumber())) return;
    TABSLocalCursor& c = *side.Cursor;
    const std::int32_t id = c.Position.RecordId;
    const PlanRow before = ReadRow(c, side.Original->get());
    Interfere(other, id);
    c.CurrentBuffer = side.Buffer->get();
    c.PrepareEdit();
    PlanRow row = before;
    row.Tilgung = static_cast<double>(rng_() % 1000);
    WriteRow(c, side.Buffer->get(), row);
    std::vector<std::byte> edits(side.Buffer->get(), side.Buffer->get() + c.RecordBufferSize);
    c.WriteRecord(false);
    const Entry* now = Find(id);
    const std::int32_t expected = now == nullptr       ? crUpdateDeletedByOther
                                  : now->Row == before ? crOk
                                                       : crUpdateModifiedByOther;
    ASSERT_EQ(c.LastResultCode, expected);
    if (expected == crOk) {
      const_cast<Entry*>(now)->Row = row;
    } else {
      ASSERT_TRUE(std::equal(edits.begin(), edits.end(), side.Buffer->get()));
      c.AbandonChanges(false);
    }
    ++codes_[-expected];
  }

  void Delete(Side& side, Side& other) {
    if (!Load(side, RandomNumber())) return;
    TABSLocalCursor& c = *side.Cursor;
    const std::int32_t id = c.Position.RecordId;
    const PlanRow before = ReadRow(c, side.Original->get());
    Interfere(other, id);
    c.CurrentBuffer = side.Buffer->get();
    c.EraseRecord();
    const Entry* now = Find(id);
    const std::int32_t expected = now == nullptr       ? crDeleteDeletedByOther
                                  : now->Row == before ? crOk
                                                       : crDeleteModifiedByOther;
    ASSERT_EQ(c.LastResultCode, expected);
    if (expected == crOk) {
      Erase(id);
      ASSERT_NO_FATAL_FAILURE(Resync(side));  // on the neighbour now
    }
    ++codes_[-expected];
  }

  void Abandon(Side& side) {
    if (!Load(side, RandomNumber())) return;
    TABSLocalCursor& c = *side.Cursor;
    c.PrepareEdit();
    WriteRow(c, side.Buffer->get(), RandomRow());
    c.AbandonChanges(false);
    ASSERT_EQ(c.LastResultCode, 0);
    ASSERT_NO_FATAL_FAILURE(Resync(side));
  }

  void Search(Side& side) {
    TABSLocalCursor& c = *side.Cursor;
    c.CurrentBuffer = side.Buffer->get();
    const bool present = !model_.empty() && rng_() % 4 != 0;
    const Entry* target = present ? &model_[rng_() % model_.size()] : nullptr;
    TABSVariant key;
    key.SetAsInteger(present ? target->Row.Jahr : -5);
    const bool found = c.LocateByFields({"Jahr"}, {&key}, false, false);
    ASSERT_EQ(found, present);
    if (found) {
      ASSERT_EQ(c.Position.RecordId, target->Id);
      ASSERT_EQ(ReadRow(c, side.Buffer->get()), target->Row);
      Remember(side);
    }
  }

  // A key range on the index, both ends inclusive or exclusive at random:
  // the walks in both directions and the count show exactly the model's
  // rows inside it.
  void Range(Side& side) {
    TABSLocalCursor& c = *side.Cursor;
    TABSMemBlock low(c.KeyBufferSize), high(c.KeyBufferSize);
    c.InitKeyBuffer(low.as<std::byte>());
    c.InitKeyBuffer(high.as<std::byte>());
    std::int32_t from = static_cast<std::int32_t>(rng_() % 1000003);
    std::int32_t to = static_cast<std::int32_t>(rng_() % 1000003);
    if (from > to) std::swap(from, to);
    c.WriteFieldData(0, &from, low.as<std::byte>());
    c.WriteFieldData(0, &to, high.as<std::byte>());
    const std::uint8_t startFlag = rng_() % 2, endFlag = rng_() % 2;  // 1: exclusive
    c.SetKeyRange(low.as<std::byte>(), high.as<std::byte>(), startFlag, endFlag, 1, 1);
    std::vector<std::int32_t> expected;
    for (const Entry& e : model_) {
      const std::int32_t k = e.Row.Jahr;
      if ((startFlag ? k > from : k >= from) && (endFlag ? k < to : k <= to))
        expected.push_back(e.Id);
    }
    std::vector<std::int32_t> forward, backward;
    c.CurrentBuffer = side.Buffer->get();
    c.MoveToStart();
    while (c.FetchRecord(FetchMode::Next) == FetchResult::Found)
      forward.push_back(std::int32_t{c.Position.RecordId});
    c.MoveToEnd();
    while (c.FetchRecord(FetchMode::Prior) == FetchResult::Found)
      backward.push_back(std::int32_t{c.Position.RecordId});
    std::reverse(backward.begin(), backward.end());
    const std::int64_t count = c.CountRecords();
    c.ClearKeyRange();
    c.MoveToStart();
    ASSERT_EQ(forward, expected);
    ASSERT_EQ(backward, expected);
    ASSERT_EQ(count, static_cast<std::int64_t>(expected.size()));
    ++ranges_;
  }

  void CheckWhole(Side& side) {
    TABSLocalCursor& c = *side.Cursor;
    ASSERT_EQ(c.CountRecords(), static_cast<std::int64_t>(model_.size()));
    c.CurrentBuffer = side.Buffer->get();
    c.MoveToStart();
    for (const Entry& entry : model_) {
      ASSERT_EQ(c.FetchRecord(FetchMode::Next), FetchResult::Found);
      ASSERT_EQ(c.Position.RecordId, entry.Id);
      ASSERT_EQ(ReadRow(c, side.Buffer->get()), entry.Row);
    }
    ASSERT_EQ(c.FetchRecord(FetchMode::Next), FetchResult::Eof);
  }

  Side sides_[2];
  std::vector<Entry> model_;
  std::mt19937 rng_;
  std::int32_t nextKey_ = 1;
  bool indexed_ = false;
  int ranges_ = 0;
  int codes_[8] = {};
};

TEST_P(LocalCursorModel, TwoCursorsAgreeWithTheModel) {
  rng_.seed(std::get<0>(GetParam()));
  indexed_ = std::get<1>(GetParam());
  SetUpSides();
  constexpr int kOperations = 100000;
  for (int op = 0; op < kOperations; ++op) {
    Side& side = sides_[rng_() % 2];
    Side& other = &side == &sides_[0] ? sides_[1] : sides_[0];
    // More inserts while the table is small, so it settles around 300 rows.
    const unsigned kind = rng_() % 100;
    const unsigned insertShare = model_.size() < 300 ? 30 : 10;
    if (kind < insertShare) {
      Insert(side);
    } else if (kind < 40) {
      Fetch(side, FetchMode::Next);
    } else if (kind < 50) {
      Fetch(side, FetchMode::Prior);
    } else if (kind < 55) {
      rng_() % 2 ? side.Cursor->MoveToStart() : side.Cursor->MoveToEnd();
    } else if (kind < 65) {
      Update(side, other);
    } else if (kind < 75) {
      Delete(side, other);
    } else if (kind < 80) {
      Abandon(side);
    } else if (kind < 88) {
      Search(side);
    } else if (kind < 95) {
      Load(side, RandomNumber());
    } else if (kind < 97 && indexed_) {
      Range(side);
    } else {
      ASSERT_EQ(side.Cursor->CountRecords(), static_cast<std::int64_t>(model_.size()));
    }
    if (HasFatalFailure()) {
      FAIL() << "operation " << op << " of kind " << kind;
    }
    if (op % 5000 == 0) {
      ASSERT_NO_FATAL_FAILURE(CheckWhole(side));
    }
  }
  ASSERT_NO_FATAL_FAILURE(CheckWhole(sides_[0]));
  // Every refusal the other cursor can cause happened.
  for (int code : {0, 4, 5, 6, 7}) EXPECT_GT(codes_[code], 0) << "result code -" << code;
  if (indexed_) {
    EXPECT_GT(ranges_, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, LocalCursorModel,
                         ::testing::Combine(::testing::Values(1u, 20261209u), ::testing::Bool()));

}  // namespace
