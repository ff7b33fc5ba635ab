// The start-up and poll benchmark, run under Wine by bench/run.sh:
//   bench-driver.exe IPSETTER FLOOR_BARE FLOOR_WMI FLOOR_DLLS FLOOR_WINDOW SYNC_DIR [ROUNDS [IDLE_SECONDS]]
// Start: from CreateProcess to the program's frmIpsetter window being visible with the address
// box (113) filled and the window's thread answering. Each round starts ipsetter.exe and the four
// floors one after the other, in an order that gives each the same predecessors and places
// (kOrder); a ratio is taken per pair of the same round. Refresh: from the click to the title
// "Ipsetter" again. CPU, wake-ups and memory come from the Linux side: the script answers "stat"
// requests (Wine does not report other processes' times and memory).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "driver_support.h"
#include "floor_ids.h"

namespace {

using bench::kIpBox;
using bench::kQueryTime;
using bench::kTimerButton;
// The program's Refresh button, and the floor's reading.
constexpr int kRefresh = bench::kQueryButton;
constexpr DWORD kStartTimeoutMs = 20000;
// Lets the previous program's exit settle in Wine before the next start.
constexpr DWORD kBetweenRunsMs = 200;
constexpr int kRefreshes = 11;
// What ran just before a start may change its cost (caches), by 3 % at most as measured, but a
// comparison near 1 must not hang on it: the order reversed every other round had ipsetter.exe
// follow itself or the program in the second place, and that program follow a floor half the time.
// Here each program follows each program, itself included, twice in ten rounds, and takes each
// place twice: two Williams squares, chained so that each round begins with the program that ended
// the round before.
constexpr int kCycleRounds = 10;
constexpr std::size_t kOrder[kCycleRounds][5] = {
    {0, 1, 4, 2, 3}, {3, 4, 2, 0, 1}, {1, 2, 0, 3, 4}, {4, 0, 3, 1, 2}, {2, 3, 1, 4, 0},
    {0, 4, 1, 3, 2}, {2, 1, 3, 0, 4}, {4, 3, 0, 2, 1}, {1, 0, 2, 4, 3}, {3, 2, 4, 1, 0}};
constexpr double kTickMs = 300;

e2e::Report report;

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

std::string Fixed(double value, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

struct Stats {
  double median = 0;
  double min = 0;
  double max = 0;
};

Stats Summarise(std::vector<double> values) {
  Stats s;
  if (values.empty())
    return s;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  s.median = n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  s.min = values.front();
  s.max = values.back();
  return s;
}

std::string Describe(const Stats& s, int decimals = 1) {
  return "median " + Fixed(s.median, decimals) + "  min-max " + Fixed(s.min, decimals) + "-" +
         Fixed(s.max, decimals);
}

// A program's name as the first column; a compared build's longer name must not run into the figures.
std::string Column(const std::string& text) {
  return text + std::string(text.size() < 22 ? 22 - text.size() : 1, ' ');
}

std::wstring BaseName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// One started program with its window.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() { Close(); }

  // Starts `exe` and returns the milliseconds until its window is up and filled; negative on failure.
  double Start(const std::wstring& exe) {
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    const double start = NowMs();
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
      return -1;
    const double give_up = start + kStartTimeoutMs;
    while (NowMs() < give_up) {
      if (FilledWindow()) {
        const double filled = NowMs() - start;
        // Idle once the thread waits with its queue empty: the paints are done, the pixels due.
        idle_ms_ = WaitForInputIdle(pi_.hProcess, kStartTimeoutMs) == 0 ? NowMs() - start : -1;
        return filled;
      }
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0)
        return -1;
      Sleep(1);
    }
    return -1;
  }

  HWND window() const { return hwnd_; }
  DWORD pid() const { return pi_.dwProcessId; }
  // From CreateProcess to the program's first wait for input after its window was filled.
  double idle_ms() const { return idle_ms_; }

  // The title as the system keeps it: reading it does not wake the program's thread.
  std::wstring Title() const {
    wchar_t text[256];
    const int n = InternalGetWindowText(hwnd_, text, 256);
    return std::wstring(text, static_cast<std::size_t>(n > 0 ? n : 0));
  }

  bool Click(int id) const {
    DWORD_PTR unused = 0;
    return SendMessageTimeoutW(GetDlgItem(hwnd_, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 20000, &unused) != 0;
  }

  void Close() {
    if (pi_.hProcess == nullptr)
      return;
    if (hwnd_ != nullptr)
      PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi_.hProcess, 10000) != WAIT_OBJECT_0) {
      report.Line("note: " + std::to_string(pi_.dwProcessId) + " did not end on WM_CLOSE; killed");
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    pi_ = {};
    hwnd_ = nullptr;
    Sleep(kBetweenRunsMs);
  }

