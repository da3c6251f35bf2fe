// The pty server in this process, on a thread of its own, with the test on the slave side as the
// program would be. Real time: the deadlines only guard against a hang.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

#include "link/Crc32.h"
#include "link/Packet.h"
#include "sim/PtyServer.h"

namespace vxa::sim {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kHangGuard = 20s;

std::vector<uint8_t> Command(uint8_t code, std::vector<uint8_t> payload = {}) {
  const size_t body = payload.empty() ? 0 : payload.size() + kCrcSize;
  std::vector<uint8_t> packet(kHeaderSize + body);  // sized once: GCC 12 at -O3 misreads a grow
  PacketHeader header(packet.data());
  header.SetStartMark(kStartMark);
  header.SetCode(code);
  header.SetLength(static_cast<uint32_t>(body));
  header.SetEndMark(kEndMark);
  if (!payload.empty()) {
    std::copy(payload.begin(), payload.end(), packet.begin() + kHeaderSize);
    PutU32(packet.data() + kHeaderSize + payload.size(), Crc32Jam(payload.data(), payload.size()));
  }
  return packet;
}

// A server running on its own thread; stopped and joined however the test ends.
class Served {
 public:
  explicit Served(PtyServer::Options options) {
    std::string error;
    server_ = PtyServer::Open(std::move(options), &error);
    EXPECT_TRUE(server_) << error;
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    stopRead_ = UniqueFd(fds[0]);
    stopWrite_ = UniqueFd(fds[1]);
    if (server_) {
      thread_ = std::thread([this] {
        end_ = server_->Serve(stopRead_.Get());
        ended_.set_value();
      });
    }
  }
  ~Served() { Join(); }

  PtyServer::End Join() {
    if (thread_.joinable()) {
      EXPECT_EQ(::write(stopWrite_.Get(), "x", 1), 1);
      thread_.join();
    }
    return end_;
  }
  // Waits for the server to end by itself (a hang guard stops it otherwise).
  PtyServer::End Ended() {
    EXPECT_EQ(endedFuture_.wait_for(kHangGuard), std::future_status::ready);
    return Join();
  }
  PtyServer& server() { return *server_; }

  UniqueFd OpenSlave() {
    UniqueFd fd(::open(server_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    EXPECT_TRUE(fd.IsOpen()) << server_->SlavePath();
    return fd;
  }

 private:
  std::unique_ptr<PtyServer> server_;
  UniqueFd stopRead_, stopWrite_;
  std::promise<void> ended_;
  std::future<void> endedFuture_ = ended_.get_future();
  PtyServer::End end_ = PtyServer::End::kFailed;
  std::thread thread_;
};

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  const auto deadline = SteadyClock::now() + kHangGuard;
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    ASSERT_TRUE(n < 0 && errno == EAGAIN) << "write failed: " << std::strerror(errno);
    ASSERT_LT(SteadyClock::now(), deadline) << "the server stopped taking bytes at " << done;
    pollfd fds{fd, POLLOUT, 0};
    ::poll(&fds, 1, 100);
  }
}

// Reads `count` bytes, or what came before the guard ran out or the port hung up.
std::vector<uint8_t> ReadSome(int fd, size_t count, std::chrono::milliseconds limit = kHangGuard) {
  std::vector<uint8_t> bytes;
  const auto deadline = SteadyClock::now() + limit;
  while (bytes.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    pollfd fds{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fds, 1, static_cast<int>(left.count())) <= 0) break;
    uint8_t chunk[4096];
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, count - bytes.size()));
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

// One answer: header, then the body it announces.
std::vector<uint8_t> Exchange(int fd, const std::vector<uint8_t>& command) {
  WriteAll(fd, command);
  std::vector<uint8_t> answer = ReadSome(fd, kHeaderSize);
  if (answer.size() < kHeaderSize) return answer;
  const std::vector<uint8_t> body = ReadSome(fd, PacketHeader(answer.data()).Length());
  answer.insert(answer.end(), body.begin(), body.end());
  return answer;
}

PtyServer::Options WithFault(FaultSpec fault) {
  PtyServer::Options options;
  options.faults.push_back(fault);
  return options;
}

bool IsAck(const std::vector<uint8_t>& answer, uint32_t number) {
  return answer.size() == kHeaderSize + 8 && answer[kOffAnswer] == kAnsAck &&
         GetU32(answer.data() + kHeaderSize) == number;
}

