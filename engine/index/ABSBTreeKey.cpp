#include "engine/index/ABSBTreeKey.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/types/ABSConvert.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"

namespace {

// Header of an index page and sizes of the references, repeated here so the
// key layout can check how many entries fit without the page view.
constexpr std::int32_t kPageHeaderSize = 18;
constexpr std::int32_t kLeafReferenceSize = 6;

bool IsAnsiTextType(TABSStorageType t) {
  return t == stChar || t == stString || t == stBytes;
}
bool IsWideTextType(TABSStorageType t) {
  return t == stWideChar || t == stWideString;
}
bool CanBePrefix(TABSStorageType t) {
  return IsStringStorageType(t) || t == stBytes || t == stVarBytes;
}

// Windows-1252 byte -> UTF-16 unit, built once from the engine's codec so
// that the two can never disagree.
const std::array<char16_t, 256>& AnsiTable() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      const std::u16string w = platform::AnsiToWide(std::string_view(&c, 1));
      t[static_cast<std::size_t>(b)] = w.empty() ? u'?' : w[0];
    }
    return t;
  }();
  return table;
}

// Texts up to this many characters are widened on the stack.
constexpr std::size_t kStackChars = 256;

}  // namespace

int CompareTextValues(const void* a, std::int32_t sizeA, const void* b, std::int32_t sizeB,
                      TABSStorageType type, bool ignoreCase, std::int32_t compareLength) {
  char16_t wa[kStackChars];
  char16_t wb[kStackChars];
  std::size_t na = 0;
  std::size_t nb = 0;
  if (IsAnsiTextType(type)) {
    na = strnlen(static_cast<const char*>(a), static_cast<std::size_t>(sizeA));
    nb = strnlen(static_cast<const char*>(b), static_cast<std::size_t>(sizeB));
    if (compareLength >= 0) {
      na = std::min(na, static_cast<std::size_t>(compareLength));
      nb = std::min(nb, static_cast<std::size_t>(compareLength));
    }
    if (na <= kStackChars && nb <= kStackChars) {
      const auto& table = AnsiTable();
      const auto* pa = static_cast<const unsigned char*>(a);
      const auto* pb = static_cast<const unsigned char*>(b);
      for (std::size_t i = 0; i < na; ++i) wa[i] = table[pa[i]];
      for (std::size_t i = 0; i < nb; ++i) wb[i] = table[pb[i]];
      return platform::FormatSettings::User().Compare(std::u16string_view(wa, na),
                                                      std::u16string_view(wb, nb), ignoreCase);
    }
  } else if (IsWideTextType(type)) {
    const auto* pa = static_cast<const unsigned char*>(a);
    const auto* pb = static_cast<const unsigned char*>(b);
    const auto scan = [](const unsigned char* p, std::int32_t size, char16_t* out, std::size_t& n) {
      const std::size_t limit = static_cast<std::size_t>(size) / 2;
      n = 0;
      for (std::size_t i = 0; i < limit; ++i) {
        const auto c = LoadLE<char16_t>(p + i * 2);
        if (c == 0) return true;
        if (n == kStackChars) return false;
        out[n++] = c;
      }
      return true;
    };
    if (scan(pa, sizeA, wa, na) && scan(pb, sizeB, wb, nb)) {
      if (compareLength >= 0) {
        na = std::min(na, static_cast<std::size_t>(compareLength));
        nb = std::min(nb, static_cast<std::size_t>(compareLength));
      }
      return platform::FormatSettings::User().Compare(std::u16string_view(wa, na),
                                                      std::u16string_view(wb, nb), ignoreCase);
    }
  }
  // Long texts and types without a text order take the general routine.
  return CompareValuesSigned(a, b, type, UserDefaultLocale, ignoreCase, compareLength, false, false,
                             type, sizeA, sizeB);
}

