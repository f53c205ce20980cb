// Long use of table components against a model: random steps (append,
// edit, delete, cancel, close and reopen, empty, delete and recreate) on
// tables without and with indexes, some under a memory limit or with an
// armed allocation failure. After every step each table holds exactly the
// rows of the steps that succeeded, and after every failure it takes a new
// row through another component.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "tests/engine/components/TableFixture.h"

namespace {

using platform::TDataSetState;

struct TRow {
  std::string V;
  double W = 0;
  bool operator==(const TRow&) const = default;
};
// Rows by their key field K (unique by construction).
using TModel = std::map<int, TRow>;

enum TStepKind {
  kAppend,
  kAppendCancel,
  kEdit,
  kEditCancel,
  kDelete,
  kReopen,
  kClear,
  kRecreate,
  kGrow,
  kStepKinds
};
enum TFaultKind { kNoFault, kAllocation, kLimit };

const char* const kStepNames[] = {"kAppend", "kAppendCancel", "kEdit",     "kEditCancel", "kDelete",
                                  "kReopen", "kClear",        "kRecreate", "kGrow"};
const char* const kFaultNames[] = {"kNoFault", "kAllocation", "kLimit"};

// One step: which table and component, what, under which fault. Arg picks
// the row (an index into the model's order) or the number of rows to add;
// FaultArg is the failing allocation or the bytes left below the limit.
struct TStep {
  int Table;
  int Component;
  TStepKind Kind;
  TFaultKind Fault;
  int FaultArg;
  int Arg;
};

std::string Describe(const TStep& s) {
  std::ostringstream out;
  out << "{" << s.Table << ", " << s.Component << ", " << kStepNames[s.Kind] << ", "
      << kFaultNames[s.Fault] << ", " << s.FaultArg << ", " << s.Arg << "}";
  return out.str();
}

// Restores the memory manager however a step ends.
struct TFaultScope {
  TFaultScope(TFaultKind kind, int arg) {
    if (kind == kAllocation) EngineMemoryManager.FailAllocationForTesting(arg);
    if (kind == kLimit)
      EngineMemoryManager.SetMemoryLimit(EngineMemoryManager.AllocatedSize() + arg);
  }
  ~TFaultScope() { Off(); }
  static void Off() {
    EngineMemoryManager.FailAllocationForTesting(0);
    EngineMemoryManager.SetMemoryLimit(0);
  }
};

class TableModelTest : public TableComponentTest {
 protected:
  // Table kinds: no index; two indexes; a primary key and an index.
  static constexpr int kTables = 3;
  static constexpr int kComponents = 2;

  struct TTable {
    std::string Name;
    int Kind = 0;
    bool Exists = false;
    TModel Model;
    TABSTable* Components[kComponents] = {};
  };

  TableModelTest() {
    for (int t = 0; t < kTables; ++t) {
      TTable& table = tables_[t];
      table.Name = "Modell" + std::to_string(t);
      table.Kind = t;
      Create(table);
      table.Exists = true;
      for (int c = 0; c < kComponents; ++c) {
        TABSTable& component =
            NewTable("Modell" + std::to_string(t) + "_" + std::to_string(c), table.Name);
        // The second component reads through an index where there is one.
        if (c == 1 && t == 1) component.SetIndexName("ByV");
        if (c == 1 && t == 2) component.SetIndexName("ByK");
        component.Open();
        table.Components[c] = &component;
      }
    }
  }
  ~TableModelTest() override { TFaultScope::Off(); }

  static void Define(TABSTable& creator, int kind) {
    creator.FieldDefs().Clear();
    creator.FieldDefs().Add("K", platform::ftInteger);
    creator.FieldDefs().Add("V", platform::ftString, 20);
    creator.FieldDefs().Add("W", platform::ftFloat);
    creator.IndexDefs().Clear();
    if (kind == 1) {
      creator.IndexDefs().Add("ByK", "K");
      creator.IndexDefs().Add("ByV", "V;K");
    } else if (kind == 2) {
      creator.IndexDefs().Add("ByK", "K", platform::ixPrimary);
      creator.IndexDefs().Add("ByV", "V");
    }
  }
  static void Create(const TTable& table) {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName(table.Name);
    Define(creator, table.Kind);
    creator.CreateTable();
  }

  TRow NewRow(int key) {
    // Repeated texts put equal keys into the text index.
    return TRow{std::string(1, static_cast<char>('a' + key % 7)) + std::to_string(key % 5),
                key * 0.25};
  }
  static void SetRow(TABSTable& c, int key, const TRow& row) {
    c.FieldByName("K").SetAsInteger(key);
    c.FieldByName("V").SetAsString(row.V);
    c.FieldByName("W").SetAsFloat(row.W);
  }
  static bool MoveTo(TABSTable& c, int key) {
    for (c.First(); !c.Eof(); c.Next()) {
      if (c.FieldByName("K").AsInteger() == key) return true;
    }
    return false;
  }
  static int KeyAt(const TModel& model, int arg) {
    auto it = model.begin();
    std::advance(it, arg % static_cast<int>(model.size()));
    return it->first;
  }

