// Visiting a list of borrowed listeners while the visit may change it.
//
// A handler called during a notification may detach listeners (or attach
// new ones). The visit goes over the list as it was when it started and
// skips every entry that has left it meanwhile; entries attached during the
// visit are not visited. The snapshot lives on the stack for short lists, so
// a notification allocates nothing in the common case.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace platform {

namespace listsnapshot_detail {

// The general case of VisitStillListed: two or more entries.
template <typename T, typename Visit>
void VisitSnapshot(const std::vector<T*>& items, Visit& visit) {
  const std::size_t n = items.size();
  constexpr std::size_t kInline = 8;
  T* inlineCopy[kInline];
  std::vector<T*> heapCopy;
  T** copy = inlineCopy;
  if (n > kInline) {
    heapCopy.assign(items.begin(), items.end());
    copy = heapCopy.data();
  } else {
    std::copy(items.begin(), items.end(), inlineCopy);
  }
  for (std::size_t i = 0; i < n; ++i) {
    T* item = copy[i];
    // Fast check at the same place first: without changes it always holds.
    if (!(i < items.size() && items[i] == item) &&
        std::find(items.begin(), items.end(), item) == items.end()) {
      continue;
    }
    visit(item);
  }
}

}  // namespace listsnapshot_detail

// The empty and one-entry lists (most datasets and sources) are handled
// here, small enough to be inlined at every notification.
// REQUIRES: `visit` takes a T*; `items` outlives the call.
template <typename T, typename Visit>
inline void VisitStillListed(const std::vector<T*>& items, Visit&& visit) {
  const std::size_t n = items.size();
  if (n == 0) return;
  if (n == 1) {
    // The only entry cannot have left before it is visited.
    visit(items[0]);
    return;
  }
  listsnapshot_detail::VisitSnapshot(items, visit);
}

}  // namespace platform
