// Checks the window layer on real HWNDs, in-process, under Wine or Windows: the controls as the
// table makes them, the peer operations, and the routing of messages into the form.
// Prints one line per check and "N passed, N failed"; exit code 1 on any failure.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "accessibility.h"
#include "app.h"
#include "frm_ipsetter.h"
#include "keyboard_start.h"
#include "layout.h"
#include "main_window.h"
#include "simulated_network.h"
#include "system_folders.h"
#include "win32_platform.h"

namespace {

using ipsetter::ControlId;
using ipsetter::Value;
namespace layout = ipsetter::layout;

int passed = 0;
int failed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = {}) {
  (ok ? passed : failed)++;
  std::printf("%s - %s%s%s\n", ok ? "ok" : "FAIL", what.c_str(), ok || detail.empty() ? "" : ": ",
              ok ? "" : detail.c_str());
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s)
    out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

std::string Name(ControlId id) {
  return Narrow(layout::Find(id)->name);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring TextOf(HWND hwnd) {
  static wchar_t buffer[65536];
  buffer[0] = L'\0';
  SendMessageW(hwnd, WM_GETTEXT, 65536, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
         std::to_string(r.bottom - r.top);
}

RECT ClientRectOf(HWND parent, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Pump(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  MSG msg;
  while (GetTickCount64() < end) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
}

class RecordingPlatform : public ipsetter::Win32Platform {
 public:
  struct Placement {
    std::intptr_t hwnd, after;
    std::int32_t x, y, cx, cy, flags;
  };
  std::vector<Placement> placements;
  int keyboard_starts = 0;
  // The simulated machine's sessions: its process ids are not this machine's.
  const ipsetter::sim::SimulatedNetwork* network = nullptr;

  void SetWindowPos(std::intptr_t hwnd,
                    std::intptr_t after,
                    std::int32_t x,
                    std::int32_t y,
                    std::int32_t cx,
                    std::int32_t cy,
                    std::int32_t flags) override {
    placements.push_back({hwnd, after, x, y, cx, cy, flags});
    Win32Platform::SetWindowPos(hwnd, after, x, y, cx, cy, flags);
  }
  void StartKeyboard() override { ++keyboard_starts; }
  bool RunsInThisSession(std::uint32_t id) const override {
    return network && network->RunsInProgramSession(id);
  }
};

ipsetter::sim::Adapter StaticAdapter() {
  ipsetter::sim::Adapter a;
  a.properties = {{L"IPEnabled", Value(true)},
                  {L"DHCPEnabled", Value(false)},
                  {L"IPAddress", Value::Strings({L"192.168.10.20"})},
                  {L"IPSubnet", Value::Strings({L"255.255.255.0"})},
                  {L"DefaultIPGateway", Value::Strings({L"192.168.10.1"})},
                  {L"DNSServerSearchOrder", Value::Strings({L"192.168.10.1", L"192.168.10.2"})}};
  return a;
}

void CheckFrame(const ipsetter::win32::MainWindow& window, const RecordingPlatform& platform, int dpi) {
  HWND hwnd = window.hwnd();
  Check(ClassOf(hwnd) == L"frmIpsetter", "window class frmIpsetter", Narrow(ClassOf(hwnd)));
  Check(TextOf(hwnd) == L"Ipsetter", "title after load", Narrow(TextOf(hwnd)));
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  const LONG_PTR ex = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  Check((style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)) == (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) &&
            (style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0,
        "fixed frame with caption, system menu and minimize box only");
  Check((ex & WS_EX_CONTROLPARENT) != 0, "WS_EX_CONTROLPARENT");
  Check((ex & WS_EX_TOPMOST) != 0, "topmost after load");
  Check(IsWindowVisible(hwnd) != FALSE, "visible after load");
  RECT client{};
  GetClientRect(hwnd, &client);
  Check(client.right == layout::TwipsToPixels(4440, dpi) && client.bottom == layout::TwipsToPixels(2880, dpi),
        "client area 4440 x 2880 twips", RectText(client));

  Check(platform.placements.size() == 1 && platform.placements[0].hwnd == window.Handle() &&
            platform.placements[0].after == -1 && platform.placements[0].x == 0 &&
            platform.placements[0].cx == 0 && platform.placements[0].flags == 3,
        "SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, 3) once");

  // Centred on the screen as Form_Load computes it, converted to pixels once.
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  const double w = layout::PixelsToTwips(outer.right - outer.left, dpi);
  const double h = layout::PixelsToTwips(outer.bottom - outer.top, dpi);
  const double sw = layout::PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), dpi);
  const double sh = layout::PixelsToTwips(GetSystemMetrics(SM_CYSCREEN), dpi);
  Check(outer.left == layout::TwipsToPixels(sw / 2 - w / 2, dpi) &&
            outer.top == layout::TwipsToPixels(sh / 2 - h / 2, dpi),
        "centred on the screen", RectText(outer));
  Check(window.OuterWidthTwips() == w && window.OuterHeightTwips() == h, "outer size in twips");
}

// Grows with the DPI: 23 x 20 at 96, 35 x 30 at 144, 46 x 40 at 192.
void CheckKeyboardPicture(HWND hwnd, int dpi) {
  HWND keyboard = GetDlgItem(hwnd, static_cast<int>(ControlId::cmdKeyboard));
  BITMAP bm{};
  HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(SendMessageW(keyboard, BM_GETIMAGE, IMAGE_BITMAP, 0));
  const int width = dpi == 96 ? 23 : dpi == 144 ? 35 : 46;
  const int height = dpi == 96 ? 20 : dpi == 144 ? 30 : 40;
  Check(picture != nullptr && GetObjectW(picture, sizeof(bm), &bm) != 0 && bm.bmWidth == width &&
            bm.bmHeight == height,
        "keyboard picture at " + std::to_string(dpi) + " DPI",
        std::to_string(bm.bmWidth) + " x " + std::to_string(bm.bmHeight));
}

void CheckControls(HWND hwnd, int dpi) {
  // Child order is creation order is tab order; txtOver lies behind txtIp. The labels that name
  // the boxes for screen readers lie between them, never shown.
  std::vector<int> ids;
  bool hidden_unseen = true;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(c) < ipsetter::win32::kFirstHiddenLabelId)
      ids.push_back(GetDlgCtrlID(c));
    else
      hidden_unseen &= !IsWindowVisible(c) && _wcsicmp(ClassOf(c).c_str(), L"Static") == 0;
  }
  Check(hidden_unseen, "the naming labels are statics never shown");
  std::vector<int> expected;
  for (const layout::Control* c : layout::CreationOrder())
    expected.push_back(static_cast<int>(c->id));
  Check(ids == expected, "child windows in tab order");

  for (const layout::Control* c : layout::CreationOrder()) {
    const std::string name = Name(c->id);
    HWND child = GetDlgItem(hwnd, static_cast<int>(c->id));
    if (child == nullptr) {
      Check(false, name + " exists");
      continue;
    }
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    const LONG_PTR ex = GetWindowLongPtrW(child, GWL_EXSTYLE);
    const std::wstring cls = ClassOf(child);
    bool kind_ok = false;
    switch (c->kind) {
      case layout::ControlKind::TextBox:
        kind_ok =
            _wcsicmp(cls.c_str(), L"Edit") == 0 && (style & ES_MULTILINE) == 0 && (style & ES_READONLY) == 0;
        break;
      case layout::ControlKind::Label:
        kind_ok = _wcsicmp(cls.c_str(), L"Static") == 0;
        break;
      case layout::ControlKind::CommandButton:
        kind_ok = _wcsicmp(cls.c_str(), L"Button") == 0 && (style & BS_TYPEMASK) == BS_PUSHBUTTON &&
                  ((style & BS_BITMAP) != 0) == c->picture;
        break;
      case layout::ControlKind::CheckBox:
        kind_ok = _wcsicmp(cls.c_str(), L"Button") == 0 && (style & BS_TYPEMASK) == BS_CHECKBOX;
        break;
      case layout::ControlKind::Timer:
        break;
    }
    Check(kind_ok, name + " window class and style", Narrow(cls));
    Check(((style & WS_TABSTOP) != 0) == c->tab_stop, name + " tab stop");
    Check(((ex & WS_EX_CLIENTEDGE) != 0) == c->border, name + " border");

    const RECT r = ClientRectOf(hwnd, child);
    const layout::PixelRect want = layout::ToPixels(*c, dpi);
    Check(r.left == want.left && r.top == want.top && r.right - r.left == want.width &&
              r.bottom - r.top == want.height,
          name + " geometry", RectText(r));

    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
    Check(font != nullptr && GetObjectW(font, sizeof(lf), &lf) == sizeof(lf) &&
              std::wstring(lf.lfFaceName) == c->font.face &&
              lf.lfHeight == -layout::FontHeightPixels(c->font.points, dpi) &&
              (lf.lfWeight >= FW_BOLD) == c->font.bold,
          name + " font", Narrow(lf.lfFaceName) + " " + std::to_string(lf.lfHeight));
    // The picture button shows no caption; its text names it for screen readers.
    if (c->kind == layout::ControlKind::Label || c->kind == layout::ControlKind::CommandButton ||
        c->kind == layout::ControlKind::CheckBox) {
      Check(TextOf(child) == (c->picture ? L"Virtual Keyboard" : c->caption), name + " window text",
            Narrow(TextOf(child)));
    }
  }
  CheckKeyboardPicture(hwnd, dpi);
}

