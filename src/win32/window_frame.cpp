// Sizing the frame so that the client area is the layout's at a DPI.
#include "window_frame.h"

#include "layout.h"

namespace ipsetter::win32 {

SIZE FrameSize(const DpiFunctions& functions, int dpi) {
  RECT frame{0, 0, layout::TwipsToPixels(layout::kClientWidthTwips, dpi),
             layout::TwipsToPixels(layout::kClientHeightTwips, dpi)};
  AdjustFrame(functions, frame, kWindowStyle, kWindowExStyle, dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

void SizeFrame(HWND hwnd, const DpiFunctions& functions, int dpi, const RECT* suggested) {
  const int client_width = layout::TwipsToPixels(layout::kClientWidthTwips, dpi);
  const int client_height = layout::TwipsToPixels(layout::kClientHeightTwips, dpi);
  const SIZE frame = FrameSize(functions, dpi);
  int width = frame.cx;
  int height = frame.cy;
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  const int x = suggested != nullptr ? suggested->left : 0;
  const int y = suggested != nullptr ? suggested->top : 0;
  if (suggested == nullptr)
    flags |= SWP_NOMOVE;
  RECT now{};
  GetWindowRect(hwnd, &now);
  if (suggested != nullptr || now.right - now.left != width || now.bottom - now.top != height)
    SetWindowPos(hwnd, nullptr, x, y, width, height, flags);
  // The frame the system really draws decides; correct by what the client area came out as.
  RECT client{};
  GetClientRect(hwnd, &client);
  if (client.right != client_width || client.bottom != client_height) {
    width += client_width - client.right;
    height += client_height - client.bottom;
    SetWindowPos(hwnd, nullptr, x, y, width, height, flags);
  }
}

}  // namespace ipsetter::win32
