// The field base and the numeric, boolean and date/time kinds. The text and
// BLOB kinds and the factory are in TextFields.cpp.
#include "platform/data/Field.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"
#include "platform/locale/Locale.h"

namespace platform {

namespace {

template <typename T>
T LoadNative(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Largest native value of any fixed-size kind (large integer, double).
constexpr std::size_t kSmallValue = 16;

}  // namespace

// ---------------------------------------------------------------------------
// TField

TField::TField(TFieldType type, int size) : dataType_(type), size_(size) {}

TField::~TField() = default;

void TField::SetSize(int size) {
  size_ = size < 0 ? 0 : size;
}

int TField::Index() const {
  return dataSet_ == nullptr ? -1 : dataSet_->Fields().IndexOf(this);
}

bool TField::GetData(void* buffer) const {
  if (dataSet_ == nullptr) return false;
  bool value = false;
  if (slotOffset_ >= 0 && dataSet_->LoadSlot(*this, buffer, value)) return value;
  return dataSet_->LoadFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  if (dataSet_ == nullptr) DatabaseError("Field '" + fieldName_ + "' has no dataset");
  if (slotOffset_ >= 0 && dataSet_->StoreSlot(*this, buffer)) return;
  dataSet_->StoreFieldData(this, buffer);
}

bool TField::IsNull() const {
  int size = DataSize();
  if (size <= 0) return !GetData(nullptr);
  if (static_cast<std::size_t>(size) <= kSmallValue) {
    unsigned char local[kSmallValue];
    return !GetData(local);
  }
  std::string scratch(static_cast<std::size_t>(size), '\0');
  return !GetData(scratch.data());
}

void TField::Validate(const void* buffer) {
  (void)buffer;
  if (OnValidate) OnValidate(*this);
}

const FormatSettings& TField::Settings() const {
  return dataSet_ != nullptr ? dataSet_->Settings() : FormatSettings::User();
}

void TField::AccessError(std::string_view typeName) const {
  std::string message = "Cannot access field '";
  message += fieldName_;
  message += "' as type ";
  message += typeName;
  DatabaseError(message, dataSet_);
}

std::int32_t TField::AsInteger() const {
  AccessError("Integer");
}
std::int64_t TField::AsLargeInt() const {
  AccessError("Largeint");
}
double TField::AsFloat() const {
  AccessError("Float");
}
bool TField::AsBoolean() const {
  AccessError("Boolean");
}
TDateTime TField::AsDateTime() const {
  AccessError("DateTime");
}
std::string TField::AsString() const {
  return GetText(false);
}
void TField::SetAsInteger(std::int32_t) {
  AccessError("Integer");
}
void TField::SetAsLargeInt(std::int64_t) {
  AccessError("Largeint");
}
void TField::SetAsFloat(double) {
  AccessError("Float");
}
void TField::SetAsBoolean(bool) {
  AccessError("Boolean");
}
void TField::SetAsDateTime(TDateTime) {
  AccessError("DateTime");
}
void TField::SetAsString(const std::string&) {
  AccessError("String");
}

namespace {

[[noreturn]] void RangeError(const TField& field, const std::string& value, const std::string& min,
                             const std::string& max) {
  DatabaseError(value + " is not a valid value for field '" + field.FieldName() +
                    "'. The allowed range is " + min + " to " + max,
                field.DataSet());
}

}  // namespace

// ---------------------------------------------------------------------------
// Integer family

TIntegerField::TIntegerField(TFieldType type) : TField(type, 0) {
  SetAlignment(TAlignment::taRightJustify);
}

int TIntegerField::DataSize() const {
  return DataType() == ftSmallint || DataType() == ftWord ? 2 : 4;
}

bool TIntegerField::ReadValue(std::int32_t& value) const {
  unsigned char native[4] = {};
  if (!GetData(native)) return false;
  switch (DataType()) {
    case ftSmallint:
      value = LoadNative<std::int16_t>(native);
      break;
    case ftWord:
      value = LoadNative<std::uint16_t>(native);
      break;
    default:
      value = LoadNative<std::int32_t>(native);
      break;
  }
  return true;
}

std::int32_t TIntegerField::AsInteger() const {
  std::int32_t v = 0;
  return ReadValue(v) ? v : 0;
}

std::string TIntegerField::GetText(bool) const {
  std::int32_t v = 0;
  return ReadValue(v) ? std::to_string(v) : std::string();
}

void TIntegerField::SetAsInteger(std::int32_t value) {
  // Every value fits the 32-bit kinds: their native form is the value.
  if (DataType() != ftSmallint && DataType() != ftWord) {
    SetData(&value);
    return;
  }
  const bool word = DataType() == ftWord;
  const std::int32_t lo = word ? 0 : -32768;
  const std::int32_t hi = word ? 65535 : 32767;
  if (value < lo || value > hi) {
    RangeError(*this, std::to_string(value), std::to_string(lo), std::to_string(hi));
  }
  const auto native = static_cast<std::uint16_t>(value);
  SetData(&native);
}

void TIntegerField::SetAsLargeInt(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    RangeError(*this, std::to_string(value),
               std::to_string(std::numeric_limits<std::int32_t>::min()),
               std::to_string(std::numeric_limits<std::int32_t>::max()));
  }
  SetAsInteger(static_cast<std::int32_t>(value));
}

void TIntegerField::SetAsFloat(double value) {
  double r = std::nearbyint(value);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
    RangeError(*this, Settings().FormatFloat(value), "-2147483648", "2147483647");
  }
  SetAsInteger(static_cast<std::int32_t>(r));
}

