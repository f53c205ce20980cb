// Temporary record manager against its baselines, in memory and on file.
//
// Rows are the 37-byte plan rows of bench_records.cpp. In memory the
// temporary manager (memory limit from the available memory, and with
// keep-in-memory) is compared with the memory record manager's store and
// walk, both called through the base class as the table data calls them.
// With the memory limit at 0 every record goes to the record file; the
// baselines write the same bytes with plain buffered writes in 64 KiB blocks
// to an unnamed temporary file and read them back in 64 KiB blocks, copying
// each row out as a walk does.
//
// Compare CPU and real times between the pairs of the same size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "engine/storage/ABSRecordManager.h"
#include "engine/temporary/ABSTemporaryRecordManager.h"

namespace {

constexpr std::int32_t kRowSize = 37;
constexpr std::int32_t kGrowthStep = 1000;
constexpr std::int32_t kBlock = 64 * 1024;

struct PlanRow {
  unsigned char bytes[kRowSize] = {};
  void Set(std::int64_t i) {
    const auto year = static_cast<std::int32_t>(2024 + i / 12);
    const auto month = static_cast<std::int32_t>(1 + i % 12);
    const double debt = 100000.0 - static_cast<double>(i);
    std::memcpy(bytes + 1, &year, 4);
    std::memcpy(bytes + 5, &month, 4);
    std::memcpy(bytes + 13, &debt, 8);
  }
};

enum Kind { kMemoryManager = 0, kTemporary = 1, kTemporaryKeep = 2, kTemporaryFile = 3 };

std::unique_ptr<TABSBaseRecordManager> MakeManager(int kind) {
  switch (kind) {
    case kMemoryManager:
      return std::make_unique<TABSMemoryRecordManager>(kRowSize, kGrowthStep);
    case kTemporaryFile:
      TemporaryLimitsForTesting().RecordLimit = 0;
      break;
    default:
      TemporaryLimitsForTesting().RecordLimit = -1;
      break;
  }
  auto m = std::make_unique<TABSTemporaryRecordManager>(kRowSize, kind == kTemporaryKeep,
                                                        kGrowthStep, 10);
  TemporaryLimitsForTesting().RecordLimit = -1;
  return m;
}

void Fill(TABSBaseRecordManager& records, std::int64_t n) {
  PlanRow row;
  RecordPosition pos;
  for (std::int64_t i = 0; i < n; ++i) {
    row.Set(i);
    if (!records.StoreNewRecord(0, row.bytes, pos)) throw std::runtime_error("store failed");
  }
}

void Store(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const int kind = static_cast<int>(state.range(1));
  for (auto _ : state) {
    std::unique_ptr<TABSBaseRecordManager> records = MakeManager(kind);
    Fill(*records, n);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * kRowSize);
}

void Walk(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const int kind = static_cast<int>(state.range(1));
  std::unique_ptr<TABSBaseRecordManager> records = MakeManager(kind);
  Fill(*records, n);
  unsigned char buffer[kRowSize];
  for (auto _ : state) {
    NavigationRequest r;
    r.Direction = FetchMode::Next;
    r.BeforeFirst = true;
    r.RecordBuffer = buffer;
    std::int64_t seen = 0;
    double sum = 0;
    for (;;) {
      records->NavigateRecord(0, r);
      if (r.Result != FetchResult::Found) break;
      double debt;
      std::memcpy(&debt, buffer + 13, 8);
      sum += debt;
      ++seen;
    }
    if (seen != n) throw std::runtime_error("walk short");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * kRowSize);
}

int UnnamedFile() {
  const int fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("no temporary file");
  return fd;
}

// Rows gathered into 64 KiB blocks, each block one pwrite.
void WriteRows(int fd, std::int64_t n) {
  std::vector<unsigned char> block(kBlock);
  PlanRow row;
  std::int32_t used = 0;
  std::int64_t offset = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    row.Set(i);
    std::int32_t done = 0;
    while (done < kRowSize) {
      const std::int32_t part = std::min(kRowSize - done, kBlock - used);
      std::memcpy(block.data() + used, row.bytes + done, static_cast<std::size_t>(part));
      used += part;
      done += part;
      if (used == kBlock) {
        if (::pwrite(fd, block.data(), kBlock, offset) != kBlock) throw std::runtime_error("w");
        offset += kBlock;
        used = 0;
      }
    }
  }
  if (used > 0 && ::pwrite(fd, block.data(), used, offset) != used) throw std::runtime_error("w");
}

void BaselineFileWrite(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    const int fd = UnnamedFile();
    WriteRows(fd, n);
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * kRowSize);
}

void BaselineFileRead(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const int fd = UnnamedFile();
  WriteRows(fd, n);
  std::vector<unsigned char> block(kBlock);
  unsigned char buffer[kRowSize];
  const std::int64_t total = n * kRowSize;
  for (auto _ : state) {
    double sum = 0;
    std::int64_t offset = 0;
    std::int32_t have = 0, at = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      std::int32_t done = 0;
      while (done < kRowSize) {
        if (at == have) {
          const std::int64_t want = std::min<std::int64_t>(kBlock, total - offset);
          if (::pread(fd, block.data(), static_cast<std::size_t>(want), offset) != want) {
            throw std::runtime_error("r");
          }
          offset += want;
          have = static_cast<std::int32_t>(want);
          at = 0;
        }
        const std::int32_t part = std::min(kRowSize - done, have - at);
        std::memcpy(buffer + done, block.data() + at, static_cast<std::size_t>(part));
        at += part;
        done += part;
      }
      double debt;
      std::memcpy(&debt, buffer + 13, 8);
      sum += debt;
    }
    benchmark::DoNotOptimize(sum);
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * kRowSize);
}

void Sizes(benchmark::internal::Benchmark* b, std::initializer_list<int> kinds) {
  for (const std::int64_t n : {100000, 1000000}) {
    for (const int kind : kinds) b->Args({n, kind});
  }
  b->ArgNames({"rows", "kind"})->Unit(benchmark::kMillisecond);
}

// kind: 0 memory record manager, 1 temporary (limit from memory), 2
// temporary with keep-in-memory, 3 temporary with memory limit 0.
BENCHMARK(Store)->Apply([](auto* b) { Sizes(b, {0, 1, 2, 3}); });
BENCHMARK(BaselineFileWrite)->Apply([](auto* b) { Sizes(b, {0}); });
BENCHMARK(Walk)->Apply([](auto* b) { Sizes(b, {0, 1, 2, 3}); });
BENCHMARK(BaselineFileRead)->Apply([](auto* b) { Sizes(b, {0}); });

}  // namespace

BENCHMARK_MAIN();
