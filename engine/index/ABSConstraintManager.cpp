#include "engine/index/ABSConstraintManager.h"

#include <string_view>
#include <unordered_set>
#include <utility>

#include "engine/index/ABSConstraintTable.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/types/ABSNames.h"
#include "platform/os/Random.h"

namespace {

constexpr const char* kNullText = "Constraint '%s' violated. Value in field '%s' cannot be null";
constexpr const char* kFieldNoText = "Field #%d not found";
constexpr const char* kNotImplemented = "Not implemented yet";
// Draws of a number for a taken name before counting upward instead.
constexpr std::int64_t kNameDraws = 65535;

// `base` with `digits` appended, the base shortened so both fit in the
// length a definition name keeps.
std::string NameWithDigits(const std::string& base, const std::string& digits) {
  const std::size_t room = kMaxDefNameLength - digits.size();
  return base.substr(0, std::min(base.size(), room)) + digits;
}

std::string CutToNameLength(std::string name) {
  if (name.size() > kMaxDefNameLength) name.resize(kMaxDefNameLength);
  return name;
}

}  // namespace

TABSBaseConstraintManager::TABSBaseConstraintManager(TABSConstraintTable& table)
    : table_(table), defs_(std::make_unique<TABSConstraintDefs>()) {}

TABSBaseConstraintManager::~TABSBaseConstraintManager() = default;

void TABSBaseConstraintManager::AssignConstraintDefs(const TABSConstraintDefs& source) {
  bound_ = false;
  boundState_.clear();
  defCount_ = kCountUnknown;
  defs_->CopyListFrom(source);
  defCount_ = defs_->DefCount();
}

std::int64_t TABSBaseConstraintManager::DrawNameNumber() {
  return platform::RandomBelow(65535);
}

// ---------------------------------------------------------------------------
// Binding

void TABSBaseConstraintManager::CastBounds(const TABSConstraintDefCheck& def, TABSStorageType type,
                                           BoundConstraint& bound) const {
  auto cast = [type](const std::unique_ptr<TABSVariant>& value) -> std::unique_ptr<TABSVariant> {
    if (!value || value->IsNull()) return nullptr;
    auto copy = std::make_unique<TABSVariant>();
    copy->Assign(*value, true);
    if (copy->DataType() != type) copy->CastTo(type);
    return copy;
  };
  bound.Min = cast(def.MinValue);
  bound.Max = cast(def.MaxValue);
  bound.BoundType = type;
}

TABSBaseConstraintManager::BoundConstraint TABSBaseConstraintManager::Bind(
    TABSConstraintDef& def) const {
  const TABSFieldDefs& fields = table_.ConstraintFieldDefs();
  BoundConstraint bound;
  switch (def.ConstraintKind) {
    case ckPrimary:
    case ckUnique: {
      const bool primary = def.ConstraintKind == ckPrimary;
      // A definition of the base class with a key kind has no key columns.
      auto* keyedDef = dynamic_cast<TABSConstraintDefUnique*>(&def);
      if (keyedDef == nullptr) throw EABSException(30037, kNotImplemented);
      auto& keyed = *keyedDef;
      const TABSIndexDef* index = table_.ConstraintIndexDefs().FindByName(def.TargetName);
      if (index == nullptr) {
        throw EABSException(primary ? 30325 : 30326, "Index '%s' not found", {def.TargetName});
      }
      // IDs are written only when every key field exists, so a failed
      // binding leaves the definition as it was.
      std::vector<BoundField> found;
      for (const TABSConstraintKeyColumn& column : keyed.KeyColumns) {
        const std::int32_t no = fields.IndexOfName(column.FieldName);
        if (no < 0) {
          throw EABSException(primary ? 30331 : 30332, "Field '%s' not found", {column.FieldName});
        }
        found.push_back({fields[no]->ObjectId, no});
      }
      def.TargetId = index->ObjectId;
      for (std::size_t i = 0; i < found.size(); ++i)
        keyed.KeyColumns[i].FieldId = found[i].ObjectId;
      bound.Fields = std::move(found);
      break;
    }
    case ckNotNull:
    case ckCheck: {
      const std::int32_t no = fields.IndexOfName(def.TargetName);
      if (no < 0) throw EABSException(30027, "Field '%s' not found", {def.TargetName});
      if (def.ConstraintKind == ckCheck) {
        const auto* check = dynamic_cast<const TABSConstraintDefCheck*>(&def);
        if (check == nullptr) throw EABSException(30037, kNotImplemented);
        CastBounds(*check, fields[no]->StorageType, bound);
      }
      def.TargetId = fields[no]->ObjectId;
      bound.Fields.push_back({def.TargetId, no});
      break;
    }
    default:
      throw EABSException(30037, kNotImplemented);
  }
  return bound;
}

