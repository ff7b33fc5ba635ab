// Load, placement, unload and the on-screen keyboard.
#include <algorithm>

#include "harness.h"

namespace ipsetter::testing {
namespace {

size_t IndexOf(const std::vector<std::wstring>& log, const std::wstring& entry) {
  return static_cast<size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

struct CentringCase {
  double screen_w, screen_h, window_w, window_h;
  double left, top;
};

TEST(Load, CentresOnTheScreenKeepingTheFraction) {
  const CentringCase cases[] = {
      {15360, 11520, 4545, 3390, 5407.5, 4065},
      {15360, 11520, 4546, 3391, 5407, 4064.5},
      {3000, 2000, 4545, 3390, -772.5, -695},  // larger than the screen: past both edges
  };
  for (const auto& c : cases) {
    Harness h;
    h.win.screen_width = c.screen_w;
    h.win.screen_height = c.screen_h;
    h.win.outer_width = c.window_w;
    h.win.outer_height = c.window_h;
    h.form.OnLoad();
    EXPECT_DOUBLE_EQ(h.win.left, c.left);
    EXPECT_DOUBLE_EQ(h.win.top, c.top);
  }
}

TEST(Load, PlacesAndRaisesWhileHiddenThenShowsOnce) {
  Harness h;
  h.net.adapters = {DhcpAdapter()};
  h.form.OnLoad();
  const auto& log = h.win.log;
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], L"title Ipsetter");  // at creation, before the load
  EXPECT_EQ(log[1], L"hide");
  EXPECT_EQ(log[2], L"left 5407.500000");
  EXPECT_EQ(log[3], L"top 4065.000000");
  EXPECT_EQ(log[4], L"SetWindowPos 4660 -1 0 0 0 0 3");
  EXPECT_EQ(h.form.lngTopmostFlags, 3);
  // Shown only by the final unlock, after everything was filled in.
  EXPECT_EQ(std::count(log.begin(), log.end(), L"show"), 1);
  EXPECT_EQ(log.back(), L"show");
  EXPECT_LT(IndexOf(log, L"text 115 automatic"), IndexOf(log, L"show"));
  EXPECT_TRUE(h.win.visible);
  EXPECT_EQ(h.win.title, L"Ipsetter");
}

TEST(Load, PreparesThePollWithoutStartingTheTimer) {
  Harness h;
  h.form.OnLoad();
  EXPECT_EQ(h.form.intTimerPhase, 2);
  EXPECT_EQ(h.form.intTickCount, 0);
  EXPECT_FALSE(h.form.Timer1.Enabled());
  EXPECT_EQ(h.form.Timer1.Interval(), 0u);
  h.win.Advance(60000);
  EXPECT_EQ(h.net.CountOf(L"bind"), 1);  // no poll ever came
}

TEST(Load, StatesAfterLoading) {
  struct {
    sim::Adapter adapter;
    std::string states;
  } cases[] = {{DhcpAdapter(), "0000010111"}, {StaticAdapter(), "1111111111"}};
  for (auto& c : cases) {
    Harness h;
    h.net.adapters = {c.adapter};
    h.form.OnLoad();
    EXPECT_EQ(h.win.InputStates(), c.states);
  }
}

// The box changed from its initial 0 inside the reading: its handler showed the window early,
// still at its final place.
TEST(Load, StaticBoxChangeDuringLoadShowsAtTheFinalPlace) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.OnLoad();
  const auto& log = h.win.log;
  const size_t first_show = IndexOf(log, L"show");
  EXPECT_LT(IndexOf(log, L"SetWindowPos 4660 -1 0 0 0 0 3"), first_show);
  EXPECT_LT(IndexOf(log, L"check 105 1"), first_show);
}

