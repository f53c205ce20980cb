#include "engine/types/ABSStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"

namespace {

[[noreturn]] void RaiseBadPosition(std::int64_t position) {
  throw EABSException(native_code::kStreamBadPosition, "Invalid stream position or size: %d",
                      {position});
}

void CheckBuffer(const void* buffer, std::int32_t count) {
  if (buffer == nullptr && count > 0)
    throw EABSException(native_code::kStreamNilBuffer, "Nil pointer occured");
}

}  // namespace

std::int64_t TABSStream::ResolveSeek(std::int64_t offset, TABSSeekOrigin origin) const {
  std::int64_t base = 0;
  switch (origin) {
    case TABSSeekOrigin::Beginning:
      base = 0;
      break;
    case TABSSeekOrigin::Current:
      base = position_;
      break;
    case TABSSeekOrigin::End:
      base = Size();
      break;
  }
  std::int64_t result = 0;
  if (__builtin_add_overflow(base, offset, &result) || result < 0) RaiseBadPosition(offset);
  return result;
}

// --- TABSMemoryStream ---

void TABSMemoryStream::Clear() {
  size_ = 0;
  capacity_ = 0;
  position_ = 0;
  memory_.Free();  // the stream is empty even when this reports a damaged block
}

void TABSMemoryStream::Reserve(std::int64_t capacity) {
  if (capacity <= capacity_) return;
  // Grow by half again so that a run of small writes costs amortised O(1).
  std::int64_t grown = capacity_ + capacity_ / 2;
  if (grown < capacity) grown = capacity;
  if (grown < 64) grown = 64;
  if (grown > TABSMemoryManager::MaxBlockSize) grown = capacity;
  memory_.Resize(grown);
  capacity_ = grown;
}

std::int32_t TABSMemoryStream::Read(void* buffer, std::int32_t count) {
  CheckBuffer(buffer, count);
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t available = size_ - position_;
  const std::int32_t n = available < count ? static_cast<std::int32_t>(available) : count;
  std::memcpy(buffer, memory_.as<const char>() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TABSMemoryStream::Write(const void* buffer, std::int32_t count) {
  CheckBuffer(buffer, count);
  if (count <= 0) return 0;
  if (position_ > TABSMemoryManager::MaxBlockSize - count) RaiseBadPosition(position_);
  const std::int64_t end = position_ + count;
  if (end > size_) {
    Reserve(end);
    // A position beyond the old end leaves a gap that reads back as zeros.
    if (position_ > size_) {
      std::memset(memory_.as<char>() + size_, 0, static_cast<std::size_t>(position_ - size_));
    }
    size_ = end;
  }
  std::memcpy(memory_.as<char>() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TABSMemoryStream::Seek(std::int64_t offset, TABSSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin);
  return position_;
}

void TABSMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) RaiseBadPosition(newSize);
  if (newSize > size_) {
    Reserve(newSize);
    std::memset(memory_.as<char>() + size_, 0, static_cast<std::size_t>(newSize - size_));
  }
  size_ = newSize;
  if (position_ > size_) position_ = size_;
}

// --- TABSFileStream ---

TABSFileStream::TABSFileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::OpenRead:
      flags |= O_RDONLY;
      break;
    case Mode::OpenReadWrite:
      flags |= O_RDWR;
      break;
  }
  fd_ = ::open(fileName.c_str(), flags, 0600);
  if (fd_ < 0) {
    throw EABSException(native_code::kStreamOpenFile, "Cannot open file '%s': %s",
                        {fileName, std::strerror(errno)});
  }
}

TABSFileStream::~TABSFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// Repeats a positioned read or write until `count` bytes moved, the file
// ends or an error other than an interruption occurs; returns the bytes moved.
template <typename Transfer>
std::int32_t TransferAll(std::int32_t count, std::int64_t offset, Transfer transfer) {
  std::int32_t done = 0;
  while (done < count) {
    const ssize_t n = transfer(done, static_cast<std::size_t>(count - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

}  // namespace

std::int32_t TABSFileStream::Read(void* buffer, std::int32_t count) {
  CheckBuffer(buffer, count);
  const std::int32_t done =
      TransferAll(count, position_, [&](std::int32_t at, std::size_t n, std::int64_t offset) {
        return ::pread(fd_, static_cast<char*>(buffer) + at, n, offset);
      });
  position_ += done;
  return done;
}

std::int32_t TABSFileStream::Write(const void* buffer, std::int32_t count) {
  CheckBuffer(buffer, count);
  const std::int32_t done =
      TransferAll(count, position_, [&](std::int32_t at, std::size_t n, std::int64_t offset) {
        return ::pwrite(fd_, static_cast<const char*>(buffer) + at, n, offset);
      });
  position_ += done;
  return done;
}

std::int64_t TABSFileStream::Seek(std::int64_t offset, TABSSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin);
  return position_;
}

std::int64_t TABSFileStream::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

void TABSFileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) RaiseBadPosition(newSize);
  if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) {
    throw EABSException(native_code::kStreamSetFileSize, "Cannot set size of file '%s': %s",
                        {fileName_, std::strerror(errno)});
  }
  if (position_ > newSize) position_ = newSize;
}

// --- helpers ---

void WriteStreamBlock(TABSStream& stream, const void* buffer, std::int32_t count,
                      std::int32_t nativeError) {
  const std::int64_t position = stream.Position();
  const std::int32_t written = stream.Write(buffer, count);
  if (written != count) {
    throw EABSException(nativeError,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Write = %d",
                        {position, stream.Size(), count, written});
  }
}

void ReadStreamBlock(TABSStream& stream, void* buffer, std::int32_t count,
                     std::int32_t nativeError) {
  const std::int64_t position = stream.Position();
  const std::int32_t read = stream.Read(buffer, count);
  if (read != count) RaiseStreamReadError(stream, position, count, read, nativeError);
}

void RaiseStreamReadError(const TABSStream& stream, std::int64_t position, std::int32_t blockSize,
                          std::int32_t bytesRead, std::int32_t nativeError) {
  throw EABSException(nativeError,
                      "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, "
                      "Bytes Read = %d",
                      {position, stream.Size(), blockSize, bytesRead});
}

void SetStreamPosition(TABSStream& stream, std::int64_t position, std::int32_t nativeError) {
  const std::int64_t before = stream.Position();
  bool ok = false;
  try {
    ok = position >= 0 && stream.Seek(position, TABSSeekOrigin::Beginning) == position;
  } catch (const EABSException&) {
    ok = false;
  }
  if (!ok) {
    throw EABSException(nativeError, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {position, before, stream.Size()});
  }
}
