// Private temporary files: scratch storage that no other process can open,
// replace or read, and that disappears when it is closed or the process ends.
//
// A file is created in the temporary directory (TMPDIR when it names a
// usable directory, else /tmp; the path is used whole, never cut short).
// Where the file system allows it the file never gets a name (O_TMPFILE);
// otherwise it is created exclusively (O_EXCL) under an unpredictable name
// beginning with "ABS" and unlinked at once. Either way it has mode 0600, is
// close-on-exec, and is addressed with 64-bit offsets.
//
// TempFile adds one buffer of BufferSize bytes in front of the descriptor:
// sequential writes are gathered into it and written once it is full (or
// before anything else needs the file), sequential reads are served from a
// window read ahead into it. Reads always see earlier writes. Read and Write
// return the bytes moved; fewer than asked means the system refused the
// transfer (or the file ended), and errno-style detail is in LastError().
// Data a failed write could not get to the file stays in the buffer, so a
// later call retries it.
//
// Ownership: a TempFile owns its descriptor and buffer; destruction closes
// the file without writing the buffer (the data is scratch) and never
// raises. Threads: one thread at a time; no locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace platform {

// Test seams for every TempFile of the process. Byte budgets count down as
// data reaches (writes) or leaves (reads) the descriptor; once one is used
// up the next transfer moves only what is left of it and then fails with
// ENOSPC / EIO. -1 means unlimited. Not for concurrent use.
struct TempFileFaults {
  std::int64_t WriteBytesLeft = -1;
  std::int64_t ReadBytesLeft = -1;
  bool FailCreate = false;      // every creation fails with EACCES
  bool ForceNamedFile = false;  // skip O_TMPFILE: exercise the named path
};
TempFileFaults& TempFileFaultsForTesting();

// The directory new temporary files go to: TMPDIR when it is an absolute
// path of a directory this process may write and search, else "/tmp".
std::string TemporaryDirectory();

class TempFile {
 public:
  static constexpr std::int32_t BufferSize = 64 * 1024;

  // A new private file in TemporaryDirectory() (falling back to /tmp when
  // that directory refuses the file); nil when none can be made, with the
  // directory tried last in `directory` and errno set.
  static std::unique_ptr<TempFile> Create(std::string* directory = nullptr);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // REQUIRES offset >= 0, count >= 0. Returns the bytes read (short at the
  // end of the file or on an error). Fast path: the bytes are in the window.
  std::int64_t Read(std::int64_t offset, void* buffer, std::int64_t count) {
    if (count > 0 && offset >= windowStart_ && offset + count <= windowStart_ + windowLength_) {
      std::memcpy(buffer, buffer_.get() + (offset - windowStart_), static_cast<std::size_t>(count));
      return count;
    }
    return ReadOutside(offset, buffer, count);
  }
  // REQUIRES offset >= 0, count >= 0. Returns the bytes accepted; fewer than
  // `count` only when writing pending data to the file failed. Fast path: the
  // bytes continue or overwrite the window and fit in it.
  std::int64_t Write(std::int64_t offset, const void* buffer, std::int64_t count) {
    if (count > 0 && offset >= windowStart_ && offset <= windowStart_ + windowLength_ &&
        offset - windowStart_ <= BufferSize - count) {
      std::memcpy(buffer_.get() + (offset - windowStart_), buffer, static_cast<std::size_t>(count));
      if (offset + count - windowStart_ > windowLength_)
        windowLength_ = offset + count - windowStart_;
      dirty_ = true;
      return count;
    }
    return WriteOutside(offset, buffer, count);
  }
  // The logical size: the file's size, or the end of buffered data beyond it.
  std::int64_t Size() const;
  // Resizes the file (buffered data beyond the new end are dropped, the
  // rest stay pending); false on failure, see LastError().
  bool SetSize(std::int64_t size);
  // Writes buffered data to the file; false on failure (data kept).
  bool Flush();

  int Descriptor() const noexcept { return fd_; }
  int LastError() const noexcept { return lastError_; }

 private:
  explicit TempFile(int fd);
  std::int64_t ReadOutside(std::int64_t offset, void* buffer, std::int64_t count);
  std::int64_t WriteOutside(std::int64_t offset, const void* buffer, std::int64_t count);
  // pread/pwrite until done, an error or end of file; fault budgets apply.
  std::int64_t RawRead(std::int64_t offset, char* buffer, std::int64_t count);
  std::int64_t RawWrite(std::int64_t offset, const char* buffer, std::int64_t count);
  void DropWindow() noexcept;

  int fd_ = -1;
  int lastError_ = 0;
  std::unique_ptr<char[]> buffer_;
  // The buffer holds the bytes [windowStart_, windowStart_ + windowLength_)
  // of the file as the file will read once dirty_ data are written.
  std::int64_t windowStart_ = 0;
  std::int64_t windowLength_ = 0;
  bool dirty_ = false;
  std::int64_t fileSize_ = 0;  // the descriptor's size as last written or set
};

}  // namespace platform
