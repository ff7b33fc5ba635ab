// System32, its native twin under WOW64, and DLLs loaded from it by full path.
#include "system_folders.h"

#include "management.h"

namespace ipsetter::win32 {
namespace {

[[noreturn]] void ThrowNotFound(const wchar_t* what) {
  throw ManagementError(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(GetLastError())), what);
}

// A folder the system names through a call that says how long a buffer it needs.
std::wstring SystemFolder(UINT(WINAPI* get)(LPWSTR, UINT)) {
  std::wstring path(MAX_PATH, L'\0');
  UINT length = get(path.data(), static_cast<UINT>(path.size()));
  if (length >= path.size()) {
    path.resize(length);
    length = get(path.data(), static_cast<UINT>(path.size()));
  }
  if (length == 0 || length >= path.size())
    ThrowNotFound(L"The system directory cannot be found");
  path.resize(length);
  return path;
}

}  // namespace

std::wstring SystemDirectory() {
  return SystemFolder(GetSystemDirectoryW);
}

bool RunsUnderWow64() {
#if defined(_WIN64)
  return false;
#else
  // IsWow64Process answers FALSE for an x86 process on ARM64 Windows; IsWow64Process2 (Windows 10
  // 1709) tells it, and names no emulated machine for a native process.
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (const auto is_wow64_2 = LookUp<IsWow64Process2Function>(kernel32, "IsWow64Process2")) {
    USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
    if (is_wow64_2(GetCurrentProcess(), &process, &native))
      return process != IMAGE_FILE_MACHINE_UNKNOWN;
  }
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

std::wstring NativeSystemDirectory() {
  if (!RunsUnderWow64())
    return SystemDirectory();
  // The system's own Windows folder, not a per-user one a terminal server may give.
  std::wstring path = SystemFolder(GetSystemWindowsDirectoryW);
  if (path.back() != L'\\')
    path += L'\\';
  return path + L"Sysnative";
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  try {
    const std::wstring path = SystemDirectory() + L"\\" + name;
    // What the library imports in turn is looked for beside it first: in System32.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  } catch (const ManagementError&) {
    return nullptr;
  }
}

}  // namespace ipsetter::win32
