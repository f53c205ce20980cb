#include "engine/temporary/ABSTemporaryStream.h"

#include <algorithm>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"

TABSTemporaryStream::TABSTemporaryStream(bool keepInMemory, std::int64_t memoryThreshold)
    : keepInMemory_(keepInMemory),
      memoryThreshold_(memoryThreshold),
      memory_(std::make_unique<TABSMemoryStream>()) {}

TABSTemporaryStream::~TABSTemporaryStream() = default;

TABSStream& TABSTemporaryStream::Held() const noexcept {
  if (file_) return *file_;
  return *memory_;
}

void TABSTemporaryStream::MoveToFile() {
  auto file = std::make_unique<TABSTemporaryFileStream>();  // 10104
  const auto* bytes = static_cast<const char*>(memory_->Memory());
  const std::int64_t size = memory_->Size();
  std::int64_t copied = 0;
  std::int32_t chunk = 0;
  std::int32_t written = 0;
  while (copied < size) {
    chunk = static_cast<std::int32_t>(std::min<std::int64_t>(size - copied, 1 << 30));
    written = file->Write(bytes + copied, chunk);
    if (written != chunk) break;
    copied += chunk;
  }
  // The bytes still buffered must reach the file too before it is taken.
  if (copied != size || !file->Flush()) {
    throw EABSException(native_code::kTempStreamSpill,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Write = %d",
                        {copied, size, chunk, written});
  }
  file->Seek(memory_->Position(), TABSSeekOrigin::Beginning);
  file_ = std::move(file);
  memory_.reset();
}

std::int32_t TABSTemporaryStream::Read(void* buffer, std::int32_t count) {
  const std::int32_t n = Held().Read(buffer, count);
  position_ = Held().Position();
  return n;
}

std::int32_t TABSTemporaryStream::Write(const void* buffer, std::int32_t count) {
  if (!file_ && !keepInMemory_ && count > 0 &&
      std::max(memory_->Size(), memory_->Position() + count) > memoryThreshold_) {
    MoveToFile();
  }
  const std::int32_t n = Held().Write(buffer, count);
  position_ = Held().Position();
  return n;
}

std::int64_t TABSTemporaryStream::Seek(std::int64_t offset, TABSSeekOrigin origin) {
  position_ = Held().Seek(offset, origin);
  return position_;
}

std::int64_t TABSTemporaryStream::Size() const {
  return Held().Size();
}

void TABSTemporaryStream::SetSize(std::int64_t newSize) {
  Held().SetSize(newSize);
  position_ = Held().Position();
}
