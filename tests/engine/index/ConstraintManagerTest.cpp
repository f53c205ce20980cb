#include "engine/index/ABSConstraintManager.h"
#include "engine/memory/ABSNativeCodes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/types/ABSVariant.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/index/BTreeTestSupport.h"
#include "tests/engine/index/ConstraintTestTable.h"

namespace {

using Image = std::vector<std::byte>;

void AddNotNull(TABSConstraintDefs& defs, const char* name, const char* field) {
  auto* c = defs.AddNotNullConstraint();
  c->SetName(name);
  c->SetTargetName(field);
}

void AddCheck(TABSConstraintDefs& defs, const char* name, const char* field, const TABSVariant* min,
              const TABSVariant* max) {
  auto* c = defs.AddCheckConstraint();
  c->SetName(name);
  c->SetTargetName(field);
  if (min) c->MinValue->Assign(*min);
  if (max) c->MaxValue->Assign(*max);
}

template <class Def>
void AddKeyed(Def* c, const char* name, const char* index, const std::vector<const char*>& fields) {
  c->SetName(name);
  c->SetTargetName(index);
  for (const char* f : fields) c->AddKeyColumn(f, -1);
}

TABSVariant Largeint(std::int64_t v) {
  TABSVariant value(stLargeint);
  value.SetAsLargeint(v);
  return value;
}

std::string WithCode(const std::string& text, int code) {
  return text + " - Native error: " + std::to_string(code);
}

// Records 1: (Id 1, Code 10), 2: (Id 2, Code 20) are stored in every case.
struct CheckCase {
  const char* what;
  std::function<void(TABSConstraintDefs&)> constraints;
  std::function<Image(const TestConstraintTable&)> image;
  bool checkKeys;
  bool isInsert;
  int code;  // 0: passes
  std::string message;
};

}  // namespace

