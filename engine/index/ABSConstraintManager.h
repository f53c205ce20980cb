// The constraint manager of a table: keeps the table's constraint
// definitions, binds them to the table's fields and indexes, names the
// unnamed ones, and checks record images against them before the table
// data writes a record.
//
// Kinds: primary key (0) and unique (2) name an index (TargetName,
// TargetId) and their key fields (KeyColumns); not null (3) and check (4)
// name one field (TargetName, TargetId); a check constraint has an optional
// lower and upper bound. Kind 1 and kinds above 4 are refused.
//
// Binding records object IDs in the definitions: the index's ID in TargetId
// of a primary-key or unique constraint, the field's ID in every key column
// and in TargetId of a not-null or check constraint. A check finds its
// fields by those IDs, so renaming or moving a field keeps its constraints;
// a field that is gone raises "Field #%d not found" with the ID. The field
// number found last is kept per field so the usual check needs no search.
//
// Ownership: the manager owns its definitions and its bound state; it
// borrows the table (TABSConstraintTable), which outlives it.
// Threads: none of its own; the table data calls it under its database lock.
//
// Invariant: while bound, boundState_ has one entry per definition, in list
// order. Every operation that changes the list either updates the entry or
// drops the bound state, so the next check binds again.
//
// The definitions have no stream form (only databases in files store them),
// so there is no Load/SaveConstraintDefs here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSRecordTypes.h"
#include "engine/types/ABSVariant.h"

class TABSConstraintTable;

// The name of the key constraint an index brings: "C_PK$<col>$<col>..." for a
// primary index, "C_Unique$<col>..." for another unique one (not yet cut to
// the 255 characters of a name).
std::string IndexConstraintName(const TABSIndexDef& def);

class TABSBaseConstraintManager {
 public:
  // `table` is borrowed.
  explicit TABSBaseConstraintManager(TABSConstraintTable& table);
  virtual ~TABSBaseConstraintManager();
  TABSBaseConstraintManager(const TABSBaseConstraintManager&) = delete;
  TABSBaseConstraintManager& operator=(const TABSBaseConstraintManager&) = delete;

  const TABSConstraintDefs& ConstraintDefs() const { return *defs_; }
  // Replaces the definitions by deep copies of `source` (its errors pass on,
  // see TABSConstraintDefs::CopyListFrom); unbound afterwards.
  void AssignConstraintDefs(const TABSConstraintDefs& source);
  // For callers that change the list directly; unbound afterwards, so the
  // next check binds again.
  TABSConstraintDefs& MutableConstraintDefs() {
    bound_ = false;
    boundState_.clear();
    defCount_ = kCountUnknown;
    return *defs_;
  }
  bool IsBound() const { return bound_; }

  // Binds every constraint in list order (see the header comment). Errors:
  // primary key: 30325 "Index '%s' not found", 30331 "Field '%s' not found";
  // unique: 30326, 30332 (same texts); not null and check: 30027
  // "Field '%s' not found"; any other kind: 30037 "Not implemented yet".
  // On error the manager is unbound; IDs recorded before stay.
  void BindAllConstraints();

  // Names every unnamed not-null constraint "$C_NotNull$<table>$<field>" and
  // every unnamed check constraint "$C_Check$<table>$<field>"; any other
  // unnamed constraint raises 30038 "Not implemented yet" (constraints named
  // before stay named). While a name is taken (names compared by the engine
  // name rule), a drawn number 0..65534 is appended to the base, which is
  // shortened so that base and digits fit in 255 characters; after 65535
  // taken draws the numbers count upward from 0, so naming always ends.
  void NameUnnamedConstraints();

  // For a primary index a primary-key constraint "C_PK$<col>$<col>...", for a
  // unique index a unique constraint "C_Unique$<col>...", cut to 255
  // characters, on the index (by name and object ID) with the index's
  // columns as key fields, a new object ID, bound. Returns the new
  // constraint (borrowed), or nil for any other index. REQUIRES: `def` is in
  // the table's index definitions (else 30325 / 30326); on a binding error
  // nothing is added.
  TABSConstraintDef* AddUniqueConstraintForIndex(const TABSIndexDef& def);
  // Deletes the first primary-key or unique constraint on the index with
  // object ID `indexId`; nothing when there is none.
  void RemoveConstraintsForIndex(std::int32_t indexId);

  // Checks record image `image` against every constraint in order; the
  // first failure gives false, or raises its error when `raiseErrors` is
  // set. Keys (primary key, unique) are checked only with `checkKeys`;
  // their duplicate test asks the index (IsKeyUnique when `isInsert`, else
  // IsUpdateUnique with the new `image` and `originalImage`) and is skipped
  // for an empty table. A field that no longer exists raises 30024 (not
  // null), 30028 (check), 30329 (primary key), 30462 (unique) whatever
  // `raiseErrors` says; an unknown kind raises 30036. Binds first when the
  // list changed since the last binding (its errors pass on).
  // REQUIRES: `image` is a record image of the table; `originalImage` is
  // one too when checking keys of an update.
  bool CheckRecordConstraints(std::int32_t sessionId, const std::byte* image, bool checkKeys,
                              bool raiseErrors, const RecordPosition& position, bool isInsert,
                              const std::byte* originalImage) {
    // A table without constraints (the common case) pays one branch: the
    // plain count, not the list's virtual DefCount. kCountUnknown (after
    // MutableConstraintDefs) falls through, and CheckAll counts again.
    if (defCount_ == 0) return true;
    return CheckAll(sessionId, image, checkKeys, raiseErrors, position, isInsert, originalImage);
  }

 protected:
  // A number 0..65534 for a generated name. Tests replace it.
  virtual std::int64_t DrawNameNumber();

 private:
  // A field a constraint refers to: its object ID and where it was last.
  struct BoundField {
    std::int32_t ObjectId = -1;
    std::int32_t FieldNo = -1;
  };
  struct BoundConstraint {
    std::vector<BoundField> Fields;
    // Check bounds in the field's storage type (nil: no bound), and that type.
    std::unique_ptr<TABSVariant> Min;
    std::unique_ptr<TABSVariant> Max;
    TABSStorageType BoundType = stNone;
  };

  bool CheckAll(std::int32_t sessionId, const std::byte* image, bool checkKeys, bool raiseErrors,
                const RecordPosition& position, bool isInsert, const std::byte* originalImage);
  // Binds `def`, recording IDs in it; the bound state is returned.
  BoundConstraint Bind(TABSConstraintDef& def) const;
  void CastBounds(const TABSConstraintDefCheck& def, TABSStorageType type,
                  BoundConstraint& bound) const;
  // The field number of `field` now, or -1 when the field is gone.
  std::int32_t Resolve(BoundField& field) const;
  bool CheckKeys(const TABSConstraintDefUnique& def, BoundConstraint& bound, std::int32_t sessionId,
                 const std::byte* image, bool raiseErrors, bool isInsert,
                 const std::byte* originalImage);
  bool CheckValue(const TABSConstraintDef& def, BoundConstraint& bound, const std::byte* image,
                  bool raiseErrors);

  // defCount_ when callers may have changed the list directly.
  static constexpr std::int32_t kCountUnknown = -1;

  TABSConstraintTable& table_;
  std::unique_ptr<TABSConstraintDefs> defs_;
  // The number of definitions, or kCountUnknown; kept by every member that
  // changes the list so that the check of an empty list reads no virtual.
  std::int32_t defCount_ = 0;
  std::vector<BoundConstraint> boundState_;
  bool bound_ = false;
};
