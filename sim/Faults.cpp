#include <array>

#include "sim/FaultPlan.h"
#include "sim/SimTypes.h"

namespace vxa::sim {
namespace {

struct FaultNameEntry {
  Fault fault;
  std::string_view name;
};

constexpr std::array<FaultNameEntry, kFaultCount> kFaultNames = {{
    {Fault::DropAnswer, "drop-answer"},
    {Fault::LateAnswer, "late-answer"},
    {Fault::BadCrc, "bad-crc"},
    {Fault::WrongEcho, "wrong-echo"},
    {Fault::BadStartMark, "bad-start-mark"},
    {Fault::BadReserved, "bad-reserved"},
    {Fault::BadEndMark, "bad-end-mark"},
    {Fault::ShortLength, "short-length"},
    {Fault::HugeLength, "huge-length"},
    {Fault::TruncatedBody, "truncated-body"},
    {Fault::StaleAnswer, "stale-answer"},
    {Fault::DuplicateAnswer, "duplicate-answer"},
    {Fault::Babble, "babble"},
    {Fault::Silent, "silent"},
    {Fault::Unplug, "unplug"},
    {Fault::RefuseRequest, "refuse-request"},
    {Fault::RefuseBlock, "refuse-block"},
    {Fault::RefusalWithoutNul, "refusal-without-nul"},
    {Fault::RefuseClock, "refuse-clock"},
    {Fault::WrongAckNumber, "wrong-ack-number"},
    {Fault::UnrecognisedWrqAnswer, "unrecognised-wrq-answer"},
    {Fault::FirstReadBlockNumber, "first-read-block-number"},
    {Fault::RepeatReadBlock, "repeat-read-block"},
    {Fault::CorruptReadBack, "corrupt-read-back"},
    {Fault::ShortReadBack, "short-read-back"},
    {Fault::LongReadBack, "long-read-back"},
    {Fault::NeverReportVersion, "never-report-version"},
    {Fault::IgnoreGinf, "ignore-ginf"},
    {Fault::UnrecognisedAnswer, "unrecognised-answer"},
    {Fault::BadAckLength, "bad-ack-length"},
    {Fault::WrqNonZeroBlock, "wrq-non-zero-block"},
    {Fault::ShortReadBlock, "short-read-block"},
    {Fault::RecordLength, "record-length"},
    {Fault::AckAhead, "ack-ahead"},
}};

constexpr bool NamesInEnumOrder() {
  for (size_t i = 0; i < kFaultNames.size(); ++i) {
    if (static_cast<size_t>(kFaultNames[i].fault) != i) return false;
  }
  return true;
}
static_assert(NamesInEnumOrder(), "fault names must follow the order of the enum");

constexpr std::array<Fault, kFaultCount> MakeAllFaults() {
  std::array<Fault, kFaultCount> all{};
  for (size_t i = 0; i < kFaultCount; ++i) all[i] = kFaultNames[i].fault;
  return all;
}
constexpr std::array<Fault, kFaultCount> kAllFaults = MakeAllFaults();

constexpr std::array<std::string_view, kCallCount> kCallNames = {
    "CountDevices",
    "DeviceDescription",
    "OpenByDescription",
    "ResetDevice",
    "SetLatencyTimer",
    "SetUSBParameters",
    "SetTimeouts",
    "SetDataCharacteristics",
    "GetModemStatus",
    "SetFlowControl",
    "SetDivisor",
    "Purge",
    "Write",
    "Read",
    "GetStatus",
    "Close",
};

}  // namespace

Fault FaultFromName(std::string_view name, bool* ok) {
  for (const FaultNameEntry& entry : kFaultNames) {
    if (entry.name == name) {
      if (ok) *ok = true;
      return entry.fault;
    }
  }
  if (ok) *ok = false;
  return Fault::DropAnswer;
}

std::string_view FaultName(Fault fault) {
  const auto index = static_cast<size_t>(fault);
  return index < kFaultNames.size() ? kFaultNames[index].name : std::string_view("?");
}

std::span<const Fault> AllFaults() {
  return kAllFaults;
}

std::string_view CallName(Call call) {
  const auto index = static_cast<size_t>(call);
  return index < kCallNames.size() ? kCallNames[index] : std::string_view("?");
}

void FaultPlan::Add(const FaultSpec& faultSpec) {
  if (faultSpec.count == 0) return;
  specs_.push_back(faultSpec);
  ++live_;
}

std::optional<FaultPlan::Fired> FaultPlan::Offer(Fault fault, uint8_t code) {
  if (live_ == 0) return std::nullopt;
  // Every waiting fault of this kind sees the occasion (its skip runs down); the first ready one
  // takes it.
  std::optional<Fired> fired;
  for (FaultSpec& faultSpec : specs_) {
    if (faultSpec.fault != fault || faultSpec.count == 0) continue;
    if (faultSpec.onCommand >= 0 && faultSpec.onCommand != code) continue;
    if (faultSpec.skip > 0) {
      --faultSpec.skip;
      continue;
    }
    if (fired) continue;
    if (faultSpec.count > 0 && --faultSpec.count == 0) --live_;
    fired = Fired{faultSpec.value, faultSpec.text};
  }
  return fired;
}

}  // namespace vxa::sim
