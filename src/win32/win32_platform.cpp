#include "win32_platform.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "accessibility.h"
#include "layout.h"
#include "management.h"

namespace ipsetter {
namespace {

[[noreturn]] void ThrowLastError(const wchar_t* what) {
  throw ManagementError(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(GetLastError())), what);
}

}  // namespace

int Win32Platform::Dpi() const {
  if (dpi_)
    return dpi_();
  const UINT dpi = GetDpiForSystem();
  return dpi != 0 ? static_cast<int>(dpi) : 96;
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

// Only the system directory's copy: the program runs elevated, and an osk.exe planted in the
// current directory or on PATH must not run with its rights.
void Win32Platform::StartKeyboard() {
  std::wstring path(MAX_PATH, L'\0');
  UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
  if (length >= path.size()) {
    path.resize(length);
    length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
  }
  if (length == 0 || length >= path.size())
    ThrowLastError(L"The system directory cannot be found");
  path.resize(length);
  path += L"\\osk.exe";

  // osk.exe asks for UI access, which CreateProcess refuses (740); the shell starts it.
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info))
    ThrowLastError(L"The on-screen keyboard cannot be started");
}

bool Win32Platform::HighContrast() const {
  return win32::SystemHighContrast();
}

}  // namespace ipsetter
