#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "engine/local/ABSTextTerminator.h"

namespace {

std::vector<std::byte> Bytes(const std::string& s) {
  std::vector<std::byte> r;
  for (char c : s) r.push_back(static_cast<std::byte>(c));
  return r;
}

struct ExtentCase {
  const char* name;
  std::string bytes;
  bool wide;
  std::size_t withTerminator;  // TextBytesWithTerminator
  std::size_t extent;          // TextExtent
};

TEST(TextTerminatorTest, FindsTheEndOfANarrowOrWideText) {
  const std::vector<ExtentCase> cases = {
      {"narrow text", std::string("ab\0xy", 5), false, 3, 3},
      {"narrow empty", std::string("\0ab", 3), false, 1, 1},
      {"narrow without terminator", "abcd", false, 0, 4},
      {"wide text", std::string("a\0b\0\0\0x\0", 8), true, 6, 6},
      // A zero high byte followed by a zero low byte straddles two units and
      // is no terminator.
      {"wide zero pair at odd offset", std::string("\x01\0\0\x02\0\0", 6), true, 6, 6},
      {"wide without terminator", std::string("a\0b\0", 4), true, 0, 4},
      {"wide odd size ignores the last byte", std::string("a\0\0", 3), true, 0, 3},
  };
  for (const ExtentCase& c : cases) {
    const std::vector<std::byte> b = Bytes(c.bytes);
    EXPECT_EQ(TextBytesWithTerminator(b.data(), b.size(), c.wide), c.withTerminator) << c.name;
    EXPECT_EQ(TextExtent(b.data(), b.size(), c.wide), c.extent) << c.name;
  }
}

TEST(TextTerminatorTest, EmptyMeansTheFirstUnitIsTheTerminator) {
  struct Case {
    std::string bytes;
    bool wide;
    bool empty;
  };
  const std::vector<Case> cases = {
      {std::string("\0a", 2), false, true},
      {"a", false, false},
      {std::string("\0\0", 2), true, true},
      {std::string("\0a", 2), true, false},  // U+6100, not empty
      {std::string("a\0", 2), true, false},
  };
  for (const Case& c : cases) {
    const std::vector<std::byte> b = Bytes(c.bytes);
    EXPECT_EQ(IsEmptyText(b.data(), c.wide), c.empty) << c.bytes.size() << (c.wide ? " wide" : "");
  }
}

}  // namespace
