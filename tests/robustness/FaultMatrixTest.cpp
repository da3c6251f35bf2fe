// Every fault the simulated instrument knows, at every stage of an update where it can strike,
// and the faults that repeat for ever without letting a transfer move on. Whatever happens, the
// instrument is told to install only an image that was read back and compared to the last byte,
// and the run ends with a clear outcome within a bound of virtual time.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/InstrumentSelection.h"
#include "app/Loader.h"
#include "app/Station.h"
#include "app/image/ResReadTransBuffer.h"
#include "protocol/Connection.h"
#include "text/Messages.h"
#include "sim/SimBus.h"
#include "tests/support/ForwardingDriver.h"
#include "tests/support/RecordingView.h"

namespace vxa {
namespace {

using sim::Fault;
using sim::FaultSpec;
using Box = test::RecordingView::Box;

std::string Msg(int32_t id) { return MessageText(id, 0); }

// A small image keeps 300 updates quick and still has a first, a middle and a last block both
// ways: 4 blocks with data and the empty one when writing, 4 and the empty one when reading.
constexpr size_t kImageSize = 100000;

enum class StageId { kSearch, kWriteRequest, kFirstBlock, kMiddleBlock, kLastBlock, kReadRequest,
                     kReadBlock, kKernel, kVersionWait, kClock };

struct Stage {
  StageId id;
  const char* name;
  int onCommand;
  int skip;
};

const Stage kStages[] = {
    {StageId::kSearch, "search", -1, 0},
    {StageId::kWriteRequest, "wrq", kCmdWriteRequest, 0},
    {StageId::kFirstBlock, "blk1", kCmdWriteBlock, 0},
    {StageId::kMiddleBlock, "blk2", kCmdWriteBlock, 1},
    {StageId::kLastBlock, "blk5", kCmdWriteBlock, 4},  // the empty block
    {StageId::kReadRequest, "rrq", kCmdReadRequest, 0},
    {StageId::kReadBlock, "rblk", kCmdReadAck, 1},
    {StageId::kKernel, "kernel", kCmdWriteRequest, 0},
    {StageId::kVersionWait, "ginf", kCmdText, 0},
    {StageId::kClock, "clock", kCmdText, 1},
};

enum class End { kUpdated, kErrorBox, kNotConnected, kVersionTimeout };

struct Result {
  End end;
  std::string text;  // the error box's text
  bool operator==(const Result&) const = default;
};

const char kRefusal[] = "Отказ прибора";

Result Updated() { return {End::kUpdated, ""}; }
Result Error(const std::string& text) { return {End::kErrorBox, text}; }
Result NotConnected() { return {End::kNotConnected, ""}; }
std::string InstallRefused() {
  return FormatText(Msg(msg::kInstallRefused).c_str(), kRefusal);
}
Result VersionTimeout() { return {End::kVersionTimeout, ""}; }

// What each fault must lead to at each stage. Faults that pass are retried or tolerated by the
// protocol; those with no occasion at a stage never fire there.
Result Expected(Fault fault, StageId stage) {
  const std::string linkLost = Msg(msg::kFtdiReadError) + std::to_string(kFtIoError);
  const bool writeBlock = stage == StageId::kFirstBlock || stage == StageId::kMiddleBlock ||
                          stage == StageId::kLastBlock;
  switch (fault) {
    case Fault::Silent:
      if (stage == StageId::kSearch) return NotConnected();
      if (stage == StageId::kKernel || stage == StageId::kVersionWait) return VersionTimeout();
      if (stage == StageId::kClock) return Updated();  // a clock not set is not reported
      return Error(Msg(msg::kCommunicationError));
    case Fault::Unplug:
      if (stage == StageId::kSearch) return NotConnected();
      if (stage == StageId::kVersionWait) return VersionTimeout();
      return Error(linkLost);
    case Fault::RefuseRequest:
      if (stage == StageId::kWriteRequest || stage == StageId::kReadRequest) return Error(kRefusal);
      if (stage == StageId::kKernel) return Error(InstallRefused());
      return Updated();
    case Fault::RefuseBlock:
      return writeBlock || stage == StageId::kReadBlock ? Error(kRefusal) : Updated();
    case Fault::UnrecognisedWrqAnswer:
    case Fault::NeverReportVersion:
      // Only the install request decides; an install request answered with a code that is neither
      // acceptance nor refusal shows as a version that never comes.
      return stage == StageId::kKernel ||
                     (fault == Fault::NeverReportVersion && stage == StageId::kWriteRequest)
                 ? VersionTimeout()
                 : Updated();
    case Fault::FirstReadBlockNumber:
      return stage == StageId::kReadRequest ? Error(Msg(msg::kReceiveNotFromBlock1)) : Updated();
    case Fault::CorruptReadBack:
    case Fault::ShortReadBack:
      return stage == StageId::kReadRequest ? Error(Msg(msg::kVerifiedDataMismatch)) : Updated();
    case Fault::LongReadBack:
      return stage == StageId::kReadRequest ? Error(Msg(msg::kInsufficientSpace)) : Updated();
    case Fault::UnrecognisedAnswer:
      if (writeBlock || stage == StageId::kReadRequest || stage == StageId::kReadBlock) {
        return Error(FormatText(Msg(msg::kInvalidConfirmCode).c_str(), 0x37));
      }
      return Updated();
    case Fault::BadAckLength:
      return stage == StageId::kWriteRequest || writeBlock ? Error(Msg(msg::kInvalidPacketLength))
                                                           : Updated();
    case Fault::WrqNonZeroBlock:
      return stage == StageId::kWriteRequest ? Error(Msg(msg::kTransferFromNonZeroBlock))
                                             : Updated();
    case Fault::ShortReadBlock:
      return stage == StageId::kReadRequest || stage == StageId::kReadBlock
                 ? Error(Msg(msg::kInvalidPacketLength))
                 : Updated();
    case Fault::WrongAckNumber:
      // The end of the file counts as acknowledged whatever number the answer names, so the
      // instrument that did not take the empty block holds no complete image: the read-back
      // catches it before anything is installed.
      return stage == StageId::kLastBlock ? Error(Msg(msg::kVerifiedDataMismatch)) : Updated();
    case Fault::RecordLength:
      return stage == StageId::kSearch ? NotConnected() : Updated();
    default:
      // Lost, late, garbled or babbled answers, wrong acknowledgements and repeated blocks: the
      // exchange is repeated and the update goes through.
      return Updated();
  }
}

// The faults that never let a transfer move on however long they are served: a wrong
// acknowledgement, the same read block, a request never accepted (its answer never comes). Where
// they strike, the transfer is given up with message 51 once its stage's bound has passed.
struct Endless {
  const char* name;
  Fault fault;
};
const Endless kEndless[] = {
    {"wrong-ack-for-ever", Fault::WrongAckNumber},
    {"ack-ahead-for-ever", Fault::AckAhead},
    {"same-block-for-ever", Fault::RepeatReadBlock},
    {"never-accepted", Fault::DropAnswer},
};

Result ExpectedEndless(Fault fault, StageId stage) {
  const Result stalled = Error(Msg(msg::kCommunicationError));
  if (fault == Fault::WrongAckNumber) {
    // The empty block counts as acknowledged whatever number comes back: the read-back finds the
    // image incomplete.
    if (stage == StageId::kLastBlock) return Error(Msg(msg::kVerifiedDataMismatch));
    return stage == StageId::kFirstBlock || stage == StageId::kMiddleBlock ? stalled : Updated();
  }
  if (fault == Fault::AckAhead) {
    // Every block is stored, and the empty one ends the file whatever number its answer names.
    return stage == StageId::kFirstBlock || stage == StageId::kMiddleBlock ? stalled : Updated();
  }
  if (fault == Fault::RepeatReadBlock) return stage == StageId::kReadBlock ? stalled : Updated();
  // No answer for ever. The instrument took the install request, only its answer was lost; the
  // version wait and the clock have bounds of their own.
  if (stage == StageId::kSearch) return NotConnected();
  if (stage == StageId::kVersionWait) return VersionTimeout();
  return stage == StageId::kKernel || stage == StageId::kClock ? Updated() : stalled;
}

FaultSpec SpecFor(Fault fault, const Stage& stage) {
  FaultSpec faultSpec{.fault = fault, .skip = stage.skip, .onCommand = stage.onCommand};
  if (fault == Fault::Silent) faultSpec.count = -1;
  if (fault == Fault::Babble) faultSpec.value = 2000;  // a burst of noise, then quiet again
  if (fault == Fault::CorruptReadBack) faultSpec.value = 70000;
  if (fault == Fault::ShortReadBack) faultSpec.value = 10;
  if (fault == Fault::RefuseRequest || fault == Fault::RefuseBlock) faultSpec.text = kRefusal;
  return faultSpec;
}

// The small image every run of the matrix writes.
class SmallImage {
 public:
  SmallImage() {
    image_.resize(kImageSize);
    for (size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<uint8_t>(i * 17 + i / 997);
    resources_[0] = {kBootImageName, kBootImageType, image_.data(), image_.size()};
  }

 protected:
  std::vector<uint8_t> image_;
  EmbeddedResource resources_[1];
};

class FaultMatrix : private SmallImage {
 public:
  // `forEver`: the fault fires on every occasion from the stage on.
  Result Run(Fault fault, const Stage& stage, std::string* problem, bool forEver = false) {
    VirtualClock clock;
    sim::SimBus bus(clock);
    sim::InstrumentConfig config;
    if (stage.id == StageId::kClock) config.installTime = std::chrono::seconds(0);
    sim::SimInstrument& instrument = bus.AttachInstrument(config);
    test::RecordingView view;
    Loader loader(view, bus, clock, resources_);
    FaultSpec faultSpec = SpecFor(fault, stage);
    if (forEver) faultSpec.count = -1;

    if (stage.id == StageId::kSearch) instrument.Inject(faultSpec);
    loader.Find();
    instrument.ClearFaults();
    if (!view.loadEnabled) return Classify(view, instrument, problem);

    const bool late = stage.id == StageId::kVersionWait || stage.id == StageId::kClock;
    boxesBeforeInstall_ = SIZE_MAX;
    view.onState = [&](const std::string& state) {
      if (state == Msg(msg::kStateFlashing)) boxesBeforeInstall_ = view.boxes.size();
      if (stage.id == StageId::kKernel && state == Msg(msg::kStateVerification)) {
        instrument.Inject(faultSpec);
      }
      if (late && state == Msg(msg::kStateFlashing)) instrument.Inject(faultSpec);
    };
    if (stage.id != StageId::kSearch && stage.id != StageId::kKernel && !late) {
      instrument.Inject(faultSpec);
    }
    const Clock::TimePoint start = clock.Now();
    loader.Load();
    const Clock::Duration took = clock.Now() - start;
    if (took > std::chrono::minutes(10)) *problem += " ran past 10 min;";
    if (view.clockSetShown && !instrument.ClockSet()) *problem += " said the clock was set;";
    if (!view.terminating && view.boxes.empty()) *problem += " did not end;";
    // A failed update's last line says whether the install request may have gone out, and it
    // never says "unchanged" to an instrument that took the request.
    const auto& last = view.boxes.empty() ? Report{} : view.boxes.back();
    if (last.kind == ReportKind::kError || last.kind == ReportKind::kWarning) {
      const bool sent = loader.KernelRequested();
      if (instrument.KernelRequests() > 0 && last.text != InstallRefused() && !sent) {
        *problem += " the install went unannounced;";
      }
      // At the clock the instrument has reported the new version already: the install is over.
      const int32_t consequence = stage.id == StageId::kClock ? msg::kNewVersionClockNotSet
                                  : sent                      ? msg::kInstallUnderWay
                                                              : msg::kFirmwareUnchangedRepeat;
      const std::string said = Msg(consequence);
      if (last.consequence != said) *problem += " consequence '" + last.consequence + "';";
    }
    const Result result = Classify(view, instrument, problem);
    if (forEver && result == Error(Msg(msg::kCommunicationError))) {
      // Given up neither before its stage's bound nor long after it (a read request is asked
      // three times and given up at once), and never installed.
      const Clock::Duration bound = stage.id == StageId::kWriteRequest  ? kRequestAcceptLimit
                                    : stage.id == StageId::kReadRequest ? Clock::Duration::zero()
                                                                        : kNoProgressLimit;
      if (took < bound || took > bound + std::chrono::seconds(15)) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
        *problem += FormatText(" gave up after %lld ms;", static_cast<long long>(ms));
      }
      if (instrument.KernelRequests() > 0) *problem += " sent the install request;";
    }
    return result;
  }

