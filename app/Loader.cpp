#include "app/Loader.h"

#include <system_error>

#include "Version.h"
#include "link/Errors.h"
#include "text/Messages.h"

namespace vxa {

Loader::Loader(LoaderView& view, FtDriver& driver, Clock& clock,
               std::span<const EmbeddedResource> resources)
    : view_(view), driver_(driver), clock_(clock), productVersion_(VXA_PRODUCT_VERSION) {
  try {
    BootImage = std::make_unique<TResReadTransBuffer>(kBootImageName, kBootImageType, resources);
  } catch (const TBufferError& e) {
    view_.ShowReport({ReportKind::kError, e.Text()});
    view_.Terminate();
  }
  try {
    TrafficThread = std::make_unique<TrafficControlThread>([this] { return Current(); });
  } catch (const std::system_error&) {
    view_.ShowReport({ReportKind::kError, VXA_MSG(msg::kThreadCreateFailed)});
    view_.Terminate();
  }
}

Loader::~Loader() {
  // The thread serves the connection at the back of the list: it goes first.
  if (TrafficThread) TrafficThread->Stop();
}

template <typename Result, typename Action>
Result Loader::Guarded(Result onEscape, Action action) noexcept {
  try {
    return action();
  } catch (const TVXA4410ConnError& e) {
    ShowEscaped(e.what(), e.Kind());
  } catch (const std::exception& e) {
    ShowEscaped(e.what(), ConnErrorKind::kOther);
  } catch (...) {
    ShowEscaped("", ConnErrorKind::kOther);
  }
  return onEscape;
}

void Loader::ShowEscaped(const char* text, ConnErrorKind cause) noexcept {
  try {
    view_.ShowReport({ReportKind::kStandardError, text, cause});
  } catch (...) {
    // Even the error display failed; the front end's event loop must still not see an exception.
  }
}

template <typename Step>
Outcome Loader::Run(Outcome onEscape, Step step) noexcept {
  const Outcome outcome = Guarded(onEscape, [&] { return Conclude(step()); });
  if (outcome != Outcome::kNone) lastOutcome_ = outcome;
  return outcome;
}

Outcome Loader::Conclude(Ending ending) {
  // The report comes first: a box stays on the screen until it is answered, and the program
  // must not end beneath it.
  if (ending.report) view_.ShowReport(*ending.report);
  if (ending.then == Then::kStopTraffic || ending.then == Then::kStopTrafficAndEnd) {
    if (TrafficThread) TrafficThread->Stop();
    // Whatever else went wrong on the way, the user's interruption is what ended it.
    if (interrupted_) ending.outcome = Outcome::kInterrupted;
  }
  if (ending.then == Then::kEnd || ending.then == Then::kStopTrafficAndEnd) view_.Terminate();
  return ending.outcome;
}

Outcome Loader::Find() noexcept {
  return Run(Outcome::kNoDevice, [this] { return Search(); });
}

Outcome Loader::Load() noexcept {
  return Run(Outcome::kFailed, [this] {
    if (Current() == nullptr || BootImage == nullptr || TrafficThread == nullptr ||
        updateRunning_) {
      return Ending{};
    }
    return Update();
  });
}

Outcome Loader::ReadFile(uint32_t fileKind) noexcept {
  return Run(Outcome::kFailed, [this, fileKind] { return Read(fileKind); });
}

Loader::Ending Loader::Search() {
  view_.SearchStarted();
  // The traffic thread may still be looking at the connection it has just finished with.
  if (TrafficThread) TrafficThread->WaitUntilParked();
  Connections.clear();
  // Only the count is asked for: however many bridges are attached, nothing is written past the
  // room the search has for their descriptions.
  uint32_t count = 0;
  const FtStatus status = driver_.CountDevices(&count);
  if (status == kFtDeviceNotFound) {
    return {Outcome::kNoDevice, Report{ReportKind::kWarning, VXA_MSG(msg::kNoDeviceConnected)}};
  }
  if (status != kFtOk) {
    const std::string text =
        FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(status));
    return {Outcome::kNoDevice, Report{ReportKind::kError, text}, Then::kEnd};
  }
  if (count != 1) {
    return {Outcome::kNoDevice, Report{ReportKind::kWarning, VXA_MSG(msg::kMoreThanOneDevice)}};
  }
  TVXA4410Connection& connection = Connections.emplace_back(driver_, clock_, 0);
  connection.SetOutcomeListener([this] { view_.Wake(); });
  // A bridge that cannot be opened is not the instrument failing to answer: its error goes to
  // the standard error display. One that is not there at all is no instrument; one that is there
  // but cannot be used (no permission, not a serial port) is a failure to reach it.
  try {
    connection.Open();
  } catch (const TVXA4410ConnError& e) {
    return {connection.BridgeMissing() ? Outcome::kNoDevice : Outcome::kFailed,
            Report{ReportKind::kStandardError, e.Text(), e.Kind()}};
  }
  if (!connection.SetLogging(logEnabled_, dumpEnabled_)) {
    view_.DiagnosticsUnavailable(
        FormatText(VXA_MSG(msg::kFileCreateFailed), connection.FailedFile(),
                   std::generic_category().message(connection.FailedError()).c_str()));
  }
  try {
    connection.Bind(SearchBuffer());
    connection.QueryDeviceInfo();
    connection.QueryGinf();
    // Each text is taken whole before the next is asked for.
    view_.DeviceFound({
        StringTableText(str::kLabelModel) + connection.ModelText(),
        StringTableText(str::kLabelSerial) + connection.SerialNumberText(),
        StringTableText(str::kLabelDeviceVersion) + connection.DeviceVersionText(),
        StringTableText(str::kLabelProgramVersion) + connection.ProgramVersionText(),
    });
    return {Outcome::kFound};
  } catch (const TVXA4410ConnError& e) {
    return {Outcome::kNotResponding,
            Report{ReportKind::kNotAnswering, StringTableText(str::kNotConnected), e.Kind()}};
  }
}

