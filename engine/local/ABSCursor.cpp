#include "engine/local/ABSCursor.h"

#include "engine/storage/ABSMemory.h"
#include "engine/types/ABSException.h"

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
