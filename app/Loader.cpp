#include "app/Loader.h"

#include <memory>
#include <system_error>

#include "Version.h"
#include "link/Errors.h"
#include "text/Messages.h"

namespace vxa {

Loader::Loader(LoaderView& view, FtDriver& driver, Clock& clock,
               std::span<const EmbeddedResource> resources)
    : view_(view), driver_(driver), clock_(clock), productVersion_(VXA_PRODUCT_VERSION) {
  // Without its image or its thread the program can do nothing: the run is over before it began.
  std::optional<Failure> failure;
  try {
    BootImage = std::make_unique<TResReadTransBuffer>(kBootImageName, kBootImageType, resources);
  } catch (const TBufferError& e) {
    failure = Failure{FailureKind::kLocal, e.Text()};
  }
  if (!failure) {
    try {
      session_ = std::make_unique<InstrumentSession>(driver_, clock_, [this] { view_.Wake(); });
    } catch (const std::system_error&) {
      failure = Failure{FailureKind::kLocal, VXA_MSG(msg::kThreadCreateFailed)};
    }
  }
  if (failure) {
    lastOutcome_ = Outcome(Outcome::kFailed, failure);
    lastOutcome_.endsRun = true;
    view_.ShowReport({ReportKind::kError, failure->text});
    view_.ActionEnded(lastOutcome_);
  }
}

// The session's thread serves the connection bound to the boot image: it goes first.
Loader::~Loader() { session_.reset(); }

Loader::Ending Loader::UpdateFailed(Failure failure, ReportKind shownAs) {
  Outcome outcome(Outcome::kFailed, std::move(failure));
  outcome.endsRun = true;
  return {std::move(outcome), shownAs};
}

Loader::Ending Loader::Stopped() {
  Outcome outcome(Outcome::kFailed, Failure{FailureKind::kInterrupted});
  outcome.endsRun = true;
  return {std::move(outcome)};
}

template <typename Action>
Outcome Loader::Run(Outcome::Kind onEscape, Action action) noexcept {
  Outcome outcome(onEscape);
  try {
    outcome = Conclude(action());
  } catch (const std::exception& e) {
    ShowEscaped(e.what(), onEscape, &outcome);
  } catch (...) {
    ShowEscaped("", onEscape, &outcome);
  }
  if (outcome.kind != Outcome::kNone) lastOutcome_ = outcome;
  try {
    view_.ActionEnded(outcome);
  } catch (...) {
    // The front end's event loop must still not see an exception.
  }
  return outcome;
}

void Loader::ShowEscaped(const char* text, Outcome::Kind onEscape, Outcome* outcome) noexcept {
  try {
    *outcome = Outcome(onEscape, Failure{FailureKind::kUnexpected, text, {}, Consequence()});
    const Report report{ReportKind::kStandardError, text, ConnErrorKind::kOther, {},
                        outcome->failure->consequence};
    view_.ShowReport(report);
  } catch (...) {
    // Even the error display failed; the front end's event loop must still not see an exception.
  }
}

Outcome Loader::Conclude(Ending ending) {
  Outcome& outcome = ending.outcome;
  // The report comes first: a box stays on the screen until it is answered, and the program
  // must not end beneath it.
  if (ending.shownAs == ReportKind::kInformation) {
    view_.ShowReport({ReportKind::kInformation, VXA_MSG(msg::kFirmwareCompleted)});
  } else if (ending.shownAs && outcome.failure) {
    Failure& failure = *outcome.failure;
    failure.consequence = Consequence();
    view_.ShowReport({*ending.shownAs, failure.text, CauseOf(failure.kind), failure.detail,
                      failure.consequence, failure.fault, failure.hint});
  }
  if (outcome.Failed() && ending.stopsTraffic) {
    if (session_) session_->Stop();
    // Whatever else went wrong on the way, the user's interruption is what ended it.
    if (interrupted_) {
      outcome.kind = Outcome::kInterrupted;
      if (outcome.failure->text.empty()) outcome.failure->kind = FailureKind::kInterrupted;
    }
  }
  outcome.kernelRequested = kernelRequested_;
  outcome.newVersionReported = newVersionReported_;
  if (const TVXA4410Connection* current = Current()) outcome.blocksResent = current->BlocksResent();
  return outcome;
}

Outcome Loader::Find() noexcept {
  return Run(Outcome::kNoDevice, [this] { return Search(); });
}

Outcome Loader::Load() noexcept {
  return Run(Outcome::kFailed, [this] {
    if (Current() == nullptr || BootImage == nullptr || updateRunning_) {
      return Plain(Outcome::kNone);
    }
    return Update();
  });
}

Outcome Loader::ReadFile(uint32_t fileKind) noexcept {
  return Run(Outcome::kFailed, [this, fileKind] { return Read(fileKind); });
}

Loader::Ending Loader::Search() {
  view_.SearchStarted();
  found_.reset();
  if (!session_) return Plain(Outcome::kNoDevice);
  session_->Drop();
  // Only the count is asked for: however many bridges are attached, nothing is written past the
  // room the search has for their descriptions. A bridge chosen among several is not counted.
  uint32_t count = 1;
  const FtStatus status = bridge_ ? kFtOk : driver_.CountDevices(&count);
  if (status == kFtDeviceNotFound) {
    // The backend may know why: no such port, no permission on the USB node.
    return {Outcome(Outcome::kNoDevice,
                    Failure{.kind = FailureKind::kNoDevice,
                            .text = VXA_MSG(msg::kNoDeviceConnected),
                            .fault = bridge_ ? BridgeFault{} : driver_.LastFault()}),
            ReportKind::kWarning, false};
  }
  if (status != kFtOk) {
    Outcome outcome(Outcome::kNoDevice,
                    Failure{FailureKind::kListingFailed,
                            FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(status))});
    outcome.endsRun = true;
    return {std::move(outcome), ReportKind::kError, false};
  }
  if (count != 1) {
    return {Outcome(Outcome::kNoDevice, Failure{FailureKind::kSeveralDevices,
                                                VXA_MSG(msg::kMoreThanOneDevice)}),
            ReportKind::kWarning, false};
  }
  return SearchOne();
}

