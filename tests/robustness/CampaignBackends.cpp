// The campaign's backends (the simulated bus in virtual time; the vendor library's stand-in and
// the serial port on a pty in real time) and the driver that watches the program's calls.
#include "tests/robustness/CampaignBackends.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "app/Loader.h"
#include "base/UniqueFd.h"
#include "link/Packet.h"
#include "link/drivers/D2xxDriver.h"
#include "link/drivers/SerialPortDriver.h"
#include "sim/PtyServer.h"
#include "sim/SimBus.h"
#include "tests/support/LoaderProbe.h"
#include "tests/support/RecordingView.h"
#include "text/Messages.h"

namespace vxa::campaign {

WatchingDriver::WatchingDriver(FtDriver& inner, const Draw& draw, Instrument& instrument)
    : ForwardingDriver(inner),
      draw_(draw),
      instrument_(instrument),
      appThread_(std::this_thread::get_id()) {}

void WatchingDriver::Watch(Loader& loader, test::RecordingView& view) {
  std::lock_guard lock(mutex_);
  loader_ = &loader;
  view_ = &view;
  image_ = test::LoaderProbe::BootImage(loader);
}

void WatchingDriver::Unwatch() {
  std::lock_guard lock(mutex_);
  loader_ = nullptr;
  view_ = nullptr;
}

void WatchingDriver::OnEvents() {
  Loader* loader = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!wanted_ || acted_ || loader_ == nullptr) return;
    loader = loader_;
  }
  // As the terminal does on Ctrl-C, and the window when its user closes it and says Yes.
  if (draw_.byClosing) {
    loader->FormClose();
  } else {
    loader->Interrupt();
  }
  {
    std::lock_guard lock(mutex_);
    acted_ = true;
  }
  released_.notify_all();
}

void WatchingDriver::NoteProgress(bool readingBack) {
  // The install request starts a transfer of its own, which puts the image back to its start:
  // the comparison is looked at as the read-back left it.
  if (!readingBack) return;
  comparedWhole_ = image_ != nullptr && image_->GetPosition() == image_->GetSize() &&
                   !image_->FirstDifference() && !image_->Overran();
}

void WatchingDriver::BeforeDeviceCall(bool write) {
  if (write && aborted_.load()) writesAfterAbort_.fetch_add(1);
  if (draw_.interruptAtCall < 0 || std::this_thread::get_id() == appThread_) return;
  if (trafficCalls_.fetch_add(1) != draw_.interruptAtCall) return;
  std::unique_lock lock(mutex_);
  if (view_ == nullptr) return;
  wanted_ = true;
  view_->Wake();
  // The abort arrives while this call waits; a window closed while nothing is to be interrupted
  // lets it go on as well.
  if (!released_.wait_for(lock, std::chrono::seconds(20),
                          [this] { return aborted_.load() || acted_; })) {
    stuck_ = true;
  }
}

void WatchingDriver::BeforeWrite(const void* buffer, uint32_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  static constexpr char kKernel[] = "kernel";  // with its NUL, as the request names the file
  if (count < kHeaderSize + sizeof kKernel || bytes[kOffCode] != kCmdWriteRequest ||
      std::memcmp(bytes + kHeaderSize, kKernel, sizeof kKernel) != 0) {
    return;
  }
  ++kernelWrites_;
  if (!comparedWhole_) comparedAtKernel_ = false;
  if (instrument_.SwapLive()) {
    const std::span<const uint8_t> image = ImageBytes(draw_.imageSize);
    if (instrument_.Swap() != std::vector<uint8_t>(image.begin(), image.end())) {
      swapWholeAtKernel_ = false;
    }
  }
  if (!refusalsAtKernel_) refusalsAtKernel_ = instrument_.LiveRefusals();
}

void WatchingDriver::DeviceAborted() {
  {
    std::lock_guard lock(mutex_);
    aborted_.store(true);
  }
  released_.notify_all();
}

std::optional<bool> WatchingDriver::RefusedSinceKernel() const {
  const std::optional<uint64_t> now = instrument_.LiveRefusals();
  if (!now || !refusalsAtKernel_) return std::nullopt;
  return *now > *refusalsAtKernel_;
}

namespace {

class BusInstrument final : public Instrument {
 public:
  explicit BusInstrument(sim::SimInstrument& instrument) : instrument_(instrument) {}
  void Inject(const sim::FaultSpec& aim) override { instrument_.Inject(aim); }
  std::vector<uint8_t> Swap() override { return instrument_.FileContent("swap"); }
  bool TookInstall() override { return instrument_.Installing() || instrument_.Installed(); }
  std::string Version() override { return instrument_.ProgramVersionText(); }
  std::optional<uint64_t> LiveRefusals() override { return instrument_.counters().refusalsSent; }
  bool SwapLive() const override { return true; }

 private:
  sim::SimInstrument& instrument_;
};

class BusBacking final : public Backing {
 public:
  explicit BusBacking(const Draw& draw)
      : bus_(clock_), instrument_(bus_.AttachInstrument(draw.config)) {}
  FtDriver& Driver() override { return bus_; }
  Clock& clock() override { return clock_; }
  Instrument& instrument() override { return instrument_; }

