#include "engine/components/ABSSchemaConversion.h"

#include <algorithm>
#include <vector>

#include "engine/index/ABSConstraintManager.h"
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

std::int32_t AdvSetting(const TABSAdvFieldDef& entry, TABSAdvSetting which) {
  return entry.Settings[static_cast<std::size_t>(which)];
}

void SetAdvSetting(TABSAdvFieldDef& entry, TABSAdvSetting which, std::int32_t value) {
  entry.Settings[static_cast<std::size_t>(which)] = value;
}

bool IsDefaultAdvSetting(const TABSAdvFieldDef& entry, TABSAdvSetting which) {
  return AdvSetting(entry, which) ==
         TABSAdvFieldDef::kDefaultSettings[static_cast<std::size_t>(which)];
}

// ---------------------------------------------------------------------------
// Field definitions

void AdvFieldDefsFromFieldDefs(const platform::TFieldDefs& source, TABSAdvFieldDefs& target) {
  TABSAdvFieldDefs built;
  for (int i = 0; i < source.Count(); ++i) {
    const platform::TFieldDef& def = source[i];
    built.Add(def.Name(), FieldTypeToDeclaredType(def.DataType()), def.Size(), def.Required());
  }
  target.CopyFrom(built);
}

void FieldDefsFromAdvFieldDefs(const TABSAdvFieldDefs& source, platform::TFieldDefs& target) {
  target.Clear();
  for (int i = 0; i < source.Count(); ++i) {
    const TABSAdvFieldDef& entry = source[i];
    target.Add(entry.Name, DeclaredToFieldType(entry.DataType), entry.Size, entry.Required);
  }
}

void EngineFieldDefsFromFieldDefs(const platform::TFieldDefs& source, TABSFieldDefs& target) {
  target.ClearDefs();
  for (int i = 0; i < source.Count(); ++i) {
    const platform::TFieldDef& def = source[i];
    target.AddFieldDef(EngineName(def.Name()), FieldTypeToDeclaredType(def.DataType()), def.Size());
  }
}

void EngineDefsFromAdvFieldDefs(const TABSAdvFieldDefs& source, const TABSIndexDefs& indexes,
                                const std::string& tableName, bool fieldConstraints,
                                TABSFieldDefs& fields, TABSConstraintDefs& constraints) {
  fields.ClearDefs();
  constraints.ClearDefs();
  const std::string table = EngineName(tableName);
  for (int i = 0; i < source.Count(); ++i) {
    const TABSAdvFieldDef& entry = source[i];
    TABSFieldDef* def = fields.AddFieldDef(EngineName(entry.Name), entry.DataType, entry.Size);
    def->BlobCompressionAlgorithm = entry.BlobCompressionAlgorithm;
    def->BlobCompressionMode = entry.BlobCompressionMode;
    def->BlobBlockSize =
        entry.BlobBlockSize > 0 ? entry.BlobBlockSize : TABSAdvFieldDef::kDefaultBlobBlockSize;
    // An upper bound left at its default means the engine's own.
    def->Increment = AdvSetting(entry, TABSAdvSetting::Increment);
    def->InitialValue = AdvSetting(entry, TABSAdvSetting::InitialValue);
    def->MinValue = AdvSetting(entry, TABSAdvSetting::MinValue);
    if (!IsDefaultAdvSetting(entry, TABSAdvSetting::MaxValue)) {
      def->MaxValue = AdvSetting(entry, TABSAdvSetting::MaxValue);
    }
    def->Cycled = entry.Flag;
    def->DefaultValue->Assign(*entry.DefaultValue);
    def->RebuildDefaultExpression();
    if (!fieldConstraints) continue;
    if (entry.Required) {
      TABSConstraintDefNotNull* notNull = constraints.AddNotNullConstraint();
      notNull->SetTableName(table);
      notNull->SetTargetName(def->Name());
    }
    if (!entry.MinValue->IsNull() || !entry.MaxValue->IsNull()) {
      TABSConstraintDefCheck* check = constraints.AddCheckConstraint();
      check->SetTableName(table);
      check->SetTargetName(def->Name());
      check->MinValue->Assign(*entry.MinValue);
      check->MaxValue->Assign(*entry.MaxValue);
    }
  }
  // Primary and unique indexes carry their key constraints, named as the
  // constraint manager names those of an index added to an existing table.
  for (std::int32_t i = 0; i < indexes.DefCount(); ++i) {
    const TABSIndexDef& index = *indexes[i];
    if (!index.Unique) continue;
    TABSConstraintDefUnique* key =
        index.Primary ? constraints.AddPrimaryConstraint() : constraints.AddUniqueConstraint();
    key->SetName(EngineName(IndexConstraintName(index)));
    key->SetTableName(table);
    key->SetTargetName(index.Name());
    for (const TABSIndexColumn& column : index.Columns) key->AddKeyColumn(column.Name, -1);
  }
}

