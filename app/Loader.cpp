#include "app/Loader.h"

#include <system_error>

#include "Version.h"
#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {

Loader::Loader(LoaderView& view, FtDriver& driver, Clock& clock,
               std::span<const EmbeddedResource> resources)
    : view_(view), driver_(driver), clock_(clock), productVersion_(VXA_PRODUCT_VERSION) {
  try {
    BootImage = std::make_unique<TResReadTransBuffer>(kBootImageName, kBootImageType, resources);
  } catch (const TBufferError& e) {
    view_.ShowMessageBox(BoxKind::kError, e.Text());
    view_.Terminate();
  }
  try {
    TrafficThread = std::make_unique<TrafficControlThread>([this] { return Current(); });
  } catch (const std::system_error&) {
    view_.ShowMessageBox(BoxKind::kError, VXA_MSG(msg::kThreadCreateFailed));
    view_.Terminate();
  }
  DumpEnabled = false;
  LogEnabled = false;
}

Loader::~Loader() {
  // The thread serves the connection at the back of the list: it goes first.
  if (TrafficThread) TrafficThread->Stop();
}

template <typename Handler>
void Loader::RunHandler(Handler handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    view_.ShowStandardError(e.what());
  } catch (...) {
    view_.ShowStandardError("");
  }
}

void Loader::Find() {
  RunHandler([this] { FindButtonClick(); });
}

void Loader::Load() {
  RunHandler([this] { LoadButtonClick(); });
}

void Loader::FindButtonClick() {
  outcome_ = Outcome::kNoDevice;
  view_.SetLoadEnabled(false);
  if (EnumerateDevices() == 0) return;
  TVXA4410Connection& connection = *Current();
  try {
    connection.Bind(SearchBuffer());
    connection.QueryDeviceInfo();
    connection.QueryGinf();
    // Each text is taken whole before the next is asked for.
    const std::string lines[] = {
        StringTableText(str::kLabelModel) + connection.ModelText(),
        StringTableText(str::kLabelSerial) + connection.SerialNumberText(),
        StringTableText(str::kLabelDeviceVersion) + connection.DeviceVersionText(),
        StringTableText(str::kLabelProgramVersion) + connection.ProgramVersionText(),
    };
    view_.ClearMemo();
    for (const std::string& line : lines) view_.AddMemoLine(line);
    view_.SetLoadEnabled(true);
    outcome_ = Outcome::kFound;
  } catch (const TVXA4410ConnError&) {
    outcome_ = Outcome::kNotResponding;
    view_.ShowAppBox(StringTableText(str::kNotConnected), BoxIcon::kWarning);
  }
}

int Loader::EnumerateDevices() {
  DeviceCount = 0;
  // The traffic thread may still be looking at the connection it has just finished with.
  if (TrafficThread) TrafficThread->WaitUntilParked();
  Connections.clear();
  // Only the count is asked for: however many bridges are attached, nothing is written past the
  // room the search has for their descriptions.
  uint32_t count = 0;
  const FtStatus status = driver_.CountDevices(&count);
  if (status == kFtDeviceNotFound) {
    view_.ShowMessageBox(BoxKind::kWarning, VXA_MSG(msg::kNoDeviceConnected));
    return 0;
  }
  if (status != kFtOk) {
    view_.ShowMessageBox(BoxKind::kError,
                         FormatText(VXA_MSG(msg::kSearchFailedStatus), static_cast<int>(status)));
    view_.Terminate();
    return 0;
  }
  DeviceCount = static_cast<int32_t>(count);
  if (DeviceCount != 1) {
    view_.ShowMessageBox(BoxKind::kWarning, VXA_MSG(msg::kMoreThanOneDevice));
    return 0;
  }
  for (int index = 0; index < DeviceCount; ++index) {
    TVXA4410Connection& connection = Connections.emplace_back(driver_, clock_, index);
    connection.SetOutcomeListener([this] { view_.Wake(); });
    connection.Open();
    connection.SetLogging(LogEnabled, DumpEnabled);
  }
  return DeviceCount;
}