void TABSRecordKeyRef::PrepareKeyLayout(const TABSIndexDef& def,
                                        const TABSBaseFieldManager* fieldManager,
                                        std::int32_t pageDataSize) {
  if (fieldManager == nullptr) throw EABSException(20044, "Pointer is nil");
  const TABSFieldDefs& fields = fieldManager->FieldDefs();
  if (fields.DefCount() == 0) throw EABSException(20045, "Pointer is nil");
  std::vector<TABSKeyPart> parts;
  std::int64_t keySize = 0;
  std::int64_t fullKeySize = 0;
  bool hasPrefix = false;
  for (const TABSIndexColumn& column : def.Columns) {
    const std::int32_t fieldNo = fields.IndexOfName(column.Name);
    if (fieldNo < 0) throw EABSException(20043, "Cannot find index field '%s'", {column.Name});
    const TABSFieldDef& field = *fields[fieldNo];
    if (IsBlobStorageType(field.StorageType)) {
      throw EABSException(20295,
                          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not "
                          "supported yet, please use CAST(blob_field, string) function to convert "
                          "BLOB field to a string expression before indexing.",
                          {column.Name});
    }
    if (column.IndexedLength < 1) {
      throw EABSException(native_code::kIndexedLengthTooSmall,
                          "Invalid indexed length %d of index field '%s'",
                          {column.IndexedLength, column.Name});
    }
    TABSKeyPart part;
    part.KeyOffset = static_cast<std::int32_t>(keySize);
    part.FullKeyOffset = static_cast<std::int32_t>(fullKeySize);
    part.RecordOffset = field.MemoryOffset;
    part.FieldNo = fieldNo;
    part.FullPartSize = field.ValueSize + 1;
    part.StorageType = field.StorageType;
    part.Descending = column.Descending;
    part.CaseInsensitive = column.CaseInsensitive;
    if (column.IndexedLength < field.ValueSize) {
      if (!CanBePrefix(field.StorageType)) {
        throw EABSException(native_code::kPrefixOfNonText,
                            "Index field '%s' of a fixed-size type cannot be indexed by a prefix "
                            "of %d bytes",
                            {column.Name, column.IndexedLength});
      }
      part.PrefixMode = 2;
      part.PartSize = column.IndexedLength + 3;
      // The longest value (the value size less its terminator) against the
      // bytes the prefix keeps (an even count for wide text).
      const bool wide = IsWideStringStorageType(field.StorageType);
      const std::int32_t longest = field.ValueSize - (wide ? 2 : 1);
      part.Truncates = longest > (wide ? column.IndexedLength & ~1 : column.IndexedLength);
      hasPrefix = hasPrefix || part.Truncates;
    } else {
      part.PartSize = part.FullPartSize;
    }
    keySize += part.PartSize;
    fullKeySize += part.FullPartSize;
    parts.push_back(part);
  }
  const std::int64_t entries = (pageDataSize - kPageHeaderSize) / (keySize + kLeafReferenceSize);
  if (keySize > 65535 || entries < kMinEntriesPerPage) {
    throw EABSException(
        native_code::kIndexKeyTooLarge,
        "Index key too large: %d bytes, %d bytes of index page data",
        {static_cast<std::int32_t>(std::min<std::int64_t>(keySize, INT32_MAX)), pageDataSize});
  }
  parts_ = std::move(parts);
  keySize_ = static_cast<std::int32_t>(keySize);
  fullKeySize_ = static_cast<std::int32_t>(fullKeySize);
  partCount_ = static_cast<std::int32_t>(parts_.size());
  hasPrefixParts_ = hasPrefix;
  singleInteger_ = parts_.size() == 1 && parts_[0].StorageType == stInteger;
  singleDescending_ = singleInteger_ && parts_[0].Descending;
  singleIntegerBuild_ = singleInteger_ && parts_[0].KeyOffset == 0 && parts_[0].PartSize == 5 &&
                        parts_[0].PrefixMode == 0;
}

