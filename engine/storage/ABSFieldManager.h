// Record layout and per-field services of a table.
//
// A record image is one block of fixed size: ceil(n / 8) bytes of null
// flags (bit i of byte i div 8, least significant bit first, set = field i
// is NULL), then every field's value in field order at its MemoryOffset,
// ValueSize bytes each, packed without gaps, little-endian. A field of a
// BLOB storage type keeps in its 10 bytes the address of the BLOB block the
// in-memory table allocated for it (nil while the field is NULL).
//
// TABSBaseFieldManager belongs to one table data object. It owns the
// table's field definitions, lays the record image out from them, and fills
// in default and auto-increment values of new records. The auto-increment
// counters are shared by every cursor of the table; a session only records
// the last values it generated itself (TABSSequenceSession).
//
// Locking: none of its own; the table data calls it under its database's
// lock.
//
// The free routines move one field value between a record image and the
// form in which the dataset layer exchanges field values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/schema/ABSMetaDefs.h"

class TABSSequenceSession;
class TABSTableData;

class TABSBaseFieldManager {
 public:
  // `tableData` is the owner; borrowed and may be nil.
  explicit TABSBaseFieldManager(TABSTableData* tableData);
  virtual ~TABSBaseFieldManager();
  TABSBaseFieldManager(const TABSBaseFieldManager&) = delete;
  TABSBaseFieldManager& operator=(const TABSBaseFieldManager&) = delete;

  // Advances the counter of field `fieldNo` by its increment (1 when the
  // increment is 0) and returns it. Past a non-zero MaxValue (or past the
  // 64-bit range) the counter restarts at MinValue when the field is Cycled
  // and otherwise raises 20160, leaving the counter where it was. A field
  // number outside the fields raises 30402, outside the counters 30403.
  virtual std::int64_t NextAutoincValue(std::int32_t fieldNo);
  // Writes the default value of every non-BLOB field that has one into
  // `image` and clears its null flag; other fields keep their flags. A nil
  // image raises 30500; any failure leaves the image as it was.
  virtual void ApplyDefaults(TABSSequenceSession* session, void* image);
  // For every auto-increment field of `image`: a NULL field gets the next
  // sequence value; a value of its own above the counter moves the counter
  // up to it. Counters of fields already handled stay advanced when a later
  // field fails. A nil image raises 30501.
  virtual void ApplyAutoincs(TABSSequenceSession* session, void* image);
  // NextAutoincValue, recorded in `session` (when given) as its last value
  // for the field.
  virtual std::int64_t NextSequenceValue(TABSSequenceSession* session, std::int32_t fieldNo);
  // The session's last value for the field; without one, 30012 for a
  // multi-user session, else the counter of an auto-increment field and 0
  // for any other field. A field number outside the fields raises 30498.
  virtual std::int64_t GetSequenceLastValue(TABSSequenceSession* session, std::int32_t fieldNo);

  TABSFieldDefs& FieldDefs() { return *fieldDefs_; }
  const TABSFieldDefs& FieldDefs() const { return *fieldDefs_; }
  TABSTableData* TableData() const { return tableData_; }

  // Recomputes the offsets of every field from the field order and sizes.
  void ComputeLayout();
  // ceil(count / 8) + the sum of the value sizes. A table without fields
  // raises 10131 (0 while DesignMode is set).
  std::int32_t GetRecordSize() const;
  // One counter per field: InitialValue for auto-increment fields, else 0.
  void ResetAutoincCounters();
  // Whether the table has a field of a BLOB storage type; raises 10421 when
  // the first such field has no BLOB block size.
  bool HasBlobFields() const;
  const std::vector<std::int64_t>& AutoincCounters() const { return counters_; }

  // The counters as a byte block: a signed 32-bit count followed by that
  // many signed 64-bit values, little-endian.
  std::vector<std::byte> WriteAutoincCounters() const;
  // Replaces the counters from such a block; a block that is too short for
  // its count raises 30497 and changes nothing.
  void ReadAutoincCounters(const void* block, std::int64_t size);

  // Whether two record images hold the same record: every null-flag byte,
  // then the value of every field that is not NULL: all bytes of a
  // fixed-size value, text up to and including its terminator, the block
  // address of a BLOB field. A nil image raises 30495 or 30496.
  bool CompareRecordImages(const void* a, const void* b) const;

 private:
  const TABSFieldDef& Field(std::int32_t fieldNo) const;

  std::unique_ptr<TABSFieldDefs> fieldDefs_;  // owned, in record order
  TABSTableData* tableData_;                  // the owner; borrowed
  std::vector<std::int64_t> counters_;        // last value handed out, per field
};

// Reads field `fieldNo` of `image` into `destination` in the dataset's
// exchange form: dtShortint as a signed 16-bit value, dtCardinal as an
// unsigned 64-bit value, dtSingle and dtExtended as a double, every other
// type its ValueSize bytes unchanged; BLOB declared types are not copied.
// Returns false (destination untouched) when the field is NULL, true when
// it has a value, also without copying when `destination` is nil.
// Raises 10000 for a field number outside the fields, 10003 for a nil image.
bool FieldDataFromRecord(std::int32_t fieldNo, const TABSFieldDefs& fieldDefs, void* destination,
                         const void* image);
// Writes field `fieldNo` of `image` from `source` in the exchange form (the
// reverse of FieldDataFromRecord). A nil source, and a text source whose
// first character is 0, make the field NULL (its value bytes stay).
// Raises 10004 for a field number outside the fields, 30502 for a nil image.
void FieldDataToRecord(std::int32_t fieldNo, const TABSFieldDefs& fieldDefs, const void* source,
                       void* image);
// Whether the first `length` bytes of `a` and `b` are equal (true for a
// length of 0 or less). A nil block raises 10122 (a) or 10123 (b).
bool CompareBytes(const void* a, const void* b, std::int64_t length);

// The BLOB block address kept in BLOB field `field` of `image`. All bytes of
// the address are kept (the field's 10 value bytes have room for it); the
// bytes after it are zero. A field that is not of a BLOB storage type
// raises 30503, a nil image 30504 (get) or 30505 (set).
void* GetBlobBlockAddress(const void* image, const TABSFieldDef& field);
void SetBlobBlockAddress(void* image, const TABSFieldDef& field, const void* block);