Loader::Ending Loader::Update() {
  if (!view_.AskYesNo(StringTableText(str::kConfirmLoad))) return {Outcome::kDeclined};
  TVXA4410Connection& connection = *Current();
  updateRunning_ = true;
  view_.StageChanged(Stage::kWriteRequest, VXA_MSG(msg::kStateWriteRequest));
  std::string errorText;
  try {
    connection.StartWrite(kFileSwap, errorText);
    TrafficThread->Resume();
    view_.StageChanged(Stage::kFileTransfer, VXA_MSG(msg::kStateFileTransfer));
    if (!WaitForTransfer()) return Stopped();

    view_.StageChanged(Stage::kVerification, VXA_MSG(msg::kStateVerification));
    if (connection.StartRead(kFileSwap, errorText) < 0) {
      // Nothing is stopped: the window stays as it is, and only closing it is left.
      const std::string text = FormatText(VXA_MSG(msg::kOpenFileFailed), errorText.c_str());
      return {Outcome::kFailed, Report{ReportKind::kError, text}};
    }
    TrafficThread->Resume();
    if (!WaitForTransfer()) return Stopped();
    // A read-back that ended early compared only part of the image: the instrument must never
    // be told to install what was not verified to the last byte.
    if (BootImage->GetPosition() != BootImage->GetSize()) {
      return {Outcome::kFailed, Report{ReportKind::kError, VXA_MSG(msg::kVerifiedDataMismatch)},
              Then::kStopTrafficAndEnd};
    }

    connection.StartWrite(kFileKernel, errorText);
    kernelRequested_ = true;
    view_.StageChanged(Stage::kFlashing, VXA_MSG(msg::kStateFlashing));
    if (!AwaitNewFirmware()) {
      if (view_.Terminating()) return Stopped();
      return {Outcome::kVersionTimeout,
              Report{ReportKind::kWarning, VXA_MSG(msg::kImageTransferred)},
              Then::kStopTrafficAndEnd};
    }
    LocalDateTime sent;
    std::optional<LocalDateTime> clockSet;
    if (connection.SetDeviceClock(&sent)) clockSet = sent;
    view_.NewFirmwareReported(connection.ProgramVersionText(), clockSet);
    return {Outcome::kUpdated, Report{ReportKind::kInformation, VXA_MSG(msg::kFirmwareCompleted)},
            Then::kEnd};
  } catch (const TVXA4410ConnError& e) {
    return {Outcome::kFailed, Report{ReportKind::kError, e.Text(), e.Kind()},
            Then::kStopTrafficAndEnd};
  }
}

bool Loader::WaitForTransfer() {
  TVXA4410Connection& connection = *Current();
  while (!connection.Done()) {
    RefreshProgress();
    view_.ProcessEvents(kProgressRefresh);
    connection.CheckError();
    if (view_.Terminating() || TrafficThread->Stopped()) return false;
  }
  RefreshProgress();
  return true;
}

void Loader::RefreshProgress() {
  // The buffer of the running transfer: the boot image during an update.
  const TBasicTransBuffer* buffer = Current()->BoundBuffer();
  if (buffer == nullptr) return;
  const int total = buffer->GetSize();
  view_.ProgressChanged({buffer->GetPosition(), total});
}

void Loader::Pause(std::chrono::milliseconds duration) {
  if (clock_.IsVirtual()) {
    clock_.Sleep(duration);
    view_.ProcessEvents(std::chrono::milliseconds(0));
    return;
  }
  const Clock::TimePoint end = clock_.Now() + duration;
  while (!view_.Terminating()) {
    const Clock::TimePoint now = clock_.Now();
    if (now >= end) break;
    view_.ProcessEvents(std::chrono::duration_cast<std::chrono::milliseconds>(end - now) +
                        std::chrono::milliseconds(1));
  }
}

bool Loader::AwaitNewFirmware() {
  TVXA4410Connection& connection = *Current();
  if (!productVersion_.empty()) {
    const Clock::TimePoint deadline = clock_.Now() + kVersionWaitLimit;
    for (;;) {
      Pause(kVersionPollInterval);
      if (view_.Terminating()) return false;
      try {
        connection.QueryGinf();
      } catch (const TVXA4410ConnError&) {
        // The instrument is busy installing and does not answer: ask again.
      }
      if (connection.ProgramVersionText() == productVersion_) return true;
      if (clock_.Now() >= deadline) return false;
    }
  }
  return true;
}

void Loader::StopTrafficAndExit() {
  if (TrafficThread) TrafficThread->Stop();
  view_.Terminate();
}

bool Loader::FormClose() noexcept {
  return Guarded(false, [this] {
    TVXA4410Connection* current = Current();
    if (view_.Terminating() || current == nullptr || current->IsIdle()) return true;
    if (closing_) return false;  // the question is already on the screen
    closing_ = true;
    const bool stop = view_.AskYesNo(VXA_MSG(msg::kInterruptLoad));
    closing_ = false;
    if (!stop) return false;
    Interrupt();
    return true;
  });
}

void Loader::Interrupt() {
  interrupted_ = true;
  if (updateRunning_) lastOutcome_ = Outcome::kInterrupted;
  StopTrafficAndExit();
}

}  // namespace vxa