TEST(ConstraintManagerTest, CheckCodesAndTextsWithAndWithoutRaising) {
  const TABSVariant ten = Largeint(10);
  const TABSVariant twenty = Largeint(20);
  auto pk = [](TABSConstraintDefs& d) {
    AddKeyed(d.AddPrimaryConstraint(), "PK", "PK_Id", {"Id", "Code"});
  };
  const std::vector<CheckCase> cases = {
      {"not null field is NULL", [](auto& d) { AddNotNull(d, "NN", "Name"); },
       [](auto& t) { return t.Image(5, 50); }, true, true, 30026,
       "Constraint 'NN' violated. Value in field 'Name' cannot be null"},
      {"not null is checked without key checks", [](auto& d) { AddNotNull(d, "NN", "Name"); },
       [](auto& t) { return t.Image(5, 50); }, false, true, 30026,
       "Constraint 'NN' violated. Value in field 'Name' cannot be null"},
      {"not null field has a value", [](auto& d) { AddNotNull(d, "NN", "Name"); },
       [](auto& t) { return t.Image(5, 50, "x"); }, true, true, 0, ""},
      {"primary key all NULL", pk, [](auto& t) { return t.Image({}, {}); }, true, true, 30330,
       "Constraint 'PK' violated. Value in field 'Id,Code' cannot be null"},
      {"primary key one field set goes on to the duplicate test", pk,
       [](auto& t) { return t.Image({}, 10); }, true, true, 0, ""},
      {"primary key duplicate", pk, [](auto& t) { return t.Image(1, 10); }, true, true, 30319,
       "Primary Key constraint 'PK' violated. Duplicate found."},
      {"primary key duplicate without key checks", pk, [](auto& t) { return t.Image(1, 10); },
       false, true, 0, ""},
      {"primary key all NULL without key checks", pk, [](auto& t) { return t.Image({}, {}); },
       false, true, 0, ""},
      {"unique duplicate",
       [](auto& d) { AddKeyed(d.AddUniqueConstraint(), "UQ", "U_Code", {"Code"}); },
       [](auto& t) { return t.Image(9, 20); }, true, true, 30320,
       "Constraint unique 'UQ' violated. Duplicate found."},
      {"unique free key",
       [](auto& d) { AddKeyed(d.AddUniqueConstraint(), "UQ", "U_Code", {"Code"}); },
       [](auto& t) { return t.Image(9, 21); }, true, true, 0, ""},
      {"check below the lower bound", [&](auto& d) { AddCheck(d, "CK", "Code", &ten, &twenty); },
       [](auto& t) { return t.Image(9, 9); }, true, true, 30029,
       "Constraint 'CK' violated. Value in field 'Code' cannot be lower than '10'"},
      {"check above the upper bound", [&](auto& d) { AddCheck(d, "CK", "Code", &ten, &twenty); },
       [](auto& t) { return t.Image(9, 21); }, false, true, 30030,
       "Constraint 'CK' violated. Value in field 'Code' cannot be greater than '20'"},
      {"check on the bounds", [&](auto& d) { AddCheck(d, "CK", "Code", &ten, &twenty); },
       [](auto& t) { return t.Image(9, 20); }, true, true, 0, ""},
      {"check of a NULL field", [&](auto& d) { AddCheck(d, "CK", "Code", &ten, &twenty); },
       [](auto& t) { return t.Image(9, {}); }, true, true, 0, ""},
      {"check with only an upper bound", [&](auto& d) { AddCheck(d, "CK", "Code", nullptr, &ten); },
       [](auto& t) { return t.Image(9, -5); }, true, true, 0, ""},
      {"the first failure in list order wins",
       [&](auto& d) {
         AddCheck(d, "CK", "Code", &ten, &twenty);
         AddNotNull(d, "NN", "Name");
       },
       [](auto& t) { return t.Image(9, 30); }, true, true, 30030,
       "Constraint 'CK' violated. Value in field 'Code' cannot be greater than '20'"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestConstraintTable table;
    table.Store(table.Image(1, 10, "a"));
    table.Store(table.Image(2, 20, "b"));
    TABSBaseConstraintManager manager(table);
    c.constraints(manager.MutableConstraintDefs());
    const Image image = c.image(table);
    const RecordPosition at;
    if (c.code == 0) {
      EXPECT_TRUE(manager.CheckRecordConstraints(0, image.data(), c.checkKeys, true, at, c.isInsert,
                                                 nullptr));
      EXPECT_TRUE(manager.CheckRecordConstraints(0, image.data(), c.checkKeys, false, at,
                                                 c.isInsert, nullptr));
      continue;
    }
    const EABSException e = RaisedBy([&] {
      manager.CheckRecordConstraints(0, image.data(), c.checkKeys, true, at, c.isInsert, nullptr);
    });
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_EQ(e.Message(), WithCode(c.message, c.code));
    bool result = true;
    EXPECT_NO_THROW(result = manager.CheckRecordConstraints(0, image.data(), c.checkKeys, false, at,
                                                            c.isInsert, nullptr));
    EXPECT_FALSE(result);
  }
}

TEST(ConstraintManagerTest, UpdateUniquenessUsesTheNewImage) {
  TestConstraintTable table;
  table.Store(table.Image(1, 10, "a"));
  table.Store(table.Image(2, 20, "b"));
  TABSBaseConstraintManager manager(table);
  AddKeyed(manager.MutableConstraintDefs().AddPrimaryConstraint(), "PK", "PK_Id", {"Id"});
  const Image original = table.Image(1, 10, "a");
  struct Case {
    std::int32_t newId;
    bool unique;
  } cases[] = {{1, true}, {3, true}, {2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newId);
    const Image changed = table.Image(c.newId, 10, "a");
    EXPECT_EQ(
        manager.CheckRecordConstraints(0, changed.data(), true, false, {}, false, original.data()),
        c.unique);
    EXPECT_EQ(table.LastUpdateNewImage, changed.data());
  }
}

TEST(ConstraintManagerTest, DuplicateTestIsSkippedForAnEmptyTable) {
  TestConstraintTable table;
  TABSBaseConstraintManager manager(table);
  AddKeyed(manager.MutableConstraintDefs().AddPrimaryConstraint(), "PK", "PK_Id", {"Id"});
  const Image image = table.Image(1, 1);
  EXPECT_TRUE(manager.CheckRecordConstraints(0, image.data(), true, true, {}, true, nullptr));
  EXPECT_EQ(table.UniqueCalls, 0);
  table.Store(image);
  EXPECT_FALSE(manager.CheckRecordConstraints(0, image.data(), true, false, {}, true, nullptr));
  EXPECT_EQ(table.UniqueCalls, 1);
}

TEST(ConstraintManagerTest, BindingErrors) {
  struct Case {
    const char* what;
    std::function<void(TABSConstraintDefs&)> add;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"primary key on a missing index",
       [](auto& d) { AddKeyed(d.AddPrimaryConstraint(), "PK", "Nope", {"Id"}); }, 30325,
       "Index 'Nope' not found"},
      {"primary key on a missing field",
       [](auto& d) {
         AddKeyed(d.AddPrimaryConstraint(), "PK", "PK_Id", {"Id", "Gone"});
       },
       30331, "Field 'Gone' not found"},
      {"unique on a missing index",
       [](auto& d) { AddKeyed(d.AddUniqueConstraint(), "U", "Nope", {"Code"}); }, 30326,
       "Index 'Nope' not found"},
      {"unique on a missing field",
       [](auto& d) { AddKeyed(d.AddUniqueConstraint(), "U", "U_Code", {"Gone"}); }, 30332,
       "Field 'Gone' not found"},
      {"not null on a missing field", [](auto& d) { AddNotNull(d, "NN", "Gone"); }, 30027,
       "Field 'Gone' not found"},
      {"check on a missing field", [](auto& d) { AddCheck(d, "CK", "Gone", nullptr, nullptr); },
       30027, "Field 'Gone' not found"},
      {"kind 1",
       [](auto& d) {
         auto def = std::make_unique<TABSConstraintDef>();
         def->ConstraintKind = 1;
         d.AppendDef(std::move(def));
       },
       30037, "Not implemented yet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestConstraintTable table;
    TABSBaseConstraintManager manager(table);
    AddNotNull(manager.MutableConstraintDefs(), "First", "Id");
    c.add(manager.MutableConstraintDefs());
    const EABSException e = RaisedBy([&] { manager.BindAllConstraints(); });
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_EQ(e.Message().rfind(c.message, 0), 0u) << e.Message();
    EXPECT_FALSE(manager.IsBound());
    // A check binds first and reports the same error.
    const Image image = table.Image(1, 1, "x");
    EXPECT_EQ(NativeErrorOf([&] {
                manager.CheckRecordConstraints(0, image.data(), true, true, {}, true, nullptr);
              }),
              c.code);
  }
}

TEST(ConstraintManagerTest, BindingRecordsObjectIdsAndChecksFollowMovedFields) {
  TestConstraintTable table;
  TABSBaseConstraintManager manager(table);
  auto& defs = manager.MutableConstraintDefs();
  AddKeyed(defs.AddPrimaryConstraint(), "PK", "PK_Id", {"Id", "Code"});
  AddNotNull(defs, "NN", "Name");
  manager.BindAllConstraints();
  const auto& pkDef = static_cast<const TABSConstraintDefPrimary&>(*manager.ConstraintDefs()[0]);
  EXPECT_EQ(pkDef.TargetId, 201);
  EXPECT_EQ(pkDef.KeyColumns[0].FieldId, 101);
  EXPECT_EQ(pkDef.KeyColumns[1].FieldId, 102);
  EXPECT_EQ(manager.ConstraintDefs()[1]->TargetId, 103);

  // Name moves to the front and is renamed: the check finds it by its ID.
  table.Fields().MoveDef(2, 0);
  table.Fields()[0]->SetName("Title");
  table.Fields().CalculateOffsets();
  const Image nameless = table.Image(1, 2);
  const Image named = table.Image(1, 2, "x");
  EXPECT_EQ(RaisedBy([&] {
              manager.CheckRecordConstraints(0, nameless.data(), false, true, {}, true, nullptr);
            }).Message(),
            WithCode("Constraint 'NN' violated. Value in field 'Title' cannot be null", 30026));
  EXPECT_TRUE(manager.CheckRecordConstraints(0, named.data(), false, true, {}, true, nullptr));
}

TEST(ConstraintManagerTest, FieldGoneAfterBinding) {
  struct Case {
    const char* what;
    std::function<void(TABSConstraintDefs&)> add;
    const char* removed;
    int code;
    int fieldId;
  };
  const std::vector<Case> cases = {
      {"not null", [](auto& d) { AddNotNull(d, "NN", "Name"); }, "Name", 30024, 103},
      {"check", [](auto& d) { AddCheck(d, "CK", "Code", nullptr, nullptr); }, "Code", 30028, 102},
      {"primary key", [](auto& d) { AddKeyed(d.AddPrimaryConstraint(), "PK", "PK_Id", {"Id"}); },
       "Id", 30329, 101},
      {"unique", [](auto& d) { AddKeyed(d.AddUniqueConstraint(), "U", "U_Code", {"Code"}); },
       "Code", native_code::kUniqueFieldNotFound, 102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestConstraintTable table;
    TABSBaseConstraintManager manager(table);
    c.add(manager.MutableConstraintDefs());
    manager.BindAllConstraints();
    table.Fields().DeleteDefAt(table.Fields().IndexOfName(c.removed));
    table.Fields().CalculateOffsets();
    const Image image = table.Image(1, 1, "x");
    // Raised also when the caller asked for a plain answer.
    const EABSException e = RaisedBy(
        [&] { manager.CheckRecordConstraints(0, image.data(), true, false, {}, true, nullptr); });
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_EQ(e.Message(), WithCode("Field #" + std::to_string(c.fieldId) + " not found", c.code));
  }
}

// A draw that always gives the same number.
class FixedDrawManager : public TABSBaseConstraintManager {
 public:
  using TABSBaseConstraintManager::TABSBaseConstraintManager;
  int Draws = 0;

 protected:
  std::int64_t DrawNameNumber() override {
    ++Draws;
    return 7;
  }
};

TEST(ConstraintManagerTest, NamesOfUnnamedConstraints) {
  TestConstraintTable table;
  TABSBaseConstraintManager manager(table);
  auto& defs = manager.MutableConstraintDefs();
  AddNotNull(defs, "", "Jahr");
  AddCheck(defs, "", "Code", nullptr, nullptr);
  AddNotNull(defs, "Kept", "Id");
  manager.NameUnnamedConstraints();
  EXPECT_EQ(manager.ConstraintDefs()[0]->Name(), "$C_NotNull$Tilgungsplan$Jahr");
  EXPECT_EQ(manager.ConstraintDefs()[1]->Name(), "$C_Check$Tilgungsplan$Code");
  EXPECT_EQ(manager.ConstraintDefs()[2]->Name(), "Kept");

  // A taken name gets a drawn number appended to the base.
  AddNotNull(manager.MutableConstraintDefs(), "", "jahr");
  manager.NameUnnamedConstraints();
  const std::string drawn = manager.ConstraintDefs()[3]->Name();
  const std::string base = "$C_NotNull$Tilgungsplan$jahr";
  ASSERT_GT(drawn.size(), base.size());
  EXPECT_EQ(drawn.substr(0, base.size()), base);
  const long number = std::stol(drawn.substr(base.size()));
  EXPECT_GE(number, 0);
  EXPECT_LE(number, 65534);

  AddKeyed(manager.MutableConstraintDefs().AddUniqueConstraint(), "", "U_Code", {"Code"});
  EXPECT_EQ(NativeErrorOf([&] { manager.NameUnnamedConstraints(); }), 30038);
}

TEST(ConstraintManagerTest, NamingEndsForLongTableNames) {
  // 243 characters: "$C_NotNull$" + name + "$" + field is longer than 255,
  // so both fields' names agree on the first 255 characters.
  for (std::size_t length : {243u, 250u, 300u}) {
    SCOPED_TRACE(length);
    TestConstraintTable table(std::string(length, 'T'));
    TABSBaseConstraintManager manager(table);
    for (int i = 0; i < 5; ++i) AddNotNull(manager.MutableConstraintDefs(), "", "Field");
    const auto start = std::chrono::steady_clock::now();
    manager.NameUnnamedConstraints();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::set<std::string> names;
    for (int i = 0; i < 5; ++i) {
      const std::string& name = manager.ConstraintDefs()[i]->Name();
      EXPECT_LE(name.size(), kMaxDefNameLength);
      EXPECT_EQ(name.rfind("$C_NotNull$TTT", 0), 0u);
      names.insert(name);
    }
    EXPECT_EQ(names.size(), 5u);
  }
}

TEST(ConstraintManagerTest, NamingCountsUpwardWhenDrawsKeepFailing) {
  TestConstraintTable table("T");
  FixedDrawManager manager(table);
  auto& defs = manager.MutableConstraintDefs();
  AddNotNull(defs, "$C_NotNull$T$F", "Id");
  AddNotNull(defs, "$C_NotNull$T$F7", "Id");
  AddNotNull(defs, "$C_NotNull$T$F0", "Id");
  AddNotNull(defs, "", "F");
  manager.NameUnnamedConstraints();
  EXPECT_EQ(manager.ConstraintDefs()[3]->Name(), "$C_NotNull$T$F1");
  EXPECT_EQ(manager.Draws, 65535);
}

TEST(ConstraintManagerTest, ConstraintsOfIndexes) {
  TestConstraintTable table;
  table.AddIndex("Both", 203, true, true, {"Id", "Code"});
  table.AddIndex("Plain", 204, false, false, {"Code"});
  TABSBaseConstraintManager manager(table);
  manager.BindAllConstraints();

  const TABSConstraintDef* pk = manager.AddUniqueConstraintForIndex(*table.Indexes()[2]);
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->Name(), "C_PK$Id$Code");
  EXPECT_EQ(pk->ConstraintKind, ckPrimary);
  EXPECT_EQ(pk->TargetName, "Both");
  EXPECT_EQ(pk->TargetId, 203);
  EXPECT_EQ(pk->ObjectId, 500);
  EXPECT_EQ(pk->TableId, 77);
  const auto& keys = static_cast<const TABSConstraintDefUnique*>(pk)->KeyColumns;
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].FieldId, 102);

  const TABSConstraintDef* unique = manager.AddUniqueConstraintForIndex(*table.Indexes()[1]);
  ASSERT_NE(unique, nullptr);
  EXPECT_EQ(unique->Name(), "C_Unique$Code");
  EXPECT_EQ(unique->ConstraintKind, ckUnique);
  EXPECT_EQ(unique->ObjectId, 501);
  EXPECT_EQ(manager.AddUniqueConstraintForIndex(*table.Indexes()[3]), nullptr);
  EXPECT_EQ(manager.ConstraintDefs().DefCount(), 2);

  // An index the table does not have: nothing is added.
  TABSIndexDef stranger;
  stranger.SetName("Stranger");
  stranger.Unique = true;
  EXPECT_EQ(NativeErrorOf([&] { manager.AddUniqueConstraintForIndex(stranger); }), 30326);
  EXPECT_EQ(manager.ConstraintDefs().DefCount(), 2);

  // Both added constraints check; removing one leaves the other working.
  table.Store(table.Image(1, 10));
  const Image sameCode = table.Image(2, 10);
  EXPECT_EQ(NativeErrorOf([&] {
              manager.CheckRecordConstraints(0, sameCode.data(), true, true, {}, true, nullptr);
            }),
            30320);
  manager.RemoveConstraintsForIndex(202);
  EXPECT_EQ(manager.ConstraintDefs().DefCount(), 1);
  EXPECT_TRUE(manager.CheckRecordConstraints(0, sameCode.data(), true, true, {}, true, nullptr));
  const Image sameKey = table.Image(1, 10);
  EXPECT_EQ(NativeErrorOf([&] {
              manager.CheckRecordConstraints(0, sameKey.data(), true, true, {}, true, nullptr);
            }),
            30319);
  manager.RemoveConstraintsForIndex(999);
  EXPECT_EQ(manager.ConstraintDefs().DefCount(), 1);
}

