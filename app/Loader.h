#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "app/InstrumentSession.h"
#include "app/LoaderView.h"
#include "app/Outcome.h"
#include "app/image/ResReadTransBuffer.h"
#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa {

// The instrument has this long to come back with the new version after the install request.
inline constexpr Clock::Duration kVersionWaitLimit = std::chrono::minutes(5);
inline constexpr std::chrono::milliseconds kVersionPollInterval{1000};
// How often the progress display is refreshed while a transfer runs.
inline constexpr std::chrono::milliseconds kProgressRefresh{100};

namespace test {
class LoaderProbe;
}

// The search and the update, written once for every front end: the procedure, told to the user
// through the view. It owns the boot image and the session of the instrument it works with.
class Loader {
 public:
  Loader(LoaderView& view, FtDriver& driver, Clock& clock,
         std::span<const EmbeddedResource> resources = BuiltInResources());
  ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // What the user asks for. None of them throws: an error that escapes goes to the view's
  // standard error display, and the action ends as a failed one (a search as kNoDevice). Each
  // tells the view how it ended (LoaderView::ActionEnded), and returns it.
  //
  // The search: exactly one instrument, opened, asked for its records, its four lines shown.
  Outcome Find() noexcept;
  // The update of the instrument found: the confirmation, then its stages. kNone when there is
  // nothing to update or an update is running already.
  Outcome Load() noexcept;
  // After a successful Find: reads the file of that kind into the bound buffer, with the traffic
  // thread carrying the blocks and the view showing the progress. kNone when nothing was found.
  Outcome ReadFile(uint32_t fileKind) noexcept;
  // The window's close request: true when the window may close.
  bool FormClose() noexcept;
  // Stops a running update at once (the terminal's Ctrl-C): no exchange after the one in flight.
  void Interrupt();

  // How the run stands: the last Find, Load or ReadFile that did something, or the set-up that
  // failed. An update that is interrupted counts as interrupted from that moment, even when it
  // had come to a stop before.
  const Outcome& LastOutcome() const { return lastOutcome_; }
  // The install request may have reached the instrument, and it did not refuse it.
  bool KernelRequested() const { return kernelRequested_; }
  // What the last search found, while it is the instrument worked with.
  const std::optional<InstrumentFacts>& Found() const { return found_; }

  // The options of the command line that concern the search.
  void SetLogEnabled(bool enabled) { logPlan_.log = enabled; }
  void SetDumpEnabled(bool enabled) { logPlan_.dump = enabled; }
  bool LogEnabled() const { return logPlan_.log; }
  bool DumpEnabled() const { return logPlan_.dump; }

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
    logPlan_.name = std::move(first);
    logPlan_.renamed = std::move(renamed);
  }

 private:
  friend class test::LoaderProbe;

  // How a step ended, and how the user is told: a report of the failure it carries (or, for a
  // success, the information box). A failure stops the traffic thread unless the step says the
  // procedure stands where it is.
  struct Ending {
    Outcome outcome;
    std::optional<ReportKind> shownAs = std::nullopt;
    bool stopsTraffic = true;
  };
  static Ending Plain(Outcome::Kind kind) { return {Outcome(kind), std::nullopt, false}; }
  // An update's failure: shown, the traffic stopped, and the run over.
  static Ending UpdateFailed(Failure failure, ReportKind shownAs = ReportKind::kError);
  // The traffic thread was stopped, or the program is to end: the update goes no further.
  static Ending Stopped();
  // A stage that is through: the update goes on.
  using Next = std::optional<Ending>;

  // Runs an action, concludes it and records how it ended; `onEscape` is how it ends when an
  // error escapes it.
  template <typename Action>
  Outcome Run(Outcome::Kind onEscape, Action action) noexcept;
  Outcome Conclude(Ending ending);
  void ShowEscaped(const char* text, Outcome::Kind onEscape, Outcome* outcome) noexcept;

  Ending Search();
  Ending SearchOne();
  Ending Read(uint32_t fileKind);

  // The update, stage by stage (LoaderUpdate.cpp).
  Ending Update();
  Next RequestWrite();
  Next WriteImage();
  Next VerifyImage();
  Next RequestInstall();
  Next AwaitNewVersion();
  Ending Succeeded();

  // Waits until the running transfer is done, refreshing the progress: its failure, or one of
  // kind kInterrupted and no text when it was stopped or the program is to end.
  std::optional<Failure> WaitForTransfer();
  void RefreshProgress();
  // How the wait for the new version ended on the traffic thread.
  struct WaitEnd {
    bool confirmed = false;
    std::optional<LocalDateTime> clockSet;  // when the instrument took the time it was given
    std::optional<Failure> failure;         // a link failure while setting the clock
  };
  // The polls of that wait and the clock, on the traffic thread.
  WaitEnd PollThenSetClock(Clock::TimePoint start);
  bool PollForNewVersion(Clock::TimePoint start);
  // Logs where the read-back first differed from the image and returns it as a text.
  std::string DescribeMismatch(uint32_t offset, uint32_t compared);
  // What a failure now means for the instrument, for the report's last line.
  std::string Consequence() const;

  TVXA4410Connection* Current() const { return session_ ? session_->Current() : nullptr; }
  TBasicTransBuffer* SearchBuffer() const {
    return searchBuffer_ != nullptr ? searchBuffer_ : BootImage.get();
  }

  LoaderView& view_;
  FtDriver& driver_;
  Clock& clock_;
  std::unique_ptr<TResReadTransBuffer> BootImage;
  // Null when its traffic thread could not be made.
  std::unique_ptr<InstrumentSession> session_;
  Outcome lastOutcome_;
  LogPlan logPlan_;
  bool updateRunning_ = false;
  bool kernelRequested_ = false;
  bool newVersionReported_ = false;
  bool closing_ = false;
  bool interrupted_ = false;
  const std::string productVersion_;
  std::optional<InstrumentFacts> found_;
  std::optional<LocalDateTime> clockSet_;
  TBasicTransBuffer* searchBuffer_ = nullptr;
  std::optional<BridgeInfo> bridge_;
};

}  // namespace vxa