namespace {

// Copies `capacity` value bytes of a part: the value up to and including its
// terminator for text (at most `limit` bytes of it), everything for other
// types; zero fill behind.
void CopyPartValue(const TABSKeyPart& part, const std::byte* value, std::int32_t limit,
                   std::int32_t capacity, std::byte* out) {
  std::size_t n = static_cast<std::size_t>(limit);
  if (IsAnsiTextType(part.StorageType) || part.StorageType == stVarBytes) {
    n = strnlen(reinterpret_cast<const char*>(value), n);
  } else if (IsWideTextType(part.StorageType)) {
    n &= ~std::size_t{1};
    for (std::size_t at = 0; at + 1 < n; at += 2) {
      if (value[at] == std::byte{0} && value[at + 1] == std::byte{0}) {
        n = at;
        break;
      }
    }
  }
  std::memcpy(out, value, n);
  std::memset(out + n, 0, static_cast<std::size_t>(capacity) - n);
}

}  // namespace

void TABSRecordKeyRef::BuildKey(const std::byte* recordBuffer, std::byte* key) const {
  if (singleIntegerBuild_) {
    // One whole 32-bit integer at the key's start: null byte and value.
    const TABSKeyPart& part = parts_[0];
    const bool isNull = IsNullBitSet(recordBuffer, part.FieldNo);
    key[0] = std::byte{isNull ? std::uint8_t{1} : std::uint8_t{0}};
    if (isNull) {
      std::memset(key + 1, 0, 4);
    } else {
      std::memcpy(key + 1, recordBuffer + part.RecordOffset, 4);
    }
    return;
  }
  for (const TABSKeyPart& part : parts_) {
    std::byte* out = key + part.KeyOffset;
    const std::int32_t capacity = part.PartSize - 1;
    if (IsNullBitSet(recordBuffer, part.FieldNo)) {
      out[0] = std::byte{1};
      std::memset(out + 1, 0, static_cast<std::size_t>(capacity));
      continue;
    }
    out[0] = std::byte{0};
    // A prefix part keeps IndexedLength bytes and at least two zero bytes.
    const std::int32_t limit = part.PrefixMode == 2 ? capacity - 2 : capacity;
    CopyPartValue(part, recordBuffer + part.RecordOffset, limit, capacity, out + 1);
  }
}

void TABSRecordKeyRef::BuildFullKey(const std::byte* recordBuffer, std::byte* fullKey) const {
  for (const TABSKeyPart& part : parts_) {
    std::byte* out = fullKey + part.FullKeyOffset;
    const std::int32_t capacity = part.FullPartSize - 1;
    if (IsNullBitSet(recordBuffer, part.FieldNo)) {
      out[0] = std::byte{1};
      std::memset(out + 1, 0, static_cast<std::size_t>(capacity));
      continue;
    }
    out[0] = std::byte{0};
    CopyPartValue(part, recordBuffer + part.RecordOffset, capacity, capacity, out + 1);
  }
}

int TABSRecordKeyRef::ComparePart(const TABSKeyPart& part, const std::byte* a, const std::byte* b,
                                  std::int32_t valueBytes, std::int32_t compareLength) const {
  const bool nullA = a[0] != std::byte{0};
  const bool nullB = b[0] != std::byte{0};
  int r;
  if (nullA || nullB) {
    r = nullA == nullB ? 0 : (nullA ? -1 : 1);
  } else {
    const std::byte* va = a + 1;
    const std::byte* vb = b + 1;
    switch (part.StorageType) {
      case stInteger: {
        const auto x = LoadLE<std::int32_t>(va);
        const auto y = LoadLE<std::int32_t>(vb);
        r = x < y ? -1 : (y < x ? 1 : 0);
        break;
      }
      case stLargeint: {
        const auto x = LoadLE<std::int64_t>(va);
        const auto y = LoadLE<std::int64_t>(vb);
        r = x < y ? -1 : (y < x ? 1 : 0);
        break;
      }
      case stChar:
      case stString:
      case stBytes:
      case stWideChar:
      case stWideString:
        r = CompareTextValues(va, valueBytes, vb, valueBytes, part.StorageType,
                              part.CaseInsensitive, compareLength);
        break;
      default:
        r = CompareValuesSigned(va, vb, part.StorageType, UserDefaultLocale, part.CaseInsensitive,
                                compareLength, false, false, part.StorageType, valueBytes,
                                valueBytes);
        break;
    }
  }
  return part.Descending ? -r : r;
}

