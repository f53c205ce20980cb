// Calculated fields of the engine dataset (slots after the record, wide
// strings by reference), definition updates on an open dataset, and a
// temporary database component that its own disconnect must not free.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/memory/ABSMemory.h"
#include "platform/data/DataSource.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/components/TableFixture.h"

namespace {

class WindowLink : public platform::TDataLink {
 public:
  explicit WindowLink(int rows) { SetBufferCount(rows); }
};

class CalcFieldTest : public TableComponentTest {
 protected:
  // The plan table with a short wide calculated field and an integer one
  // behind it, filled with `rows` rows.
  TProbeTable& PlanWithCalcFields(int rows, int wideSize) {
    CreatePlanTable("Tilgungsplan");
    TProbeTable& table = NewTable<TProbeTable>("ABSTable1", "Tilgungsplan");
    auto wide = platform::CreateFieldForType(platform::ftWideString, wideSize);
    wide->SetFieldName("Kurz");
    wide->SetFieldKind(platform::TFieldKind::fkCalculated);
    wide_ = &table.Fields().Add(std::move(wide));
    auto twice = platform::CreateFieldForType(platform::ftInteger, 0);
    twice->SetFieldName("Doppelt");
    twice->SetFieldKind(platform::TFieldKind::fkCalculated);
    twice_ = &table.Fields().Add(std::move(twice));
    table.OnCalcFields = [this](platform::TDataSet& ds) {
      const int jahr = ds.FieldByName("Jahr").AsInteger();
      wide_->SetAsString(std::string(1, static_cast<char>('a' + jahr % 26)) + "z");
      twice_->SetAsInteger(2 * jahr);
    };
    table.Open();
    for (int i = 0; i < rows; ++i) AppendPlanRow(table, i, 1, 1, 1.0, 1.0, 1.0);
    return table;
  }
  platform::TField* wide_ = nullptr;
  platform::TField* twice_ = nullptr;
};

TEST_F(CalcFieldTest, AWideCalculatedValueKeepsAPointerSizedReference) {
  TProbeTable& table = PlanWithCalcFields(30, 1);
  // Slots: flag + reference, flag + int32.
  EXPECT_EQ(table.CalcFieldsSize(), 1 + static_cast<int>(sizeof(void*)) + 1 + 4);
  table.First();
  for (int i = 0; i < 30; ++i, table.Next()) {
    SCOPED_TRACE(i);
    // One character fits a field of size 1; the integer slot behind is intact.
    EXPECT_EQ(table.FieldByName("Kurz").AsString(),
              std::string(1, static_cast<char>('a' + i % 26)));
    EXPECT_EQ(table.FieldByName("Doppelt").AsInteger(), 2 * i);
  }
}

TEST_F(CalcFieldTest, WideCalculatedStringsAreFreedWithTheirBuffersAndAtClose) {
  TProbeTable& table = PlanWithCalcFields(40, 4);
  for (int pass = 0; pass < 3; ++pass) {
    table.First();
    while (!table.Eof()) table.Next();
    table.Last();
    while (!table.Bof()) table.Prior();
  }
  // One string per buffer at most: the window, its spare and the calculation buffer.
  EXPECT_LE(table.WideCalcStringCount(), static_cast<std::size_t>(table.BufferCount() + 2));
  table.Close();
  EXPECT_EQ(table.WideCalcStringCount(), 0u);
}

TEST_F(CalcFieldTest, CopyingAWideStringOutNeverWritesPastTheFieldsSize) {
  CreatePlanTable("Tilgungsplan");
  TProbeTable& table = NewTable<TProbeTable>("ABSTable1", "Tilgungsplan");
  auto field = platform::CreateFieldForType(platform::ftWideString, 5);
  field->SetFieldName("Name");
  field->SetFieldKind(platform::TFieldKind::fkCalculated);
  platform::TField& name = table.Fields().Add(std::move(field));
  const std::u16string tooLong = u"abcdefghijklmnopqrstuvwxyz";
  // A value longer than the field, handed to the dataset in the native form.
  table.OnCalcFields = [&](platform::TDataSet&) { table.StoreFieldData(&name, tooLong.c_str()); };
  table.Open();
  AppendPlanRow(table, 2024, 1, 1, 1.0, 1.0, 1.0);
  ASSERT_EQ(name.DataSize(), 12);
  unsigned char out[12 + 16];
  std::memset(out, 0xAB, sizeof out);
  ASSERT_TRUE(table.LoadFieldData(&name, out));
  std::u16string read(reinterpret_cast<const char16_t*>(out));
  EXPECT_EQ(read, u"abcde");
  for (std::size_t i = 12; i < sizeof out; ++i) EXPECT_EQ(out[i], 0xAB) << "byte " << i;
}

TEST_F(CalcFieldTest, ClearingTheCalculatedAreaZeroesEveryByte) {
  TProbeTable& table = PlanWithCalcFields(1, 3);
  platform::TRecordBuffer buffer = table.ActiveBuffer();
  const int area = table.Cursor()->CalcAreaOffset;
  ASSERT_NE(buffer[area], 0) << "the wide slot holds a value";
  table.ZeroCalculatedArea(buffer);
  for (int i = 0; i < table.CalcFieldsSize(); ++i) EXPECT_EQ(buffer[area + i], 0) << i;
  EXPECT_EQ(buffer[area - 1], 0) << "the flag byte before the area is the record's";
  EXPECT_EQ(table.WideCalcStringCount(), 0u) << "the slot's string went with it";
}

TEST_F(CalcFieldTest, CalculatedFieldsReadAsNoValueWhileAKeyIsEntered) {
  TProbeTable& table = PlanWithCalcFields(2, 3);
  table.Last();
  ASSERT_EQ(twice_->AsInteger(), 2);
  // The key buffer ends where the calculated area would begin.
  const platform::TDataSetState previous = table.SetTempState(platform::TDataSetState::dsSetKey);
  std::uint8_t out[8] = {};
  for (platform::TField* field : {wide_, twice_}) {
    SCOPED_TRACE(field->FieldName());
    EXPECT_FALSE(table.LoadFieldData(field, out));
    EXPECT_TRUE(field->IsNull());
  }
  table.RestoreState(previous);
  EXPECT_EQ(twice_->AsInteger(), 2);
  EXPECT_EQ(wide_->AsString(), "bz");
}

TEST_F(CalcFieldTest, UpdatingFieldDefsWhileOpenKeepsTheCalculatedArea) {
  TProbeTable& table = PlanWithCalcFields(20, 6);
  const std::int32_t withArea = table.Cursor()->BaseBufferSize + table.CalcFieldsSize();
  table.FieldDefs().SetUpdated(false);
  table.FieldDefs().Update();
  EXPECT_EQ(table.Cursor()->RecordBufferSize, withArea);
  // A bigger window allocates new buffers now; each must have room for the area.
  platform::TDataSource source(nullptr);
  source.SetDataSet(&table);
  WindowLink link(9);
  link.SetDataSource(&source);
  table.First();
  EXPECT_GE(EngineMemoryManager.GetMemSize(table.ActiveBuffer()), withArea);
  for (int i = 0; i < 20; ++i, table.Next()) {
    EXPECT_EQ(table.FieldByName("Doppelt").AsInteger(), 2 * i);
  }
  link.SetDataSource(nullptr);
  EXPECT_NO_THROW(table.Close());
}

TEST_F(CalcFieldTest, ATemporaryDatabaseDisconnectedUnderItsDatasetsSurvivesItsDisconnect) {
  Default().SetKeepConnections(false);
  CreatePlanTable("Tilgungsplan");
  TABSTable& first = NewTable("ABSTable1", "Tilgungsplan");
  TABSTable& second = NewTable("ABSTable2", "Tilgungsplan");
  first.Open();
  second.Open();
  TABSDatabase* memory = first.Database();
  ASSERT_NE(memory, nullptr);
  ASSERT_TRUE(memory->IsTemporary());
  ASSERT_FALSE(memory->KeepConnection());
  memory->SetConnected(false);
  EXPECT_FALSE(first.Active());
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(first.Database(), nullptr);
  // The component is still there, idle, until its session lets it go.
  const auto& list = Default().DatabaseList();
  ASSERT_NE(std::find(list.begin(), list.end(), memory), list.end());
  EXPECT_FALSE(memory->Connected());
  EXPECT_EQ(memory->OpenCount(), 0);
  EXPECT_TRUE(memory->DatasetList().empty());
  first.Open();
  EXPECT_EQ(first.RecordCount(), 0);
}

}  // namespace
