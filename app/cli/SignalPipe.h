#pragma once

#include <signal.h>

#include "base/UniqueFd.h"

namespace vxa::cli {

// The one channel through which the main thread is woken: a pipe that the traffic thread (Wake)
// and the handler of SIGINT and SIGTERM write a byte to, and that the main thread polls. The
// handler does nothing but record the signal and write its byte, which is all a signal handler
// may safely do; everything else happens on the main thread when it sees the byte.
//
// A second Ctrl-C ends the program at once with the signal's default action, for the case where
// the first one cannot be acted on soon (the search waits for the instrument without polling).
//
// One object at a time: the handler finds the pipe through process-wide state, which this object
// sets up and takes down again (restoring the previous handlers).
class SignalPipe {
 public:
  // Throws std::system_error when the pipe or the handlers cannot be set up.
  SignalPipe();
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // The end to poll for input.
  int ReadFd() const { return read_.Get(); }
  // From any thread: have the poller look again.
  void Wake();
  // Empties the pipe without waiting.
  void Drain();
  // The signal that arrived since construction, or 0.
  int Signal() const;

 private:
  UniqueFd read_;
  UniqueFd write_;
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
  struct sigaction previousHup_ {};
};

// Threads started while an object of this class lives do not take SIGINT and SIGTERM (a thread
// inherits the mask of the thread that starts it), so the signals always reach the main thread and
// never break a blocking call of the traffic thread half way through an exchange.
class SignalsBlockedForNewThreads {
 public:
  SignalsBlockedForNewThreads();
  ~SignalsBlockedForNewThreads();
  SignalsBlockedForNewThreads(const SignalsBlockedForNewThreads&) = delete;
  SignalsBlockedForNewThreads& operator=(const SignalsBlockedForNewThreads&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace vxa::cli
