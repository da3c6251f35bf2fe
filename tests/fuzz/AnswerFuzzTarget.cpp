// Arbitrary answers from the instrument, put on the simulated line in place of the real ones,
// during a write, a read and the device queries. Whatever arrives, the program must neither crash
// nor read or write out of bounds nor hang: the transfer ends, or fails with a text.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "app/image/ResReadTransBuffer.h"
#include "link/Errors.h"
#include "protocol/Connection.h"
#include "sim/SimBus.h"

namespace {

constexpr int kMaxSteps = 400;
constexpr size_t kMaxAnswers = 24;

const std::vector<uint8_t>& Image() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(40000);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    return b;
  }();
  return bytes;
}

// Input: one byte choosing what the program is doing, then answers as a 16-bit little-endian
// length and that many bytes each.
std::vector<std::vector<uint8_t>> SplitAnswers(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> answers;
  size_t at = 0;
  while (at + 2 <= size && answers.size() < kMaxAnswers) {
    const size_t length = data[at] | (static_cast<size_t>(data[at + 1]) << 8);
    at += 2;
    const size_t take = std::min(length, size - at);
    answers.emplace_back(data + at, data + at + take);
    at += take;
  }
  return answers;
}

void RunTransfer(vxa::TVXA4410Connection& connection) {
  for (int step = 0; step < kMaxSteps && !connection.IsIdle(); ++step) connection.TrafficStep();
  try {
    connection.CheckError();
  } catch (const vxa::TVXA4410ConnError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  vxa::VirtualClock clock;
  vxa::sim::LineTiming timing;
  timing.paced = false;
  vxa::sim::SimBus bus(clock, timing);
  vxa::sim::SimInstrument& instrument = bus.AttachInstrument();
  vxa::TVXA4410Connection connection(bus, clock);
  connection.Open();
  vxa::TResReadTransBuffer buffer{std::span<const uint8_t>(Image())};
  connection.Bind(&buffer);
  instrument.SetFileContent("swap", Image());
  instrument.ReplaceAnswers(SplitAnswers(data + 1, size - 1));
  std::string errorText;
  try {
    switch (data[0] % 4) {
      case 0:
        connection.StartWrite(vxa::kFileSwap, errorText);
        RunTransfer(connection);
        break;
      case 1:
        connection.StartRead(vxa::kFileSwap, errorText);
        RunTransfer(connection);
        break;
      case 2:
        connection.QueryDeviceInfo();
        break;
      default:
        connection.QueryGinf();
        connection.SetDeviceClock();
        break;
    }
  } catch (const vxa::TVXA4410ConnError&) {
  }
  // The texts are formed from whatever was accepted.
  (void)connection.ModelText();
  (void)connection.SerialNumberText();
  (void)connection.DeviceVersionText();
  (void)connection.ProgramVersionText();
  return 0;
}
