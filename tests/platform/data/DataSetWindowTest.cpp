// The buffer window against a reference array, the cost of its operations
// in record fetches, and the order in which the framework calls the hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/data/DataSource.h"
#include "tests/platform/data/VectorDataSet.h"

namespace platform::test {
namespace {

std::vector<TVectorColumn> KeySchema() {
  return {{"Key", ftInteger, 0}, {"Amount", ftCurrency, 0}};
}

// The expected position of the dataset: the records' keys in order, the
// current record's index (-1 when empty) and the BOF/EOF flags.
struct Reference {
  std::vector<int> keys;
  int cur = -1;
  bool bof = true;
  bool eof = true;

  int n() const { return static_cast<int>(keys.size()); }
  void Moved() {
    bof = eof = n() == 0;
    if (n() == 0) cur = -1;
  }
};

class WindowModel {
 public:
  WindowModel(int window, int initialRows, unsigned seed, bool versioned = false)
      : ds_(KeySchema()), link_(window), window_(window), rng_(seed) {
    ds_.versioned = versioned;
    source_.SetDataSet(&ds_);
    link_.SetDataSource(&source_);
    extra_.SetDataSource(&source_);
    for (int i = 0; i < initialRows; ++i) AddExternal();
    ds_.Open();
    ref_.cur = ref_.n() > 0 ? 0 : -1;
    ref_.bof = true;
    ref_.eof = ref_.n() == 0;
  }

  void AddExternal() {
    ds_.AddStoredRow({nextKey_});
    ref_.keys.push_back(nextKey_++);
  }

