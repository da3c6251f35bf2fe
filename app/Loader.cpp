#include "app/Loader.h"

#include <algorithm>
#include <future>
#include <memory>
#include <stdexcept>
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
    endedInFailure_ = true;
    view_.Terminate();
  }
  try {
    TrafficThread = std::make_unique<TrafficControlThread>([this] { return Current(); });
  } catch (const std::system_error&) {
    view_.ShowReport({ReportKind::kError, VXA_MSG(msg::kThreadCreateFailed)});
    endedInFailure_ = true;
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
    view_.ShowReport({ReportKind::kStandardError, text, cause, {}, Consequence()});
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
  if (ending.report) {
    if (ending.report->kind != ReportKind::kInformation) {
      ending.report->consequence = Consequence();
    }
    view_.ShowReport(*ending.report);
  }
  if (ending.then == Then::kStopTraffic || ending.then == Then::kStopTrafficAndEnd) {
    if (TrafficThread) TrafficThread->Stop();
    // Whatever else went wrong on the way, the user's interruption is what ended it.
    if (interrupted_) ending.outcome = Outcome::kInterrupted;
  }
  if (ending.then == Then::kEnd || ending.then == Then::kStopTrafficAndEnd) {
    if (ending.outcome != Outcome::kUpdated) endedInFailure_ = true;
    view_.Terminate();
  }
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
  // room the search has for their descriptions. A bridge chosen among several is not counted.
  uint32_t count = 1;
  const FtStatus status = bridge_ ? kFtOk : driver_.CountDevices(&count);
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
  TVXA4410Connection& connection =
      Connections.emplace_back(driver_, clock_, bridge_ ? static_cast<int>(bridge_->index) : 0);
  connection.SetOutcomeListener([this] { view_.Wake(); });
  // A bridge that cannot be opened is not the instrument failing to answer: its error goes to
  // the standard error display. One that is not there at all is no instrument; one that is there
  // but cannot be used (no permission, not a serial port) is a failure to reach it.
  try {
    connection.Open(bridge_ ? &*bridge_ : nullptr);
  } catch (const TVXA4410ConnError& e) {
    return {connection.BridgeMissing() ? Outcome::kNoDevice : Outcome::kFailed,
            Report{ReportKind::kStandardError, e.Text(), e.Kind()}};
  }
  if (!connection.SetLogging(logEnabled_, dumpEnabled_, logName_)) {
    view_.DiagnosticsUnavailable(
        FormatText(VXA_MSG(msg::kFileCreateFailed), connection.FailedFile(),
                   std::generic_category().message(connection.FailedError()).c_str()));
  }
  try {
    connection.Bind(SearchBuffer());
    connection.QueryDeviceInfo();
    connection.QueryGinf();
    if (logRenamed_ && connection.Logging()) {
      connection.RenameLog(logRenamed_(connection.SerialNumberText()));
    }
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
  if (!view_.AskYesNo(StringTableText(str::kConfirmLoad), DefaultAnswer::kYes)) {
    return {Outcome::kDeclined};
  }
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
      const auto compared = static_cast<uint32_t>(BootImage->GetPosition());
      Report report{ReportKind::kError, VXA_MSG(msg::kVerifiedDataMismatch)};
      report.detail = DescribeMismatch(compared, compared);
      return {Outcome::kFailed, std::move(report), Then::kStopTrafficAndEnd};
    }

    // The install request: its answer comes back inside StartWrite, and no block follows it.
    // From the moment it may go out, a failure must not tell the user that the firmware is
    // unchanged: the instrument may be installing.
    kernelRequested_ = true;
    if (connection.StartWrite(kFileKernel, errorText) < 0) {
      kernelRequested_ = false;  // refused before anything was sent
      return {Outcome::kFailed, Report{ReportKind::kError, errorText}, Then::kStopTrafficAndEnd};
    }
    // An instrument that refuses to install keeps its old firmware: no version can come, and its
    // clock is left alone.
    if (const std::optional<TVXA4410ConnError> refusal = Refusal(connection)) {
      kernelRequested_ = false;
      const std::string text = FormatText(VXA_MSG(msg::kInstallRefused), refusal->Text());
      return {Outcome::kFailed, Report{ReportKind::kError, text, ConnErrorKind::kRefused},
              Then::kStopTrafficAndEnd};
    }
    view_.StageChanged(Stage::kFlashing, VXA_MSG(msg::kStateFlashing));
    std::optional<LocalDateTime> clockSet;
    if (!AwaitNewFirmware(&clockSet)) {
      if (view_.Terminating()) return Stopped();
      return {Outcome::kVersionTimeout,
              Report{ReportKind::kWarning, VXA_MSG(msg::kImageTransferred)},
              Then::kStopTrafficAndEnd};
    }
    view_.NewFirmwareReported(connection.ProgramVersionText(), clockSet);
    return {Outcome::kUpdated, Report{ReportKind::kInformation, VXA_MSG(msg::kFirmwareCompleted)},
            Then::kEnd};
  } catch (const TVXA4410ConnError& e) {
    Report report{ReportKind::kError, e.Text(), e.Kind()};
    // The read-back has recorded where it stopped agreeing with the image, when that was why.
    if (const auto difference = BootImage->FirstDifference()) {
      report.detail = DescribeMismatch(difference->offset, difference->compared);
    }
    return {Outcome::kFailed, std::move(report), Then::kStopTrafficAndEnd};
  }
}

