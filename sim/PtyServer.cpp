#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace vxa::sim {
namespace {

// Room for one read from the pty (it hands out at most a few KB at a time) and for what the
// instrument takes in one go.
constexpr size_t kBufferBytes = size_t{1} << 16;
// Without inotify the server cannot be told when the program opens the port again: it then looks
// at the pty this often while the port is closed.
constexpr auto kRecheckWithoutWatch = std::chrono::milliseconds(100);

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool SetFlags(int fd, int statusFlags) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | statusFlags) != 0) return false;
  return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// A poll timeout that never wakes before `deadline`: rounded up to the microsecond, so that a wait
// that ends a fraction early cannot turn into a loop of zero-length waits.
timespec TimeoutUntil(Clock::TimePoint deadline, Clock::TimePoint now) {
  const auto wait = std::max(Clock::Duration::zero(), deadline - now);
  const auto micros = wait.count();
  return timespec{static_cast<time_t>(micros / 1'000'000),
                  static_cast<long>(micros % 1'000'000 * 1000)};
}

void EarliestOf(std::optional<Clock::TimePoint>* earliest, std::optional<Clock::TimePoint> other) {
  if (other && (!*earliest || *other < **earliest)) *earliest = other;
}

}  // namespace

std::unique_ptr<PtyServer> PtyServer::Open(Options options, std::string* error) {
  auto fail = [error](std::string text) -> std::unique_ptr<PtyServer> {
    if (error != nullptr) *error = std::move(text);
    return nullptr;
  };
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!master.IsOpen()) return fail(SystemError("posix_openpt"));
  // Non-blocking: the one thread must never sit in a read or a write while the other direction
  // has something due.
  if (!SetFlags(master.Get(), O_NONBLOCK)) return fail(SystemError("fcntl on the pty"));
  if (::grantpt(master.Get()) != 0) return fail(SystemError("grantpt"));
  if (::unlockpt(master.Get()) != 0) return fail(SystemError("unlockpt"));
  char name[PATH_MAX] = {};
  if (::ptsname_r(master.Get(), name, sizeof name) != 0) return fail(SystemError("ptsname_r"));

  // Raw mode for the slave, so that its line discipline never changes, adds or swallows a byte
  // (no CR/LF translation, no echo, no signal characters). On Linux the terminal settings asked
  // of the master are those of the slave, which need not be opened for it.
  termios raw{};
  if (::tcgetattr(master.Get(), &raw) != 0) return fail(SystemError("tcgetattr on the pty"));
  ::cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  if (::tcsetattr(master.Get(), TCSANOW, &raw) != 0) {
    return fail(SystemError("tcsetattr on the pty"));
  }

  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch.IsOpen() && ::inotify_add_watch(watch.Get(), name, IN_OPEN) < 0) watch.Reset();

  return std::unique_ptr<PtyServer>(
      new PtyServer(std::move(options), std::move(master), std::move(watch), name));
}

PtyServer::PtyServer(Options options, UniqueFd master, UniqueFd watch, std::string slavePath)
    : master_(std::move(master)),
      watch_(std::move(watch)),
      slavePath_(std::move(slavePath)),
      model_(options.instrument),
      line_(options.line),
      once_(options.once),
      reopenGrace_(options.reopenGrace),
      buffer_(kBufferBytes),
      staged_(kBufferBytes) {
  for (const FaultSpec& faultSpec : options.faults) model_.Inject(faultSpec);
}

PtyServer::~PtyServer() = default;

PtyServer::End PtyServer::Serve(int stopFd) {
  port_ = PortState{};
  for (;;) {
    const Clock::TimePoint now = Now();
    line_.Advance(now);
    DeliverArrived(now);
    if (line_.Unplugged()) return End::kUnplugged;

    bool blocked = false;
    if (port_.listening) {
      // A hang-up is seen again as POLLHUP in the wait.
      const Io io = WriteHost(now);
      if (io == Io::kFailed) return End::kFailed;
      blocked = io == Io::kWouldBlock;
    }
    if (port_.hangUpEnds && now >= *port_.hangUpEnds) return End::kHungUp;
    if (port_.recheckAt && now >= *port_.recheckAt) {
      port_.recheckAt.reset();
      port_.listening = true;
    }
    if (const std::optional<End> end = WaitAndTake(stopFd, now, blocked)) return *end;
  }
}