// The answers to WM_CTLCOLOR*: the table's colours, or in a high-contrast theme the system's
// pairs. Wine refuses to switch the theme, so the window is told through its seam.
void CheckColours(ipsetter::win32::MainWindow& window) {
  HWND hwnd = window.hwnd();
  bool high_contrast = false;
  window.SetHighContrastSource([&high_contrast] { return high_contrast; });
  struct Row {
    ControlId id;
    UINT message;
    COLORREF text, back;            // high contrast off
    COLORREF high_text, high_back;  // on
  };
  const COLORREF white = RGB(255, 255, 255), face = GetSysColor(COLOR_BTNFACE);
  const COLORREF window_text = GetSysColor(COLOR_WINDOWTEXT), window_back = GetSysColor(COLOR_WINDOW);
  const COLORREF button_text = GetSysColor(COLOR_BTNTEXT);
  const Row rows[] = {
      {ControlId::Text1, WM_CTLCOLOREDIT, face, white, window_text, window_back},
      {ControlId::txtStatus, WM_CTLCOLOREDIT, GetSysColor(COLOR_BTNSHADOW), white, window_text, window_back},
      {ControlId::lblStatus, WM_CTLCOLORSTATIC, RGB(128, 128, 128), face, button_text, face},
      {ControlId::lblIp, WM_CTLCOLORSTATIC, button_text, face, button_text, face},
      {ControlId::txtIp, WM_CTLCOLOREDIT, window_text, window_back, window_text, window_back},
  };
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  // Switched on by a colour change, off by a change of the high-contrast setting.
  const std::pair<UINT, WPARAM> switches[] = {{WM_SYSCOLORCHANGE, 0},
                                              {WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST}};
  for (bool on : {false, true, false}) {
    if (on != high_contrast) {
      high_contrast = on;
      const auto& [message, wparam] = switches[on ? 0 : 1];
      SendMessageW(hwnd, message, wparam, 0);
    }
    const std::string when = on ? " in high contrast" : "";
    Check(window.HighContrast() == on, "high contrast read" + when);
    for (const Row& row : rows) {
      SetTextColor(dc, RGB(1, 2, 3));
      SetBkColor(dc, RGB(4, 5, 6));
      const LRESULT brush =
          SendMessageW(hwnd, row.message, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(GetDlgItem(hwnd, static_cast<int>(row.id))));
      LOGBRUSH lb{};
      GetObjectW(reinterpret_cast<HGDIOBJ>(brush), sizeof(lb), &lb);
      const COLORREF text = on ? row.high_text : row.text, back = on ? row.high_back : row.back;
      Check(GetTextColor(dc) == text && GetBkColor(dc) == back && lb.lbColor == back,
            Name(row.id) + " colours" + when);
    }
  }
  // A control the layout does not know (the naming label of txtIp): the system's colours.
  HWND label = GetWindow(GetDlgItem(hwnd, static_cast<int>(ControlId::txtIp)), GW_HWNDPREV);
  const LRESULT standard =
      DefWindowProcW(hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
  const COLORREF standard_text = GetTextColor(dc), standard_back = GetBkColor(dc);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkColor(dc, RGB(4, 5, 6));
  Check(SendMessageW(hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(label)) == standard &&
            GetTextColor(dc) == standard_text && GetBkColor(dc) == standard_back,
        "a naming label: the system's colours");
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  // A source that throws: the message ends at the window's boundary and the window goes on.
  window.SetHighContrastSource([]() -> bool { throw std::runtime_error("no answer"); });
  SendMessageW(hwnd, WM_SYSCOLORCHANGE, 0, 0);
  const bool kept = IsWindow(hwnd) && !window.HighContrast();
  window.SetHighContrastSource([] { return true; });
  SendMessageW(hwnd, WM_SYSCOLORCHANGE, 0, 0);
  Check(kept && window.HighContrast(), "a throwing high-contrast source: the window keeps its state and answers on");
  window.SetHighContrastSource(ipsetter::win32::SystemHighContrast);
  SendMessageW(hwnd, WM_SYSCOLORCHANGE, 0, 0);
}

// Window creation refused by the system (a CBT hook refuses the first window of a class): the
// program ends with 1 before it asks the network, and leaves no window behind.
const wchar_t* g_refused_class = nullptr;
int g_refused = 0;
LRESULT CALLBACK RefuseCreation(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && g_refused == 0) {
    LPCWSTR cls = reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs->lpszClass;
    // Common controls 6 names its classes with their version: "6.0.2600.2982!Edit".
    if (!IS_INTRESOURCE(cls) && wcsrchr(cls, L'!'))
      cls = wcsrchr(cls, L'!') + 1;
    if (!IS_INTRESOURCE(cls) && _wcsicmp(cls, g_refused_class) == 0) {
      ++g_refused;
      return 1;
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

int ThreadWindows() {
  int count = 0;
  EnumThreadWindows(
      GetCurrentThreadId(), [](HWND, LPARAM lp) CALLBACK -> BOOL { return ++*reinterpret_cast<int*>(lp), TRUE; },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

void CheckCreationRefused() {
  for (const wchar_t* cls : {L"frmIpsetter", L"Edit", L"Button", L"Static"}) {
    ipsetter::sim::SimulatedNetwork network;
    network.adapters.push_back(StaticAdapter());
    RecordingPlatform platform;
    const int windows_before = ThreadWindows();
    g_refused_class = cls;
    g_refused = 0;
    HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseCreation, nullptr, GetCurrentThreadId());
    const int code = ipsetter::RunIpsetter(GetModuleHandleW(nullptr), network, platform);
    UnhookWindowsHookEx(hook);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // the frame's end posts one
    Check(hook != nullptr && code == 1 && g_refused == 1 && network.calls.empty() && platform.placements.empty() &&
              ThreadWindows() == windows_before && FindWindowW(L"frmIpsetter", nullptr) == nullptr,
          "creation of the first " + Narrow(cls) + " window refused: exit code 1, no call, no window left",
          "code " + std::to_string(code) + ", " + std::to_string(network.calls.size()) + " calls, " +
              std::to_string(ThreadWindows()) + " windows");
  }
}

int HiddenStatics(HWND hwnd) {
  int count = 0;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
    count += ClassOf(c) == L"Static" && (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) == 0;
  return count;
}

// A window without its form, and a peer whose window is gone: what reaches it then (a late
// message, a form still unloading) does nothing and makes no window.
void CheckWithoutForm() {
  RecordingPlatform platform;
  const double screen =
      layout::PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), static_cast<int>(GetDpiForSystem()));
  Check(platform.ScreenWidthTwips() == screen, "no window yet: the screen measured at the system's DPI",
        std::to_string(platform.ScreenWidthTwips()));
  int labels = 0;
  for (const layout::Control* c : layout::CreationOrder())
    labels += ipsetter::win32::HiddenLabelText(c->id).has_value();
  ipsetter::win32::MainWindow window(GetModuleHandleW(nullptr));
  window.Create();
  HWND hwnd = window.hwnd();
  HWND apply = GetDlgItem(hwnd, static_cast<int>(ControlId::cmdApply));
  const int windows = ThreadWindows();
  g_refused = 0;
  HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseCreation, nullptr, GetCurrentThreadId());
  g_refused_class = TOOLTIPS_CLASSW;
  window.CreateTooltips();
  g_refused = 0;
  g_refused_class = L"Static";
  window.CreateHiddenLabels();
  UnhookWindowsHookEx(hook);
  Check(ThreadWindows() == windows && HiddenStatics(hwnd) == labels - 1,
        "tooltips and a naming label refused: the others made, nothing else",
        std::to_string(HiddenStatics(hwnd)) + " of " + std::to_string(labels));
  SendMessageW(hwnd, WM_SETFOCUS, 0, 0);
  Check(GetFocus() == nullptr || !IsChild(hwnd, GetFocus()), "hidden: a focus given to no control");
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  SetFocus(nullptr);
  SendMessageW(hwnd, WM_SETFOCUS, 0, 0);
  Check(GetFocus() == GetDlgItem(hwnd, static_cast<int>(ControlId::txtIp)),
        "shown: a focus given to the frame goes to the first control");
  for (HWND c = GetWindow(hwnd, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
    EnableWindow(c, FALSE);
  SetFocus(nullptr);
  SendMessageW(hwnd, WM_SETFOCUS, 0, 0);
  Check(GetFocus() == nullptr || !IsChild(hwnd, GetFocus()), "every control off: the focus goes to none");
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(static_cast<int>(ControlId::cmdExit), BN_CLICKED),
               reinterpret_cast<LPARAM>(apply));
  Check(IsWindow(hwnd) != FALSE, "a click without a form does nothing");
  window.StartTimer(ControlId::Timer1, 60000);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  MSG msg{};
  const bool quit = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
  Check(!IsWindow(hwnd) && window.hwnd() == nullptr && quit, "closed without a form: destroyed, quits");

  const int left = ThreadWindows();
  window.SetTitle(L"Ipsetter - Updated");
  window.SetText(ControlId::txtIp, L"10.1.2.3");
  window.SetEnabled(ControlId::txtIp, true);
  window.ShowCheck(ControlId::chkStatic, 1);
  window.Focus(ControlId::txtIp);
  window.Show();
  window.Hide();
  window.SetLeftTwips(1500);
  window.SetTopTwips(1500);
  window.StartTimer(ControlId::Timer1, 10);
  window.StopTimer(ControlId::Timer1);
  window.CreateTooltips();
  window.CreateHiddenLabels();
  window.Destroy();
  Pump(50);
  Check(ThreadWindows() == left && window.Title().empty() && window.Text(ControlId::txtIp).empty() &&
            !window.Enabled(ControlId::txtIp) && window.Handle() == 0 && window.OuterWidthTwips() == 0 &&
            !PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE),
        "after the window's end: calls make nothing, read nothing");

  HWND live = nullptr;
  {
    ipsetter::win32::MainWindow dropped(GetModuleHandleW(nullptr));
    dropped.Create();
    live = dropped.hwnd();
  }
  PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  Check(live != nullptr && !IsWindow(live), "a window outlived by nothing: its end destroys it");
}

void CheckPeer(ipsetter::win32::MainWindow& window) {
  HWND hwnd = window.hwnd();
  HWND status = GetDlgItem(hwnd, static_cast<int>(ControlId::txtStatus));
  const std::wstring long_text(20000, L'x');
  window.SetText(ControlId::txtStatus, long_text);
  Check(window.Text(ControlId::txtStatus) == long_text && TextOf(status).size() == 20000,
        "a long status text is kept whole");
  window.SetText(ControlId::txtStatus, L"Invalid Subnet Mask - Trying DHCP ..");
  Check(TextOf(status) == L"Invalid Subnet Mask - Trying DHCP ..", "SetText reaches the control");
  window.SetText(ControlId::txtStatus, L"");
  // No length limit: a paste of 40,000 characters arrives whole and typing goes on after it.
  const std::wstring pasted(40000, L'7');
  for (const layout::Control* c : layout::CreationOrder()) {
    if (c->kind != layout::ControlKind::TextBox)
      continue;
    HWND box = GetDlgItem(hwnd, static_cast<int>(c->id));
    const std::wstring shown = TextOf(box);
    SendMessageW(box, EM_SETSEL, 0, -1);
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pasted.c_str()));
    SendMessageW(box, WM_CHAR, L'8', 0);
    Check(window.Text(c->id) == pasted + L"8", Name(c->id) + " takes 40,001 characters",
          std::to_string(window.Text(c->id).size()));
    SetWindowTextW(box, shown.c_str());
  }
  window.SetTitle(L"Ipsetter - Refreshing ..");
  HWND sink_label = GetWindow(GetDlgItem(hwnd, static_cast<int>(ControlId::txtOver)), GW_HWNDPREV);
  Check(window.Title() == L"Ipsetter - Refreshing .." && TextOf(hwnd) == L"Ipsetter - Refreshing .." &&
            TextOf(sink_label) == L"Ipsetter - Refreshing ..",
        "SetTitle, and the focus sink is named after it");
  window.SetTitle(L"Ipsetter");
  HWND dns2 = GetDlgItem(hwnd, static_cast<int>(ControlId::txtDns2));
  window.SetEnabled(ControlId::txtDns2, false);
  Check(!IsWindowEnabled(dns2) && !window.Enabled(ControlId::txtDns2), "SetEnabled(false)");
  window.SetEnabled(ControlId::txtDns2, true);
  Check(IsWindowEnabled(dns2) && window.Enabled(ControlId::txtDns2), "SetEnabled(true)");
  window.Focus(ControlId::txtOver);
  Check(GetFocus() == GetDlgItem(hwnd, static_cast<int>(ControlId::txtOver)), "Focus(txtOver)");
  // What is typed into the focus sink stays behind the IP box.
  HWND ip = GetDlgItem(hwnd, static_cast<int>(ControlId::txtIp));
  auto capture = [&] {
    RECT r{};
    GetWindowRect(ip, &r);
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    for (int y = r.top; y < r.bottom; y += 2) {
      for (int x = r.left; x < r.right; x += 2)
        pixels.push_back(GetPixel(screen, x, y));
    }
    ReleaseDC(nullptr, screen);
    return pixels;
  };
  Pump(50);
  const std::vector<COLORREF> before = capture();
  HWND sink = GetDlgItem(hwnd, static_cast<int>(ControlId::txtOver));
  for (int i = 0; i < 12; ++i)
    SendMessageW(sink, WM_CHAR, L'W', 0);
  Pump(50);
  Check(TextOf(sink) == L"WWWWWWWWWWWW" && capture() == before, "text typed into txtOver is not seen");
  SetWindowTextW(sink, L"");
  Check(window.Text(ControlId::Timer1).empty() && !window.Enabled(ControlId::Timer1),
        "the timer has no window");
}

