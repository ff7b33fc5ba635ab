// Plumbing of the end-to-end driver: checks and their report, the script channel, a started
// program and its window, the call record of ipsetter-sim.exe.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);

// Prints one line per check; Summary() prints "N passed, N failed".
class Report {
 public:
  void Line(const std::string& text);
  bool Check(bool ok, const std::string& what, const std::string& detail = "");
  bool Equal(const std::wstring& got, const std::wstring& want, const std::string& what);
  bool Equal(long long got, long long want, const std::string& what);
  // Exact sequence, with both sides printed on a mismatch.
  bool Calls(const std::vector<std::string>& got,
             const std::vector<std::string>& want,
             const std::string& what);
  int Summary();
  int failed() const { return failed_; }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

// The shell script runs xdotool, import and ip for us: we print "@@CMD <n> <verb> <args>" and
// it touches <sync dir>\done-<n> when finished.
class Script {
 public:
  Script(Report& report, std::wstring sync_dir) : report_(report), sync_dir_(std::move(sync_dir)) {}
  bool Run(const std::string& verb_and_args);
  bool Keys(const std::string& keys) { return Run("xdo key --delay 40 " + keys); }
  bool Shot(const std::string& name) { return Run("shot " + name); }

 private:
  Report& report_;
  std::wstring sync_dir_;
  int seq_ = 0;
};

// Polls `done` every few milliseconds until it holds or `timeout_ms` has passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

class App {
 public:
  App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  ~App();

  // Starts `exe` with `args` in `cwd` (empty: ours) and waits for its visible frmIpsetter window.
  // `show` >= 0 is passed as STARTUPINFO's wShowWindow, as a shortcut's "Run" setting does.
  bool Start(const std::wstring& exe,
             const std::wstring& args,
             const std::wstring& cwd,
             DWORD timeout_ms,
             int show = -1);
  HWND window() const { return hwnd_; }
  HANDLE process() const { return pi_.hProcess; }
  DWORD pid() const { return pi_.dwProcessId; }

  HWND Ctl(int id) const { return GetDlgItem(hwnd_, id); }
  std::wstring Title() const { return TextOf(hwnd_); }
  std::wstring Text(int id) const { return TextOf(Ctl(id)); }
  bool Enabled(int id) const { return IsWindowEnabled(Ctl(id)) != FALSE; }
  int CheckState(int id) const;
  // BM_CLICK sent: returns once the click handler has run.
  bool Click(int id) const;
  // BM_CLICK posted: for handlers the test must not wait for.
  bool PostClick(int id) const { return PostMessageW(Ctl(id), BM_CLICK, 0, 0) != FALSE; }
  bool SetText(int id, const std::wstring& text) const;
  // Control id holding the keyboard focus in the window's thread, 0 for none.
  int FocusId() const;
  // Focus, active and foreground windows, for failure messages.
  std::string FocusInfo() const;
  bool WaitTitle(const std::wstring& title, DWORD timeout_ms) const;
  bool Running() const;
  // Waits for the process to end; fills its exit code.
  bool WaitExit(DWORD timeout_ms, DWORD* code = nullptr) const;
  void Kill();

  static std::wstring TextOf(HWND hwnd);

 private:
  PROCESS_INFORMATION pi_{};
  HWND hwnd_ = nullptr;
};

// Posts a click and watches the title until it has changed and reads `last` (or `timeout_ms` has
// passed): the titles it showed, in order. Read while the click runs, not after it returned, so a
// slow reader under load does not miss a title the first poll already replaced.
std::vector<std::wstring> TitlesOfClick(const App& app, int id, const std::wstring& last, DWORD timeout_ms);

// Presses Tab once per id: each press must move the focus to the next id, in order.
void TabCycle(Report& r, Script& script, const App& app, const std::vector<int>& order, const std::string& what);

// Visible top-level windows of class frmIpsetter, of any process.
std::vector<HWND> IpsetterWindows();

// Starts a program and waits for it to end; returns false on timeout (it is then killed).
bool RunToEnd(const std::wstring& exe, const std::wstring& args, DWORD timeout_ms, DWORD* code);

bool WriteText(const std::wstring& path, const std::string& content);
bool ReadText(const std::wstring& path, std::string* content);

}  // namespace e2e
