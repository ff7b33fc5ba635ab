// Stand-in for the on-screen keyboard: appends its own full path and the name of the process that
// started it to C:\e2e-osk.log and ends, so a test can see which osk.exe was started, and by whom.
#include <windows.h>

#include <tlhelp32.h>

#include <string>

namespace {

std::wstring ParentName() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return L"?";
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  DWORD parent = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self)
      parent = entry.th32ParentProcessID;
  }
  std::wstring name = L"?";
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (parent != 0 && entry.th32ProcessID == parent)
      name = entry.szExeFile;
  }
  CloseHandle(snapshot);
  return name;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring text = std::wstring(path, n) + L" parent " + ParentName() + L"\n";
  char line[8 * MAX_PATH];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), line,
                                        static_cast<int>(sizeof(line)), nullptr, nullptr);
  HANDLE log = CreateFileW(L"C:\\e2e-osk.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  WriteFile(log, line, static_cast<DWORD>(bytes > 0 ? bytes : 0), &written, nullptr);
  CloseHandle(log);
  return 0;
}
