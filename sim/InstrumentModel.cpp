#include "sim/InstrumentModel.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

#include "text/Cp1251.h"
#include "link/Crc32.h"

namespace vxa::sim {
namespace {

constexpr int kKernelFile = 0;
constexpr int kSwapFile = 5;

constexpr uint8_t kStartMarkLow = kStartMark & 0xFF;
constexpr uint8_t kStartMarkHigh = kStartMark >> 8;

// Defaults of the faults whose parameter is 0 when not given.
constexpr uint32_t kDefaultLateMs = 1500;
constexpr uint16_t kDefaultBadStartMark = 0x6958;
constexpr uint16_t kDefaultBadReserved = 1;
constexpr uint16_t kDefaultBadEndMark = 0x8596;
constexpr uint32_t kDefaultShortLength = 2;
constexpr uint32_t kDefaultHugeLength = 40000;
constexpr uint32_t kDefaultShortReadBack = 1;
constexpr uint32_t kDefaultLongReadBack = 100;
constexpr uint8_t kDefaultUnrecognisedCode = 0x37;
constexpr uint32_t kDefaultBadAckLength = 2;
constexpr uint32_t kMaxBadAckLength = 64;
constexpr uint32_t kDefaultWrqBlock = 1;
constexpr uint32_t kDefaultShortReadBlock = 2;

// Sizes of the files an instrument comes with; "swap" is empty until an image is written.
constexpr std::array<size_t, InstrumentModel::kFileNames.size()> kDefaultFileSizes = {
    6161, 2048, 3000, 4096, 4100, 0};

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

uint8_t Filler(size_t i) {
  return static_cast<uint8_t>(i * 37 + 11);
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

std::optional<std::string_view> NameOf(std::span<const uint8_t> payload) {
  const void* nul = std::memchr(payload.data(), 0, payload.size());
  if (nul == nullptr) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(payload.data()),
                          static_cast<const uint8_t*>(nul) - payload.data());
}

uint8_t Clamp8(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

}  // namespace

InstrumentModel::InstrumentModel(InstrumentConfig config)
    : config_(std::move(config)),
      rx_(kHeaderSize + kMaxAnswerBody),
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
  model.resize(std::min<size_t>(model.size(), 40));
  std::memset(deviceInfo_.data(), 0, 40);
  std::memcpy(deviceInfo_.data(), model.data(), model.size());
  PutU32(deviceInfo_.data() + 56, static_cast<uint32_t>(config_.serialNumber));
  PutU16(deviceInfo_.data() + 60,
         static_cast<uint16_t>(config_.deviceVersionMajor << 8 | config_.deviceVersionMinor));

  ginf_.resize(kGinfSize);
  for (size_t i = 0; i < ginf_.size(); ++i) ginf_[i] = Filler(i + 1000);
  PutU32(ginf_.data() + 16, static_cast<uint32_t>(config_.serialNumber));
  PutU32(ginf_.data() + 32, config_.deviceVersionMajor);
  PutU32(ginf_.data() + 36, config_.deviceVersionMinor);

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

