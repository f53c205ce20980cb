// TABSTable: the definitions CreateTable and opening hand to the cursor.
// The framework's FieldDefs/IndexDefs, the component's AdvFieldDefs/
// AdvIndexDefs and the engine's field, index and constraint definitions are
// converted into one another here; CreateTable validates the component's
// field list before it builds the engine's.
#include <algorithm>

#include "engine/components/ABSTable.h"
#include "engine/index/ABSConstraintManager.h"
#include "engine/memory/ABSException.h"
#include "engine/types/ABSNames.h"
#include "engine/types/ABSTypes.h"

namespace {

constexpr std::size_t kMaxEngineNameLength = 255;

bool ListHasName(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return EngineNamesEqual(n, name); });
}

std::string EngineName(const std::string& name) {
  return name.size() > kMaxEngineNameLength ? name.substr(0, kMaxEngineNameLength) : name;
}

}  // namespace

void TABSTable::AddPersistentFieldDefs() {
  for (int i = 0; i < Fields().Count(); ++i) {
    const platform::TField& field = Fields()[i];
    if (!field.IsDataField() || FieldDefs().Find(field.FieldName()) != nullptr) continue;
    FieldDefs().Add(field.FieldName(), field.DataType(), field.Size(), field.Required());
  }
}

void TABSTable::BuildComponentDefs() {
  if (!advFieldDefs_.IsEmpty()) {
    for (int i = 0; i < advFieldDefs_.Count(); ++i) {
      TABSAdvFieldDef& entry = advFieldDefs_[i];
      const TABSStorageType storage = DeclaredToStorageType(entry.DataType);
      if (entry.Size != 0 && !IsStringStorageType(storage) &&
          !IsBytesDeclaredType(entry.DataType)) {
        entry.Size = 0;
      }
      if (entry.DataType == dtGuid) entry.Size = platform::kGuidTextSize;
    }
    ValidateAdvFieldDefs();
    FieldDefsFromAdv();
  } else {
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      if (FieldDefs()[i].DataType() == platform::ftGuid)
        FieldDefs()[i].SetSize(platform::kGuidTextSize);
    }
    // The conversion refuses a framework type without a declared type; the
    // list is only replaced once every entry converted.
    TABSAdvFieldDefs built;
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      const platform::TFieldDef& def = FieldDefs()[i];
      built.Add(def.Name(), FieldTypeToDeclaredType(def.DataType()), def.Size(), def.Required());
    }
    advFieldDefs_.CopyFrom(built);
    ValidateAdvFieldDefs();
  }
  if (!advIndexDefs_.IsEmpty()) {
    advIndexDefs_.AssignTo(IndexDefs());
  } else {
    advIndexDefs_.AssignFrom(IndexDefs());
  }
}

void TABSTable::ValidateAdvFieldDefs() const {
  const std::string table = TableName();
  for (int i = 0; i < advFieldDefs_.Count(); ++i) {
    const TABSAdvFieldDef& entry = advFieldDefs_[i];
    if (entry.Name.empty()) {
      throw EABSException(30499, "Missing field name. FieldNo=%d, table '%s'", {i, table});
    }
    if (entry.Size <= 0 &&
        (IsStringDeclaredType(entry.DataType) || IsBytesDeclaredType(entry.DataType))) {
      throw EABSException(
          30453, "Cannot create table '%s' with field: %s %s(%d)",
          {table, entry.Name, StorageTypeName(DeclaredToStorageType(entry.DataType)), entry.Size});
    }
    if (IsBlobDeclaredType(entry.DataType) && entry.BlobCompressionAlgorithm != 0 &&
        (entry.BlobCompressionMode == 0 || entry.BlobCompressionMode > 9)) {
      throw EABSException(20257,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field "
                          "'%s'. Cannot create table '%s'",
                          {entry.Name, table});
    }
  }
}

void TABSTable::FieldDefsFromAdv() {
  FieldDefs().Clear();
  for (int i = 0; i < advFieldDefs_.Count(); ++i) {
    const TABSAdvFieldDef& entry = advFieldDefs_[i];
    FieldDefs().Add(entry.Name, DeclaredToFieldType(entry.DataType), entry.Size, entry.Required);
  }
}