 private:
  Result Classify(const test::RecordingView& view, const sim::SimInstrument& instrument,
                  std::string* problem) {
    if (instrument.KernelRequests() > 0) {
      if (instrument.FileContent("swap") != image_) *problem += " installed a wrong image;";
      for (size_t i = 0; i < view.boxes.size() && i < boxesBeforeInstall_; ++i) {
        // Its refusal is the one box that follows the install request before "Прошивка...".
        if (view.boxes[i].text == InstallRefused()) continue;
        *problem += " installed after a box: " + view.boxes[i].text + ";";
      }
    }
    if (view.boxes.empty()) return {End::kErrorBox, "no box"};
    const Box& last = view.boxes.back();
    if (last.kind == ReportKind::kNotAnswering &&
        last.text == StringTableText(str::kNotConnected)) {
      return NotConnected();
    }
    if (last.kind == ReportKind::kInformation && last.text == Msg(msg::kFirmwareCompleted)) {
      return Updated();
    }
    if (last.kind == ReportKind::kWarning && last.text == Msg(msg::kImageTransferred)) {
      return VersionTimeout();
    }
    if (last.kind == ReportKind::kError) return Error(last.text);
    return {End::kErrorBox, "unexpected box: " + last.text};
  }

  size_t boxesBeforeInstall_ = SIZE_MAX;
};

std::string Cell(const Result& result) {
  switch (result.end) {
    case End::kUpdated:
      return "ok";
    case End::kNotConnected:
      return "no-dev";
    case End::kVersionTimeout:
      return "no-ver";
    case End::kErrorBox:
      break;
  }
  static const std::map<std::string, std::string> kShort = {
      {Msg(msg::kCommunicationError), "E51"},     {Msg(msg::kVerifiedDataMismatch), "E21"},
      {Msg(msg::kInsufficientSpace), "E39"},      {Msg(msg::kReceiveNotFromBlock1), "E38"},
      {Msg(msg::kInvalidPacketLength), "E35"},    {Msg(msg::kTransferFromNonZeroBlock), "E36"},
      {Msg(msg::kFtdiReadError) + "4", "E33"},    {kRefusal, "refused"},
      {FormatText(Msg(msg::kInvalidConfirmCode).c_str(), 0x37), "E37"},
      {InstallRefused(), "E131"},
  };
  const auto found = kShort.find(result.text);
  return found != kShort.end() ? found->second : "?" + result.text;
}

TEST(FaultMatrixTest, EveryFaultAtEveryStageEndsAsExpectedAndNeverInstallsAnUnverifiedImage) {
  SetMessageLanguage(kLanguageRussian);
  FaultMatrix matrix;
  std::string table = "fault \\ stage        ";
  for (const Stage& stage : kStages) table += FormatText("%-8s", stage.name);
  table += "\n";
  // One row of the table: the fault at every stage.
  auto row = [&](const std::string& name, Fault fault, bool forEver) {
    table += FormatText("%-21s", name.c_str());
    for (const Stage& stage : kStages) {
      std::string problem;
      const Result result = matrix.Run(fault, stage, &problem, forEver);
      const Result expected =
          forEver ? ExpectedEndless(fault, stage.id) : Expected(fault, stage.id);
      EXPECT_EQ(Cell(result), Cell(expected)) << name << " at " << stage.name;
      EXPECT_EQ(problem, "") << name << " at " << stage.name;
      std::string cell = Cell(result);
      if (!(result == expected) || !problem.empty()) cell += "!";
      table += FormatText("%-8s", cell.c_str());
    }
    table += "\n";
  };
  for (const Fault fault : sim::AllFaults()) row(std::string(sim::FaultName(fault)), fault, false);
  for (const Endless& endless : kEndless) row(endless.name, endless.fault, true);
  std::printf("%s", table.c_str());
  std::printf("ok: updated   no-dev: search ends with 'not connected'   no-ver: version wait bound"
              "   En: error box with message n   !: not as expected\n");
}

// Several instruments updated at once, each on its own connection and clock: a fault aimed at
// one ends that one's update as it ends a single update, and the others are updated all the same.
class StationMatrix : private SmallImage {
 public:
  static constexpr int kInstruments = 4;

