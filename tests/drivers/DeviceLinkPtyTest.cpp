// The device-link tests over the Linux serial-port backend, with the pty simulator serving the
// instrument on a thread of this process.
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "base/UniqueFd.h"
#include "link/drivers/SerialPortDriver.h"
#include "sim/PtyServer.h"
#include "tests/drivers/DeviceLinkTest.h"

namespace vxa::test {
namespace {

class PtyLink final : public LinkUnderTest {
 public:
  static std::unique_ptr<LinkUnderTest> Make(std::string* error) {
    std::unique_ptr<sim::PtyServer> server = sim::PtyServer::Open({}, error);
    int fds[2];
    if (!server || ::pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    return std::unique_ptr<LinkUnderTest>(new PtyLink(std::move(server), fds));
  }
  ~PtyLink() override {
    if (::write(stopWrite_.Get(), "x", 1) != 1) ADD_FAILURE() << "cannot stop the pty server";
    thread_.join();
  }
  FtDriver& Driver() override { return driver_; }
  Clock& clock() override { return clock_; }

 private:
  PtyLink(std::unique_ptr<sim::PtyServer> server, const int fds[2])
      : server_(std::move(server)),
        stopRead_(fds[0]),
        stopWrite_(fds[1]),
        driver_(server_->SlavePath()),
        thread_([this] { server_->Serve(stopRead_.Get()); }) {}

  std::unique_ptr<sim::PtyServer> server_;
  UniqueFd stopRead_;
  UniqueFd stopWrite_;
  SerialPortDriver driver_;
  RealClock clock_;
  std::thread thread_;
};

INSTANTIATE_TEST_SUITE_P(Linux, DeviceLink,
                         ::testing::Values(LinkBackend{"SerialPortOnPty", PtyLink::Make}),
                         LinkBackendName);

}  // namespace
}  // namespace vxa::test
