// Where a text value in a record or key buffer ends.
#pragma once

#include <cstddef>
#include <cstring>

// Bytes of the text at `value` up to and including its terminator (a zero
// byte, or for wide text a zero UTF-16 unit at an even offset); 0 when the
// `size` bytes hold no terminator.
inline std::size_t TextBytesWithTerminator(const std::byte* value, std::size_t size, bool wide) {
  if (wide) {
    for (std::size_t at = 0; at + 1 < size; at += 2) {
      if (value[at] == std::byte{0} && value[at + 1] == std::byte{0}) return at + 2;
    }
    return 0;
  }
  const void* end = std::memchr(value, 0, size);
  return end == nullptr ? 0
                        : static_cast<std::size_t>(static_cast<const std::byte*>(end) - value) + 1;
}

// Bytes a text value in a `size`-byte field occupies: up to and including
// its terminator, or the whole field when it holds none.
inline std::size_t TextExtent(const std::byte* value, std::size_t size, bool wide) {
  const std::size_t used = TextBytesWithTerminator(value, size, wide);
  return used == 0 ? size : used;
}

// True when the text at `value` is empty: its first unit is the terminator.
// REQUIRES: `value` holds at least one unit (2 bytes for wide text).
inline bool IsEmptyText(const std::byte* value, bool wide) {
  return value[0] == std::byte{0} && (!wide || value[1] == std::byte{0});
}