void TIntegerField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  std::int32_t v = 0;
  if (!Settings().TryParseInt32(value, v)) {
    throw EConvertError("'" + value + "' is not a valid integer value");
  }
  SetAsInteger(v);
}

void TIntegerField::Validate(const void* buffer) {
  if (buffer != nullptr && (minValue_ != 0 || maxValue_ != 0)) {
    std::int32_t v;
    if (DataSize() == 2) {
      v = DataType() == ftWord
              ? LoadNative<std::uint16_t>(static_cast<const unsigned char*>(buffer))
              : LoadNative<std::int16_t>(static_cast<const unsigned char*>(buffer));
    } else {
      v = LoadNative<std::int32_t>(static_cast<const unsigned char*>(buffer));
    }
    if (v < minValue_ || v > maxValue_) {
      RangeError(*this, std::to_string(v), std::to_string(minValue_), std::to_string(maxValue_));
    }
  }
  TField::Validate(buffer);
}

// ---------------------------------------------------------------------------
// Large integer

std::int64_t TLargeintField::AsLargeInt() const {
  unsigned char native[8];
  return GetData(native) ? LoadNative<std::int64_t>(native) : 0;
}

std::int32_t TLargeintField::AsInteger() const {
  std::int64_t v = AsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max()) {
    RangeError(*this, std::to_string(v), std::to_string(std::numeric_limits<std::int32_t>::min()),
               std::to_string(std::numeric_limits<std::int32_t>::max()));
  }
  return static_cast<std::int32_t>(v);
}

std::string TLargeintField::GetText(bool) const {
  unsigned char native[8];
  return GetData(native) ? std::to_string(LoadNative<std::int64_t>(native)) : std::string();
}

void TLargeintField::SetAsLargeInt(std::int64_t value) {
  SetData(&value);
}

void TLargeintField::SetAsFloat(double value) {
  double r = std::nearbyint(value);
  // 2^63 is the first double outside the range.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) {
    RangeError(*this, Settings().FormatFloat(value), "-9223372036854775808", "9223372036854775807");
  }
  SetAsLargeInt(static_cast<std::int64_t>(r));
}

void TLargeintField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  std::int64_t v = 0;
  if (!Settings().TryParseInt64(value, v)) {
    throw EConvertError("'" + value + "' is not a valid integer value");
  }
  SetAsLargeInt(v);
}

// ---------------------------------------------------------------------------
// Float and currency

TFloatField::TFloatField(TFieldType type) : TField(type, 0) {
  SetAlignment(TAlignment::taRightJustify);
}

void TFloatField::SetPrecision(int precision) {
  precision_ = precision < 2 ? 2 : (precision > 15 ? 15 : precision);
}

double TFloatField::AsFloat() const {
  unsigned char native[8];
  return GetData(native) ? LoadNative<double>(native) : 0.0;
}

std::int32_t TFloatField::AsInteger() const {
  double r = std::nearbyint(AsFloat());
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
    RangeError(*this, Settings().FormatFloat(r), "-2147483648", "2147483647");
  }
  return static_cast<std::int32_t>(r);
}

