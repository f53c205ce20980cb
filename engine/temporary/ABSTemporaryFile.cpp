#include "engine/temporary/ABSTemporaryFile.h"

#include <cstring>
#include <string>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "platform/os/TempFile.h"

TABSTemporaryFileStream::TABSTemporaryFileStream() {
  std::string directory;
  file_ = platform::TempFile::Create(&directory);
  if (!file_) {
    if (directory.empty() || directory.back() != '/') directory += '/';
    throw EABSException(10104, "Cannot create file. FileName = %s", {directory + "ABS*"});
  }
}

TABSTemporaryFileStream::~TABSTemporaryFileStream() = default;

std::int32_t TABSTemporaryFileStream::Read(void* buffer, std::int32_t count) {
  if (buffer == nullptr || count <= 0) return 0;
  const auto n = static_cast<std::int32_t>(file_->Read(position_, buffer, count));
  position_ += n;
  return n;
}

std::int32_t TABSTemporaryFileStream::Write(const void* buffer, std::int32_t count) {
  if (buffer == nullptr || count <= 0) return 0;
  if (position_ > INT64_MAX - count) return 0;
  const auto n = static_cast<std::int32_t>(file_->Write(position_, buffer, count));
  position_ += n;
  return n;
}

std::int64_t TABSTemporaryFileStream::Seek(std::int64_t offset, TABSSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin);
  return position_;
}

std::int64_t TABSTemporaryFileStream::Size() const {
  return file_->Size();
}

void TABSTemporaryFileStream::SetSize(std::int64_t newSize) {
  ResolveSeek(newSize, TABSSeekOrigin::Beginning);  // 30470 for a negative size
  if (!file_->SetSize(newSize)) {
    throw EABSException(native_code::kTempFileSetSize, "Cannot set size of temporary file: %s",
                        {std::string(std::strerror(file_->LastError()))});
  }
  if (position_ > newSize) position_ = newSize;
}

bool TABSTemporaryFileStream::Flush() {
  return file_->Flush();
}

int TABSTemporaryFileStream::Descriptor() const noexcept {
  return file_->Descriptor();
}
