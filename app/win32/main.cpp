// vxa4410-loader.exe: the updater in its window on Windows.

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/Backend.h"
#include "app/CommandLine.h"
#include "app/Outcome.h"
#include "app/VersionText.h"
#include "app/win32/Form1.h"
#include "app/win32/MessageBoxesWin32.h"
#include "base/WindowsText.h"
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

bool WriteAll(HANDLE out, const std::string& text) {
  DWORD mode = 0;
  if (::GetConsoleMode(out, &mode)) {
    const std::wstring wide = vxa::win::Widen(text);
    DWORD written = 0;
    return ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
           written == wide.size();
  }
  // A pipe or a file gets the UTF-8 bytes, as from the terminal program.
  DWORD written = 0;
  return ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// --help and --version: to the output the program was given (a console, a pipe, a file), else to
// the console of the program that started it; a program started from the desktop has neither,
// and says it in a box. 0 when it was said, 1 when it could not be written.
int Answer(const std::string& text) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || ::GetFileType(out) == FILE_TYPE_UNKNOWN) {
    out = INVALID_HANDLE_VALUE;
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
      out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    }
  }
  if (out == INVALID_HANDLE_VALUE) {
    ::MessageBoxW(nullptr, vxa::win::Widen(text).c_str(),
                  vxa::win::Widen(VXA_MSG(vxa::msg::kWindowCaption)).c_str(),
                  MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    return 0;
  }
  return WriteAll(out, text) ? 0 : 1;
}

int Run(vxa::MessageBoxes& boxes, const std::string& commandLine,
        const vxa::CommandLineOptions& options, vxa::MessageLanguage language) {
  if (!options.errors.empty()) {
    boxes.Show(vxa::SystemBox(vxa::BoxKind::kError, options.errors.front()));
    return vxa::kExitFailed;
  }
  vxa::BackendOptions backendOptions;
  backendOptions.sim = options.sim;
  backendOptions.driver = options.driver;
  backendOptions.port = options.port;
  std::string reason;
  const std::unique_ptr<vxa::Backend> backend = vxa::CreateBackend(backendOptions, &reason);
  if (!backend) {
    boxes.Show(vxa::SystemBox(vxa::BoxKind::kError, reason));
    return vxa::kExitFailed;
  }
  vxa::win32::TForm1 form(backend->Driver(), backend->clock(), boxes, vxa::BuiltInResources(),
                          language);
  form.ParseCommandLine(commandLine);
  return form.Run();
}

}  // namespace

// The text after the program's name, as the system hands it over; only spaces separate options.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLineText, int) {
  const std::string commandLine = vxa::win::Narrow(commandLineText);
  const vxa::CommandLineOptions options = vxa::ParseCommandLine(commandLine);
  // Chosen before anything is said, so that --help and every box speak it.
  const vxa::MessageLanguage language = vxa::ChooseMessageLanguage(
      options.language, [](const char* name) -> const char* { return std::getenv(name); });
  vxa::SetMessageLanguage(language);
  if (options.help) {
    return Answer(vxa::FormatText(VXA_MSG(vxa::msg::kWin32WindowUsage), kProgramName));
  }
  if (options.version) {
    return Answer(vxa::VersionText(kProgramName));
  }
  vxa::win32::Win32MessageBoxes boxes;
  try {
    return Run(boxes, commandLine, options, language);
  } catch (const std::exception& e) {
    ShowStandardError(boxes, e.what());
  } catch (...) {
    ShowStandardError(boxes, "");
  }
  return vxa::kExitFailed;
}