void CheckEvents(ipsetter::win32::MainWindow& window,
                 ipsetter::frmIpsetter& form,
                 RecordingPlatform& platform,
                 ipsetter::sim::SimulatedNetwork& network) {
  HWND hwnd = window.hwnd();
  auto item = [&](ControlId id) { return GetDlgItem(hwnd, static_cast<int>(id)); };
  Check(SendMessageW(item(ControlId::chkStatic), BM_GETCHECK, 0, 0) == BST_CHECKED &&
            form.chkStatic.Value() == 1,
        "static adapter: box ticked after load");
  Check(TextOf(item(ControlId::txtIp)) == L"192.168.10.20" &&
            TextOf(item(ControlId::txtDns2)) == L"192.168.10.2",
        "addresses shown after load");

  SendMessageW(item(ControlId::chkStatic), BM_CLICK, 0, 0);
  Check(form.chkStatic.Value() == 0 &&
            SendMessageW(item(ControlId::chkStatic), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
        "a click on the box reaches the form once");
  Check(!IsWindowEnabled(item(ControlId::txtIp)) && IsWindowEnabled(item(ControlId::cmdApply)),
        "unticked with static adapters: boxes off, Apply on");
  SendMessageW(item(ControlId::chkStatic), BM_CLICK, 0, 0);
  Check(form.chkStatic.Value() == 1 && IsWindowEnabled(item(ControlId::txtIp)), "ticked again: boxes on");

  // Enter and Escape come as IDOK and IDCANCEL: no default or cancel button.
  const int calls_before = static_cast<int>(network.calls.size());
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(static_cast<int>(ControlId::txtOver), BN_CLICKED),
               reinterpret_cast<LPARAM>(item(ControlId::txtOver)));
  Check(static_cast<int>(network.calls.size()) == calls_before && TextOf(hwnd) == L"Ipsetter",
        "IDOK, IDCANCEL and a click notice from a box do nothing");
  bool any_default = false;
  for (ControlId id :
       {ControlId::cmdApply, ControlId::cmdRefresh, ControlId::cmdExit, ControlId::cmdKeyboard}) {
    any_default |= (GetWindowLongPtrW(item(id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  }
  Check(!any_default, "no default button");

  SendMessageW(item(ControlId::cmdRefresh), BM_CLICK, 0, 0);
  Check(TextOf(hwnd) == L"Ipsetter - Refreshing .." && !IsWindowEnabled(item(ControlId::cmdExit)),
        "Refresh: title and locked window");
  const ULONGLONG start = GetTickCount64();
  while (TextOf(hwnd) != L"Ipsetter" && GetTickCount64() - start < 3000)
    Pump(20);
  const ULONGLONG took = GetTickCount64() - start;
  Check(TextOf(hwnd) == L"Ipsetter" && IsWindowEnabled(item(ControlId::cmdExit)) && !form.Timer1.Ticking(),
        "the timer's tick reaches the monitor", std::to_string(took) + " ms");
  Check(took >= 250, "the first tick comes after the interval", std::to_string(took) + " ms");

  network.processes = {L"osk.exe", {L"osk.exe", 2}, L"msswchx.exe"};
  SendMessageW(item(ControlId::cmdKeyboard), BM_CLICK, 0, 0);
  Check(platform.keyboard_starts == 1 && network.CountOf(L"Terminate") == 2 &&
            network.processes == std::vector<ipsetter::sim::Process>{{L"osk.exe", 2}} &&
            GetFocus() == item(ControlId::txtOver),
        "keyboard button: this session's two processes ended, another session's left, one keyboard "
        "started, focus on txtOver");
}

// The start where no desktop shell answers: what it asks of ShellExecuteEx. A per-user exefile
// command is planted first; the class key handed over must still be the machine's.
// The call's strings are the caller's and gone once it returns: kept as copies.
struct RecordedStart {
  SHELLEXECUTEINFOW info{};
  std::wstring verb, file, directory, command;
} recorded;
std::wstring Copy(const wchar_t* text) {
  return text ? text : L"(null)";
}
BOOL WINAPI RecordStart(SHELLEXECUTEINFOW* info) {
  recorded.info = *info;
  recorded.verb = Copy(info->lpVerb);
  recorded.file = Copy(info->lpFile);
  recorded.directory = Copy(info->lpDirectory);
  wchar_t command[512] = {};
  LONG size = sizeof(command);
  recorded.command = RegQueryValueW(info->hkeyClass, L"shell\\open\\command", command, &size) == ERROR_SUCCESS
                         ? command
                         : L"(unreadable)";
  SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

void CheckKeyboardFallback() {
  HKEY user = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\exefile\\shell\\open\\command", 0, nullptr, 0,
                  KEY_SET_VALUE, nullptr, &user, nullptr);
  const wchar_t planted[] = L"C:\\users\\public\\planted.exe \"%1\"";
  RegSetValueExW(user, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(planted), sizeof(planted));
  RegCloseKey(user);
  wchar_t machine[512] = {};
  LONG size = sizeof(machine);
  RegQueryValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\exefile\\shell\\open\\command", machine, &size);

  const std::wstring folder = ipsetter::win32::SystemDirectory();
  const bool started = ipsetter::win32::StartThroughMachineClass(folder + L"\\osk.exe", folder, RecordStart);
  const DWORD error = GetLastError();
  const SHELLEXECUTEINFOW& r = recorded.info;
  std::printf(
      "# keyboard fallback call: ShellExecuteExW fMask=0x%lx lpVerb=%s lpFile=%s lpDirectory=%s "
      "lpParameters=%s lpClass=%s nShow=%d hkeyClass's shell\\open\\command=%s\n",
      static_cast<unsigned long>(r.fMask), Narrow(recorded.verb).c_str(), Narrow(recorded.file).c_str(),
      Narrow(recorded.directory).c_str(), r.lpParameters ? "set" : "(null)", r.lpClass ? "set" : "(null)",
      r.nShow, Narrow(recorded.command).c_str());
  Check(r.cbSize == sizeof(SHELLEXECUTEINFOW) &&
            r.fMask == (SEE_MASK_CLASSKEY | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI) &&
            recorded.verb == L"open" && recorded.file == folder + L"\\osk.exe" &&
            recorded.directory == folder && !r.lpParameters && !r.lpClass && r.nShow == SW_SHOWNORMAL,
        "keyboard fallback: System32's osk.exe, verb open, in System32, shown normally, through a class key",
        Narrow(std::to_wstring(r.fMask) + L" " + recorded.file));
  Check(machine[0] && recorded.command == machine,
        "keyboard fallback: the class key is the machine's exefile, not the user's planted one",
        Narrow(recorded.command + L" / machine: " + machine));
  DWORD subkeys = 0;
  Check(RegQueryInfoKeyW(r.hkeyClass, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS,
        "keyboard fallback: the class key is closed afterwards");
  Check(!started && error == ERROR_FILE_NOT_FOUND,
        "keyboard fallback: a failed start is reported with its error", std::to_string(error));

  // The program's own start with no desktop shell: the machine's exefile command decides what runs
  // (here one that writes what it was given), the planted per-user one does not.
  class Shellless : public ipsetter::Win32Platform {
    bool StartAsDesktopUser(const std::wstring&, const std::wstring&) const override { return false; }
  } shellless;
  HKEY command = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\exefile\\shell\\open\\command", 0, KEY_SET_VALUE,
                &command);
  const std::wstring recorder = folder + L"\\cmd.exe /c echo %1> C:\\keyboard-fallback.txt";
  RegSetValueExW(command, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(recorder.c_str()),
                 static_cast<DWORD>((recorder.size() + 1) * sizeof(wchar_t)));
  DeleteFileW(L"C:\\keyboard-fallback.txt");
  // Wine has no osk.exe, and the program starts none that is missing. A 32-bit program on 64-bit
  // Windows starts the 64-bit one, through Sysnative.
  const std::wstring native = ipsetter::win32::NativeSystemDirectory();
  const std::wstring osk = native + L"\\osk.exe";
  const bool made_osk = CopyFileW((native + L"\\cmd.exe").c_str(), osk.c_str(), TRUE) != FALSE;
  bool threw = false;
  try {
    shellless.StartKeyboard();
  } catch (...) {
    threw = true;
  }
  std::string said;
  for (int i = 0; i < 50 && said.empty(); ++i) {
    Sleep(100);
    if (FILE* f = _wfopen(L"C:\\keyboard-fallback.txt", L"rb")) {
      char line[512] = {};
      said = std::fgets(line, sizeof(line), f) ? line : "";
      std::fclose(f);
    }
  }
  RegSetValueExW(command, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(machine),
                 static_cast<DWORD>((wcslen(machine) + 1) * sizeof(wchar_t)));
  RegCloseKey(command);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' '))
    said.pop_back();
  Check(!threw && said == Narrow(osk),
        "keyboard without a desktop shell: started through the machine's exefile command", said);
  if (made_osk)
    DeleteFileW(osk.c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\exefile");
}

// Form_Load centres with the screen and the window measured in the same unit.
void CheckCentred(ipsetter::win32::MainWindow& window, ipsetter::frmIpsetter& form, const std::string& when) {
  form.OnLoad();
  RECT outer{};
  GetWindowRect(window.hwnd(), &outer);
  const int want_left = (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2;
  const int want_top = (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2;
  Check(std::abs(outer.left - want_left) <= 1 && std::abs(outer.top - want_top) <= 1,
        when + ": centred on load", RectText(outer));
}

void CheckDpiChange(ipsetter::win32::MainWindow& window, ipsetter::frmIpsetter& form) {
  HWND hwnd = window.hwnd();
  RECT before{};
  GetWindowRect(hwnd, &before);
  RECT suggested{before.left, before.top, before.left + 450, before.top + 330};
  SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  RECT client{}, outer{};
  GetClientRect(hwnd, &client);
  GetWindowRect(hwnd, &outer);
  Check(client.right == 444 && client.bottom == 288 && outer.left == before.left && outer.top == before.top,
        "WM_DPICHANGED 144: client 444 x 288 at the suggested place", RectText(client));
  bool all = true;
  for (const layout::Control* c : layout::CreationOrder()) {
    const RECT r = ClientRectOf(hwnd, GetDlgItem(hwnd, static_cast<int>(c->id)));
    const layout::PixelRect want = layout::ToPixels(*c, 144);
    all &= r.left == want.left && r.top == want.top && r.right - r.left == want.width &&
           r.bottom - r.top == want.height;
  }
  Check(all, "WM_DPICHANGED 144: every control placed for 144 DPI");
  LOGFONTW lf{};
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(hwnd, 113), WM_GETFONT, 0, 0));
  GetObjectW(font, sizeof(lf), &lf);
  Check(lf.lfHeight == -20, "WM_DPICHANGED 144: address font 20 px", std::to_string(lf.lfHeight));
  CheckKeyboardPicture(hwnd, 144);
  CheckCentred(window, form, "WM_DPICHANGED 144");
  SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&before));
  GetClientRect(hwnd, &client);
  Check(client.right == 296 && client.bottom == 192, "WM_DPICHANGED 96: back to 296 x 192", RectText(client));
  CheckKeyboardPicture(hwnd, 96);
  CheckCentred(window, form, "WM_DPICHANGED 96");
}

