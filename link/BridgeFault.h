#pragma once

#include <cstdint>
#include <string>

namespace vxa {

// Why a call on a bridge failed, as far as its backend can tell. A status number says only that
// it failed; the front ends put this under the call's own text, and other programs read the kind.
enum class BridgeCause : uint8_t {
  kNone,          // nothing failed, or the backend knows no more than the status number
  kPermission,    // the system does not let this user open the port or the USB node
  kBusy,          // another program, or a driver of the system, holds it
  kNoSuchPort,    // the port or the bridge named is not there
  kDisconnected,  // it was there and is gone: the instrument or its cable was unplugged
  kNotSupported,  // the port cannot do what the instrument needs: its speed, a setting
  kOther,         // something else; the text says what, in the system's words where it has them
};

struct BridgeFault {
  BridgeCause kind = BridgeCause::kNone;
  std::string text{};  // in the catalogue's current language; empty with kNone

  bool Known() const { return kind != BridgeCause::kNone && !text.empty(); }
};

// How the cause is named for other programs: "permission", "busy", "no_such_port",
// "disconnected", "not_supported", "other"; null for kNone.
const char* BridgeCauseCode(BridgeCause kind);

}  // namespace vxa
