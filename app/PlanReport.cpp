#include "app/PlanReport.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>

#include "app/OutputFile.h"
#include "app/UserText.h"

namespace tilgung {

namespace {

QFont ReportFont(int pointSize, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

// The application object the painter needs for fonts; the command line has
// none and may run without a display, so it gets one off screen.
void EnsureGuiApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The toolkit's notes about the missing desktop are no concern of a file
  // writer; only its errors reach stderr.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
      std::fprintf(stderr, "tilgungsplan: %s\n", text.toLocal8Bit().constData());
    }
  });
  static int argc = 1;
  static char name[] = "tilgungsplan";
  static char* argv[] = {name, nullptr};
  static auto* app = new QGuiApplication(argc, argv);
  (void)app;
}

class TReportPainter {
 public:
  TReportPainter(QPagedPaintDevice& device, const TPlanReportTexts& texts,
                 const TPlanColumns& columns)
      : device_(device), texts_(texts), columns_(columns) {
    for (int share : columns_.widths) shares_ += share;
  }

  int Run() {
    QPainter painter;
    if (!painter.begin(&device_)) return 0;
    p_ = &painter;
    width_ = device_.width();
    height_ = device_.height();
    // A table wider than the main plan's is set a point smaller, so that
    // its money columns keep room for their amounts.
    const int point = columns_.titles.size() > static_cast<std::size_t>(kPlanColumnCount) ? 8 : 9;
    bodyFont_ = ReportFont(point);
    boldFont_ = ReportFont(point, true);
    titleFont_ = ReportFont(14, true);
    line_ = QFontMetrics(bodyFont_, &device_).lineSpacing() * 6 / 5;
    titleLine_ = QFontMetrics(titleFont_, &device_).lineSpacing() * 3 / 2;
    const int headHeight =
        titleLine_ + line_ * static_cast<int>(texts_.inputs.size() + texts_.results.size() + 2);
    const int headLines = (headHeight + line_ - 1) / line_;
    // The page's last line is the page number; the one above stays free.
    const int rowCount = static_cast<int>(columns_.cells.size());
    const TReportPagination pages = PaginateReport(rowCount, headLines, height_ - 2 * line_, line_);
    int row = 0;
    for (int page = 1; page <= pages.pages; ++page) {
      if (page > 1) device_.newPage();
      int y = 0;
      if (page == 1) y = DrawHead();
      const int rows = page == 1 ? pages.firstPageRows : pages.otherPageRows;
      y = DrawRow(y, columns_.titles, boldFont_);
      for (int i = 0; i < rows && row < rowCount; ++i, ++row) {
        y = DrawRow(y, columns_.cells[static_cast<std::size_t>(row)], bodyFont_);
      }
      p_->setFont(bodyFont_);
      p_->drawText(QRect(0, height_ - line_, width_, line_), Qt::AlignCenter,
                   QStringLiteral("Seite %1 von %2").arg(page).arg(pages.pages));
    }
    painter.end();
    return pages.pages;
  }

 private:
  int DrawHead() {
    p_->setFont(titleFont_);
    p_->drawText(QRect(0, 0, width_, titleLine_), Qt::AlignLeft | Qt::AlignTop,
                 QString::fromStdString(texts_.title));
    int y = titleLine_;
    int captionWidth = 0;
    const QFontMetrics metrics(bodyFont_, &device_);
    for (const TCaptionedTexts* group : {&texts_.inputs, &texts_.results}) {
      for (const auto& [caption, text] : *group) {
        captionWidth =
            std::max(captionWidth, metrics.horizontalAdvance(QString::fromStdString(caption)));
      }
    }
    captionWidth += metrics.horizontalAdvance(QStringLiteral("MM"));
    p_->setFont(bodyFont_);
    for (const TCaptionedTexts* group : {&texts_.inputs, &texts_.results}) {
      for (const auto& [caption, text] : *group) {
        p_->drawText(QRect(0, y, captionWidth, line_), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(caption));
        p_->drawText(QRect(captionWidth, y, width_ - captionWidth, line_),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(text));
        y += line_;
      }
      y += line_;
    }
    return y;
  }

  int DrawRow(int y, const std::vector<std::string>& cells, const QFont& font) {
    p_->setFont(font);
    const int gap = line_ / 3;
    int x = 0;
    for (std::size_t c = 0; c < cells.size() && c < columns_.widths.size(); ++c) {
      const int w = width_ * columns_.widths[c] / std::max(1, shares_);
      // Every cell is a number: right-aligned, and never cut off silently.
      const QString text =
          QFontMetrics(font, &device_)
              .elidedText(QString::fromStdString(cells[c]), Qt::ElideRight, w - gap);
      p_->drawText(QRect(x, y, w - gap, line_), Qt::AlignRight | Qt::AlignVCenter, text);
      x += w;
    }
    p_->drawLine(0, y + line_ - 1, width_, y + line_ - 1);
    return y + line_;
  }

  QPagedPaintDevice& device_;
  const TPlanReportTexts& texts_;
  const TPlanColumns& columns_;
  int shares_ = 0;  // the sum of the columns' widths
  QPainter* p_ = nullptr;
  QFont bodyFont_, boldFont_, titleFont_;
  int width_ = 0, height_ = 0, line_ = 1, titleLine_ = 1;
};

}  // namespace

TReportPagination PaginateReport(int rowCount, int headLines, int pageHeight, int lineHeight) {
  TReportPagination p;
  const int linesPerPage = std::max(2, pageHeight / std::max(1, lineHeight));
  // One line of every page holds the column titles.
  p.otherPageRows = linesPerPage - 1;
  p.firstPageRows = std::max(1, linesPerPage - 1 - headLines);
  const int rest = std::max(0, rowCount - p.firstPageRows);
  p.pages = 1 + (rest + p.otherPageRows - 1) / p.otherPageRows;
  return p;
}

int RenderPlanReport(QPagedPaintDevice& device, const TPlanReportTexts& texts,
                     const TPlanColumns& columns) {
  return TReportPainter(device, texts, columns).Run();
}

bool WritePlanPdf(const std::string& file, const TPlanReportTexts& texts,
                  const TPlanColumns& columns, std::string* error) {
  EnsureGuiApplication();
  // The writer reports no failed write of its own: the report is made in
  // memory and then written as a whole, with every step checked.
  QByteArray pdf;
  int pages = 0;
  {
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setTitle(QString::fromStdString(texts.title));
    writer.setCreator(QStringLiteral("tilgungsplan"));
    writer.setResolution(300);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 15, 18, 15), QPageLayout::Millimeter));
    pages = RenderPlanReport(writer, texts, columns);
  }
  if (pages == 0 || pdf.isEmpty()) {
    if (error) {
      *error = QuoteUserText(file) +
               " konnte nicht geschrieben werden: der Bericht ließ sich nicht zeichnen.";
    }
    return false;
  }
  if (const int failed = WriteWholeFile(
          file, std::string_view(pdf.constData(), static_cast<std::size_t>(pdf.size())))) {
    if (error) *error = WriteFailureMessage(file, failed);
    return false;
  }
  return true;
}

}  // namespace tilgung
