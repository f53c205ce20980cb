#include "engine/storage/ABSBitsArray.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/types/ABSStream.h"

namespace {

constexpr std::int32_t kGetCode = 10394;
constexpr std::int32_t kSetCode = 10395;
constexpr std::int32_t kClearCode = 10428;
constexpr std::int32_t kResizeCode = 10429;
constexpr std::int32_t kNilCode = 10399;
constexpr char kBitNoMessage[] = "Invalid bit no = %d, number of bits = %d";

// The bit number of the k-th set bit of `w` (k < popcount(w)).
int SelectInWord(std::uint64_t w, int k) noexcept {
  for (; k > 0; --k) w &= w - 1;  // drop the k lowest set bits
  return std::countr_zero(w);
}

}  // namespace

TABSBitsArray::TABSBitsArray(TABSBitsArray&& other) noexcept {
  Swap(other);
}

TABSBitsArray& TABSBitsArray::operator=(TABSBitsArray&& other) noexcept {
  if (this != &other) {
    TABSBitsArray taken(std::move(other));
    Swap(taken);
  }
  return *this;
}

void TABSBitsArray::Swap(TABSBitsArray& other) noexcept {
  words_.Swap(other.words_);
  std::swap(wordCapacity_, other.wordCapacity_);
  std::swap(bitCount_, other.bitCount_);
  std::swap(setCount_, other.setCount_);
}

void TABSBitsArray::SetWord(std::int32_t i, std::uint64_t w) noexcept {
  StoreLE<std::uint64_t>(words_.as<unsigned char>() + static_cast<std::size_t>(i) * 8, w);
}

void TABSBitsArray::RaiseBitNo(std::int32_t code, std::int32_t n) const {
  throw EABSException(code, kBitNoMessage, {n, bitCount_});
}

void TABSBitsArray::MaskTail() noexcept {
  const std::int32_t rest = bitCount_ % 64;
  if (rest != 0) {
    const std::int32_t last = bitCount_ / 64;
    SetWord(last, Word(last) & ((std::uint64_t{1} << rest) - 1));
  }
}

void TABSBitsArray::Resize(std::int32_t n) {
  if (n < 0) RaiseBitNo(kResizeCode, n);
  if (n == bitCount_) return;
  const std::int32_t need = WordsFor(n);
  if (need > wordCapacity_) {
    // Double, so that growing bit by bit stays amortised O(1).
    const std::int64_t doubled = static_cast<std::int64_t>(wordCapacity_) * 2;
    const std::int32_t capacity = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::max<std::int64_t>(need, doubled), WordsFor(MaxBits)));
    words_.Resize(static_cast<std::int64_t>(capacity) * 8, /*clearTail=*/true);
    wordCapacity_ = capacity;
  }
  if (n < bitCount_) {
    // Count the dropped bits out and clear them, keeping the tail clear.
    const std::int32_t dropped = setCount_ - Rank(n);
    const std::int32_t firstWord = n / 64;
    const std::int32_t endWord = WordsFor(bitCount_);
    if (n % 64 != 0) {
      SetWord(firstWord, Word(firstWord) & ((std::uint64_t{1} << (n % 64)) - 1));
    } else if (firstWord < endWord) {
      SetWord(firstWord, 0);
    }
    for (std::int32_t i = firstWord + 1; i < endWord; ++i) SetWord(i, 0);
    setCount_ -= dropped;
  }
  bitCount_ = n;
}

void TABSBitsArray::Clear() noexcept {
  words_.Reset();
  wordCapacity_ = 0;
  bitCount_ = 0;
  setCount_ = 0;
}

bool TABSBitsArray::GetBit(std::int32_t n) const {
  if (n < 0 || n >= bitCount_) RaiseBitNo(kGetCode, n);
  return (Word(n / 64) >> (n % 64)) & 1u;
}

void TABSBitsArray::SetBit(std::int32_t n) {
  if (n < 0 || n >= bitCount_) RaiseBitNo(kSetCode, n);
  const std::uint64_t w = Word(n / 64);
  const std::uint64_t mask = std::uint64_t{1} << (n % 64);
  if ((w & mask) == 0) {
    SetWord(n / 64, w | mask);
    ++setCount_;
  }
}

