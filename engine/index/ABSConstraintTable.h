// What the constraint manager needs of the table it belongs to.
//
// The table data implements this interface; the constraint manager borrows
// it for its whole life. It names the table (for generated constraint
// names), its field definitions (constraints refer to fields by object ID),
// its index definitions (primary-key and unique constraints refer to an
// index by name), the number of live records, the source of new object IDs,
// and the uniqueness tests of an index, which the table answers through its
// index manager.
//
// Threads: every call happens under the table's database lock, which the
// caller of the constraint operation holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TABSFieldDefs;
class TABSIndexDefs;

class TABSConstraintTable {
 public:
  virtual ~TABSConstraintTable() = default;

  // The table's current name.
  virtual const std::string& ConstraintTableName() const = 0;
  // The table's object ID (-1 when it has none).
  virtual std::int32_t ConstraintTableId() const = 0;
  // The table's field definitions, in record order.
  virtual const TABSFieldDefs& ConstraintFieldDefs() const = 0;
  // The table's index definitions.
  virtual const TABSIndexDefs& ConstraintIndexDefs() const = 0;
  // Live records of the table.
  virtual std::int64_t ConstraintRecordCount() const = 0;
  // A new object ID of the table's database.
  virtual std::int32_t NextObjectId() = 0;
  // Whether no record has the key of record image `image` in the index with
  // object ID `indexId` (a record about to be inserted).
  virtual bool IsKeyUnique(std::int32_t indexId, std::int32_t sessionId,
                           const std::byte* image) = 0;
  // Whether no record other than the one being changed has the key of the
  // new image `newImage` in the index `indexId`; `originalImage` is that
  // record as stored before the change.
  virtual bool IsUpdateUnique(std::int32_t indexId, std::int32_t sessionId,
                              const std::byte* newImage, const std::byte* originalImage) = 0;
};
