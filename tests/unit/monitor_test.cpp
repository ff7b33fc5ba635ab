// Apply, Refresh and the progress monitor, with the clock advanced by the test.
#include "harness.h"

namespace ipsetter::testing {
namespace {

void TypeStatic(Harness& h, const std::wstring& ip, const std::wstring& mask, const std::wstring& gateway) {
  h.Type(ControlId::txtIp, ip);
  h.Type(ControlId::txtSubnet, mask);
  h.Type(ControlId::txtGateway, gateway);
  h.Type(ControlId::txtDns1, L"");
  h.Type(ControlId::txtDns2, L"");
}

TEST(Apply, StaticCompleteAtTheFirstPoll) {
  Harness h;
  h.net.adapters = {DhcpAdapter(), StaticAdapter()};
  h.form.OnLoad();
  TypeStatic(h, L"192.168.7.7", L"255.255.255.0", L"192.168.7.1");
  h.win.texts[ControlId::txtStatus] = L"old failure";
  h.win.log.clear();
  h.ClearCalls();
  h.form.OnApplyClick();

  // The click: focus sink, label and status cleared, locked, timer on then 300, title, Set_Static.
  // Switched on with interval 0 nothing ticks yet; the interval then starts it.
  const std::vector<std::wstring> head(h.win.log.begin(), h.win.log.begin() + 16);
  EXPECT_EQ(head, (std::vector<std::wstring>{L"focus 114", L"text 115 ", L"text 102 ", L"off 113", L"off 112",
                                             L"off 111", L"off 110", L"off 109", L"off 105", L"off 108",
                                             L"off 104", L"off 107", L"off 103", L"timer stop",
                                             L"timer start 300", L"title Ipsetter - Processing .."}));
  EXPECT_EQ(h.form.intAddressMode, 2);
  EXPECT_EQ(h.form.intTimerPhase, 1);
  EXPECT_EQ(h.CallsOf(L"EnableStatic").size(), 2u);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 0u);
  EXPECT_EQ(h.win.InputStates(), "0000000000");

  h.win.Advance(300);  // settle: reads, tests nothing
  EXPECT_EQ(h.win.title, L"Ipsetter - Processing ..");
  EXPECT_EQ(h.form.intTimerPhase, 2);
  EXPECT_EQ(h.form.intTickCount, 1);
  EXPECT_EQ(h.win.InputStates(), "0000000000");
  EXPECT_EQ(h.Boxes(), L"192.168.7.7|255.255.255.0|192.168.7.1||");

  h.win.Advance(299);
  EXPECT_EQ(h.win.title, L"Ipsetter - Processing ..");
  h.win.Advance(1);  // poll: complete
  EXPECT_EQ(h.win.title, L"Ipsetter - Updated");
  EXPECT_EQ(h.Status(), L"");
  EXPECT_EQ(h.win.InputStates(), "1111111111");
  EXPECT_FALSE(h.win.timer_running);
  EXPECT_EQ(h.form.intTickCount, 0);
}

TEST(Apply, UntickedSwitchesToDhcpAndWaitsForTheLease) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.net.adapters[0].lease = LeaseAfter(3);
  h.form.OnLoad();
  h.form.OnStaticClick();
  ASSERT_EQ(h.win.InputStates(), "0000011111");
  h.form.OnApplyClick();
  EXPECT_EQ(h.form.intAddressMode, 1);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 1u);
  EXPECT_EQ(h.CallsOf(L"EnableStatic").size(), 0u);
  h.win.Ticks(1);  // settle
  EXPECT_EQ(h.Text(ControlId::lblStatus), L"automatic");
  h.win.Ticks(1);  // no lease yet
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  EXPECT_EQ(h.Status(), L"");
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 1u);  // DHCP already: no fallback
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Updated");
  EXPECT_EQ(h.Boxes(), L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|");
  EXPECT_EQ(h.win.InputStates(), "0000010111");
}

TEST(Refresh, CompleteAtTheFirstTick) {
  Harness h;
  h.net.adapters = {DhcpAdapter()};
  h.form.OnLoad();
  h.win.texts[ControlId::txtStatus] = L"kept";
  h.win.log.clear();
  h.form.OnRefreshClick();
  EXPECT_EQ(h.win.log[0], L"focus 114");
  EXPECT_EQ(h.win.log[1], L"title Ipsetter - Refreshing ..");
  EXPECT_EQ(h.win.title, L"Ipsetter - Refreshing ..");
  EXPECT_EQ(h.form.intTimerPhase, 2);
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter");
  EXPECT_EQ(h.Status(), L"");  // blnFailed clear
  EXPECT_EQ(h.win.InputStates(), "0000010111");
}

