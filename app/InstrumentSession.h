#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "app/InstrumentFacts.h"
#include "app/Outcome.h"
#include "link/Clock.h"
#include "link/Diagnostics.h"
#include "link/FtDriver.h"
#include "protocol/Connection.h"
#include "protocol/TrafficControlThread.h"

namespace vxa {

// The diagnostic files a search starts for its instrument.
struct LogPlan {
  bool log = false;
  bool dump = false;
  std::string name = kLogFileName;
  // The name the log moves to once the instrument has told its serial number; none keeps it.
  std::function<std::string(const std::string&)> renamed{};
};

// What lives as long as one instrument: its connection (`Connections` holds none, or the one the
// last search opened), the traffic thread that serves it, its log, and the stop. Each call that
// talks to the instrument turns whatever the link or the protocol raised into a Failure, so that
// nothing above the session catches.
class InstrumentSession {
 public:
  // `wake` is called from whichever thread ends a transfer or a job. Throws std::system_error
  // when the traffic thread cannot be made.
  InstrumentSession(FtDriver& driver, Clock& clock, std::function<void()> wake);
  // The thread goes first: it serves the connection.
  ~InstrumentSession();
  InstrumentSession(const InstrumentSession&) = delete;
  InstrumentSession& operator=(const InstrumentSession&) = delete;

  // A new search: the instrument found before is let go of, once the thread has let go of it.
  void Drop();
  // Opens the instrument's bridge, or the one given among several. kNoDevice when it is not
  // there; kLinkFailed when it is but cannot be used (no permission, not a serial port, busy).
  std::optional<Failure> Open(const BridgeInfo* bridge);
  // Starts the log the plan asks for; the text that says why not when it could not be made.
  std::optional<std::string> StartLog(const LogPlan& plan);
  // Binds the buffer of every transfer to come and asks the instrument for its two records;
  // kNotAnswering when they do not come. The log then moves to the instrument's own name.
  std::optional<Failure> ReadRecords(TBasicTransBuffer* buffer, const LogPlan& plan,
                                     InstrumentFacts* facts);

  // How the connection answered the start of a transfer: negative when it refused before
  // anything was sent, with its reason.
  struct Start {
    int result = 0;
    std::string reason;
  };
  // Sends the request of a write or a read transfer of `fileKind`; the traffic thread carries
  // the blocks once resumed. A failure of the link on the way is returned, not thrown.
  std::optional<Failure> StartWrite(uint32_t fileKind, Start* start);
  std::optional<Failure> StartRead(uint32_t fileKind, Start* start);
  void Resume() { TrafficThread->Resume(); }
  bool TransferDone() const { return Current()->Done(); }
  // The running transfer's failure, once the traffic thread has recorded one.
  std::optional<Failure> TransferFailure();
  // The instrument's refusal of the request just answered, if it refused it; any other fault of
  // the answer leaves open whether it took the request.
  std::optional<Failure> Refusal();
  // Asks the instrument for its program version; `version` is what it reports now, which after
  // a failed poll is the text of a version not known.
  std::optional<Failure> PollVersion(std::string* version);
  // Sets the instrument's clock to the computer's local time: when it took it, with the time
  // given; nothing when it kept its own. A link failure on the way is returned in `failure`.
  std::optional<LocalDateTime> SetClock(std::optional<Failure>* failure);

  // Runs `job` on the traffic thread, in place of a transfer.
  void RunJob(std::function<void()> job) { TrafficThread->RunJob(std::move(job)); }
  // Stops the traffic thread for good: the exchange in flight is finished, no other follows.
  void Stop() { TrafficThread->Stop(); }
  // Pauses the traffic thread's job for `ms`, returning early once the connection is aborted.
  void Pause(uint32_t ms) { Current()->PauseUnlessAborted(ms); }
  bool Aborted() const { return Current()->Aborted(); }
  bool Stopped() const { return TrafficThread->Stopped(); }

  TVXA4410Connection* Current() const {
    return Connections.empty() ? nullptr : &Connections.back();
  }

 private:
  // Runs an exchange of the instrument's, turning what it raises into a Failure.
  template <typename Exchange>
  std::optional<Failure> Attempt(Exchange exchange);

  FtDriver& driver_;
  Clock& clock_;
  const std::function<void()> wake_;
  mutable std::list<TVXA4410Connection> Connections;
  std::unique_ptr<TrafficControlThread> TrafficThread;
};

}  // namespace vxa
