#include "app/cli/JsonOutput.h"

#include <ctime>

#include <nlohmann/json.hpp>

#include "Version.h"
#include "app/Station.h"
#include "app/cli/Console.h"
#include "base/IsoTime.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

using json = nlohmann::ordered_json;

// At most this often a progress object per instrument: a reader wants to follow, not to drown.
constexpr std::chrono::milliseconds kProgressInterval{500};

json TextOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

// Why a driver call failed (its words and a stable word for its kind) and what to do about it.
void AddCause(json& object, const BridgeFault& fault, const std::string& hint) {
  const char* code = fault.Known() ? BridgeCauseCode(fault.kind) : nullptr;
  object["cause"] = code != nullptr ? json(fault.text) : json(nullptr);
  object["cause_code"] = code != nullptr ? json(code) : json(nullptr);
  object["hint"] = TextOrNull(hint);
}

const char* ReportLevel(ReportKind kind) {
  switch (kind) {
    case ReportKind::kError: return "error";
    case ReportKind::kWarning: return "warning";
    case ReportKind::kInformation: return "information";
    case ReportKind::kNotAnswering: return "not_answering";
    case ReportKind::kStandardError: break;
  }
  return "standard_error";
}

json ClockText(const std::optional<LocalDateTime>& at) {
  return at ? json(IsoClockTime(*at)) : json(nullptr);
}

}  // namespace

JsonOutput::JsonOutput(TerminalStreams streams, std::string program, std::string command)
    : streams_(streams), history_(command == "history") {
  Write({{"type", "start"},
         {"schema", 1},
         {"program", program},
         {"version", VXA_PRODUCT_VERSION},
         {"command", TextOrNull(command)}});
}

