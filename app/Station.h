#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "app/Loader.h"
#include "app/LoaderView.h"
#include "app/image/Resources.h"
#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa {

// A stage one instrument entered, and when, on its own clock.
struct StageMark {
  Stage stage;
  std::string text;
  Clock::TimePoint at;
};

// What one instrument of a station is doing, as its thread last told it.
struct StationProgress {
  std::vector<StageMark> stages;  // the stages it has entered, the last current
  std::optional<InstrumentFacts> facts;  // once the search has found it
  Progress progress;                 // of the current stage's transfer
  Waited waited;                     // for the new version, during the install
  std::string serialNumber;  // once the instrument has told it
  bool finished = false;
  bool unplugged = false;  // its bridge has left the listing since it was added
};

// How one instrument's run ended.
struct StationResult {
  BridgeInfo bridge;
  std::optional<DeviceLines> lines;      // its four lines, when the search found it
  std::optional<InstrumentFacts> facts;  // the same, as values
  std::string serialNumber;              // as the instrument told it; empty when it did not
  // How the loader's last step ended, with its failure and whether the install request went out.
  Outcome outcome;
  bool interrupted = false;  // stopped by Interrupt before it was through
  std::string newVersion;    // the program version it reported after the install
  std::optional<LocalDateTime> clockSet;  // the time its clock was given, when it took it
  std::string warning;       // its log could not be created, and why
  Clock::Duration elapsed{};

  // The text of its failure; empty when it had none.
  std::string FailureText() const { return outcome.failure ? outcome.failure->text : ""; }
};

// Several instruments at once, each on a thread of its own with a Loader of its own, and so its
// own connection, traffic thread, view and log: one that fails, is unplugged or babbles only ends
// its own run. Nothing is shared between them but the driver they are opened through and the
// bytes of the boot image, which each loader reads where the program holds them; each keeps time
// by the clock its instrument keeps time by.
class Station {
 public:
  // The clock of the instrument behind a bridge.
  using ClockOf = std::function<Clock&(const BridgeInfo&)>;

  enum class Job {
    kSearch,  // each instrument is found and gives its four lines
    kUpdate,  // and is then updated, without a question: the front end has asked once for all
  };
  struct Options {
    Job job = Job::kSearch;
    bool log = false;  // a log per instrument, named after its serial number (LogFileName)
    // An update leaves alone an instrument that already has the program's version: it ends as
    // kUpToDate once found.
    bool skipUpToDate = false;
  };

  Station(FtDriver& driver, ClockOf clockOf,
          std::span<const EmbeddedResource> resources = BuiltInResources());
  // Interrupts whatever still runs and waits for it.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // One thread per bridge, once. `changed` is called from those threads whenever an instrument
  // enters a stage or ends; it must not call back into the station.
  void Start(const std::vector<BridgeInfo>& bridges, Options options,
             std::function<void()> changed);

  // One more instrument, started at once beside those running: the watched station adds each as
  // it is plugged in. Only while no other thread looks at the station (its members' threads never
  // do): the front end's one thread adds, looks and joins.
  void Add(const BridgeInfo& bridge, Options options, std::function<void()> changed);
  // Its bridge has left the listing; what it means for its run, the run itself finds out.
  void MarkUnplugged(size_t index);

  size_t Size() const { return members_.size(); }
  // From any thread.
  StationProgress Look(size_t index) const;
  Clock& ClockAt(size_t index) const;
  bool Finished() const;
  // From any thread: each instrument stops as Ctrl-C stops a single update (the exchange in
  // flight is finished and no other follows), as soon as its thread next looks.
  void Interrupt();
  // Returns once every instrument's thread has ended.
  void Join();
  // Once Look has seen the instrument finished, or after Join.
  const StationResult& Result(size_t index) const;

  // The log of an instrument: "log_file-KEY.txt", KEY its serial number (or, until it has told
  // that, its bridge's), with anything but letters, digits, '.', '-' and '_' made '_'.
  static std::string LogFileName(const std::string& key);

 private:
  class Member;

  // The bridge's member, with its log's first name claimed; its thread is not started yet.
  Member& NewMember(const BridgeInfo& bridge, const Options& options,
                    std::function<void()> changed);
  void Launch(Member& member, Options options);
  void Run(Member& member, const Options& options);

  // A name for a log that no other instrument of this station has taken.
  std::string ClaimLogName(const std::string& key, size_t index);

  FtDriver& driver_;
  const ClockOf clockOf_;
  const std::span<const EmbeddedResource> resources_;
  std::vector<std::unique_ptr<Member>> members_;
  std::mutex namesMutex_;
  std::set<std::string> logNames_;
};

}  // namespace vxa
