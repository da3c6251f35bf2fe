#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/Loader.h"
#include "app/win32/Controls.h"
#include "app/win32/Form1.h"
#include "app/win32/MessageBoxesWin32.h"
#include "base/WindowsText.h"
#include "link/Clock.h"
#include "sim/SimBus.h"
#include "tests/win32/Screenshot.h"
#include "tests/window/WindowCases.h"
#include "text/Messages.h"

namespace vxa::test {
namespace {

using win32::ControlId;
using win32::TForm1;

// Every text a control is given passes through here, after the control took it.
LRESULT CALLBACK WatchText(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR data) {
  const LRESULT result = ::DefSubclassProc(control, message, wParam, lParam);
  if (message == WM_SETTEXT) {
    (*reinterpret_cast<std::function<void(const std::string&)>*>(data))(
        win::Narrow(reinterpret_cast<const wchar_t*>(lParam)));
  }
  return result;
}

std::string TextOf(HWND control) {
  return win32::Controls::Text(control);
}

BOOL CALLBACK SaveIfForm(HWND window, LPARAM path) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"TForm1" && ::IsWindowVisible(window)) {
    SaveScreenArea(WindowArea(window), *reinterpret_cast<const std::wstring*>(path));
  }
  return TRUE;
}

}  // namespace

void SaveWindowShot(const std::string& moment) {
  const char* folder = std::getenv("VXA_WINDOW_SHOTS");
  if (folder == nullptr || *folder == '\0') return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::wstring path = win::Widen(std::string(folder) + "\\" + test->test_suite_name() +
                                       "." + test->name() + "-" + moment + ".png");
  ::EnumThreadWindows(::GetCurrentThreadId(), &SaveIfForm, reinterpret_cast<LPARAM>(&path));
}

namespace {

// The Windows window, driven through its messages as another program would drive it.
class Win32Window final : public WindowDriver {
 public:
  explicit Win32Window(MessageLanguage language = kLanguageRussian) : language_(language) {}

  void Make(FtDriver& driver, Clock& clock, MessageBoxes& boxes) override {
    form_ = std::make_unique<TForm1>(driver, clock, boxes, BuiltInResources(), language_);
    ::SetWindowSubclass(Control(ControlId::kStateLabel), &WatchText, 1,
                        reinterpret_cast<DWORD_PTR>(&stateWatch_));
    ::SetWindowSubclass(Control(ControlId::kLoadLabel), &WatchText, 2,
                        reinterpret_cast<DWORD_PTR>(&loadLabelWatch_));
    ::ShowWindow(form_->Handle(), SW_SHOW);
    ::UpdateWindow(form_->Handle());
  }
  void Destroy() override {
    if (!form_) return;
    ::RemoveWindowSubclass(Control(ControlId::kStateLabel), &WatchText, 1);
    ::RemoveWindowSubclass(Control(ControlId::kLoadLabel), &WatchText, 2);
    form_.reset();
  }
  void ClickFind() override { ::SendMessageW(Control(ControlId::kFindButton), BM_CLICK, 0, 0); }
  void ClickLoad() override { ::SendMessageW(Control(ControlId::kLoadButton), BM_CLICK, 0, 0); }
  void RequestClose() override { ::PostMessageW(form_->Handle(), WM_CLOSE, 0, 0); }
  void WatchStateText(std::function<void(const std::string&)> watch) override {
    stateWatch_ = [watch](const std::string& text) {
      if (watch) watch(text);
    };
  }
  void WatchLoadLabel(std::function<void(const std::string&)> watch) {
    loadLabelWatch_ = std::move(watch);
  }
  bool LoadEnabled() override { return ::IsWindowEnabled(Control(ControlId::kLoadButton)); }
  bool Visible() override { return ::IsWindowVisible(form_->Handle()); }
  bool Terminating() override { return form_->Terminating(); }
  int ExitStatus() override { return form_->ExitStatus(); }
  std::vector<std::string> MemoLines() override {
    const std::string text = TextOf(Control(ControlId::kMemo1));
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find("\r\n", start);
      lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
      start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
  }

  TForm1& form() { return *form_; }
  HWND Control(ControlId id) const { return form_->Control(id); }

 private:
  MessageLanguage language_;
  std::unique_ptr<TForm1> form_;
  std::function<void(const std::string&)> stateWatch_ = [](const std::string&) {};
  std::function<void(const std::string&)> loadLabelWatch_ = [](const std::string&) {};
};

TEST(Win32WindowTest, EveryCaseOfTheWindowsTable) {
  for (const WindowCase& c : WindowCases()) {
    Win32Window window;
    RunWindowCase(c, window);
  }
}

// A fixture with the window over a bus with one instrument; the window is made by the test.
class Win32FormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    window.Destroy();
    SetMessageLanguage(kLanguageRussian);
  }

  VirtualClock clock;
  sim::SimBus bus{clock};
  ScriptedBoxes boxes;
  Win32Window window;
};

