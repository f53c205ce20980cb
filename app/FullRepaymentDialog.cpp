#include "app/FullRepaymentDialog.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/FullRepaymentSheet.h"
#include "app/FullRepaymentTable.h"
#include "app/MainForm.h"
#include "app/PlanActions.h"
#include "app/PlanReportTexts.h"
#include "app/UserText.h"
#include "engine/components/ABSTable.h"
#include "platform/data/DataSource.h"
#include "platform/locale/Locale.h"
#include "platform/qt/TDBGrid.h"

namespace tilgung {

namespace {

constexpr const char* kInvalidProperty = "invalid";

QString Money(double value) {
  return QString::fromStdString(platform::FormatSettings::User().FormatCurrency(value, 10, 2));
}

QString Date(platform::TDateTime value) {
  return QString::fromStdString(platform::FormatSettings::User().FormatShortDate(value));
}

// "Datum Betrag" or "Datum=Betrag"; false when the line is neither.
bool ParseOneOffLine(const std::string& line, TOneOffExtra& extra) {
  std::size_t cut = line.find('=');
  if (cut == std::string::npos) {
    const std::size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos) return false;
    cut = line.find_first_of(" \t", begin);
    if (cut == std::string::npos) return false;
  }
  if (!platform::FormatSettings::User().TryParseDate(line.substr(0, cut), extra.date)) {
    return false;
  }
  extra.amountText = line.substr(cut + 1);
  return true;
}

// Whether the solver answers `a` as it answers `b`: it ignores the initial
// repayment it solves for and stops before the rate after the fixed period
// applies, so a keystroke in those two inputs does not solve again.
bool SameSolverInputs(const TFullRepaymentInputs& a, const TFullRepaymentInputs& b) {
  const auto sameOneOffs = [&] {
    if (a.oneOffs.size() != b.oneOffs.size()) return false;
    for (std::size_t i = 0; i < a.oneOffs.size(); ++i) {
      if (a.oneOffs[i].date != b.oneOffs[i].date ||
          a.oneOffs[i].amountText != b.oneOffs[i].amountText) {
        return false;
      }
    }
    return true;
  };
  return a.plan.amountText == b.plan.amountText && a.plan.rateText == b.plan.rateText &&
         a.plan.frequencyIndex == b.plan.frequencyIndex && a.plan.termText == b.plan.termText &&
         a.plan.startDate == b.plan.startDate && a.yearlyAmountText == b.yearlyAmountText &&
         a.yearlyMonthText == b.yearlyMonthText && a.yearlyFromText == b.yearlyFromText &&
         a.capText == b.capText && sameOneOffs();
}

}  // namespace

