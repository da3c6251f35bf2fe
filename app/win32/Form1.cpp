#include "app/win32/Form1.h"

#include <commctrl.h>

#include <utility>

#include "app/CommandLine.h"
#include "app/Loader.h"
#include "app/Outcome.h"
#include "text/Messages.h"

namespace vxa::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"TForm1";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// Posted by Wake and Terminate: it only makes the waiting side look again.
constexpr UINT kWakeMessage = WM_APP + 1;
// The icon of the program's resources (vxa4410-loader.rc).
constexpr int kIconResource = 1;
constexpr UINT_PTR kLoadTimer = 1;

HINSTANCE ThisModule() {
  return ::GetModuleHandleW(nullptr);
}

void RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (::GetClassInfoExW(ThisModule(), kWindowClass, &windowClass)) return;
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ThisModule();
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.hIcon = ::LoadIconW(ThisModule(), MAKEINTRESOURCEW(kIconResource));
  windowClass.hIconSm = static_cast<HICON>(
      ::LoadImageW(ThisModule(), MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassExW(&windowClass);
}

int Id(ControlId id) {
  return static_cast<int>(id);
}

}  // namespace

TForm1::TForm1(FtDriver& driver, Clock& clock, MessageBoxes& boxes,
               std::span<const EmbeddedResource> resources, MessageLanguage language)
    : boxes_(boxes) {
  const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX),
                                    ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&common);
  RegisterWindowClass(&TForm1::WindowProc);
  window_ = ::CreateWindowExW(0, kWindowClass, L"", kWindowStyle, 0, 0, 0, 0, nullptr, nullptr,
                              ThisModule(), nullptr);
  // Until here the window's messages go to the default procedure.
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetMessageLanguage(language);
  controls_.Create(window_, ThisModule());
  RECT frame{0, 0, controls_.Scale(kClientWidth), controls_.Scale(kClientHeight)};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  ::SetWindowPos(window_, nullptr, kDesignedLeft, kDesignedTop, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
  ::SendMessageW(Control(ControlId::kLoadProgressBar), PBM_SETRANGE32, 0, kProgressDesignMaximum);
  ::EnableWindow(Control(ControlId::kLoadButton), FALSE);

  Controls::SetText(window_, VXA_MSG(msg::kWindowCaption));
  Controls::SetText(Control(ControlId::kLabel1), StringTableText(str::kLabelDevice));
  Controls::SetText(Control(ControlId::kLabel2), StringTableText(str::kLabelSoftware));
  Controls::SetText(Control(ControlId::kLabel3), StringTableText(str::kLabelVersion));
  Controls::SetText(Control(ControlId::kFindButton), VXA_MSG(msg::kButtonFind));
  Controls::SetText(Control(ControlId::kLoadButton), VXA_MSG(msg::kButtonLoad));
  Controls::SetText(Control(ControlId::kCloseButton), VXA_MSG(msg::kButtonExit));

  // Last, as the window is complete: the Loader opens the boot image and starts the traffic
  // thread, and shows what fails through this window.
  loader_ = std::make_unique<Loader>(*this, driver, clock, resources);
}

// The traffic thread wakes this window: it must end before the window goes.
TForm1::~TForm1() {
  loader_.reset();
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
}

void TForm1::ParseCommandLine(std::string_view text) {
  // Once set by an earlier call, the log stays on.
  if (vxa::ParseCommandLine(text).log) loader_->SetLogEnabled(true);
}

int TForm1::Run() {
  ::ShowWindow(window_, SW_SHOW);
  ::UpdateWindow(window_);
  ::SetFocus(Control(ControlId::kFindButton));
  // Told to end while the window was being made: it has been shown, and the program ends now.
  MSG message{};
  while (!LoopEnds() && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(window_, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return ExitStatus();
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return form->OnMessage(message, wParam, lParam);
}

LRESULT TForm1::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case kWakeMessage:
      return 0;
    default:
      return ::DefWindowProcW(window_, message, wParam, lParam);
  }
}

void TForm1::OnCommand(int id) {
  // The loader catches whatever its actions throw: nothing reaches the message loop. Enter and
  // Escape (IDOK, IDCANCEL) do nothing: the window has neither a default nor a Cancel button.
  if (id == Id(ControlId::kFindButton)) loader_->Find();
  if (id == Id(ControlId::kLoadButton)) loader_->Load();
  if (id == Id(ControlId::kCloseButton)) ::SendMessageW(window_, WM_CLOSE, 0, 0);
}

void TForm1::OnClose() {
  if (closed_ || !loader_->FormClose()) return;
  // Hidden, not destroyed: an update that was stopped still returns through this window.
  closed_ = true;
  ::ShowWindow(window_, SW_HIDE);
  ::PostMessageW(window_, kWakeMessage, 0, 0);
}

