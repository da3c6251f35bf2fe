// The terminal view in-process: where each text goes, the confirmation, the progress lines, the
// waiting and the interrupt, and the interrupt of an update whose install has been requested.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Version.h"
#include "app/Loader.h"
#include "app/cli/CliApp.h"
#include "app/cli/TerminalText.h"
#include "app/InstrumentSelection.h"
#include "app/Station.h"
#include "app/cli/Console.h"
#include "app/cli/SignalPipe.h"
#include "app/cli/StationDisplay.h"
#include "app/cli/JsonOutput.h"
#include "app/cli/RecordOutput.h"
#include "app/cli/TextOutput.h"
#include "app/cli/TerminalView.h"
#include "base/UniqueFd.h"
#include "text/Messages.h"
#include "link/Clock.h"
#include "sim/SimBus.h"
#include "tests/cli/JsonLines.h"
#include "tests/drivers/PtyPair.h"
#include "tests/support/ForwardingDriver.h"
#include "tests/support/TempDir.h"

namespace vxa::cli {
namespace {

using namespace std::chrono_literals;

// A FILE* whose text the test can read.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    std::fclose(file_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

// What the user types, through a pipe that the view is told is a terminal.
class TypedInput {
 public:
  TypedInput() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read_ = UniqueFd(fds[0]);
      write_ = UniqueFd(fds[1]);
    }
  }
  void Type(const std::string& text) {
    EXPECT_EQ(::write(write_.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void Close() { write_.Reset(); }
  int Fd() const { return read_.Get(); }

 private:
  UniqueFd read_;
  UniqueFd write_;
};

class TerminalViewTest : public ::testing::Test {
 protected:
  TerminalStreams Streams(bool inputIsTerminal, bool errIsTerminal) {
    TerminalStreams streams;
    streams.out = out_.file();
    streams.err = err_.file();
    streams.inputFd = input_.Fd();
    streams.inputIsTerminal = inputIsTerminal;
    streams.errIsTerminal = errIsTerminal;
    return streams;
  }

  VirtualClock clock_;
  SignalPipe signals_;
  MemoryStream out_;
  MemoryStream err_;
  TypedInput input_;
};

std::string Msg(int id) {
  return MessageText(id, 0);
}

TEST_F(TerminalViewTest, ResultsToStdoutProblemsToStderr) {
  TerminalView view(clock_, signals_, Streams(false, false), false);
  view.DeviceFound({"Модель: X", "Заводской номер: 1", "Версия прибора: 2", "Версия программы: 3"}, {});
  view.ShowReport({ReportKind::kInformation, "done"});
  view.ShowReport({ReportKind::kWarning, "\tcareful\r\nnow"});
  view.ShowReport({ReportKind::kError, "broken"});
  view.ShowReport({ReportKind::kNotAnswering, "not connected"});
  view.ShowReport({ReportKind::kInformation, "note"});
  view.ShowReport({ReportKind::kStandardError, "escaped"});
  // Where a failure was found and what it means for the instrument: a line each, in that order.
  view.ShowReport({ReportKind::kError, "mismatch", ConnErrorKind::kOther, "where", "consequence"});
  // An instrument that did not take the time: the version on stdout, the warning on stderr.
  view.NewFirmwareReported("1.23.1", std::nullopt);
  EXPECT_EQ(out_.Text(), "Модель: X\nЗаводской номер: 1\nВерсия прибора: 2\nВерсия программы: 3\ndone\nnote\n" +
                             FormatText(Msg(msg::kNewProgramVersion).c_str(), "1.23.1") + "\n");
  EXPECT_EQ(err_.Text(), "careful\nnow\nbroken\nnot connected\nescaped\nmismatch\nwhere\nconsequence\n" +
                             Msg(msg::kClockNotSet) + "\n");
}

TEST_F(TerminalViewTest, WithYesNothingIsAsked) {
  TerminalView view(clock_, signals_, Streams(false, false), true);
  EXPECT_TRUE(view.AskYesNo(StringTableText(str::kConfirmLoad), DefaultAnswer::kYes));
  EXPECT_EQ(err_.Text(), "");
  EXPECT_FALSE(view.ConfirmationRefused());
}

TEST_F(TerminalViewTest, WithoutATerminalTheConfirmationIsRefused) {
  TerminalView view(clock_, signals_, Streams(false, false), false);
  input_.Type("y\n");  // not a terminal: not read, whatever it holds
  EXPECT_FALSE(view.AskYesNo(StringTableText(str::kConfirmLoad), DefaultAnswer::kYes));
  EXPECT_TRUE(view.ConfirmationRefused());
  EXPECT_EQ(err_.Text(),
            "Загрузка требует подтверждения, но ввод идёт не с терминала.\n"
            "Чтобы загрузить без вопроса, добавьте --yes.\n");
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Each line of `text` shorter than `columns`.
void ExpectWithin(const std::string& text, size_t columns) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) EXPECT_LT(TextWidth(line), columns) << line;
}

// The question names what the update changes; it and the answers that count after an answer that
// is neither are wrapped at the width with every word whole, the prompt after them flush left.
TEST_F(TerminalViewTest, AsksUntilTheAnswerIsYesOrNo) {
  ::setenv("COLUMNS", "40", 1);  // no terminal behind the streams: COLUMNS is the width
  TerminalView view(clock_, signals_, Streams(true, false), false);
  view.DeviceFound({}, {"VXA-4410", "4410017", "1.0", "1.22.0"});
  input_.Type("может быть\nДа\n");
  EXPECT_TRUE(view.AskYesNo(StringTableText(str::kConfirmLoad), DefaultAnswer::kYes));
  ::unsetenv("COLUMNS");
  const std::string prompt = Msg(msg::kAnswerPrompt);
  const std::string err = err_.Text();
  const size_t asked = err.find(prompt);
  ASSERT_NE(asked, std::string::npos) << err;
  const std::string question = err.substr(0, asked);
  const std::string change =
      FormatText(Msg(msg::kVersionChange).c_str(), "4410017", "1.22.0", VXA_PRODUCT_VERSION);
  EXPECT_EQ(Words(question), Words(change + " " + StringTableText(str::kConfirmLoad)));
  ExpectWithin(question + prompt, 40);
  const std::string again = "\n" + prompt.substr(1);
  ASSERT_TRUE(err.ends_with(again)) << err;
  const std::string choices = err.substr(asked + prompt.size(), err.size() - again.size() - asked - prompt.size());
  EXPECT_EQ(Words(choices), Words(Msg(msg::kAnswerChoices)));
  EXPECT_NE(choices.find('\n'), std::string::npos);
  ExpectWithin(choices, 40);
}

// No is no; an instrument that has this version already is told so before the question.
TEST_F(TerminalViewTest, NoMeansNo) {
  TerminalView view(clock_, signals_, Streams(true, false), false);
  view.DeviceFound({}, {"VXA-4410", "4410017", "1.0", VXA_PRODUCT_VERSION});
  input_.Type("n\n");
  EXPECT_FALSE(view.AskYesNo("?", DefaultAnswer::kYes));
  EXPECT_FALSE(view.ConfirmationRefused());
  EXPECT_EQ(err_.Text(), FormatText(Msg(msg::kSameVersionAgain).c_str(), "4410017",
                                    VXA_PRODUCT_VERSION) +
                             "\n?" + Msg(msg::kAnswerPrompt));
}

TEST_F(TerminalViewTest, EndOfInputIsNotAYes) {
  TerminalView view(clock_, signals_, Streams(true, false), false);
  input_.Type("y");  // no line end before the input closes: still an answer
  input_.Close();
  EXPECT_TRUE(view.AskYesNo("?", DefaultAnswer::kYes));
  TerminalView again(clock_, signals_, Streams(true, false), false);
  EXPECT_FALSE(again.AskYesNo("?", DefaultAnswer::kYes));
}

TEST_F(TerminalViewTest, ProgressWithoutATerminalIsOneLinePerStage) {
  TerminalView view(clock_, signals_, Streams(false, false), false);
  view.StageChanged(Stage::kFileTransfer, Msg(msg::kStateFileTransfer));
  for (int position = 0; position <= 1000; position += 100) {
    view.ProgressChanged({position, 1000});
    clock_.Sleep(50ms);
  }
  view.StageChanged(Stage::kFileTransfer, Msg(msg::kStateFileTransfer));
  view.StageChanged(Stage::kVerification, Msg(msg::kStateVerification));
  view.FinishProgress();
  EXPECT_EQ(err_.Text(), Msg(msg::kStateFileTransfer) + "\n" + Msg(msg::kStateVerification) + "\n");
}

TEST_F(TerminalViewTest, ProgressOnATerminalIsRedrawnInPlace) {
  TerminalView view(clock_, signals_, Streams(false, true), false);
  view.StageChanged(Stage::kFileTransfer, "Stage");
  view.ProgressChanged({100, 1000});
  const std::string first = err_.Text();
  EXPECT_EQ(first, "\rStage\033[K");  // the stage at once; the label waits for the next redraw
  std::this_thread::sleep_for(TerminalView::kRedrawInterval);
  clock_.Sleep(1s);
  view.ProgressChanged({600, 1000});
  const std::string second = err_.Text().substr(first.size());
  EXPECT_EQ(second, "\rStage (600 из 1000), " +
                        FormatText(Msg(msg::kProgressRate).c_str(), 500 / 1024.0) + ", " +
                        FormatText(Msg(msg::kProgressTimeLeft).c_str(), 0, 1) + "\033[K");
  // A message starts a line of its own, after the progress line.
  view.ShowReport({ReportKind::kError, "broken"});
  EXPECT_EQ(err_.Text().substr(first.size() + second.size()), "\nbroken\n");
  view.FinishProgress();  // nothing drawn since: nothing to end
  EXPECT_EQ(err_.Text().substr(first.size() + second.size()), "\nbroken\n");
}

// Each stage's line stays in the scrollback with its last figures, however soon the stage ended
// after the previous redraw.
TEST_F(TerminalViewTest, EachStageEndsItsLineWithItsLastFigures) {
  TerminalView view(clock_, signals_, Streams(false, true), false);
  view.StageChanged(Stage::kFileTransfer, "Write");
  view.ProgressChanged({1000, 1000});  // too soon to be drawn
  view.StageChanged(Stage::kFlashing, "Install");
  view.FinishProgress();
  EXPECT_EQ(err_.Text(), "\rWrite\033[K\rWrite (1000 из 1000)\033[K\n\rInstall\033[K\n");
}

TEST_F(TerminalViewTest, TheInstallShowsTheTimeWaitedNextToItsStage) {
  TerminalView view(clock_, signals_, Streams(false, true), false);
  view.StageChanged(Stage::kFlashing, Msg(msg::kStateFlashing));
  std::this_thread::sleep_for(TerminalView::kRedrawInterval);
  view.VersionWaitChanged({42s, 300s});
  EXPECT_TRUE(err_.Text().ends_with("\rПрошивка... 0:42 из 5:00\033[K")) << err_.Text();
}

TEST_F(TerminalViewTest, AReadShowsNoTimeLeft) {
  TerminalView view(clock_, signals_, Streams(false, true), false);
  view.StageChanged(Stage::kFileRead, "Read");
  // The total of a read is what has arrived so far.
  view.ProgressChanged({1024, 1024});
  clock_.Sleep(1s);
  std::this_thread::sleep_for(TerminalView::kRedrawInterval);
  view.ProgressChanged({5120, 5120});
  const std::string text = err_.Text();
  // What has arrived, without an "of" that would pass for the file's size.
  EXPECT_NE(text.find("Read " + FormatText(Msg(msg::kBytesReceived).c_str(), 5120) + ", "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(FormatText(Msg(msg::kProgressRate).c_str(), 4.0)), std::string::npos) << text;
  EXPECT_EQ(text.find(FormatText(Msg(msg::kProgressTimeLeft).c_str(), 0, 0)), std::string::npos)
      << text;
}

// Keys typed while the stages run do not show, and do not stay for the shell: the terminal's
// modes come back as they were, on the normal way out and from a signal handler alike.
TEST_F(TerminalViewTest, TypingIsHiddenWhileTheStagesRunAndDiscardedAfter) {
  test::PtyPair pty;
  UniqueFd terminal(::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  auto modes = [&terminal] {
    termios now{};
    EXPECT_EQ(::tcgetattr(terminal.Get(), &now), 0);
    return now.c_lflag;
  };
  const tcflag_t before = modes();
  ASSERT_NE(before & ECHO, 0u);
  TerminalStreams streams = Streams(true, true);
  streams.inputFd = terminal.Get();
  TerminalView view(clock_, signals_, streams, true);
  view.StageChanged(Stage::kFileTransfer, "Write");
  EXPECT_EQ(modes() & (ECHO | ICANON | ISIG), static_cast<tcflag_t>(ICANON | ISIG));
  pty.Write("typed\n");
  pollfd typed{terminal.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&typed, 1, 5000), 1);  // the line has reached the terminal's input
  view.FinishProgress();
  EXPECT_EQ(modes(), before);
  char byte = 0;
  EXPECT_EQ(::read(terminal.Get(), &byte, 1), -1);  // thrown away, nothing for the shell

  // A second Ctrl-C ends the program from its handler, where no destructor runs.
  TerminalView again(clock_, signals_, streams, true);
  again.StageChanged(Stage::kFileRead, "Read");
  EXPECT_EQ(modes() & ECHO, 0u);
  RestoreTerminalNow();
  EXPECT_EQ(modes(), before);
}

TEST_F(TerminalViewTest, WakeEndsTheWaitEarly) {
  TerminalView view(clock_, signals_, Streams(false, false), false);
  std::thread waker([&view] {
    std::this_thread::sleep_for(20ms);
    view.Wake();
  });
  // Without the wake this would wait an hour (the test would time out, not fail slowly).
  view.ProcessEvents(std::chrono::hours(1));
  waker.join();
  EXPECT_FALSE(view.Interrupted());
  EXPECT_FALSE(view.Terminating());
}

TEST_F(TerminalViewTest, ASignalInterruptsOnceThroughTheHandler) {
  TerminalView view(clock_, signals_, Streams(false, false), false);
  int calls = 0;
  view.SetInterruptHandler([&calls] { ++calls; });
  view.ProcessEvents(0ms);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(::raise(SIGINT), 0);
  view.ProcessEvents(std::chrono::hours(1));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(view.Interrupted());
  EXPECT_TRUE(view.Terminating());
  view.ProcessEvents(0ms);
  EXPECT_EQ(calls, 1);
}

TEST_F(TerminalViewTest, ASignalAnswersTheConfirmationWithNo) {
  TerminalView view(clock_, signals_, Streams(true, false), false);
  ASSERT_EQ(::raise(SIGTERM), 0);
  EXPECT_FALSE(view.AskYesNo("?", DefaultAnswer::kYes));
  EXPECT_TRUE(view.Interrupted());
}

// The whole road of an interrupt once the install has been requested: the loader stops, the
// outcome is an interruption, what the user is told is that the instrument is installing, and
// the attempt is on record before the program ends.
TEST(TerminalInterruptTest, InterruptDuringTheInstallSaysTheInstrumentIsBusy) {
  test::ScopedTempDir dir;
  Failure failure;
  std::unique_ptr<AppendFile> file = OpenRecordFile("r.jsonl", &failure);
  ASSERT_NE(file, nullptr) << failure.text;
  std::optional<RecordOutput> output;
  RealClock clock;
  sim::LineTiming timing;
  timing.paced = false;  // the transfers take no line time; the install keeps its real seconds
  SignalPipe signals;
  std::optional<sim::SimBus> bus;
  std::optional<TerminalView> view;
  std::optional<Loader> loader;
  std::thread interrupter;
  {
    // As the program does: only the main thread takes the signal.
    SignalsBlockedForNewThreads block;
    bus.emplace(clock, timing);
    TerminalStreams streams;
    streams.out = stdout;
    streams.err = stderr;
    output.emplace(std::make_unique<TextOutput>(streams), std::move(file), "r.jsonl");
    view.emplace(clock, signals, streams, true, *output);
    loader.emplace(*view, *bus, clock);
  }
  sim::SimInstrument& instrument = bus->AttachInstrument();
  view->SetInterruptHandler([&loader] { loader->Interrupt(); });
  ASSERT_EQ(loader->Find(), Outcome::kFound);
  {
    SignalsBlockedForNewThreads block;
    interrupter = std::thread([&instrument] {
      while (!instrument.Installing()) std::this_thread::sleep_for(5ms);
      ::kill(::getpid(), SIGINT);
    });
  }
  const Outcome outcome = loader->Load();
  interrupter.join();

  EXPECT_TRUE(view->Interrupted());
  EXPECT_TRUE(loader->KernelRequested());
  EXPECT_EQ(outcome, Outcome::kInterrupted);
  EXPECT_EQ(loader->LastOutcome(), Outcome::kInterrupted);
  EXPECT_EQ(ExitStatus(loader->LastOutcome(), Asked::kUpdate), kExitInterrupted);
  EXPECT_STREQ(InterruptionConsequence(loader->LastOutcome(), Asked::kUpdate),
               Msg(msg::kInstallUnderWay).c_str());
  EXPECT_FALSE(instrument.ClockSet());  // nothing was sent after the interrupt
  output->Conclude(loader->LastOutcome());
  const nlohmann::json record = nlohmann::json::parse(dir.Read("r.jsonl"));
  EXPECT_EQ(record.value("outcome", ""), "interrupted");
  EXPECT_TRUE(record.value("install_requested", false));
  EXPECT_EQ(record["stages"].size(), 4u);
  EXPECT_TRUE(record["new_version"].is_null());
  loader.reset();
}

// Texts from the instrument reach the JSON output escaped, whatever they hold: quotes, a
// backslash, control bytes.
TEST_F(TerminalViewTest, JsonOutputEscapesTheInstrumentsTexts) {
  VirtualClock clock;
  sim::SimBus bus(clock);
  sim::InstrumentConfig config;
  config.model = "Q\"B\\C\x01\x1b[2J";
  sim::SimInstrument& instrument = bus.AttachInstrument(config);
  instrument.Inject(sim::FaultSpec{.fault = sim::Fault::RefuseRequest, .text = "\"нет\"\t\\"});
  JsonOutput output(Streams(false, false), "vxa4410-cli", "update");
  {
    TerminalView view(clock, signals_, Streams(false, false), true, output);
    Loader loader(view, bus, clock);
    ASSERT_EQ(loader.Find(), Outcome::kFound);
    const Outcome outcome = loader.Load();
    output.RunEnded({Asked::kUpdate, outcome, ExitStatus(outcome, Asked::kUpdate)});
  }
  std::vector<nlohmann::json> objects;
  EXPECT_EQ(test::CheckJsonLines(out_.Text(), &objects), "");
  const auto found = test::OfType(objects, "instrument");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["model"], config.model);
  const auto ended = test::OfType(objects, "outcome");
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0]["outcome"], "refused");
  EXPECT_EQ(ended[0]["text"], "\"нет\"\t\\");
  EXPECT_EQ(err_.Text(), "");
}

