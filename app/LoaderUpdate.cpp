// The update of the instrument found, as its stages: the write request, the transfer of the
// image, its verification, the install request, the wait for the new version and the clock.
#include <algorithm>
#include <future>
#include <memory>

#include "app/Loader.h"
#include "link/Errors.h"
#include "text/Messages.h"

namespace vxa {

Loader::Ending Loader::Update() {
  if (!view_.AskYesNo(StringTableText(str::kConfirmLoad), DefaultAnswer::kYes)) {
    return Plain(Outcome::kDeclined);
  }
  updateRunning_ = true;
  for (Next (Loader::*stage)() : {&Loader::RequestWrite, &Loader::WriteImage, &Loader::VerifyImage,
                                  &Loader::RequestInstall, &Loader::AwaitNewVersion}) {
    if (Next ended = (this->*stage)()) return std::move(*ended);
  }
  return Succeeded();
}

Loader::Next Loader::RequestWrite() {
  view_.StageChanged(Stage::kWriteRequest, VXA_MSG(msg::kStateWriteRequest));
  // The answer to the request is looked at with the first block: a refusal shows there.
  InstrumentSession::Start start;
  if (std::optional<Failure> failure = session_->StartWrite(kFileSwap, &start)) {
    return UpdateFailed(std::move(*failure));
  }
  session_->Resume();
  return std::nullopt;
}

Loader::Next Loader::WriteImage() {
  view_.StageChanged(Stage::kFileTransfer, VXA_MSG(msg::kStateFileTransfer));
  if (std::optional<Failure> failure = WaitForTransfer()) {
    if (failure->text.empty()) return Stopped();
    return UpdateFailed(std::move(*failure));
  }
  return std::nullopt;
}

Loader::Next Loader::VerifyImage() {
  view_.StageChanged(Stage::kVerification, VXA_MSG(msg::kStateVerification));
  InstrumentSession::Start start;
  std::optional<Failure> failure = session_->StartRead(kFileSwap, &start);
  if (!failure && start.result < 0) {
    // Nothing is stopped: the window stays as it is, and only closing it is left.
    Failure refused{FailureKind::kProtocolError,
                    FormatText(VXA_MSG(msg::kOpenFileFailed), start.reason.c_str())};
    return Ending{Outcome(Outcome::kFailed, std::move(refused)), ReportKind::kError, false};
  }
  if (!failure) {
    session_->Resume();
    failure = WaitForTransfer();
    if (failure && failure->text.empty()) return Stopped();
  }
  // The read-back has recorded where it stopped agreeing with the image, when that was why.
  if (failure) {
    if (const auto difference = BootImage->FirstDifference()) {
      failure->kind = FailureKind::kVerifyMismatch;
      failure->detail = DescribeMismatch(difference->offset, difference->compared);
    } else if (BootImage->Overran()) {
      failure->kind = FailureKind::kVerifyMismatch;
    }
    return UpdateFailed(std::move(*failure));
  }
  // A read-back that ended early compared only part of the image: the instrument must never be
  // told to install what was not verified to the last byte.
  if (BootImage->GetPosition() != BootImage->GetSize()) {
    const auto compared = static_cast<uint32_t>(BootImage->GetPosition());
    return UpdateFailed(Failure{FailureKind::kVerifyMismatch,
                                VXA_MSG(msg::kVerifiedDataMismatch),
                                DescribeMismatch(compared, compared)});
  }
  return std::nullopt;
}

Loader::Next Loader::RequestInstall() {
  // The install request: its answer comes back inside the start, and no block follows it. From
  // the moment it may go out, a failure must not tell the user that the firmware is unchanged:
  // the instrument may be installing.
  kernelRequested_ = true;
  InstrumentSession::Start start;
  if (std::optional<Failure> failure = session_->StartWrite(kFileKernel, &start)) {
    return UpdateFailed(std::move(*failure));
  }
  if (start.result < 0) {
    kernelRequested_ = false;  // refused before anything was sent
    return UpdateFailed(Failure{FailureKind::kProtocolError, start.reason});
  }
  // An instrument that refuses to install keeps its old firmware: no version can come, and its
  // clock is left alone.
  if (std::optional<Failure> refusal = session_->Refusal()) {
    kernelRequested_ = false;
    refusal->text = FormatText(VXA_MSG(msg::kInstallRefused), refusal->text.c_str());
    return UpdateFailed(std::move(*refusal));
  }
  return std::nullopt;
}

Loader::Next Loader::AwaitNewVersion() {
  view_.StageChanged(Stage::kFlashing, VXA_MSG(msg::kStateFlashing));
  const Clock::TimePoint start = clock_.Now();
  // The polls and the clock run on the traffic thread, which is idle by now: an instrument that
  // does not answer while it installs holds that thread in its read timeouts, never this one.
  // How it ended comes back as a value.
  auto wait = std::make_shared<std::packaged_task<WaitEnd()>>(
      [this, start] { return PollThenSetClock(start); });
  std::future<WaitEnd> ended = wait->get_future();
  const auto limit = std::chrono::duration_cast<std::chrono::seconds>(kVersionWaitLimit);
  auto showWaited = [&] {
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(clock_.Now() - start);
    view_.VersionWaitChanged({std::min(waited, limit), limit});
  };
  showWaited();  // "0:00" from the start, however soon the first poll ends
  session_->RunJob([this, wait] {
    (*wait)();
    view_.Wake();
  });
  while (ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    view_.ProcessEvents(kProgressRefresh);
    // Stopping the thread aborts the connection: the wait on it ends within a slice.
    if (view_.Terminating() || session_->Stopped()) return Stopped();
    showWaited();
  }
  WaitEnd end = ended.get();
  if (end.failure && end.failure->kind == FailureKind::kUnexpected) {
    // What escaped the job is shown where escaped errors are, and ends nothing more.
    return Ending{Outcome(Outcome::kFailed, std::move(end.failure)), ReportKind::kStandardError,
                  false};
  }
  newVersionReported_ = end.confirmed;
  if (end.failure) {
    if (end.confirmed) end.failure->kind = FailureKind::kClockNotSet;
    return UpdateFailed(std::move(*end.failure));
  }
  if (!end.confirmed) {
    if (view_.Terminating()) return Stopped();
    Outcome outcome(Outcome::kVersionTimeout,
                    Failure{FailureKind::kVersionTimeout, VXA_MSG(msg::kImageTransferred)});
    outcome.endsRun = true;
    return Ending{std::move(outcome), ReportKind::kWarning};
  }
  clockSet_ = end.clockSet;
  return std::nullopt;
}

Loader::WaitEnd Loader::PollThenSetClock(Clock::TimePoint start) {
  WaitEnd end;
  // The job must not throw: whatever escapes is handed back like any other ending.
  try {
    if (PollForNewVersion(start)) {
      end.confirmed = true;
      end.clockSet = session_->SetClock(&end.failure);
    }
  } catch (const std::exception& e) {
    end.failure = Failure{FailureKind::kUnexpected, e.what()};
  }
  return end;
}

bool Loader::PollForNewVersion(Clock::TimePoint start) {
  if (productVersion_.empty()) return true;
  const Clock::TimePoint deadline = start + kVersionWaitLimit;
  for (;;) {
    session_->Pause(static_cast<uint32_t>(kVersionPollInterval.count()));
    if (session_->Aborted()) return false;
    // An instrument busy installing does not answer: it is asked again.
    std::string version;
    session_->PollVersion(&version);
    if (version == productVersion_) return true;
    if (clock_.Now() >= deadline) return false;
  }
}

Loader::Ending Loader::Succeeded() {
  view_.NewFirmwareReported(Current()->ProgramVersionText(), clockSet_);
  Outcome outcome(Outcome::kUpdated);
  outcome.endsRun = true;
  return {std::move(outcome), ReportKind::kInformation, false};
}

std::string Loader::DescribeMismatch(uint32_t offset, uint32_t compared) {
  Current()->LogVerifyMismatch(offset, compared);
  return FormatText(VXA_MSG(msg::kVerifyMismatchAt), offset, compared);
}

}  // namespace vxa
