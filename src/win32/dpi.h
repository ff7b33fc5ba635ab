// The window's DPI on every Windows: per monitor where the system has it, else the system's.
#pragma once

#include <windows.h>

// The per-monitor functions came with Windows 10 1607; imported, they would keep the loader of
// older Windows from starting the program at all, so they are looked up when first needed.
namespace ipsetter::win32 {

struct DpiFunctions {
  UINT(WINAPI* for_window)(HWND) = nullptr;
  UINT(WINAPI* for_system)() = nullptr;
  BOOL(WINAPI* adjust_window_rect)(LPRECT, DWORD, BOOL, DWORD, UINT) = nullptr;

  // What this Windows has of them.
  static const DpiFunctions& OfSystem();
};

// The system DPI where the window's own cannot be asked: what Windows 7 scales every program to.
int WindowDpi(const DpiFunctions& functions, HWND hwnd);
int SystemDpi(const DpiFunctions& functions);
// The outer rectangle for this client rectangle, by the frame metrics of that DPI.
void AdjustFrame(const DpiFunctions& functions, RECT& rect, DWORD style, DWORD ex_style, int dpi);

}  // namespace ipsetter::win32
