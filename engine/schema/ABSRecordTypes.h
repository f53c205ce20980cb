// Small value types shared by cursors, the dataset and the record store:
// where a record is (RecordPosition), what a record buffer holds (RecordFlag)
// and the fetch protocol (FetchMode, FetchResult).
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/memory/ABSCoding.h"

// 6 packed bytes: a signed 32-bit record identifier and an unsigned 16-bit
// sub-position (always 0 for in-memory tables). Positions are also the
// dataset's bookmarks. The struct itself is packed too, so that copying one
// with sizeof never writes past the 6 bytes a record buffer reserves for it
// into the flag byte behind.
#pragma pack(push, 1)
struct RecordPosition {
  std::int32_t RecordId = 0;
  std::uint16_t SubPosition = 0;

  static constexpr std::size_t kStoredSize = 6;

  // Reads and writes the packed form at an unaligned address.
  static RecordPosition Load(const void* src) {
    RecordPosition p;
    p.RecordId = LoadLE<std::int32_t>(src);
    p.SubPosition = LoadLE<std::uint16_t>(src, 4);
    return p;
  }
  void Store(void* dst) const {
    StoreLE(dst, RecordId);
    StoreLE(dst, 4, SubPosition);
  }

  friend bool operator==(const RecordPosition&, const RecordPosition&) = default;
};
#pragma pack(pop)
static_assert(sizeof(RecordPosition) == RecordPosition::kStoredSize);

// The flag byte after the position in a record buffer; the values equal the
// dataset framework's bookmark flags.
enum class RecordFlag : std::uint8_t { Current = 0, Bof = 1, Eof = 2, Inserted = 3 };

enum class FetchMode : std::uint8_t { Current = 0, Next = 1, Prior = 2 };

enum class FetchResult : std::uint8_t { Found = 0, Bof = 1, Eof = 2, NotFound = 3 };
