#include "app/Station.h"

#include <atomic>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "Version.h"
#include "app/Loader.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// What one instrument's loader tells, kept for the station's front end. The loader calls it from
// the instrument's own thread, and Wake from that instrument's traffic thread; the front end
// looks from its own thread, under the lock.
class MemberView final : public LoaderView {
 public:
  MemberView(Clock& clock, std::function<void()> changed)
      : clock_(clock), changed_(std::move(changed)) {}

  void SetInterruptHandler(std::function<void()> handler) { onInterrupt_ = std::move(handler); }
  // From any thread.
  void RequestStop() {
    {
      std::lock_guard lock(mutex_);
      stopRequested_ = true;
    }
    woken_.notify_all();
  }
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      shown_.finished = true;
    }
    changed_();
  }
  StationProgress Look() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  void MarkUnplugged() {
    std::lock_guard lock(mutex_);
    shown_.unplugged = true;
  }
  bool Interrupted() const { return interrupted_; }
  const std::optional<DeviceLines>& Lines() const { return lines_; }
  const std::optional<InstrumentFacts>& Facts() const { return facts_; }
  const std::string& Warning() const { return warning_; }
  const std::string& NewVersion() const { return newVersion_; }
  const std::optional<LocalDateTime>& ClockSet() const { return clockSet_; }

  void DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) override {
    lines_ = lines;
    facts_ = facts;
    std::lock_guard lock(mutex_);
    shown_.serialNumber = facts.serialNumber;
    shown_.facts = facts;
  }
  void StageChanged(Stage stage, const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      shown_.stages.push_back({stage, text, clock_.Now()});
      shown_.progress = {};
      shown_.waited = {};
    }
    changed_();
  }
  void ProgressChanged(const Progress& progress) override {
    std::lock_guard lock(mutex_);
    shown_.progress = progress;
  }
  void VersionWaitChanged(const Waited& waited) override {
    std::lock_guard lock(mutex_);
    shown_.waited = waited;
  }
  // What failed is in the loader's outcome.
  void ShowReport(const Report&) override {}
  void DiagnosticsUnavailable(const std::string& text) override { warning_ = text; }
  void NewFirmwareReported(const std::string& programVersion,
                           const std::optional<LocalDateTime>& clockSet) override {
    newVersion_ = programVersion;
    clockSet_ = clockSet;
  }
  // The front end has asked once for every instrument before any was started.
  bool AskYesNo(const std::string&, DefaultAnswer) override { return true; }

  void ProcessEvents(std::chrono::milliseconds maxWait) override {
    bool stop = false;
    {
      std::unique_lock lock(mutex_);
      woken_.wait_for(lock, maxWait, [this] { return wake_ || stopRequested_; });
      wake_ = false;
      stop = stopRequested_;
    }
    if (stop && !interrupted_) {
      interrupted_ = true;
      if (onInterrupt_) onInterrupt_();
      terminating_ = true;
    }
  }
  void Wake() override {
    {
      std::lock_guard lock(mutex_);
      wake_ = true;
    }
    woken_.notify_all();
  }
  void Terminate() override { terminating_ = true; }
  bool Terminating() const override { return terminating_; }

 private:
  Clock& clock_;
  const std::function<void()> changed_;
  std::function<void()> onInterrupt_;

  mutable std::mutex mutex_;
  std::condition_variable woken_;
  bool wake_ = false;
  bool stopRequested_ = false;
  StationProgress shown_;

  // The instrument's own thread alone.
  bool interrupted_ = false;
  bool terminating_ = false;
  std::optional<DeviceLines> lines_;
  std::optional<InstrumentFacts> facts_;
  std::string warning_;
  std::string newVersion_;
  std::optional<LocalDateTime> clockSet_;
};

}  // namespace

class Station::Member {
 public:
  Member(const BridgeInfo& bridge, Clock& clock, std::function<void()> changed)
      : clock(clock), view(clock, std::move(changed)) {
    result.bridge = bridge;
  }

  Clock& clock;
  MemberView view;
  StationResult result;
  std::string firstLogName;
  std::thread thread;
};

Station::Station(FtDriver& driver, ClockOf clockOf, std::span<const EmbeddedResource> resources)
    : driver_(driver), clockOf_(std::move(clockOf)), resources_(resources) {}

Station::~Station() {
  Interrupt();
  Join();
}

std::string Station::LogFileName(const std::string& key) {
  std::string name = "log_file-";
  for (const char c : key) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '.' || c == '-' || c == '_';
    name.push_back(plain ? c : '_');
  }
  return name + ".txt";
}

