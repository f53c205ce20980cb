// Field objects over the in-test dataset: texts per locale, NULLs, exact
// values, conversions, the write refused while browsing, names and the
// factory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/data/DataSource.h"
#include "platform/locale/Locale.h"
#include "tests/platform/data/VectorDataSet.h"

namespace platform::test {
namespace {

std::vector<TVectorColumn> PlanSchema() {
  return {{"Jahr", ftInteger, 0},    {"Darlehen", ftCurrency, 0},
          {"Rate", ftFloat, 0},      {"Name", ftString, 8},
          {"Wide", ftWideString, 4}, {"Flag", ftBoolean, 0},
          {"Count", ftSmallint, 0},  {"Big", ftLargeint, 0},
          {"Day", ftDate, 0},        {"When", ftDateTime, 0},
          {"At", ftTime, 0}};
}

class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.SetName("Plan");
    ds.Open();
    ds.Append();
  }
  TVectorDataSet ds{PlanSchema()};
};

TEST_F(FieldTest, CurrencyTextFollowsTheLocale) {
  const std::string nbsp = "\xC2\xA0";
  struct Case {
    const char* locale;
    double value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"de_DE", 9958.333333333334, "9.958,33" + nbsp + "\xE2\x82\xAC"},
      {"de_DE", -0.004, "0,00" + nbsp + "\xE2\x82\xAC"},
      {"en_US", 9958.333333333334, "$9,958.33"},
      {"en_US", 1234567.891, "$1,234,567.89"},
      {"ja_JP", 9958.333333333334,
       "\xEF\xBF\xA5"
       "9,958"},
  };
  for (const Case& c : cases) {
    FormatSettings settings(c.locale);
    ds.SetFormatSettings(&settings);
    TField& f = ds.FieldByName("Darlehen");
    f.SetAsFloat(c.value);
    EXPECT_EQ(f.DisplayText(), c.text) << c.locale << " " << c.value;
    // The plain text keeps the value's general form.
    EXPECT_EQ(f.AsString(), settings.FormatFloat(c.value)) << c.locale;
  }
  ds.SetFormatSettings(nullptr);
}

TEST_F(FieldTest, CurrencyDecimalsOfEachLocale) {
  for (const char* locale : {"de_DE", "en_US", "ja_JP"}) {
    FormatSettings settings(locale);
    ds.SetFormatSettings(&settings);
    TField& f = ds.FieldByName("Darlehen");
    f.SetAsFloat(12.5);
    std::string text = f.DisplayText();
    const std::string& sep = settings.DecimalSeparator();
    std::size_t at = text.find(sep);
    int digits = 0;
    if (at != std::string::npos) {
      for (std::size_t i = at + sep.size(); i < text.size() && text[i] >= '0' && text[i] <= '9';
           ++i) {
        ++digits;
      }
    }
    EXPECT_EQ(digits, settings.CurrencyDigits()) << locale << ": " << text;
  }
  ds.SetFormatSettings(nullptr);
}

TEST_F(FieldTest, NullShowsEmptyTextInEveryKind) {
  for (int i = 0; i < ds.FieldCount(); ++i) {
    TField& f = ds.Fields()[i];
    EXPECT_TRUE(f.IsNull()) << f.FieldName();
    EXPECT_EQ(f.DisplayText(), "") << f.FieldName();
    EXPECT_EQ(f.AsString(), "") << f.FieldName();
  }
  TField& jahr = ds.FieldByName("Jahr");
  jahr.SetAsInteger(2027);
  EXPECT_FALSE(jahr.IsNull());
  jahr.Clear();
  EXPECT_TRUE(jahr.IsNull());
  EXPECT_EQ(jahr.AsInteger(), 0);
}

