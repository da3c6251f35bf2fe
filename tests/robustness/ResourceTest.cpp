// A service engineer may search again and again in one session. Nothing may pile up: memory,
// file descriptors and threads stay where they were after a thousand searches and transfers.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/Loader.h"
#include "sim/SimBus.h"
#include "tests/support/LoaderProbe.h"
#include "tests/support/RecordingView.h"

namespace vxa {
namespace {

int EntriesIn(const char* directory) {
  int count = 0;
  if (DIR* dir = opendir(directory)) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Usage {
  long residentKb;
  int fds;
  int threads;
};

Usage Measure() { return {ResidentKb(), EntriesIn("/proc/self/fd"), EntriesIn("/proc/self/task")}; }

TEST(ResourceTest, AThousandSearchesAndTransfersLeaveNothingBehind) {
  std::vector<uint8_t> image(70000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const EmbeddedResource resources[] = {
      {kBootImageName, kBootImageType, image.data(), image.size()}};
  VirtualClock clock;
  sim::SimBus bus(clock);
  sim::SimInstrument& instrument = bus.AttachInstrument();
  instrument.SetFileContent("swap", image);
  test::RecordingView view;
  Loader loader(view, bus, clock, resources);

  auto round = [&] {
    loader.Find();
    ASSERT_TRUE(view.loadEnabled);
    std::string errorText;
    TVXA4410Connection& connection = *test::LoaderProbe::Current(loader);
    ASSERT_EQ(connection.StartWrite(kFileSwap, errorText), 70000);
    while (!connection.IsIdle()) connection.TrafficStep();
    ASSERT_TRUE(connection.Done());
    ASSERT_EQ(loader.ReadFile(kFileSwap), Outcome::kFileRead);  // on the traffic thread, verified
    instrument.ClearCalls();                  // the simulator's own record is not ours to count
    view.boxes.clear();
    view.memo.clear();
    view.loadLabels.clear();
    view.stages.clear();
    view.states.clear();
  };
  for (int i = 0; i < 50; ++i) round();  // let allocators and caches settle
  const Usage before = Measure();
  for (int i = 0; i < 1000; ++i) {
    round();
    if (HasFatalFailure()) return;
  }
  const Usage after = Measure();
  EXPECT_EQ(after.fds, before.fds);
  EXPECT_EQ(after.threads, before.threads);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers hold freed memory back on purpose; LeakSanitizer speaks for leaks there.
  (void)before.residentKb;
#else
  EXPECT_LT(after.residentKb - before.residentKb, 2048) << before.residentKb << " KB before";
#endif
  EXPECT_EQ(bus.OpenHandles(), 1);
}

}  // namespace
}  // namespace vxa
