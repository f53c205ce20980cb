// Checks the registry of assigned native codes (engine/memory/ABSNativeCodes.h)
// against the source tree: one raise site per code, no shared codes, no code
// that is documented for another site, and no raise site that writes an
// assigned number instead of the constant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/memory/ABSNativeCodes.h"

namespace {

namespace fs = std::filesystem;

// Codes the engine documents for its raise sites (the three bands and their
// limits included). An assigned code must never equal one of them.
constexpr std::int32_t kDocumentedCodes[] = {
    10000, 10001, 10002, 10003, 10004, 10005, 10006, 10007, 10009, 10010, 10011, 10013, 10014,
    10015, 10016, 10017, 10018, 10019, 10025, 10026, 10027, 10028, 10029, 10030, 10032, 10033,
    10034, 10035, 10036, 10037, 10038, 10039, 10040, 10041, 10042, 10043, 10044, 10045, 10046,
    10047, 10048, 10050, 10051, 10052, 10053, 10054, 10055, 10056, 10057, 10058, 10059, 10060,
    10061, 10063, 10065, 10066, 10067, 10068, 10069, 10070, 10071, 10073, 10074, 10075, 10076,
    10077, 10078, 10104, 10106, 10107, 10108, 10110, 10111, 10112, 10113, 10114, 10115, 10116,
    10117, 10118, 10119, 10120, 10121, 10122, 10123, 10124, 10125, 10126, 10127, 10128, 10129,
    10130, 10131, 10132, 10133, 10134, 10135, 10136, 10137, 10140, 10141, 10142, 10144, 10145,
    10150, 10151, 10179, 10180, 10181, 10182, 10183, 10184, 10185, 10186, 10258, 10259, 10260,
    10261, 10266, 10267, 10268, 10269, 10270, 10271, 10272, 10275, 10276, 10277, 10278, 10279,
    10280, 10281, 10286, 10287, 10288, 10296, 10299, 10300, 10311, 10315, 10316, 10317, 10319,
    10320, 10321, 10322, 10323, 10324, 10325, 10326, 10332, 10362, 10363, 10364, 10365, 10366,
    10367, 10368, 10369, 10370, 10371, 10372, 10373, 10374, 10375, 10379, 10380, 10382, 10384,
    10385, 10386, 10387, 10388, 10389, 10390, 10391, 10392, 10393, 10394, 10395, 10396, 10397,
    10398, 10399, 10400, 10401, 10402, 10413, 10414, 10415, 10420, 10421, 10422, 10424, 10425,
    10426, 10427, 10428, 10429, 10432, 10499, 10500, 10501, 10502, 10503, 10504, 10506, 10507,
    10508, 10509, 10510, 10511, 10514, 10515, 20001, 20002, 20017, 20018, 20019, 20020, 20021,
    20022, 20024, 20025, 20027, 20034, 20037, 20038, 20039, 20043, 20044, 20045, 20046, 20047,
    20048, 20049, 20050, 20051, 20052, 20053, 20056, 20058, 20064, 20068, 20069, 20070, 20071,
    20074, 20075, 20077, 20078, 20085, 20086, 20087, 20088, 20090, 20092, 20097, 20119, 20127,
    20132, 20133, 20134, 20146, 20151, 20152, 20153, 20160, 20165, 20166, 20167, 20170, 20175,
    20177, 20179, 20180, 20181, 20182, 20183, 20186, 20191, 20192, 20193, 20199, 20221, 20222,
    20223, 20228, 20229, 20238, 20250, 20257, 20258, 20273, 20293, 20295, 20297, 20298, 20299,
    20303, 30001, 30002, 30004, 30005, 30007, 30012, 30014, 30015, 30016, 30024, 30026, 30027,
    30028, 30029, 30030, 30031, 30032, 30035, 30036, 30037, 30038, 30039, 30040, 30044, 30045,
    30046, 30047, 30050, 30051, 30052, 30054, 30058, 30113, 30114, 30123, 30124, 30126, 30127,
    30128, 30137, 30138, 30140, 30213, 30268, 30286, 30289, 30297, 30316, 30319, 30320, 30325,
    30326, 30329, 30330, 30331, 30332, 30339, 30340, 30343, 30344, 30345, 30346, 30349, 30359,
    30402, 30403, 30445, 30447, 30448, 30449, 30450, 30451, 30452, 30453, 30469, 30482, 30499,
    30506,
};

// Assigned codes live in these bands; a literal inside one that is not a
// documented code bypasses the registry.
struct TCodeBand {
  std::int32_t low, high;
};
constexpr TCodeBand kAssignedBands[] = {
    {30454, 30506}, {20278, 20292}, {10482, 10498}, {10440, 10481}};

bool InAssignedBand(std::int32_t value) {
  for (const TCodeBand& band : kAssignedBands) {
    if (value >= band.low && value <= band.high) return true;
  }
  return false;
}

const fs::path kRoot = ABS_SOURCE_DIR;
const fs::path kRegistry = kRoot / "engine/memory/ABSNativeCodes.h";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The code part of a line: everything before a "//" comment.
std::string CodeOf(const std::string& line) {
  const std::size_t comment = line.find("//");
  return comment == std::string::npos ? line : line.substr(0, comment);
}

struct Entry {
  std::string name;
  std::int32_t code;
  std::string reason;
};

std::vector<Entry> RegistryEntries() {
  static const std::regex kLine(
      R"(inline constexpr std::int32_t (k\w+) = (\d+);\s*(?://\s*(.*))?)");
  std::vector<Entry> entries;
  std::istringstream in(ReadFile(kRegistry));
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, kLine)) {
      entries.push_back({m[1], std::stoi(m[2]), m[3]});
    }
  }
  return entries;
}