void TABSBaseConstraintManager::BindAllConstraints() {
  bound_ = false;
  boundState_.clear();
  std::vector<BoundConstraint> state;
  state.reserve(static_cast<std::size_t>(defs_->DefCount()));
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) state.push_back(Bind(*(*defs_)[i]));
  boundState_ = std::move(state);
  bound_ = true;
}

// ---------------------------------------------------------------------------
// Names

void TABSBaseConstraintManager::NameUnnamedConstraints() {
  std::unordered_set<std::string> taken;
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) {
    if (!(*defs_)[i]->Name().empty()) taken.insert(EngineNameKey((*defs_)[i]->Name()));
  }
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) {
    TABSConstraintDef& def = *(*defs_)[i];
    if (!def.Name().empty()) continue;
    std::string base;
    if (def.ConstraintKind == ckNotNull) {
      base = "$C_NotNull$";
    } else if (def.ConstraintKind == ckCheck) {
      base = "$C_Check$";
    } else {
      throw EABSException(30038, kNotImplemented);
    }
    base += table_.ConstraintTableName() + "$" + def.TargetName;
    std::string name = CutToNameLength(base);
    std::string key = EngineNameKey(name);
    // Each candidate fits in 255 characters whole, so the digits are never
    // cut off; after kNameDraws taken draws, counting upward reaches a free
    // name because the list is finite.
    for (std::int64_t attempt = 0; taken.count(key) != 0; ++attempt) {
      const std::int64_t number = attempt < kNameDraws ? DrawNameNumber() : attempt - kNameDraws;
      name = NameWithDigits(base, std::to_string(number));
      key = EngineNameKey(name);
    }
    def.SetName(name);
    taken.insert(std::move(key));
  }
}

// ---------------------------------------------------------------------------
// Constraints of indexes

std::string IndexConstraintName(const TABSIndexDef& def) {
  std::string name = def.Primary ? "C_PK" : "C_Unique";
  for (const TABSIndexColumn& column : def.Columns) name += "$" + column.Name;
  return name;
}

TABSConstraintDef* TABSBaseConstraintManager::AddUniqueConstraintForIndex(const TABSIndexDef& def) {
  std::unique_ptr<TABSConstraintDefUnique> constraint;
  if (def.Primary) {
    constraint = std::make_unique<TABSConstraintDefPrimary>();
  } else if (def.Unique) {
    constraint = std::make_unique<TABSConstraintDefUnique>();
  } else {
    return nullptr;
  }
  constraint->SetName(IndexConstraintName(def));
  constraint->SetTargetName(def.Name());
  constraint->TargetId = def.ObjectId;
  constraint->SetTableName(table_.ConstraintTableName());
  constraint->TableId = table_.ConstraintTableId();
  for (const TABSIndexColumn& column : def.Columns) constraint->AddKeyColumn(column.Name, -1);
  BoundConstraint bound = Bind(*constraint);
  constraint->ObjectId = table_.NextObjectId();
  TABSConstraintDef* added = constraint.get();
  if (bound_) boundState_.reserve(boundState_.size() + 1);
  defs_->AppendDef(std::move(constraint));
  defCount_ = defs_->DefCount();
  if (bound_) boundState_.push_back(std::move(bound));
  return added;
}

