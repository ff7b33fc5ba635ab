// ipsetter.exe: the window over the real network, through WMI.
#include <windows.h>

#include <memory>

#include "app.h"
#include "management.h"
#include "system_folders.h"
#include "win32_platform.h"
#include "wmi.h"

namespace {

// The WMI locator is made on first use, once RunIpsetter has set up COM on this thread.
class DeferredWmiLocator final : public ipsetter::ManagementLocator {
 public:
  std::unique_ptr<ipsetter::ManagementService> Bind(const std::wstring& moniker) override {
    if (!locator_)
      locator_ = ipsetter::win32::MakeWmiLocator();
    return locator_->Bind(moniker);
  }

 private:
  std::unique_ptr<ipsetter::ManagementLocator> locator_;
};

// Before anything loads a DLL: never from the program's folder or the current directory. Windows 7
// has SetDefaultDllDirectories only with a later update; without it the current directory leaves
// the search, and the program names what it loads itself by its System32 path.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default = ipsetter::win32::LookUp<SetDefaultDllDirectoriesFunction>(
      GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (set_default == nullptr || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
    SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearch();
  DeferredWmiLocator wmi;
  ipsetter::Win32Platform platform;
  return ipsetter::RunIpsetter(instance, wmi, platform);
}
