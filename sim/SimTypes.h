#pragma once

// Settings, fault descriptions and records of the simulated instrument. Shared by the in-process
// bridge (SimBus) and anything else that puts the instrument model behind another transport.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "Version.h"
#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa::sim {

// How the simulated bridge spends time on the clock.
struct LineTiming {
  bool paced = true;  // false: no line delay at all (bytes arrive at once)
  // The bridge's latency timer as it stands after opening; SetLatencyTimer changes it per handle.
  Clock::Duration latencyTimer = std::chrono::milliseconds(2);
  // One USB control request (purge, modem status, divisor, ...). Applies paced or not.
  Clock::Duration controlRequestCost = std::chrono::milliseconds(1);
};

struct InstrumentConfig {
  std::string description = "VXA-4410 Vibration Analyzer";
  // The bridge's own serial number and where it is attached, as a listing shows them; the bus
  // names those left empty by the order of attaching ("FTSIM001" at "SIM0", "FTSIM002" at
  // "SIM1", ...).
  std::string bridgeSerial{};
  std::string location{};
  std::string model = "VXA-4410";  // UTF-8 here; sent as Windows-1251 bytes
  int32_t serialNumber = 4410017;
  uint8_t deviceVersionMajor = 2, deviceVersionMinor = 1;
  std::array<int32_t, 3> programVersion = {1, 22, 0};
  // What the instrument reports once it has installed an image ("a.b.c").
  std::string newProgramVersion = VXA_PRODUCT_VERSION;
  uint32_t readBlockSize = 32760;  // data bytes per read block the instrument sends (1..32760)
  Clock::Duration installTime = std::chrono::seconds(5);
  bool cts = true;  // Clear To Send line as the bridge reports it
};

// Failure modes that can be injected. The first group breaks the line or the framing of answers,
// the second makes the instrument misbehave within the protocol.
enum class Fault {
  // Link level.
  DropAnswer,     // the answer is not sent
  LateAnswer,     // the answer leaves `value` ms late (default 1500)
  BadCrc,         // the answer's CRC is wrong (answers with a body only)
  WrongEcho,      // the answer echoes another code (`value` if given)
  BadStartMark,   // StartMark is `value` (default 0x6958)
  BadReserved,    // Reserved is `value` (default 1)
  BadEndMark,     // EndMark is `value` (default 0x8596)
  ShortLength,    // Length announces `value` (1..4, default 2) and that many bytes follow
  HugeLength,     // Length announces `value` (> 32768, default 40000); nothing follows the header
  TruncatedBody,  // `value` bytes (default half) of the body are missing (answers with a body only)
  StaleAnswer,    // the answer is held back and leaves just ahead of the next one, as if late
                  // past the program's timeout and behind its purge
  DuplicateAnswer,  // the answer leaves twice, one copy right behind the other
  Babble,         // in place of the answer the line sends noise for `value` ms (0: until cleared)
  Silent,         // the instrument takes no notice of anything for `value` ms (0: until cleared)
  Unplug,         // the bridge disappears just after the command has reached it
  // Instrument level.
  RefuseRequest,      // a write or read request is refused with `text`
  RefuseBlock,        // a write block or a read acknowledgement is refused with `text`
  RefusalWithoutNul,  // the next refusal's text has no terminating NUL
  RefuseClock,        // an SDTI command is refused with `text`; the clock is left as it was
  WrongAckNumber,     // a write block is acknowledged as `value` (default: number - 1), not stored
  UnrecognisedWrqAnswer,  // a write request is answered with code `value` (default 0x37)
  FirstReadBlockNumber,   // the first read block is numbered `value` instead of 1
  RepeatReadBlock,        // an acknowledgement of block n brings block n again
  CorruptReadBack,        // the byte at data offset `value` of the file being read is inverted
  ShortReadBack,          // the read ends `value` bytes (default 1) before the end of the file
  LongReadBack,           // the read carries `value` (default 100) bytes more than the file
  NeverReportVersion,     // the install does not change the program version
  IgnoreGinf,             // no answer to GINF
  UnrecognisedAnswer,  // the answer carries answer code `value` (default 0x37) instead of its own
  BadAckLength,        // an acknowledgement carries `value` bytes (default 2) instead of 4
  WrqNonZeroBlock,     // an accepted write request is acknowledged as block `value` (default 1)
  ShortReadBlock,      // a read block carries only `value` bytes (1..3, default 2): no number
  RecordLength,        // the device information or GINF record is `value` bytes long
                       // (default: one byte short)
  AckAhead,            // a write block is stored but acknowledged as `value` (default:
                       // number + 1), a block that was never sent
};
inline constexpr size_t kFaultCount = static_cast<size_t>(Fault::AckAhead) + 1;

