// ipsetter.exe: the window over the real network, through WMI.
#include <windows.h>

#include <memory>

#include "app.h"
#include "management.h"
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything loads a DLL: never from the program's folder or the current directory.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  DeferredWmiLocator wmi;
  ipsetter::Win32Platform platform;
  return ipsetter::RunIpsetter(instance, wmi, platform);
}