  // Runs an update of every instrument, `fault` (if any) injected from the start into `faulty`.
  void Run(const FaultSpec* fault, int faulty, Clock* realClock = nullptr) {
    station_.reset();
    bus_ = std::make_unique<sim::SimBus>(clocks_[0], realClock != nullptr
                                                         ? sim::LineTiming{.paced = false}
                                                         : sim::LineTiming{});
    instruments_.clear();
    sim::InstrumentConfig config;
    for (int i = 0; i < kInstruments; ++i, ++config.serialNumber) {
      instruments_.push_back(
          &bus_->AttachInstrument(config, realClock != nullptr ? realClock : &clocks_[i]));
      if (fault != nullptr && i == faulty) instruments_.back()->Inject(*fault);
    }
    std::vector<BridgeInfo> bridges;
    ASSERT_EQ(ListBridges(*bus_, &bridges), kFtOk);
    std::map<std::string, Clock*> clockAt;
    for (int i = 0; i < kInstruments; ++i) {
      clockAt[bridges[i].location] = realClock != nullptr ? realClock : &clocks_[i];
    }
    station_ = std::make_unique<Station>(
        *bus_, [clockAt](const BridgeInfo& bridge) -> Clock& { return *clockAt.at(bridge.location); },
        resources_);
    station_->Start(bridges, {.job = Station::Job::kUpdate}, [this] {
      {
        std::lock_guard lock(mutex_);
        ++changes_;
      }
      changed_.notify_all();
    });
  }