  commandBytes_.reserve(size_t{1} << 20);
  commandSpans_.reserve(1024);
}

void InstrumentModel::ClearFaults() {
  faults_.Clear();
  silent_ = false;
}

void InstrumentModel::Advance(Clock::TimePoint now) {
  if (installing_ && now >= installEnd_) {
    installing_ = false;
    installed_ = true;
    if (!installKeepsVersion_) programVersion_ = newProgramVersion_;
    files_[kKernelFile] = files_[kSwapFile];
  }
  if (silent_ && now >= silentUntil_) silent_ = false;
}

void InstrumentModel::Receive(std::span<const uint8_t> bytes, Clock::TimePoint now,
                              AnswerSink& sink) {
  Advance(now);
  if (bytes.empty()) return;
  if (heardAnything_ && now - lastByteAt_ >= kResyncGap) {
    // The line has been quiet: whatever was half-received will not be completed.
    if (rxFilled_ > 0) {
      if (rxFilled_ >= 2) ++counters_.badCommands;
      counters_.discardedBytes += rxFilled_;
    }
    rxFilled_ = 0;
    rxNeeded_ = kHeaderSize;
    discarding_ = false;
  }
  heardAnything_ = true;
  lastByteAt_ = now;
  TakeBytes(bytes, now, sink);
}

void InstrumentModel::TakeBytes(std::span<const uint8_t> bytes, Clock::TimePoint now,
                                AnswerSink& sink) {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    if (discarding_) {
      counters_.discardedBytes += n - i;
      return;
    }
    if (rxFilled_ < 2) {
      // Hunting for a start mark.
      const uint8_t b = bytes[i++];
      const uint8_t want = rxFilled_ == 0 ? kStartMarkLow : kStartMarkHigh;
      if (b == want) {
        rx_[rxFilled_++] = b;
        continue;
      }
      counters_.discardedBytes += rxFilled_ + 1;
      rxFilled_ = 0;
      if (b == kStartMarkLow) {
        rx_[rxFilled_++] = b;
        --counters_.discardedBytes;
      }
      continue;
    }
    const size_t take = std::min(n - i, rxNeeded_ - rxFilled_);
    std::memcpy(rx_.data() + rxFilled_, bytes.data() + i, take);
    rxFilled_ += take;
    i += take;
    if (rxFilled_ < rxNeeded_) continue;
    if (rxNeeded_ == kHeaderSize && !CheckHeader()) {
      // The length cannot be trusted, so neither can anything up to the next pause.
      ++counters_.badCommands;
      counters_.discardedBytes += rxFilled_;
      rxFilled_ = 0;
      discarding_ = true;
      continue;
    }
    if (rxFilled_ < rxNeeded_) continue;  // the header announced a body
    const size_t body = rxNeeded_ - kHeaderSize;
    if (body > 0 && Crc32Jam(rx_.data() + kHeaderSize, body) != 0) {
      ++counters_.badCommands;
      counters_.discardedBytes += rxFilled_;
    } else {
      HandleCommand(now, sink);
    }
    rxFilled_ = 0;
    rxNeeded_ = kHeaderSize;
  }
}

bool InstrumentModel::CheckHeader() {
  PacketHeader header(rx_.data());
  if (header.Reserved() != 0 || header.EndMark() != kEndMark) return false;
  const uint32_t length = header.Length();
  if (length != 0 && (length <= kCrcSize || length > kMaxAnswerBody)) return false;
  rxNeeded_ = kHeaderSize + length;
  return true;
}

void InstrumentModel::RecordCommand(std::span<const uint8_t> packet) {
  commandSpans_.emplace_back(commandBytes_.size(), packet.size());
  commandBytes_.insert(commandBytes_.end(), packet.begin(), packet.end());
}

std::optional<FaultPlan::Fired> InstrumentModel::Offer(Fault fault) {
  auto fired = faults_.Offer(fault, commandCode_);
  if (fired) ++counters_.faultsFired[static_cast<size_t>(fault)];
  return fired;
}

