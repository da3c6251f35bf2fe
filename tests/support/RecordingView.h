#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/LoaderView.h"

namespace vxa::test {

// A front end for tests: it answers the questions it is given, and keeps everything shown.
class RecordingView : public LoaderView {
 public:
  struct Box {
    enum class Kind { kSystem, kApp, kStandardError } kind;
    BoxKind systemKind = BoxKind::kError;
    BoxIcon icon = BoxIcon::kWarning;
    std::string text;
  };

  void SetFindEnabled(bool enabled) override { findEnabled = enabled; }
  void SetLoadEnabled(bool enabled) override { loadEnabled = enabled; }
  void SetCloseEnabled(bool enabled) override { closeEnabled = enabled; }
  void SetStateText(const std::string& text) override;
  void SetLoadLabelText(const std::string& text) override;
  void SetProgressVisible(bool visible) override { progressVisible = visible; }
  int ProgressMin() const override { return progressMin; }
  int ProgressMax() const override { return progressMax; }
  int ProgressPosition() const override { return progressPosition; }
  void SetProgressMin(int value) override { progressMin = value; }
  void SetProgressMax(int value) override { progressMax = value; }
  void SetProgressPosition(int value) override { progressPosition = value; }
  void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  void ClearMemo() override { memo.clear(); }
  void AddMemoLine(const std::string& line) override { memo.push_back(line); }

  void ShowMessageBox(BoxKind kind, const std::string& text) override;
  void ShowAppBox(const std::string& text, BoxIcon icon) override;
  bool AskYesNo(const std::string& text) override;
  void ShowStandardError(const std::string& text) override;

  void ProcessEvents(std::chrono::milliseconds maxWait) override;
  void Wake() override;
  void Terminate() override { terminating = true; }
  bool Terminating() const override { return terminating; }

  // The texts of the boxes shown, in order.
  std::vector<std::string> BoxTexts() const;

  bool findEnabled = true;
  bool loadEnabled = false;
  bool closeEnabled = true;
  bool progressVisible = false;
  bool timerEnabled = false;
  int progressMin = 0;
  int progressMax = 4194304;
  int progressPosition = 0;
  std::string loadLabel;
  std::vector<std::string> memo;
  std::vector<std::string> states;
  std::vector<std::string> loadLabels;  // every label seen while a transfer ran
  std::vector<Box> boxes;
  std::vector<std::string> questions;
  std::deque<bool> answers;  // answers to the questions, Yes when none are left
  bool terminating = false;
  // Called with each new state text; tests use it to act at a stage of the update.
  std::function<void(const std::string&)> onState;
  // Called on each pass of a wait; a test can act while a transfer runs.
  std::function<void()> onEvents;
  // Whether any control was enabled while the update ran (recorded at each pass of a wait).
  bool buttonEnabledDuringUpdate = false;

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool wake_ = false;
};

}  // namespace vxa::test