  // Appends a record with the next key and posts it.
  void AppendAndPost() {
    ds_.Append();
    ds_.FieldByName("Key").SetAsInteger(nextKey_);
    ds_.Post();
    ref_.keys.push_back(nextKey_++);
    ref_.cur = ref_.n() - 1;
    ref_.bof = ref_.eof = false;
  }

  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::string Step() {
    int n = ref_.n();
    switch (Rand(0, 15)) {
      case 0:
        ds_.First();
        ref_.cur = n > 0 ? 0 : -1;
        ref_.bof = true;
        ref_.eof = n == 0;
        return "First";
      case 1:
        ds_.Last();
        ref_.cur = n - 1;
        ref_.eof = true;
        ref_.bof = n == 0;
        return "Last";
      case 2:
      case 3: {
        int k = Rand(-2 * window_ - 3, 2 * window_ + 3);
        int moved = ds_.MoveBy(k);
        int expected = 0;
        if (k != 0) {
          ref_.bof = ref_.eof = false;
          int target = ref_.cur + k;
          if (target > n - 1) {
            target = n - 1;
            ref_.eof = true;
          }
          if (target < 0) {
            target = n > 0 ? 0 : -1;
            ref_.bof = true;
          }
          expected = n > 0 ? target - ref_.cur : 0;
          ref_.cur = target;
          if (n == 0) ref_.bof = ref_.eof = true;
        }
        EXPECT_EQ(moved, expected) << "MoveBy(" << k << ")";
        return "MoveBy(" + std::to_string(k) + ")";
      }
      case 4: {
        int r = Rand(-1, n + 2);
        ds_.SetRecNo(r);
        int wanted = std::max(r, 1);
        if (n == 0 || wanted != ref_.cur + 1) {
          ref_.cur = n == 0 ? -1 : std::clamp(wanted - 1, 0, n - 1);
          ref_.bof = ref_.eof = false;
          ref_.Moved();
        }
        return "RecNo:=" + std::to_string(r);
      }
      case 5: {
        AppendAndPost();
        return "Append+Post";
      }
      case 6: {
        ds_.Append();
        ds_.Cancel();
        ref_.cur = n - 1;
        ref_.bof = ref_.eof = false;
        ref_.Moved();
        return "Append+Cancel";
      }
      case 7: {
        ds_.Insert();
        ds_.FieldByName("Key").SetAsInteger(nextKey_);
        ds_.Post();
        int at = std::max(ref_.cur, 0);
        ref_.keys.insert(ref_.keys.begin() + at, nextKey_++);
        ref_.cur = at;
        ref_.bof = ref_.eof = false;
        return "Insert+Post";
      }
      case 8: {
        ds_.Insert();
        ds_.Cancel();
        ref_.bof = ref_.eof = false;
        ref_.Moved();
        return "Insert+Cancel";
      }
      case 9: {
        if (n == 0) return "skip";
        ds_.Delete();
        ref_.keys.erase(ref_.keys.begin() + ref_.cur);
        if (ref_.cur > ref_.n() - 1) ref_.cur = ref_.n() - 1;
        ref_.bof = ref_.eof = false;
        ref_.Moved();
        return "Delete";
      }
      case 10: {
        int added = Rand(0, 2);
        for (int i = 0; i < added; ++i) AddExternal();
        ds_.Refresh();
        if (ref_.cur < 0 && ref_.n() > 0) ref_.cur = 0;  // an empty window fills from the start
        ref_.bof = ref_.eof = false;
        ref_.Moved();
        return "Refresh(+" + std::to_string(added) + ")";
      }
      case 11: {
        // Appending and then moving posts the new record first.
        ds_.Append();
        ds_.FieldByName("Key").SetAsInteger(nextKey_);
        ref_.keys.push_back(nextKey_++);
        ref_.cur = ref_.n() - 1;
        int moved = ds_.MoveBy(-1);
        EXPECT_EQ(moved, ref_.n() > 1 ? -1 : 0);
        ref_.bof = ref_.n() == 1;
        ref_.eof = false;
        if (ref_.n() > 1) --ref_.cur;
        return "Append+MoveBy(-1)";
      }
      case 12: {
        ds_.Close();
        ds_.Open();
        ref_.cur = ref_.n() > 0 ? 0 : -1;
        ref_.bof = true;
        ref_.eof = ref_.n() == 0;
        return "Reopen";
      }
      case 14: {
        // A second control of another size: the window follows the larger
        // request, and each link keeps its own view on it.
        int rows = Rand(1, 9);
        extra_.SetBufferCount(rows);
        return "second link rows=" + std::to_string(rows);
      }
      case 15: {
        // Another writer changes a stored row; the next append shows it.
        if (n > 0) {
          const int at = Rand(std::max(0, n - window_), n - 1);
          ds_.ChangeStoredRow(at, nextKey_);
          ref_.keys[static_cast<std::size_t>(at)] = nextKey_++;
        }
        AppendAndPost();
        return "external change+Append+Post";
      }
      default: {
        if (n == 0) return "skip";
        TBookmark mark = ds_.GetBookmark();
        int saved = ref_.cur;
        ds_.MoveBy(Rand(-3 * window_, 3 * window_));
        ds_.GotoBookmark(mark);
        ref_.cur = saved;
        ref_.bof = ref_.eof = false;
        return "Bookmark";
      }
    }
  }

  void Check(const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(ds_.Active());
    EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
    int n = ref_.n();
    EXPECT_EQ(ds_.RecordCount(), n);
    EXPECT_EQ(ds_.RecNo(), n > 0 ? ref_.cur + 1 : -1);
    EXPECT_EQ(ds_.Bof(), ref_.bof);
    EXPECT_EQ(ds_.Eof(), ref_.eof);
    const int w = std::max(window_, extra_.BufferCount());
    EXPECT_EQ(ds_.BufferCount(), w);
    EXPECT_EQ(ds_.liveBuffers, w + 2);
    if (n == 0) {
      EXPECT_EQ(link_.RecordCount(), 0);
      return;
    }
    EXPECT_EQ(ds_.FieldByName("Key").AsInteger(), ref_.keys[static_cast<std::size_t>(ref_.cur)]);
    CheckView(link_, "first link");
    CheckView(extra_, "second link");
  }

