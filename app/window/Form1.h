#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/LoaderView.h"
#include "app/image/Resources.h"
#include "app/window/MessageBoxes.h"
#include "app/window/ThreadWake.h"
#include "text/Messages.h"

class QCloseEvent;
class QEventLoop;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vxa {

class Clock;
class FtDriver;
class Loader;

// The updater's one window: a fixed-size dialog laid out to the pixel. It shows what the search
// and the update tell it, and owns the Loader that does them.
class TForm1 final : public QDialog, public LoaderView {
  Q_OBJECT

 public:
  // The driver, the clock and the boxes outlive the window.
  // The window speaks `language`: its constructor makes it the catalogue's language.
  TForm1(FtDriver& driver, Clock& clock, MessageBoxes& boxes,
         std::span<const EmbeddedResource> resources = BuiltInResources(),
         QWidget* parent = nullptr, MessageLanguage language = kLanguageRussian);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The command line as one text; only "-log" concerns the window.
  void ParseCommandLine(std::string_view text);

  Loader& loader() { return *loader_; }

  // The exit status of the window's process: 0 after a success or a plain close, kExitFailed
  // when something failed (an error box ended the program, or the update failed), kExitAborted
  // when the user interrupted the update.
  static constexpr int kExitFailed = 1;
  static constexpr int kExitAborted = 130;
  int ExitStatus() const;

  // LoaderView: what happened, mapped onto the widgets.
  void SearchStarted() override;
  void DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) override;
  void StageChanged(Stage stage, const std::string& text) override;
  void ProgressChanged(const Progress& progress) override;
  void VersionWaitChanged(const Waited& waited) override;
  void ShowReport(const Report& report) override;
  void NewFirmwareReported(const std::string& programVersion,
                           const std::optional<LocalDateTime>& clockSet) override;
  bool AskYesNo(const std::string& text, DefaultAnswer byDefault) override;
  void ProcessEvents(std::chrono::milliseconds maxWait) override;
  void Wake() override;
  void Terminate() override;
  bool Terminating() const override { return terminating_; }

 signals:
  // Every text the state and progress labels are given, also those replaced before a repaint.
  void StateTextChanged(const QString& text);
  void LoadLabelTextChanged(const QString& text);

 public slots:
  // Every way a dialog is dismissed goes through the close request, and so through FormClose.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  // The loader catches whatever its actions throw: nothing reaches Qt's event loop.
  void FindButtonClick();
  void LoadButtonClick();
  void CloseButtonClick();
  void SetStateText(const std::string& text);
  void SetLoadLabelText(const std::string& text);
  // The application's own box: owned by the window and captioned with its caption.
  BoxRequest AppBox(BoxSymbol symbol, const std::string& text);
  void QuitWaitLoop();
  void WakeWaitLoop();

  // Controls in the order the window declares them.
  QTimer* LoadTimer = nullptr;
  QPushButton* LoadButton = nullptr;
  QProgressBar* LoadProgressBar = nullptr;
  QPushButton* CloseButton = nullptr;
  QLabel* LoadLabel = nullptr;
  QLabel* StateLabel = nullptr;
  QLabel* Label1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* FindButton = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;

  MessageBoxes& boxes_;
  // What the instrument said after its install, for the success box that follows.
  std::string newFirmware_;
  bool terminating_ = false;
  // Set by Wake from any thread and taken by the wait it ends, or by the next one.
  std::atomic<bool> wakePending_{false};
  ThreadWake wake_;
  // The loop ProcessEvents is running, if any; touched on the window's thread only.
  QEventLoop* waitLoop_ = nullptr;
  std::unique_ptr<Loader> loader_;
};

}  // namespace vxa
