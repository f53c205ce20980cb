// Temporary table data: BLOB values, appended to the table's BLOB stream.
//
// Stored form at offset o of the BLOB stream (little-endian, no padding):
//   o + 0    12 bytes  the BLOB layer's header values (three uint32)
//   o + 12    8 bytes  n, the byte count (int64)
//   o + 20    n bytes  the value
// The field keeps o in its first 8 bytes. Every transfer is checked: a value
// is stored completely or the field keeps what it had (a partly appended
// value is cut off the stream again); a value read back is checked against
// the stream's size before any memory is taken for it.
#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/temporary/ABSTemporaryTableData.h"
#include "engine/types/ABSStream.h"
#include "engine/types/ABSTypes.h"

namespace {
using Guard = platform::RankedLockGuard;

constexpr std::int64_t kMaxValueBytes = std::numeric_limits<std::int32_t>::max();

void RequireBlobStream(const TABSStream* stream, std::int32_t code) {
  if (stream == nullptr) throw EABSException(code, "Nil pointer occured");
}

// Moves `count` bytes between streams through a small buffer; returns the
// bytes that arrived.
std::int64_t CopyBytes(TABSStream& from, TABSStream& to, std::int64_t count) {
  char chunk[16384];
  std::int64_t done = 0;
  while (done < count) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(sizeof chunk, count - done));
    const std::int32_t got = from.Read(chunk, n);
    if (got <= 0) break;
    const std::int32_t put = to.Write(chunk, got);
    done += put;
    if (put != got) break;
  }
  return done;
}
}  // namespace

void TABSTemporaryTableData::PutOffsetIntoField(std::byte* image, std::int32_t fieldNo,
                                                std::int64_t offset) {
  const TABSFieldDef& field = *fieldManager_->FieldDefs()[fieldNo];
  auto* at = reinterpret_cast<unsigned char*>(image) + field.MemoryOffset;
  std::memset(at, 0, static_cast<std::size_t>(field.ValueSize));
  if (offset >= 0) StoreLE<std::int64_t>(at, offset);
  SetNullBit(image, fieldNo, offset < 0);
}

std::int64_t TABSTemporaryTableData::OffsetOfField(const std::byte* image,
                                                   std::int32_t fieldNo) const {
  const TABSFieldDef& field = *fieldManager_->FieldDefs()[fieldNo];
  return LoadLE<std::int64_t>(reinterpret_cast<const unsigned char*>(image) + field.MemoryOffset);
}

std::int64_t TABSTemporaryTableData::AppendBlob(const void* bytes, std::int64_t length,
                                                const TABSBlobHeader& header,
                                                std::int32_t positionCode, std::int32_t headerCode,
                                                std::int32_t bytesCode) {
  TABSStream& blobs = *blobStream_;
  const std::int64_t offset = blobs.Size();
  SetStreamPosition(blobs, offset, positionCode);
  unsigned char stored[kStoredBlobHeaderSize];
  for (int i = 0; i < 3; ++i) StoreLE(stored, static_cast<std::size_t>(4 * i), header.Values[i]);
  StoreLE<std::int64_t>(stored, 12, length);
  try {
    WriteStreamBlock(blobs, stored, kStoredBlobHeaderSize, headerCode);
    WriteStreamBlock(blobs, bytes, static_cast<std::int32_t>(length), bytesCode);
  } catch (...) {
    try {
      blobs.SetSize(offset);  // no half value stays at the end
    } catch (...) {
    }
    throw;
  }
  return offset;
}

std::int64_t TABSTemporaryTableData::ReadStoredHeader(std::int64_t offset, TABSBlobHeader& header,
                                                      std::int32_t positionCode,
                                                      std::int32_t readCode) {
  TABSStream& blobs = *blobStream_;
  SetStreamPosition(blobs, offset, positionCode);
  unsigned char stored[kStoredBlobHeaderSize];
  ReadStreamBlock(blobs, stored, kStoredBlobHeaderSize, readCode);
  const auto length = LoadLE<std::int64_t>(stored, 12);
  // A count the stream cannot hold is damage, not a reason to allocate.
  const std::int64_t room = blobs.Size() - offset - kStoredBlobHeaderSize;
  if (length < 0 || length > room || length > kMaxValueBytes) {
    RaiseStreamReadError(blobs, offset, kStoredBlobHeaderSize,
                         static_cast<std::int32_t>(std::min<std::int64_t>(room, kMaxValueBytes)),
                         readCode);
  }
  for (int i = 0; i < 3; ++i) {
    header.Values[i] = LoadLE<std::uint32_t>(stored, static_cast<std::size_t>(4 * i));
  }
  return length;
}

