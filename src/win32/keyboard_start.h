// Starting the on-screen keyboard as the desktop user, or through the machine's exefile class.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace ipsetter::win32 {

// The program runs elevated; what it starts itself runs elevated too. The on-screen keyboard must
// not: from an elevated keyboard a person at a kiosk reaches other elevated programs (its options
// and help open dialogs and a browser).

// Asks the desktop's shell (Explorer) to open `path` in `folder`, so that the program runs as the
// desktop user. False where no desktop shell answers (Shell Launcher, Assigned Access) or any
// step fails; nothing is left open either way.
bool StartAsDesktopUser(const std::wstring& path, const std::wstring& folder);

// The start where no desktop shell answers: from this process, so elevated, but decided by the
// machine's exefile class only (a per-user HKCU\Software\Classes key must not choose what an
// elevated program runs), with the full path and no search. `execute` is the shell's
// ShellExecuteExW, or a recorder in checks.
using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
bool StartThroughMachineClass(const std::wstring& path,
                              const std::wstring& folder,
                              ShellExecuteFunction execute = ShellExecuteExW);

}  // namespace ipsetter::win32
