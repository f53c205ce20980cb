// TABSVariant: one typed engine value, or null. The value is held in a buffer
// in exactly the encoding its storage type has inside a record, so reading a
// field is a plain copy and writing one is a cast followed by a plain copy.
//
// Ownership: the buffer is either owned (taken from the engine memory
// manager and returned by Clear and the destructor) or a reference to
// someone else's bytes (IsReference), which the variant never frees or
// writes; any operation that changes the value first takes an owned copy.
// A referencing variant must not outlive the bytes it points at.
//
// Threads: a variant belongs to one thread; it has no lock.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/memory/ABSMemBlock.h"
#include "engine/types/ABSConvert.h"
#include "engine/types/ABSTypes.h"
#include "platform/data/PlatformVariant.h"

class TABSStream;

class TABSVariant {
 public:
  // A null variant of `type` (0 = no type yet). Raises EABSException 30468
  // for a type outside 0..24.
  explicit TABSVariant(TABSStorageType type = stNone);
  ~TABSVariant();
  TABSVariant(const TABSVariant&) = delete;
  TABSVariant& operator=(const TABSVariant&) = delete;
  // Moving hands the buffer over; the source is left cleared with no type.
  TABSVariant(TABSVariant&& other) noexcept;
  TABSVariant& operator=(TABSVariant&& other) noexcept;

  // --- state ---
  TABSStorageType DataType() const { return dataType_; }
  std::int32_t DataSize() const { return dataSize_; }
  const void* Data() const { return data_; }
  bool IsReference() const { return isReference_; }
  std::uint8_t NullMark() const { return nullMark_; }

  // Returns an owned buffer, then: no buffer, the given type, size 0, null.
  void Clear(TABSStorageType type = stNone);
  // Marks the value null; type and buffer stay.
  void SetNull() { nullMark_ = 255; }
  bool IsNull() const { return nullMark_ != 0 || data_ == nullptr; }
  // Raises 30016 "Value is Null" when null.
  void CheckNotNull() const;

  // Takes the source's type, size and null mark. A non-null source's bytes
  // are copied into an owned buffer with `copy`, else referenced.
  void Assign(const TABSVariant& source, bool copy = true);
  // Holds `size` bytes of `buffer` as a value of `type`: a copy (reusing the
  // owned buffer when its size fits) or, without `copy`, a reference.
  // Raises 30466 for a nil buffer, 30467 for a size below 1 or below the
  // type's fixed size, 30468 for a type outside 1..24. Fast path: a copy
  // into an owned buffer of the same size is served here; everything else
  // by SetBufferSlow, with the same result.
  void SetBuffer(const void* buffer, std::int32_t size, bool copy, TABSStorageType type) {
    if (copy && buffer != nullptr && data_ != nullptr && !isReference_ && size == dataSize_ &&
        type != stNone && type <= stLastStorageType && size >= FixedValueSize(type)) {
      CopyBytes(data_, buffer, size);
      dataType_ = type;
      nullMark_ = 0;
      return;
    }
    SetBufferSlow(buffer, size, copy, type);
  }
  // Copies the value's bytes to `destination`: false (nothing copied) when
  // null or an empty text; 20056 "Buffer size exceeded" when `limit` is not
  // -1 and the value is larger; 30466 for a nil destination. Fast path: a
  // non-null value that fits (and is not an empty text) is copied here;
  // everything else goes to CopyToSlow.
  bool CopyTo(void* destination, std::int32_t limit) const {
    if (!IsNull() && destination != nullptr && (limit == -1 || dataSize_ <= limit) &&
        !(IsStringStorageType(dataType_) && dataSize_ <= 1)) {
      std::memmove(destination, data_, static_cast<std::size_t>(dataSize_));
      return true;
    }
    return CopyToSlow(destination, limit);
  }

  // --- typed access ---
  // Stores a value given in the encoding of `type` (text zero-terminated).
  // A variant that has a type keeps it and converts the value into it; an
  // empty or absent text leaves it null. A failed conversion leaves it null
  // with its type.
  void SetValue(const void* value, TABSStorageType type);
  // Copies the value, converted to `type` when it has another type, into
  // `result` (FixedValueSize(type) bytes). For fixed-size types only: text,
  // BLOB and byte-string types raise 30475; a null value raises 30016.
  void GetValue(void* result, TABSStorageType type) const;

  void SetAsShortint(std::int8_t v);
  void SetAsSmallint(std::int16_t v);
  void SetAsInteger(std::int32_t v);
  void SetAsLargeint(std::int64_t v);
  void SetAsByte(std::uint8_t v);
  void SetAsWord(std::uint16_t v);
  void SetAsCardinal(std::uint32_t v);
  // Text up to its first zero character.
  void SetAsString(std::string_view windows1252);
  void SetAsWideString(std::u16string_view text);
  void SetAsSingle(float v);
  void SetAsDouble(double v);
  void SetAsExtended(long double v);
  void SetAsDayNumber(std::int32_t v);
  void SetAsDate(double dateTime);
  void SetAsMilliseconds(std::int32_t v);
  void SetAsTime(double dateTime);
  void SetAsStamp(const TABSTimeStamp& v);
  void SetAsDateTime(double dateTime);
  void SetAsLogical(bool v);
  void SetAsCurrency(double amount);

