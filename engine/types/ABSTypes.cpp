#include "engine/types/ABSTypes.h"

#include <cfloat>
#include <cstring>
#include <limits>
#include <string>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSTextTerminator.h"

static_assert(LDBL_MANT_DIG == 64 && sizeof(long double) >= 10,
              "stExtended needs the x87 80-bit extended format as long double");

static_assert(kStorageTypeFacts[stExtended].FixedSize == ExtendedSize);

namespace {

constexpr const char* kUnknownName = "Unknown";

// The first row that satisfies `match`, or nullptr.
template <typename Pred>
const TSQLFieldType* FindRow(Pred match) {
  for (const TSQLFieldType& row : SQLFieldTypes) {
    if (match(row)) return &row;
  }
  return nullptr;
}

const TSQLFieldType* RowOfDeclared(TABSDeclaredType t) {
  return FindRow([t](const TSQLFieldType& r) { return r.DeclaredType == t; });
}

// Length in units of a zero-terminated text of `unitSize`-byte units. The
// text may sit at any address (record buffers are packed). A length beyond
// 32 bits is passed on as the largest 32-bit size, which StorageValueSize
// then refuses.
std::int32_t TextLength(const void* text, std::size_t unitSize) {
  constexpr std::size_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::size_t length = TextBytesBeforeTerminator(text, unitSize == 2) / unitSize;
  return static_cast<std::int32_t>(length > kMax ? kMax : length);
}

const TSQLFieldType* RowOfStorage(TABSStorageType t) {
  return FindRow([t](const TSQLFieldType& r) { return r.StorageType == t; });
}

}  // namespace

TABSStorageType DeclaredToStorageType(TABSDeclaredType declaredType) {
  const TSQLFieldType* row = RowOfDeclared(declaredType);
  return row ? row->StorageType : stNone;
}

TABSDeclaredType StorageToDeclaredType(TABSStorageType storageType) {
  const TSQLFieldType* row = RowOfStorage(storageType);
  return row ? row->DeclaredType : dtNone;
}

TABSDeclaredType FieldTypeToDeclaredType(platform::TFieldType fieldType) {
  const TSQLFieldType* row =
      FindRow([fieldType](const TSQLFieldType& r) { return r.FieldType == fieldType; });
  if (!row) {
    throw EABSException(30289, "Unknown DataType: '%s'",
                        {std::to_string(static_cast<int>(fieldType))});
  }
  return row->DeclaredType;
}

platform::TFieldType DeclaredToFieldType(TABSDeclaredType declaredType) {
  const TSQLFieldType* row = RowOfDeclared(declaredType);
  return row ? row->FieldType : platform::ftUnknown;
}

std::string DeclaredTypeName(TABSDeclaredType declaredType) {
  const TSQLFieldType* row = RowOfDeclared(declaredType);
  return row ? row->Name : kUnknownName;
}

std::string StorageTypeName(TABSStorageType storageType) {
  // The first row of each storage type carries the storage type's name.
  const TSQLFieldType* row = RowOfStorage(storageType);
  return row ? row->Name : kUnknownName;
}

std::int32_t StorageValueSize(TABSStorageType storageType, std::int32_t declaredSize) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  const TABSStorageTypeFacts& facts = StorageTypeFacts(storageType);
  if (facts.Kind == TABSValueKind::None) {
    throw EABSException(30050, "Unknown DataType: '%s'", {StorageTypeName(storageType)});
  }
  if (facts.UnitSize == 0) return facts.RecordSize;
  const std::int64_t size = (static_cast<std::int64_t>(declaredSize) + 1) * facts.UnitSize;
  // Only the sized types get here.
  if (declaredSize < 0) {
    throw EABSException(native_code::kNegativeDeclaredSize,
                        "Invalid declared size %d for data type '%s'",
                        {declaredSize, StorageTypeName(storageType)});
  }
  if (size > kMax) {
    throw EABSException(native_code::kDeclaredSizeTooLarge,
                        "Declared size %d is too large for data type '%s'",
                        {declaredSize, StorageTypeName(storageType)});
  }
  return static_cast<std::int32_t>(size);
}

TABSValueBuffer MakeValueBuffer(TABSStorageType storageType, const void* value) {
  TABSValueBuffer result;
  MakeValueBuffer(storageType, value, result.Buffer, result.Size);
  return result;
}

void MakeValueBuffer(TABSStorageType storageType, const void* value, void*& buffer,
                     std::int32_t& bufferSize) {
  std::int32_t size = 0;
  if (storageType == stChar || storageType == stString) {
    if (!value) throw EABSException(30054, "Cannot copy data into new memory");
    size = StorageValueSize(storageType, TextLength(value, 1));
  } else if (IsWideStringStorageType(storageType)) {
    if (!value) throw EABSException(30054, "Cannot copy data into new memory");
    size = StorageValueSize(storageType, TextLength(value, 2));
  } else {
    size = StorageValueSize(storageType, 0);
    if (!value) throw EABSException(30054, "Cannot copy data into new memory");
  }
  // An allocation failure propagates: swallowing it would turn the value
  // into a missing one without telling anybody.
  void* fresh = EngineMemoryManager.GetMem(size);
  std::memcpy(fresh, value, static_cast<std::size_t>(size));
  buffer = fresh;
  bufferSize = size;
}

void StoreExtended(void* dest, long double value) {
  if (!dest) throw EABSException(native_code::kStoreExtendedNil, "Nil pointer occured");
  std::memcpy(dest, &value, ExtendedSize);
}

long double LoadExtended(const void* src) {
  if (!src) throw EABSException(native_code::kLoadExtendedNil, "Nil pointer occured");
  long double value = 0;
  std::memcpy(&value, src, ExtendedSize);
  return value;
}

bool IsBlobDeclaredType(TABSDeclaredType t) {
  return t >= dtBlob && t <= dtWideMemo;
}

bool IsStringDeclaredType(TABSDeclaredType t) {
  return (t >= dtChar && t <= dtWideString) || t == dtGuid;
}

bool IsWideDeclaredType(TABSDeclaredType t) {
  return t == dtWideChar || t == dtWideString;
}

bool IsBytesDeclaredType(TABSDeclaredType t) {
  return t == dtBytes || t == dtVarBytes;
}

bool IsAutoIncDeclaredType(TABSDeclaredType t) {
  return t >= dtAutoInc && t <= dtAutoIncCardinal;
}

bool IsSizedDeclaredType(TABSDeclaredType t) {
  return (IsStringDeclaredType(t) || IsBytesDeclaredType(t)) && t != dtGuid;
}