TEST(Refresh, IncompleteThenCompleteReadsUpdated) {
  Harness h;
  h.net.adapters = {MakeAdapter(true, {L"0.0.0.0"}, {L"0.0.0.0"}, {}, {})};
  h.net.adapters[0].reads_since_dhcp = 0;
  h.net.adapters[0].lease = LeaseAfter(3);  // load and refresh read twice; the first tick a third time
  h.form.OnLoad();
  h.form.OnRefreshClick();
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Updated");
}

TEST(Refresh, StaticWithoutGatewayFallsBackOnEveryIncompletePoll) {
  Harness h;
  h.net.adapters = {MakeAdapter(false, {L"192.168.3.3"}, {L"255.255.255.0"}, {}, {})};
  h.net.adapters[0].results = {{L"EnableDHCP", 1}};
  h.form.OnLoad();
  // EnableDHCP answers "restart needed" and changes nothing here: the adapter stays static.
  h.net.adapters[0].results[L"EnableDHCP"] = 1;
  h.form.OnRefreshClick();
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  EXPECT_EQ(h.Status(), L"Invalid Gateway Address - Trying DHCP ..");
  EXPECT_EQ(h.form.intAddressMode, 1);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 1u);
  h.net.adapters[0].properties[L"DHCPEnabled"] = false;  // still reads static
  h.win.Ticks(1);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 2u);
}

// A static reading that is incomplete, after Refresh (as found) or after Apply (as typed).
struct IncompleteCase {
  const char* name;
  bool apply;
  std::wstring ip, mask, gateway;
  std::wstring status;
  friend void PrintTo(const IncompleteCase& c, std::ostream* os) { *os << c.name; }
};

class IncompleteStatic : public ::testing::TestWithParam<IncompleteCase> {};

TEST_P(IncompleteStatic, FirstPollFallsBackToDhcp) {
  const IncompleteCase& c = GetParam();
  Harness h;
  if (c.apply) {
    h.net.adapters = {StaticAdapter()};
    h.form.OnLoad();
    TypeStatic(h, c.ip, c.mask, c.gateway);
    h.form.OnApplyClick();
    h.win.Ticks(1);  // settle
  } else {
    h.net.adapters = {MakeAdapter(false, {c.ip, L"fe80::3"}, {c.mask, L"64"}, {c.gateway}, {})};
    h.form.OnLoad();
    h.form.OnRefreshClick();
  }
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  EXPECT_EQ(h.Status(), c.status);
  EXPECT_EQ(h.form.intAddressMode, 1);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 1u);
  EXPECT_TRUE(h.win.timer_running);
}

INSTANTIATE_TEST_SUITE_P(
    Readings,
    IncompleteStatic,
    ::testing::Values(
        IncompleteCase{"RefreshNoAddress", false, L"0.0.0.0", L"255.255.255.0", L"192.168.3.1",
                       L"Trying DHCP .."},
        IncompleteCase{"RefreshNoMask", false, L"192.168.3.3", L"0.0.0.0", L"192.168.3.1", L"Trying DHCP .."},
        IncompleteCase{"ApplyWithoutGateway", true, L"192.168.3.3", L"255.255.255.0", L"",
                       L"Invalid Gateway Address - Trying DHCP .."},
        // The network refuses the mask at once; the poll then finds DHCP on and leaves the text.
        IncompleteCase{"ApplyNoMask", true, L"192.168.3.3", L"0.0.0.0", L"192.168.3.1",
                       L"Invalid Subnet Mask - Trying DHCP .."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Monitor, EmptyAddressAloneIsComplete) {
  Harness h;
  h.net.adapters = {MakeAdapter(true, {}, {L"255.0.0.0"}, {L"10.0.0.1"}, {})};
  h.form.OnLoad();
  h.form.OnRefreshClick();
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter");
}

TEST(Monitor, LeaseThatNeverComesTimesOutOnTheThreeHundredFiftiethTick) {
  Harness h;
  h.net.adapters = {StaticAdapter()};  // no lease will come
  h.form.OnLoad();
  h.form.OnStaticClick();
  h.form.OnApplyClick();
  EXPECT_EQ(h.win.Ticks(349), 349);
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  EXPECT_EQ(h.form.intTickCount, 349);
  EXPECT_EQ(h.win.InputStates(), "0000000000");
  EXPECT_LT(h.win.now_ms, 105000u);
  h.win.Ticks(1);
  EXPECT_EQ(h.win.now_ms, 105000u);
  EXPECT_EQ(h.win.title, L"Ipsetter - Timed Out!");
  EXPECT_FALSE(h.win.timer_running);
  EXPECT_EQ(h.form.intTickCount, 0);
  EXPECT_EQ(h.win.InputStates(), "0000010111");
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 1u);
  h.win.Advance(10000);
  EXPECT_EQ(h.win.title, L"Ipsetter - Timed Out!");
}

TEST(Monitor, TimeoutWinsEvenWhenTheLastTickIsComplete) {
  Harness h;
  h.net.adapters = {MakeAdapter(true, {L"0.0.0.0"}, {L"0.0.0.0"}, {}, {})};
  h.net.adapters[0].reads_since_dhcp = 0;
  h.net.adapters[0].lease = LeaseAfter(351);  // load 1, refresh 1, ticks 1..349
  h.form.OnLoad();
  h.form.OnRefreshClick();
  h.win.Ticks(349);
  EXPECT_EQ(h.win.title, L"Ipsetter - Acquiring ..");
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Timed Out!");
  EXPECT_EQ(h.Boxes(), L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|");
}

TEST(Monitor, FailureTextSurvivesSuccessWhileFailed) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.net.adapters[0].results = {{L"EnableDHCP", 81}};
  h.form.OnLoad();
  h.form.OnStaticClick();
  h.form.OnApplyClick();  // DHCP fails at once
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  EXPECT_EQ(h.Status(), L"Unable to Configure DHCP");
  EXPECT_FALSE(h.win.timer_running);
  h.win.Advance(5000);
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  h.form.OnRefreshClick();
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter");
  EXPECT_EQ(h.Status(), L"Unable to Configure DHCP");
}

TEST(Monitor, FallbackFailingInATickStopsForGood) {
  Harness h;
  h.net.adapters = {MakeAdapter(false, {L"192.168.3.3"}, {L"255.255.255.0"}, {}, {})};
  h.net.adapters[0].results = {{L"EnableDHCP", 84}};
  h.form.OnLoad();
  h.form.OnRefreshClick();
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  EXPECT_EQ(h.Status(), L"IP Not Enabled On Adapter");
  EXPECT_EQ(h.win.InputStates(), "1111111111");
  h.win.Advance(200000);
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 1u);
}