Loader::Ending Loader::SearchOne() {
  // A bridge that cannot be opened is not the instrument failing to answer: its error goes to
  // the standard error display.
  if (std::optional<Failure> failure = session_->Open(bridge_ ? &*bridge_ : nullptr)) {
    const Outcome::Kind kind =
        failure->kind == FailureKind::kNoDevice ? Outcome::kNoDevice : Outcome::kFailed;
    return {Outcome(kind, std::move(failure)), ReportKind::kStandardError, false};
  }
  if (std::optional<std::string> why = session_->StartLog(logPlan_)) {
    view_.DiagnosticsUnavailable(*why);
  }
  InstrumentFacts facts;
  if (std::optional<Failure> failure = session_->ReadRecords(SearchBuffer(), logPlan_, &facts)) {
    failure->text = StringTableText(str::kNotConnected);
    // The one silence the user can cause and cure: an instrument still installing an update.
    failure->hint = VXA_MSG(msg::kHintInstalling);
    return {Outcome(Outcome::kNotResponding, std::move(failure)), ReportKind::kNotAnswering,
            false};
  }
  found_ = facts;
  view_.DeviceFound({StringTableText(str::kLabelModel) + facts.model,
                     StringTableText(str::kLabelSerial) + facts.serialNumber,
                     StringTableText(str::kLabelDeviceVersion) + facts.deviceVersion,
                     StringTableText(str::kLabelProgramVersion) + facts.programVersion},
                    facts);
  return Plain(Outcome::kFound);
}

std::string Loader::Consequence() const {
  if (!updateRunning_) return {};
  // Once the new version has been reported, the install is over: only the clock can be missing.
  if (newVersionReported_) return VXA_MSG(msg::kNewVersionClockNotSet);
  return VXA_MSG(kernelRequested_ ? msg::kInstallUnderWay : msg::kFirmwareUnchangedRepeat);
}

std::optional<Failure> Loader::WaitForTransfer() {
  while (!session_->TransferDone()) {
    RefreshProgress();
    view_.ProcessEvents(kProgressRefresh);
    if (std::optional<Failure> failure = session_->TransferFailure()) return failure;
    if (view_.Terminating() || session_->Stopped()) return Failure{FailureKind::kInterrupted};
  }
  RefreshProgress();
  return std::nullopt;
}

void Loader::RefreshProgress() {
  // The buffer of the running transfer: the boot image during an update.
  const TBasicTransBuffer* buffer = Current()->BoundBuffer();
  if (buffer == nullptr) return;
  const int total = buffer->GetSize();
  view_.ProgressChanged({buffer->GetPosition(), total});
}

bool Loader::FormClose() noexcept {
  try {
    TVXA4410Connection* current = Current();
    // Once the install has been requested, nothing can be interrupted any more: the user is
    // told that the instrument goes on installing whatever the program does.
    const bool installing = kernelRequested_;
    if (view_.Terminating() || current == nullptr || (current->IsIdle() && !installing)) {
      return true;
    }
    if (closing_) return false;  // the question is already on the screen
    closing_ = true;
    const bool stop = installing
                          ? view_.AskYesNo(VXA_MSG(msg::kCloseDuringInstall), DefaultAnswer::kNo)
                          : view_.AskYesNo(VXA_MSG(msg::kInterruptLoad), DefaultAnswer::kYes);
    closing_ = false;
    if (!stop) return false;
    Interrupt();
    // The window decides from the interrupted run that it ends, also when no wait was running
    // to tell it (an update that had come to a stop).
    view_.ActionEnded(lastOutcome_);
    return true;
  } catch (const std::exception& e) {
    Outcome ignored;
    ShowEscaped(e.what(), Outcome::kNone, &ignored);
  } catch (...) {
    Outcome ignored;
    ShowEscaped("", Outcome::kNone, &ignored);
  }
  return false;
}

void Loader::Interrupt() {
  interrupted_ = true;
  if (updateRunning_) {
    lastOutcome_.kind = Outcome::kInterrupted;
    lastOutcome_.endsRun = true;
  }
  if (session_) session_->Stop();
}

}  // namespace vxa