TEST(Load, FailedReadingStillShowsAUsableWindow) {
  Harness h;
  h.net.faults = {{L"ExecQuery", 1, 0x80041017, L"Invalid query"}};
  h.form.OnLoad();
  EXPECT_TRUE(h.win.visible);
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  EXPECT_EQ(h.Status(), L"Invalid query (0x80041017)");
  EXPECT_EQ(h.win.InputStates(), "0000010111");
  EXPECT_FALSE(h.win.timer_running);
  // The next Refresh works again.
  h.net.adapters = {DhcpAdapter()};
  h.form.OnRefreshClick();
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter");
}

TEST(Unload, CloseButtonEndsTheKeyboardStopsTheTimerAndDestroys) {
  Harness h;
  h.net.adapters = {DhcpAdapter()};
  h.net.processes = {L"osk.exe", {L"osk.exe", 3}, L"MSSWCHX.EXE", L"notepad.exe"};
  h.form.OnLoad();
  h.ClearCalls();
  h.win.log.clear();
  h.form.OnExitClick();
  EXPECT_EQ(h.Operations(),
            (std::vector<std::wstring>{L"bind winmgmts:", std::wstring(L"ExecQuery ") + kKeyboardQuery,
                                       L"Terminate osk.exe #0", L"Terminate MSSWCHX.EXE #2"}));
  EXPECT_EQ(h.net.processes, (std::vector<sim::Process>{{L"osk.exe", 3}, L"notepad.exe"}));
  EXPECT_EQ(h.win.log, (std::vector<std::wstring>{L"timer stop", L"destroy"}));
  EXPECT_TRUE(h.form.Unloaded());
}

TEST(Unload, FrameCloseDuringRefreshStopsTheMonitor) {
  Harness h;
  h.net.adapters = {MakeAdapter(true, {L"0.0.0.0"}, {L"0.0.0.0"}, {}, {})};
  h.form.OnLoad();
  h.form.OnRefreshClick();
  ASSERT_EQ(h.win.InputStates(), "0000000000");
  h.form.OnExitClick();  // locked: the Close button does nothing
  EXPECT_FALSE(h.form.Unloaded());
  h.form.OnClose();
  EXPECT_TRUE(h.form.Unloaded());
  EXPECT_TRUE(h.win.destroyed);
  EXPECT_FALSE(h.win.timer_running);
  const int binds = h.net.CountOf(L"bind");
  h.form.OnTimerTick();  // a tick already queued changes nothing
  h.form.OnRefreshClick();
  EXPECT_EQ(h.net.CountOf(L"bind"), binds);
}

TEST(Unload, FailingServiceStillUnloads) {
  Harness h;
  h.form.OnLoad();
  h.net.faults = {{L"bind", 2, 0x800706BA, L"The RPC server is unavailable"}};
  h.form.OnClose();
  EXPECT_TRUE(h.form.Unloaded());
  EXPECT_EQ(h.win.title, L"Ipsetter");
}

struct KeyboardCase {
  const char* name;
  std::vector<sim::Process> running;
  std::vector<sim::Fault> faults;
  std::vector<std::wstring> operations;  // after the click
  std::vector<sim::Process> left_running;
  friend void PrintTo(const KeyboardCase& c, std::ostream* os) { *os << c.name; }
};

class Keyboard : public ::testing::TestWithParam<KeyboardCase> {};

TEST_P(Keyboard, EndsEveryKeyboardThenStartsOne) {
  const KeyboardCase& c = GetParam();
  Harness h;
  h.net.adapters = {DhcpAdapter()};
  h.net.processes = c.running;
  h.win.on_start_keyboard = [&] { h.net.StartProcess(L"osk.exe"); };
  h.form.OnLoad();
  h.ClearCalls();
  h.net.faults = c.faults;
  for (auto& f : h.net.faults)
    f.nth += h.net.CountOf(f.operation);
  h.form.OnKeyboardClick();
  EXPECT_EQ(h.Operations(), c.operations);
  EXPECT_EQ(h.net.processes, c.left_running);
  EXPECT_EQ(h.win.focus, ControlId::txtOver);
  EXPECT_EQ(h.win.title, L"Ipsetter");
  EXPECT_EQ(h.Status(), L"");
}

