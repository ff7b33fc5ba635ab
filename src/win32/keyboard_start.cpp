// The two roads of the keyboard's start: through the desktop's shell, or the machine's class key.
#include "keyboard_start.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

#include "com_types.h"
#include "management.h"

namespace ipsetter::win32 {

using Microsoft::WRL::ComPtr;

// The desktop's folder view belongs to Explorer, which runs as the desktop user; its Application
// object starts programs in Explorer's process.
bool StartAsDesktopUser(const std::wstring& path, const std::wstring& folder) {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows))))
    return false;
  ScopedVariant desktop;
  desktop.SetInt(CSIDL_DESKTOP);
  ScopedVariant empty;
  long hwnd = 0;
  ComPtr<IDispatch> found;
  // S_FALSE: no desktop window.
  if (windows->FindWindowSW(desktop.AsInput(), empty.AsInput(), SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH,
                            &found) != S_OK ||
      !found)
    return false;
  ComPtr<IServiceProvider> provider;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folder_view;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(found.As(&provider)) ||
      FAILED(provider->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser))) ||
      FAILED(browser->QueryActiveShellView(&view)) || !view ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background))) || !background ||
      FAILED(background.As(&folder_view)) || FAILED(folder_view->get_Application(&application)) ||
      !application || FAILED(application.As(&shell)))
    return false;
  const ScopedBstr file(path);
  ScopedVariant arguments;
  ScopedVariant directory;
  directory.SetText(folder);
  ScopedVariant verb;
  verb.SetText(L"open");
  ScopedVariant show;
  show.SetInt(SW_SHOWNORMAL);
  return file.Get() && SUCCEEDED(shell->ShellExecute(file.Get(), *arguments.AsInput(), *directory.AsInput(),
                                                     *verb.AsInput(), *show.AsInput()));
}

bool StartThroughMachineClass(const std::wstring& path,
                              const std::wstring& folder,
                              ShellExecuteFunction execute) {
  HKEY exefile = nullptr;
  const LSTATUS opened =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\exefile", 0, KEY_READ, &exefile);
  if (opened != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(opened));
    return false;
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_CLASSKEY | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hkeyClass = exefile;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  const BOOL started = execute(&info);
  const DWORD error = GetLastError();
  RegCloseKey(exefile);
  SetLastError(error);
  return started != FALSE;
}

}  // namespace ipsetter::win32
