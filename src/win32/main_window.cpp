#include "main_window.h"

#include <commctrl.h>

#include <cmath>

#include "resource_ids.h"

namespace ipsetter::win32 {
namespace {

using layout::ControlKind;

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr UINT_PTR kTimerId = static_cast<UINT_PTR>(ControlId::Timer1);
constexpr int kDefaultDpi = 96;

int SystemColourIndex(layout::SystemColour colour) {
  switch (colour) {
    case layout::SystemColour::ButtonShadow:
      return COLOR_BTNSHADOW;
    case layout::SystemColour::ButtonText:
      return COLOR_BTNTEXT;
    case layout::SystemColour::Window:
      return COLOR_WINDOW;
    case layout::SystemColour::WindowText:
      return COLOR_WINDOWTEXT;
    case layout::SystemColour::ButtonFace:
      break;
  }
  return COLOR_BTNFACE;
}

COLORREF ToColorRef(const layout::Colour& colour) {
  if (colour.source == layout::Colour::Source::Rgb)
    return RGB(colour.r, colour.g, colour.b);
  return GetSysColor(SystemColourIndex(colour.system));
}

bool IsDefault(const layout::Colour& colour) {
  return colour.source == layout::Colour::Source::Default;
}

std::wstring WindowText(HWND hwnd) {
  if (hwnd == nullptr)
    return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

struct ChildClass {
  const wchar_t* name;
  DWORD style;
  DWORD ex_style;
};

ChildClass ClassFor(const layout::Control& c) {
  // Each control is a group of its own: arrow keys do not wander between buttons.
  const DWORD tab = c.tab_stop ? WS_TABSTOP | WS_GROUP : 0;
  switch (c.kind) {
    case ControlKind::TextBox:
      return {WC_EDITW, tab | ES_LEFT | ES_AUTOHSCROLL, c.border ? static_cast<DWORD>(WS_EX_CLIENTEDGE) : 0};
    case ControlKind::Label:
      return {WC_STATICW, SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::CommandButton:
      return {WC_BUTTONW, tab | BS_PUSHBUTTON | (c.picture ? BS_BITMAP : 0), 0};
    case ControlKind::CheckBox:
      // Not automatic: the form owns the value and shows it through ShowCheck.
      return {WC_BUTTONW, tab | BS_CHECKBOX, 0};
    case ControlKind::Timer:
      break;
  }
  return {nullptr, 0, 0};
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  form_ = nullptr;
  if (hwnd_ != nullptr)
    DestroyWindow(hwnd_);
  ReleaseFonts();
  for (auto& [colour, brush] : brushes_)
    DeleteObject(brush);
  if (scaled_keyboard_bitmap_ != nullptr)
    DeleteObject(scaled_keyboard_bitmap_);
  if (keyboard_bitmap_ != nullptr)
    DeleteObject(keyboard_bitmap_);
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
  const SIZE frame = FrameSize(static_cast<int>(GetDpiForSystem()));
  if (CreateWindowExW(kWindowExStyle, kWindowClassName, L"", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.cx, frame.cy, nullptr, nullptr, instance_, this) == nullptr) {
    return false;
  }
  keyboard_bitmap_ = static_cast<HBITMAP>(
      LoadImageW(instance_, MAKEINTRESOURCEW(IDB_KEYBOARD), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  high_contrast_ = high_contrast_source_ && high_contrast_source_();
  const UINT dpi = GetDpiForWindow(hwnd_);
  dpi_ = dpi != 0 ? static_cast<int>(dpi) : kDefaultDpi;
  SizeFrame(dpi_, nullptr);
  if (!CreateControls(dpi_)) {
    DestroyWindow(hwnd_);
    return false;
  }
  return true;
}

// Each control is made at its place with its font: moving 19 windows afterwards costs a
// noticeable part of the start.
bool MainWindow::CreateControls(int dpi) {
  // The creation order holds the windowed controls only: each has a class.
  for (const layout::Control* c : layout::CreationOrder()) {
    const ChildClass cls = ClassFor(*c);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | cls.style;
    const layout::PixelRect r = layout::ToPixels(*c, dpi);
    HWND child =
        CreateWindowExW(cls.ex_style, cls.name, WindowTextOf(c->id), style, r.left, r.top, r.width, r.height,
                        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c->id)), instance_, nullptr);
    if (child == nullptr)
      return false;
    children_[static_cast<std::size_t>(static_cast<int>(c->id) - kFirstId)] = child;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c->font, dpi)), FALSE);
    if (c->picture)
      ShowKeyboardPicture(dpi);
    // No length limit: the control's default stops typing and cuts pastes at 30,000 characters.
    if (c->kind == ControlKind::TextBox)
      SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  return true;
}

// Each goes just before its box in the child order, where screen readers look for a name. Never
// shown, so never painted: they cost their creation only.
void MainWindow::CreateHiddenLabels() {
  if (hwnd_ == nullptr || hidden_labels_made_)
    return;
  hidden_labels_made_ = true;
  int id = kFirstHiddenLabelId;
  for (const layout::Control* c : layout::CreationOrder()) {
    const auto text = HiddenLabelText(c->id);
    HWND box = Child(c->id);
    if (!text || box == nullptr)
      continue;
    // The focus sink's is named after the title, whatever it is by now.
    const std::wstring shown = c->id == ControlId::txtOver ? WindowText(hwnd_) : *text;
    HWND label =
        CreateWindowExW(0, WC_STATICW, shown.c_str(), WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance_, nullptr);
    if (label == nullptr)
      continue;
    HWND before = GetWindow(box, GW_HWNDPREV);
    SetWindowPos(label, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
    if (c->id == ControlId::txtOver)
      sink_label_ = label;
  }
}

void MainWindow::ShowKeyboardPicture(int dpi) {
  HWND button = Child(ControlId::cmdKeyboard);
  if (button == nullptr || keyboard_bitmap_ == nullptr)
    return;
  HBITMAP previous = scaled_keyboard_bitmap_;
  scaled_keyboard_bitmap_ = ScaledPicture(keyboard_bitmap_, dpi);
  HBITMAP shown = scaled_keyboard_bitmap_ != nullptr ? scaled_keyboard_bitmap_ : keyboard_bitmap_;
  SendMessageW(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(shown));
  if (previous != nullptr)
    DeleteObject(previous);
}

void MainWindow::OnColoursChanged() {
  high_contrast_ = high_contrast_source_ && high_contrast_source_();
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::CreateTooltips() {
  if (hwnd_ == nullptr || tooltip_ != nullptr)
    return;
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                             instance_, nullptr);
  if (tooltip_ == nullptr)
    return;
  for (const layout::Control& c : layout::Controls()) {
    if (c.tooltip == nullptr)
      continue;
    TTTOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(Child(c.id));
    info.lpszText = const_cast<wchar_t*>(c.tooltip);
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
}

int MainWindow::Dpi() const {
  return dpi_;
}

void MainWindow::ApplyLayout(int dpi, const RECT* suggested) {
  dpi_ = dpi;
  SizeFrame(dpi, suggested);
  std::vector<CachedFont> old_fonts = std::move(fonts_);
  fonts_.clear();
  for (const layout::Control* c : layout::CreationOrder()) {
    HWND child = Child(c->id);
    if (child == nullptr)
      continue;
    const layout::PixelRect r = layout::ToPixels(*c, dpi);
    SetWindowPos(child, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c->font, dpi)), TRUE);
  }
  ShowKeyboardPicture(dpi);
  for (const CachedFont& f : old_fonts)
    DeleteObject(f.handle);
}

SIZE MainWindow::FrameSize(int dpi) {
  RECT frame{0, 0, layout::TwipsToPixels(layout::kClientWidthTwips, dpi),
             layout::TwipsToPixels(layout::kClientHeightTwips, dpi)};
  AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, static_cast<UINT>(dpi));
  return {frame.right - frame.left, frame.bottom - frame.top};
}

void MainWindow::SizeFrame(int dpi, const RECT* suggested) {
  const int client_width = layout::TwipsToPixels(layout::kClientWidthTwips, dpi);
  const int client_height = layout::TwipsToPixels(layout::kClientHeightTwips, dpi);
  const SIZE frame = FrameSize(dpi);
  int width = frame.cx;
  int height = frame.cy;
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  const int x = suggested != nullptr ? suggested->left : 0;
  const int y = suggested != nullptr ? suggested->top : 0;
  if (suggested == nullptr)
    flags |= SWP_NOMOVE;
  RECT now{};
  GetWindowRect(hwnd_, &now);
  if (suggested != nullptr || now.right - now.left != width || now.bottom - now.top != height)
    SetWindowPos(hwnd_, nullptr, x, y, width, height, flags);
  // The frame the system really draws decides; correct by what the client area came out as.
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (client.right != client_width || client.bottom != client_height) {
    width += client_width - client.right;
    height += client_height - client.bottom;
    SetWindowPos(hwnd_, nullptr, x, y, width, height, flags);
  }
}

HFONT MainWindow::FontFor(const layout::Font& font, int dpi) {
  for (const CachedFont& f : fonts_) {
    if (f.font.face == font.face && f.font.points == font.points && f.font.bold == font.bold)
      return f.handle;
  }
  LOGFONTW lf{};
  lf.lfHeight = -layout::FontHeightPixels(font.points, dpi);
  lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
  lstrcpynW(lf.lfFaceName, font.face, LF_FACESIZE);
  HFONT handle = CreateFontIndirectW(&lf);
  if (handle != nullptr)
    fonts_.push_back({font, handle});
  return handle;
}

HBRUSH MainWindow::BrushFor(const layout::Colour& colour) {
  if (colour.source == layout::Colour::Source::System)
    return GetSysColorBrush(SystemColourIndex(colour.system));
  const COLORREF rgb = ToColorRef(colour);
  for (const auto& [known, brush] : brushes_) {
    if (known == rgb)
      return brush;
  }
  HBRUSH brush = CreateSolidBrush(rgb);
  if (brush != nullptr)
    brushes_.emplace_back(rgb, brush);
  return brush;
}

void MainWindow::ReleaseFonts() {
  for (const CachedFont& f : fonts_)
    DeleteObject(f.handle);
  fonts_.clear();
}

HWND MainWindow::Child(ControlId id) const {
  const int index = static_cast<int>(id) - kFirstId;
  if (hwnd_ == nullptr || index < 0 || index >= static_cast<int>(children_.size()))
    return nullptr;
  return children_[static_cast<std::size_t>(index)];
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
    self->tooltip_ = nullptr;
    self->sink_label_ = nullptr;
    self->children_.fill(nullptr);
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
  return reinterpret_cast<LRESULT>(BrushFor(colours.back));
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
  if (sink_label_ != nullptr && WindowText(sink_label_) != title)
    SetWindowTextW(sink_label_, title.c_str());
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
  if (c != nullptr && c->kind == ControlKind::Label && WindowText(child) == text)
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
