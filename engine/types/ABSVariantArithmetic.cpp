#include "engine/types/ABSVariant.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSVariantInternal.h"

using namespace variant_detail;

namespace {

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
  StoreLE(a, IntOp(LoadLE<T>(a), LoadLE<T>(b), op));
}

template <typename F>
void FloatOpInPlace(void* a, const void* b, char op) {
  StoreLE(a, FloatOp(LoadLE<F>(a), LoadLE<F>(b), op));
}

template <typename T>
void NegateInPlace(void* p) {
  using U = std::make_unsigned_t<T>;
  StoreLE(p, static_cast<T>(static_cast<U>(0) - static_cast<U>(LoadLE<T>(p))));
}

}  // namespace

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
      StoreLE(data_, -LoadLE<float>(data_));
      break;
    case stDouble:
    case stCurrency:
      StoreLE(data_, -LoadLE<double>(data_));
      break;
    case stExtended:
      StoreExtended(data_, -LoadExtended(data_));
      break;
    default:  // stLogical
      StoreLE(data_, static_cast<std::int16_t>(LoadLE<std::int16_t>(data_) != 0 ? 0 : -1));
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
      const std::int32_t dayA = LoadLE<std::int32_t>(pa);
      const std::int32_t dayB = LoadLE<std::int32_t>(pb);
      // A time taking part as a date-time carries the empty day number; a
      // sum keeps the other side's date instead of adding the marker as days.
      std::int32_t day = 0;
      if (op == '+' && (dayA == EmptyDayNumber || dayB == EmptyDayNumber)) {
        day = dayA == EmptyDayNumber ? dayB : dayA;
      } else {
        day = IntOp(dayA, dayB, op);
      }
      std::int32_t ms = IntOp(LoadLE<std::int32_t>(pa + 4), LoadLE<std::int32_t>(pb + 4), op);
      if (ms > kMsPerDay - 1) {
        day = IntOp(day, ms / kMsPerDay, '+');
        ms %= kMsPerDay;
      }
      StoreLE(pa, day);
      StoreLE(pa + 4, ms);
      break;
    }
    case stLogical: {
      const bool r = LoadLE<std::int16_t>(a) != 0 || LoadLE<std::int16_t>(b) != 0;
      StoreLE(a, static_cast<std::int16_t>(r ? -1 : 0));
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
