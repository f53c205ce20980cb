// Components (ownership, notifications, names), the database error text, the
// exception handler, and the lifetimes of dataset, data source and link.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/data/Component.h"
#include "platform/data/DataSource.h"
#include "platform/data/DatabaseError.h"
#include "tests/platform/data/VectorDataSet.h"

namespace platform::test {
namespace {

// Records what it is told and counts its own destruction.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>* journal)
      : TComponent(owner), journal_(journal) {
    SetName(name);
    NotifyInserted();
  }
  ~Probe() override {
    if (journal_ != nullptr) journal_->push_back("~" + Name());
  }
  bool destroyingSeen = false;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (journal_ == nullptr || c == this) return;
    // A component being destroyed may only be compared, so its name is read
    // only while it is whole.
    std::string who = c->IsDestroying() ? "(dying)" : c->Name();
    journal_->push_back(Name() + (op == TOperation::opInsert ? " +" : " -") + who);
  }
  void Loaded() override {
    if (journal_ != nullptr) journal_->push_back(Name() + " loaded" + (IsLoading() ? "" : "?"));
  }

 private:
  std::vector<std::string>* journal_;
};

TEST(Component, OwnerFreesWhatItOwnsLastFirst) {
  std::vector<std::string> journal;
  {
    Probe form(nullptr, "Form", &journal);
    new Probe(&form, "A", &journal);
    new Probe(&form, "B", &journal);
    EXPECT_EQ(form.ComponentCount(), 2);
    EXPECT_EQ(form.FindComponent("b"), form.Components(1));
    journal.clear();
  }
  EXPECT_EQ(journal, (std::vector<std::string>{"~Form", "~B", "A -(dying)", "~A"}));
}

TEST(Component, InsertAndRemoveNotificationsReachOwnerAndSiblings) {
  std::vector<std::string> journal;
  Probe form(nullptr, "Form", &journal);
  auto* a = new Probe(&form, "A", &journal);
  journal.clear();
  auto* b = new Probe(&form, "B", &journal);
  EXPECT_EQ(journal, (std::vector<std::string>{"Form +B", "A +B"}));
  journal.clear();
  delete a;
  EXPECT_EQ(journal, (std::vector<std::string>{"~A", "Form -(dying)", "B -(dying)"}));
  EXPECT_EQ(form.ComponentCount(), 1);
  journal.clear();
  form.RemoveComponent(b);
  EXPECT_EQ(journal, (std::vector<std::string>{"Form -B"}));
  EXPECT_EQ(b->Owner(), nullptr);
  delete b;
}

TEST(Component, DestroyingIsVisibleToTheDestructor) {
  struct Watcher : TComponent {
    explicit Watcher(TComponent* owner, bool mark, bool* seen)
        : TComponent(owner), mark_(mark), seen_(seen) {}
    ~Watcher() override {
      if (mark_) MarkDestroying();
      *seen_ = IsDestroying();
    }
    bool mark_;
    bool* seen_;
  };
  struct Case {
    bool owned;
    bool mark;
    bool expected;
  };
  for (const Case& c :
       {Case{true, false, true}, Case{false, false, false}, Case{false, true, true}}) {
    bool seen = !c.expected;
    {
      TComponent owner;
      auto* w = new Watcher(c.owned ? &owner : nullptr, c.mark, &seen);
      if (!c.owned) delete w;
    }
    EXPECT_EQ(seen, c.expected) << c.owned << c.mark;
  }
}

TEST(Component, FreeNotificationAcrossOwners) {
  std::vector<std::string> journal;
  Probe left(nullptr, "Left", &journal);
  auto right = std::make_unique<Probe>(nullptr, "Right", &journal);
  left.FreeNotification(right.get());
  right.reset();
  EXPECT_EQ(journal.back(), "Left -(dying)");
}

TEST(Component, NamesAreUniqueIgnoringCase) {
  Probe form(nullptr, "Form", nullptr);
  auto* a = new Probe(&form, "Table1", nullptr);
  auto* b = new Probe(&form, "Table2", nullptr);
  EXPECT_THROW(b->SetName("TABLE1"), EComponentError);
  EXPECT_EQ(b->Name(), "Table2");
  a->SetName("table1");  // its own name in another case
  EXPECT_EQ(a->Name(), "table1");
}

TEST(Component, LoadingStates) {
  std::vector<std::string> journal;
  Probe form(nullptr, "Form", &journal);
  auto* a = new Probe(&form, "A", &journal);
  form.BeginLoading();
  EXPECT_TRUE(a->IsReading());
  EXPECT_TRUE(a->IsLoading());
  journal.clear();
  form.EndLoading();
  EXPECT_EQ(journal, (std::vector<std::string>{"A loaded", "Form loaded"}));
  EXPECT_FALSE(a->IsLoading());
  form.SetDesigning(true);
  EXPECT_TRUE(a->IsDesigning());
}

TEST(DatabaseErrorText, NameInFrontByConcatenation) {
  Probe named(nullptr, "Table%s%n", nullptr);
  Probe unnamed(nullptr, "", nullptr);
  struct Case {
    const TComponent* component;
    const char* message;
    const char* text;
  };
  for (const Case& c : {Case{&named, "Field '%d' not found", "Table%s%n: Field '%d' not found"},
                        Case{&unnamed, "Missing TableName property", "Missing TableName property"},
                        Case{nullptr, "x", "x"}}) {
    try {
      DatabaseError(c.message, c.component);
      FAIL();
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.text);
    }
  }
}