  // Waits until `ready` holds of the station, looking again at each change.
  template <typename Ready>
  void WaitUntil(Ready ready) {
    std::unique_lock lock(mutex_);
    for (;;) {
      const int seen = changes_;
      lock.unlock();
      if (ready(*station_)) return;
      lock.lock();
      changed_.wait(lock, [&] { return changes_ != seen; });
    }
  }

  // What the instrument's update ended with, in the single matrix's terms; every instrument that
  // was told to install holds the image whole.
  Result Classify(int index, std::string* problem) const {
    const StationResult& result = station_->Result(static_cast<size_t>(index));
    const sim::SimInstrument& instrument = *instruments_[static_cast<size_t>(index)];
    if (instrument.KernelRequests() > 0 && instrument.FileContent("swap") != image_) {
      *problem += " installed a wrong image;";
    }
    if (result.outcome.kernelRequested != (instrument.KernelRequests() > 0)) {
      *problem += " told the install request wrong;";
    }
    switch (result.outcome.kind) {
      case Outcome::kUpdated:
        return instrument.Installed() ? Updated() : Error("updated without an install");
      case Outcome::kNotResponding:
        return NotConnected();
      case Outcome::kVersionTimeout:
        return VersionTimeout();
      default:
        return Error(result.FailureText());
    }
  }