TFullRepaymentDialog::TFullRepaymentDialog(TForm1& form)
    : QDialog(&form),
      form_(form),
      table_(std::make_unique<TABSTable>(nullptr)),
      source_(std::make_unique<platform::TDataSource>(nullptr)) {
  setWindowTitle(QStringLiteral("Bis zur Volltilgung"));
  setModal(false);
  ConfigurePlanComponent(*table_);
  source_->SetDataSet(table_.get());
  sink_ = std::make_unique<TFullRepaymentTableSink>(*table_);

  auto* inputs = new QFormLayout;
  auto edit = [&](const char* label, const char* text, const char* name) {
    auto* e = new QLineEdit(QString::fromUtf8(text), this);
    e->setObjectName(QString::fromLatin1(name));
    inputs->addRow(QString::fromUtf8(label), e);
    connect(e, &QLineEdit::textChanged, this, &TFullRepaymentDialog::Recalculate);
    return e;
  };
  followRate_ = edit("Anschlusszins (%)", "", "FollowRate");
  followRate_->setPlaceholderText(QStringLiteral("wie Nominalzins"));
  yearlyAmount_ = edit("Jährliche Sondertilgung", "", "YearlyAmount");
  yearlyMonth_ = edit("im Monat (1-12)", "1", "YearlyMonth");
  yearlyFrom_ = edit("ab Jahr", "", "YearlyFrom");
  yearlyFrom_->setPlaceholderText(QStringLiteral("ab Beginn"));
  cap_ = edit("Sondertilgung höchstens (% p.a.)", "", "Cap");
  cap_->setPlaceholderText(QStringLiteral("ohne Grenze"));
  oneOffs_ = new QPlainTextEdit(this);
  oneOffs_->setObjectName(QStringLiteral("OneOffs"));
  oneOffs_->setPlaceholderText(QStringLiteral("je Zeile: Datum Betrag"));
  oneOffs_->setFixedHeight(60);
  inputs->addRow(QStringLiteral("Einmalige Sondertilgungen"), oneOffs_);
  connect(oneOffs_, &QPlainTextEdit::textChanged, this, &TFullRepaymentDialog::Recalculate);

  results_ = new QLabel(this);
  results_->setObjectName(QStringLiteral("Results"));
  results_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  results_->setWordWrap(true);
  solver_ = new QLabel(this);
  solver_->setObjectName(QStringLiteral("Solver"));
  solver_->setWordWrap(true);
  apply_ = new QPushButton(QStringLiteral("In Anfangstilgung übernehmen"), this);
  connect(apply_, &QPushButton::clicked, this, &TFullRepaymentDialog::ApplyClearingRepayment);

  grid_ = new platform::TDBGrid(this);
  for (int col = 0; col < kFullRepaymentColumnCount; ++col) {
    grid_->AddColumn(QString::fromLatin1(kFullRepaymentFieldNames[col]),
                     kFullRepaymentColumnWidths[col]);
  }
  grid_->SetDataSource(source_.get());
  grid_->setMinimumHeight(200);
  // The main plan's actions on this plan: they read the table when they run
  // and are refused while the dialog's inputs are not valid.
  actions_ = InstallPlanActions(
      grid_, *table_,
      [this] {
        TPlanWindowTexts texts = FormWindowTexts(form_);
        texts.report.title = "Bis zur Volltilgung";
        const std::pair<const char*, QLineEdit*> extras[] = {
            {"Anschlusszins (%)", followRate_},
            {"Jährliche Sondertilgung", yearlyAmount_},
            {"im Monat", yearlyMonth_},
            {"ab Jahr", yearlyFrom_},
            {"Sondertilgung höchstens (% p.a.)", cap_}};
        for (const auto& [caption, edit] : extras) {
          texts.report.inputs.emplace_back(caption, edit->text().toStdString());
        }
        texts.report.inputs.emplace_back(
            "Einmalige Sondertilgungen",
            oneOffs_->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("; ")).toStdString());
        texts.report.results.clear();
        for (const QString& line : results_->text().split(QLatin1Char('\n'))) {
          const int colon = line.indexOf(QStringLiteral(": "));
          if (colon < 0) {
            texts.report.results.emplace_back(line.toStdString(), "");
          } else {
            texts.report.results.emplace_back(line.left(colon).toStdString(),
                                              line.mid(colon + 2).toStdString());
          }
        }
        return texts;
      },
      [this] { return lastResult_.ok; },
      [this] {
        int lineError = 0;
        return ReadFullRepaymentSheet(*table_, ReadInputs(&lineError));
      });

  auto* top = new QHBoxLayout;
  top->addLayout(inputs, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(results_);
  right->addStretch(1);
  right->addWidget(solver_);
  right->addWidget(apply_);
  top->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(grid_, 1);
  resize(720, 560);

  // The main window's inputs: the same change events as its own plan.
  connect(form_.Edit1, &QLineEdit::textChanged, this, &TFullRepaymentDialog::Recalculate);
  connect(form_.Edit3, &QLineEdit::textChanged, this, &TFullRepaymentDialog::Recalculate);
  connect(form_.Edit4, &QLineEdit::textChanged, this, &TFullRepaymentDialog::Recalculate);
  connect(form_.ComboBox1, &QComboBox::editTextChanged, this, &TFullRepaymentDialog::Recalculate);
  connect(form_.ComboBox4, &QComboBox::editTextChanged, this, &TFullRepaymentDialog::Recalculate);
  connect(form_.DateTimePicker1, &QDateEdit::dateChanged, this, &TFullRepaymentDialog::Recalculate);
  Recalculate();
}

