#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/drivers/FtdiSeam.h"

// Scripted stand-ins for libftdi below the seam. They only play back results: whether libftdi
// itself behaves so is not what these tests can tell.
namespace vxa::test {

// What the test scripts and what it reads back; shared with the link, which the device under test
// owns and destroys on Close.
struct FtdiScript {
  struct ReadStep {
    int result = 0;  // > 0: the length of `data`; 0: an empty transfer; < 0: failure
    std::string data;
    std::chrono::milliseconds delay{0};
  };
  std::deque<ReadStep> reads;
  // When the script has run out: an empty transfer after the bridge's latency period.
  std::chrono::milliseconds idleDelay{2};
  std::deque<int> writeResults;  // per call; empty: every slice goes out whole
  std::chrono::milliseconds writeFailureDelay{0};
  uint16_t modemStatus = 0;
  int controlResult = 0;  // what every configuration call returns
  uint32_t buffered = 0;

  // Read back by the tests.
  int readCalls = 0;
  std::vector<int> writeSlices;
  std::string wire;  // every byte written
  std::vector<std::pair<bool, bool>> flushes;
  std::pair<uint32_t, uint32_t> chunkSizes{0, 0};
  std::vector<int> lineProperty;
  int flowControl = -1;
  int divisor = -1;
  int latency = -1;
  std::pair<int, int> usbTimeouts{0, 0};
  int resets = 0;
  int closes = 0;
  bool destroyed = false;
};

class FakeFtdiLink final : public ftdi::FtdiLink {
 public:
  explicit FakeFtdiLink(std::shared_ptr<FtdiScript> script) : s_(std::move(script)) {}
  ~FakeFtdiLink() override { s_->destroyed = true; }

  int Reset() override { return ++s_->resets, s_->controlResult; }
  int SetLatencyTimer(uint8_t ms) override { return s_->latency = ms, s_->controlResult; }
  int SetChunkSizes(uint32_t r, uint32_t w) override { return Did(s_->chunkSizes = {r, w}); }
  int SetLineProperty(int bits, int stop, int parity) override {
    return Did(s_->lineProperty = {bits, stop, parity});
  }
  int PollModemStatus(uint16_t* status) override { return Did(*status = s_->modemStatus); }
  int SetFlowControl(int mode) override { return s_->flowControl = mode, s_->controlResult; }
  int SetDivisor(uint16_t divisor) override { return s_->divisor = divisor, s_->controlResult; }
  int Flush(bool in, bool out) override { return Did(s_->flushes.emplace_back(in, out)); }
  void SetUsbTimeouts(int readMs, int writeMs) override { s_->usbTimeouts = {readMs, writeMs}; }
  int ReadData(uint8_t* buffer, int size) override {
    ++s_->readCalls;
    if (s_->reads.empty()) {
      std::this_thread::sleep_for(s_->idleDelay);
      return 0;
    }
    FtdiScript::ReadStep step = s_->reads.front();
    s_->reads.pop_front();
    std::this_thread::sleep_for(step.delay);
    if (step.result <= 0) return step.result;
    const int n = std::min<int>(size, static_cast<int>(step.data.size()));
    std::copy_n(step.data.begin(), n, buffer);
    if (n < static_cast<int>(step.data.size())) {  // the rest stays for the next call
      s_->reads.push_front({static_cast<int>(step.data.size()) - n, step.data.substr(n), {}});
    }
    return n;
  }
  int WriteData(const uint8_t* buffer, int size) override {
    s_->writeSlices.push_back(size);
    int result = size;
    if (!s_->writeResults.empty()) {
      result = s_->writeResults.front();
      s_->writeResults.pop_front();
    }
    if (result < 0) {
      std::this_thread::sleep_for(s_->writeFailureDelay);
      return result;
    }
    s_->wire.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(result));
    return result;
  }
  uint32_t Buffered() const override { return s_->buffered; }
  int Close() override { return ++s_->closes, 0; }
  std::string ErrorString() const override { return "scripted failure"; }

 private:
  template <typename T>
  int Did(const T&) const {
    return s_->controlResult;
  }
  std::shared_ptr<FtdiScript> s_;
};

class FakeFtdiBus final : public ftdi::FtdiBus {
 public:
  struct Open {
    int result = -3;
    std::string error = "device not found";
  };
  std::map<int, std::vector<ftdi::FtdiUsbDevice>> devices;  // by product id
  int findResult = 0;                                       // < 0: the listing fails
  std::map<int, Open> opens;                                // by product id; default: not found
  std::vector<std::string> forbiddenNodes;
  std::shared_ptr<FtdiScript> script = std::make_shared<FtdiScript>();
  std::vector<int> openedProductIds;
  Open byAddress;  // how an open by bus and address goes
  std::vector<std::pair<int, int>> openedAddresses;

  int FindAll(int productId, std::vector<ftdi::FtdiUsbDevice>* found) override {
    if (findResult < 0) return error_ = "listing failed", findResult;
    *found = devices[productId];
    return static_cast<int>(found->size());
  }
  int OpenByDescription(int productId, const std::string&,
                        std::unique_ptr<ftdi::FtdiLink>* link) override {
    openedProductIds.push_back(productId);
    const Open open = opens.count(productId) ? opens[productId] : Open{};
    if (open.result == 0) *link = std::make_unique<FakeFtdiLink>(script);
    error_ = open.error;
    return open.result;
  }
  int OpenByBusAddress(int bus, int address, std::unique_ptr<ftdi::FtdiLink>* link) override {
    openedAddresses.emplace_back(bus, address);
    if (byAddress.result == 0) *link = std::make_unique<FakeFtdiLink>(script);
    error_ = byAddress.error;
    return byAddress.result;
  }
  std::string ErrorString() const override { return error_; }
  bool MayOpen(const std::string& node) const override {
    return std::find(forbiddenNodes.begin(), forbiddenNodes.end(), node) == forbiddenNodes.end();
  }

 private:
  std::string error_;
};

}  // namespace vxa::test