void TABSTable::EngineIndexDefsFromAdv() {
  engineIndexDefs_.ClearDefs();
  for (int i = 0; i < advIndexDefs_.Count(); ++i) {
    const TABSAdvIndexDef& entry = advIndexDefs_[i];
    const std::vector<std::string> names = SplitFieldList(entry.Fields);
    const std::vector<std::string> descending = SplitFieldList(entry.DescFields);
    const std::vector<std::string> caseless = SplitFieldList(entry.CaseInsFields);
    std::vector<std::string> directions, cases;
    for (const std::string& name : names) {
      directions.push_back(
          (entry.Options & platform::ixDescending) != 0 || ListHasName(descending, name) ? "DESC"
                                                                                         : "ASC");
      cases.push_back((entry.Options & platform::ixCaseInsensitive) != 0 ||
                              ListHasName(caseless, name)
                          ? "NO_CASE"
                          : "CASE");
    }
    TABSIndexDef* def = engineIndexDefs_.AddIndexDef(EngineName(entry.Name));
    def->SetColumnsFromLists(names, directions, cases);
    def->Primary = (entry.Options & platform::ixPrimary) != 0;
    def->Unique = def->Primary || (entry.Options & platform::ixUnique) != 0;
  }
}

void TABSTable::EngineFieldDefsFromFieldDefs() {
  engineFieldDefs_.ClearDefs();
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const platform::TFieldDef& def = FieldDefs()[i];
    engineFieldDefs_.AddFieldDef(EngineName(def.Name()), FieldTypeToDeclaredType(def.DataType()),
                                 def.Size());
  }
}

void TABSTable::BuildEngineDefs() {
  EngineIndexDefsFromAdv();
  engineFieldDefs_.ClearDefs();
  engineConstraintDefs_.ClearDefs();
  const std::string table = EngineName(TableName());
  for (int i = 0; i < advFieldDefs_.Count(); ++i) {
    const TABSAdvFieldDef& entry = advFieldDefs_[i];
    TABSFieldDef* def =
        engineFieldDefs_.AddFieldDef(EngineName(entry.Name), entry.DataType, entry.Size);
    def->BlobCompressionAlgorithm = entry.BlobCompressionAlgorithm;
    def->BlobCompressionMode = entry.BlobCompressionMode;
    def->BlobBlockSize =
        entry.BlobBlockSize > 0 ? entry.BlobBlockSize : TABSAdvFieldDef::kDefaultBlobBlockSize;
    // The eight settings carry the sequence of an auto-increment field; an
    // upper bound left at its default means the engine's own.
    def->Increment = entry.Settings[0];
    def->InitialValue = entry.Settings[1];
    def->MinValue = entry.Settings[2];
    if (entry.Settings[7] != TABSAdvFieldDef::kDefaultSettings[7]) {
      def->MaxValue = entry.Settings[7];
    }
    def->Cycled = entry.Flag;
    def->DefaultValue->Assign(*entry.DefaultValue);
    def->RebuildDefaultExpression();
    if (Temporary()) continue;
    if (entry.Required) {
      TABSConstraintDefNotNull* notNull = engineConstraintDefs_.AddNotNullConstraint();
      notNull->SetTableName(table);
      notNull->SetTargetName(def->Name());
    }
    if (!entry.MinValue->IsNull() || !entry.MaxValue->IsNull()) {
      TABSConstraintDefCheck* check = engineConstraintDefs_.AddCheckConstraint();
      check->SetTableName(table);
      check->SetTargetName(def->Name());
      check->MinValue->Assign(*entry.MinValue);
      check->MaxValue->Assign(*entry.MaxValue);
    }
  }
  // Primary and unique indexes carry their key constraints, named as the
  // constraint manager names those of an index added to an existing table.
  for (std::int32_t i = 0; i < engineIndexDefs_.DefCount(); ++i) {
    const TABSIndexDef& index = *engineIndexDefs_[i];
    if (!index.Unique) continue;
    TABSConstraintDefUnique* key = index.Primary ? engineConstraintDefs_.AddPrimaryConstraint()
                                                 : engineConstraintDefs_.AddUniqueConstraint();
    key->SetName(EngineName(IndexConstraintName(index)));
    key->SetTableName(table);
    key->SetTargetName(index.Name());
    for (const TABSIndexColumn& column : index.Columns) key->AddKeyColumn(column.Name, -1);
  }
}
