#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/LoaderView.h"

namespace vxa::test {

// A front end for tests: it answers the questions it is given, and keeps everything shown. What
// the buttons and the progress label would show is kept the simple way: a search disables Load,
// an instrument found enables it, a stage disables everything, and each stage starts with an
// empty progress label.
class RecordingView : public LoaderView {
 public:
  using Box = Report;

  void SearchStarted() override { loadEnabled = false; }
  void DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) override;
  void StageChanged(Stage stage, const std::string& text) override;
  void ProgressChanged(const Progress& progress) override;
  void VersionWaitChanged(const Waited& waited) override;
  void ShowReport(const Report& report) override { boxes.push_back(report); }
  void NewFirmwareReported(const std::string&, const std::optional<LocalDateTime>& at) override {
    clockSetShown = at.has_value();
  }
  bool AskYesNo(const std::string& text, DefaultAnswer byDefault) override;

  void ProcessEvents(std::chrono::milliseconds maxWait) override;
  void Wake() override;
  void Terminate() override { terminating = true; }
  bool Terminating() const override { return terminating; }

  // The texts of the boxes shown, in order.
  std::vector<std::string> BoxTexts() const;

  bool findEnabled = true;
  bool loadEnabled = false;
  bool closeEnabled = true;
  int progressMax = 0;
  int progressPosition = 0;
  std::string loadLabel;
  std::vector<std::string> memo;
  std::vector<Stage> stages;
  std::vector<std::string> states;      // the texts of the stages
  std::vector<std::string> loadLabels;  // every label seen while a transfer ran
  std::vector<Box> boxes;
  std::vector<std::string> questions;
  std::vector<DefaultAnswer> questionDefaults;  // the default answer of each question
  std::vector<std::string> waitedTexts;         // every time-waited text of the install, once
  std::deque<bool> answers;  // answers to the questions, Yes when none are left
  bool terminating = false;
  bool clockSetShown = false;  // the new firmware was reported with the time the clock took
  // Called with each new state text; tests use it to act at a stage of the update.
  std::function<void(const std::string&)> onState;
  // Called with each progress shown, the last of a transfer's once it has ended.
  std::function<void(const Progress&)> onProgress;
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
