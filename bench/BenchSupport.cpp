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

// A handle whose every call first waits at the driver's gate.
class HeldDevice final : public FtDevice {
 public:
  HeldDevice(HoldingDriver& gate, std::unique_ptr<FtDevice> inner)
      : gate_(gate), inner_(std::move(inner)) {}

  FtStatus ResetDevice() override { return Gate().ResetDevice(); }
  FtStatus SetLatencyTimer(uint8_t ms) override { return Gate().SetLatencyTimer(ms); }
  FtStatus SetUSBParameters(uint32_t in, uint32_t out) override {
    return Gate().SetUSBParameters(in, out);
  }
  FtStatus SetTimeouts(uint32_t read, uint32_t write) override {
    return Gate().SetTimeouts(read, write);
  }
  FtStatus SetDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) override {
    return Gate().SetDataCharacteristics(bits, stop, parity);
  }
  FtStatus GetModemStatus(uint32_t* status) override { return Gate().GetModemStatus(status); }
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override {
    return Gate().SetFlowControl(mode, xon, xoff);
  }
  FtStatus SetDivisor(uint16_t divisor) override { return Gate().SetDivisor(divisor); }
  FtStatus Purge(uint32_t mask) override { return Gate().Purge(mask); }
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override {
    return Gate().Write(buffer, count, written);
  }
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override {
    return Gate().Read(buffer, count, read);
  }
  FtStatus GetStatus(uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    return Gate().GetStatus(rx, tx, events);
  }
  FtStatus Close() override { return inner_->Close(); }

 private:
  FtDevice& Gate() {
    gate_.Pass();
    return *inner_;
  }

  HoldingDriver& gate_;
  std::unique_ptr<FtDevice> inner_;
};

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

// ---- WaitingView ----------------------------------------------------------------------------

void WaitingView::ShowMessageBox(BoxKind kind, const std::string& text) {
  if (kind != BoxKind::kInformation) complaints_.push_back(text);
}

void WaitingView::ShowAppBox(const std::string& text, BoxIcon icon) {
  if (icon != BoxIcon::kInformation) complaints_.push_back(text);
}

void WaitingView::ShowStandardError(const std::string& text) {
  complaints_.push_back(text);
}

void WaitingView::ProcessEvents(std::chrono::milliseconds maxWait) {
  std::unique_lock lock(mutex_);
  woken_.wait_for(lock, maxWait, [this] { return wake_; });
  wake_ = false;
}

void WaitingView::Wake() {
  {
    std::lock_guard lock(mutex_);
    wake_ = true;
  }
  woken_.notify_all();
}

// ---- TimedView ------------------------------------------------------------------------------

void TimedView::SetStateText(const std::string& text) {
  StageMark mark{text, clock_.Now(), std::chrono::steady_clock::now(), ThreadCpuSeconds()};
  marks_.push_back(mark);
  if (onStage_) onStage_(mark);
  inner_.SetStateText(text);
}

const StageMark* TimedView::Find(const std::string& text) const {
  for (const StageMark& mark : marks_) {
    if (mark.text == text) return &mark;
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

void HoldingDriver::Pass() {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [this] { return !holding_ || std::this_thread::get_id() == owner_; });
}

FtStatus HoldingDriver::OpenByDescription(const std::string& description,
                                          std::unique_ptr<FtDevice>* device) {
  std::unique_ptr<FtDevice> inner;
  const FtStatus status = inner_.OpenByDescription(description, &inner);
  if (status == kFtOk && inner) *device = std::make_unique<HeldDevice>(*this, std::move(inner));
  return status;
}

}  // namespace vxa::bench
