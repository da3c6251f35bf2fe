#include "protocol/TrafficControlThread.h"

#include "protocol/Connection.h"

namespace vxa {

TrafficControlThread::TrafficControlThread(std::function<TVXA4410Connection*()> current)
    : current_(std::move(current)), thread_([this] { Run(); }) {}

TrafficControlThread::~TrafficControlThread() { Stop(); }

void TrafficControlThread::Resume() {
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  wake_.notify_one();
}

void TrafficControlThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_.store(true);
  }
  wake_.notify_one();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TrafficControlThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || stop_.load(); });
    if (stop_.load()) return;
    pending_ = false;
    lock.unlock();
    if (TVXA4410Connection* connection = current_()) {
      while (!stop_.load() && !connection->IsIdle()) connection->TrafficStep();
    }
    lock.lock();
  }
}

}  // namespace vxa
