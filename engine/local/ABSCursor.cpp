#include "engine/local/ABSCursor.h"

#include <cstring>
#include <new>

#include "engine/local/ABSNullBits.h"
#include "engine/storage/ABSMemory.h"
#include "engine/types/ABSException.h"
#include "engine/types/ABSNativeCodes.h"
#include "engine/types/ABSTextTerminator.h"

TABSQueryExpressionBinder QueryExpressionBinder = nullptr;

void TABSIndexPositionCache::Fill(TABSLateOwned<TABSKeyPath> path, std::int32_t indexId,
                                  const RecordPosition& position, std::int32_t changeCounter) {
  KeyPath = std::move(path);
  IndexId = indexId;
  Position = position;
  ChangeCounter = changeCounter;
}

void TABSIndexPositionCache::Clear() {
  KeyPath.reset();
  IndexId = -1;
  Position = RecordPosition{};
  ChangeCounter = -1;
}

TABSCursor::TABSCursor() : PositionCache(std::make_unique<TABSIndexPositionCache>()) {}

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

void TABSCursor::ComputeBufferLayout() {
  std::int32_t dataSize = 0;
  std::int32_t firstFieldOffset = 0;
  if (PhysicalFieldDefs && PhysicalFieldDefs->DefCount() > 0) {
    PhysicalFieldDefs->CalculateOffsets();
    const TABSFieldDef& last = *(*PhysicalFieldDefs)[PhysicalFieldDefs->DefCount() - 1];
    firstFieldOffset = (*PhysicalFieldDefs)[0]->MemoryOffset;
    // The position, the flag and the key info follow the data area; the
    // whole buffer must stay within a signed 32-bit size.
    const std::int64_t end = static_cast<std::int64_t>(last.MemoryOffset) + last.ValueSize;
    if (end > INT32_MAX - 7) {
      throw EABSException(native_code::kCursorRecordTooLarge, "Record size exceeds %d bytes",
                          {INT32_MAX - 7});
    }
    dataSize = static_cast<std::int32_t>(end);
  }
  FirstFieldOffset = firstFieldOffset;
  PositionOffset = dataSize;
  KeyInfoOffset = dataSize;
  KeyBufferSize = dataSize + static_cast<std::int32_t>(RecordPosition::kStoredSize);
  BaseBufferSize = KeyBufferSize + 1;
  CalcAreaOffset = BaseBufferSize;
  RecordBufferSize = BaseBufferSize;
}

void TABSCursor::SetCurrentIndex(const std::string& indexName) {
  IndexName = indexName;
  const TABSIndexDef* def =
      (IndexDefs && !indexName.empty()) ? IndexDefs->FindByName(indexName) : nullptr;
  IndexId = def ? def->ObjectId : -1;
}

const TABSFieldDef& TABSCursor::FieldEntry(std::int32_t fieldNo, bool physical,
                                           std::int32_t errorCode, std::int32_t& physicalNo) const {
  const TABSFieldDefs* defs = physical ? PhysicalFieldDefs.get() : LogicalFieldDefs.get();
  const std::int32_t count = defs ? defs->DefCount() : 0;
  if (fieldNo < 0 || fieldNo >= count) {
    throw EABSException(errorCode, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, count});
  }
  if (physical) {
    physicalNo = fieldNo;
    return *(*defs)[fieldNo];
  }
  // A logical entry stands for a physical field; the mapping is checked so
  // that a stale logical list cannot reach outside the data area.
  physicalNo = (*defs)[fieldNo]->PhysicalFieldNo;
  const std::int32_t physicalCount = PhysicalFieldDefs ? PhysicalFieldDefs->DefCount() : 0;
  if (physicalNo < 0 || physicalNo >= physicalCount) {
    throw EABSException(errorCode, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {physicalNo, physicalCount});
  }
  return *(*defs)[fieldNo];
}

std::byte* TABSCursor::AllocRecordBuffer() const {
  return static_cast<std::byte*>(EngineMemoryManager.GetMemZeroed(RecordBufferSize));
}

std::byte* TABSCursor::AllocKeyBuffer() const {
  return static_cast<std::byte*>(EngineMemoryManager.GetMem(KeyBufferSize));
}

PositionSnapshot* TABSCursor::SavePosition() const {
  void* block = EngineMemoryManager.GetMem(sizeof(PositionSnapshot));
  auto* snapshot = new (block) PositionSnapshot;
  snapshot->AtStart = AtStart ? 1 : 0;
  snapshot->AtEnd = AtEnd ? 1 : 0;
  Position.Store(snapshot->Position);
  return snapshot;
}

void TABSCursor::RestorePosition(const PositionSnapshot* snapshot) {
  if (snapshot == nullptr)
    throw EABSException(native_code::kCursorRestoreNil, "Nil pointer occured");
  AtStart = snapshot->AtStart != 0;
  AtEnd = snapshot->AtEnd != 0;
  Position = RecordPosition::Load(snapshot->Position);
}

void TABSCursor::FreePositionSnapshot(PositionSnapshot*& snapshot) const {
  EngineMemoryManager.FreeAndNillMem(snapshot);
}

void TABSCursor::InvalidateView() {
  RecordBitmapStale = true;
}

void TABSCursor::SetKeyRange(std::byte* startKey, std::byte* endKey, std::uint8_t startFlag,
                             std::uint8_t endFlag, std::int32_t startFieldCount,
                             std::int32_t endFieldCount) {
  RangeStartKey = startKey;
  RangeEndKey = endKey;
  RangeStartFlag = startFlag;
  RangeEndFlag = endFlag;
  RangeStartFieldCount = startFieldCount;
  RangeEndFieldCount = endFieldCount;
  InvalidateView();
}

void TABSCursor::ClearKeyRange() {
  RangeStartKey = nullptr;
  RangeEndKey = nullptr;
  InvalidateView();
}

void TABSCursor::SetQueryExpression(TABSExpression* expression, void* arg1, void* arg2) {
  QueryExpression = expression;
  if (expression != nullptr && QueryExpressionBinder != nullptr) {
    QueryExpressionBinder(expression, *this, arg1, arg2);
  }
  InvalidateView();
}

void TABSCursor::NormalizeStringTails(std::byte* buffer) const {
  if (buffer == nullptr)
    throw EABSException(native_code::kCursorStringTailsNil, "Nil pointer occured");
  if (!PhysicalFieldDefs) return;
  for (std::int32_t i = 0; i < PhysicalFieldDefs->DefCount(); ++i) {
    const TABSFieldDef& field = *(*PhysicalFieldDefs)[i];
    if (!IsStringStorageType(field.StorageType)) continue;
    std::byte* value = buffer + field.MemoryOffset;
    const auto size = static_cast<std::size_t>(field.ValueSize);
    if (IsNullBitSet(buffer, i)) {
      std::memset(value, 0, size);
      continue;
    }
    // The bytes after the terminator are cleared; a value without one is
    // left alone.
    const std::size_t used =
        TextBytesWithTerminator(value, size, IsWideStringStorageType(field.StorageType));
    if (used != 0) std::memset(value + used, 0, size - used);
  }
}

bool TABSCursor::HasRestrictedView() const {
  return FilterExpression != nullptr || FilterCallback != nullptr || QueryExpression != nullptr ||
         RangeStartKey != nullptr || RangeEndKey != nullptr || DistinctFieldCount > 0;
}
