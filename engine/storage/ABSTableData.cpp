#include "engine/storage/ABSTableData.h"

#include <algorithm>
#include <cstring>

#include "engine/local/ABSCursorState.h"
#include "engine/local/ABSNullBits.h"
#include "engine/storage/ABSConstraintManager.h"
#include "engine/storage/ABSDatabaseData.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemory.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/storage/ABSStorageSession.h"
#include "engine/types/ABSException.h"
#include "engine/types/ABSNames.h"

namespace {

// Holds the database lock for a scope.
class TableLock {
 public:
  explicit TableLock(TABSTableData& table) : table_(table) { table_.LockTable(); }
  ~TableLock() { table_.UnlockTable(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  TABSTableData& table_;
};

const TABSFieldDefs& EmptyFieldDefs() {
  static const TABSFieldDefs empty;
  return empty;
}

const TABSConstraintDefs& EmptyConstraintDefs() {
  static const TABSConstraintDefs empty;
  return empty;
}

}  // namespace

TABSTableData::TABSTableData(TABSDatabaseData& database, std::string_view tableName)
    : database_(database), tableName_(tableName), tableNameKey_(EngineNameKey(tableName)) {}

TABSTableData::~TABSTableData() = default;

void TABSTableData::SetTableName(std::string_view tableName) {
  if (tableName == tableName_) return;
  std::string key = EngineNameKey(tableName);  // the step that can fail comes first
  tableName_.assign(tableName);
  tableNameKey_ = std::move(key);
}

const TABSFieldDefs& TABSTableData::TableFieldDefs() const {
  return fieldManager_ ? fieldManager_->FieldDefs() : EmptyFieldDefs();
}

const TABSConstraintDefs& TABSTableData::TableConstraintDefs() const {
  return constraintManager_ ? constraintManager_->ConstraintDefs() : EmptyConstraintDefs();
}

void TABSTableData::LockTable() {
  database_.LockDatabase();
}

void TABSTableData::UnlockTable() {
  database_.UnlockDatabase();
}

void TABSTableData::DeleteTableData(TABSCursorState* /*cursor*/, bool keepIfOpen) {
  if (!keepIfOpen && !cursors_.empty()) {
    throw EABSException(20017, "Cannot delete table '%s'. Table is open by another dataset",
                        {tableName_});
  }
  if (!keepIfOpen || cursors_.empty()) database_.FreeTableData(*this);  // this object dies
}

void TABSTableData::RenameTableData(std::string_view newName, TABSCursorState* /*cursor*/) {
  if (!cursors_.empty()) {
    throw EABSException(10150, "Cannot rename table '%s'. Table is open by another dataset",
                        {tableName_});
  }
  SetTableName(newName);
}

void TABSTableData::AttachCursor(TABSCursorState& cursor) {
  cursors_.reserve(cursors_.size() + 1);  // the step that can fail comes first
  SetTableName(cursor.TableName);
  cursors_.push_back(&cursor);
}

void TABSTableData::DetachCursor(TABSCursorState& cursor) noexcept {
  auto it = std::find(cursors_.begin(), cursors_.end(), &cursor);
  if (it != cursors_.end()) cursors_.erase(it);
}

void TABSTableData::RenameTableField(const std::string& oldName, const std::string& newName) {
  if (!fieldManager_) throw EABSException(30343, "Field '%s' not found", {oldName});
  TABSFieldDefs& defs = fieldManager_->FieldDefs();
  const std::int32_t oldIndex = defs.IndexOfName(oldName);
  if (oldIndex < 0) throw EABSException(30343, "Field '%s' not found", {oldName});
  const std::int32_t newIndex = defs.IndexOfName(newName);
  if (newIndex >= 0 && newIndex != oldIndex) {
    throw EABSException(30344, "Cannot rename field '%s'. Field '%s' already exists",
                        {oldName, newName});
  }
  defs[oldIndex]->SetName(newName);
}

void TABSTableData::AddTableIndex(const TABSIndexDef& def, TABSCursorState* /*cursor*/) {
  TableLock hold(*this);
  auto copy = std::make_unique<TABSIndexDef>();
  copy->CopyFrom(def);
  copy->ObjectId = database_.NextObjectId();
  indexDefs_.AppendDef(std::move(copy));
}

void TABSTableData::DropTableIndex(std::int32_t objectId, TABSCursorState* /*cursor*/) {
  TableLock hold(*this);
  const std::int32_t at = indexDefs_.IndexOfObjectId(objectId);
  if (at >= 0) indexDefs_.DeleteDefAt(at);
}

void TABSTableData::DropAllTableIndexes(TABSCursorState* cursor) {
  while (indexDefs_.DefCount() > 0) DropTableIndex(indexDefs_[0]->ObjectId, cursor);
}

bool TABSTableData::RecordPassesView(const TABSCursorState& cursor) const {
  if (cursor.FilterCallback != nullptr &&
      !cursor.FilterCallback(cursor.FilterCallbackOwner, cursor.CurrentBuffer)) {
    return false;
  }
  return true;
}

FetchResult TABSTableData::ViewStep(TABSCursorState& cursor, FetchMode mode) {
  NavigationRequest request;
  request.Position = cursor.Position;
  request.BeforeFirst = cursor.AtStart;
  request.AfterLast = cursor.AtEnd;
  request.RecordBuffer = cursor.CurrentBuffer;
  request.Direction = mode;
  for (;;) {
    recordManager_->NavigateRecord(0, request);
    if (request.Result != FetchResult::Found) break;
    if (RecordPassesView(cursor)) break;
    request.Result = FetchResult::NotFound;  // not the plain step any more
  }
  if (request.Result == FetchResult::Found) {
    cursor.Position = request.Position;
    cursor.AtStart = cursor.AtEnd = false;
  } else if (request.Result == FetchResult::Bof) {
    cursor.AtStart = true;
    cursor.AtEnd = false;
  } else if (request.Result == FetchResult::Eof) {
    cursor.AtStart = false;
    cursor.AtEnd = true;
  }
  return request.Result;
}

FetchResult TABSTableData::FetchCursorRecord(TABSCursorState& cursor, FetchMode mode) {
  TableLock hold(*this);
  if (!recordManager_ || recordManager_->RecordCount() == 0) return FetchResult::Eof;
  if (mode != FetchMode::Current && cursor.HasRestrictedView()) return ViewStep(cursor, mode);
  NavigationRequest request;
  request.Direction = mode;
  request.IndexId = cursor.IndexId;
  request.Position = cursor.Position;
  request.BeforeFirst = cursor.AtStart;
  request.AfterLast = cursor.AtEnd;
  request.Result = FetchResult::Found;
  request.RecordBuffer = cursor.CurrentBuffer;
  recordManager_->NavigateRecord(0, request);
  if (mode == FetchMode::Current && request.Result == FetchResult::Found &&
      cursor.HasRestrictedView() && !RecordPassesView(cursor)) {
    return FetchResult::NotFound;
  }
  cursor.Position = request.Position;
  cursor.AtStart = request.BeforeFirst;
  cursor.AtEnd = request.AfterLast;
  return request.Result;
}

std::int64_t TABSTableData::CountVisibleRecords(TABSCursorState& cursor) {
  TableLock hold(*this);
  if (!recordManager_) return 0;
  if (!cursor.HasRestrictedView()) return recordManager_->RecordCount();
  // Scan with a scratch buffer, the cursor's position and buffer kept.
  TABSMemBlock scratch(recordManager_->RecordSize());
  std::byte* const buffer = cursor.CurrentBuffer;
  TABSPositionGuard keep(cursor);
  cursor.CurrentBuffer = scratch.as<std::byte>();
  cursor.AtStart = true;
  cursor.AtEnd = false;
  std::int64_t count = 0;
  try {
    while (ViewStep(cursor, FetchMode::Next) == FetchResult::Found) ++count;
  } catch (...) {
    cursor.CurrentBuffer = buffer;
    throw;
  }
  cursor.CurrentBuffer = buffer;
  return count;
}

void TABSTableData::SeekCursorRecordNumber(TABSCursorState& cursor, std::int64_t recordNumber) {
  TableLock hold(*this);
  const std::int64_t count = CountVisibleRecords(cursor);
  if (count == 0) return;
  std::int64_t n = std::clamp<std::int64_t>(recordNumber, 1, count);
  auto& records = static_cast<TABSMemoryRecordManager&>(*recordManager_);
  if (!cursor.HasRestrictedView()) {
    const std::int32_t id = records.PositionToRecordId(n - 1);
    if (id == -1) return;
    cursor.AtStart = cursor.AtEnd = false;
    cursor.Position = RecordPosition{id, 0};
    return;
  }
  TABSMemBlock scratch(records.RecordSize());
  std::byte* const buffer = cursor.CurrentBuffer;
  cursor.CurrentBuffer = scratch.as<std::byte>();
  cursor.AtStart = true;
  cursor.AtEnd = false;
  try {
    while (n > 0 && ViewStep(cursor, FetchMode::Next) == FetchResult::Found) --n;
  } catch (...) {
    cursor.CurrentBuffer = buffer;
    throw;
  }
  cursor.CurrentBuffer = buffer;
}

std::int64_t TABSTableData::GetCursorRecordNumber(TABSCursorState& cursor) {
  TableLock hold(*this);
  if (cursor.AtStart || cursor.AtEnd || !recordManager_ || recordManager_->RecordCount() == 0) {
    return -1;
  }
  auto& records = static_cast<TABSMemoryRecordManager&>(*recordManager_);
  if (!cursor.HasRestrictedView()) return records.RecordIdToPosition(cursor.Position.RecordId);
  TABSMemBlock scratch(records.RecordSize());
  std::byte* const buffer = cursor.CurrentBuffer;
  const RecordPosition target = cursor.Position;
  TABSPositionGuard keep(cursor);
  cursor.CurrentBuffer = scratch.as<std::byte>();
  cursor.AtStart = true;
  cursor.AtEnd = false;
  std::int64_t number = 0;
  std::int64_t found = -1;
  try {
    while (ViewStep(cursor, FetchMode::Next) == FetchResult::Found) {
      ++number;
      if (cursor.Position == target) {
        found = number;
        break;
      }
    }
  } catch (...) {
    cursor.CurrentBuffer = buffer;
    throw;
  }
  cursor.CurrentBuffer = buffer;
  return found;
}

bool TABSTableData::HasBlobs() const {
  return fieldManager_ && fieldManager_->HasBlobFields();
}

std::unique_ptr<TABSBlobFieldStream> TABSTableData::OpenBlobFieldStream(TABSCursorState& cursor,
                                                                        bool inserting,
                                                                        std::int32_t mode,
                                                                        std::int32_t fieldNo) {
  TableLock hold(*this);
  const TABSFieldDef& field = *TableFieldDefs()[fieldNo];
  if (field.BlobBlockSize == 0) throw EABSException(10420, "Stream block size = 0 is not allowed");
  auto stream = std::make_unique<TABSBlobFieldStream>();
  stream->Header.BlockSize = static_cast<std::uint32_t>(field.BlobBlockSize);
  const std::byte* image = cursor.CurrentBuffer;
  if (inserting || mode == 0 || image == nullptr || IsNullBitSet(image, fieldNo)) return stream;
  const void* block = GetBlobBlockAddress(image, field);
  if (block == nullptr) throw EABSException(10112, "Nil pointer occured");
  const auto length =
      static_cast<std::int32_t>(EngineMemoryManager.GetMemSize(block) - TABSBlobHeader::kSize);
  std::memcpy(&stream->Header, block, TABSBlobHeader::kSize);
  stream->TABSMemoryStream::Write(static_cast<const std::byte*>(block) + TABSBlobHeader::kSize,
                                  length);
  stream->Seek(0, TABSSeekOrigin::Beginning);
  return stream;
}

void* TABSTableData::StoreBlobFromStream(void* image, std::int32_t fieldNo,
                                         TABSBlobFieldStream& stream) {
  TableLock hold(*this);
  const TABSFieldDef& field = *TableFieldDefs()[fieldNo];
  if (stream.Size() == 0) {
    SetBlobBlockAddress(image, field, nullptr);
    SetNullBit(image, fieldNo, true);
    return nullptr;
  }
  const std::int64_t size = stream.Size();
  TABSMemBlock block(size + TABSBlobHeader::kSize);
  TABSBlobHeader header = stream.Header;
  header.StoredSize = static_cast<std::uint32_t>(size);
  header.Compression = 0;
  std::memcpy(block.get(), &header, TABSBlobHeader::kSize);
  const std::int64_t at = stream.Position();
  stream.Seek(0, TABSSeekOrigin::Beginning);
  const std::int32_t read =
      stream.Read(block.as<std::byte>() + TABSBlobHeader::kSize, static_cast<std::int32_t>(size));
  stream.Seek(at, TABSSeekOrigin::Beginning);
  if (read != size) {
    throw EABSException(10117,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {std::int64_t{0}, size, size + TABSBlobHeader::kSize, read});
  }
  void* stored = block.Release();
  SetBlobBlockAddress(image, field, stored);
  SetNullBit(image, fieldNo, false);
  return stored;
}

void TABSTableData::ReadBlobField(std::int32_t fieldNo, TABSMemBlock& buffer, std::int64_t& length,
                                  TABSBlobHeader& header, const void* image) {
  TableLock hold(*this);
  buffer.Reset();
  length = 0;
  header = TABSBlobHeader{};
  if (IsNullBitSet(image, fieldNo)) return;
  const void* block = GetBlobBlockAddress(image, *TableFieldDefs()[fieldNo]);
  if (block == nullptr) throw EABSException(10511, "Nil pointer occured");
  const std::int64_t size = EngineMemoryManager.GetMemSize(block) - TABSBlobHeader::kSize;
  TABSMemBlock copy(size > 0 ? size : 1);
  std::memcpy(&header, block, TABSBlobHeader::kSize);
  if (size > 0) std::memcpy(copy.get(), static_cast<const std::byte*>(block) + 12, size);
  buffer = std::move(copy);
  length = size;
}

void* TABSTableData::WriteBlobField(std::int32_t fieldNo, const void* buffer, std::int64_t length,
                                    const TABSBlobHeader& header, void* image) {
  TableLock hold(*this);
  const TABSFieldDef& field = *TableFieldDefs()[fieldNo];
  if (length <= 0) {
    SetBlobBlockAddress(image, field, nullptr);
    SetNullBit(image, fieldNo, true);
    return nullptr;
  }
  TABSMemBlock block(length + TABSBlobHeader::kSize);
  std::memcpy(block.get(), &header, TABSBlobHeader::kSize);
  std::memcpy(block.as<std::byte>() + TABSBlobHeader::kSize, buffer, length);
  void* stored = block.Release();
  SetBlobBlockAddress(image, field, stored);
  SetNullBit(image, fieldNo, false);
  return stored;
}

void TABSTableData::FreeBlobField(void* image, std::int32_t fieldNo) noexcept {
  const TABSFieldDef& field = *TableFieldDefs()[fieldNo];
  if (!IsNullBitSet(image, fieldNo)) {
    void* block = GetBlobBlockAddress(image, field);
    TABSMemBlock::Adopt(block).Reset();
  }
  SetBlobBlockAddress(image, field, nullptr);
  SetNullBit(image, fieldNo, true);
}

void TABSTableData::FreeRecordBlobs(void* image) noexcept {
  if (image == nullptr || !fieldManager_) return;
  const TABSFieldDefs& defs = TableFieldDefs();
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    if (IsBlobStorageType(defs[i]->StorageType)) FreeBlobField(image, i);
  }
}

std::int64_t TABSTableData::GetFieldLastValue(TABSStorageSession* session, std::int32_t fieldNo) {
  TableLock hold(*this);
  if (!fieldManager_) return 0;
  return fieldManager_->GetSequenceLastValue(session, fieldNo);
}

void TABSTableData::EndSessionBatch(std::int32_t /*sessionId*/) {}

std::int64_t TABSTableData::ConstraintRecordCount() const {
  return recordManager_ ? recordManager_->RecordCount() : 0;
}

std::int32_t TABSTableData::NextObjectId() {
  return database_.NextObjectId();
}

bool TABSTableData::IsKeyUnique(std::int32_t, std::int32_t, const std::byte*) {
  return true;
}

bool TABSTableData::IsUpdateUnique(std::int32_t, std::int32_t, const std::byte*, const std::byte*) {
  return true;
}
