// Table metadata definitions: the field, index and constraint definitions
// that describe a table to the engine, and the lists that hold them.
//
// The table component builds the three lists, a cursor passes them to the
// table data, and the table data's managers and every cursor keep their own
// deep copies (CopyListFrom). A field list also computes the record layout
// (null bitmap first, then every field packed in order).
//
// Ownership: a list owns its definitions; deleting, clearing or replacing a
// definition frees it. A definition owns its default value, its default
// expression, its columns and its bounds. Copies are deep. Definitions and
// lists are not thread-safe; their owner (the table data under its database
// lock, or one cursor on one thread) serialises access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/schema/ABSLateOwned.h"
#include "engine/types/ABSTypes.h"

class TABSVariant;
// A compiled expression of the query engine. This system has no query
// engine, so no expression is ever built; the pointers stay nil.
class TABSExpression;

// Names of definitions hold at most this many 8-bit characters.
inline constexpr std::size_t kMaxDefNameLength = 255;

// Base of every definition: a name and an object identifier.
class TABSMetaObjectDef {
 public:
  TABSMetaObjectDef() = default;
  virtual ~TABSMetaObjectDef();
  TABSMetaObjectDef(const TABSMetaObjectDef&) = delete;
  TABSMetaObjectDef& operator=(const TABSMetaObjectDef&) = delete;

  // The name in the engine's 8-bit (ANSI) text; longer names are cut to
  // kMaxDefNameLength characters.
  const std::string& Name() const { return name_; }
  void SetName(std::string_view name);

  // -1 for a new definition; the table data numbers definitions when it
  // creates a table.
  std::int32_t ObjectId = -1;

  // Copies the name and the identifier; derived classes copy their own
  // fields too when the source is of their class.
  virtual void CopyFrom(const TABSMetaObjectDef& source);

  // Class name used in engine messages.
  virtual const char* ClassName() const { return "TABSMetaObjectDef"; }

 private:
  std::string name_;
};

// One field of a table.
class TABSFieldDef : public TABSMetaObjectDef {
 public:
  TABSFieldDef();
  ~TABSFieldDef() override;

  TABSStorageType StorageType{};    // derived from DeclaredType
  TABSDeclaredType DeclaredType{};  // as declared
  std::int32_t DeclaredSize = 0;    // characters (strings) or bytes (byte strings)
  std::int32_t RecordWidth = 0;     // bytes in a stored record: 6 for BLOBs, else ValueSize
  std::int32_t ValueSize = 0;       // bytes in a record buffer / record image
  std::int32_t RecordOffset = 0;    // set by TABSFieldDefs::CalculateOffsets
  std::int32_t MemoryOffset = 0;    // set by TABSFieldDefs::CalculateOffsets
  // In a cursor's logical field list: the physical field this entry maps to.
  std::int32_t PhysicalFieldNo = 0;
  // The default value; never nil, NULL when the field has no default.
  std::unique_ptr<TABSVariant> DefaultValue;
  // DefaultValue compiled as an expression; nil when the default is a plain
  // value, which it always is in this system.
  TABSLateOwned<TABSExpression> DefaultExpression;
  std::uint8_t BlobCompressionAlgorithm = 0;
  std::uint8_t BlobCompressionMode = 0;
  std::int32_t BlobBlockSize = 102400;
  // Sequence settings of auto-increment fields.
  std::int64_t Increment = 1;
  std::int64_t InitialValue = 0;
  std::int64_t MinValue = 0;
  std::int64_t MaxValue = INT64_MAX;  // 0 means no limit
  bool Cycled = false;

  // Sets the declared type and size and derives the storage type and the
  // sizes. A declared type without a storage type raises 30007; a size that
  // does not fit raises the type layer's error. On failure the definition
  // is left unchanged.
  void SetFieldType(TABSDeclaredType declaredType, std::int32_t declaredSize);
  // ValueSize from StorageType and DeclaredSize; RecordWidth 6 for BLOBs.
  void RecalculateSizes();
  // Recomputes DefaultExpression from DefaultValue.
  void RebuildDefaultExpression();
  // True when DefaultValue holds a value.
  bool HasDefaultValue() const;

  // Copies everything except PhysicalFieldNo; the copy gets its own default
  // value and rebuilds its default expression.
  void CopyFrom(const TABSMetaObjectDef& source) override;
  const char* ClassName() const override { return "TABSFieldDef"; }
};

// One column of an index definition.
struct TABSIndexColumn {
  std::string Name;
  bool Descending = false;
  bool CaseInsensitive = false;
  std::int32_t IndexedLength = 20;  // characters or bytes of a string key part
};

class TABSIndexDef : public TABSMetaObjectDef {
 public:
  bool Unique = false;
  bool Primary = false;
  std::int32_t KeySize = -1;  // maintained by the index
  // The index's root page in its page manager; -1 while it has no pages.
  // The root keeps its number for the life of the index.
  std::int32_t RootPageNo = -1;
  std::vector<TABSIndexColumn> Columns;
  // 255 for an index a cursor built for one session; such indexes are
  // private to CreatorSessionId.
  std::uint8_t IsTemporaryIndex = 0;
  std::int32_t CreatorSessionId = -1;
  // The table's change counter when the index was last brought up to date.
  std::int32_t ChangeStamp = 0;

