#include "engine/components/ABSCursorMaker.h"

#include <atomic>

#include "engine/local/ABSLocalCursor.h"

namespace {
std::atomic<TABSCursorMaker> installedMaker{nullptr};
}  // namespace

TABSCursorMaker SetCursorMaker(TABSCursorMaker maker) noexcept {
  return installedMaker.exchange(maker);
}

TABSCursorMaker CursorMaker() noexcept {
  return installedMaker.load();
}

std::unique_ptr<TABSCursor> MakeLocalCursor() {
  TABSCursorMaker maker = installedMaker.load();
  if (maker == nullptr) return std::make_unique<TABSLocalCursor>();
  return maker();
}
