#include "engine/types/ABSVariant.h"

#include <algorithm>
#include <cstring>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSTextTerminator.h"
#include "engine/types/ABSVariantInternal.h"
#include "platform/locale/TextCodec.h"

using namespace variant_detail;

// --- typed setters ---

void TABSVariant::SetValue(const void* value, TABSStorageType type) {
  CheckTypeValue(type, false);
  std::int32_t size = 0;
  if (IsStringStorageType(type)) {
    if (value == nullptr) {
      StoreValue(nullptr, 0, type);
      return;
    }
    if (IsWideStringStorageType(type)) {
      const std::size_t n = TextBytesBeforeTerminator(value, true) / 2;
      size = StorageValueSize(
          type, static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX / 2 - 1)));
    } else {
      const std::size_t n = TextBytesBeforeTerminator(value, false);
      size = StorageValueSize(type,
                              static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX - 1)));
    }
  } else {
    if (value == nullptr) RaiseNilPointer();
    size = StorageValueSize(type, 0);
  }
  StoreValue(value, size, type);
}

void TABSVariant::StoreValue(const void* value, std::int32_t size, TABSStorageType type) {
  const bool text = IsStringStorageType(type);
  // Same fixed-size type into an owned buffer: overwrite in place.
  if (dataType_ == type && data_ != nullptr && !text && !isReference_ && dataSize_ == size) {
    std::memcpy(data_, value, static_cast<std::size_t>(size));
    nullMark_ = 0;
    return;
  }
  // From here the variant is null with its type until a value is placed.
  nullMark_ = 255;
  if (isReference_) ReleaseBuffer();
  if (dataType_ == stNone) dataType_ = type;
  const std::int32_t unit = IsWideStringStorageType(type) ? 2 : 1;
  if (text && (value == nullptr || size <= unit)) {
    ReleaseBuffer();
    return;
  }
  if (dataType_ == type) {
    PlaceOwned(value, size);
    return;
  }
  TABSConvertedValue converted;
  try {
    ConvertValueInto(value, size, type, dataType_, converted);
  } catch (...) {
    ReleaseBuffer();
    throw;
  }
  PlaceOwned(converted.Data(), converted.Size());
}

void TABSVariant::SetAsShortint(std::int8_t v) {
  StoreValue(&v, 1, stShortint);
}
void TABSVariant::SetAsSmallint(std::int16_t v) {
  StoreValue(&v, 2, stSmallint);
}
void TABSVariant::SetAsInteger(std::int32_t v) {
  StoreValue(&v, 4, stInteger);
}
void TABSVariant::SetAsLargeint(std::int64_t v) {
  StoreValue(&v, 8, stLargeint);
}
void TABSVariant::SetAsByte(std::uint8_t v) {
  StoreValue(&v, 1, stByte);
}
void TABSVariant::SetAsWord(std::uint16_t v) {
  StoreValue(&v, 2, stWord);
}
void TABSVariant::SetAsCardinal(std::uint32_t v) {
  StoreValue(&v, 4, stCardinal);
}
void TABSVariant::SetAsSingle(float v) {
  StoreValue(&v, 4, stSingle);
}
void TABSVariant::SetAsDouble(double v) {
  StoreValue(&v, 8, stDouble);
}
void TABSVariant::SetAsCurrency(double amount) {
  StoreValue(&amount, 8, stCurrency);
}
void TABSVariant::SetAsDayNumber(std::int32_t v) {
  StoreValue(&v, 4, stDate);
}
void TABSVariant::SetAsMilliseconds(std::int32_t v) {
  StoreValue(&v, 4, stTime);
}

void TABSVariant::SetAsExtended(long double v) {
  unsigned char bytes[ExtendedSize];
  StoreExtended(bytes, v);
  StoreValue(bytes, ExtendedSize, stExtended);
}

void TABSVariant::SetAsDate(double dateTime) {
  SetAsDayNumber(DateTimeToDate(dateTime));
}
void TABSVariant::SetAsTime(double dateTime) {
  SetAsMilliseconds(DateTimeToTime(dateTime));
}
void TABSVariant::SetAsDateTime(double dateTime) {
  SetAsStamp(DateTimeToStamp(dateTime));
}

void TABSVariant::SetAsStamp(const TABSTimeStamp& v) {
  unsigned char bytes[8];
  StoreLE(bytes, v.Date);
  StoreLE(bytes + 4, v.Time);
  StoreValue(bytes, 8, stDateTime);
}

void TABSVariant::SetAsLogical(bool v) {
  const std::int16_t raw = v ? -1 : 0;
  StoreValue(&raw, 2, stLogical);
}

void TABSVariant::SetAsString(std::string_view windows1252) {
  const std::size_t end = windows1252.find('\0');
  if (end != std::string_view::npos) windows1252 = windows1252.substr(0, end);
  if (windows1252.empty()) {
    StoreValue(nullptr, 0, stString);
    return;
  }
  // The text with its terminator, as the stored encoding has it.
  std::string bytes(windows1252);
  StoreValue(bytes.c_str(),
             StorageValueSize(stString, static_cast<std::int32_t>(
                                            std::min<std::size_t>(bytes.size(), INT32_MAX - 1))),
             stString);
}

