// Key layout of B-tree record indexes: how the key of a record is built from
// a record buffer and how two keys are ordered.
//
// A key is the concatenation of one part per index column, in column order.
// A part is a null byte (1 for a NULL field, 0 for a value) followed by the
// value bytes in their record encoding:
//
//   whole part   1 + ValueSize bytes            the whole value
//   prefix part  1 + IndexedLength + 2 bytes    the first IndexedLength bytes
//                                               of a text or byte-string value
//                                               (an even count for wide text),
//                                               then zeros, so the stored
//                                               prefix always ends in a
//                                               terminator
//
// A part is a prefix part when the column's IndexedLength (bytes) is below
// the field's value size. Only text and byte-string fields can have prefix
// parts. The key size is the sum of the part sizes; the full key, built for
// comparisons that must see whole values, uses whole parts for every column.
// Bytes of a part that carry no value (a NULL field, the tail after a text
// terminator) are zero, so equal keys are equal byte for byte.
//
// Order: part by part with the engine's value comparison (CompareValuesSigned
// semantics: the user's collation for text, case ignored for case-insensitive
// columns, NULL before every value), a descending part reversing its result;
// the first unequal part decides. A prefix part orders by its stored prefix
// and, where the prefixes are equal, by its whole value, before the next part
// is looked at; so the index order follows whole values. Text parts are compared without a heap
// allocation: the characters are widened into stack buffers.
//
// Ownership and threads: a key layout is a plain value owned by its index. It
// takes no lock; the index runs under its table's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/memory/ABSCoding.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/types/ABSTypes.h"

class TABSBaseFieldManager;

// The smallest number of entries a leaf and a node page must hold.
inline constexpr std::int32_t kMinEntriesPerPage = 4;

struct TABSKeyPart {
  std::int32_t KeyOffset = 0;      // offset in a stored key
  std::int32_t FullKeyOffset = 0;  // offset in a full key
  std::int32_t RecordOffset = 0;   // offset of the field in a record buffer
  std::int32_t FieldNo = 0;        // for the null bit
  std::int32_t PartSize = 0;       // bytes in a stored key, null byte included
  std::int32_t FullPartSize = 0;   // value size + 1
  std::uint8_t PrefixMode = 0;     // 0 whole value, 2 prefix
  // A prefix part whose field can hold a longer value than the prefix keeps
  // (a text of at most IndexedLength bytes is stored whole even in a prefix
  // part); only such parts need the whole values to settle a tie.
  bool Truncates = false;
  TABSStorageType StorageType = stNone;
  bool Descending = false;
  bool CaseInsensitive = false;
  std::int32_t CompareLength = -1;  // -1 whole value, else characters
};

// Key geometry shared by every B-tree.
class TABSBTreeKeyRef {
 public:
  std::int32_t KeySize() const { return keySize_; }
  std::int32_t FullKeySize() const { return fullKeySize_; }
  std::int32_t ReferenceSize() const { return referenceSize_; }
  std::int32_t PartCount() const { return partCount_; }

 protected:
  std::int32_t keySize_ = 0;
  std::int32_t fullKeySize_ = 0;
  std::int32_t referenceSize_ = 6;
  std::int32_t partCount_ = 0;
};

// The key layout of one record index.
class TABSRecordKeyRef : public TABSBTreeKeyRef {
 public:
  // Fills the part table from the index columns and the table's fields.
  // `pageDataSize` is the data size of an index page; fewer than
  // kMinEntriesPerPage leaf entries per page raise kIndexKeyTooLarge.
  // Errors: 20044 nil field manager, 20045 no field definitions, 20043 a
  // column naming no field, 20295 a BLOB field, kIndexedLengthTooSmall,
  // kPrefixOfNonText. On failure the layout is left as it was.
  void PrepareKeyLayout(const TABSIndexDef& def, const TABSBaseFieldManager* fieldManager,
                        std::int32_t pageDataSize);