void JsonOutput::Write(nlohmann::ordered_json object) {
  object["time"] = IsoLocal(std::time(nullptr));
  // Whatever bytes a text holds (an instrument's, a file name), the line is valid JSON.
  WriteText(streams_.out, object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

JsonOutput::Instrument& JsonOutput::At(size_t index, const BridgeInfo& bridge) {
  Instrument& instrument = instruments_[index];
  if (!bridge.description.empty() || !bridge.location.empty()) instrument.bridge = bridge;
  return instrument;
}

JsonOutput::Instrument& JsonOutput::Of(const Who& who) {
  return At(who.member.value_or(who.index), who.bridge);
}

nlohmann::ordered_json JsonOutput::About(const char* type, size_t index, const Instrument& instrument) const {
  return {{"type", type},
          {"index", index},
          {"port", TextOrNull(instrument.bridge.location)},
          {"bridge_serial", TextOrNull(instrument.bridge.serialNumber)},
          {"serial_number", TextOrNull(instrument.serialNumber)}};
}

void JsonOutput::BridgeCount(uint32_t) {}

void JsonOutput::BridgeListed(const BridgeInfo& bridge) {
  ++bridgesListed_;
  Write({{"type", "bridge"},
         {"index", bridge.index},
         {"description", bridge.description},
         {"port", TextOrNull(bridge.location)},
         {"bridge_serial", TextOrNull(bridge.serialNumber)}});
}

void JsonOutput::InstrumentFound(const Who& who, const DeviceLines&, const InstrumentFacts& facts) {
  Instrument& instrument = Of(who);
  instrument.found = true;
  instrument.serialNumber = facts.serialNumber;
  json object = About("instrument", who.index, instrument);
  object["model"] = facts.model;
  object["device_version"] = facts.deviceVersion;
  object["program_version"] = facts.programVersion;
  Write(std::move(object));
}

void JsonOutput::StageEntered(const Who& who, Stage stage, const std::string& text) {
  Instrument& instrument = Of(who);
  if (instrument.stage == stage) return;
  instrument.stage = stage;
  instrument.meter.Reset();
  instrument.lastProgress = {};
  json object = About("stage", who.index, instrument);
  object["stage"] = StageCode(stage);
  object["text"] = text;
  Write(std::move(object));
}

void JsonOutput::Progressed(const Who& who, const Progress& progress) {
  Instrument& instrument = Of(who);
  const Clock::TimePoint now = who.clock->Now();
  instrument.meter.Add(now, progress.position);
  const auto wall = std::chrono::steady_clock::now();
  if (wall - instrument.lastProgress < kProgressInterval) return;
  instrument.lastProgress = wall;
  const bool reading = instrument.stage == Stage::kFileRead;
  json object = About("progress", who.index, instrument);
  object["stage"] = instrument.stage ? json(StageCode(*instrument.stage)) : json(nullptr);
  object["position"] = progress.position;
  // A read does not know the file's size before its end.
  object["total"] = reading ? json(nullptr) : json(progress.total);
  const std::optional<double> rate = instrument.meter.BytesPerSecond(now);
  object["bytes_per_second"] = rate ? json(static_cast<int64_t>(*rate)) : json(nullptr);
  Write(std::move(object));
}

void JsonOutput::VersionWaited(const Who& who, const Waited& waited) {
  Instrument& instrument = Of(who);
  const long seconds = static_cast<long>(waited.waited.count());
  if (seconds == instrument.waitedSeconds) return;
  instrument.waitedSeconds = seconds;
  json object = About("version_wait", who.index, instrument);
  object["waited_s"] = seconds;
  object["limit_s"] = static_cast<long>(waited.limit.count());
  Write(std::move(object));
}

void JsonOutput::Reported(const Who& who, const Report& report) {
  Instrument& instrument = Of(who);
  // How a step ended goes with the instrument's outcome.
  if (report.kind == ReportKind::kInformation) {
    instrument.successText = report.text;
    return;
  }
  // A search that found no instrument has nobody to speak of.
  json object = instrument.found ? About("message", who.index, instrument)
                                 : json{{"type", "message"}};
  object["level"] = ReportLevel(report.kind);
  object["text"] = report.text;
  object["detail"] = TextOrNull(report.detail);
  object["consequence"] = TextOrNull(report.consequence);
  AddCause(object, report.fault, report.hint);
  Write(std::move(object));
}

void JsonOutput::LogUnavailable(const Who& who, const std::string& why) {
  json object = About("warning", who.index, Of(who));
  object["warning"] = "log_unavailable";
  object["text"] = why;
  Write(std::move(object));
}

void JsonOutput::NewFirmware(const Who& who, const std::string& programVersion,
                             const std::optional<LocalDateTime>& clockSet) {
  Instrument& instrument = Of(who);
  instrument.newVersion = programVersion;
  instrument.clockSet = clockSet;
  if (clockSet) return;
  json object = About("warning", who.index, instrument);
  object["warning"] = "clock_not_set";
  object["text"] = VXA_MSG(msg::kClockNotSet);
  Write(std::move(object));
}

void JsonOutput::WriteOutcome(size_t index, Instrument& instrument, const Outcome& outcome) {
  if (instrument.ended) return;
  instrument.ended = true;
  instrument.updated = outcome.kind == Outcome::kUpdated;
  json object = About("outcome", index, instrument);
  object["outcome"] = OutcomeCode(outcome);
  const Failure* failure = outcome.failure ? &*outcome.failure : nullptr;
  object["text"] = failure != nullptr ? TextOrNull(failure->text) : TextOrNull(instrument.successText);
  object["detail"] = failure != nullptr ? TextOrNull(failure->detail) : json(nullptr);
  object["consequence"] = failure != nullptr ? TextOrNull(failure->consequence) : json(nullptr);
  AddCause(object, failure != nullptr ? failure->fault : BridgeFault{},
           failure != nullptr ? failure->hint : std::string());
  object["install_requested"] = outcome.kernelRequested;
  object["new_version"] = TextOrNull(instrument.newVersion);
  object["clock_set"] = ClockText(instrument.clockSet);
  object["blocks_resent"] = outcome.blocksResent;
  Write(std::move(object));
}

void JsonOutput::StationMember(const Station& station, size_t index) {
  const StationProgress look = station.Look(index);
  const StationResult& result = station.Result(index);
  const Who who{result.bridge.index, result.bridge, &station.ClockAt(index), index};
  Instrument& instrument = Of(who);
  if (look.facts && !instrument.found) InstrumentFound(who, {}, *look.facts);
  for (; instrument.stages < look.stages.size(); ++instrument.stages) {
    StageEntered(who, look.stages[instrument.stages].stage, look.stages[instrument.stages].text);
  }
  if (look.unplugged && !instrument.unplugged) {
    instrument.unplugged = true;
    Write(About("unplugged", result.bridge.index, instrument));
  }
  if (!look.finished) {
    if (look.waited.limit.count() > 0) {
      VersionWaited(who, look.waited);
    } else if (look.progress.total > 0) {
      Progressed(who, look.progress);
    }
    return;
  }
  if (instrument.ended) return;
  if (!result.warning.empty()) LogUnavailable(who, result.warning);
  if (result.outcome.kind == Outcome::kUpdated) {
    instrument.newVersion = result.newVersion;
    instrument.clockSet = result.clockSet;
    instrument.successText = VXA_MSG(msg::kFirmwareCompleted);
  }
  if (result.outcome.kind == Outcome::kUpToDate) instrument.successText = VXA_MSG(msg::kStationUpToDate);
  Outcome outcome = result.outcome;
  if (result.interrupted) outcome.kind = Outcome::kInterrupted;
  WriteOutcome(result.bridge.index, instrument, outcome);
}

void JsonOutput::StationLooked(const Station& station) {
  station_ = true;
  for (size_t index = 0; index < station.Size(); ++index) StationMember(station, index);
}

void JsonOutput::StationEnded(const Station& station, bool, size_t) {
  // A search of every instrument is not looked at while it runs: its objects come now.
  StationLooked(station);
}

void JsonOutput::Failed(const Failure& failure) {
  Write({{"type", "error"}, {"outcome", OutcomeCode(Outcome(Outcome::kNone, failure))},
         {"text", failure.text}});
  // The one thing stderr carries: a reader of the terminal learns why the program did nothing.
  if (failure.kind == FailureKind::kUsage) WriteText(streams_.err, failure.text + "\n");
}

void JsonOutput::Note(const std::string& text) { Write({{"type", "note"}, {"text", text}}); }

void JsonOutput::FileSaved(const std::string& file, int bytes, bool) {
  Write({{"type", "file"}, {"file", file}, {"bytes", bytes}});
}

void JsonOutput::RecordRead(const RecordEntry& entry) {
  ++records_;
  // The record as the file holds it: the same object, whoever wrote it.
  json record = json::parse(entry.stored, nullptr, false);
  if (record.is_object()) Write(std::move(record));
}

void JsonOutput::RecordSkipped(const std::string& file, size_t line) {
  Write({{"type", "record_skipped"},
         {"file", file},
         {"line", line},
         {"text", FormatText(VXA_MSG(msg::kHistoryLineSkipped), file.c_str(), line)}});
}

void JsonOutput::RunEnded(const RunEnd& end) {
  // A single instrument's outcome is the run's.
  size_t instruments = 0;
  size_t updated = 0;
  for (auto& [index, instrument] : instruments_) {
    if (!instrument.found && !instrument.ended) continue;
    if (!station_) WriteOutcome(index, instrument, end.outcome);
    ++instruments;
    updated += instrument.updated ? 1 : 0;
  }
  json summary = {{"type", "summary"},
                  {"outcome", OutcomeCode(end.outcome)},
                  {"exit_status", end.exitStatus},
                  {"instruments", instruments},
                  {"updated", updated}};
  if (history_) {
    summary["records"] = records_;
  } else if (end.asked == Asked::kList) {
    summary["bridges"] = bridgesListed_;
  }
  Write(std::move(summary));
}

}  // namespace vxa::cli
