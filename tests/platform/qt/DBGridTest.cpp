// The data grid offscreen over the in-test dataset: what it paints, how its
// input moves the dataset, that its own updates never do, and that a failing
// dataset is reported and survived.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/data/DataSource.h"
#include "platform/data/DatabaseError.h"
#include "platform/qt/TDBGrid.h"
#include "tests/platform/data/VectorDataSet.h"

QT_BEGIN_NAMESPACE
// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

using platform::TDataSetState;
using platform::TDBGrid;
using platform::test::TCountingLink;
using platform::test::TVectorDataSet;

std::vector<platform::test::TVectorColumn> PlanFields() {
  return {{"Jahr", platform::ftInteger},     {"Monat", platform::ftInteger},
          {"Tag", platform::ftInteger},      {"Darlehen", platform::ftCurrency},
          {"Tilgung", platform::ftCurrency}, {"Zins", platform::ftCurrency}};
}

QFont ArialFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  return font;
}

// Appends and posts `n` plan-like rows through the framework; every seventh
// row has no repayment (a NULL currency field).
void AppendRows(TVectorDataSet& ds, int n) {
  for (int i = 0; i < n; ++i) {
    ds.Append();
    ds.FieldByName("Jahr").SetAsInteger(2027 + i / 12);
    ds.FieldByName("Monat").SetAsInteger(1 + i % 12);
    ds.FieldByName("Tag").SetAsInteger(15);
    ds.FieldByName("Darlehen").SetAsFloat(9958.33 - i * 0.5);
    if (i % 7 != 3) ds.FieldByName("Tilgung").SetAsFloat(41.67 + i);
    ds.FieldByName("Zins").SetAsFloat(i * 1.25);
    ds.Post();
  }
}

// The display texts of record `recNo` in the grid's column order, read by
// moving the dataset there (the window's content is captured before).
std::vector<QString> RecordTexts(TVectorDataSet& ds, const TDBGrid& grid, int recNo) {
  const int saved = ds.RecNo();
  ds.SetRecNo(recNo);
  std::vector<QString> texts;
  for (int c = 0; c < grid.ColumnCount(); ++c) {
    platform::TField* f = ds.FindField(grid.Column(c).fieldName.toStdString());
    texts.push_back(f ? QString::fromStdString(f->DisplayText()) : QString());
  }
  ds.SetRecNo(saved);
  return texts;
}

// Raises on a fetch once armed, whether or not the framework asked for a
// checked fetch.
class TFailingDataSet : public TVectorDataSet {
 public:
  using TVectorDataSet::TVectorDataSet;
  bool armed = false;
  bool failReads = false;  // LoadFieldData raises

 protected:
  bool LoadFieldData(platform::TField* field, void* buffer) override {
    if (failReads) platform::DatabaseError("Cannot read field", this);
    return TVectorDataSet::LoadFieldData(field, buffer);
  }
  platform::TGetResult LoadRecord(platform::TRecordBuffer buffer, platform::TGetMode mode,
                                  bool check) override {
    if (armed) platform::DatabaseError("Cannot retrieve record", this);
    return TVectorDataSet::LoadRecord(buffer, mode, check);
  }
};

class DBGridTest : public testing::Test {
 protected:
  static constexpr int kRecords = 100;

  void SetUp() override {
    source_.SetDataSet(&ds_);
    ds_.Open();
    AppendRows(ds_, kRecords);
    grid_ = std::make_unique<TDBGrid>();
    grid_->setFont(ArialFont());
    grid_->SetTitleFont(ArialFont());
    // The plan's columns, in another order than the dataset's fields, and
    // one the dataset does not know.
    const std::pair<const char*, int> columns[] = {
        {"Jahr", 57}, {"Monat", 44}, {"Tag", 43}, {"Darlehen", 101}, {"Tilgung", 80}, {"Zins", 79}};
    for (const auto& [name, width] : columns) grid_->AddColumn(QString::fromLatin1(name), width);
    grid_->resize(452, 152);
    grid_->SetDataSource(&source_);
    // Shown (offscreen), so that the viewport has its real size.
    grid_->show();
    ds_.First();
  }

