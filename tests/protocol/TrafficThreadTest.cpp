#include <condition_variable>
#include <mutex>
#include <thread>

#include "protocol/TrafficControlThread.h"
#include "tests/protocol/ProtocolFixture.h"
#include "tests/support/TempDir.h"

namespace vxa::test {
namespace {

// The waiting side as the application has it: woken by the connection when a transfer ends.
class Outcome {
 public:
  void Notify() {
    {
      std::lock_guard lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  // Real time bounds only a hang here; the transfers themselves run in virtual time.
  bool WaitFor(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return count_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

class TrafficThreadTest : public ProtocolTest {
 protected:
  void SetUp() override {
    BindBuffer(3000);
    instrument_.SetFileContent("swap", data_);
    connection_->SetOutcomeListener([this] { outcome_.Notify(); });
  }
  Outcome outcome_;
  TrafficControlThread thread_{[this] { return connection_.get(); }};
};

TEST_F(TrafficThreadTest, ManyShortTransfersBackToBackNeverLoseAWakeUp) {
  int ended = 0;
  for (int round = 0; round < 150; ++round) {
    ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 3000) << errorText_;
    thread_.Resume();
    ASSERT_TRUE(outcome_.WaitFor(++ended)) << "write " << round << " never finished";
    ASSERT_TRUE(connection_->Done());
    ASSERT_EQ(connection_->StartRead(kFileSwap, errorText_), 0);
    thread_.Resume();
    ASSERT_TRUE(outcome_.WaitFor(++ended)) << "read " << round << " never finished";
    ASSERT_TRUE(connection_->Done());
    ASSERT_EQ(buffer_->GetPosition(), 3000);
  }
  EXPECT_EQ(instrument_.FileContent("swap"), data_);
}

TEST_F(TrafficThreadTest, ATransferStartedWithoutAResumeIsNotCarriedOn) {
  // The install request is such a start: its answer is all there is to it, and the traffic
  // thread must not take it for more of the transfer it has just finished.
  for (int round = 0; round < 300; ++round) {
    ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 3000);
    thread_.Resume();
    ASSERT_TRUE(outcome_.WaitFor(round + 1));
    ASSERT_EQ(connection_->StartWrite(kFileDevInfo, errorText_), 3000);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_TRUE(instrument_.WriteBlocks("dev_info").empty()) << "round " << round;
    ASSERT_FALSE(connection_->IsIdle());
    connection_->SetOutcomeListener({});
    while (!connection_->IsIdle()) connection_->TrafficStep();  // finish it on this thread
    connection_->SetOutcomeListener([this] { outcome_.Notify(); });
  }
}

TEST_F(TrafficThreadTest, AResumeWithNothingStartedSendsNothing) {
  instrument_.ClearCalls();
  thread_.Resume();
  thread_.Stop();
  EXPECT_TRUE(instrument_.Commands().empty());
}

TEST_F(TrafficThreadTest, AFailureOnTheThreadReachesTheWaitingSide) {
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 3000);
  instrument_.FailNextCall(sim::Call::Write, kFtIoError);
  thread_.Resume();
  ASSERT_TRUE(outcome_.WaitFor(1));
  EXPECT_EQ(ErrorText(), "Ошибка записи в файл FTDI код 4");
  EXPECT_EQ(ErrorText(), "Ошибка записи в файл FTDI код 4");  // until the next start
}

TEST_F(TrafficThreadTest, StoppingEndsTheTransferWithNoFurtherExchange) {
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 3000);
  instrument_.Inject(sim::FaultSpec{.fault = sim::Fault::Silent, .count = -1});
  thread_.Resume();
  thread_.Stop();  // returns although the instrument never answers
  const size_t sent = instrument_.Commands().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(instrument_.Commands().size(), sent);
  EXPECT_TRUE(thread_.Stopped());
}

TEST_F(TrafficThreadTest, AJobRunsOnTheThreadUntilAStopAbortsItsConnection) {
  // As the version wait does: ask an instrument that keeps silent, again and again.
  instrument_.Inject(sim::FaultSpec{.fault = sim::Fault::Silent, .count = -1});
  std::thread::id ranOn;
  thread_.RunJob([&] {
    ranOn = std::this_thread::get_id();
    while (!connection_->Aborted()) {
      try {
        connection_->QueryGinf();
      } catch (const TVXA4410ConnError&) {
      }
      outcome_.Notify();
    }
  });
  ASSERT_TRUE(outcome_.WaitFor(2));
  thread_.Stop();
  EXPECT_NE(ranOn, std::this_thread::get_id());
  const size_t sent = instrument_.Commands().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(instrument_.Commands().size(), sent);
}

TEST(TransferLogTest, ASmallWriteAndReadLogEveryStepByteForByte) {
  ScopedTempDir dir;
  VirtualClock clock;
  sim::SimBus bus(clock);
  bus.AttachInstrument();
  TVXA4410Connection connection(bus, clock);
  connection.Open();
  ASSERT_TRUE(connection.SetLogging(true, false));
  const std::vector<uint8_t> data = TestBytes(100);
  TResReadTransBuffer buffer{std::span<const uint8_t>(data)};
  connection.Bind(&buffer);
  std::string errorText;
  ASSERT_EQ(connection.StartWrite(kFileSwap, errorText), 100);
  while (!connection.IsIdle()) connection.TrafficStep();
  ASSERT_EQ(connection.StartRead(kFileSwap, errorText), 0);
  while (!connection.IsIdle()) connection.TrafficStep();
  ASSERT_TRUE(connection.Done());
  connection.SetLogging(false, false);
  EXPECT_EQ(dir.Read(kLogFileName),
            "CMD Code=50 Len=5\n"
            "rx_stt_WRQ: ANS(0x35)\n"
            "tx_stt_Write: CMD(0x34) BLK(1)\tDLEN(104) \n"
            "CMD Code=52 Len=104\n"
            "rx_stt_Write: ANS(0x35) BLK(1)\n"
            "tx_stt_Write: CMD(0x34) BLK(2)\tDLEN(4) \n"
            "CMD Code=52 Len=4\n"
            "rx_stt_Write: ANS(0x35) BLK(2)\n"
            "CMD Code=51 Len=5\n"
            "rx_stt_RRQ: ANS(0x34) DLEN(00000104)\n"
            "tx_state_Read: CMD(0x35) DLEN(00000004) BLOCK(00000001)\n"
            "CMD Code=53 Len=4\n"
            "rx_stt_Read: ANS(0x34) DLEN(00000004) BLOCK(0002)\n");
}

}  // namespace
}  // namespace vxa::test
