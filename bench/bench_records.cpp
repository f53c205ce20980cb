// Memory record manager against plain byte vectors.
//
// The plan row is 37 bytes: one null byte, three 4-byte integers and three
// 8-byte doubles. Baselines: appending rows with memcpy into a
// std::vector<std::byte> (geometric growth) and scanning it reading all six
// values back. PositionToRecordId is measured with the live-count table and
// with a bit-by-bit walk over the same deleted bits.
//
// Compare CPU times between the pairs; the bytes_per_row counter reports the
// engine memory held per stored row. The append benchmarks give every
// iteration cold memory (freed pages are handed back to the system first), so
// that all sizes pay the same first-touch page faults: without that, blocks
// above the C library's mmap threshold start on fresh pages while smaller
// ones reuse warm memory, and the per-row comparison across sizes would
// measure the heap rather than the record manager. For the same reason main()
// pins the mmap threshold at the C library's default: otherwise each large
// block freed by one benchmark raises it, and the heap policy a benchmark
// meets depends on which ones ran before.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/memory/ABSMemory.h"
#include "engine/storage/ABSRecordManager.h"

namespace {

constexpr std::int32_t kRowSize = 37;
constexpr std::int32_t kGrowthStep = 1000;

struct PlanRow {
  unsigned char bytes[kRowSize] = {};