const std::map<std::string, ControlId> kControlOfName = {
    {"LoadLabel", ControlId::kLoadLabel},
    {"StateLabel", ControlId::kStateLabel},
    {"Label1", ControlId::kLabel1},
    {"Label2", ControlId::kLabel2},
    {"Label3", ControlId::kLabel3},
    {"LoadButton", ControlId::kLoadButton},
    {"LoadProgressBar", ControlId::kLoadProgressBar},
    {"CloseButton", ControlId::kCloseButton},
    {"Memo1", ControlId::kMemo1},
    {"FindButton", ControlId::kFindButton},
};

// The rectangles, texts and states are the Qt window's numbers (tests/window/WindowCases.cpp,
// which its own layout test holds it to), at the screen's dots per inch.
TEST_F(Win32FormTest, EveryControlSitsWhereTheQtWindowHasItWithItsTextAndState) {
  window.Make(bus, clock, boxes);
  HWND form = window.form().Handle();
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  const auto scale = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
  RECT client{};
  ::GetClientRect(form, &client);
  EXPECT_EQ(client.right, scale(kDesignedClientWidth));
  EXPECT_EQ(client.bottom, scale(kDesignedClientHeight));
  for (const DesignedControl& designed : DesignedLayout()) {
    SCOPED_TRACE(designed.name);
    HWND control = window.Control(kControlOfName.at(designed.name));
    RECT placed{};
    ::GetWindowRect(control, &placed);
    ::MapWindowPoints(HWND_DESKTOP, form, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, scale(designed.left));
    EXPECT_EQ(placed.top, scale(designed.top));
    EXPECT_EQ(placed.right - placed.left, scale(designed.width));
    EXPECT_EQ(placed.bottom - placed.top, scale(designed.height));
    EXPECT_EQ(TextOf(control), designed.text);
    EXPECT_EQ(::IsWindowEnabled(control) != FALSE, designed.enabled);
    EXPECT_EQ((::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) == 0, designed.hidden);
  }
  EXPECT_EQ(TextOf(form), MessageText(msg::kWindowCaption, 0));
  // A fixed dialog with only the system menu, and the program's icon.
  const LONG style = ::GetWindowLongW(form, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_NE(::GetClassLongPtrW(form, GCLP_HICON), 0u);
  EXPECT_TRUE(::GetWindowLongW(window.Control(ControlId::kMemo1), GWL_STYLE) & ES_READONLY);
  EXPECT_EQ(::SendMessageW(window.Control(ControlId::kLoadProgressBar), PBM_GETRANGE, FALSE, 0),
            4194304);
  // The labels do not grow with their text: the face is narrowed until their texts fit.
  for (ControlId id : {ControlId::kLabel1, ControlId::kLabel2, ControlId::kLabel3}) {
    HWND label = window.Control(id);
    const std::wstring text = win::Widen(TextOf(label));
    HDC dc = ::GetDC(label);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    RECT placed{};
    ::GetWindowRect(label, &placed);
    EXPECT_LE(extent.cx, placed.right - placed.left) << static_cast<int>(id);
  }
}

TEST_F(Win32FormTest, TheWindowSpeaksEnglishWhenToldAndTheLoadLabelHugsItsFigures) {
  bus.AttachInstrument();
  window = Win32Window(kLanguageEnglish);
  window.Make(bus, clock, boxes);
  EXPECT_EQ(TextOf(window.form().Handle()), "VXA-4410 Loader");
  EXPECT_EQ(TextOf(window.Control(ControlId::kLabel3)), "Version 1.23.1 English");
  EXPECT_EQ(TextOf(window.Control(ControlId::kFindButton)), "Find");
  window.ClickFind();
  const std::vector<std::string> lines = window.MemoLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].rfind("Serial number: ", 0), 0u) << lines[1];

  HWND label = window.Control(ControlId::kLoadLabel);
  window.form().ProgressChanged({1234567, 2433882});
  EXPECT_EQ(TextOf(label), "(1234567 from 2433882)");
  RECT placed{};
  ::GetWindowRect(label, &placed);
  EXPECT_GT(placed.right - placed.left, 3);
  window.form().StageChanged(Stage::kFlashing, MessageText(msg::kStateFlashing, 1));
  ::GetWindowRect(label, &placed);
  EXPECT_EQ(placed.right - placed.left, 3);
  EXPECT_EQ(TextOf(label), "");
}

// The real boxes, each saved with the window under it once it is up, then answered Yes or OK.
class PhotographedBoxes final : public MessageBoxes {
 public:
  PhotographedBoxes(HWND window, std::function<void(HWND box)> shoot)
      : window_(window), shoot_(std::move(shoot)) {
    instance_ = this;
  }
  ~PhotographedBoxes() override { instance_ = nullptr; }

