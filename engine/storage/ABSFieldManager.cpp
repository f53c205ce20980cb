#include "engine/storage/ABSFieldManager.h"

#include <cstring>
#include <limits>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSDesignMode.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSSequenceSession.h"
#include "engine/types/ABSTextTerminator.h"
#include "engine/types/ABSVariant.h"

namespace {

static_assert(sizeof(void*) <= 10, "a BLOB field's value bytes must hold a block address");

// The integer value of an auto-increment field: `size` (1, 2, 4 or 8)
// little-endian bytes, sign-extended for the signed storage types.
std::int64_t LoadInteger(const unsigned char* p, std::int32_t size, bool isSigned) {
  std::uint64_t raw = 0;
  switch (size) {
    case 1:
      raw = LoadLE<std::uint8_t>(p);
      break;
    case 2:
      raw = LoadLE<std::uint16_t>(p);
      break;
    case 4:
      raw = LoadLE<std::uint32_t>(p);
      break;
    default:
      raw = LoadLE<std::uint64_t>(p);
      break;
  }
  if (isSigned && size > 0 && size < 8) {
    const int shift = 64 - 8 * size;
    return static_cast<std::int64_t>(raw << shift) >> shift;
  }
  return static_cast<std::int64_t>(raw);
}

// The low `size` bytes of `value`, little-endian.
void StoreInteger(unsigned char* p, std::int32_t size, std::int64_t value) {
  switch (size) {
    case 1:
      StoreLE(p, static_cast<std::uint8_t>(value));
      break;
    case 2:
      StoreLE(p, static_cast<std::uint16_t>(value));
      break;
    case 4:
      StoreLE(p, static_cast<std::uint32_t>(value));
      break;
    default:
      StoreLE(p, value);
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Field manager

TABSBaseFieldManager::TABSBaseFieldManager(TABSTableData* tableData)
    : fieldDefs_(std::make_unique<TABSFieldDefs>()), tableData_(tableData) {}

TABSBaseFieldManager::~TABSBaseFieldManager() = default;

const TABSFieldDef& TABSBaseFieldManager::Field(std::int32_t fieldNo) const {
  return *(*fieldDefs_)[fieldNo];
}

void TABSBaseFieldManager::ComputeLayout() {
  fieldDefs_->CalculateOffsets();
}

std::int32_t TABSBaseFieldManager::GetRecordSize() const {
  if (fieldDefs_->DefCount() == 0) {
    if (DesignMode) return 0;
    throw EABSException(10131, "Error creating table - no fields were specified");
  }
  return fieldDefs_->MemoryRecordSize();
}

void TABSBaseFieldManager::ResetAutoincCounters() {
  const std::int32_t count = fieldDefs_->DefCount();
  std::vector<std::int64_t> counters(static_cast<std::size_t>(count), 0);
  for (std::int32_t i = 0; i < count; ++i) {
    const TABSFieldDef& field = Field(i);
    if (IsAutoIncDeclaredType(field.DeclaredType)) counters[i] = field.InitialValue;
  }
  counters_ = std::move(counters);
}

bool TABSBaseFieldManager::HasBlobFields() const {
  for (std::int32_t i = 0; i < fieldDefs_->DefCount(); ++i) {
    const TABSFieldDef& field = Field(i);
    if (!IsBlobStorageType(field.StorageType)) continue;
    if (field.BlobBlockSize <= 0) {
      throw EABSException(10421, "BLOB block size should be > 0 for field %s", {field.Name()});
    }
    return true;
  }
  return false;
}

std::int64_t TABSBaseFieldManager::NextAutoincValue(std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= fieldDefs_->DefCount()) {
    throw EABSException(30402, "Field #%d not found", {fieldNo});
  }
  if (fieldNo >= static_cast<std::int32_t>(counters_.size())) {
    throw EABSException(30403, "Field #%d not found", {fieldNo});
  }
  const TABSFieldDef& field = Field(fieldNo);
  const std::int64_t step = field.Increment != 0 ? field.Increment : 1;
  std::int64_t next = 0;
  // Leaving the 64-bit range counts as passing the maximum, limit or not.
  const bool overflow = __builtin_add_overflow(counters_[fieldNo], step, &next);
  if (overflow || (field.MaxValue != 0 && next > field.MaxValue)) {
    if (!field.Cycled) {
      throw EABSException(20160, "Autoinc max value exceeded for field '%s'", {field.Name()});
    }
    next = field.MinValue;
  }
  counters_[fieldNo] = next;
  return next;
}

std::int64_t TABSBaseFieldManager::NextSequenceValue(TABSSequenceSession* session,
                                                     std::int32_t fieldNo) {
  const std::int64_t value = NextAutoincValue(fieldNo);
  if (session != nullptr) session->RegisterSequenceValue(Field(fieldNo).ObjectId, value);
  return value;
}

std::int64_t TABSBaseFieldManager::GetSequenceLastValue(TABSSequenceSession* session,
                                                        std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= fieldDefs_->DefCount()) {
    throw EABSException(native_code::kSequenceFieldNotFound, "Field #%d not found", {fieldNo});
  }
  const TABSFieldDef& field = Field(fieldNo);
  std::int64_t value = 0;
  if (session != nullptr) {
    if (session->FindSequenceValue(field.ObjectId, value)) return value;
    if (session->IsMultiUser()) {
      throw EABSException(
          30012, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
          {field.Name()});
    }
  }
  if (IsAutoIncDeclaredType(field.DeclaredType) &&
      fieldNo < static_cast<std::int32_t>(counters_.size())) {
    return counters_[fieldNo];
  }
  return 0;
}

void TABSBaseFieldManager::ApplyDefaults(TABSSequenceSession* /*session*/, void* image) {
  if (image == nullptr) throw EABSException(native_code::kDefaultsNilImage, "Nil pointer occured");
  // Converting a default takes memory and a value may not fit its field, so
  // the defaults are written into a copy of the image that replaces it only
  // when every field is done: a failure leaves the caller's image untouched.
  const auto size = static_cast<std::size_t>(fieldDefs_->MemoryRecordSize());
  std::vector<unsigned char> staged(size);
  std::memcpy(staged.data(), image, size);
  unsigned char* record = staged.data();
  for (std::int32_t i = 0; i < fieldDefs_->DefCount(); ++i) {
    const TABSFieldDef& field = Field(i);
    if (IsBlobStorageType(field.StorageType) || !field.HasDefaultValue()) continue;
    // Default values are plain values here: no default is ever an
    // expression, so there is nothing to evaluate first.
    const TABSVariant* value = field.DefaultValue.get();
    TABSVariant converted;
    if (value->DataType() != field.StorageType) {
      converted.Assign(*value, true);
      converted.CastTo(field.StorageType);
      value = &converted;
    }
    // A value that copies nothing (an empty text) leaves the field NULL
    // rather than exposing the bytes that were there.
    const bool stored = value->CopyTo(record + field.MemoryOffset, field.ValueSize);
    if (stored) SetNullBit(record, i, false);
  }
  std::memcpy(image, record, size);
}

void TABSBaseFieldManager::ApplyAutoincs(TABSSequenceSession* session, void* image) {
  if (image == nullptr) throw EABSException(native_code::kAutoincsNilImage, "Nil pointer occured");
  auto* record = static_cast<unsigned char*>(image);
  for (std::int32_t i = 0; i < fieldDefs_->DefCount(); ++i) {
    const TABSFieldDef& field = Field(i);
    if (!IsAutoIncDeclaredType(field.DeclaredType)) continue;
    unsigned char* value = record + field.MemoryOffset;
    if (IsNullBitSet(record, i)) {
      StoreInteger(value, field.ValueSize, NextSequenceValue(session, i));
      SetNullBit(record, i, false);
      continue;
    }
    // A record that brings its own value moves the sequence past it, so a
    // later generated value does not repeat it. A negative value of a
    // signed field stays negative and moves nothing.
    const std::int64_t own =
        LoadInteger(value, field.ValueSize, StorageTypeFacts(field.StorageType).Signed);
    if (i < static_cast<std::int32_t>(counters_.size()) && own > counters_[i]) {
      counters_[i] = own;
      if (session != nullptr) session->RegisterSequenceValue(field.ObjectId, own);
    }
  }
}

std::vector<std::byte> TABSBaseFieldManager::WriteAutoincCounters() const {
  const auto count = static_cast<std::int32_t>(counters_.size());
  std::vector<std::byte> block(4 + counters_.size() * 8);
  StoreLE(block.data(), count);
  for (std::size_t i = 0; i < counters_.size(); ++i) StoreLE(block.data(), 4 + i * 8, counters_[i]);
  return block;
}

void TABSBaseFieldManager::ReadAutoincCounters(const void* block, std::int64_t size) {
  std::int32_t count = -1;
  if (block != nullptr && size >= 4) count = LoadLE<std::int32_t>(block);
  if (count < 0 || size < 4 + static_cast<std::int64_t>(count) * 8) {
    throw EABSException(native_code::kBadCounterBlock,
                        "Invalid auto-increment counter block - Size = %d", {size});
  }
  std::vector<std::int64_t> counters(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < counters.size(); ++i)
    counters[i] = LoadLE<std::int64_t>(block, 4 + i * 8);
  counters_ = std::move(counters);
}

bool TABSBaseFieldManager::CompareRecordImages(const void* a, const void* b) const {
  if (a == nullptr) throw EABSException(native_code::kCompareImagesNilFirst, "Nil pointer occured");
  if (b == nullptr)
    throw EABSException(native_code::kCompareImagesNilSecond, "Nil pointer occured");
  const auto* left = static_cast<const unsigned char*>(a);
  const auto* right = static_cast<const unsigned char*>(b);
  if (std::memcmp(left, right, static_cast<std::size_t>(fieldDefs_->NullBitmapSize())) != 0) {
    return false;
  }
  for (std::int32_t i = 0; i < fieldDefs_->DefCount(); ++i) {
    if (IsNullBitSet(left, i)) continue;  // both NULL: the value bytes mean nothing
    const TABSFieldDef& field = Field(i);
    const unsigned char* l = left + field.MemoryOffset;
    const unsigned char* r = right + field.MemoryOffset;
    std::int32_t extent = field.ValueSize;
    if (IsStringStorageType(field.StorageType)) {
      extent = static_cast<std::int32_t>(TextExtent(l, static_cast<std::size_t>(field.ValueSize),
                                                    IsWideStringStorageType(field.StorageType)));
    } else if (IsBlobStorageType(field.StorageType)) {
      extent = static_cast<std::int32_t>(sizeof(void*));
    }
    if (std::memcmp(l, r, static_cast<std::size_t>(extent)) != 0) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Field exchange

bool FieldDataFromRecord(std::int32_t fieldNo, const TABSFieldDefs& fieldDefs, void* destination,
                         const void* image) {
  const std::int32_t count = fieldDefs.DefCount();
  if (fieldNo < 0 || fieldNo >= count) {
    throw EABSException(10000, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, count});
  }
  if (image == nullptr) throw EABSException(10003, "Nil pointer occured");
  if (IsNullBitSet(image, fieldNo)) return false;
  if (destination == nullptr) return true;
  const TABSFieldDef& field = *fieldDefs[fieldNo];
  // A BLOB value is read through a BLOB stream, not from the image.
  if (IsBlobDeclaredType(field.DeclaredType)) return true;
  const auto* src = static_cast<const unsigned char*>(image) + field.MemoryOffset;
  try {
    switch (field.DeclaredType) {
      case dtShortint: {
        StoreLE(destination, static_cast<std::int16_t>(LoadLE<std::int8_t>(src)));
        break;
      }
      case dtCardinal: {
        StoreLE(destination, static_cast<std::uint64_t>(LoadLE<std::uint32_t>(src)));
        break;
      }
      case dtSingle: {
        StoreLE(destination, static_cast<double>(LoadLE<float>(src)));
        break;
      }
      case dtExtended: {
        StoreLE(destination, static_cast<double>(LoadExtended(src)));
        break;
      }
      default:
        std::memcpy(destination, src, static_cast<std::size_t>(field.ValueSize));
        break;
    }
  } catch (...) {
    throw EABSException(10002,
                        "Error getting field data - FieldNo = %d, MemoryOffset = %d, "
                        "MemoryDataSize = %d",
                        {fieldNo, field.MemoryOffset, field.ValueSize});
  }
  return true;
}

void FieldDataToRecord(std::int32_t fieldNo, const TABSFieldDefs& fieldDefs, const void* source,
                       void* image) {
  const std::int32_t count = fieldDefs.DefCount();
  if (fieldNo < 0 || fieldNo >= count) {
    throw EABSException(10004, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, count});
  }
  if (image == nullptr)
    throw EABSException(native_code::kFieldToRecordNilImage, "Nil pointer occured");
  const TABSFieldDef& field = *fieldDefs[fieldNo];
  const auto* src = static_cast<const unsigned char*>(source);
  // Empty text is stored as NULL.
  bool isNull = src == nullptr;
  if (!isNull && IsStringDeclaredType(field.DeclaredType)) {
    isNull = IsEmptyText(src, IsWideDeclaredType(field.DeclaredType));
  }
  if (isNull) {
    SetNullBit(image, fieldNo, true);
    return;
  }
  auto* dst = static_cast<unsigned char*>(image) + field.MemoryOffset;
  switch (field.DeclaredType) {
    case dtShortint: {
      dst[0] = static_cast<unsigned char>(LoadLE<std::int16_t>(src) & 0xFF);
      break;
    }
    case dtCardinal:
      StoreLE(dst, static_cast<std::uint32_t>(LoadLE<std::uint64_t>(src)));
      break;
    case dtSingle: {
      StoreLE(dst, static_cast<float>(LoadLE<double>(src)));
      break;
    }
    case dtExtended: {
      StoreExtended(dst, LoadLE<double>(src));
      break;
    }
    default:
      std::memcpy(dst, src, static_cast<std::size_t>(field.ValueSize));
      break;
  }
  SetNullBit(image, fieldNo, false);
}

bool CompareBytes(const void* a, const void* b, std::int64_t length) {
  if (a == nullptr) throw EABSException(10122, "Nil pointer occured");
  if (b == nullptr) throw EABSException(10123, "Nil pointer occured");
  if (length <= 0) return true;
  return std::memcmp(a, b, static_cast<std::size_t>(length)) == 0;
}

// ---------------------------------------------------------------------------
// BLOB block addresses

namespace {

void CheckBlobField(const TABSFieldDef& field) {
  if (!IsBlobStorageType(field.StorageType)) {
    throw EABSException(native_code::kNotABlobField, "Field '%s' is not a BLOB field",
                        {field.Name()});
  }
}

}  // namespace

void* GetBlobBlockAddress(const void* image, const TABSFieldDef& field) {
  CheckBlobField(field);
  if (image == nullptr) throw EABSException(native_code::kGetBlobAddressNil, "Nil pointer occured");
  void* block = nullptr;
  std::memcpy(&block, static_cast<const unsigned char*>(image) + field.MemoryOffset, sizeof block);
  return block;
}

void SetBlobBlockAddress(void* image, const TABSFieldDef& field, const void* block) {
  CheckBlobField(field);
  if (image == nullptr) throw EABSException(native_code::kSetBlobAddressNil, "Nil pointer occured");
  auto* dst = static_cast<unsigned char*>(image) + field.MemoryOffset;
  std::memset(dst, 0, static_cast<std::size_t>(field.ValueSize));
  std::memcpy(dst, &block, sizeof block);
}
