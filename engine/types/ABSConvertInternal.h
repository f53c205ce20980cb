// Helpers shared by the files that implement value conversion and
// comparison: the type groups, reading a
// source as an integer, a float or a text, and the cold raise paths. Not part
// of the engine's interface; only engine/types/ABSConvert*.cpp include it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/types/ABSTextTerminator.h"
#include "engine/types/ABSTypes.h"

namespace convert_detail {

inline bool IsAnsiText(TABSStorageType t) {
  return StorageTypeFacts(t).Encoding == TABSTextEncoding::Ansi;
}
inline bool IsWideText(TABSStorageType t) {
  return StorageTypeFacts(t).Encoding == TABSTextEncoding::Wide;
}
inline bool IsTextSource(TABSStorageType t) {
  return StorageTypeFacts(t).Encoding != TABSTextEncoding::None;
}
inline bool IsIntegerType(TABSStorageType t) {
  return StorageTypeFacts(t).Kind == TABSValueKind::Integer;
}
inline bool IsFloatType(TABSStorageType t) {
  return StorageTypeFacts(t).Kind == TABSValueKind::Float;
}

// Raised inside a supported conversion; reported as 30051 by the caller.
struct ConversionFailed {};

[[noreturn]] inline void Fail() {
  throw ConversionFailed{};
}

// --- reading sources ---

inline std::int64_t ReadInteger(const void* p, TABSStorageType t) {
  switch (t) {
    case stShortint:
      return LoadLE<std::int8_t>(p);
    case stSmallint:
      return LoadLE<std::int16_t>(p);
    case stInteger:
      return LoadLE<std::int32_t>(p);
    case stLargeint:
      return LoadLE<std::int64_t>(p);
    case stByte:
      return LoadLE<std::uint8_t>(p);
    case stWord:
      return LoadLE<std::uint16_t>(p);
    case stCardinal:
      return LoadLE<std::uint32_t>(p);
    default:
      Fail();
  }
}

inline long double ReadFloat(const void* p, TABSStorageType t) {
  switch (t) {
    case stSingle:
      return LoadLE<float>(p);
    case stDouble:
    case stCurrency:
      return LoadLE<double>(p);
    case stExtended:
      return LoadExtended(p);
    default:
      Fail();
  }
}

// Text of an ANSI source: up to the terminator, never past a known size;
// memo sources of known size are taken whole.
inline std::string_view AnsiSourceText(const void* p, std::int32_t size, TABSStorageType t) {
  const char* s = static_cast<const char*>(p);
  if (size < 0) return std::string_view(s, TextBytesBeforeTerminator(s, false));
  if (t == stMemo) return std::string_view(s, static_cast<std::size_t>(size));
  return std::string_view(s, TextBytesBeforeTerminator(s, static_cast<std::size_t>(size), false));
}

// Text of a wide source, copied out because the buffer may be unaligned.
inline std::u16string WideSourceText(const void* p, std::int32_t size, TABSStorageType t) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  std::size_t units = 0;
  if (size < 0) {
    units = TextBytesBeforeTerminator(b, true) / 2;
  } else if (t == stWideMemo) {
    units = static_cast<std::size_t>(size) / 2;  // a memo of known size is taken whole
  } else {
    units = TextBytesBeforeTerminator(b, static_cast<std::size_t>(size), true) / 2;
  }
  std::u16string r(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) r[i] = LoadLE<char16_t>(b + i * 2);
  return r;
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] inline void RaiseShortSource(std::int32_t code,
                                                                          std::int32_t size,
                                                                          TABSStorageType type) {
  throw EABSException(code, "Invalid buffer size = %d for type '%s'",
                      {size, StorageTypeName(type)});
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] inline void RaiseMissingBuffer() {
  throw EABSException(30140, "Value is Null");
}

}  // namespace convert_detail
