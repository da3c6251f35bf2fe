#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/SimTypes.h"

namespace vxa::sim {

// The faults waiting to fire on one instrument. The instrument offers each fault its occasions
// (an answer about to leave, a write block arriving, ...); a fault takes the occasions on its
// command code, lets `skip` of them pass and then fires `count` times.
class FaultPlan {
 public:
  struct Fired {
    uint32_t value;
    std::string_view text;  // valid until the next Add or Clear
  };

  FaultPlan() { specs_.reserve(16); }

  void Add(const FaultSpec& faultSpec);
  void Clear() { specs_.clear(); }
  bool Empty() const { return live_ == 0; }

  // One occasion for `fault` on a command with `code`. Returns what fired, if anything.
  std::optional<Fired> Offer(Fault fault, uint8_t code);

 private:
  // Spent faults stay in place until Clear, so that a fired text stays valid.
  std::vector<FaultSpec> specs_;
  int live_ = 0;
};

}  // namespace vxa::sim
