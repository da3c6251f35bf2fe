// The whole update, as the program runs it (vxa::Loader against the simulated instrument), timed
// in several ways. One way per run of the program, named by its argument, so that each is
// measured in a process of its own:
//
//   line  the update at both line rates in virtual time with the line model: stage times, the
//         line-rate floor, the efficiency, and where the time beyond the floor goes;
//   cpu   process CPU time of an update without line delay;
//   rss   peak resident set of an update without line delay;
//   wait  CPU time of the waiting thread during a transfer in real time, for the terminal's view
//         and for a view that waits like the window;
//   station  1, 4 and 8 simulated instruments at 3 Mbaud updated at once in real time by the
//         station `update --all` (and `--watch`) runs: wall time, the speed-up over one, and the
//         CPU of the program apart from that of its simulated instruments.
//
// Figures go to stdout as "name value unit"; everything else to stderr.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/InstrumentSelection.h"
#include "app/Loader.h"
#include "app/Station.h"
#include "app/cli/Commands.h"
#include "app/cli/TextOutput.h"
#include "app/cli/SignalPipe.h"
#include "app/cli/TerminalView.h"
#include "app/image/Resources.h"
#include "bench/BenchSupport.h"
#include "link/Packet.h"
#include "sim/SimBus.h"

namespace vxa::bench {
namespace {

using namespace std::chrono_literals;

constexpr double kBitsPerByte = 11;  // start, 8 data, 2 stop

double Seconds(Clock::Duration d) {
  return std::chrono::duration<double>(d).count();
}

// What the instrument's bridge has counted up to a moment of the update.
struct LineSnapshot {
  sim::SimInstrument::Counters counters;
  uint64_t setTimeouts = 0;
  uint64_t getStatus = 0;
};

LineSnapshot Snapshot(const sim::SimInstrument& instrument) {
  LineSnapshot s{instrument.counters()};
  for (const sim::CallRecord& record : instrument.Calls()) {
    if (record.call == sim::Call::SetTimeouts) ++s.setTimeouts;
    if (record.call == sim::Call::GetStatus) ++s.getStatus;
  }
  return s;
}

bool Succeeded(Outcome outcome, const test::RecordingView& view, const char* what) {
  const std::vector<std::string> complaints = Complaints(view);
  if (outcome == Outcome::kUpdated && complaints.empty()) return true;
  std::fprintf(stderr, "%s: the update did not succeed\n", what);
  for (const std::string& text : complaints) std::fprintf(stderr, "  %s\n", text.c_str());
  return false;
}

// ---- line -----------------------------------------------------------------------------------

bool LineUpdate(bool cts, const std::string& prefix) {
  VirtualClock clock;
  sim::SimBus bus(clock);
  sim::InstrumentConfig config;
  config.cts = cts;
  sim::SimInstrument& instrument = bus.AttachInstrument(config);
  HoldingDriver driver(bus);
  test::RecordingView waiting;
  TimedView view(waiting, clock);

  std::optional<LineSnapshot> atTransfer, atVerification, atFlashing;
  view.SetOnStage([&](const StageMark& mark) {
    switch (mark.stage) {
      case Stage::kWriteRequest:
        // The traffic thread starts on the blocks as soon as the request is accepted; it waits
        // here until the stage that follows has been marked.
        driver.HoldOthers();
        break;
      case Stage::kFileTransfer:
        atTransfer = Snapshot(instrument);
        driver.Release();
        break;
      case Stage::kVerification:
        atVerification = Snapshot(instrument);
        break;
      case Stage::kFlashing:
        atFlashing = Snapshot(instrument);
        break;
      case Stage::kFileRead:
        break;
    }
  });

  Loader loader(view, driver, clock);
  loader.Find();
  const Outcome outcome = loader.Load();
  driver.Release();
  if (!Succeeded(outcome, waiting, prefix.c_str())) return false;
  const StageMark* t10 = view.Find(Stage::kFileTransfer);
  const StageMark* t11 = view.Find(Stage::kVerification);
  const StageMark* t49 = view.Find(Stage::kFlashing);
  if (!t10 || !t11 || !t49 || !atTransfer || !atVerification || !atFlashing) {
    std::fprintf(stderr, "%s: a stage text is missing\n", prefix.c_str());
    return false;
  }

  const double baud = BaudRateOfDivisor(cts ? kFtDivisor3M : kFtDivisor1M5);
  const EmbeddedResource* resource =
      FindEmbeddedResource(BuiltInResources(), kBootImageName, kBootImageType);
  if (resource == nullptr) return false;
  const double image = static_cast<double>(resource->size);
  const double write = Seconds(t11->clock - t10->clock);
  const double verify = Seconds(t49->clock - t11->clock);
  const double transfer = Seconds(t49->clock - t10->clock);
  const double floor = 2 * image * kBitsPerByte / baud;

  // Where the time beyond the floor goes, over both stages.
  const auto& a = atTransfer->counters;
  const auto& v = atVerification->counters;
  const auto& b = atFlashing->counters;
  const double lineBytes = static_cast<double>((b.bytesHostToDevice - a.bytesHostToDevice) +
                                               (b.bytesDeviceToHost - a.bytesDeviceToHost));
  const double line = lineBytes * kBitsPerByte / baud;
  const double controlRequests = static_cast<double>(b.controlRequests - a.controlRequests);
  const double control = controlRequests * Seconds(bus.timing().controlRequestCost);
  const double writeBlocks =
      static_cast<double>(v.CommandsWithCode(kCmdWriteBlock) - a.CommandsWithCode(kCmdWriteBlock));
  const double readAcks =
      static_cast<double>(b.CommandsWithCode(kCmdReadAck) - v.CommandsWithCode(kCmdReadAck));
  const double exchanges = static_cast<double>(b.commands - a.commands);

  PrintFigure(prefix + ".write_s", write, "s");
  PrintFigure(prefix + ".verify_s", verify, "s");
  PrintFigure(prefix + ".transfer_s", transfer, "s");
  PrintFigure(prefix + ".line_floor_s", floor, "s");
  PrintFigure(prefix + ".efficiency", floor / transfer, "ratio");
  PrintFigure(prefix + ".exchanges", exchanges, "count");
  PrintFigure(prefix + ".blocks", writeBlocks + readAcks + 1, "count");
  PrintFigure(prefix + ".overhead_ms_per_exchange", (transfer - line) / exchanges * 1e3, "ms");
  PrintFigure(prefix + ".control_requests_per_exchange", controlRequests / exchanges, "count");
  PrintFigure(prefix + ".set_timeouts_per_exchange",
              static_cast<double>(atFlashing->setTimeouts - atTransfer->setTimeouts) / exchanges,
              "count");
  PrintFigure(prefix + ".overhead.framing_s", line - floor, "s");
  PrintFigure(prefix + ".overhead.control_s", control, "s");
  PrintFigure(prefix + ".overhead.latency_and_pauses_s", transfer - line - control, "s");
  return true;
}

// ---- cpu, rss -------------------------------------------------------------------------------

// One update against the simulator without line delay, in virtual time.
bool QuickUpdate() {
  VirtualClock clock;
  sim::SimBus bus(clock, sim::LineTiming{.paced = false});
  bus.AttachInstrument();
  test::RecordingView view;
  Loader loader(view, bus, clock);
  loader.Find();
  return Succeeded(loader.Load(), view, "update without line delay");
}

bool CpuOfUpdate() {
  constexpr int kRuns = 7;
  std::vector<double> ms;
  for (int run = 0; run < kRuns; ++run) {
    const double start = ProcessCpuSeconds();
    if (!QuickUpdate()) return false;
    ms.push_back((ProcessCpuSeconds() - start) * 1e3);
  }
  std::sort(ms.begin(), ms.end());
  std::fprintf(stderr, "update CPU over %d runs: min %.1f ms, median %.1f ms, max %.1f ms\n", kRuns,
               ms.front(), ms[kRuns / 2], ms.back());
  PrintFigure("host.update_cpu_ms", ms[kRuns / 2], "ms");
  // The least of the runs: what an update costs on a machine with nothing else to do.
  PrintFigure("host.update_cpu_ms.min", ms.front(), "ms");
  return true;
}

bool RssOfUpdate() {
  // The simulated instrument lives in the same process and keeps every command it was sent and
  // both copies of the file: much of the peak is its own.
  std::fprintf(stderr, "resident before the update: %.1f MiB\n", PeakRssMb());
  if (!QuickUpdate()) return false;
  PrintFigure("host.peak_rss_mb", PeakRssMb(), "MiB");
  return true;
}

// ---- wait -----------------------------------------------------------------------------------

// Enough of the image for a transfer of a few hundred kilobytes: ten full write blocks.
constexpr size_t kWaitImageSize = 10 * kWriteBlockData;

// CPU time of the waiting thread over wall time, from the start of the write to the end of the
// verification, of an update in real time through `front`.
std::optional<double> WaitFraction(LoaderView& front, test::RecordingView* complaints,
                                   Clock& clock, sim::SimBus& bus) {
  const EmbeddedResource* image =
      FindEmbeddedResource(BuiltInResources(), kBootImageName, kBootImageType);
  if (image == nullptr) return std::nullopt;
  const EmbeddedResource small[] = {
      {kBootImageName, kBootImageType, image->data, std::min(image->size, kWaitImageSize)}};
  TimedView view(front, clock);
  std::optional<Loader> loader;
  {
    // As the terminal program does it: signals go to the waiting thread only.
    cli::SignalsBlockedForNewThreads block;
    loader.emplace(view, bus, clock, small);
  }
  loader->Find();
  if (loader->Load() != Outcome::kUpdated ||
      (complaints != nullptr && !Complaints(*complaints).empty())) {
    std::fprintf(stderr, "real-time update did not succeed\n");
    return std::nullopt;
  }
  const StageMark* from = view.Find(Stage::kFileTransfer);
  const StageMark* to = view.Find(Stage::kFlashing);
  if (from == nullptr || to == nullptr) return std::nullopt;
  const double wall = std::chrono::duration<double>(to->wall - from->wall).count();
  std::fprintf(stderr, "  %.2f s of transfer, %.2f ms CPU on the waiting thread\n", wall,
               (to->threadCpu - from->threadCpu) * 1e3);
  return (to->threadCpu - from->threadCpu) / wall;
}

sim::InstrumentConfig QuickInstall() {
  sim::InstrumentConfig config;
  config.installTime = 0s;  // the new version is there at the first poll
  return config;
}

bool WaitCpu() {
  RealClock clock;
  double worst = 0;

  std::fprintf(stderr, "waiting like the window (condition variable, 100 ms at most):\n");
  {
    sim::SimBus bus(clock);
    bus.AttachInstrument(QuickInstall());
    test::RecordingView window;
    const std::optional<double> fraction = WaitFraction(window, &window, clock, bus);
    if (!fraction) return false;
    PrintFigure("host.wait_cpu_fraction.window", *fraction, "ratio");
    worst = std::max(worst, *fraction);
  }

  std::fprintf(stderr, "waiting in the terminal's view (progress redrawn as on a terminal):\n");
  {
    sim::SimBus bus(clock);
    bus.AttachInstrument(QuickInstall());
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) return false;
    std::optional<double> fraction;
    {
      cli::SignalPipe signals;
      cli::TerminalStreams streams{
          .out = sink, .err = sink, .inputFd = -1, .inputIsTerminal = false, .errIsTerminal = true};
      cli::TerminalView terminal(clock, signals, streams, /*assumeYes=*/true);
      fraction = WaitFraction(terminal, nullptr, clock, bus);
    }
    std::fclose(sink);
    if (!fraction) return false;
    PrintFigure("host.wait_cpu_fraction.terminal", *fraction, "ratio");
    worst = std::max(worst, *fraction);
  }
  PrintFigure("host.wait_cpu_fraction", worst, "ratio");
  return true;
}

// ---- station --------------------------------------------------------------------------------

struct TimedRun {
  double wallSeconds = 0;
  double cpuSeconds = 0;  // of the whole process: the simulated instruments' work included
};

// Times `run` in wall time and in the CPU time of the whole process.
template <typename Run>
TimedRun Timed(Run run) {
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = ProcessCpuSeconds();
  run();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count(),
          ProcessCpuSeconds() - cpuStart};
}

