// A small tagged value standing in for the platform's variant type: the
// value kinds a dataset field or an expression can exchange with the engine's
// typed value (empty, null, integers of each width and sign, single, double,
// currency, date, UTF-16 and ANSI strings, boolean), plus a few kinds the
// engine does not accept, so callers can see those refused.
//
// The kind codes are fixed numbers; error messages print them in decimal.
// A PlatformVariant is a plain value: copyable, owns its strings, no sharing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/DateTime.h"

namespace platform {

enum class VariantKind : std::uint16_t {
  Empty = 0,
  Null = 1,
  Smallint = 2,  // signed 16-bit
  Integer = 3,   // signed 32-bit
  Single = 4,    // 32-bit float
  Double = 5,    // 64-bit float
  Currency = 6,  // fixed point: the amount times 10000 in a signed 64-bit integer
  Date = 7,      // TDateTime
  OleStr = 8,    // UTF-16 text
  Error = 10,    // an error code (not accepted by the engine)
  Boolean = 11,
  ShortInt = 16,    // signed 8-bit
  Byte = 17,        // unsigned 8-bit
  Word = 18,        // unsigned 16-bit
  LongWord = 19,    // unsigned 32-bit
  Int64 = 20,       // signed 64-bit
  UInt64 = 21,      // unsigned 64-bit (not accepted by the engine)
  String = 0x100,   // ANSI (Windows-1252) text
  UString = 0x102,  // UTF-16 text of the platform's own string type
};

class PlatformVariant {
 public:
  PlatformVariant() = default;  // Empty

  static PlatformVariant Null();
  static PlatformVariant FromShortInt(std::int8_t v);
  static PlatformVariant FromSmallint(std::int16_t v);
  static PlatformVariant FromInteger(std::int32_t v);
  static PlatformVariant FromInt64(std::int64_t v);
  static PlatformVariant FromByte(std::uint8_t v);
  static PlatformVariant FromWord(std::uint16_t v);
  static PlatformVariant FromLongWord(std::uint32_t v);
  static PlatformVariant FromUInt64(std::uint64_t v);
  static PlatformVariant FromSingle(float v);
  static PlatformVariant FromDouble(double v);
  // The amount rounded to 4 decimals (halves away from zero). Amounts
  // outside the fixed-point range, NaN and infinities raise EConvertError.
  static PlatformVariant FromCurrency(double amount);
  static PlatformVariant FromCurrencyUnits(std::int64_t unitsOf10000th);
  static PlatformVariant FromDate(TDateTime v);
  static PlatformVariant FromOleStr(std::u16string_view v);
  static PlatformVariant FromUString(std::u16string_view v);
  static PlatformVariant FromAnsiString(std::string_view windows1252);
  static PlatformVariant FromBoolean(bool v);
  static PlatformVariant FromError(std::int32_t code);

  VariantKind Kind() const { return kind_; }
  std::uint16_t KindCode() const { return static_cast<std::uint16_t>(kind_); }
  bool IsEmptyOrNull() const { return kind_ == VariantKind::Empty || kind_ == VariantKind::Null; }

  // Typed reads. Each requires the matching kind (the integer reads accept
  // every integer kind and the Error kind whose value fits) and raises
  // EConvertError "Invalid variant type conversion" otherwise.
  std::int64_t AsInt64() const;
  std::uint64_t AsUInt64() const;
  // Single, Double, Date and Currency (as its amount).
  double AsDouble() const;
  float AsSingle() const;
  std::int64_t CurrencyUnits() const;
  TDateTime AsDate() const;
  bool AsBoolean() const;
  // OleStr and UString.
  const std::u16string& AsWide() const;
  // String (Windows-1252 bytes).
  const std::string& AsAnsi() const;

  bool operator==(const PlatformVariant& other) const;

 private:
  VariantKind kind_ = VariantKind::Empty;
  std::int64_t int_ = 0;    // signed integer kinds, Currency units, Boolean, Error
  std::uint64_t uint_ = 0;  // unsigned integer kinds
  double float_ = 0;        // Single, Double, Date
  std::u16string wide_;     // OleStr, UString
  std::string ansi_;        // String
};

}  // namespace platform
