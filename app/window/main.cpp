// vxa4410-loader: the updater in its window.

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "Version.h"
#include "app/Backend.h"
#include "app/CommandLine.h"
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
    std::printf("%s %s\n", kProgramName, VXA_PRODUCT_VERSION);
  } else {
    return false;
  }
  *exitCode = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
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
  QApplication application(argc, argv);
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
