#include "engine/index/ABSIndexBitmapOrder.h"

#include "engine/index/ABSIndex.h"
#include "engine/storage/ABSRecordManager.h"

TABSIndexBitmapOrder::TABSIndexBitmapOrder(TABSIndex& index, TABSBaseRecordManager& records,
                                           std::int32_t sessionId)
    : index_(index), records_(records), sessionId_(sessionId), buffer_(records.RecordSize()) {}

bool TABSIndexBitmapOrder::ReadRecord(const RecordPosition& position) {
  NavigationRequest request;
  request.Direction = FetchMode::Current;
  request.Position = position;
  request.RecordBuffer = buffer_.get();
  records_.NavigateRecord(sessionId_, request);
  return request.Result == FetchResult::Found;
}

std::int64_t TABSIndexBitmapOrder::OrdinalOfKeyPath(const TABSKeyPath& path) {
  const RecordPosition position = index_.ReadPathReference(sessionId_, path);
  if (!ReadRecord(position)) return -1;
  const std::int64_t number =
      index_.RecordNumberOf(sessionId_, position, buffer_.as<const std::byte>());
  return number < 1 ? -1 : number - 1;
}

void TABSIndexBitmapOrder::MoveKeyPathToOrdinal(std::int64_t ordinal, TABSKeyPath& path) {
  RecordPosition position;
  index_.RecordAtNumber(sessionId_, ordinal + 1, position);
  if (ReadRecord(position)) {
    index_.FindRecordPath(sessionId_, position, path, buffer_.as<const std::byte>());
  }
}