  BoxAnswer Show(const BoxRequest& request) override {
    ::SetTimer(nullptr, 0, 200, &PhotographedBoxes::WhenUp);
    return win32::Win32MessageBoxes().Show(request);
  }

 private:
  static BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  // Runs in the box's own message loop.
  static void CALLBACK WhenUp(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr || instance_ == nullptr) return;
    instance_->shoot_(box);
    const bool yesNo = ::GetDlgItem(box, IDYES) != nullptr;
    ::PostMessageW(box, WM_COMMAND, yesNo ? IDYES : IDOK, 0);
  }

  static PhotographedBoxes* instance_;
  HWND window_;
  std::function<void(HWND)> shoot_;
};
PhotographedBoxes* PhotographedBoxes::instance_ = nullptr;

// The window at each stage of an update, as the user sees it, saved into the folder that
// VXA_SCREENSHOTS names (the Windows stage keeps them); in virtual time, with the real boxes.
// The picture waiting for the next turn of the window's message loop (see the test below).
std::function<void()> gShotLater;

void CALLBACK ShotTimerProc(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (gShotLater) std::exchange(gShotLater, nullptr)();
}

TEST(Win32ScreenshotTest, EachStageOfAnUpdateOnTheScreen) {
  const char* folder = std::getenv("VXA_SCREENSHOTS");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "VXA_SCREENSHOTS names no folder";
  VirtualClock clock;
  sim::SimBus bus{clock};
  bus.AttachInstrument();
  Win32Window window;
  std::vector<std::wstring> saved;
  HWND form = nullptr;
  const auto shoot = [&](const std::string& name, HWND box) {
    ::RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::GdiFlush();
    ::Sleep(200);
    const std::wstring path = win::Widen(std::string(folder) + "\\" + name + ".png");
    EXPECT_TRUE(SaveScreenArea(WindowArea(form, box), path)) << name;
    saved.push_back(path);
  };
  int boxNumber = 0;
  std::unique_ptr<PhotographedBoxes> boxes;
  // The boxes need the window's handle, and the window its boxes: they are made in two steps.
  ScriptedBoxes forward;
  forward.answerYes = [&](const BoxRequest& request) {
    return boxes->Show(request) == BoxAnswer::kYes;
  };
  forward.onShow = [&](const BoxRequest& request) {
    if (request.buttons == BoxButtons::kOk) boxes->Show(request);
  };
  window.Make(bus, clock, forward);
  form = window.form().Handle();
  boxes = std::make_unique<PhotographedBoxes>(
      form, [&](HWND box) { shoot(++boxNumber == 1 ? "3-confirmation" : "7-success", box); });
  shoot("1-start", nullptr);
  window.ClickFind();
  shoot("2-found", nullptr);
  std::string stage;
  std::map<std::string, bool> taken;
  window.WatchStateText([&](const std::string& text) { stage = text; });
  // The label is sized to its text after it took it: the picture is taken at the next turn of
  // the window's message loop.
  std::function<void()>& later = gShotLater;
  window.WatchLoadLabel([&](const std::string& text) {
    const std::string name = stage == MessageText(msg::kStateFileTransfer, 0)   ? "4-transfer"
                             : stage == MessageText(msg::kStateVerification, 0) ? "5-verification"
                             : stage == MessageText(msg::kStateFlashing, 0)     ? "6-install"
                                                                                : "";
    // Midway through a transfer, and once the install has been waited for a while.
    const bool midway = (text.rfind("(", 0) == 0 && std::atoi(text.c_str() + 1) >= 1000000) ||
                        (text.rfind("0:0", 0) == 0 && text.rfind("0:00", 0) != 0);
    if (name.empty() || taken[name] || !midway) return;
    taken[name] = true;
    later = [&shoot, name] { shoot(name, nullptr); };
    ::SetTimer(nullptr, 0, 0, ShotTimerProc);
  });
  window.ClickLoad();
  EXPECT_EQ(window.ExitStatus(), 0);
  window.Destroy();
  gShotLater = nullptr;  // a picture of a stage not taken by now is not taken at all

  Win32Window english(kLanguageEnglish);
  ScriptedBoxes none;
  english.Make(bus, clock, none);
  form = english.form().Handle();
  english.ClickFind();
  shoot("8-english", nullptr);
  english.Destroy();
  // A timer fires only when the window's queue is empty; in virtual time a stage may be over
  // before that happens, and its picture is then left out. The boxes and the still window are
  // always there.
  EXPECT_GE(saved.size(), 5u);
  for (const char* stage : {"4-transfer", "5-verification", "6-install"}) {
    const std::wstring file = win::Widen(std::string("\\") + stage + ".png");
    const bool there = std::any_of(saved.begin(), saved.end(), [&](const std::wstring& path) {
      return path.ends_with(file);
    });
    if (!there) std::printf("no picture of %s this time\n", stage);
  }
}


