// BLOB fields through the local cursor's streams: round trips, edits that
// are refused or abandoned, read-only streams and detaching with streams
// open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/schema/ABSNullBits.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

// A dataset-level owner that closes the field's streams when released and
// records what the cursor told it.
class Owner : public TABSBlobStreamOwner {
 public:
  Owner(TABSLocalCursor& cursor, std::int32_t logicalField)
      : cursor_(cursor), field_(logicalField) {}
  void ReleaseBlobStream(TABSLocalBLOBStream&) override {
    ++released;
    cursor_.CloseBlobStreams(field_);
  }
  void BlobStreamGone(TABSLocalBLOBStream&) noexcept override { ++gone; }
  int released = 0;
  int gone = 0;

 private:
  TABSLocalCursor& cursor_;
  std::int32_t field_;
};

class LocalCursorBlob : public CursorTest {
 protected:
  LocalCursorBlob() {
    TABSFieldDefs fields;
    fields.AddFieldDef("Id", dtInteger);
    fields.AddFieldDef("Data", dtBlob);
    MakeTable("Blobs", fields);
    cursor_ = Open("Blobs");
    buffer_ = std::make_unique<RecordBuffer>(*cursor_);
    cursor_->CurrentBuffer = buffer_->get();
  }

  static std::vector<char> Bytes(std::size_t n) {
    std::vector<char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i * 131 + 7);
    return bytes;
  }

  // Inserts a record with `bytes` in its BLOB through a write stream.
  void InsertWithBlob(std::int32_t id, const std::vector<char>& bytes) {
    cursor_->CurrentBuffer = buffer_->get();
    cursor_->InitRecordBuffer(buffer_->get(), true);
    cursor_->WriteFieldData(0, &id, buffer_->get());
    TABSLocalBLOBStream* stream = cursor_->OpenBlobStream(true, false, false, bmWrite, 1);
    ASSERT_NE(stream, nullptr);
    stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream->SetSize(static_cast<std::int64_t>(bytes.size()));
    cursor_->WriteRecord(true);
    ASSERT_EQ(cursor_->LastResultCode, 0);
  }

  // The BLOB of record `number` as the table has it stored.
  std::vector<char> StoredBlob(std::int64_t number) {
    auto reader = Open("Blobs");
    RecordBuffer buffer(*reader);
    reader->CurrentBuffer = buffer.get();
    reader->SeekRecordNumber(number);
    EXPECT_EQ(reader->FetchRecord(FetchMode::Current), FetchResult::Found);
    TABSLocalBLOBStream* stream = reader->OpenBlobStream(false, false, true, bmRead, 1);
    std::vector<char> bytes(static_cast<std::size_t>(stream->Size()));
    if (!bytes.empty()) {
      EXPECT_EQ(stream->Read(bytes.data(), static_cast<std::int32_t>(bytes.size())),
                static_cast<std::int32_t>(bytes.size()));
    }
    return bytes;
  }

  // Loads record `number` for an edit: CurrentBuffer and an OriginalBuffer copy.
  void BeginEdit(std::int64_t number, RecordBuffer& original) {
    cursor_->CurrentBuffer = buffer_->get();
    cursor_->SeekRecordNumber(number);
    ASSERT_EQ(cursor_->FetchRecord(FetchMode::Current), FetchResult::Found);
    cursor_->Position.Store(buffer_->get() + cursor_->PositionOffset);
    std::memcpy(original.get(), buffer_->get(),
                static_cast<std::size_t>(cursor_->RecordBufferSize));
    cursor_->OriginalBuffer = original.get();
    cursor_->PrepareEdit();
  }

  std::unique_ptr<TABSLocalCursor> cursor_;
  std::unique_ptr<RecordBuffer> buffer_;
};

TEST_F(LocalCursorBlob, RoundTrips) {
  const std::size_t sizes[] = {0, 1, 1u << 20};
  std::int64_t number = 0;
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    InsertWithBlob(static_cast<std::int32_t>(size), Bytes(size));
    ++number;
    EXPECT_EQ(StoredBlob(number), Bytes(size));
    // An empty BLOB is stored as NULL.
    EXPECT_EQ(IsNullBitSet(buffer_->get(), 1), size == 0);
  }
}

TEST_F(LocalCursorBlob, UpdateReplacesTheBlockAndFreesTheOld) {
  InsertWithBlob(1, Bytes(100));
  RecordBuffer original(*cursor_);
  BeginEdit(1, original);
  TABSLocalBLOBStream* stream = cursor_->OpenBlobStream(false, true, false, bmReadWrite, 1);
  EXPECT_EQ(stream->Size(), 100);
  stream->Seek(0, TABSSeekOrigin::End);
  stream->Write("tail", 4);
  cursor_->WriteRecord(false);
  ASSERT_EQ(cursor_->LastResultCode, 0);
  std::vector<char> expected = Bytes(100);
  expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
  EXPECT_EQ(StoredBlob(1), expected);
  EXPECT_TRUE(cursor_->BlobStreams->empty());
}