  // The link sees min(its rows, records) consecutive records with the
  // current one among them.
  void CheckView(TCountingLink& link, const char* which) {
    SCOPED_TRACE(which);
    int n = ref_.n();
    ASSERT_EQ(link.RecordCount(), std::min(link.BufferCount(), n));
    std::vector<int> shown;
    for (int row = 0; row < link.RecordCount(); ++row) {
      shown.push_back(std::stoi(link.DisplayText(row, ds_.FieldByName("Key"))));
    }
    auto top = std::find(ref_.keys.begin(), ref_.keys.end(), shown.front());
    ASSERT_NE(top, ref_.keys.end());
    int topIndex = static_cast<int>(top - ref_.keys.begin());
    ASSERT_LE(topIndex + static_cast<int>(shown.size()), n);
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), top)) << "window not consecutive";
    EXPECT_EQ(link.ActiveRecord(), ref_.cur - topIndex);
    // Reading the rows left the active record where it was.
    EXPECT_EQ(ds_.FieldByName("Key").AsInteger(), ref_.keys[static_cast<std::size_t>(ref_.cur)]);
  }

  TVectorDataSet& DataSet() { return ds_; }

 private:
  TVectorDataSet ds_;
  TDataSource source_;
  TCountingLink link_;
  TCountingLink extra_{1};
  int window_;
  std::mt19937 rng_;
  Reference ref_;
  int nextKey_ = 1000;
};

TEST(DataSetWindow, RandomOperationsMatchTheReference) {
  for (bool versioned : {false, true}) {
    for (int window : {1, 2, 3, 7}) {
      for (int initial : {0, 3, 40}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
          SCOPED_TRACE(std::string(versioned ? "versioned " : "") + "W=" + std::to_string(window) +
                       " rows=" + std::to_string(initial) + " seed=" + std::to_string(seed));
          WindowModel model(window, initial, seed * 7919u + static_cast<unsigned>(window),
                            versioned);
          model.Check("open");
          for (int i = 0; i < 400 && !::testing::Test::HasFatalFailure(); ++i) {
            std::string step = model.Step();
            model.Check(std::to_string(i) + ": " + step);
          }
          if (::testing::Test::HasFailure()) return;
        }
      }
    }
  }
}

TEST(DataSetWindow, AllBuffersComeBackThroughTheHooks) {
  TVectorDataSet ds(KeySchema());
  TDataSource source;
  source.SetDataSet(&ds);
  TCountingLink small(2), large(5);
  small.SetDataSource(&source);
  large.SetDataSource(&source);
  for (int i = 0; i < 20; ++i) ds.AddStoredRow({i});
  ds.Open();
  EXPECT_EQ(ds.BufferCount(), 5);
  EXPECT_EQ(ds.liveBuffers, 7);
  large.SetBufferCount(9);  // grows the open window
  EXPECT_EQ(ds.liveBuffers, 11);
  EXPECT_EQ(large.RecordCount(), 9);
  ds.MoveBy(15);
  EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 15);
  large.SetDataSource(nullptr);  // shrinks to the small link's request
  EXPECT_EQ(ds.BufferCount(), 2);
  EXPECT_EQ(ds.liveBuffers, 4);
  EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 15);
  EXPECT_EQ(small.RecordCount(), 2);
  ds.Close();
  EXPECT_EQ(ds.liveBuffers, 0);
}

