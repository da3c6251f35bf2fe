#include "bench/BenchSupport.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>

namespace vxa::bench {
namespace {

double CpuSeconds(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

double ThreadCpuSeconds() {
  return CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}
double ProcessCpuSeconds() {
  return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux gives KiB
}

void PrintFigure(const std::string& name, double value, const std::string& unit) {
  std::printf("%s %.4g %s\n", name.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

// ---- Complaints -----------------------------------------------------------------------------

std::vector<std::string> Complaints(const test::RecordingView& view) {
  std::vector<std::string> complaints;
  for (const test::RecordingView::Box& box : view.boxes) {
    if (box.kind != ReportKind::kInformation) complaints.push_back(box.text);
  }
  return complaints;
}

// ---- TimedView ------------------------------------------------------------------------------

void TimedView::StageChanged(Stage stage, const std::string& text) {
  StageMark mark{stage, clock_.Now(), std::chrono::steady_clock::now(), ThreadCpuSeconds()};
  marks_.push_back(mark);
  if (onStage_) onStage_(mark);
  inner_.StageChanged(stage, text);
}

const StageMark* TimedView::Find(Stage stage) const {
  for (const StageMark& mark : marks_) {
    if (mark.stage == stage) return &mark;
  }
  return nullptr;
}

// ---- HoldingDriver --------------------------------------------------------------------------

void HoldingDriver::HoldOthers() {
  std::lock_guard lock(mutex_);
  holding_ = true;
  owner_ = std::this_thread::get_id();
}

void HoldingDriver::Release() {
  {
    std::lock_guard lock(mutex_);
    holding_ = false;
  }
  released_.notify_all();
}

void HoldingDriver::BeforeDeviceCall(bool) {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [this] { return !holding_ || std::this_thread::get_id() == owner_; });
}

}  // namespace vxa::bench