// The CPU time the calling threads spend inside the simulated bridges: what the simulated
// instruments cost this process, where real ones would cost it nothing.
class SimulatorCpu final : public test::ForwardingDriver {
 public:
  using ForwardingDriver::ForwardingDriver;
  void BeforeDeviceCall(bool) override { entered_ = ThreadCpuSeconds(); }
  void AfterDeviceCall() override {
    nanoseconds_.fetch_add(static_cast<int64_t>((ThreadCpuSeconds() - entered_) * 1e9));
  }
  double Seconds() const { return static_cast<double>(nanoseconds_.load()) / 1e9; }

 private:
  static thread_local double entered_;
  std::atomic<int64_t> nanoseconds_{0};
};
thread_local double SimulatorCpu::entered_ = 0;

// `instruments` updated at once by the station the terminal's `update --all` runs, their lines
// drawn as on a terminal into /dev/null.
bool StationUpdate(int instruments, std::FILE* sink, TimedRun* run, double* simulatorSeconds) {
  RealClock clock;
  sim::SimBus bus(clock);
  sim::InstrumentConfig config;
  for (int i = 0; i < instruments; ++i, ++config.serialNumber) bus.AttachInstrument(config);
  SimulatorCpu driver(bus);
  std::vector<BridgeInfo> bridges;
  if (ListBridges(driver, &bridges) != kFtOk) return false;
  Station station(driver, [&clock](const BridgeInfo&) -> Clock& { return clock; });
  cli::SignalPipe signals;
  const cli::TerminalStreams streams{
      .out = sink, .err = sink, .inputFd = -1, .inputIsTerminal = false, .errIsTerminal = true};
  *run = Timed([&] {
    cli::TextOutput output(streams);
    cli::RunToEnd(station, bridges, {.job = Station::Job::kUpdate}, signals, &output);
  });
  *simulatorSeconds = driver.Seconds();
  bool updated = true;
  for (size_t index = 0; index < station.Size(); ++index) {
    const StationResult& result = station.Result(index);
    if (result.outcome == Outcome::kUpdated) continue;
    std::fprintf(stderr, "instrument %zu was not updated: %s\n", index,
                 result.FailureText().c_str());
    updated = false;
  }
  return updated;
}

