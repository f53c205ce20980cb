// Fixed-size little-endian loads and stores of packed record, key and page bytes.
//
// Record images, keys and pages are packed and unaligned: every multi-byte
// number in them is stored least-significant byte first at an arbitrary byte
// offset. These helpers are the one place that reads and writes such numbers.
// They compile to a single unaligned load or store on little-endian hosts and
// to a byte swap around it elsewhere.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace abs_coding {

template <typename T>
inline constexpr bool kCodable = std::is_arithmetic_v<T> || std::is_enum_v<T>;

// Reverses the bytes of `value` on big-endian hosts (identity on little-endian).
template <typename T>
inline T ToLittle(T value) noexcept {
  if constexpr (std::endian::native == std::endian::little || sizeof(T) == 1) {
    return value;
  } else {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
      unsigned char b = bytes[i];
      bytes[i] = bytes[sizeof(T) - 1 - i];
      bytes[sizeof(T) - 1 - i] = b;
    }
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
}

}  // namespace abs_coding

// Reads a T stored little-endian at `source` (any alignment).
template <typename T>
inline T LoadLE(const void* source) noexcept {
  static_assert(abs_coding::kCodable<T>);
  T value;
  std::memcpy(&value, source, sizeof(T));
  return abs_coding::ToLittle(value);
}

// Writes `value` little-endian at `destination` (any alignment).
template <typename T>
inline void StoreLE(void* destination, T value) noexcept {
  static_assert(abs_coding::kCodable<T>);
  value = abs_coding::ToLittle(value);
  std::memcpy(destination, &value, sizeof(T));
}

// Offset forms: `base` plus `offset` bytes.
template <typename T>
inline T LoadLE(const void* base, std::size_t offset) noexcept {
  return LoadLE<T>(static_cast<const unsigned char*>(base) + offset);
}
template <typename T>
inline void StoreLE(void* base, std::size_t offset, T value) noexcept {
  StoreLE<T>(static_cast<unsigned char*>(base) + offset, value);
}
