// The randomized fault campaign over a fixed range of seeds, in shards that CTest spreads over the
// cores. VXA_CAMPAIGN_SEED=N runs that seed alone (in the first shard); VXA_CAMPAIGN_FIRST and
// VXA_CAMPAIGN_COUNT give another range (make soak); VXA_CAMPAIGN_VERBOSE=1 prints every run.
// Besides its own checks, each run must leave no file descriptor and no thread behind, and the
// whole shard no memory worth counting.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tests/robustness/Campaign.h"

namespace vxa::campaign {
namespace {

constexpr int kShards = 6;
constexpr uint64_t kFixedSeeds = 2000;

// Seeds that once found a fault in the program, run always whatever the range: each wrote a
// command after the user's interrupt had come while the bridge was being readied for it.
constexpr uint64_t kOnceFailed[] = {44, 102, 234, 996, 1314};

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

struct Held {
  int fds;
  int threads;
  bool operator==(const Held&) const = default;
};

Held Count() { return {EntriesIn("/proc/self/fd"), EntriesIn("/proc/self/task")}; }

// A thread just joined can still be listed for a moment (the joiner is woken before the task is
// reaped): looked at again in short slices for a while before it counts as left behind.
Held Settled(const Held& before) {
  Held now = Count();
  for (int slice = 0; slice < 500 && !(now == before); ++slice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    now = Count();
  }
  return now;
}

uint64_t FromEnvironment(const char* name, uint64_t otherwise) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : otherwise;
}

// Runs one seed with every check; the failures name the seed and its faults.
void RunSeed(uint64_t seed) {
  const Draw draw = DrawRun(seed);
  const bool verbose = FromEnvironment("VXA_CAMPAIGN_VERBOSE", 0) != 0;
  if (verbose) std::printf("%s\n", Describe(draw).c_str());
  const Held before = Count();
  std::string ended;
  const auto began = std::chrono::steady_clock::now();
  std::string problems = RunAndCheck(draw, &ended);
  const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - began);
  const Held after = Settled(before);
  if (after.fds != before.fds) {
    problems += " " + std::to_string(after.fds - before.fds) + " file descriptors left;";
  }
  // ThreadSanitizer starts a thread of its own when it first needs one, and reports a thread
  // left unjoined itself.
#if !defined(__SANITIZE_THREAD__)
  if (after.threads != before.threads) {
    problems += " " + std::to_string(after.threads - before.threads) + " threads left;";
  }
#endif
  if (verbose) {
    std::printf("  -> %s (%lld ms here)%s\n", ended.c_str(), static_cast<long long>(wall.count()),
                problems.c_str());
  }
  EXPECT_EQ(problems, "") << Describe(draw);
}

class CampaignShard : public ::testing::TestWithParam<int> {};

TEST_P(CampaignShard, EveryRunKeepsTheInvariants) {
  const int shard = GetParam();
  const char* one = std::getenv("VXA_CAMPAIGN_SEED");
  if (one != nullptr && *one != '\0') {
    if (shard == 0) RunSeed(std::strtoull(one, nullptr, 10));
    return;
  }
  const uint64_t first = FromEnvironment("VXA_CAMPAIGN_FIRST", 0);
  const uint64_t count = FromEnvironment("VXA_CAMPAIGN_COUNT", kFixedSeeds);
  long settledKb = 0;
  uint64_t runs = 0;
  for (uint64_t seed = first + static_cast<uint64_t>(shard); seed < first + count;
       seed += kShards) {
    RunSeed(seed);
    if (++runs == 5) settledKb = ResidentKb();  // allocators and caches have settled by now
  }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // The sanitizers hold freed memory back on purpose; LeakSanitizer speaks for leaks there.
  if (runs > 50) {
    EXPECT_LT(ResidentKb() - settledKb, 32 * 1024) << settledKb << " KB before";
  }
#else
  (void)settledKb;
#endif
  std::printf("shard %d: %llu runs from seed %llu\n", shard, static_cast<unsigned long long>(runs),
              static_cast<unsigned long long>(first));
}

INSTANTIATE_TEST_SUITE_P(Seeds, CampaignShard, ::testing::Range(0, kShards));

TEST(CampaignTest, SeedsThatOnceFoundAFault) {
  for (const uint64_t seed : kOnceFailed) RunSeed(seed);
}

}  // namespace
}  // namespace vxa::campaign
