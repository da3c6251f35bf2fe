#include "app/window/Form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <utility>

#include "app/CommandLine.h"
#include "app/Loader.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// The window was drawn for "MS Sans Serif" 8 pt at 96 dpi, whose text is 13 px high. Where that
// face is missing the platform's sans-serif stands in at the same pixel size, so that every text
// still fits the place it was given.
constexpr int kFontPixelSize = 11;
constexpr int kStateFontPixelSize = 13;
constexpr int kClientWidth = 424;
constexpr int kClientHeight = 168;
constexpr QPoint kDesignedPosition{404, 432};
constexpr int kProgressDesignMaximum = 4194304;
constexpr std::chrono::milliseconds kLoadTimerInterval{500};
// A label that sizes itself to its text keeps this width while it has none.
constexpr int kLoadLabelEmptyWidth = 3;
constexpr int kLabelHeight = 13;

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The two labels that hug their texts were drawn this wide by the designed face. A stand-in that
// is wider is narrowed until their texts fit again, so that the whole window keeps one face.
struct HuggedText {
  int stringTableText;
  int width;
};
constexpr HuggedText kHuggedTexts[] = {{str::kLabelDevice, 38}, {str::kLabelSoftware, 191}};
constexpr int kNarrowestStretch = 75;

bool HuggedTextsFit(const QFont& font) {
  const QFontMetrics metrics(font);
  for (const HuggedText& hugged : kHuggedTexts) {
    const std::string text = StringTableText(hugged.stringTableText);
    if (metrics.horizontalAdvance(FromUtf8(text)) > hugged.width) return false;
  }
  return true;
}

QFont DesignedFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kFontPixelSize);
  for (int stretch = QFont::Unstretched - 1; stretch >= kNarrowestStretch && !HuggedTextsFit(font);
       --stretch) {
    font.setStretch(stretch);
  }
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& geometry) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  // None of the buttons is a default button: Enter must never start an update.
  button->setAutoDefault(false);
  return button;
}

void MakeBold(QLabel* label, const QFont& designed, int pixelSize) {
  QFont font = designed;
  font.setBold(true);
  font.setPixelSize(pixelSize);
  label->setFont(font);
}

}  // namespace

TForm1::TForm1(FtDriver& driver, Clock& clock, MessageBoxes& boxes,
               std::span<const EmbeddedResource> resources, QWidget* parent,
               MessageLanguage language)
    : QDialog(parent), boxes_(boxes), wake_([this] { WakeWaitLoop(); }) {
  CreateControls();

  SetMessageLanguage(language);
  setWindowTitle(QString::fromUtf8(VXA_MSG(msg::kWindowCaption)));
  Label1->setText(FromUtf8(StringTableText(str::kLabelDevice)));
  Label2->setText(FromUtf8(StringTableText(str::kLabelSoftware)));
  Label3->setText(FromUtf8(StringTableText(str::kLabelVersion)));
  FindButton->setText(QString::fromUtf8(VXA_MSG(msg::kButtonFind)));
  LoadButton->setText(QString::fromUtf8(VXA_MSG(msg::kButtonLoad)));
  CloseButton->setText(QString::fromUtf8(VXA_MSG(msg::kButtonExit)));

  // Last, as the window is complete: the Loader opens the boot image and starts the traffic
  // thread, and shows what fails through this window.
  loader_ = std::make_unique<Loader>(*this, driver, clock, resources);
}

// The traffic thread wakes this window: it must end before the window goes.
TForm1::~TForm1() {
  loader_.reset();
}

