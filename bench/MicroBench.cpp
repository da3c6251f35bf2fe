// The program's own cost per packet, with Google Benchmark: the CRC, and one traffic step of each
// transfer against an instrument that answers at once (LoopbackDevice). Every allocation of the
// process is counted (tests/support/AllocationCount), so that a step that allocates shows in the
// figures.
//
// The benchmark table goes to stderr; the figures, "name value unit", to stdout at the end.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "app/image/ResReadTransBuffer.h"
#include "app/image/Resources.h"
#include "bench/BenchSupport.h"
#include "bench/LoopbackDevice.h"
#include "link/Crc32.h"
#include "link/InstrumentProtocol.h"
#include "protocol/Connection.h"
#include "tests/support/AllocationCount.h"

namespace vxa::bench {
namespace {

std::span<const uint8_t> Image() {
  const EmbeddedResource* image =
      FindEmbeddedResource(BuiltInResources(), kBootImageName, kBootImageType);
  if (image == nullptr) return {};
  return {image->data, image->size};
}

void BM_Crc32(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = Crc32Jam(data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(32768);

// A connection to the loopback instrument, bound to the boot image, in virtual time (the pause
// after a write request costs nothing).
struct Loopback {
  Loopback() : driver(Image()), buffer(Image()), connection(driver, clock) {
    connection.Open();
    connection.Bind(&buffer);
  }
  VirtualClock clock;
  LoopbackDriver driver;
  TResReadTransBuffer buffer;
  TVXA4410Connection connection;
};

// One block per iteration; a transfer that has ended is started again outside the timing and
// outside the count of allocations, so both are those of steady-state blocks.
template <typename Start>
void StepBlocks(benchmark::State& state, Start start) {
  Loopback loop;
  uint64_t startAllocations = 0;
  std::string error;
  const uint64_t before = test::ProcessAllocations();
  for (auto _ : state) {
    if (loop.connection.IsIdle()) {
      state.PauseTiming();
      const uint64_t at = test::ProcessAllocations();
      start(loop.connection, error);
      startAllocations += test::ProcessAllocations() - at;
      state.ResumeTiming();
    }
    loop.connection.TrafficStep();
  }
  if (loop.connection.Failed()) state.SkipWithError("the transfer failed");
  const double steps = static_cast<double>(state.iterations());
  state.counters["allocs_per_block"] =
      static_cast<double>(test::ProcessAllocations() - before - startAllocations) / steps;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 32748);
}

void BM_WriteBlock(benchmark::State& state) {
  StepBlocks(state,
             [](TVXA4410Connection& c, std::string& error) { c.StartWrite(kFileSwap, error); });
}
BENCHMARK(BM_WriteBlock);

void BM_ReadBlock(benchmark::State& state) {
  StepBlocks(state,
             [](TVXA4410Connection& c, std::string& error) { c.StartRead(kFileSwap, error); });
}
BENCHMARK(BM_ReadBlock);

// Shows the table as usual and keeps the runs for the figures.
class KeepingReporter final : public benchmark::ConsoleReporter {
 public:
  KeepingReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred)
        kept[run.benchmark_name()] = run;
      else
        failed = true;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Run> kept;
  bool failed = false;
};

double Counter(const benchmark::BenchmarkReporter::Run& run, const char* name) {
  const auto found = run.counters.find(name);
  return found == run.counters.end() ? 0.0 : static_cast<double>(found->second);
}

}  // namespace
}  // namespace vxa::bench

int main(int argc, char** argv) {
  using namespace vxa::bench;
  benchmark::Initialize(&argc, argv);
  KeepingReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.failed) return 1;

  const auto crc = reporter.kept.find("BM_Crc32/32768");
  const auto write = reporter.kept.find("BM_WriteBlock");
  const auto read = reporter.kept.find("BM_ReadBlock");
  if (crc == reporter.kept.end() || write == reporter.kept.end() || read == reporter.kept.end()) {
    return 0;  // a filter left some out: no figures
  }
  PrintFigure("crc.mb_per_s", Counter(crc->second, "bytes_per_second") / 1e6, "MB/s");
  // Time per iteration in the run's unit (nanoseconds by default).
  PrintFigure("host.write_block_cpu_us", write->second.GetAdjustedCPUTime() / 1e3, "us");
  PrintFigure("host.read_block_cpu_us", read->second.GetAdjustedCPUTime() / 1e3, "us");
  PrintFigure("host.allocs_per_block",
              std::max(Counter(write->second, "allocs_per_block"),
                       Counter(read->second, "allocs_per_block")),
              "count");
  return 0;
}
