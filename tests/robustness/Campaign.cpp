// One run of the campaign over its backend, and the checks of what must hold after it.
#include "tests/robustness/Campaign.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/Loader.h"
#include "link/Packet.h"
#include "link/UsbChannel.h"
#include "protocol/Connection.h"
#include "sim/SimBus.h"
#include "tests/robustness/CampaignBackends.h"
#include "tests/support/LoaderProbe.h"
#include "tests/support/RecordingView.h"
#include "text/Messages.h"

namespace vxa::campaign {
namespace {

using namespace std::chrono_literals;
using sim::Fault;

std::string Msg(int32_t id) { return MessageText(id, 0); }

const char* CommandName(int code) {
  switch (code) {
    case kCmdWriteRequest: return "kCmdWriteRequest";
    case kCmdReadRequest: return "kCmdReadRequest";
    case kCmdWriteBlock: return "kCmdWriteBlock";
    case kCmdReadAck: return "kCmdReadAck";
    case kCmdText: return "kCmdText";
    case kCmdDeviceInfo: return "kCmdDeviceInfo";
    default: return "-1";
  }
}

// "drop-answer" → "DropAnswer": the enum's own name.
std::string EnumName(Fault fault) {
  std::string name;
  bool upper = true;
  for (const char c : sim::FaultName(fault)) {
    if (c == '-') {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(c - 'a' + 'A') : c;
    upper = false;
  }
  return name;
}

const char* BackendName(Backend backend) {
  return backend == Backend::kPty ? "pty" : backend == Backend::kD2xx ? "d2xx" : "bus";
}

const char* WhenName(When when) {
  switch (when) {
    case When::kBeforeSearch: return "before-search";
    case When::kBeforeUpdate: return "before-update";
    case When::kAtVerification: return "at-verification";
    case When::kAtFlashing: return "at-flashing";
  }
  return "?";
}

// How long the faults may hold a run up: each one that fires for ever stalls one stage for its
// bound (the write request's being the longest) with a drain on top; each firing of the others
// costs at most its own time or a read timeout, and a drain. Once the install was requested, the
// version wait has its own bound.
Clock::Duration Bound(const Draw& draw, bool kernelSent) {
  Clock::Duration bound = 2min;
  for (const sim::FaultSpec& aim : draw.faults) {
    const bool timed = aim.fault == Fault::Silent || aim.fault == Fault::Babble ||
                       aim.fault == Fault::LateAnswer;
    const bool endless =
        aim.count < 0 || (aim.value == 0 && (aim.fault == Fault::Silent ||
                                                aim.fault == Fault::Babble));
    if (endless) {
      bound += kRequestAcceptLimit + kDrainLimit + 5s;
      continue;
    }
    const Clock::Duration own = std::chrono::milliseconds(timed ? std::max(aim.value, 1500u) : 0);
    bound += aim.count * (std::max<Clock::Duration>(own, std::chrono::milliseconds(kReadTimeoutMs)) +
                           kDrainLimit + 2s);
  }
  if (kernelSent) bound += kVersionWaitLimit + kDrainLimit + 5s;
  return bound;
}

struct Ran {
  Outcome outcome;
  bool searched = false;  // the search found the instrument and the update ran
  Clock::Duration took{};
};

Ran RunLoader(const Draw& draw, Instrument& instrument, WatchingDriver& driver, Clock& clock,
              std::span<const EmbeddedResource> resources) {
  test::RecordingView view;
  Loader loader(view, driver, clock, resources);
  driver.Watch(loader, view);
  auto inject = [&](When when) {
    if (draw.when != when) return;
    for (const sim::FaultSpec& aim : draw.faults) instrument.Inject(aim);
  };
  if (draw.backend == Backend::kBus) inject(When::kBeforeSearch);
  view.onState = [&](const std::string& state) {
    if (state == Msg(msg::kStateVerification)) inject(When::kAtVerification);
    if (state == Msg(msg::kStateFlashing)) inject(When::kAtFlashing);
  };
  view.onEvents = [&] { driver.OnEvents(); };
  view.onProgress = [&](const Progress&) {
    driver.NoteProgress(!view.stages.empty() && view.stages.back() == Stage::kVerification);
  };
  Ran ran;
  const Clock::TimePoint start = clock.Now();
  if (loader.Find() == Outcome::kFound) {
    inject(When::kBeforeUpdate);
    ran.searched = true;
    loader.Load();
  }
  ran.took = clock.Now() - start;
  ran.outcome = loader.LastOutcome();
  driver.Unwatch();
  return ran;
}

// The consequence line a failed update must end with, from what the instrument was told and did.
std::vector<int32_t> TrueConsequences(const WatchingDriver& driver, const Outcome& outcome,
                                      Instrument& instrument) {
  if (driver.KernelWrites() == 0) return {msg::kFirmwareUnchangedRepeat};
  if (outcome.newVersionReported) return {msg::kNewVersionClockNotSet};
  if (instrument.TookInstall()) return {msg::kInstallUnderWay};
  // Told to install, and not installing: it refused, or its answer went astray.
  const std::optional<bool> refused = driver.RefusedSinceKernel();
  if (!refused) return {msg::kInstallUnderWay, msg::kFirmwareUnchangedRepeat};
  return {*refused ? msg::kFirmwareUnchangedRepeat : msg::kInstallUnderWay};
}

void CheckExit(const Draw& draw, const Ran& ran, const WatchingDriver& driver,
               Instrument& instrument, std::string* problems) {
  const Outcome& outcome = ran.outcome;
  const int status = ExitStatus(outcome, Asked::kUpdate);
  int expected = kExitFailed;
  if (driver.UserActed()) {
    expected = kExitInterrupted;
  } else if (outcome == Outcome::kUpdated) {
    expected = kExitSuccess;
  } else if (outcome == Outcome::kNoDevice) {
    expected = kExitNoDevice;
  }
  if (status != expected) *problems += FormatText(" exit status %d, not %d;", status, expected);
  if (outcome == Outcome::kUpdated) {
    if (instrument.Swap() != std::vector<uint8_t>(ImageBytes(draw.imageSize).begin(),
                                                  ImageBytes(draw.imageSize).end())) {
      *problems += " updated, but \"swap\" is not the image;";
    }
    if (instrument.Version() != draw.config.newProgramVersion) *problems += " updated, old version;";
    if (driver.KernelWrites() != 1) *problems += " updated without one install request;";
  } else if (!outcome.Failed()) {
    *problems += " ended neither updated nor with a failure;";
  }
  if (driver.KernelWrites() == 0 && outcome.kernelRequested) {
    *problems += " said the install was requested, none was sent;";
  }
  if (!ran.searched || !outcome.Failed()) return;
  const std::string& said = outcome.failure->consequence;
  // An interrupted update ends without a report; every other one says what it leaves behind.
  if (said.empty() && driver.UserActed()) return;
  const std::vector<int32_t> right = TrueConsequences(driver, outcome, instrument);
  if (std::none_of(right.begin(), right.end(), [&](int32_t id) { return Msg(id) == said; })) {
    *problems += " consequence '" + said + "';";
  }
}

}  // namespace

std::span<const uint8_t> ImageBytes(size_t size) {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> pattern(kMaxImageSize);
    for (size_t i = 0; i < pattern.size(); ++i) {
      pattern[i] = static_cast<uint8_t>(i * 29 + i / 509 + 3);
    }
    return pattern;
  }();
  return std::span<const uint8_t>(bytes).first(std::min(size, bytes.size()));
}

std::string Describe(const Draw& draw) {
  std::string line = FormatText(
      "VXA_CAMPAIGN_SEED=%llu backend=%s when=%s image=%zu install=%llds version=%s "
      "read-block=%u",
      static_cast<unsigned long long>(draw.seed), BackendName(draw.backend), WhenName(draw.when),
      draw.imageSize,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::seconds>(draw.config.installTime).count()),
      draw.config.newProgramVersion.c_str(), draw.config.readBlockSize);
  if (draw.interruptAtCall >= 0) {
    line += FormatText(" interrupt=call %d (%s)", draw.interruptAtCall,
                       draw.byClosing ? "window closed" : "Ctrl-C");
  }
  line += " faults:";
  for (const sim::FaultSpec& aim : draw.faults) {
    line += FormatText(" {.fault = Fault::%s, .count = %d, .skip = %d, .onCommand = %s, "
                       ".value = %u%s%s%s} [%s:%d:%d:%u:%d]",
                       EnumName(aim.fault).c_str(), aim.count, aim.skip,
                       CommandName(aim.onCommand), aim.value, aim.text.empty() ? "" : ", .text = \"",
                       aim.text.c_str(), aim.text.empty() ? "" : "\"",
                       std::string(sim::FaultName(aim.fault)).c_str(), aim.count, aim.skip,
                       aim.value, aim.onCommand);
  }
  return line;
}