std::optional<PtyServer::End> PtyServer::WaitAndTake(int stopFd, Clock::TimePoint now,
                                                     bool blocked) {
  // The master is left out of the poll set while the slave is closed, since a closed slave makes
  // it report POLLHUP at once, every time: waiting on it then would be a busy loop.
  const bool listening = port_.listening;
  std::optional<Clock::TimePoint> deadline = line_.NextEvent(now, blocked || !listening);
  EarliestOf(&deadline, port_.hangUpEnds);
  EarliestOf(&deadline, port_.recheckAt);
  pollfd fds[3] = {
      {stopFd, POLLIN, 0},
      {listening ? master_.Get() : -1, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
      {watch_.Get(), POLLIN, 0},
  };
  timespec timeout{};
  if (deadline) timeout = TimeoutUntil(*deadline, now);
  if (::ppoll(fds, 3, deadline ? &timeout : nullptr, nullptr) < 0) {
    if (errno == EINTR) return std::nullopt;
    error_ = SystemError("poll");
    return End::kFailed;
  }
  if (fds[0].revents != 0) return End::kStopped;
  if (listening && !TakeHost(fds[1].revents)) return End::kFailed;
  if ((fds[2].revents & POLLIN) && TakeWatchEvents()) {
    connected_ = true;
    port_.listening = true;
    port_.recheckAt.reset();
    if (port_.closed) Reopened();
  }
  return std::nullopt;
}

bool PtyServer::TakeHost(short revents) {
  bool hungUp = (revents & (POLLHUP | POLLERR)) != 0;
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    // What the program wrote before it closed the port is still worth reading.
    const Io io = ReadHost();
    if (io == Io::kFailed) return false;
    if (io == Io::kHungUp) hungUp = true;
  }
  if (hungUp) {
    port_.listening = false;
    if (connected_) port_.closed = true;
    if (once_ && port_.closed && !port_.hangUpEnds) port_.hangUpEnds = Now() + reopenGrace_;
    if (!watch_.IsOpen()) port_.recheckAt = Now() + kRecheckWithoutWatch;
  } else if (port_.closed) {
    Reopened();  // found without inotify
  }
  return true;
}

void PtyServer::Reopened() {
  // The program opened the port afresh: like a reopened bridge, it starts with nothing left over
  // from before.
  port_.closed = false;
  port_.hangUpEnds.reset();
  line_.ClearToHost(Now());
  stagedHead_ = stagedTail_ = 0;
}

PtyServer::Io PtyServer::ReadHost() {
  for (;;) {
    const ssize_t n = ::read(master_.Get(), buffer_.data(), buffer_.size());
    if (n > 0) {
      connected_ = true;
      line_.FromHost(std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(n)), Now());
      continue;
    }
    if (n == 0) return Io::kHungUp;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kOk;
    // Linux reports a closed slave as EIO on the master.
    if (errno == EIO) return Io::kHungUp;
    error_ = SystemError("read from the pty");
    return Io::kFailed;
  }
}

PtyServer::Io PtyServer::WriteHost(Clock::TimePoint now) {
  for (;;) {
    if (stagedHead_ == stagedTail_) {
      stagedHead_ = 0;
      stagedTail_ = line_.TakeForHost(now, staged_);
      if (stagedTail_ == 0) return Io::kOk;
    }
    const ssize_t n =
        ::write(master_.Get(), staged_.data() + stagedHead_, stagedTail_ - stagedHead_);
    if (n > 0) {
      stagedHead_ += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Io::kWouldBlock;
    if (n < 0 && errno == EIO) return Io::kHungUp;
    error_ = SystemError("write to the pty");
    return Io::kFailed;
  }
}

void PtyServer::DeliverArrived(Clock::TimePoint now) {
  Clock::TimePoint arrivedAt{};
  // Piece by piece, each with its own time, however late this wake-up is.
  const std::span<uint8_t> piece = std::span<uint8_t>(buffer_).first(PtyLine::kPieceBytes);
  while (!line_.Unplugged()) {
    const size_t n = line_.TakeArrived(now, piece, &arrivedAt);
    if (n == 0) return;
    model_.Receive(std::span<const uint8_t>(buffer_.data(), n), arrivedAt, line_);
    // Nobody here reads the record of commands; a long session must not grow it without end.
    model_.ClearCommands();
  }
}

bool PtyServer::TakeWatchEvents() {
  alignas(inotify_event) char events[4096];
  bool opened = false;
  for (;;) {
    const ssize_t n = ::read(watch_.Get(), events, sizeof events);
    if (n <= 0) return opened;
    for (ssize_t offset = 0; offset < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + offset);
      if (event->mask & IN_OPEN) opened = true;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace vxa::sim