 private:
  // Visibility is read from the system; the text only once visible, as it needs the thread.
  bool FilledWindow() {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"frmIpsetter", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"frmIpsetter", nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner != pi_.dwProcessId || !IsWindowVisible(w))
        continue;
      hwnd_ = w;
      return !e2e::App::TextOf(GetDlgItem(w, kIpBox)).empty();
    }
    return false;
  }

  PROCESS_INFORMATION pi_{};
  HWND hwnd_ = nullptr;
  double idle_ms_ = -1;
};

// What the Linux side measured of one process, in the order the script writes it.
struct ProcessStat {
  bool ok = false;
  double cpu_ms = 0;
  double wakeups = 0;
  double private_kb = 0;
  double rss_kb = 0;
};

class LinuxSide {
 public:
  explicit LinuxSide(std::wstring sync_dir) : sync_dir_(sync_dir), script_(report, std::move(sync_dir)) {}

  ProcessStat Stat(const std::wstring& exe) {
    ProcessStat s;
    const std::string tag = std::to_string(++seq_);
    if (!script_.Run("stat " + e2e::Utf8(BaseName(exe)) + " " + tag))
      return s;
    std::string text;
    if (!e2e::ReadText(sync_dir_ + L"\\stat-" + e2e::Wide(tag), &text))
      return s;
    std::istringstream in(text);
    s.ok = static_cast<bool>(in >> s.cpu_ms >> s.wakeups >> s.private_kb >> s.rss_kb);
    if (!s.ok)
      report.Line("note: no process " + e2e::Utf8(BaseName(exe)) + " seen from Linux: " + text);
    return s;
  }

 private:
  std::wstring sync_dir_;
  e2e::Script script_;
  int seq_ = 0;
};

std::string Memory(const ProcessStat& s) {
  return Fixed(s.private_kb / 1024, 1) + " MB private, " + Fixed(s.rss_kb / 1024, 1) + " MB resident";
}

struct Target {
  std::wstring exe;
  std::vector<double> start_ms;
  std::vector<double> idle_ms;
  std::vector<double> query_ms;  // the floors' own reading time during their start
};

// One round in the order `order`; measured unless `round` is negative.
bool StartRound(std::vector<Target>& targets, const std::size_t (&order)[5], int round) {
  for (std::size_t k : order) {
    Target& t = targets[k];
    Program p;
    const double ms = p.Start(t.exe);
    if (ms < 0) {
      report.Line("FAIL " + e2e::Utf8(t.exe) + " did not show a filled window" +
                  (round < 0 ? std::string() : " in round " + std::to_string(round + 1)));
      return false;
    }
    if (round < 0)
      continue;
    t.start_ms.push_back(ms);
    t.idle_ms.push_back(p.idle_ms());
    const std::wstring query_us = e2e::App::TextOf(GetDlgItem(p.window(), kQueryTime));
    if (!query_us.empty() && query_us != L"<no answer>")
      t.query_ms.push_back(std::stod(query_us) / 1000.0);
  }
  return true;
}

bool MeasureStarts(std::vector<Target>& targets, int rounds) {
  // The cycle's last round, unmeasured: Wine's caches and the first-use costs are not what is
  // compared, and the first round follows what it follows in every cycle.
  if (!StartRound(targets, kOrder[kCycleRounds - 1], -1))
    return false;
  for (int round = 0; round < rounds; ++round) {
    if (!StartRound(targets, kOrder[round % kCycleRounds], round))
      return false;
  }
  return true;
}

// Where the true median lies, with at least 95 % confidence, from the order statistics alone (the
// binomial count of values below the median). Ratios of single starts spread by a factor of two on a
// busy machine: a median of 1.04 means nothing unless its interval leaves out 1.
std::string MedianInterval(std::vector<double> values) {
  const std::size_t n = values.size();
  // at_most: P(B <= k) for B, the count of values below the median, binomial(n, 1/2).
  double term = std::pow(0.5, static_cast<double>(n));
  double at_most = term;
  if (n == 0 || at_most > 0.025)
    return "too few rounds for a 95 % interval";
  std::size_t k = 0;
  while (k + 1 < n / 2) {
    term = term * static_cast<double>(n - k) / static_cast<double>(k + 1);
    if (at_most + term > 0.025)
      break;
    at_most += term;
    ++k;
  }
  std::sort(values.begin(), values.end());
  return "95 % interval " + Fixed(values[k], 2) + "-" + Fixed(values[n - 1 - k], 2);
}