TEST(DataSetWindow, FetchCosts) {
  for (int window : {1, 2, 7}) {
    SCOPED_TRACE("W=" + std::to_string(window));
    TVectorDataSet ds(KeySchema());
    TDataSource source;
    source.SetDataSet(&ds);
    TCountingLink link(window);
    link.SetDataSource(&source);
    ds.Open();
    const int n = 300;
    ds.fetches = 0;
    for (int i = 0; i < n; ++i) {
      ds.Append();
      ds.FieldByName("Key").SetAsInteger(i);
      ds.FieldByName("Amount").SetAsFloat(i * 1.5);
      ds.Post();
    }
    EXPECT_LE(ds.fetches, n * (2 * window + 2));
    EXPECT_EQ(ds.RecordCount(), n);
    EXPECT_EQ(ds.RecNo(), n);

    // Steps inside the window read nothing; a step past its edge reads one.
    ds.First();
    ds.fetches = 0;
    for (int i = 1; i < window; ++i) ds.Next();
    EXPECT_EQ(ds.fetches, 0);
    ds.Next();
    EXPECT_EQ(ds.fetches, 1);
    // Reading the texts of the whole window reads nothing either.
    ds.fetches = 0;
    for (int row = 0; row < link.RecordCount(); ++row) {
      (void)link.DisplayText(row, ds.FieldByName("Amount"));
    }
    EXPECT_EQ(ds.fetches, 0);
  }
}

std::vector<std::string> Counted(const std::vector<std::string>& log) {
  // Collapses runs of the same hook into "Hook x n".
  std::vector<std::string> out;
  for (std::size_t i = 0; i < log.size();) {
    std::size_t j = i;
    while (j < log.size() && log[j] == log[i]) ++j;
    out.push_back(j - i == 1 ? log[i] : log[i] + " x" + std::to_string(j - i));
    i = j;
  }
  return out;
}

// A dataset that tells when its rows change keeps the rows above an
// appended one instead of reading them again, unless someone else changed
// the rows, the window computes fields, or the new record is not the last.
TEST(DataSetWindow, AppendingKeepsTheRowsTheWindowHolds) {
  constexpr int kWindow = 7;
  TVectorDataSet ds({{"Key", ftInteger, 0}, {"Amount", ftCurrency, 0}});
  ds.versioned = true;
  TDataSource source;
  source.SetDataSet(&ds);
  TCountingLink link(kWindow);
  link.SetDataSource(&source);
  ds.Open();
  auto shown = [&] {
    std::vector<int> keys;
    for (int row = 0; row < link.RecordCount(); ++row) {
      // A new record's blank key reads as 0.
      const std::string text = link.DisplayText(row, ds.FieldByName("Key"));
      keys.push_back(text.empty() ? 0 : std::stoi(text));
    }
    return keys;
  };
  auto storedKeys = [&](int from, int to) {
    std::vector<int> keys;
    for (int i = from; i < to; ++i) {
      std::int32_t key;
      std::memcpy(&key, &ds.Rows()[static_cast<std::size_t>(i)].image[1], 4);
      keys.push_back(key);
    }
    return keys;
  };
  auto lastKeys = [&] { return storedKeys(std::max(0, ds.Count() - kWindow), ds.Count()); };
  auto append = [&](int key) {
    ds.Append();
    ds.FieldByName("Key").SetAsInteger(key);
    ds.Post();
  };
  const int n = 300;
  ds.fetches = 0;
  for (int i = 0; i < n; ++i) {
    append(i);
    ASSERT_EQ(shown(), lastKeys()) << "after row " << i;
    ASSERT_EQ(link.ActiveRecord(), link.RecordCount() - 1);
  }
  // The first append reads; then each post reads the new record and finds
  // nothing after it.
  EXPECT_LE(ds.fetches, 2 * n + 2 * kWindow);

  // The hooks of a kept append and post.
  ds.log.clear();
  ds.logging = true;
  append(1000);
  ds.logging = false;
  EXPECT_EQ(Counted(ds.log), (std::vector<std::string>{
                                 "BeginRecordInsert", "GoAfterLast", "PrepareNewRecord",
                                 "BlankRecordBuffer", "WriteBookmarkFlag", "StoreRecord",
                                 "GoToBufferRecord", "LoadRecord(Current)", "LoadRecord(Next)"}));

  // A row changed behind the dataset's back is read again by the next
  // append, and by the post when it changed while appending.
  ds.ChangeStoredRow(ds.Count() - 3, 5555);
  ds.fetches = 0;
  ds.Append();
  EXPECT_GE(ds.fetches, kWindow - 1);
  std::vector<int> above = shown();
  above.pop_back();  // the new record
  EXPECT_EQ(above, storedKeys(ds.Count() - (kWindow - 1), ds.Count()));
  ds.FieldByName("Key").SetAsInteger(1001);
  ds.ChangeStoredRow(ds.Count() - 1, 4444);
  ds.Post();
  EXPECT_EQ(shown(), lastKeys());
  EXPECT_EQ(shown()[static_cast<std::size_t>(kWindow - 2)], 4444);
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(1004);
  ds.changeOnStore = ds.Count() - 1;
  ds.Post();
  ds.changeOnStore = -1;
  EXPECT_EQ(shown(), lastKeys());
  EXPECT_EQ(shown()[static_cast<std::size_t>(kWindow - 2)], 3333);

  // A row added after the new one makes the post read the window again.
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(1002);
  ds.AddStoredRow({7777});
  ds.Post();
  EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 1002);
  ds.Last();
  EXPECT_EQ(shown(), lastKeys());
  EXPECT_EQ(shown().back(), 7777);

  // A record stored elsewhere than at the end (as in an index order) makes
  // the post read the window again around it.
  ds.storeInsertAt = 2;
  append(1003);
  ds.storeInsertAt = -1;
  EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 1003);
  EXPECT_EQ(shown(), storedKeys(0, kWindow));
  EXPECT_EQ(link.ActiveRecord(), 2);
}