TEST(ConstraintManagerTest, LongIndexConstraintNamesAreCut) {
  TestConstraintTable table;
  const std::string longName(200, 'L');
  table.Fields().AddFieldDef(longName, dtInteger)->ObjectId = 104;
  table.Fields().AddFieldDef(longName + "2", dtInteger)->ObjectId = 105;
  table.Fields().CalculateOffsets();
  table.AddIndex("Long", 205, false, true, {longName, longName + "2"});
  TABSBaseConstraintManager manager(table);
  const TABSConstraintDef* c = manager.AddUniqueConstraintForIndex(*table.Indexes()[2]);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Name(), ("C_Unique$" + longName + "$" + longName).substr(0, 255));
}

// The uniqueness tests answered by a real B-tree on a primary index over K.
class TreeConstraintTable : public TABSConstraintTable {
 public:
  TreeConstraintTable()
      : table_({{"K", dtInteger}, {"V", dtInteger}}, 256), index_(table_, nullptr) {
    auto def = MakeIndexDef({{"K"}}, true);
    def->SetName("PK_K");
    def->Primary = true;
    index_.CreateIndexPages(TFakeIndexTable::kSession, nullptr, *def);
    indexes_.AppendDef(std::move(def));
  }
  ~TreeConstraintTable() override {
    index_.DropIndexPages(TFakeIndexTable::kSession);
    table_.Pages().CommitSessionPages(TFakeIndexTable::kSession);
  }
  Image Row(std::int32_t k, std::int32_t v) const {
    auto image = table_.NewImage();
    table_.SetInt(image, 0, k);
    table_.SetInt(image, 1, v);
    return image;
  }
  void Add(const Image& image) {
    const RecordPosition p = table_.Store(image);
    index_.InsertKey(TFakeIndexTable::kSession, image.data(), p);
    table_.Pages().CommitSessionPages(TFakeIndexTable::kSession);
  }

