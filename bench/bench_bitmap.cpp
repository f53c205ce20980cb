// Record bitmap: counting, record numbers, record at a number and searches
// on 10^6 records with every tenth one hidden, word by word (the bitmap's
// own operations) against testing bit by bit (GetBit in a loop, the same
// answers). Compare CPU times within each pair.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/index/ABSRecordBitmap.h"

namespace {

constexpr std::int32_t kRecords = 1000000;

class BenchTable : public TABSBitmapTable {
 public:
  std::int32_t BitmapRecordIdOf(const RecordPosition& p) const override { return p.RecordId; }
  void BitmapPositionOf(std::int32_t id, RecordPosition& p) const override {
    p.RecordId = id;
    p.SubPosition = 0;
  }
  std::int64_t BitmapRecordCount() const override { return kRecords; }
  std::int32_t BitmapChangeCounter() const override { return 0; }
};

struct Fixture {
  BenchTable table;
  TABSRecordBitmap bitmap{&table};
  std::vector<std::int32_t> ids;
  std::vector<std::int64_t> numbers;

  Fixture() {
    bitmap.BeginRebuild(false);
    for (std::int32_t i = 0; i < kRecords; ++i) {
      if (i % 10 != 9) bitmap.MarkVisible({i, 0});
    }
    std::mt19937 random(1);
    for (int i = 0; i < 1024; ++i) {
      ids.push_back(static_cast<std::int32_t>(random() % kRecords));
      numbers.push_back(1 + static_cast<std::int64_t>(random() % bitmap.VisibleCount()));
    }
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// --- bit by bit ---
std::int64_t CountBitByBit(const TABSBitsArray& bits, std::int32_t upTo) {
  std::int64_t count = 0;
  for (std::int32_t i = 0; i <= upTo; ++i) count += bits.GetBit(i) ? 1 : 0;
  return count;
}
std::int32_t SelectBitByBit(const TABSBitsArray& bits, std::int64_t k) {
  for (std::int32_t i = 0; i < bits.BitCount(); ++i) {
    if (bits.GetBit(i) && --k == 0) return i;
  }
  return -1;
}
std::int32_t NextBitByBit(const TABSBitsArray& bits, std::int32_t from) {
  for (std::int32_t i = from; i < bits.BitCount(); ++i) {
    if (bits.GetBit(i)) return i;
  }
  return -1;
}

// FindVisible forward from `current`, testing bit by bit, through the same
// table calls as the bitmap's own.
bool FindVisibleBitByBit(const TABSRecordBitmap& bitmap, RecordPosition& position,
                         const RecordPosition& current) {
  // Called through the interface, as the bitmap calls it (no devirtualised
  // shortcut that only this file could take).
  const TABSBitmapTable* table = &bitmap.Table();
  benchmark::DoNotOptimize(table);
  const std::int32_t i = NextBitByBit(bitmap.Bits(), table->BitmapRecordIdOf(current) + 1);
  if (i < 0) return false;
  table->BitmapPositionOf(i, position);
  return true;
}

void BM_Count_Words(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) benchmark::DoNotOptimize(f.bitmap.NumberOfOrdinal(kRecords - 1));
}
void BM_Count_Bits(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) benchmark::DoNotOptimize(CountBitByBit(f.bitmap.Bits(), kRecords - 1));
}

void BM_RecordNumberOf_Words(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.bitmap.RecordNumberOf({f.ids[i++ & 1023], 0}));
  }
}
void BM_RecordNumberOf_Bits(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CountBitByBit(f.bitmap.Bits(), f.ids[i++ & 1023]));
  }
}

void BM_RecordAtNumber_Words(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t i = 0;
  RecordPosition p;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.bitmap.RecordAtNumber(f.numbers[i++ & 1023], p));
    benchmark::DoNotOptimize(p);
  }
}
void BM_RecordAtNumber_Bits(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(SelectBitByBit(f.bitmap.Bits(), f.numbers[i++ & 1023]));
  }
}

// A forward walk over every visible record, one FindVisible per record.
void BM_WalkVisible_Words(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    RecordPosition p;
    std::int64_t n = 0;
    bool found = f.bitmap.FindVisible(true, true, p, p);
    while (found) {
      ++n;
      found = f.bitmap.FindVisible(false, true, p, p);
    }
    benchmark::DoNotOptimize(n);
  }
}
void BM_WalkVisible_Bits(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    RecordPosition p{-1, 0};
    std::int64_t n = 0;
    while (FindVisibleBitByBit(f.bitmap, p, p)) ++n;
    benchmark::DoNotOptimize(n);
  }
}

// Searches from random records for the next visible one behind a hidden
// stretch: the records 100 000 .. 199 999 are hidden in a second bitmap.
struct SparseFixture {
  BenchTable table;
  TABSRecordBitmap bitmap{&table};
  SparseFixture() {
    bitmap.BeginRebuild(false);
    for (std::int32_t i = 0; i < kRecords; ++i) {
      if (i % 10 != 9 && (i < 100000 || i >= 200000)) bitmap.MarkVisible({i, 0});
    }
  }
};
void BM_FindAcrossHidden_Words(benchmark::State& state) {
  static SparseFixture f;
  for (auto _ : state) {
    RecordPosition p;
    benchmark::DoNotOptimize(f.bitmap.FindVisible(false, true, p, {100000, 0}));
    benchmark::DoNotOptimize(p);
  }
}
void BM_FindAcrossHidden_Bits(benchmark::State& state) {
  static SparseFixture f;
  for (auto _ : state) {
    RecordPosition p;
    benchmark::DoNotOptimize(FindVisibleBitByBit(f.bitmap, p, {100000, 0}));
    benchmark::DoNotOptimize(p);
  }
}

}  // namespace

BENCHMARK(BM_Count_Words);
BENCHMARK(BM_Count_Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordNumberOf_Words);
BENCHMARK(BM_RecordNumberOf_Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordAtNumber_Words);
BENCHMARK(BM_RecordAtNumber_Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkVisible_Words)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkVisible_Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindAcrossHidden_Words);
BENCHMARK(BM_FindAcrossHidden_Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
