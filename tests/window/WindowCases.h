#pragma once

// What every window test needs whatever its toolkit (Qt here, the Win32 window in tests/win32):
// the user in front of the boxes, a gate that holds a transfer, the designed layout, and one
// table of cases that each window is put through.

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageBoxes.h"
#include "link/FtDriver.h"
#include "sim/SimBus.h"
#include "tests/support/ForwardingDriver.h"
#include "text/Messages.h"

namespace vxa::test {

// With VXA_WINDOW_SHOTS naming a folder: the window as it is drawn now, saved there under the
// test's name and `moment`. Every box shown and the end of every test are such moments, so that
// two builds' windows can be compared file by file. Each toolkit's test support defines it.
void SaveWindowShot(const std::string& moment);

// Stands in for the user in front of the boxes: keeps every box shown and answers the Yes/No
// ones (Yes unless told otherwise).
class ScriptedBoxes final : public MessageBoxes {
 public:
  BoxAnswer Show(const BoxRequest& request) override;

  // Called for every box as it is shown, before it is answered.
  std::function<void(const BoxRequest&)> onShow;
  // The answer to a Yes/No box.
  std::function<bool(const BoxRequest&)> answerYes;

  std::vector<BoxRequest> shown;
};

// Checks a box against what it must be: who showed it, its symbol, its caption and its text.
void ExpectBox(const BoxRequest& box, BoxSource source, BoxSymbol symbol,
               const std::string& caption, const std::string& text);

// The success box: what the instrument reports after its install and the time its clock was
// given, above the catalogue's success message.
std::string SuccessBoxText(const sim::SimInstrument& instrument);

// A driver that passes everything through to another one, except that the writes of one thread
// after the first `passFree` of them wait until the gate is opened. It holds a transfer in the
// middle of a block, so that a test can act while the update is certainly running.
class GatedDriver final : public ForwardingDriver {
 public:
  explicit GatedDriver(FtDriver& inner) : ForwardingDriver(inner) {}
  ~GatedDriver() override { Open(); }

  // Writes made by threads other than `free` are counted; from the (passFree + 1)-th on they wait.
  void Arm(std::thread::id free, int passFree);
  void Open();
  // Returns once a write is held at the gate.
  void WaitUntilHeld();
  int HeldWrites() const;

  void BeforeDeviceCall(bool write) override {
    if (write) BeforeWrite();
  }

 private:
  void BeforeWrite();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool open_ = false;
  std::thread::id free_;
  int passFree_ = 0;
  int counted_ = 0;
  int held_ = 0;
};

// A control of the designed window at its place in the client area (pixels at 96 dpi), with its
// text and state at start: the numbers both windows are held to.
struct DesignedControl {
  const char* name;
  int left;
  int top;
  int width;
  int height;
  std::string text;
  bool enabled;
  bool hidden;
};
// In the catalogue's current language.
std::vector<DesignedControl> DesignedLayout();
inline constexpr int kDesignedClientWidth = 424;
inline constexpr int kDesignedClientHeight = 168;

// What a case does to its window, and what each toolkit's window does for it.
class WindowDriver {
 public:
  virtual ~WindowDriver() = default;
  // Makes the window over `driver`; it speaks Russian. Destroy ends it, before what it was given.
  virtual void Make(FtDriver& driver, Clock& clock, MessageBoxes& boxes) = 0;
  virtual void Destroy() = 0;
  virtual void ClickFind() = 0;
  virtual void ClickLoad() = 0;
  // Asks the window to close through its close box, as a queued request: it is handled the next
  // time the window handles its events.
  virtual void RequestClose() = 0;
  // Called with every text the state label is given, on the window's thread.
  virtual void WatchStateText(std::function<void(const std::string&)> watch) = 0;
  virtual bool LoadEnabled() = 0;
  virtual bool Visible() = 0;
  virtual bool Terminating() = 0;
  virtual int ExitStatus() = 0;
  // The memo's lines.
  virtual std::vector<std::string> MemoLines() = 0;
};

// A box a case expects: its caption follows from who shows it and its symbol.
struct ExpectedBox {
  BoxSource source;
  BoxSymbol symbol;
  std::string text;  // kSuccessBox for the success box
  BoxAnswer defaultAnswer = BoxAnswer::kYes;
};
inline constexpr char kSuccessBox[] = "<success>";

struct WindowCase {
  const char* name;
  int instruments = 1;
  std::vector<sim::FaultSpec> faults{};  // injected into the first instrument before the search
  // A call of the first instrument's bridge that fails once with `failStatus`, before the search.
  sim::Call failCall = sim::Call::Close;
  FtStatus failStatus = kFtOk;
  bool load = false;                     // Load after a search that found one
  int closeAtStage = -1;    // the message id of the stage whose start asks the window to close
  bool stopOnClose = true;  // the answer to the close question
  bool answerConfirmation = true;
  std::vector<ExpectedBox> boxes{};  // every box from Load on, or from Find when there is no Load
  bool loadEnabled = false;          // at the end
  bool terminating = false;
  bool visible = true;
  int exitStatus = 0;
  int kernelRequests = 0;
};

// In the catalogue's current language.
std::vector<WindowCase> WindowCases();

// Puts a fresh window through one case, over a simulated bus in virtual time, and checks it.
void RunWindowCase(const WindowCase& c, WindowDriver& window);

}  // namespace vxa::test
