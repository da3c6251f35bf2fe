#pragma once

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vxa {

class TVXA4410Connection;

// Carries a started transfer on, one traffic step at a time, until the connection is idle again,
// or runs a job of exchanges given to it. It sleeps on a condition while there is nothing to do;
// Resume is remembered even when it comes while the thread is still finishing the previous
// transfer, so no wake-up is ever lost.
class TrafficControlThread {
 public:
  // `current` names the connection to serve at the moment of each wake-up.
  explicit TrafficControlThread(std::function<TVXA4410Connection*()> current);
  ~TrafficControlThread();
  TrafficControlThread(const TrafficControlThread&) = delete;
  TrafficControlThread& operator=(const TrafficControlThread&) = delete;

  // Carries on the transfer just started on the current connection, and only that one.
  void Resume();
  // Runs `job` once, in place of a transfer: exchanges of the current connection that must not
  // hold the application thread, such as the wait for the new version. Stop aborts the
  // connection, so the job's exchanges and pauses end within a slice; the job is to give up once
  // the connection is aborted. The job must not throw. A job given while another waits replaces
  // it.
  void RunJob(std::function<void()> job);
  // Returns once the thread has let go of the connection it served, so that the caller may
  // destroy it. A transfer ends in a step on this thread, and the thread still looks at the
  // connection after that step: the waiting side learns of the end before the thread is done.
  void WaitUntilParked();
  // No exchange starts after this; the one in flight, if any, is finished. Joins the thread.
  void Stop();
  bool Stopped() const { return stop_.load(); }

 private:
  void Run();

  std::function<TVXA4410Connection*()> current_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable parked_;
  bool pending_ = false;
  std::function<void()> job_;
  bool serving_ = false;
  uint64_t transfer_ = 0;  // the transfer the last Resume was for
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vxa
