#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/memory/ABSNativeCodes.h"
#include "engine/temporary/ABSTemporaryFile.h"
#include "platform/os/TempFile.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

// Mode, link count and close-on-exec of an open descriptor.
void ExpectPrivate(int fd) {
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_nlink, 0u) << "the file still has a name";
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
}

TEST(TempFileTest, FilesArePrivateAndLeaveNothingBehind) {
  TTemporarySeams seams;
  TScratchDir dir;
  ASSERT_FALSE(dir.Path().empty());
  TTmpDirGuard tmpdir(dir.Path());
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named and unlinked" : "unnamed");
    seams.Faults().ForceNamedFile = named;
    int fd = -1;
    {
      TABSTemporaryFileStream file;
      fd = file.Descriptor();
      ExpectPrivate(fd);
      const char text[] = "private bytes";
      ASSERT_EQ(file.Write(text, sizeof text), static_cast<std::int32_t>(sizeof text));
      ASSERT_TRUE(file.Flush());
      EXPECT_EQ(dir.Entries(), 0) << "a name is visible in the directory";
      // The bytes reached the descriptor itself.
      char back[sizeof text] = {};
      ASSERT_EQ(::pread(fd, back, sizeof back, 0), static_cast<ssize_t>(sizeof back));
      EXPECT_STREQ(back, text);
    }
    EXPECT_FALSE(IsOpenDescriptor(fd)) << "the file stays open after the stream is gone";
    EXPECT_EQ(dir.Entries(), 0);
  }
}

TEST(TempFileTest, UnusableTmpdirFallsBackToTmp) {
  TTemporarySeams seams;
  TScratchDir dir;
  const std::string plainFile = dir.Path() + "/plain";
  {
    const int fd = ::open(plainFile.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  const std::string longPath = "/" + std::string(300, 'x');  // never cut to 255
  const std::vector<std::string> unusable = {
      "", "relative/dir", dir.Path() + "/missing", plainFile, plainFile + "/below", longPath};
  for (const std::string& value : unusable) {
    SCOPED_TRACE(value);
    TTmpDirGuard tmpdir(value);
    EXPECT_EQ(platform::TemporaryDirectory(), "/tmp");
    std::string used;
    auto file = platform::TempFile::Create(&used);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(used, "/tmp");
    ExpectPrivate(file->Descriptor());
  }
  ::unlink(plainFile.c_str());
  {
    TTmpDirGuard tmpdir(dir.Path());
    EXPECT_EQ(platform::TemporaryDirectory(), dir.Path());
  }
}

TEST(TempFileTest, CreationFailureIsEngineError10104) {
  TTemporarySeams seams;
  seams.Faults().FailCreate = true;
  const EABSException e = RaisedBy([] { TABSTemporaryFileStream file; });
  EXPECT_EQ(e.NativeError(), 10104);
  EXPECT_NE(std::string(e.what()).find("ABS"), std::string::npos);
}

// The buffered file against a byte vector: writes and reads of every size
// at offsets in and out of the buffer window, gaps, resizes.
TEST(TempFileTest, BufferedFileMatchesModel) {
  TTemporarySeams seams;
  auto file = platform::TempFile::Create();
  ASSERT_NE(file, nullptr);
  std::vector<char> model;
  std::mt19937 rng(7);
  const std::int64_t kMax = 400000;
  std::vector<char> data(kMax);
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    const std::int64_t size = static_cast<std::int64_t>(model.size());
    std::int64_t count = rng() % 4 == 0 ? rng() % 150000 : rng() % 300;
    std::int64_t offset = size == 0 ? 0 : rng() % (size + 1);
    if (rng() % 20 == 0) offset = size + rng() % 5000;  // a gap
    if (offset + count > kMax) count = 0;
    if (op < 5) {
      for (std::int64_t i = 0; i < count; ++i) data[i] = static_cast<char>(rng());
      ASSERT_EQ(file->Write(offset, data.data(), count), count);
      if (count > 0) {
        if (static_cast<std::int64_t>(model.size()) < offset + count) model.resize(offset + count);
        std::memcpy(model.data() + offset, data.data(), count);
      }
    } else if (op < 9) {
      const std::int64_t expected = std::max<std::int64_t>(0, std::min(count, size - offset));
      ASSERT_EQ(file->Read(offset, data.data(), count), expected) << step;
      if (expected > 0) {
        ASSERT_EQ(std::memcmp(data.data(), model.data() + offset, expected), 0) << step;
      }
    } else {
      const std::int64_t newSize = rng() % (size + 10000);
      ASSERT_TRUE(file->SetSize(newSize));
      model.resize(newSize);
    }
    ASSERT_EQ(file->Size(), static_cast<std::int64_t>(model.size())) << step;
  }
}

// A file that refuses writes keeps what it accepted; once it takes writes
// again everything reads back. A refused read is short, never stale.
TEST(TempFileTest, RefusedTransfersLoseNothing) {
  TTemporarySeams seams;
  auto file = platform::TempFile::Create();
  ASSERT_NE(file, nullptr);
  std::vector<char> a(50000, 'a'), b(50000, 'b'), back(50000);
  ASSERT_EQ(file->Write(0, a.data(), 50000), 50000);  // buffered
  seams.Faults().WriteBytesLeft = 1000;
  EXPECT_EQ(file->Write(50000, b.data(), 50000), 0);  // the buffer cannot go out
  EXPECT_FALSE(file->Flush());
  EXPECT_EQ(file->LastError(), ENOSPC);
  seams.Faults().WriteBytesLeft = -1;
  ASSERT_EQ(file->Write(50000, b.data(), 50000), 50000);
  ASSERT_TRUE(file->Flush());
  ASSERT_EQ(file->Read(0, back.data(), 50000), 50000);
  EXPECT_EQ(back, a);
  seams.Faults().ReadBytesLeft = 100;
  EXPECT_EQ(file->Read(50000, back.data(), 50000), 100);
  seams.Faults().ReadBytesLeft = -1;
  ASSERT_EQ(file->Read(50000, back.data(), 50000), 50000);
  EXPECT_EQ(back, b);
}

}  // namespace
