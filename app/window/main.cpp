// vxa4410-loader: the updater in its window.

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "app/Backend.h"
#include "app/CommandLine.h"
#include "app/Outcome.h"
#include "app/VersionText.h"
#include "app/window/Application.h"
#include "app/window/Form1.h"
#include "app/window/MessageBoxes.h"
#include "text/Language.h"
#include "text/Messages.h"

namespace {

constexpr char kProgramName[] = "vxa4410-loader";

// An error that escaped everything else, in the display the window uses for errors that escape
// its handlers.
void ShowStandardError(vxa::MessageBoxes& boxes, const std::string& text) noexcept {
  try {
    boxes.Show(vxa::StandardErrorBox(text));
  } catch (...) {
    // Nothing is left to show it with.
  }
}

int Run(QApplication& application, vxa::MessageBoxes& boxes, int argc, char** argv,
        vxa::MessageLanguage language) {
  // Qt has taken its own options out of argv by now.
  const std::string commandLine = vxa::JoinArguments(argc, argv);
  const vxa::CommandLineOptions options = vxa::ParseCommandLine(commandLine);
  if (!options.errors.empty()) {
    boxes.Show(vxa::SystemBox(vxa::BoxKind::kError, options.errors.front()));
    return vxa::TForm1::kExitFailed;
  }
  vxa::BackendOptions backendOptions;
  backendOptions.sim = options.sim;
  backendOptions.driver = options.driver;
  backendOptions.port = options.port;
  std::string reason;
  const std::unique_ptr<vxa::Backend> backend = vxa::CreateBackend(backendOptions, &reason);
  if (!backend) {
    boxes.Show(vxa::SystemBox(vxa::BoxKind::kError, reason));
    return vxa::TForm1::kExitFailed;
  }

  vxa::TForm1 form(backend->Driver(), backend->clock(), boxes, vxa::BuiltInResources(), nullptr,
                   language);
  form.ParseCommandLine(commandLine);
  form.show();
  // Told to end while the window was being made: it has been shown, and the program ends now.
  if (form.Terminating()) return form.ExitStatus();
  application.exec();
  return form.ExitStatus();
}

// --help and --version answer on the terminal and open no window, so they need no display: they
// are settled before Qt looks for one. An answer that could not be written is a failure.
bool AnswersOnTerminal(int argc, char** argv, int* exitCode) {
  const vxa::CommandLineOptions options = vxa::ParseCommandLine(vxa::JoinArguments(argc, argv));
  if (options.help) {
    std::fputs(vxa::WindowHelp(kProgramName).c_str(), stdout);
  } else if (options.version) {
    std::fputs(vxa::VersionText(kProgramName).c_str(), stdout);
  } else {
    return false;
  }
  *exitCode = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
  return true;
}

// Whether Qt has a display to open the window on, or a platform named that needs none (the
// offscreen one of the tests). One named that cannot connect after all ends in WithoutDisplay.
bool DisplayNamed(int argc, char** argv) {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  for (int index = 1; index < argc; ++index) {
    if (std::string_view(argv[index]) == "-platform") return true;
  }
  return false;
}

void SayWithoutDisplay() {
  std::fprintf(stderr, "%s\n",
               vxa::FormatText(VXA_MSG(vxa::msg::kWindowNoDisplay), kProgramName).c_str());
}

// Qt ends the program with a fatal message when its platform plugin cannot connect to the display;
// the user is told what to use instead, and the program ends as any failed run does.
QtMessageHandler qtHandler = nullptr;
void WithoutDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qtHandler(type, context, text);
    return;
  }
  SayWithoutDisplay();
  std::_Exit(vxa::TForm1::kExitFailed);
}

// The window's options are few and spelt with one dash ("-sim"); Qt has taken its own out of argv
// by now. Another that looks like an option is a mistake, said on the terminal before any window.
bool RefusesUnknownOptions(int argc, char** argv) {
  const vxa::CommandLineOptions options = vxa::ParseCommandLine(vxa::JoinArguments(argc, argv));
  if (options.unknown.empty()) return false;
  std::fprintf(
      stderr, "%s: %s\n%s %s\n", kProgramName,
      vxa::FormatText(VXA_MSG(vxa::msg::kUnknownOption), options.unknown.front().c_str()).c_str(),
      vxa::FormatText(VXA_MSG(vxa::msg::kWindowHelpUsage), kProgramName).c_str(),
      vxa::FormatText(VXA_MSG(vxa::msg::kTryHelp), kProgramName).c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Chosen before anything is said, so that --help and every box speak it.
  const vxa::MessageLanguage language = vxa::ChooseMessageLanguage(
      vxa::ParseCommandLine(vxa::JoinArguments(argc, argv)).language,
      [](const char* name) -> const char* { return std::getenv(name); });
  vxa::SetMessageLanguage(language);
  int exitCode = 0;
  if (AnswersOnTerminal(argc, argv, &exitCode)) return exitCode;
  // Without a display Qt would abort; the terminal program is what works there.
  if (!DisplayNamed(argc, argv)) {
    SayWithoutDisplay();
    return vxa::TForm1::kExitFailed;
  }
  qtHandler = qInstallMessageHandler(&WithoutDisplay);
  QApplication application(argc, argv);
  qInstallMessageHandler(qtHandler);
  if (RefusesUnknownOptions(argc, argv)) return vxa::kExitUsage;
  vxa::ConfigureApplication(application, language);
  vxa::QtMessageBoxes boxes;
  try {
    return Run(application, boxes, argc, argv, language);
  } catch (const std::exception& e) {
    ShowStandardError(boxes, e.what());
  } catch (...) {
    ShowStandardError(boxes, "");
  }
  return vxa::TForm1::kExitFailed;
}
