#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/image/ResReadTransBuffer.h"
#include "text/Messages.h"
#include "link/Errors.h"
#include "protocol/Connection.h"
#include "sim/SimBus.h"

namespace vxa::test {

// Deterministic bytes that differ from block to block, so that a block sent in the wrong place
// cannot pass a comparison.
std::vector<uint8_t> TestBytes(size_t size, uint32_t seed = 1);

// A connection to a simulated instrument in virtual time, opened.
class ProtocolTest : public ::testing::Test {
 protected:
  ProtocolTest();

  // Binds a buffer of `size` test bytes (once per connection).
  void BindBuffer(size_t size = 70000);
  // Runs traffic steps on this thread until the connection is idle (bounded).
  int RunToIdle(int maxSteps = 100000);
  // A whole write of the bound buffer as "swap"; returns the error text or "" on success.
  std::string WriteSwap();
  std::string ReadSwap();
  std::string ErrorText();
  int64_t ElapsedMs(Clock::TimePoint since) const;

  VirtualClock clock_;
  sim::SimBus bus_;
  sim::SimInstrument& instrument_;
  std::vector<uint8_t> data_;
  std::unique_ptr<TResReadTransBuffer> buffer_;
  std::unique_ptr<TVXA4410Connection> connection_;
  std::string errorText_;
};

}  // namespace vxa::test