std::string Station::ClaimLogName(const std::string& key, size_t index) {
  std::lock_guard lock(namesMutex_);
  // Two instruments that tell the same serial number must not write into one file.
  const std::string own = key + "-" + std::to_string(index);
  std::string name = LogFileName(key);
  for (int again = 0; logNames_.count(name) != 0; ++again) {
    name = LogFileName(again == 0 ? own : own + "-" + std::to_string(again));
  }
  logNames_.insert(name);
  return name;
}

Station::Member& Station::NewMember(const BridgeInfo& bridge, const Options& options,
                                   std::function<void()> changed) {
  members_.push_back(std::make_unique<Member>(bridge, clockOf_(bridge), std::move(changed)));
  Member& member = *members_.back();
  if (options.log) {
    // Until the instrument tells its serial number the bridge's own names the log.
    const std::string key =
        bridge.serialNumber.empty() ? "bridge" + std::to_string(bridge.index) : bridge.serialNumber;
    member.firstLogName = ClaimLogName(key, bridge.index);
  }
  return member;
}

void Station::Start(const std::vector<BridgeInfo>& bridges, Options options,
                    std::function<void()> changed) {
  if (!members_.empty()) return;
  for (const BridgeInfo& bridge : bridges) NewMember(bridge, options, changed);
  for (const auto& member : members_) Launch(*member, options);
}

void Station::Add(const BridgeInfo& bridge, Options options, std::function<void()> changed) {
  Launch(NewMember(bridge, options, std::move(changed)), options);
}

void Station::MarkUnplugged(size_t index) {
  members_.at(index)->view.MarkUnplugged();
}

void Station::Run(Member& member, const Options& options) {
  StationResult& result = member.result;
  const Clock::TimePoint start = member.clock.Now();
  bool upToDate = false;
  {
    Loader loader(member.view, driver_, member.clock, resources_);
    member.view.SetInterruptHandler([&loader] { loader.Interrupt(); });
    if (!member.view.Terminating()) {
      loader.SetBridge(result.bridge);
      loader.SetLogEnabled(options.log);
      if (options.log) {
        loader.SetLogNames(member.firstLogName, [this, &result](const std::string& serial) {
          return ClaimLogName(serial, result.bridge.index);
        });
      }
      const Outcome found = loader.Find();
      // A stop asked for while the search waited for the instrument is seen here.
      member.view.ProcessEvents(std::chrono::milliseconds(0));
      upToDate = found.kind == Outcome::kFound && options.job == Job::kUpdate &&
                 options.skipUpToDate && member.view.Facts() &&
                 member.view.Facts()->programVersion == VXA_PRODUCT_VERSION;
      if (found.kind == Outcome::kFound && options.job == Job::kUpdate &&
          !member.view.Terminating() && !upToDate) {
        loader.Load();
      }
    }
    result.outcome = upToDate ? Outcome(Outcome::kUpToDate) : loader.LastOutcome();
    result.outcome.kernelRequested = loader.KernelRequested();
    member.view.SetInterruptHandler(nullptr);
  }
  // Nothing was under way for an instrument left alone as it was.
  result.interrupted = member.view.Interrupted() && result.outcome.kind != Outcome::kUpdated &&
                       !upToDate;
  result.lines = member.view.Lines();
  result.facts = member.view.Facts();
  result.serialNumber = member.view.Look().serialNumber;
  result.warning = member.view.Warning();
  result.newVersion = member.view.NewVersion();
  result.clockSet = member.view.ClockSet();
  result.elapsed = member.clock.Now() - start;
  member.view.Finish();
}

void Station::Launch(Member& member, Options options) {
  try {
    member.thread = std::thread([this, &member, options] { Run(member, options); });
  } catch (const std::system_error&) {
    member.result.outcome =
        Outcome(Outcome::kFailed, Failure{FailureKind::kLocal, VXA_MSG(msg::kThreadCreateFailed)});
    member.view.Finish();
  }
}

StationProgress Station::Look(size_t index) const {
  return members_.at(index)->view.Look();
}

Clock& Station::ClockAt(size_t index) const {
  return members_.at(index)->clock;
}

bool Station::Finished() const {
  for (const auto& member : members_) {
    if (!member->view.Look().finished) return false;
  }
  return true;
}

void Station::Interrupt() {
  for (const auto& member : members_) member->view.RequestStop();
}

void Station::Join() {
  for (const auto& member : members_) {
    if (member->thread.joinable()) member->thread.join();
  }
}

const StationResult& Station::Result(size_t index) const {
  return members_.at(index)->result;
}

}  // namespace vxa
