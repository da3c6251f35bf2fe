#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "base/UniqueFd.h"
#include "sim/InstrumentModel.h"
#include "sim/PtyLine.h"
#include "sim/SimTypes.h"

namespace vxa::sim {

// The simulated instrument behind a pseudo-terminal, for a program in another process that opens
// the pty's slave side as its serial port. One thread, one poll loop: the pty is read as soon as
// the program writes (a pty holds only about 12 KB, and the program's writes must never stall on
// it), the bytes reach the instrument after the line's time for them, and the answers go back at
// the pace of the line.
class PtyServer {
 public:
  struct Options {
    InstrumentConfig instrument;
    std::vector<FaultSpec> faults;
    PtyLine::Timing line;
    // Like an instrument that stays plugged in, the server goes on across any number of closes
    // and opens of the port. With `once` it ends when the program has closed the port and not
    // opened it again within `reopenGrace` (a window's second search reopens it).
    bool once = false;
    Clock::Duration reopenGrace = std::chrono::seconds(1);
  };

  enum class End {
    kStopped,    // the stop descriptor became readable
    kHungUp,     // (once) the program closed the port and did not come back
    kUnplugged,  // an injected unplug: the instrument left the bus
    kFailed,     // the pty failed (see LastError)
  };

  // Opens a pty pair in raw mode. Null with the reason in `error` when the system gives none.
  static std::unique_ptr<PtyServer> Open(Options options, std::string* error);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // What the program opens, e.g. /dev/pts/3.
  const std::string& SlavePath() const { return slavePath_; }

  // Serves until one of the ends above; `stopFd` (a signalfd, a pipe) ends it when readable.
  // Whatever the end, the pty's master side stays open until the server is destroyed.
  End Serve(int stopFd);

  std::string LastError() const { return error_; }
  // For tests, once Serve has returned.
  const InstrumentModel& model() const { return model_; }
  const PtyLine& line() const { return line_; }
  bool EverConnected() const { return connected_; }
  // The program version the instrument reports now ("1.22.0"; the new one once installed).
  std::string ProgramVersion() { return model_.ProgramVersionText(Now()); }

 private:
  PtyServer(Options options, UniqueFd master, UniqueFd watch, std::string slavePath);

  // How the program stands with the port, as the serve loop follows it.
  struct PortState {
    bool listening = true;  // the master is in the poll set
    bool closed = false;    // the program has closed the port and not opened it again yet
    std::optional<Clock::TimePoint> hangUpEnds;  // (once) gone for good then
    std::optional<Clock::TimePoint> recheckAt;   // (no inotify) when to look at the pty again
  };

  enum class Io { kOk, kWouldBlock, kHungUp, kFailed };
  // Waits for the stop, the program or the line's next event, and takes what came; an end, if
  // it came to one.
  std::optional<End> WaitAndTake(int stopFd, Clock::TimePoint now, bool blocked);
  // Reads what the program wrote and follows its closes and opens; false when the pty failed.
  bool TakeHost(short revents);
  void Reopened();
  Io ReadHost();
  Io WriteHost(Clock::TimePoint now);
  void DeliverArrived(Clock::TimePoint now);
  bool TakeWatchEvents();  // true when the program opened the slave since the last look
  Clock::TimePoint Now() const { return clock_.Now(); }

  RealClock clock_;
  UniqueFd master_;
  UniqueFd watch_;  // inotify on the slave: tells when the program opens and closes it
  std::string slavePath_;
  InstrumentModel model_;
  PtyLine line_;
  const bool once_;
  Clock::Duration reopenGrace_;
  std::vector<uint8_t> buffer_;  // one read from the pty, or what the instrument takes at once
  std::vector<uint8_t> staged_;  // due for the program; [head, tail) not yet taken by the pty
  size_t stagedHead_ = 0;
  size_t stagedTail_ = 0;
  bool connected_ = false;
  PortState port_;
  std::string error_;
};

}  // namespace vxa::sim
