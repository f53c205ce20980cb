// Typed engine values on the record path: SetBuffer + CopyTo of an integer
// and of a double against plain memcpy of the same bytes, and CompareValues
// of two integers and of two short texts against the plain comparisons.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "engine/types/ABSConvert.h"
#include "engine/types/ABSVariant.h"

namespace {

// The cursor's read and write of one field: copy the record bytes into the
// variant, then copy them out into another record. The variant is reused, as
// the cursor reuses its field variants.
template <typename T, TABSStorageType Type>
void BM_SetBufferCopyTo(benchmark::State& state) {
  T record = static_cast<T>(1234.5);
  T target{};
  TABSVariant v;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&record);
    v.SetBuffer(&record, sizeof(T), true, Type);
    v.CopyTo(&target, sizeof(T));
    benchmark::DoNotOptimize(&target);
    benchmark::ClobberMemory();
  }
}

// The same two copies through an intermediate buffer with memcpy.
template <typename T>
void BM_MemcpyTwice(benchmark::State& state) {
  T record = static_cast<T>(1234.5);
  T middle{};
  T target{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(&record);
    std::memcpy(&middle, &record, sizeof(T));
    benchmark::DoNotOptimize(&middle);
    std::memcpy(&target, &middle, sizeof(T));
    benchmark::DoNotOptimize(&target);
    benchmark::ClobberMemory();
  }
}

void BM_CompareValuesInteger(benchmark::State& state) {
  std::int32_t a = 41;
  std::int32_t b = 42;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(&b);
    benchmark::DoNotOptimize(
        CompareValues(&a, &b, stInteger, UserDefaultLocale, false, -1, false, false, stInteger));
  }
}

void BM_PlainCompareInteger(benchmark::State& state) {
  std::int32_t a = 41;
  std::int32_t b = 42;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&a);
    benchmark::DoNotOptimize(&b);
    std::int32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    benchmark::DoNotOptimize(x < y ? 1 : (y < x ? 2 : 0));
  }
}

void BM_CompareValuesShortString(benchmark::State& state) {
  const char a[] = "Tilgung";
  const char b[] = "Zinsen";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CompareValues(a, b, stString, UserDefaultLocale, false, -1, false, false, stString));
  }
}

void BM_StrcmpShortString(benchmark::State& state) {
  const char* a = "Tilgung";
  const char* b = "Zinsen";
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(std::strcmp(a, b));
  }
}

BENCHMARK(BM_SetBufferCopyTo<std::int32_t, stInteger>)->Name("SetBufferCopyTo/integer");
BENCHMARK(BM_MemcpyTwice<std::int32_t>)->Name("MemcpyTwice/integer");
BENCHMARK(BM_SetBufferCopyTo<double, stDouble>)->Name("SetBufferCopyTo/double");
BENCHMARK(BM_MemcpyTwice<double>)->Name("MemcpyTwice/double");
BENCHMARK(BM_CompareValuesInteger)->Name("CompareValues/integer");
BENCHMARK(BM_PlainCompareInteger)->Name("PlainCompare/integer");
BENCHMARK(BM_CompareValuesShortString)->Name("CompareValues/short_string");
BENCHMARK(BM_StrcmpShortString)->Name("Strcmp/short_string");

}  // namespace

BENCHMARK_MAIN();
