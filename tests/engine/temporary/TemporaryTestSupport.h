// Shared helpers of the temporary table tests: a private TMPDIR, the file
// fault seam and the memory limit seam, each reset however a test ends.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "engine/temporary/ABSTemporaryRecordManager.h"
#include "platform/os/TempFile.h"

// Points TMPDIR at `path` (or unsets it) for the guard's life.
class TTmpDirGuard {
 public:
  explicit TTmpDirGuard(const std::optional<std::string>& path) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    if (path) {
      ::setenv("TMPDIR", path->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  ~TTmpDirGuard() {
    if (old_) {
      ::setenv("TMPDIR", old_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

// A fresh empty directory under /tmp, removed (with anything left in it
// counted by Entries() first) when the guard ends.
class TScratchDir {
 public:
  TScratchDir() {
    char name[] = "/tmp/abs-temp-test-XXXXXX";
    if (::mkdtemp(name) != nullptr) path_ = name;
  }
  ~TScratchDir() {
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  const std::string& Path() const { return path_; }
  int Entries() const {
    int n = 0;
    if (DIR* dir = ::opendir(path_.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") ++n;
      }
      ::closedir(dir);
    }
    return n;
  }

 private:
  std::string path_;
};

// Resets the file fault seam and the memory limits when it ends.
struct TTemporarySeams {
  TTemporarySeams() { Reset(); }
  ~TTemporarySeams() { Reset(); }
  static void Reset() {
    platform::TempFileFaultsForTesting() = platform::TempFileFaults{};
    TemporaryLimitsForTesting() = TABSTemporaryLimits{};
  }
  platform::TempFileFaults& Faults() { return platform::TempFileFaultsForTesting(); }
};

// Whether `fd` is an open descriptor.
inline bool IsOpenDescriptor(int fd) {
  return fd >= 0 && ::fcntl(fd, F_GETFD) != -1;
}
