// A stand-in window for testing the Wine, Xvfb and xdotool plumbing of the end-to-end run
// before (and apart from) the real program: class frmIpsetter, centred, topmost, an edit box
// and a "&Close" button (id 107) reachable by Tab and Alt+C.
#include <windows.h>

namespace {

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wparam) == 107)
        DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"frmIpsetter";
  RegisterClassW(&wc);
  RECT rc{0, 0, 296, 192};
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&rc, style, FALSE);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  HWND hwnd =
      CreateWindowExW(WS_EX_TOPMOST | WS_EX_CONTROLPARENT, L"frmIpsetter", L"Ipsetter", style,
                      (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h,
                      nullptr, nullptr, instance, nullptr);
  CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 80, 16, 200, 24, hwnd,
                  reinterpret_cast<HMENU>(113), instance, nullptr);
  CreateWindowExW(0, L"BUTTON", L"&Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 80, 144, 80, 24, hwnd,
                  reinterpret_cast<HMENU>(107), instance, nullptr);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetFocus(GetDlgItem(hwnd, 113));
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return 0;
}
