#include "app/Outcome.h"

#include "link/Errors.h"

namespace vxa {

Failure FailureOf(const TVXA4410ConnError& error) {
  FailureKind kind = FailureKind::kProtocolError;
  if (error.Kind() == ConnErrorKind::kRefused) kind = FailureKind::kRefused;
  if (error.Kind() == ConnErrorKind::kLink) kind = FailureKind::kLinkFailed;
  return {.kind = kind, .text = error.Text(), .fault = error.Fault()};
}

namespace {

const char* FailureCode(FailureKind kind) {
  switch (kind) {
    case FailureKind::kRefused: return "refused";
    case FailureKind::kLinkFailed: return "link_failed";
    case FailureKind::kNotAnswering: return "not_answering";
    case FailureKind::kProtocolError: return "protocol_error";
    case FailureKind::kVerifyMismatch: return "verify_mismatch";
    case FailureKind::kVersionTimeout: return "version_timeout";
    case FailureKind::kClockNotSet: return "clock_not_set";
    case FailureKind::kNoDevice: return "no_device";
    case FailureKind::kSeveralDevices: return "several_devices";
    case FailureKind::kListingFailed: return "listing_failed";
    case FailureKind::kLocal: return "local_failure";
    case FailureKind::kInterrupted: return "interrupted";
    case FailureKind::kUsage: return "usage_error";
    case FailureKind::kUnexpected: break;
  }
  return "unexpected_error";
}

}  // namespace

const char* OutcomeCode(const Outcome& outcome) {
  if (outcome.kind == Outcome::kInterrupted) return "interrupted";
  if (outcome.failure) return FailureCode(outcome.failure->kind);
  switch (outcome.kind) {
    case Outcome::kFound: return "found";
    case Outcome::kUpdated: return "updated";
    case Outcome::kFileRead: return "file_read";
    case Outcome::kDeclined: return "declined";
    case Outcome::kNoDevice: return "no_device";
    case Outcome::kNotResponding: return "not_answering";
    case Outcome::kVersionTimeout: return "version_timeout";
    case Outcome::kFailed: return "failed";
    case Outcome::kUpToDate: return "up_to_date";
    default: return "nothing_done";
  }
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
