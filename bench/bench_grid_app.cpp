// The data grid over the in-test dataset, offscreen:
//  - appending and posting the largest plan (1189 rows) with a grid of 7
//    visible rows attached, against the same appends without a grid (window
//    of 1): time per recalculation and record fetches per row;
//  - scrolling from the first to the last record with Page Down, one repaint
//    per step, at 10^3 and 10^5 records: time and fetches per step.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/data/DataSource.h"
#include "platform/locale/Locale.h"
#include "platform/qt/TDBGrid.h"
#include "tests/platform/data/VectorDataSet.h"

namespace {

using platform::test::TVectorDataSet;

constexpr int kPlanRows = 1189;

std::vector<platform::test::TVectorColumn> PlanFields() {
  return {{"Jahr", platform::ftInteger},     {"Monat", platform::ftInteger},
          {"Tag", platform::ftInteger},      {"Darlehen", platform::ftCurrency},
          {"Tilgung", platform::ftCurrency}, {"Zins", platform::ftCurrency}};
}

std::unique_ptr<platform::TDBGrid> PlanGrid(platform::TDataSource& source) {
  auto grid = std::make_unique<platform::TDBGrid>();
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  grid->setFont(font);
  grid->SetTitleFont(font);
  const std::pair<const char*, int> columns[] = {{"Jahr", 57},      {"Monat", 44},   {"Tag", 43},
                                                 {"Darlehen", 101}, {"Tilgung", 80}, {"Zins", 79}};
  for (const auto& [name, width] : columns) grid->AddColumn(QString::fromLatin1(name), width);
  grid->resize(452, 152);
  grid->SetDataSource(&source);
  grid->show();
  QApplication::processEvents();
  return grid;
}

// One recalculation's table work: close, empty, open, then one append and
// post per row, the fields set as the plan sets them. Argument 0: no data
// link (a window of 1); 1: the grid of 7 visible rows, whose pending repaint
// runs once at the end as the event loop would run it; 2: a plain link of 7
// rows and no grid, which tells the grid's own share from the window's.
void BM_AppendPostPlan(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));
  TVectorDataSet ds(PlanFields());
  platform::TDataSource source;
  source.SetDataSet(&ds);
  std::unique_ptr<platform::TDBGrid> grid;
  platform::test::TCountingLink link(7);
  if (variant == 1) grid = PlanGrid(source);
  if (variant == 2) link.SetDataSource(&source);
  long long fetches = 0;
  for (auto _ : state) {
    ds.Close();
    ds.Rows().clear();
    ds.Open();
    platform::TField& jahr = ds.FieldByName("Jahr");
    platform::TField& monat = ds.FieldByName("Monat");
    platform::TField& tag = ds.FieldByName("Tag");
    platform::TField& darlehen = ds.FieldByName("Darlehen");
    platform::TField& tilgung = ds.FieldByName("Tilgung");
    platform::TField& zins = ds.FieldByName("Zins");
    const int before = ds.fetches;
    for (int i = 0; i < kPlanRows; ++i) {
      ds.Append();
      jahr.SetAsInteger(2027 + i / 12);
      monat.SetAsInteger(1 + i % 12);
      tag.SetAsInteger(15);
      darlehen.SetAsFloat(100000.0);
      tilgung.SetAsFloat(0.0);
      zins.SetAsFloat(250.0 + i * 0.01);
      ds.Post();
    }
    fetches += ds.fetches - before;
    if (grid) QApplication::processEvents();
  }
  if (ds.RecordCount() != kPlanRows) state.SkipWithError("unexpected row count");
  state.counters["window"] = ds.BufferCount();
  state.counters["fetches_per_row"] =
      static_cast<double>(fetches) / static_cast<double>(state.iterations() * kPlanRows);
}
BENCHMARK(BM_AppendPostPlan)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("variant")
    ->Unit(benchmark::kMicrosecond);

// Stored rows written straight into the array: three integers and three
// currency amounts per row (1 flag byte before each native value).
void FillRows(TVectorDataSet& ds, int count) {
  for (int i = 0; i < count; ++i) {
    ds.AddStoredRow({2027 + i / 12, 1 + i % 12, 15});
    std::vector<std::uint8_t>& image = ds.Rows().back().image;
    std::size_t at = 3 * 5;
    for (double v : {100000.0 - i, 41.67, 250.0 + i * 0.01}) {
      image[at] = 1;
      std::memcpy(&image[at + 1], &v, sizeof v);
      at += 1 + sizeof v;
    }
  }
}

void BM_PageDownToTheEnd(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  TVectorDataSet ds(PlanFields());
  FillRows(ds, records);
  platform::TDataSource source;
  source.SetDataSet(&ds);
  ds.Open();
  std::unique_ptr<platform::TDBGrid> grid = PlanGrid(source);
  long long steps = 0;
  long long fetches = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ds.First();
    grid->viewport()->repaint();
    const int before = ds.fetches;
    state.ResumeTiming();
    while (ds.RecNo() < records) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
      QApplication::sendEvent(grid.get(), &press);
      grid->viewport()->repaint();
      ++steps;
    }
    fetches += ds.fetches - before;
  }
  state.counters["steps"] = static_cast<double>(steps) / static_cast<double>(state.iterations());
  state.counters["time_per_step"] = benchmark::Counter(
      static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["fetches_per_step"] = static_cast<double>(fetches) / static_cast<double>(steps);
}
BENCHMARK(BM_PageDownToTheEnd)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("LANG", "de_DE.UTF-8", 0);
  platform::FormatSettings::ReloadUser();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