int TABSRecordKeyRef::CompareKeys(const std::byte* a, const std::byte* b,
                                  const std::int32_t* compareLengths,
                                  std::int32_t partLimit) const {
  const std::size_t n =
      partLimit < 0 ? parts_.size() : std::min(parts_.size(), static_cast<std::size_t>(partLimit));
  for (std::size_t i = 0; i < n; ++i) {
    const TABSKeyPart& part = parts_[i];
    const std::int32_t length = compareLengths != nullptr ? compareLengths[i] : -1;
    const int r =
        ComparePart(part, a + part.KeyOffset, b + part.KeyOffset, part.PartSize - 1, length);
    if (r != 0) return r;
  }
  return 0;
}

int TABSRecordKeyRef::CompareKeysFrom(const std::byte* a, const std::byte* b, std::int32_t from,
                                      const std::int32_t* compareLengths, std::int32_t partLimit,
                                      bool stopAtPrefixTie, std::int32_t& tiedPart) const {
  tiedPart = -1;
  const std::size_t n =
      partLimit < 0 ? parts_.size() : std::min(parts_.size(), static_cast<std::size_t>(partLimit));
  for (std::size_t i = static_cast<std::size_t>(from); i < n; ++i) {
    const TABSKeyPart& part = parts_[i];
    const std::int32_t length = compareLengths != nullptr ? compareLengths[i] : -1;
    const int r =
        ComparePart(part, a + part.KeyOffset, b + part.KeyOffset, part.PartSize - 1, length);
    if (r != 0) return r;
    if (stopAtPrefixTie && part.Truncates && a[part.KeyOffset] == std::byte{0}) {
      tiedPart = static_cast<std::int32_t>(i);
      return 0;
    }
  }
  return 0;
}

int TABSRecordKeyRef::CompareFullPart(std::int32_t index, const std::byte* a,
                                      const std::byte* b) const {
  const TABSKeyPart& part = parts_[static_cast<std::size_t>(index)];
  return ComparePart(part, a + part.FullKeyOffset, b + part.FullKeyOffset, part.FullPartSize - 1,
                     -1);
}

int TABSRecordKeyRef::CompareEntryKeys(const std::byte* keyA, const std::byte* fullA,
                                       const std::byte* keyB, const std::byte* fullB) const {
  std::int32_t from = 0;
  for (;;) {
    std::int32_t tied = -1;
    const int c = CompareKeysFrom(keyA, keyB, from, nullptr, -1, true, tied);
    if (c != 0 || tied < 0) return c;
    const int w = CompareFullPart(tied, fullA, fullB);
    if (w != 0) return w;
    from = tied + 1;
  }
}

int TABSRecordKeyRef::CompareFullKeys(const std::byte* a, const std::byte* b,
                                      std::int32_t partLimit) const {
  const std::size_t n =
      partLimit < 0 ? parts_.size() : std::min(parts_.size(), static_cast<std::size_t>(partLimit));
  for (std::size_t i = 0; i < n; ++i) {
    const TABSKeyPart& part = parts_[i];
    const int r = ComparePart(part, a + part.FullKeyOffset, b + part.FullKeyOffset,
                              part.FullPartSize - 1, -1);
    if (r != 0) return r;
  }
  return 0;
}

void TABSRecordKeyRef::SetCompareLengths(const std::byte* recordBuffer, bool on,
                                         std::int32_t* lengths) const {
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    const TABSKeyPart& part = parts_[i];
    lengths[i] = -1;
    if (!on || !IsStringStorageType(part.StorageType) || IsNullBitSet(recordBuffer, part.FieldNo)) {
      continue;
    }
    const std::byte* value = recordBuffer + part.RecordOffset;
    const auto size = static_cast<std::size_t>(part.FullPartSize - 1);
    std::size_t chars;
    if (IsWideTextType(part.StorageType)) {
      chars = 0;
      while (chars * 2 + 1 < size && LoadLE<char16_t>(value + chars * 2) != 0) ++chars;
    } else {
      chars = strnlen(reinterpret_cast<const char*>(value), size);
    }
    lengths[i] = static_cast<std::int32_t>(chars);
  }
}
