// TABSTable: the definitions CreateTable and opening hand to the cursor.
// CreateTable prepares and validates the component's field list, then builds
// the engine's definitions from it through the conversions of
// ABSSchemaConversion.h.
#include "engine/components/ABSSchemaConversion.h"
#include "engine/components/ABSTable.h"
#include "engine/memory/ABSException.h"
#include "engine/types/ABSTypes.h"

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
    FieldDefsFromAdvFieldDefs(advFieldDefs_, FieldDefs());
  } else {
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      if (FieldDefs()[i].DataType() == platform::ftGuid)
        FieldDefs()[i].SetSize(platform::kGuidTextSize);
    }
    AdvFieldDefsFromFieldDefs(FieldDefs(), advFieldDefs_);
    ValidateAdvFieldDefs();
  }
  if (!advIndexDefs_.IsEmpty()) {
    IndexDefsFromAdvIndexDefs(advIndexDefs_, IndexDefs());
  } else {
    AdvIndexDefsFromIndexDefs(IndexDefs(), advIndexDefs_);
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

void TABSTable::BuildEngineDefs() {
  EngineIndexDefsFromAdvIndexDefs(advIndexDefs_, engineIndexDefs_);
  EngineDefsFromAdvFieldDefs(advFieldDefs_, engineIndexDefs_, TableName(), !Temporary(),
                             engineFieldDefs_, engineConstraintDefs_);
}
