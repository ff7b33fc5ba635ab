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

int MessageLoop(const MainWindow& window) {
  MSG msg{};
  while (true) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0)
      return static_cast<int>(msg.wParam);
    if (got == -1)
      return 1;
    // The dialog manager gives Tab, Shift+Tab and the access keys Alt+A, Alt+R, Alt+C.
    HWND hwnd = window.hwnd();
    if (hwnd != nullptr && IsDialogMessageW(hwnd, &msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

int RunIpsetter(HINSTANCE instance, ManagementLocator& wmi, Platform& platform) {
  try {
    InstanceMutex instance_mutex;
    if (instance_mutex.AlreadyRunning())
      return 0;
    ComApartment com;

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    MainWindow window(instance);
    if (!window.Create())
      return 1;
    frmIpsetter form(window, platform, wmi);
    FormConnection connection(window, form);
    // Form_Load places the window, makes it topmost and shows it once it is filled.
    form.OnLoad();
    window.CreateTooltips();
    return MessageLoop(window);
  } catch (...) {
    return 1;
  }
}

}  // namespace ipsetter
