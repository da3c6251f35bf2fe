#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/image/Resources.h"
#include "text/Messages.h"
#include "app/window/Form1.h"
#include "app/window/MessageBoxes.h"
#include "tests/window/WindowCases.h"
#include "link/Clock.h"
#include "link/FtDriver.h"
#include "sim/SimBus.h"
#include "tests/support/ForwardingDriver.h"

namespace vxa::test {

inline QString Utf8(const std::string& text) {
  return QString::fromUtf8(text);
}

// Virtual time in which the window's event loop is made to keep pace. While pacing, a sleep of any
// other thread moves the time on in steps of at most kStep, and each step waits until the
// window's thread has handled an event posted after the last one (a turn of its event loop). The
// window's own thread moves the time freely. So the time between two turns is what the window's
// thread spent itself plus at most one step: `turns` tells whether the window kept answering.
class PacedClock final : public Clock {
 public:
  static constexpr Duration kStep = std::chrono::milliseconds(100);

  // Made on the window's thread.
  PacedClock() = default;

  TimePoint Now() const override { return inner_.Now(); }
  void Sleep(Duration duration) override;
  LocalDateTime LocalTime() const override { return inner_.LocalTime(); }
  bool IsVirtual() const override { return true; }

  // Paces the other threads for as long as `when` holds; it is asked at each step, from any
  // thread. Null stops the pacing.
  void PaceWhile(std::function<bool()> when);

  // Touched on the window's thread only: the time at each turn, and what to do at each turn.
  std::vector<TimePoint> turns;
  std::function<void()> onTurn;

 private:
  bool Pacing() const;
  void AwaitTurn();

  VirtualClock inner_;
  const std::thread::id window_ = std::this_thread::get_id();
  // Turns are events posted to this object: those still queued when the clock goes are dropped.
  QObject context_;
  mutable std::mutex mutex_;
  std::condition_variable turned_;
  std::function<bool()> paceWhile_;
  uint64_t turnCount_ = 0;
};

// A window over the simulated bus, in virtual time. Every call to the bus passes the gate, which
// lets everything through until it is armed.
class FormFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    if (form) SaveWindowShot("end");
    form.reset();
    SetMessageLanguage(kLanguageRussian);
  }

  TForm1& MakeForm(std::span<const EmbeddedResource> resources = BuiltInResources(),
                   MessageLanguage language = kLanguageRussian) {
    form = std::make_unique<TForm1>(gate, clock, boxes, resources, nullptr, language);
    return *form;
  }

  template <typename Widget>
  Widget* Control(const char* name) {
    auto* widget = form->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  PacedClock clock;
  sim::SimBus bus{clock};
  GatedDriver gate{bus};
  ScriptedBoxes boxes;
  std::unique_ptr<TForm1> form;
};

}  // namespace vxa::test
