#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa {

// A fault to inject into the simulated instrument, as a front end read it from its command line.
// The name is one the simulator knows ("silent", "corrupt-read-back", ...).
struct SimFaultSpec {
  std::string name;
  int count = 1;       // how many times it fires; -1 = for ever
  int skip = 0;        // matching occasions to let pass before it fires
  uint32_t value = 0;  // the fault's parameter; 0 means its default where it has one
  int onCommand = -1;  // fire only on a command with this code (-1 any)
  int instrument = -1;  // only in the simulated instrument of this index (-1 every one)
};

// A simulated instrument plugged in or pulled out at a moment of the simulator's time, as a front
// end read it from its command line.
struct SimPlugEntry {
  int instrument = 0;
  Clock::Duration at{};  // from the start of the simulator
  bool plugged = true;   // false: pulled out
};

// Whether the simulated instrument knows a fault of this name, so that a front end can refuse a
// bad one while it reads its command line.
bool IsSimFaultName(const std::string& name);

// The drivers a front end may be asked for, in the order their help lists them.
struct DriverChoice {
  const char* name;
  int32_t note;  // catalogue id of what the help says of it
};
std::span<const DriverChoice> DriverChoices();
bool IsDriverName(std::string_view name);
// The drivers with their notes as the help lists them: "serial (по умолчанию), ... или d2xx (...)".
std::string DriverHelp();
// Their names alone, for the text that refuses another: "serial, libftdi или d2xx".
std::string DriverNames();

// Everything that decides the backend. The front ends fill it from their command lines.
struct BackendOptions {
  bool sim = false;      // the built-in simulated instrument instead of a driver
  std::string driver;    // "serial" (also when empty), "libftdi" or "d2xx"
  std::string port;      // serial only: a port named by path instead of the USB listing
  // The simulated instrument only:
  bool virtualTime = false;  // the line and the install take no real time
  // The local time virtual time starts at; unset, the computer's own when the backend is made, so
  // that the clock the simulated instrument is given is the one a real instrument would get.
  std::optional<LocalDateTime> virtualStart;
  // How many instruments are on the simulated bus, each with a serial number of its own (the
  // first has the simulator's usual one, the next one more, and so on).
  int simInstruments = 1;
  std::vector<SimFaultSpec> simFaults;  // injected into each of them, or the one they name
  // When each of them is plugged in and pulled out; one that is named by none is there throughout.
  std::vector<SimPlugEntry> simPlugs;
  // In virtual time every instrument keeps a clock of its own, the first too, apart from the
  // program's: a front end that runs on beside them paces its own time by theirs.
  bool ownClocks = false;
};

// The link the program talks over and the clock it keeps time by, chosen once at start-up.
class Backend {
 public:
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  FtDriver& Driver() { return *driver_; }
  // The program's clock, and the one instrument's when no bridge is chosen (unless each
  // simulated instrument keeps its own).
  Clock& clock() { return *clock_; }
  // The clock the instrument behind `bridge` keeps time by: the program's, except for simulated
  // instruments in virtual time, each of which keeps its own, so that one instrument's waiting
  // (a silent one's timeouts) never moves another's time on.
  Clock& ClockOf(const BridgeInfo& bridge);

 private:
  friend std::unique_ptr<Backend> CreateBackend(const BackendOptions& options, std::string* error);
  Backend() = default;
  // The simulated instruments the options ask for, on a bus of their own.
  static std::unique_ptr<Backend> Simulated(const BackendOptions& options, std::string* error);

  std::unique_ptr<Clock> clock_;
  std::vector<std::unique_ptr<Clock>> instrumentClocks_;
  std::map<std::string, Clock*> clockAt_;  // by the bridge's location
  std::unique_ptr<FtDriver> driver_;  // goes before the clocks it may keep time by
};

// The one place where the backend is chosen and made. Null with the reason in `error` when the
// options name none (an unknown driver, a port for libftdi, an unknown fault, a fault for an
// instrument that is not there).
std::unique_ptr<Backend> CreateBackend(const BackendOptions& options, std::string* error);

}  // namespace vxa
