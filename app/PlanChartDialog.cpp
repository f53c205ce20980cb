#include "app/PlanChartDialog.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "platform/locale/Locale.h"

namespace tilgung {

namespace {

// The user's conventions for the charts' numbers and dates: the toolkit's
// locale of the same name as the one the program formats with.
QLocale UserLocale() {
  return QLocale(QString::fromStdString(platform::FormatSettings::User().LocaleName()));
}

// The row's due date; a day the month lacks is drawn on the month's last day.
QDateTime DueDate(const TPlanRow& row) {
  QDate date(row.Jahr, row.Monat, 1);
  date = date.addDays(std::min(row.Tag, date.daysInMonth()) - 1);
  return QDateTime(date, QTime(0, 0));
}

QChartView* View(QChart* chart, QWidget* parent) {
  auto* view = new QChartView(chart, parent);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumSize(480, 240);
  return view;
}

}  // namespace

TPlanChartDialog::TPlanChartDialog(const TPlanSheet& sheet, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Diagramm"));
  auto* layout = new QVBoxLayout(this);
  if (sheet.values.empty()) {
    // Axes over no data would show the epoch's date: say so instead.
    empty_ = new QLabel(QString::fromUtf8(kEmptyChartText), this);
    empty_->setAlignment(Qt::AlignCenter);
    layout->addWidget(empty_);
  } else {
    AddCharts(sheet, layout);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(empty_ ? QSize(360, 140) : QSize(640, 620));
}

void TPlanChartDialog::AddCharts(const TPlanSheet& sheet, QLayout* layout) {
  const QLocale locale = UserLocale();
  debt_ = new QChart();
  debt_->setLocale(locale);
  debt_->setLocalizeNumbers(true);
  debt_->setTitle(QStringLiteral("Restschuld"));
  double maxDebt = 0;
  auto line = [&](const std::vector<TPlanRow>& rows, const char* name) {
    auto* series = new QLineSeries(debt_);
    series->setName(QString::fromUtf8(name));
    for (const TPlanRow& row : rows) {
      series->append(static_cast<qreal>(DueDate(row).toMSecsSinceEpoch()), row.Darlehen);
      maxDebt = std::max(maxDebt, row.Darlehen);
    }
    debt_->addSeries(series);
    return series;
  };
  QLineSeries* debt = line(sheet.values, "mit Sondertilgungen");
  // A plan with extras shows the same loan without them beside it.
  QLineSeries* without = nullptr;
  if (!sheet.withoutExtras.empty()) {
    without = line(sheet.withoutExtras, "ohne Sondertilgungen");
  } else {
    debt_->legend()->hide();
  }
  auto* dates = new QDateTimeAxis(debt_);
  dates->setFormat(locale.dateFormat(QLocale::ShortFormat));
  dates->setTickCount(6);
  auto* amounts = new QValueAxis(debt_);
  amounts->setLabelFormat(QStringLiteral("%.0f"));
  amounts->setRange(0, maxDebt > 0 ? maxDebt : 1);
  debt_->addAxis(dates, Qt::AlignBottom);
  debt_->addAxis(amounts, Qt::AlignLeft);
  for (QLineSeries* series : {debt, without}) {
    if (!series) continue;
    series->attachAxis(dates);
    series->attachAxis(amounts);
  }
  layout->addWidget(View(debt_, this));

  years_ = new QChart();
  years_->setLocale(locale);
  years_->setLocalizeNumbers(true);
  years_->setTitle(QStringLiteral("Zinsen und Tilgung je Jahr"));
  const TYearSummary summary = SummarizeByYear(sheet);
  auto* interest = new QBarSet(QStringLiteral("Zinsen"));
  auto* repayment = new QBarSet(QStringLiteral("Tilgung"));
  QStringList categories;
  double maxBar = 0;
  for (const TYearSummaryRow& year : summary.years) {
    categories << locale.toString(year.year).remove(locale.groupSeparator());
    *interest << year.interest;
    *repayment << year.repayment;
    maxBar = std::max({maxBar, year.interest, year.repayment});
  }
  auto* bars = new QBarSeries(years_);
  bars->append(interest);
  bars->append(repayment);
  years_->addSeries(bars);
  auto* yearAxis = new QBarCategoryAxis(years_);
  yearAxis->append(categories);
  auto* barAxis = new QValueAxis(years_);
  barAxis->setLabelFormat(QStringLiteral("%.0f"));
  barAxis->setRange(0, maxBar > 0 ? maxBar : 1);
  years_->addAxis(yearAxis, Qt::AlignBottom);
  years_->addAxis(barAxis, Qt::AlignLeft);
  bars->attachAxis(yearAxis);
  bars->attachAxis(barAxis);
  layout->addWidget(View(years_, this));
}

}  // namespace tilgung
