#pragma once

// What the update benchmarks share besides the tests' support: a decorator that times the stages
// the loader enters, a driver that can hold the traffic thread back while a stage is being
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

// The moment a stage began, on every clock that matters.
struct StageMark {
  Stage stage;
  Clock::TimePoint clock;                      // the clock the update runs on
  std::chrono::steady_clock::time_point wall;  // real time
  double threadCpu = 0;                        // CPU time of the waiting thread
};

// Passes everything to another view and marks each stage the loader enters. The loader tells
// the stages on its own (the waiting) thread, so the thread CPU time taken here is that thread's.
class TimedView final : public LoaderView {
 public:
  TimedView(LoaderView& inner, const Clock& clock) : inner_(inner), clock_(clock) {}

  // Called with each mark, after it is taken and before the stage goes on to the inner view.
  void SetOnStage(std::function<void(const StageMark&)> onStage) { onStage_ = std::move(onStage); }
  const std::vector<StageMark>& Marks() const { return marks_; }
  // The first mark of this stage; null when the loader never entered it.
  const StageMark* Find(Stage stage) const;

  void SearchStarted() override { inner_.SearchStarted(); }
  void DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) override {
    inner_.DeviceFound(lines, facts);
  }
  void StageChanged(Stage stage, const std::string& text) override;
  void ProgressChanged(const Progress& progress) override { inner_.ProgressChanged(progress); }
  void VersionWaitChanged(const Waited& waited) override { inner_.VersionWaitChanged(waited); }
  void ShowReport(const Report& report) override { inner_.ShowReport(report); }
  bool AskYesNo(const std::string& text, DefaultAnswer byDefault) override {
    return inner_.AskYesNo(text, byDefault);
  }
  void ProcessEvents(std::chrono::milliseconds maxWait) override { inner_.ProcessEvents(maxWait); }
  void Wake() override { inner_.Wake(); }
  void ActionEnded(const Outcome& outcome) override { inner_.ActionEnded(outcome); }
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
// holding it from just before the loader starts a transfer until the stage that follows has
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