TEST(DataSetWindow, HookOrderOfTheFrameworkOperations) {
  TVectorDataSet ds(KeySchema());
  TDataSource source;
  source.SetDataSet(&ds);
  TCountingLink link(3);
  link.SetDataSource(&source);
  for (int i = 0; i < 10; ++i) ds.AddStoredRow({i});

  struct Case {
    const char* name;
    std::function<void()> run;
    std::vector<std::string> hooks;
  };
  std::vector<Case> cases = {
      {"open",
       [&] { ds.Open(); },
       {"ChangeActive(true)", "OpenTableCursor", "StartCursor", "LoadFieldDefs",
        "NewRecordBuffer x5", "GoBeforeFirst", "LoadRecord(Next) x3"}},
      {"append",
       [&] { ds.Append(); },
       {"BeginRecordInsert", "GoAfterLast", "LoadRecord(Prior) x2", "PrepareNewRecord",
        "BlankRecordBuffer", "WriteBookmarkFlag"}},
      {"post",
       [&] {
         ds.FieldByName("Key").SetAsInteger(99);
         ds.Post();
       },
       {"StoreRecord", "GoToBufferRecord", "LoadRecord(Current)", "LoadRecord(Prior) x2"}},
      {"edit and cancel",
       [&] {
         ds.Edit();
         ds.Cancel();
       },
       {"GoToBufferRecord", "BeginRecordEdit", "CancelRecordChange", "GoToBufferRecord",
        "LoadRecord(Current)", "LoadRecord(Prior) x2"}},
      {"recno",
       [&] { ds.SetRecNo(5); },
       {"GoToRecordNumber", "LoadRecord(Current)", "LoadRecord(Prior)", "GoToBufferRecord",
        "LoadRecord(Next)"}},
      {"delete",
       [&] { ds.Delete(); },
       {"GoToBufferRecord", "DeleteActiveRecord", "LoadRecord(Current)", "LoadRecord(Prior)",
        "GoToBufferRecord", "LoadRecord(Next)"}},
      {"insert and cancel",
       [&] {
         ds.Insert();
         ds.Cancel();
       },
       {"GoToBufferRecord", "BeginRecordInsert", "PrepareNewRecord", "BlankRecordBuffer",
        "WriteBookmarkFlag", "CancelRecordChange", "GoToBookmark", "LoadRecord(Current)",
        "LoadRecord(Prior)", "GoToBufferRecord", "LoadRecord(Next)"}},
      {"close",
       [&] { ds.Close(); },
       {"ChangeActive(false)", "CloseTableCursor", "DisposeRecordBuffer x5", "ShutDownCursor"}},
  };
  for (const Case& c : cases) {
    ds.log.clear();
    ds.logging = true;
    c.run();
    ds.logging = false;
    EXPECT_EQ(Counted(ds.log), c.hooks) << c.name;
  }
}