// The parameters the faults above take when their `value` is 0 (or out of their range).
struct FaultDefaults {
  uint32_t lateMs = 1500;
  uint16_t badStartMark = 0x6958;
  uint16_t badReserved = 1;
  uint16_t badEndMark = 0x8596;
  uint32_t shortLength = 2;
  uint32_t hugeLength = 40000;
  uint8_t unrecognisedCode = 0x37;  // UnrecognisedWrqAnswer, UnrecognisedAnswer
  uint32_t badAckLength = 2;
  uint32_t maxBadAckLength = 64;  // a longer one given is taken as the default
  uint32_t wrqBlock = 1;
  uint32_t shortReadBack = 1;
  uint32_t longReadBack = 100;
  uint32_t shortReadBlock = 2;
};
inline constexpr FaultDefaults kFaultDefault{};

struct FaultSpec {
  Fault fault;
  int count = 1;       // how many times it fires; -1 = for ever
  int skip = 0;        // matching occasions to let pass before it fires
  int onCommand = -1;  // fire only on a command with this code (-1 any)
  uint32_t value = 0;  // fault parameter; 0 means the fault's default where it has one
  std::string text{};  // refusal text (UTF-8; sent as Windows-1251); empty: the instrument's own
};

// Kebab-case names ("drop-answer", "bad-crc", ...) for command lines and logs.
Fault FaultFromName(std::string_view name, bool* ok);
std::string_view FaultName(Fault fault);
std::span<const Fault> AllFaults();

// The calls a bridge handle and the bus see.
enum class Call {
  CountDevices,
  DeviceDescription,
  OpenByDescription,
  ResetDevice,
  SetLatencyTimer,
  SetUSBParameters,
  SetTimeouts,
  SetDataCharacteristics,
  GetModemStatus,
  SetFlowControl,
  SetDivisor,
  Purge,
  Write,
  Read,
  GetStatus,
  Close,
};
inline constexpr size_t kCallCount = static_cast<size_t>(Call::Close) + 1;
std::string_view CallName(Call call);

// The arguments of one call. Write and Read: a = bytes asked for, b = bytes moved. GetStatus:
// a = receive queue reported. GetModemStatus: a = modem status reported. CountDevices: a = count
// reported. DeviceDescription: a = index. OpenByDescription: a = status returned.
struct CallRecord {
  Call call;
  uint32_t a = 0, b = 0, c = 0;
};

struct ReceivedBlock {
  uint32_t number;
  uint32_t dataLength;
  bool operator==(const ReceivedBlock&) const = default;
};

// What the instrument itself counts (the bridge adds its own, see SimInstrument::Counters).
struct ProtocolCounters {
  std::array<uint64_t, 256> commandsByCode{};  // well-formed commands taken, by code
  uint64_t commands = 0;                       // well-formed commands taken
  uint64_t badCommands = 0;                    // packets that failed the checks: never answered
  uint64_t discardedBytes = 0;                 // bytes dropped while looking for a packet start
  uint64_t unansweredCommands = 0;             // taken while installing or silent
  uint64_t ignoredWhileInstalling = 0;         // of which while installing
  uint64_t blocksResent = 0;                   // write blocks again, read blocks sent again
  uint64_t answersSent = 0;                    // answers put on the line (faulty ones included)
  uint64_t refusalsSent = 0;                   // of which refusals (0x36)
  std::array<uint64_t, kFaultCount> faultsFired{};

  uint64_t Fired(Fault fault) const { return faultsFired[static_cast<size_t>(fault)]; }
  uint64_t CommandsWithCode(uint8_t code) const { return commandsByCode[code]; }
  // Commands taken that went without an answer for another reason than the install.
  uint64_t AnswersWithheld() const { return commands - answersSent - ignoredWhileInstalling; }
};

}  // namespace vxa::sim
