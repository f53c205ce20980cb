#include "platform/os/SystemMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace platform {

namespace {
constexpr std::align_val_t kFixedBlockAlignment{16};
}  // namespace

void* AllocatePages(std::size_t size) noexcept {
  if (size == 0) return nullptr;
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void FreePages(void* address, std::size_t size) noexcept {
  if (address != nullptr) ::munmap(address, size);
}

void* AllocateFixedBlock(std::size_t size) noexcept {
  return ::operator new(size == 0 ? 1 : size, kFixedBlockAlignment, std::nothrow);
}

void FreeFixedBlock(void* address) noexcept {
  if (address != nullptr) ::operator delete(address, kFixedBlockAlignment);
}

std::int64_t AvailablePhysicalMemory() {
  if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    long long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) break;
      kib = -1;
    }
    std::fclose(f);
    if (kib >= 0) return static_cast<std::int64_t>(kib) * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages < 0 || pageSize <= 0) return 0;
  return static_cast<std::int64_t>(pages) * pageSize;
}

}  // namespace platform
