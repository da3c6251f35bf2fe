#pragma once

// The randomized fault campaign: from a seed, one to three of the simulated instrument's faults
// aimed at random moments of an update, with the instrument's settings drawn too, and sometimes
// the user's interrupt at a random call on the bridge. Each run is checked against what must hold
// whatever the faults: the install request only after the whole image was compared, and once;
// an end within the bound the faults allow; an exit status and a consequence line that are true
// for the moment the run ended; the image whole in "swap" after a success; nothing written after
// an interrupt.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "sim/SimTypes.h"

namespace vxa::campaign {

// Where the run's instrument is: the simulated bus in virtual time, or in real time behind the
// vendor library's stand-in or behind a pseudo-terminal on the serial port backend.
enum class Backend { kBus, kD2xx, kPty };

// When the drawn faults are given to the instrument.
enum class When { kBeforeSearch, kBeforeUpdate, kAtVerification, kAtFlashing };

struct Draw {
  uint64_t seed = 0;
  Backend backend = Backend::kBus;
  When when = When::kBeforeSearch;
  std::vector<sim::FaultSpec> faults;
  size_t imageSize = 0;
  sim::InstrumentConfig config;
  // The user interrupts at this call on the bridge made by the traffic thread (-1: never), by
  // Ctrl-C or by closing the window.
  int interruptAtCall = -1;
  bool byClosing = false;
};

// The same seed always draws the same run.
Draw DrawRun(uint64_t seed);

// One line that replays the run: the seed, its settings and its faults, each as a fault-matrix
// FaultSpec and as the simulator's command-line argument.
std::string Describe(const Draw& draw);

// Runs the drawn update and returns what did not hold, empty when everything did; `ended` tells
// how the run ended (its outcome's code, exit status and virtual time).
std::string RunAndCheck(const Draw& draw, std::string* ended = nullptr);

// The longest image a run draws.
inline constexpr size_t kMaxImageSize = 140000;

}  // namespace vxa::campaign
