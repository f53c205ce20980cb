// Searches by field values through the current index: the same record as
// the scan in the current order, and the index really answers them.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/local/ABSLocalCursorInternal.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

constexpr int kRows = 10000;

class LocalCursorLocate : public CursorTest {
 protected:
  LocalCursorLocate() {
    MakePlanTable("Probe");
    cursor_ = Open("Probe");
    buffer_ = std::make_unique<RecordBuffer>(*cursor_);
    for (int n = 0; n < kRows; ++n) {
      PlanRow row = Row(n);
      row.Jahr = (n * 7919) % kRows;  // unique, not in insertion order
      row.Monat = n % 12;
      row.Tag = n % 30;
      EXPECT_EQ(InsertRow(*cursor_, buffer_->get(), row), 0);
    }
    AddIndex("ByJahr", true, {"Jahr"});
    AddIndex("ByMonatTag", false, {"Monat", "Tag", "Jahr"});
    cursor_->CurrentBuffer = buffer_->get();
  }

  void AddIndex(const char* name, bool unique, const std::vector<std::string>& columns) {
    TABSIndexDef def;
    def.SetName(name);
    def.Unique = unique;
    def.SetColumnsFromLists(columns, std::vector<std::string>(columns.size()),
                            std::vector<std::string>(columns.size()));
    cursor_->AddIndexToTable(def);
  }

  struct Outcome {
    bool found;
    PlanRow row;
    std::int64_t number;
    friend bool operator==(const Outcome&, const Outcome&) = default;
  };

  // One search; `viaIndex` tells whether the index answered it.
  Outcome Locate(const std::vector<std::string>& fields,
                 const std::vector<const TABSVariant*>& pointers, bool partialKey, bool& viaIndex) {
    const std::int64_t before = local_cursor_detail::IndexedLocateCount();
    const std::int64_t numberBefore = cursor_->CurrentRecordNumber();
    const PlanRow rowBefore = ReadRow(*cursor_, buffer_->get());
    Outcome o{};
    o.found = cursor_->LocateByFields(fields, pointers, false, partialKey);
    viaIndex = local_cursor_detail::IndexedLocateCount() != before;
    if (o.found) {
      o.row = ReadRow(*cursor_, buffer_->get());
      o.number = cursor_->CurrentRecordNumber();
    } else {  // nothing changes
      EXPECT_EQ(cursor_->CurrentRecordNumber(), numberBefore);
      EXPECT_EQ(ReadRow(*cursor_, buffer_->get()), rowBefore);
    }
    return o;
  }

  std::unique_ptr<TABSLocalCursor> cursor_;
  std::unique_ptr<RecordBuffer> buffer_;
};

// Integer values and pointers to them, as LocateByFields takes them.
struct Values {
  explicit Values(const std::vector<std::int32_t>& ints) {
    for (std::int32_t v : ints) {
      owned.push_back(std::make_unique<TABSVariant>());
      owned.back()->SetAsInteger(v);
      pointers.push_back(owned.back().get());
    }
  }
  std::vector<std::unique_ptr<TABSVariant>> owned;
  std::vector<const TABSVariant*> pointers;
};

int Below(std::mt19937& g, int n) {
  return static_cast<int>(g() % static_cast<unsigned>(n));
}

TEST_F(LocalCursorLocate, IndexAnswersEqualTheScanInTheCurrentOrder) {
  struct Case {
    const char* index;
    std::vector<std::string> fields;
    // A probe from a random number; values beyond the stored ones miss.
    std::vector<std::int32_t> (*probe)(std::mt19937&);
    bool indexServes;
  };
  const std::vector<Case> cases = {
      {"ByJahr",
       {"jahr"},
       [](std::mt19937& g) { return std::vector<std::int32_t>{Below(g, (kRows + 500))}; },
       true},
      {"ByMonatTag",
       {"TAG", "monat"},  // the leading columns in another order
       [](std::mt19937& g) {
         return std::vector<std::int32_t>{Below(g, 32), Below(g, 14)};
       },
       true},
      {"ByMonatTag",
       {"Monat"},
       [](std::mt19937& g) { return std::vector<std::int32_t>{Below(g, 14)}; },
       true},
      {"ByMonatTag",
       {"Tag"},  // not a leading column: scanned
       [](std::mt19937& g) { return std::vector<std::int32_t>{Below(g, 32)}; },
       false},
      {"",
       {"Jahr"},  // no current index: scanned
       [](std::mt19937& g) { return std::vector<std::int32_t>{Below(g, kRows + 500)}; },
       false},
  };
  std::mt19937 random(11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index + std::string(" / ") + c.fields[0]);
    cursor_->SetCurrentIndex(c.index);
    int found = 0;
    for (int i = 0; i < 60; ++i) {
      const Values values(c.probe(random));
      bool viaIndex = false;
      // A prefix search on integer fields compares whole values but always
      // scans: the reference answer.
      const Outcome scanned = Locate(c.fields, values.pointers, true, viaIndex);
      ASSERT_FALSE(viaIndex);
      cursor_->MoveToStart();  // the two searches start from the same place
      const Outcome indexed = Locate(c.fields, values.pointers, false, viaIndex);
      EXPECT_EQ(viaIndex, c.indexServes);
      EXPECT_EQ(indexed, scanned) << "probe " << i;
      found += scanned.found ? 1 : 0;
    }
    EXPECT_GT(found, 0);
    EXPECT_LT(found, 60);
  }
}

TEST_F(LocalCursorLocate, ValuesTheIndexCannotHoldAreScanned) {
  cursor_->SetCurrentIndex("ByJahr");
  TABSVariant wide;
  wide.SetAsLargeint(1234);  // another integer type compares by value
  bool viaIndex = true;
  const Outcome o = Locate({"Jahr"}, {&wide}, false, viaIndex);
  EXPECT_FALSE(viaIndex);
  ASSERT_TRUE(o.found);
  EXPECT_EQ(o.row.Jahr, 1234);
  EXPECT_EQ(o.number, 1235);
}

}  // namespace
