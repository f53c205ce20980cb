#include "engine/storage/ABSFieldManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/schema/ABSDesignMode.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSSequenceSession.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/RaisedError.h"

namespace {

// A session that keeps its last sequence values in a map.
class FakeSession : public TABSSequenceSession {
 public:
  explicit FakeSession(bool multiUser = false) : multiUser_(multiUser) {}
  void RegisterSequenceValue(std::int32_t objectId, std::int64_t value) override {
    values[objectId] = value;
  }
  bool FindSequenceValue(std::int32_t objectId, std::int64_t& value) const override {
    const auto it = values.find(objectId);
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  bool IsMultiUser() const override { return multiUser_; }

  std::map<std::int32_t, std::int64_t> values;

 private:
  bool multiUser_;
};

template <class T>
void Put(std::vector<unsigned char>& image, std::int32_t offset, T value) {
  std::memcpy(image.data() + offset, &value, sizeof value);
}

template <class T>
T Get(const std::vector<unsigned char>& image, std::int32_t offset) {
  T value;
  std::memcpy(&value, image.data() + offset, sizeof value);
  return value;
}

// The plan table: Jahr, Monat, Tag (integer), Darlehen, Tilgung, Zins (currency).
class PlanFieldManager : public ::testing::Test {
 protected:
  void SetUp() override {
    TABSFieldDefs& defs = manager.FieldDefs();
    for (const char* name : {"Jahr", "Monat", "Tag"}) defs.AddFieldDef(name, dtInteger);
    for (const char* name : {"Darlehen", "Tilgung", "Zins"}) defs.AddFieldDef(name, dtCurrency);
    manager.ComputeLayout();
    manager.ResetAutoincCounters();
  }
  TABSBaseFieldManager manager{nullptr};
};

TEST_F(PlanFieldManager, LayoutAndValuesOfARow) {
  const TABSFieldDefs& defs = manager.FieldDefs();
  const std::int32_t offsets[] = {1, 5, 9, 13, 21, 29};
  for (std::int32_t i = 0; i < 6; ++i) EXPECT_EQ(defs[i]->MemoryOffset, offsets[i]) << i;
  ASSERT_EQ(manager.GetRecordSize(), 37);
  EXPECT_FALSE(manager.HasBlobFields());

  std::vector<unsigned char> image(37, 0xEE);
  image[0] = 0x3F;  // every field NULL
  const std::int32_t year = 2027, month = 1, day = 15;
  const double amounts[] = {1234.56, 41.67, 33.33};
  FieldDataToRecord(0, defs, &year, image.data());
  FieldDataToRecord(1, defs, &month, image.data());
  FieldDataToRecord(2, defs, &day, image.data());
  for (int k = 0; k < 3; ++k) FieldDataToRecord(3 + k, defs, &amounts[k], image.data());
  EXPECT_EQ(image[0], 0);
  EXPECT_EQ(Get<double>(image, 13), 1234.56);
  EXPECT_EQ(Get<std::int32_t>(image, 9), 15);

  double amount = 0;
  EXPECT_TRUE(FieldDataFromRecord(5, defs, &amount, image.data()));
  EXPECT_EQ(amount, 33.33);
  FieldDataToRecord(4, defs, nullptr, image.data());
  EXPECT_EQ(image[0], 1u << 4);
  amount = -1;
  EXPECT_FALSE(FieldDataFromRecord(4, defs, &amount, image.data()));
  EXPECT_EQ(amount, -1);  // untouched
  EXPECT_TRUE(FieldDataFromRecord(3, defs, nullptr, image.data()));
}

TEST_F(PlanFieldManager, FieldNumbersAndNilBuffersAreRefused) {
  const TABSFieldDefs& defs = manager.FieldDefs();
  std::vector<unsigned char> image(37, 0);
  double v = 0;
  EABSException e = RaisedBy([&] { FieldDataFromRecord(6, defs, &v, image.data()); });
  EXPECT_EQ(e.NativeError(), 10000);
  EXPECT_EQ(e.Message(),
            "Invalid field number - FieldNo = 6, FieldCount = 6 - Native error: 10000");
  EXPECT_EQ(NativeErrorOf([&] { FieldDataFromRecord(-1, defs, &v, image.data()); }), 10000);
  EXPECT_EQ(NativeErrorOf([&] { FieldDataFromRecord(0, defs, &v, nullptr); }), 10003);
  EXPECT_EQ(NativeErrorOf([&] { FieldDataToRecord(6, defs, &v, image.data()); }), 10004);
  EXPECT_EQ(RaisedBy([&] { FieldDataToRecord(0, defs, &v, nullptr); }).Message(),
            "Nil pointer occured - Native error: 30502");
  EXPECT_EQ(NativeErrorOf([&] { CompareBytes(nullptr, &v, 1); }), 10122);
  EXPECT_EQ(NativeErrorOf([&] { CompareBytes(&v, nullptr, 1); }), 10123);
  EXPECT_EQ(RaisedBy([&] { manager.NextAutoincValue(6); }).Message(),
            "Field #6 not found - Native error: 30402");
}

TEST(FieldManagerLayout, NullBitmapGrowsWithTheNinthField) {
  TABSBaseFieldManager m(nullptr);
  for (int i = 0; i < 8; ++i) m.FieldDefs().AddFieldDef("F" + std::to_string(i), dtSmallint);
  m.ComputeLayout();
  EXPECT_EQ(m.FieldDefs()[0]->MemoryOffset, 1);
  EXPECT_EQ(m.GetRecordSize(), 1 + 16);
  m.FieldDefs().AddFieldDef("F8", dtSmallint);
  m.ComputeLayout();
  EXPECT_EQ(m.FieldDefs()[0]->MemoryOffset, 2);
  EXPECT_EQ(m.FieldDefs()[8]->MemoryOffset, 18);
  EXPECT_EQ(m.GetRecordSize(), 2 + 18);

  std::vector<unsigned char> image(20, 0);
  FieldDataToRecord(8, m.FieldDefs(), nullptr, image.data());
  EXPECT_EQ(image[0], 0);
  EXPECT_EQ(image[1], 1);
  std::int16_t v = 7;
  EXPECT_FALSE(FieldDataFromRecord(8, m.FieldDefs(), &v, image.data()));
  FieldDataToRecord(8, m.FieldDefs(), &v, image.data());
  EXPECT_EQ(image[1], 0);
  EXPECT_EQ(Get<std::int16_t>(image, 18), 7);
}

TEST(FieldManagerLayout, TableWithoutFieldsHasNoRecordSize) {
  TABSBaseFieldManager m(nullptr);
  EABSException e = RaisedBy([&] { m.GetRecordSize(); });
  EXPECT_EQ(e.Message(), "Error creating table - no fields were specified - Native error: 10131");
  DesignMode = true;
  EXPECT_EQ(m.GetRecordSize(), 0);
  DesignMode = false;
}

TEST(FieldExchange, WidenedAndNarrowedTypes) {
  TABSFieldDefs defs;
  defs.AddFieldDef("S", dtShortint);
  defs.AddFieldDef("C", dtCardinal);
  defs.AddFieldDef("F", dtSingle);
  defs.AddFieldDef("E", dtExtended);
  defs.AddFieldDef("T", dtString, 10);
  defs.AddFieldDef("W", dtWideString, 4);
  defs.AddFieldDef("B", dtBlob);
  defs.CalculateOffsets();
  std::vector<unsigned char> image(static_cast<std::size_t>(defs.MemoryRecordSize()), 0xFF);

  const std::int16_t shortIn = -5;
  FieldDataToRecord(0, defs, &shortIn, image.data());
  EXPECT_EQ(static_cast<std::int8_t>(image[defs[0]->MemoryOffset]), -5);
  std::int16_t shortOut = 0;
  EXPECT_TRUE(FieldDataFromRecord(0, defs, &shortOut, image.data()));
  EXPECT_EQ(shortOut, -5);

  const std::uint64_t cardIn = 0xDEADBEEF00000000ull | 0xFFFFFFFFull;
  FieldDataToRecord(1, defs, &cardIn, image.data());
  std::uint64_t cardOut = 1;
  EXPECT_TRUE(FieldDataFromRecord(1, defs, &cardOut, image.data()));
  EXPECT_EQ(cardOut, 0xFFFFFFFFull);  // high half zero

  const double singleIn = 0.1, extIn = 1.0 / 3.0;
  FieldDataToRecord(2, defs, &singleIn, image.data());
  FieldDataToRecord(3, defs, &extIn, image.data());
  double out = 0;
  EXPECT_TRUE(FieldDataFromRecord(2, defs, &out, image.data()));
  EXPECT_EQ(out, static_cast<double>(0.1f));
  EXPECT_TRUE(FieldDataFromRecord(3, defs, &out, image.data()));
  EXPECT_EQ(out, extIn);

  // Empty text in 8-bit and 16-bit units becomes NULL.
  const char abc[11] = "abc";  // sources are as large as the field
  FieldDataToRecord(4, defs, abc, image.data());
  EXPECT_TRUE(FieldDataFromRecord(4, defs, nullptr, image.data()));
  FieldDataToRecord(4, defs, "", image.data());
  char text[11] = "unchanged";
  EXPECT_FALSE(FieldDataFromRecord(4, defs, text, image.data()));
  EXPECT_STREQ(text, "unchanged");
  const char16_t wide[5] = u"wxyz";
  FieldDataToRecord(5, defs, wide, image.data());
  EXPECT_TRUE(FieldDataFromRecord(5, defs, nullptr, image.data()));
  FieldDataToRecord(5, defs, u"", image.data());
  EXPECT_FALSE(FieldDataFromRecord(5, defs, nullptr, image.data()));

  // A BLOB value is not copied out of the image.
  SetBlobBlockAddress(image.data(), *defs[6], &out);
  SetNullBit(image.data(), 6, false);
  unsigned char blobOut[10] = {};
  EXPECT_TRUE(FieldDataFromRecord(6, defs, blobOut, image.data()));
  EXPECT_EQ(blobOut[0], 0);
}

// The address kept in a BLOB field must survive in full: the high half of a
// 64-bit address is not zero.
TEST(FieldExchange, BlobBlockAddressKeepsAllEightBytes) {
  TABSFieldDefs defs;
  defs.AddFieldDef("N", dtInteger);
  defs.AddFieldDef("M", dtMemo);
  defs.CalculateOffsets();
  std::vector<unsigned char> image(static_cast<std::size_t>(defs.MemoryRecordSize()), 0xAB);
  void* const address = reinterpret_cast<void*>(std::uintptr_t{0x00007F1234567890});
  SetBlobBlockAddress(image.data(), *defs[1], address);
  EXPECT_EQ(GetBlobBlockAddress(image.data(), *defs[1]), address);
  EXPECT_EQ(Get<std::uint32_t>(image, defs[1]->MemoryOffset + 4), 0x00007F12u);
  EXPECT_EQ(Get<std::uint16_t>(image, defs[1]->MemoryOffset + 8), 0);
  SetBlobBlockAddress(image.data(), *defs[1], nullptr);
  EXPECT_EQ(GetBlobBlockAddress(image.data(), *defs[1]), nullptr);
  EXPECT_EQ(Get<std::int32_t>(image, defs[0]->MemoryOffset), static_cast<std::int32_t>(0xABABABAB));
  EXPECT_EQ(NativeErrorOf([&] { GetBlobBlockAddress(image.data(), *defs[0]); }), 30503);
}

// A stored record differs from the edit's copy in a value whose first byte
// is 0 in both images: the comparison must still see the difference.
TEST(RecordComparison, EveryByteOfFixedSizeValuesCounts) {
  TABSBaseFieldManager m(nullptr);
  m.FieldDefs().AddFieldDef("I", dtInteger);
  m.FieldDefs().AddFieldDef("C", dtCurrency);
  m.FieldDefs().AddFieldDef("T", dtString, 5);
  m.FieldDefs().AddFieldDef("W", dtWideChar, 3);
  m.ComputeLayout();
  const std::int32_t size = m.GetRecordSize();
  const TABSFieldDefs& defs = m.FieldDefs();
  std::vector<unsigned char> a(static_cast<std::size_t>(size), 0), b;
  Put<std::int32_t>(a, defs[0]->MemoryOffset, 256);  // bytes 00 01 00 00
  Put<double>(a, defs[1]->MemoryOffset, 1.0);        // first byte 00
  std::memcpy(a.data() + defs[2]->MemoryOffset, "AB\0xy", 6);
  std::memcpy(a.data() + defs[3]->MemoryOffset, u"Q\0z", 6);
  b = a;
  EXPECT_TRUE(m.CompareRecordImages(a.data(), b.data()));

  Put<std::int32_t>(b, defs[0]->MemoryOffset, 512);  // bytes 00 02 00 00
  EXPECT_FALSE(m.CompareRecordImages(a.data(), b.data()));
  b = a;
  Put<double>(b, defs[1]->MemoryOffset, 2.0);
  EXPECT_FALSE(m.CompareRecordImages(a.data(), b.data()));

  // Text counts up to and including its terminator, not beyond.
  b = a;
  std::memcpy(b.data() + defs[2]->MemoryOffset, "AB\0zz", 6);
  std::memcpy(b.data() + defs[3]->MemoryOffset, u"Q\0w", 6);
  EXPECT_TRUE(m.CompareRecordImages(a.data(), b.data()));
  std::memcpy(b.data() + defs[2]->MemoryOffset, "ABC\0z", 6);
  EXPECT_FALSE(m.CompareRecordImages(a.data(), b.data()));
  b = a;
  std::memcpy(b.data() + defs[3]->MemoryOffset, u"QR\0", 6);
  EXPECT_FALSE(m.CompareRecordImages(a.data(), b.data()));

  // NULL in both: the value bytes do not matter; NULL in one: different.
  b = a;
  SetNullBit(a.data(), 0, true);
  SetNullBit(b.data(), 0, true);
  Put<std::int32_t>(b, defs[0]->MemoryOffset, 99);
  EXPECT_TRUE(m.CompareRecordImages(a.data(), b.data()));
  SetNullBit(b.data(), 0, false);
  EXPECT_FALSE(m.CompareRecordImages(a.data(), b.data()));

  EXPECT_EQ(NativeErrorOf([&] { m.CompareRecordImages(nullptr, b.data()); }), 30495);
  EXPECT_EQ(NativeErrorOf([&] { m.CompareRecordImages(a.data(), nullptr); }), 30496);
  EXPECT_FALSE(CompareBytes(a.data(), b.data(), size));
  EXPECT_TRUE(CompareBytes(a.data(), b.data(), 0));
}

class AutoincManager : public ::testing::Test {
 protected:
  // Field 0 an auto-increment integer (object ID 41), field 1 a plain integer (42).
  void SetUp() override {
    auto* id = m.FieldDefs().AddFieldDef("ID", dtAutoInc);
    id->ObjectId = 41;
    m.FieldDefs().AddFieldDef("N", dtInteger)->ObjectId = 42;
    m.ComputeLayout();
  }
  TABSFieldDef& Id() { return *m.FieldDefs()[0]; }
  TABSBaseFieldManager m{nullptr};
};

TEST_F(AutoincManager, CountersStepLimitAndCycle) {
  EXPECT_EQ(NativeErrorOf([&] { m.NextAutoincValue(0); }), 30403);  // no counters yet
  Id().InitialValue = 10;
  Id().Increment = 0;
  m.ResetAutoincCounters();
  EXPECT_EQ(m.AutoincCounters(), (std::vector<std::int64_t>{10, 0}));
  EXPECT_EQ(m.NextAutoincValue(0), 11);  // increment 0 counts as 1

  Id().InitialValue = 0;
  Id().Increment = 1;
  Id().MaxValue = 3;
  m.ResetAutoincCounters();
  for (std::int64_t v = 1; v <= 3; ++v) EXPECT_EQ(m.NextAutoincValue(0), v);
  EABSException e = RaisedBy([&] { m.NextAutoincValue(0); });
  EXPECT_EQ(e.Message(), "Autoinc max value exceeded for field 'ID' - Native error: 20160");
  EXPECT_EQ(m.AutoincCounters()[0], 3);
  Id().Cycled = true;
  Id().MinValue = 1;
  EXPECT_EQ(m.NextAutoincValue(0), 1);

  // No limit, but the 64-bit range ends.
  Id().MaxValue = 0;
  Id().Cycled = false;
  Id().InitialValue = std::numeric_limits<std::int64_t>::max() - 1;
  m.ResetAutoincCounters();
  EXPECT_EQ(m.NextAutoincValue(0), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(NativeErrorOf([&] { m.NextAutoincValue(0); }), 20160);
}

TEST_F(AutoincManager, InsertedRecordsTakeAndRaiseTheSequence) {
  m.ResetAutoincCounters();
  FakeSession session;
  std::vector<unsigned char> image(static_cast<std::size_t>(m.GetRecordSize()), 0);
  SetNullBit(image.data(), 0, true);
  SetNullBit(image.data(), 1, true);
  m.ApplyAutoincs(&session, image.data());
  EXPECT_FALSE(IsNullBitSet(image.data(), 0));
  EXPECT_TRUE(IsNullBitSet(image.data(), 1));  // not an auto-increment field
  EXPECT_EQ(Get<std::int32_t>(image, Id().MemoryOffset), 1);
  EXPECT_EQ(session.values.at(41), 1);

  // A record with its own value 100 moves the counter up.
  Put<std::int32_t>(image, Id().MemoryOffset, 100);
  m.ApplyAutoincs(&session, image.data());
  EXPECT_EQ(session.values.at(41), 100);
  EXPECT_EQ(m.NextSequenceValue(&session, 0), 101);
  EXPECT_EQ(m.GetSequenceLastValue(&session, 0), 101);

  // A negative value of a signed field is below the counter, not far above.
  Put<std::int32_t>(image, Id().MemoryOffset, -1);
  m.ApplyAutoincs(&session, image.data());
  EXPECT_EQ(m.AutoincCounters()[0], 101);
  // A value at the counter changes nothing either.
  Put<std::int32_t>(image, Id().MemoryOffset, 101);
  session.values.clear();
  m.ApplyAutoincs(&session, image.data());
  EXPECT_TRUE(session.values.empty());
}

TEST_F(AutoincManager, LastValueComesFromTheSessionFirst) {
  m.ResetAutoincCounters();
  FakeSession single, shared(true);
  m.NextAutoincValue(0);
  m.NextAutoincValue(0);
  EXPECT_EQ(m.GetSequenceLastValue(&single, 0), 2);  // the counter
  EXPECT_EQ(m.GetSequenceLastValue(&single, 1), 0);  // not an auto-increment field
  EXPECT_EQ(m.GetSequenceLastValue(nullptr, 0), 2);
  EABSException e = RaisedBy([&] { m.GetSequenceLastValue(&shared, 0); });
  EXPECT_EQ(e.Message(),
            "No SequenceLastValue in session for sequence 'ID'. Call GetNextVal first - Native "
            "error: 30012");
  EXPECT_EQ(m.NextSequenceValue(&shared, 0), 3);
  m.NextSequenceValue(&single, 0);  // 4, recorded only in `single`
  EXPECT_EQ(m.GetSequenceLastValue(&shared, 0), 3);
  EXPECT_EQ(m.GetSequenceLastValue(&single, 0), 4);
  EXPECT_EQ(NativeErrorOf([&] { m.GetSequenceLastValue(&single, 2); }), 30498);
}

TEST_F(AutoincManager, CounterBlockRoundTrip) {
  Id().InitialValue = -7;
  m.ResetAutoincCounters();
  const std::vector<std::byte> block = m.WriteAutoincCounters();
  ASSERT_EQ(block.size(), 4u + 2 * 8);
  TABSBaseFieldManager other(nullptr);
  other.ReadAutoincCounters(block.data(), static_cast<std::int64_t>(block.size()));
  EXPECT_EQ(other.AutoincCounters(), (std::vector<std::int64_t>{-7, 0}));
  EXPECT_EQ(NativeErrorOf([&] { other.ReadAutoincCounters(block.data(), 19); }), 30497);
  EXPECT_EQ(other.AutoincCounters().size(), 2u);
}

TEST(FieldDefaults, DefaultsAreWrittenAndClearTheNullFlag) {
  TABSBaseFieldManager m(nullptr);
  TABSFieldDefs& defs = m.FieldDefs();
  defs.AddFieldDef("N", dtInteger)->DefaultValue->SetAsInteger(0);
  defs.AddFieldDef("C", dtCurrency)->DefaultValue->SetAsInteger(12);  // converted to currency
  defs.AddFieldDef("T", dtString, 8)->DefaultValue->SetAsString("abc");
  defs.AddFieldDef("X", dtInteger);  // no default
  defs.AddFieldDef("B", dtBlob)->DefaultValue->SetAsString("blob");
  m.ComputeLayout();
  std::vector<unsigned char> image(static_cast<std::size_t>(m.GetRecordSize()), 0x5A);
  image[0] = 0xFF;
  m.ApplyDefaults(nullptr, image.data());
  EXPECT_EQ(image[0], 0xFF & ~0x07);  // fields 0 to 2 set, 3 and 4 still NULL
  EXPECT_EQ(Get<std::int32_t>(image, defs[0]->MemoryOffset), 0);
  EXPECT_EQ(Get<double>(image, defs[1]->MemoryOffset), 12.0);
  EXPECT_STREQ(reinterpret_cast<const char*>(image.data() + defs[2]->MemoryOffset), "abc");
  EXPECT_EQ(image[defs[4]->MemoryOffset], 0x5A);
  EXPECT_EQ(NativeErrorOf([&] { m.ApplyDefaults(nullptr, nullptr); }), 30500);
}

TEST(FieldBlobs, HasBlobFieldsNeedsABlockSize) {
  TABSBaseFieldManager m(nullptr);
  m.FieldDefs().AddFieldDef("N", dtInteger);
  EXPECT_FALSE(m.HasBlobFields());
  m.FieldDefs().AddFieldDef("G", dtGraphic);
  EXPECT_TRUE(m.HasBlobFields());
  m.FieldDefs()[1]->BlobBlockSize = 0;
  EXPECT_EQ(RaisedBy([&] { m.HasBlobFields(); }).Message(),
            "BLOB block size should be > 0 for field G - Native error: 10421");
}

}  // namespace
