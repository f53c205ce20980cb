// Conversion and comparison of single values held in bare buffers in their
// storage encoding: ConvertValue turns a value of one storage type into
// another, CompareValues orders two values of possibly different types, and
// ResultStorageType names the common type two types meet in.
//
// All routines are pure apart from reading the user's locale settings
// (platform::FormatSettings::User()) for locale-dependent texts; any thread
// may call them. They never touch process-wide locale state.
#pragma once

#include <cstdint>
#include <string>

#include "engine/types/ABSTypes.h"

// The locale given to CompareValues for wide-text comparisons. Every value
// (1024 is the user's default) currently selects the user's collator.
extern std::int32_t ComparisonLocale;
// The locale argument the engine passes for "the user's default".
constexpr std::int32_t UserDefaultLocale = 1024;

// A converted value before it is placed anywhere: fixed-size values inline,
// text and BLOB values (with their terminator) in `Bytes`. Converting into
// it allocates no engine memory, so callers with a buffer of the right size
// can reuse it.
class TABSConvertedValue {
 public:
  const void* Data() const { return variable_ ? static_cast<const void*>(bytes_.data()) : fixed_; }
  std::int32_t Size() const { return variable_ ? static_cast<std::int32_t>(bytes_.size()) : size_; }

  void SetFixed(const void* value, std::int32_t size);
  void* FixedBuffer(std::int32_t size);
  std::string& VariableBuffer();

 private:
  alignas(16) unsigned char fixed_[16] = {};
  std::string bytes_;
  std::int32_t size_ = 0;
  bool variable_ = false;
};

// Converts one value from `sourceType` to `targetType` into `result`.
// `sourceSize` is the size of the source buffer or -1 when unknown: text is
// read up to its terminator (and never beyond a known size), memo sources
// take exactly `sourceSize` bytes (up to a terminator when -1), fixed-size
// sources need at least their type's size.
// Errors (EABSException): 30052 "Cannot cast from '%s' to '%s'" for a pair
// that has no conversion (every type outside 1..24 included), 30051 with the
// same text when a supported conversion fails (text that does not parse, a
// value that does not fit), 30476 "Nil pointer occured" for a nil source,
// 30477 when a known source size is too small for its fixed-size type.
void ConvertValueInto(const void* source, std::int32_t sourceSize, TABSStorageType sourceType,
                      TABSStorageType targetType, TABSConvertedValue& result);

// ConvertValueInto, with the result placed in a fresh buffer from the engine
// memory manager; the caller owns it and returns it with FreeAndNillMem.
TABSValueBuffer ConvertValue(const void* source, std::int32_t sourceSize,
                             TABSStorageType sourceType, TABSStorageType targetType);
void ConvertValue(const void* source, std::int32_t sourceSize, TABSStorageType sourceType,
                  TABSStorageType targetType, void*& target, std::int32_t& targetSize);

// Result codes of CompareValues.
enum : std::uint8_t {
  cvEqual = 0,
  cvLess = 1,
  cvGreater = 2,
  cvFirstNull = 3,   // only side 1 is null
  cvSecondNull = 4,  // only side 2 is null
  cvBothNull = 5,
};

// Compares value 1 (of `type1`) with value 2 (of `type2`); 0 equal, 1 less,
// 2 greater, 3/4/5 when side 1/side 2/both are null (nothing else is looked
// at then). Different types (and two memo types) meet in
// ResultStorageType(type1, type2, true). Text compares with the user's
// collator, ignoring case on request; `length` >= 0 compares only the first
// `length` characters of each side (a prefix comparison). Floats compare
// equal when either is NaN; false < true.
// `size1`/`size2` bound the reads of each buffer when known (-1 otherwise).
// Errors: 30044 no common type, 30140 "Value is Null" for a missing buffer
// of a non-null side, 30478 for a known size too small for a fixed-size
// value, 30047 a type that has no ordering, and the errors of
// ConvertValueInto.
std::uint8_t CompareValues(const void* value1, const void* value2, TABSStorageType type1,
                           std::int32_t locale, bool ignoreCase, std::int32_t length, bool isNull2,
                           bool isNull1, TABSStorageType type2, std::int32_t size1 = -1,
                           std::int32_t size2 = -1);
// CompareValues folded to -1 (less, or only side 1 null), 0 (equal, both
// null) and +1 (greater, or only side 2 null).
int CompareValuesSigned(const void* value1, const void* value2, TABSStorageType type1,
                        std::int32_t locale, bool ignoreCase, std::int32_t length, bool isNull2,
                        bool isNull1, TABSStorageType type2, std::int32_t size1 = -1,
                        std::int32_t size2 = -1);

// The storage type two operands meet in for arithmetic or, with
// `forComparison`, for comparison (text meeting a date or time then becomes
// that date or time type); 0 when they have none. Not symmetric: the left
// operand decides between unsigned and signed integers and between currency
// and floats.
TABSStorageType ResultStorageType(TABSStorageType a, TABSStorageType b, bool forComparison);
