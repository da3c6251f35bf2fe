// The programs as a user runs them: vxa4410-sim serves the instrument on a pseudo-terminal in one
// process, vxa4410-cli talks to it through the serial-port backend in another. Everything runs in
// real time; the deadlines below only keep a hung program from hanging the suite.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <sstream>
#include <vector>

#include "Version.h"
#include "app/image/Resources.h"
#include "link/Packet.h"
#include "tests/e2e/Child.h"
#include "tests/support/TempDir.h"

namespace vxa::e2e {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartLimit = 10s;
constexpr auto kShortRunLimit = 60s;
constexpr auto kUpdateLimit = 110s;

constexpr const char* kSuccessText = "Прошивка прибора успешно завершена";
constexpr const char* kFlashingStage = "Прошивка...";
constexpr const char* kOldVersion = "program version 1.22.0";

class EndToEnd : public ::testing::Test {
 protected:
  // Starts the simulator and returns the port it printed first.
  std::string StartSim(std::vector<std::string> args = {}) {
    args.insert(args.begin(), VXA_SIM_PROGRAM);
    std::string error;
    sim_ = Child::Start(args, &error);
    if (!sim_) {
      ADD_FAILURE() << error;
      return {};
    }
    std::optional<std::string> port = sim_->ReadLine(kStartLimit);
    if (!port || !port->starts_with("/dev/")) {
      ADD_FAILURE() << "vxa4410-sim printed no port first: " << port.value_or("(nothing)");
      return {};
    }
    return *port;
  }

