#include "engine/types/ABSConvert.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "engine/storage/ABSMemory.h"
#include "engine/types/ABSException.h"
#include "platform/Locale.h"
#include "platform/TextCodec.h"

std::int32_t ComparisonLocale = UserDefaultLocale;

// --- TABSConvertedValue ---

void TABSConvertedValue::SetFixed(const void* value, std::int32_t size) {
  std::memcpy(FixedBuffer(size), value, static_cast<std::size_t>(size));
}

void* TABSConvertedValue::FixedBuffer(std::int32_t size) {
  variable_ = false;
  size_ = size;
  return fixed_;
}

std::string& TABSConvertedValue::VariableBuffer() {
  variable_ = true;
  bytes_.clear();
  size_ = 0;
  return bytes_;
}

namespace {

constexpr std::int32_t kMsPerDay = 86400000;
const char* const kTrueText = "True";
const char* const kFalseText = "False";

template <typename T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool IsAnsiText(TABSStorageType t) {
  return t == stChar || t == stString || t == stMemo;
}
bool IsWideText(TABSStorageType t) {
  return t == stWideChar || t == stWideString || t == stWideMemo;
}
bool IsTextSource(TABSStorageType t) {
  return IsAnsiText(t) || IsWideText(t);
}
bool IsIntegerType(TABSStorageType t) {
  return t >= stShortint && t <= stCardinal;
}
bool IsFloatType(TABSStorageType t) {
  return t >= stSingle && t <= stExtended;
}

bool InRange(TABSStorageType t, int lo, int hi) {
  return t >= lo && t <= hi;
}

bool IsSupportedConversion(TABSStorageType s, TABSStorageType t) {
  if (IsTextSource(s)) return InRange(t, 1, 18) || t == stLogical || t == stCurrency;
  if (InRange(s, stShortint, stDateTime))
    return InRange(t, 1, 17) || t == stLogical || t == stCurrency;
  if (s == stLogical) return InRange(t, 1, 14) || t == stLogical;
  if (s == stCurrency) return InRange(t, 1, 14) || t == stLogical || t == stCurrency;
  return false;
}

// Raised inside a supported conversion; reported as 30051 by the caller.
struct ConversionFailed {};

[[noreturn]] void Fail() {
  throw ConversionFailed{};
}

const platform::FormatSettings& Locale() {
  return platform::FormatSettings::User();
}

// --- writing results ---

void PutAnsi(TABSConvertedValue& out, std::string_view text) {
  std::string& b = out.VariableBuffer();
  b.assign(text.data(), text.size());
  b.push_back('\0');
}

void PutWide(TABSConvertedValue& out, std::u16string_view text) {
  std::string& b = out.VariableBuffer();
  b.resize((text.size() + 1) * 2);
  std::memcpy(b.data(), text.data(), text.size() * 2);
  b[b.size() - 2] = '\0';
  b[b.size() - 1] = '\0';
}

// Places a UTF-8 text into an ANSI or wide text target.
void PutUtf8(TABSConvertedValue& out, TABSStorageType target, std::string_view utf8) {
  if (IsWideStringStorageType(target)) {
    PutWide(out, platform::Utf8ToWide(utf8));
  } else {
    PutAnsi(out, platform::Utf8ToAnsi(utf8));
  }
}

template <typename T>
void PutFixed(TABSConvertedValue& out, T v) {
  std::memcpy(out.FixedBuffer(sizeof v), &v, sizeof v);
}

// An integer kept in the width of an integer target: high bits dropped.
void PutIntWidth(TABSConvertedValue& out, TABSStorageType target, std::int64_t v) {
  switch (target) {
    case stShortint:
      PutFixed(out, static_cast<std::int8_t>(v));
      break;
    case stSmallint:
      PutFixed(out, static_cast<std::int16_t>(v));
      break;
    case stInteger:
      PutFixed(out, static_cast<std::int32_t>(v));
      break;
    case stLargeint:
      PutFixed(out, v);
      break;
    case stByte:
      PutFixed(out, static_cast<std::uint8_t>(v));
      break;
    case stWord:
      PutFixed(out, static_cast<std::uint16_t>(v));
      break;
    case stCardinal:
      PutFixed(out, static_cast<std::uint32_t>(v));
      break;
    default:
      Fail();
  }
}

// A float kept in a float or currency target. Finite values too large for a
// single become infinities rather than undefined conversions.
void PutFloat(TABSConvertedValue& out, TABSStorageType target, long double v) {
  switch (target) {
    case stSingle: {
      float f;
      if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) {
        f = v > 0 ? std::numeric_limits<float>::infinity()
                  : -std::numeric_limits<float>::infinity();
      } else {
        f = static_cast<float>(v);
      }
      PutFixed(out, f);
      break;
    }
    case stDouble:
    case stCurrency: {
      double d;
      if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<double>::max()) {
        d = v > 0 ? std::numeric_limits<double>::infinity()
                  : -std::numeric_limits<double>::infinity();
      } else {
        d = static_cast<double>(v);
      }
      PutFixed(out, d);
      break;
    }
    case stExtended:
      StoreExtended(out.FixedBuffer(ExtendedSize), v);
      break;
    default:
      Fail();
  }
}

