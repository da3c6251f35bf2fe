#pragma once

#include <memory>
#include <string>

#include "link/FtDriver.h"
#include "link/drivers/D2xxApi.h"
#include "link/drivers/BridgeErrors.h"

namespace vxa {

class SharedLibrary;

// Bridges through the vendor's own D2XX library, loaded at run time: the calls of the device
// link go to the library one for one, with the arguments the program has always passed. The
// library is looked for where the system looks for libraries (beside the program on Windows,
// LD_LIBRARY_PATH and the system's folders on Linux); the program ships none.
class D2xxDriver final : public FtDriver {
 public:
  // The library with every function the program needs, shared by the driver and the bridges it
  // opened: it stays loaded until the last of them is gone.
  struct Library;

  // Loads `libraryName` (D2xxLibraryName() by default) and takes its functions. Null, with the
  // reason in the catalogue's words in `error`, when it is missing or lacks a function.
  static std::unique_ptr<D2xxDriver> Load(const std::string& libraryName, std::string* error);
  ~D2xxDriver() override;

  // None attached is kFtDeviceNotFound however the library says it.
  FtStatus CountDevices(uint32_t* count) override;
  FtStatus DeviceDescription(uint32_t index, std::string* description) override;
  FtStatus OpenByDescription(const std::string& description,
                             std::unique_ptr<FtDevice>* device) override;
  // The serial number and the USB location id by index, as the library lists them.
  FtStatus DescribeDevice(uint32_t index, BridgeInfo* bridge) override;
  // By serial number; a bridge that has none is known by its description alone.
  FtStatus OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) override;

  // The library reports status numbers only; the text says which call gave which.
  std::string LastError() const override { return error_.Get(); }
  BridgeFault LastFault() const override { return error_.Fault(); }

 private:
  explicit D2xxDriver(std::shared_ptr<const Library> library);
  FtStatus Note(const char* call, FtStatus status);
  FtStatus OpenEx(void* what, d2xx::ULong flags, std::unique_ptr<FtDevice>* device);

  std::shared_ptr<const Library> library_;
  ErrorNote error_;
};

// The file name of the vendor's library on this platform: ftd2xx.dll, libftd2xx.so.
const char* D2xxLibraryName();

}  // namespace vxa
