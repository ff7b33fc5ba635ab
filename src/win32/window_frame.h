// The frame around the layout's client area: its style and its size at a DPI.
#pragma once

#include <windows.h>

#include "dpi.h"

namespace ipsetter::win32 {

inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
inline constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// The outer size that gives the layout's client area at this DPI, by the system's metrics.
SIZE FrameSize(const DpiFunctions& functions, int dpi);
// Sizes the frame so that the client area is the layout's at this DPI; at the suggested place
// when there is one (a DPI change), else where it is.
void SizeFrame(HWND hwnd, const DpiFunctions& functions, int dpi, const RECT* suggested);

}  // namespace ipsetter::win32
