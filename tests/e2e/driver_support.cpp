#include "driver_support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace e2e {

std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty())
    return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

void Report::Line(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool Report::Check(bool ok, const std::string& what, const std::string& detail) {
  if (ok) {
    ++passed_;
    Line("PASS " + what);
  } else {
    ++failed_;
    Line("FAIL " + what + (detail.empty() ? "" : ": " + detail));
  }
  return ok;
}

bool Report::Equal(const std::wstring& got, const std::wstring& want, const std::string& what) {
  return Check(got == want, what + " = \"" + Utf8(want) + "\"", "got \"" + Utf8(got) + "\"");
}

bool Report::Equal(long long got, long long want, const std::string& what) {
  return Check(got == want, what + " = " + std::to_string(want), "got " + std::to_string(got));
}

bool Report::Calls(const std::vector<std::string>& got,
                   const std::vector<std::string>& want,
                   const std::string& what) {
  if (got == want)
    return Check(true, what + " (" + std::to_string(want.size()) + " calls)");
  std::string detail = "\n    want:";
  for (const auto& w : want)
    detail += "\n      " + w;
  detail += "\n    got:";
  for (const auto& g : got)
    detail += "\n      " + g;
  return Check(false, what, detail);
}

int Report::Summary() {
  Line(std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed");
  return failed_ == 0 ? 0 : 1;
}

bool Script::Run(const std::string& verb_and_args) {
  const int n = ++seq_;
  const std::wstring done = sync_dir_ + L"\\done-" + std::to_wstring(n);
  DeleteFileW(done.c_str());
  report_.Line("@@CMD " + std::to_string(n) + " " + verb_and_args);
  const bool ok =
      WaitUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
  if (!ok)
    report_.Line("note: the script did not answer \"" + verb_and_args + "\"");
  return ok;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    if (done())
      return true;
    if (GetTickCount64() >= end)
      return false;
    Sleep(2);
  }
}

App::~App() {
  Kill();
}

bool App::Start(const std::wstring& exe,
                const std::wstring& args,
                const std::wstring& cwd,
                DWORD timeout_ms,
                int show) {
  std::wstring command = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (show >= 0) {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
  }
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &pi_))
    return false;
  WaitUntil(
      [&] {
        for (HWND w : IpsetterWindows()) {
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          if (pid == pi_.dwProcessId) {
            hwnd_ = w;
            return true;
          }
        }
        return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0;
      },
      timeout_ms);
  return hwnd_ != nullptr;
}

std::wstring App::TextOf(HWND hwnd) {
  // Fixed large buffer: asking for the length first races with the program's timer.
  static wchar_t buffer[32768];
  buffer[0] = L'\0';
  DWORD_PTR copied = 0;
  if (!hwnd || !SendMessageTimeoutW(hwnd, WM_GETTEXT, 32768, reinterpret_cast<LPARAM>(buffer),
                                    SMTO_ABORTIFHUNG, 5000, &copied))
    return L"<no answer>";
  return std::wstring(buffer, static_cast<size_t>(copied));
}

int App::CheckState(int id) const {
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutW(Ctl(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state))
    return -1;
  return static_cast<int>(state);
}

bool App::Click(int id) const {
  DWORD_PTR unused = 0;
  return SendMessageTimeoutW(Ctl(id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 20000, &unused) != 0;
}

bool App::SetText(int id, const std::wstring& text) const {
  DWORD_PTR unused = 0;
  return SendMessageTimeoutW(Ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                             5000, &unused) != 0;
}

int App::FocusId() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd_, nullptr), &info) || !info.hwndFocus)
    return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

std::string App::FocusInfo() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(hwnd_, nullptr), &info);
  auto name = [&](HWND w) -> std::string {
    if (!w)
      return "none";
    if (w == hwnd_)
      return "window";
    return IsChild(hwnd_, w) ? "control " + std::to_string(GetDlgCtrlID(w)) : "other";
  };
  return "focus " + name(info.hwndFocus) + ", active " + name(info.hwndActive) + ", foreground " +
         name(GetForegroundWindow());
}

bool App::WaitTitle(const std::wstring& title, DWORD timeout_ms) const {
  return WaitUntil([&] { return Title() == title; }, timeout_ms);
}

bool App::Running() const {
  return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

bool App::WaitExit(DWORD timeout_ms, DWORD* code) const {
  if (!pi_.hProcess || WaitForSingleObject(pi_.hProcess, timeout_ms) != WAIT_OBJECT_0)
    return false;
  if (code)
    GetExitCodeProcess(pi_.hProcess, code);
  return true;
}

void App::Kill() {
  if (pi_.hProcess) {
    if (Running()) {
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
  }
  pi_ = {};
  hwnd_ = nullptr;
}

std::vector<HWND> IpsetterWindows() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND w, LPARAM param) CALLBACK -> BOOL {
        wchar_t name[64];
        if (IsWindowVisible(w) && GetClassNameW(w, name, 64) && std::wstring(name) == L"frmIpsetter")
          reinterpret_cast<std::vector<HWND>*>(param)->push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

bool RunToEnd(const std::wstring& exe, const std::wstring& args, DWORD timeout_ms, DWORD* code) {
  std::wstring command = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  const bool ended = WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0;
  if (ended) {
    GetExitCodeProcess(pi.hProcess, code);
  } else {
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return ended;
}

std::vector<std::wstring> TitlesOfClick(const App& app, int id, const std::wstring& last, DWORD timeout_ms) {
  std::wstring shown = app.Title();
  std::vector<std::wstring> titles;
  app.PostClick(id);
  WaitUntil(
      [&] {
        const std::wstring t = app.Title();
        if (t != shown)
          titles.push_back(shown = t);
        return !titles.empty() && t == last;
      },
      timeout_ms);
  return titles;
}

void TabCycle(Report& r, Script& script, const App& app, const std::vector<int>& order, const std::string& what) {
  std::string got, want;
  bool ok = true;
  for (int id : order) {
    script.Keys("Tab");
    WaitUntil([&] { return app.FocusId() == id; }, 2000);
    got.append(" ").append(std::to_string(app.FocusId()));
    want.append(" ").append(std::to_string(id));
    ok = ok && app.FocusId() == id;
  }
  r.Check(ok, what + ":" + want, "focus went" + got + "; " + app.FocusInfo());
}

bool WriteText(const std::wstring& path, const std::string& content) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}

bool ReadText(const std::wstring& path, std::string* content) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in)
    return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace e2e
