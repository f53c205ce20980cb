#include "engine/types/ABSVariant.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/storage/ABSMemory.h"
#include "engine/types/ABSException.h"
#include "engine/types/ABSStream.h"
#include "platform/TextCodec.h"

namespace {

constexpr std::int32_t kMsPerDay = 86400000;

template <typename T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseUnknownType(TABSStorageType type) {
  throw EABSException(30468, "Unknown DataType: '%s'", {std::to_string(type)});
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseNilPointer() {
  throw EABSException(30466, "Nil pointer occured");
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseBadSize(std::int32_t size,
                                                               TABSStorageType type) {
  throw EABSException(30467, "Invalid buffer size = %d for type '%s'",
                      {size, StorageTypeName(type)});
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseBufferExceeded() {
  throw EABSException(20056, "Buffer size exceeded");
}

inline void CheckTypeValue(TABSStorageType type, bool allowNone) {
  if (type > stLastStorageType || (type == stNone && !allowNone)) RaiseUnknownType(type);
}

// Failures of integer and float division; Divide reports them as 30128.
class EArithmetic : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

// Integer arithmetic in the width of T, wrapping instead of overflowing.
template <typename T>
T IntOp(T a, T b, char op) {
  using U = std::make_unsigned_t<T>;
  switch (op) {
    case '+':
      return static_cast<T>(static_cast<std::uint64_t>(static_cast<U>(a)) +
                            static_cast<std::uint64_t>(static_cast<U>(b)));
    case '*':
      return static_cast<T>(static_cast<std::uint64_t>(static_cast<U>(a)) *
                            static_cast<std::uint64_t>(static_cast<U>(b)));
    default:
      if (b == 0) throw EArithmetic("Division by zero");
      if constexpr (std::is_signed_v<T>) {
        // The one quotient that does not fit wraps to itself.
        if (a == std::numeric_limits<T>::min() && b == -1) return a;
        return static_cast<T>(static_cast<std::int64_t>(a) / static_cast<std::int64_t>(b));
      } else {
        return static_cast<T>(a / b);
      }
  }
}

template <typename F>
F FloatOp(F a, F b, char op) {
  switch (op) {
    case '+':
      return a + b;
    case '*':
      return a * b;
    default: {
      if (b == 0) {
        if (a == 0 || std::isnan(a)) throw EArithmetic("Invalid floating point operation");
        throw EArithmetic("Floating point division by zero");
      }
      const F r = a / b;
      if (std::isinf(r) && std::isfinite(a) && std::isfinite(b)) {
        throw EArithmetic("Floating point overflow");
      }
      return r;
    }
  }
}

template <typename T>
void IntOpInPlace(void* a, const void* b, char op) {
  Store(a, IntOp(Load<T>(a), Load<T>(b), op));
}

template <typename F>
void FloatOpInPlace(void* a, const void* b, char op) {
  Store(a, FloatOp(Load<F>(a), Load<F>(b), op));
}

template <typename T>
void NegateInPlace(void* p) {
  using U = std::make_unsigned_t<T>;
  Store(p, static_cast<T>(static_cast<U>(0) - static_cast<U>(Load<T>(p))));
}

}  // namespace

// --- construction and state ---

TABSVariant::TABSVariant(TABSStorageType type) {
  CheckTypeValue(type, true);
  dataType_ = type;
}

TABSVariant::~TABSVariant() {
  ReleaseBuffer();
}

TABSVariant::TABSVariant(TABSVariant&& other) noexcept
    : data_(other.data_),
      dataSize_(other.dataSize_),
      dataType_(other.dataType_),
      isReference_(other.isReference_),
      nullMark_(other.nullMark_) {
  other.data_ = nullptr;
  other.dataSize_ = 0;
  other.dataType_ = stNone;
  other.isReference_ = false;
  other.nullMark_ = 255;
}

TABSVariant& TABSVariant::operator=(TABSVariant&& other) noexcept {
  if (this != &other) {
    ReleaseBuffer();
    data_ = other.data_;
    dataSize_ = other.dataSize_;
    dataType_ = other.dataType_;
    isReference_ = other.isReference_;
    nullMark_ = other.nullMark_;
    other.data_ = nullptr;
    other.dataSize_ = 0;
    other.dataType_ = stNone;
    other.isReference_ = false;
    other.nullMark_ = 255;
  }
  return *this;
}

void TABSVariant::ReleaseBuffer() {
  if (!isReference_) EngineMemoryManager.FreeAndNillMem(data_);
  data_ = nullptr;
  isReference_ = false;
  dataSize_ = 0;
}

void TABSVariant::Clear(TABSStorageType type) {
  CheckTypeValue(type, true);
  ReleaseBuffer();
  dataType_ = type;
  nullMark_ = 255;
}

void TABSVariant::CheckNotNull() const {
  if (IsNull()) throw EABSException(30016, "Value is Null");
}

void TABSVariant::Assign(const TABSVariant& source, bool copy) {
  if (&source == this) {
    if (copy) MakeOwned();
    return;
  }
  Clear(stNone);
  dataType_ = source.dataType_;
  nullMark_ = source.nullMark_;
  if (source.IsNull()) {
    // Nothing else is taken; a mark of 0 without bytes still reads as null.
    return;
  }
  if (copy) {
    PlaceOwned(source.data_, source.dataSize_);
  } else {
    data_ = source.data_;
    dataSize_ = source.dataSize_;
    isReference_ = true;
  }
  nullMark_ = source.nullMark_;
}

void TABSVariant::PlaceOwned(const void* bytes, std::int32_t size) {
  if (data_ != nullptr && !isReference_ && dataSize_ == size) {
    // The bytes may be our own (a value assigned to itself): nothing to copy.
    if (bytes != data_) CopyBytes(data_, bytes, size);
  } else {
    // Allocate before releasing, so that bytes inside the old buffer are
    // still readable while they are copied.
    void* fresh = EngineMemoryManager.GetMem(size);
    std::memcpy(fresh, bytes, static_cast<std::size_t>(size));
    ReleaseBuffer();
    data_ = fresh;
    dataSize_ = size;
  }
  isReference_ = false;
  nullMark_ = 0;
}

void TABSVariant::MakeOwned() {
  if (isReference_ && data_ != nullptr) {
    const void* shared = data_;
    const std::int32_t size = dataSize_;
    const std::uint8_t mark = nullMark_;
    data_ = nullptr;
    isReference_ = false;
    dataSize_ = 0;
    PlaceOwned(shared, size);
    nullMark_ = mark;
  }
}

// SetBuffer and CopyTo keep their common case inline in the header: the
// cursor's field read (SetBuffer, a copy into the owned buffer of the same
// size) and field write (CopyTo, a value that fits) run once per field of
// every record, so they are kept free of calls; the rest comes here.
// CopyBytes switches on the common fixed sizes (2, 4, 8) so that the
// compiler turns each of those memmoves into one load and store instead of
// a library call, which keeps the per-field record path free of calls too.
void TABSVariant::SetBufferSlow(const void* buffer, std::int32_t size, bool copy,
                                TABSStorageType type) {
  CheckTypeValue(type, false);
  if (buffer == nullptr) RaiseNilPointer();
  if (size < 1 || size < FixedValueSize(type)) RaiseBadSize(size, type);
  // Referencing bytes of our own buffer would leave a reference to freed
  // memory; such bytes are copied instead.
  const bool inOwnBuffer =
      !isReference_ && data_ != nullptr &&
      static_cast<const char*>(buffer) >= static_cast<const char*>(data_) &&
      static_cast<const char*>(buffer) < static_cast<const char*>(data_) + dataSize_;
  if (copy || inOwnBuffer) {
    PlaceOwned(buffer, size);
  } else {
    ReleaseBuffer();
    data_ = const_cast<void*>(buffer);
    dataSize_ = size;
    isReference_ = true;
  }
  dataType_ = type;
  nullMark_ = 0;
}

bool TABSVariant::CopyToSlow(void* destination, std::int32_t limit) const {
  if (IsNull()) return false;
  if (limit != -1 && dataSize_ > limit) RaiseBufferExceeded();
  // An empty text (terminator only) is not copied.
  if (dataType_ >= stChar && dataType_ <= stWideString && dataSize_ <= 1) return false;
  if (destination == nullptr) RaiseNilPointer();
  CopyBytes(destination, data_, dataSize_);
  return true;
}

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
      const unsigned char* p = static_cast<const unsigned char*>(value);
      std::size_t n = 0;
      while (p[n * 2] != 0 || p[n * 2 + 1] != 0) ++n;
      size = StorageValueSize(
          type, static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX / 2 - 1)));
    } else {
      const std::size_t n = std::strlen(static_cast<const char*>(value));
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
  Store(bytes, v.Date);
  Store(bytes + 4, v.Time);
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
    throw EABSException(30475, "Cannot read a value of type '%s' into a fixed-size buffer",
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
  return TABSTimeStamp{Load<std::int32_t>(bytes), Load<std::int32_t>(bytes + 4)};
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
  return std::string(text, strnlen(text, max));
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
  std::u16string r;
  for (std::size_t i = 0; i < units; ++i) {
    char16_t c;
    std::memcpy(&c, bytes + i * 2, 2);
    if (c == 0) break;
    r.push_back(c);
  }
  return r;
}

// --- whole-value conversions ---

void TABSVariant::CastTo(TABSStorageType type) {
  if (dataType_ == type) return;
  if (IsNull()) {
    Clear(type);
    return;
  }
  if (dataType_ == stMemo && type == stString) {
    // The memo's bytes become the text; only a terminator is added.
    void* grown = EngineMemoryManager.GetMem(static_cast<std::int64_t>(dataSize_) + 1);
    std::memcpy(grown, data_, static_cast<std::size_t>(dataSize_));
    static_cast<char*>(grown)[dataSize_] = '\0';
    const std::int32_t size = dataSize_ + 1;
    ReleaseBuffer();
    data_ = grown;
    dataSize_ = size;
    dataType_ = type;
    nullMark_ = 0;
    return;
  }
  TABSConvertedValue converted;
  ConvertValueInto(data_, dataSize_, dataType_, type, converted);
  PlaceOwned(converted.Data(), converted.Size());
  dataType_ = type;
}

void TABSVariant::ChangeType(TABSStorageType type) {
  CheckTypeValue(type, true);
  if (IsNull()) {
    if (data_ != nullptr) {
      Clear(type);
    } else {
      dataType_ = type;
    }
    return;
  }
  try {
    CastTo(type);
  } catch (const std::exception&) {
    Clear(type);
  }
}

void TABSVariant::NarrowWideString() {
  if (IsNull() || !IsWideStringStorageType(dataType_)) return;
  const std::u16string wide = GetAsWideString();
  const std::string ansi = platform::WideToAnsi(wide);
  if (platform::AnsiToWide(ansi) != wide) return;
  // An empty text stays a value (just its terminator), not null.
  PlaceOwned(ansi.c_str(), static_cast<std::int32_t>(ansi.size() + 1));
  dataType_ = stString;
}

std::int32_t TABSVariant::TextLength() const {
  if (IsNull() || !IsStringStorageType(dataType_)) return -1;
  return IsWideStringStorageType(dataType_) ? dataSize_ / 2 - 1 : dataSize_ - 1;
}

// --- platform variant exchange ---

void TABSVariant::SetAsVariant(const platform::PlatformVariant& v) {
  using platform::VariantKind;
  switch (v.Kind()) {
    case VariantKind::Empty:
    case VariantKind::Null:
      SetNull();
      return;
    case VariantKind::Smallint:
      SetAsSmallint(static_cast<std::int16_t>(v.AsInt64()));
      return;
    case VariantKind::Integer:
      SetAsInteger(static_cast<std::int32_t>(v.AsInt64()));
      return;
    case VariantKind::Single:
      SetAsSingle(v.AsSingle());
      return;
    case VariantKind::Double:
      SetAsDouble(v.AsDouble());
      return;
    case VariantKind::Currency:
      SetAsCurrency(v.AsDouble());
      return;
    case VariantKind::Date:
      SetAsDateTime(v.AsDate());
      return;
    case VariantKind::OleStr:
    case VariantKind::UString:
      SetAsWideString(v.AsWide());
      return;
    case VariantKind::Boolean:
      SetAsLogical(v.AsBoolean());
      return;
    case VariantKind::ShortInt:
      SetAsShortint(static_cast<std::int8_t>(v.AsInt64()));
      return;
    case VariantKind::Byte:
      SetAsByte(static_cast<std::uint8_t>(v.AsUInt64()));
      return;
    case VariantKind::Word:
      SetAsWord(static_cast<std::uint16_t>(v.AsUInt64()));
      return;
    case VariantKind::LongWord:
      SetAsCardinal(static_cast<std::uint32_t>(v.AsUInt64()));
      return;
    case VariantKind::Int64:
      SetAsLargeint(v.AsInt64());
      return;
    case VariantKind::String:
      SetAsString(v.AsAnsi());
      return;
    default:
      throw EABSException(30113, "Unsupported Variant Type %s", {std::to_string(v.KindCode())});
  }
}

platform::PlatformVariant TABSVariant::GetAsVariant() const {
  using platform::PlatformVariant;
  if (IsNull()) return PlatformVariant::Null();
  switch (dataType_) {
    case stChar:
    case stString:
      return PlatformVariant::FromAnsiString(GetAsString());
    case stBlob:
      // A BLOB value holds text with its terminator as the last byte.
      return PlatformVariant::FromAnsiString(
          std::string(static_cast<const char*>(data_), static_cast<std::size_t>(dataSize_ - 1)));
    case stWideChar:
    case stWideString:
      return PlatformVariant::FromOleStr(GetAsWideString());
    case stShortint:
      return PlatformVariant::FromShortInt(GetAsShortint());
    case stSmallint:
      return PlatformVariant::FromSmallint(GetAsSmallint());
    case stInteger:
      return PlatformVariant::FromInteger(GetAsInteger());
    case stLargeint:
      return PlatformVariant::FromInt64(GetAsLargeint());
    case stByte:
      return PlatformVariant::FromByte(GetAsByte());
    case stWord:
      return PlatformVariant::FromWord(GetAsWord());
    case stCardinal:
      return PlatformVariant::FromLongWord(GetAsCardinal());
    case stSingle:
    case stDouble:
    case stExtended:
    case stCurrency:
      return PlatformVariant::FromDouble(GetAsDouble());
    case stDate:
      return PlatformVariant::FromDate(GetAsDate());
    case stTime:
      return PlatformVariant::FromDate(GetAsTime());
    case stDateTime:
      return PlatformVariant::FromDate(GetAsDateTime());
    case stLogical:
      return PlatformVariant::FromBoolean(GetAsLogical());
    default:
      throw EABSException(30114, "Unsupported Variant Type %s", {StorageTypeName(dataType_)});
  }
}

// --- arithmetic ---

void TABSVariant::Negate() {
  if (IsNull()) return;
  switch (dataType_) {
    case stShortint:
    case stSmallint:
    case stInteger:
    case stLargeint:
    case stByte:
    case stWord:
    case stCardinal:
    case stSingle:
    case stDouble:
    case stExtended:
    case stDate:
    case stCurrency:
    case stLogical:
      break;
    default:
      throw EABSException(30123, "Cannot invert value with not numeric type '%s'",
                          {StorageTypeName(dataType_)});
  }
  MakeOwned();
  switch (dataType_) {
    case stShortint:
    case stByte:
      NegateInPlace<std::int8_t>(data_);
      break;
    case stSmallint:
    case stWord:
      NegateInPlace<std::int16_t>(data_);
      break;
    case stInteger:
    case stCardinal:
    case stDate:
      NegateInPlace<std::int32_t>(data_);
      break;
    case stLargeint:
      NegateInPlace<std::int64_t>(data_);
      break;
    case stSingle:
      Store(data_, -Load<float>(data_));
      break;
    case stDouble:
    case stCurrency:
      Store(data_, -Load<double>(data_));
      break;
    case stExtended:
      StoreExtended(data_, -LoadExtended(data_));
      break;
    default:  // stLogical
      Store(data_, static_cast<std::int16_t>(Load<std::int16_t>(data_) != 0 ? 0 : -1));
      break;
  }
}

namespace {

std::int32_t OperatorCode(char op) {
  return op == '+' ? 30124 : (op == '*' ? 30126 : 30127);
}

// Applies `op` to two values of type t, the result into `a`.
void ApplyOperator(void* a, const void* b, TABSStorageType t, char op) {
  switch (t) {
    case stShortint:
      IntOpInPlace<std::int8_t>(a, b, op);
      break;
    case stSmallint:
      IntOpInPlace<std::int16_t>(a, b, op);
      break;
    case stInteger:
    case stDate:
    case stTime:
      IntOpInPlace<std::int32_t>(a, b, op);
      break;
    case stLargeint:
      IntOpInPlace<std::int64_t>(a, b, op);
      break;
    case stByte:
      IntOpInPlace<std::uint8_t>(a, b, op);
      break;
    case stWord:
      IntOpInPlace<std::uint16_t>(a, b, op);
      break;
    case stCardinal:
      IntOpInPlace<std::uint32_t>(a, b, op);
      break;
    case stSingle:
      FloatOpInPlace<float>(a, b, op);
      break;
    case stDouble:
    case stCurrency:
      FloatOpInPlace<double>(a, b, op);
      break;
    case stExtended:
      StoreExtended(a, FloatOp(LoadExtended(a), LoadExtended(b), op));
      break;
    case stDateTime: {
      unsigned char* pa = static_cast<unsigned char*>(a);
      const unsigned char* pb = static_cast<const unsigned char*>(b);
      const std::int32_t dayA = Load<std::int32_t>(pa);
      const std::int32_t dayB = Load<std::int32_t>(pb);
      // A time taking part as a date-time carries the empty day number; a
      // sum keeps the other side's date instead of adding the marker as days.
      std::int32_t day = 0;
      if (op == '+' && (dayA == EmptyDayNumber || dayB == EmptyDayNumber)) {
        day = dayA == EmptyDayNumber ? dayB : dayA;
      } else {
        day = IntOp(dayA, dayB, op);
      }
      std::int32_t ms = IntOp(Load<std::int32_t>(pa + 4), Load<std::int32_t>(pb + 4), op);
      if (ms > kMsPerDay - 1) {
        day = IntOp(day, ms / kMsPerDay, '+');
        ms %= kMsPerDay;
      }
      Store(pa, day);
      Store(pa + 4, ms);
      break;
    }
    case stLogical: {
      const bool r = Load<std::int16_t>(a) != 0 || Load<std::int16_t>(b) != 0;
      Store(a, static_cast<std::int16_t>(r ? -1 : 0));
      break;
    }
    default:
      throw EABSException(OperatorCode(op), "Not numeric argument in numeric operator '%s'",
                          {std::string(1, op)});
  }
}

}  // namespace

void TABSVariant::Operate(const TABSVariant& other, char op) {
  const TABSStorageType t = ResultStorageType(dataType_, other.dataType_, false);
  CastTo(t);
  if (IsStringStorageType(t)) {
    if (op != '+') {
      throw EABSException(OperatorCode(op), "Not numeric argument in numeric operator '%s'",
                          {std::string(1, op)});
    }
    if (IsWideStringStorageType(t)) {
      const std::u16string sum = GetAsWideString() + other.GetAsWideString();
      StoreValue(sum.c_str(), static_cast<std::int32_t>((sum.size() + 1) * 2), t);
    } else {
      const std::string sum = GetAsString() + other.GetAsString();
      StoreValue(sum.c_str(), static_cast<std::int32_t>(sum.size() + 1), t);
    }
    return;
  }
  // Every non-text result type is a fixed-size one of at most 10 bytes.
  unsigned char operand[16];
  other.GetValue(operand, t);
  MakeOwned();
  ApplyOperator(data_, operand, t, op);
}

void TABSVariant::Add(const TABSVariant& other) {
  if (other.IsNull()) {
    if (!IsStringStorageType(dataType_)) SetNull();
    return;
  }
  if (IsNull()) {
    if (IsStringStorageType(dataType_)) Assign(other, true);
    return;
  }
  Operate(other, '+');
}

void TABSVariant::Multiply(const TABSVariant& other) {
  if (other.IsNull() || IsNull()) {
    SetNull();
    return;
  }
  Operate(other, '*');
}

void TABSVariant::Divide(const TABSVariant& other) {
  if (other.IsNull() || IsNull()) {
    SetNull();
    return;
  }
  try {
    Operate(other, '/');
  } catch (const EABSException&) {
    throw;
  } catch (const std::exception& e) {
    throw EABSException(30128, "Division error: %s", {std::string(e.what())});
  }
}

std::uint8_t TABSVariant::Compare(const TABSVariant& other, bool rawResult, bool prefix,
                                  bool ignoreCase) const {
  const std::uint8_t r = CompareValues(data_, other.data_, dataType_, UserDefaultLocale, ignoreCase,
                                       prefix ? other.TextLength() : -1, other.IsNull(), IsNull(),
                                       other.dataType_, dataSize_, other.dataSize_);
  if (rawResult) return r;
  switch (r) {
    case cvFirstNull:
      return cvLess;
    case cvSecondNull:
      return cvGreater;
    case cvBothNull:
      return cvEqual;
    default:
      return r;
  }
}

// --- stream form ---

void TABSVariant::SaveToStream(TABSStream& stream) const {
  const std::uint8_t type = dataType_;
  // A variant without bytes is stored as null whatever its mark says.
  const std::uint8_t mark = IsNull() ? (nullMark_ != 0 ? nullMark_ : 255) : 0;
  WriteStreamBlock(stream, &type, 1, 10179);
  WriteStreamBlock(stream, &mark, 1, 10180);
  if (mark != 0) return;
  const std::uint32_t size = static_cast<std::uint32_t>(dataSize_);
  const unsigned char sizeBytes[4] = {
      static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
      static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
  WriteStreamBlock(stream, sizeBytes, 4, 10181);
  WriteStreamBlock(stream, data_, dataSize_, 10182);
}

void TABSVariant::LoadFromStream(TABSStream& stream) {
  Clear(stNone);
  std::uint8_t type = 0;
  std::uint8_t mark = 0;
  ReadStreamBlock(stream, &type, 1, 10183);
  ReadStreamBlock(stream, &mark, 1, 10184);
  CheckTypeValue(static_cast<TABSStorageType>(type), true);
  if (mark != 0) {
    dataType_ = static_cast<TABSStorageType>(type);
    nullMark_ = mark;
    return;
  }
  unsigned char sizeBytes[4];
  ReadStreamBlock(stream, sizeBytes, 4, 10185);
  const std::int32_t size = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(sizeBytes[0]) | static_cast<std::uint32_t>(sizeBytes[1]) << 8 |
      static_cast<std::uint32_t>(sizeBytes[2]) << 16 |
      static_cast<std::uint32_t>(sizeBytes[3]) << 24);
  // A value must fill at least its type's fixed size, or reading it would
  // run past the buffer; a value without a type cannot be held.
  if (type == stNone) RaiseUnknownType(stNone);
  if (size < 1 || size < FixedValueSize(static_cast<TABSStorageType>(type))) {
    throw EABSException(30474, "Invalid value size in stream: %d", {size});
  }
  // A size beyond the stream's end is a short read; refuse it before
  // allocating so that damaged data cannot demand a huge buffer.
  const std::int64_t position = stream.Position();
  const std::int64_t available = stream.Size() - position;
  if (available < size) {
    RaiseStreamReadError(stream, position, size,
                         static_cast<std::int32_t>(available < 0 ? 0 : available), 10186);
  }
  void* buffer = EngineMemoryManager.GetMem(size);
  try {
    ReadStreamBlock(stream, buffer, size, 10186);
  } catch (...) {
    EngineMemoryManager.FreeAndNillMem(buffer);
    throw;
  }
  data_ = buffer;
  dataSize_ = size;
  dataType_ = static_cast<TABSStorageType>(type);
  isReference_ = false;
  nullMark_ = 0;
}