TEST_F(FieldTest, TextsOfTheKinds) {
  FormatSettings german("de_DE");
  ds.SetFormatSettings(&german);
  struct Case {
    const char* field;
    std::function<void(TField&)> set;
    std::string display;
  };
  const std::vector<Case> cases = {
      {"Jahr", [](TField& f) { f.SetAsInteger(-12345); }, "-12345"},
      {"Rate", [](TField& f) { f.SetAsFloat(1.0 / 3.0); }, "0,333333333333333"},
      {"Rate", [](TField& f) { f.SetAsString("2,5"); }, "2,5"},
      {"Name",
       [](TField& f) {
         f.SetAsString(
             "Gr\xC3\xBC\xC3\x9F"
             "e und mehr");
       },
       "Gr\xC3\xBC\xC3\x9F"
       "e un"},
      {"Wide",
       [](TField& f) {
         f.SetAsString(
             "\xE2\x82\xAC"
             "uro!");
       },
       "\xE2\x82\xAC"
       "uro"},
      {"Flag", [](TField& f) { f.SetAsBoolean(true); }, "True"},
      {"Count", [](TField& f) { f.SetAsString("-300"); }, "-300"},
      {"Big", [](TField& f) { f.SetAsLargeInt(9007199254740993LL); }, "9007199254740993"},
      {"Day", [](TField& f) { f.SetAsDateTime(EncodeDate(2027, 1, 15)); }, "15.01.2027"},
      {"At", [](TField& f) { f.SetAsDateTime(EncodeTime(13, 5, 9, 0)); }, "13:05:09"},
  };
  for (const Case& c : cases) {
    TField& f = ds.FieldByName(c.field);
    c.set(f);
    EXPECT_EQ(f.DisplayText(), c.display) << c.field;
  }
  EXPECT_EQ(ds.FieldByName("Jahr").Alignment(), TAlignment::taRightJustify);
  EXPECT_EQ(ds.FieldByName("Name").Alignment(), TAlignment::taLeftJustify);
  ds.SetFormatSettings(nullptr);
}

TEST_F(FieldTest, ValuesTravelUnchanged) {
  TField& money = ds.FieldByName("Darlehen");
  const double value = 9958.333333333334;
  money.SetAsFloat(value);
  double native = 0;
  ASSERT_TRUE(money.GetData(&native));
  EXPECT_EQ(std::memcmp(&native, &value, sizeof value), 0);
  EXPECT_EQ(money.AsFloat(), value);

  TField& when = ds.FieldByName("When");
  TDateTime dt = EncodeDate(2026, 12, 9) + EncodeTime(17, 40, 0, 0);
  when.SetAsDateTime(dt);
  EXPECT_DOUBLE_EQ(when.AsDateTime(), dt);
  // The native date form counts days from 1 January 0001 (day 1).
  TField& day = ds.FieldByName("Day");
  day.SetAsDateTime(EncodeDate(1, 1, 1));
  std::int32_t days = 0;
  ASSERT_TRUE(day.GetData(&days));
  EXPECT_EQ(days, 1);
  EXPECT_DOUBLE_EQ(day.AsDateTime(), EncodeDate(1, 1, 1));
}

TEST_F(FieldTest, RefusedValues) {
  struct Case {
    const char* name;
    std::function<void()> run;
  };
  const std::vector<Case> cases = {
      {"smallint range", [&] { ds.FieldByName("Count").SetAsInteger(40000); }},
      {"integer text", [&] { ds.FieldByName("Jahr").SetAsString("12a"); }},
      {"float text", [&] { ds.FieldByName("Rate").SetAsString("x"); }},
      {"boolean text", [&] { ds.FieldByName("Flag").SetAsString("maybe"); }},
      {"integer as date", [&] { ds.FieldByName("Jahr").SetAsDateTime(1); }},
      // Values with no day number or time of day.
      {"date beyond day numbers", [&] { ds.FieldByName("Day").SetAsDateTime(3e9); }},
      {"NaN date", [&] { ds.FieldByName("Day").SetAsDateTime(std::nan("")); }},
      {"infinite time", [&] { ds.FieldByName("At").SetAsDateTime(HUGE_VAL); }},
      {"NaN time", [&] { ds.FieldByName("At").SetAsDateTime(std::nan("")); }},
  };
  for (const Case& c : cases) {
    EXPECT_ANY_THROW(c.run()) << c.name;
  }
  // Nothing was stored by the refused writes.
  EXPECT_TRUE(ds.FieldByName("Count").IsNull());
  EXPECT_TRUE(ds.FieldByName("Jahr").IsNull());
  EXPECT_TRUE(ds.FieldByName("Day").IsNull());
  EXPECT_TRUE(ds.FieldByName("At").IsNull());
}

TEST_F(FieldTest, RangeChecksOnlyWhenSet) {
  auto& rate = static_cast<TFloatField&>(ds.FieldByName("Rate"));
  rate.SetAsFloat(-1e300);  // no limits set: any value
  rate.SetMinValue(0);
  rate.SetMaxValue(10);
  EXPECT_THROW(rate.SetAsFloat(10.5), EDatabaseError);
  EXPECT_EQ(rate.AsFloat(), -1e300);
  rate.SetAsFloat(10);
  EXPECT_EQ(rate.AsFloat(), 10);
}

