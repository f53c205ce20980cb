// Randomized test of the B-tree record index against a std::multiset model
// ordered by a reference comparison written apart from the index's own:
// batches of inserts, deletes and updates, and after each batch the tree
// checker, walks both ways, ranks, uniqueness and every condition search on
// random probe keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSRecordManager.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"
#include "tests/engine/index/BTreeChecker.h"
#include "tests/engine/index/BTreeTestSupport.h"

namespace {

constexpr std::int32_t S = TFakeIndexTable::kSession;

struct Value {
  bool Null = true;
  std::int64_t Int = 0;
  std::string Text;
};

struct ColumnRule {
  bool IsText = false;
  bool Descending = false;
  bool CaseInsensitive = false;
  std::int32_t PrefixChars = -1;  // -1: whole values only
};

int Collate(const std::string& a, const std::string& b, bool ci) {
  return platform::FormatSettings::User().Compare(platform::AnsiToWide(a), platform::AnsiToWide(b),
                                                  ci);
}

// The reference order of one column: NULL first, integers by value, texts
// by the collator, a prefix column first by its leading characters and then
// by the whole text; descending reverses.
int CompareColumn(const ColumnRule& rule, const Value& a, const Value& b) {
  int c;
  if (a.Null || b.Null) {
    c = a.Null == b.Null ? 0 : (a.Null ? -1 : 1);
  } else if (!rule.IsText) {
    c = a.Int < b.Int ? -1 : (a.Int > b.Int ? 1 : 0);
  } else {
    c = 0;
    if (rule.PrefixChars >= 0) {
      c = Collate(a.Text.substr(0, static_cast<std::size_t>(rule.PrefixChars)),
                  b.Text.substr(0, static_cast<std::size_t>(rule.PrefixChars)),
                  rule.CaseInsensitive);
    }
    if (c == 0) c = Collate(a.Text, b.Text, rule.CaseInsensitive);
  }
  return rule.Descending ? -c : c;
}

struct Row {
  std::vector<Value> Values;
  RecordPosition Position;
};

struct Mix {
  const char* Name;
  std::vector<TTestField> Fields;
  std::vector<TTestColumn> Columns;
  std::vector<ColumnRule> Rules;
  std::uint16_t PageSize;
  std::function<Value(std::mt19937&, std::size_t column)> Draw;
};

std::string Digits(std::mt19937& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

std::vector<Mix> Mixes() {
  const auto intValue = [](std::int64_t v) { return Value{false, v, {}}; };
  return {
      {"UniqueIntegers",
       {{"K", dtInteger}},
       {{"K"}},
       {{}},
       96,
       [=](std::mt19937& rng, std::size_t) { return intValue(static_cast<std::int32_t>(rng())); }},
      {"SmallDomainIntegers",
       {{"K", dtInteger}},
       {{"K"}},
       {{}},
       96,
       [=](std::mt19937& rng, std::size_t) { return intValue(static_cast<int>(rng() % 7) - 3); }},
      {"SharedTextPrefixes",
       {{"S", dtString, 40}},
       {{"S"}},
       {{true, false, false, 20}},
       160,
       [](std::mt19937& rng, std::size_t) {
         const int shape = static_cast<int>(rng() % 4);
         std::string s = shape == 0 ? "Customer 0" + Digits(rng, 2)
                                    : "Customer number 0000000000-" + Digits(rng, 1 + shape);
         return Value{false, 0, s};
       }},
      {"Nulls",
       {{"K", dtInteger}},
       {{"K"}},
       {{}},
       96,
       [=](std::mt19937& rng, std::size_t) {
         if (rng() % 3 == 0) return Value{};
         return intValue(static_cast<int>(rng() % 50));
       }},
      {"DescendingCaseInsensitiveText",
       {{"T", dtString, 12}},
       {{"T", true, true}},
       {{true, true, true, -1}},
       128,
       [](std::mt19937& rng, std::size_t) {
         static const char* const letters[] = {"a", "A", "b", "B", "\xE9", "\xC9", "z"};
         std::string s;
         const int n = 1 + static_cast<int>(rng() % 4);
         for (int i = 0; i < n; ++i) s += letters[rng() % 7];
         return Value{false, 0, s};
       }},
      {// Runs of ascending and descending keys with repeats and jumps: inserts
       // at the end of the rightmost leaf, and keys just below or equal to
       // its last one.
       "AscendingAndDescendingRuns",
       {{"K", dtInteger}},
       {{"K"}},
       {{}},
       96,
       [=, run = std::make_shared<std::pair<std::int64_t, int>>(0, 1)](std::mt19937& rng,
                                                                       std::size_t) {
         auto& [next, step] = *run;
         const unsigned dice = rng() % 64;
         if (dice == 0) step = -step;
         if (dice == 1) next += static_cast<int>(rng() % 2001) - 1000;
         const std::int64_t value = next;
         next += step * static_cast<int>(rng() % 3);  // 0: the same key again
         return intValue(value);
       }},
      {"TwoColumns",
       {{"A", dtInteger}, {"B", dtString, 8}},
       {{"A", true}, {"B"}},
       {{false, true, false, -1}, {true, false, false, -1}},
       128,
       [=](std::mt19937& rng, std::size_t column) {
         if (column == 0) return rng() % 9 == 0 ? Value{} : intValue(static_cast<int>(rng() % 5));
         return Value{false, 0, Digits(rng, 1 + static_cast<int>(rng() % 3))};
       }},
  };
}

class Harness {
 public:
  explicit Harness(const Mix& mix)
      : mix_(mix), table_(mix.Fields, mix.PageSize), index_(table_, nullptr), model_(Less{&mix_}) {
    def_ = MakeIndexDef(mix.Columns, true);
    index_.CreateIndexPages(S, nullptr, *def_);
    Commit();
  }

  struct Less {
    const Mix* mix;
    bool operator()(const Row& a, const Row& b) const {
      const int c = CompareKeys(*mix, a, b);
      if (c != 0) return c < 0;
      return a.Position.RecordId < b.Position.RecordId;
    }
  };
  static int CompareKeys(const Mix& mix, const Row& a, const Row& b) {
    for (std::size_t i = 0; i < mix.Rules.size(); ++i) {
      const int c = CompareColumn(mix.Rules[i], a.Values[i], b.Values[i]);
      if (c != 0) return c;
    }
    return 0;
  }

  std::vector<std::byte> ImageOf(const Row& row) const {
    auto image = table_.NewImage();
    for (std::size_t i = 0; i < row.Values.size(); ++i) {
      const Value& v = row.Values[i];
      const auto field = static_cast<std::int32_t>(i);
      if (v.Null) {
        table_.SetNull(image, field);
      } else if (mix_.Rules[i].IsText) {
        table_.SetText(image, field, v.Text);
      } else {
        table_.SetInt(image, field, static_cast<std::int32_t>(v.Int));
      }
    }
    return image;
  }
  Row Draw(std::mt19937& rng) const {
    Row row;
    for (std::size_t i = 0; i < mix_.Rules.size(); ++i) row.Values.push_back(mix_.Draw(rng, i));
    return row;
  }
  void Commit() { table_.Pages().CommitSessionPages(S); }

  void Insert(std::mt19937& rng) {
    Row row = Draw(rng);
    const auto image = ImageOf(row);
    if (rng() % 2 == 0) {
      // The uniqueness check a key constraint runs before the insert; the
      // insert then starts from the place the check found.
      Row lowest = row;
      lowest.Position.RecordId = std::numeric_limits<std::int32_t>::min();
      const auto next = model_.lower_bound(lowest);
      const bool unique = next == model_.end() || CompareKeys(mix_, *next, row) != 0;
      ASSERT_EQ(index_.IsKeyUnique(S, image.data()), unique);
    }
    row.Position = table_.Store(image);
    TTestCursor cursor;
    cursor.Point(image, row.Position);
    index_.InsertRecordKey(S, cursor.State);
    Commit();
    live_.push_back(row);
    model_.insert(row);
  }
  void Delete(std::mt19937& rng) {
    const std::size_t at = rng() % live_.size();
    Row row = live_[at];
    const auto image = ImageOf(row);
    TTestCursor cursor;
    cursor.Point(image, row.Position);
    index_.DeleteRecordKey(S, cursor.State);
    RecordPosition removed = row.Position;  // the record manager may move it
    ASSERT_TRUE(table_.Records().RemoveRecord(S, removed));
    Commit();
    model_.erase(model_.find(row));
    live_[at] = live_.back();
    live_.pop_back();
  }
  void Update(std::mt19937& rng) {
    const std::size_t at = rng() % live_.size();
    Row old = live_[at];
    Row now = Draw(rng);
    now.Position = old.Position;
    const auto oldImage = ImageOf(old);
    const auto newImage = ImageOf(now);
    TTestCursor cursor;
    cursor.Point(newImage, old.Position, &oldImage);
    index_.UpdateRecordKey(S, cursor.State, true);
    ASSERT_TRUE(table_.Records().OverwriteRecord(S, newImage.data(), old.Position));
    index_.UpdateRecordKey(S, cursor.State, false);
    Commit();
    model_.erase(model_.find(old));
    model_.insert(now);
    live_[at] = now;
  }

  std::vector<RecordPosition> ModelOrder() const {
    std::vector<RecordPosition> order;
    for (const Row& r : model_) order.push_back(r.Position);
    return order;
  }

  void CheckAll(std::mt19937& rng, bool walkWithoutCache) {
    std::vector<RecordPosition> leaves;
    std::int32_t pages = 0;
    ASSERT_EQ(CheckBTree(index_, S, &leaves, &pages), "");
    const std::vector<RecordPosition> expected = ModelOrder();
    ASSERT_EQ(leaves, expected);
    ASSERT_EQ(pages, table_.Pages().GetUsedPageCount()) << "pages leaked";
    ASSERT_EQ(table_.Pages().PagesInUse(), 0);
    CheckWalk(expected, false, true);
    CheckWalk(expected, true, true);
    if (walkWithoutCache) CheckWalk(expected, false, false);
    CheckRanks(rng, expected);
    CheckProbes(rng);
  }

  void CheckWalk(const std::vector<RecordPosition>& expected, bool backward, bool cached) {
    TABSIndexPositionCache cache;
    std::vector<std::byte> buffer(static_cast<std::size_t>(table_.RecordSize()));
    NavigationRequest request;
    request.Direction = backward ? FetchMode::Prior : FetchMode::Next;
    request.BeforeFirst = !backward;
    request.AfterLast = backward;
    request.RecordBuffer = buffer.data();
    std::vector<RecordPosition> seen;
    for (;;) {
      index_.NavigateIndex(S, request, cached ? &cache : nullptr, table_.Records().ChangeCounter());
      if (request.Result != FetchResult::Found) break;
      ASSERT_FALSE(request.BeforeFirst || request.AfterLast);
      seen.push_back(request.Position);
      ASSERT_LE(seen.size(), expected.size()) << "the walk repeats records";
    }
    EXPECT_EQ(request.Result, expected.empty() ? FetchResult::NotFound
                                               : (backward ? FetchResult::Bof : FetchResult::Eof));
    if (!expected.empty()) {
      EXPECT_TRUE(backward ? request.BeforeFirst : request.AfterLast);
    }
    if (backward) std::reverse(seen.begin(), seen.end());
    ASSERT_EQ(seen, expected) << (backward ? "backward" : "forward");
  }

  void CheckRanks(std::mt19937& rng, const std::vector<RecordPosition>& expected) {
    for (int i = 0; i < 8 && !live_.empty(); ++i) {
      const Row& row = live_[rng() % live_.size()];
      const auto image = ImageOf(row);
      const std::int64_t rank = index_.RecordNumberOf(S, row.Position, image.data());
      ASSERT_GE(rank, 1);
      ASSERT_EQ(expected[static_cast<std::size_t>(rank - 1)], row.Position);
      RecordPosition at;
      index_.RecordAtNumber(S, rank, at);
      ASSERT_EQ(at, row.Position);
    }
  }

  void CheckProbes(std::mt19937& rng) {
    const std::vector<Row> rows(model_.begin(), model_.end());
    for (int i = 0; i < 6; ++i) {
      Row probe = live_.empty() || rng() % 2 ? Draw(rng) : live_[rng() % live_.size()];
      const auto image = ImageOf(probe);
      // Model: [0, less) below the probe, [less, notAbove) equal, the rest above.
      const auto less = static_cast<std::size_t>(
          std::partition_point(rows.begin(), rows.end(),
                               [&](const Row& r) { return CompareKeys(mix_, r, probe) < 0; }) -
          rows.begin());
      const auto notAbove = static_cast<std::size_t>(
          std::partition_point(rows.begin(), rows.end(),
                               [&](const Row& r) { return CompareKeys(mix_, r, probe) <= 0; }) -
          rows.begin());
      const std::size_t n = rows.size();
      ASSERT_EQ(index_.IsKeyUnique(S, image.data()), less == notAbove);
      struct Expect {
        std::int32_t Code;
        bool Backward;
        bool Found;
        std::size_t At;
      };
      const Expect expects[] = {
          {1, false, less < notAbove, less},
          {1, true, less < notAbove, notAbove - 1},
          {2, false, less > 0, 0},
          {2, true, less > 0, less - 1},
          {3, false, notAbove < n, notAbove},
          {3, true, notAbove < n, n - 1},
          {4, false, notAbove > 0, 0},
          {4, true, notAbove > 0, notAbove - 1},
          {5, false, less < n, less},
          {5, true, less < n, n - 1},
          {0, true, n > 0, n - 1},
      };
      for (const Expect& e : expects) {
        TABSScanBound bound;
        bound.Condition = e.Code;
        bound.RecordBuffer = image.data();
        TABSKeyPath path;
        const bool found = index_.ConditionSearch(S, bound, e.Backward, path);
        ASSERT_EQ(found, e.Found) << "code " << e.Code << (e.Backward ? " backward" : " forward");
        if (found) {
          ASSERT_EQ(index_.ReadPathReference(S, path), rows[e.At].Position)
              << "code " << e.Code << (e.Backward ? " backward" : " forward");
        }
      }
    }
  }

  std::size_t Size() const { return live_.size(); }
  std::int32_t Depth() {
    TABSKeyPath path;
    return index_.EdgePath(S, path, false) ? path.LevelCount : 0;
  }

 private:
  const Mix& mix_;
  mutable TFakeIndexTable table_;
  TABSBTreeRecordIndex index_;
  std::unique_ptr<TABSIndexDef> def_;
  std::multiset<Row, Less> model_;
  std::vector<Row> live_;
};

struct ModelCase {
  std::size_t Mix;
  std::uint32_t Seed;
};

std::string CaseName(const ::testing::TestParamInfo<ModelCase>& info) {
  return std::string(Mixes()[info.param.Mix].Name) + "_Seed" + std::to_string(info.param.Seed);
}

class BTreeModelTest : public ::testing::TestWithParam<ModelCase> {};

// Operations per case; BTREE_MODEL_OPS raises it for long runs.
int OperationCount() {
  const char* env = std::getenv("BTREE_MODEL_OPS");
  return env != nullptr ? std::atoi(env) : 100000;
}

TEST_P(BTreeModelTest, MatchesTheModel) {
  const std::vector<Mix> mixes = Mixes();
  const Mix& mix = mixes[GetParam().Mix];
  std::mt19937 rng(GetParam().Seed);
  Harness h(mix);
  const int total = OperationCount();
  const int batch = std::max(total / 40, 1);
  const std::size_t target = 2500;
  std::int32_t deepest = 0;
  for (int done = 0, round = 0; done < total; ++round) {
    // Grow, then churn around the target size, then shrink to empty at the end.
    const bool draining = done >= total - total / 8;
    for (int i = 0; i < batch && done < total; ++i, ++done) {
      const unsigned dice = rng() % 100;
      if (draining) {
        if (h.Size() == 0) {
          done = total;
          break;
        }
        dice < 80 ? h.Delete(rng) : h.Update(rng);
      } else if (h.Size() == 0 || (h.Size() < target ? dice < 60 : dice < 40)) {
        h.Insert(rng);
      } else if (dice < 80) {
        h.Delete(rng);
      } else {
        h.Update(rng);
      }
      if (::testing::Test::HasFatalFailure()) return;
    }
    deepest = std::max(deepest, h.Depth());
    h.CheckAll(rng, round % 10 == 0);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GE(deepest, 4) << "the tree should grow to four levels";
}

std::vector<ModelCase> Cases() {
  std::vector<ModelCase> cases;
  for (std::size_t m = 0; m < Mixes().size(); ++m) {
    for (std::uint32_t seed : {1u, 2u}) cases.push_back({m, seed});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Mixes, BTreeModelTest, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