  const std::string& ConstraintTableName() const override { return name_; }
  std::int32_t ConstraintTableId() const override { return 1; }
  const TABSFieldDefs& ConstraintFieldDefs() const override { return table_.Fields(); }
  const TABSIndexDefs& ConstraintIndexDefs() const override { return indexes_; }
  std::int64_t ConstraintRecordCount() const override {
    return const_cast<TFakeIndexTable&>(table_).Records().RecordCount();
  }
  std::int32_t NextObjectId() override { return table_.NextObjectId(); }
  bool IsKeyUnique(std::int32_t, std::int32_t sessionId, const std::byte* image) override {
    return index_.IsKeyUnique(sessionId, image);
  }
  bool IsUpdateUnique(std::int32_t, std::int32_t sessionId, const std::byte* newImage,
                      const std::byte* originalImage) override {
    return index_.IsUpdateUnique(sessionId, newImage, originalImage);
  }

 private:
  std::string name_ = "T";
  TFakeIndexTable table_;
  TABSBTreeRecordIndex index_;
  TABSIndexDefs indexes_;
};

TEST(ConstraintManagerTest, PrimaryKeyOnARealTree) {
  TreeConstraintTable table;
  for (std::int32_t k = 0; k < 50; ++k) table.Add(table.Row(k * 2, k));
  TABSBaseConstraintManager manager(table);
  ASSERT_NE(manager.AddUniqueConstraintForIndex(*table.ConstraintIndexDefs()[0]), nullptr);
  EXPECT_EQ(manager.ConstraintDefs()[0]->Name(), "C_PK$K");
  const RecordPosition at;
  const Image fresh = table.Row(7, 0);
  const Image taken = table.Row(8, 0);
  EXPECT_TRUE(manager.CheckRecordConstraints(1, fresh.data(), true, false, at, true, nullptr));
  EXPECT_EQ(NativeErrorOf([&] {
              manager.CheckRecordConstraints(1, taken.data(), true, true, at, true, nullptr);
            }),
            30319);
  // Updating record K=10: keeping its key, moving it to a free key, and
  // moving it onto the key of another record.
  const Image original = table.Row(10, 5);
  struct Case {
    std::int32_t newKey;
    bool passes;
  } cases[] = {{10, true}, {11, true}, {12, false}, {98, false}, {99, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newKey);
    const Image changed = table.Row(c.newKey, 6);
    EXPECT_EQ(
        manager.CheckRecordConstraints(1, changed.data(), true, false, at, false, original.data()),
        c.passes);
  }
}

