#include "app/MainForm.h"

#include <QDesktopServices>
#include <QSignalBlocker>
#include <QUrl>
#include <iterator>
#include <span>

#include "app/FullRepaymentDialog.h"
#include "app/PlanActions.h"
#include "app/PlanReportTexts.h"
#include "app/PlanTexts.h"
#include "app/ResultPanel.h"
#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"
#include "platform/qt/TElidedLabel.h"

namespace tilgung {

namespace {

constexpr int kControlHeight = 24;
constexpr int kLabelHeight = 16;
constexpr int kPanel1Height = 97;
constexpr int kPanel3Height = 154;
constexpr int kPanel2Height = 33;

constexpr const char* kSettlementItems[] = {"sofort", "nachträglich", "jahrlich", "halbjahrlich"};
constexpr const char* kPaymentModeItems[] = {"Periodenanfang", "Periodenende"};
constexpr const char* kTermItems[] = {"5 Jahre",  "8 Jahre",  "10 Jahre", "12 Jahre",
                                      "15 Jahre", "20 Jahre", "25 Jahre", "30 Jahre"};

// The window's members of the result panel's labels, by component name.
constexpr std::pair<QLabel * TForm1::*, const char*> kResultPanelMembers[] = {
    {&TForm1::Label9, "Label9"},   {&TForm1::Label10, "Label10"}, {&TForm1::Label11, "Label11"},
    {&TForm1::Label12, "Label12"}, {&TForm1::Label13, "Label13"}, {&TForm1::Label14, "Label14"},
    {&TForm1::Label15, "Label15"}, {&TForm1::Label16, "Label16"}, {&TForm1::Label17, "Label17"},
    {&TForm1::Label18, "Label18"}, {&TForm1::Label19, "Label19"}, {&TForm1::Label20, "Label20"},
    {&TForm1::Label21, "Label21"}, {&TForm1::Label22, "Label22"}, {&TForm1::Label25, "Label25"},
    {&TForm1::Label26, "Label26"}};

QFont ArialFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  return font;
}

// A label that sizes itself to its text (the input area's captions).
QLabel* AutoLabel(QWidget* parent, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->adjustSize();
  label->setGeometry(left, top, label->sizeHint().width(), kLabelHeight);
  return label;
}

// A caption label of the result panel: fixed size, tooltip background.
QLabel* CaptionLabel(QWidget* parent, const char* text, int left, int top, int width) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(left, top, width, kLabelHeight);
  label->setAutoFillBackground(true);
  QPalette pal = label->palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
  pal.setColor(QPalette::WindowText, pal.color(QPalette::ToolTipText));
  label->setPalette(pal);
  return label;
}

// A value label of the result panel: fixed size, empty, the panel's colour.
// A text too wide for it is shortened with "…" and shown whole as tooltip.
QLabel* ValueLabelAt(QWidget* parent, int left, int top) {
  auto* label = new platform::TElidedLabel(parent);
  // Error texts repeat the user's input: never read them as markup.
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(left, top, 73, kLabelHeight);
  return label;
}

QComboBox* EditableCombo(QWidget* parent, const char* text, std::span<const char* const> items,
                         int left, int top, int width) {
  auto* box = new QComboBox(parent);
  box->setEditable(true);
  // Typing and pressing Enter must not add items.
  box->setInsertPolicy(QComboBox::NoInsert);
  for (const char* item : items) box->addItem(QString::fromUtf8(item));
  const int index = box->findText(QString::fromUtf8(text));
  if (index >= 0) box->setCurrentIndex(index);
  box->setEditText(QString::fromUtf8(text));
  box->setGeometry(left, top, width, kControlHeight);
  return box;
}

QLineEdit* Edit(QWidget* parent, const char* text, int left, int top, int width) {
  auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
  edit->setGeometry(left, top, width, kControlHeight);
  return edit;
}

platform::TDateTime ToDateTime(const QDate& date) {
  return platform::EncodeDate(date.year(), date.month(), date.day());
}

QDate ToQDate(platform::TDateTime value) {
  int y, m, d;
  platform::DecodeDate(value, y, m, d);
  return QDate(y, m, d);
}

}  // namespace

