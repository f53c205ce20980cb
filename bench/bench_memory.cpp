// Engine memory manager against the runtime heap: allocate/free pairs on one
// and two threads, and growth of one buffer in fixed steps.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/memory/ABSMemory.h"

namespace {

void BM_GetMemFree(benchmark::State& state) {
  const std::int64_t size = state.range(0);
  for (auto _ : state) {
    void* p = EngineMemoryManager.GetMem(size);
    benchmark::DoNotOptimize(p);
    EngineMemoryManager.FreeAndNillMem(p);
  }
}

void BM_MallocFree(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* p = std::malloc(size);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}

BENCHMARK(BM_GetMemFree)->Arg(37)->Arg(4096)->Arg(100000);
BENCHMARK(BM_MallocFree)->Arg(37)->Arg(4096)->Arg(100000);
BENCHMARK(BM_GetMemFree)->Arg(37)->Arg(4096)->Arg(100000)->Threads(2);
BENCHMARK(BM_MallocFree)->Arg(37)->Arg(4096)->Arg(100000)->Threads(2);

constexpr std::int64_t kStep = 37000;
constexpr std::int64_t kFinal = 37000000;

// One buffer grown by ReallocMem in steps of 37000 bytes up to 37 MB; with
// argument 1 the new tail is zeroed, as a container's resize does.
void BM_ReallocMemGrowth(benchmark::State& state) {
  const bool zeroed = state.range(0) != 0;
  for (auto _ : state) {
    void* p = EngineMemoryManager.GetMemZeroed(kStep);
    for (std::int64_t size = 2 * kStep; size <= kFinal; size += kStep) {
      EngineMemoryManager.ReallocMem(p, size, zeroed);
      static_cast<unsigned char*>(p)[size - 1] = 1;
    }
    benchmark::DoNotOptimize(p);
    EngineMemoryManager.FreeAndNillMem(p);
  }
}

// The same growth with a new block and a full copy at every step.
void BM_CopyEveryStepGrowth(benchmark::State& state) {
  for (auto _ : state) {
    void* p = EngineMemoryManager.GetMem(kStep);
    std::int64_t old = kStep;
    for (std::int64_t size = 2 * kStep; size <= kFinal; size += kStep) {
      void* fresh = EngineMemoryManager.GetMem(size);
      std::memcpy(fresh, p, static_cast<std::size_t>(old));
      EngineMemoryManager.FreeAndNillMem(p);
      p = fresh;
      static_cast<unsigned char*>(p)[size - 1] = 1;
      old = size;
    }
    benchmark::DoNotOptimize(p);
    EngineMemoryManager.FreeAndNillMem(p);
  }
}

// The same growth through a container that grows its capacity geometrically.
void BM_VectorGrowth(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<unsigned char> v(kStep);
    for (std::int64_t size = 2 * kStep; size <= kFinal; size += kStep) {
      v.resize(static_cast<std::size_t>(size));
      v[static_cast<std::size_t>(size - 1)] = 1;
    }
    benchmark::DoNotOptimize(v.data());
  }
}

BENCHMARK(BM_ReallocMemGrowth)->ArgName("zeroed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorGrowth)->Unit(benchmark::kMillisecond);
// Slow by design (quadratic copying): one iteration is enough.
BENCHMARK(BM_CopyEveryStepGrowth)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
