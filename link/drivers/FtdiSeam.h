#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The few raw libftdi operations the libftdi backend is built on, with libftdi's own return
// codes. The backend's logic (the read loop, the write slices, what a code means for the program)
// sits above this seam and is tested against a scripted double; the adapter below it only passes
// calls through to libftdi and is exercised with a real bridge alone.
namespace vxa::ftdi {

// libusb codes that libftdi hands on unchanged from a failed bulk transfer.
inline constexpr int kUsbErrorNoDevice = -4;
inline constexpr int kUsbErrorTimeout = -7;

// FTDI's vendor id and the product ids of the chips this program may meet.
inline constexpr int kVendorId = 0x0403;
inline constexpr int kProductIds[] = {0x6001, 0x6010, 0x6011, 0x6014, 0x6015};

// One opened bridge (a libftdi context with its device open). Destroying it closes the device
// and frees the context.
class FtdiLink {
 public:
  virtual ~FtdiLink() = default;

  virtual int Reset() = 0;                                       // ftdi_usb_reset
  virtual int SetLatencyTimer(uint8_t milliseconds) = 0;         // ftdi_set_latency_timer
  virtual int SetChunkSizes(uint32_t read, uint32_t write) = 0;  // ..._set_chunksize
  // The vendor's values are libftdi's: 7/8 data bits, stop bits 0 (one), 1 (1.5), 2 (two),
  // parity 0..4 (none, odd, even, mark, space).
  virtual int SetLineProperty(int bits, int stopBits, int parity) = 0;
  virtual int PollModemStatus(uint16_t* status) = 0;  // ftdi_poll_modem_status
  virtual int SetFlowControl(int mode) = 0;           // ftdi_setflowctrl, SIO_*_HS values
  virtual int SetDivisor(uint16_t divisor) = 0;       // raw SIO_SET_BAUDRATE request
  // ftdi_tciflush / ftdi_tcoflush / ftdi_tcioflush
  virtual int Flush(bool input, bool output) = 0;
  // ctx->usb_read_timeout / usb_write_timeout: the limit of one USB transfer.
  virtual void SetUsbTimeouts(int readMs, int writeMs) = 0;
  virtual int ReadData(uint8_t* buffer, int size) = 0;         // ftdi_read_data
  virtual int WriteData(const uint8_t* buffer, int size) = 0;  // ftdi_write_data
  // Bytes libftdi already fetched from the chip and not yet handed out (readbuffer_remaining).
  virtual uint32_t Buffered() const = 0;
  virtual int Close() = 0;  // ftdi_usb_close
  // ftdi_get_error_string of the latest failed call.
  virtual std::string ErrorString() const = 0;
};

// One FTDI device on the bus, as the listing found it.
struct FtdiUsbDevice {
  int productId = 0;
  std::string node;         // /dev/bus/usb/BBB/DDD
  int stringsResult = 0;    // ftdi_usb_get_strings2: 0, or why the description is missing
  std::string description;  // the USB product string
  std::string serialNumber{};  // the USB serial number string; empty when it has none
  int bus = 0;               // where it sits on the USB, as in the node's name
  int address = 0;
};

// The bus: listing and opening.
class FtdiBus {
 public:
  virtual ~FtdiBus() = default;

  // ftdi_usb_find_all for one product id, with the description of each device found. Returns
  // the number found or libftdi's negative code.
  virtual int FindAll(int productId, std::vector<FtdiUsbDevice>* found) = 0;
  // ftdi_usb_open_desc for one product id, the kernel driver detached for the time the device is
  // open. Returns 0 with `link` set, or libftdi's negative code.
  virtual int OpenByDescription(int productId, const std::string& description,
                                std::unique_ptr<FtdiLink>* link) = 0;
  // ftdi_usb_open_bus_addr: the device at that place on the USB, the kernel driver detached as
  // above. Returns 0 with `link` set, or libftdi's negative code.
  virtual int OpenByBusAddress(int bus, int address, std::unique_ptr<FtdiLink>* link) = 0;
  // ftdi_get_error_string of the latest failed call.
  virtual std::string ErrorString() const = 0;
  // Whether the current user may open the USB node (the udev rule is in place).
  virtual bool MayOpen(const std::string& node) const = 0;
};

}  // namespace vxa::ftdi
