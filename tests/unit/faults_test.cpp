// A service error at every call position of every road ends at the handler boundary.
#include <functional>

#include "harness.h"

namespace ipsetter::testing {
namespace {

struct Road {
  const char* name;
  std::function<void(Harness&)> setup;  // before the faults count
  std::function<void(Harness&)> act;
  friend void PrintTo(const Road& r, std::ostream* os) { *os << r.name; }
};

const wchar_t* const kOperations[] = {L"bind",         L"ExecQuery",   L"property",
                                      L"EnableStatic", L"SetGateways", L"SetDNSServerSearchOrder",
                                      L"EnableDHCP"};

class FaultAtEveryCall : public ::testing::TestWithParam<Road> {};

TEST_P(FaultAtEveryCall, EndsStoppedReportedAndUsable) {
  const Road& road = GetParam();
  std::map<std::wstring, int> calls_in_act;
  {
    Harness h;
    road.setup(h);
    std::map<std::wstring, int> before;
    for (auto op : kOperations)
      before[op] = h.net.CountOf(op);
    road.act(h);
    for (auto op : kOperations)
      calls_in_act[op] = h.net.CountOf(op) - before[op];
  }
  int positions = 0;
  for (auto op : kOperations) {
    for (int k = 1; k <= calls_in_act[op]; ++k, ++positions) {
      SCOPED_TRACE(::testing::Message() << std::string(op, op + std::wcslen(op)).c_str() << " #" << k);
      Harness h;
      road.setup(h);
      h.net.faults = {{op, h.net.CountOf(op) + k, 0x80041001, L"Generic failure"}};
      road.act(h);
      EXPECT_EQ(h.win.title, L"Ipsetter - Error");
      EXPECT_EQ(h.Status(), L"Generic failure (0x80041001)");
      EXPECT_FALSE(h.win.timer_running);
      EXPECT_FALSE(h.form.Timer1.Enabled());
      EXPECT_EQ(h.form.Timer1.Interval(), 0u);
      EXPECT_EQ(h.form.intTickCount, 0);
      EXPECT_TRUE(h.win.visible);
      const std::string states = h.win.InputStates();
      EXPECT_EQ(states[5], '1');
      EXPECT_EQ(states.substr(7), "111");
      // Nothing keeps running behind the error.
      const int binds = h.net.CountOf(L"bind");
      h.win.Advance(10000);
      EXPECT_EQ(h.net.CountOf(L"bind"), binds);
    }
  }
  EXPECT_GT(positions, 3);
}

void LoadStatic(Harness& h) {
  h.net.adapters = {StaticAdapter(), StaticAdapter()};
  h.form.OnLoad();
}

INSTANTIATE_TEST_SUITE_P(Roads,
                         FaultAtEveryCall,
                         ::testing::Values(Road{"Load",
                                                [](Harness& h) {
                                                  h.net.adapters = {StaticAdapter(), DhcpAdapter()};
                                                },
                                                [](Harness& h) { h.form.OnLoad(); }},
                                           Road{"ApplyStatic", LoadStatic,
                                                [](Harness& h) {
                                                  h.Type(ControlId::txtDns1, L"1.1.1.1");
                                                  h.form.OnApplyClick();
                                                  h.win.Ticks(2);
                                                }},
                                           Road{"ApplyStaticFailingIntoDhcp",
                                                [](Harness& h) {
                                                  LoadStatic(h);
                                                  h.net.adapters[1].results = {{L"EnableStatic", 66}};
                                                },
                                                [](Harness& h) { h.form.OnApplyClick(); }},
                                           Road{"ApplyDhcpFailingThenReRead",
                                                [](Harness& h) {
                                                  LoadStatic(h);
                                                  h.net.adapters[1].results = {{L"EnableDHCP", 81}};
                                                  h.form.OnStaticClick();
                                                },
                                                [](Harness& h) { h.form.OnApplyClick(); }},
                                           Road{"Refresh", LoadStatic,
                                                [](Harness& h) { h.form.OnRefreshClick(); }},
                                           Road{"PollWithFallback",
                                                [](Harness& h) {
                                                  h.net.adapters = {MakeAdapter(false, {L"192.168.3.3"},
                                                                                {L"255.255.255.0"}, {}, {})};
                                                  h.net.adapters[0].results = {{L"EnableDHCP", 1}};
                                                  h.form.OnLoad();
                                                  h.form.OnRefreshClick();
                                                },
                                                [](Harness& h) { h.win.Ticks(1); }},
                                           Road{"PollWithFailingFallback",
                                                [](Harness& h) {
                                                  h.net.adapters = {MakeAdapter(false, {L"192.168.3.3"},
                                                                                {L"255.255.255.0"}, {}, {})};
                                                  h.net.adapters[0].results = {{L"EnableDHCP", 84}};
                                                  h.form.OnLoad();
                                                  h.form.OnRefreshClick();
                                                },
                                                [](Harness& h) { h.win.Ticks(1); }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ipsetter::testing