TFullRepaymentDialog::~TFullRepaymentDialog() {
  // The grid borrows the data source and the table: it goes first.
  delete grid_;
  grid_ = nullptr;
  source_->SetDataSet(nullptr);
  sink_.reset();
  table_.reset();
}

TFullRepaymentInputs TFullRepaymentDialog::ReadInputs(int* lineError) const {
  TFullRepaymentInputs in;
  in.plan = form_.ReadInputs();
  in.followRateText = followRate_->text().toStdString();
  in.yearlyAmountText = yearlyAmount_->text().toStdString();
  in.yearlyMonthText = yearlyMonth_->text().toStdString();
  in.yearlyFromText = yearlyFrom_->text().toStdString();
  in.capText = cap_->text().toStdString();
  if (lineError) *lineError = 0;
  const QStringList lines = oneOffs_->toPlainText().split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    if (lines[i].trimmed().isEmpty()) continue;
    TOneOffExtra extra;
    if (!ParseOneOffLine(lines[i].toStdString(), extra)) {
      if (lineError && *lineError == 0) *lineError = i + 1;
      continue;
    }
    in.oneOffs.push_back(extra);
  }
  return in;
}

void TFullRepaymentDialog::MarkInvalid(QWidget* input) {
  for (QWidget* w : std::initializer_list<QWidget*>{followRate_, yearlyAmount_, yearlyMonth_,
                                                    yearlyFrom_, cap_, oneOffs_}) {
    const bool invalid = w == input;
    w->setProperty(kInvalidProperty, invalid);
    w->setStyleSheet(invalid ? QStringLiteral("background-color: #ffd0d0;") : QString());
  }
}

void TFullRepaymentDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (stale_) Recalculate();
}

void TFullRepaymentDialog::Recalculate() {
  // A hidden dialog costs the main window's keystrokes nothing.
  if (!isVisible() && recalculations_ > 0) {
    stale_ = true;
    return;
  }
  stale_ = false;
  ++recalculations_;
  int lineError = 0;
  const TFullRepaymentInputs in = ReadInputs(&lineError);
  if (lineError > 0) {
    const QString line = oneOffs_->toPlainText().split(QLatin1Char('\n'))[lineError - 1];
    lastResult_ = TFullRepaymentResult{};
    lastResult_.failedField = TFullRepaymentField::OneOff;
    lastResult_.errorMessage = "Einmalige Sondertilgungen, Zeile " + std::to_string(lineError) +
                               " " + QuoteUserText(line.toStdString()) +
                               " ist kein Datum mit Betrag.";
    try {
      sink_->PrepareTable();  // no rows of earlier inputs stay on show
    } catch (const std::exception& e) {
      table_->ReportException(e);
    }
  } else {
    // The grid hears of the new plan once, not of every posted row, and
    // shows it from its first row.
    table_->DisableControls();
    lastResult_ = CalculateFullRepayment(in, *sink_);
    try {
      if (table_->Active()) table_->First();
    } catch (const std::exception& e) {
      table_->ReportException(e);
    }
    table_->EnableControls();
  }
  if (!lastResult_.ok) {
    lastAnswer_ = TClearingRepayment{};
    solvedFor_.reset();
  } else if (!solvedFor_ || !SameSolverInputs(in, *solvedFor_)) {
    lastAnswer_ = SolveClearingRepayment(in);
    solvedFor_ = in;
  }
  ShowResults();
}

