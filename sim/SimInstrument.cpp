// The simulated bridge as tests and the bus see it: what tests set and read, listing and opening.
// The calls on an opened handle and the line are in SimInstrumentCalls.cpp.
#include "sim/SimInstrument.h"

namespace vxa::sim {

SimInstrument::SimInstrument(PassKey, Clock& clock, const LineTiming& timing,
                             InstrumentConfig config, bool foreign)
    : clock_(clock),
      timing_(timing),
      config_(std::move(config)),
      foreign_(foreign),
      model_(foreign ? nullptr : std::make_unique<InstrumentModel>(config_)),
      toHost_(BaudRateOfDivisor(kFtDivisor1M5), timing.latencyTimer, timing.paced),
      cts_(config_.cts) {
  calls_.reserve(4096);
}

SimInstrument::~SimInstrument() = default;

// ---- What tests set and read ----------------------------------------------------------------

void SimInstrument::Inject(const FaultSpec& faultSpec) {
  std::lock_guard lock(mutex_);
  if (model_) model_->Inject(faultSpec);
}

void SimInstrument::ClearFaults() {
  std::lock_guard lock(mutex_);
  toHost_.StopBabble(clock_.Now());
  if (model_) model_->ClearFaults();
  failures_ = {};
}

void SimInstrument::FailNextCall(Call call, FtStatus status, int count) {
  std::lock_guard lock(mutex_);
  failures_[static_cast<size_t>(call)] = PendingFailure{status, status == kFtOk ? 0 : count};
}

void SimInstrument::ReplaceAnswers(std::vector<std::vector<uint8_t>> answers) {
  std::lock_guard lock(mutex_);
  replacements_.assign(std::make_move_iterator(answers.begin()),
                       std::make_move_iterator(answers.end()));
}

void SimInstrument::Unplug() {
  std::lock_guard lock(mutex_);
  unplugged_ = true;
}

void SimInstrument::SetCts(bool cts) {
  std::lock_guard lock(mutex_);
  cts_ = cts;
}

std::vector<CallRecord> SimInstrument::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void SimInstrument::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  if (model_) model_->ClearCommands();
}

std::vector<uint8_t> SimInstrument::LastCommand() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->LastCommand() : std::vector<uint8_t>{};
}

std::vector<std::vector<uint8_t>> SimInstrument::Commands() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->Commands() : std::vector<std::vector<uint8_t>>{};
}

std::vector<ReceivedBlock> SimInstrument::WriteBlocks(std::string_view file) const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->WriteBlocks(file) : std::vector<ReceivedBlock>{};
}

std::vector<uint8_t> SimInstrument::FileContent(std::string_view file) const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->FileContent(file) : std::vector<uint8_t>{};
}

void SimInstrument::SetFileContent(std::string_view file, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (model_) model_->SetFileContent(file, std::move(bytes));
}

std::array<uint16_t, kClockFields> SimInstrument::ClockRecord() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->ClockRecord() : std::array<uint16_t, kClockFields>{};
}

bool SimInstrument::ClockSet() const {
  std::lock_guard lock(mutex_);
  return model_ && model_->ClockSet();
}

std::string SimInstrument::ProgramVersionText() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->ProgramVersionText(clock_.Now()) : std::string();
}

bool SimInstrument::Installed() const {
  std::lock_guard lock(mutex_);
  return model_ && model_->Installed(clock_.Now());
}

bool SimInstrument::Installing() const {
  std::lock_guard lock(mutex_);
  return model_ && model_->Installing(clock_.Now());
}

int SimInstrument::KernelRequests() const {
  std::lock_guard lock(mutex_);
  return model_ ? model_->KernelRequests() : 0;
}

SimInstrument::Counters SimInstrument::counters() const {
  std::lock_guard lock(mutex_);
  Counters all = line_;
  if (model_) static_cast<ProtocolCounters&>(all) = model_->counters();
  const LineToHost::Counters& toHost = toHost_.counters();
  all.bytesDeviceToHost = toHost.bytesToHost;
  all.overrunBytes = toHost.overrunBytes;
  all.answersLostInBabble = toHost.answersLostInBabble;
  return all;
}

bool SimInstrument::Unplugged() const {
  std::lock_guard lock(mutex_);
  return unplugged_ || pulled_;
}

bool SimInstrument::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

// ---- The bus's side -------------------------------------------------------------------------

bool SimInstrument::Listed(Clock::TimePoint busNow) const {
  std::lock_guard lock(mutex_);
  return !unplugged_ && schedule_.AttachedAt(busNow);
}

void SimInstrument::SetPlugSchedule(PlugSchedule schedule) {
  std::lock_guard lock(mutex_);
  schedule_ = std::move(schedule);
}

bool SimInstrument::GoneLocked() {
  if (!pulled_ && open_ && schedule_.PulledBetween(openedAt_, clock_.Now())) pulled_ = true;
  return unplugged_ || pulled_;
}

bool SimInstrument::TakeFailure(Call call, FtStatus* status) {
  std::lock_guard lock(mutex_);
  const std::optional<FtStatus> failed = failures_[static_cast<size_t>(call)].Take();
  if (failed) *status = *failed;
  return failed.has_value();
}

void SimInstrument::Record(Call call, uint32_t a, uint32_t b, uint32_t c) {
  std::lock_guard lock(mutex_);
  calls_.push_back(CallRecord{call, a, b, c});
}

bool SimInstrument::TryOpen(Clock::TimePoint busNow, FtStatus* status) {
  std::lock_guard lock(mutex_);
  // An instrument on a clock of its own cannot be opened in its past: plugged in at the bus's
  // time, it lives on from there.
  if (!schedule_.Empty() && clock_.IsVirtual()) clock_.SleepUntil(busNow);
  if (const auto failed = failures_[static_cast<size_t>(Call::OpenByDescription)].Take()) {
    *status = *failed;
  } else if (open_) {
    *status = kFtDeviceNotOpened;
  } else {
    // A freshly opened bridge starts from its power-on settings with empty queues.
    open_ = true;
    pulled_ = false;
    openedAt_ = clock_.Now();
    ++line_.openHandles;
    divisor_ = kFtDivisor1M5;
    toHost_.SetBaud(BaudRateOfDivisor(divisor_));
    toHost_.SetLatencyTimer(timing_.latencyTimer);
    readTimeoutMs_ = 0;
    writeTimeoutMs_ = 0;
    flowControl_ = kFtFlowNone;
    toHost_.Clear(clock_.Now());
    *status = kFtOk;
  }
  calls_.push_back(CallRecord{Call::OpenByDescription, *status});
  return *status == kFtOk;
}

}  // namespace vxa::sim