void TABSVariant::SetAsWideString(std::u16string_view text) {
  const std::size_t end = text.find(u'\0');
  if (end != std::u16string_view::npos) text = text.substr(0, end);
  if (text.empty()) {
    StoreValue(nullptr, 0, stWideString);
    return;
  }
  std::u16string units(text);
  StoreValue(units.c_str(),
             StorageValueSize(stWideString, static_cast<std::int32_t>(std::min<std::size_t>(
                                                units.size(), INT32_MAX / 2 - 1))),
             stWideString);
}

// --- typed getters ---

void TABSVariant::GetValue(void* result, TABSStorageType type) const {
  const std::int32_t size = FixedValueSize(type);
  if (size == 0) {
    throw EABSException(native_code::kVariantGetValueNotFixed,
                        "Cannot read a value of type '%s' into a fixed-size buffer",
                        {StorageTypeName(type)});
  }
  if (result == nullptr) RaiseNilPointer();
  CheckNotNull();
  if (dataType_ == type) {
    std::memcpy(result, data_, static_cast<std::size_t>(size));
    return;
  }
  TABSConvertedValue converted;
  ConvertValueInto(data_, dataSize_, dataType_, type, converted);
  std::memcpy(result, converted.Data(), static_cast<std::size_t>(size));
}

std::int8_t TABSVariant::GetAsShortint() const {
  return GetFixedAs<std::int8_t>(stShortint);
}
std::int16_t TABSVariant::GetAsSmallint() const {
  return GetFixedAs<std::int16_t>(stSmallint);
}
std::int32_t TABSVariant::GetAsInteger() const {
  return GetFixedAs<std::int32_t>(stInteger);
}
std::int64_t TABSVariant::GetAsLargeint() const {
  return GetFixedAs<std::int64_t>(stLargeint);
}
std::uint8_t TABSVariant::GetAsByte() const {
  return GetFixedAs<std::uint8_t>(stByte);
}
std::uint16_t TABSVariant::GetAsWord() const {
  return GetFixedAs<std::uint16_t>(stWord);
}
std::uint32_t TABSVariant::GetAsCardinal() const {
  return GetFixedAs<std::uint32_t>(stCardinal);
}
float TABSVariant::GetAsSingle() const {
  return GetFixedAs<float>(stSingle);
}
double TABSVariant::GetAsDouble() const {
  return GetFixedAs<double>(stDouble);
}
double TABSVariant::GetAsCurrency() const {
  return GetFixedAs<double>(stCurrency);
}
std::int32_t TABSVariant::GetAsDayNumber() const {
  return GetFixedAs<std::int32_t>(stDate);
}
std::int32_t TABSVariant::GetAsMilliseconds() const {
  return GetFixedAs<std::int32_t>(stTime);
}
bool TABSVariant::GetAsLogical() const {
  return GetFixedAs<std::int16_t>(stLogical) != 0;
}

long double TABSVariant::GetAsExtended() const {
  unsigned char bytes[ExtendedSize];
  GetValue(bytes, stExtended);
  return LoadExtended(bytes);
}

TABSTimeStamp TABSVariant::GetAsStamp() const {
  unsigned char bytes[8];
  GetValue(bytes, stDateTime);
  return TABSTimeStamp{LoadLE<std::int32_t>(bytes), LoadLE<std::int32_t>(bytes + 4)};
}

double TABSVariant::GetAsDate() const {
  return DateToDateTime(GetAsDayNumber());
}
double TABSVariant::GetAsTime() const {
  return TimeToDateTime(GetAsMilliseconds());
}
double TABSVariant::GetAsDateTime() const {
  const TABSTimeStamp stamp = GetAsStamp();
  // A time (held with the empty day number) is just its time of day, as the
  // framework writes a date-time without a date, not a date millions of
  // years before the first day.
  if (stamp.Date == EmptyDayNumber) return TimeToDateTime(stamp.Time);
  return StampToDateTime(stamp);
}

std::string TABSVariant::GetAsString() const {
  if (IsNull()) return std::string();
  const char* text = nullptr;
  std::size_t max = 0;
  TABSConvertedValue converted;
  if (dataType_ == stChar || dataType_ == stString) {
    text = static_cast<const char*>(data_);
    max = static_cast<std::size_t>(dataSize_);
  } else {
    ConvertValueInto(data_, dataSize_, dataType_, stString, converted);
    text = static_cast<const char*>(converted.Data());
    max = static_cast<std::size_t>(converted.Size());
  }
  return std::string(text, TextBytesBeforeTerminator(text, max, false));
}

std::u16string TABSVariant::GetAsWideString() const {
  if (IsNull()) return std::u16string();
  const unsigned char* bytes = nullptr;
  std::size_t units = 0;
  TABSConvertedValue converted;
  if (IsWideStringStorageType(dataType_)) {
    bytes = static_cast<const unsigned char*>(data_);
    units = static_cast<std::size_t>(dataSize_) / 2;
  } else {
    ConvertValueInto(data_, dataSize_, dataType_, stWideString, converted);
    bytes = static_cast<const unsigned char*>(converted.Data());
    units = static_cast<std::size_t>(converted.Size()) / 2;
  }
  units = TextBytesBeforeTerminator(bytes, units * 2, true) / 2;
  std::u16string r(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) r[i] = LoadLE<char16_t>(bytes + i * 2);
  return r;
}
