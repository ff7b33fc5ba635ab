// System32 as this process and the system see it, DLLs by full path, functions looked up at run time.
#pragma once

#include <windows.h>

#include <string>

// The program runs elevated: what it starts and loads comes from System32 only, never from a folder
// users can write. Newer functions are asked for at run time, so that an older loader starts it.
namespace ipsetter::win32 {

// Through void (*)(): GCC's way of being told that the exported function has this type.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  if (module == nullptr)
    return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// System32 as this process sees it (SysWOW64 behind it under WOW64); throws ManagementError when
// it cannot be found.
std::wstring SystemDirectory();

// Whether this is a 32-bit process on 64-bit Windows, x64 or ARM64.
bool RunsUnderWow64();

// The System32 that holds the system's own 64-bit programs, as this process reaches it: under WOW64
// %windir%\Sysnative (its own System32 is SysWOW64, which has no osk.exe), else System32. Throws
// ManagementError when it cannot be found.
std::wstring NativeSystemDirectory();

// A DLL of this process's System32, by its full path; nullptr when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace ipsetter::win32