bool StationSpeedup() {
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return false;
  std::fprintf(stderr, "the station in real time, 3 Mbaud, the simulated bus in this process "
                       "(each run about half a minute):\n");
  std::optional<TimedRun> one;
  bool ok = true;
  for (const int instruments : {1, 4, 8}) {
    TimedRun run;
    double simulator = 0;
    ok = ok && StationUpdate(instruments, sink, &run, &simulator);
    if (!ok) break;
    if (!one) one = run;
    std::fprintf(stderr, "  %d: %.2f s, %.3f s CPU, of which %.3f s in the simulated instruments\n",
                 instruments, run.wallSeconds, run.cpuSeconds, simulator);
    const std::string name = "station.instruments_" + std::to_string(instruments);
    PrintFigure(name + ".wall_s", run.wallSeconds, "s");
    if (instruments == 1) continue;
    // What that many one after another would take, over what they take at once.
    PrintFigure("station.speedup_" + std::to_string(instruments),
                instruments * one->wallSeconds / run.wallSeconds, "ratio");
    // Of one core: the whole process, then the program alone without its simulated instruments.
    PrintFigure(name + ".cpu_fraction", run.cpuSeconds / run.wallSeconds, "ratio");
    PrintFigure(name + ".host_cpu_fraction",
                (run.cpuSeconds - simulator) / run.wallSeconds, "ratio");
  }
  std::fclose(sink);
  return ok;
}

}  // namespace
}  // namespace vxa::bench

int main(int argc, char** argv) {
  using namespace vxa::bench;
  const std::string mode = argc > 1 ? argv[1] : "";
  bool ok = false;
  if (mode == "line") {
    ok = LineUpdate(true, "update") && LineUpdate(false, "update_1m5");
  } else if (mode == "cpu") {
    ok = CpuOfUpdate();
  } else if (mode == "rss") {
    ok = RssOfUpdate();
  } else if (mode == "wait") {
    ok = WaitCpu();
  } else if (mode == "station") {
    ok = StationSpeedup();
  } else {
    std::fprintf(stderr, "usage: %s line|cpu|rss|wait|station\n", argv[0]);
    return 2;
  }
  return ok ? 0 : 1;
}
