#include "engine/schema/ABSMetaDefs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/RaisedError.h"

namespace {

using Strings = std::vector<std::string>;

void AddPlanFields(TABSFieldDefs& defs) {
  for (const char* name : {"Jahr", "Monat", "Tag"}) defs.AddFieldDef(name, dtInteger);
  for (const char* name : {"Darlehen", "Tilgung", "Zins"}) defs.AddFieldDef(name, dtCurrency);
}

TEST(FieldDefsTest, PlanTableLayout) {
  TABSFieldDefs defs;
  AddPlanFields(defs);
  defs.CalculateOffsets();
  const std::int32_t expected[] = {1, 5, 9, 13, 21, 29};
  for (std::int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(defs[i]->MemoryOffset, expected[i]) << i;
    EXPECT_EQ(defs[i]->RecordOffset, expected[i]) << i;
  }
  EXPECT_EQ(defs[0]->StorageType, stInteger);
  EXPECT_EQ(defs[0]->RecordWidth, 4);
  EXPECT_EQ(defs[3]->StorageType, stCurrency);
  EXPECT_EQ(defs[3]->ValueSize, 8);
  EXPECT_EQ(defs.MemoryRecordSize(), 37);
  EXPECT_EQ(defs.StoredRecordSize(), 37);
}

TEST(FieldDefsTest, NullBitmapGrowsPastEightFields) {
  TABSFieldDefs defs;
  for (int i = 0; i < 8; ++i) defs.AddFieldDef("F" + std::to_string(i), dtSmallint);
  defs.CalculateOffsets();
  EXPECT_EQ(defs[0]->MemoryOffset, 1);
  EXPECT_EQ(defs.MemoryRecordSize(), 1 + 8 * 2);

  defs.AddFieldDef("F8", dtSmallint);
  defs.CalculateOffsets();
  EXPECT_EQ(defs.NullBitmapSize(), 2);
  EXPECT_EQ(defs[0]->MemoryOffset, 2);
  EXPECT_EQ(defs[8]->MemoryOffset, 2 + 8 * 2);
  EXPECT_EQ(defs.MemoryRecordSize(), 2 + 9 * 2);
}

TEST(FieldDefsTest, BlobAndStringWidths) {
  TABSFieldDefs defs;
  defs.AddFieldDef("Id", dtInteger);
  TABSFieldDef* memo = defs.AddFieldDef("Text", dtMemo);
  EXPECT_EQ(memo->ValueSize, 10);
  EXPECT_EQ(memo->RecordWidth, 6);
  defs.CalculateOffsets();
  EXPECT_EQ(memo->MemoryOffset, 5);
  EXPECT_EQ(memo->RecordOffset, 5);
  EXPECT_EQ(defs.MemoryRecordSize(), 15);
  EXPECT_EQ(defs.StoredRecordSize(), 11);

  // A BLOB before another field shifts the two layouts apart.
  TABSFieldDefs shifted;
  shifted.AddFieldDef("Pic", dtBlob);
  TABSFieldDef* after = shifted.AddFieldDef("Name", dtString, 20);
  shifted.CalculateOffsets();
  EXPECT_EQ(after->ValueSize, 21);
  EXPECT_EQ(after->MemoryOffset, 11);
  EXPECT_EQ(after->RecordOffset, 7);
}

TEST(FieldDefsTest, NewFieldDefaults) {
  TABSFieldDef def;
  EXPECT_EQ(def.ObjectId, -1);
  EXPECT_EQ(def.DeclaredType, dtNone);
  EXPECT_EQ(def.StorageType, stNone);
  EXPECT_EQ(def.Increment, 1);
  EXPECT_EQ(def.InitialValue, 0);
  EXPECT_EQ(def.MinValue, 0);
  EXPECT_EQ(def.MaxValue, INT64_C(9223372036854775807));
  EXPECT_FALSE(def.Cycled);
  EXPECT_EQ(def.BlobBlockSize, 102400);
  EXPECT_FALSE(def.HasDefaultValue());
  EXPECT_EQ(def.DefaultExpression, nullptr);
}

TEST(FieldDefsTest, UnsupportedTypeLeavesDefinitionUnchanged) {
  TABSFieldDef def;
  def.SetFieldType(dtInteger, 0);
  const auto e = RaisedBy([&] { def.SetFieldType(static_cast<TABSDeclaredType>(99), 0); });
  EXPECT_EQ(e.NativeError(), 30007);
  EXPECT_STREQ(e.what(), "Unsupported data type 'Unknown' - Native error: 30007");
  EXPECT_EQ(RaisedBy([&] { def.SetFieldType(dtNone, 0); }).NativeError(), 30007);
  // A size the type layer refuses fails before anything changes.
  EXPECT_NE(RaisedBy([&] { def.SetFieldType(dtString, INT32_MAX); }).NativeError(), 0);
  EXPECT_EQ(def.DeclaredType, dtInteger);
  EXPECT_EQ(def.ValueSize, 4);

  TABSFieldDefs defs;
  RaisedBy([&] { defs.AddFieldDef("Bad", dtNone); });
  EXPECT_EQ(defs.DefCount(), 0);
}

TEST(FieldDefsTest, OversizedLayoutIsRefusedWithoutChangingOffsets) {
  TABSFieldDefs defs;
  for (int i = 0; i < 3; ++i) defs.AddFieldDef("S" + std::to_string(i), dtString, 1000000000);
  defs[0]->MemoryOffset = 77;
  EXPECT_EQ(RaisedBy([&] { defs.CalculateOffsets(); }).NativeError(), 30486);
  EXPECT_EQ(defs[0]->MemoryOffset, 77);
  EXPECT_EQ(RaisedBy([&] { defs.MemoryRecordSize(); }).NativeError(), 30486);
  EXPECT_EQ(RaisedBy([&] { defs.StoredRecordSize(); }).NativeError(), 30486);
}

TEST(DefListTest, NamesAreFoundInAnyCaseAndKeptTo255Characters) {
  TABSFieldDefs defs;
  AddPlanFields(defs);
  EXPECT_EQ(defs.IndexOfName("Tilgung"), 4);
  EXPECT_EQ(defs.IndexOfName("TILGUNG"), 4);
  EXPECT_EQ(defs.IndexOfName("tilgung"), 4);
  EXPECT_EQ(defs.FindByName("zInS"), defs[5]);
  EXPECT_EQ(defs.IndexOfName("Tilgun"), -1);
  EXPECT_EQ(defs.FindDefByName("Rate"), nullptr);
  // Letters beyond ASCII are compared after the locale's upper-casing
  // ("\xE4" and "\xC4" are a-umlaut and A-umlaut in the engine's 8-bit text).
  defs.AddFieldDef("\xE4nderung", dtInteger);
  EXPECT_EQ(defs.IndexOfName("\xC4NDERUNG"), 6);

  defs[2]->ObjectId = 42;
  EXPECT_EQ(defs.IndexOfObjectId(42), 2);
  EXPECT_EQ(defs.FindByObjectId(42), defs[2]);
  EXPECT_EQ(defs.FindDefByObjectId(43), nullptr);

  TABSIndexDefs indexes;
  TABSIndexDef* def = indexes.AddIndexDef(std::string(300, 'x'));
  EXPECT_EQ(def->Name(), std::string(255, 'x'));
  // Found by the name it was given, though only 255 characters are kept.
  EXPECT_EQ(indexes.FindByName(std::string(300, 'x')), def);
  EXPECT_EQ(indexes.FindByName(std::string(254, 'x')), nullptr);
}

TEST(DefListTest, CopyListFromIsDeepAndRefusesDuplicateNames) {
  auto source = std::make_unique<TABSFieldDefs>();
  AddPlanFields(*source);
  source->CalculateOffsets();
  (*source)[1]->ObjectId = 7;
  (*source)[1]->Increment = 5;
  (*source)[1]->PhysicalFieldNo = 3;
  (*source)[4]->DefaultValue->SetAsCurrency(12.5);

  TABSFieldDefs copy;
  copy.AddFieldDef("Old", dtInteger);
  copy.CopyListFrom(*source);
  source.reset();  // the copy must not depend on the original
  ASSERT_EQ(copy.DefCount(), 6);
  EXPECT_EQ(copy[1]->Name(), "Monat");
  EXPECT_EQ(copy[1]->ObjectId, 7);
  EXPECT_EQ(copy[1]->Increment, 5);
  EXPECT_EQ(copy[1]->PhysicalFieldNo, 0);  // not copied
  EXPECT_EQ(copy[5]->MemoryOffset, 29);
  ASSERT_TRUE(copy[4]->HasDefaultValue());
  EXPECT_EQ(copy[4]->DefaultValue->GetAsCurrency(), 12.5);
  EXPECT_FALSE(copy[3]->HasDefaultValue());
  EXPECT_EQ(copy[4]->DefaultExpression, nullptr);
  EXPECT_EQ(copy.MemoryRecordSize(), 37);

  TABSFieldDefs twins;
  twins.AddFieldDef("Jahr", dtInteger);
  twins.AddFieldDef("Betrag", dtCurrency);
  twins.AddFieldDef("JAHR", dtInteger);
  const auto e = RaisedBy([&] { copy.CopyListFrom(twins); });
  EXPECT_EQ(e.NativeError(), 10424);
  EXPECT_STREQ(e.what(), "Duplicate field name JAHR - Native error: 10424");
  // What was copied before the duplicate stays.
  ASSERT_EQ(copy.DefCount(), 2);
  EXPECT_EQ(copy[1]->Name(), "Betrag");

  copy.CopyListFrom(copy);  // onto itself: nothing lost
  EXPECT_EQ(copy.DefCount(), 2);
}

TEST(DefListTest, CopyListFromThatRunsOutOfMemoryLeavesNoBlankDefinition) {
  TABSFieldDefs source;
  source.AddFieldDef("Jahr", dtInteger);
  source.AddFieldDef("Name", dtString, 200)->DefaultValue->SetAsString(std::string(150, 'n'));
  TABSConstraintDefs checks;
  checks.AddNotNullConstraint()->SetName("NN");
  checks.AddCheckConstraint()->MaxValue->SetAsString(std::string(150, 'm'));

  TABSFieldDefs copy;
  TABSConstraintDefs copiedChecks;
  EngineMemoryManager.SetMemoryLimit(EngineMemoryManager.AllocatedSize() + 100);
  const std::int32_t fieldError = NativeErrorOf([&] { copy.CopyListFrom(source); });
  const std::int32_t checkError = NativeErrorOf([&] { copiedChecks.CopyListFrom(checks); });
  EngineMemoryManager.SetMemoryLimit(0);
  EXPECT_NE(fieldError, 0);
  EXPECT_NE(checkError, 0);
  ASSERT_EQ(copy.DefCount(), 1);
  EXPECT_EQ(copy[0]->Name(), "Jahr");
  ASSERT_EQ(copiedChecks.DefCount(), 1);
  EXPECT_EQ(copiedChecks[0]->Name(), "NN");
}

TEST(DefListTest, CopyFromKeepsTargetPhysicalFieldNo) {
  TABSFieldDef source;
  source.SetName("Zins");
  source.SetFieldType(dtCurrency, 0);
  source.PhysicalFieldNo = 9;
  source.Cycled = true;
  TABSFieldDef target;
  target.PhysicalFieldNo = 2;
  target.CopyFrom(source);
  EXPECT_EQ(target.PhysicalFieldNo, 2);
  EXPECT_EQ(target.Name(), "Zins");
  EXPECT_EQ(target.StorageType, stCurrency);
  EXPECT_TRUE(target.Cycled);
  EXPECT_NE(target.DefaultValue.get(), source.DefaultValue.get());
}

TEST(DefListTest, PositionsAndOwnership) {
  TABSIndexDefs defs;
  defs.AddIndexDef("A");
  defs.AddIndexDef("B");
  defs.AddIndexDef("C");
  defs.MoveDef(0, 2);
  EXPECT_EQ(defs[0]->Name(), "B");
  EXPECT_EQ(defs[2]->Name(), "A");
  defs.DeleteDefAt(1);
  EXPECT_EQ(defs.DefCount(), 2);
  EXPECT_EQ(defs[1]->Name(), "A");

  auto replacement = std::make_unique<TABSIndexDef>();
  replacement->SetName("R");
  defs.SetIndexDef(0, std::move(replacement));
  EXPECT_EQ(defs.GetIndexDef(0)->Name(), "R");
  EXPECT_EQ(RaisedBy([&] { defs.SetIndexDef(0, nullptr); }).NativeError(), 30488);

  auto inserted = std::make_unique<TABSIndexDef>();
  inserted->SetName("I");
  defs.InsertDefAt(2, std::move(inserted));
  EXPECT_EQ(defs[2]->Name(), "I");

  for (auto bad : {-1, 3}) {
    const auto e = RaisedBy([&] { defs.DeleteDefAt(bad); });
    EXPECT_EQ(e.NativeError(), 30484);
  }
  EXPECT_EQ(RaisedBy([&] { defs.MoveDef(0, 3); }).NativeError(), 30484);
  EXPECT_EQ(RaisedBy([&] { defs.InsertDefAt(4, std::make_unique<TABSIndexDef>()); }).NativeError(),
            30484);
  // A list holds only definitions of its own class.
  EXPECT_EQ(RaisedBy([&] { defs.AppendDef(std::make_unique<TABSFieldDef>()); }).NativeError(),
            30485);
  EXPECT_EQ(RaisedBy([&] { defs.AppendDef(nullptr); }).NativeError(), 30485);
  EXPECT_EQ(defs.DefCount(), 3);
  defs.ClearDefs();
  EXPECT_EQ(defs.DefCount(), 0);
}

TEST(IndexDefsTest, SetColumnsFromLists) {
  TABSIndexDef def;
  def.SetColumnsFromLists({"Jahr", "Monat", "Tag"}, {"DESC", "desc", "ASC"},
                          {"NO_CASE", "CASE", "no_case"});
  ASSERT_EQ(def.ColumnCount(), 3);
  EXPECT_TRUE(def.Columns[0].Descending);
  EXPECT_FALSE(def.Columns[1].Descending);  // only the exact text counts
  EXPECT_TRUE(def.Columns[0].CaseInsensitive);
  EXPECT_FALSE(def.Columns[2].CaseInsensitive);
  EXPECT_EQ(def.Columns[2].Name, "Tag");
  EXPECT_EQ(def.Columns[2].IndexedLength, 20);

  auto e = RaisedBy([&] { def.SetColumnsFromLists({"A", "B"}, {"ASC"}, {"CASE"}); });
  EXPECT_EQ(e.NativeError(), 10278);
  EXPECT_STREQ(e.what(), "Error - different list lengths. L1 = 2, L2 = 1 - Native error: 10278");
  e = RaisedBy([&] { def.SetColumnsFromLists({"A", "B"}, {"ASC", "ASC"}, {}); });
  EXPECT_EQ(e.NativeError(), 10279);
  EXPECT_EQ(def.ColumnCount(), 3);  // unchanged by the refused calls

  def.SetColumnCount(5);
  EXPECT_EQ(def.Columns[4].IndexedLength, 20);
  def.SetColumnCount(1);
  EXPECT_EQ(def.ColumnCount(), 1);
}

class FindIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fields.AddFieldDef("Jahr", dtInteger);
    fields.AddFieldDef("Name", dtString, 30);
    TABSIndexDef* byName = indexes.AddIndexDef("ByName");
    byName->ObjectId = 10;
    byName->SetColumnsFromLists({"Name"}, {"ASC"}, {"NO_CASE"});
    TABSIndexDef* temp = indexes.AddIndexDef("Temp");
    temp->ObjectId = 11;
    temp->IsTemporaryIndex = 255;
    temp->CreatorSessionId = 3;
    temp->SetColumnsFromLists({"Jahr", "Name"}, {"DESC", "ASC"}, {"CASE", "CASE"});
    TABSIndexDef* byYear = indexes.AddIndexDef("ByYear");
    byYear->ObjectId = 12;
    byYear->SetColumnsFromLists({"JAHR", "Name"}, {"DESC", "ASC"}, {"CASE", "CASE"});
  }
  std::int32_t Find(Strings names, Strings directions, Strings cases, std::int32_t session = 1) {
    return indexes.FindIndexForFieldLists(&names, &directions, &fields, session, &cases);
  }

  TABSFieldDefs fields;
  TABSIndexDefs indexes;
};

