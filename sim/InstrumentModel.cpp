#include "sim/InstrumentModel.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

#include "text/Cp1251.h"

namespace vxa::sim {
namespace {

// Sizes of the files an instrument comes with; "swap" is empty until an image is written.
constexpr std::array<size_t, kFileKindCount> kDefaultFileSizes = {6161, 2048, 3000, 4096, 4100, 0};

std::vector<uint8_t> DefaultFileContent(size_t file) {
  std::vector<uint8_t> bytes(kDefaultFileSizes[file]);
  uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(file + 1);
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

std::array<int32_t, 3> ParseVersion(std::string_view text) {
  std::array<int32_t, 3> v{};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int32_t& part : v) {
    auto [next, ec] = std::from_chars(p, end, part);
    if (ec != std::errc()) break;
    p = next;
    if (p == end || *p != '.') break;
    ++p;
  }
  return v;
}

uint8_t Clamp8(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

}  // namespace

InstrumentModel::InstrumentModel(InstrumentConfig config)
    : config_(std::move(config)),
      answer_(kHeaderSize + kMaxAnswerBody),
      programVersion_(config_.programVersion),
      newProgramVersion_(ParseVersion(config_.newProgramVersion)) {
  config_.readBlockSize =
      std::clamp<uint32_t>(config_.readBlockSize, 1, static_cast<uint32_t>(kReadBlockDataMax));
  for (size_t i = 0; i < files_.size(); ++i) {
    files_[i] = DefaultFileContent(i);
    writeBlocks_[i].reserve(128);
  }

  deviceInfo_.resize(kDeviceInfoSize);
  for (size_t i = 0; i < deviceInfo_.size(); ++i) deviceInfo_[i] = Filler(i);
  std::string model = Utf8ToCp1251(config_.model);
  model.resize(std::min(model.size(), kModelNameSize));
  std::memset(deviceInfo_.data() + kInfoModelName, 0, kModelNameSize);
  std::memcpy(deviceInfo_.data() + kInfoModelName, model.data(), model.size());
  PutU32(deviceInfo_.data() + kInfoSerial, static_cast<uint32_t>(config_.serialNumber));
  PutU16(deviceInfo_.data() + kInfoDeviceVersion,
         static_cast<uint16_t>(config_.deviceVersionMajor << 8 | config_.deviceVersionMinor));

  ginf_.resize(kGinfSize);
  for (size_t i = 0; i < ginf_.size(); ++i) ginf_[i] = Filler(i + 1000);
  PutU32(ginf_.data() + kGinfSerial, static_cast<uint32_t>(config_.serialNumber));
  PutU32(ginf_.data() + kGinfDeviceMajor, config_.deviceVersionMajor);
  PutU32(ginf_.data() + kGinfDeviceMinor, config_.deviceVersionMinor);

  texts_.unknownCommand = Utf8ToCp1251("Неизвестная команда");
  texts_.badLength = Utf8ToCp1251("Неверная длина команды");
  texts_.badName = Utf8ToCp1251("Неверное имя файла");
  texts_.unknownFile = Utf8ToCp1251("Файл не найден");
  texts_.noImage = Utf8ToCp1251("Нет образа для установки");
  texts_.noWrite = Utf8ToCp1251("Запись файла не начата");
  texts_.noRead = Utf8ToCp1251("Чтение файла не начато");
  texts_.badBlockNumber = Utf8ToCp1251("Неверный номер блока");
  texts_.requestRefused = Utf8ToCp1251("Запрос отклонён");
  texts_.blockRefused = Utf8ToCp1251("Блок отклонён");
  texts_.clockRefused = Utf8ToCp1251("Часы не установлены");
}

void InstrumentModel::ClearFaults() {
  faults_.Clear();
  held_.clear();
  silent_ = false;
}

void InstrumentModel::Advance(Clock::TimePoint now) {
  if (installing_ && now >= installEnd_) {
    installing_ = false;
    installed_ = true;
    if (!installKeepsVersion_) programVersion_ = newProgramVersion_;
    files_[kFileKernel] = files_[kFileSwap];
  }
  if (silent_ && now >= silentUntil_) silent_ = false;
}

void InstrumentModel::Receive(std::span<const uint8_t> bytes, Clock::TimePoint now,
                              AnswerSink& sink) {
  Advance(now);
  if (bytes.empty()) return;
  receiver_.Heard(now);
  std::span<const uint8_t> packet;
  while (receiver_.Take(bytes, &packet)) HandleCommand(packet, now, sink);
}

std::optional<FaultPlan::Fired> InstrumentModel::Offer(Fault fault) {
  auto fired = faults_.Offer(fault, commandCode_);
  if (fired) ++counters_.faultsFired[static_cast<size_t>(fault)];
  return fired;
}

void InstrumentModel::HandleCommand(std::span<const uint8_t> packet, Clock::TimePoint now,
                                    AnswerSink& sink) {
  const uint8_t code = packet[kOffCode];
  const size_t body = packet.size() - kHeaderSize;
  const auto payload = packet.subspan(kHeaderSize, body ? body - kCrcSize : 0);
  ++counters_.commands;
  ++counters_.commandsByCode[code];
  commands_.Add(packet);

  // Flashing the image takes the whole processor: nothing is even looked at.
  if (installing_ || silent_) {
    ++counters_.unansweredCommands;
    if (installing_) ++counters_.ignoredWhileInstalling;
    return;
  }
  commandCode_ = code;
  if (auto fired = Offer(Fault::Silent)) {
    silent_ = true;
    silentUntil_ =
        fired->value ? now + std::chrono::milliseconds(fired->value) : Clock::TimePoint::max();
    ++counters_.unansweredCommands;
    return;
  }
  if (Offer(Fault::Unplug)) {
    sink.Disconnect();
    return;
  }
  if (Dispatch(code, payload, now)) Emit(now, sink);
}

bool InstrumentModel::Dispatch(uint8_t code, std::span<const uint8_t> payload,
                               Clock::TimePoint now) {
  switch (code) {
    case kCmdDeviceInfo:
      return DeviceInfo();
    case kCmdText:
      return TextCommand(payload);
    case kCmdWriteRequest:
      return WriteRequest(payload, now);
    case kCmdReadRequest:
      return ReadRequest(payload);
    case kCmdWriteBlock:
      return WriteBlock(payload);
    case kCmdReadAck:
      return ReadAck(payload);
    default:
      return Refuse(texts_.unknownCommand);
  }
}

size_t InstrumentModel::RecordSize(size_t normal) {
  if (auto fired = Offer(Fault::RecordLength)) {
    if (fired->value == 0) return normal - 1;
    return std::min<size_t>(fired->value, kReadBlockDataMax);
  }
  return normal;
}

bool InstrumentModel::DeviceInfo() {
  // Built at full size in place; a record-length fault only changes how much of it goes.
  uint8_t* d = BeginAnswer(kAnsData, RecordSize(kDeviceInfoSize));
  std::memcpy(d, deviceInfo_.data(), kDeviceInfoSize);
  for (size_t i = kDeviceInfoSize; i < answerPayload_; ++i) d[i] = Filler(i);
  PutU16(d + kInfoProgramVersion,
         static_cast<uint16_t>(Clamp8(programVersion_[0]) << 8 | Clamp8(programVersion_[1])));
  return true;
}

bool InstrumentModel::TextCommand(std::span<const uint8_t> payload) {
  if (payload.size() < kTextCommandSize) return Refuse(texts_.unknownCommand);
  const std::string_view word(reinterpret_cast<const char*>(payload.data()), kTextCommandSize);
  const auto arguments = payload.subspan(kTextCommandSize);
  if (word == kTextGetInfo) {
    if (Offer(Fault::IgnoreGinf)) return false;
    uint8_t* d = BeginAnswer(kAnsData, RecordSize(kGinfSize));
    std::memcpy(d, ginf_.data(), kGinfSize);
    for (size_t i = kGinfSize; i < answerPayload_; ++i) d[i] = Filler(i);
    for (size_t i = 0; i < programVersion_.size(); ++i) {
      PutU32(d + kGinfProgram + 4 * i, static_cast<uint32_t>(programVersion_[i]));
    }
    return true;
  }
  if (word == kTextSetClock) {
    if (arguments.size() != kClockRecordSize) return Refuse(texts_.badLength);
    if (auto fired = Offer(Fault::RefuseClock)) {
      return RefuseWithFaultText(fired->text, texts_.clockRefused);
    }
    for (size_t i = 0; i < kClockFields; ++i) clockRecord_[i] = GetU16(&arguments[2 * i]);
    clockSet_ = true;
    BeginAnswer(kAnsAck, 0);
    return true;
  }
  return Refuse(texts_.unknownCommand);
}

int InstrumentModel::FindFile(std::string_view name) const {
  const std::optional<uint32_t> kind = FileKindByName(name);
  return kind ? static_cast<int>(*kind) : -1;
}

std::vector<uint8_t> InstrumentModel::LastCommand() const {
  return commands_.Last();
}

std::vector<std::vector<uint8_t>> InstrumentModel::Commands() const {
  return commands_.All();
}

void InstrumentModel::ClearCommands() {
  commands_.Clear();
}

std::vector<ReceivedBlock> InstrumentModel::WriteBlocks(std::string_view file) const {
  const int index = FindFile(file);
  if (index < 0) return {};
  return writeBlocks_[index];
}

std::vector<uint8_t> InstrumentModel::FileContent(std::string_view file) const {
  const int index = FindFile(file);
  if (index < 0) return {};
  return files_[index];
}

bool InstrumentModel::SetFileContent(std::string_view file, std::vector<uint8_t> bytes) {
  const int index = FindFile(file);
  if (index < 0) return false;
  files_[index] = std::move(bytes);
  if (index == kFileSwap) swapComplete_ = true;
  return true;
}

std::string InstrumentModel::ProgramVersionText(Clock::TimePoint now) {
  Advance(now);
  char text[40];
  std::snprintf(text, sizeof text, "%d.%d.%d", programVersion_[0], programVersion_[1],
                programVersion_[2]);
  return text;
}

bool InstrumentModel::Installed(Clock::TimePoint now) {
  Advance(now);
  return installed_;
}

bool InstrumentModel::Installing(Clock::TimePoint now) {
  Advance(now);
  return installing_;
}

}  // namespace vxa::sim