QString ShortDateEditFormat() {
  // Format a date whose parts are all distinguishable and map each run of
  // digits back to its field; any other letters are quoted literally.
  const std::string sample =
      platform::FormatSettings::User().FormatShortDate(platform::EncodeDate(2033, 4, 5));
  QString format;
  QString literal;
  auto flushLiteral = [&] {
    if (literal.isEmpty()) return;
    format += QLatin1Char('\'') + literal + QLatin1Char('\'');
    literal.clear();
  };
  const QString text = QString::fromStdString(sample);
  bool year = false, month = false, day = false;
  for (int i = 0; i < text.size();) {
    if (text[i].isDigit()) {
      int j = i;
      while (j < text.size() && text[j].isDigit()) ++j;
      const QString run = text.mid(i, j - i);
      flushLiteral();
      if (run == QLatin1String("2033") || run == QLatin1String("33")) {
        format += QLatin1String("yyyy");
        year = true;
      } else if (run == QLatin1String("04") || run == QLatin1String("4")) {
        format += run.size() == 2 ? QLatin1String("MM") : QLatin1String("M");
        month = true;
      } else if (run == QLatin1String("05") || run == QLatin1String("5")) {
        format += run.size() == 2 ? QLatin1String("dd") : QLatin1String("d");
        day = true;
      } else {
        return QStringLiteral("dd.MM.yyyy");
      }
      i = j;
    } else if (text[i].isLetter()) {
      literal += text[i++];
    } else {
      flushLiteral();
      format += text[i++];
    }
  }
  flushLiteral();
  if (!year || !month || !day) return QStringLiteral("dd.MM.yyyy");
  return format;
}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), components_(std::make_unique<platform::TComponent>(nullptr)) {
  components_->SetName("Form1");
  ABSTable1 = new TABSTable(components_.get());
  ABSTable1->SetName("ABSTable1");
  ConfigurePlanComponent(*ABSTable1);
  DataSource1 = new platform::TDataSource(components_.get());
  DataSource1->SetName("DataSource1");
  DataSource1->SetDataSet(ABSTable1);
  planSink_ = std::make_unique<TPlanTableSink>(
      *ABSTable1, [this](const std::string& name) { return DarlehenDatenbank(name); });
  BuildLayout();
  BindHandlers();
  FormCreate();
}

TForm1::~TForm1() {
  // The widgets borrow the dataset (the grid through its link, the grid's
  // actions directly): they go first, then the components.
  delete client_;
  client_ = nullptr;
  planSink_.reset();
  components_.reset();
}

bool TForm1::DarlehenDatenbank(const std::string& tableName) {
  return CreatePlanTable(tableName);
}

