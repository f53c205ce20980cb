#include "engine/local/ABSCursor.h"

#include <cstring>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"

TABSQueryExpressionBinder QueryExpressionBinder = nullptr;

TABSCursor::TABSCursor() = default;

TABSCursor::~TABSCursor() = default;

void TABSCursor::RenameFieldInTable(const std::string& oldName, const std::string& newName) {
  const std::int32_t oldIndex = PhysicalFieldDefs ? PhysicalFieldDefs->IndexOfName(oldName) : -1;
  if (oldIndex < 0) throw EABSException(30345, "Field '%s' not found", {oldName});
  // A name that differs only in letter case names the same field and is a
  // valid rename.
  const std::int32_t newIndex = PhysicalFieldDefs->IndexOfName(newName);
  if (newIndex >= 0 && newIndex != oldIndex) {
    throw EABSException(30346, "Cannot rename field '%s'. Field '%s' already exists",
                        {oldName, newName});
  }
  (*PhysicalFieldDefs)[oldIndex]->SetName(newName);
}

TABSIndexDefs* TABSCursor::FetchIndexDefs() {
  return IndexDefs.get();
}

void TABSCursor::ReleaseRecordBuffer(std::byte*& buffer) {
  EngineMemoryManager.FreeAndNillMem(buffer);
}

void TABSCursor::SetQueryExpression(TABSExpression* expression, void* arg1, void* arg2) {
  QueryExpression = expression;
  if (expression != nullptr && QueryExpressionBinder != nullptr) {
    QueryExpressionBinder(expression, *this, arg1, arg2);
  }
  InvalidateView();
}

void TABSCursor::CacheFieldSlots() {
  slots_.clear();
  slotsLogical_ = slotsPhysical_ = nullptr;
  hasDefaults_ = hasAutoincs_ = true;
  if (!LogicalFieldDefs || !PhysicalFieldDefs) return;
  const std::int32_t physicalCount = PhysicalFieldDefs->DefCount();
  std::vector<FieldSlot> slots;
  slots.reserve(static_cast<std::size_t>(LogicalFieldDefs->DefCount()));
  for (std::int32_t i = 0; i < LogicalFieldDefs->DefCount(); ++i) {
    const std::int32_t no = (*LogicalFieldDefs)[i]->PhysicalFieldNo;
    if (no < 0 || no >= physicalCount) return;  // the slow path reports it
    const TABSFieldDef& field = *(*PhysicalFieldDefs)[no];
    const TABSDeclaredType type = field.DeclaredType;
    const bool plain = type != dtShortint && type != dtCardinal && type != dtSingle &&
                       type != dtExtended && !IsStringDeclaredType(type) &&
                       !IsBlobDeclaredType(type) && !IsBlobStorageType(field.StorageType);
    slots.push_back({no, field.MemoryOffset, field.ValueSize, plain});
  }
  bool defaults = false;
  bool autoincs = false;
  for (std::int32_t i = 0; i < physicalCount; ++i) {
    const TABSFieldDef& field = *(*PhysicalFieldDefs)[i];
    defaults = defaults || field.HasDefaultValue();
    autoincs = autoincs || IsAutoIncDeclaredType(field.DeclaredType);
  }
  slots_ = std::move(slots);
  slotsLogical_ = LogicalFieldDefs.get();
  slotsPhysical_ = PhysicalFieldDefs.get();
  hasDefaults_ = defaults;
  hasAutoincs_ = autoincs;
}

bool TABSCursor::ReadFieldDataSlow(std::int32_t fieldNo, void* destination,
                                   const std::byte* buffer) const {
  std::int32_t physicalNo = 0;
  FieldEntry(fieldNo, false, 10005, physicalNo);
  return FieldDataFromRecord(physicalNo, *PhysicalFieldDefs, destination, buffer);
}

void TABSCursor::WriteFieldDataSlow(std::int32_t fieldNo, const void* source,
                                    std::byte* buffer) const {
  std::int32_t physicalNo = 0;
  FieldEntry(fieldNo, false, 10006, physicalNo);
  const TABSFieldDef& field = *(*PhysicalFieldDefs)[physicalNo];
  if (IsBlobStorageType(field.StorageType)) {
    if (source != nullptr) {
      throw EABSException(native_code::kBlobFieldDataWrite,
                          "BLOB field '%s' is written through a BLOB stream", {field.Name()});
    }
  }
  FieldDataToRecord(physicalNo, *PhysicalFieldDefs, source, buffer);
}

void TABSCursor::InitKeyBuffer(std::byte* keyBuffer) {
  std::memset(keyBuffer, 0, static_cast<std::size_t>(KeyBufferSize));
  InitRecordBuffer(keyBuffer, false);
}

void TABSCursor::SetProjection(const std::vector<std::string>& fieldNames,
                               const std::vector<std::string>& aliases) {
  if (fieldNames.size() != aliases.size()) {
    throw EABSException(10321, "Error - different list lengths. L1 = %d, L2 = %d",
                        {fieldNames.size(), aliases.size()});
  }
  if (fieldNames.empty()) {
    throw EABSException(10322, "No fields were specified while setting projection");
  }
  auto logical = std::make_unique<TABSFieldDefs>();
  for (std::size_t i = 0; i < fieldNames.size(); ++i) {
    const std::int32_t physical =
        PhysicalFieldDefs ? PhysicalFieldDefs->IndexOfName(fieldNames[i]) : -1;
    if (physical < 0) throw EABSException(10323, "Cannot find field %s", {fieldNames[i]});
    auto copy = std::make_unique<TABSFieldDef>();
    copy->CopyFrom(*(*PhysicalFieldDefs)[physical]);
    copy->PhysicalFieldNo = physical;
    if (!aliases[i].empty()) {
      std::string name = aliases[i];
      for (int n = 1; logical->IndexOfName(name) >= 0; ++n) {
        name = aliases[i] + "_" + std::to_string(n);
      }
      copy->SetName(name);
    }
    logical->AppendDef(std::move(copy));
  }
  LogicalFieldDefs = std::move(logical);
  CacheFieldSlots();
}
