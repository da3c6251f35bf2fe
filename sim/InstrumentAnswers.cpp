// The answers as they leave the instrument: built in place, then mangled by whichever answer
// faults fire, then handed to the sink with the time they are ready.

#include <algorithm>
#include <cstring>

#include "link/Crc32.h"
#include "sim/InstrumentModel.h"
#include "text/Cp1251.h"

namespace vxa::sim {

uint8_t* InstrumentModel::BeginAnswer(uint8_t answerCode, size_t payloadLength) {
  answer_[kOffAnswer] = answerCode;
  answerPayload_ = payloadLength;
  return answer_.data() + kHeaderSize;
}

bool InstrumentModel::Ack(uint32_t number) {
  uint32_t length = kBlockNumberSize;
  if (auto fired = Offer(Fault::BadAckLength)) {
    length = fired->value != 0 && fired->value != kBlockNumberSize &&
                     fired->value <= kFaultDefault.maxBadAckLength
                 ? fired->value
                 : kFaultDefault.badAckLength;
  }
  uint8_t bytes[kBlockNumberSize];
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

void InstrumentModel::Emit(Clock::TimePoint now, AnswerSink& sink) {
  if (Offer(Fault::DropAnswer)) return;
  if (auto fired = Offer(Fault::Babble)) {
    sink.StartBabble(now, fired->value ? now + std::chrono::milliseconds(fired->value)
                                       : Clock::TimePoint::max());
    return;
  }
  if (auto fired = Offer(Fault::UnrecognisedAnswer)) {
    answer_[kOffAnswer] =
        fired->value ? static_cast<uint8_t>(fired->value) : kFaultDefault.unrecognisedCode;
  }
  Clock::TimePoint readyAt = now;
  if (auto fired = Offer(Fault::LateAnswer)) {
    readyAt += std::chrono::milliseconds(fired->value ? fired->value : kFaultDefault.lateMs);
  }
  const size_t total = Mangle(Frame());
  const std::span<const uint8_t> packet(answer_.data(), total);
  if (Offer(Fault::StaleAnswer)) {
    held_.assign(packet.begin(), packet.end());
    return;
  }
  if (!held_.empty()) {
    ++counters_.answersSent;
    sink.Transmit(held_, readyAt);
    held_.clear();
  }
  ++counters_.answersSent;
  if (answer_[kOffAnswer] == kAnsRefusal) ++counters_.refusalsSent;
  sink.Transmit(packet, readyAt);
  // The copy is the same answer again: it counts once.
  if (Offer(Fault::DuplicateAnswer)) sink.Transmit(packet, readyAt);
}

size_t InstrumentModel::Frame() {
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
  return kHeaderSize + body;
}

size_t InstrumentModel::Mangle(size_t total) {
  uint8_t* p = answer_.data();
  PacketHeader header(p);
  const size_t body = total - kHeaderSize;
  if (auto fired = Offer(Fault::WrongEcho)) {
    const auto other = static_cast<uint8_t>(fired->value);
    header.SetCode(fired->value != 0 && other != commandCode_
                       ? other
                       : static_cast<uint8_t>(commandCode_ + 1));
  }
  if (auto fired = Offer(Fault::BadStartMark)) {
    header.SetStartMark(fired->value ? static_cast<uint16_t>(fired->value)
                                     : kFaultDefault.badStartMark);
  }
  if (auto fired = Offer(Fault::BadReserved)) {
    header.SetReserved(fired->value ? static_cast<uint16_t>(fired->value)
                                    : kFaultDefault.badReserved);
  }
  if (auto fired = Offer(Fault::BadEndMark)) {
    header.SetEndMark(fired->value ? static_cast<uint16_t>(fired->value)
                                   : kFaultDefault.badEndMark);
  }
  if (body > 0 && Offer(Fault::BadCrc)) p[kHeaderSize + answerPayload_] ^= 0xFF;
  // At most one fault on the length per answer.
  if (auto fired = Offer(Fault::ShortLength)) {
    const uint32_t length =
        fired->value >= 1 && fired->value <= kCrcSize ? fired->value : kFaultDefault.shortLength;
    if (body < length) std::memset(p + kHeaderSize + body, 0, length - body);
    header.SetLength(length);
    return kHeaderSize + length;
  }
  if (auto huge = Offer(Fault::HugeLength)) {
    header.SetLength(huge->value > kMaxAnswerBody ? huge->value : kFaultDefault.hugeLength);
    return kHeaderSize;
  }
  if (body > 0) {
    if (auto cut = Offer(Fault::TruncatedBody)) {
      const size_t missing =
          cut->value >= 1 && cut->value <= body ? cut->value : std::max<size_t>(1, body / 2);
      return total - missing;
    }
  }
  return total;
}

}  // namespace vxa::sim
