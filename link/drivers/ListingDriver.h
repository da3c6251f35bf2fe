#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/FtDriver.h"
#include "link/drivers/BridgeErrors.h"
#include "text/Messages.h"

namespace vxa {

// What both backends do alike: CountDevices lists the bridges afresh and keeps the listing, and
// DeviceDescription and DescribeDevice answer from that listing, as the vendor's library does
// between the two calls; listing and opening take turns. `Bridge` is a backend's own record of
// one bridge, with its `description`.
template <typename Bridge>
class ListingDriver : public FtDriver {
 public:
  FtStatus CountDevices(uint32_t* count) final {
    if (count == nullptr) return kFtInvalidParameter;
    std::lock_guard lock(mutex_);
    const FtStatus status = List(&listing_);
    *count = static_cast<uint32_t>(listing_.size());
    return status;
  }

  FtStatus DeviceDescription(uint32_t index, std::string* description) final {
    if (description == nullptr) return kFtInvalidParameter;
    std::lock_guard lock(mutex_);
    if (index >= listing_.size()) return NotListed(index);
    *description = listing_[index].description;
    return kFtOk;
  }

  FtStatus OpenByDescription(const std::string& description,
                             std::unique_ptr<FtDevice>* device) final {
    if (device == nullptr) return kFtInvalidParameter;
    device->reset();
    std::lock_guard lock(mutex_);
    return Open(description, device);
  }

  FtStatus DescribeDevice(uint32_t index, BridgeInfo* bridge) final {
    if (bridge == nullptr) return kFtInvalidParameter;
    std::lock_guard lock(mutex_);
    if (index >= listing_.size()) return NotListed(index);
    *bridge = Describe(listing_[index]);
    bridge->index = index;
    return kFtOk;
  }

  FtStatus OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) final {
    if (device == nullptr) return kFtInvalidParameter;
    device->reset();
    std::lock_guard lock(mutex_);
    // Listed afresh: what the caller saw may have been unplugged since, or plugged elsewhere.
    std::vector<Bridge> now;
    if (const FtStatus status = List(&now); status != kFtOk) return status;
    const auto match = std::find_if(now.begin(), now.end(), [&](const Bridge& candidate) {
      const BridgeInfo seen = Describe(candidate);
      return seen.location == bridge.location && seen.serialNumber == bridge.serialNumber &&
             seen.description == bridge.description;
    });
    if (match == now.end()) {
      const std::string& which = bridge.location.empty() ? bridge.serialNumber : bridge.location;
      error_.Set(BridgeCause::kDisconnected, FormatText(VXA_MSG(msg::kBridgeGone), which.c_str()));
      return kFtDeviceNotFound;
    }
    return OpenListed(*match, device);
  }

  std::string LastError() const final { return error_.Get(); }
  BridgeFault LastFault() const final { return error_.Fault(); }

 protected:
  // `bridgeWord` is what the backend's texts call one listed bridge ("port", "bridge").
  explicit ListingDriver(const char* bridgeWord) : bridgeWord_(bridgeWord) {}

  // Lists what is attached now: empty, with kFtDeviceNotFound and the reason noted, when nothing
  // is. Called with the lock held.
  virtual FtStatus List(std::vector<Bridge>* bridges) = 0;
  // Opens the bridge of this description into the empty `device`, or notes why not: the one
  // port the user named, which is the instrument by decree whatever it calls itself, or else the
  // listed bridge of exactly this description. Called with the lock held.
  virtual FtStatus Open(const std::string& description, std::unique_ptr<FtDevice>* device) {
    std::vector<Bridge> bridges;
    if (const FtStatus status = List(&bridges); status != kFtOk) return status;
    const auto match = std::find_if(bridges.begin(), bridges.end(), [&](const Bridge& bridge) {
      return PortNamedByUser() || bridge.description == description;
    });
    if (match == bridges.end()) return NoneDescribedAs(description, bridges);
    return OpenListed(*match, device);
  }
  // Whether the listing is the one port the user named rather than what the system lists.
  virtual bool PortNamedByUser() const { return false; }
  // What a listing shows of one bridge; the index is the caller's.
  virtual BridgeInfo Describe(const Bridge& bridge) const = 0;
  // Opens this bridge of a listing just made into the empty `device`, or notes why not. Called
  // with the lock held.
  virtual FtStatus OpenListed(const Bridge& bridge, std::unique_ptr<FtDevice>* device) = 0;

  // Notes that no bridge of `bridges` is described as `description`, naming each one found by
  // where it is and what it calls itself: the user sees which adapter is attached instead of the
  // instrument.
  FtStatus NoneDescribedAs(const std::string& description, const std::vector<Bridge>& bridges) {
    std::string found;
    for (const Bridge& bridge : bridges) {
      found += (found.empty() ? "" : ", ") + Describe(bridge).location + " \"" +
               bridge.description + "\"";
    }
    error_.Set(BridgeCause::kNoSuchPort,
               FormatText(VXA_MSG(msg::kNoDeviceDescribed), description.c_str(), found.c_str()));
    return kFtDeviceNotFound;
  }

  ErrorNote error_;

 private:
  FtStatus NotListed(uint32_t index) {
    error_.Set("no " + std::string(bridgeWord_) + " number " + std::to_string(index) +
               " in the latest listing");
    return kFtDeviceNotFound;
  }

  // Held while listing and opening: one listing at a time, and one call at a time into a library
  // that is not safe to call from two threads at once.
  std::mutex mutex_;

  const char* const bridgeWord_;
  std::vector<Bridge> listing_;  // as of the latest CountDevices
};

}  // namespace vxa