TEST_F(FindIndexTest, MatchesLeadingColumns) {
  // A descending first column, with further columns in the index.
  EXPECT_EQ(Find({"jahr"}, {"DESC"}, {"CASE"}), 12);
  EXPECT_EQ(Find({"Jahr"}, {"ASC"}, {"CASE"}), -1);
  EXPECT_EQ(Find({"Jahr"}, {""}, {""}), 12);  // other texts require nothing
  // A temporary index serves only the session that built it.
  EXPECT_EQ(Find({"Jahr"}, {"DESC"}, {"CASE"}, 3), 11);
  // "CASE" asks for a case-sensitive column of a text field only; "NO_CASE"
  // asks for a case-insensitive column of any field.
  EXPECT_EQ(Find({"Name"}, {"ASC"}, {"NO_CASE"}), 10);
  EXPECT_EQ(Find({"Name"}, {"ASC"}, {"CASE"}), -1);
  EXPECT_EQ(Find({"Jahr"}, {"DESC"}, {"NO_CASE"}), -1);
  TABSIndexDef* noCaseYear = indexes.AddIndexDef("NoCaseYear");
  noCaseYear->ObjectId = 13;
  noCaseYear->SetColumnsFromLists({"Jahr"}, {"DESC"}, {"NO_CASE"});
  EXPECT_EQ(Find({"Jahr"}, {"DESC"}, {"NO_CASE"}), 13);
  EXPECT_EQ(Find({"Jahr"}, {"DESC"}, {"CASE"}), 12);
  EXPECT_EQ(Find({"Jahr", "Name"}, {"DESC", "ASC"}, {"", "CASE"}), 12);
  EXPECT_EQ(Find({"Name", "Jahr"}, {"", ""}, {"", ""}), -1);  // fewer columns
  Strings names{"Name"}, directions{"ASC"}, cases{"NO_CASE"};
  EXPECT_TRUE(indexes.HasIndexForFieldLists(&names, &directions, &fields, 1, &cases));
}

