// Index manager tests: key maintenance through the manager against a model
// of the live records, agreement of root page numbers between the listed
// definitions, the open index objects and a cursor's copy, failure paths
// (building, and one index of several failing during key maintenance),
// temporary indexes, and a table without index definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/index/ABSIndexManager.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSRecordManager.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/index/BTreeChecker.h"
#include "tests/engine/index/BTreeTestSupport.h"

namespace {

constexpr std::int32_t S = TFakeIndexTable::kSession;
using Image = std::vector<std::byte>;

std::unique_ptr<TABSIndexDef> MakeDef(const char* name, const std::vector<TTestColumn>& columns,
                                      bool unique) {
  auto def = MakeIndexDef(columns, unique);
  def->SetName(name);
  return def;
}

// A table of three fields (Id, Grp, Name) with its index manager.
class IndexManagerTest : public ::testing::Test {
 protected:
  IndexManagerTest()
      : table_({{"Id", dtInteger}, {"Grp", dtInteger}, {"Name", dtString, 30}}, 256),
        manager_(table_, table_.Pages(), table_.Pages()) {}

  Image Row(std::int32_t id, std::int32_t grp, const std::string& name) const {
    Image image = table_.NewImage();
    table_.SetInt(image, 0, id);
    table_.SetInt(image, 1, grp);
    table_.SetText(image, 2, name);
    return image;
  }
  std::int32_t IdOf(const Image& image) const {
    return LoadLE<std::int32_t>(image.data() + table_.Fields()[0]->MemoryOffset);
  }

  // The three indexes of the model test.
  void AddThreeIndexes() {
    unique_ = manager_.AddIndex(S, &cursor_.State, *MakeDef("ById", {{"Id"}}, true));
    group_ = manager_.AddIndex(S, &cursor_.State, *MakeDef("ByGrp", {{"Grp"}}, false));
    name_ = manager_.AddIndex(S, &cursor_.State, *MakeDef("ByName", {{"Name", true, true}}, false));
  }

  // Stores a record and inserts its keys, as the table data does.
  RecordPosition Insert(Image& image) {
    const RecordPosition p = table_.Store(image);
    cursor_.Point(image, p);
    manager_.InsertKeys(S, cursor_.State);
    return p;
  }

  TABSBTreeRecordIndex& Tree(std::int32_t id) {
    return dynamic_cast<TABSBTreeRecordIndex&>(manager_.GetIndex(id));
  }
  // The entries of an index in order, after checking the tree.
  std::vector<std::int32_t> Entries(std::int32_t id) {
    std::vector<RecordPosition> order;
    EXPECT_EQ(CheckBTree(Tree(id), S, &order), "") << "index " << id;
    std::vector<std::int32_t> ids;
    for (const RecordPosition& p : order) ids.push_back(std::int32_t{p.RecordId});
    return ids;
  }
  // The listed root, the open object's root and a cursor's copy agree.
  void ExpectRootsAgree() {
    TABSIndexDefs copy;
    copy.CopyListFrom(manager_.IndexDefs());
    for (std::int32_t i = 0; i < manager_.IndexCount(); ++i) {
      const TABSIndexDef& listed = *manager_.IndexDefs()[i];
      EXPECT_EQ(copy[i]->RootPageNo, listed.RootPageNo);
      if (const TABSIndex* open = manager_.FindOpenIndex(listed.ObjectId)) {
        EXPECT_EQ(open->IndexDef()->RootPageNo, listed.RootPageNo) << listed.Name();
      }
    }
  }
  std::int32_t Stamp(std::int32_t id) const {
    return manager_.IndexDefs().FindByObjectId(id)->ChangeStamp;
  }