  void Set(std::int64_t i) {
    const auto year = static_cast<std::int32_t>(2024 + i / 12);
    const auto month = static_cast<std::int32_t>(1 + i % 12);
    const std::int32_t day = 15;
    const double debt = 100000.0 - static_cast<double>(i);
    const double repayment = 250.0 + static_cast<double>(i % 7);
    const double interest = 125.0 - static_cast<double>(i % 5);
    std::memcpy(bytes + 1, &year, 4);
    std::memcpy(bytes + 5, &month, 4);
    std::memcpy(bytes + 9, &day, 4);
    std::memcpy(bytes + 13, &debt, 8);
    std::memcpy(bytes + 21, &repayment, 8);
    std::memcpy(bytes + 29, &interest, 8);
  }
};

// Reads the six values of a row image back and folds them into one number.
inline double ReadRow(const std::byte* row) {
  std::int32_t y, m, d;
  double a, b, c;
  std::memcpy(&y, row + 1, 4);
  std::memcpy(&m, row + 5, 4);
  std::memcpy(&d, row + 9, 4);
  std::memcpy(&a, row + 13, 8);
  std::memcpy(&b, row + 21, 8);
  std::memcpy(&c, row + 29, 8);
  return y + m + d + a + b + c;
}

void BaselineAppend(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  PlanRow row;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
    std::vector<std::byte> rows;
    for (std::int64_t i = 0; i < n; ++i) {
      row.Set(i);
      const std::size_t at = rows.size();
      rows.resize(at + kRowSize);
      std::memcpy(rows.data() + at, row.bytes, kRowSize);
    }
    benchmark::DoNotOptimize(rows.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void StoreNewRecord(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  PlanRow row;
  double bytesPerRow = 0;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
    const std::int64_t before = EngineMemoryManager.AllocatedSize();
    TABSMemoryRecordManager records(kRowSize, kGrowthStep);
    RecordPosition pos;
    for (std::int64_t i = 0; i < n; ++i) {
      row.Set(i);
      if (!records.StoreNewRecord(0, row.bytes, pos)) throw std::runtime_error("store failed");
    }
    benchmark::DoNotOptimize(pos);
    bytesPerRow =
        static_cast<double>(EngineMemoryManager.AllocatedSize() - before) / static_cast<double>(n);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["bytes_per_row"] = bytesPerRow;
}

void BaselineScan(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  PlanRow row;
  std::vector<std::byte> rows(static_cast<std::size_t>(n) * kRowSize);
  for (std::int64_t i = 0; i < n; ++i) {
    row.Set(i);
    std::memcpy(rows.data() + i * kRowSize, row.bytes, kRowSize);
  }
  for (auto _ : state) {
    double sum = 0;
    for (std::int64_t i = 0; i < n; ++i) sum += ReadRow(rows.data() + i * kRowSize);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Walks all records with NavigateRecord (next) from before the first. With
// `readValues` the six values are read back from the record buffer as the
// baseline scan reads them; without it the walk stops at the copied image.
// `Manager` is the class the caller holds: the table data of an in-memory
// table holds the memory record manager itself, whose plain forward step is
// inline; through the base class every step is a virtual call.
template <typename Manager>
void Walk(benchmark::State& state, bool readValues) {
  const std::int64_t n = state.range(0);
  PlanRow row;
  TABSMemoryRecordManager records(kRowSize, kGrowthStep);
  RecordPosition pos;
  for (std::int64_t i = 0; i < n; ++i) {
    row.Set(i);
    records.StoreNewRecord(0, row.bytes, pos);
  }
  Manager* manager = &records;
  // Keeps the compiler from knowing the object. Not DoNotOptimize: its
  // "+m,r" operand on a pointer lets GCC 12 at -O3 hand the walk a stale
  // object address (the walk crashed once the inline step changed shape).
  asm volatile("" : "+r"(manager));
  std::byte buffer[kRowSize];
  std::int64_t seen = 0;
  const auto step = [&](NavigationRequest& req) { manager->NavigateRecord(0, req); };
  for (auto _ : state) {
    double sum = 0;
    seen = 0;
    NavigationRequest req;
    req.Direction = FetchMode::Next;
    req.RecordBuffer = buffer;
    req.BeforeFirst = true;
    for (step(req); req.Result == FetchResult::Found; step(req)) {
      if (readValues) sum += ReadRow(buffer);
      ++seen;
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(buffer);
  }
  if (seen != n) state.SkipWithError("walk missed records");
  state.SetItemsProcessed(state.iterations() * n);
}

void NavigateNext(benchmark::State& state, bool readValues) {
  Walk<TABSMemoryRecordManager>(state, readValues);
}
void NavigateNextVirtual(benchmark::State& state, bool readValues) {
  Walk<TABSBaseRecordManager>(state, readValues);
}

// A table of 1 000 000 records with every tenth removed, and a copy of its
// deleted bits for the bit-by-bit walk.
struct SparseTable {
  static constexpr std::int32_t kRows = 1000000;
  TABSMemoryRecordManager records{kRowSize, kGrowthStep};
  std::vector<unsigned char> deleted;
  std::vector<std::int64_t> probes;  // 0-based positions spread over the table
  std::int32_t lastId = -1;          // the highest live record ID

  SparseTable() : deleted((kRows + 7) / 8, 0) {
    PlanRow row;
    RecordPosition pos;
    for (std::int32_t i = 0; i < kRows; ++i) {
      row.Set(i);
      records.StoreNewRecord(0, row.bytes, pos);
    }
    for (std::int32_t i = 0; i < kRows; i += 10) {
      pos = RecordPosition{i, 0};
      records.RemoveRecord(0, pos);
      deleted[i >> 3] |= static_cast<unsigned char>(1u << (i & 7));
    }
    for (int k = 1; k <= 16; ++k) probes.push_back(records.RecordCount() * k / 17);
    for (std::int32_t id = 0; id < kRows; ++id) {
      if (!((deleted[id >> 3] >> (id & 7)) & 1u)) lastId = id;
    }
  }

  std::int32_t BitByBit(std::int64_t position) const {
    const std::int32_t last = lastId;
    std::int64_t live = 0;
    for (std::int32_t id = 0; id <= last; ++id) {
      if ((deleted[id >> 3] >> (id & 7)) & 1u) continue;
      if (live == position) return id;
      ++live;
    }
    return last + 1;
  }
};

SparseTable& Sparse() {
  static SparseTable* table = [] {
    auto* t = new SparseTable;
    for (std::int64_t p : t->probes) {
      if (t->BitByBit(p) != t->records.PositionToRecordId(p)) {
        throw std::runtime_error("walks disagree");
      }
    }
    return t;
  }();
  return *table;
}

void PositionToRecordIdLiveCount(benchmark::State& state) {
  SparseTable& t = Sparse();
  for (auto _ : state) {
    for (std::int64_t p : t.probes) benchmark::DoNotOptimize(t.records.PositionToRecordId(p));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.probes.size()));
}

void PositionToRecordIdBitByBit(benchmark::State& state) {
  SparseTable& t = Sparse();
  for (auto _ : state) {
    for (std::int64_t p : t.probes) benchmark::DoNotOptimize(t.BitByBit(p));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.probes.size()));
}

}  // namespace

BENCHMARK(BaselineAppend)->Arg(1189)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(StoreNewRecord)->Arg(1189)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BaselineScan)->Arg(1189)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(NavigateNext, walk, false)
    ->Arg(1189)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(NavigateNext, walk_and_read, true)
    ->Arg(1189)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(NavigateNextVirtual, walk, false)
    ->Arg(1189)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(NavigateNextVirtual, walk_and_read, true)
    ->Arg(1189)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PositionToRecordIdLiveCount)->Unit(benchmark::kMicrosecond);
BENCHMARK(PositionToRecordIdBitByBit)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
