#include "engine/types/ABSConvert.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSConvertInternal.h"
#include "engine/types/ABSTextTerminator.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"

using namespace convert_detail;

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

const platform::FormatSettings& Locale() {
  return platform::FormatSettings::User();
}

// --- writing results ---

void PutAnsi(TABSConvertedValue& out, std::string_view text) {
  std::string& b = out.VariableBuffer();
  b.resize(text.size() + TerminatorSize(false));
  std::memcpy(b.data(), text.data(), text.size());
  StoreTerminator(b.data() + text.size(), false);
}

void PutWide(TABSConvertedValue& out, std::u16string_view text) {
  std::string& b = out.VariableBuffer();
  b.resize(text.size() * 2 + TerminatorSize(true));
  std::memcpy(b.data(), text.data(), text.size() * 2);
  StoreTerminator(b.data() + text.size() * 2, true);
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
  StoreLE(out.FixedBuffer(sizeof v), v);
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
  StoreLE(p, day);
  StoreLE(p, 4, ms);
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
    day = LoadLE<std::int32_t>(src);
  } else if (s == stTime) {
    ms = LoadLE<std::int32_t>(src);
  } else {
    day = LoadLE<std::int32_t>(src);
    ms = LoadLE<std::int32_t>(static_cast<const unsigned char*>(src) + 4);
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

[[noreturn]] void RaiseCast(std::int32_t code, TABSStorageType s, TABSStorageType t) {
  throw EABSException(code, "Cannot cast from '%s' to '%s'",
                      {StorageTypeName(s), StorageTypeName(t)});
}

}  // namespace

void ConvertValueInto(const void* source, std::int32_t sourceSize, TABSStorageType sourceType,
                      TABSStorageType targetType, TABSConvertedValue& result) {
  if (!IsSupportedConversion(sourceType, targetType)) RaiseCast(30052, sourceType, targetType);
  if (source == nullptr) throw EABSException(native_code::kConvertNilSource, "Nil pointer occured");
  if (sourceSize >= 0 && sourceSize < FixedValueSize(sourceType)) {
    RaiseShortSource(native_code::kConvertShortSource, sourceSize, sourceType);
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
      ConvertFromLogical(LoadLE<std::int16_t>(source) != 0, source, targetType, result);
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
