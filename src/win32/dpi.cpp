// The per-monitor DPI functions, looked up at run time, and the system DPI where they are missing.
#include "dpi.h"

#include "system_folders.h"

namespace ipsetter::win32 {
namespace {

constexpr int kDefaultDpi = 96;

// The screen's pixels per logical inch: without a per-monitor DPI, the one the system scales to.
int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr)
    return kDefaultDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDefaultDpi;
}

}  // namespace

const DpiFunctions& DpiFunctions::OfSystem() {
  static const DpiFunctions functions = [] {
    // user32 is imported, so it is loaded: no search for it.
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    DpiFunctions f;
    f.for_window = LookUp<decltype(f.for_window)>(user32, "GetDpiForWindow");
    f.for_system = LookUp<decltype(f.for_system)>(user32, "GetDpiForSystem");
    f.adjust_window_rect = LookUp<decltype(f.adjust_window_rect)>(user32, "AdjustWindowRectExForDpi");
    return f;
  }();
  return functions;
}

int SystemDpi(const DpiFunctions& functions) {
  if (functions.for_system == nullptr)
    return ScreenDpi();
  const UINT dpi = functions.for_system();
  return dpi != 0 ? static_cast<int>(dpi) : kDefaultDpi;
}

int WindowDpi(const DpiFunctions& functions, HWND hwnd) {
  if (functions.for_window == nullptr)
    return SystemDpi(functions);
  const UINT dpi = functions.for_window(hwnd);
  return dpi != 0 ? static_cast<int>(dpi) : kDefaultDpi;
}

void AdjustFrame(const DpiFunctions& functions, RECT& rect, DWORD style, DWORD ex_style, int dpi) {
  if (functions.adjust_window_rect != nullptr) {
    functions.adjust_window_rect(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi));
    return;
  }
  // The metrics of the system DPI, which is then also the window's.
  AdjustWindowRectEx(&rect, style, FALSE, ex_style);
}

}  // namespace ipsetter::win32
