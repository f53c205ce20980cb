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
