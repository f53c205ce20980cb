// Typed values, conversions and the memory stream under failing allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSConvert.h"
#include "engine/types/ABSStream.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/FaultInjection.h"

namespace {

// Everything that tells one value from another.
struct Snapshot {
  TABSStorageType type;
  bool null;
  bool reference;
  std::vector<unsigned char> bytes;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const TABSVariant& v) {
  Snapshot s{v.DataType(), v.IsNull(), v.IsReference(), {}};
  if (!v.IsNull()) {
    const auto* p = static_cast<const unsigned char*>(v.Data());
    s.bytes.assign(p, p + v.DataSize());
  }
  return s;
}

void PrintTo(const Snapshot& s, std::ostream* os) {
  *os << "type " << int{s.type} << (s.null ? " null" : " value") << (s.reference ? " ref " : " ")
      << s.bytes.size() << " bytes";
}

const char kShared[] = "shared text";

TEST(ValueFaultTest, SettingAndConvertingValuesHappensOrFailsCleanly) {
  enum class OnFailure { Unchanged, NullOfItsType };
  struct Case {
    const char* name;
    std::function<void(TABSVariant&)> prepare;
    std::function<void(TABSVariant&)> operation;
    OnFailure onFailure;
  };
  const std::string longText(300, 'x');
  TABSVariant longSource;
  longSource.SetAsString(longText);
  const Case cases[] = {
      {"copy a text value over another", [](TABSVariant& v) { v.SetAsString("old"); },
       [&](TABSVariant& v) { v.Assign(longSource, true); }, OnFailure::Unchanged},
      {"make a referenced value owned",
       [](TABSVariant& v) { v.SetBuffer(kShared, sizeof kShared, false, stString); },
       [](TABSVariant& v) { v.Assign(v, true); }, OnFailure::Unchanged},
      {"cast text to an integer", [](TABSVariant& v) { v.SetAsString("4711"); },
       [](TABSVariant& v) { v.CastTo(stInteger); }, OnFailure::Unchanged},
      {"cast an integer to text", [](TABSVariant& v) { v.SetAsInteger(-815); },
       [](TABSVariant& v) { v.CastTo(stString); }, OnFailure::Unchanged},
      {"cast a memo to text", [](TABSVariant& v) { v.SetBuffer("memo bytes", 10, true, stMemo); },
       [](TABSVariant& v) { v.CastTo(stString); }, OnFailure::Unchanged},
      {"set text on a text value", [](TABSVariant& v) { v.SetAsString("before"); },
       [&](TABSVariant& v) { v.SetAsString(longText); }, OnFailure::NullOfItsType},
      {"set text on a null integer", [](TABSVariant& v) { v.Clear(stInteger); },
       [](TABSVariant& v) { v.SetAsString("12345"); }, OnFailure::NullOfItsType},
      {"set an integer on a text value", [](TABSVariant& v) { v.SetAsString("abc"); },
       [](TABSVariant& v) { v.SetAsInteger(99); }, OnFailure::NullOfItsType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TABSVariant v;
    c.prepare(v);
    const Snapshot before = Take(v);
    const int allocations = InjectAllocationFailures([&] { c.operation(v); }, {.AfterFailure = [&] {
                                                       if (c.onFailure == OnFailure::Unchanged) {
                                                         EXPECT_EQ(Take(v), before);
                                                       } else {
                                                         EXPECT_TRUE(v.IsNull());
                                                         EXPECT_EQ(v.DataType(), before.type);
                                                       }
                                                       // Still usable: it takes and gives back a
                                                       // value.
                                                       TABSVariant probe;
                                                       probe.Assign(v, false);
                                                       EXPECT_EQ(probe.IsNull(), v.IsNull());
                                                     }});
    EXPECT_GT(allocations, 0);
    EXPECT_FALSE(v.IsNull());
  }
}

TEST(ValueFaultTest, ConvertValueAndStreamsGiveBackWhatTheyTook) {
  const char text[] = "2026";
  InjectAllocationFailures([&] {
    TABSValueBuffer r = ConvertValue(text, sizeof text, stString, stLargeint);
    std::int64_t value = 0;
    std::memcpy(&value, r.Buffer, sizeof value);
    EngineMemoryManager.FreeAndNillMem(r.Buffer);
    EXPECT_EQ(value, 2026);
  });

  TABSMemoryStream stream;
  const std::string bytes(1000, 'b');
  std::int32_t writes = 0;
  const int allocations = InjectAllocationFailures(
      [&] {
        stream.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        ++writes;
      },
      {.AfterFailure = [&] {
        EXPECT_EQ(stream.Size(), writes * 1000);
        EXPECT_EQ(stream.Position(), writes * 1000);
      }});
  EXPECT_GT(allocations, 0);

  TABSVariant saved;
  saved.SetAsString("kept in a stream");
  TABSMemoryStream image;
  saved.SaveToStream(image);
  TABSVariant loaded;
  InjectAllocationFailures([&] {
    image.Seek(0, TABSSeekOrigin::Beginning);
    loaded.LoadFromStream(image);
  });
  EXPECT_EQ(loaded.GetAsString(), "kept in a stream");
}

}  // namespace