  Station& station() { return *station_; }
  sim::SimInstrument& instrument(int index) { return *instruments_[static_cast<size_t>(index)]; }

 private:
  std::array<VirtualClock, kInstruments> clocks_;
  std::unique_ptr<sim::SimBus> bus_;
  std::vector<sim::SimInstrument*> instruments_;
  std::unique_ptr<Station> station_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int changes_ = 0;
};

// Of the stages where a fault can be injected before the update starts: those whose commands the
// search does not use.
const Stage kStationStages[] = {kStages[3], kStages[5]};  // blk2, rrq

TEST(FaultMatrixTest, AFaultInOneOfFourInstrumentsUpdatedAtOnceEndsOnlyThatOne) {
  SetMessageLanguage(kLanguageRussian);
  StationMatrix matrix;
  int run = 0;
  for (const Fault fault : sim::AllFaults()) {
    for (const Stage& stage : kStationStages) {
      const int faulty = run++ % StationMatrix::kInstruments;
      const FaultSpec faultSpec = SpecFor(fault, stage);
      matrix.Run(&faultSpec, faulty);
      matrix.station().Join();
      for (int index = 0; index < StationMatrix::kInstruments; ++index) {
        std::string problem;
        const Result result = matrix.Classify(index, &problem);
        const Result expected = index == faulty ? Expected(fault, stage.id) : Updated();
        EXPECT_EQ(Cell(result), Cell(expected))
            << sim::FaultName(fault) << " at " << stage.name << ", instrument " << index
            << (index == faulty ? " (faulty)" : "");
        EXPECT_EQ(problem, "") << sim::FaultName(fault) << " at " << stage.name;
      }
    }
  }
}

// Ctrl-C stops every instrument where it is: the two installing say so, and the one still
// writing (its instrument silent, so its update goes nowhere) was never told to install.
TEST(FaultMatrixTest, InterruptingAStationStopsEachInstrumentAndTellsWhetherItInstalls) {
  RealClock clock;  // installs that take real time, so that the interrupt finds them installing
  StationMatrix matrix;
  const FaultSpec silent{.fault = Fault::Silent, .count = -1, .onCommand = kCmdWriteBlock};
  constexpr int kSilent = 2;
  matrix.Run(&silent, kSilent, &clock);
  const std::string flashing = Msg(msg::kStateFlashing);
  matrix.WaitUntil([&](const Station& station) {
    for (int index = 0; index < StationMatrix::kInstruments; ++index) {
      const std::vector<StageMark> stages = station.Look(static_cast<size_t>(index)).stages;
      if (index != kSilent && (stages.empty() || stages.back().text != flashing)) return false;
    }
    return true;
  });
  matrix.station().Interrupt();
  matrix.station().Join();
  for (int index = 0; index < StationMatrix::kInstruments; ++index) {
    const StationResult& result = matrix.station().Result(static_cast<size_t>(index));
    EXPECT_TRUE(result.interrupted) << index;
    EXPECT_EQ(result.outcome, Outcome::kInterrupted) << index;
    EXPECT_EQ(result.outcome.kernelRequested, index != kSilent) << index;
    EXPECT_EQ(matrix.instrument(index).KernelRequests(), index != kSilent ? 1 : 0) << index;
  }
}

// Ctrl-C or the window's close may come at any moment of the traffic thread's work, also while
// the bridge is being readied for the next command (its purge, its timeouts): from then on no
// command goes out. The interrupt is given at every call on the bridge in turn, during the
// write and the read-back.
class AbortAtCall final : public test::ForwardingDriver {
 public:
  AbortAtCall(sim::SimBus& bus, sim::SimInstrument& instrument, int at)
      : ForwardingDriver(bus), instrument_(instrument), at_(at) {}

