// Prints what an Ipsetter window shows: title, every box, the Static box and which controls are
// usable. With --close it then closes the window as the frame's close box does.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Row {
  int id;
  const char* name;
};

constexpr Row kRows[] = {{113, "txtIp"},     {112, "txtSubnet"}, {111, "txtGateway"}, {110, "txtDns1"},
                         {109, "txtDns2"},   {105, "chkStatic"}, {115, "lblStatus"},  {102, "txtStatus"},
                         {108, "cmdApply"},  {104, "cmdRefresh"}, {107, "cmdExit"},    {103, "cmdKeyboard"}};

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string TextOf(HWND hwnd) {
  static wchar_t buffer[4096];
  buffer[0] = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
  return Utf8(buffer);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool close = argc > 1 && std::wcscmp(argv[1], L"--close") == 0;
  HWND window = nullptr;
  for (int i = 0; i < 200 && !window; ++i) {
    window = FindWindowW(L"frmIpsetter", nullptr);
    if (!window || !IsWindowVisible(window)) {
      window = nullptr;
      Sleep(50);
    }
  }
  if (!window) {
    std::printf("no Ipsetter window appeared within 10 s\n");
    return 1;
  }
  // A title that says the monitor or the load is still busy settles within a few seconds.
  std::string title = TextOf(window);
  for (int i = 0; i < 100 && title.find(" ..") != std::string::npos; ++i) {
    Sleep(100);
    title = TextOf(window);
  }
  std::printf("window \"%s\"\n", title.c_str());
  for (const Row& row : kRows) {
    HWND control = GetDlgItem(window, row.id);
    if (!control) continue;
    std::string value = TextOf(control);
    if (row.id == 105)
      value = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ticked" : "clear";
    std::printf("  %-11s %-9s \"%s\"\n", row.name, IsWindowEnabled(control) ? "usable" : "locked", value.c_str());
  }
  std::fflush(stdout);
  if (close) PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}