void PutLogical(TABSConvertedValue& out, bool v) {
  PutFixed(out, static_cast<std::int16_t>(v ? -1 : 0));
}

void PutStamp(TABSConvertedValue& out, std::int32_t day, std::int32_t ms) {
  unsigned char* p = static_cast<unsigned char*>(out.FixedBuffer(8));
  std::memcpy(p, &day, 4);
  std::memcpy(p + 4, &ms, 4);
}

// A float truncated toward zero; values that are no 64-bit integer fail.
std::int64_t TruncToInt64(long double v) {
  const long double t = std::trunc(v);
  if (!(t >= -9223372036854775808.0L && t < 9223372036854775808.0L)) Fail();
  return static_cast<std::int64_t>(t);
}

std::int32_t TruncToInt32(long double v) {
  const std::int64_t t = TruncToInt64(v);
  if (t < std::numeric_limits<std::int32_t>::min() || t > std::numeric_limits<std::int32_t>::max())
    Fail();
  return static_cast<std::int32_t>(t);
}

// --- reading sources ---

std::int64_t ReadInteger(const void* p, TABSStorageType t) {
  switch (t) {
    case stShortint:
      return Load<std::int8_t>(p);
    case stSmallint:
      return Load<std::int16_t>(p);
    case stInteger:
      return Load<std::int32_t>(p);
    case stLargeint:
      return Load<std::int64_t>(p);
    case stByte:
      return Load<std::uint8_t>(p);
    case stWord:
      return Load<std::uint16_t>(p);
    case stCardinal:
      return Load<std::uint32_t>(p);
    default:
      Fail();
  }
}

long double ReadFloat(const void* p, TABSStorageType t) {
  switch (t) {
    case stSingle:
      return Load<float>(p);
    case stDouble:
    case stCurrency:
      return Load<double>(p);
    case stExtended:
      return LoadExtended(p);
    default:
      Fail();
  }
}

// Text of an ANSI source: up to the terminator, never past a known size;
// memo sources of known size are taken whole.
std::string_view AnsiSourceText(const void* p, std::int32_t size, TABSStorageType t) {
  const char* s = static_cast<const char*>(p);
  if (size < 0) return std::string_view(s);
  if (t == stMemo) return std::string_view(s, static_cast<std::size_t>(size));
  return std::string_view(s, strnlen(s, static_cast<std::size_t>(size)));
}

// Text of a wide source, copied out because the buffer may be unaligned.
std::u16string WideSourceText(const void* p, std::int32_t size, TABSStorageType t) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  std::u16string r;
  const std::size_t limit =
      size < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(size) / 2;
  for (std::size_t i = 0; i < limit; ++i) {
    char16_t c;
    std::memcpy(&c, b + i * 2, 2);
    if (c == 0 && !(t == stWideMemo && size >= 0)) break;
    r.push_back(c);
  }
  return r;
}

std::string SourceUtf8(std::string_view ansi, const std::u16string& wide, bool isWide) {
  return isWide ? platform::WideToUtf8(wide) : platform::AnsiToUtf8(ansi);
}

