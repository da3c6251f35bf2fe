#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "app/LoaderView.h"
#include "app/image/ResReadTransBuffer.h"
#include "link/Clock.h"
#include "link/FtDriver.h"
#include "protocol/Connection.h"
#include "protocol/TrafficControlThread.h"

namespace vxa {

// How a Find, a Load or a ReadFile ended, for front ends that report it (the terminal's exit code).
enum class Outcome {
  kNone,           // nothing was done: nothing to update or read, or an update already running
  kFound,
  kNoDevice,       // none, several, or the listing failed
  kNotResponding,  // found, but it did not give its records
  kDeclined,       // the user said No to the confirmation
  kUpdated,
  kFailed,
  kVersionTimeout,
  kInterrupted,
  kFileRead,       // a file of the instrument was read whole into the search's buffer
};

// The instrument has this long to come back with the new version after the install request.
inline constexpr Clock::Duration kVersionWaitLimit = std::chrono::minutes(5);
inline constexpr std::chrono::milliseconds kVersionPollInterval{1000};
// How often the progress display is refreshed while a transfer runs.
inline constexpr std::chrono::milliseconds kProgressRefresh{100};

namespace test {
class LoaderProbe;
}

// The search and the update, written once for every front end. It owns what lives for the whole
// run: the connection list (empty, or the one instrument found), the boot image and the traffic
// thread.
class Loader {
 public:
  Loader(LoaderView& view, FtDriver& driver, Clock& clock,
         std::span<const EmbeddedResource> resources = BuiltInResources());
  ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // What the user asks for. None of them throws: an error that escapes goes to the view's
  // standard error display, and the action ends as a failed one (a search as kNoDevice).
  //
  // The search: exactly one instrument, opened, asked for its records, its four lines shown.
  Outcome Find() noexcept;
  // The update of the instrument found: the confirmation, the write, the verification, the
  // install request, the wait for the new version, the clock. kNone when there is nothing to
  // update or an update is running already.
  Outcome Load() noexcept;
  // After a successful Find: reads the file of that kind into the bound buffer, with the traffic
  // thread carrying the blocks and the view showing the progress. kNone when nothing was found.
  Outcome ReadFile(uint32_t fileKind) noexcept;
  // The window's close request: true when the window may close.
  bool FormClose() noexcept;
  // Stops a running update at once (the terminal's Ctrl-C): no exchange after the one in flight.
  void Interrupt();

  // How the last Find, Load or ReadFile that did something ended; an update that is interrupted
  // counts as interrupted from that moment, even when it had come to a stop before.
  Outcome LastOutcome() const { return lastOutcome_; }
  // The install request may have reached the instrument, and it did not refuse it.
  bool KernelRequested() const { return kernelRequested_; }
  // Something failed that ends the program or the update: a box that ended the program, an
  // update that failed or did not see the new version. Not set by an interruption alone.
  bool EndedInFailure() const {
    return endedInFailure_ || lastOutcome_ == Outcome::kFailed ||
           lastOutcome_ == Outcome::kVersionTimeout;
  }

  // The options of the command line that concern the search.
  void SetLogEnabled(bool enabled) { logEnabled_ = enabled; }
  void SetDumpEnabled(bool enabled) { dumpEnabled_ = enabled; }
  bool LogEnabled() const { return logEnabled_; }
  bool DumpEnabled() const { return dumpEnabled_; }

  // Reading one of the instrument's files (the terminal's read command). A connection takes one
  // buffer for its life, bound by the search, so the buffer is chosen before Find: null (the
  // default) binds the boot image, as the update needs.
  void SetSearchBuffer(TBasicTransBuffer* buffer) { searchBuffer_ = buffer; }

  // Several instruments on one computer (the terminal's --device and --all). The search opens
  // this bridge, however many others are attached, instead of insisting on exactly one.
  void SetBridge(const BridgeInfo& bridge) { bridge_ = bridge; }
  // The search's log is `first` instead of log_file.txt, and moves to the name `renamed` gives
  // for the instrument's serial number once the instrument has told it.
  void SetLogNames(std::string first, std::function<std::string(const std::string&)> renamed) {
    logName_ = std::move(first);
    logRenamed_ = std::move(renamed);
  }