const std::wstring kQuery = std::wstring(L"ExecQuery ") + kKeyboardQuery;

INSTANTIATE_TEST_SUITE_P(
    Roads,
    Keyboard,
    ::testing::Values(
        KeyboardCase{"NoneRunning",
                     {},
                     {},
                     {L"bind winmgmts:", kQuery, L"StartProcess osk.exe"},
                     {L"osk.exe"}},
        KeyboardCase{"OneRunningIsReplaced",
                     {L"explorer.exe", L"osk.exe", L"msswchx.exe"},
                     {},
                     {L"bind winmgmts:", kQuery, L"Terminate osk.exe #1", L"Terminate msswchx.exe #2",
                      L"StartProcess osk.exe"},
                     {L"explorer.exe", L"osk.exe"}},
        KeyboardCase{"ServiceUnavailable",
                     {L"osk.exe"},
                     {{L"bind", 1, 0x80070005, L"Access is denied"}},
                     {L"bind winmgmts:", L"StartProcess osk.exe"},
                     {L"osk.exe", L"osk.exe"}},
        KeyboardCase{"QueryFails",
                     {L"osk.exe"},
                     {{L"ExecQuery", 1, 0x80041017, L"Invalid query"}},
                     {L"bind winmgmts:", kQuery, L"StartProcess osk.exe"},
                     {L"osk.exe", L"osk.exe"}},
        KeyboardCase{"FirstTerminateFailsSecondStillRuns",
                     {L"OSK.EXE", L"msswchx.exe"},
                     {{L"Terminate", 1, 0x80041001, L"Generic failure"}},
                     {L"bind winmgmts:", kQuery, L"Terminate OSK.EXE #0", L"Terminate msswchx.exe #1",
                      L"StartProcess osk.exe"},
                     {L"OSK.EXE", L"osk.exe"}},
        KeyboardCase{"AnotherSessionsKeyboardIsLeft",
                     {{L"osk.exe", 2}, {L"MSSWCHX.EXE", 2}, L"osk.exe"},
                     {},
                     {L"bind winmgmts:", kQuery, L"Terminate osk.exe #2", L"StartProcess osk.exe"},
                     {{L"osk.exe", 2}, {L"MSSWCHX.EXE", 2}, L"osk.exe"}},
        KeyboardCase{"UnreadableIdIsLeft",
                     {L"osk.exe", L"msswchx.exe"},
                     {{L"property", 2, 0x80041001, L"Generic failure"}},
                     {L"bind winmgmts:", kQuery, L"Terminate msswchx.exe #1", L"StartProcess osk.exe"},
                     {L"osk.exe", L"osk.exe"}},
        KeyboardCase{"StartFails",
                     {L"osk.exe"},
                     {{L"StartProcess", 1, 0x80070002, L"The system cannot find the file specified"}},
                     {L"bind winmgmts:", kQuery, L"Terminate osk.exe #0", L"StartProcess osk.exe"},
                     {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A key that names no process id of ours is left alone rather than guessed at.
TEST(Keyboard, UnreadableKeysAreLeft) {
  for (const wchar_t* key : {L"", L"12a", L"-4", L"4294967296", L"99999999999"}) {
    Harness h;
    sim::Process odd(L"osk.exe");
    odd.path_key = key;
    h.net.processes = {odd, L"msswchx.exe"};
    h.form.OnClose();
    EXPECT_EQ(h.net.processes, std::vector<sim::Process>{odd}) << std::string(key, key + wcslen(key));
  }
}

TEST(KeyboardTwice, LeavesOneKeyboard) {
  Harness h;
  h.win.on_start_keyboard = [&] { h.net.StartProcess(L"osk.exe"); };
  h.form.OnLoad();
  h.form.OnKeyboardClick();
  h.form.OnKeyboardClick();
  EXPECT_EQ(h.net.processes, std::vector<sim::Process>{L"osk.exe"});
}

}  // namespace
}  // namespace ipsetter::testing