  std::int32_t ColumnCount() const { return static_cast<std::int32_t>(Columns.size()); }
  // Grows with default columns or drops the columns beyond the count.
  void SetColumnCount(std::int32_t count);
  // Column i := names[i], descending when directions[i] is exactly "DESC",
  // case-insensitive when cases[i] is exactly "NO_CASE". Lists of different
  // lengths raise 10278 (directions) or 10279 (cases).
  void SetColumnsFromLists(const std::vector<std::string>& names,
                           const std::vector<std::string>& directions,
                           const std::vector<std::string>& cases);

  void CopyFrom(const TABSMetaObjectDef& source) override;
  const char* ClassName() const override { return "TABSIndexDef"; }
};

// Constraint kinds; 1 and values above 4 exist in no class.
enum TABSConstraintKind : std::uint8_t {
  ckPrimary = 0,
  ckUnique = 2,
  ckNotNull = 3,
  ckCheck = 4,
};

class TABSConstraintDef : public TABSMetaObjectDef {
 public:
  std::uint8_t ConstraintKind = 0;
  // The table the constraint belongs to (written when the table is created).
  std::string TableName;
  std::int32_t TableId = -1;
  // The field of a not-null or check constraint, the index of a primary-key
  // or unique constraint.
  std::string TargetName;
  std::int32_t TargetId = -1;

  void SetTableName(std::string_view name);
  void SetTargetName(std::string_view name);

  void CopyFrom(const TABSMetaObjectDef& source) override;
  const char* ClassName() const override { return "TABSConstraintDef"; }
};

class TABSConstraintDefNotNull : public TABSConstraintDef {
 public:
  TABSConstraintDefNotNull() { ConstraintKind = ckNotNull; }
  const char* ClassName() const override { return "TABSConstraintDefNotNull"; }
};

class TABSConstraintDefCheck : public TABSConstraintDef {
 public:
  TABSConstraintDefCheck();
  ~TABSConstraintDefCheck() override;
  // Bounds; never nil, NULL means no bound.
  std::unique_ptr<TABSVariant> MinValue;
  std::unique_ptr<TABSVariant> MaxValue;

  void CopyFrom(const TABSMetaObjectDef& source) override;
  const char* ClassName() const override { return "TABSConstraintDefCheck"; }
};

struct TABSConstraintKeyColumn {
  std::string FieldName;  // at most kMaxDefNameLength characters
  std::int32_t FieldId = -1;
};

class TABSConstraintDefUnique : public TABSConstraintDef {
 public:
  TABSConstraintDefUnique() { ConstraintKind = ckUnique; }
  std::vector<TABSConstraintKeyColumn> KeyColumns;
  // Appends a key column, cutting the name to kMaxDefNameLength.
  void AddKeyColumn(std::string_view fieldName, std::int32_t fieldId);

  void CopyFrom(const TABSMetaObjectDef& source) override;
  const char* ClassName() const override { return "TABSConstraintDefUnique"; }
};

class TABSConstraintDefPrimary : public TABSConstraintDefUnique {
 public:
  TABSConstraintDefPrimary() { ConstraintKind = ckPrimary; }
  const char* ClassName() const override { return "TABSConstraintDefPrimary"; }
};

// Ordered list that owns its definitions. Positions are 0-based; a position
// outside the list raises 30484 "List index out of bounds (%d)".
class TABSMetaObjectDefs {
 public:
  TABSMetaObjectDefs() = default;
  virtual ~TABSMetaObjectDefs();
  TABSMetaObjectDefs(const TABSMetaObjectDefs&) = delete;
  TABSMetaObjectDefs& operator=(const TABSMetaObjectDefs&) = delete;

  virtual std::int32_t DefCount() const;
  // The list owns the definition from then on. A nil definition or one of a
  // class this list does not hold raises 30485 and frees nothing it did not
  // receive (the rejected definition is freed with the unique_ptr).
  virtual void AppendDef(std::unique_ptr<TABSMetaObjectDef> def);
  // Creates a definition of the list's class and appends it. The base
  // raises 30339.
  virtual TABSMetaObjectDef* InternalAddCreated();
  // Replaces the contents by deep copies of `source`. Two names that are
  // equal ignoring case raise 10424; the definitions copied before stay.
  virtual void CopyListFrom(const TABSMetaObjectDefs& source);
  virtual void DeleteDefAt(std::int32_t index);
  virtual void InsertDefAt(std::int32_t index, std::unique_ptr<TABSMetaObjectDef> def);
  virtual void MoveDef(std::int32_t from, std::int32_t to);
  virtual void ClearDefs();