// A text the invariant parser accepted, read again with the full precision
// of an extended value (0.1 is then the extended nearest to 0.1, not the
// double nearest to it). Reading the "." form with from_chars touches no
// process-wide locale state. The double reading stands if the text cannot
// be read again.
long double ExtendedFromText(std::string_view text, double parsed) {
  const auto inNumber = [](char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
  };
  std::size_t first = 0;
  while (first < text.size() && !inNumber(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && !inNumber(text[last - 1])) --last;
  // from_chars takes no plus sign.
  if (first < last && text[first] == '+') ++first;
  long double v = 0;
  const auto r = std::from_chars(text.data() + first, text.data() + last, v);
  if (r.ec != std::errc() || r.ptr != text.data() + last || !std::isfinite(v)) return parsed;
  return v;
}

void ConvertFromText(const void* src, std::int32_t size, TABSStorageType s, TABSStorageType t,
                     TABSConvertedValue& out) {
  const bool wide = IsWideText(s);
  std::string_view ansi;
  std::u16string wideText;
  if (wide) {
    wideText = WideSourceText(src, size, s);
  } else {
    ansi = AnsiSourceText(src, size, s);
  }
  // The fixed-shape date parsers apply to the ANSI string types only.
  const bool plainAnsi = s == stChar || s == stString;

  if (IsStringStorageType(t)) {
    if (IsWideStringStorageType(t)) {
      PutWide(out, wide ? wideText : platform::AnsiToWide(ansi));
    } else {
      PutAnsi(out, wide ? platform::WideToAnsi(wideText) : std::string(ansi));
    }
    return;
  }
  if (t == stBlob) {
    if (wide) {
      PutWide(out, wideText);
    } else {
      PutAnsi(out, ansi);
    }
    return;
  }
  const std::string utf8 = SourceUtf8(ansi, wideText, wide);
  const platform::FormatSettings& fs = Locale();
  if (IsIntegerType(t)) {
    if (t == stLargeint && s != stMemo && s != stWideMemo) {
      std::int64_t v;
      if (!fs.TryParseInt64(utf8, v)) Fail();
      PutFixed(out, v);
    } else {
      std::int32_t v;
      if (!fs.TryParseInt32(utf8, v)) Fail();
      PutIntWidth(out, t, v);
    }
    return;
  }
  switch (t) {
    case stSingle:
    case stDouble:
    case stExtended: {
      double v;
      if (!platform::TryParseFloatInvariant(utf8, v)) Fail();
      PutFloat(out, t, t == stExtended ? ExtendedFromText(utf8, v) : v);
      return;
    }
    case stCurrency: {
      double v;
      if (!fs.TryParseCurrency(utf8, v)) Fail();
      PutFixed(out, v);
      return;
    }
    case stDate: {
      double dt;
      if (!(plainAnsi && (ParseDateTimeText(ansi, dt) || ParseDateText(ansi, dt))) &&
          !fs.TryParseDate(utf8, dt)) {
        Fail();
      }
      PutFixed(out, DateTimeToDate(dt));
      return;
    }
    case stTime: {
      double dt;
      if (!(plainAnsi && ParseTimeText(ansi, dt)) && !fs.TryParseTime(utf8, dt)) Fail();
      PutFixed(out, DateTimeToTime(dt));
      return;
    }
    case stDateTime: {
      double dt;
      if (!(plainAnsi && (ParseDateTimeText(ansi, dt) || ParseDateText(ansi, dt))) &&
          !fs.TryParseDateTime(utf8, dt)) {
        Fail();
      }
      const TABSTimeStamp st = DateTimeToStamp(dt);
      PutStamp(out, st.Date, st.Time);
      return;
    }
    case stLogical: {
      const std::string upper = fs.UpperCase(utf8);
      PutLogical(out, upper == "1" || upper == "TRUE");
      return;
    }
    default:
      Fail();
  }
}

void ConvertFromInteger(std::int64_t v, TABSStorageType t, TABSConvertedValue& out) {
  if (IsStringStorageType(t)) {
    PutUtf8(out, t, std::to_string(v));
  } else if (IsIntegerType(t)) {
    PutIntWidth(out, t, v);
  } else if (IsFloatType(t) || t == stCurrency) {
    PutFloat(out, t, static_cast<long double>(v));
  } else if (t == stDate || t == stTime) {
    PutFixed(out, static_cast<std::int32_t>(v));
  } else if (t == stDateTime) {
    PutStamp(out, static_cast<std::int32_t>(v), 0);
  } else if (t == stLogical) {
    PutLogical(out, v != 0);
  } else {
    Fail();
  }
}

// The general text of a float. An extended value beyond a double's normal
// range would become infinity or lose its digits as a double; it is written
// from its own 15 significant digits in the exponent form such magnitudes
// always take ("1,5E4000").
std::string GeneralFloatText(long double v) {
  const long double magnitude = std::fabs(v);
  if (!std::isfinite(v) || v == 0 ||
      (magnitude <= std::numeric_limits<double>::max() &&
       magnitude >= std::numeric_limits<double>::min())) {
    return Locale().FormatFloat(static_cast<double>(v));
  }
  char buffer[64];
  const auto r =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific, 14);
  const std::string_view text(buffer, static_cast<std::size_t>(r.ptr - buffer));
  const std::size_t e = text.find('e');
  std::string_view mantissa = text.substr(0, e);
  while (mantissa.back() == '0') mantissa.remove_suffix(1);
  if (mantissa.back() == '.') mantissa.remove_suffix(1);
  std::string out;
  for (const char c : mantissa) {
    if (c == '.') {
      out += Locale().DecimalSeparator();
    } else {
      out += c;
    }
  }
  std::string_view exponent = text.substr(e + 1);
  if (exponent.front() == '+') exponent.remove_prefix(1);
  out += 'E';
  out += exponent;
  return out;
}

