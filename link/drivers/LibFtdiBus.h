#pragma once

#include <string>

#include "link/drivers/FtdiSeam.h"
#include "link/drivers/LibFtdiLink.h"

namespace vxa {

// The bus as libftdi1 sees it. Each listing and each open gets a fresh libftdi context: a context
// belongs to one opened bridge for its whole life.
class LibFtdiBus final : public ftdi::FtdiBus {
 public:
  int FindAll(int productId, std::vector<ftdi::FtdiUsbDevice>* found) override;
  int OpenByDescription(int productId, const std::string& description,
                        std::unique_ptr<ftdi::FtdiLink>* link) override;
  int OpenByBusAddress(int bus, int address, std::unique_ptr<ftdi::FtdiLink>* link) override;
  std::string ErrorString() const override { return error_; }
  bool MayOpen(const std::string& node) const override;

 private:
  // A fresh context set up for opening, or null with the reason noted.
  LibFtdiLink::Context NewOpeningContext();
  int Opened(int result, LibFtdiLink::Context context, std::unique_ptr<ftdi::FtdiLink>* link);

  std::string error_;
};

}  // namespace vxa
