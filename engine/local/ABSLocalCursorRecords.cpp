// Record operations of the local cursor: record buffers, fetching,
// counting, record numbers, comparing positions and the edit cycle
// (insert, update, delete, abandon) with its result codes.
#include <cstring>

#include "engine/index/ABSConstraintManager.h"
#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSLocalCursorInternal.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/types/ABSConvert.h"
#include "engine/types/ABSVariant.h"

using namespace local_cursor_detail;

namespace {

std::int32_t SessionIdOf(const TABSLocalSession* session) {
  return session != nullptr ? session->SessionId() : 0;
}

}  // namespace

// Puts the caller's edits back into CurrentBuffer when it leaves scope,
// however the scope is left: the re-read of the stored record overwrites
// the buffer, and the caller must find its edits there again.
class TCurrentBufferRestore {
 public:
  TCurrentBufferRestore(std::byte* buffer, const TABSMemBlock& copy, std::int32_t size)
      : buffer_(buffer), copy_(copy), size_(size) {}
  ~TCurrentBufferRestore() { std::memcpy(buffer_, copy_.get(), static_cast<std::size_t>(size_)); }
  TCurrentBufferRestore(const TCurrentBufferRestore&) = delete;
  TCurrentBufferRestore& operator=(const TCurrentBufferRestore&) = delete;

 private:
  std::byte* buffer_;
  const TABSMemBlock& copy_;
  std::int32_t size_;
};

namespace {

// Before a change of the record at the position CurrentBuffer holds:
// re-reads the stored record into CurrentBuffer and puts the caller's
// bytes back however this ends. `gone` when the record no longer exists,
// `changed` when `unchanged(stored, callersCopy)` says another cursor
// changed it, else crOk.
template <typename Unchanged>
std::int32_t CheckStoredRecord(TABSLocalCursor& cursor, std::int32_t gone, std::int32_t changed,
                               Unchanged unchanged) {
  cursor.Position = RecordPosition::Load(cursor.CurrentBuffer + cursor.PositionOffset);
  TABSMemBlock copy(cursor.RecordBufferSize);
  std::memcpy(copy.get(), cursor.CurrentBuffer, static_cast<std::size_t>(cursor.RecordBufferSize));
  TCurrentBufferRestore restore(cursor.CurrentBuffer, copy, cursor.RecordBufferSize);
  cursor.AtStart = cursor.AtEnd = false;
  if (cursor.FetchRecord(FetchMode::Current) != FetchResult::Found) return gone;
  if (!unchanged(cursor.CurrentBuffer, copy.as<std::byte>())) return changed;
  return crOk;
}

}  // namespace

void TABSLocalCursor::InitRecordBuffer(std::byte* buffer, bool applyDefaults) {
  const std::int32_t fields = PhysicalFieldDefs ? PhysicalFieldDefs->DefCount() : 0;
  const std::int32_t bitmap = (fields + 7) / 8;
  std::memset(buffer, 0xFF, static_cast<std::size_t>(bitmap));
  if (DataSize() > bitmap) {
    std::memset(buffer + bitmap, 0, static_cast<std::size_t>(DataSize() - bitmap));
  }
  if (applyDefaults && !Temporary && HasDefaultFields() && TableData != nullptr &&
      TableData->FieldManager()) {
    TableLock hold(*TableData);
    TableData->FieldManager()->ApplyDefaults(Session, buffer);
  }
}

void TABSLocalCursor::ReleaseRecordBuffer(std::byte*& buffer) {
  if (TableData != nullptr) TableData->RecordBufferReleased(buffer);
  EngineMemoryManager.FreeAndNillMem(buffer);
}

std::int64_t TABSLocalCursor::CountRecords() {
  return TableOf(TableData).CountVisibleRecords(*this);
}

std::int64_t TABSLocalCursor::RecordsVersion() {
  return TableData != nullptr ? TableData->CursorRecordsVersion(*this) : -1;
}

FetchResult TABSLocalCursor::FetchRecord(FetchMode mode) {
  return TableOf(TableData).FetchCursorRecord(*this, mode);
}

void TABSLocalCursor::SeekRecordNumber(std::int64_t recordNumber) {
  TableOf(TableData).SeekCursorRecordNumber(*this, recordNumber);
}

std::int64_t TABSLocalCursor::CurrentRecordNumber() {
  return TableOf(TableData).GetCursorRecordNumber(*this);
}