std::optional<TVXA4410ConnError> Loader::Refusal(TVXA4410Connection& connection) {
  try {
    connection.CheckError();
  } catch (const TVXA4410ConnError& e) {
    if (e.Kind() == ConnErrorKind::kRefused) return e;
    // Any other fault of the answer leaves open whether the instrument took the request: the
    // version it reports will tell.
  }
  return std::nullopt;
}

std::string Loader::DescribeMismatch(uint32_t offset, uint32_t compared) {
  Current()->LogVerifyMismatch(offset, compared);
  return FormatText(VXA_MSG(msg::kVerifyMismatchAt), offset, compared);
}

std::string Loader::Consequence() const {
  if (!updateRunning_) return {};
  return VXA_MSG(kernelRequested_ ? msg::kInstallUnderWay : msg::kFirmwareUnchangedRepeat);
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

bool Loader::AwaitNewFirmware(std::optional<LocalDateTime>* clockSet) {
  TVXA4410Connection& connection = *Current();
  const Clock::TimePoint start = clock_.Now();
  // The polls and the clock run on the traffic thread, which is idle by now: an instrument that
  // does not answer while it installs holds that thread in its read timeouts, never this one.
  // What fails there comes back as a text and is raised here: no exception object is shared
  // between the threads.
  auto wait = std::make_shared<std::packaged_task<WaitEnd()>>([this, &connection, start] {
    WaitEnd end;
    try {
      if (PollForNewVersion(connection, start)) {
        end.confirmed = true;
        LocalDateTime sent;
        if (connection.SetDeviceClock(&sent)) end.clockSet = sent;
      }
    } catch (const TVXA4410ConnError& e) {
      end.failure = e.Text();
      end.kind = e.Kind();
    } catch (const std::exception& e) {
      end.failure = e.what();
      end.escaped = true;
    }
    return end;
  });
  std::future<WaitEnd> ended = wait->get_future();
  const auto limit = std::chrono::duration_cast<std::chrono::seconds>(kVersionWaitLimit);
  auto showWaited = [&] {
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(clock_.Now() - start);
    view_.VersionWaitChanged({std::min(waited, limit), limit});
  };
  showWaited();  // "0:00" from the start, however soon the first poll ends
  TrafficThread->RunJob([this, wait] {
    (*wait)();
    view_.Wake();
  });
  while (ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    view_.ProcessEvents(kProgressRefresh);
    // Stopping the thread aborts the connection: the wait on it ends within a slice.
    if (view_.Terminating() || TrafficThread->Stopped()) return false;
    showWaited();
  }
  const WaitEnd end = ended.get();
  if (end.failure && end.escaped) throw std::runtime_error(*end.failure);
  if (end.failure) throw TVXA4410ConnError(*end.failure, end.kind);
  *clockSet = end.clockSet;
  return end.confirmed;
}

bool Loader::PollForNewVersion(TVXA4410Connection& connection, Clock::TimePoint start) const {
  if (productVersion_.empty()) return true;
  const Clock::TimePoint deadline = start + kVersionWaitLimit;
  for (;;) {
    connection.PauseUnlessAborted(static_cast<uint32_t>(kVersionPollInterval.count()));
    if (connection.Aborted()) return false;
    try {
      connection.QueryGinf();
    } catch (const TVXA4410ConnError&) {
      // The instrument is busy installing and does not answer: ask again.
    }
    if (connection.ProgramVersionText() == productVersion_) return true;
    if (clock_.Now() >= deadline) return false;
  }
}

void Loader::StopTrafficAndExit() {
  if (TrafficThread) TrafficThread->Stop();
  view_.Terminate();
}

bool Loader::FormClose() noexcept {
  return Guarded(false, [this] {
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
    return true;
  });
}

void Loader::Interrupt() {
  interrupted_ = true;
  if (updateRunning_) lastOutcome_ = Outcome::kInterrupted;
  StopTrafficAndExit();
}

}  // namespace vxa