  TFakeIndexTable table_;
  TABSBaseIndexManager manager_;
  TTestCursor cursor_;
  std::int32_t unique_ = -1, group_ = -1, name_ = -1;
};

int Collate(const std::string& a, const std::string& b) {
  return platform::FormatSettings::User().Compare(platform::AnsiToWide(a), platform::AnsiToWide(b),
                                                  true);
}

TEST_F(IndexManagerTest, KeyMaintenanceFollowsAModelOfTheLiveRecords) {
  AddThreeIndexes();
  struct Live {
    Image Record;
    std::int32_t Id, Grp;
    std::string Name;
  };
  std::map<std::int32_t, Live> live;  // by record ID
  std::mt19937 rng(20261209);
  const char* names[] = {"alpha", "Alpha", "BETA", "beta", "gamma", "Delta", "delta", "epsilon"};
  std::int32_t nextId = 1000, changes = 0;
  const auto draw = [&](std::int32_t id) {
    return Live{{},
                id,
                static_cast<std::int32_t>(rng() % 5),
                std::string(names[rng() % 8]) + std::to_string(rng() % 3)};
  };
  for (int step = 0; step < 400; ++step) {
    const unsigned op = live.size() < 5 ? 0 : rng() % 3;
    if (op == 0) {
      Live r = draw(nextId += 1 + static_cast<std::int32_t>(rng() % 3));
      r.Record = Row(r.Id, r.Grp, r.Name);
      const RecordPosition p = Insert(r.Record);
      live[p.RecordId] = r;
    } else {
      auto it = std::next(live.begin(), static_cast<long>(rng() % live.size()));
      const RecordPosition p{it->first, 0};
      if (op == 1) {
        Live r = draw(rng() % 2 ? it->second.Id : (nextId += 2));
        r.Record = Row(r.Id, r.Grp, r.Name);
        Image old = it->second.Record;
        cursor_.Point(r.Record, p, &old);
        manager_.UpdateKeys(S, cursor_.State, 1);
        ASSERT_TRUE(table_.Records().OverwriteRecord(S, r.Record.data(), p));
        manager_.UpdateKeys(S, cursor_.State, 0);
        it->second = r;
      } else {
        // The caller's buffer holds an edit; the stored record's key goes.
        Image edited = Row(-5, 9, "zzz");
        cursor_.Point(edited, p);
        manager_.DeleteKeys(S, cursor_.State);
        RecordPosition q = p;
        ASSERT_TRUE(table_.Records().RemoveRecord(S, q));
        live.erase(it);
      }
    }
    ++changes;
    if (step % 37 == 0) manager_.CloseIndex(group_);  // reopened from the list on demand

    std::vector<std::pair<std::int32_t, const Live*>> rows;
    for (const auto& [rid, r] : live) rows.emplace_back(rid, &r);
    const auto sorted = [&](auto less) {
      auto copy = rows;
      std::stable_sort(copy.begin(), copy.end(),
                       [&](const auto& a, const auto& b) { return less(*a.second, *b.second); });
      std::vector<std::int32_t> ids;
      for (const auto& [rid, r] : copy) ids.push_back(rid);
      return ids;
    };
    ASSERT_EQ(Entries(unique_), sorted([](const Live& a, const Live& b) { return a.Id < b.Id; }))
        << "step " << step;
    ASSERT_EQ(Entries(group_), sorted([](const Live& a, const Live& b) { return a.Grp < b.Grp; }))
        << "step " << step;
    ASSERT_EQ(Entries(name_),
              sorted([](const Live& a, const Live& b) { return Collate(a.Name, b.Name) > 0; }))
        << "step " << step;
    for (std::int32_t id : {unique_, group_, name_}) ASSERT_EQ(Stamp(id), changes);
    ExpectRootsAgree();
  }
}

TEST_F(IndexManagerTest, RootNumbersAgreeAfterRebuildEmptyAndReopen) {
  for (int i = 0; i < 60; ++i) {
    Image r = Row(i, i % 4, "n" + std::to_string(i));
    table_.Store(r);
  }
  bool created = false;
  const std::int32_t temp =
      manager_.FindOrCreateIndex(S, &cursor_.State, {"Grp"}, {""}, {""}, created);
  ASSERT_TRUE(created);
  table_.Pages().CommitSessionPages(S);
  const std::int32_t firstRoot = manager_.IndexDefs().FindByObjectId(temp)->RootPageNo;

  // The table changes behind the index; the refresh rebuilds it on new pages.
  Image extra = Row(99, 1, "x");
  table_.Store(extra);
  bool rebuilt = false;
  manager_.RefreshTemporaryIndexes(S, &cursor_.State, rebuilt);
  EXPECT_TRUE(rebuilt);
  EXPECT_NE(manager_.IndexDefs().FindByObjectId(temp)->RootPageNo, firstRoot);
  ExpectRootsAgree();
  table_.Pages().CommitSessionPages(S);  // the old root is free for reuse now

  // Another index takes the freed pages; the temporary index, reopened from
  // the list, must still be whole.
  const std::int32_t other = manager_.AddIndex(S, &cursor_.State, *MakeDef("ById", {{"Id"}}, true));
  manager_.CloseIndex(temp);
  EXPECT_EQ(Entries(temp).size(), 61u);
  EXPECT_EQ(Entries(other).size(), 61u);
  ExpectRootsAgree();

  manager_.EmptyIndex(S, temp);
  EXPECT_EQ(manager_.FindOpenIndex(temp), nullptr);
  EXPECT_TRUE(Entries(temp).empty());
  ExpectRootsAgree();
}

TEST_F(IndexManagerTest, AFailedBuildLeavesNoDefinitionAndNoPage) {
  for (int i = 0; i < 150; ++i) {
    Image r = Row(i, i % 4, "n" + std::to_string(i));
    table_.Store(r);
  }
  const std::int32_t pagesBefore = table_.Pages().GetUsedPageCount();
  const int allocations = InjectAllocationFailures(
      [&] { manager_.AddIndex(S, &cursor_.State, *MakeDef("ByName", {{"Name"}}, false)); },
      {.AfterFailure =
           [&] {
             EXPECT_EQ(manager_.IndexCount(), 0);
             EXPECT_EQ(manager_.OpenIndexCount(), 0);
             table_.Pages().CommitSessionPages(S);
             EXPECT_EQ(table_.Pages().GetUsedPageCount(), pagesBefore);
           },
       .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  ASSERT_EQ(manager_.IndexCount(), 1);
  EXPECT_EQ(Entries(manager_.IndexDefs()[0]->ObjectId).size(), 150u);
}

// One of two indexes fails during key maintenance (the second has lost its
// pages behind the manager's back, so every key operation on it raises):
// the first index must be left exactly as it was, stamp included.
TEST_F(IndexManagerTest, KeyMaintenanceIsAllOrNothingAcrossIndexes) {
  struct Case {
    const char* Name;
    int Operation;  // 0 insert, 1 update phase 1, 2 update phase 0, 3 delete
  };
  for (const Case& c : {Case{"insert", 0}, Case{"update phase 1", 1}, Case{"update phase 0", 2},
                        Case{"delete", 3}}) {
    SCOPED_TRACE(c.Name);
    TFakeIndexTable table({{"Id", dtInteger}, {"Grp", dtInteger}}, 256);
    TABSBaseIndexManager manager(table, table.Pages(), table.Pages());
    TTestCursor cursor;
    const std::int32_t first = manager.AddIndex(S, &cursor.State, *MakeDef("A", {{"Id"}}, true));
    const std::int32_t second = manager.AddIndex(S, &cursor.State, *MakeDef("B", {{"Grp"}}, false));
    std::vector<Image> rows;
    for (int i = 0; i < 40; ++i) {
      Image r = table.NewImage();
      table.SetInt(r, 0, i);
      table.SetInt(r, 1, i % 3);
      rows.push_back(r);
    }
    for (Image& r : rows) {
      cursor.Point(r, table.Store(r));
      manager.InsertKeys(S, cursor.State);
    }
    const auto entries = [&] {
      std::vector<RecordPosition> order;
      EXPECT_EQ(CheckBTree(dynamic_cast<TABSBTreeRecordIndex&>(manager.GetIndex(first)), S, &order),
                "");
      return order;
    };
    // Phase 0 runs after a successful phase 1 on an intact second index.
    Image changed = rows[7];
    table.SetInt(changed, 0, 500);
    table.SetInt(changed, 1, 2);
    const RecordPosition p7{7, 0};
    if (c.Operation == 2) {
      cursor.Point(changed, p7, &rows[7]);
      manager.UpdateKeys(S, cursor.State, 1);
    }
    const std::vector<RecordPosition> before = entries();
    const std::int32_t stamp = manager.IndexDefs().FindByObjectId(first)->ChangeStamp;
    manager.GetIndex(second).DropIndexPages(S);

    Image fresh = table.NewImage();
    table.SetInt(fresh, 0, 1000);
    table.SetInt(fresh, 1, 1);
    std::int32_t code = 0;
    switch (c.Operation) {
      case 0:
        cursor.Point(fresh, table.Store(fresh));
        code = NativeErrorOf([&] { manager.InsertKeys(S, cursor.State); });
        break;
      case 1:
      case 2:
        cursor.Point(changed, p7, &rows[7]);
        code = NativeErrorOf([&] { manager.UpdateKeys(S, cursor.State, c.Operation == 1); });
        break;
      case 3:
        cursor.Point(rows[7], p7);
        code = NativeErrorOf([&] { manager.DeleteKeys(S, cursor.State); });
        break;
    }
    EXPECT_NE(code, 0);
    std::vector<RecordPosition> after = entries();
    if (c.Operation == 2) {
      // A failed phase 0 puts the old keys back: as before phase 1.
      auto expected = before;
      const auto at = std::find_if(expected.begin(), expected.end(),
                                   [](const RecordPosition& q) { return q.RecordId > 6; });
      expected.insert(at, p7);
      EXPECT_EQ(after, expected);
    } else {
      EXPECT_EQ(after, before);
    }
    EXPECT_EQ(manager.IndexDefs().FindByObjectId(first)->ChangeStamp, stamp);
  }
}

TEST_F(IndexManagerTest, InsertKeysUnderAllocationFailuresChangesNoIndex) {
  unique_ = manager_.AddIndex(S, &cursor_.State, *MakeDef("ById", {{"Id"}}, true));
  group_ = manager_.AddIndex(S, &cursor_.State, *MakeDef("ByGrp", {{"Grp"}}, false));
  std::vector<Image> rows;
  for (int i = 0; i < 30; ++i) rows.push_back(Row(i, i % 2, "r"));
  for (Image& r : rows) Insert(r);
  table_.Pages().CommitSessionPages(S);
  const std::vector<std::int32_t> byId = Entries(unique_), byGrp = Entries(group_);
  Image fresh = Row(15000, 1, "new");
  const RecordPosition p = table_.Store(fresh);
  cursor_.Point(fresh, p);
  const int allocations = InjectAllocationFailures(
      [&] {
        // A fresh session allocates its page lists on its first write.
        manager_.InsertKeys(S + 7, cursor_.State);
      },
      {.AfterFailure =
           [&] {
             table_.Pages().CommitSessionPages(S + 7);
             EXPECT_EQ(Entries(unique_), byId);
             EXPECT_EQ(Entries(group_), byGrp);
             EXPECT_EQ(Stamp(unique_), 30);
             EXPECT_EQ(Stamp(group_), 30);
           },
       .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  table_.Pages().CommitSessionPages(S + 7);
  EXPECT_EQ(Entries(group_).size(), 31u);
}

TEST_F(IndexManagerTest, ATableWithoutIndexDefinitionsKeepsNoIndexPages) {
  manager_.BuildAllIndexes(S, &cursor_.State);
  std::vector<Image> rows;
  for (int i = 0; i < 20; ++i) rows.push_back(Row(i, 0, "p"));
  for (Image& r : rows) Insert(r);
  Image changed = Row(100, 1, "q");
  cursor_.Point(changed, RecordPosition{3, 0}, &rows[3]);
  manager_.UpdateKeys(S, cursor_.State, 1);
  ASSERT_TRUE(table_.Records().OverwriteRecord(S, changed.data(), RecordPosition{3, 0}));
  manager_.UpdateKeys(S, cursor_.State, 0);
  cursor_.Point(rows[5], RecordPosition{5, 0});
  manager_.DeleteKeys(S, cursor_.State);
  manager_.EmptyAllIndexes(S);
  table_.Pages().CommitSessionPages(S);
  EXPECT_EQ(manager_.IndexCount(), 0);
  EXPECT_EQ(manager_.OpenIndexCount(), 0);
  EXPECT_EQ(table_.Pages().GetUsedPageCount(), 0);
  EXPECT_EQ(table_.Pages().LivePageCount(), 0);
}

// Hands out the GUID texts it was given, in order.
class ScriptedManager : public TABSBaseIndexManager {
 public:
  using TABSBaseIndexManager::TABSBaseIndexManager;
  std::vector<std::string> Guids;

 protected:
  std::string DrawGuidText() override {
    std::string g = Guids.front();
    Guids.erase(Guids.begin());
    return g;
  }
};

TEST_F(IndexManagerTest, TemporaryIndexNamesAreFreshAndPrefixed) {
  const std::int32_t a = manager_.CreateTemporaryIndex(S, &cursor_.State, {"Id"}, {""}, {""});
  const std::int32_t b = manager_.CreateTemporaryIndex(S, &cursor_.State, {"Id"}, {""}, {""});
  const std::string na = manager_.IndexDefs().FindByObjectId(a)->Name();
  const std::string nb = manager_.IndexDefs().FindByObjectId(b)->Name();
  EXPECT_NE(na, nb);
  for (const std::string& n : {na, nb}) {
    EXPECT_EQ(n.rfind("TEMPORARY_INDEX_{", 0), 0u) << n;
    EXPECT_EQ(n.size(), 16u + 38u) << n;
  }
  const TABSIndexDef& def = *manager_.IndexDefs().FindByObjectId(a);
  EXPECT_EQ(def.IsTemporaryIndex, 255);
  EXPECT_EQ(def.CreatorSessionId, S);

  ScriptedManager scripted(table_, table_.Pages(), table_.Pages());
  scripted.Guids = {"{A}", "{A}", "{A}", "{B}"};
  scripted.CreateTemporaryIndex(S, &cursor_.State, {"Grp"}, {""}, {""});
  const std::int32_t second = scripted.CreateTemporaryIndex(S, &cursor_.State, {"Grp"}, {""}, {""});
  EXPECT_EQ(scripted.IndexDefs().FindByObjectId(second)->Name(), "TEMPORARY_INDEX_{B}");
  EXPECT_TRUE(scripted.Guids.empty());
}

TEST_F(IndexManagerTest, RefreshRebuildsOnlyStaleTemporaryIndexesAndClearsItsFlag) {
  std::vector<Image> rows;
  for (int i = 0; i < 50; ++i) rows.push_back(Row(i, i % 5, "t"));
  for (Image& r : rows) table_.Store(r);
  const std::int32_t permanent =
      manager_.AddIndex(S, &cursor_.State, *MakeDef("ById", {{"Id"}}, true));
  bool created = false;
  const std::int32_t temp =
      manager_.FindOrCreateIndex(S, &cursor_.State, {"Grp"}, {""}, {""}, created);
  EXPECT_TRUE(created);
  EXPECT_EQ(manager_.FindOrCreateIndex(S, &cursor_.State, {"Grp"}, {""}, {""}, created), temp);
  EXPECT_FALSE(created);

  bool rebuilt = false;
  manager_.RefreshTemporaryIndexes(S, &cursor_.State, rebuilt);
  EXPECT_FALSE(rebuilt);  // current

  Image extra = Row(77, 2, "u");
  table_.Store(extra);  // behind the manager: the temporary index is stale
  const std::int32_t permanentRoot = manager_.IndexDefs().FindByObjectId(permanent)->RootPageNo;
  const int allocations = InjectAllocationFailures(
      [&] { manager_.RefreshTemporaryIndexes(S, &cursor_.State, rebuilt); },
      {.AfterFailure =
           [&] {
             EXPECT_FALSE(manager_.IsRefreshing());
             ExpectRootsAgree();
           },
       .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  EXPECT_TRUE(rebuilt);
  EXPECT_EQ(Entries(temp).size(), 51u);
  EXPECT_EQ(manager_.IndexDefs().FindByObjectId(temp)->ChangeStamp,
            table_.Records().ChangeCounter());
  EXPECT_EQ(manager_.IndexDefs().FindByObjectId(permanent)->RootPageNo, permanentRoot);
  EXPECT_EQ(Entries(permanent).size(), 50u);  // not rebuilt here
}

TEST_F(IndexManagerTest, OpeningDroppingRenamingAndPageManagers) {
  EXPECT_EQ(NativeErrorOf([&] { manager_.GetIndex(12345); }), 20018);
  EXPECT_NE(
      std::string(RaisedBy([&] { manager_.OpenIndex(12345); }).what()).find("Index not found"),
      std::string::npos);
  const std::int32_t id =
      manager_.AddIndex(S, &cursor_.State, *MakeDef("ByName", {{"Name"}}, false));
  manager_.GetIndex(id);
  table_.Fields()[2]->SetName("Title");
  manager_.RenameIndexedField("nAmE", "Title");
  EXPECT_EQ(manager_.IndexDefs().FindByObjectId(id)->Columns[0].Name, "Title");
  EXPECT_EQ(manager_.FindOpenIndex(id)->IndexDef()->Columns[0].Name, "Title");
  manager_.CloseIndex(id);  // reopens on the renamed field
  manager_.DropIndex(S, id);
  table_.Pages().CommitSessionPages(S);
  EXPECT_EQ(manager_.IndexCount(), 0);
  EXPECT_EQ(manager_.OpenIndexCount(), 0);
  EXPECT_EQ(table_.Pages().GetUsedPageCount(), 0);

  TABSMemoryPageManager permanentPages, temporaryPages;
  TABSBaseIndexManager two(table_, permanentPages, temporaryPages);
  TABSIndexDef plain, temporary;
  temporary.IsTemporaryIndex = 255;
  EXPECT_EQ(&two.GetIndexPageManager(plain), &permanentPages);
  EXPECT_EQ(&two.GetIndexPageManager(temporary), &temporaryPages);
}

TEST_F(IndexManagerTest, UpdateUniquenessUsesTheNewImageAndWholeValues) {
  const std::int32_t id =
      manager_.AddIndex(S, &cursor_.State, *MakeDef("ByName", {{"Name", false, false, 5}}, true));
  Image a = Row(1, 0, "Customer A"), b = Row(2, 0, "Customer B");
  Insert(a);
  Insert(b);
  Image bToC = Row(2, 0, "Customer C"), bToA = Row(2, 0, "Customer A");
  EXPECT_TRUE(manager_.IsRecordKeyUnique(S, id, bToC.data(), b.data()));
  EXPECT_FALSE(manager_.IsRecordKeyUnique(S, id, bToA.data(), b.data()));
  EXPECT_TRUE(manager_.IsRecordKeyUnique(S, id, b.data(), b.data()));
  EXPECT_FALSE(manager_.IsRecordKeyUnique(S, id, a.data(), nullptr));
}

TEST_F(IndexManagerTest, NavigateByIndexWalksIndexOrderAndSeeksPastAGoneRecord) {
  group_ = manager_.AddIndex(S, &cursor_.State, *MakeDef("ByGrp", {{"Grp"}}, false));
  std::vector<Image> rows;
  for (int i = 0; i < 12; ++i) rows.push_back(Row(i, (i * 7) % 12, "w"));
  for (Image& r : rows) Insert(r);
  Image buffer = table_.NewImage();
  NavigationRequest request;
  request.IndexId = group_;
  request.Direction = FetchMode::Next;
  request.BeforeFirst = true;
  request.RecordBuffer = buffer.data();
  std::vector<std::int32_t> walked;
  for (;;) {
    manager_.NavigateByIndex(S, request, table_.Records().ChangeCounter(), nullptr);
    if (request.Result != FetchResult::Found) break;
    walked.push_back(std::int32_t{request.Position.RecordId});
    request.BeforeFirst = false;
  }
  EXPECT_EQ(walked, Entries(group_));

  // Record 1 (Grp 7) goes; a step from it lands on the record after it.
  cursor_.Point(rows[1], RecordPosition{1, 0});
  manager_.DeleteKeys(S, cursor_.State);
  RecordPosition gone{1, 0};
  ASSERT_TRUE(table_.Records().RemoveRecord(S, gone));
  buffer = rows[1];
  request = NavigationRequest{};
  request.IndexId = group_;
  request.Direction = FetchMode::Next;
  request.Position = RecordPosition{1, 0};
  request.RecordBuffer = buffer.data();
  manager_.NavigateByIndex(S, request, table_.Records().ChangeCounter(), nullptr);
  ASSERT_EQ(request.Result, FetchResult::Found);
  EXPECT_EQ(request.Position.RecordId, 8);  // Grp 8
}

}  // namespace
