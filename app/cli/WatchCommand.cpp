// update --all --watch: a station that runs until Ctrl-C or SIGTERM, updating each instrument as it
// is plugged in, beside those already under way, each through its own connection as --all does.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/InstrumentSelection.h"
#include "app/Station.h"
#include "app/cli/Commands.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// The bridges are listed once a second of the station's time.
constexpr Clock::Duration kListingInterval = std::chrono::seconds(1);
// In virtual time, how long the station waits in real time before it looks again whether the
// instruments at work have lived its next second, and the least it waits for each of its own
// seconds, so that a station with nothing to do does not spin.
constexpr std::chrono::milliseconds kPaceSlice{2};
constexpr std::chrono::milliseconds kIdleSecond{10};

// A bridge the station has seen, by where it is attached and its serial number.
struct SeenBridge {
  std::optional<size_t> member;  // the instrument last started on it
  bool listed = false;
  // It has left the listing since that instrument was started: plugged in again, it is new.
  bool pulledSinceStart = true;
};

class Watch {
 public:
  explicit Watch(const CommandContext& context)
      : context_(context),
        clock_(context.backend.clock()),
        station_(context.backend.Driver(), [&backend = context.backend](const BridgeInfo& bridge)
                                               -> Clock& { return backend.ClockOf(bridge); }),
        options_{.job = Station::Job::kUpdate,
                 .log = context.options.log,
                 .skipUpToDate = !context.options.force} {}

  CommandResult Run();

 private:
  // Lists the bridges: starts each arrival, marks each one that left.
  void LookForArrivals();
  // Until the next listing is due; true when a signal came meanwhile.
  bool WaitForNextListing();
  // Waits up to `slice` in real time for news, shows the station; true once a signal has come.
  bool Wait(std::chrono::milliseconds slice);
  // Some instrument at work has not yet lived up to `when` on its own clock.
  bool Behind(Clock::TimePoint when) const;
  // Every instrument has ended: how the station's run ended.
  CommandResult Ended();

  const CommandContext& context_;
  Clock& clock_;  // the station's own: the program's
  Station station_;
  const Station::Options options_;
  std::map<std::string, SeenBridge> seen_;
};

void Watch::LookForArrivals() {
  std::vector<BridgeInfo> bridges;
  const FtStatus status = ListBridges(context_.backend.Driver(), &bridges);
  // A listing that failed says nothing of who left: the next one may.
  if (status != kFtOk && status != kFtDeviceNotFound) return;
  for (auto& [key, seen] : seen_) seen.listed = false;
  for (const BridgeInfo& bridge : InstrumentBridges(bridges)) {
    SeenBridge& seen = seen_[bridge.location + '\n' + bridge.serialNumber];
    seen.listed = true;
    const bool idle = !seen.member || station_.Look(*seen.member).finished;
    if (!seen.pulledSinceStart || !idle) continue;
    seen.member = station_.Size();
    seen.pulledSinceStart = false;
    // In virtual time an instrument that was away has lived on from where it was left: plugged
    // in, it lives on from the station's moment.
    Clock& own = context_.backend.ClockOf(bridge);
    if (own.IsVirtual() && &own != &clock_) own.SleepUntil(clock_.Now());
    // The instruments' threads, and the traffic threads they start, leave the signals to this one.
    SignalsBlockedForNewThreads block;
    station_.Add(bridge, options_, [&signals = context_.signals] { signals.Wake(); });
  }
  for (auto& [key, seen] : seen_) {
    if (seen.listed || seen.pulledSinceStart) continue;
    seen.pulledSinceStart = true;
    if (seen.member) station_.MarkUnplugged(*seen.member);
  }
}

bool Watch::Wait(std::chrono::milliseconds slice) {
  context_.signals.WaitFor(slice);
  context_.signals.Drain();
  context_.output.StationLooked(station_);
  return context_.signals.Signal() != 0;
}

bool Watch::Behind(Clock::TimePoint when) const {
  for (size_t index = 0; index < station_.Size(); ++index) {
    if (!station_.Look(index).finished && station_.ClockAt(index).Now() < when) return true;
  }
  return false;
}

bool Watch::WaitForNextListing() {
  const Clock::TimePoint next = clock_.Now() + kListingInterval;
  if (!clock_.IsVirtual()) {
    for (Clock::TimePoint now = clock_.Now(); now < next; now = clock_.Now()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
      if (Wait(std::clamp(left, std::chrono::milliseconds(1), kRedrawInterval))) return true;
    }
    return false;
  }
  // Virtual time moves only as the instruments' clocks move: the station's second is over once
  // every instrument at work has lived it too, so that nothing plugged in or pulled out on the
  // simulator's clock is seen before the instruments have come to it.
  if (Wait(kIdleSecond)) return true;
  while (Behind(next)) {
    if (Wait(kPaceSlice)) return true;
  }
  clock_.SleepUntil(next);
  return false;
}

CommandResult Watch::Ended() {
  size_t updated = 0;
  bool failed = false;
  bool interrupted = false;
  bool kernelRequested = false;
  for (size_t index = 0; index < station_.Size(); ++index) {
    const StationResult& result = station_.Result(index);
    updated += result.outcome.kind == Outcome::kUpdated ? 1 : 0;
    failed = failed || (result.outcome.kind != Outcome::kUpdated &&
                        result.outcome.kind != Outcome::kUpToDate);
    interrupted = interrupted || result.interrupted;
    kernelRequested = kernelRequested || result.outcome.kernelRequested;
  }
  context_.output.StationEnded(station_, true, updated);
  // Ctrl-C is how a station ends: only an update it broke off makes the run interrupted.
  Outcome outcome(interrupted ? Outcome::kInterrupted
                              : (failed ? Outcome::kFailed : Outcome::kUpdated));
  outcome.kernelRequested = kernelRequested;
  return {outcome, true};
}

CommandResult Watch::Run() {
  // A Ctrl-C that came while the confirmation was asked has been acted on there.
  bool stopped = context_.signals.Signal() != 0;
  while (!stopped) {
    LookForArrivals();
    context_.output.StationLooked(station_);
    stopped = WaitForNextListing();
  }
  // The updates under way finish their exchange in flight and stop as --all's do.
  station_.Interrupt();
  while (!station_.Finished()) {
    context_.signals.WaitFor(kRedrawInterval);
    context_.signals.Drain();
    context_.output.StationLooked(station_);
  }
  station_.Join();
  context_.output.StationLooked(station_);
  return Ended();
}

}  // namespace

CommandResult RunWatch(const CommandContext& context) {
  // Said once, with the one question for every instrument still to come.
  if (std::optional<CommandResult> declined = ConfirmStation(context, VXA_MSG(msg::kWatchStarted))) {
    return *declined;
  }
  Watch watch(context);
  return watch.Run();
}

}  // namespace vxa::cli
