#include "app/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "app/UserText.h"

namespace tilgung {

namespace {

// How a target is written.
enum class TWriteMode { Replace, Create, Direct, Descriptor };

struct TResolved {
  TWriteMode mode = TWriteMode::Create;
  std::string path;     // the file that is replaced, created or written
  struct stat old {};   // the replaced file's status (Replace only)
  int descriptor = -1;  // the open descriptor written (Descriptor only)
};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The folder part of `path`: "." for a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The descriptor a name such as /dev/stdout or /dev/fd/3 stands for, or -1.
// Writing through the descriptor itself keeps its offset and its append
// mode (`--output /dev/stdout >> log` appends, as the shell asked).
int NamedDescriptor(const std::string& name) {
  if (name == "/dev/stdin") return 0;
  if (name == "/dev/stdout") return 1;
  if (name == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!StartsWith(name, prefix)) continue;
    const std::string number = name.substr(std::strlen(prefix));
    if (number.empty() || number.size() > 6 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
      return -1;
    }
    return std::stoi(number);
  }
  return -1;
}

// Follows symbolic links from `target` to the name they finally reach and
// decides how that is written. 0 or the errno of the failed look-up.
int Resolve(const std::string& target, TResolved& out) {
  std::string path = target;
  for (int hop = 0; hop < 40; ++hop) {
    if (const int fd = NamedDescriptor(path); fd >= 0) {
      out.mode = TWriteMode::Descriptor;
      out.path = target;
      out.descriptor = fd;
      return 0;
    }
    // A name of an open descriptor keeps writing where the descriptor points.
    if (StartsWith(path, "/proc/") || StartsWith(path, "/dev/fd/")) {
      out.mode = TWriteMode::Direct;
      out.path = target;
      return 0;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      // A new file; a name ending in "/" can only be a folder.
      if (path.back() == '/') return EISDIR;
      out.mode = TWriteMode::Create;
      out.path = path;
      return 0;
    }
    if (S_ISLNK(st.st_mode)) {
      char buf[PATH_MAX];
      const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
      if (n < 0) return errno;
      if (n == 0) return ENOENT;
      const std::string link(buf, static_cast<std::size_t>(n));
      path = link.front() == '/' ? link : FolderOf(path) + "/" + link;
      continue;
    }
    out.mode = S_ISREG(st.st_mode) ? TWriteMode::Replace : TWriteMode::Direct;
    out.path = path;
    out.old = st;
    return 0;
  }
  return ELOOP;
}

int WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, std::min<std::size_t>(left, 1u << 30));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

// Closes `fd`; 0 or the errno of the close.
int Close(int fd) {
  return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int WriteDirect(const TResolved& target, std::string_view bytes) {
  const int fd = target.mode == TWriteMode::Descriptor
                     ? ::fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0)
                     : ::open(target.path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = WriteAll(fd, bytes);
  // Devices and pipes cannot be synced (EINVAL); what they took is gone.
  if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) error = errno;
  const int closed = Close(fd);
  return error ? error : closed;
}

// A new file beside `path` that no one else uses; -1 with errno on failure.
int CreateSibling(const std::string& path, mode_t mode, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const auto slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Hidden and short enough for any file system's name limit.
    name = folder + "." + base.substr(0, 200) + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

int WriteAndRename(const TResolved& target, std::string_view bytes) {
  const bool replace = target.mode == TWriteMode::Replace;
  std::string name;
  // A new file gets 0666 less the umask, as any created file.
  const int fd = CreateSibling(target.path, replace ? target.old.st_mode & 07777 : 0666, name);
  if (fd < 0) return errno;
  if (replace) {
    // The umask narrowed the mode; the old file's owner and mode carry over
    // where the file system and our rights allow (a failure costs nothing).
    (void)::fchmod(fd, target.old.st_mode & 07777);
    if (target.old.st_uid != ::geteuid() || target.old.st_gid != ::getegid()) {
      (void)::fchown(fd, target.old.st_uid, target.old.st_gid);
    }
  }
  int error = WriteAll(fd, bytes);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  const int closed = Close(fd);
  if (error == 0) error = closed;
  if (error == 0 && ::rename(name.c_str(), target.path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(name.c_str());
    return error;
  }
  // The rename itself reaches the disk with the folder (best effort: the
  // file is in place either way).
  const int dir = ::open(FolderOf(target.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return 0;
}

}  // namespace

int WriteWholeFile(const std::string& target, std::string_view bytes) {
  if (target.empty()) return ENOENT;
  TResolved resolved;
  if (const int error = Resolve(target, resolved)) return error;
  if (resolved.mode == TWriteMode::Direct || resolved.mode == TWriteMode::Descriptor) {
    return WriteDirect(resolved, bytes);
  }
  return WriteAndRename(resolved, bytes);
}

std::string WriteFailureReason(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return "kein Speicherplatz mehr frei";
    case EACCES:
    case EPERM:
      return "keine Berechtigung";
    case ENOENT:
    case ENOTDIR:
      return "den Ordner gibt es nicht";
    case EISDIR:
      return "das ist ein Ordner";
    case EROFS:
      return "das Dateisystem ist schreibgeschützt";
    case EFBIG:
      return "die Datei wäre zu groß";
    default:
      return std::strerror(error);
  }
}

std::string WriteFailureMessage(const std::string& target, int error) {
  return QuoteUserText(target) + " konnte nicht geschrieben werden: " + WriteFailureReason(error) +
         ".";
}

}  // namespace tilgung
