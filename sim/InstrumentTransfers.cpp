// The instrument's side of the two file transfers: a write request and its blocks, a read
// request and the acknowledgements that call for the next block. A "kernel" write request is the
// install, started here and finished by InstrumentModel::Advance.

#include <algorithm>
#include <cstring>
#include <optional>

#include "sim/InstrumentModel.h"

namespace vxa::sim {
namespace {

// The file name a request carries, up to its NUL; none without one.
std::optional<std::string_view> NameOf(std::span<const uint8_t> payload) {
  const void* nul = std::memchr(payload.data(), 0, payload.size());
  if (nul == nullptr) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(payload.data()),
                          static_cast<const uint8_t*>(nul) - payload.data());
}

}  // namespace

bool InstrumentModel::WriteRequest(std::span<const uint8_t> payload, Clock::TimePoint now) {
  const auto name = NameOf(payload);
  if (!name || name->empty()) return Refuse(texts_.badName);
  const int file = FindFile(*name);
  if (file < 0) return Refuse(texts_.unknownFile);
  if (file == kFileKernel) ++kernelRequests_;
  if (auto fired = Offer(Fault::RefuseRequest)) {
    return RefuseWithFaultText(fired->text, texts_.requestRefused);
  }
  if (auto fired = Offer(Fault::UnrecognisedWrqAnswer)) {
    const auto code =
        fired->value ? static_cast<uint8_t>(fired->value) : kFaultDefault.unrecognisedCode;
    PutU32(BeginAnswer(code, kBlockNumberSize), 0);
    return true;
  }
  read_.started = false;
  if (file == kFileKernel) {
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
  if (file == kFileSwap) swapComplete_ = false;
  return AcceptWriteRequest();
}

bool InstrumentModel::AcceptWriteRequest() {
  if (auto fired = Offer(Fault::WrqNonZeroBlock)) {
    return Ack(fired->value ? fired->value : kFaultDefault.wrqBlock);
  }
  return Ack(0);
}

bool InstrumentModel::WriteBlock(std::span<const uint8_t> payload) {
  if (payload.size() < kBlockNumberSize) return Refuse(texts_.badLength);
  if (!write_.started) return Refuse(texts_.noWrite);
  const uint32_t number = GetU32(payload.data());
  const auto data = payload.subspan(kBlockNumberSize);
  std::vector<ReceivedBlock>& received = writeBlocks_[write_.file];
  // The program sends a block again only when it has not seen its acknowledgement.
  if (!received.empty() && received.back().number == number) ++counters_.blocksResent;
  received.push_back({number, static_cast<uint32_t>(data.size())});
  if (auto fired = Offer(Fault::RefuseBlock)) {
    return RefuseWithFaultText(fired->text, texts_.blockRefused);
  }
  const bool fresh = !write_.complete && number == write_.expected;
  const bool repeat = !fresh && write_.lastAcked != 0 && number == write_.lastAcked;
  if (!fresh && !repeat) return Refuse(texts_.badBlockNumber);
  if (auto fired = Offer(Fault::WrongAckNumber)) {
    return Ack(fired->value != 0 && fired->value != number ? fired->value : number - 1);
  }
  // Stored as it should be, only its acknowledgement names a block still to come.
  const auto ahead = Offer(Fault::AckAhead);
  if (fresh) {
    pending_.insert(pending_.end(), data.begin(), data.end());
    write_.lastAcked = number;
    write_.expected = NextBlockNumber(number);
    if (data.empty()) {
      // The file is replaced only now that it is whole.
      write_.complete = true;
      files_[write_.file].swap(pending_);
      pending_.clear();
      if (write_.file == kFileSwap) swapComplete_ = true;
    }
  }
  if (ahead) return Ack(ahead->value != 0 && ahead->value != number ? ahead->value : number + 1);
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
    const size_t cut = std::min<size_t>(fired->value ? fired->value : kFaultDefault.shortReadBack,
                                        readData_.size());
    readData_.resize(readData_.size() - cut);
  }
  if (auto fired = Offer(Fault::LongReadBack)) {
    const size_t extra = fired->value ? fired->value : kFaultDefault.longReadBack;
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
  if (payload.size() != kBlockNumberSize) return Refuse(texts_.badLength);
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
  if (index <= read_.lastSent) ++counters_.blocksResent;
  read_.lastSent = std::max(read_.lastSent, index);
  uint64_t number = uint64_t{read_.firstNumber} + index - 1;
  if (number > 0xFFFFFFFFu) number -= 0xFFFFFFFFu;  // 0 is skipped when the count wraps
  const size_t blockSize = config_.readBlockSize;
  const size_t offset = static_cast<size_t>((index - 1) * blockSize);
  size_t length = 0;
  if (index <= read_.dataBlocks && offset < readData_.size()) {
    length = std::min(blockSize, readData_.size() - offset);
  }
  uint8_t* d = BeginAnswer(kAnsData, kBlockNumberSize + length);
  PutU32(d, static_cast<uint32_t>(number));
  if (length > 0) std::memcpy(d + kBlockNumberSize, readData_.data() + offset, length);
  if (auto fired = Offer(Fault::ShortReadBlock)) {
    answerPayload_ = fired->value >= 1 && fired->value < kBlockNumberSize
                         ? fired->value
                         : kFaultDefault.shortReadBlock;
  }
  return true;
}

}  // namespace vxa::sim