// The empty-list shortcut of the check must follow every way the list
// changes: a stale count of 0 would let a violating record through, a stale
// count above 0 after removal would still check a removed constraint.
TEST(ConstraintManagerTest, EmptyListShortcutFollowsEveryChangeOfTheList) {
  struct Case {
    const char* what;
    std::function<void(TestConstraintTable&, TABSBaseConstraintManager&)> change;
    bool nullNamePasses;
  };
  const std::vector<Case> cases = {
      {"added directly after a passing check",
       [](auto&, auto& m) { AddNotNull(m.MutableConstraintDefs(), "NN", "Name"); }, false},
      {"kept reference of the direct list",
       [](auto&, auto& m) {
         TABSConstraintDefs& defs = m.MutableConstraintDefs();
         AddNotNull(defs, "NN", "Name");
       },
       false},
      {"assigned",
       [](auto&, auto& m) {
         TABSConstraintDefs source;
         AddNotNull(source, "NN", "Name");
         m.AssignConstraintDefs(source);
       },
       false},
      {"assigned and then cleared by an empty assignment",
       [](auto&, auto& m) {
         TABSConstraintDefs source;
         AddNotNull(source, "NN", "Name");
         m.AssignConstraintDefs(source);
         m.AssignConstraintDefs(TABSConstraintDefs());
       },
       true},
      {"cleared directly",
       [](auto&, auto& m) {
         AddNotNull(m.MutableConstraintDefs(), "NN", "Name");
         m.MutableConstraintDefs().ClearDefs();
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestConstraintTable table;
    TABSBaseConstraintManager manager(table);
    const Image noName = table.Image(5, 50);
    ASSERT_TRUE(manager.CheckRecordConstraints(0, noName.data(), true, false, {}, true, nullptr));
    c.change(table, manager);
    EXPECT_EQ(manager.CheckRecordConstraints(0, noName.data(), true, false, {}, true, nullptr),
              c.nullNamePasses);
    // A second check (count now known) gives the same answer.
    EXPECT_EQ(manager.CheckRecordConstraints(0, noName.data(), true, false, {}, true, nullptr),
              c.nullNamePasses);
  }

  // Constraints added and removed for an index.
  TestConstraintTable table;
  TABSBaseConstraintManager manager(table);
  table.Store(table.Image(1, 10));
  const Image sameCode = table.Image(2, 10);
  ASSERT_TRUE(manager.CheckRecordConstraints(0, sameCode.data(), true, false, {}, true, nullptr));
  ASSERT_NE(manager.AddUniqueConstraintForIndex(*table.Indexes()[1]), nullptr);
  EXPECT_FALSE(manager.CheckRecordConstraints(0, sameCode.data(), true, false, {}, true, nullptr));
  manager.RemoveConstraintsForIndex(202);
  EXPECT_EQ(manager.ConstraintDefs().DefCount(), 0);
  EXPECT_TRUE(manager.CheckRecordConstraints(0, sameCode.data(), true, false, {}, true, nullptr));
}