  // Applies one step; the model follows every engine call that returned.
  void Apply(const TStep& s) {
    TTable& table = tables_[s.Table];
    TABSTable& c = *table.Components[s.Component];
    switch (s.Kind) {
      case kAppend:
      case kAppendCancel:
      case kGrow: {
        const int rows = s.Kind == kGrow ? s.Arg : 1;
        for (int i = 0; i < rows; ++i) {
          const int key = nextKey_++;
          const TRow row = NewRow(key);
          c.Append();
          SetRow(c, key, row);
          if (s.Kind == kAppendCancel) {
            c.Cancel();
          } else {
            c.Post();
            table.Model[key] = row;
          }
        }
        break;
      }
      case kEdit:
      case kEditCancel: {
        const int key = KeyAt(table.Model, s.Arg);
        ASSERT_TRUE(MoveTo(c, key)) << "row " << key << " not found";
        // Every other edit moves the row to a new key.
        const int newKey = s.Arg % 2 == 0 ? nextKey_++ : key;
        TRow row = NewRow(newKey + s.Arg);
        c.Edit();
        SetRow(c, newKey, row);
        if (s.Kind == kEditCancel) {
          c.Cancel();
        } else {
          c.Post();
          table.Model.erase(key);
          table.Model[newKey] = row;
        }
        break;
      }
      case kDelete: {
        const int key = KeyAt(table.Model, s.Arg);
        ASSERT_TRUE(MoveTo(c, key)) << "row " << key << " not found";
        c.Delete();
        table.Model.erase(key);
        break;
      }
      case kReopen:
        c.Close();
        c.Open();
        break;
      case kClear: {
        TABSTable operand(nullptr);
        operand.SetDatabaseName("MEMORY");
        operand.SetTableName(table.Name);
        operand.ClearTable();
        table.Model.clear();
        break;
      }
      case kRecreate: {
        for (TABSTable* other : table.Components) other->Close();
        TABSTable operand(nullptr);
        operand.SetDatabaseName("MEMORY");
        operand.SetTableName(table.Name);
        if (table.Exists) {
          operand.DeleteTable();
          table.Exists = false;
          table.Model.clear();
        }
        Define(operand, table.Kind);
        operand.CreateTable();
        table.Exists = true;
        for (TABSTable* other : table.Components) other->Open();
        break;
      }
      case kStepKinds:
        break;
    }
  }

  // Makes a step runnable: a closed component opens, a missing table is
  // made again, an empty table takes a row instead of losing one.
  TStep Adjust(TStep s) const {
    const TTable& table = tables_[s.Table];
    if (!table.Exists) {
      s.Kind = kRecreate;
    } else if (!table.Components[s.Component]->Active()) {
      s.Kind = kReopen;
    } else if (table.Model.empty() &&
               (s.Kind == kEdit || s.Kind == kEditCancel || s.Kind == kDelete)) {
      s.Kind = kAppend;
    }
    return s;
  }

