// Raw memory sources of the operating system, used by the engine memory
// manager besides the runtime heap, and the reading of available memory.
//
// Page allocations are whole pages mapped read/write and must be released with
// the same byte count they were obtained with. Fixed blocks are 16-byte
// aligned blocks of the runtime that must go back through FreeFixedBlock (not
// free/delete), so a block released by the wrong source is caught by checked
// builds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// `size` bytes of zeroed, committed read/write pages; nullptr on failure or
// for size 0.
void* AllocatePages(std::size_t size) noexcept;
// Releases an AllocatePages block; `size` is the size it was obtained with.
void FreePages(void* address, std::size_t size) noexcept;

// A fixed block of `size` bytes (at least 1); nullptr on failure.
void* AllocateFixedBlock(std::size_t size) noexcept;
void FreeFixedBlock(void* address) noexcept;

// Physical memory the system can still hand out without swapping, in bytes:
// "MemAvailable" of /proc/meminfo, else free pages times page size.
std::int64_t AvailablePhysicalMemory();

}  // namespace platform
