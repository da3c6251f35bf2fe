#include "bench/LoopbackDevice.h"

#include <algorithm>
#include <cstring>

#include "link/Crc32.h"
#include "link/Packet.h"
#include "link/UsbChannel.h"

namespace vxa::bench {
namespace {

constexpr uint32_t kReadBlock = kReadBlockDataMax;  // 32760

}  // namespace

LoopbackDevice::LoopbackDevice(std::span<const uint8_t> file) : file_(file) {
  // One CRC per read block, the empty last one included: block n carries its number n.
  const size_t blocks = file.size() / kReadBlock + 1 + (file.size() % kReadBlock != 0);
  readBlockCrcs_.reserve(blocks);
  for (size_t index = 0; index < blocks; ++index) {
    uint8_t number[4];
    PutU32(number, static_cast<uint32_t>(index + 1));
    const size_t offset = std::min(index * kReadBlock, file.size());
    const size_t length = std::min<size_t>(kReadBlock, file.size() - offset);
    readBlockCrcs_.push_back(Crc32Update(Crc32Jam(number, 4), file.data() + offset, length));
  }
}

FtStatus LoopbackDevice::GetModemStatus(uint32_t* status) {
  *status = kFtModemCts;
  return kFtOk;
}

FtStatus LoopbackDevice::Purge(uint32_t mask) {
  if (mask & kFtPurgeRx) answerSize_ = answerRead_ = 0;
  return kFtOk;
}

uint32_t LoopbackDevice::Pending() const {
  return answerSize_ - answerRead_;
}

void LoopbackDevice::Answer(uint8_t code, uint8_t answer, uint32_t number,
                            std::span<const uint8_t> body, uint32_t crc) {
  PacketHeader header(head_);
  header.SetStartMark(kStartMark);
  header.SetCode(code);
  header.SetAnswer(answer);
  header.SetLength(static_cast<uint32_t>(4 + body.size() + kCrcSize));
  header.SetReserved(0);
  header.SetEndMark(kEndMark);
  PutU32(head_ + kHeaderSize, number);
  PutU32(tail_, crc);
  body_ = body;
  answerSize_ = static_cast<uint32_t>(sizeof head_ + body.size() + sizeof tail_);
  answerRead_ = 0;
}

void LoopbackDevice::SendReadBlock(uint8_t code, uint32_t index) {
  const size_t offset = std::min<size_t>(size_t{index} * kReadBlock, file_.size());
  const size_t length = std::min<size_t>(kReadBlock, file_.size() - offset);
  const uint32_t crc = index < readBlockCrcs_.size() ? readBlockCrcs_[index] : 0;
  Answer(code, kAnsData, index + 1, file_.subspan(offset, length), crc);
}

FtStatus LoopbackDevice::Write(const void* buffer, uint32_t count, uint32_t* written) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  *written = count;
  if (count < kHeaderSize) return kFtOk;
  const uint8_t code = bytes[kOffCode];
  const uint8_t* payload = bytes + kHeaderSize;
  uint8_t number[4];
  switch (code) {
    case kCmdWriteRequest:
    case kCmdWriteBlock: {
      const uint32_t acked = code == kCmdWriteBlock ? GetU32(payload) : 0;
      PutU32(number, acked);
      Answer(code, kAnsAck, acked, {}, Crc32Jam(number, 4));
      break;
    }
    case kCmdReadRequest:
      SendReadBlock(code, 0);
      break;
    case kCmdReadAck:
      SendReadBlock(code, GetU32(payload));
      break;
    default:
      answerSize_ = answerRead_ = 0;  // nothing else is answered
      break;
  }
  return kFtOk;
}

FtStatus LoopbackDevice::Read(void* buffer, uint32_t count, uint32_t* read) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  const uint32_t bodyEnd = static_cast<uint32_t>(sizeof head_ + body_.size());
  while (done < count && answerRead_ < answerSize_) {
    uint32_t n = 0;
    if (answerRead_ < sizeof head_) {
      n = std::min<uint32_t>(count - done, sizeof head_ - answerRead_);
      std::memcpy(out + done, head_ + answerRead_, n);
    } else if (answerRead_ < bodyEnd) {
      n = std::min<uint32_t>(count - done, bodyEnd - answerRead_);
      std::memcpy(out + done, body_.data() + (answerRead_ - sizeof head_), n);
    } else {
      n = std::min<uint32_t>(count - done, answerSize_ - answerRead_);
      std::memcpy(out + done, tail_ + (answerRead_ - bodyEnd), n);
    }
    done += n;
    answerRead_ += n;
  }
  *read = done;
  return kFtOk;
}

FtStatus LoopbackDevice::GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) {
  *rxQueue = Pending();
  *txQueue = 0;
  if (eventStatus != nullptr) *eventStatus = 0;
  return kFtOk;
}

FtStatus LoopbackDriver::CountDevices(uint32_t* count) {
  *count = 1;
  return kFtOk;
}

FtStatus LoopbackDriver::DeviceDescription(uint32_t index, std::string* description) {
  if (index != 0) return kFtDeviceNotFound;
  *description = kDeviceDescription;
  return kFtOk;
}

FtStatus LoopbackDriver::OpenByDescription(const std::string& description,
                                           std::unique_ptr<FtDevice>* device) {
  if (description != kDeviceDescription) return kFtDeviceNotFound;
  *device = std::make_unique<LoopbackDevice>(file_);
  return kFtOk;
}

}  // namespace vxa::bench
