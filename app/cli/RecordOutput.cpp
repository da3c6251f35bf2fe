#include "app/cli/RecordOutput.h"

#include "base/HostName.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// The instrument entered no stage, failed at nothing and was not stopped: nothing was attempted
// (an instrument a station left alone).
bool NothingAttempted(const std::vector<StageMark>& stages, const Outcome& outcome) {
  return stages.empty() && !outcome.Failed() && outcome.kind != Outcome::kInterrupted;
}

}  // namespace

std::unique_ptr<AppendFile> OpenRecordFile(const std::string& name, Failure* failure) {
  FileIoError error;
  std::unique_ptr<AppendFile> file = AppendFile::Open(name, &error);
  if (file) return file;
  *failure = {FailureKind::kLocal,
              error.notRegular
                  ? FormatText(VXA_MSG(msg::kRecordNotRegular), name.c_str())
                  : FormatText(VXA_MSG(msg::kRecordOpenFailed), name.c_str(), error.text.c_str())};
  return nullptr;
}

RecordOutput::RecordOutput(std::unique_ptr<Output> inner, std::unique_ptr<AppendFile> file,
                           std::string name)
    : inner_(std::move(inner)),
      file_(std::move(file)),
      name_(std::move(name)),
      host_(HostName()),
      image_(BuiltInImageIdentity()) {}

RecordOutput::Attempt& RecordOutput::Single(const Who& who) {
  if (!single_) {
    single_.emplace();
    single_->started = std::time(nullptr);
  }
  if (!who.bridge.location.empty() || !who.bridge.serialNumber.empty()) single_->bridge = who.bridge;
  if (who.clock != nullptr) single_->clock = who.clock;
  return *single_;
}

void RecordOutput::Write(const Attempt& attempt, Outcome outcome, Clock::TimePoint end) {
  UpdateRecord record;
  record.started = attempt.started;
  record.ended = std::time(nullptr);
  record.host = host_;
  record.image = image_;
  record.bridge = attempt.bridge;
  record.before = attempt.facts;
  record.newVersion = attempt.newVersion;
  record.clockSet = attempt.clockSet;
  if (outcome.failure) {
    record.text = outcome.failure->text;
  } else if (outcome.kind == Outcome::kUpdated) {
    record.text = VXA_MSG(msg::kFirmwareCompleted);
  }
  for (size_t index = 0; index < attempt.stages.size(); ++index) {
    const StageMark& mark = attempt.stages[index];
    const Clock::TimePoint until =
        index + 1 < attempt.stages.size() ? attempt.stages[index + 1].at : end;
    record.stages.push_back({mark.stage, until > mark.at ? until - mark.at : Clock::Duration{}});
  }
  record.outcome = std::move(outcome);
  FileIoError error;
  if (file_->Append(RecordLine(record), &error)) return;
  lost_ = true;
  inner_->Failed({FailureKind::kLocal, FormatText(VXA_MSG(msg::kRecordWriteFailed), name_.c_str(),
                                                  error.text.c_str())});
}

void RecordOutput::Conclude(const Outcome& outcome) {
  // Without its facts or its bridge answering, the run never reached an instrument.
  if (single_ && !single_->written &&
      (single_->facts || !single_->stages.empty() || outcome.kind == Outcome::kNotResponding)) {
    single_->written = true;
    const Clock::TimePoint end =
        single_->ended.value_or(single_->clock != nullptr ? single_->clock->Now() : Clock::TimePoint{});
    Write(*single_, outcome, end);
  }
  holding_ = false;
  for (auto& call : held_) call(*inner_);
  held_.clear();
}

void RecordOutput::RecordFinishedMembers(const Station& station) {
  if (&station != station_) {
    station_ = &station;
    members_.clear();
  }
  if (members_.size() < station.Size()) members_.resize(station.Size());
  for (size_t index = 0; index < station.Size(); ++index) {
    Attempt& attempt = members_[index];
    if (attempt.written) continue;
    if (attempt.started == 0) attempt.started = std::time(nullptr);
    const StationProgress look = station.Look(index);
    if (!look.finished) continue;
    attempt.written = true;
    const StationResult& result = station.Result(index);
    Outcome outcome = result.outcome;
    if (result.interrupted) outcome.kind = Outcome::kInterrupted;
    if (NothingAttempted(look.stages, outcome)) continue;
    attempt.bridge = result.bridge;
    attempt.facts = look.facts ? look.facts : result.facts;
    attempt.stages = look.stages;
    attempt.newVersion = result.newVersion;
    attempt.clockSet = result.clockSet;
    Write(attempt, std::move(outcome), station.ClockAt(index).Now());
  }
}