  // Borrowed; valid while the definition stays in the list.
  TABSMetaObjectDef* DefAt(std::int32_t index) const;
  // First definition whose name equals `name` after both are upper-cased
  // with the user's locale rules; -1 / nil if none.
  std::int32_t IndexOfName(std::string_view name) const;
  TABSMetaObjectDef* FindDefByName(std::string_view name) const;
  std::int32_t IndexOfObjectId(std::int32_t objectId) const;
  TABSMetaObjectDef* FindDefByObjectId(std::int32_t objectId) const;

  virtual const char* ClassName() const { return "TABSMetaObjectDefs"; }

 protected:
  // Whether the list may hold `def`; the base holds any definition.
  virtual bool Accepts(const TABSMetaObjectDef& def) const;
  void CheckIndex(std::int32_t index, std::int32_t limit) const;
  // Copies `source` into `created`, the definition just appended; when the
  // copy fails, removes `created` again and passes the error on.
  void CopyIntoNew(TABSMetaObjectDef* created, const TABSMetaObjectDef& source);

  std::vector<std::unique_ptr<TABSMetaObjectDef>> defs_;
};

// Typed access on top of the owning list; `Def` is the class of the items.
template <class Def>
class TABSTypedDefs : public TABSMetaObjectDefs {
 public:
  Def* operator[](std::int32_t index) const { return static_cast<Def*>(DefAt(index)); }
  Def* FindByName(std::string_view name) const { return static_cast<Def*>(FindDefByName(name)); }
  Def* FindByObjectId(std::int32_t id) const { return static_cast<Def*>(FindDefByObjectId(id)); }

 protected:
  bool Accepts(const TABSMetaObjectDef& def) const override {
    return dynamic_cast<const Def*>(&def) != nullptr;
  }
};

class TABSFieldDefs : public TABSTypedDefs<TABSFieldDef> {
 public:
  TABSMetaObjectDef* InternalAddCreated() override;
  // Appends a new field definition with the name and type.
  TABSFieldDef* AddFieldDef(std::string_view name, TABSDeclaredType declaredType,
                            std::int32_t declaredSize = 0);

  // Sets MemoryOffset and RecordOffset of every field: both start after the
  // null bitmap (ceiling(count / 8) bytes) and grow by ValueSize and
  // RecordWidth. A layout larger than a signed 32-bit byte count raises
  // 30486 and leaves the offsets unchanged.
  virtual void CalculateOffsets();
  // ceiling(count / 8) + the sum of ValueSize (record buffers and the
  // in-memory record image).
  std::int32_t MemoryRecordSize() const;
  // ceiling(count / 8) + the sum of RecordWidth (stored disk records).
  std::int32_t StoredRecordSize() const;
  // Size in bytes of the null bitmap.
  std::int32_t NullBitmapSize() const { return (DefCount() + 7) / 8; }

  const char* ClassName() const override { return "TABSFieldDefs"; }
};

class TABSIndexDefs : public TABSTypedDefs<TABSIndexDef> {
 public:
  TABSMetaObjectDef* InternalAddCreated() override;
  TABSIndexDef* AddIndexDef(std::string_view name);

  virtual TABSIndexDef* GetIndexDef(std::int32_t index) const;
  // Replaces the definition at `index`; the old one is freed. A nil
  // definition raises 30488.
  virtual void SetIndexDef(std::int32_t index, std::unique_ptr<TABSIndexDef> def);

  // Object identifier of the first index whose leading columns match the
  // fields (see the implementation for the rules), -1 when none. Missing
  // lists raise 10389 (names), 10390 (directions), 10391 (field
  // definitions or case options); lists of different lengths 10276 /
  // 10277; a name that is not a field of `fieldDefs` 30487.
  std::int32_t FindIndexForFieldLists(const std::vector<std::string>* names,
                                      const std::vector<std::string>* directions,
                                      const TABSFieldDefs* fieldDefs, std::int32_t sessionId,
                                      const std::vector<std::string>* cases) const;
  bool HasIndexForFieldLists(const std::vector<std::string>* names,
                             const std::vector<std::string>* directions,
                             const TABSFieldDefs* fieldDefs, std::int32_t sessionId,
                             const std::vector<std::string>* cases) const {
    return FindIndexForFieldLists(names, directions, fieldDefs, sessionId, cases) != -1;
  }

  const char* ClassName() const override { return "TABSIndexDefs"; }
};

class TABSConstraintDefs : public TABSTypedDefs<TABSConstraintDef> {
 public:
  // Copies by kind (0, 2, 3, 4); any other kind raises 30035. Names are not
  // tested for duplicates.
  void CopyListFrom(const TABSMetaObjectDefs& source) override;

  TABSConstraintDefNotNull* AddNotNullConstraint();
  TABSConstraintDefCheck* AddCheckConstraint();
  TABSConstraintDefPrimary* AddPrimaryConstraint();
  TABSConstraintDefUnique* AddUniqueConstraint();

  const char* ClassName() const override { return "TABSConstraintDefs"; }
};
