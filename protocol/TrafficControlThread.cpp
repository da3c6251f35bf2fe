#include "protocol/TrafficControlThread.h"

#include <utility>

#include "protocol/Connection.h"

namespace vxa {

TrafficControlThread::TrafficControlThread(std::function<TVXA4410Connection*()> current)
    : current_(std::move(current)), thread_([this] { Run(); }) {}

TrafficControlThread::~TrafficControlThread() { Stop(); }

void TrafficControlThread::Resume() {
  TVXA4410Connection* connection = current_();
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
    transfer_ = connection != nullptr ? connection->TransferNumber() : 0;
  }
  wake_.notify_one();
}

void TrafficControlThread::RunJob(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    job_ = std::move(job);
  }
  wake_.notify_one();
}

void TrafficControlThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_.store(true);
  }
  // The caller waits for the join: an exchange in flight on a line that keeps babbling must not
  // hold it for the whole drain.
  if (TVXA4410Connection* connection = current_()) connection->Abort();
  wake_.notify_one();
  parked_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TrafficControlThread::WaitUntilParked() {
  std::unique_lock lock(mutex_);
  parked_.wait(lock, [this] { return (!serving_ && !pending_ && !job_) || stop_.load(); });
}

void TrafficControlThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || job_ || stop_.load(); });
    if (stop_.load()) return;
    serving_ = true;
    // A job goes first; a transfer resumed meanwhile waits for the next turn.
    std::function<void()> job = std::exchange(job_, nullptr);
    if (!job) pending_ = false;
    const uint64_t transfer = transfer_;
    lock.unlock();
    if (job) {
      job();
      job = nullptr;  // whatever it holds is let go of here, not under the lock
    } else if (TVXA4410Connection* connection = current_()) {
      // A transfer can only be started once the last one is idle; the number tells a new start
      // that slipped in right after the last step from the transfer this thread was woken for.
      while (!stop_.load() && !connection->IsIdle() && connection->TransferNumber() == transfer) {
        connection->TrafficStep();
      }
    }
    lock.lock();
    serving_ = false;
    parked_.notify_all();
  }
}

}  // namespace vxa