void PrintRatios(const std::vector<Target>& targets, int rounds, std::vector<double> Target::*times) {
  report.Line("== ratio per pair (ipsetter.exe / floor, same round)");
  for (std::size_t k = 1; k < targets.size(); ++k) {
    std::vector<double> ratios;
    for (int i = 0; i < rounds; ++i) {
      const double mine = (targets[0].*times)[i];
      const double floor = (targets[k].*times)[i];
      if (mine > 0 && floor > 0)
        ratios.push_back(mine / floor);
    }
    const std::string line = Column("  / " + e2e::Utf8(BaseName(targets[k].exe)));
    report.Line(line + Describe(Summarise(ratios), 2) + "  " + MedianInterval(ratios));
  }
}

void PrintStarts(const std::vector<Target>& targets, int rounds) {
  report.Line("== start: CreateProcess to the visible frmIpsetter window with the address filled (ms, " +
              std::to_string(rounds) + " rounds)");
  for (const Target& t : targets) {
    std::string line = Column("  " + e2e::Utf8(BaseName(t.exe)));
    line += Describe(Summarise(t.start_ms));
    if (!t.query_ms.empty())
      line += "  (its reading: median " + Fixed(Summarise(t.query_ms).median) + ")";
    report.Line(line);
  }
  for (const Target& t : targets) {
    std::string line = "  ";
    line += e2e::Utf8(BaseName(t.exe));
    line += " per round:";
    for (double ms : t.start_ms) {
      line += ' ';
      line += Fixed(ms, 0);
    }
    report.Line(line);
  }
  PrintRatios(targets, rounds, &Target::start_ms);
  // What the user waits for: the window painted, not only visible.
  report.Line("== start to the first idle, painted (ms)");
  for (const Target& t : targets) {
    const std::string line = Column("  " + e2e::Utf8(BaseName(t.exe)));
    std::vector<double> idle;
    std::copy_if(t.idle_ms.begin(), t.idle_ms.end(), std::back_inserter(idle), [](double ms) { return ms > 0; });
    report.Line(line + Describe(Summarise(idle)) + "  (" + std::to_string(idle.size()) + " seen)");
  }
  PrintRatios(targets, rounds, &Target::idle_ms);
}

// CPU and wake-ups of `exe` while nothing is asked of it.
void MeasureIdle(const std::wstring& exe, int seconds, const std::string& when, LinuxSide& linux_side) {
  const ProcessStat before = linux_side.Stat(exe);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  const ProcessStat after = linux_side.Stat(exe);
  if (before.ok && after.ok) {
    report.Line("== idle " + std::to_string(seconds) + " s " + when + ": " +
                Fixed(after.cpu_ms - before.cpu_ms, 0) + " ms CPU, " +
                Fixed(after.wakeups - before.wakeups, 0) + " wake-ups");
  }
}

std::string PerRun(const ProcessStat& before, const ProcessStat& after, int runs) {
  if (!before.ok || !after.ok)
    return "";
  return Fixed((after.cpu_ms - before.cpu_ms) / runs) + " ms CPU, " +
         Fixed((after.wakeups - before.wakeups) / runs, 0) + " wake-ups";
}