TEST(DataSetWindow, FailedOpenLeavesTheDatasetClosed) {
  struct Case {
    const char* name;
    bool failOpen;
    int failFetchAfter;
  };
  for (const Case& c : {Case{"cursor", true, -1}, Case{"first fetch", false, 1}}) {
    SCOPED_TRACE(c.name);
    TVectorDataSet ds(KeySchema());
    TDataSource source;
    source.SetDataSet(&ds);
    TCountingLink link(4);
    link.SetDataSource(&source);
    ds.AddStoredRow({1});
    ds.failOpen = c.failOpen;
    ds.failFetchAfter = c.failFetchAfter;
    EXPECT_ANY_THROW(ds.Open());
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
    EXPECT_EQ(ds.liveBuffers, 0);
    EXPECT_EQ(ds.FieldCount(), 0);  // default fields were destroyed again
    EXPECT_FALSE(link.Active());
    // The dataset opens once the fault is gone.
    ds.failOpen = false;
    ds.failFetchAfter = -1;
    ds.Open();
    EXPECT_EQ(ds.FieldByName("key").AsInteger(), 1);
    EXPECT_TRUE(link.Active());
  }
}

TEST(DataSetWindow, RecordNumbersBelowOneMeanTheFirstRecord) {
  TVectorDataSet ds(KeySchema());
  for (int i = 0; i < 20; ++i) ds.AddStoredRow({i});
  ds.Open();
  for (int n : {0, -1, -1000}) {
    ds.SetRecNo(10);
    ds.SetRecNo(n);
    EXPECT_EQ(ds.lastRecordNumber, 1) << n;
    EXPECT_EQ(ds.RecNo(), 1) << n;
    EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 0) << n;
  }
}

TEST(DataSetWindow, BookmarkBytesTheDatasetDoesNotWriteAreZero) {
  TVectorDataSet ds(KeySchema());
  ds.bookmarkSize = 7;
  for (int i = 0; i < 3; ++i) ds.AddStoredRow({i});
  ds.Open();
  for (int i = 0; i < 3; ++i) {
    TBookmark mark = ds.GetBookmark();
    ASSERT_EQ(mark.size(), 7u);
    EXPECT_EQ(mark[4], 0);
    EXPECT_EQ(mark[5], 0);
    EXPECT_EQ(mark[6], 0);
    ds.Next();
  }
}

TEST(DataSetWindow, FailedPostKeepsTheInsert) {
  TVectorDataSet ds(KeySchema());
  ds.Open();
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(5);
  ds.failPost = true;
  EXPECT_ANY_THROW(ds.Post());
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 5);
  ds.failPost = false;
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 1);

  // An error event may retry the post.
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(6);
  ds.failPost = true;
  int calls = 0;
  ds.OnPostError = [&](TDataSet&, const std::exception&, TDataAction& action) {
    ++calls;
    ds.failPost = false;
    action = TDataAction::daRetry;
  };
  ds.Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

TEST(DataSetWindow, RequiredFieldIsCheckedAtPost) {
  TVectorDataSet ds(KeySchema());
  ds.Open();
  ds.FieldByName("Amount").SetRequired(true);
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(1);
  try {
    ds.Post();
    FAIL() << "posted without the required value";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Field 'Amount' must have a value");
  }
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(ds.Count(), 0);
}

