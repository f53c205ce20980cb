#include "platform/os/TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

TempFileFaults& TempFileFaultsForTesting() {
  static TempFileFaults faults;
  return faults;
}

std::string TemporaryDirectory() {
  const char* value = std::getenv("TMPDIR");
  if (value != nullptr && value[0] == '/') {
    struct stat st {};
    if (::stat(value, &st) == 0 && S_ISDIR(st.st_mode) && ::access(value, W_OK | X_OK) == 0) {
      return value;
    }
  }
  return "/tmp";
}

namespace {

// An unnamed file in `directory`, else a named one that is unlinked before
// anyone learns its name; -1 with errno set when neither can be made.
int OpenPrivateFile(const std::string& directory) {
  const TempFileFaults& faults = TempFileFaultsForTesting();
  if (faults.FailCreate) {
    errno = EACCES;
    return -1;
  }
  if (!faults.ForceNamedFile) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
  }
  std::string path = directory;
  if (path.empty() || path.back() != '/') path += '/';
  path += "ABSXXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  // mkostemp opens with O_CREAT | O_EXCL and mode 0600 under random letters.
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  if (::unlink(name.data()) != 0 || ::fchmod(fd, 0600) != 0) {
    const int error = errno;
    ::unlink(name.data());
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<TempFile> TempFile::Create(std::string* directory) {
  std::string dir = TemporaryDirectory();
  int fd = OpenPrivateFile(dir);
  if (fd < 0 && dir != "/tmp") {
    dir = "/tmp";
    fd = OpenPrivateFile(dir);
  }
  if (directory != nullptr) *directory = dir;
  if (fd < 0) return nullptr;
  const int error = errno;
  try {
    return std::unique_ptr<TempFile>(new TempFile(fd));
  } catch (...) {
    ::close(fd);
    errno = error;
    return nullptr;
  }
}

TempFile::TempFile(int fd) : buffer_(new char[BufferSize]) {
  fd_ = fd;  // set after the buffer exists, so a failed allocation leaves the fd to Create
}

TempFile::~TempFile() {
  if (fd_ >= 0) ::close(fd_);
}

void TempFile::DropWindow() noexcept {
  windowStart_ = 0;
  windowLength_ = 0;
  dirty_ = false;
}

std::int64_t TempFile::RawRead(std::int64_t offset, char* buffer, std::int64_t count) {
  TempFileFaults& faults = TempFileFaultsForTesting();
  std::int64_t allowed = count;
  if (faults.ReadBytesLeft >= 0) allowed = std::min(count, faults.ReadBytesLeft);
  std::int64_t done = 0;
  while (done < allowed) {
    const ssize_t n = ::pread(fd_, buffer + done, static_cast<std::size_t>(allowed - done),
                              static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) lastError_ = errno;
    if (n <= 0) break;
    done += n;
  }
  if (faults.ReadBytesLeft >= 0) {
    faults.ReadBytesLeft -= done;
    if (done < count && done == allowed) lastError_ = EIO;
  }
  return done;
}

std::int64_t TempFile::RawWrite(std::int64_t offset, const char* buffer, std::int64_t count) {
  TempFileFaults& faults = TempFileFaultsForTesting();
  std::int64_t allowed = count;
  if (faults.WriteBytesLeft >= 0) allowed = std::min(count, faults.WriteBytesLeft);
  std::int64_t done = 0;
  while (done < allowed) {
    const ssize_t n = ::pwrite(fd_, buffer + done, static_cast<std::size_t>(allowed - done),
                               static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) lastError_ = errno;
    if (n <= 0) break;
    done += n;
  }
  if (faults.WriteBytesLeft >= 0) {
    faults.WriteBytesLeft -= done;
    if (done < count && done == allowed) lastError_ = ENOSPC;
  }
  fileSize_ = std::max(fileSize_, offset + done);
  return done;
}

bool TempFile::Flush() {
  if (!dirty_) return true;
  const std::int64_t written = RawWrite(windowStart_, buffer_.get(), windowLength_);
  if (written != windowLength_) return false;  // the whole window stays pending
  dirty_ = false;                              // and serves reads from now on
  return true;
}

std::int64_t TempFile::WriteOutside(std::int64_t offset, const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const char* bytes = static_cast<const char*>(buffer);
  if (!Flush()) return 0;
  DropWindow();
  if (count >= BufferSize) return RawWrite(offset, bytes, count);
  std::memcpy(buffer_.get(), bytes, static_cast<std::size_t>(count));
  windowStart_ = offset;
  windowLength_ = count;
  dirty_ = true;
  return count;
}

std::int64_t TempFile::ReadOutside(std::int64_t offset, void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  char* bytes = static_cast<char*>(buffer);
  if (!Flush()) return 0;
  if (count >= BufferSize) return RawRead(offset, bytes, count);
  // Read ahead one window. Bytes beyond the file's end are not in it.
  DropWindow();
  const std::int64_t got = RawRead(offset, buffer_.get(), BufferSize);
  windowStart_ = offset;
  windowLength_ = got;
  const std::int64_t n = std::min(got, count);
  std::memcpy(bytes, buffer_.get(), static_cast<std::size_t>(n));
  return n;
}

std::int64_t TempFile::Size() const {
  return dirty_ ? std::max(fileSize_, windowStart_ + windowLength_) : fileSize_;
}

bool TempFile::SetSize(std::int64_t size) {
  if (size < 0) {
    lastError_ = EINVAL;
    return false;
  }
  // Buffered bytes beyond the new end are dropped, those below it stay
  // pending: the resize needs no write, so it works on a file that refuses
  // writes too (cutting a half-written value off again).
  if (windowStart_ + windowLength_ > size) {
    windowLength_ = std::max<std::int64_t>(0, size - windowStart_);
    if (windowLength_ == 0) DropWindow();
  }
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    lastError_ = errno;
    return false;
  }
  fileSize_ = size;
  return true;
}

}  // namespace platform