HWND FindTooltip(HWND owner) {
  struct Search {
    HWND owner, found;
  } search{owner, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM lp) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        wchar_t cls[64] = {};
        GetClassNameW(hwnd, cls, 64);
        if (_wcsicmp(cls, TOOLTIPS_CLASSW) == 0 && GetWindow(hwnd, GW_OWNER) == s->owner) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void CheckTooltips(HWND hwnd) {
  HWND tip = FindTooltip(hwnd);
  Check(tip != nullptr, "tooltip window owned by the window");
  if (tip == nullptr)
    return;
  struct Row {
    ControlId id;
    std::wstring text;
  };
  const Row rows[] = {{ControlId::cmdKeyboard, L"Virtual Keyboard"},
                      {ControlId::cmdRefresh, L"Refresh Info"},
                      {ControlId::cmdExit, L"Close Program"},
                      {ControlId::cmdApply, L"Apply Changes"}};
  Check(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0) == 4, "four tooltips");
  for (const Row& row : rows) {
    wchar_t text[128] = {};
    TTTOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.hwnd = hwnd;
    info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(hwnd, static_cast<int>(row.id)));
    info.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&info));
    Check(row.text == text, "tooltip of " + Name(row.id), Narrow(text));
  }
}

void CheckClose(ipsetter::win32::MainWindow& window, ipsetter::sim::SimulatedNetwork& network) {
  HWND hwnd = window.hwnd();
  network.processes = {L"osk.exe"};
  const int terminates = network.CountOf(L"Terminate");
  SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  MSG msg{};
  const bool quit = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
  Check(!IsWindow(hwnd) && window.hwnd() == nullptr && quit,
        "close through the frame destroys the window and quits");
  Check(network.CountOf(L"Terminate") == terminates + 1, "closing ends the running keyboard");
}

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

