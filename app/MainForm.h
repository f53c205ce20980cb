// The main window of the repayment plan calculator, built in code from its
// fixed layout. Every component is a member named as in the layout; the
// widgets are children of the window (Qt's parent ownership frees them), the
// grid's model is owned by the window as well.
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
#include <QTableView>
#include <QWidget>

#include "app/PlanCalculation.h"
#include "app/PlanGridModel.h"
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
  QTableView* DBGrid1;

  // The area inside the window's border in which the layout places its
  // components (kClientWidth x kClientHeight at design size).
  QWidget* ClientArea() const { return client_; }

  // Stand-in for the plan table: the grid's model and the run's row sink.
  TPlanGridModel* PlanRows() const { return planRows_; }

  // The inputs as the recalculation reads them from the controls.
  TPlanInputs ReadInputs() const;

  // The selected item of an editable combo box: the item whose text the box
  // shows, or -1 when the typed text matches no item.
  static int ItemIndex(const QComboBox* box);

  // Number of recalculations run so far (for tests and diagnostics).
  int RecalculationCount() const { return recalculations_; }
  const TPlanResult& LastResult() const { return lastResult_; }

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

  QWidget* client_ = nullptr;
  TPlanGridModel* planRows_ = nullptr;
  int recalculations_ = 0;
  TPlanResult lastResult_;
};

// The picker's display format: the user's short date pattern with a
// four-digit year, in the date editor's notation ("dd.MM.yyyy" in Germany).
QString ShortDateEditFormat();

}  // namespace tilgung