void TFullRepaymentDialog::ShowResults() {
  const TFullRepaymentResult& r = lastResult_;
  QWidget* invalid = nullptr;
  switch (r.failedField) {
    case TFullRepaymentField::FollowRate:
      invalid = followRate_;
      break;
    case TFullRepaymentField::YearlyAmount:
      invalid = yearlyAmount_;
      break;
    case TFullRepaymentField::YearlyMonth:
      invalid = yearlyMonth_;
      break;
    case TFullRepaymentField::YearlyFrom:
      invalid = yearlyFrom_;
      break;
    case TFullRepaymentField::Cap:
      invalid = cap_;
      break;
    case TFullRepaymentField::OneOff:
    case TFullRepaymentField::OneOffCount:
      invalid = oneOffs_;
      break;
    default:
      break;
  }
  MarkInvalid(r.ok ? nullptr : invalid);
  if (!r.ok) {
    results_->setText(QString::fromStdString(r.errorMessage));
    solver_->clear();
    apply_->setEnabled(false);
    return;
  }
  QStringList lines;
  if (r.debtFreeDate) {
    lines << QStringLiteral("Schuldenfrei am: ") + Date(*r.debtFreeDate);
    lines << QStringLiteral("Laufzeit: %1 Jahre %2 Monate")
                 .arg(r.termMonths / 12)
                 .arg(r.termMonths % 12);
  } else {
    lines << QString::fromStdString(r.endMessage);
  }
  lines << QStringLiteral("Anzahl Raten: %1").arg(r.rowCount);
  lines << QStringLiteral("Summe Zinsen: ") + Money(r.interestSum);
  lines << QStringLiteral("Summe Sondertilgungen: ") + Money(r.extraSum);
  lines << QStringLiteral("Über der Höchstgrenze, nicht gezahlt: ") + Money(r.heldBack);
  lines << QStringLiteral("Restschuld am Ende der Zinsbindung: ") + Money(r.fixedPeriodDebt);
  if (r.interestSaved && r.monthsSaved) {
    lines << QStringLiteral("Zinsersparnis durch Sondertilgungen: ") + Money(*r.interestSaved);
    lines << QStringLiteral("Ersparte Monate: %1").arg(*r.monthsSaved);
  }
  for (const std::string& notice : r.notices) lines << QString::fromStdString(notice);
  results_->setText(lines.join(QLatin1Char('\n')));

  if (lastAnswer_.found) {
    solver_->setText(QStringLiteral("Getilgt bis zum Ende der Zinsbindung ab einer Anfangstilgung "
                                    "von ") +
                     QString::fromStdString(lastAnswer_.text) + QStringLiteral(" %"));
  } else {
    solver_->setText(
        QStringLiteral("Keine Anfangstilgung tilgt das Darlehen bis zum Ende der Zinsbindung."));
  }
  apply_->setEnabled(lastAnswer_.found);
}

void TFullRepaymentDialog::ApplyClearingRepayment() {
  if (!lastAnswer_.found) return;
  // The main window's change event recalculates both plans.
  form_.Edit4->setText(QString::fromStdString(lastAnswer_.text));
}

TFullRepaymentDialog* FindFullRepaymentDialog(TForm1& form) {
  return form.findChild<TFullRepaymentDialog*>(QString(), Qt::FindDirectChildrenOnly);
}

QAction* InstallFullRepaymentAction(TForm1& form) {
  auto* action = new QAction(QStringLiteral("Bis zur Volltilgung…"), form.DBGrid1);
  action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  action->setShortcutContext(Qt::WindowShortcut);
  action->setShortcutVisibleInContextMenu(true);
  form.DBGrid1->addAction(action);
  QObject::connect(action, &QAction::triggered, &form, [&form] {
    TFullRepaymentDialog* dialog = FindFullRepaymentDialog(form);
    if (!dialog) dialog = new TFullRepaymentDialog(form);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
  });
  return action;
}

}  // namespace tilgung
