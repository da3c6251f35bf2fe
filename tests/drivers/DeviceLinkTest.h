#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa::test {

// One backend with the simulated instrument behind it, as the device-link tests meet it.
class LinkUnderTest {
 public:
  virtual ~LinkUnderTest() = default;
  virtual FtDriver& Driver() = 0;
  virtual Clock& clock() = 0;
};

struct LinkBackend {
  const char* name;
  // Null, with the reason in `error`, when the backend cannot be set up here.
  std::unique_ptr<LinkUnderTest> (*make)(std::string* error);
};

// The same tests for every backend; each platform instantiates it over the backends it has.
class DeviceLink : public ::testing::TestWithParam<LinkBackend> {
 protected:
  void SetUp() override;
  FtDriver& Driver() { return link_->Driver(); }
  Clock& clock() { return link_->clock(); }

  std::unique_ptr<LinkUnderTest> link_;
};

std::string LinkBackendName(const ::testing::TestParamInfo<LinkBackend>& info);

}  // namespace vxa::test
