#include "platform/os/Random.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

bool IsGuidText(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    char c = text[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

TEST(RandomTest, GuidTextsHaveTheBracedUpperCaseFormAndDoNotRepeat) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string guid = platform::NewGuidText();
    ASSERT_TRUE(IsGuidText(guid)) << guid;
    EXPECT_EQ(guid[15], '4') << guid;  // version nibble
    EXPECT_NE(std::string("89AB").find(guid[20]), std::string::npos) << guid;
    EXPECT_TRUE(seen.insert(guid).second) << guid;
  }
}

TEST(RandomTest, ThreadsDrawDifferentGuids) {
  std::vector<std::string> drawn(4);
  std::vector<std::thread> threads;
  for (auto& slot : drawn) threads.emplace_back([&slot] { slot = platform::NewGuidText(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<std::string>(drawn.begin(), drawn.end()).size(), drawn.size());
}

TEST(RandomTest, RandomBelowStaysInRangeAndCoversIt) {
  EXPECT_EQ(platform::RandomBelow(0), 0);
  EXPECT_EQ(platform::RandomBelow(-5), 0);
  EXPECT_EQ(platform::RandomBelow(1), 0);
  std::vector<int> hits(7, 0);
  for (int i = 0; i < 7000; ++i) {
    std::int64_t n = platform::RandomBelow(7);
    ASSERT_GE(n, 0);
    ASSERT_LT(n, 7);
    ++hits[static_cast<std::size_t>(n)];
  }
  for (int h : hits) EXPECT_GT(h, 700);  // each value near its share of 1000
}

}  // namespace