// Every engine and platform source except the registry.
std::vector<fs::path> Sources() {
  std::vector<fs::path> files;
  for (const char* folder : {"engine", "platform"}) {
    for (const auto& item : fs::recursive_directory_iterator(kRoot / folder)) {
      const fs::path& p = item.path();
      if (!item.is_regular_file() || p == kRegistry) continue;
      if (p.extension() == ".cpp" || p.extension() == ".h") files.push_back(p);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(NativeCodesTest, RegistryIsReadableAndEveryCodeHasAReason) {
  const std::vector<Entry> entries = RegistryEntries();
  // The constants the registry compiles to must be the ones read here.
  ASSERT_FALSE(entries.empty());
  const auto compiled = std::find_if(entries.begin(), entries.end(),
                                     [](const Entry& e) { return e.name == "kCompareShortValue"; });
  ASSERT_NE(compiled, entries.end());
  EXPECT_EQ(compiled->code, native_code::kCompareShortValue);
  for (const Entry& e : entries) EXPECT_FALSE(e.reason.empty()) << e.name << " has no reason";
  // One constant per line, so that a declaration the reader above misses
  // (a wrapped line) is noticed.
  const std::string text = ReadFile(kRegistry);
  std::size_t declarations = 0;
  for (std::size_t at = text.find("inline constexpr"); at != std::string::npos;
       at = text.find("inline constexpr", at + 1)) {
    ++declarations;
  }
  EXPECT_EQ(declarations, entries.size()) << "a constant is not written on one line";
}

TEST(NativeCodesTest, NoTwoConstantsShareACodeAndNoneIsDocumented) {
  const std::set<std::int32_t> documented(std::begin(kDocumentedCodes), std::end(kDocumentedCodes));
  std::map<std::int32_t, std::string> byCode;
  for (const Entry& e : RegistryEntries()) {
    const auto [at, fresh] = byCode.emplace(e.code, e.name);
    EXPECT_TRUE(fresh) << e.name << " and " << at->second << " share " << e.code;
    EXPECT_EQ(documented.count(e.code), 0u) << e.name << " = " << e.code << " is documented";
  }
}

TEST(NativeCodesTest, EachCodeHasExactlyOneRaiseSite) {
  std::map<std::string, std::vector<std::string>> sites;
  for (const Entry& e : RegistryEntries()) sites[e.name];
  static const std::regex kUse(R"(native_code::(k\w+))");
  for (const fs::path& file : Sources()) {
    std::istringstream in(ReadFile(file));
    int number = 0;
    for (std::string line; std::getline(in, line);) {
      ++number;
      const std::string code = CodeOf(line);
      for (std::sregex_iterator it(code.begin(), code.end(), kUse), end; it != end; ++it) {
        const std::string where = fs::relative(file, kRoot).string() + ":" + std::to_string(number);
        const auto known = sites.find((*it)[1]);
        ASSERT_NE(known, sites.end()) << where << " names " << (*it)[1] << ", not in the registry";
        known->second.push_back(where);
      }
    }
  }
  for (const auto& [name, where] : sites) {
    std::string list;
    for (const std::string& w : where) list += " " + w;
    EXPECT_EQ(where.size(), 1u) << name << " is raised at" << (list.empty() ? " no site" : list);
  }
}

TEST(NativeCodesTest, NoSourceWritesAnAssignedCodeAsANumber) {
  const std::set<std::int32_t> documented(std::begin(kDocumentedCodes), std::end(kDocumentedCodes));
  static const std::regex kNumber(R"((^|[^\w.])(\d{5})(?![\w.]))");
  for (const fs::path& file : Sources()) {
    std::istringstream in(ReadFile(file));
    int number = 0;
    for (std::string line; std::getline(in, line);) {
      ++number;
      const std::string code = CodeOf(line);
      for (std::sregex_iterator it(code.begin(), code.end(), kNumber), end; it != end; ++it) {
        const std::int32_t value = std::stoi((*it)[2]);
        if (!InAssignedBand(value)) continue;
        EXPECT_EQ(documented.count(value), 1u)
            << fs::relative(file, kRoot).string() << ":" << number << " writes " << value
            << "; use its constant from ABSNativeCodes.h";
      }
    }
  }
}

}  // namespace
