#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "app/InstrumentFacts.h"
#include "app/Outcome.h"
#include "link/Clock.h"
#include "link/Errors.h"

namespace vxa {

// The steps of an update, and of a read, that the user is told about.
enum class Stage {
  kWriteRequest,  // the instrument is asked to take the image
  kFileTransfer,  // the image is written
  kVerification,  // the image is read back and compared
  kFlashing,      // the instrument installs it; the loader waits for the new version
  kFileRead,      // one of the instrument's files is read (the terminal's read)
};

// How far the transfer of the current stage has come, in bytes. A read does not know its total
// before the end: its total is what has arrived so far.
struct Progress {
  int position = 0;
  int total = 0;
};

// How long the loader has been waiting for the instrument to report its new version, and how
// long it waits at most.
struct Waited {
  std::chrono::seconds waited{0};
  std::chrono::seconds limit{0};
};

enum class ReportKind {
  kError,          // the step failed
  kWarning,        // the step could not be done as asked; nothing is broken
  kInformation,    // how a step that succeeded ended
  kNotAnswering,   // the search found the instrument's bridge, but the instrument did not answer
  kStandardError,  // an error that escaped a step, for the display where such errors end up
};

struct Report {
  ReportKind kind = ReportKind::kError;
  std::string text;  // in the catalogue's current language, as the user is to read it
  // For a failure of the link or the protocol: a refusal of the instrument, a broken link, or
  // something else.
  ConnErrorKind cause = ConnErrorKind::kOther;
  // Where the failure was found, for those who read the details (the terminal); empty for most.
  std::string detail{};
  // What a failed update means for the instrument: its firmware is unchanged, or it is
  // installing and must stay powered. Every front end adds it below the text; empty when the
  // report is no failure of an update.
  std::string consequence{};
  // Why a driver call failed, as the bridge's backend knows it, and what the user can do: each a
  // line under the text, in every front end; empty for most.
  BridgeFault fault{};
  std::string hint{};
};

// Which answer a question takes when the user just confirms it.
enum class DefaultAnswer { kYes, kNo };

// The four lines that describe the instrument found: model, serial number, device version and
// program version, each with its label.
using DeviceLines = std::array<std::string, 4>;

// What the search and the update tell the user, ask and wait for. The loader says what happened;
// each front end decides how to show it: the window with its widgets and boxes, the terminal with
// lines on stdout and stderr, tests by recording it. Every call comes from the thread that runs
// the application, except Wake.
class LoaderView {
 public:
  virtual ~LoaderView() = default;

  // A search begins: whatever was found before can no longer be updated. A front end that only
  // shows what is found has nothing to do.
  virtual void SearchStarted() {}
  // The search found one instrument, and it answered: its four lines as the window shows them,
  // and the same facts as values.
  virtual void DeviceFound(const DeviceLines& lines, const InstrumentFacts& facts) = 0;
  // An update (or a read) entered a stage; `text` names it for the user. Once an update has
  // entered its first stage it runs until it ends, and only closing may interrupt it.
  virtual void StageChanged(Stage stage, const std::string& text) = 0;
  // The transfer of the current stage moved on; also called when it did not, at each look.
  virtual void ProgressChanged(const Progress& progress) = 0;
  // During the install: the time waited so far for the new version, at each look.
  virtual void VersionWaitChanged(const Waited& waited) = 0;
  virtual void ShowReport(const Report& report) = 0;
  // The search could not create the diagnostic files asked for (`text` says which and why); it
  // goes on without them. The window says nothing and goes on.
  virtual void DiagnosticsUnavailable(const std::string& /*text*/) {}
  // After the install: the program version the instrument now reports, and the time its clock
  // was given (none when it did not take it: the front end says that its clock was not set). The
  // update's report follows.
  virtual void NewFirmwareReported(const std::string& /*programVersion*/,
                                   const std::optional<LocalDateTime>& /*clockSet*/) {}
  // A question with Yes and No; true only for Yes.
  virtual bool AskYesNo(const std::string& text, DefaultAnswer byDefault) = 0;

  // Lets the front end handle its events for at most `maxWait`, returning early when Wake is
  // called. Zero only handles what is pending.
  virtual void ProcessEvents(std::chrono::milliseconds maxWait) = 0;
  // May be called from any thread: something the waiting side looks at has changed.
  virtual void Wake() = 0;
  // A Find, a Load or a ReadFile has ended, its report shown. The front end decides from the
  // outcome whether the program ends; by default it ends once the run is over.
  virtual void ActionEnded(const Outcome& outcome) {
    if (outcome.endsRun) Terminate();
  }

  // Asks the front end to end once control returns to its loop.
  virtual void Terminate() = 0;
  virtual bool Terminating() const = 0;
};

// The kind of link error a failure of this kind came from, for the reports' readers that tell a
// refusal from a broken link.
ConnErrorKind CauseOf(FailureKind kind);

// The text of a report as a box shows it: the text, then the cause, the hint and what it means for
// the instrument, each on a line of its own.
std::string ReportBoxText(const Report& report);

// A stage's name for other programs: "write_request", "transfer", "verification", "install",
// "read".
const char* StageCode(Stage stage);

// "(position из total)": the figures of a transfer as the front ends write them.
std::string ProgressText(const Progress& progress);
// "0:42 из 5:00": the time waited for the new version, against the most it may take.
std::string WaitedText(const Waited& waited);
// What NewFirmwareReported tells, as the terminal prints it: the version the instrument reports,
// and on a line of its own the time its clock was given, if it took it.
std::string NewFirmwareText(const std::string& programVersion,
                            const std::optional<LocalDateTime>& clockSet);

}  // namespace vxa
