// Page manager hot paths: the commit with nothing pending (after every write
// of every table), a get/put pair of a cached page against an unordered_map
// lookup of the same page numbers, and a commit of one changed page.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "engine/storage/ABSMemoryPageManager.h"

namespace {

constexpr std::uint16_t kType = 12;
constexpr int kPages = 500;  // all of them fit the cache

void FillCached(TABSMemoryPageManager& m) {
  for (int i = 0; i < kPages; ++i) m.PutPage(m.AddNewPage(1, kType));
  m.CommitSessionPages(1);
}

std::vector<std::int32_t> RandomNumbers() {
  std::mt19937 rng(5);
  std::vector<std::int32_t> numbers(4096);
  for (auto& n : numbers) n = static_cast<std::int32_t>(rng() % kPages);
  return numbers;
}

void BM_CommitNothingPending(benchmark::State& state) {
  TABSMemoryPageManager m;
  FillCached(m);
  for (auto _ : state) {
    m.CommitSessionPages(1);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CommitNothingPending);

void BM_GetPutCachedPage(benchmark::State& state) {
  TABSMemoryPageManager m;
  m.SetCacheCapacityForTesting(1000);
  FillCached(m);
  const std::vector<std::int32_t> numbers = RandomNumbers();
  std::size_t i = 0;
  for (auto _ : state) {
    TABSPage* p = m.GetPage(1, numbers[i++ & 4095], false, kType);
    benchmark::DoNotOptimize(p->GetPageData());
    m.PutPage(p);
  }
}
BENCHMARK(BM_GetPutCachedPage);

// Baseline: finding the same page objects by number in a hash map.
void BM_UnorderedMapLookup(benchmark::State& state) {
  TABSMemoryPageManager m;
  FillCached(m);
  std::unordered_map<std::int32_t, const TABSPage*> map;
  for (int n = 0; n < kPages; ++n) map[n] = m.FindLivePage(n);
  const std::vector<std::int32_t> numbers = RandomNumbers();
  std::size_t i = 0;
  for (auto _ : state) {
    const TABSPage* p = map.find(numbers[i++ & 4095])->second;
    benchmark::DoNotOptimize(p->GetPageData());
  }
}
BENCHMARK(BM_UnorderedMapLookup);

// What an indexed insert does to a leaf: get, change, put, commit.
void BM_ChangeAndCommitOnePage(benchmark::State& state) {
  TABSMemoryPageManager m;
  FillCached(m);
  const std::vector<std::int32_t> numbers = RandomNumbers();
  std::size_t i = 0;
  for (auto _ : state) {
    TABSPage* p = m.GetPage(1, numbers[i++ & 4095], false, kType);
    p->GetPageData()[0]++;
    p->MarkModified();
    m.PutPage(p);
    m.CommitSessionPages(1);
  }
}
BENCHMARK(BM_ChangeAndCommitOnePage);

}  // namespace

BENCHMARK_MAIN();