  QScrollBar* Bar() const { return grid_->verticalScrollBar(); }
  void Paint() const { (void)grid_->grab(); }
  // Record number of the top visible row, from the dataset's own view.
  int TopRecNo() { return ds_.RecNo() - grid_->CellsToPaint().activeRow; }

  TFailingDataSet ds_{PlanFields()};
  platform::TDataSource source_;
  std::unique_ptr<TDBGrid> grid_;
};

TEST_F(DBGridTest, DesignSizeShowsSixFullRowsAndAPartialOne) {
  EXPECT_EQ(grid_->TitleHeight(), 19);
  EXPECT_EQ(grid_->RowHeight(), 19);
  EXPECT_EQ(grid_->VisibleRowCount(), 7);
  EXPECT_EQ(grid_->FullRowCount(), 6);
  EXPECT_EQ(ds_.BufferCount(), 7);
}

TEST_F(DBGridTest, PaintedTextsAreTheDisplayTextsOfTheWindow) {
  grid_->AddColumn(QStringLiteral("Unbekannt"), 30);
  grid_->AddColumn(QStringLiteral("zins"), 30);  // names ignore case
  grid_->AddColumn(QStringLiteral("Tag"), 20, QStringLiteral("T"));
  ds_.FieldByName("Monat").SetDisplayLabel("Mon.");
  const int count = grid_->ColumnCount();
  // Positions: the start, inside, the end, and back near the start.
  const std::vector<std::function<void()>> moves = {[&] { ds_.First(); }, [&] { ds_.MoveBy(40); },
                                                    [&] { ds_.Last(); }, [&] { ds_.MoveBy(-3); },
                                                    [&] { ds_.SetRecNo(5); }};
  for (std::size_t m = 0; m < moves.size(); ++m) {
    SCOPED_TRACE(m);
    moves[m]();
    const platform::TGridCells cells = grid_->CellsToPaint();
    EXPECT_EQ(grid_->VisibleCellTexts(), cells.rows);
    const int rows = static_cast<int>(cells.rows.size());
    ASSERT_EQ(rows, std::min(grid_->VisibleRowCount(), kRecords));
    ASSERT_GE(cells.activeRow, 0);
    ASSERT_LT(cells.activeRow, rows);
    EXPECT_EQ(cells.indicator, platform::TGridCells::TIndicator::Browse);
    const int top = ds_.RecNo() - cells.activeRow;
    for (int r = 0; r < rows; ++r) {
      SCOPED_TRACE(r);
      const std::vector<QString> expected = RecordTexts(ds_, *grid_, top + r);
      ASSERT_EQ(static_cast<int>(cells.rows[static_cast<std::size_t>(r)].size()), count);
      EXPECT_EQ(cells.rows[static_cast<std::size_t>(r)], expected);
      EXPECT_EQ(cells.rows[static_cast<std::size_t>(r)][6], QString());
      EXPECT_EQ(cells.rows[static_cast<std::size_t>(r)][7],
                cells.rows[static_cast<std::size_t>(r)][5]);
    }
  }
  ds_.First();
  const platform::TGridCells first = grid_->CellsToPaint();
  EXPECT_EQ(first.titles[0], QStringLiteral("Jahr"));
  EXPECT_EQ(first.titles[6], QStringLiteral("Unbekannt"));
  EXPECT_EQ(first.titles[1], QStringLiteral("Mon."));  // the field's label
  EXPECT_EQ(first.titles[7], QStringLiteral("Zins"));  // the field's name
  EXPECT_EQ(first.titles[8], QStringLiteral("T"));     // the column's own
  EXPECT_EQ(first.rows[0][3], QStringLiteral("9.958,33\u00a0€"));
  EXPECT_EQ(first.rows[3][4], QString());  // NULL repayment
  EXPECT_EQ(first.alignments[0], Qt::AlignRight);
  EXPECT_EQ(first.alignments[6], Qt::AlignLeft);
}