// The program itself as a user starts it, in its own process with its real boxes, driven from
// here through its messages. VXA_LOADER_EXE names it (the Windows stage does); -sim updates in
// real time, so this takes about half a minute.
struct Found {
  DWORD process;
  const wchar_t* className;
  HWND skip;
  HWND window;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<Found*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  wchar_t name[32] = {};
  ::GetClassNameW(window, name, 32);
  if (process != found->process || window == found->skip || !::IsWindowVisible(window) ||
      std::wstring(name) != found->className) {
    return TRUE;
  }
  found->window = window;
  return FALSE;
}

HWND AwaitWindow(DWORD process, const wchar_t* className, HWND skip = nullptr) {
  for (int i = 0; i < 1200; ++i) {
    Found found{process, className, skip, nullptr};
    ::EnumWindows(&FindWindowOf, reinterpret_cast<LPARAM>(&found));
    if (found.window != nullptr) return found.window;
    ::Sleep(100);
  }
  return nullptr;
}

// The program's exit status once it has ended, after its last box was answered.
class StartedProgram {
 public:
  explicit StartedProgram(const std::string& arguments) {
    std::wstring commandLine = L"\"" + win::Widen(std::getenv("VXA_LOADER_EXE")) + L"\" " +
                               win::Widen(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info_);
  }
  ~StartedProgram() {
    if (!started_) return;
    if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(info_.hProcess, 99);
    }
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
  }
  bool started() const { return started_; }
  DWORD id() const { return info_.dwProcessId; }
  DWORD ExitStatus() {
    DWORD status = 99;
    if (::WaitForSingleObject(info_.hProcess, 60000) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(info_.hProcess, &status);
    }
    return status;
  }

 private:
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

std::string BoxText(HWND box) {
  // The text of a system message box is its static control 0xFFFF.
  return TextOf(::GetDlgItem(box, 0xFFFF));
}

TEST(Win32ProgramTest, FindAndLoadUpdateTheSimulatedInstrumentAndAnErrorBoxEndsWithOne) {
  if (std::getenv("VXA_LOADER_EXE") == nullptr) GTEST_SKIP() << "VXA_LOADER_EXE names no program";
  {
    StartedProgram program("-sim");
    ASSERT_TRUE(program.started());
    HWND form = AwaitWindow(program.id(), L"TForm1");
    ASSERT_NE(form, nullptr);
    RECT client{};
    ::GetClientRect(form, &client);
    EXPECT_EQ(client.right, 424);
    EXPECT_EQ(client.bottom, 168);
    EXPECT_EQ(TextOf(form), MessageText(msg::kWindowCaption, 0));
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(::GetDlgItem(form, static_cast<int>(ControlId::kFindButton)), BM_CLICK,
                          0, 0, SMTO_NORMAL, 60000, &ignored);
    // A control of another process tells its text only when asked with WM_GETTEXT.
    wchar_t memo[512] = {};
    ::SendMessageW(::GetDlgItem(form, static_cast<int>(ControlId::kMemo1)), WM_GETTEXT,
                   std::size(memo), reinterpret_cast<LPARAM>(memo));
    EXPECT_EQ(win::Narrow(memo).rfind(StringTableText(str::kLabelModel) + "VXA-4410", 0), 0u);
    ::PostMessageW(::GetDlgItem(form, static_cast<int>(ControlId::kLoadButton)), BM_CLICK, 0, 0);
    HWND confirmation = AwaitWindow(program.id(), L"#32770");
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(BoxText(confirmation), StringTableText(str::kConfirmLoad));
    ::PostMessageW(confirmation, WM_COMMAND, IDYES, 0);
    HWND success = AwaitWindow(program.id(), L"#32770", confirmation);
    ASSERT_NE(success, nullptr);
    const std::string text = BoxText(success);
    EXPECT_EQ(TextOf(success), MessageText(msg::kCaptionInformation, 0));
    EXPECT_EQ(text.rfind("Прибор сообщает версию программы 1.23.1\n", 0), 0u) << text;
    EXPECT_NE(text.find(MessageText(msg::kFirmwareCompleted, 0)), std::string::npos) << text;
    ::PostMessageW(success, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.ExitStatus(), 0u);
  }
  StartedProgram program("-driver none");
  HWND error = AwaitWindow(program.id(), L"#32770");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(TextOf(error), MessageText(msg::kCaptionError, 0));
  ::PostMessageW(error, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(program.ExitStatus(), 1u);
}

}  // namespace
}  // namespace vxa::test
