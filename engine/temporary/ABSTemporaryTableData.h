// A table of the temporary database "TEMP": filled once by appending, then
// read. Records live in a TABSTemporaryRecordManager, index pages in a
// TABSTemporaryPageManager and BLOB values in the table's BLOB stream; all
// three keep data in memory up to their limits and in private temporary
// files beyond them, unless the table keeps everything in memory (the
// creating cursor's KeepTempInMemory).
//
// Records are numbered 0, 1, 2, ... in the order of appending; a position
// holds that number (48 bits). Changing or deleting a record is refused:
// UpdateCursorRecord and DeleteCursorRecord answer false and change nothing.
//
// BLOB values are appended to the BLOB stream as a 20-byte header (the 12
// bytes of the BLOB layer's header values, then the byte count as a signed
// 64-bit integer, little-endian) followed by the bytes. A BLOB field of a
// record image holds in its first 8 bytes the stream offset of the header
// (the rest zero); a NULL field has its null bit set. Space of replaced
// values is never reclaimed. The BLOB stream exists for tables with BLOB
// fields from creation on, and a new empty one replaces it whenever the
// table is emptied.
//
// Ownership: owns its page manager and BLOB stream (and, through the base,
// the field, constraint and record managers). Locks: the database lock, as
// every table (ABSTableData.h); every operation takes it itself.
//
// Errors: see each operation; a failed create installs nothing, a failed
// BLOB store leaves the field as it was. The destructor never raises.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/tables/ABSTableData.h"

class TABSTemporaryPageManager;
class TABSTemporaryRecordManager;

class TABSTemporaryTableData final : public TABSTableData {
 public:
  static constexpr std::int32_t kRecordGrowthStep = 1000;
  static constexpr std::int32_t kRecordBlockSize = 10;
  static constexpr std::int32_t kStoredBlobHeaderSize = 20;
  // Bytes reserved up front by the memory BLOB stream of a keep-in-memory table.
  static constexpr std::int32_t kMemoryBlobReserve = 1048576;

  TABSTemporaryTableData(TABSDatabaseData& database, std::string_view tableName,
                         std::int32_t growthStep = kRecordGrowthStep,
                         std::int32_t blockSize = kRecordBlockSize);
  // Empties the table (its files go), commits and frees the page manager;
  // never raises.
  ~TABSTemporaryTableData() override;

  bool KeepInMemory() const { return keepInMemory_; }
  std::int32_t GrowthStep() const { return growthStep_; }
  std::int32_t BlockSize() const { return blockSize_; }
  // Nil for a table without BLOB fields.
  const TABSStream* BlobStream() const { return blobStream_.get(); }
  TABSTemporaryPageManager* TemporaryPageManager() const { return ownPageManager_.get(); }
  // Nil before the table was created.
  TABSTemporaryRecordManager* TemporaryRecords() const;

  // A new record manager for GetRecordSize() and the keep-in-memory flag.
  void CreateRecordManager() override;
  // No fields raise 10132. Takes the name and the keep-in-memory flag from
  // the cursor; everything (the indexes of `indexes` included, in a new
  // page manager) is built aside and installed when all steps succeeded.
  void CreateTableFromDefs(TABSCursorState& cursor, const TABSFieldDefs& fields,
                           const TABSIndexDefs& indexes,
                           const TABSConstraintDefs& constraints) override;
  // Every record goes (numbers start at 0 again, the files are closed), a
  // fresh BLOB stream replaces the old one, counters reset.
  void EmptyTableData(TABSCursorState* cursor) override;
  std::int64_t GetTableRecordCount(std::int32_t sessionId) override;
  std::int64_t PositionToOrdinal(const RecordPosition& position) override;
  void OrdinalToPosition(RecordPosition& position, std::int64_t ordinal) override;

  // No BLOB stream: 10144. Reading `stream` short: 20289; positioning the
  // BLOB stream: 10422; a short write: 10145. The field changes only once
  // the whole value is stored.
  void StoreBlobFromStream(std::byte* image, std::int32_t fieldNo, TABSStream& stream,
                           const TABSBlobHeader& header, bool modified) override;
  // No BLOB stream: 10140; positioning 10141; a short or inconsistent
  // stored value 10142.
  std::unique_ptr<TABSMemoryStream> OpenBlobFieldStream(const std::byte* image,
                                                        std::int32_t fieldNo,
                                                        TABSBlobHeader& header) override;
  // Positioning 10509; a short or inconsistent stored value 10510 (no
  // buffer is left behind).
  void ReadBlobField(std::int32_t fieldNo, void*& buffer, std::int64_t& length,
                     TABSBlobHeader& header, const std::byte* image) override;
  // No BLOB stream: 10506; positioning 10507; a short write 10508. Length 0
  // makes the field NULL.
  void WriteBlobField(std::int32_t fieldNo, const void* buffer, std::int64_t length,
                      const TABSBlobHeader& header, std::byte* image) override;
  void FreeBlobBuffer(void*& buffer) override;

  // No record manager: 10134; no current buffer: 10135. False when the
  // record manager refuses the record (nothing stored then). The record and
  // its keys go in together: when a key fails, the record is taken back and
  // the error passes on.
  bool InsertCursorRecord(TABSCursorState& cursor) override;
  // Temporary records cannot be changed or removed: false.
  bool DeleteCursorRecord(TABSCursorState& cursor) override;
  bool UpdateCursorRecord(TABSCursorState& cursor) override;
  // Record n (1-based) of the table; numbers below 1 give the first, above
  // the count the last. No record manager: 10136.
  void RecordNumberToPosition(TABSCursorState& cursor, std::int64_t number) override;
  // The cursor's 1-based record number; -1 when its position lies beyond
  // the table. No record manager: 10137.
  std::int64_t PositionToRecordNumber(TABSCursorState& cursor) override;
  // No record manager: 10133.
  std::int64_t CountAllRecords(TABSCursorState& cursor) override;

 private:
  // A new empty BLOB stream for the keep-in-memory flag.
  std::unique_ptr<TABSStream> NewBlobStream() const;
  // Appends header and bytes at the end of the BLOB stream; returns the
  // header's offset. The stream is cut back to its old end on failure.
  std::int64_t AppendBlob(const void* bytes, std::int64_t length, const TABSBlobHeader& header,
                          std::int32_t positionCode, std::int32_t headerCode,
                          std::int32_t bytesCode);
  // Reads the stored header at `offset`; returns the byte count.
  std::int64_t ReadStoredHeader(std::int64_t offset, TABSBlobHeader& header,
                                std::int32_t positionCode, std::int32_t readCode);
  void PutOffsetIntoField(std::byte* image, std::int32_t fieldNo, std::int64_t offset);
  std::int64_t OffsetOfField(const std::byte* image, std::int32_t fieldNo) const;

  const std::int32_t growthStep_;
  const std::int32_t blockSize_;
  bool keepInMemory_ = false;
  std::unique_ptr<TABSTemporaryPageManager> ownPageManager_;
  std::unique_ptr<TABSStream> blobStream_;
};
