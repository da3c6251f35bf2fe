// Test scaffolding for the virtual machine only, never shipped or installed: QEMU's emulated bridge
// has the fixed product string "QEMU USB SERIAL", and the libftdi backend opens the instrument by
// its description. Preloaded into the program, this gives libftdi the instrument's description
// for that one string; every other string passes through unchanged.

#include <dlfcn.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr char kEmulatedProduct[] = "QEMU USB SERIAL";
constexpr char kInstrumentProduct[] = "VXA-4410 Vibration Analyzer";

}  // namespace

struct libusb_device_handle;

extern "C" int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                                  unsigned char* data, int length) {
  using Call = int (*)(libusb_device_handle*, uint8_t, unsigned char*, int);
  const auto next =
      reinterpret_cast<Call>(::dlsym(RTLD_NEXT, "libusb_get_string_descriptor_ascii"));
  if (next == nullptr) return -99;  // LIBUSB_ERROR_OTHER
  const int n = next(handle, index, data, length);
  if (n == static_cast<int>(sizeof kEmulatedProduct - 1) &&
      std::memcmp(data, kEmulatedProduct, sizeof kEmulatedProduct - 1) == 0 &&
      length > static_cast<int>(sizeof kInstrumentProduct)) {
    std::memcpy(data, kInstrumentProduct, sizeof kInstrumentProduct);
    return static_cast<int>(sizeof kInstrumentProduct - 1);
  }
  return n;
}
