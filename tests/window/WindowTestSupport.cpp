#include "tests/window/WindowTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QtGlobal>

#include <algorithm>

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
    ConfigureApplication(*application_, kLanguageRussian);
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

}  // namespace

void SaveWindowShot(const std::string& moment) {
  const QString folder = qEnvironmentVariable("VXA_WINDOW_SHOTS");
  if (folder.isEmpty()) return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const QString name = QString::fromStdString(std::string(test->test_suite_name()) + "." +
                                              test->name() + "-" + moment + ".png")
                           .replace('/', '_');
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<TForm1*>(widget) != nullptr) widget->grab().save(QDir(folder).filePath(name));
  }
}

void PacedClock::PaceWhile(std::function<bool()> when) {
  std::lock_guard lock(mutex_);
  paceWhile_ = std::move(when);
}

bool PacedClock::Pacing() const {
  return paceWhile_ && paceWhile_();
}

void PacedClock::Sleep(Duration duration) {
  if (std::this_thread::get_id() == window_) {
    inner_.Sleep(duration);
    return;
  }
  while (duration.count() > 0) {
    const Duration step = std::min(duration, kStep);
    AwaitTurn();
    inner_.Sleep(step);
    duration -= step;
  }
}

void PacedClock::AwaitTurn() {
  std::unique_lock lock(mutex_);
  if (!Pacing()) return;
  const uint64_t seen = turnCount_;
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        turns.push_back(inner_.Now());
        {
          std::lock_guard turnLock(mutex_);
          ++turnCount_;
        }
        turned_.notify_all();
        if (onTurn) onTurn();
      },
      Qt::QueuedConnection);
  // The window's thread may be held up by what it waits for (a join): pacing ends with it, and
  // the predicate is looked at again every few milliseconds.
  while (turnCount_ == seen && Pacing()) {
    turned_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

}  // namespace vxa::test