void RecordOutput::BridgeCount(uint32_t count) {
  Tell([=](Output& o) { o.BridgeCount(count); });
}

void RecordOutput::BridgeListed(const BridgeInfo& bridge) {
  Tell([=](Output& o) { o.BridgeListed(bridge); });
}

void RecordOutput::InstrumentFound(const Who& who, const DeviceLines& lines,
                                   const InstrumentFacts& facts) {
  Single(who).facts = facts;
  Tell([=](Output& o) { o.InstrumentFound(who, lines, facts); });
}

void RecordOutput::StageEntered(const Who& who, Stage stage, const std::string& text) {
  Attempt& attempt = Single(who);
  if (attempt.stages.empty() || attempt.stages.back().stage != stage) {
    attempt.stages.push_back({stage, text, who.clock != nullptr ? who.clock->Now() : Clock::TimePoint{}});
  }
  Tell([=](Output& o) { o.StageEntered(who, stage, text); });
}

void RecordOutput::Progressed(const Who& who, const Progress& progress) {
  Single(who);
  Tell([=](Output& o) { o.Progressed(who, progress); });
}

void RecordOutput::VersionWaited(const Who& who, const Waited& waited) {
  Single(who);
  Tell([=](Output& o) { o.VersionWaited(who, waited); });
}

void RecordOutput::Reported(const Who& who, const Report& report) {
  Attempt& attempt = Single(who);
  // The loader reports once, at the end of a step: from here on the outcome is known, and the
  // record goes first.
  if (!attempt.ended && who.clock != nullptr) attempt.ended = who.clock->Now();
  holding_ = true;
  Tell([=](Output& o) { o.Reported(who, report); });
}

void RecordOutput::LogUnavailable(const Who& who, const std::string& why) {
  Single(who);
  Tell([=](Output& o) { o.LogUnavailable(who, why); });
}

void RecordOutput::NewFirmware(const Who& who, const std::string& programVersion,
                               const std::optional<LocalDateTime>& clockSet) {
  Attempt& attempt = Single(who);
  attempt.newVersion = programVersion;
  attempt.clockSet = clockSet;
  if (!attempt.ended && who.clock != nullptr) attempt.ended = who.clock->Now();
  holding_ = true;
  Tell([=](Output& o) { o.NewFirmware(who, programVersion, clockSet); });
}

void RecordOutput::Idle(const Who& who) {
  Tell([=](Output& o) { o.Idle(who); });
}

void RecordOutput::StagesOver(const Who& who) {
  Tell([=](Output& o) { o.StagesOver(who); });
}

void RecordOutput::StationLooked(const Station& station) {
  RecordFinishedMembers(station);
  inner_->StationLooked(station);
}

void RecordOutput::StationEnded(const Station& station, bool update, size_t succeeded) {
  RecordFinishedMembers(station);
  inner_->StationEnded(station, update, succeeded);
}

void RecordOutput::Failed(const Failure& failure) {
  // After the instrument was found, a failure of the command is part of the attempt's outcome.
  if (single_ && single_->facts) holding_ = true;
  Tell([=](Output& o) { o.Failed(failure); });
}

void RecordOutput::Note(const std::string& text) {
  if (single_ && single_->facts) holding_ = true;
  Tell([=](Output& o) { o.Note(text); });
}

void RecordOutput::StandardOutputTaken() {
  Tell([](Output& o) { o.StandardOutputTaken(); });
}

void RecordOutput::FileSaved(const std::string& file, int bytes, bool toStandardOutput) {
  Tell([=](Output& o) { o.FileSaved(file, bytes, toStandardOutput); });
}

void RecordOutput::RecordRead(const RecordEntry& entry) {
  Tell([=](Output& o) { o.RecordRead(entry); });
}

void RecordOutput::RecordSkipped(const std::string& file, size_t line) {
  Tell([=](Output& o) { o.RecordSkipped(file, line); });
}

void RecordOutput::RunEnded(const RunEnd& end) {
  // Whatever was still held back goes before the end, recorded or not.
  holding_ = false;
  for (auto& call : held_) call(*inner_);
  held_.clear();
  inner_->RunEnded(end);
}

void RecordOutput::Interjecting() {
  Tell([](Output& o) { o.Interjecting(); });
}

}  // namespace vxa::cli