  void BeforeDeviceCall(bool write) override {
    if (aborted_) {
      if (write) ++writesAfter;
      return;
    }
    if (connection == nullptr || calls++ != at_) return;
    connection->Abort();  // what Stop does from the other thread, here at a known call
    aborted_ = true;
    commandsAtAbort = instrument_.counters().commands;
  }
  bool Aborted() const { return aborted_; }

  TVXA4410Connection* connection = nullptr;  // counted from the first transfer's start on
  int calls = 0;
  int writesAfter = 0;
  uint64_t commandsAtAbort = 0;

 private:
  sim::SimInstrument& instrument_;
  const int at_;
  bool aborted_ = false;
};

TEST(FaultMatrixTest, AnInterruptAtAnyCallOnTheBridgeLetsNoCommandOutAfterIt) {
  std::vector<uint8_t> image(kImageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13);
  int total = 0;
  for (int at = 0; at < total || total == 0; ++at) {
    VirtualClock clock;
    sim::SimBus bus(clock);
    sim::SimInstrument& instrument = bus.AttachInstrument();
    AbortAtCall driver(bus, instrument, total == 0 ? INT32_MAX : at);
    TResReadTransBuffer buffer{std::span<const uint8_t>(image)};
    TVXA4410Connection connection(driver, clock);
    ASSERT_TRUE(connection.Open());
    connection.Bind(&buffer);
    driver.connection = &connection;
    std::string refusal;
    for (const bool write : {true, false}) {
      if (driver.Aborted()) break;
      const int started = write ? connection.StartWrite(kFileSwap, refusal)
                                : connection.StartRead(kFileSwap, refusal);
      ASSERT_GE(started, 0) << refusal;
      // An aborted connection sends nothing; a few steps more show that it stays so.
      for (int steps = 0, after = 0; !connection.IsIdle() && steps < 1000 && after < 3; ++steps) {
        connection.TrafficStep();
        if (driver.Aborted()) ++after;
      }
    }
    if (total == 0) {
      ASSERT_TRUE(connection.Done());
      total = driver.calls;  // the clean run counted the calls; each is now interrupted in turn
      ASSERT_GT(total, 20);
      at = -1;
      continue;
    }
    ASSERT_TRUE(driver.Aborted()) << at;
    EXPECT_EQ(driver.writesAfter, 0) << "interrupted at call " << at << " of " << total;
    EXPECT_EQ(instrument.counters().commands, driver.commandsAtAbort) << at;
  }
}

}  // namespace
}  // namespace vxa