void ConvertFromFloat(long double v, bool currency, TABSStorageType t, TABSConvertedValue& out) {
  if (IsStringStorageType(t)) {
    PutUtf8(out, t, currency ? Locale().FormatCurr(static_cast<double>(v)) : GeneralFloatText(v));
  } else if (IsIntegerType(t)) {
    PutIntWidth(out, t, TruncToInt64(v));
  } else if (IsFloatType(t) || t == stCurrency) {
    PutFloat(out, t, v);
  } else if (t == stLogical) {
    PutLogical(out, v != 0);
  } else if (currency) {
    Fail();
  } else if (t == stDate) {
    PutFixed(out, TruncToInt32(v));
  } else if (t == stTime) {
    PutFixed(out, static_cast<std::int32_t>(TruncToInt64(v) % kMsPerDay));
  } else if (t == stDateTime) {
    const std::int32_t day = TruncToInt32(v);
    const long double frac = v - std::trunc(v);
    PutStamp(out, day, static_cast<std::int32_t>(std::trunc(frac * kMsPerDay)));
  } else {
    Fail();
  }
}

std::string StampText(std::int32_t day, std::int32_t ms) {
  const platform::FormatSettings& fs = Locale();
  if (day == EmptyDayNumber) return ms == 0 ? std::string() : fs.FormatLongTime(TimeToDateTime(ms));
  return fs.FormatDateTime(StampToDateTime(day, ms));
}

void ConvertFromDateTime(const void* src, TABSStorageType s, TABSStorageType t,
                         TABSConvertedValue& out) {
  std::int32_t day = EmptyDayNumber;
  std::int32_t ms = 0;
  if (s == stDate) {
    day = Load<std::int32_t>(src);
  } else if (s == stTime) {
    ms = Load<std::int32_t>(src);
  } else {
    day = Load<std::int32_t>(src);
    ms = Load<std::int32_t>(static_cast<const unsigned char*>(src) + 4);
  }
  // The single number a date, a time or a date-time stands for.
  auto amount = [&]() -> long double {
    if (s == stDate) return day;
    if (s == stTime) return ms;
    return static_cast<long double>(day) + static_cast<long double>(ms) / kMsPerDay;
  };
  if (IsStringStorageType(t)) {
    const platform::FormatSettings& fs = Locale();
    std::string text;
    if (s == stDate) {
      if (day != EmptyDayNumber) text = fs.FormatShortDate(DateToDateTime(day));
    } else if (s == stTime) {
      if (ms != 0) text = fs.FormatLongTime(TimeToDateTime(ms));
    } else {
      text = StampText(day, ms);
    }
    PutUtf8(out, t, text);
  } else if (IsIntegerType(t)) {
    PutIntWidth(out, t, s == stTime ? ms : day);
  } else if (IsFloatType(t)) {
    PutFloat(out, t, amount());
  } else if (t == stCurrency) {
    const long double v = amount();
    PutFloat(out, t, s == stDateTime ? std::round(v * 10000) / 10000 : v);
  } else if (t == stDate) {
    PutFixed(out, s == stTime ? ms : day);
  } else if (t == stTime) {
    PutFixed(out, s == stDate ? day % kMsPerDay : ms);
  } else if (t == stDateTime) {
    PutStamp(out, s == stTime ? EmptyDayNumber : day, s == stDate ? 0 : ms);
  } else if (t == stLogical) {
    PutLogical(out, day != EmptyDayNumber || ms != 0);
  } else {
    Fail();
  }
}

