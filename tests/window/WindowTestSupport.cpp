#include "tests/window/WindowTestSupport.h"

#include <QApplication>
#include <QtGlobal>

#include "app/window/Application.h"

namespace vxa::test {
namespace {

// The window tests need one application object for the whole run, on the offscreen platform
// unless the caller chose another.
class QtApplicationEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    ConfigureApplication(*application_);
  }
  void TearDown() override { application_.reset(); }

 private:
  char name_[12] = "window_test";
  char* argv_[2] = {name_, nullptr};
  int argc_ = 1;
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

class GatedDevice final : public FtDevice {
 public:
  GatedDevice(GatedDriver& driver, std::unique_ptr<FtDevice> inner)
      : driver_(driver), inner_(std::move(inner)) {}

  FtStatus ResetDevice() override { return inner_->ResetDevice(); }
  FtStatus SetLatencyTimer(uint8_t ms) override { return inner_->SetLatencyTimer(ms); }
  FtStatus SetUSBParameters(uint32_t in, uint32_t out) override {
    return inner_->SetUSBParameters(in, out);
  }
  FtStatus SetTimeouts(uint32_t read, uint32_t write) override {
    return inner_->SetTimeouts(read, write);
  }
  FtStatus SetDataCharacteristics(uint8_t word, uint8_t stop, uint8_t parity) override {
    return inner_->SetDataCharacteristics(word, stop, parity);
  }
  FtStatus GetModemStatus(uint32_t* status) override { return inner_->GetModemStatus(status); }
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override {
    return inner_->SetFlowControl(mode, xon, xoff);
  }
  FtStatus SetDivisor(uint16_t divisor) override { return inner_->SetDivisor(divisor); }
  FtStatus Purge(uint32_t mask) override { return inner_->Purge(mask); }
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override {
    driver_.BeforeWrite();
    return inner_->Write(buffer, count, written);
  }
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override {
    return inner_->Read(buffer, count, read);
  }
  FtStatus GetStatus(uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    return inner_->GetStatus(rx, tx, events);
  }
  FtStatus Close() override { return inner_->Close(); }

 private:
  GatedDriver& driver_;
  std::unique_ptr<FtDevice> inner_;
};

}  // namespace

BoxAnswer ScriptedBoxes::Show(const BoxRequest& request) {
  shown.push_back(request);
  if (onShow) onShow(request);
  if (request.buttons == BoxButtons::kOk) return BoxAnswer::kOk;
  return !answerYes || answerYes(request) ? BoxAnswer::kYes : BoxAnswer::kNo;
}

void ExpectBox(const BoxRequest& box, BoxSource source, BoxSymbol symbol,
               const std::string& caption, const std::string& text) {
  EXPECT_EQ(box.source, source) << box.text;
  EXPECT_EQ(box.symbol, symbol) << box.text;
  EXPECT_EQ(box.caption, caption) << box.text;
  EXPECT_EQ(box.text, text);
}

void GatedDriver::Arm(std::thread::id free, int passFree) {
  std::lock_guard lock(mutex_);
  armed_ = true;
  open_ = false;
  free_ = free;
  passFree_ = passFree;
  counted_ = 0;
}

void GatedDriver::Open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  changed_.notify_all();
}

void GatedDriver::WaitUntilHeld() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return held_ > 0; });
}

int GatedDriver::HeldWrites() const {
  std::lock_guard lock(mutex_);
  return held_;
}

FtStatus GatedDriver::OpenByDescription(const std::string& description,
                                        std::unique_ptr<FtDevice>* device) {
  std::unique_ptr<FtDevice> inner;
  const FtStatus status = inner_.OpenByDescription(description, &inner);
  if (status == kFtOk) *device = std::make_unique<GatedDevice>(*this, std::move(inner));
  return status;
}

void GatedDriver::BeforeWrite() {
  std::unique_lock lock(mutex_);
  if (!armed_ || open_ || std::this_thread::get_id() == free_) return;
  if (++counted_ <= passFree_) return;
  ++held_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return open_; });
}

}  // namespace vxa::test
