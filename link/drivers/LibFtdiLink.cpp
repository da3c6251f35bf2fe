#include "link/drivers/LibFtdiLink.h"

#include <libusb.h>

#include "link/FtDriver.h"

namespace vxa {

int LibFtdiLink::Note(int result) {
  if (result < 0) error_ = ftdi_get_error_string(context_.get());
  return result;
}

int LibFtdiLink::Reset() {
  return Note(ftdi_usb_reset(context_.get()));
}

int LibFtdiLink::SetLatencyTimer(uint8_t milliseconds) {
  return Note(ftdi_set_latency_timer(context_.get(), milliseconds));
}

int LibFtdiLink::SetChunkSizes(uint32_t read, uint32_t write) {
  if (const int result = ftdi_read_data_set_chunksize(context_.get(), read); result < 0) {
    return Note(result);
  }
  return Note(ftdi_write_data_set_chunksize(context_.get(), write));
}

int LibFtdiLink::SetLineProperty(int bits, int stopBits, int parity) {
  return Note(ftdi_set_line_property(context_.get(), static_cast<ftdi_bits_type>(bits),
                                     static_cast<ftdi_stopbits_type>(stopBits),
                                     static_cast<ftdi_parity_type>(parity)));
}

int LibFtdiLink::PollModemStatus(uint16_t* status) {
  unsigned short value = 0;
  const int result = Note(ftdi_poll_modem_status(context_.get(), &value));
  *status = value;
  return result;
}

int LibFtdiLink::SetFlowControl(int mode) {
  return Note(ftdi_setflowctrl(context_.get(), mode));
}

int LibFtdiLink::SetDivisor(uint16_t divisor) {
  // The program names the divisor itself; ftdi_set_baudrate would compute one from a rate, and
  // on hi-speed chips pick another clock for it. Multi-port and hi-speed chips want the port
  // number in the low byte of the index, as libftdi itself sends it.
  ftdi_context* context = context_.get();
  const bool portInIndex = context->type == TYPE_2232C || context->type == TYPE_2232H ||
                           context->type == TYPE_4232H || context->type == TYPE_232H;
  const uint16_t index = portInIndex ? static_cast<uint16_t>(context->index) : 0;
  const int result =
      libusb_control_transfer(context->usb_dev, FTDI_DEVICE_OUT_REQTYPE, SIO_SET_BAUDRATE_REQUEST,
                              divisor, index, nullptr, 0, context->usb_write_timeout);
  if (result < 0) {
    error_ = std::string("setting the divisor failed: ") + libusb_error_name(result);
    return result;
  }
  context->baudrate = static_cast<int>(BaudRateOfDivisor(divisor));
  return 0;
}

int LibFtdiLink::Flush(bool input, bool output) {
  // The tc*flush calls, not the old ftdi_usb_purge_* ones, whose receive and transmit are
  // swapped.
  if (input && output) return Note(ftdi_tcioflush(context_.get()));
  if (input) return Note(ftdi_tciflush(context_.get()));
  return Note(ftdi_tcoflush(context_.get()));
}

void LibFtdiLink::SetUsbTimeouts(int readMs, int writeMs) {
  context_->usb_read_timeout = readMs;
  context_->usb_write_timeout = writeMs;
}

int LibFtdiLink::ReadData(uint8_t* buffer, int size) {
  return Note(ftdi_read_data(context_.get(), buffer, size));
}

int LibFtdiLink::WriteData(const uint8_t* buffer, int size) {
  return Note(ftdi_write_data(context_.get(), buffer, size));
}

uint32_t LibFtdiLink::Buffered() const {
  return context_->readbuffer_remaining;
}

int LibFtdiLink::Close() {
  return Note(ftdi_usb_close(context_.get()));
}

}  // namespace vxa
