// The program's run: one instance per session, the COM apartment, the window and its form, the loop.
#include "app.h"

#include <objbase.h>

#include <commctrl.h>

#include "frm_ipsetter.h"
#include "main_window.h"

namespace ipsetter {
namespace {

using win32::MainWindow;

constexpr wchar_t kInstanceMutexName[] = L"Local\\Ipsetter.SingleInstance.7D1C5E2A";

class InstanceMutex {
 public:
  InstanceMutex() : handle_(CreateMutexW(nullptr, FALSE, kInstanceMutexName)) {
    already_running_ = handle_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  }
  ~InstanceMutex() {
    if (handle_ != nullptr)
      CloseHandle(handle_);
  }
  InstanceMutex(const InstanceMutex&) = delete;
  InstanceMutex& operator=(const InstanceMutex&) = delete;
  bool AlreadyRunning() const { return already_running_; }

 private:
  HANDLE handle_;
  bool already_running_ = false;
};

// The UI thread is a single-threaded apartment (ShellExecuteEx needs one), and WMI's configuration
// methods fail unless the service may impersonate the caller.
class ComApartment {
 public:
  ComApartment() {
    initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    if (initialized_) {
      CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    }
  }
  ~ComApartment() {
    if (initialized_)
      CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialized_ = false;
};

// Keeps the window from calling into a form that no longer exists, however the run ends.
class FormConnection {
 public:
  FormConnection(MainWindow& window, frmIpsetter& form) : window_(window) { window_.SetForm(&form); }
  ~FormConnection() { window_.SetForm(nullptr); }
  FormConnection(const FormConnection&) = delete;
  FormConnection& operator=(const FormConnection&) = delete;

 private:
  MainWindow& window_;
};

// Measures the screen at the window's DPI while the window lives.
class DpiBinding {
 public:
  DpiBinding(Win32Platform& platform, const MainWindow& window) : platform_(platform) {
    platform_.SetDpiSource([&window] { return window.Dpi(); });
  }
  ~DpiBinding() { platform_.SetDpiSource(nullptr); }
  DpiBinding(const DpiBinding&) = delete;
  DpiBinding& operator=(const DpiBinding&) = delete;

 private:
  Win32Platform& platform_;
};

// The dialog manager would also take a plain letter as an access key while a button or the box
// has the focus. Only Alt+letter may click: a stray key on a kiosk must not apply or close.
bool IsLetterForAButton(const MSG& msg) {
  if (msg.message != WM_CHAR)
    return false;
  const LRESULT code = SendMessageW(msg.hwnd, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
  return (code & (DLGC_WANTCHARS | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) == 0;
}

int MessageLoop(MainWindow& window) {
  MSG msg{};
  bool first_idle_wanted = true;
  while (true) {
    // Nobody points at a control before the window is painted: the tooltips and the labels for
    // screen readers wait until the queue first runs dry, so that they do not delay the first
    // sight of the window.
    if (first_idle_wanted && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      window.CreateTooltips();
      window.CreateHiddenLabels();
      first_idle_wanted = false;
    }
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0)
      return static_cast<int>(msg.wParam);
    if (got == -1)
      return 1;
    // The dialog manager gives Tab, Shift+Tab and the access keys Alt+A, Alt+R, Alt+C.
    HWND hwnd = window.hwnd();
    if (hwnd != nullptr && !IsLetterForAButton(msg) && IsDialogMessageW(hwnd, &msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

int RunIpsetter(HINSTANCE instance, ManagementLocator& wmi, Win32Platform& platform) {
  try {
    InstanceMutex instance_mutex;
    if (instance_mutex.AlreadyRunning())
      return 0;
    ComApartment com;

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    MainWindow window(instance);
    window.SetHighContrastSource([&platform] { return platform.HighContrast(); });
    if (!window.Create())
      return 1;
    DpiBinding dpi(platform, window);
    frmIpsetter form(window, platform, wmi);
    FormConnection connection(window, form);
    // The window is created in the normal state and keeps it whatever the starter asked for (see
    // MainWindow::Show). Form_Load places it, makes it topmost and shows it once it is filled.
    form.OnLoad();
    return MessageLoop(window);
  } catch (...) {
    return 1;
  }
}

}  // namespace ipsetter
