#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Station.h"
#include "app/UpdateRecord.h"
#include "app/cli/Output.h"
#include "base/AppendFile.h"

namespace vxa::cli {

// The record file of --record, opened for appending before any instrument is touched. Null, with
// the failure and its cause, when it cannot be.
std::unique_ptr<AppendFile> OpenRecordFile(const std::string& name, Failure* failure);

// Tells another output everything, and appends each instrument's update attempt to the record
// file when it ends: before its outcome reaches the other output, so that whatever reads the
// outcome can count on the record. A station's instrument is recorded as soon as it is seen to
// have finished; the one instrument of a command when the command has ended (Conclude), what it
// reported meanwhile held back until then.
class RecordOutput final : public Output {
 public:
  RecordOutput(std::unique_ptr<Output> inner, std::unique_ptr<AppendFile> file, std::string name);

  // The command has ended with `outcome`: the one instrument's record is written, then what was
  // held back is told. Called while the clocks the events keep time by are still there.
  void Conclude(const Outcome& outcome);
  // A record could not be written (the output has been told why).
  bool Lost() const { return lost_; }

  // A record names the bridge, also of the one instrument found by its description.
  bool NamesBridges() const override { return true; }

  void BridgeCount(uint32_t count) override;
  void BridgeListed(const BridgeInfo& bridge) override;
  void InstrumentFound(const Who& who, const DeviceLines& lines,
                       const InstrumentFacts& facts) override;
  void StageEntered(const Who& who, Stage stage, const std::string& text) override;
  void Progressed(const Who& who, const Progress& progress) override;
  void VersionWaited(const Who& who, const Waited& waited) override;
  void Reported(const Who& who, const Report& report) override;
  void LogUnavailable(const Who& who, const std::string& why) override;
  void NewFirmware(const Who& who, const std::string& programVersion,
                   const std::optional<LocalDateTime>& clockSet) override;
  void Idle(const Who& who) override;
  void StagesOver(const Who& who) override;
  void StationLooked(const Station& station) override;
  void StationEnded(const Station& station, bool update, size_t succeeded) override;
  void Failed(const Failure& failure) override;
  void Note(const std::string& text) override;
  void StandardOutputTaken() override;
  void FileSaved(const std::string& file, int bytes, bool toStandardOutput) override;
  void RecordRead(const RecordEntry& entry) override;
  void RecordSkipped(const std::string& file, size_t line) override;
  void RunEnded(const RunEnd& end) override;
  void Interjecting() override;

 private:
  // What is known of one instrument's attempt so far.
  struct Attempt {
    std::time_t started = 0;
    BridgeInfo bridge;
    std::optional<InstrumentFacts> facts;
    std::vector<StageMark> stages;
    const Clock* clock = nullptr;
    std::optional<Clock::TimePoint> ended;  // on its clock, when its outcome was reported
    std::string newVersion;
    std::optional<LocalDateTime> clockSet;
    bool written = false;
  };

  // The one instrument's attempt, begun by the first word of it.
  Attempt& Single(const Who& who);
  // Tells the other output now, or once the record is written when it is being held back.
  template <typename Call>
  void Tell(Call call) {
    if (holding_) {
      held_.emplace_back(std::move(call));
    } else {
      call(*inner_);
    }
  }
  void RecordFinishedMembers(const Station& station);
  void Write(const Attempt& attempt, Outcome outcome, Clock::TimePoint end);

  std::unique_ptr<Output> inner_;
  std::unique_ptr<AppendFile> file_;
  const std::string name_;
  const std::string host_;
  const ImageIdentity image_;
  std::optional<Attempt> single_;
  bool holding_ = false;
  std::vector<std::function<void(Output&)>> held_;
  const Station* station_ = nullptr;
  std::vector<Attempt> members_;
  bool lost_ = false;
};

}  // namespace vxa::cli