TEST(ExceptionHandler, ReportsReachTheInstalledHandler) {
  std::vector<std::string> seen;
  {
    TScopedExceptionHandler scope([&](const std::exception& e) { seen.push_back(e.what()); });
    ReportException(EDatabaseError("one"));
    ReportException(EAbort("silent"));
    try {
      throw std::runtime_error("two");
    } catch (...) {
      ReportCurrentException();
    }
    // A throwing handler does not escape.
    TScopedExceptionHandler inner([](const std::exception&) { throw 1; });
    ReportException(EDatabaseError("three"));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
}

std::vector<TVectorColumn> OneField() {
  return {{"Key", ftInteger, 0}};
}

// Destroys the three parties in every order; each survivor stays usable.
TEST(DataLinkLifetime, AnyOrderOfDestruction) {
  enum Party { kDataSet, kSource, kLink };
  const std::vector<std::vector<Party>> orders = {
      {kDataSet, kSource, kLink}, {kDataSet, kLink, kSource}, {kSource, kDataSet, kLink},
      {kSource, kLink, kDataSet}, {kLink, kDataSet, kSource}, {kLink, kSource, kDataSet}};
  for (const auto& order : orders) {
    auto ds = std::make_unique<TVectorDataSet>(OneField());
    auto source = std::make_unique<TDataSource>();
    auto link = std::make_unique<TCountingLink>(4);
    for (int i = 0; i < 10; ++i) ds->AddStoredRow({i});
    source->SetDataSet(ds.get());
    link->SetDataSource(source.get());
    ds->Open();
    ASSERT_TRUE(link->Active());
    ASSERT_EQ(link->RecordCount(), 4);
    for (Party p : order) {
      if (p == kDataSet) ds.reset();
      if (p == kSource) source.reset();
      if (p == kLink) link.reset();
      if (link) {
        EXPECT_EQ(link->Active(), ds != nullptr && source != nullptr);
        EXPECT_EQ(link->RecordCount(), link->Active() ? 4 : 0);
      }
      if (ds) {
        ds->Next();  // events go only to what is left
        int links = source ? source->LinkCount() : 0;
        EXPECT_EQ(ds->BufferCount(), links > 0 && link ? 4 : 1);
        EXPECT_EQ(ds->liveBuffers, ds->BufferCount() + 2);
      }
    }
  }
}

TEST(DataLinkLifetime, EventsReachEveryLinkAndFollowTheState) {
  TVectorDataSet ds(OneField());
  TDataSource source;
  source.SetDataSet(&ds);
  TCountingLink a(1), b(3);
  a.SetDataSource(&source);
  b.SetDataSource(&source);
  int stateChanges = 0, dataChanges = 0;
  source.OnStateChange = [&](TDataSource&) { ++stateChanges; };
  source.OnDataChange = [&](TDataSource&, TField*) { ++dataChanges; };
  for (int i = 0; i < 10; ++i) ds.AddStoredRow({i});
  ds.Open();
  EXPECT_EQ(a.activeChanges, 1);
  EXPECT_EQ(b.activeChanges, 1);
  ds.Next();
  EXPECT_EQ(a.scrolls, 1);
  EXPECT_EQ(b.scrolls, 1);
  EXPECT_EQ(a.ActiveRecord(), 0);  // a sees one row: always the active one
  EXPECT_EQ(b.ActiveRecord(), 1);
  ds.Edit();
  EXPECT_EQ(a.editingChanges, 1);
  int recordChanges = b.recordChanges;
  ds.FieldByName("Key").SetAsInteger(50);
  EXPECT_EQ(b.recordChanges, recordChanges + 1);
  ds.Post();
  EXPECT_EQ(b.editingChanges, 2);
  source.SetEnabled(false);
  EXPECT_FALSE(a.Active());
  int before = b.scrolls;
  ds.Next();
  EXPECT_EQ(b.scrolls, before);
  source.SetEnabled(true);
  EXPECT_TRUE(a.Active());
  ds.Close();
  EXPECT_EQ(a.activeChanges, 4);
  EXPECT_GE(stateChanges, 4);
  EXPECT_GT(dataChanges, 0);
}

TEST(DataLinkLifetime, DisabledControlsHearOnceAtTheEnd) {
  TVectorDataSet ds(OneField());
  TDataSource source;
  source.SetDataSet(&ds);
  TCountingLink link(2);
  link.SetDataSource(&source);
  for (int i = 0; i < 10; ++i) ds.AddStoredRow({i});
  ds.Open();
  int changes = link.dataSetChanges, scrolls = link.scrolls;
  ds.DisableControls();
  for (int i = 0; i < 5; ++i) ds.Next();
  EXPECT_EQ(link.scrolls, scrolls);
  ds.EnableControls();
  EXPECT_EQ(link.dataSetChanges, changes + 1);
  EXPECT_EQ(link.ActiveRecord(), 1);

  // Editing and posting while disabled: the links hear of the state once at
  // the end, and of the end state (here still inserting after a failed
  // post: a required field without a value); closing and opening reach them
  // at once.
  int editing = link.editingChanges, active = link.activeChanges, states = 0;
  source.OnStateChange = [&](TDataSource&) { ++states; };
  ds.DisableControls();
  ds.Append();
  ds.FieldByName("Key").SetAsInteger(100);
  ds.Post();
  ds.Close();
  ds.Open();
  EXPECT_EQ(link.activeChanges, active + 2);
  EXPECT_EQ(states, 2);
  ds.FieldByName("Key").SetRequired(true);
  ds.Append();
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(link.editingChanges, editing);
  EXPECT_FALSE(link.Editing());
  changes = link.dataSetChanges;
  ds.EnableControls();
  EXPECT_TRUE(link.Editing());
  EXPECT_EQ(link.editingChanges, editing + 1);
  EXPECT_EQ(states, 3);
  EXPECT_EQ(link.dataSetChanges, changes + 1);
  EXPECT_EQ(link.ActiveRecord(), link.RecordCount() - 1);
}

}  // namespace
}  // namespace platform::test
