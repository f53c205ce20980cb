#include "engine/schema/ABSCursorState.h"

#include <cstring>
#include <new>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/types/ABSTextTerminator.h"

TABSCursorState::TABSCursorState() : PositionCache(std::make_unique<TABSIndexPositionCache>()) {}

TABSCursorState::~TABSCursorState() = default;

void TABSIndexPositionCache::Fill(TABSLateOwned<TABSKeyPath> path, std::int32_t indexId,
                                  const RecordPosition& position, std::int32_t changeCounter) {
  KeyPath = std::move(path);
  IndexId = indexId;
  Position = position;
  ChangeCounter = changeCounter;
  NearbyCount = 0;
}

void TABSIndexPositionCache::Clear() {
  KeyPath.reset();
  IndexId = -1;
  Position = RecordPosition{};
  ChangeCounter = -1;
  NearbyCount = 0;
}

void TABSCursorState::ComputeBufferLayout() {
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

void TABSCursorState::SetCurrentIndex(const std::string& indexName) {
  IndexName = indexName;
  const TABSIndexDef* def =
      (IndexDefs && !indexName.empty()) ? IndexDefs->FindByName(indexName) : nullptr;
  IndexId = def ? def->ObjectId : -1;
}

const TABSFieldDef& TABSCursorState::FieldEntry(std::int32_t fieldNo, bool physical,
                                                std::int32_t errorCode,
                                                std::int32_t& physicalNo) const {
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

std::byte* TABSCursorState::AllocRecordBuffer() const {
  return static_cast<std::byte*>(EngineMemoryManager.GetMemZeroed(RecordBufferSize));
}

std::byte* TABSCursorState::AllocKeyBuffer() const {
  return static_cast<std::byte*>(EngineMemoryManager.GetMem(KeyBufferSize));
}

PositionSnapshot* TABSCursorState::SavePosition() const {
  void* block = EngineMemoryManager.GetMem(sizeof(PositionSnapshot));
  auto* snapshot = new (block) PositionSnapshot;
  snapshot->AtStart = AtStart ? 1 : 0;
  snapshot->AtEnd = AtEnd ? 1 : 0;
  Position.Store(snapshot->Position);
  return snapshot;
}

void TABSCursorState::RestorePosition(const PositionSnapshot* snapshot) {
  if (snapshot == nullptr)
    throw EABSException(native_code::kCursorRestoreNil, "Nil pointer occured");
  AtStart = snapshot->AtStart != 0;
  AtEnd = snapshot->AtEnd != 0;
  Position = RecordPosition::Load(snapshot->Position);
}

void TABSCursorState::FreePositionSnapshot(PositionSnapshot*& snapshot) const {
  EngineMemoryManager.FreeAndNillMem(snapshot);
}

void TABSCursorState::InvalidateView() {
  RecordBitmapStale = true;
}

void TABSCursorState::SetKeyRange(std::byte* startKey, std::byte* endKey, std::uint8_t startFlag,
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

void TABSCursorState::ClearKeyRange() {
  RangeStartKey = nullptr;
  RangeEndKey = nullptr;
  InvalidateView();
}

void TABSCursorState::NormalizeStringTails(std::byte* buffer) const {
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

bool TABSCursorState::HasRestrictedView() const {
  return FilterExpression != nullptr || FilterCallback != nullptr || QueryExpression != nullptr ||
         RangeStartKey != nullptr || RangeEndKey != nullptr || DistinctFieldCount > 0;
}
