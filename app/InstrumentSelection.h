#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/FtDriver.h"

// Which of several attached instruments a command is for. A service centre or a production line
// has many on one hub, each with a bridge of its own, all with the instrument's description; the
// listing tells them apart by their ports and the bridges' serial numbers.
namespace vxa {

// Every attached bridge of any description, in the listing's order, with its location and serial
// number. kFtOk; kFtDeviceNotFound with none; or the listing's failure.
FtStatus ListBridges(FtDriver& driver, std::vector<BridgeInfo>* bridges);

// Those of `bridges` that carry the instrument's description.
std::vector<BridgeInfo> InstrumentBridges(const std::vector<BridgeInfo>& bridges);

// The bridge that `selector` names by its index in the listing, by its port (the whole location
// or its last part: "ttyUSB1" for "/dev/ttyUSB1") or by the bridge's own serial number. Nothing
// when it names none: it may still be an instrument's serial number, which only the instruments
// themselves can tell.
std::optional<BridgeInfo> ListedBridgeNamed(const std::vector<BridgeInfo>& bridges,
                                              const std::string& selector);

}  // namespace vxa
