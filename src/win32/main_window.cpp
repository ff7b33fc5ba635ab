// The window class and its message handler, focus, and the peer the form drives.
#include "main_window.h"

#include "resource_ids.h"
#include "window_frame.h"

namespace ipsetter::win32 {
namespace {

constexpr UINT_PTR kTimerId = static_cast<UINT_PTR>(ControlId::Timer1);

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, const DpiFunctions& dpi_functions)
    : instance_(instance), dpi_functions_(dpi_functions) {}

MainWindow::~MainWindow() {
  form_ = nullptr;
  if (hwnd_ != nullptr)
    DestroyWindow(hwnd_);
}

bool MainWindow::Create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &MainWindow::WindowProc;
  wc.hInstance = instance_;
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(IDI_IPSETTER), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  wc.hIconSm =
      static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_IPSETTER), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kWindowClassName;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;

  // Created hidden and empty, the title too (the form gives it), at the size for the system's DPI;
  // resized below only when the window's own DPI turns out another.
  const SIZE frame = FrameSize(dpi_functions_, SystemDpi(dpi_functions_));
  if (CreateWindowExW(kWindowExStyle, kWindowClassName, L"", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.cx, frame.cy, nullptr, nullptr, instance_, this) == nullptr) {
    return false;
  }
  resources_.LoadKeyboardPicture(instance_);
  high_contrast_ = high_contrast_source_ && high_contrast_source_();
  dpi_ = WindowDpi(dpi_functions_, hwnd_);
  SizeFrame(hwnd_, dpi_functions_, dpi_, nullptr);
  if (!controls_.Create(hwnd_, instance_, dpi_, resources_)) {
    DestroyWindow(hwnd_);
    return false;
  }
  return true;
}

void MainWindow::OnColoursChanged() {
  high_contrast_ = high_contrast_source_ && high_contrast_source_();
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

int MainWindow::Dpi() const {
  return dpi_;
}

void MainWindow::ApplyLayout(int dpi, const RECT* suggested) {
  dpi_ = dpi;
  SizeFrame(hwnd_, dpi_functions_, dpi, suggested);
  // The old fonts go once every control has its new one.
  const FontSet old_fonts = resources_.TakeFonts();
  controls_.Place(dpi, resources_);
}

HWND MainWindow::Child(ControlId id) const {
  return hwnd_ != nullptr ? controls_.Child(id) : nullptr;
}

// Messages ------------------------------------------------------------------------------------

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  MainWindow* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr)
    return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->controls_.Forget();
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  try {
    return self->HandleMessage(message, wparam, lparam);
  } catch (...) {
    // Nothing may unwind through the system's code.
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // Only clicks of our own controls; Enter and Escape arrive as IDOK and IDCANCEL without one.
      if (lparam != 0 && HIWORD(wparam) == BN_CLICKED)
        OnCommand(LOWORD(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == kTimerId && timer_running_ && form_ != nullptr)
        form_->OnTimerTick();
      return 0;
    case WM_CLOSE:
      // The form unloads and then destroys the window itself.
      if (form_ != nullptr) {
        form_->OnClose();
      } else {
        DestroyWindow(hwnd_);
      }
      return 0;
    case WM_ENDSESSION:
      // Logging off ends the program like a close: the keyboard it started goes with it.
      if (wparam != FALSE && form_ != nullptr)
        form_->OnClose();
      return 0;
    case WM_DESTROY:
      if (timer_running_)
        KillTimer(hwnd_, kTimerId);
      timer_running_ = false;
      PostQuitMessage(0);
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return OnControlColour(message, wparam, lparam);
    case WM_ACTIVATE:
      if (OnActivate(wparam))
        return 0;
      break;
    case WM_SETFOCUS:
      if (RestoreFocus())
        return 0;
      break;
    case WM_DPICHANGED:
      ApplyLayout(HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_SYSCOLORCHANGE:
      OnColoursChanged();
      return 0;
    case WM_SETTINGCHANGE:
      if (wparam == SPI_SETHIGHCONTRAST)
        OnColoursChanged();
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void MainWindow::OnCommand(int id) {
  if (form_ == nullptr)
    return;
  switch (static_cast<ControlId>(id)) {
    case ControlId::cmdApply:
      form_->OnApplyClick();
      break;
    case ControlId::cmdRefresh:
      form_->OnRefreshClick();
      break;
    case ControlId::cmdExit:
      form_->OnExitClick();
      break;
    case ControlId::cmdKeyboard:
      form_->OnKeyboardClick();
      break;
    case ControlId::chkStatic:
      form_->OnStaticClick();
      break;
    default:
      break;
  }
}

LRESULT MainWindow::OnControlColour(UINT message, WPARAM wparam, LPARAM lparam) {
  const LRESULT standard = DefWindowProcW(hwnd_, message, wparam, lparam);
  const layout::Control* c =
      layout::Find(static_cast<ControlId>(GetDlgCtrlID(reinterpret_cast<HWND>(lparam))));
  if (c == nullptr)
    return standard;
  const layout::ColourPair colours = layout::ColoursFor(*c, high_contrast_);
  HDC dc = reinterpret_cast<HDC>(wparam);
  if (!IsDefault(colours.text))
    SetTextColor(dc, ToColorRef(colours.text));
  if (IsDefault(colours.back))
    return standard;
  SetBkColor(dc, ToColorRef(colours.back));
  return reinterpret_cast<LRESULT>(resources_.BrushFor(colours.back));
}

// The focus comes back to the control that had it when the window was last deactivated, or
// goes to the first one in tab order, as in a dialog.
bool MainWindow::OnActivate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(hwnd_, focus))
      last_focus_ = focus;
    return false;
  }
  return !IsIconic(hwnd_) && RestoreFocus();
}

