// The engine stream over a private temporary file (platform/os/TempFile.h):
// the record file, the page file and the file half of a temporary stream.
//
// The file has no name anyone can open, is close-on-exec, mode 0600, and is
// gone once the stream is destroyed or the process ends. It is buffered:
// runs of small sequential reads and writes cost one system call per 64 KiB.
// A failed transfer shows as a short Read or Write (the caller turns it into
// its engine error); data not yet written stays buffered, so nothing already
// accepted is dropped.
//
// Ownership: the stream owns the file. Threads: as every stream, one at a
// time (the owning table's database lock).
#pragma once

#include <cstdint>
#include <memory>

#include "engine/types/ABSStream.h"
#include "platform/os/TempFile.h"

class TABSTemporaryFileStream final : public TABSStream {
 public:
  // Creates the file; raises 10104 "Cannot create file. FileName = %s" (the
  // directory and name pattern tried) when no private file can be made.
  TABSTemporaryFileStream();
  ~TABSTemporaryFileStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TABSSeekOrigin origin) override;
  std::int64_t Size() const override;
  // Raises 20292 "Cannot set size of temporary file: %s" when the file
  // cannot be resized (buffered data that cannot be written counts).
  void SetSize(std::int64_t newSize) override;
  // Writes buffered data; false when the file refused it (data kept).
  bool Flush();
  // Positioned transfers that leave Position() alone, for callers that
  // address records by offset; same results as Seek followed by Read/Write.
  // REQUIRES offset >= 0.
  std::int32_t ReadAt(std::int64_t offset, void* buffer, std::int32_t count) {
    return static_cast<std::int32_t>(file_->Read(offset, buffer, count));
  }
  std::int32_t WriteAt(std::int64_t offset, const void* buffer, std::int32_t count) {
    return static_cast<std::int32_t>(file_->Write(offset, buffer, count));
  }
  // The descriptor, for tests of the file's privacy.
  int Descriptor() const noexcept;

 private:
  std::unique_ptr<platform::TempFile> file_;
};