TEST_F(DBGridTest, WhatPaintsKeepIsPaintedAsIfDrawnAnew) {
  // A second grid on the same data that draws everything anew every time.
  TDBGrid plain;
  plain.SetPaintCacheEnabled(false);
  plain.setFont(ArialFont());
  plain.SetTitleFont(ArialFont());
  for (int c = 0; c < grid_->ColumnCount(); ++c) {
    plain.AddColumn(grid_->Column(c).fieldName, grid_->Column(c).width);
  }
  plain.resize(grid_->size());
  plain.SetDataSource(&source_);
  plain.show();
  const auto both = [&](const std::function<void(TDBGrid&)>& change) {
    change(*grid_);
    change(plain);
  };
  ds_.SetRecNo(4);
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"start", [] {}},
      {"another component edits a shown record",
       [&] {
         ds_.Edit();
         ds_.FieldByName("Zins").SetAsFloat(1234.5);
         ds_.FieldByName("Darlehen").SetAsFloat(77.5);
         ds_.Post();
       }},
      {"clipped, centred and left-aligned texts",
       [&] {
         both([](TDBGrid& g) {
           g.AddColumn(QStringLiteral("Darlehen"), 30);
           g.SetColumnWidth(0, 120);
         });
         ds_.FieldByName("Tag").SetAlignment(platform::TAlignment::taCenter);
         ds_.FieldByName("Monat").SetAlignment(platform::TAlignment::taLeftJustify);
       }},
      {"scrolled", [&] { both([](TDBGrid& g) { g.horizontalScrollBar()->setValue(25); }); }},
      {"another title font",
       [&] {
         QFont bold = ArialFont();
         bold.setBold(true);
         both([&](TDBGrid& g) { g.SetTitleFont(bold); });
       }},
      {"another palette",
       [&] {
         QPalette palette = grid_->palette();
         palette.setColor(QPalette::Button, Qt::yellow);
         both([&](TDBGrid& g) { g.setPalette(palette); });
       }},
      {"another cell font",
       [&] {
         QFont larger = ArialFont();
         larger.setPixelSize(15);
         both([&](TDBGrid& g) { g.setFont(larger); });
       }},
  };
  // Also where the grid is rendered into a scaled and moved painter.
  const auto scaled = [](TDBGrid& g) {
    QImage img(g.size() * 2, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter q(&img);
    q.scale(2, 2);
    q.translate(3, 0);
    g.render(&q);
    return img;
  };
  QImage last;
  for (const auto& [what, step] : steps) {
    SCOPED_TRACE(what);
    step();
    const QImage shown = grid_->grab().toImage();
    EXPECT_TRUE(shown == plain.grab().toImage());
    EXPECT_TRUE(scaled(*grid_) == scaled(plain));
    EXPECT_TRUE(shown != last);
    last = shown;
  }
  const platform::TGridCells cells = grid_->CellsToPaint();
  EXPECT_EQ(cells.rows[static_cast<std::size_t>(cells.activeRow)][5],
            QStringLiteral("1.234,50\u00a0€"));
}

TEST_F(DBGridTest, PaintingFetchesNothingAndSyncsTheScrollBar) {
  ds_.SetRecNo(50);
  const int fetches = ds_.fetches;
  Paint();
  EXPECT_EQ(ds_.fetches, fetches);
  EXPECT_EQ(Bar()->minimum(), 1);
  EXPECT_EQ(Bar()->maximum(), kRecords);
  EXPECT_EQ(Bar()->value(), 50);
  EXPECT_EQ(ds_.RecNo(), 50);
}