TEST(Monitor, RefreshAfterOutsideChangeToStaticUnlocksWhilePolling) {
  Harness h;
  h.net.adapters = {DhcpAdapter()};
  h.form.OnLoad();
  h.net.adapters[0] = StaticAdapter();
  h.form.OnRefreshClick();
  EXPECT_EQ(h.win.InputStates(), "1111111111");
  EXPECT_TRUE(h.win.timer_running);
  EXPECT_EQ(h.win.title, L"Ipsetter - Refreshing ..");
}

TEST(Monitor, RefreshAfterOutsideChangeToDhcpLeavesApplyOn) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.OnLoad();
  h.net.adapters[0] = DhcpAdapter();
  h.form.OnRefreshClick();
  EXPECT_EQ(h.win.InputStates(), "0000011111");
  h.win.Ticks(1);
  EXPECT_EQ(h.win.title, L"Ipsetter");
  EXPECT_EQ(h.win.InputStates(), "0000011111");
}

TEST(Monitor, SettleRestartsTheIntervalFromItself) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.OnLoad();
  h.form.OnApplyClick();
  h.win.log.clear();
  h.win.Ticks(1);
  EXPECT_EQ(std::vector<std::wstring>(h.win.log.begin(), h.win.log.begin() + 4),
            (std::vector<std::wstring>{L"timer stop", L"timer stop", L"timer stop", L"timer start 300"}));
}

// Events that arrive while a handler waits on the service: ticks are dropped, clicks wait.
TEST(Nesting, TickDuringAHandlerIsDroppedAndAClickWaits) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.OnLoad();
  bool injected = false;
  h.net.on_call = [&](const sim::Call& c) {
    if (c.operation == L"EnableStatic" && !injected) {
      injected = true;
      h.form.OnTimerTick();
      h.form.OnRefreshClick();
      EXPECT_EQ(h.form.intTickCount, 0);
      EXPECT_EQ(h.win.title, L"Ipsetter - Processing ..");
    }
  };
  h.form.OnApplyClick();
  EXPECT_TRUE(injected);
  // The waiting Refresh found its button switched off by Apply and did nothing.
  EXPECT_EQ(h.win.title, L"Ipsetter - Processing ..");
  EXPECT_EQ(h.form.intTickCount, 0);
  EXPECT_EQ(h.form.intTimerPhase, 1);
}

TEST(Nesting, CloseDuringAHandlerRunsAfterIt) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.OnLoad();
  h.net.on_call = [&](const sim::Call& c) {
    if (c.operation == L"EnableStatic")
      h.form.OnClose();
  };
  h.form.OnApplyClick();
  EXPECT_TRUE(h.form.Unloaded());
  EXPECT_EQ(h.CallsOf(L"SetDNSServerSearchOrder").size(), 1u);  // Apply ran to its end first
  EXPECT_FALSE(h.win.timer_running);
}

}  // namespace
}  // namespace ipsetter::testing