TEST_F(LocalCursorBlob, RefusedUpdateAndAbandonedEditKeepTheStoredBlob) {
  InsertWithBlob(1, Bytes(64));
  auto other = Open("Blobs");
  RecordBuffer original(*cursor_);

  // The other cursor changes the record's Id: my update is refused.
  BeginEdit(1, original);
  {
    RecordBuffer theirs(*other), theirsOriginal(*other);
    other->CurrentBuffer = theirs.get();
    other->SeekRecordNumber(1);
    ASSERT_EQ(other->FetchRecord(FetchMode::Current), FetchResult::Found);
    other->Position.Store(theirs.get() + other->PositionOffset);
    std::memcpy(theirsOriginal.get(), theirs.get(),
                static_cast<std::size_t>(other->RecordBufferSize));
    other->OriginalBuffer = theirsOriginal.get();
    const std::int32_t id = 2;
    other->WriteFieldData(0, &id, theirs.get());
    other->WriteRecord(false);
    ASSERT_EQ(other->LastResultCode, 0);
  }
  TABSLocalBLOBStream* stream = cursor_->OpenBlobStream(false, true, false, bmWrite, 1);
  stream->Write("new", 3);
  cursor_->WriteRecord(false);
  EXPECT_EQ(cursor_->LastResultCode, crUpdateModifiedByOther);
  EXPECT_EQ(StoredBlob(1), Bytes(64));
  cursor_->AbandonChanges(false);
  EXPECT_EQ(StoredBlob(1), Bytes(64));

  // An abandoned edit whose stream the dataset closed before.
  BeginEdit(1, original);
  stream = cursor_->OpenBlobStream(false, true, false, bmWrite, 1);
  stream->Write("other", 5);
  cursor_->CloseBlobStreams(1);
  cursor_->AbandonChanges(false);
  EXPECT_EQ(StoredBlob(1), Bytes(64));
  EXPECT_EQ(static_cast<TABSMemoryTableData*>(cursor_->TableData)->PendingBlobCount(), 0u);
}

TEST_F(LocalCursorBlob, AbandonedInsertFreesItsBlocks) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  cursor_->InitRecordBuffer(buffer_->get(), true);
  TABSLocalBLOBStream* stream = cursor_->OpenBlobStream(true, false, false, bmWrite, 1);
  stream->Write("abc", 3);
  cursor_->CloseBlobStreams(1);
  EXPECT_FALSE(IsNullBitSet(buffer_->get(), 1));
  cursor_->AbandonChanges(true);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
  EXPECT_EQ(cursor_->CountRecords(), 0);
}

TEST_F(LocalCursorBlob, StreamRulesAndErrors) {
  InsertWithBlob(1, Bytes(10));
  TABSLocalBLOBStream* reader = cursor_->OpenBlobStream(false, false, true, bmRead, 1);
  EXPECT_EQ(NativeErrorOf([&] { reader->Write("x", 1); }), 10115);
  EXPECT_EQ(NativeErrorOf([&] { reader->SetSize(0); }), 10116);
  char first = 0;
  EXPECT_EQ(reader->Read(&first, 1), 1);
  EXPECT_EQ(first, Bytes(10)[0]);
  EXPECT_EQ(reader->Position(), 1);
  cursor_->OpenBlobStream(false, true, false, bmWrite, 1);
  const EABSException twice =
      RaisedBy([&] { cursor_->OpenBlobStream(false, true, false, bmReadWrite, 1); });
  EXPECT_EQ(twice.NativeError(), 10115);
  EXPECT_NE(std::string(twice.what()).find("Data"), std::string::npos);
  EXPECT_EQ(NativeErrorOf([&] { cursor_->OpenBlobStream(false, false, true, bmRead, 2); }), 10110);
  EXPECT_EQ(NativeErrorOf([&] { cursor_->CloseBlobStreams(-1); }), 10118);
  EXPECT_EQ(cursor_->BlobStreams->size(), 2u);
  // Releasing the writer closes the field, and with it the reader.
  cursor_->FreeBlobStreams(true);
  EXPECT_TRUE(cursor_->BlobStreams->empty());
  cursor_->OpenBlobStream(false, false, true, bmRead, 1);
  cursor_->FreeBlobStreams(true);
  EXPECT_EQ(cursor_->BlobStreams->size(), 1u);  // only writers were released
  cursor_->FreeBlobStreams(false);
  EXPECT_TRUE(cursor_->BlobStreams->empty());
}

TEST_F(LocalCursorBlob, WritingReleasesOwnedStreamsThroughTheirOwner) {
  cursor_->InitRecordBuffer(buffer_->get(), true);
  TABSLocalBLOBStream* stream = cursor_->OpenBlobStream(true, false, false, bmWrite, 1);
  Owner owner(*cursor_, 1);
  stream->SetOwner(&owner);
  stream->Write("owned", 5);
  cursor_->WriteRecord(true);
  ASSERT_EQ(cursor_->LastResultCode, 0);
  EXPECT_EQ(owner.released, 1);
  EXPECT_EQ(owner.gone, 1);  // unlinked when the dataset closed it
  EXPECT_EQ(StoredBlob(1), (std::vector<char>{'o', 'w', 'n', 'e', 'd'}));
}

TEST_F(LocalCursorBlob, DetachingDiscardsStreamsWithoutCallingTheDataset) {
  InsertWithBlob(1, Bytes(8));
  RecordBuffer original(*cursor_);
  BeginEdit(1, original);
  Owner owner(*cursor_, 1);
  TABSLocalBLOBStream* stream = cursor_->OpenBlobStream(false, true, false, bmWrite, 1);
  stream->SetOwner(&owner);
  stream->Write("lost", 4);
  TABSTableData* table = cursor_->TableData;
  cursor_->DetachTable();
  EXPECT_EQ(owner.released, 0);  // no call back into the dataset
  EXPECT_EQ(owner.gone, 1);
  EXPECT_EQ(cursor_->BlobStreams, nullptr);
  EXPECT_EQ(table->AttachedCursorCount(), 0u);
  EXPECT_EQ(StoredBlob(1), Bytes(8));
}

}  // namespace
