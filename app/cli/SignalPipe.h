#pragma once

#include <chrono>
#include <memory>

namespace vxa::cli {

// The one channel through which the main thread is woken: by the traffic thread (Wake) and by
// Ctrl-C or a request to terminate. The platform's notice of those does nothing but record it and
// wake the channel; everything else happens on the main thread when it looks.
//   POSIX: a pipe that the handler of SIGINT and SIGTERM writes a byte to (SignalPipePosix.cpp).
//   Windows: an event that the console's control handler sets (SignalPipeWindows.cpp).
//
// A second Ctrl-C ends the program at once with the system's default action, for the case where
// the first one cannot be acted on soon (the search waits for the instrument without polling);
// the terminal's echo is put back first (RestoreTerminalNow).
//
// One object at a time: the handler finds the channel through process-wide state, which this
// object sets up and takes down again (restoring the previous handlers).
class SignalPipe {
 public:
  enum class Input { kReady, kWoken, kFailed };

  // Throws std::system_error when the channel or the handlers cannot be set up.
  SignalPipe();
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // From any thread: have the waiting side look again.
  void Wake();
  // Waits until woken, a signal has come, or `maxWait` has passed.
  void WaitFor(std::chrono::milliseconds maxWait);
  // Waits until the input behind `inputFd` has something to read, or as WaitFor without limit.
  Input WaitForInput(int inputFd);
  // One byte of the input: 1 when `byte` holds one, 0 at its end, -1 when there is nothing yet
  // (or the read was broken off by a signal), -2 when it failed.
  int ReadInputByte(int inputFd, char* byte);
  // Forgets the wake-ups so far, without waiting.
  void Drain();
  // The signal that arrived since construction (SIGINT, SIGTERM), or 0.
  int Signal() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Threads started while an object of this class lives do not take SIGINT and SIGTERM (a thread
// inherits the mask of the thread that starts it), so the signals always reach the main thread and
// never break a blocking call of the traffic thread half way through an exchange. Windows
// delivers Ctrl-C on a thread of its own: there it has nothing to do.
class SignalsBlockedForNewThreads {
 public:
  SignalsBlockedForNewThreads();
  ~SignalsBlockedForNewThreads();
  SignalsBlockedForNewThreads(const SignalsBlockedForNewThreads&) = delete;
  SignalsBlockedForNewThreads& operator=(const SignalsBlockedForNewThreads&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vxa::cli