void TForm1::BuildLayout() {
  setWindowTitle(QString::fromUtf8(kFormCaption));
  setFont(ArialFont());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);
  resize(kClientWidth + 2 * kBorderWidth, kClientHeight + 2 * kBorderWidth);
  move(223, 115);

  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("ClientArea"));
  client_->setGeometry(kBorderWidth, kBorderWidth, kClientWidth, kClientHeight);
  QWidget* c = client_;

  // Input area, in the layout's declaration order.
  Edit1 = Edit(c, "10000", 120, 0, 97);
  Label1 = AutoLabel(c, "Darlehensbetrag", 20, 2);
  Label3 = AutoLabel(c, "Nominalzins", 251, 2);
  Edit3 = Edit(c, "4", 328, 0, 42);
  Label4 = AutoLabel(c, "Anfangstilgung", 237, 24);
  Edit4 = Edit(c, "5", 328, 24, 42);
  ComboBox1 = EditableCombo(c, "monatlich", kFrequencyItems, 120, 24, 97);
  Label5 = AutoLabel(c, "Zahlweise", 20, 24);
  Label6 = AutoLabel(c, "Verrechnung", 20, 56);
  ComboBox2 = EditableCombo(c, "sofort", kSettlementItems, 16, 72, 97);
  ComboBox2->setEnabled(false);
  Label7 = AutoLabel(c, "Zahlungsmodus", 128, 56);
  ComboBox3 = EditableCombo(c, "Periodenende", kPaymentModeItems, 128, 72, 113);
  ComboBox3->setEnabled(false);
  Label2 = AutoLabel(c, "Zinsbindung", 247, 56);
  ComboBox4 = EditableCombo(c, "10 Jahre", kTermItems, 247, 72, 81);
  DateTimePicker1 = new QDateEdit(c);
  DateTimePicker1->setCalendarPopup(true);
  DateTimePicker1->setDisplayFormat(ShortDateEditFormat());
  DateTimePicker1->setDateRange(QDate(1601, 1, 1), QDate(9999, 12, 31));
  DateTimePicker1->setGeometry(334, 72, 100, kControlHeight);
  Label8 = AutoLabel(c, "Beginn Tilgung", 334, 54);

  // Result panel with caption and value labels, built from its table.
  Panel1 = new platform::TPanel(c);
  Panel1->SetBevelInner(platform::TPanel::TBevel::Lowered);
  for (std::size_t i = 0; i < std::size(kResultPanel); ++i) {
    const TResultPanelRow& row = kResultPanel[i];
    QLabel* caption = CaptionLabel(Panel1, row.caption, row.captionLeft, row.top, row.captionWidth);
    caption->setObjectName(QString::fromLatin1(row.captionName));
    caption->setVisible(row.captionShown);
    resultValues_[i] = ValueLabelAt(Panel1, row.valueLeft, row.top);
    resultValues_[i]->setObjectName(QString::fromLatin1(row.valueName));
  }
  for (const auto& [member, name] : kResultPanelMembers) {
    this->*member = Panel1->findChild<QLabel*>(QString::fromLatin1(name));
  }
  Label15->setAlignment(Qt::AlignRight | Qt::AlignTop);
  Label23 = AutoLabel(c, "%", 376, 2);
  Label24 = AutoLabel(c, "%", 376, 24);
  QFont label26Font(QStringLiteral("MS Sans Serif"));
  label26Font.setPixelSize(11);
  label26Font.setBold(true);
  Label26->setFont(label26Font);

  // Link panel.
  Panel2 = new platform::TPanel(c);
  Label27 = new platform::TClickLabel(Panel2);
  Label27->setText(QStringLiteral("weitere interessante Programme gibt es auf ") +
                   QString::fromLatin1(kHomePageHost));
  Label27->setAlignment(Qt::AlignCenter);
  QFont linkFont = ArialFont();
  linkFont.setUnderline(true);
  Label27->setFont(linkFont);
  QPalette linkPalette = Label27->palette();
  linkPalette.setColor(QPalette::WindowText, Qt::blue);
  Label27->setPalette(linkPalette);
  Label27->setCursor(Qt::PointingHandCursor);

  // Grid panel.
  Panel3 = new platform::TPanel(c);
  Panel3->SetCaption(QStringLiteral("Tilgungplan anzeigen"));
  Panel3->setCursor(Qt::PointingHandCursor);
  DBGrid1 = new platform::TDBGrid(Panel3);
  DBGrid1->SetTitleFont(ArialFont());
  for (int col = 0; col < kPlanColumnCount; ++col) {
    DBGrid1->AddColumn(QString::fromLatin1(kPlanFieldNames[col]), kPlanColumnWidths[col]);
  }
  DBGrid1->SetDataSource(DataSource1);
  DBGrid1->setCursor(Qt::ArrowCursor);
  InstallPlanActions(
      DBGrid1, *ABSTable1, [this] { return FormWindowTexts(*this); },
      [this] { return PlanIsCurrent(); });
  InstallFullRepaymentAction(*this);

  NameComponents();
  DockPanels();
}

