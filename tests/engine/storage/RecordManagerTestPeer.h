// Read access for tests to the slot counters of a memory record manager,
// which are not part of its interface.
#pragma once

#include <cstdint>

#include "engine/storage/ABSRecordManager.h"

class TABSMemoryRecordManagerTestPeer {
 public:
  // Slots allocated.
  static std::int32_t Capacity(const TABSMemoryRecordManager& m) { return m.capacity_; }
  // Lowest and highest live record ID; 0 when empty.
  static std::int32_t FirstId(const TABSMemoryRecordManager& m) { return m.firstId_; }
  static std::int32_t LastId(const TABSMemoryRecordManager& m) { return m.lastId_; }
  // True until the first removal.
  static bool NoDeletions(const TABSMemoryRecordManager& m) { return m.noDeletions_; }
};
