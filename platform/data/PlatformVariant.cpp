#include "platform/data/PlatformVariant.h"

#include <cmath>
#include <limits>

#include "platform/os/Exception.h"

namespace platform {

namespace {

[[noreturn]] void InvalidConversion() {
  throw EConvertError("Invalid variant type conversion");
}

bool IsSignedKind(VariantKind k) {
  return k == VariantKind::ShortInt || k == VariantKind::Smallint || k == VariantKind::Integer ||
         k == VariantKind::Int64 || k == VariantKind::Error;
}

bool IsUnsignedKind(VariantKind k) {
  return k == VariantKind::Byte || k == VariantKind::Word || k == VariantKind::LongWord ||
         k == VariantKind::UInt64;
}

}  // namespace

// The fixed-width factories differ only in kind and field.
#define ABS_VARIANT_FACTORY(Name, Type, KindValue, Field) \
  PlatformVariant PlatformVariant::Name(Type v) {         \
    PlatformVariant r;                                    \
    r.kind_ = VariantKind::KindValue;                     \
    r.Field = v;                                          \
    return r;                                             \
  }

ABS_VARIANT_FACTORY(FromShortInt, std::int8_t, ShortInt, int_)
ABS_VARIANT_FACTORY(FromSmallint, std::int16_t, Smallint, int_)
ABS_VARIANT_FACTORY(FromInteger, std::int32_t, Integer, int_)
ABS_VARIANT_FACTORY(FromInt64, std::int64_t, Int64, int_)
ABS_VARIANT_FACTORY(FromByte, std::uint8_t, Byte, uint_)
ABS_VARIANT_FACTORY(FromWord, std::uint16_t, Word, uint_)
ABS_VARIANT_FACTORY(FromLongWord, std::uint32_t, LongWord, uint_)
ABS_VARIANT_FACTORY(FromUInt64, std::uint64_t, UInt64, uint_)
ABS_VARIANT_FACTORY(FromSingle, float, Single, float_)
ABS_VARIANT_FACTORY(FromDouble, double, Double, float_)
ABS_VARIANT_FACTORY(FromCurrencyUnits, std::int64_t, Currency, int_)
ABS_VARIANT_FACTORY(FromDate, TDateTime, Date, float_)
ABS_VARIANT_FACTORY(FromError, std::int32_t, Error, int_)
#undef ABS_VARIANT_FACTORY

PlatformVariant PlatformVariant::Null() {
  PlatformVariant r;
  r.kind_ = VariantKind::Null;
  return r;
}

PlatformVariant PlatformVariant::FromBoolean(bool v) {
  PlatformVariant r;
  r.kind_ = VariantKind::Boolean;
  r.int_ = v ? 1 : 0;
  return r;
}

PlatformVariant PlatformVariant::FromCurrency(double amount) {
  const double units = std::round(amount * 10000.0);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!std::isfinite(units) || units >= 9223372036854775808.0 || units < -9223372036854775808.0) {
    throw EConvertError("Invalid variant type conversion");
  }
  return FromCurrencyUnits(static_cast<std::int64_t>(units));
}

PlatformVariant PlatformVariant::FromOleStr(std::u16string_view v) {
  PlatformVariant r;
  r.kind_ = VariantKind::OleStr;
  r.wide_ = std::u16string(v);
  return r;
}

PlatformVariant PlatformVariant::FromUString(std::u16string_view v) {
  PlatformVariant r;
  r.kind_ = VariantKind::UString;
  r.wide_ = std::u16string(v);
  return r;
}

PlatformVariant PlatformVariant::FromAnsiString(std::string_view windows1252) {
  PlatformVariant r;
  r.kind_ = VariantKind::String;
  r.ansi_ = std::string(windows1252);
  return r;
}

std::int64_t PlatformVariant::AsInt64() const {
  if (IsSignedKind(kind_)) return int_;
  if (IsUnsignedKind(kind_) &&
      uint_ <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return static_cast<std::int64_t>(uint_);
  }
  InvalidConversion();
}

std::uint64_t PlatformVariant::AsUInt64() const {
  if (IsUnsignedKind(kind_)) return uint_;
  if (IsSignedKind(kind_) && int_ >= 0) return static_cast<std::uint64_t>(int_);
  InvalidConversion();
}

double PlatformVariant::AsDouble() const {
  switch (kind_) {
    case VariantKind::Single:
    case VariantKind::Double:
    case VariantKind::Date:
      return float_;
    case VariantKind::Currency:
      return static_cast<double>(int_) / 10000.0;
    default:
      InvalidConversion();
  }
}

float PlatformVariant::AsSingle() const {
  if (kind_ != VariantKind::Single) InvalidConversion();
  return static_cast<float>(float_);
}

std::int64_t PlatformVariant::CurrencyUnits() const {
  if (kind_ != VariantKind::Currency) InvalidConversion();
  return int_;
}

TDateTime PlatformVariant::AsDate() const {
  if (kind_ != VariantKind::Date) InvalidConversion();
  return float_;
}

bool PlatformVariant::AsBoolean() const {
  if (kind_ != VariantKind::Boolean) InvalidConversion();
  return int_ != 0;
}

const std::u16string& PlatformVariant::AsWide() const {
  if (kind_ != VariantKind::OleStr && kind_ != VariantKind::UString) InvalidConversion();
  return wide_;
}

const std::string& PlatformVariant::AsAnsi() const {
  if (kind_ != VariantKind::String) InvalidConversion();
  return ansi_;
}

bool PlatformVariant::operator==(const PlatformVariant& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case VariantKind::Empty:
    case VariantKind::Null:
      return true;
    case VariantKind::Single:
    case VariantKind::Double:
    case VariantKind::Date:
      return float_ == other.float_;
    case VariantKind::OleStr:
    case VariantKind::UString:
      return wide_ == other.wide_;
    case VariantKind::String:
      return ansi_ == other.ansi_;
    default:
      return int_ == other.int_ && uint_ == other.uint_;
  }
}

}  // namespace platform