// Holds every call on an opened bridge until released: a station shown before any instrument
// has got anywhere.
class GateDriver final : public test::ForwardingDriver {
 public:
  using ForwardingDriver::ForwardingDriver;
  void BeforeDeviceCall(bool) override {
    std::unique_lock lock(mutex_);
    open_.wait(lock, [this] { return released_; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    open_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool released_ = false;
};

// A station's update of two instruments, shown on a terminal (redrawn in place) or not (each
// stage and ending a line).
TEST_F(TerminalViewTest, AStationShowsALinePerInstrument) {
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "no terminal");
    MemoryStream err;
    TerminalStreams streams = Streams(false, terminal);
    streams.err = err.file();
    std::array<VirtualClock, 2> clocks;
    sim::SimBus bus(clocks[0], sim::LineTiming{.paced = false});
    bus.AttachInstrument({}, &clocks[0]);
    bus.AttachInstrument({}, &clocks[1]);
    GateDriver gate(bus);
    std::vector<BridgeInfo> bridges;
    ASSERT_EQ(ListBridges(gate, &bridges), kFtOk);
    Station station(gate, [&](const BridgeInfo& bridge) -> Clock& {
      return clocks[bridge.index];
    });
    station.Start(bridges, {.job = Station::Job::kUpdate}, [] {});
    StationDisplay display(station, streams);
    display.Refresh();
    const std::string first = err.Text();
    gate.Release();
    station.Join();
    display.Refresh();
    const std::string second = err.Text().substr(first.size());

    std::string serial(1, ' ');
    serial += std::to_string(sim::InstrumentConfig{}.serialNumber);
    if (terminal) {
      const std::string searching = Msg(msg::kStationSearching);
      EXPECT_EQ(first, "\r0 SIM0: " + searching + "\033[K\n\r1 SIM1: " + searching + "\033[K\n");
      const std::string updated = Msg(msg::kOutcomeUpdated);
      EXPECT_EQ(second, CursorUp(2) + "\r0 SIM0" + serial + ": " + updated + "\033[K\n\r1 SIM1" +
                            serial + ": " + updated + "\033[K\n");
      continue;
    }
    EXPECT_EQ(first, "");
    std::string expected;
    for (const char* port : {"0 SIM0", "1 SIM1"}) {
      for (const int stage : {msg::kStateWriteRequest, msg::kStateFileTransfer,
                              msg::kStateVerification, msg::kStateFlashing, msg::kOutcomeUpdated}) {
        expected += port + serial + ": " + Msg(stage) + "\n";
      }
    }
    EXPECT_EQ(second, expected);
  }
}

}  // namespace
}  // namespace vxa::cli