void Loader::LoadButtonClick() {
  TVXA4410Connection* current = Current();
  if (current == nullptr || BootImage == nullptr || updateRunning_) return;
  if (!view_.AskYesNo(StringTableText(str::kConfirmLoad))) {
    outcome_ = Outcome::kDeclined;
    return;
  }
  TVXA4410Connection& connection = *current;
  updateRunning_ = true;
  outcome_ = Outcome::kFailed;
  view_.SetFindEnabled(false);
  view_.SetLoadEnabled(false);
  view_.SetCloseEnabled(false);
  view_.SetTimerEnabled(false);
  view_.SetStateText(VXA_MSG(msg::kStateWriteRequest));
  std::string errorText;
  auto stop = [this] {
    view_.SetTimerEnabled(false);
    StopTrafficAndExit();
    if (interrupted_) outcome_ = Outcome::kInterrupted;
  };
  try {
    connection.StartWrite(kFileSwap, errorText);
    TrafficThread->Resume();
    view_.SetStateText(VXA_MSG(msg::kStateFileTransfer));
    view_.SetProgressVisible(false);
    view_.SetTimerEnabled(false);
    if (!WaitForTransfer()) return stop();

    view_.SetStateText(VXA_MSG(msg::kStateVerification));
    if (connection.StartRead(kFileSwap, errorText) < 0) {
      view_.ShowMessageBox(BoxKind::kError,
                           FormatText(VXA_MSG(msg::kOpenFileFailed), errorText.c_str()));
      view_.SetTimerEnabled(false);
      return;
    }
    TrafficThread->Resume();
    if (!WaitForTransfer()) return stop();
    // A read-back that ended early compared only part of the image: the instrument must never
    // be told to install what was not verified to the last byte.
    if (BootImage->GetPosition() != BootImage->GetSize()) {
      view_.ShowMessageBox(BoxKind::kError, VXA_MSG(msg::kVerifiedDataMismatch));
      return stop();
    }

    connection.StartWrite(kFileKernel, errorText);
    kernelRequested_ = true;
    view_.SetTimerEnabled(false);
    view_.SetStateText(VXA_MSG(msg::kStateFlashing));
    if (!AwaitNewFirmware()) {
      if (!view_.Terminating()) {
        outcome_ = Outcome::kVersionTimeout;
        view_.ShowMessageBox(BoxKind::kWarning, VXA_MSG(msg::kImageTransferred));
      }
      return stop();
    }
    outcome_ = Outcome::kUpdated;
    view_.ShowMessageBox(BoxKind::kInformation, VXA_MSG(msg::kFirmwareCompleted));
    view_.Terminate();
  } catch (const TVXA4410ConnError& e) {
    view_.ShowMessageBox(BoxKind::kError, e.Text());
    stop();
  }
}

bool Loader::WaitForTransfer() {
  TVXA4410Connection& connection = *Current();
  while (!connection.Done()) {
    RefreshProgressBar();
    RefreshProgressLabel();
    view_.ProcessEvents(kProgressRefresh);
    try {
      connection.CheckError();
    } catch (const TVXA4410ConnError& e) {
      view_.ShowMessageBox(BoxKind::kError, e.Text());
      return false;
    }
    if (view_.Terminating() || TrafficThread->Stopped()) return false;
  }
  RefreshProgressBar();
  RefreshProgressLabel();
  return true;
}

void Loader::RefreshProgressBar() {
  // The buffer of the running transfer: the boot image during an update.
  const TBasicTransBuffer* buffer = Current() != nullptr ? Current()->BoundBuffer() : nullptr;
  if (buffer == nullptr) return;
  if (view_.ProgressMin() != 0) view_.SetProgressMin(0);
  if (view_.ProgressMax() != buffer->GetSize()) view_.SetProgressMax(buffer->GetSize());
  if (view_.ProgressPosition() != buffer->GetPosition()) {
    view_.SetProgressPosition(buffer->GetPosition());
  }
}

void Loader::RefreshProgressLabel() {
  std::string text = "(";
  text += std::to_string(view_.ProgressPosition());
  text += VXA_MSG(msg::kProgressFrom);
  text += std::to_string(view_.ProgressMax());
  text += ')';
  view_.SetLoadLabelText(text);
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
  view_.SetLoadLabelText("");
  view_.SetProgressVisible(false);
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
      if (connection.ProgramVersionText() == productVersion_) break;
      if (clock_.Now() >= deadline) return false;
    }
  }
  connection.SetDeviceClock();
  return true;
}

void Loader::StopTrafficAndExit() {
  if (TrafficThread) TrafficThread->Stop();
  view_.Terminate();
}

bool Loader::FormClose() {
  TVXA4410Connection* current = Current();
  if (view_.Terminating() || current == nullptr || current->IsIdle()) return true;
  if (closing_) return false;  // the question is already on the screen
  closing_ = true;
  const bool stop = view_.AskYesNo(VXA_MSG(msg::kInterruptLoad));
  closing_ = false;
  if (!stop) return false;
  Interrupt();
  return true;
}

void Loader::Interrupt() {
  interrupted_ = true;
  if (updateRunning_) outcome_ = Outcome::kInterrupted;
  StopTrafficAndExit();
}

}  // namespace vxa