TEST_F(FindIndexTest, RefusesMissingOrMismatchedLists) {
  Strings one{"Jahr"};
  Strings none;
  EXPECT_EQ(RaisedBy([&] {
              indexes.FindIndexForFieldLists(nullptr, &one, &fields, 1, &one);
            }).NativeError(),
            10389);
  EXPECT_EQ(RaisedBy([&] {
              indexes.FindIndexForFieldLists(&one, nullptr, &fields, 1, &one);
            }).NativeError(),
            10390);
  EXPECT_EQ(RaisedBy([&] {
              indexes.FindIndexForFieldLists(&one, &one, &fields, 1, nullptr);
            }).NativeError(),
            10391);
  EXPECT_EQ(RaisedBy([&] {
              indexes.FindIndexForFieldLists(&one, &none, &fields, 1, &one);
            }).NativeError(),
            10276);
  EXPECT_EQ(RaisedBy([&] {
              indexes.FindIndexForFieldLists(&one, &one, &fields, 1, &none);
            }).NativeError(),
            10277);
  const auto e = RaisedBy([&] { Find({"Rate"}, {"ASC"}, {"CASE"}); });
  EXPECT_EQ(e.NativeError(), 30487);
}

TEST(ConstraintDefsTest, CopyByKind) {
  TABSConstraintDefs source;
  TABSConstraintDefPrimary* primary = source.AddPrimaryConstraint();
  primary->SetName("PK");
  primary->AddKeyColumn("Jahr", 4);
  source.AddUniqueConstraint()->SetName("UQ");
  TABSConstraintDefNotNull* notNull = source.AddNotNullConstraint();
  notNull->SetName("NN");
  notNull->SetTargetName("Zins");
  notNull->TargetId = 9;
  TABSConstraintDefCheck* bounds = source.AddCheckConstraint();
  bounds->SetName("NN");  // names may repeat
  bounds->MaxValue->SetAsInteger(99);
  // Names assigned directly past their limit are kept to 255 characters in
  // the copies.
  bounds->TableName = std::string(300, 't');
  bounds->TargetName = std::string(256, 'f');
  primary->KeyColumns.push_back({std::string(400, 'k'), 5});

  TABSConstraintDefs copy;
  copy.CopyListFrom(source);
  source.ClearDefs();  // the copies own their own columns and bounds
  ASSERT_EQ(copy.DefCount(), 4);
  auto* copiedPrimary = dynamic_cast<TABSConstraintDefPrimary*>(copy[0]);
  ASSERT_NE(copiedPrimary, nullptr);
  EXPECT_EQ(copiedPrimary->ConstraintKind, ckPrimary);
  ASSERT_EQ(copiedPrimary->KeyColumns.size(), 2u);
  EXPECT_EQ(copiedPrimary->KeyColumns[0].FieldName, "Jahr");
  EXPECT_EQ(copiedPrimary->KeyColumns[0].FieldId, 4);
  EXPECT_NE(dynamic_cast<TABSConstraintDefUnique*>(copy[1]), nullptr);
  EXPECT_EQ(dynamic_cast<TABSConstraintDefPrimary*>(copy[1]), nullptr);
  auto* copiedNotNull = dynamic_cast<TABSConstraintDefNotNull*>(copy[2]);
  ASSERT_NE(copiedNotNull, nullptr);
  EXPECT_EQ(copiedNotNull->TargetName, "Zins");
  EXPECT_EQ(copiedNotNull->TargetId, 9);
  auto* check = dynamic_cast<TABSConstraintDefCheck*>(copy[3]);
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check->ConstraintKind, ckCheck);
  EXPECT_TRUE(check->MinValue->IsNull());
  EXPECT_EQ(check->MaxValue->GetAsInteger(), 99);
  EXPECT_EQ(check->TableName, std::string(255, 't'));
  EXPECT_EQ(check->TargetName, std::string(255, 'f'));
  EXPECT_EQ(copiedPrimary->KeyColumns[1].FieldName, std::string(255, 'k'));
}

TEST(ConstraintDefsTest, UnknownKindAndMissingCreator) {
  TABSConstraintDefs source;
  source.AddNotNullConstraint()->SetName("First");
  source.AddNotNullConstraint()->ConstraintKind = 1;
  TABSConstraintDefs copy;
  const auto e = RaisedBy([&] { copy.CopyListFrom(source); });
  EXPECT_EQ(e.NativeError(), 30035);
  EXPECT_STREQ(e.what(), "Not implemented yet - Native error: 30035");
  ASSERT_EQ(copy.DefCount(), 1);
  EXPECT_EQ(copy[0]->Name(), "First");

  source[1]->ConstraintKind = 5;
  EXPECT_EQ(RaisedBy([&] { copy.CopyListFrom(source); }).NativeError(), 30035);

  const auto missing = RaisedBy([&] { copy.InternalAddCreated(); });
  EXPECT_EQ(missing.NativeError(), 30339);
  EXPECT_STREQ(missing.what(),
               "The method 'InternalAddCreated' not overrided in class 'TABSConstraintDefs' - "
               "Native error: 30339");
}

}  // namespace
