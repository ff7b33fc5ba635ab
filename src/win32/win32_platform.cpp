// The screen, placement, the keyboard's start and sessions on the real system.
#include "win32_platform.h"

#include <windows.h>

#include <string>

#include "accessibility.h"
#include "dpi.h"
#include "keyboard_start.h"
#include "layout.h"
#include "management.h"
#include "system_folders.h"

namespace ipsetter {
namespace {

[[noreturn]] void ThrowLastError(const wchar_t* what) {
  throw ManagementError(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(GetLastError())), what);
}

}  // namespace

int Win32Platform::Dpi() const {
  if (dpi_)
    return dpi_();
  return win32::SystemDpi(win32::DpiFunctions::OfSystem());
}

double Win32Platform::ScreenWidthTwips() const {
  return layout::PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), Dpi());
}

double Win32Platform::ScreenHeightTwips() const {
  return layout::PixelsToTwips(GetSystemMetrics(SM_CYSCREEN), Dpi());
}

void Win32Platform::SetWindowPos(std::intptr_t hwnd,
                                 std::intptr_t insert_after,
                                 std::int32_t x,
                                 std::int32_t y,
                                 std::int32_t cx,
                                 std::int32_t cy,
                                 std::int32_t flags) {
  ::SetWindowPos(reinterpret_cast<HWND>(hwnd), reinterpret_cast<HWND>(insert_after), x, y, cx, cy,
                 static_cast<UINT>(flags));
}

// Only the system directory's copy: an osk.exe planted in the current directory or on PATH must
// not run. As the desktop user where Explorer answers; else from here, elevated (README, Security).
// Explorer, a native process, is given System32; this process, under WOW64, reaches the same file
// through Sysnative.
void Win32Platform::StartKeyboard() {
  const std::wstring folder = win32::SystemDirectory();
  const std::wstring path = folder + L"\\osk.exe";
  const std::wstring own_folder = win32::NativeSystemDirectory();
  const std::wstring own_path = own_folder + L"\\osk.exe";
  // A Windows without the keyboard (a trimmed image): Explorer would say so in a box of its own, and
  // a failed start is to pass silently.
  if (GetFileAttributesW(own_path.c_str()) == INVALID_FILE_ATTRIBUTES)
    ThrowLastError(L"The on-screen keyboard cannot be started");
  if (StartAsDesktopUser(path, folder))
    return;
  // osk.exe asks for UI access, which CreateProcess refuses (740); the shell starts it.
  if (!win32::StartThroughMachineClass(own_path, own_folder))
    ThrowLastError(L"The on-screen keyboard cannot be started");
}

bool Win32Platform::StartAsDesktopUser(const std::wstring& path, const std::wstring& folder) const {
  return win32::StartAsDesktopUser(path, folder);
}

bool Win32Platform::RunsInThisSession(std::uint32_t process_id) const {
  DWORD own = 0;
  DWORD theirs = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &own) && ProcessIdToSessionId(process_id, &theirs) &&
         own == theirs;
}

bool Win32Platform::HighContrast() const {
  return win32::SystemHighContrast();
}

}  // namespace ipsetter