void TABSBitsArray::ClearBit(std::int32_t n) {
  if (n < 0 || n >= bitCount_) RaiseBitNo(kClearCode, n);
  const std::uint64_t w = Word(n / 64);
  const std::uint64_t mask = std::uint64_t{1} << (n % 64);
  if ((w & mask) != 0) {
    SetWord(n / 64, w & ~mask);
    --setCount_;
  }
}

void TABSBitsArray::SetAllBits() noexcept {
  const std::int32_t words = WordsFor(bitCount_);
  for (std::int32_t i = 0; i < words; ++i) SetWord(i, ~std::uint64_t{0});
  MaskTail();
  setCount_ = bitCount_;
}

void TABSBitsArray::ClearAllBits() noexcept {
  const std::int32_t words = WordsFor(bitCount_);
  for (std::int32_t i = 0; i < words; ++i) SetWord(i, 0);
  setCount_ = 0;
}

std::int32_t TABSBitsArray::FirstClearBit() const noexcept {
  if (setCount_ == bitCount_) return -1;
  const std::int32_t words = WordsFor(bitCount_);
  for (std::int32_t i = 0; i < words; ++i) {
    const std::uint64_t w = ~Word(i);
    if (w != 0) {
      const std::int32_t bit = i * 64 + std::countr_zero(w);
      return bit < bitCount_ ? bit : -1;
    }
  }
  return -1;
}

// NextSetBit's inline test of bit `from` serves a dense forward walk (every
// step lands on the adjacent bit) without a call; bench_bitmap
// (BM_WalkVisible_Words) measures it against the bit-by-bit walk.
std::int32_t TABSBitsArray::SearchNextSetBit(std::int32_t from) const noexcept {
  if (from < 0) from = 0;
  if (from >= bitCount_ || setCount_ == 0) return -1;
  const std::int32_t words = WordsFor(bitCount_);
  std::int32_t i = from / 64;
  std::uint64_t w = Word(i) & (~std::uint64_t{0} << (from % 64));
  while (true) {
    if (w != 0) return i * 64 + std::countr_zero(w);  // tail bits are clear
    if (++i >= words) return -1;
    w = Word(i);
  }
}

std::int32_t TABSBitsArray::PriorSetBit(std::int32_t from) const noexcept {
  if (from >= bitCount_) from = bitCount_ - 1;
  if (from < 0 || setCount_ == 0) return -1;
  std::int32_t i = from / 64;
  const int keep = from % 64;  // bits 0 .. keep of word i count
  std::uint64_t w =
      Word(i) & (keep == 63 ? ~std::uint64_t{0} : ((std::uint64_t{1} << (keep + 1)) - 1));
  while (true) {
    if (w != 0) return i * 64 + 63 - std::countl_zero(w);
    if (--i < 0) return -1;
    w = Word(i);
  }
}

std::int32_t TABSBitsArray::Rank(std::int32_t n) const noexcept {
  if (n <= 0) return 0;
  if (n >= bitCount_) return setCount_;
  std::int32_t count = 0;
  const std::int32_t full = n / 64;
  for (std::int32_t i = 0; i < full; ++i) count += std::popcount(Word(i));
  if (n % 64 != 0) count += std::popcount(Word(full) & ((std::uint64_t{1} << (n % 64)) - 1));
  return count;
}

std::int32_t TABSBitsArray::Select(std::int32_t k) const noexcept {
  if (k < 0 || k >= setCount_) return -1;
  const std::int32_t words = WordsFor(bitCount_);
  for (std::int32_t i = 0; i < words; ++i) {
    const std::uint64_t w = Word(i);
    const int ones = std::popcount(w);
    if (k < ones) return i * 64 + SelectInWord(w, k);
    k -= ones;
  }
  return -1;  // not reached while the set count is right
}

