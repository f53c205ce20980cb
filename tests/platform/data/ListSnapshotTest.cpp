// The listener visit: entries that leave during the visit are skipped,
// entries that join are not visited, for lists on the stack and beyond it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/data/ListSnapshot.h"

namespace platform {
namespace {

struct Case {
  const char* name;
  int size;
  // Called when entry `at` is visited; may change the list.
  std::function<void(std::vector<int*>& list, std::vector<int>& slots, int at)> onVisit;
  std::vector<int> expected;  // indexes of the visited entries, in order
};

void Erase(std::vector<int*>& list, int* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

TEST(ListSnapshot, VisitsOnlyEntriesStillListed) {
  static int extra = -1;
  const std::vector<Case> cases = {
      {"unchanged", 3, nullptr, {0, 1, 2}},
      {"single", 1, nullptr, {0}},
      {"empty", 0, nullptr, {}},
      {"later entry leaves",
       4,
       [](std::vector<int*>& l, std::vector<int>& s, int at) {
         if (at == 0) Erase(l, &s[2]);
       },
       {0, 1, 3}},
      {"visited entry leaves itself",
       3,
       [](std::vector<int*>& l, std::vector<int>& s, int at) {
         if (at == 0) Erase(l, &s[0]);
       },
       {0, 1, 2}},
      {"joining entry is not visited",
       2,
       [](std::vector<int*>& l, std::vector<int>&, int at) {
         if (at == 0) l.insert(l.begin(), &extra);
       },
       {0, 1}},
      {"everything leaves",
       5,
       [](std::vector<int*>& l, std::vector<int>&, int) { l.clear(); },
       {0}},
      {"long list, later entries leave",
       12,
       [](std::vector<int*>& l, std::vector<int>& s, int at) {
         if (at == 1) {
           Erase(l, &s[9]);
           Erase(l, &s[11]);
         }
       },
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 10}},
  };
  for (const Case& c : cases) {
    std::vector<int> slots(static_cast<std::size_t>(c.size));
    std::vector<int*> list;
    for (int i = 0; i < c.size; ++i) {
      slots[static_cast<std::size_t>(i)] = i;
      list.push_back(&slots[static_cast<std::size_t>(i)]);
    }
    std::vector<int> visited;
    VisitStillListed(list, [&](int* item) {
      visited.push_back(*item);
      if (c.onVisit) c.onVisit(list, slots, *item);
    });
    EXPECT_EQ(visited, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace platform
