// libFuzzer harness: page stores and temporary streams built from bytes.
//
// First byte even: the rest is the stream form of a memory page manager
// (64- or 128-byte pages, by bit 1). A manager that already holds pages
// loads it; a refused form must raise an engine error and leave the manager
// exactly as it was, an accepted one must save and load again to the same
// form, and every allocated page must be readable, writable and freeable.
//
// First byte odd: the rest is a script of writes, reads, seeks and size
// changes on a temporary stream with a 256-byte memory threshold, checked
// against a byte vector.
//
// Only engine errors may leave the code under test; anything else aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/temporary/ABSTemporaryStream.h"
#include "engine/types/ABSStream.h"
#include "tests/fuzz/FuzzHarness.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;

Bytes Saved(TABSMemoryPageManager& m) {
  TABSMemoryStream s;
  m.SaveToStream(s);
  const auto* p = static_cast<const std::uint8_t*>(s.Memory());
  return p ? Bytes(p, p + s.Size()) : Bytes();
}

void Load(TABSMemoryPageManager& m, const std::uint8_t* data, std::size_t size) {
  TABSMemoryStream s;
  if (size) s.Write(data, static_cast<std::int32_t>(size));
  s.SetPosition(0);
  m.LoadFromStream(s);
}

void FuzzPageManager(std::uint16_t pageSize, const std::uint8_t* data, std::size_t size) {
  TABSMemoryPageManager m(pageSize);
  for (int i = 0; i < 3; ++i) {
    TABSPage* p = m.AddNewPage(1, 1);
    std::memset(p->GetPageData(), 0x40 + i, p->GetPageDataSize());
    m.PutPage(p);
  }
  m.CommitSessionPages(1);
  const Bytes before = Saved(m);
  try {
    Load(m, data, size);
  } catch (const EABSException&) {
    Check(Saved(m) == before);
    return;
  }
  const Bytes loaded = Saved(m);
  TABSMemoryPageManager again(pageSize);
  Load(again, loaded.data(), loaded.size());
  Check(Saved(again) == loaded);

  // Every allocated page reads and takes a change; then one is freed and a
  // new one allocated.
  std::int32_t last = -1;
  for (std::int32_t no = 0; no <= m.HighestPageNo(); ++no) {
    if (!m.UsedPages().GetBit(no)) continue;
    TABSPage* p = m.GetPage(1, no, false, TABSPageManager::AnyPageType);
    std::uint8_t* bytes = p->GetPageData();
    for (std::int32_t i = 0; i < p->GetPageDataSize(); ++i) bytes[i] ^= 0x5A;
    p->MarkModified();
    m.PutPage(p);
    last = no;
  }
  m.CommitSessionPages(1);
  if (last >= 0) {
    m.FreePage(1, last);
    m.CommitSessionPages(1);
  }
  TABSPage* p = m.AddNewPage(1, 1);
  Check(p->PageNo() >= 0 && p->GetPageDataSize() == pageSize);
  m.PutPage(p);
  m.CommitSessionPages(1);
}

void FuzzTemporaryStream(const std::uint8_t* data, std::size_t size) {
  TABSTemporaryStream s(false, 256);
  std::vector<std::uint8_t> model;
  std::size_t at = 0;
  auto next = [&]() -> std::uint32_t { return at < size ? data[at++] : 0; };
  std::int64_t position = 0;
  while (at < size) {
    const std::uint32_t op = next();
    const std::int32_t n = static_cast<std::int32_t>((next() << 2) | (op >> 2 & 3));
    switch (op & 3) {
      case 0: {  // write n bytes, taken from the input (zeros past its end)
        Bytes chunk(static_cast<std::size_t>(n));
        for (auto& b : chunk) b = static_cast<std::uint8_t>(next());
        Check(s.Write(chunk.data(), n) == n);
        if (n > 0) {
          const auto end = static_cast<std::size_t>(position + n);
          if (model.size() < end) model.resize(end);
          std::copy(chunk.begin(), chunk.end(), model.begin() + position);
          position += n;
        }
        break;
      }
      case 1: {  // read n bytes
        Bytes chunk(static_cast<std::size_t>(n) + 1);
        const std::int32_t got = s.Read(chunk.data(), n);
        const auto have = static_cast<std::int64_t>(model.size()) - position;
        const std::int32_t want =
            static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(n, have)));
        Check(got == want);
        if (got > 0) {
          Check(std::equal(chunk.begin(), chunk.begin() + got, model.begin() + position));
          position += got;
        }
        break;
      }
      case 2: {  // seek to n from the beginning, or n back from the end
        const bool fromEnd = (op & 0x10) != 0;
        const std::int64_t target = fromEnd ? static_cast<std::int64_t>(model.size()) - n : n;
        try {
          Check(s.Seek(fromEnd ? -n : n,
                       fromEnd ? TABSSeekOrigin::End : TABSSeekOrigin::Beginning) == target);
          Check(target >= 0);
          position = target;
        } catch (const EABSException&) {
          Check(target < 0);
        }
        break;
      }
      default:  // size n
        s.SetSize(n);
        model.resize(static_cast<std::size_t>(n));
        position = std::min<std::int64_t>(position, n);
        break;
    }
    Check(s.Position() == position && s.Size() == static_cast<std::int64_t>(model.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  return fuzz::Guarded([&] {
    if (data[0] & 1) {
      FuzzTemporaryStream(data + 1, size - 1);
    } else {
      FuzzPageManager((data[0] & 2) ? 128 : 64, data + 1, size - 1);
    }
  });
}