void TABSBitsArray::CopyToBytes(void* bytes) const {
  const std::int32_t count = ByteCount();
  if (count == 0) return;
  if (bytes == nullptr) throw EABSException(kNilCode, "Nil pointer occured");
  auto* out = static_cast<unsigned char*>(bytes);
  for (std::int32_t b = 0; b < count; ++b) {
    out[b] = static_cast<unsigned char>(Word(b / 8) >> ((b % 8) * 8));
  }
}

void TABSBitsArray::AssignBytes(const void* bytes, std::int32_t bitCount) {
  if (bitCount < 0) RaiseBitNo(kResizeCode, bitCount);
  if (bitCount > 0 && bytes == nullptr) throw EABSException(kNilCode, "Nil pointer occured");
  TABSBitsArray fresh;
  fresh.Resize(bitCount);
  const auto* in = static_cast<const unsigned char*>(bytes);
  const std::int32_t byteCount = fresh.ByteCount();
  for (std::int32_t i = 0; i < fresh.WordsFor(bitCount); ++i) {
    std::uint64_t w = 0;
    for (int j = 0; j < 8; ++j) {
      const std::int32_t b = i * 8 + j;
      if (b < byteCount) w |= static_cast<std::uint64_t>(in[b]) << (j * 8);
    }
    fresh.SetWord(i, w);
  }
  fresh.MaskTail();
  std::int32_t ones = 0;
  for (std::int32_t i = 0; i < fresh.WordsFor(bitCount); ++i) ones += std::popcount(fresh.Word(i));
  fresh.setCount_ = ones;
  Swap(fresh);
}

void TABSBitsArray::SaveToStream(TABSStream& stream, const TABSBitsStreamCodes& codes) const {
  unsigned char head[4];
  StoreLE<std::int32_t>(head, bitCount_);
  WriteStreamBlock(stream, head, 4, codes.BitCountWrite);
  StoreLE<std::int32_t>(head, setCount_);
  WriteStreamBlock(stream, head, 4, codes.SetCountWrite);
  const std::int32_t count = ByteCount();
  if (count == 0) return;
  TABSMemBlock bytes(count);
  CopyToBytes(bytes.get());
  WriteStreamBlock(stream, bytes.get(), count, codes.BytesWrite);
}

void TABSBitsArray::LoadFromStream(TABSStream& stream, const TABSBitsStreamCodes& codes) {
  unsigned char head[4];
  ReadStreamBlock(stream, head, 4, codes.BitCountRead);
  const std::int32_t bitCount = LoadLE<std::int32_t>(head);
  if (bitCount < 0) {
    throw EABSException(codes.BitCountRead, kBitNoMessage, {bitCount, bitCount_});
  }
  ReadStreamBlock(stream, head, 4, codes.SetCountRead);
  const std::int32_t setCount = LoadLE<std::int32_t>(head);
  if (setCount < 0 || setCount > bitCount) {
    throw EABSException(codes.SetCountRead, kBitNoMessage, {setCount, bitCount});
  }
  // The byte count is checked against what the stream still holds before
  // anything that large is allocated.
  const std::int32_t byteCount =
      static_cast<std::int32_t>((static_cast<std::int64_t>(bitCount) + 7) / 8);
  const std::int64_t left = stream.Size() - stream.Position();
  if (byteCount > left) {
    RaiseStreamReadError(stream, stream.Position(), byteCount,
                         static_cast<std::int32_t>(std::max<std::int64_t>(left, 0)),
                         codes.BytesRead);
  }
  TABSBitsArray fresh;
  if (byteCount > 0) {
    TABSMemBlock bytes(byteCount);
    ReadStreamBlock(stream, bytes.get(), byteCount, codes.BytesRead);
    fresh.AssignBytes(bytes.get(), bitCount);
  }
  if (fresh.setCount_ != setCount) {
    throw EABSException(codes.SetCountRead, kBitNoMessage, {setCount, fresh.setCount_});
  }
  Swap(fresh);
}

bool TABSBitsArray::operator==(const TABSBitsArray& other) const noexcept {
  if (bitCount_ != other.bitCount_ || setCount_ != other.setCount_) return false;
  const std::int32_t words = WordsFor(bitCount_);
  for (std::int32_t i = 0; i < words; ++i) {
    if (Word(i) != other.Word(i)) return false;
  }
  return true;
}