void TABSBaseConstraintManager::RemoveConstraintsForIndex(std::int32_t indexId) {
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) {
    const TABSConstraintDef& def = *(*defs_)[i];
    if ((def.ConstraintKind == ckPrimary || def.ConstraintKind == ckUnique) &&
        def.TargetId == indexId) {
      defs_->DeleteDefAt(i);
      defCount_ = defs_->DefCount();
      if (bound_) boundState_.erase(boundState_.begin() + i);
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Checking

std::int32_t TABSBaseConstraintManager::Resolve(BoundField& field) const {
  const TABSFieldDefs& fields = table_.ConstraintFieldDefs();
  if (field.FieldNo >= 0 && field.FieldNo < fields.DefCount() &&
      fields[field.FieldNo]->ObjectId == field.ObjectId) {
    return field.FieldNo;
  }
  field.FieldNo = fields.IndexOfObjectId(field.ObjectId);
  return field.FieldNo;
}

bool TABSBaseConstraintManager::CheckKeys(const TABSConstraintDefUnique& def,
                                          BoundConstraint& bound, std::int32_t sessionId,
                                          const std::byte* image, bool raiseErrors, bool isInsert,
                                          const std::byte* originalImage) {
  const bool primary = def.ConstraintKind == ckPrimary;
  bool allNull = true;
  for (BoundField& field : bound.Fields) {
    const std::int32_t no = Resolve(field);
    if (no < 0) {
      throw EABSException(primary ? 30329 : native_code::kUniqueFieldNotFound, kFieldNoText,
                          {field.ObjectId});
    }
    allNull = allNull && IsNullBitSet(image, no);
  }
  if (primary && allNull) {
    if (!raiseErrors) return false;
    std::string names;
    for (const TABSConstraintKeyColumn& column : def.KeyColumns) {
      if (!names.empty()) names += ",";
      names += column.FieldName;
    }
    throw EABSException(30330, kNullText, {def.Name(), names});
  }
  if (table_.ConstraintRecordCount() == 0) return true;
  // The key of an update is the new image's; the original image only tells
  // the index which entry is the record's own.
  const bool unique = isInsert
                          ? table_.IsKeyUnique(def.TargetId, sessionId, image)
                          : table_.IsUpdateUnique(def.TargetId, sessionId, image, originalImage);
  if (unique) return true;
  if (!raiseErrors) return false;
  if (primary) {
    throw EABSException(30319, "Primary Key constraint '%s' violated. Duplicate found.",
                        {def.Name()});
  }
  throw EABSException(30320, "Constraint unique '%s' violated. Duplicate found.", {def.Name()});
}

bool TABSBaseConstraintManager::CheckValue(const TABSConstraintDef& def, BoundConstraint& bound,
                                           const std::byte* image, bool raiseErrors) {
  const bool notNull = def.ConstraintKind == ckNotNull;
  BoundField& field = bound.Fields.front();
  const std::int32_t no = Resolve(field);
  if (no < 0) throw EABSException(notNull ? 30024 : 30028, kFieldNoText, {field.ObjectId});
  const TABSFieldDef& fieldDef = *table_.ConstraintFieldDefs()[no];
  const bool isNull = IsNullBitSet(image, no);
  if (notNull) {
    if (!isNull) return true;
    if (!raiseErrors) return false;
    throw EABSException(30026, kNullText, {def.Name(), fieldDef.Name()});
  }
  if (isNull) return true;
  const auto& check = static_cast<const TABSConstraintDefCheck&>(def);
  // The field changed its type since binding: compare in the new one.
  if (bound.BoundType != fieldDef.StorageType) CastBounds(check, fieldDef.StorageType, bound);
  // References the record's bytes; nothing is allocated.
  TABSVariant value;
  value.SetBuffer(image + fieldDef.MemoryOffset, fieldDef.ValueSize, false, fieldDef.StorageType);
  if (bound.Min && value.Compare(*bound.Min) == 1) {
    if (!raiseErrors) return false;
    throw EABSException(30029,
                        "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                        {def.Name(), fieldDef.Name(), check.MinValue->GetAsString()});
  }
  if (bound.Max && value.Compare(*bound.Max) == 2) {
    if (!raiseErrors) return false;
    throw EABSException(30030,
                        "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                        {def.Name(), fieldDef.Name(), check.MaxValue->GetAsString()});
  }
  return true;
}

bool TABSBaseConstraintManager::CheckAll(std::int32_t sessionId, const std::byte* image,
                                         bool checkKeys, bool raiseErrors,
                                         const RecordPosition& /*position*/, bool isInsert,
                                         const std::byte* originalImage) {
  defCount_ = defs_->DefCount();
  if (defCount_ == 0) return true;
  if (!bound_) BindAllConstraints();
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) {
    const TABSConstraintDef& def = *(*defs_)[i];
    BoundConstraint& bound = boundState_[static_cast<std::size_t>(i)];
    bool ok = true;
    switch (def.ConstraintKind) {
      case ckPrimary:
      case ckUnique:
        if (checkKeys) {
          ok = CheckKeys(static_cast<const TABSConstraintDefUnique&>(def), bound, sessionId, image,
                         raiseErrors, isInsert, originalImage);
        }
        break;
      case ckNotNull:
      case ckCheck:
        ok = CheckValue(def, bound, image, raiseErrors);
        break;
      default:
        throw EABSException(30036, kNotImplemented);
    }
    if (!ok) return false;
  }
  return true;
}