TEST_F(DBGridTest, KeysMoveTheCurrentRecord) {
  const int page = grid_->FullRowCount();
  struct Case {
    const char* name;
    int start;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int expected;
  };
  const Case cases[] = {
      {"Down", 50, Qt::Key_Down, Qt::NoModifier, 51},
      {"Down at the end appends nothing", kRecords, Qt::Key_Down, Qt::NoModifier, kRecords},
      {"Up", 50, Qt::Key_Up, Qt::NoModifier, 49},
      {"Up at the start", 1, Qt::Key_Up, Qt::NoModifier, 1},
      {"Page Down", 50, Qt::Key_PageDown, Qt::NoModifier, 50 + page},
      {"Page Down near the end", kRecords - 2, Qt::Key_PageDown, Qt::NoModifier, kRecords},
      {"Page Up", 50, Qt::Key_PageUp, Qt::NoModifier, 50 - page},
      {"Page Up near the start", 3, Qt::Key_PageUp, Qt::NoModifier, 1},
      {"Ctrl+End", 50, Qt::Key_End, Qt::ControlModifier, kRecords},
      {"Ctrl+Home", 50, Qt::Key_Home, Qt::ControlModifier, 1},
      {"Home is a column key", 50, Qt::Key_Home, Qt::NoModifier, 50},
      {"End is a column key", 50, Qt::Key_End, Qt::NoModifier, 50},
      {"Left is a column key", 50, Qt::Key_Left, Qt::NoModifier, 50},
      {"Right is a column key", 50, Qt::Key_Right, Qt::NoModifier, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ds_.SetRecNo(c.start);
    QTest::keyClick(grid_.get(), c.key, c.modifiers);
    EXPECT_EQ(ds_.RecNo(), c.expected);
    EXPECT_EQ(ds_.RecordCount(), kRecords);
    EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
  }
  // After Ctrl+End the last record is the bottom row.
  QTest::keyClick(grid_.get(), Qt::Key_End, Qt::ControlModifier);
  const platform::TGridCells cells = grid_->CellsToPaint();
  EXPECT_EQ(cells.activeRow, static_cast<int>(cells.rows.size()) - 1);
}

TEST_F(DBGridTest, ColumnKeysMoveTheCurrentCell) {
  const int last = grid_->ColumnCount() - 1;
  struct Case {
    int start;
    Qt::Key key;
    int expected;
  };
  const Case cases[] = {{2, Qt::Key_Left, 1},        {0, Qt::Key_Left, 0}, {2, Qt::Key_Right, 3},
                        {last, Qt::Key_Right, last}, {3, Qt::Key_Home, 0}, {1, Qt::Key_End, last}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start * 100 + c.key);
    grid_->SetSelectedColumn(c.start);
    QTest::keyClick(grid_.get(), c.key);
    EXPECT_EQ(grid_->SelectedColumn(), c.expected);
  }
}

TEST_F(DBGridTest, ColumnKeysScrollTheCurrentColumnIntoView) {
  grid_->resize(200, 152);
  QApplication::processEvents();
  QScrollBar* h = grid_->horizontalScrollBar();
  ASSERT_GT(h->maximum(), 0);
  QTest::keyClick(grid_.get(), Qt::Key_End);
  EXPECT_EQ(h->value(), h->maximum());
  QTest::keyClick(grid_.get(), Qt::Key_Left);
  QTest::keyClick(grid_.get(), Qt::Key_Left);
  QTest::keyClick(grid_.get(), Qt::Key_Left);  // "Tag", left of the view
  EXPECT_LT(h->value(), h->maximum());
  EXPECT_GT(h->value(), 0);
  QTest::keyClick(grid_.get(), Qt::Key_Home);
  EXPECT_EQ(h->value(), 0);
}

TEST_F(DBGridTest, AssistiveToolsSeeTheCurrentCell) {
  grid_->setObjectName(QStringLiteral("DBGrid1"));
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(grid_.get());
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Table);
  EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("DBGrid1"));
  ds_.SetRecNo(1);
  grid_->SetSelectedColumn(3);
  EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("Darlehen: 9.958,33\u00a0€"));
  QTest::keyClick(grid_.get(), Qt::Key_Down);
  EXPECT_EQ(iface->text(QAccessible::Value),
            QStringLiteral("Darlehen: ") +
                QString::fromStdString(ds_.FieldByName("Darlehen").DisplayText()));
  ds_.Close();
  EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("Darlehen: "));
}