std::int64_t TFloatField::AsLargeInt() const {
  double r = std::nearbyint(AsFloat());
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) {
    RangeError(*this, Settings().FormatFloat(r), "-9223372036854775808", "9223372036854775807");
  }
  return static_cast<std::int64_t>(r);
}

std::string TFloatField::GetText(bool display) const {
  unsigned char native[8];
  if (!GetData(native)) return std::string();
  double v = LoadNative<double>(native);
  const FormatSettings& fs = Settings();
  if (display && currency_) return fs.FormatCurrency(v, precision_, fs.CurrencyDigits());
  if (precision_ < 15 && std::isfinite(v)) {
    // Round to the field's significant digits before the general text.
    char text[40];
    std::snprintf(text, sizeof text, "%.*e", precision_ - 1, v);
    v = std::strtod(text, nullptr);
  }
  return fs.FormatFloat(v);
}

void TFloatField::SetAsFloat(double value) {
  SetData(&value);
}

void TFloatField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  double v = 0;
  bool ok = currency_ ? Settings().TryParseCurrency(value, v) : Settings().TryParseFloat(value, v);
  if (!ok && currency_) ok = Settings().TryParseFloat(value, v);
  if (!ok) throw EConvertError("'" + value + "' is not a valid floating point value");
  SetAsFloat(v);
}

void TFloatField::Validate(const void* buffer) {
  if (buffer != nullptr && (minValue_ != 0 || maxValue_ != 0)) {
    double v = LoadNative<double>(static_cast<const unsigned char*>(buffer));
    if (v < minValue_ || v > maxValue_) {
      const FormatSettings& fs = Settings();
      RangeError(*this, fs.FormatFloat(v), fs.FormatFloat(minValue_), fs.FormatFloat(maxValue_));
    }
  }
  TField::Validate(buffer);
}

// ---------------------------------------------------------------------------
// Boolean

bool TBooleanField::AsBoolean() const {
  unsigned char native[2];
  return GetData(native) && LoadNative<std::int16_t>(native) != 0;
}

std::string TBooleanField::GetText(bool) const {
  unsigned char native[2];
  if (!GetData(native)) return std::string();
  return LoadNative<std::int16_t>(native) != 0 ? "True" : "False";
}

void TBooleanField::SetAsBoolean(bool value) {
  std::int16_t native = value ? 1 : 0;
  SetData(&native);
}

void TBooleanField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
  } else if (SameName(value, "True") || value == "1") {
    SetAsBoolean(true);
  } else if (SameName(value, "False") || value == "0") {
    SetAsBoolean(false);
  } else {
    throw EConvertError("'" + value + "' is not a valid boolean value");
  }
}

// ---------------------------------------------------------------------------
// Date, time, date-time

TDateTimeField::TDateTimeField(TFieldType type) : TField(type, 0) {}

int TDateTimeField::DataSize() const {
  return DataType() == ftDateTime ? 8 : 4;
}

TDateTime TDateTimeField::AsDateTime() const {
  unsigned char native[8];
  if (!GetData(native)) return 0;
  TDateTime value = 0;
  DataSet()->ConvertFieldData(DataType(), native, &value, false);
  return value;
}

std::string TDateTimeField::GetText(bool) const {
  unsigned char native[8];
  if (!GetData(native)) return std::string();
  TDateTime value = 0;
  DataSet()->ConvertFieldData(DataType(), native, &value, false);
  const FormatSettings& fs = Settings();
  switch (DataType()) {
    case ftDate:
      return fs.FormatShortDate(value);
    case ftTime:
      return fs.FormatLongTime(value);
    default:
      return fs.FormatDateTime(value);
  }
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  if (DataSet() == nullptr) DatabaseError("Field '" + FieldName() + "' has no dataset");
  unsigned char native[8] = {};
  DataSet()->ConvertFieldData(DataType(), &value, native, true);
  SetData(native);
}

void TDateTimeField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  TDateTime v = 0;
  bool ok = false;
  switch (DataType()) {
    case ftDate:
      ok = Settings().TryParseDate(value, v);
      break;
    case ftTime:
      ok = Settings().TryParseTime(value, v);
      break;
    default:
      ok = Settings().TryParseDateTime(value, v);
      break;
  }
  if (!ok) throw EConvertError("'" + value + "' is not a valid date and time");
  SetAsDateTime(v);
}

}  // namespace platform
