#include "app/Outcome.h"

#include "link/Errors.h"

namespace vxa {

Failure FailureOf(const TVXA4410ConnError& error) {
  FailureKind kind = FailureKind::kProtocolError;
  if (error.Kind() == ConnErrorKind::kRefused) kind = FailureKind::kRefused;
  if (error.Kind() == ConnErrorKind::kLink) kind = FailureKind::kLinkFailed;
  return {kind, error.Text()};
}

namespace {

// A window's user sees every failure in its box; the status says whether the run ended badly.
int WindowExitStatus(const Outcome& outcome) {
  if (outcome.kind == Outcome::kInterrupted) return kExitInterrupted;
  if (outcome.kind == Outcome::kFailed || outcome.kind == Outcome::kVersionTimeout) {
    return kExitFailed;
  }
  // A warning that leaves the window open (no instrument, one that does not answer) is no
  // failure of the run; one that ended the program is.
  return outcome.Failed() && outcome.endsRun ? kExitFailed : kExitSuccess;
}

}  // namespace

int ExitStatus(const Outcome& outcome, Asked asked) {
  if (asked == Asked::kWindow) return WindowExitStatus(outcome);
  if (outcome.FailedAs(FailureKind::kUsage)) return kExitUsage;
  if (outcome.kind == Outcome::kInterrupted || outcome.FailedAs(FailureKind::kInterrupted)) {
    return kExitInterrupted;
  }
  if (outcome.FailedAs(FailureKind::kLocal)) return kExitFailed;
  // What the command set out to do, done without a failure on the way (a file that could not be
  // saved after a whole read is one).
  auto succeededIf = [&](bool asExpected) {
    return asExpected && !outcome.Failed() ? kExitSuccess : kExitFailed;
  };
  switch (outcome.kind) {
    case Outcome::kNoDevice:
      return kExitNoDevice;
    case Outcome::kFound:
      return succeededIf(asked == Asked::kInfo || asked == Asked::kList);
    case Outcome::kUpdated:
      return succeededIf(asked == Asked::kUpdate);
    case Outcome::kFileRead:
      return succeededIf(asked == Asked::kRead);
    default:
      return kExitFailed;
  }
}

}  // namespace vxa