  // Writes the stored key (KeySize bytes) of the record in `recordBuffer`.
  void BuildKey(const std::byte* recordBuffer, std::byte* key) const;
  // Writes the full key (FullKeySize bytes).
  void BuildFullKey(const std::byte* recordBuffer, std::byte* fullKey) const;

  // Orders two stored keys (-1, 0, 1). With `compareLengths` (PartCount
  // entries, -1 for a whole part) text parts compare only that many leading
  // characters. Only the first `partLimit` parts count (-1: all).
  int CompareKeys(const std::byte* a, const std::byte* b,
                  const std::int32_t* compareLengths = nullptr, std::int32_t partLimit = -1) const;
  // CompareKeys from part `from` on. With `stopAtPrefixTie`, a truncating
  // prefix part whose stored prefixes are equal ends the comparison with 0 and its
  // number in `tiedPart` (the whole values must decide it); otherwise
  // `tiedPart` is -1 on return.
  int CompareKeysFrom(const std::byte* a, const std::byte* b, std::int32_t from,
                      const std::int32_t* compareLengths, std::int32_t partLimit,
                      bool stopAtPrefixTie, std::int32_t& tiedPart) const;
  // Orders part `part` of two full keys.
  int CompareFullPart(std::int32_t part, const std::byte* a, const std::byte* b) const;
  // The index order of two entries given their stored and full keys: part by
  // part, a prefix part by its stored prefix and, when those are equal, by
  // its whole value.
  int CompareEntryKeys(const std::byte* keyA, const std::byte* fullA, const std::byte* keyB,
                       const std::byte* fullB) const;
  // Orders two full keys on their first `partLimit` parts (-1: all).
  int CompareFullKeys(const std::byte* a, const std::byte* b, std::int32_t partLimit = -1) const;

  // With `on`, every text part whose field is not NULL in `recordBuffer`
  // gets the text's length in characters as compare length (a prefix
  // search); otherwise, and
  // for every other part, -1. `lengths` receives PartCount entries.
  void SetCompareLengths(const std::byte* recordBuffer, bool on, std::int32_t* lengths) const;

  // Whether some part may store only a prefix of its value, so that equal
  // stored keys may still differ in their whole values.
  bool HasPrefixParts() const { return hasPrefixParts_; }
  // Fast path of the common one-column integer key (part 0, whole value):
  // the same result as CompareKeys without compare lengths.
  bool IsSingleInteger() const { return singleInteger_; }
  int CompareSingleInteger(const std::byte* a, const std::byte* b) const {
    const bool nullA = a[0] != std::byte{0};
    const bool nullB = b[0] != std::byte{0};
    int r;
    if (nullA || nullB) {
      r = nullA == nullB ? 0 : (nullA ? -1 : 1);
    } else {
      const auto x = LoadLE<std::int32_t>(a + 1);
      const auto y = LoadLE<std::int32_t>(b + 1);
      r = (x > y) - (x < y);
    }
    return singleDescending_ ? -r : r;
  }
  const std::vector<TABSKeyPart>& Parts() const { return parts_; }

 private:
  int ComparePart(const TABSKeyPart& part, const std::byte* a, const std::byte* b,
                  std::int32_t valueBytes, std::int32_t compareLength) const;

  std::vector<TABSKeyPart> parts_;
  bool hasPrefixParts_ = false;
  bool singleInteger_ = false;
  bool singleDescending_ = false;
  bool singleIntegerBuild_ = false;  // BuildKey's shortcut applies
};

// Orders two non-null text values of `type` (a text or byte-string storage
// type) held in buffers of at most `sizeA`/`sizeB` bytes, exactly as
// CompareValuesSigned does, without a heap allocation for texts of up to a
// few hundred characters.
int CompareTextValues(const void* a, std::int32_t sizeA, const void* b, std::int32_t sizeB,
                      TABSStorageType type, bool ignoreCase, std::int32_t compareLength);