void TABSTemporaryTableData::StoreBlobFromStream(std::byte* image, std::int32_t fieldNo,
                                                 TABSStream& stream, const TABSBlobHeader& header,
                                                 bool modified) {
  Guard hold(DatabaseData().Lock());
  RequireBlobStream(blobStream_.get(), 10144);
  if (!modified) return;
  const std::int64_t size = stream.Size();
  if (size == 0) {
    PutOffsetIntoField(image, fieldNo, -1);
    return;
  }
  // The value is read whole before anything is appended, so that a short
  // read of the caller's stream stores nothing.
  TABSMemBlock bytes(std::min(size, kMaxValueBytes));
  stream.SetPosition(0);
  const std::int64_t read =
      size > kMaxValueBytes ? -1 : stream.Read(bytes.get(), static_cast<std::int32_t>(size));
  if (read != size) {
    throw EABSException(native_code::kTempBlobSourceRead,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {std::int64_t{0}, size, size, read});
  }
  const std::int64_t offset = AppendBlob(bytes.get(), size, header, 10422, 10145, 10145);
  PutOffsetIntoField(image, fieldNo, offset);
}

std::unique_ptr<TABSMemoryStream> TABSTemporaryTableData::OpenBlobFieldStream(
    const std::byte* image, std::int32_t fieldNo, TABSBlobHeader& header) {
  Guard hold(DatabaseData().Lock());
  RequireBlobStream(blobStream_.get(), 10140);
  auto value = std::make_unique<TABSMemoryStream>();
  header = TABSBlobHeader{};
  if (image == nullptr || IsNullBitSet(image, fieldNo)) return value;
  const std::int64_t offset = OffsetOfField(image, fieldNo);
  TABSBlobHeader stored;
  const std::int64_t length = ReadStoredHeader(offset, stored, 10141, 10142);
  if (CopyBytes(*blobStream_, *value, length) != length) {
    RaiseStreamReadError(*blobStream_, offset + kStoredBlobHeaderSize,
                         static_cast<std::int32_t>(length),
                         static_cast<std::int32_t>(value->Size()), 10142);
  }
  value->SetPosition(0);
  header = stored;
  return value;
}

void TABSTemporaryTableData::ReadBlobField(std::int32_t fieldNo, void*& buffer,
                                           std::int64_t& length, TABSBlobHeader& header,
                                           const std::byte* image) {
  Guard hold(DatabaseData().Lock());
  buffer = nullptr;
  length = 0;
  header = TABSBlobHeader{};
  if (image == nullptr || IsNullBitSet(image, fieldNo)) return;
  if (!blobStream_) throw EABSException(10509, "Nil pointer occured");
  TABSBlobHeader stored;
  const std::int64_t size = ReadStoredHeader(OffsetOfField(image, fieldNo), stored, 10509, 10510);
  TABSMemBlock copy;
  if (size > 0) {
    copy = TABSMemBlock(size);
    ReadStreamBlock(*blobStream_, copy.get(), static_cast<std::int32_t>(size), 10510);
  }
  header = stored;
  length = size;
  buffer = copy.Release();
}

void TABSTemporaryTableData::WriteBlobField(std::int32_t fieldNo, const void* buffer,
                                            std::int64_t length, const TABSBlobHeader& header,
                                            std::byte* image) {
  Guard hold(DatabaseData().Lock());
  RequireBlobStream(blobStream_.get(), 10506);
  if (length == 0) {
    PutOffsetIntoField(image, fieldNo, -1);
    return;
  }
  if (buffer == nullptr || length < 0 || length > kMaxValueBytes) {
    throw EABSException(10506, "Nil pointer occured");
  }
  const std::int64_t offset = AppendBlob(buffer, length, header, 10507, 10508, 10508);
  PutOffsetIntoField(image, fieldNo, offset);
}

void TABSTemporaryTableData::FreeBlobBuffer(void*& buffer) {
  if (buffer != nullptr) EngineMemoryManager.FreeAndNillMem(buffer);
}
