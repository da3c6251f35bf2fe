// What a seed draws: the faults, where they are aimed, the instrument's settings, the image and
// the interrupt.
#include <random>

#include "link/Packet.h"
#include "sim/SimTypes.h"
#include "tests/robustness/Campaign.h"

namespace vxa::campaign {
namespace {

using sim::Fault;

class Dice {
 public:
  explicit Dice(uint64_t seed) : engine_(seed * 0x9E3779B97F4A7C15ull + 0x7F4A7C15ull) {}
  // 0 .. n-1, the same on every platform (the standard distributions are not).
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(engine_() % n); }
  bool Percent(uint32_t p) { return Below(100) < p; }
  uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }

 private:
  std::mt19937_64 engine_;
};

constexpr int kCommands[] = {-1, -1, -1, kCmdWriteRequest, kCmdWriteBlock, kCmdWriteBlock,
                             kCmdReadRequest, kCmdReadAck, kCmdReadAck, kCmdText, kCmdDeviceInfo};

// The fault's parameter: mostly its default, else a value of the range it takes.
uint32_t DrawValue(Fault fault, size_t imageSize, Dice& dice) {
  const bool own = dice.Percent(40);
  switch (fault) {
    case Fault::LateAnswer:
      return own ? 0 : dice.Between(50, 3000);
    case Fault::Babble:
      return own ? 0 : dice.Between(50, 4000);
    case Fault::Silent:
      return own ? 0 : dice.Between(50, 6000);
    case Fault::CorruptReadBack:
      return dice.Below(static_cast<uint32_t>(imageSize));
    case Fault::ShortReadBack:
      return dice.Between(1, static_cast<uint32_t>(imageSize));
    case Fault::LongReadBack:
      return own ? 0 : dice.Between(1, 40000);
    case Fault::WrongEcho:
    case Fault::UnrecognisedAnswer:
    case Fault::UnrecognisedWrqAnswer:
      return own ? 0 : dice.Between(1, 255);
    case Fault::ShortLength:
      return dice.Between(1, 4);
    case Fault::TruncatedBody:
      return own ? 0 : dice.Between(1, 40);
    case Fault::BadAckLength:
      return own ? 0 : dice.Between(5, 64);
    case Fault::WrqNonZeroBlock:
    case Fault::FirstReadBlockNumber:
    case Fault::WrongAckNumber:
    case Fault::AckAhead:
      return own ? 0 : dice.Between(2, 9);
    case Fault::ShortReadBlock:
      return dice.Between(1, 3);
    case Fault::RecordLength:
      return own ? 0 : dice.Between(1, 300);
    default:
      return 0;
  }
}

// Over a real line every lost answer costs real time: there the faults are those that end soon.
bool QuickInRealTime(const sim::FaultSpec& aim) {
  if (aim.count < 0 || aim.count > 2) return false;
  switch (aim.fault) {
    case Fault::Silent:
    case Fault::Babble:
    case Fault::LateAnswer:
    case Fault::NeverReportVersion:
    case Fault::IgnoreGinf:
    case Fault::StaleAnswer:
    case Fault::Unplug:  // the link is then given up only after the no-progress bound
      return false;
    default:
      return true;
  }
}

sim::FaultSpec DrawFault(size_t imageSize, Dice& dice) {
  sim::FaultSpec aim{.fault = sim::AllFaults()[dice.Below(sim::kFaultCount)]};
  const uint32_t times = dice.Below(100);
  aim.count = times < 60 ? 1 : times < 75 ? 2 : times < 85 ? 3 : -1;
  aim.skip = dice.Percent(40) ? 0 : static_cast<int>(dice.Between(1, 12));
  aim.onCommand = kCommands[dice.Below(std::size(kCommands))];
  aim.value = DrawValue(aim.fault, imageSize, dice);
  if ((aim.fault == Fault::RefuseRequest || aim.fault == Fault::RefuseBlock ||
       aim.fault == Fault::RefuseClock) &&
      dice.Percent(50)) {
    aim.text = "Отказ";
  }
  return aim;
}

size_t DrawImageSize(Dice& dice) {
  switch (dice.Below(4)) {
    case 0:  // around a block's edge
      return dice.Between(1, 4) * kWriteBlockData + dice.Below(3) - 1;
    case 1:
      return dice.Between(1, 3000);
    default:
      return dice.Between(1, kMaxImageSize);
  }
}

void DrawSettings(Draw& draw, Dice& dice) {
  constexpr int kInstallSeconds[] = {0, 1, 5, 5, 5, 20, 120, 290, 310};
  const bool real = draw.backend != Backend::kBus;
  draw.config.installTime = std::chrono::seconds(real ? 0 : kInstallSeconds[dice.Below(9)]);
  if (!real && dice.Percent(4)) draw.config.newProgramVersion = "9.8.7";  // not ours
  if (dice.Percent(20)) draw.config.readBlockSize = dice.Between(1000, 32760);
}

}  // namespace

Draw DrawRun(uint64_t seed) {
  Dice dice(seed);
  Draw draw;
  draw.seed = seed;
  // About one run in a hundred over each real-time backend.
  draw.backend = seed % 100 == 37 ? Backend::kPty : seed % 100 == 71 ? Backend::kD2xx
                                                                      : Backend::kBus;
  draw.imageSize = DrawImageSize(dice);
  // A real line takes its time for every byte: there the image stays short.
  if (draw.backend != Backend::kBus) draw.imageSize = draw.imageSize % 40000 + 1;
  DrawSettings(draw, dice);
  // The real-time backends take their faults when the instrument is set up, before the search.
  const uint32_t when = dice.Below(100);
  draw.when = draw.backend != Backend::kBus ? When::kBeforeSearch
              : when < 25                   ? When::kBeforeSearch
              : when < 60                   ? When::kBeforeUpdate
              : when < 80                   ? When::kAtVerification
                                            : When::kAtFlashing;
  const uint32_t faults = 1 + dice.Below(3);
  for (uint32_t i = 0; i < faults; ++i) {
    sim::FaultSpec aim = DrawFault(draw.imageSize, dice);
    if (draw.backend != Backend::kBus && !QuickInRealTime(aim)) continue;
    draw.faults.push_back(std::move(aim));
  }
  if (dice.Percent(15)) {
    draw.interruptAtCall = static_cast<int>(dice.Below(400));
    draw.byClosing = dice.Percent(50);
  }
  return draw;
}

}  // namespace vxa::campaign
