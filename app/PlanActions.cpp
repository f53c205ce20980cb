#include "app/PlanActions.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QWidget>

#include "app/OutputFile.h"
#include "app/PlanChartDialog.h"
#include "app/PlanExport.h"
#include "app/UserText.h"
#include "app/YearSummaryDialog.h"
#include "platform/data/DataSet.h"
#include "platform/locale/Locale.h"

namespace tilgung {

TPlanActions::TPlanActions(QWidget* grid, platform::TDataSet& plan, TTextsProvider texts,
                           TCurrentCheck isCurrent, TSheetReader reader)
    : QObject(grid),
      grid_(grid),
      plan_(plan),
      texts_(std::move(texts)),
      isCurrent_(std::move(isCurrent)),
      reader_(std::move(reader)) {
  copy_ = Add("Kopieren", QKeySequence::Copy, &TPlanActions::CopyToClipboard);
  print_ = Add("Drucken…", QKeySequence::Print, &TPlanActions::PrintPreview);
  csv_ = Add("Als CSV speichern…", QKeySequence::Save, &TPlanActions::AskAndSaveCsv);
  summary_ =
      Add("Jahresübersicht…", QKeySequence(Qt::CTRL | Qt::Key_J), &TPlanActions::ShowYearSummary);
  chart_ = Add("Diagramm…", QKeySequence(Qt::CTRL | Qt::Key_D), &TPlanActions::ShowChart);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this, &TPlanActions::ShowContextMenu);
}

QAction* TPlanActions::Add(const char* text, const QKeySequence& keys,
                           void (TPlanActions::*slot)()) {
  auto* action = new QAction(QString::fromUtf8(text), grid_);
  action->setShortcut(keys);
  // The shortcuts work while the grid has the focus, not in the inputs.
  action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  action->setShortcutVisibleInContextMenu(true);
  grid_->addAction(action);
  // No exception of the dataset may leave a Qt slot: it goes to the
  // dataset's own handler, as the grid's errors do.
  connect(action, &QAction::triggered, this, [this, slot, action] {
    try {
      if (RefuseStalePlan(action)) return;
      (this->*slot)();
    } catch (const std::exception& e) {
      plan_.ReportException(e);
    }
  });
  return action;
}

bool TPlanActions::RefuseStalePlan(const QAction* action) {
  if (!isCurrent_ || isCurrent_()) return false;
  // The message box's title is the action's name without its ellipsis.
  QString title = action->text();
  if (title.endsWith(QChar(0x2026))) title.chop(1);
  QMessageBox::information(grid_->window(), title, QString::fromUtf8(kPlanNotCurrentText));
  return true;
}

TPlanSheet TPlanActions::Sheet() {
  return reader_ ? reader_() : ReadPlanSheet(plan_);
}

void TPlanActions::ShowContextMenu(const QPoint& pos) {
  QMenu menu(grid_);
  menu.addActions(grid_->actions());
  menu.exec(grid_->mapToGlobal(pos));
}

void TPlanActions::CopyToClipboard() {
  QApplication::clipboard()->setMimeData(PlanSheetMimeData(Sheet()).release());
}

bool TPlanActions::SaveCsv(const QString& file, QString* error) {
  const std::string csv = PlanSheetCsv(Sheet(), platform::FormatSettings::User());
  // Written to a new file and renamed: a failed save leaves an older file as
  // it was.
  const std::string name = QFile::encodeName(file).toStdString();
  if (const int failed = WriteWholeFile(name, csv)) {
    if (error) {
      *error = QStringLiteral("%1 konnte nicht gespeichert werden: %2.")
                   .arg(QString::fromStdString(QuoteUserText(name)),
                        QString::fromStdString(WriteFailureReason(failed)));
    }
    return false;
  }
  return true;
}

void TPlanActions::AskAndSaveCsv() {
  const QString file = QFileDialog::getSaveFileName(
      grid_->window(), QStringLiteral("Als CSV speichern"), QStringLiteral("Tilgungsplan.csv"),
      QStringLiteral("CSV-Dateien (*.csv);;Alle Dateien (*)"));
  if (file.isEmpty()) return;
  QString error;
  if (!SaveCsv(file, &error)) {
    QMessageBox::warning(grid_->window(), QStringLiteral("Als CSV speichern"), error);
  }
}

void TPlanActions::PrintPreview() {
  const TPlanColumns columns = SheetColumns(Sheet());
  const TPlanReportTexts texts = texts_().report;
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QString::fromStdString(texts.title));
  QPrintPreviewDialog preview(&printer, grid_->window());
  preview.setWindowTitle(QStringLiteral("Druckvorschau"));
  connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
          [&](QPrinter* target) { RenderPlanReport(*target, texts, columns); });
  preview.exec();
}

void TPlanActions::ShowYearSummary() {
  const TPlanWindowTexts texts = texts_();
  TYearSummaryDialog dialog(SummarizeByYear(Sheet()), texts.rateKnown, texts.nominalRate,
                            texts.periodsPerYear, grid_->window());
  dialog.exec();
}

void TPlanActions::ShowChart() {
  TPlanChartDialog dialog(Sheet(), grid_->window());
  dialog.exec();
}

TPlanActions* InstallPlanActions(QWidget* grid, platform::TDataSet& plan,
                                 TPlanActions::TTextsProvider texts,
                                 TPlanActions::TCurrentCheck isCurrent,
                                 TPlanActions::TSheetReader reader) {
  return new TPlanActions(grid, plan, std::move(texts), std::move(isCurrent), std::move(reader));
}

}  // namespace tilgung
