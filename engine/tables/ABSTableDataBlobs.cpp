// Table data: BLOB fields of the memory table.
//
// A BLOB field holds the address of a block of the engine memory manager:
// the 12-byte header, then the bytes (their count is the block's size less
// 12), or nil while the field is NULL.
//
// Ownership: a stored record owns the blocks it points to. A block written
// into a record image (a cursor's buffer being edited) is pending until an
// insert or update stores that image; the table keeps the list of pending
// blocks, so a refused or cancelled edit leaks nothing and never frees a
// block a stored record still points to. A replaced block of a stored
// record is freed only after the overwrite or removal succeeded.
#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSTableData.h"
#include "engine/types/ABSStream.h"
#include "engine/types/ABSTypes.h"

namespace {
using Guard = platform::RankedLockGuard;

void StoreHeader(void* block, const TABSBlobHeader& header) {
  for (int i = 0; i < 3; ++i) StoreLE(block, static_cast<std::size_t>(4 * i), header.Values[i]);
}

TABSBlobHeader LoadHeader(const void* block) {
  TABSBlobHeader header;
  for (int i = 0; i < 3; ++i) {
    header.Values[i] = LoadLE<std::uint32_t>(block, static_cast<std::size_t>(4 * i));
  }
  return header;
}

void FreeBlock(void* block) noexcept {
  TABSMemBlock::Adopt(block).Reset();
}

// A BLOB block holds its length in a signed 32-bit size with the header.
void CheckBlobLength(std::int64_t length) {
  if (length < 0 ||
      length > std::numeric_limits<std::int32_t>::max() - TABSTableData::kBlobHeaderSize) {
    throw EABSException(native_code::kBlobLengthOutOfRange, "BLOB length %d is out of range",
                        {length});
  }
}

// The definition of BLOB field `fieldNo`; a table without fields has none.
const TABSFieldDef& BlobFieldDef(const TABSBaseFieldManager* fields, std::int32_t fieldNo) {
  if (fields == nullptr) throw EABSException(10112, "Nil pointer occured");
  return *fields->FieldDefs()[fieldNo];
}
}  // namespace

// ---- Base ----

void TABSTableData::FreeBlobField(std::byte* /*image*/, std::int32_t /*fieldNo*/) {}

void TABSTableData::FreeRecordBlobs(std::byte* image) {
  Guard hold(database_.Lock());
  if (!hasBlobFields_ || image == nullptr) return;
  const TABSFieldDefs& defs = fieldManager_->FieldDefs();
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    if (IsBlobStorageType(defs[i]->StorageType)) FreeBlobField(image, i);
  }
}

// ---- Pending blocks ----

bool TABSMemoryTableData::IsPending(const void* block) const {
  return std::find(pendingBlobs_.begin(), pendingBlobs_.end(), block) != pendingBlobs_.end();
}

void TABSMemoryTableData::ForgetPending(const void* block) noexcept {
  auto it = std::find(pendingBlobs_.begin(), pendingBlobs_.end(), block);
  if (it != pendingBlobs_.end()) pendingBlobs_.erase(it);
}

void TABSMemoryTableData::FreePending(void* block) noexcept {
  ForgetPending(block);
  FreeBlock(block);
}

void TABSMemoryTableData::FreeAllPending() noexcept {
  for (void* block : pendingBlobs_) FreeBlock(block);
  pendingBlobs_.clear();
}

std::size_t TABSMemoryTableData::PendingBlobCount() const {
  Guard hold(DatabaseData().Lock());
  return pendingBlobs_.size();
}

void* TABSMemoryTableData::NewPendingBlock(const void* bytes, std::int64_t length,
                                           const TABSBlobHeader& header) {
  CheckBlobLength(length);
  TABSMemBlock block(length + kBlobHeaderSize);
  StoreHeader(block.get(), header);
  if (length > 0) {
    std::memcpy(block.as<unsigned char>() + kBlobHeaderSize, bytes,
                static_cast<std::size_t>(length));
  }
  pendingBlobs_.reserve(pendingBlobs_.size() + 1);  // may fail; the block is freed then
  pendingBlobs_.push_back(block.Release());
  return pendingBlobs_.back();
}

void TABSMemoryTableData::PutBlockIntoField(std::byte* image, std::int32_t fieldNo, void* block) {
  const TABSFieldDef& field = BlobFieldDef(fieldManager_.get(), fieldNo);
  void* old = IsNullBitSet(image, fieldNo) ? nullptr : GetBlobBlockAddress(image, field);
  SetBlobBlockAddress(image, field, block);
  SetNullBit(image, fieldNo, block == nullptr);
  // A block of a stored record stays until that record is overwritten.
  if (old != nullptr && old != block && IsPending(old)) FreePending(old);
}

void TABSMemoryTableData::AdoptBlobs(const std::byte* image) noexcept {
  if (!hasBlobFields_ || pendingBlobs_.empty()) return;
  const TABSFieldDefs& defs = fieldManager_->FieldDefs();
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    if (!IsBlobStorageType(defs[i]->StorageType) || IsNullBitSet(image, i)) continue;
    ForgetPending(GetBlobBlockAddress(image, *defs[i]));
  }
}