TEST_F(FieldTest, WriteWhileBrowsingIsRefusedByTheDataset) {
  ds.FieldByName("Jahr").SetAsInteger(1);
  ds.Post();
  ASSERT_EQ(ds.State(), TDataSetState::dsBrowse);
  try {
    ds.FieldByName("Jahr").SetAsInteger(2);
    FAIL() << "wrote while browsing";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Plan: Dataset not in edit or insert mode");
  }
  EXPECT_EQ(ds.FieldByName("Jahr").AsInteger(), 1);
  EXPECT_FALSE(ds.Modified());
}

TEST_F(FieldTest, FieldByNameIgnoresCase) {
  EXPECT_EQ(&ds.FieldByName("jahr"), &ds.FieldByName("JAHR"));
  EXPECT_EQ(ds.FindField("dArLeHeN")->FieldNo(), 2);
  EXPECT_EQ(ds.FindField("Jahre"), nullptr);
  try {
    ds.FieldByName("Zins%s");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Plan: Field 'Zins%s' not found");
  }
}

TEST(FieldFactory, KindsOfTheTypes) {
  struct Case {
    TFieldType type;
    int dataSize;
  };
  for (const Case& c :
       {Case{ftInteger, 4}, Case{ftSmallint, 2}, Case{ftWord, 2}, Case{ftAutoInc, 4},
        Case{ftLargeint, 8}, Case{ftFloat, 8}, Case{ftCurrency, 8}, Case{ftBoolean, 2},
        Case{ftDate, 4}, Case{ftTime, 4}, Case{ftDateTime, 8}, Case{ftString, 11},
        Case{ftWideString, 22}, Case{ftMemo, 0}, Case{ftBlob, 0}}) {
    auto f = CreateFieldForType(c.type, 10);
    EXPECT_EQ(static_cast<int>(f->DataType()), static_cast<int>(c.type));
    EXPECT_EQ(f->DataSize(), c.dataSize) << static_cast<int>(c.type);
  }
  auto money = CreateFieldForType(ftCurrency, 0);
  EXPECT_TRUE(dynamic_cast<TFloatField&>(*money).Currency());
  for (TFieldType t : {ftBCD, ftVarBytes, ftADT, ftUnknown}) {
    EXPECT_THROW(CreateFieldForType(t, 0), EDatabaseError) << static_cast<int>(t);
  }
}

TEST(FieldDefs, UpdatedProtocolAndNotifications) {
  struct Probe : TVectorDataSet {
    using TVectorDataSet::TVectorDataSet;
    int initCalls = 0, changes = 0;
    void InitFieldDefs() override {
      ++initCalls;
      FieldDefs().Clear();
      FieldDefs().Add("A", ftInteger);
    }
    void DefChanged(const void*) override { ++changes; }
  };
  Probe ds({{"A", ftInteger, 0}});
  ds.FieldDefs().Update();
  ds.FieldDefs().Update();  // up to date: the hook is not called again
  EXPECT_EQ(ds.initCalls, 1);
  EXPECT_EQ(ds.changes, 0);  // the hook's own changes are not reported
  ds.FieldDefs().Add("B", ftString, 5, true);
  EXPECT_EQ(ds.changes, 1);
  EXPECT_EQ(ds.FieldDefs().IndexOf("b"), 1);
  EXPECT_EQ(ds.FieldDefs()[1].FieldNo(), 2);
  // Repeated names are left to the table builder; lookups find the first.
  ds.FieldDefs().Add("a", ftSmallint);
  EXPECT_EQ(ds.FieldDefs().Find("A")->DataType(), ftInteger);
  ds.FieldDefs().SetUpdated(false);
  ds.FieldDefs().Update();
  EXPECT_EQ(ds.initCalls, 2);
  EXPECT_EQ(ds.FieldDefs().Count(), 1);

  TIndexDefs indexes(&ds);
  indexes.Add("ByName", "Name;Jahr", ixCaseInsensitive);
  EXPECT_EQ(indexes.FindIndexForFields("name"), &indexes[0]);
  EXPECT_EQ(indexes.FindIndexForFields("Nam"), nullptr);
}

}  // namespace
}  // namespace platform::test