void TForm1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  move(kDesignedPosition);
  setBackgroundRole(QPalette::Button);
  const QFont designed = DesignedFont();
  setFont(designed);

  LoadLabel = MakeLabel(this, "LoadLabel", QRect(222, 100, kLoadLabelEmptyWidth, kLabelHeight));
  StateLabel = MakeLabel(this, "StateLabel", QRect(224, 80, 192, 19));
  MakeBold(StateLabel, designed, kStateFontPixelSize);
  Label1 = MakeLabel(this, "Label1", QRect(8, 8, 38, kLabelHeight));
  Label2 = MakeLabel(this, "Label2", QRect(222, 8, 191, kLabelHeight));
  Label3 = MakeLabel(this, "Label3", QRect(222, 28, 192, 19));
  MakeBold(Label3, designed, kFontPixelSize);

  LoadButton = MakeButton(this, "LoadButton", QRect(222, 49, 75, 25));
  LoadButton->setEnabled(false);
  connect(LoadButton, &QPushButton::clicked, this, &TForm1::LoadButtonClick);

  LoadProgressBar = new QProgressBar(this);
  LoadProgressBar->setObjectName(QStringLiteral("LoadProgressBar"));
  LoadProgressBar->setGeometry(222, 114, 194, 16);
  LoadProgressBar->setRange(0, kProgressDesignMaximum);
  LoadProgressBar->setValue(0);
  LoadProgressBar->setTextVisible(false);
  LoadProgressBar->setVisible(false);

  CloseButton = MakeButton(this, "CloseButton", QRect(222, 136, 75, 25));
  connect(CloseButton, &QPushButton::clicked, this, &TForm1::CloseButtonClick);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(8, 24, 208, 106);
  Memo1->setReadOnly(true);
  Memo1->setTabChangesFocus(true);

  FindButton = MakeButton(this, "FindButton", QRect(8, 136, 75, 25));
  connect(FindButton, &QPushButton::clicked, this, &TForm1::FindButtonClick);

  // Driven by the update, which only ever switches it off; it has no handler.
  LoadTimer = new QTimer(this);
  LoadTimer->setObjectName(QStringLiteral("LoadTimer"));
  LoadTimer->setInterval(kLoadTimerInterval);

  // The bar is no tab stop, but it keeps its place in the order; Qt orders only widgets that can
  // take focus, so it may take focus while it is put in place.
  LoadProgressBar->setFocusPolicy(Qt::TabFocus);
  setTabOrder(FindButton, LoadButton);
  setTabOrder(LoadButton, CloseButton);
  setTabOrder(CloseButton, LoadProgressBar);
  setTabOrder(LoadProgressBar, Memo1);
  LoadProgressBar->setFocusPolicy(Qt::NoFocus);
  FindButton->setFocus();
}

void TForm1::ParseCommandLine(std::string_view text) {
  // Once set by an earlier call, the log stays on.
  if (vxa::ParseCommandLine(text).log) loader_->SetLogEnabled(true);
}

void TForm1::FindButtonClick() {
  loader_->Find();
}

void TForm1::LoadButtonClick() {
  loader_->Load();
}

void TForm1::CloseButtonClick() {
  close();
}