namespace {

// -1, 0 or 1 as the key of `a` in the index `def` orders before, with or
// after the key of `b`; fields of the index are looked up by name.
int CompareIndexKeys(const TABSIndexDef& def, const TABSFieldDefs& fields, const std::byte* a,
                     const std::byte* b) {
  for (const TABSIndexColumn& column : def.Columns) {
    const std::int32_t no = fields.IndexOfName(column.Name);
    if (no < 0) continue;
    const TABSFieldDef& field = *fields[no];
    const int r = CompareValuesSigned(a + field.MemoryOffset, b + field.MemoryOffset,
                                      field.StorageType, UserDefaultLocale, column.CaseInsensitive,
                                      -1, IsNullBitSet(b, no), IsNullBitSet(a, no),
                                      field.StorageType, field.ValueSize, field.ValueSize);
    if (r != 0) return column.Descending ? -r : r;
  }
  return 0;
}

int ComparePlainPositions(const RecordPosition& p1, const RecordPosition& p2) {
  // Compared, never subtracted: identifiers at both ends of the 32-bit range
  // order correctly.
  if (p1.RecordId != p2.RecordId) return p1.RecordId < p2.RecordId ? -1 : 1;
  if (p1.SubPosition != p2.SubPosition) return p1.SubPosition < p2.SubPosition ? -1 : 1;
  return 0;
}

}  // namespace

std::int32_t TABSLocalCursor::ComparePositions(const RecordPosition& position1,
                                               const RecordPosition& position2) {
  if (HasCurrentIndex() && TableData != nullptr && IndexDefs) {
    const TABSIndexDef* def = IndexDefs->FindByObjectId(IndexId);
    if (def != nullptr) {
      TableLock hold(*TableData);
      TABSPositionGuard keep(*this);
      TABSMemBlock first = TABSMemBlock::Zeroed(RecordBufferSize);
      TABSMemBlock second = TABSMemBlock::Zeroed(RecordBufferSize);
      std::byte* const buffer = CurrentBuffer;
      int result = 0;
      try {
        CurrentBuffer = first.as<std::byte>();
        Position = position1;
        AtStart = AtEnd = false;
        if (FetchRecord(FetchMode::Current) != FetchResult::Found) {
          result = -1;
        } else {
          CurrentBuffer = second.as<std::byte>();
          Position = position2;
          AtStart = AtEnd = false;
          if (FetchRecord(FetchMode::Current) != FetchResult::Found) {
            result = 1;
          } else {
            result = CompareIndexKeys(*def, *PhysicalFieldDefs, first.as<std::byte>(),
                                      second.as<std::byte>());
          }
        }
      } catch (...) {
        CurrentBuffer = buffer;
        throw;
      }
      CurrentBuffer = buffer;
      if (result != 0) return result;
    }
  }
  return ComparePlainPositions(position1, position2);
}

void TABSLocalCursor::MoveToStart() {
  AtStart = true;
  AtEnd = false;
}

void TABSLocalCursor::MoveToEnd() {
  AtStart = false;
  AtEnd = true;
}

void TABSLocalCursor::PrepareInsert() {}

void TABSLocalCursor::PrepareEdit() {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  LastResultCode = Temporary ? crCannotUpdateTemporary : crOk;
}

void TABSLocalCursor::AbandonChanges(bool wasInserting) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  LastResultCode = crOk;
  // The edit's streams and blocks go unstored; the stored record keeps its
  // own blocks.
  // The streams go unstored; only the blocks this edit made are freed (a
  // new record's buffer may have been filled from a stored record, whose
  // blocks stay).
  DiscardBlobStreams();
  if (CurrentBuffer == nullptr) return;
  if (auto* memory = dynamic_cast<TABSMemoryTableData*>(&table)) {
    memory->CancelEditBlobs(*this);
  } else if (wasInserting) {
    table.FreeRecordBlobs(CurrentBuffer);
  }
}

void TABSLocalCursor::WriteRecord(bool isInsert) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  LastResultCode = crOk;
  LastResultText.clear();
  try {
    if (isInsert && HasAutoincFields() && table.FieldManager()) {
      table.FieldManager()->ApplyAutoincs(Session, CurrentBuffer);
    }
    if (!Temporary && table.ConstraintManager()) {
      table.ConstraintManager()->CheckRecordConstraints(SessionIdOf(Session), CurrentBuffer, true,
                                                        true, Position, isInsert, OriginalBuffer);
    }
  } catch (const std::exception& e) {
    LastResultCode = crPostValidationError;
    LastResultText = e.what();
    return;
  }
  if (!isInsert) {
    WriteUpdate();
    return;
  }
  FreeBlobStreams(true);
  const bool stored = table.InsertCursorRecord(*this);
  LastResultCode = stored ? crOk : crErrorAdding;
  Position.Store(CurrentBuffer + PositionOffset);
  CurrentBuffer[PositionOffset + RecordPosition::kStoredSize] =
      static_cast<std::byte>(RecordFlag::Inserted);
}