TEST_F(DBGridTest, ScrollBarActionsMoveTheDatasetItsOwnUpdatesDoNot) {
  ds_.SetRecNo(50);
  Paint();
  const int page = grid_->FullRowCount();
  struct Case {
    QAbstractSlider::SliderAction action;
    int expected;
  };
  const Case cases[] = {
      {QAbstractSlider::SliderSingleStepAdd, 51},      {QAbstractSlider::SliderSingleStepSub, 50},
      {QAbstractSlider::SliderPageStepAdd, 50 + page}, {QAbstractSlider::SliderPageStepSub, 50},
      {QAbstractSlider::SliderToMaximum, kRecords},    {QAbstractSlider::SliderToMinimum, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    Bar()->triggerAction(c.action);
    EXPECT_EQ(ds_.RecNo(), c.expected);
    EXPECT_EQ(Bar()->value(), c.expected);
  }
  // Dragging the thumb goes to its record number.
  Bar()->setSliderDown(true);
  Bar()->setSliderPosition(70);
  EXPECT_EQ(ds_.RecNo(), 70);
  Bar()->setSliderPosition(12);
  Bar()->setSliderDown(false);
  EXPECT_EQ(ds_.RecNo(), 12);
  EXPECT_EQ(Bar()->value(), 12);
  // A program setting the bar moves nothing.
  Bar()->setValue(90);
  Bar()->setRange(1, 10);
  EXPECT_EQ(ds_.RecNo(), 12);
}

// A dataset that gives no record numbers.
class TUnsequencedDataSet : public TVectorDataSet {
 public:
  using TVectorDataSet::TVectorDataSet;
  bool IsSequenced() override { return false; }
};

TEST(DBGridUnsequenced, TheScrollBarHasThreePlacesAndDraggingGoesToTheEnds) {
  TUnsequencedDataSet ds(PlanFields());
  platform::TDataSource source;
  source.SetDataSet(&ds);
  ds.Open();
  AppendRows(ds, 40);
  TDBGrid grid;
  grid.AddColumn(QStringLiteral("Jahr"), 57);
  grid.resize(452, 152);
  grid.SetDataSource(&source);
  grid.show();
  QScrollBar* bar = grid.verticalScrollBar();
  struct Case {
    std::function<void()> move;
    int value;
  };
  const std::vector<Case> cases = {
      {[&] { ds.First(); }, 0}, {[&] { ds.MoveBy(10); }, 1}, {[&] { ds.Last(); }, 2}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    cases[i].move();
    (void)grid.grab();
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 2);
    EXPECT_EQ(bar->value(), cases[i].value);
  }
  bar->setSliderDown(true);
  bar->setSliderPosition(0);
  bar->setSliderDown(false);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 1);
  bar->setSliderDown(true);
  bar->setSliderPosition(1);  // between: no move
  EXPECT_EQ(ds.RecNo(), 1);
  bar->setSliderPosition(2);
  bar->setSliderDown(false);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 40);
}

TEST_F(DBGridTest, RepaintDuringAnAppendNeitherPostsNorMoves) {
  ds_.SetRecNo(20);
  Paint();
  ds_.Append();
  ds_.FieldByName("Jahr").SetAsInteger(1999);
  const platform::TGridCells cells = grid_->CellsToPaint();
  EXPECT_EQ(cells.indicator, platform::TGridCells::TIndicator::Insert);
  EXPECT_EQ(cells.rows[static_cast<std::size_t>(cells.activeRow)][0], QStringLiteral("1999"));
  Paint();
  Bar()->setValue(3);
  grid_->resize(452, 200);
  Paint();
  EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
  EXPECT_EQ(ds_.RecordCount(), kRecords);
  EXPECT_EQ(ds_.FieldByName("Jahr").AsInteger(), 1999);
  ds_.Cancel();
  EXPECT_EQ(ds_.RecordCount(), kRecords);
  ds_.Edit();
  EXPECT_EQ(grid_->CellsToPaint().indicator, platform::TGridCells::TIndicator::Edit);
  ds_.Cancel();
}