void Key(WORD vk, bool alt) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD key, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(in);
  };
  if (alt)
    add(VK_MENU, false);
  add(vk, false);
  add(vk, true);
  if (alt)
    add(VK_MENU, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

template <typename Predicate>
bool WaitFor(Predicate done, DWORD ms = 3000) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() > end)
      return false;
    Sleep(10);
  }
  return true;
}

// The whole program as RunIpsetter runs it, on a thread of its own and driven with real
// keystrokes: Tab order, the access keys, and a second start in the same session.
void CheckRunningProgram() {
  ipsetter::sim::SimulatedNetwork first_network;
  first_network.adapters.push_back(StaticAdapter());
  RecordingPlatform first_platform;
  first_platform.network = &first_network;
  std::thread first([&] { ipsetter::RunIpsetter(GetModuleHandleW(nullptr), first_network, first_platform); });
  HWND running = nullptr;
  WaitFor([&] {
    running = FindWindowW(L"frmIpsetter", nullptr);
    return running != nullptr && IsWindowVisible(running);
  });
  Check(running != nullptr && IsWindowVisible(running), "RunIpsetter shows the window");
  if (running == nullptr) {
    first.join();
    return;
  }
  const DWORD thread = GetWindowThreadProcessId(running, nullptr);
  auto focus_id = [&] { return GetDlgCtrlID(FocusOf(thread)); };
  SetForegroundWindow(running);
  Check(WaitFor([&] { return focus_id() == static_cast<int>(ControlId::txtIp); }), "first focus on txtIp",
        std::to_string(focus_id()));
  auto title = [&] { return TextOf(running); };
  // Keys that must do nothing where the focus is; nothing is a default or cancel button.
  auto inert = [&](std::initializer_list<WORD> keys, const std::string& what) {
    const int queries = first_network.CountOf(L"ExecQuery");
    for (WORD key : keys)
      Key(key, false);
    Sleep(400);
    Check(IsWindow(running) && title() == L"Ipsetter" && first_network.CountOf(L"ExecQuery") == queries &&
              first_network.CountOf(L"EnableStatic") == 0,
          what + " do nothing", Narrow(title()));
  };
  inert({VK_RETURN, VK_ESCAPE}, "Enter and Escape in txtIp");

  const ControlId tab_order[] = {ControlId::txtSubnet,  ControlId::txtGateway, ControlId::txtDns1,
                                 ControlId::txtDns2,    ControlId::chkStatic,  ControlId::cmdApply,
                                 ControlId::cmdRefresh, ControlId::cmdExit,    ControlId::cmdKeyboard,
                                 ControlId::txtOver,    ControlId::txtIp};
  std::string seen;
  bool in_order = true;
  for (ControlId id : tab_order) {
    Key(VK_TAB, false);
    in_order &= WaitFor([&] { return focus_id() == static_cast<int>(id); }, 1000);
    seen += std::to_string(focus_id()) + " ";
  }
  Check(in_order, "Tab runs through the tab order into txtOver and back to txtIp", seen);
  Key(VK_TAB, false);
  Key(VK_TAB, false);
  Check(WaitFor([&] { return focus_id() == static_cast<int>(ControlId::txtGateway); }, 1000), "Tab twice");
  HWND subnet = GetDlgItem(running, static_cast<int>(ControlId::txtSubnet));
  Key(VK_TAB, false);  // towards txtDns1
  WaitFor([&] { return focus_id() == static_cast<int>(ControlId::txtDns1); }, 1000);
  {
    INPUT shift{};
    shift.type = INPUT_KEYBOARD;
    shift.ki.wVk = VK_SHIFT;
    SendInput(1, &shift, sizeof(INPUT));
    Key(VK_TAB, false);
    Key(VK_TAB, false);
    shift.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &shift, sizeof(INPUT));
  }
  Check(WaitFor([&] { return FocusOf(thread) == subnet; }, 1000), "Shift+Tab goes back",
        std::to_string(focus_id()));

  // Space on the focused box ticks it off and on; the box keeps the focus through the locking.
  HWND check = GetDlgItem(running, static_cast<int>(ControlId::chkStatic));
  SendMessageW(running, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(check), TRUE);
  for (int i = 0; i < 5 && FocusOf(thread) != check; ++i)
    Key(VK_TAB, false), Sleep(50);
  Key(VK_SPACE, false);
  Check(WaitFor([&] { return SendMessageW(check, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }, 1000) &&
            FocusOf(thread) == check,
        "Space unticks the box and it keeps the focus", std::to_string(focus_id()));
  Key(VK_SPACE, false);
  Check(WaitFor([&] { return SendMessageW(check, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 1000) &&
            FocusOf(thread) == check,
        "Space ticks it again", std::to_string(focus_id()));
  // Access keys want Alt: a stray letter on a kiosk must not apply, refresh or close.
  inert({'A', 'R', 'C', VK_RETURN, VK_ESCAPE}, "A, R, C, Enter and Escape on the Static box");
  Key(VK_TAB, false);
  Check(WaitFor([&] { return focus_id() == static_cast<int>(ControlId::cmdApply); }, 1000), "Tab to Apply");
  inert({'R', 'C', 'A', VK_ESCAPE}, "R, C, A and Escape on the Apply button");
  Key('R', true);
  Check(WaitFor([&] { return title() == L"Ipsetter - Refreshing .."; }, 2000), "Alt+R refreshes",
        Narrow(title()));
  Check(WaitFor([&] { return title() == L"Ipsetter"; }, 3000), "the refresh ends");

  SendMessageW(GetDlgItem(running, static_cast<int>(ControlId::txtIp)), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(L"10.1.2.3"));
  Key('A', true);
  Check(WaitFor([&] { return first_network.CountOf(L"EnableStatic") == 1; }, 2000), "Alt+A applies");
  Check(WaitFor([&] { return title() == L"Ipsetter - Updated"; }, 3000), "the apply ends updated",
        Narrow(title()));

  ipsetter::sim::SimulatedNetwork second_network;
  RecordingPlatform second_platform;
  const ULONGLONG start = GetTickCount64();
  const int code = ipsetter::RunIpsetter(GetModuleHandleW(nullptr), second_network, second_platform);
  int windows = 0;
  EnumWindows(
      [](HWND hwnd, LPARAM lp) CALLBACK -> BOOL {
        wchar_t cls[64] = {};
        GetClassNameW(hwnd, cls, 64);
        if (std::wstring(cls) == L"frmIpsetter")
          ++*reinterpret_cast<int*>(lp);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  Check(code == 0 && second_network.calls.empty() && second_platform.placements.empty() && windows == 1 &&
            GetTickCount64() - start < 1000,
        "second start ends silently", std::to_string(windows) + " windows");

  SetForegroundWindow(running);
  Key('C', true);
  const bool closed = WaitFor([&] { return !IsWindow(running); }, 3000);
  Check(closed, "Alt+C closes the window");
  if (!closed)
    PostMessageW(running, WM_CLOSE, 0, 0);
  first.join();
  Check(!IsWindow(running), "the program ends with its window");
}

// Windows before 10 1607 has no per-monitor DPI functions: the window takes the system DPI from
// the screen and the frame its metrics, and is laid out as on the per-monitor road.
void CheckWithoutPerMonitorDpi(SIZE per_monitor_frame) {
  std::printf("# without the per-monitor DPI functions\n");
  ipsetter::sim::SimulatedNetwork network;
  network.adapters.push_back(StaticAdapter());
  RecordingPlatform platform;
  platform.network = &network;
  ipsetter::win32::MainWindow window(GetModuleHandleW(nullptr), ipsetter::win32::DpiFunctions{});
  Check(window.Create(), "without per-monitor DPI: window created");
  platform.SetDpiSource([&window] { return window.Dpi(); });
  ipsetter::frmIpsetter form(window, platform, network);
  window.SetForm(&form);
  form.OnLoad();
  const int dpi = window.Dpi();
  Check(dpi == static_cast<int>(GetDpiForSystem()), "without per-monitor DPI: the system's DPI",
        std::to_string(dpi));
  RECT outer{};
  GetWindowRect(window.hwnd(), &outer);
  Check(outer.right - outer.left == per_monitor_frame.cx && outer.bottom - outer.top == per_monitor_frame.cy,
        "without per-monitor DPI: the frame's size as with them", RectText(outer));
  CheckFrame(window, platform, dpi);
  CheckControls(window.hwnd(), dpi);
  window.SetForm(nullptr);
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  setvbuf(stdout, nullptr, _IONBF, 0);
  SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&icc);
  RECT per_monitor{};
  {
    ipsetter::sim::SimulatedNetwork network;
    network.adapters.push_back(StaticAdapter());
    RecordingPlatform platform;
    platform.network = &network;
    ipsetter::win32::MainWindow window(GetModuleHandleW(nullptr));
    Check(window.Create(), "window created");
    Check(!IsWindowVisible(window.hwnd()), "created hidden");
    platform.SetDpiSource([&window] { return window.Dpi(); });
    ipsetter::frmIpsetter form(window, platform, network);
    window.SetForm(&form);
    form.OnLoad();
    window.CreateTooltips();
    window.CreateHiddenLabels();
    Pump(100);
    const int dpi = window.Dpi();
    LARGE_INTEGER frequency{}, before{}, after{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    const bool notifications = ipsetter::win32::Announcer().Available();
    QueryPerformanceCounter(&after);
    std::printf("# window DPI %d; UI Automation notifications %s (looked up in %.1f ms)\n", dpi,
                notifications ? "available" : "not available",
                1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                    static_cast<double>(frequency.QuadPart));
    CheckFrame(window, platform, dpi);
    GetWindowRect(window.hwnd(), &per_monitor);
    CheckControls(window.hwnd(), dpi);
    CheckColours(window);
    CheckTooltips(window.hwnd());
    CheckPeer(window);
    CheckEvents(window, form, platform, network);
    CheckDpiChange(window, form);
    CheckClose(window, network);
    window.SetForm(nullptr);
  }
  CheckWithoutPerMonitorDpi({per_monitor.right - per_monitor.left, per_monitor.bottom - per_monitor.top});
  CheckKeyboardFallback();
  CheckCreationRefused();
  CheckWithoutForm();
  CheckRunningProgram();
  CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
