#pragma once

#include <chrono>
#include <string>

namespace vxa {

// The system message boxes: no owner, captioned with catalogue message 0, 1 or 2.
enum class BoxKind { kError, kWarning, kInformation };
// Icons of the application's own box, which is captioned with the window caption.
enum class BoxIcon { kWarning, kQuestion, kInformation };

// What the search and the update show, ask and wait for. The window implements it with widgets,
// the terminal front end with lines on stdout and stderr; tests implement it to answer and read.
// Every call comes from the thread that runs the application, except Wake.
class LoaderView {
 public:
  virtual ~LoaderView() = default;

  virtual void SetFindEnabled(bool enabled) = 0;
  virtual void SetLoadEnabled(bool enabled) = 0;
  virtual void SetCloseEnabled(bool enabled) = 0;
  virtual void SetStateText(const std::string& text) = 0;
  virtual void SetLoadLabelText(const std::string& text) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  virtual int ProgressMin() const = 0;
  virtual int ProgressMax() const = 0;
  virtual int ProgressPosition() const = 0;
  virtual void SetProgressMin(int value) = 0;
  virtual void SetProgressMax(int value) = 0;
  virtual void SetProgressPosition(int value) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  virtual void ClearMemo() = 0;
  virtual void AddMemoLine(const std::string& line) = 0;

  virtual void ShowMessageBox(BoxKind kind, const std::string& text) = 0;
  virtual void ShowAppBox(const std::string& text, BoxIcon icon) = 0;
  // The application's box with Yes and No; true only for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // Where an error that escaped a handler is shown, captioned with the application title.
  virtual void ShowStandardError(const std::string& text) = 0;

  // Lets the front end handle its events for at most `maxWait`, returning early when Wake is
  // called. Zero only handles what is pending.
  virtual void ProcessEvents(std::chrono::milliseconds maxWait) = 0;
  // May be called from any thread: something the waiting side looks at has changed.
  virtual void Wake() = 0;
  // Asks the front end to end once control returns to its loop.
  virtual void Terminate() = 0;
  virtual bool Terminating() const = 0;
};

}  // namespace vxa
