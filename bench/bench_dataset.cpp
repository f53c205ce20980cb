// The dataset framework's buffer window over the in-test dataset.
//
// Append: one recalculation's worth of plan rows (1 189) appended and posted,
// with a window of 1 (no control attached) and of 7 (a link asking for the
// grid's visible rows). Counters: microseconds per recalculation and record
// fetches per row; the framework allows at most 2W + 2 fetches per row.
// PageDown: the window stepped by its own size from the first record to the
// last; the time per step must not grow with the record count (10^3 against
// 10^5). Baseline for both: the same loop over the std::vector the dataset
// reads, without the framework.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/data/DataSource.h"
#include "tests/platform/data/VectorDataSet.h"

namespace {

using platform::ftCurrency;
using platform::ftInteger;
using platform::TDataSource;
using platform::test::TCountingLink;
using platform::test::TVectorColumn;
using platform::test::TVectorDataSet;

std::vector<TVectorColumn> PlanSchema() {
  return {{"Jahr", ftInteger, 0},      {"Monat", ftInteger, 0},    {"Tag", ftInteger, 0},
          {"Darlehen", ftCurrency, 0}, {"Tilgung", ftCurrency, 0}, {"Zins", ftCurrency, 0}};
}

constexpr int kPlanRows = 1189;

void BM_AppendPlan(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  std::int64_t fetches = 0;
  std::int64_t rows = 0;
  for (auto _ : state) {
    TVectorDataSet ds(PlanSchema());
    TDataSource source;
    TCountingLink link(window);
    source.SetDataSet(&ds);
    link.SetDataSource(&source);
    ds.Open();
    platform::TField& jahr = ds.FieldByName("Jahr");
    platform::TField& monat = ds.FieldByName("Monat");
    platform::TField& tag = ds.FieldByName("Tag");
    platform::TField& darlehen = ds.FieldByName("Darlehen");
    platform::TField& tilgung = ds.FieldByName("Tilgung");
    platform::TField& zins = ds.FieldByName("Zins");
    double debt = 250000;
    for (int i = 0; i < kPlanRows; ++i) {
      ds.Append();
      jahr.SetAsInteger(2027 + i / 12);
      monat.SetAsInteger(i % 12 + 1);
      tag.SetAsInteger(15);
      double interest = debt * 0.0035;
      double repayment = 1200 - interest;
      debt -= repayment;
      darlehen.SetAsFloat(debt);
      tilgung.SetAsFloat(repayment);
      zins.SetAsFloat(interest);
      ds.Post();
    }
    fetches += ds.fetches;
    rows += kPlanRows;
    benchmark::DoNotOptimize(ds.RecordCount());
  }
  state.counters["fetches_per_row"] =
      benchmark::Counter(static_cast<double>(fetches) / static_cast<double>(rows));
  state.counters["us_per_recalc"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendPlan)->Arg(1)->Arg(7)->Unit(benchmark::kMicrosecond);

void BM_AppendPlanBaseline(benchmark::State& state) {
  struct Row {
    std::int32_t jahr, monat, tag;
    double darlehen, tilgung, zins;
  };
  for (auto _ : state) {
    std::vector<Row> rows;
    double debt = 250000;
    for (int i = 0; i < kPlanRows; ++i) {
      double interest = debt * 0.0035;
      double repayment = 1200 - interest;
      debt -= repayment;
      rows.push_back({2027 + i / 12, i % 12 + 1, 15, debt, repayment, interest});
    }
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_AppendPlanBaseline)->Unit(benchmark::kMicrosecond);

void BM_PageDown(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  constexpr int kWindow = 7;
  TVectorDataSet ds(PlanSchema());
  TDataSource source;
  TCountingLink link(kWindow);
  source.SetDataSet(&ds);
  link.SetDataSource(&source);
  for (int i = 0; i < records; ++i) ds.AddStoredRow({i, i % 12 + 1, 15});
  ds.Open();
  std::int64_t steps = 0;
  for (auto _ : state) {
    ds.First();
    while (!ds.Eof()) {
      ds.MoveBy(kWindow);
      ++steps;
    }
  }
  state.counters["ns_per_step"] = benchmark::Counter(
      static_cast<double>(steps) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PageDown)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
