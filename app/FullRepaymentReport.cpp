#include "app/FullRepaymentReport.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <array>
#include <cstdio>
#include <string_view>

#include "app/FullRepaymentTable.h"
#include "app/OutputFile.h"
#include "app/UserText.h"
#include "platform/locale/Locale.h"

namespace tilgung {

namespace {

using TCells = std::array<std::string, kFullRepaymentColumnCount>;

// Relative widths of the columns: the numbers narrow, the money wide.
constexpr int kShares[kFullRepaymentColumnCount] = {35, 45, 40, 30, 100, 85, 95, 85, 85};

QFont Font(int pointSize, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

// The painter needs an application object for its fonts; the command line
// has none and may run without a display.
void EnsureGuiApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
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

TCells CellsOf(const TFullRepaymentRow& r) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  auto money = [&](double v) { return fs.FormatCurrency(v, 15, fs.CurrencyDigits()); };
  return {std::to_string(r.Nr),   std::to_string(r.Jahr), std::to_string(r.Monat),
          std::to_string(r.Tag),  money(r.Darlehen),      money(r.Tilgung),
          money(r.Sondertilgung), money(r.Zins),          money(r.Rate)};
}

// Draws the report; the number of pages, 0 when the painter could not start.
int Render(QPagedPaintDevice& device, const TPlanReportTexts& texts,
           const std::vector<TFullRepaymentRow>& rows) {
  QPainter p;
  if (!p.begin(&device)) return 0;
  const int width = device.width(), height = device.height();
  const QFont body = Font(8), bold = Font(8, true), title = Font(14, true);
  const QFontMetrics metrics(body, &device);
  const int line = metrics.lineSpacing() * 6 / 5;
  const int titleLine = QFontMetrics(title, &device).lineSpacing() * 3 / 2;
  const int headHeight =
      titleLine + line * static_cast<int>(texts.inputs.size() + texts.results.size() + 2);
  const TReportPagination pages = PaginateReport(
      static_cast<int>(rows.size()), (headHeight + line - 1) / line, height - 2 * line, line);
  int shares = 0;
  for (int share : kShares) shares += share;
  auto drawRow = [&](int y, const TCells& cells, const QFont& font) {
    p.setFont(font);
    const QFontMetrics m(font, &device);
    int x = 0;
    for (int c = 0; c < kFullRepaymentColumnCount; ++c) {
      const int w = width * kShares[c] / shares;
      const QString text =
          m.elidedText(QString::fromStdString(cells[c]), Qt::ElideRight, w - line / 3);
      p.drawText(QRect(x, y, w - line / 3, line), Qt::AlignRight | Qt::AlignVCenter, text);
      x += w;
    }
    p.drawLine(0, y + line - 1, width, y + line - 1);
    return y + line;
  };
  TCells titles;
  for (int c = 0; c < kFullRepaymentColumnCount; ++c) titles[c] = kFullRepaymentFieldNames[c];

  std::size_t row = 0;
  for (int page = 1; page <= pages.pages; ++page) {
    if (page > 1) device.newPage();
    int y = 0;
    if (page == 1) {
      p.setFont(title);
      p.drawText(QRect(0, 0, width, titleLine), Qt::AlignLeft | Qt::AlignTop,
                 QString::fromStdString(texts.title));
      y = titleLine;
      int captionWidth = 0;
      for (const TCaptionedTexts* group : {&texts.inputs, &texts.results}) {
        for (const auto& [caption, text] : *group) {
          captionWidth =
              std::max(captionWidth, metrics.horizontalAdvance(QString::fromStdString(caption)));
        }
      }
      captionWidth += metrics.horizontalAdvance(QStringLiteral("MM"));
      p.setFont(body);
      for (const TCaptionedTexts* group : {&texts.inputs, &texts.results}) {
        for (const auto& [caption, text] : *group) {
          p.drawText(QRect(0, y, captionWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(caption));
          p.drawText(QRect(captionWidth, y, width - captionWidth, line),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(text));
          y += line;
        }
        y += line;
      }
    }
    const int count = page == 1 ? pages.firstPageRows : pages.otherPageRows;
    y = drawRow(y, titles, bold);
    for (int i = 0; i < count && row < rows.size(); ++i, ++row) {
      y = drawRow(y, CellsOf(rows[row]), body);
    }
    p.setFont(body);
    p.drawText(QRect(0, height - line, width, line), Qt::AlignCenter,
               QStringLiteral("Seite %1 von %2").arg(page).arg(pages.pages));
  }
  p.end();
  return pages.pages;
}

}  // namespace

bool WriteFullRepaymentPdf(const std::string& file, const TPlanReportTexts& texts,
                           const std::vector<TFullRepaymentRow>& rows, std::string* error) {
  EnsureGuiApplication();
  // The report is made in memory and written as a whole, every step checked.
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
                                     QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
    pages = Render(writer, texts, rows);
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