bool MainWindow::RestoreFocus() {
  // Made topmost while hidden, the window is activated before it is filled; Show gives the focus.
  if (!IsWindowVisible(hwnd_))
    return false;
  HWND target = last_focus_;
  if (target == nullptr || !IsChild(hwnd_, target) || !IsWindowEnabled(target)) {
    target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  }
  if (target == nullptr)
    return false;
  SetFocus(target);
  return true;
}

// WindowPeer --------------------------------------------------------------------------------

std::wstring MainWindow::Title() const {
  return WindowText(hwnd_);
}

void MainWindow::SetTitle(const std::wstring& title) {
  if (hwnd_ == nullptr)
    return;
  SetWindowTextW(hwnd_, title.c_str());
  // The focus sink is named after what the program is doing; every poll repeats the title.
  HWND sink_label = controls_.SinkLabel();
  if (sink_label != nullptr && WindowText(sink_label) != title)
    SetWindowTextW(sink_label, title.c_str());
}

void MainWindow::Announce(const std::wstring& text) {
  announcer_.Say(hwnd_, text);
}

void MainWindow::Show() {
  if (hwnd_ == nullptr)
    return;
  // Not ShowWindow: its first call would take the show state the starter asked for (a shortcut's
  // "Minimized" or "Maximized", STARTUPINFO's wShowWindow); the window always comes up normal.
  // Every poll shows the window again; once visible that changes nothing, and costs a
  // noticeable part of the poll.
  if (!IsWindowVisible(hwnd_))
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
  // Placed topmost while hidden, the window was activated when it could not take a focus yet.
  HWND focus = GetFocus();
  if (GetActiveWindow() == hwnd_ && (focus == nullptr || focus == hwnd_))
    RestoreFocus();
}

void MainWindow::Hide() {
  if (hwnd_ != nullptr && IsWindowVisible(hwnd_))
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
}

double MainWindow::OuterWidthTwips() const {
  RECT r{};
  if (hwnd_ != nullptr)
    GetWindowRect(hwnd_, &r);
  return layout::PixelsToTwips(r.right - r.left, Dpi());
}

double MainWindow::OuterHeightTwips() const {
  RECT r{};
  if (hwnd_ != nullptr)
    GetWindowRect(hwnd_, &r);
  return layout::PixelsToTwips(r.bottom - r.top, Dpi());
}

void MainWindow::SetLeftTwips(double left) {
  RECT r{};
  if (hwnd_ == nullptr || !GetWindowRect(hwnd_, &r))
    return;
  SetWindowPos(hwnd_, nullptr, layout::TwipsToPixels(left, Dpi()), r.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::SetTopTwips(double top) {
  RECT r{};
  if (hwnd_ == nullptr || !GetWindowRect(hwnd_, &r))
    return;
  SetWindowPos(hwnd_, nullptr, r.left, layout::TwipsToPixels(top, Dpi()), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::intptr_t MainWindow::Handle() const {
  return reinterpret_cast<std::intptr_t>(hwnd_);
}

void MainWindow::Destroy() {
  if (hwnd_ != nullptr)
    DestroyWindow(hwnd_);
}

std::wstring MainWindow::Text(ControlId id) const {
  return WindowText(Child(id));
}

void MainWindow::SetText(ControlId id, const std::wstring& text) {
  HWND child = Child(id);
  if (child == nullptr)
    return;
  // A label given the caption it shows would only be drawn again; every poll does that.
  const layout::Control* c = layout::Find(id);
  if (c != nullptr && c->kind == layout::ControlKind::Label && WindowText(child) == text)
    return;
  SetWindowTextW(child, text.c_str());
}

bool MainWindow::Enabled(ControlId id) const {
  HWND child = Child(id);
  return child != nullptr && IsWindowEnabled(child);
}

// A control that is switched off loses the focus; switched on again before the focus went
// anywhere else (a click on the Static box locks and unlocks it), it gets the focus back.
void MainWindow::SetEnabled(ControlId id, bool enabled) {
  HWND child = Child(id);
  if (child == nullptr)
    return;
  if (!enabled && GetFocus() == child)
    refocus_ = child;
  EnableWindow(child, enabled ? TRUE : FALSE);
  if (enabled && child == refocus_) {
    refocus_ = nullptr;
    HWND focus = GetFocus();
    if (focus == nullptr || focus == child || focus == hwnd_)
      SetFocus(child);
  }
}

void MainWindow::ShowCheck(ControlId id, int value) {
  if (HWND child = Child(id); child != nullptr)
    SendMessageW(child, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void MainWindow::Focus(ControlId id) {
  if (HWND child = Child(id); child != nullptr)
    SetFocus(child);
}

void MainWindow::StartTimer(ControlId id, unsigned interval_ms) {
  if (id != ControlId::Timer1 || hwnd_ == nullptr)
    return;
  timer_running_ = SetTimer(hwnd_, kTimerId, interval_ms, nullptr) != 0;
}

void MainWindow::StopTimer(ControlId id) {
  if (id != ControlId::Timer1 || hwnd_ == nullptr)
    return;
  KillTimer(hwnd_, kTimerId);
  timer_running_ = false;
}

}  // namespace ipsetter::win32