  // The terminal program, run as the unprivileged user nobody when `unprivileged` and the tests
  // run as root (otherwise as the user they run as, unprivileged already): what only root may
  // do, such as opening a port another program left exclusive, must not be what makes it pass.
  static std::unique_ptr<Child> StartCli(std::vector<std::string> args, bool unprivileged) {
    args.insert(args.begin(), VXA_CLI_PROGRAM);
    if (unprivileged && ::geteuid() == 0) {
      args.insert(args.begin(),
                  {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    std::string error;
    std::unique_ptr<Child> cli = Child::Start(args, &error);
    if (!cli) ADD_FAILURE() << error;
    return cli;
  }

  static Child::Result RunCli(std::vector<std::string> args, std::chrono::milliseconds limit,
                              bool unprivileged = false) {
    std::unique_ptr<Child> cli = StartCli(std::move(args), unprivileged);
    if (!cli) return {};
    Child::Result result = cli->Wait(limit);
    EXPECT_TRUE(result.finished) << "vxa4410-cli still running; stderr so far:\n" << result.err;
    EXPECT_EQ(result.signal, 0) << result.err;
    return result;
  }

  // With --once the simulator ends by itself once the program has closed the port for good.
  Child::Result SimAfterSession() {
    Child::Result result = sim_->Wait(kShortRunLimit);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("the program closed the port"), std::string::npos) << result.err;
    return result;
  }

  std::unique_ptr<Child> sim_;
};

TEST_F(EndToEnd, InfoPrintsTheFourLinesAndTheSimulatorEndsWithTheSession) {
  const std::string port = StartSim({"--once"});
  ASSERT_FALSE(port.empty());
  const Child::Result cli = RunCli({"--port", port, "info"}, kShortRunLimit);
  EXPECT_EQ(cli.exitCode, 0) << cli.err;
  EXPECT_EQ(cli.out,
            "Модель: VXA-4410\nЗаводской номер: 4410017\nВерсия прибора: 2.1\n"
            "Версия программы: 1.22.0\n");
  EXPECT_NE(SimAfterSession().err.find(kOldVersion), std::string::npos);
}

TEST_F(EndToEnd, RefusedWriteRequestFailsTheUpdateWithTheInstrumentsText) {
  const std::string port = StartSim({"--once", "--fault", "refuse-request"});
  ASSERT_FALSE(port.empty());
  const Child::Result cli = RunCli({"--port", port, "--yes", "update"}, kShortRunLimit);
  EXPECT_EQ(cli.exitCode, 1);
  EXPECT_NE(cli.err.find("Запрос отклонён"), std::string::npos) << cli.err;
  EXPECT_EQ(cli.out.find(kSuccessText), std::string::npos);
  const Child::Result sim = SimAfterSession();
  EXPECT_NE(sim.err.find("1 fault fired"), std::string::npos) << sim.err;
  EXPECT_NE(sim.err.find(kOldVersion), std::string::npos) << sim.err;
}

TEST_F(EndToEnd, MissingPortIsNoInstrument) {
  const Child::Result cli = RunCli({"--port", "/dev/nonexistent", "info"}, kShortRunLimit);
  EXPECT_EQ(cli.exitCode, 3);
  EXPECT_TRUE(cli.out.empty()) << cli.out;
  EXPECT_NE(cli.err.find("Не найдено"), std::string::npos) << cli.err;
  EXPECT_NE(cli.err.find("/dev/nonexistent"), std::string::npos) << cli.err;  // and why
}

TEST_F(EndToEnd, SimulatorEndsCleanlyOnStopSignalsAndRejectsBadArguments) {
  for (const int signal : {SIGTERM, SIGINT}) {
    ASSERT_FALSE(StartSim({"--install-time", "0.5", "--no-cts"}).empty());
    sim_->Signal(signal);
    const Child::Result result = sim_->Wait(kShortRunLimit);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << "signal " << signal << ": " << result.err;
    EXPECT_NE(result.err.find("stopped"), std::string::npos) << result.err;
  }
  for (const char* bad : {"--fault=no-such-fault", "--install-time=-1", "--swap-out", "--bogus"}) {
    std::string error;
    std::unique_ptr<Child> sim = Child::Start({VXA_SIM_PROGRAM, bad}, &error);
    ASSERT_TRUE(sim) << error;
    const Child::Result result = sim->Wait(kShortRunLimit);
    EXPECT_EQ(result.exitCode, 2) << bad;
    EXPECT_TRUE(result.out.empty()) << bad << ": no port for a server that never started";
    EXPECT_NE(result.err.find("usage:"), std::string::npos) << result.err;
  }
}

// ---- Real-time transfers of the whole image (labelled "slow") --------------------------------

// The instrument stays plugged in between runs on one port: an information run and two updates,
// the simulator left running between them, the second update run by an unprivileged user. A
// second program started during each update is refused and changes nothing: no block of either
// update is lost on the pty, so none is sent twice; what the instrument stored is the image.
TEST_F(EndToEnd, SlowFullUpdateInstallsTheNewVersion) {
  test::ScopedTempDir dir;  // the program's log goes to the current directory
  const std::string swapOut = (dir.path() / "swap.bin").string();
  const std::string port = StartSim({"--install-time", "1", "--swap-out", swapOut});
  ASSERT_FALSE(port.empty());
  const Child::Result info = RunCli({"--port", port, "info"}, kShortRunLimit);
  EXPECT_EQ(info.exitCode, 0) << info.err;
  // What the unprivileged user needs: the port, as a udev rule gives it, and the log's folder.
  ASSERT_EQ(::chmod(port.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const std::string busy = "порт " + port + " занят другой программой";

  const EmbeddedResource* image =
      FindEmbeddedResource(BuiltInResources(), kBootImageName, kBootImageType);
  ASSERT_NE(image, nullptr);
  // The data blocks and the empty one after them, 1, 2, 3, ... each once.
  const size_t blocks = (image->size + kWriteBlockData - 1) / kWriteBlockData + 1;
  std::vector<int> once(blocks);
  std::iota(once.begin(), once.end(), 1);
  for (const char* before : {"1.22.0", VXA_PRODUCT_VERSION}) {
    SCOPED_TRACE(before);
    const bool unprivileged = before != std::string("1.22.0");
    std::filesystem::remove(dir.path() / "log_file.txt");
    std::unique_ptr<Child> update =
        StartCli({"--port", port, "--yes", "--log", "update"}, unprivileged);
    ASSERT_TRUE(update);
    // The first line comes once the instrument is found: the port is held from here to the end.
    ASSERT_EQ(update->ReadLine(kShortRunLimit), "Модель: VXA-4410");
    const Child::Result second = RunCli({"--port", port, "info"}, kShortRunLimit, unprivileged);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find(busy), std::string::npos) << second.err;
    EXPECT_TRUE(second.out.empty()) << second.out;
    const Child::Result cli = update->Wait(kUpdateLimit);
    ASSERT_TRUE(cli.finished) << cli.err;
    EXPECT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_NE(cli.out.find(std::string("Версия программы: ") + before + "\n"), std::string::npos)
        << cli.out;
    EXPECT_NE(cli.out.find(std::string("Прибор сообщает версию программы ") + VXA_PRODUCT_VERSION +
                           "\nЧасы прибора установлены: "),
              std::string::npos)
        << cli.out;
    EXPECT_NE(cli.out.find(kSuccessText), std::string::npos) << cli.out;

    std::istringstream log(dir.Read("log_file.txt"));
    std::vector<int> sent;
    for (std::string line; std::getline(log, line);) {
      int block = 0;
      if (std::sscanf(line.c_str(), "tx_stt_Write: CMD(0x34) BLK(%d)", &block) == 1) {
        sent.push_back(block);
      }
    }
    EXPECT_EQ(sent, once);
  }

  sim_->Signal(SIGTERM);
  const Child::Result sim = sim_->Wait(kShortRunLimit);
  EXPECT_EQ(sim.exitCode, 0) << sim.err;
  EXPECT_NE(sim.err.find(" 0 answers dropped, 0 broken commands dropped, 0 blocks resent, "),
            std::string::npos)
      << sim.err;
  EXPECT_NE(sim.err.find(std::string("program version ") + VXA_PRODUCT_VERSION), std::string::npos)
      << sim.err;
  const std::string swap = dir.Read("swap.bin");
  EXPECT_TRUE(swap.size() == image->size && std::memcmp(swap.data(), image->data, image->size) == 0)
      << "the swap written out is not the image: " << swap.size() << " bytes";
}

TEST_F(EndToEnd, SlowCorruptedReadBackStopsBeforeTheInstall) {
  const std::string port = StartSim({"--once", "--fault", "corrupt-read-back:1:0:1000"});
  ASSERT_FALSE(port.empty());
  const Child::Result cli = RunCli({"--port", port, "--yes", "update"}, kUpdateLimit);
  EXPECT_EQ(cli.exitCode, 1);
  EXPECT_NE(cli.err.find("Несовпадение проверяемых данных"), std::string::npos) << cli.err;
  EXPECT_EQ(cli.err.find(kFlashingStage), std::string::npos) << cli.err;
  EXPECT_EQ(cli.out.find(kSuccessText), std::string::npos);
  EXPECT_NE(SimAfterSession().err.find(kOldVersion), std::string::npos);
}

}  // namespace
}  // namespace vxa::e2e
