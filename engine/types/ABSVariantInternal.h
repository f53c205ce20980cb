// Helpers shared by the files that implement TABSVariant: the type check, and the cold raise paths
// (kept out of line so the callers' fast paths stay small). Not part of the engine's interface;
// only engine/types/ABSVariant*.cpp include it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSTypes.h"

namespace variant_detail {

constexpr std::int32_t kMsPerDay = 86400000;

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] inline void RaiseUnknownType(TABSStorageType type) {
  throw EABSException(native_code::kVariantUnknownType, "Unknown DataType: '%s'",
                      {std::to_string(type)});
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] inline void RaiseNilPointer() {
  throw EABSException(native_code::kVariantNilPointer, "Nil pointer occured");
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] inline void RaiseBadSize(std::int32_t size,
                                                                      TABSStorageType type) {
  throw EABSException(native_code::kVariantBadBufferSize, "Invalid buffer size = %d for type '%s'",
                      {size, StorageTypeName(type)});
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] inline void RaiseBufferExceeded() {
  throw EABSException(20056, "Buffer size exceeded");
}

inline void CheckTypeValue(TABSStorageType type, bool allowNone) {
  if (type > stLastStorageType || (type == stNone && !allowNone)) RaiseUnknownType(type);
}

}  // namespace variant_detail
