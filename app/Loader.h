#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <string>

#include "app/LoaderView.h"
#include "app/image/ResReadTransBuffer.h"
#include "link/Clock.h"
#include "link/FtDriver.h"
#include "protocol/Connection.h"
#include "protocol/TrafficControlThread.h"

namespace vxa {

// How the last Find or Load ended, for front ends that report it (the terminal's exit code).
enum class Outcome {
  kNone,
  kFound,
  kNoDevice,       // none, several, or the listing failed
  kNotResponding,  // found, but it did not give its records
  kDeclined,       // the user said No to the confirmation
  kUpdated,
  kFailed,
  kVersionTimeout,
  kInterrupted,
  kFileRead,       // a file of the instrument was read whole into the search's buffer
};

// The instrument has this long to come back with the new version after the install request.
inline constexpr Clock::Duration kVersionWaitLimit = std::chrono::minutes(5);
inline constexpr std::chrono::milliseconds kVersionPollInterval{1000};
// How often the progress display is refreshed while a transfer runs.
inline constexpr std::chrono::milliseconds kProgressRefresh{100};

// The search and the update, written once for every front end. It owns what lives for the whole
// run: the connection list (empty, or the one instrument found), the boot image and the traffic
// thread.
class Loader {
 public:
  Loader(LoaderView& view, FtDriver& driver, Clock& clock,
         std::span<const EmbeddedResource> resources = BuiltInResources());
  ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // What the buttons do. Errors that escape them go to the view's standard error display.
  void Find();
  void Load();
  // The window's close request: true when the window may close.
  bool FormClose();
  // Stops a running update at once (the terminal's Ctrl-C): no exchange after the one in flight.
  void Interrupt();

  void FindButtonClick();
  int EnumerateDevices();
  void LoadButtonClick();
  bool WaitForTransfer();
  void RefreshProgressBar();
  void RefreshProgressLabel();
  bool AwaitNewFirmware();
  void StopTrafficAndExit();

  // The options of the command line that concern the search.
  bool LogEnabled = false;
  bool DumpEnabled = false;

  int32_t DeviceCount = 0;
  std::list<TVXA4410Connection> Connections;
  std::unique_ptr<TResReadTransBuffer> BootImage;

  TVXA4410Connection* Current() { return Connections.empty() ? nullptr : &Connections.back(); }
  Outcome LastOutcome() const { return outcome_; }
  bool KernelRequested() const { return kernelRequested_; }
  bool UpdateRunning() const { return updateRunning_; }
  const std::string& ProductVersion() const { return productVersion_; }
  void SetProductVersion(std::string version) { productVersion_ = std::move(version); }

  // Reading one of the instrument's files (the terminal's read command). A connection takes one
  // buffer for its life, bound by the search, so the buffer is chosen before Find: null (the
  // default) binds the boot image, as the update needs.
  void SetSearchBuffer(TBasicTransBuffer* buffer) { searchBuffer_ = buffer; }
  TBasicTransBuffer* SearchBuffer() const {
    return searchBuffer_ != nullptr ? searchBuffer_ : BootImage.get();
  }
  // After a successful Find: reads the file of that kind into the bound buffer, with the traffic
  // thread carrying the blocks and the view showing the progress. True when the read completed;
  // failures are shown in an error box, and LastOutcome tells them from an interruption.
  bool ReadFile(uint32_t fileKind);

 private:
  template <typename Handler>
  void RunHandler(Handler handler);
  void Pause(std::chrono::milliseconds duration);

  LoaderView& view_;
  FtDriver& driver_;
  Clock& clock_;
  std::unique_ptr<TrafficControlThread> TrafficThread;
  Outcome outcome_ = Outcome::kNone;
  bool updateRunning_ = false;
  bool kernelRequested_ = false;
  bool closing_ = false;
  bool interrupted_ = false;
  std::string productVersion_;
  TBasicTransBuffer* searchBuffer_ = nullptr;
};

}  // namespace vxa
