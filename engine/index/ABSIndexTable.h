// What an index needs of the table it belongs to.
//
// The table data implements this interface; an index borrows it for its
// whole life. It names the table's field manager (the field definitions the
// key layout is built from), its record manager (records are read by
// position to settle ties on whole values and to answer navigation, and
// walked in record order to build an index), the page manager that holds the
// pages of a given index, and the source of new object IDs.
//
// Threads: every call happens under the table's database lock, which the
// caller of the index operation holds.
#pragma once

#include <cstdint>

class TABSBaseFieldManager;
class TABSBaseRecordManager;
class TABSPageManager;
class TABSIndexDef;

class TABSIndexTable {
 public:
  virtual ~TABSIndexTable() = default;

  // The table's field manager; nil while the table has none.
  virtual const TABSBaseFieldManager* IndexFieldManager() const = 0;
  // The table's record manager. Records are read with FetchMode::Current
  // and walked from before the first record with FetchMode::Next.
  virtual TABSBaseRecordManager& IndexRecordManager() = 0;
  // The page manager that holds the pages of the index `def` (temporary
  // indexes may live in another one than permanent indexes).
  virtual TABSPageManager& IndexPageManager(const TABSIndexDef& def) = 0;
  // A new object ID of the table's database.
  virtual std::int32_t NextObjectId() = 0;
};