  // The non-text getters raise 30016 "Value is Null" on a null variant; the
  // text getters give the empty text. Values of another type are converted
  // (errors of ConvertValueInto).
  std::int8_t GetAsShortint() const;
  std::int16_t GetAsSmallint() const;
  std::int32_t GetAsInteger() const;
  std::int64_t GetAsLargeint() const;
  std::uint8_t GetAsByte() const;
  std::uint16_t GetAsWord() const;
  std::uint32_t GetAsCardinal() const;
  std::string GetAsString() const;
  std::u16string GetAsWideString() const;
  float GetAsSingle() const;
  double GetAsDouble() const;
  long double GetAsExtended() const;
  std::int32_t GetAsDayNumber() const;
  double GetAsDate() const;
  std::int32_t GetAsMilliseconds() const;
  double GetAsTime() const;
  TABSTimeStamp GetAsStamp() const;
  double GetAsDateTime() const;
  bool GetAsLogical() const;
  double GetAsCurrency() const;

  // --- conversions of the whole value ---
  // Converts the value into `type` (a null one just takes the type). A
  // failure leaves the variant as it was.
  void CastTo(TABSStorageType type);
  // CastTo, but a failure leaves a null of the new type instead of raising.
  void ChangeType(TABSStorageType type);
  // Stores a wide text as ANSI stString when it survives the round trip.
  void NarrowWideString();
  // Characters of a text value; -1 when null or not text.
  std::int32_t TextLength() const;

  bool IsNumeric() const { return IsNumericStorageType(dataType_); }
  bool IsString() const { return IsStringStorageType(dataType_); }
  bool IsWideString() const { return IsWideStringStorageType(dataType_); }
  bool IsBlob() const { return IsBlobStorageType(dataType_); }
  bool IsDateTime() const { return IsDateTimeStorageType(dataType_); }

  // --- exchange with the platform's variant ---
  // Raises 30113 "Unsupported Variant Type %s" (kind code) for a kind
  // without an engine type.
  void SetAsVariant(const platform::PlatformVariant& v);
  // Raises 30114 "Unsupported Variant Type %s" (storage type name) for memo
  // and byte-string values.
  platform::PlatformVariant GetAsVariant() const;

  // --- arithmetic and comparison ---
  // Negates numbers and day numbers (unsigned types wrap), inverts logical
  // values; 30123 for other types. Nothing for null.
  void Negate();
  // In place, in ResultStorageType(this, other): text concatenates; integers
  // wrap in the result width; date-times add day numbers and milliseconds
  // separately and carry whole days (the empty day number of a time adds
  // nothing). 30124 when there is no sum.
  void Add(const TABSVariant& other);
  // 30126 when there is no product.
  void Multiply(const TABSVariant& other);
  // 30127 when there is no quotient; division by zero and invalid float
  // operations raise 30128 "Division error: %s".
  void Divide(const TABSVariant& other);
  // Orders this value against `other`: 0 equal, 1 less, 2 greater, nulls
  // first and equal to each other; with `rawResult` the CompareValues codes
  // 0..5. `prefix` compares only as many characters as `other` has.
  std::uint8_t Compare(const TABSVariant& other, bool rawResult = false, bool prefix = false,
                       bool ignoreCase = false) const;

  // --- stream form: type, null mark, and for a value its size and bytes ---
  // Short writes raise 10179..10182, short reads 10183..10186, a stored
  // size below 1 raises 30474 and an unknown stored type 30468.
  void SaveToStream(TABSStream& stream) const;
  void LoadFromStream(TABSStream& stream);

 private:
  // Copies `size` bytes of a value; the ranges may overlap.
  static void CopyBytes(void* destination, const void* source, std::int32_t size) {
    switch (size) {
      case 2:
        std::memmove(destination, source, 2);
        break;
      case 4:
        std::memmove(destination, source, 4);
        break;
      case 8:
        std::memmove(destination, source, 8);
        break;
      default:
        std::memmove(destination, source, static_cast<std::size_t>(size));
    }
  }
  void SetBufferSlow(const void* buffer, std::int32_t size, bool copy, TABSStorageType type);
  bool CopyToSlow(void* destination, std::int32_t limit) const;
  // Stores `size` bytes of a value of `type` following the typed-setter
  // rules (see SetValue); `size` includes a text's terminator.
  void StoreValue(const void* value, std::int32_t size, TABSStorageType type);
  // Places bytes as the owned value, reusing the owned buffer when its size
  // fits; the variant is non-null afterwards.
  void PlaceOwned(const void* bytes, std::int32_t size);
  // Replaces a referenced buffer by an owned copy.
  void MakeOwned();
  template <typename T>
  T GetFixedAs(TABSStorageType type) const {
    T v;
    GetValue(&v, type);
    return v;
  }
  // Drops the value's bytes (freeing them when owned); raises the memory
  // manager's guard error for a damaged owned buffer, the variant empty all
  // the same.
  void ReleaseBuffer();
  // Makes `block` (of `size` bytes) the owned value buffer, dropping the old.
  void TakeOwned(TABSMemBlock block, std::int32_t size);
  // Steps shared by Add, Multiply and Divide once both sides have values.
  void Operate(const TABSVariant& other, char op);

  // The value's bytes: owned_'s block when owned, else borrowed bytes
  // (isReference_). owned_ is empty while the value is a reference.
  void* data_ = nullptr;
  TABSMemBlock owned_;
  std::int32_t dataSize_ = 0;
  TABSStorageType dataType_ = stNone;
  bool isReference_ = false;
  std::uint8_t nullMark_ = 255;
};
