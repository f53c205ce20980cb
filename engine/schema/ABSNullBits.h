// The null bitmap at the start of a record image or record buffer: bit n
// (bit n mod 8 of byte n div 8, least significant bit first) set means
// field n is NULL. Callers check the field number against the field count.
#pragma once

#include <cstddef>
#include <cstdint>

inline bool IsNullBitSet(const void* record, std::int32_t fieldNo) {
  const auto byte = static_cast<const unsigned char*>(record)[fieldNo >> 3];
  return (byte & (1u << (fieldNo & 7))) != 0;
}

inline void SetNullBit(void* record, std::int32_t fieldNo, bool isNull) {
  auto& byte = static_cast<unsigned char*>(record)[fieldNo >> 3];
  const auto mask = static_cast<unsigned char>(1u << (fieldNo & 7));
  byte =
      isNull ? static_cast<unsigned char>(byte | mask) : static_cast<unsigned char>(byte & ~mask);
}
