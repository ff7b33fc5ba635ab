// Stand-in for the on-screen keyboard: appends its own full path to C:\e2e-osk.log and ends,
// so a test can see which osk.exe was started.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  char line[4 * MAX_PATH + 2];
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), line, 4 * MAX_PATH, nullptr, nullptr);
  line[bytes++] = '\n';
  HANDLE log = CreateFileW(L"C:\\e2e-osk.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  WriteFile(log, line, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(log);
  return 0;
}
