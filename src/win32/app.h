// The program's run: one instance, COM, the window and its form, the message loop.
#pragma once

#include <windows.h>

#include "management.h"
#include "win32_platform.h"

namespace ipsetter {

// mConfig.Main and the message loop: ends at once when another instance runs in this session,
// otherwise creates, loads and runs the window until it is gone. Returns the exit code.
int RunIpsetter(HINSTANCE instance, ManagementLocator& wmi, Win32Platform& platform);

}  // namespace ipsetter
