#include "engine/schema/ABSMetaDefs.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSNames.h"
#include "engine/types/ABSVariant.h"

namespace {

// The start of every CopyFrom of a definition class T whose base class is
// Base: nothing to do when the source is the definition itself; a source of
// another class gives only what Base knows. Returns the source as a T when
// the caller has its own fields to copy, nullptr otherwise.
template <class T, class Base>
const T* CopySourceAs(T& self, const TABSMetaObjectDef& source) {
  if (&source == &self) return nullptr;
  const auto* src = dynamic_cast<const T*>(&source);
  if (src == nullptr) self.Base::CopyFrom(source);
  return src;
}

std::string CutName(std::string_view name) {
  return std::string(name.substr(0, std::min(name.size(), kMaxDefNameLength)));
}

// Equality ignoring the case of the letters a to z only.
bool SameAsciiIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::unique_ptr<TABSVariant> NewNullVariant() {
  return std::make_unique<TABSVariant>(stNone);
}

// A deep copy of `source` (value or NULL, with its type).
std::unique_ptr<TABSVariant> CopyVariant(const TABSVariant* source) {
  auto copy = NewNullVariant();
  if (source != nullptr) copy->Assign(*source, true);
  return copy;
}

std::int32_t CheckedSize(std::int64_t size) {
  if (size > std::numeric_limits<std::int32_t>::max()) {
    throw EABSException(native_code::kDefsRecordTooLarge, "Record size exceeds %d bytes",
                        {std::numeric_limits<std::int32_t>::max()});
  }
  return static_cast<std::int32_t>(size);
}

}  // namespace

// ---------------------------------------------------------------------------
// Definitions

TABSMetaObjectDef::~TABSMetaObjectDef() = default;

void TABSMetaObjectDef::SetName(std::string_view name) {
  name_ = CutName(name);
}

void TABSMetaObjectDef::CopyFrom(const TABSMetaObjectDef& source) {
  if (&source == this) return;
  name_ = source.name_;
  ObjectId = source.ObjectId;
}

TABSFieldDef::TABSFieldDef() : DefaultValue(NewNullVariant()) {}

TABSFieldDef::~TABSFieldDef() = default;

void TABSFieldDef::SetFieldType(TABSDeclaredType declaredType, std::int32_t declaredSize) {
  const TABSStorageType storageType = DeclaredToStorageType(declaredType);
  if (storageType == stNone) {
    throw EABSException(30007, "Unsupported data type '%s'", {DeclaredTypeName(declaredType)});
  }
  // Computed before anything changes, so a failure leaves the definition as
  // it was.
  const std::int32_t valueSize = StorageValueSize(storageType, declaredSize);
  DeclaredType = declaredType;
  StorageType = storageType;
  DeclaredSize = declaredSize;
  ValueSize = valueSize;
  RecordWidth = IsBlobStorageType(storageType) ? 6 : valueSize;
}

void TABSFieldDef::RecalculateSizes() {
  ValueSize = StorageValueSize(StorageType, DeclaredSize);
  // The stored record keeps a 6-byte reference for a BLOB instead of the
  // in-memory block address.
  RecordWidth = IsBlobStorageType(StorageType) ? 6 : ValueSize;
}

void TABSFieldDef::RebuildDefaultExpression() {
  DefaultExpression.reset();
  // A default is compiled only when it is text that the query engine parses
  // as a non-constant expression. This system has no query engine, so every
  // default stays a plain value and DefaultExpression stays nil.
}

bool TABSFieldDef::HasDefaultValue() const {
  return DefaultValue && !DefaultValue->IsNull();
}

void TABSFieldDef::CopyFrom(const TABSMetaObjectDef& source) {
  const auto* src = CopySourceAs<TABSFieldDef, TABSMetaObjectDef>(*this, source);
  if (src == nullptr) return;
  // The only step that can fail comes first.
  auto defaultValue = CopyVariant(src->DefaultValue.get());
  TABSMetaObjectDef::CopyFrom(source);
  StorageType = src->StorageType;
  DeclaredType = src->DeclaredType;
  DeclaredSize = src->DeclaredSize;
  RecordWidth = src->RecordWidth;
  ValueSize = src->ValueSize;
  RecordOffset = src->RecordOffset;
  MemoryOffset = src->MemoryOffset;
  DefaultValue = std::move(defaultValue);
  BlobCompressionAlgorithm = src->BlobCompressionAlgorithm;
  BlobCompressionMode = src->BlobCompressionMode;
  BlobBlockSize = src->BlobBlockSize;
  Increment = src->Increment;
  InitialValue = src->InitialValue;
  MinValue = src->MinValue;
  MaxValue = src->MaxValue;
  Cycled = src->Cycled;
  RebuildDefaultExpression();
}