void FieldDefsFromEngineFieldDefs(const TABSFieldDefs& source,
                                  const TABSConstraintDefs& constraints,
                                  platform::TFieldDefs& fields, TABSAdvFieldDefs& entries) {
  fields.Clear();
  entries.Clear();
  for (std::int32_t i = 0; i < source.DefCount(); ++i) {
    const TABSFieldDef& def = *source[i];
    const platform::TFieldType type = DeclaredToFieldType(def.DeclaredType);
    std::int32_t size = IsSizedDeclaredType(def.DeclaredType) ? def.DeclaredSize : 0;
    if (type == platform::ftGuid) size = platform::kGuidTextSize;
    bool notNull = false;
    for (std::int32_t c = 0; c < constraints.DefCount(); ++c) {
      const TABSConstraintDef& constraint = *constraints[c];
      notNull = notNull || (constraint.ConstraintKind == ckNotNull &&
                            EngineNamesEqual(constraint.TargetName, def.Name()));
    }
    const bool required = notNull && type != platform::ftAutoInc;
    fields.Add(def.Name(), type, size, required);
    TABSAdvFieldDef& adv = entries.Add(def.Name(), def.DeclaredType, size, required);
    adv.FieldNo = i + 1;
    adv.DefaultValue->Assign(*def.DefaultValue);
    adv.BlobCompressionAlgorithm = def.BlobCompressionAlgorithm;
    adv.BlobCompressionMode = def.BlobCompressionMode;
    adv.BlobBlockSize = def.BlobBlockSize;
    SetAdvSetting(adv, TABSAdvSetting::Increment, static_cast<std::int32_t>(def.Increment));
    SetAdvSetting(adv, TABSAdvSetting::InitialValue, static_cast<std::int32_t>(def.InitialValue));
    SetAdvSetting(adv, TABSAdvSetting::MinValue, static_cast<std::int32_t>(def.MinValue));
    if (def.MaxValue != INT64_MAX) {
      SetAdvSetting(adv, TABSAdvSetting::MaxValue, static_cast<std::int32_t>(def.MaxValue));
    }
    adv.Flag = def.Cycled;
  }
}

// ---------------------------------------------------------------------------
// Index definitions

void AdvIndexDefsFromIndexDefs(const platform::TIndexDefs& source, TABSAdvIndexDefs& target) {
  TABSAdvIndexDefs built;
  for (int i = 0; i < source.Count(); ++i) {
    const platform::TIndexDef& def = source[i];
    TABSAdvIndexDef& entry = built.Add(def.Name());
    entry.Fields = def.Fields();
    entry.DescFields = def.DescFields();
    entry.CaseInsFields = def.CaseInsFields();
    entry.Options = def.Options();
  }
  target.CopyFrom(built);
}

void IndexDefsFromAdvIndexDefs(const TABSAdvIndexDefs& source, platform::TIndexDefs& target) {
  target.Clear();
  for (int i = 0; i < source.Count(); ++i) {
    const TABSAdvIndexDef& entry = source[i];
    platform::TIndexDef& def = target.Add(entry.Name, entry.Fields, entry.Options);
    def.SetDescFields(entry.DescFields);
    def.SetCaseInsFields(entry.CaseInsFields);
  }
}

void EngineIndexDefsFromAdvIndexDefs(const TABSAdvIndexDefs& source, TABSIndexDefs& target) {
  target.ClearDefs();
  for (int i = 0; i < source.Count(); ++i) {
    const TABSAdvIndexDef& entry = source[i];
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
    TABSIndexDef* def = target.AddIndexDef(EngineName(entry.Name));
    def->SetColumnsFromLists(names, directions, cases);
    def->Primary = (entry.Options & platform::ixPrimary) != 0;
    def->Unique = def->Primary || (entry.Options & platform::ixUnique) != 0;
  }
}

void IndexDefsFromEngineIndexDefs(const TABSIndexDefs* source, platform::TIndexDefs& target) {
  target.Clear();
  if (source == nullptr) return;
  for (std::int32_t i = 0; i < source->DefCount(); ++i) {
    const TABSIndexDef& def = *(*source)[i];
    std::string fields, desc, cases;
    for (const TABSIndexColumn& column : def.Columns) {
      auto append = [&](std::string& list) {
        if (!list.empty()) list += ';';
        list += column.Name;
      };
      append(fields);
      if (column.Descending) append(desc);
      if (column.CaseInsensitive) append(cases);
    }
    platform::TIndexOptions options = 0;
    if (def.Primary) options |= platform::ixPrimary;
    if (def.Unique) options |= platform::ixUnique;
    platform::TIndexDef& item = target.Add(def.Name(), fields, options);
    item.SetDescFields(desc);
    item.SetCaseInsFields(cases);
  }
}