void TForm1::reject() {
  close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (loader_->FormClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // The window has no Cancel button: Escape does not close it.
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm1::SearchStarted() {
  LoadButton->setEnabled(false);
}

void TForm1::DeviceFound(const DeviceLines& lines, const InstrumentFacts&) {
  Memo1->clear();
  for (const std::string& line : lines) Memo1->appendPlainText(FromUtf8(line));
  LoadButton->setEnabled(true);
}

void TForm1::StageChanged(Stage stage, const std::string& text) {
  // A stage belongs to a running update: nothing can be pressed until it ends, and the timer,
  // which the update only ever switches off, stays off.
  FindButton->setEnabled(false);
  LoadButton->setEnabled(false);
  CloseButton->setEnabled(false);
  LoadTimer->stop();
  SetStateText(text);
  // The window never shows the bar; only its figures are written out, in the label. The install
  // has no figures to show.
  switch (stage) {
    case Stage::kFileTransfer:
      LoadProgressBar->setVisible(false);
      break;
    case Stage::kFlashing:
      SetLoadLabelText("");
      LoadProgressBar->setVisible(false);
      break;
    case Stage::kWriteRequest:
    case Stage::kVerification:
    case Stage::kFileRead:
      break;
  }
}

void TForm1::ProgressChanged(const Progress& progress) {
  if (LoadProgressBar->minimum() != 0) LoadProgressBar->setMinimum(0);
  if (LoadProgressBar->maximum() != progress.total) LoadProgressBar->setMaximum(progress.total);
  if (LoadProgressBar->value() != progress.position) LoadProgressBar->setValue(progress.position);
  // What the bar holds, which is not always what it was given: it keeps its value when given one
  // outside its range.
  SetLoadLabelText(ProgressText({LoadProgressBar->value(), LoadProgressBar->maximum()}));
}

void TForm1::VersionWaitChanged(const Waited& waited) {
  // The label that showed the transfer's figures shows how long the install has taken so far.
  const std::string text = WaitedText(waited);
  if (LoadLabel->text() != FromUtf8(text)) SetLoadLabelText(text);
}

void TForm1::SetStateText(const std::string& text) {
  const QString shown = FromUtf8(text);
  StateLabel->setText(shown);
  emit StateTextChanged(shown);
}

void TForm1::SetLoadLabelText(const std::string& text) {
  const QString shown = FromUtf8(text);
  LoadLabel->setText(shown);
  LoadLabel->resize(shown.isEmpty() ? kLoadLabelEmptyWidth : LoadLabel->sizeHint().width(),
                    kLabelHeight);
  emit LoadLabelTextChanged(shown);
}

BoxRequest TForm1::AppBox(BoxSymbol symbol, const std::string& text) {
  BoxRequest request;
  request.source = BoxSource::kApplication;
  request.symbol = symbol;
  request.caption = windowTitle().toStdString();
  request.text = text;
  request.owner = static_cast<QWidget*>(this);
  return request;
}

void TForm1::ShowReport(const Report& report) {
  boxes_.Show(ReportBox(report, &newFirmware_, AppBox(BoxSymbol::kWarning, {})));
}

void TForm1::NewFirmwareReported(const std::string& programVersion,
                                 const std::optional<LocalDateTime>& clockSet) {
  newFirmware_ = NewFirmwareText(programVersion, clockSet);
}

bool TForm1::AskYesNo(const std::string& text, DefaultAnswer byDefault) {
  BoxRequest request = AppBox(BoxSymbol::kQuestion, text);
  request.buttons = BoxButtons::kYesNo;
  request.defaultAnswer = byDefault == DefaultAnswer::kNo ? BoxAnswer::kNo : BoxAnswer::kYes;
  return boxes_.Show(request) == BoxAnswer::kYes;
}

int TForm1::ExitStatus() const {
  return vxa::ExitStatus(loader_->LastOutcome(), Asked::kWindow);
}

void TForm1::ProcessEvents(std::chrono::milliseconds maxWait) {
  // Once the program is to end, whoever waits has something to look at at once.
  if (terminating_ || maxWait.count() <= 0 || wakePending_.exchange(false)) {
    QCoreApplication::processEvents();
    return;
  }
  QEventLoop loop;
  QTimer timeout;
  timeout.setSingleShot(true);
  connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  timeout.start(maxWait);
  // A Wake that came after the test above has raised its event already; the event is seen inside
  // this loop and finds it here.
  QEventLoop* const outer = std::exchange(waitLoop_, &loop);
  loop.exec();
  waitLoop_ = outer;
}

void TForm1::Wake() {
  wakePending_.store(true);
  wake_.Raise();
}

void TForm1::WakeWaitLoop() {
  if (waitLoop_ != nullptr && wakePending_.exchange(false)) waitLoop_->quit();
}

void TForm1::QuitWaitLoop() {
  if (waitLoop_ != nullptr) waitLoop_->quit();
}

void TForm1::Terminate() {
  terminating_ = true;
  QuitWaitLoop();
  // Only a request: whoever asked runs on to its end before the event loop sees it. A request
  // made before the loop runs is seen by the program's entry, which then does not start it.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

}  // namespace vxa