void TForm1::NameComponents() {
  // Object names are the component names, so that the layout can be looked
  // up by name (tests, diagnostics); the result panel's labels got theirs
  // from its table.
  const std::pair<QWidget*, const char*> components[] = {
      {Edit1, "Edit1"},         {Label1, "Label1"},       {Label3, "Label3"},
      {Edit3, "Edit3"},         {Label4, "Label4"},       {Edit4, "Edit4"},
      {ComboBox1, "ComboBox1"}, {Label5, "Label5"},       {Label6, "Label6"},
      {ComboBox2, "ComboBox2"}, {Label7, "Label7"},       {ComboBox3, "ComboBox3"},
      {Label2, "Label2"},       {ComboBox4, "ComboBox4"}, {DateTimePicker1, "DateTimePicker1"},
      {Label8, "Label8"},       {Panel1, "Panel1"},       {Label23, "Label23"},
      {Label24, "Label24"},     {Panel2, "Panel2"},       {Label27, "Label27"},
      {Panel3, "Panel3"},       {DBGrid1, "DBGrid1"}};
  for (const auto& [widget, name] : components) widget->setObjectName(QString::fromLatin1(name));
}

void TForm1::DockPanels() {
  // Panels docked to the bottom edge, from the bottom up: Panel2, Panel3,
  // Panel1; each spans the full width.
  const int width = client_->width();
  int bottom = client_->height();
  bottom -= kPanel2Height;
  Panel2->setGeometry(0, bottom, width, kPanel2Height);
  bottom -= kPanel3Height;
  Panel3->setGeometry(0, bottom, width, kPanel3Height);
  bottom -= kPanel1Height;
  Panel1->setGeometry(0, bottom, width, kPanel1Height);
  Label27->setGeometry(Panel2->ClientRect());
  DBGrid1->setGeometry(Panel3->ClientRect());
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!client_) return;
  client_->setGeometry(kBorderWidth, kBorderWidth, std::max(0, width() - 2 * kBorderWidth),
                       std::max(0, height() - 2 * kBorderWidth));
  DockPanels();
}

void TForm1::BindHandlers() {
  connect(Edit1, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
  connect(Edit3, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
  connect(Edit4, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
  connect(ComboBox1, &QComboBox::editTextChanged, this, &TForm1::Edit1Change);
  connect(ComboBox4, &QComboBox::editTextChanged, this, &TForm1::Edit1Change);
  connect(DateTimePicker1, &QDateEdit::dateChanged, this, &TForm1::Edit1Change);
  connect(Label27, &platform::TClickLabel::clicked, this, &TForm1::Label27Click);
}

void TForm1::FormCreate() {
  // Setting the start value is not a change by the user: no recalculation.
  const QSignalBlocker blocker(DateTimePicker1);
  DateTimePicker1->setDate(ToQDate(platform::Today()));
}

int TForm1::ItemIndex(const QComboBox* box) {
  const QString text = box->currentText();
  const int current = box->currentIndex();
  if (current >= 0 && box->itemText(current) == text) return current;
  return box->findText(text);
}

TPlanInputs TForm1::ReadInputs() const {
  TPlanInputs in;
  in.amountText = Edit1->text().toStdString();
  in.rateText = Edit3->text().toStdString();
  in.repaymentText = Edit4->text().toStdString();
  in.frequencyIndex = ItemIndex(ComboBox1);
  in.termText = ComboBox4->currentText().toStdString();
  in.startDate = ToDateTime(DateTimePicker1->date());
  return in;
}

void TForm1::ShowResultPanel(const TPlanPanelTexts& texts) {
  // The one place where the results meet the value labels. A text the run
  // did not set leaves its label as it was.
  MergePanelTexts(shownPanel_, texts);
  for (std::size_t i = 0; i < std::size(kResultPanel); ++i) {
    const std::optional<std::string>& text = texts.*kResultPanel[i].result;
    if (text.has_value()) resultValues_[i]->setText(QString::fromStdString(*text));
  }
}

void TForm1::Edit1Change() {
  ++recalculations_;
  // The grid hears of the new plan once, when the run is over (on its error
  // path too: the run does not throw), not of every step of every row.
  ABSTable1->DisableControls();
  lastResult_ = RecalculatePlan(ReadInputs(), *planSink_);
  ABSTable1->EnableControls();
  ShowResultPanel(lastResult_.panel);
}

void TForm1::Label27Click() {
  QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
}

}  // namespace tilgung
