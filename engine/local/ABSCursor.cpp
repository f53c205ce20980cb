#include "engine/local/ABSCursor.h"

#include <cstring>

#include "engine/local/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemory.h"
#include "engine/types/ABSException.h"
#include "engine/types/ABSNativeCodes.h"

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

bool TABSCursor::ReadFieldData(std::int32_t fieldNo, void* destination,
                               const std::byte* buffer) const {
  std::int32_t physicalNo = 0;
  FieldEntry(fieldNo, false, 10005, physicalNo);
  return FieldDataFromRecord(physicalNo, *PhysicalFieldDefs, destination, buffer);
}

void TABSCursor::WriteFieldData(std::int32_t fieldNo, const void* source, std::byte* buffer) const {
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
}
