#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "link/BridgeFault.h"

namespace vxa {

class TVXA4410ConnError;

// What kind of failure ended an action. Front ends, the station and the machine-readable output
// tell failures apart by this alone, never by their texts, which are in the user's language.
enum class FailureKind : uint8_t {
  kRefused,         // the instrument answered with a refusal; the text carries its reason
  kLinkFailed,      // the bridge or the line failed: a driver call failed, or no answer came
  kNotAnswering,    // the bridge is there, but the instrument behind it gave no records
  kProtocolError,   // the answers broke the protocol's rules
  kVerifyMismatch,  // the read-back differed from the image, or did not cover all of it
  kVersionTimeout,  // the instrument did not report the new version within the bound
  kClockNotSet,     // it reported the new version, but the link failed while its clock was set
  kNoDevice,        // no instrument attached, or the bridge named is not there
  kSeveralDevices,  // more than one instrument, and none was chosen
  kListingFailed,   // the driver could not list the bridges
  kLocal,           // something of this computer failed: a file, the driver's set-up, a thread
  kInterrupted,     // the user stopped it
  kUsage,           // the command line asked for something that cannot be done
  kUnexpected,      // an error that escaped a step
};

// How an action failed. Made once, where the protocol's error or the refusal is met, and carried
// up unchanged; the texts are in the catalogue's current language.
struct Failure {
  FailureKind kind = FailureKind::kUnexpected;
  std::string text{};         // as the user is to read it
  std::string detail{};       // where it was found, for those who read the details; mostly empty
  std::string consequence{};  // what a failed update means for the instrument; empty otherwise
  // Why a driver call failed, as far as the bridge's backend can tell; kNone for the rest.
  BridgeFault fault{};
  // What the user can do about it, a line of its own; mostly empty.
  std::string hint{};
};

// The failure a link or protocol error stands for: a refusal, a broken link, or a breach of the
// protocol.
Failure FailureOf(const TVXA4410ConnError& error);

// How a Find, a Load or a ReadFile ended.
struct Outcome {
  enum Kind : uint8_t {
    kNone,           // nothing was done: nothing to update or read, or an update already running
    kFound,
    kNoDevice,       // none, several, or the listing failed
    kNotResponding,  // found, but it did not give its records
    kDeclined,       // the user said No to the confirmation
    kUpdated,
    kFailed,
    kVersionTimeout,
    kInterrupted,
    kFileRead,  // a file of the instrument was read whole into the search's buffer
    kUpToDate,  // a station's instrument already has the program's version: it was not updated
  };

  Outcome(Kind kind = kNone, std::optional<Failure> failure = std::nullopt)
      : kind(kind), failure(std::move(failure)) {}

  Kind kind;
  std::optional<Failure> failure;
  // The install request may have reached the instrument, and it did not refuse it.
  bool kernelRequested = false;
  // The instrument then reported the program's own version: the install is over.
  bool newVersionReported = false;
  // Blocks that went out again after a bad or missing answer, over the whole update or read.
  uint32_t blocksResent = 0;
  // Nothing more can be done in this run: the update has ended, well or not, or a failure left
  // nothing to go on with (the listing, the boot image). A window then ends the program.
  bool endsRun = false;

  bool Failed() const { return failure.has_value(); }
  bool FailedAs(FailureKind failureKind) const { return failure && failure->kind == failureKind; }
  friend bool operator==(const Outcome& outcome, Kind kind) { return outcome.kind == kind; }
};

// How an outcome is named for other programs: a stable word in English ("updated",
// "verify_mismatch", "link_failed", ...), from its kind and its failure's kind.
const char* OutcomeCode(const Outcome& outcome);

// The exit statuses of the programs: what scripts and production lines look at.
enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailed = 1,    // the operation failed; its text has been shown
  kExitUsage = 2,     // the command line, or a confirmation that could not be asked
  kExitNoDevice = 3,  // no instrument, more than one, or no such port
  kExitInterrupted = 130,
};

// What the user asked for, which decides what counts as success.
enum class Asked : uint8_t {
  kList,    // the listing of the bridges
  kInfo,    // the search alone
  kUpdate,
  kRead,
  kWindow,  // whatever the window's user did in it; closing an idle window is no failure
};

// The exit status of every front end, from how its run ended.
int ExitStatus(const Outcome& outcome, Asked asked);

}  // namespace vxa
