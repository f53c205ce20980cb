// Where a text value in a record, key or value buffer ends, and how its end
// is written. ANSI text ends at a zero byte; wide text (UTF-16 units, at any
// alignment) ends at a zero unit, which starts at an even offset from the
// start of the text. Every place that looks for or writes the end of a
// stored text uses these helpers.
//
// Pure functions on caller-owned bytes; any thread may call them.
#pragma once

#include <cstddef>
#include <cstring>

// Bytes of one terminator: 1 for ANSI text, 2 for wide text.
constexpr std::size_t TerminatorSize(bool wide) {
  return wide ? 2 : 1;
}

// Bytes of the text at `value` up to and including its terminator; 0 when
// the `size` bytes hold no terminator.
inline std::size_t TextBytesWithTerminator(const void* value, std::size_t size, bool wide) {
  const auto* bytes = static_cast<const unsigned char*>(value);
  if (wide) {
    for (std::size_t at = 0; at + 1 < size; at += 2) {
      if (bytes[at] == 0 && bytes[at + 1] == 0) return at + 2;
    }
    return 0;
  }
  const void* end = std::memchr(bytes, 0, size);
  return end == nullptr
             ? 0
             : static_cast<std::size_t>(static_cast<const unsigned char*>(end) - bytes) + 1;
}

// Bytes a text value in a `size`-byte field occupies: up to and including
// its terminator, or the whole field when it holds none.
inline std::size_t TextExtent(const void* value, std::size_t size, bool wide) {
  const std::size_t used = TextBytesWithTerminator(value, size, wide);
  return used == 0 ? size : used;
}

// Bytes of the text before its terminator within `size` bytes; every whole
// unit of the `size` bytes when they hold no terminator.
inline std::size_t TextBytesBeforeTerminator(const void* value, std::size_t size, bool wide) {
  const std::size_t used = TextBytesWithTerminator(value, size, wide);
  if (used != 0) return used - TerminatorSize(wide);
  return wide ? size & ~std::size_t{1} : size;
}

// Bytes before the terminator of a text whose buffer size is unknown.
// REQUIRES: the text at `value` is terminated.
inline std::size_t TextBytesBeforeTerminator(const void* value, bool wide) {
  const auto* bytes = static_cast<const unsigned char*>(value);
  if (!wide) return std::strlen(static_cast<const char*>(value));
  std::size_t at = 0;
  while (bytes[at] != 0 || bytes[at + 1] != 0) at += 2;
  return at;
}

// True when the text at `value` is empty: its first unit is the terminator.
// REQUIRES: `value` holds at least one unit (2 bytes for wide text).
inline bool IsEmptyText(const void* value, bool wide) {
  const auto* bytes = static_cast<const unsigned char*>(value);
  return bytes[0] == 0 && (!wide || bytes[1] == 0);
}

// Writes a terminator at `at` (TerminatorSize(wide) bytes).
inline void StoreTerminator(void* at, bool wide) {
  std::memset(at, 0, TerminatorSize(wide));
}