void TABSIndexDef::SetColumnCount(std::int32_t count) {
  Columns.resize(static_cast<std::size_t>(std::max(count, 0)));
}

void TABSIndexDef::SetColumnsFromLists(const std::vector<std::string>& names,
                                       const std::vector<std::string>& directions,
                                       const std::vector<std::string>& cases) {
  const auto n = static_cast<std::int64_t>(names.size());
  if (static_cast<std::int64_t>(directions.size()) != n) {
    throw EABSException(10278, "Error - different list lengths. L1 = %d, L2 = %d",
                        {n, static_cast<std::int64_t>(directions.size())});
  }
  if (static_cast<std::int64_t>(cases.size()) != n) {
    throw EABSException(10279, "Error - different list lengths. L1 = %d, L2 = %d",
                        {n, static_cast<std::int64_t>(cases.size())});
  }
  std::vector<TABSIndexColumn> columns(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    columns[i].Name = names[i];
    columns[i].Descending = directions[i] == "DESC";
    columns[i].CaseInsensitive = cases[i] == "NO_CASE";
    columns[i].IndexedLength = 20;
  }
  Columns = std::move(columns);
}

void TABSIndexDef::CopyFrom(const TABSMetaObjectDef& source) {
  const auto* src = CopySourceAs<TABSIndexDef, TABSMetaObjectDef>(*this, source);
  if (src == nullptr) return;
  auto columns = src->Columns;
  TABSMetaObjectDef::CopyFrom(source);
  Unique = src->Unique;
  Primary = src->Primary;
  KeySize = src->KeySize;
  Columns = std::move(columns);
  IsTemporaryIndex = src->IsTemporaryIndex;
  CreatorSessionId = src->CreatorSessionId;
  ChangeStamp = src->ChangeStamp;
  RootPageNo = src->RootPageNo;
}

void TABSConstraintDef::SetTableName(std::string_view name) {
  TableName = CutName(name);
}

void TABSConstraintDef::SetTargetName(std::string_view name) {
  TargetName = CutName(name);
}

void TABSConstraintDef::CopyFrom(const TABSMetaObjectDef& source) {
  if (&source == this) return;
  TABSMetaObjectDef::CopyFrom(source);
  const auto* src = dynamic_cast<const TABSConstraintDef*>(&source);
  if (src == nullptr) return;
  // The names are public fields; a copy keeps them to the length a name
  // may have even when the source was assigned a longer one directly.
  ConstraintKind = src->ConstraintKind;
  TableName = CutName(src->TableName);
  TableId = src->TableId;
  TargetName = CutName(src->TargetName);
  TargetId = src->TargetId;
}

TABSConstraintDefCheck::TABSConstraintDefCheck()
    : MinValue(NewNullVariant()), MaxValue(NewNullVariant()) {
  ConstraintKind = ckCheck;
}

TABSConstraintDefCheck::~TABSConstraintDefCheck() = default;

void TABSConstraintDefCheck::CopyFrom(const TABSMetaObjectDef& source) {
  const auto* src = CopySourceAs<TABSConstraintDefCheck, TABSConstraintDef>(*this, source);
  if (src == nullptr) return;
  auto minValue = CopyVariant(src->MinValue.get());
  auto maxValue = CopyVariant(src->MaxValue.get());
  TABSConstraintDef::CopyFrom(source);
  MinValue = std::move(minValue);
  MaxValue = std::move(maxValue);
}

void TABSConstraintDefUnique::AddKeyColumn(std::string_view fieldName, std::int32_t fieldId) {
  KeyColumns.push_back({CutName(fieldName), fieldId});
}