void InstrumentModel::HandleCommand(Clock::TimePoint now, AnswerSink& sink) {
  const uint8_t code = rx_[kOffCode];
  const size_t body = rxNeeded_ - kHeaderSize;
  const std::span<const uint8_t> payload(rx_.data() + kHeaderSize, body ? body - kCrcSize : 0);
  ++counters_.commands;
  ++counters_.commandsByCode[code];
  RecordCommand(std::span<const uint8_t>(rx_.data(), rxNeeded_));

  // Flashing the image takes the whole processor: nothing is even looked at.
  if (installing_ || silent_) {
    ++counters_.unansweredCommands;
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

uint8_t* InstrumentModel::BeginAnswer(uint8_t answerCode, size_t payloadLength) {
  answer_[kOffAnswer] = answerCode;
  answerPayload_ = payloadLength;
  return answer_.data() + kHeaderSize;
}

bool InstrumentModel::Ack(uint32_t number) {
  uint32_t length = 4;
  if (auto fired = Offer(Fault::BadAckLength)) {
    length = fired->value != 0 && fired->value != 4 && fired->value <= kMaxBadAckLength
                 ? fired->value
                 : kDefaultBadAckLength;
  }
  uint8_t bytes[4];
  PutU32(bytes, number);
  uint8_t* d = BeginAnswer(kAnsAck, length);
  std::memset(d, 0, length);
  std::memcpy(d, bytes, std::min<size_t>(length, sizeof bytes));
  return true;
}

bool InstrumentModel::Refuse(const std::string& cp1251Text) {
  const size_t length = std::min(cp1251Text.size(), kReadBlockDataMax - 1);
  const bool withNul = !Offer(Fault::RefusalWithoutNul);
  uint8_t* d = BeginAnswer(kAnsRefusal, length + (withNul ? 1 : 0));
  std::memcpy(d, cp1251Text.data(), length);
  if (withNul) d[length] = 0;
  return true;
}

bool InstrumentModel::RefuseWithFaultText(std::string_view faultText, const std::string& ownText) {
  if (faultText.empty()) return Refuse(ownText);
  return Refuse(Utf8ToCp1251(faultText));
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
  PutU16(d + 62,
         static_cast<uint16_t>(Clamp8(programVersion_[0]) << 8 | Clamp8(programVersion_[1])));
  return true;
}

bool InstrumentModel::TextCommand(std::span<const uint8_t> payload) {
  if (payload.size() < 4) return Refuse(texts_.unknownCommand);
  const std::string_view word(reinterpret_cast<const char*>(payload.data()), 4);
  if (word == "GINF") {
    if (Offer(Fault::IgnoreGinf)) return false;
    uint8_t* d = BeginAnswer(kAnsData, RecordSize(kGinfSize));
    std::memcpy(d, ginf_.data(), kGinfSize);
    for (size_t i = kGinfSize; i < answerPayload_; ++i) d[i] = Filler(i);
    for (size_t i = 0; i < 3; ++i)
      PutU32(d + 40 + 4 * i, static_cast<uint32_t>(programVersion_[i]));
    return true;
  }
  if (word == "SDTI") {
    if (payload.size() != 4 + 12) return Refuse(texts_.badLength);
    for (size_t i = 0; i < clockRecord_.size(); ++i) clockRecord_[i] = GetU16(&payload[4 + 2 * i]);
    clockSet_ = true;
    BeginAnswer(kAnsAck, 0);
    return true;
  }
  return Refuse(texts_.unknownCommand);
}

int InstrumentModel::FindFile(std::string_view name) const {
  for (size_t i = 0; i < kFileNames.size(); ++i) {
    if (kFileNames[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool InstrumentModel::WriteRequest(std::span<const uint8_t> payload, Clock::TimePoint now) {
  const auto name = NameOf(payload);
  if (!name || name->empty()) return Refuse(texts_.badName);
  const int file = FindFile(*name);
  if (file < 0) return Refuse(texts_.unknownFile);
  if (file == kKernelFile) ++kernelRequests_;
  if (auto fired = Offer(Fault::RefuseRequest)) {
    return RefuseWithFaultText(fired->text, texts_.requestRefused);
  }
  if (auto fired = Offer(Fault::UnrecognisedWrqAnswer)) {
    const auto code = fired->value ? static_cast<uint8_t>(fired->value) : kDefaultUnrecognisedCode;
    PutU32(BeginAnswer(code, 4), 0);
    return true;
  }
  read_.started = false;
  if (file == kKernelFile) {
    // A write request for "kernel" carries no data: it tells the instrument to install "swap".
    if (!swapComplete_) return Refuse(texts_.noImage);
    write_ = WriteTransfer{};
    installing_ = true;
    installEnd_ = now + config_.installTime;
    installKeepsVersion_ = Offer(Fault::NeverReportVersion).has_value();
    return AcceptWriteRequest();
  }
  write_ = WriteTransfer{true, file, 1, 0, false};
  pending_.clear();
  writeBlocks_[file].clear();
  if (file == kSwapFile) swapComplete_ = false;
  return AcceptWriteRequest();
}

bool InstrumentModel::AcceptWriteRequest() {
  if (auto fired = Offer(Fault::WrqNonZeroBlock)) {
    return Ack(fired->value ? fired->value : kDefaultWrqBlock);
  }
  return Ack(0);
}

bool InstrumentModel::WriteBlock(std::span<const uint8_t> payload) {
  if (payload.size() < 4) return Refuse(texts_.badLength);
  if (!write_.started) return Refuse(texts_.noWrite);
  const uint32_t number = GetU32(payload.data());
  const auto data = payload.subspan(4);
  writeBlocks_[write_.file].push_back({number, static_cast<uint32_t>(data.size())});
  if (auto fired = Offer(Fault::RefuseBlock)) {
    return RefuseWithFaultText(fired->text, texts_.blockRefused);
  }
  const bool fresh = !write_.complete && number == write_.expected;
  const bool repeat = !fresh && write_.lastAcked != 0 && number == write_.lastAcked;
  if (!fresh && !repeat) return Refuse(texts_.badBlockNumber);
  if (auto fired = Offer(Fault::WrongAckNumber)) {
    return Ack(fired->value != 0 && fired->value != number ? fired->value : number - 1);
  }
  if (fresh) {
    pending_.insert(pending_.end(), data.begin(), data.end());
    write_.lastAcked = number;
    write_.expected = NextBlockNumber(number);
    if (data.empty()) {
      // The file is replaced only now that it is whole.
      write_.complete = true;
      files_[write_.file].swap(pending_);
      pending_.clear();
      if (write_.file == kSwapFile) swapComplete_ = true;
    }
  }
  return Ack(number);
}

bool InstrumentModel::ReadRequest(std::span<const uint8_t> payload) {
  const auto name = NameOf(payload);
  if (!name || name->empty()) return Refuse(texts_.badName);
  const int file = FindFile(*name);
  if (file < 0) return Refuse(texts_.unknownFile);
  if (auto fired = Offer(Fault::RefuseRequest)) {
    return RefuseWithFaultText(fired->text, texts_.requestRefused);
  }
  write_.started = false;
  readData_.assign(files_[file].begin(), files_[file].end());
  if (auto fired = Offer(Fault::CorruptReadBack)) {
    if (fired->value < readData_.size()) readData_[fired->value] ^= 0xFF;
  }
  if (auto fired = Offer(Fault::ShortReadBack)) {
    const size_t cut =
        std::min<size_t>(fired->value ? fired->value : kDefaultShortReadBack, readData_.size());
    readData_.resize(readData_.size() - cut);
  }
  if (auto fired = Offer(Fault::LongReadBack)) {
    const size_t extra = fired->value ? fired->value : kDefaultLongReadBack;
    const size_t from = readData_.size();
    readData_.resize(from + extra);
    for (size_t i = from; i < readData_.size(); ++i) readData_[i] = Filler(i);
  }
  const auto first = Offer(Fault::FirstReadBlockNumber);
  const size_t blockSize = config_.readBlockSize;
  read_.started = true;
  read_.firstNumber = first ? first->value : 1;
  read_.dataBlocks = std::max<uint64_t>(1, (readData_.size() + blockSize - 1) / blockSize);
  read_.lastSent = 0;
  return SendReadBlock(1);
}

bool InstrumentModel::ReadAck(std::span<const uint8_t> payload) {
  if (payload.size() != 4) return Refuse(texts_.badLength);
  if (!read_.started) return Refuse(texts_.noRead);
  const uint32_t number = GetU32(payload.data());
  // Position of the acknowledged block in this read, counting the numbers as they wrap.
  uint64_t index = 0;
  if (number >= read_.firstNumber) {
    index = uint64_t{number} - read_.firstNumber + 1;
  } else if (number != 0) {
    index = (uint64_t{0xFFFFFFFFu} - read_.firstNumber + 1) + number;
  }
  // The empty block that ends the file is not acknowledged, so it is not a valid number here.
  if (index == 0 || index > read_.lastSent || index > read_.dataBlocks) {
    return Refuse(texts_.badBlockNumber);
  }
  if (auto fired = Offer(Fault::RefuseBlock)) {
    return RefuseWithFaultText(fired->text, texts_.blockRefused);
  }
  if (index == read_.lastSent && Offer(Fault::RepeatReadBlock)) return SendReadBlock(index);
  return SendReadBlock(index + 1);
}

bool InstrumentModel::SendReadBlock(uint64_t index) {
  read_.lastSent = std::max(read_.lastSent, index);
  uint64_t number = uint64_t{read_.firstNumber} + index - 1;
  if (number > 0xFFFFFFFFu) number -= 0xFFFFFFFFu;  // 0 is skipped when the count wraps
  const size_t blockSize = config_.readBlockSize;
  const size_t offset = static_cast<size_t>((index - 1) * blockSize);
  size_t length = 0;
  if (index <= read_.dataBlocks && offset < readData_.size()) {
    length = std::min(blockSize, readData_.size() - offset);
  }
  uint8_t* d = BeginAnswer(kAnsData, 4 + length);
  PutU32(d, static_cast<uint32_t>(number));
  if (length > 0) std::memcpy(d + 4, readData_.data() + offset, length);
  if (auto fired = Offer(Fault::ShortReadBlock)) {
    answerPayload_ = fired->value >= 1 && fired->value < 4 ? fired->value : kDefaultShortReadBlock;
  }
  return true;
}

void InstrumentModel::Emit(Clock::TimePoint now, AnswerSink& sink) {
  if (Offer(Fault::DropAnswer)) return;
  if (auto fired = Offer(Fault::Babble)) {
    sink.StartBabble(now, fired->value ? now + std::chrono::milliseconds(fired->value)
                                       : Clock::TimePoint::max());
    return;
  }
  if (auto fired = Offer(Fault::UnrecognisedAnswer)) {
    answer_[kOffAnswer] =
        fired->value ? static_cast<uint8_t>(fired->value) : kDefaultUnrecognisedCode;
  }
  Clock::TimePoint readyAt = now;
  if (auto fired = Offer(Fault::LateAnswer)) {
    readyAt += std::chrono::milliseconds(fired->value ? fired->value : kDefaultLateMs);
  }

  uint8_t* p = answer_.data();
  PacketHeader header(p);
  const size_t payload = answerPayload_;
  const size_t body = payload ? payload + kCrcSize : 0;
  header.SetStartMark(kStartMark);
  header.SetCode(commandCode_);
  header.SetLength(static_cast<uint32_t>(body));
  header.SetReserved(0);
  header.SetEndMark(kEndMark);
  if (payload) PutU32(p + kHeaderSize + payload, Crc32Jam(p + kHeaderSize, payload));
  size_t total = kHeaderSize + body;

  if (auto fired = Offer(Fault::WrongEcho)) {
    const auto other = static_cast<uint8_t>(fired->value);
    header.SetCode(fired->value != 0 && other != commandCode_
                       ? other
                       : static_cast<uint8_t>(commandCode_ + 1));
  }
  if (auto fired = Offer(Fault::BadStartMark)) {
    header.SetStartMark(fired->value ? static_cast<uint16_t>(fired->value) : kDefaultBadStartMark);
  }
  if (auto fired = Offer(Fault::BadReserved)) {
    header.SetReserved(fired->value ? static_cast<uint16_t>(fired->value) : kDefaultBadReserved);
  }
  if (auto fired = Offer(Fault::BadEndMark)) {
    header.SetEndMark(fired->value ? static_cast<uint16_t>(fired->value) : kDefaultBadEndMark);
  }
  if (body > 0 && Offer(Fault::BadCrc)) p[kHeaderSize + payload] ^= 0xFF;
  // At most one fault on the length per answer.
  if (auto fired = Offer(Fault::ShortLength)) {
    const uint32_t length =
        fired->value >= 1 && fired->value <= kCrcSize ? fired->value : kDefaultShortLength;
    if (body < length) std::memset(p + kHeaderSize + body, 0, length - body);
    header.SetLength(length);
    total = kHeaderSize + length;
  } else if (auto huge = Offer(Fault::HugeLength)) {
    header.SetLength(huge->value > kMaxAnswerBody ? huge->value : kDefaultHugeLength);
    total = kHeaderSize;
  } else if (body > 0) {
    if (auto cut = Offer(Fault::TruncatedBody)) {
      const size_t missing =
          cut->value >= 1 && cut->value <= body ? cut->value : std::max<size_t>(1, body / 2);
      total = kHeaderSize + body - missing;
    }
  }

  ++counters_.answersSent;
  if (header.Answer() == kAnsRefusal) ++counters_.refusalsSent;
  sink.Transmit(std::span<const uint8_t>(p, total), readyAt);
}

std::vector<uint8_t> InstrumentModel::LastCommand() const {
  if (commandSpans_.empty()) return {};
  const auto [offset, size] = commandSpans_.back();
  return std::vector<uint8_t>(commandBytes_.begin() + offset,
                              commandBytes_.begin() + offset + size);
}

std::vector<std::vector<uint8_t>> InstrumentModel::Commands() const {
  std::vector<std::vector<uint8_t>> all;
  all.reserve(commandSpans_.size());
  for (const auto& [offset, size] : commandSpans_) {
    all.emplace_back(commandBytes_.begin() + offset, commandBytes_.begin() + offset + size);
  }
  return all;
}

void InstrumentModel::ClearCommands() {
  commandBytes_.clear();
  commandSpans_.clear();
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
  if (index == kSwapFile) swapComplete_ = true;
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