TEST_F(DBGridTest, ClickAndWheelMoveTheCurrentRecord) {
  ds_.SetRecNo(30);
  const int top = TopRecNo();
  const int x = TDBGrid::kIndicatorWidth + 57 + 44 + 10;  // inside "Tag"
  for (int row : {0, 4, 2}) {
    SCOPED_TRACE(row);
    const int y = grid_->TitleHeight() + row * grid_->RowHeight() + 3;
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    EXPECT_EQ(ds_.RecNo(), top + row);
    EXPECT_EQ(grid_->SelectedColumn(), 2);
  }
  // A click on the title row moves no record.
  const int before = ds_.RecNo();
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 3));
  EXPECT_EQ(ds_.RecNo(), before);

  const int lines = QApplication::wheelScrollLines();
  auto wheel = [&](int delta) {
    const QPointF at(50, 50);
    QWheelEvent e(at, grid_->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid_->viewport(), &e);
  };
  ds_.SetRecNo(50);
  wheel(-120);
  EXPECT_EQ(ds_.RecNo(), 50 + lines);
  wheel(120);
  EXPECT_EQ(ds_.RecNo(), 50);
  wheel(-60);  // half a notch: nothing yet
  EXPECT_EQ(ds_.RecNo(), 50);
  wheel(-60);
  EXPECT_EQ(ds_.RecNo(), 50 + lines);
}

TEST_F(DBGridTest, TabLeavesTheGrid) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* before = new QLineEdit(&window);
  layout->addWidget(before);
  auto* grid = new TDBGrid(&window);
  grid->AddColumn(QStringLiteral("Jahr"), 57);
  grid->SetDataSource(&source_);
  layout->addWidget(grid);
  auto* after = new QLineEdit(&window);
  layout->addWidget(after);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  ds_.SetRecNo(40);

  grid->setFocus();
  ASSERT_TRUE(grid->hasFocus());
  QTest::keyClick(grid, Qt::Key_Tab);
  EXPECT_TRUE(after->hasFocus());
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(before->hasFocus());
  EXPECT_EQ(ds_.RecNo(), 40);
}