std::string RunAndCheck(const Draw& draw, std::string* ended) {
  const std::span<const uint8_t> image = ImageBytes(draw.imageSize);
  const EmbeddedResource resources[] = {
      {kBootImageName, kBootImageType, image.data(), image.size()}};
  std::string problems;
  std::unique_ptr<Backing> backing = MakeBacking(draw, &problems);
  if (!backing) return problems;
  WatchingDriver driver(backing->Driver(), draw, backing->instrument());
  const Ran ran = RunLoader(draw, backing->instrument(), driver, backing->clock(), resources);
  backing->Finish();
  Instrument& instrument = backing->instrument();
  if (driver.KernelWrites() > 1) problems += " install request sent twice;";
  if (driver.KernelWrites() > 0 && !driver.ComparedAtKernel()) {
    problems += " install request before the whole image was compared;";
  }
  if (driver.KernelWrites() > 0 && !driver.SwapWholeAtKernel()) {
    problems += " install request with another image in \"swap\";";
  }
  if (driver.WritesAfterAbort() > 0) {
    problems += FormatText(" %d writes after the bridge was aborted;", driver.WritesAfterAbort());
  }
  if (driver.Stuck()) problems += " the interrupt never reached the bridge;";
  if (backing->clock().IsVirtual() && ran.took > Bound(draw, driver.KernelWrites() > 0)) {
    problems += FormatText(
        " ran %lld s;",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(ran.took).count()));
  }
  CheckExit(draw, ran, driver, instrument, &problems);
  if (ended != nullptr) {
    *ended = FormatText(
        "%s, exit %d, %lld ms, %d install requests", OutcomeCode(ran.outcome),
        ExitStatus(ran.outcome, Asked::kUpdate),
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(ran.took).count()),
        driver.KernelWrites());
  }
  return problems;
}

}  // namespace vxa::campaign
