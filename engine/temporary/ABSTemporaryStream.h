// A stream that holds its bytes in engine memory up to a threshold and in a
// private temporary file beyond it: the BLOB storage of temporary tables and
// the value streams handed out for their BLOB fields.
//
// It holds exactly one stream at a time: a TABSMemoryStream (from the start)
// or a TABSTemporaryFileStream (once a write would make it larger than the
// threshold, 1048576 bytes, unless the keep-in-memory flag is set). The move
// to the file copies every byte and takes the file only when the whole copy
// reached it; until then the memory stream stays the one held, so a failed
// move loses nothing. Read, Write, Seek and SetSize go to the held stream;
// Position() mirrors the held stream's position after every call.
//
// Ownership: owns the held stream. Threads: one at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/temporary/ABSTemporaryFile.h"
#include "engine/types/ABSStream.h"

class TABSTemporaryStream final : public TABSStream {
 public:
  static constexpr std::int64_t DefaultMemoryThreshold = 1048576;

  // `memoryThreshold` other than the default is a test seam.
  explicit TABSTemporaryStream(bool keepInMemory,
                               std::int64_t memoryThreshold = DefaultMemoryThreshold);
  ~TABSTemporaryStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  // Moves to the file first when the stream would pass the threshold; that
  // move raises 10104 (no file) or 20291 "Cannot write to stream. ..." (the
  // copy fell short), and then the stream is as it was.
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TABSSeekOrigin origin) override;
  std::int64_t Size() const override;
  void SetSize(std::int64_t newSize) override;

  bool KeepInMemory() const noexcept { return keepInMemory_; }
  bool InFile() const noexcept { return file_ != nullptr; }
  // The file held, nil in memory mode (tests look at its descriptor).
  const TABSTemporaryFileStream* File() const noexcept { return file_.get(); }

 private:
  TABSStream& Held() const noexcept;
  void MoveToFile();

  const bool keepInMemory_;
  const std::int64_t memoryThreshold_;
  std::unique_ptr<TABSMemoryStream> memory_;  // exactly one of these two is set
  std::unique_ptr<TABSTemporaryFileStream> file_;
};