  // The table against its model: read in full through a fresh component (in
  // key order where there is a key index) and through every open component.
  void Check(const TTable& table) {
    for (TABSTable* c : table.Components) {
      EXPECT_TRUE(c->State() == TDataSetState::dsBrowse || c->State() == TDataSetState::dsInactive);
    }
    TABSTable reader(nullptr);
    reader.SetDatabaseName("MEMORY");
    reader.SetTableName(table.Name);
    ASSERT_EQ(reader.Exists(), table.Exists) << table.Name;
    if (!table.Exists) return;
    if (table.Kind != 0) reader.SetIndexName("ByK");
    reader.Open();
    EXPECT_EQ(reader.RecordCount(), static_cast<int>(table.Model.size())) << table.Name;
    std::vector<std::pair<int, TRow>> rows;
    for (reader.First(); !reader.Eof(); reader.Next()) {
      rows.emplace_back(
          reader.FieldByName("K").AsInteger(),
          TRow{reader.FieldByName("V").AsString(), reader.FieldByName("W").AsFloat()});
    }
    if (table.Kind == 0)
      std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.first < b.first; });
    const std::vector<std::pair<int, TRow>> expected(table.Model.begin(), table.Model.end());
    EXPECT_EQ(rows, expected) << table.Name;
    for (TABSTable* c : table.Components) {
      if (!c->Active()) continue;
      std::vector<int> keys;
      for (c->First(); !c->Eof(); c->Next()) keys.push_back(c->FieldByName("K").AsInteger());
      std::sort(keys.begin(), keys.end());
      std::vector<int> expectedKeys;
      for (const auto& [key, row] : table.Model) expectedKeys.push_back(key);
      EXPECT_EQ(keys, expectedKeys) << c->Name();
    }
  }

  // A row appended through a component of its own.
  void AppendThroughAnother(TTable& table) {
    TABSTable other(nullptr);
    other.SetDatabaseName("MEMORY");
    other.SetTableName(table.Name);
    other.Open();
    const int key = nextKey_++;
    const TRow row = NewRow(key);
    other.Append();
    SetRow(other, key, row);
    other.Post();
    table.Model[key] = row;
  }

  // Runs the steps; returns how many failed. Stops at the first mismatch
  // and prints the steps that led there.
  int Run(const std::vector<TStep>& steps, const std::string& label) {
    int failures = 0;
    std::vector<std::string> log;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const TStep s = Adjust(steps[i]);
      log.push_back(Describe(s));
      SCOPED_TRACE(label + ", step " + std::to_string(i) + " " + log.back());
      TTable& table = tables_[s.Table];
      bool raised = false;
      bool fired = false;
      {
        TFaultScope fault(s.Fault, s.FaultArg);
        try {
          Apply(s);
        } catch (const std::exception& e) {
          raised = true;
          if (s.Fault == kNoFault) ADD_FAILURE() << "a step failed unarmed: " << e.what();
        }
        fired = s.Fault == kAllocation && EngineMemoryManager.PendingFailureForTesting() == 0;
      }
      // Deleting a table may swallow a failure in the freed table's clean-up:
      // the table is gone all the same, and Check sees the new one.
      if (fired && !raised && s.Kind != kRecreate) {
        ADD_FAILURE() << "a failed allocation was reported as success";
      }
      if (raised) ++failures;
      try {
        // A failure may leave an insert or edit to cancel.
        TABSTable& c = *table.Components[s.Component];
        if (c.State() == TDataSetState::dsInsert || c.State() == TDataSetState::dsEdit) c.Cancel();
        Check(table);
        if (raised && table.Exists && !HasFailure()) {
          AppendThroughAnother(table);
          Check(table);
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << "the table is unusable after the step: " << e.what();
      }
      if (HasFailure()) {
        std::ostringstream out;
        for (std::size_t j = log.size() > 40 ? log.size() - 40 : 0; j < log.size(); ++j) {
          out << "  " << log[j] << ",\n";
        }
        ADD_FAILURE() << label << ": the last steps up to step " << i << ":\n" << out.str();
        return failures;
      }
    }
    for (const TTable& table : tables_) Check(table);
    return failures;
  }

  // Random steps: mostly row changes, some table operations; a quarter under
  // an armed allocation failure, a sixth under a memory limit.
  static std::vector<TStep> RandomSteps(std::uint32_t seed, int count) {
    std::mt19937 rng(seed);
    static const TStepKind kinds[] = {
        kAppend,     kAppend, kAppend, kAppend, kAppendCancel, kEdit,  kEdit,     kEdit,
        kEditCancel, kDelete, kDelete, kDelete, kReopen,       kClear, kRecreate, kGrow};
    std::vector<TStep> steps;
    for (int i = 0; i < count; ++i) {
      TStep s{};
      s.Table = static_cast<int>(rng() % kTables);
      s.Component = static_cast<int>(rng() % kComponents);
      s.Kind = kinds[rng() % std::size(kinds)];
      // Table operations are rarer than row changes.
      if ((s.Kind == kClear || s.Kind == kRecreate) && rng() % 2 != 0) s.Kind = kAppend;
      const std::uint32_t fault = rng() % 12;
      s.Fault = fault < 3 ? kAllocation : fault < 5 ? kLimit : kNoFault;
      // A row change makes a few allocations at most, a table operation or
      // a run of appends dozens.
      const bool many =
          s.Kind == kClear || s.Kind == kRecreate || s.Kind == kReopen || s.Kind == kGrow;
      s.FaultArg = static_cast<int>(s.Fault == kAllocation ? 1 + rng() % (many ? 40 : 3)
                                                           : rng() % (many ? 65536 : 4096));
      s.Arg = static_cast<int>(s.Kind == kGrow ? 20 + rng() % 200 : rng() % 1000);
      steps.push_back(s);
    }
    return steps;
  }

  TTable tables_[kTables];
  int nextKey_ = 1;
};

TEST_F(TableModelTest, RandomStepsKeepEveryTableEqualToItsModel) {
  int failures = 0;
  for (const std::uint32_t seed : {1002u, 1u, 20u}) {
    failures += Run(RandomSteps(seed, 460), "seed " + std::to_string(seed));
    if (HasFailure()) return;
  }
  // The faults must have hit: otherwise the test proves nothing.
  EXPECT_GT(failures, 100);
}

// Found by the random steps: emptying a table with indexes under a failing
// allocation left the index pages it had changed held, and every later
// append failed with 20090 until an emptying succeeded.
TEST_F(TableModelTest, EmptyingThatFailsLeavesTheTableTakingRows) {
  std::vector<TStep> steps;
  for (int t = 0; t < kTables; ++t) {
    steps.push_back({t, 0, kGrow, kNoFault, 0, 300});
    for (int n = 1; n <= 30; ++n) steps.push_back({t, 1, kClear, kAllocation, n, 0});
  }
  EXPECT_GT(Run(steps, "emptying"), 10);
}

}  // namespace