// The price of one reading in a warm process: the floor's click runs the query and times it.
double MeasureFloorReading(const std::wstring& floor, LinuxSide& linux_side) {
  Program p;
  if (p.Start(floor) < 0) {
    report.Line("FAIL " + e2e::Utf8(floor) + " did not start");
    return -1;
  }
  Sleep(500);
  const ProcessStat loaded = linux_side.Stat(floor);
  std::vector<double> readings;
  for (int i = 0; i < kRefreshes; ++i) {
    p.Click(kRefresh);
    const std::wstring us = e2e::App::TextOf(GetDlgItem(p.window(), kQueryTime));
    if (!us.empty() && us != L"<no answer>")
      readings.push_back(std::stod(us) / 1000.0);
    Sleep(50);
  }
  const ProcessStat after = linux_side.Stat(floor);
  // How late a 300 ms timer ticks here: part of every Refresh that no program can save.
  std::vector<double> ticks;
  for (int i = 0; i < kRefreshes; ++i) {
    SendMessageW(GetDlgItem(p.window(), kQueryTime), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    p.Click(kTimerButton);
    std::wstring us;
    e2e::WaitUntil(
        [&] {
          us = e2e::App::TextOf(GetDlgItem(p.window(), kQueryTime));
          return !us.empty();
        },
        2000);
    if (!us.empty() && us != L"<no answer>")
      ticks.push_back(std::stod(us) / 1000.0);
  }
  const Stats s = Summarise(readings);
  report.Line("== one reading in a warm process (" + e2e::Utf8(BaseName(floor)) + ", ms, " +
              std::to_string(readings.size()) + " clicks): " + Describe(s, 2));
  report.Line("  per reading: " + PerRun(loaded, after, kRefreshes));
  report.Line("  a 300 ms timer ticks after (ms): " + Describe(Summarise(ticks), 2));
  if (loaded.ok)
    report.Line("  memory after load: " + Memory(loaded));
  return s.median;
}

void MeasureIpsetter(const std::wstring& exe, double reading_ms, int idle_seconds, LinuxSide& linux_side) {
  Program p;
  if (p.Start(exe) < 0) {
    report.Line("FAIL ipsetter.exe did not start");
    return;
  }
  Sleep(500);
  const ProcessStat loaded = linux_side.Stat(exe);
  if (loaded.ok)
    report.Line("== ipsetter.exe memory after load: " + Memory(loaded));
  if (idle_seconds > 0)
    MeasureIdle(exe, idle_seconds, "after load", linux_side);

  const ProcessStat before_refreshes = linux_side.Stat(exe);
  std::vector<double> refreshes;
  for (int i = 0; i < kRefreshes; ++i) {
    const double start = NowMs();
    if (!p.Click(kRefresh)) {
      report.Line("FAIL the Refresh click was not answered");
      return;
    }
    const double give_up = start + 10000;
    while (p.Title() != L"Ipsetter" && NowMs() < give_up)
      Sleep(1);
    if (p.Title() != L"Ipsetter") {
      report.Line("FAIL the title did not come back to \"Ipsetter\" after a Refresh: \"" +
                  e2e::Utf8(p.Title()) + "\"");
      return;
    }
    refreshes.push_back(NowMs() - start);
    Sleep(200);
  }
  const ProcessStat after_refreshes = linux_side.Stat(exe);
  const Stats r = Summarise(refreshes);
  const double target = kTickMs + 2 * reading_ms;
  report.Line("== Refresh: click to the title \"Ipsetter\" (ms, " + std::to_string(kRefreshes) +
              " clicks): " + Describe(r));
  report.Line("  300 ms + two readings = " + Fixed(target) + "; beyond it: " + Fixed(r.median - target));
  report.Line("  per Refresh (the click's reading and one poll): " +
              PerRun(before_refreshes, after_refreshes, kRefreshes));
  // The Refresh leaves the focus in the focus sink, whose caret blinks.
  if (idle_seconds > 0)
    MeasureIdle(exe, idle_seconds, "after the Refreshes", linux_side);
}

int Run(int argc, wchar_t** argv) {
  if (argc < 7) {
    std::fputs(
        "usage: bench-driver IPSETTER FLOOR_BARE FLOOR_WMI FLOOR_DLLS FLOOR_WINDOW SYNC_DIR [ROUNDS "
        "[IDLE_SECONDS [--warm]]]\n",
        stderr);
    return 2;
  }
  // Whole cycles only: a part of one would favour some program again.
  const int asked = argc > 7 ? std::max(1, _wtoi(argv[7])) : 20;
  const int rounds = (asked + kCycleRounds - 1) / kCycleRounds * kCycleRounds;
  const int idle_seconds = argc > 8 ? std::max(0, _wtoi(argv[8])) : 60;
  // --warm: one start of each, nothing measured; Wine's own processes come up meanwhile.
  const bool warm_only = argc > 9 && std::wstring(argv[9]) == L"--warm";
  std::vector<Target> targets;
  for (int k = 1; k <= 5; ++k)
    targets.push_back({argv[k], {}, {}, {}});
  LinuxSide linux_side(argv[6]);

  if (!MeasureStarts(targets, warm_only ? 0 : rounds))
    return 1;
  if (warm_only)
    return 0;
  PrintStarts(targets, rounds);
  const double reading_ms = MeasureFloorReading(targets[3].exe, linux_side);
  if (reading_ms < 0)
    return 1;
  MeasureIpsetter(targets[0].exe, reading_ms, idle_seconds, linux_side);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const int rc = Run(argc, argv);
  // The script stops reading here; Wine's processes may keep the pipe open long after.
  report.Line("@@END");
  return rc;
}
