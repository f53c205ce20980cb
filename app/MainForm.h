// The main window of the repayment plan calculator, built in code from its
// fixed layout. Every component is a member named as in the layout; the
// widgets are children of the window (Qt's parent ownership frees them). The
// non-visual components ABSTable1 and DataSource1 are owned by the window's
// component owner "Form1"; the window frees its widgets before them, so the
// grid and its actions never outlive the dataset they borrow.
//
// The plan lives in the engine: every recalculation fills the table
// "Tilgungsplan" of "MEMORY" through ABSTable1, and the grid shows that table
// through DataSource1 and nothing else.
//
// Three handlers carry the behaviour: FormCreate (start values, called once
// from the constructor), Edit1Change (one recalculation, bound to the change
// events of Edit1, Edit3, Edit4, ComboBox1, ComboBox4 and DateTimePicker1) and
// Label27Click (opens the project's web page).
#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <array>
#include <iterator>
#include <memory>
#include <string>

#include "app/PlanCalculation.h"
#include "app/PlanTable.h"
#include "app/ResultPanel.h"
#include "engine/components/ABSTable.h"
#include "platform/data/Component.h"
#include "platform/data/DataSource.h"
#include "platform/qt/TDBGrid.h"
#include "platform/qt/TPanel.h"

namespace tilgung {

// The web page the link label opens, and the host name it shows.
inline constexpr const char* kHomePageUrl = "https://tilgungsplan.example.org/";
inline constexpr const char* kHomePageHost = "tilgungsplan.example.org";

// Window caption, and the application title set at start-up.
inline constexpr const char* kFormCaption = "Darlehens Tilgungsplan";
inline constexpr const char* kApplicationTitle = "Zadudoverazurorurur";

// Size of the window's client area and the border around it.
inline constexpr int kClientWidth = 454;
inline constexpr int kClientHeight = 395;
inline constexpr int kBorderWidth = 10;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Components, in the layout's order. All are children of the window.
  QLineEdit* Edit1;
  QLabel* Label1;
  QLabel* Label3;
  QLineEdit* Edit3;
  QLabel* Label4;
  QLineEdit* Edit4;
  QComboBox* ComboBox1;
  QLabel* Label5;
  QLabel* Label6;
  QComboBox* ComboBox2;
  QLabel* Label7;
  QComboBox* ComboBox3;
  QLabel* Label2;
  QComboBox* ComboBox4;
  QDateEdit* DateTimePicker1;
  QLabel* Label8;
  platform::TPanel* Panel1;
  QLabel* Label9;
  QLabel* Label10;
  QLabel* Label11;
  QLabel* Label12;
  QLabel* Label13;
  QLabel* Label14;
  QLabel* Label15;
  QLabel* Label16;
  QLabel* Label17;
  QLabel* Label18;
  QLabel* Label19;
  QLabel* Label20;
  QLabel* Label21;
  QLabel* Label22;
  QLabel* Label23;
  QLabel* Label24;
  QLabel* Label25;
  QLabel* Label26;
  platform::TPanel* Panel2;
  platform::TClickLabel* Label27;
  platform::TPanel* Panel3;
  platform::TDBGrid* DBGrid1;
  // The plan table component and the grid's data source (owned by the
  // window's component owner, see above).
  TABSTable* ABSTable1;
  platform::TDataSource* DataSource1;

  // The area inside the window's border in which the layout places its
  // components (kClientWidth x kClientHeight at design size).
  QWidget* ClientArea() const { return client_; }

  // Creates the plan table `tableName` in "MEMORY" through a table component
  // of its own, freed before returning (on failure too). Returns true; the
  // engine's errors propagate.
  bool DarlehenDatenbank(const std::string& tableName);

  // The inputs as the recalculation reads them from the controls.
  TPlanInputs ReadInputs() const;

  // The selected item of an editable combo box: the item whose text the box
  // shows, or -1 when the typed text matches no item.
  static int ItemIndex(const QComboBox* box);

  const TPlanResult& LastResult() const { return lastResult_; }

  // False while the last recalculation failed: the grid then still shows the
  // plan of earlier inputs, and the grid's actions refuse to pass it on.
  bool PlanIsCurrent() const { return recalculations_ == 0 || lastResult_.ok; }

  // The texts the result panel shows: every run's texts laid over the
  // previous ones (a text a run did not set stays as it was).
  const TPlanPanelTexts& ShownPanel() const { return shownPanel_; }

  // --- for tests ---
  // Number of recalculations run so far.
  int RecalculationCount() const { return recalculations_; }

 public slots:
  void FormCreate();
  void Edit1Change();
  void Label27Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildLayout();
  void NameComponents();
  void BindHandlers();
  void DockPanels();
  void ShowResultPanel(const TPlanPanelTexts& texts);

  // Owner of ABSTable1 and DataSource1; declared before the sink that
  // borrows ABSTable1.
  std::unique_ptr<platform::TComponent> components_;
  std::unique_ptr<TPlanTableSink> planSink_;
  QWidget* client_ = nullptr;
  int recalculations_ = 0;
  TPlanResult lastResult_;
  TPlanPanelTexts shownPanel_;
  // The value labels in the order of the result panel's table.
  std::array<QLabel*, std::size(kResultPanel)> resultValues_{};
};

// The picker's display format: the user's short date pattern with a
// four-digit year, in the date editor's notation ("dd.MM.yyyy" in Germany).
QString ShortDateEditFormat();

}  // namespace tilgung
