#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/LoaderView.h"
#include "app/MessageBoxes.h"
#include "app/image/Resources.h"
#include "app/win32/Controls.h"
#include "text/Messages.h"

namespace vxa {

class Clock;
class FtDriver;
class Loader;

namespace win32 {

// The updater's one window on Windows: a fixed-size dialog laid out to the pixel, with the
// system's own controls. It shows what the search and the update tell it, and owns the Loader
// that does them.
class TForm1 final : public LoaderView {
 public:
  // The driver, the clock and the boxes outlive the window. The window speaks `language`: its
  // constructor makes it the catalogue's language.
  TForm1(FtDriver& driver, Clock& clock, MessageBoxes& boxes,
         std::span<const EmbeddedResource> resources = BuiltInResources(),
         MessageLanguage language = kLanguageRussian);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const { return window_; }
  // One of the window's controls, by the place it has in the layout.
  HWND Control(ControlId id) const { return controls_.Get(id); }

  // The command line as one text; only "-log" concerns the window.
  void ParseCommandLine(std::string_view text);
  Loader& loader() { return *loader_; }

  // Shows the window and handles its messages until the program is to end: the window was
  // closed, or the loader told it to end. Returns the exit status.
  int Run();

  // The exit status of the window's process, as every front end has it from how the run ended.
  int ExitStatus() const;
  // The window was closed and is gone from the screen.
  bool Closed() const { return closed_; }

  // LoaderView: what happened, mapped onto the controls.
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

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id);
  // The close request of the close box, the system menu, Alt+F4 and the Exit button.
  void OnClose();
  // Handles the messages already queued; false once the program is to end.
  void HandlePending();
  bool LoopEnds() const { return terminating_ || closed_; }

  void SetStateText(const std::string& text);
  void SetLoadLabelText(const std::string& text);
  // The application's own box: owned by the window and captioned with its caption.
  BoxRequest AppBox(BoxSymbol symbol, const std::string& text);

  MessageBoxes& boxes_;
  HWND window_ = nullptr;
  Controls controls_;
  std::string newFirmware_;  // what the instrument said after its install, for the success box
  bool terminating_ = false;
  bool closed_ = false;
  // Set by Wake from any thread and taken by the wait it ends, or by the next one.
  std::atomic<bool> wakePending_{false};
  std::unique_ptr<Loader> loader_;
};

}  // namespace win32
}  // namespace vxa