void TABSMemoryTableData::FreeReplacedBlobs(const std::byte* old, const std::byte* kept) noexcept {
  if (!hasBlobFields_) return;
  const TABSFieldDefs& defs = fieldManager_->FieldDefs();
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    if (!IsBlobStorageType(defs[i]->StorageType) || IsNullBitSet(old, i)) continue;
    void* block = GetBlobBlockAddress(old, *defs[i]);
    const bool stillUsed =
        kept != nullptr && !IsNullBitSet(kept, i) && GetBlobBlockAddress(kept, *defs[i]) == block;
    if (block != nullptr && !stillUsed) FreePending(block);
  }
}

void TABSMemoryTableData::CancelEditBlobs(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  std::byte* image = cursor.CurrentBuffer;
  if (!hasBlobFields_ || image == nullptr || pendingBlobs_.empty()) return;
  const TABSFieldDefs& defs = fieldManager_->FieldDefs();
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    if (!IsBlobStorageType(defs[i]->StorageType) || IsNullBitSet(image, i)) continue;
    void* block = GetBlobBlockAddress(image, *defs[i]);
    if (!IsPending(block)) continue;
    FreePending(block);
    SetBlobBlockAddress(image, *defs[i], nullptr);
    SetNullBit(image, i, true);
  }
}

// ---- The BLOB slots ----

void TABSMemoryTableData::FreeBlobField(std::byte* image, std::int32_t fieldNo) {
  Guard hold(DatabaseData().Lock());
  if (!hasBlobFields_ || image == nullptr || IsNullBitSet(image, fieldNo)) return;
  const TABSFieldDef& field = *fieldManager_->FieldDefs()[fieldNo];
  if (!IsBlobStorageType(field.StorageType)) return;
  if (GetBlobBlockAddress(image, field) == nullptr)
    throw EABSException(10118, "Nil pointer occured");
  PutBlockIntoField(image, fieldNo, nullptr);
}

void TABSMemoryTableData::StoreBlobFromStream(std::byte* image, std::int32_t fieldNo,
                                              TABSStream& stream, const TABSBlobHeader& header,
                                              bool modified) {
  Guard hold(DatabaseData().Lock());
  if (!modified) return;
  const std::int64_t size = stream.Size();
  if (size == 0) {
    PutBlockIntoField(image, fieldNo, nullptr);
    return;
  }
  CheckBlobLength(size);
  // Read into a block of its own first: a short read leaves the field as it was.
  TABSMemBlock bytes(size);
  stream.SetPosition(0);
  const std::int32_t read = stream.Read(bytes.get(), static_cast<std::int32_t>(size));
  if (read != size) {
    throw EABSException(10117,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {stream.Position(), size, size + kBlobHeaderSize, read});
  }
  void* block = NewPendingBlock(bytes.get(), size, header);
  PutBlockIntoField(image, fieldNo, block);
}

std::unique_ptr<TABSMemoryStream> TABSMemoryTableData::OpenBlobFieldStream(const std::byte* image,
                                                                           std::int32_t fieldNo,
                                                                           TABSBlobHeader& header) {
  Guard hold(DatabaseData().Lock());
  const TABSFieldDef& field = BlobFieldDef(fieldManager_.get(), fieldNo);
  if (field.BlobBlockSize == 0) throw EABSException(10420, "Stream block size = 0 is not allowed");
  auto stream = std::make_unique<TABSMemoryStream>();
  header = TABSBlobHeader{};
  if (image == nullptr || IsNullBitSet(image, fieldNo)) return stream;
  const void* block = GetBlobBlockAddress(image, field);
  if (block == nullptr) throw EABSException(10112, "Nil pointer occured");
  header = LoadHeader(block);
  const std::int64_t length = EngineMemoryManager.GetMemSize(block) - kBlobHeaderSize;
  if (length > 0) {
    stream->Write(static_cast<const unsigned char*>(block) + kBlobHeaderSize,
                  static_cast<std::int32_t>(length));
  }
  stream->SetPosition(0);
  return stream;
}

void TABSMemoryTableData::ReadBlobField(std::int32_t fieldNo, void*& buffer, std::int64_t& length,
                                        TABSBlobHeader& header, const std::byte* image) {
  Guard hold(DatabaseData().Lock());
  buffer = nullptr;
  length = 0;
  header = TABSBlobHeader{};
  const TABSFieldDef& field = BlobFieldDef(fieldManager_.get(), fieldNo);
  if (IsNullBitSet(image, fieldNo)) return;
  const void* block = GetBlobBlockAddress(image, field);
  if (block == nullptr) throw EABSException(10511, "Nil pointer occured");
  const std::int64_t size = EngineMemoryManager.GetMemSize(block) - kBlobHeaderSize;
  TABSMemBlock copy;
  if (size > 0) {
    copy = TABSMemBlock(size);
    std::memcpy(copy.get(), static_cast<const unsigned char*>(block) + kBlobHeaderSize,
                static_cast<std::size_t>(size));
  }
  header = LoadHeader(block);
  length = size;
  buffer = copy.Release();
}

void TABSMemoryTableData::WriteBlobField(std::int32_t fieldNo, const void* buffer,
                                         std::int64_t length, const TABSBlobHeader& header,
                                         std::byte* image) {
  Guard hold(DatabaseData().Lock());
  if (length == 0) {
    PutBlockIntoField(image, fieldNo, nullptr);
    return;
  }
  if (buffer == nullptr) throw EABSException(10118, "Nil pointer occured");
  void* block = NewPendingBlock(buffer, length, header);
  PutBlockIntoField(image, fieldNo, block);
}

void TABSMemoryTableData::FreeBlobBuffer(void*& buffer) {
  if (buffer != nullptr) EngineMemoryManager.FreeAndNillMem(buffer);
}