void TABSConstraintDefUnique::CopyFrom(const TABSMetaObjectDef& source) {
  const auto* src = CopySourceAs<TABSConstraintDefUnique, TABSConstraintDef>(*this, source);
  if (src == nullptr) return;
  auto keyColumns = src->KeyColumns;
  for (auto& column : keyColumns) column.FieldName = CutName(column.FieldName);
  TABSConstraintDef::CopyFrom(source);
  KeyColumns = std::move(keyColumns);
}

// ---------------------------------------------------------------------------
// Lists

TABSMetaObjectDefs::~TABSMetaObjectDefs() = default;

std::int32_t TABSMetaObjectDefs::DefCount() const {
  return static_cast<std::int32_t>(defs_.size());
}

bool TABSMetaObjectDefs::Accepts(const TABSMetaObjectDef&) const {
  return true;
}

void TABSMetaObjectDefs::CheckIndex(std::int32_t index, std::int32_t limit) const {
  if (index < 0 || index >= limit) {
    throw EABSException(native_code::kDefsListIndex, "List index out of bounds (%d)", {index});
  }
}

void TABSMetaObjectDefs::AppendDef(std::unique_ptr<TABSMetaObjectDef> def) {
  InsertDefAt(DefCount(), std::move(def));
}

TABSMetaObjectDef* TABSMetaObjectDefs::InternalAddCreated() {
  throw EABSException(30339, "The method '%s' not overrided in class '%s'",
                      {"InternalAddCreated", ClassName()});
}

void TABSMetaObjectDefs::CopyListFrom(const TABSMetaObjectDefs& source) {
  // Copying a list onto itself would clear the source first.
  if (&source == this) return;
  ClearDefs();
  for (const auto& def : source.defs_) {
    if (IndexOfName(def->Name()) != -1) {
      throw EABSException(10424, "Duplicate field name %s", {def->Name()});
    }
    CopyIntoNew(InternalAddCreated(), *def);
  }
}

void TABSMetaObjectDefs::CopyIntoNew(TABSMetaObjectDef* created, const TABSMetaObjectDef& source) {
  // A copy that fails (its default value or bounds could not be allocated)
  // must not leave a blank definition behind the ones copied before it.
  try {
    created->CopyFrom(source);
  } catch (...) {
    DeleteDefAt(DefCount() - 1);
    throw;
  }
}

void TABSMetaObjectDefs::DeleteDefAt(std::int32_t index) {
  CheckIndex(index, DefCount());
  defs_.erase(defs_.begin() + index);
}

void TABSMetaObjectDefs::InsertDefAt(std::int32_t index, std::unique_ptr<TABSMetaObjectDef> def) {
  if (!def || !Accepts(*def)) {
    throw EABSException(native_code::kDefsWrongClass,
                        "Cannot add definition of class '%s' to list of class '%s'",
                        {def ? def->ClassName() : "nil", ClassName()});
  }
  CheckIndex(index, DefCount() + 1);
  defs_.insert(defs_.begin() + index, std::move(def));
}

void TABSMetaObjectDefs::MoveDef(std::int32_t from, std::int32_t to) {
  CheckIndex(from, DefCount());
  CheckIndex(to, DefCount());
  auto def = std::move(defs_[static_cast<std::size_t>(from)]);
  defs_.erase(defs_.begin() + from);
  defs_.insert(defs_.begin() + to, std::move(def));
}

void TABSMetaObjectDefs::ClearDefs() {
  defs_.clear();
}

TABSMetaObjectDef* TABSMetaObjectDefs::DefAt(std::int32_t index) const {
  CheckIndex(index, DefCount());
  return defs_[static_cast<std::size_t>(index)].get();
}

std::int32_t TABSMetaObjectDefs::IndexOfName(std::string_view name) const {
  // Stored names are cut to their limit, so the name asked for is cut the
  // same way: a definition is found by the name it was given.
  const std::string wanted = EngineNameKey(CutName(name));
  for (std::size_t i = 0; i < defs_.size(); ++i) {
    if (EngineNameKey(defs_[i]->Name()) == wanted) return static_cast<std::int32_t>(i);
  }
  return -1;
}