void TForm1::SearchStarted() {
  ::EnableWindow(Control(ControlId::kLoadButton), FALSE);
}

void TForm1::DeviceFound(const DeviceLines& lines, const InstrumentFacts&) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  Controls::SetText(Control(ControlId::kMemo1), text);
  ::EnableWindow(Control(ControlId::kLoadButton), TRUE);
}

void TForm1::StageChanged(Stage stage, const std::string& text) {
  // A stage belongs to a running update: nothing can be pressed until it ends, and the timer,
  // which the update only ever switches off, stays off.
  for (ControlId id : {ControlId::kFindButton, ControlId::kLoadButton, ControlId::kCloseButton}) {
    ::EnableWindow(Control(id), FALSE);
  }
  ::KillTimer(window_, kLoadTimer);
  SetStateText(text);
  // The window never shows the bar; only its figures are written out, in the label. The install
  // has no figures to show.
  if (stage == Stage::kFlashing) SetLoadLabelText("");
  if (stage == Stage::kFileTransfer || stage == Stage::kFlashing) {
    ::ShowWindow(Control(ControlId::kLoadProgressBar), SW_HIDE);
  }
}

void TForm1::ProgressChanged(const Progress& progress) {
  HWND bar = Control(ControlId::kLoadProgressBar);
  const auto minimum = static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
  const auto maximum = static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  if (minimum != 0 || maximum != progress.total) {
    ::SendMessageW(bar, PBM_SETRANGE32, 0, progress.total);
  }
  if (::SendMessageW(bar, PBM_GETPOS, 0, 0) != progress.position) {
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progress.position), 0);
  }
  // What the bar holds, which is not always what it was given: it keeps to its range.
  SetLoadLabelText(ProgressText({static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0)),
                                 static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0))}));
}

void TForm1::VersionWaitChanged(const Waited& waited) {
  // The label that showed the transfer's figures shows how long the install has taken so far.
  const std::string text = WaitedText(waited);
  if (Controls::Text(Control(ControlId::kLoadLabel)) != text) SetLoadLabelText(text);
}

void TForm1::SetStateText(const std::string& text) {
  Controls::SetText(Control(ControlId::kStateLabel), text);
}

void TForm1::SetLoadLabelText(const std::string& text) {
  Controls::SetText(Control(ControlId::kLoadLabel), text);
  controls_.FitToText(ControlId::kLoadLabel);
}

BoxRequest TForm1::AppBox(BoxSymbol symbol, const std::string& text) {
  BoxRequest request;
  request.source = BoxSource::kApplication;
  request.symbol = symbol;
  request.caption = Controls::Text(window_);
  request.text = text;
  request.owner = window_;
  return request;
}

void TForm1::ShowReport(const Report& report) {
  boxes_.Show(ReportBox(report, &newFirmware_, AppBox(BoxSymbol::kWarning, {})));
}

void TForm1::NewFirmwareReported(const std::string& programVersion,
                                 const std::optional<LocalDateTime>& clockSet) {
  newFirmware_ = NewFirmwareText(programVersion, clockSet);
}

bool TForm1::AskYesNo(const std::string& text, DefaultAnswer byDefault) {
  BoxRequest request = AppBox(BoxSymbol::kQuestion, text);
  request.buttons = BoxButtons::kYesNo;
  request.defaultAnswer = byDefault == DefaultAnswer::kNo ? BoxAnswer::kNo : BoxAnswer::kYes;
  return boxes_.Show(request) == BoxAnswer::kYes;
}

int TForm1::ExitStatus() const {
  return vxa::ExitStatus(loader_->LastOutcome(), Asked::kWindow);
}

void TForm1::HandlePending() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to take: whoever runs the outer loop sees it again.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (!::IsDialogMessageW(window_, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

void TForm1::ProcessEvents(std::chrono::milliseconds maxWait) {
  // Once the program is to end, whoever waits has something to look at at once.
  if (LoopEnds() || maxWait.count() <= 0 || wakePending_.exchange(false)) {
    HandlePending();
    return;
  }
  const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(maxWait.count());
  for (;;) {
    HandlePending();
    if (wakePending_.exchange(false) || LoopEnds()) return;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= until) return;
    // A Wake posts its message after setting the flag, so this returns for it.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(until - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

void TForm1::Wake() {
  wakePending_.store(true);
  ::PostMessageW(window_, kWakeMessage, 0, 0);
}

void TForm1::Terminate() {
  // Only a request: whoever asked runs on to its end before the message loop sees it.
  terminating_ = true;
  ::PostMessageW(window_, kWakeMessage, 0, 0);
}

}  // namespace vxa::win32