TEST_F(DBGridTest, AFailingFetchIsReportedAndTheGridGoesOn) {
  std::vector<std::string> reports;
  platform::TScopedExceptionHandler handler(
      [&](const std::exception& e) { reports.emplace_back(e.what()); });
  Paint();
  struct Case {
    const char* name;
    std::function<void()> action;
  };
  const std::vector<Case> cases = {
      {"Ctrl+End", [&] { QTest::keyClick(grid_.get(), Qt::Key_End, Qt::ControlModifier); }},
      {"scroll bar to the end", [&] { Bar()->triggerAction(QAbstractSlider::SliderToMaximum); }},
      {"dragging",
       [&] {
         Bar()->setSliderDown(true);
         Bar()->setSliderPosition(80);
         Bar()->setSliderDown(false);
       }},
      {"wheel",
       [&] {
         const QPointF at(50, 50);
         QWheelEvent e(at, at, QPoint(), QPoint(0, -120 * 10), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
         QApplication::sendEvent(grid_->viewport(), &e);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ds_.First();
    reports.clear();
    ds_.armed = true;
    c.action();
    ds_.armed = false;
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Cannot retrieve record"), std::string::npos);
    // The dataset and the grid go on.
    ds_.Refresh();
    QTest::keyClick(grid_.get(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(ds_.RecNo(), kRecords);
    Paint();
    EXPECT_EQ(Bar()->value(), kRecords);
    EXPECT_EQ(reports.size(), 1u);
  }
}

TEST_F(DBGridTest, AFailingReadWhilePaintingIsReportedAndPaintsTheTitles) {
  std::vector<std::string> reports;
  platform::TScopedExceptionHandler handler(
      [&](const std::exception& e) { reports.emplace_back(e.what()); });
  ds_.SetRecNo(10);
  ds_.failReads = true;
  Paint();
  ds_.failReads = false;
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("Cannot read field"), std::string::npos);
  // The failed paint left the current record where it was.
  EXPECT_EQ(ds_.RecNo(), 10);
  EXPECT_EQ(grid_->VisibleCellTexts()[static_cast<std::size_t>(grid_->CellsToPaint().activeRow)],
            RecordTexts(ds_, *grid_, 10));
}

TEST_F(DBGridTest, ResizeSetsTheBufferCount) {
  for (int height : {80, 152, 300, 10}) {
    SCOPED_TRACE(height);
    grid_->resize(452, height);
    EXPECT_EQ(ds_.BufferCount(), grid_->VisibleRowCount());
    EXPECT_EQ(static_cast<int>(grid_->VisibleCellTexts().size()),
              std::min(grid_->VisibleRowCount(), kRecords));
  }
}

TEST_F(DBGridTest, LinkEventsCostNoFetches) {
  // The same appends with the grid and with a plain link of the same size:
  // whatever the grid does on the events fetches nothing.
  auto appendCost = [](bool withGrid) {
    TVectorDataSet ds(PlanFields());
    platform::TDataSource source;
    source.SetDataSet(&ds);
    TDBGrid grid;
    grid.setFont(ArialFont());
    grid.SetTitleFont(ArialFont());
    grid.resize(452, 152);
    grid.show();
    TCountingLink link(grid.VisibleRowCount());
    if (withGrid) {
      grid.SetDataSource(&source);
    } else {
      link.SetDataSource(&source);
    }
    ds.Open();
    const int before = ds.fetches;
    AppendRows(ds, 200);
    return ds.fetches - before;
  };
  EXPECT_EQ(appendCost(true), appendCost(false));
}

TEST_F(DBGridTest, DataSourceOrDatasetGoingFirstLeavesAnEmptyGrid) {
  {
    auto source = std::make_unique<platform::TDataSource>();
    source->SetDataSet(&ds_);
    TDBGrid grid;
    grid.SetDataSource(source.get());
    EXPECT_FALSE(grid.VisibleCellTexts().empty());
    source.reset();
    EXPECT_EQ(grid.DataSource(), nullptr);
    EXPECT_TRUE(grid.VisibleCellTexts().empty());
    (void)grid.grab();
  }
  {
    auto ds = std::make_unique<TVectorDataSet>(PlanFields());
    platform::TDataSource source;
    source.SetDataSet(ds.get());
    ds->Open();
    AppendRows(*ds, 3);
    TDBGrid grid;
    grid.AddColumn(QStringLiteral("Jahr"), 50);
    grid.SetDataSource(&source);
    EXPECT_EQ(grid.VisibleCellTexts().size(), 3u);
    ds.reset();
    EXPECT_TRUE(grid.VisibleCellTexts().empty());
    (void)grid.grab();
    EXPECT_EQ(grid.verticalScrollBar()->maximum(), 0);
  }
}

TEST_F(DBGridTest, EveryChangeIsPaintedByTheEventLoop) {
  // The grid asks for one update per paint; no change may be left unpainted,
  // also across hiding and showing.
  QApplication::processEvents();
  int expected = kRecords;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    if (round == 2) grid_->hide();
    AppendRows(ds_, 2);
    expected += 2;
    if (round == 2) grid_->show();
    QApplication::processEvents();
    EXPECT_EQ(Bar()->maximum(), expected);
    EXPECT_EQ(Bar()->value(), expected);
  }
}

}  // namespace