 private:
  friend class test::LoaderProbe;

  // What follows a step's report.
  enum class Then { kNothing, kStopTraffic, kEnd, kStopTrafficAndEnd };
  // How a step ended: every step ends through Conclude, which shows the report and does the rest.
  struct Ending {
    Ending(Outcome outcome = Outcome::kNone, std::optional<Report> report = std::nullopt,
           Then then = Then::kNothing)
        : outcome(outcome), report(std::move(report)), then(then) {}

    Outcome outcome;
    std::optional<Report> report;
    Then then;
  };
  // Runs a step, concludes it and records how it ended; `onEscape` is how it ends when an error
  // escapes it.
  template <typename Step>
  Outcome Run(Outcome onEscape, Step step) noexcept;
  Outcome Conclude(Ending ending);
  // Runs an action so that nothing it throws goes further.
  template <typename Result, typename Action>
  Result Guarded(Result onEscape, Action action) noexcept;
  void ShowEscaped(const char* text, ConnErrorKind cause) noexcept;

  Ending Search();
  Ending Update();
  Ending Read(uint32_t fileKind);
  // The traffic thread was stopped, or the program is ending: the update goes no further.
  static Ending Stopped() { return {Outcome::kFailed, std::nullopt, Then::kStopTrafficAndEnd}; }
  // Waits until the running transfer is done, refreshing the progress. False when it was stopped
  // or the program is to end; a failure of the transfer is raised.
  bool WaitForTransfer();
  void RefreshProgress();
  // Waits, processing the front end's events, until the instrument reports the program's own
  // version, then sets its clock, and tells when it took it. False when the version did not come
  // within the bound or the wait was stopped; a link failure while setting the clock is raised.
  bool AwaitNewFirmware(std::optional<LocalDateTime>* clockSet);
  // How that wait ended on the traffic thread.
  struct WaitEnd {
    bool confirmed = false;
    std::optional<LocalDateTime> clockSet;  // when the instrument took the time it was given
    std::optional<std::string> failure;     // the text of what failed, if anything did
    ConnErrorKind kind = ConnErrorKind::kOther;
    bool escaped = false;  // a failure that is no link or protocol error
  };
  // The polls of that wait, on the traffic thread: true once the version has come.
  bool PollForNewVersion(TVXA4410Connection& connection, Clock::TimePoint start) const;
  // The instrument's refusal of the request just made, if it refused it.
  static std::optional<TVXA4410ConnError> Refusal(TVXA4410Connection& connection);
  // Logs where the read-back first differed from the image and returns it as a text.
  std::string DescribeMismatch(uint32_t offset, uint32_t compared);
  // What a failure now means for the instrument, for the report's last line.
  std::string Consequence() const;
  void StopTrafficAndExit();

  TVXA4410Connection* Current() { return Connections.empty() ? nullptr : &Connections.back(); }
  TBasicTransBuffer* SearchBuffer() const {
    return searchBuffer_ != nullptr ? searchBuffer_ : BootImage.get();
  }

  LoaderView& view_;
  FtDriver& driver_;
  Clock& clock_;
  std::list<TVXA4410Connection> Connections;
  std::unique_ptr<TResReadTransBuffer> BootImage;
  std::unique_ptr<TrafficControlThread> TrafficThread;
  Outcome lastOutcome_ = Outcome::kNone;
  bool logEnabled_ = false;
  bool dumpEnabled_ = false;
  bool updateRunning_ = false;
  bool kernelRequested_ = false;
  bool endedInFailure_ = false;
  bool closing_ = false;
  bool interrupted_ = false;
  const std::string productVersion_;
  TBasicTransBuffer* searchBuffer_ = nullptr;
  std::optional<BridgeInfo> bridge_;
  std::string logName_ = kLogFileName;
  std::function<std::string(const std::string&)> logRenamed_;
};

}  // namespace vxa
