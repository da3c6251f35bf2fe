#pragma once

// What a campaign run stands on: the backend with its instrument, and the driver in front of it
// that watches every call the program makes on the bridge.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/Clock.h"
#include "link/FtDriver.h"
#include "sim/SimTypes.h"
#include "tests/robustness/Campaign.h"
#include "tests/support/ForwardingDriver.h"

namespace vxa {
class Loader;
class TResReadTransBuffer;
namespace test {
class RecordingView;
}
}  // namespace vxa

namespace vxa::campaign {

// The run's image: the first `size` bytes of one fixed pattern.
std::span<const uint8_t> ImageBytes(size_t size);

// The run's instrument, as far as its backend lets the test see it.
class Instrument {
 public:
  virtual ~Instrument() = default;
  // While the run goes on (the simulated bus only; the others take their faults at set-up).
  virtual void Inject(const sim::FaultSpec& aim) = 0;
  // After the run.
  virtual std::vector<uint8_t> Swap() = 0;
  virtual bool TookInstall() = 0;  // the install is under way or done
  virtual std::string Version() = 0;
  // While the run goes on, where the backend allows a look: the refusals sent so far.
  virtual std::optional<uint64_t> LiveRefusals() { return std::nullopt; }
  virtual bool SwapLive() const { return false; }
};

class Backing {
 public:
  virtual ~Backing() = default;
  virtual FtDriver& Driver() = 0;
  virtual Clock& clock() = 0;
  virtual Instrument& instrument() = 0;
  // The run is over: the instrument's far side stops, and what it holds can be read.
  virtual void Finish() {}
};

// Null, with the reason in `problems`, when the backend cannot be set up here.
std::unique_ptr<Backing> MakeBacking(const Draw& draw, std::string* problems);

// The driver between the program and the backend. It counts the install requests written and
// what the comparison stood at when each went out, counts the writes after the bridge was
// aborted, and at the drawn call of the traffic thread holds it until the user (on the
// application thread, at its next pass of a wait) has interrupted.
class WatchingDriver final : public test::ForwardingDriver {
 public:
  WatchingDriver(FtDriver& inner, const Draw& draw, Instrument& instrument);

  void Watch(Loader& loader, test::RecordingView& view);
  void Unwatch();
  // On the application thread, at each pass of a wait.
  void OnEvents();
  // With each progress shown: during the read-back, how far the comparison has come.
  void NoteProgress(bool readingBack);

  void BeforeDeviceCall(bool write) override;
  void BeforeWrite(const void* buffer, uint32_t count) override;
  void DeviceAborted() override;

  int KernelWrites() const { return kernelWrites_; }
  bool ComparedAtKernel() const { return comparedAtKernel_; }
  bool SwapWholeAtKernel() const { return swapWholeAtKernel_; }
  int WritesAfterAbort() const { return writesAfterAbort_.load(); }
  bool Stuck() const { return stuck_; }
  bool UserActed() const { return acted_; }
  // Whether a refusal came after the install request; unknown where the backend cannot tell.
  std::optional<bool> RefusedSinceKernel() const;

 private:
  const Draw& draw_;
  Instrument& instrument_;
  const std::thread::id appThread_;
  Loader* loader_ = nullptr;
  test::RecordingView* view_ = nullptr;
  const TResReadTransBuffer* image_ = nullptr;

  std::atomic<int> trafficCalls_{0};
  std::atomic<int> writesAfterAbort_{0};
  std::atomic<bool> aborted_{false};
  int kernelWrites_ = 0;
  bool comparedAtKernel_ = true;
  bool comparedWhole_ = false;  // the read-back's latest progress: the whole image, equal
  bool swapWholeAtKernel_ = true;
  std::optional<uint64_t> refusalsAtKernel_;

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool wanted_ = false;  // the drawn call has come: the user is to interrupt now
  bool acted_ = false;
  bool stuck_ = false;
};

}  // namespace vxa::campaign
