#include "app/YearSummaryDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/locale/Locale.h"

namespace tilgung {

namespace {

QString Money(double value) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  return QString::fromStdString(fs.FormatCurrency(value, 15, fs.CurrencyDigits()));
}

// The extras column, when shown, stands after Tilgung.
void SetRow(QTableWidget* table, int row, const QString& year, const TYearSummaryRow& values,
            bool extras) {
  QStringList cells = {year, Money(values.repayment), Money(values.interest),
                       QString::number(values.instalments), Money(values.remainingDebt)};
  if (extras) cells.insert(2, Money(values.extras));
  for (int c = 0; c < cells.size(); ++c) {
    auto* item = new QTableWidgetItem(cells[c]);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table->setItem(row, c, item);
  }
}

}  // namespace

QString EffectiveRateText(double nominalRate, int periodsPerYear) {
  const double rate = EffectiveAnnualRate(nominalRate, periodsPerYear);
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", rate);
  std::string text = buf;
  if (const auto dot = text.find('.'); dot != std::string::npos) {
    text.replace(dot, 1, fs.DecimalSeparator());
  }
  return QString::fromStdString(text) + QStringLiteral(" %");
}

TYearSummaryDialog::TYearSummaryDialog(const TYearSummary& summary, bool rateKnown,
                                       double nominalRate, int periodsPerYear, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Jahresübersicht"));
  auto* layout = new QVBoxLayout(this);
  QStringList titles = {QStringLiteral("Jahr"), QStringLiteral("Tilgung"), QStringLiteral("Zinsen"),
                        QStringLiteral("Raten"), QStringLiteral("Restschuld")};
  if (summary.hasExtras) titles.insert(2, QStringLiteral("Sondertilgung"));
  table_ = new QTableWidget(static_cast<int>(summary.years.size()) + 1,
                            static_cast<int>(titles.size()), this);
  table_->setObjectName(QStringLiteral("YearSummaryTable"));
  table_->setHorizontalHeaderLabels(titles);
  table_->verticalHeader()->setVisible(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Tab moves on to the buttons instead of through the cells.
  table_->setTabKeyNavigation(false);
  int row = 0;
  for (const TYearSummaryRow& year : summary.years) {
    SetRow(table_, row++, QString::number(year.year), year, summary.hasExtras);
  }
  SetRow(table_, row, QStringLiteral("Summe"), summary.total, summary.hasExtras);
  QFont bold = table_->font();
  bold.setBold(true);
  for (int c = 0; c < table_->columnCount(); ++c) table_->item(row, c)->setFont(bold);
  table_->resizeColumnsToContents();
  table_->resizeRowsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_);

  rate_ = new QLabel(this);
  rate_->setObjectName(QStringLiteral("EffectiveRate"));
  rate_->setText(
      QStringLiteral("Effektivzins: ") +
      (rateKnown ? EffectiveRateText(nominalRate, periodsPerYear) : QStringLiteral("–")));
  layout->addWidget(rate_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(520, 460);
}

}  // namespace tilgung