TABSMetaObjectDef* TABSMetaObjectDefs::FindDefByName(std::string_view name) const {
  const std::int32_t i = IndexOfName(name);
  return i < 0 ? nullptr : defs_[static_cast<std::size_t>(i)].get();
}

std::int32_t TABSMetaObjectDefs::IndexOfObjectId(std::int32_t objectId) const {
  for (std::size_t i = 0; i < defs_.size(); ++i) {
    if (defs_[i]->ObjectId == objectId) return static_cast<std::int32_t>(i);
  }
  return -1;
}

TABSMetaObjectDef* TABSMetaObjectDefs::FindDefByObjectId(std::int32_t objectId) const {
  const std::int32_t i = IndexOfObjectId(objectId);
  return i < 0 ? nullptr : defs_[static_cast<std::size_t>(i)].get();
}

// ---------------------------------------------------------------------------
// Field list

TABSMetaObjectDef* TABSFieldDefs::InternalAddCreated() {
  auto def = std::make_unique<TABSFieldDef>();
  TABSFieldDef* raw = def.get();
  AppendDef(std::move(def));
  return raw;
}

TABSFieldDef* TABSFieldDefs::AddFieldDef(std::string_view name, TABSDeclaredType declaredType,
                                         std::int32_t declaredSize) {
  auto def = std::make_unique<TABSFieldDef>();
  def->SetName(name);
  def->SetFieldType(declaredType, declaredSize);  // may raise before the list changes
  TABSFieldDef* raw = def.get();
  AppendDef(std::move(def));
  return raw;
}

void TABSFieldDefs::CalculateOffsets() {
  // Checked in full first, so an oversized layout changes no offset.
  const std::int64_t bitmap = NullBitmapSize();
  std::int64_t memoryEnd = bitmap;
  std::int64_t recordEnd = bitmap;
  for (const auto& def : defs_) {
    const auto* field = static_cast<const TABSFieldDef*>(def.get());
    memoryEnd += field->ValueSize;
    recordEnd += field->RecordWidth;
  }
  CheckedSize(std::max(memoryEnd, recordEnd));

  std::int32_t memoryOffset = static_cast<std::int32_t>(bitmap);
  std::int32_t recordOffset = memoryOffset;
  for (const auto& def : defs_) {
    auto* field = static_cast<TABSFieldDef*>(def.get());
    field->MemoryOffset = memoryOffset;
    field->RecordOffset = recordOffset;
    memoryOffset += field->ValueSize;
    recordOffset += field->RecordWidth;
  }
}

std::int32_t TABSFieldDefs::MemoryRecordSize() const {
  std::int64_t size = NullBitmapSize();
  for (const auto& def : defs_) size += static_cast<const TABSFieldDef*>(def.get())->ValueSize;
  return CheckedSize(size);
}

std::int32_t TABSFieldDefs::StoredRecordSize() const {
  std::int64_t size = NullBitmapSize();
  for (const auto& def : defs_) size += static_cast<const TABSFieldDef*>(def.get())->RecordWidth;
  return CheckedSize(size);
}

// ---------------------------------------------------------------------------
// Index list

TABSMetaObjectDef* TABSIndexDefs::InternalAddCreated() {
  return AddIndexDef({});
}

TABSIndexDef* TABSIndexDefs::AddIndexDef(std::string_view name) {
  auto def = std::make_unique<TABSIndexDef>();
  def->SetName(name);
  TABSIndexDef* raw = def.get();
  AppendDef(std::move(def));
  return raw;
}

TABSIndexDef* TABSIndexDefs::GetIndexDef(std::int32_t index) const {
  return (*this)[index];
}

void TABSIndexDefs::SetIndexDef(std::int32_t index, std::unique_ptr<TABSIndexDef> def) {
  CheckIndex(index, DefCount());
  if (!def) throw EABSException(native_code::kIndexDefNil, "Nil pointer occured");
  defs_[static_cast<std::size_t>(index)] = std::move(def);
}

