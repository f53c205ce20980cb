// The engine's byte streams: an abstract stream with positioned reads and
// writes, a stream over a growing buffer of engine memory and a stream over a
// file, plus the three helpers that turn a short write, a short read or a
// failed seek into an engine error carrying the caller's native code.
//
// Positions and sizes are 64-bit; one Read or Write moves at most
// 2147483647 bytes. A stream belongs to one thread at a time; none of them
// locks.
#pragma once

#include <cstdint>
#include <string>

#include "engine/memory/ABSMemBlock.h"

enum class TABSSeekOrigin { Beginning, Current, End };

class TABSStream {
 public:
  virtual ~TABSStream() = default;
  TABSStream(const TABSStream&) = delete;
  TABSStream& operator=(const TABSStream&) = delete;

  // Reads up to `count` bytes at the position and advances it; returns the
  // number read (fewer at the end of the stream, 0 for count <= 0). A nil
  // buffer with a positive count raises EABSException 30473 "Nil pointer
  // occured" (Write likewise).
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  // Writes `count` bytes at the position, growing the stream when needed,
  // and advances it; returns the number written.
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Moves the position; returns the new one. A position before 0 raises
  // EABSException 30470; a position past the end is allowed (a later write
  // fills the gap with zeros).
  virtual std::int64_t Seek(std::int64_t offset, TABSSeekOrigin origin) = 0;
  virtual std::int64_t Size() const = 0;
  // Truncates or extends (with zeros) the stream; the position is kept but
  // not beyond the new size. A negative size raises 30470.
  virtual void SetSize(std::int64_t newSize) = 0;

  std::int64_t Position() const { return position_; }
  void SetPosition(std::int64_t position) { Seek(position, TABSSeekOrigin::Beginning); }

 protected:
  TABSStream() = default;
  // Resolves a seek request against the current position and size; raises
  // 30470 when the result would be negative or overflow.
  std::int64_t ResolveSeek(std::int64_t offset, TABSSeekOrigin origin) const;
  std::int64_t position_ = 0;
};

// A stream held in one buffer of engine memory that grows as it is written.
// Owns the buffer; the memory manager's errors (limit reached) pass through
// Write and SetSize unchanged.
class TABSMemoryStream : public TABSStream {
 public:
  TABSMemoryStream() = default;
  ~TABSMemoryStream() override = default;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TABSSeekOrigin origin) override;
  std::int64_t Size() const override { return size_; }
  void SetSize(std::int64_t newSize) override;

  // The stream's bytes (Size() of them); nil while empty. Valid until the
  // next write or size change.
  const void* Memory() const { return memory_.get(); }
  // Empties the stream and returns its buffer.
  void Clear();

 private:
  void Reserve(std::int64_t capacity);
  TABSMemBlock memory_;  // capacity_ bytes
  std::int64_t size_ = 0;
  std::int64_t capacity_ = 0;
};

// A stream over a file of the file system. Owns the open file descriptor and
// closes it on destruction.
class TABSFileStream : public TABSStream {
 public:
  enum class Mode {
    Create,         // create or truncate, read and write
    OpenRead,       // existing file, read only
    OpenReadWrite,  // existing file, read and write
  };
  // Raises EABSException 30471 "Cannot open file '%s': %s" when the file
  // cannot be opened in the mode.
  TABSFileStream(const std::string& fileName, Mode mode);
  ~TABSFileStream() override;

  // Read and Write return the bytes transferred; an I/O failure (or a write
  // to a read-only stream) transfers fewer, which the stream helpers below
  // report.
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TABSSeekOrigin origin) override;
  std::int64_t Size() const override;
  // Raises 30472 "Cannot set size of file '%s': %s" when the file cannot be
  // resized.
  void SetSize(std::int64_t newSize) override;

  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  int fd_ = -1;
};

// Writes `count` bytes; raises EABSException `nativeError` "Cannot write to
// stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"
// (position before the write) when fewer were written.
void WriteStreamBlock(TABSStream& stream, const void* buffer, std::int32_t count,
                      std::int32_t nativeError);
// Reads exactly `count` bytes; raises `nativeError` "Cannot read from stream.
// Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d" when
// fewer were available.
void ReadStreamBlock(TABSStream& stream, void* buffer, std::int32_t count,
                     std::int32_t nativeError);
// Raises `nativeError` with the short-read message for a read of `blockSize`
// bytes at `position` that delivered `bytesRead`.
[[noreturn]] void RaiseStreamReadError(const TABSStream& stream, std::int64_t position,
                                       std::int32_t blockSize, std::int32_t bytesRead,
                                       std::int32_t nativeError);
// Sets the position; raises `nativeError` "Cannot set stream position to %d.
// Position = %d, Size = %d" when the stream refuses it.
void SetStreamPosition(TABSStream& stream, std::int64_t position, std::int32_t nativeError);
