#pragma once

// What the update benchmarks share besides the tests' support: a decorator that times the stage
// texts the loader sets, a driver that can hold the traffic thread back while a stage is being
// timed, and the printing of figures.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/LoaderView.h"
#include "link/Clock.h"
#include "tests/support/ForwardingDriver.h"
#include "tests/support/RecordingView.h"

namespace vxa::bench {

// CPU time of the calling thread and of the whole process, in seconds.
double ThreadCpuSeconds();
double ProcessCpuSeconds();
// The largest resident set the process has had so far, in MiB.
double PeakRssMb();

// One figure of the final summary: "name value unit".
void PrintFigure(const std::string& name, double value, const std::string& unit);

// Errors and warnings shown to the tests' recording view, which answers Yes and waits like the
// window (on a condition variable for at most the time the loader asks, woken early by Wake):
// what tells a failed update from a good one.
std::vector<std::string> Complaints(const test::RecordingView& view);

// The moment a stage text was set, on every clock that matters.
struct StageMark {
  std::string text;
  Clock::TimePoint clock;                      // the clock the update runs on
  std::chrono::steady_clock::time_point wall;  // real time
  double threadCpu = 0;                        // CPU time of the waiting thread
};

// Passes everything to another view and marks each stage text the loader sets. The loader sets
// them on its own (the waiting) thread, so the thread CPU time taken here is that thread's.
class TimedView final : public LoaderView {
 public:
  TimedView(LoaderView& inner, const Clock& clock) : inner_(inner), clock_(clock) {}

  // Called with each mark, after it is taken and before the text goes on to the inner view.
  void SetOnStage(std::function<void(const StageMark&)> onStage) { onStage_ = std::move(onStage); }
  const std::vector<StageMark>& Marks() const { return marks_; }
  // The first mark with this text; null when the loader never set it.
  const StageMark* Find(const std::string& text) const;

  void SetFindEnabled(bool enabled) override { inner_.SetFindEnabled(enabled); }
  void SetLoadEnabled(bool enabled) override { inner_.SetLoadEnabled(enabled); }
  void SetCloseEnabled(bool enabled) override { inner_.SetCloseEnabled(enabled); }
  void SetStateText(const std::string& text) override;
  void SetLoadLabelText(const std::string& text) override { inner_.SetLoadLabelText(text); }
  void SetProgressVisible(bool visible) override { inner_.SetProgressVisible(visible); }
  int ProgressMin() const override { return inner_.ProgressMin(); }
  int ProgressMax() const override { return inner_.ProgressMax(); }
  int ProgressPosition() const override { return inner_.ProgressPosition(); }
  void SetProgressMin(int value) override { inner_.SetProgressMin(value); }
  void SetProgressMax(int value) override { inner_.SetProgressMax(value); }
  void SetProgressPosition(int value) override { inner_.SetProgressPosition(value); }
  void SetTimerEnabled(bool enabled) override { inner_.SetTimerEnabled(enabled); }
  void ClearMemo() override { inner_.ClearMemo(); }
  void AddMemoLine(const std::string& line) override { inner_.AddMemoLine(line); }
  void ShowMessageBox(BoxKind kind, const std::string& text) override {
    inner_.ShowMessageBox(kind, text);
  }
  void ShowAppBox(const std::string& text, BoxIcon icon) override { inner_.ShowAppBox(text, icon); }
  bool AskYesNo(const std::string& text) override { return inner_.AskYesNo(text); }
  void ShowStandardError(const std::string& text) override { inner_.ShowStandardError(text); }
  void ProcessEvents(std::chrono::milliseconds maxWait) override { inner_.ProcessEvents(maxWait); }
  void Wake() override { inner_.Wake(); }
  void Terminate() override { inner_.Terminate(); }
  bool Terminating() const override { return inner_.Terminating(); }

 private:
  LoaderView& inner_;
  const Clock& clock_;
  std::function<void(const StageMark&)> onStage_;
  std::vector<StageMark> marks_;
};

// A driver that passes every call through to another, except that it can hold back the calls of
// every thread but one. In virtual time the traffic thread moves the clock as fast as it runs:
// holding it from just before the loader starts a transfer until the stage text that follows has
// been marked makes that mark exact instead of a race between the two threads.
class HoldingDriver final : public test::ForwardingDriver {
 public:
  using ForwardingDriver::ForwardingDriver;

  // From now on, calls from threads other than the calling one wait until Release.
  void HoldOthers();
  void Release();

  // Waits while the calling thread is held back.
  void BeforeDeviceCall(bool write) override;

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool holding_ = false;
  std::thread::id owner_;
};

}  // namespace vxa::bench
