// Key maintenance on the write path.
//
// Plan rows (a table with no index and no constraint): storing a row in the
// record manager alone, against storing it and running the index manager's
// InsertKeys (and the page commit), and against that plus the constraint
// manager's check, as the table data does on every write. All run in the
// same process on the same rows; the managers must cost at most a few per
// cent.
//
// A primary key on an integer field: the key insert alone (InsertKeys on a
// unique index), against the constraint check (which asks the index whether
// the key is free) followed by the key insert.
//
// Each benchmark inserts `rows` rows into a fresh table per iteration batch;
// the figures are per row.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engine/index/ABSConstraintManager.h"
#include "engine/index/ABSConstraintTable.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSCoding.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/storage/ABSRecordManager.h"

namespace {

constexpr std::int32_t kSession = 1;

// A table of plan-row shape: three integers and three doubles.
class BenchTable final : public TABSIndexTable, public TABSConstraintTable {
 public:
  BenchTable() : fields_(nullptr), indexes_(*this, pages_, pages_), constraints_(*this) {
    TABSFieldDefs& defs = fields_.FieldDefs();
    defs.AddFieldDef("Jahr", dtInteger);
    defs.AddFieldDef("Monat", dtInteger);
    defs.AddFieldDef("Tag", dtInteger);
    defs.AddFieldDef("Restschuld", dtDouble);
    defs.AddFieldDef("Tilgung", dtDouble);
    defs.AddFieldDef("Zinsen", dtDouble);
    fields_.ComputeLayout();
    records_ = std::make_unique<TABSMemoryRecordManager>(fields_.GetRecordSize(), 1000);
  }

  const TABSBaseFieldManager* IndexFieldManager() const override { return &fields_; }
  TABSBaseRecordManager& IndexRecordManager() override { return *records_; }
  TABSPageManager& IndexPageManager(const TABSIndexDef& def) override {
    return indexes_.GetIndexPageManager(def);
  }
  std::int32_t NextObjectId() override { return ++lastId_; }

  const std::string& ConstraintTableName() const override { return name_; }
  std::int32_t ConstraintTableId() const override { return 1; }
  const TABSFieldDefs& ConstraintFieldDefs() const override { return fields_.FieldDefs(); }
  const TABSIndexDefs& ConstraintIndexDefs() const override { return indexes_.IndexDefs(); }
  std::int64_t ConstraintRecordCount() const override { return records_->RecordCount(); }
  bool IsKeyUnique(std::int32_t indexId, std::int32_t sessionId, const std::byte* image) override {
    return indexes_.IsRecordKeyUnique(sessionId, indexId, image, nullptr);
  }
  bool IsUpdateUnique(std::int32_t indexId, std::int32_t sessionId, const std::byte* newImage,
                      const std::byte* originalImage) override {
    return indexes_.IsRecordKeyUnique(sessionId, indexId, newImage, originalImage);
  }

  // A primary index on the first field, with its constraint.
  void AddPrimaryKey(bool withConstraint) {
    TABSIndexDef def;
    def.SetName("PK");
    def.Primary = true;
    def.Unique = true;
    def.Columns.emplace_back();
    def.Columns.back().Name = "Jahr";
    const std::int32_t id = indexes_.AddIndex(kSession, nullptr, def);
    if (withConstraint) {
      constraints_.AddUniqueConstraintForIndex(*indexes_.IndexDefs().FindByObjectId(id));
    }
  }

  void FillRow(std::int64_t i) {
    std::byte* row = image_;
    std::memset(row, 0, sizeof(image_));
    const TABSFieldDefs& defs = fields_.FieldDefs();
    StoreLE<std::int32_t>(row + defs[0]->MemoryOffset, static_cast<std::int32_t>(i));
    StoreLE<std::int32_t>(row + defs[1]->MemoryOffset, static_cast<std::int32_t>(1 + i % 12));
    StoreLE<std::int32_t>(row + defs[2]->MemoryOffset, 15);
    const double debt = 100000.0 - static_cast<double>(i);
    std::memcpy(row + defs[3]->MemoryOffset, &debt, 8);
  }

  // The write path of the table data: the constraint check (with
  // `check`), the store, the keys and the page commit (with `keys`).
  void WriteRow(bool check, bool keys) {
    RecordPosition position;
    if (check &&
        !constraints_.CheckRecordConstraints(kSession, image_, true, true, position, true, nullptr))
      return;
    records_->StoreNewRecord(kSession, image_, position);
    if (keys) {
      cursor_.CurrentBuffer = image_;
      cursor_.Position = position;
      indexes_.InsertKeys(kSession, cursor_);
      pages_.CommitSessionPages(kSession);
    }
  }

 private:
  std::string name_ = "Tilgungsplan";
  TABSBaseFieldManager fields_;
  std::unique_ptr<TABSMemoryRecordManager> records_;
  TABSMemoryPageManager pages_;
  TABSBaseIndexManager indexes_;
  TABSBaseConstraintManager constraints_;
  TABSCursorState cursor_;
  std::int32_t lastId_ = 0;
  alignas(8) std::byte image_[64] = {};
};

void RunPlanRows(benchmark::State& state, bool check, bool keys) {
  const std::int64_t rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<BenchTable>();
    state.ResumeTiming();
    for (std::int64_t i = 0; i < rows; ++i) {
      table->FillRow(i);
      table->WriteRow(check, keys);
    }
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_PlanRowRecordStoreOnly(benchmark::State& state) {
  RunPlanRows(state, false, false);
}
void BM_PlanRowWithInsertKeys(benchmark::State& state) {
  RunPlanRows(state, false, true);
}
void BM_PlanRowThroughManagers(benchmark::State& state) {
  RunPlanRows(state, true, true);
}
BENCHMARK(BM_PlanRowRecordStoreOnly)->Arg(360)->Arg(100000);
BENCHMARK(BM_PlanRowWithInsertKeys)->Arg(360)->Arg(100000);
BENCHMARK(BM_PlanRowThroughManagers)->Arg(360)->Arg(100000);

void RunPrimaryKey(benchmark::State& state, bool withConstraint) {
  const std::int64_t rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<BenchTable>();
    table->AddPrimaryKey(withConstraint);
    state.ResumeTiming();
    for (std::int64_t i = 0; i < rows; ++i) {
      // Keys in a scattered order, so the tree is searched, not appended to.
      table->FillRow((i * 7919) % rows);
      table->WriteRow(withConstraint, true);
    }
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_PrimaryKeyInsertOnly(benchmark::State& state) {
  RunPrimaryKey(state, false);
}
void BM_PrimaryKeyCheckAndInsert(benchmark::State& state) {
  RunPrimaryKey(state, true);
}
BENCHMARK(BM_PrimaryKeyInsertOnly)->Arg(10000);
BENCHMARK(BM_PrimaryKeyCheckAndInsert)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