 private:
  VirtualClock clock_;
  sim::SimBus bus_;
  BusInstrument instrument_;
};

// The pty simulator on a thread of this process, the program on the serial port backend.
class PtyBacking final : public Backing, private Instrument {
 public:
  static std::unique_ptr<Backing> Make(const Draw& draw, std::string* problems) {
    sim::PtyServer::Options options;
    options.instrument = draw.config;
    options.faults = draw.faults;
    std::unique_ptr<sim::PtyServer> server = sim::PtyServer::Open(std::move(options), problems);
    int fds[2];
    if (!server || ::pipe2(fds, O_CLOEXEC) != 0) {
      *problems += " no pty;";
      return nullptr;
    }
    return std::unique_ptr<Backing>(
        new PtyBacking(std::move(server), fds, draw.config.newProgramVersion));
  }
  ~PtyBacking() override { Finish(); }

  FtDriver& Driver() override { return driver_; }
  Clock& clock() override { return clock_; }
  Instrument& instrument() override { return *this; }
  void Finish() override {
    if (!thread_.joinable()) return;
    if (::write(stopWrite_.Get(), "x", 1) != 1) return;
    thread_.join();
  }

  void Inject(const sim::FaultSpec&) override {}
  std::vector<uint8_t> Swap() override { return server_->model().FileContent("swap"); }
  // A refusal of the install cannot be told from here from an install still under way.
  bool TookInstall() override { return Version() == newVersion_; }
  std::string Version() override { return server_->ProgramVersion(); }

 private:
  PtyBacking(std::unique_ptr<sim::PtyServer> server, const int fds[2], std::string newVersion)
      : newVersion_(std::move(newVersion)),
        server_(std::move(server)),
        stopRead_(fds[0]),
        stopWrite_(fds[1]),
        driver_(server_->SlavePath()),
        thread_([this] { server_->Serve(stopRead_.Get()); }) {}

  const std::string newVersion_;
  std::unique_ptr<sim::PtyServer> server_;
  UniqueFd stopRead_;
  UniqueFd stopWrite_;
  SerialPortDriver driver_;
  RealClock clock_;
  std::thread thread_;
};

// A fault as the stand-in takes it (VxaStandInReset).
struct StandInFault {
  int fault, count, skip, onCommand;
  unsigned value;
};

// The vendor's library as our stand-in, with a fresh instrument behind it for each run.
class D2xxBacking final : public Backing, private Instrument {
 public:
  static std::unique_ptr<Backing> Make(const Draw& draw, std::string* problems) {
    std::string error;
    std::unique_ptr<D2xxDriver> driver = D2xxDriver::Load(VXA_D2XX_STANDIN, &error);
    void* library = driver ? ::dlopen(VXA_D2XX_STANDIN, RTLD_NOW | RTLD_NOLOAD) : nullptr;
    using Reset = void (*)(const StandInFault*, size_t, unsigned);
    auto reset = library ? reinterpret_cast<Reset>(::dlsym(library, "VxaStandInReset")) : nullptr;
    if (reset == nullptr) {
      *problems += " stand-in not set up: " + error + ";";
      if (library != nullptr) ::dlclose(library);
      return nullptr;
    }
    std::vector<StandInFault> faults;
    for (const sim::FaultSpec& aim : draw.faults) {
      faults.push_back({static_cast<int>(aim.fault), aim.count, aim.skip, aim.onCommand,
                        aim.value});
    }
    reset(faults.data(), faults.size(),
          static_cast<unsigned>(
              std::chrono::duration_cast<std::chrono::milliseconds>(draw.config.installTime)
                  .count()));
    return std::unique_ptr<Backing>(new D2xxBacking(std::move(driver), library));
  }
  ~D2xxBacking() override { ::dlclose(library_); }

  FtDriver& Driver() override { return *driver_; }
  Clock& clock() override { return clock_; }
  Instrument& instrument() override { return *this; }

  void Inject(const sim::FaultSpec&) override {}
  std::vector<uint8_t> Swap() override {
    auto file = reinterpret_cast<size_t (*)(const char*, unsigned char*, size_t)>(
        ::dlsym(library_, "VxaStandInFile"));
    std::vector<uint8_t> bytes(kMaxImageSize * 2);
    bytes.resize(std::min(bytes.size(), file("swap", bytes.data(), bytes.size())));
    return bytes;
  }
  bool TookInstall() override { return State(nullptr, nullptr); }
  std::string Version() override {
    std::string version;
    State(&version, nullptr);
    return version;
  }
  std::optional<uint64_t> LiveRefusals() override {
    uint64_t refusals = 0;
    State(nullptr, &refusals);
    return refusals;
  }

 private:
  D2xxBacking(std::unique_ptr<D2xxDriver> driver, void* library)
      : driver_(std::move(driver)), library_(library) {}

  bool State(std::string* version, uint64_t* refusals) {
    auto state = reinterpret_cast<int (*)(char*, size_t, unsigned long long*)>(
        ::dlsym(library_, "VxaStandInState"));
    char text[32] = {};
    unsigned long long sent = 0;
    const bool took = state(text, sizeof text, &sent) != 0;
    if (version != nullptr) *version = text;
    if (refusals != nullptr) *refusals = sent;
    return took;
  }

  RealClock clock_;
  std::unique_ptr<D2xxDriver> driver_;
  void* library_;
};

}  // namespace

std::unique_ptr<Backing> MakeBacking(const Draw& draw, std::string* problems) {
  switch (draw.backend) {
    case Backend::kPty:
      return PtyBacking::Make(draw, problems);
    case Backend::kD2xx:
      return D2xxBacking::Make(draw, problems);
    case Backend::kBus:
      break;
  }
  return std::make_unique<BusBacking>(draw);
}

}  // namespace vxa::campaign