void TABSLocalCursor::WriteUpdate() {
  TABSTableData& table = *TableData;
  const std::int32_t code =
      CheckStoredRecord(*this, crUpdateDeletedByOther, crUpdateModifiedByOther,
                        [&](const std::byte* stored, const std::byte*) {
                          return table.FieldManager()->CompareRecordImages(stored, OriginalBuffer);
                        });
  if (code != crOk) {
    LastResultCode = code;
    return;
  }
  // Streams are stored only once the record may be changed.
  FreeBlobStreams(true);
  const bool stored = table.UpdateCursorRecord(*this);
  LastResultCode = stored ? crOk : crErrorUpdating;
}

void TABSLocalCursor::EraseRecord() {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  if (Temporary) {
    LastResultCode = crCannotDeleteTemporary;
    return;
  }
  const std::int32_t code =
      CheckStoredRecord(*this, crDeleteDeletedByOther, crDeleteModifiedByOther,
                        [&](const std::byte* stored, const std::byte* copy) {
                          return CompareBytes(copy, stored, BaseBufferSize);
                        });
  if (code != crOk) {
    LastResultCode = code;
    return;
  }
  LastResultCode = table.DeleteCursorRecord(*this) ? crOk : crErrorDeleting;
}

bool TABSLocalCursor::CheckConstraints(bool isInsert) {
  TABSTableData& table = TableOf(TableData);
  TableLock hold(table);
  if (!table.ConstraintManager()) return true;
  return table.ConstraintManager()->CheckRecordConstraints(
      SessionIdOf(Session), CurrentBuffer, true, false, Position, isInsert, OriginalBuffer);
}

void TABSLocalCursor::CopyFieldValue(std::int32_t fieldNo, bool physical, TABSCursor& target,
                                     std::int32_t targetFieldNo) {
  std::int32_t sourceNo = 0;
  FieldEntry(fieldNo, physical, 10501, sourceNo);
  const TABSFieldDef& source = *(*PhysicalFieldDefs)[sourceNo];
  const TABSFieldDefs* targetList = target.LogicalFieldDefs.get();
  const std::int32_t targetCount = targetList ? targetList->DefCount() : 0;
  if (targetFieldNo < 0 || targetFieldNo >= targetCount) {
    throw EABSException(10502, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {targetFieldNo, targetCount});
  }
  const TABSFieldDef& targetEntry = *(*targetList)[targetFieldNo];
  const std::int32_t targetNo = targetEntry.PhysicalFieldNo;
  const TABSFieldDef& destination = *(*target.PhysicalFieldDefs)[targetNo];
  const bool sourceBlob = IsBlobStorageType(source.StorageType);
  if (sourceBlob != IsBlobStorageType(destination.StorageType)) {
    throw EABSException(native_code::kCopyBlobKindMismatch,
                        "Cannot copy field '%s' into field '%s' of another kind",
                        {source.Name(), destination.Name()});
  }
  auto* other = dynamic_cast<TABSLocalCursor*>(&target);
  if (sourceBlob && (other == nullptr || other->TableData == nullptr)) {
    throw EABSException(10009, "Nil pointer occured");
  }
  if (IsNullBitSet(CurrentBuffer, sourceNo)) {
    if (sourceBlob) {
      // Through the table data, so that a block the edit made is freed.
      other->TableData->WriteBlobField(targetNo, nullptr, 0, TABSBlobHeader{},
                                       target.CurrentBuffer);
    }
    SetNullBit(target.CurrentBuffer, targetNo, true);
    return;
  }
  if (!sourceBlob && source.StorageType == destination.StorageType &&
      source.ValueSize == destination.ValueSize) {
    std::memcpy(target.CurrentBuffer + destination.MemoryOffset,
                CurrentBuffer + source.MemoryOffset, static_cast<std::size_t>(source.ValueSize));
    SetNullBit(target.CurrentBuffer, targetNo, false);
    return;
  }
  if (sourceBlob) {
    TABSTableData& from = TableOf(TableData);
    void* bytes = nullptr;
    std::int64_t length = 0;
    TABSBlobHeader header;
    from.ReadBlobField(sourceNo, bytes, length, header, CurrentBuffer);
    try {
      other->TableData->WriteBlobField(targetNo, bytes, length, header, target.CurrentBuffer);
    } catch (...) {
      from.FreeBlobBuffer(bytes);
      throw;
    }
    from.FreeBlobBuffer(bytes);
    return;
  }
  TABSVariant value;
  ReadFieldValue(value, fieldNo, physical);
  target.WriteFieldValue(nullptr, value, targetFieldNo, false);
}