void ConvertFromLogical(bool v, const void* src, TABSStorageType t, TABSConvertedValue& out) {
  if (IsStringStorageType(t)) {
    PutUtf8(out, t, v ? kTrueText : kFalseText);
  } else if (IsIntegerType(t)) {
    PutIntWidth(out, t, v ? 1 : 0);
  } else if (IsFloatType(t)) {
    PutFloat(out, t, v ? 1.0L : 0.0L);
  } else if (t == stLogical) {
    out.SetFixed(src, 2);
  } else {
    Fail();
  }
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseShortSource(std::int32_t code,
                                                                   std::int32_t size,
                                                                   TABSStorageType type) {
  throw EABSException(code, "Invalid buffer size = %d for type '%s'",
                      {size, StorageTypeName(type)});
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseMissingBuffer() {
  throw EABSException(30140, "Value is Null");
}

[[noreturn]] void RaiseCast(std::int32_t code, TABSStorageType s, TABSStorageType t) {
  throw EABSException(code, "Cannot cast from '%s' to '%s'",
                      {StorageTypeName(s), StorageTypeName(t)});
}

}  // namespace

void ConvertValueInto(const void* source, std::int32_t sourceSize, TABSStorageType sourceType,
                      TABSStorageType targetType, TABSConvertedValue& result) {
  if (!IsSupportedConversion(sourceType, targetType)) RaiseCast(30052, sourceType, targetType);
  if (source == nullptr) throw EABSException(30476, "Nil pointer occured");
  if (sourceSize >= 0 && sourceSize < FixedValueSize(sourceType)) {
    RaiseShortSource(30477, sourceSize, sourceType);
  }
  try {
    if (IsTextSource(sourceType)) {
      ConvertFromText(source, sourceSize, sourceType, targetType, result);
    } else if (IsIntegerType(sourceType)) {
      ConvertFromInteger(ReadInteger(source, sourceType), targetType, result);
    } else if (IsFloatType(sourceType) || sourceType == stCurrency) {
      ConvertFromFloat(ReadFloat(source, sourceType), sourceType == stCurrency, targetType, result);
    } else if (IsDateTimeStorageType(sourceType)) {
      ConvertFromDateTime(source, sourceType, targetType, result);
    } else {
      ConvertFromLogical(Load<std::int16_t>(source) != 0, source, targetType, result);
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const ConversionFailed&) {
    RaiseCast(30051, sourceType, targetType);
  } catch (const std::exception&) {
    // Platform conversion errors (a date that does not exist, a value out of
    // a date's range) count as a failed conversion as well.
    RaiseCast(30051, sourceType, targetType);
  }
}

TABSValueBuffer ConvertValue(const void* source, std::int32_t sourceSize,
                             TABSStorageType sourceType, TABSStorageType targetType) {
  TABSConvertedValue value;
  ConvertValueInto(source, sourceSize, sourceType, targetType, value);
  TABSValueBuffer r;
  r.Buffer = EngineMemoryManager.GetMem(value.Size());
  r.Size = value.Size();
  std::memcpy(r.Buffer, value.Data(), static_cast<std::size_t>(value.Size()));
  return r;
}

void ConvertValue(const void* source, std::int32_t sourceSize, TABSStorageType sourceType,
                  TABSStorageType targetType, void*& target, std::int32_t& targetSize) {
  const TABSValueBuffer r = ConvertValue(source, sourceSize, sourceType, targetType);
  target = r.Buffer;
  targetSize = r.Size;
}

// --- ResultStorageType ---

namespace {

// Rows: left operand 1..24; columns: right operand 1..24.
constexpr std::uint8_t kResultTypes[24][24] = {
    {1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 2, 1, 1, 0, 0},
    {2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 2, 2, 2, 2, 0, 0},
    {3, 2, 3, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 3, 4, 3, 3, 0, 0},
    {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 4, 4, 4, 4, 0, 0},
    {1, 2, 3, 4, 5, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 5, 22, 0, 0},
    {1, 2, 3, 4, 6, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 6, 22, 0, 0},
    {1, 2, 3, 4, 7, 7, 7, 8, 7, 7, 8, 12, 13, 14, 15, 16, 17, 0, 0, 0, 7, 22, 0, 0},
    {1, 2, 3, 4, 8, 8, 8, 8, 8, 8, 8, 12, 13, 14, 15, 16, 17, 0, 0, 0, 8, 22, 0, 0},
    {1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 9, 22, 0, 0},
    {1, 2, 3, 4, 7, 7, 7, 8, 10, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 10, 22, 0, 0},
    {1, 2, 3, 4, 8, 8, 8, 8, 11, 11, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 11, 22, 0, 0},
    {1, 2, 3, 4, 12, 12, 12, 12, 12, 12, 12, 12, 13, 14, 15, 16, 17, 0, 0, 0, 12, 22, 0, 0},
    {1, 2, 3, 4, 13, 13, 13, 13, 13, 13, 13, 13, 13, 14, 15, 16, 17, 0, 0, 0, 13, 22, 0, 0},
    {1, 2, 3, 4, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 15, 16, 17, 0, 0, 0, 14, 22, 0, 0},
    {1, 2, 3, 4, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 17, 17, 0, 0, 0, 0, 0, 0, 0},
    {1, 2, 3, 4, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17, 0, 0, 0, 0, 0, 0, 0},
    {1, 2, 3, 4, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0},
    {2, 2, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0},
    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 0, 0, 0, 0, 0, 21, 0, 0, 0},
    {1, 2, 3, 4, 22, 22, 22, 22, 22, 22, 22, 12, 13, 14, 0, 0, 0, 0, 0, 0, 0, 22, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

}  // namespace

TABSStorageType ResultStorageType(TABSStorageType a, TABSStorageType b, bool forComparison) {
  if (a < 1 || a > 24 || b < 1 || b > 24) return stNone;
  if (forComparison) {
    if (IsStringStorageType(a) && IsDateTimeStorageType(b)) return b;
    if (IsDateTimeStorageType(a) && IsStringStorageType(b)) return a;
  }
  return static_cast<TABSStorageType>(kResultTypes[a - 1][b - 1]);
}

// --- CompareValues ---

namespace {

template <typename T>
std::uint8_t Order(T a, T b) {
  return a < b ? cvLess : (b < a ? cvGreater : cvEqual);
}

std::uint8_t OrderFloat(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) return cvEqual;
  return Order(a, b);
}

std::uint8_t CollatorOrder(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  const int r = platform::FormatSettings::User().Compare(a, b, ignoreCase);
  return r < 0 ? cvLess : (r > 0 ? cvGreater : cvEqual);
}

// The first `length` characters when length >= 0.
template <typename S>
S Prefix(S s, std::int32_t length) {
  if (length >= 0 && static_cast<std::size_t>(length) < s.size())
    s = s.substr(0, static_cast<std::size_t>(length));
  return s;
}

std::uint8_t CompareSameType(const void* a, const void* b, TABSStorageType t, bool ignoreCase,
                             std::int32_t length, std::int32_t sizeA, std::int32_t sizeB) {
  switch (t) {
    case stChar:
    case stString:
    case stBytes: {
      const std::string_view sa = Prefix(AnsiSourceText(a, sizeA, t), length);
      const std::string_view sb = Prefix(AnsiSourceText(b, sizeB, t), length);
      return CollatorOrder(platform::AnsiToWide(sa), platform::AnsiToWide(sb), ignoreCase);
    }
    case stWideChar:
    case stWideString: {
      const std::u16string wa = WideSourceText(a, sizeA, t);
      const std::u16string wb = WideSourceText(b, sizeB, t);
      return CollatorOrder(Prefix(std::u16string_view(wa), length),
                           Prefix(std::u16string_view(wb), length), ignoreCase);
    }
    case stShortint:
    case stSmallint:
    case stInteger:
    case stLargeint:
    case stByte:
    case stWord:
    case stCardinal:
      return Order(ReadInteger(a, t), ReadInteger(b, t));
    case stSingle:
    case stDouble:
    case stExtended:
    case stCurrency:
      return OrderFloat(ReadFloat(a, t), ReadFloat(b, t));
    case stDate:
    case stTime:
      return Order(Load<std::int32_t>(a), Load<std::int32_t>(b));
    case stDateTime: {
      const std::uint8_t r = Order(Load<std::int32_t>(a), Load<std::int32_t>(b));
      if (r != cvEqual) return r;
      return Order(Load<std::int32_t>(static_cast<const unsigned char*>(a) + 4),
                   Load<std::int32_t>(static_cast<const unsigned char*>(b) + 4));
    }
    case stLogical:
      return Order(Load<std::int16_t>(a) != 0, Load<std::int16_t>(b) != 0);
    default:
      throw EABSException(30047, "Unknown DataType: '%s'", {StorageTypeName(t)});
  }
}

// Values of different types (or two memos) meet in their common type; kept
// apart from CompareValues so that the same-type path needs no conversion
// buffers.
[[gnu::noinline]] std::uint8_t CompareMixedTypes(const void* value1, const void* value2,
                                                 TABSStorageType type1, TABSStorageType type2,
                                                 bool ignoreCase, std::int32_t length,
                                                 std::int32_t size1, std::int32_t size2) {
  const TABSStorageType t = ResultStorageType(type1, type2, true);
  if (t == stNone) {
    throw EABSException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                        {StorageTypeName(type1), StorageTypeName(type2)});
  }
  if (value1 == nullptr || value2 == nullptr) RaiseMissingBuffer();
  // A side already of the common type is compared as it is, so it must be a
  // whole value; converted sides are checked by the conversion.
  const std::int32_t need = FixedValueSize(t);
  if (type1 == t && size1 >= 0 && size1 < need) RaiseShortSource(30478, size1, t);
  if (type2 == t && size2 >= 0 && size2 < need) RaiseShortSource(30478, size2, t);
  TABSConvertedValue c1;
  TABSConvertedValue c2;
  const void* a = value1;
  const void* b = value2;
  if (type1 != t) {
    ConvertValueInto(value1, size1, type1, t, c1);
    a = c1.Data();
    size1 = c1.Size();
  }
  if (type2 != t) {
    ConvertValueInto(value2, size2, type2, t, c2);
    b = c2.Data();
    size2 = c2.Size();
  }
  return CompareSameType(a, b, t, ignoreCase, length, size1, size2);
}

}  // namespace

std::uint8_t CompareValues(const void* value1, const void* value2, TABSStorageType type1,
                           std::int32_t /*locale*/, bool ignoreCase, std::int32_t length,
                           bool isNull2, bool isNull1, TABSStorageType type2, std::int32_t size1,
                           std::int32_t size2) {
  if (isNull1 || isNull2) {
    if (isNull1 && isNull2) return cvBothNull;
    return isNull1 ? cvFirstNull : cvSecondNull;
  }
  if (type1 == type2 && type1 != stMemo && type1 != stWideMemo) {
    if (value1 == nullptr || value2 == nullptr) RaiseMissingBuffer();
    // Fixed-size values must be whole before they are read.
    const std::int32_t need = FixedValueSize(type1);
    if ((size1 >= 0 && size1 < need) || (size2 >= 0 && size2 < need)) {
      RaiseShortSource(30478, size1 >= 0 && size1 < need ? size1 : size2, type1);
    }
    return CompareSameType(value1, value2, type1, ignoreCase, length, size1, size2);
  }
  return CompareMixedTypes(value1, value2, type1, type2, ignoreCase, length, size1, size2);
}

int CompareValuesSigned(const void* value1, const void* value2, TABSStorageType type1,
                        std::int32_t locale, bool ignoreCase, std::int32_t length, bool isNull2,
                        bool isNull1, TABSStorageType type2, std::int32_t size1,
                        std::int32_t size2) {
  switch (CompareValues(value1, value2, type1, locale, ignoreCase, length, isNull2, isNull1, type2,
                        size1, size2)) {
    case cvLess:
    case cvFirstNull:
      return -1;
    case cvGreater:
    case cvSecondNull:
      return 1;
    default:
      return 0;
  }
}
