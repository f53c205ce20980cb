// BLOB streams of the local cursor: opening a BLOB field of the current
// record as a stream, storing written streams into the record buffer, and
// the blocks an edit made that no stored record holds yet.
#include <algorithm>

#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSLocalCursorInternal.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/schema/ABSNullBits.h"

using namespace local_cursor_detail;

TABSLocalBLOBStream::TABSLocalBLOBStream(std::int32_t mode, std::int32_t fieldNo,
                                         TABSCursor& cursor, std::unique_ptr<TABSMemoryStream> data,
                                         const TABSBlobHeader& header)
    : mode_(mode), fieldNo_(fieldNo), cursor_(cursor), data_(std::move(data)), header_(header) {
  position_ = data_->Position();
}

TABSLocalBLOBStream::~TABSLocalBLOBStream() = default;

std::int32_t TABSLocalBLOBStream::Read(void* buffer, std::int32_t count) {
  const std::int32_t read = data_->Read(buffer, count);
  position_ = data_->Position();
  return read;
}

std::int32_t TABSLocalBLOBStream::Write(const void* buffer, std::int32_t count) {
  if (!Writable()) throw EABSException(10115, "Cannot write to read only stream");
  modified_ = true;
  const std::int32_t written = data_->Write(buffer, count);
  position_ = data_->Position();
  return written;
}

std::int64_t TABSLocalBLOBStream::Seek(std::int64_t offset, TABSSeekOrigin origin) {
  position_ = data_->Seek(offset, origin);
  return position_;
}

void TABSLocalBLOBStream::SetSize(std::int64_t newSize) {
  if (!Writable()) throw EABSException(10116, "Cannot write to read only stream");
  modified_ = true;
  data_->SetSize(newSize);
  position_ = data_->Position();
}

TABSLocalBLOBStream* TABSLocalCursor::OpenBlobStream(bool inserting, bool /*editing*/,
                                                     bool /*browsing*/, std::int32_t mode,
                                                     std::int32_t fieldNo) {
  TABSTableData* table = TableData;
  if (table == nullptr) throw EABSException(10113, "Nil pointer occured");
  TableLock hold(*table);
  const std::int32_t count = LogicalFieldDefs ? LogicalFieldDefs->DefCount() : 0;
  if (fieldNo < 0 || fieldNo >= count) {
    throw EABSException(10110, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, count});
  }
  if (!BlobStreams) throw EABSException(10113, "Nil pointer occured");
  const std::int32_t physical = (*LogicalFieldDefs)[fieldNo]->PhysicalFieldNo;
  const bool writable = mode != bmRead;
  if (writable) {
    for (const auto& entry : *BlobStreams) {
      if (!entry) throw EABSException(10114, "Nil pointer occured");
      if (entry->Writable() && entry->FieldNo() == physical) {
        throw EABSException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                            {physical, (*PhysicalFieldDefs)[physical]->Name()});
      }
    }
  }
  BlobStreams->reserve(BlobStreams->size() + 1);
  // A new record, or a stream only written to, starts empty.
  const std::byte* image = (inserting || mode == bmWrite) ? nullptr : CurrentBuffer;
  TABSBlobHeader header;
  std::unique_ptr<TABSMemoryStream> data = table->OpenBlobFieldStream(image, physical, header);
  if (!data) return nullptr;
  auto stream =
      MakeLateOwned(new TABSLocalBLOBStream(mode, physical, *this, std::move(data), header));
  TABSLocalBLOBStream* result = stream.get();
  BlobStreams->push_back(std::move(stream));
  return result;
}

void TABSLocalCursor::CloseBlobStreams(std::int32_t fieldNo) {
  const std::int32_t count = LogicalFieldDefs ? LogicalFieldDefs->DefCount() : 0;
  if (fieldNo < 0 || fieldNo >= count) {
    throw EABSException(10118, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, count});
  }
  if (!BlobStreams) throw EABSException(10119, "Nil pointer occured");
  TABSTableData* table = TableData;
  if (table == nullptr) throw EABSException(10119, "Nil pointer occured");
  TableLock hold(*table);
  const std::int32_t physical = (*LogicalFieldDefs)[fieldNo]->PhysicalFieldNo;
  for (const auto& entry : *BlobStreams) {
    if (!entry) throw EABSException(10120, "Nil pointer occured");
  }
  for (std::size_t i = 0; i < BlobStreams->size();) {
    TABSLocalBLOBStream& stream = *(*BlobStreams)[i];
    if (stream.FieldNo() != physical) {
      ++i;
      continue;
    }
    if (stream.Writable() && stream.Modified() && CurrentBuffer != nullptr) {
      // A failure here keeps the stream open, so nothing written is lost.
      table->StoreBlobFromStream(CurrentBuffer, physical, stream.Data(), stream.Header(), true);
    }
    if (TABSBlobStreamOwner* owner = stream.Owner()) {
      stream.SetOwner(nullptr);
      owner->BlobStreamGone(stream);
    }
    BlobStreams->erase(BlobStreams->begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TABSLocalCursor::FreeBlobStreams(bool onlyWritable) {
  if (!BlobStreams) return;
  for (const auto& entry : *BlobStreams) {
    if (!entry) throw EABSException(10121, "Nil pointer occured");
  }
  for (;;) {
    auto it = std::find_if(BlobStreams->begin(), BlobStreams->end(),
                           [&](const auto& s) { return !onlyWritable || s->Writable(); });
    if (it == BlobStreams->end()) return;
    TABSLocalBLOBStream& stream = **it;
    const std::int32_t physical = stream.FieldNo();
    if (TABSBlobStreamOwner* owner = stream.Owner()) {
      // The owner has its dataset close the field's streams.
      owner->ReleaseBlobStream(stream);
    }
    // Whatever the owner did, the field's streams are closed now, so the
    // loop always ends.
    it = std::find_if(BlobStreams->begin(), BlobStreams->end(),
                      [&](const auto& s) { return s->FieldNo() == physical; });
    if (it == BlobStreams->end()) continue;
    std::int32_t logical = -1;
    for (std::int32_t i = 0; LogicalFieldDefs && i < LogicalFieldDefs->DefCount(); ++i) {
      if ((*LogicalFieldDefs)[i]->PhysicalFieldNo == physical) logical = i;
    }
    if (logical >= 0) {
      CloseBlobStreams(logical);
    } else {
      (*it)->SetOwner(nullptr);
      BlobStreams->erase(it);
    }
  }
}

void TABSLocalCursor::DiscardBlobStreams() noexcept {
  if (!BlobStreams) return;
  // Taken out of the list first: an owner that looks at the cursor sees no
  // stream of its own there any more.
  auto streams = std::move(*BlobStreams);
  BlobStreams->clear();
  for (auto& stream : streams) {
    if (!stream) continue;
    if (TABSBlobStreamOwner* owner = stream->Owner()) {
      stream->SetOwner(nullptr);
      owner->BlobStreamGone(*stream);
    }
  }
}