std::int32_t TABSIndexDefs::FindIndexForFieldLists(const std::vector<std::string>* names,
                                                   const std::vector<std::string>* directions,
                                                   const TABSFieldDefs* fieldDefs,
                                                   std::int32_t sessionId,
                                                   const std::vector<std::string>* cases) const {
  if (names == nullptr) throw EABSException(10389, "Nil pointer occured");
  if (directions == nullptr) throw EABSException(10390, "Nil pointer occured");
  if (fieldDefs == nullptr || cases == nullptr) throw EABSException(10391, "Nil pointer occured");
  const auto n = static_cast<std::int64_t>(names->size());
  if (static_cast<std::int64_t>(directions->size()) != n) {
    throw EABSException(10276, "Error - different list lengths. L1 = %d, L2 = %d",
                        {n, static_cast<std::int64_t>(directions->size())});
  }
  if (static_cast<std::int64_t>(cases->size()) != n) {
    throw EABSException(10277, "Error - different list lengths. L1 = %d, L2 = %d",
                        {n, static_cast<std::int64_t>(cases->size())});
  }
  // Whether each named field holds text, looked up once: "CASE" asks for a
  // case-sensitive column of a text field only, while "NO_CASE" asks for a
  // case-insensitive column whatever the field's type.
  std::vector<bool> isString(names->size());
  for (std::size_t i = 0; i < names->size(); ++i) {
    const TABSFieldDef* field = fieldDefs->FindByName((*names)[i]);
    if (field == nullptr)
      throw EABSException(native_code::kIndexFieldNotFound, "Field '%s' not found", {(*names)[i]});
    isString[i] = IsStringStorageType(field->StorageType);
  }

  for (const auto& def : defs_) {
    const auto* index = static_cast<const TABSIndexDef*>(def.get());
    if (index->ColumnCount() < n) continue;
    if (index->IsTemporaryIndex != 0 && index->CreatorSessionId != sessionId) continue;
    bool matches = true;
    for (std::size_t i = 0; matches && i < names->size(); ++i) {
      const TABSIndexColumn& column = index->Columns[i];
      const std::string& direction = (*directions)[i];
      const std::string& caseOption = (*cases)[i];
      matches = SameAsciiIgnoringCase(column.Name, (*names)[i]) &&
                !(direction == "ASC" && column.Descending) &&
                !(direction == "DESC" && !column.Descending) &&
                !(isString[i] && caseOption == "CASE" && column.CaseInsensitive) &&
                !(caseOption == "NO_CASE" && !column.CaseInsensitive);
    }
    if (matches) return index->ObjectId;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Constraint list

namespace {

template <class Def>
Def* AppendNew(TABSMetaObjectDefs& list) {
  auto def = std::make_unique<Def>();
  Def* raw = def.get();
  list.AppendDef(std::move(def));
  return raw;
}

}  // namespace

TABSConstraintDefNotNull* TABSConstraintDefs::AddNotNullConstraint() {
  return AppendNew<TABSConstraintDefNotNull>(*this);
}

TABSConstraintDefCheck* TABSConstraintDefs::AddCheckConstraint() {
  return AppendNew<TABSConstraintDefCheck>(*this);
}

TABSConstraintDefPrimary* TABSConstraintDefs::AddPrimaryConstraint() {
  return AppendNew<TABSConstraintDefPrimary>(*this);
}

TABSConstraintDefUnique* TABSConstraintDefs::AddUniqueConstraint() {
  return AppendNew<TABSConstraintDefUnique>(*this);
}

void TABSConstraintDefs::CopyListFrom(const TABSMetaObjectDefs& source) {
  if (&source == this) return;
  ClearDefs();
  for (std::int32_t i = 0; i < source.DefCount(); ++i) {
    const TABSMetaObjectDef* def = source.DefAt(i);
    const auto* constraint = dynamic_cast<const TABSConstraintDef*>(def);
    TABSConstraintDef* copy = nullptr;
    switch (constraint != nullptr ? constraint->ConstraintKind : 255) {
      case ckPrimary:
        copy = AddPrimaryConstraint();
        break;
      case ckUnique:
        copy = AddUniqueConstraint();
        break;
      case ckNotNull:
        copy = AddNotNullConstraint();
        break;
      case ckCheck:
        copy = AddCheckConstraint();
        break;
      default:
        throw EABSException(30035, "Not implemented yet");
    }
    CopyIntoNew(copy, *def);
  }
}