TEST(DataSetWindow, ReadOnlyRefusesChanges) {
  TVectorDataSet ds(KeySchema());
  ds.SetName("Table1");
  ds.AddStoredRow({1});
  ds.Open();
  ds.readOnly = true;
  for (auto op : {&TDataSet::Append, &TDataSet::Insert, &TDataSet::Edit}) {
    try {
      (ds.*op)();
      FAIL() << "changed a read-only dataset";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), "Table1: Cannot modify a read-only dataset");
    }
    EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  }
}

TEST(DataSetWindow, EventsComeInOrder) {
  TVectorDataSet ds(KeySchema());
  std::vector<std::string> events;
  auto record = [&](const char* name) {
    return [&events, name](TDataSet&) { events.push_back(name); };
  };
  ds.BeforeOpen = record("BeforeOpen");
  ds.AfterOpen = record("AfterOpen");
  ds.BeforeInsert = record("BeforeInsert");
  ds.OnNewRecord = record("OnNewRecord");
  ds.AfterInsert = record("AfterInsert");
  ds.BeforePost = record("BeforePost");
  ds.AfterPost = record("AfterPost");
  ds.BeforeClose = record("BeforeClose");
  ds.AfterClose = record("AfterClose");
  ds.Open();
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(1);
  ds.Post();
  ds.Close();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeInsert",
                                              "OnNewRecord", "AfterInsert", "BeforePost",
                                              "AfterPost", "BeforeClose", "AfterClose"}));
}

TEST(DataSetWindow, CalculatedFieldsFollowEachFetch) {
  TVectorDataSet ds(KeySchema());
  auto doubled = std::make_unique<TIntegerField>();
  doubled->SetFieldName("Doubled");
  doubled->SetFieldKind(TFieldKind::fkCalculated);
  ds.Fields().Add(std::move(doubled));
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("Doubled").SetAsInteger(d.FieldByName("Key").AsInteger() * 2);
  };
  for (int i = 1; i <= 5; ++i) ds.AddStoredRow({i});
  ds.Open();
  EXPECT_EQ(ds.CalcFieldsSize(), 1 + 4);
  EXPECT_EQ(ds.FieldCount(), 3);
  EXPECT_EQ(ds.Fields()[2].FieldName(), "Doubled");  // data fields first
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(ds.FieldByName("Doubled").AsInteger(), 2 * i);
    ds.Next();
  }
  // Changing a data field while editing recomputes the calculated ones.
  ds.Edit();
  ds.FieldByName("Key").SetAsInteger(21);
  EXPECT_EQ(ds.FieldByName("Doubled").AsInteger(), 42);
  ds.Cancel();
  ds.Close();
  // The user's calculated field survives the close; the default ones do not.
  EXPECT_EQ(ds.FieldCount(), 1);
}

TEST(DataSetWindow, BookmarksCompareAndValidate) {
  TVectorDataSet ds(KeySchema());
  for (int i = 0; i < 10; ++i) ds.AddStoredRow({i});
  ds.Open();
  TBookmark first = ds.GetBookmark();
  ds.MoveBy(6);
  TBookmark seventh = ds.GetBookmark();
  EXPECT_LT(ds.CompareBookmarks(first, seventh), 0);
  EXPECT_GT(ds.CompareBookmarks(seventh, first), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_EQ(ds.CompareBookmarks(first, {}), -1);
  EXPECT_EQ(ds.CompareBookmarks({}, first), 1);
  EXPECT_TRUE(ds.BookmarkValid(first));
  ds.GotoBookmark(first);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(first));
  // No bookmark for a record being inserted.
  ds.Append();
  EXPECT_TRUE(ds.GetBookmark().empty());
  EXPECT_EQ(ds.RecNo(), -1);
  ds.Cancel();
}

}  // namespace
}  // namespace platform::test
