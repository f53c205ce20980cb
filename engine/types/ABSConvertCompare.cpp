#include "engine/types/ABSConvert.h"

#include <cmath>
#include <string>
#include <string_view>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSConvertInternal.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"

using namespace convert_detail;

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

// A compared value shorter than its type; both comparison paths report it
// under one code.
[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void RaiseShortComparand(std::int32_t size,
                                                                      TABSStorageType type) {
  RaiseShortSource(native_code::kCompareShortValue, size, type);
}

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
      return Order(LoadLE<std::int32_t>(a), LoadLE<std::int32_t>(b));
    case stDateTime: {
      const std::uint8_t r = Order(LoadLE<std::int32_t>(a), LoadLE<std::int32_t>(b));
      if (r != cvEqual) return r;
      return Order(LoadLE<std::int32_t>(static_cast<const unsigned char*>(a) + 4),
                   LoadLE<std::int32_t>(static_cast<const unsigned char*>(b) + 4));
    }
    case stLogical:
      return Order(LoadLE<std::int16_t>(a) != 0, LoadLE<std::int16_t>(b) != 0);
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
  if (type1 == t && size1 >= 0 && size1 < need) RaiseShortComparand(size1, t);
  if (type2 == t && size2 >= 0 && size2 < need) RaiseShortComparand(size2, t);
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
      RaiseShortComparand(size1 >= 0 && size1 < need ? size1 : size2, type1);
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