TEST(PtyServer, EveryByteValuePassesBothWaysUntouchedOnARawPort) {
  Served served({});
  UniqueFd port = served.OpenSlave();
  termios settings{};
  ASSERT_EQ(::tcgetattr(port.Get(), &settings), 0);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(settings.c_iflag & (ICRNL | IXON | ISTRIP | INLCR), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);

  // Instrument to program: the device information record, checked by its CRC.
  const std::vector<uint8_t> info = Exchange(port.Get(), Command(kCmdDeviceInfo));
  ASSERT_EQ(info.size(), kHeaderSize + kDeviceInfoSize + kCrcSize);
  EXPECT_EQ(Crc32Jam(info.data() + kHeaderSize, info.size() - kHeaderSize), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.data()) + kHeaderSize, 8), "VXA-4410");

  // Program to instrument: a file with all 256 byte values (^C, ^D, CR, XON, XOFF, DEL among
  // them), stored exactly.
  std::vector<uint8_t> data(256);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(255 - i);
  std::vector<uint8_t> block = {1, 0, 0, 0};
  block.insert(block.end(), data.begin(), data.end());
  EXPECT_TRUE(IsAck(
      Exchange(port.Get(), Command(kCmdWriteRequest, {'s', 'e', 'n', 's', 'o', 'r', '0', 0})), 0));
  EXPECT_TRUE(IsAck(Exchange(port.Get(), Command(kCmdWriteBlock, block)), 1));
  EXPECT_TRUE(IsAck(Exchange(port.Get(), Command(kCmdWriteBlock, {2, 0, 0, 0})), 2));

  EXPECT_EQ(served.Join(), PtyServer::End::kStopped);
  EXPECT_EQ(served.server().model().FileContent("sensor0"), data);
  EXPECT_EQ(served.server().model().counters().badCommands, 0u);
}

TEST(PtyServer, ProgramsWritesNeverStallWhileTheLineCarriesThem) {
  Served served({});
  UniqueFd port = served.OpenSlave();
  // Twenty times what a pty holds, and nothing read back meanwhile.
  const std::vector<uint8_t> junk(256 * 1024, 0x00);
  WriteAll(port.Get(), junk);
  EXPECT_EQ(Exchange(port.Get(), Command(kCmdDeviceInfo)).size(),
            kHeaderSize + kDeviceInfoSize + kCrcSize);
  EXPECT_EQ(served.Join(), PtyServer::End::kStopped);
  EXPECT_EQ(served.server().model().counters().discardedBytes, junk.size());
  EXPECT_EQ(served.server().line().counters().overrunBytes, 0u);
}

TEST(PtyServer, EndsWhenTheProgramHangsUpButNotWhenItReopensWithinTheGrace) {
  PtyServer::Options options;
  options.once = true;
  options.reopenGrace = 2s;
  Served served(options);
  {
    UniqueFd port = served.OpenSlave();
    EXPECT_EQ(Exchange(port.Get(), Command(kCmdDeviceInfo)).size(), 8706u);
  }
  // Open again soon, as a second search does (late enough for the server to have seen the
  // hang-up, well within its grace): the session goes on.
  std::this_thread::sleep_for(100ms);
  {
    UniqueFd port = served.OpenSlave();
    EXPECT_EQ(Exchange(port.Get(), Command(kCmdDeviceInfo)).size(), 8706u);
  }
  EXPECT_EQ(served.Ended(), PtyServer::End::kHungUp);
  EXPECT_TRUE(served.server().EverConnected());
  EXPECT_EQ(served.server().model().counters().commands, 2u);
}

TEST(PtyServer, WithoutOnceServesEveryOpenOfThePortUntilStopped) {
  PtyServer::Options options;
  options.reopenGrace = 10ms;  // only for `once`
  Served served(options);
  for (int run = 0; run < 3; ++run) {
    UniqueFd port = served.OpenSlave();
    // An answer nobody read before the last close is not left over for this run.
    EXPECT_EQ(Exchange(port.Get(), Command(kCmdDeviceInfo)).size(), 8706u) << run;
    WriteAll(port.Get(), Command(kCmdDeviceInfo));
    port.Reset();
    std::this_thread::sleep_for(200ms);
  }
  EXPECT_EQ(served.Join(), PtyServer::End::kStopped);
  EXPECT_EQ(served.server().model().counters().commands, 6u);
}

TEST(PtyServer, InjectedFaultsActAcrossThePty) {
  {
    Served served(WithFault({.fault = Fault::Unplug}));
    UniqueFd port = served.OpenSlave();
    WriteAll(port.Get(), Command(kCmdDeviceInfo));
    EXPECT_EQ(served.Ended(), PtyServer::End::kUnplugged);
    EXPECT_TRUE(ReadSome(port.Get(), 1, 200ms).empty());
  }
  {
    Served served(WithFault({.fault = Fault::Babble, .value = 50}));
    UniqueFd port = served.OpenSlave();
    WriteAll(port.Get(), Command(kCmdDeviceInfo));
    // 50 ms of noise in place of the answer: 13,578 bytes in whole USB packets.
    const std::vector<uint8_t> noise = ReadSome(port.Get(), 13578);
    ASSERT_EQ(noise.size(), 13578u);
    EXPECT_FALSE(noise[0] == (kStartMark & 0xFF) && noise[1] == (kStartMark >> 8));
    EXPECT_TRUE(ReadSome(port.Get(), 1, 200ms).empty());
    EXPECT_EQ(served.Join(), PtyServer::End::kStopped);
    EXPECT_EQ(served.server().model().counters().Fired(Fault::Babble), 1u);
  }
}

}  // namespace
}  // namespace vxa::sim
