// Stand-in for the on-screen keyboard and its companion that keeps running, so that a test can
// see it ended: appends "<pid> <full path>" to C:\netrig-keyboard.log, then waits (10 min at most).
#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  char line[4 * MAX_PATH + 32];
  const int n = std::snprintf(line, sizeof line, "%lu %ls\n", GetCurrentProcessId(), path);
  HANDLE log = CreateFileW(L"C:\\netrig-keyboard.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  WriteFile(log, line, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(log);
  Sleep(10 * 60 * 1000);
  return 0;
}
