// Result codes, switching to DHCP and applying a static configuration.
#include <functional>

#include "harness.h"

namespace ipsetter::testing {
namespace {

TEST(ResultCodes, EveryRowAndTheGapsBetween) {
  const std::map<int, std::wstring> rows = {{0, L"Success, No Reboot Required"},
                                            {1, L"Success, Reboot Required"},
                                            {64, L"Method Not Supported"},
                                            {65, L"Unknown Failure"},
                                            {66, L"Invalid Subnet Mask"},
                                            {67, L"Processing Error"},
                                            {68, L"Invalid Input"},
                                            {69, L"Gateways Limit Error"},
                                            {70, L"Invalid IP address"},
                                            {71, L"Invalid Gateway Address"},
                                            {72, L"Registry Access Error"},
                                            {73, L"Invalid Domain Name"},
                                            {74, L"Invalid Host Name"},
                                            {75, L"No WINS Server Defined"},
                                            {76, L"Invalid File"},
                                            {77, L"Invalid System Path"},
                                            {78, L"File Copy Failed"},
                                            {79, L"Invalid Security Parameter"},
                                            {80, L"Unable to Configure TCP/IP"},
                                            {81, L"Unable to Configure DHCP"},
                                            {82, L"Unable to Renew DHCP"},
                                            {83, L"Unable to Release DHCP"},
                                            {84, L"IP Not Enabled On Adapter"},
                                            {85, L"IPX Not Enabled On Adapter"},
                                            {86, L"Frame/Network Error"},
                                            {87, L"Invalid Frame Type"},
                                            {88, L"Invalid Network Number"},
                                            {89, L"Duplicate Network Number"},
                                            {90, L"Parameter Out Of Bounds"},
                                            {91, L"Access Denied"},
                                            {92, L"Out Of Memory"},
                                            {93, L"Already Exists"},
                                            {94, L"Path, File, or Object Not Found"},
                                            {95, L"Unable To Notify Service"},
                                            {96, L"Unable To Notify DNS Service"},
                                            {97, L"Interface Not Configurable"},
                                            {98, L"Not All DHCP Released/Renewed"},
                                            {100, L"DHCP Not Enabled On Adapter"}};
  ASSERT_EQ(rows.size(), 38u);
  for (int code = -32768; code <= 32767; ++code) {
    const auto it = rows.find(code);
    const std::wstring expected = it == rows.end() ? L"" : it->second;
    ASSERT_EQ(frmIpsetter::Get_Error_Text(static_cast<std::int16_t>(code)), expected) << code;
  }
}

// Apply's preparation, so that the fallback's effects show against it.
void ApplyPrepared(Harness& h) {
  h.form.intTimerPhase = 1;
  h.form.Timer1.SetEnabled(true);
  h.form.Timer1.SetInterval(300);
  h.win.title = L"Ipsetter - Processing ..";
}

struct DhcpCase {
  const char* name;
  std::uint32_t dhcp, dns;
  bool failed;
  std::wstring status;
  friend void PrintTo(const DhcpCase& c, std::ostream* os) { *os << c.name; }
};

class SetDhcp : public ::testing::TestWithParam<DhcpCase> {};

TEST_P(SetDhcp, TestsTheLastAdaptersResults) {
  const DhcpCase& c = GetParam();
  Harness h;
  h.net.adapters = {StaticAdapter(), StaticAdapter()};
  h.net.adapters[1].results = {{L"EnableDHCP", c.dhcp}, {L"SetDNSServerSearchOrder", c.dns}};
  h.net.adapters[0].results = {{L"EnableDHCP", 81}};  // the first adapter's failure is not reported
  h.form.OnLoad();
  ApplyPrepared(h);
  h.win.texts[ControlId::txtStatus] = L"before";
  h.ClearCalls();
  h.form.Set_DHCP();

  EXPECT_EQ(h.form.blnFailed, c.failed);
  EXPECT_EQ(h.Status(), c.status);
  const std::vector<std::wstring> calls = {std::wstring(L"bind ") + kCimv2,
                                           std::wstring(L"ExecQuery ") + kChangeQuery,
                                           L"EnableDHCP #0",
                                           L"SetDNSServerSearchOrder #0",
                                           L"EnableDHCP #1",
                                           L"SetDNSServerSearchOrder #1"};
  std::vector<std::wstring> ops = h.Operations();
  EXPECT_EQ(std::vector<std::wstring>(ops.begin(), ops.begin() + std::min<size_t>(ops.size(), 6)), calls);
  for (const auto& call : h.CallsOf(L"SetDNSServerSearchOrder"))
    EXPECT_TRUE(call.args.empty());
  if (c.failed) {
    EXPECT_EQ(h.win.title, L"Ipsetter - Error");
    EXPECT_FALSE(h.win.timer_running);
    EXPECT_EQ(h.form.Timer1.Interval(), 0u);
    EXPECT_EQ(h.form.intTickCount, 0);
    EXPECT_EQ(ops.size(), 8u);  // re-read: bind and query
    const std::string states = h.win.InputStates();
    EXPECT_EQ(states[5], '1');
    EXPECT_EQ(states.substr(7), "111");
  } else {
    EXPECT_EQ(h.win.title, L"Ipsetter - Processing ..");
    EXPECT_TRUE(h.win.timer_running);
    EXPECT_EQ(ops.size(), 6u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Results,
    SetDhcp,
    ::testing::Values(DhcpCase{"BothSucceed", 0, 0, false, L"before"},
                      DhcpCase{"RestartNeeded", 1, 1, false, L"before"},
                      DhcpCase{"DhcpBeforeDns", 81, 84, true, L"Unable to Configure DHCP"},
                      DhcpCase{"DnsSeventyIsTheTableText", 0, 70, true, L"Invalid IP address"},
                      DhcpCase{"CodeWithoutText", 2, 0, true, L""},
                      DhcpCase{"ServiceCodeIsAFailure", 0x80041001, 0, true, L""},
                      DhcpCase{"BeyondSixteenBits", 0x10042, 0, true, L""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetDhcpEmpty, NoAdapterMeansSuccess) {
  Harness h;
  h.form.blnFailed = true;
  h.form.Set_DHCP();
  EXPECT_FALSE(h.form.blnFailed);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 0u);
}

TEST(SetStaticCalls, SameListsToEveryAdapterInOrder) {
  Harness h;
  h.net.adapters = {DhcpAdapter(), StaticAdapter()};
  h.form.OnLoad();
  h.Type(ControlId::txtIp, L"192.168.1.50");
  h.Type(ControlId::txtSubnet, L"255.255.255.0");
  h.Type(ControlId::txtGateway, L"192.168.1.1");
  h.Type(ControlId::txtDns1, L"192.168.1.2");
  h.Type(ControlId::txtDns2, L"8.8.8.8");
  h.ClearCalls();
  h.form.Set_Static();
  EXPECT_EQ(h.Operations(), (std::vector<std::wstring>{
                                std::wstring(L"bind ") + kCimv2, std::wstring(L"ExecQuery ") + kChangeQuery,
                                L"EnableStatic #0", L"SetGateways #0", L"SetDNSServerSearchOrder #0",
                                L"EnableStatic #1", L"SetGateways #1", L"SetDNSServerSearchOrder #1"}));
  for (const auto& c : h.CallsOf(L"EnableStatic"))
    EXPECT_EQ(c.args, (std::vector<Value>{Strings({L"192.168.1.50"}), Strings({L"255.255.255.0"})}));
  for (const auto& c : h.CallsOf(L"SetGateways"))
    EXPECT_EQ(c.args, (std::vector<Value>{Strings({L"192.168.1.1"}), Value(Value::Array{Value(1)})}));
  for (const auto& c : h.CallsOf(L"SetDNSServerSearchOrder"))
    EXPECT_EQ(c.args, (std::vector<Value>{Strings({L"192.168.1.2", L"8.8.8.8"})}));
  EXPECT_FALSE(h.form.blnFailed);
  // Both adapters now carry the same static configuration.
  h.form.Get_Info();
  EXPECT_EQ(h.Boxes(), L"192.168.1.50|255.255.255.0|192.168.1.1|192.168.1.2|8.8.8.8");
  EXPECT_EQ(h.form.chkStatic.Value(), 1);
}

struct DnsListCase {
  const char* name;
  std::wstring dns1, dns2, gateway;
  std::vector<Value> dns_args;
  friend void PrintTo(const DnsListCase& c, std::ostream* os) { *os << c.name; }
};

class SetStaticLists : public ::testing::TestWithParam<DnsListCase> {};

TEST_P(SetStaticLists, BlankTestTrimsButTheListKeepsTheText) {
  const DnsListCase& c = GetParam();
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.Type(ControlId::txtIp, L"10.1.1.1");
  h.Type(ControlId::txtSubnet, L"255.0.0.0");
  h.Type(ControlId::txtGateway, c.gateway);
  h.Type(ControlId::txtDns1, c.dns1);
  h.Type(ControlId::txtDns2, c.dns2);
  h.form.Set_Static();
  const auto dns = h.CallsOf(L"SetDNSServerSearchOrder");
  ASSERT_GE(dns.size(), 1u);
  EXPECT_EQ(dns[0].args, c.dns_args);
  const auto gw = h.CallsOf(L"SetGateways");
  ASSERT_GE(gw.size(), 1u);
  EXPECT_EQ(gw[0].args, (std::vector<Value>{Strings({c.gateway}), Value(Value::Array{Value(1)})}));
}

INSTANTIATE_TEST_SUITE_P(
    Boxes,
    SetStaticLists,
    ::testing::Values(
        DnsListCase{"BothEmpty", L"", L"", L"10.0.0.1", {}},
        DnsListCase{"OnlySpaces", L"   ", L" ", L"10.0.0.1", {}},
        DnsListCase{"SecondOnlyBecomesFirst", L"", L"1.1.1.1", L"10.0.0.1", {Strings({L"1.1.1.1"})}},
        DnsListCase{"FirstOnly", L"1.1.1.1", L"  ", L"10.0.0.1", {Strings({L"1.1.1.1"})}},
        DnsListCase{"SpacesKept", L" 1.1.1.1 ", L"", L"10.0.0.1", {Strings({L" 1.1.1.1 "})}},
        DnsListCase{"TabIsNotBlank", L"\t", L"", L"10.0.0.1", {Strings({L"\t"})}},
        DnsListCase{"EmptyGatewayStillSent",
                    L"1.1.1.1",
                    L"2.2.2.2",
                    L"",
                    {Strings({L"1.1.1.1", L"2.2.2.2"})}}),
    [](const auto& info) { return std::string(info.param.name); });

struct StaticFailureCase {
  const char* name;
  std::uint32_t static_result, gateway_result, dns_result;
  std::wstring status;  // after the fallback
  bool fallback;
  bool on_dhcp = false;  // the adapter, before the call
  friend void PrintTo(const StaticFailureCase& c, std::ostream* os) { *os << c.name; }
};

class SetStaticResults : public ::testing::TestWithParam<StaticFailureCase> {};

TEST_P(SetStaticResults, FirstFailingKindIsReportedThenDhcp) {
  const StaticFailureCase& c = GetParam();
  Harness h;
  h.net.adapters = {c.on_dhcp ? DhcpAdapter() : StaticAdapter()};
  h.net.adapters[0].results = {{L"EnableStatic", c.static_result},
                               {L"SetGateways", c.gateway_result},
                               {L"SetDNSServerSearchOrder", c.dns_result}};
  h.form.OnLoad();
  ApplyPrepared(h);
  h.win.texts[ControlId::txtStatus] = L"";
  h.form.intAddressMode = 1;
  h.net.adapters[0].results[L"SetDNSServerSearchOrder()"] = 0;
  h.ClearCalls();
  h.form.Set_Static();
  EXPECT_EQ(h.Status(), c.status);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), c.fallback ? 1u : 0u);
  EXPECT_EQ(h.form.intAddressMode, c.fallback ? 2 : 1);
  // A fallback that succeeds leaves the monitor running and blnFailed clear.
  EXPECT_FALSE(h.form.blnFailed);
  EXPECT_TRUE(h.win.timer_running);
  EXPECT_EQ(h.win.title, L"Ipsetter - Processing ..");
}

INSTANTIATE_TEST_SUITE_P(
    Results,
    SetStaticResults,
    ::testing::Values(
        StaticFailureCase{"Success", 0, 0, 0, L"", false},
        StaticFailureCase{"RestartNeeded", 1, 1, 1, L"", false},
        // EnableStatic's 81 on an adapter already static comes with the change made; on one that was on
        // DHCP it is a failure (and SetGateways answers 64 there: the static result is reported).
        StaticFailureCase{"StaticAlreadyStatic", 81, 0, 0, L"", false},
        StaticFailureCase{"StaticOnDhcpAdapter", 81, 0, 0, L"Unable to Configure DHCP - Trying DHCP ..", true,
                          true},
        StaticFailureCase{"GatewayEightyOne", 0, 81, 0, L"Unable to Configure DHCP - Trying DHCP ..", true},
        StaticFailureCase{"Mask", 66, 0, 0, L"Invalid Subnet Mask - Trying DHCP ..", true},
        StaticFailureCase{"MaskBeforeGateway", 66, 71, 0, L"Invalid Subnet Mask - Trying DHCP ..", true},
        StaticFailureCase{"GatewaySeventy", 0, 70, 0, L"Invalid IP address - Trying DHCP ..", true},
        StaticFailureCase{"DnsSeventy", 0, 0, 70, L"Invalid DNS Address - Trying DHCP ..", true},
        StaticFailureCase{"DnsOther", 0, 0, 96, L"Unable To Notify DNS Service - Trying DHCP ..", true},
        StaticFailureCase{"DnsWithoutText", 0, 0, 2, L" - Trying DHCP ..", true},
        StaticFailureCase{"ServiceCode", 0x80041001, 0, 0, L" - Trying DHCP ..", true},
        StaticFailureCase{"DnsServiceCodeSeventyLow", 0, 0, 0x80000046, L" - Trying DHCP ..", true}),
    [](const auto& info) { return std::string(info.param.name); });

// An address, a mask and a gateway that the network takes.
void TypeValid(Harness& h) {
  h.Type(ControlId::txtIp, L"10.1.1.1");
  h.Type(ControlId::txtSubnet, L"255.0.0.0");
  h.Type(ControlId::txtGateway, L"10.0.0.1");
}

// 81 passes only when the last adapter's object reads DHCPEnabled as Boolean false, and only then is it
// read, after the loop; a value that cannot tell is a failure. (A service error there: faults_test.)
TEST(SetStaticFallback, EightyOnePassesOnlyWhereTheLastAdapterWasStatic) {
  struct Case {
    const char* name;
    std::vector<sim::Adapter> adapters;
    std::function<void(Harness&)> before_apply;
    bool failed;
  };
  auto on_dhcp_81 = [] {
    sim::Adapter a = DhcpAdapter();
    a.results[L"EnableStatic"] = 81;
    return a;
  };
  auto set_dhcp_enabled = [](Value v) {
    return [v](Harness& h) { h.net.adapters[1].properties[L"DHCPEnabled"] = v; };
  };
  const std::vector<Case> cases = {
      {"LastStatic", {on_dhcp_81(), StaticAdapter()}, nullptr, false},
      {"LastOnDhcp", {StaticAdapter(), on_dhcp_81()}, nullptr, true},
      {"Null", {StaticAdapter(), StaticAdapter()}, set_dhcp_enabled(Value()), true},
      {"Text", {StaticAdapter(), StaticAdapter()}, set_dhcp_enabled(Value(L"False")), true},
      {"Integer", {StaticAdapter(), StaticAdapter()}, set_dhcp_enabled(Value(0)), true},
      {"Missing",
       {StaticAdapter(), StaticAdapter()},
       [](Harness& h) { h.net.adapters[1].properties.erase(L"DHCPEnabled"); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    h.net.adapters = c.adapters;
    TypeValid(h);
    if (c.before_apply)
      c.before_apply(h);
    h.ClearCalls();
    h.form.Set_Static();
    std::vector<std::wstring> reads;
    for (const auto& call : h.CallsOf(L"property"))
      reads.push_back(call.target + L" #" + std::to_wstring(call.adapter));
    EXPECT_EQ(reads, std::vector<std::wstring>{L"DHCPEnabled #1"});
    EXPECT_EQ(h.Status(), c.failed ? L"Unable to Configure DHCP - Trying DHCP .." : L"");
    EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), c.failed ? 2u : 0u);
  }
}

TEST(SetStaticFallback, FailingFallbackReplacesTheStatusAndStops) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.net.adapters[0].results = {{L"EnableStatic", 66}, {L"EnableDHCP", 81}};
  h.form.OnLoad();
  ApplyPrepared(h);
  h.form.Disable_Controls();
  h.form.Set_Static();
  EXPECT_EQ(h.Status(), L"Unable to Configure DHCP");
  EXPECT_TRUE(h.form.blnFailed);
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  EXPECT_FALSE(h.win.timer_running);
  EXPECT_EQ(h.win.InputStates(), "1111111111");
  // The re-read shows what is in force: still static, the DNS servers removed by the fallback.
  EXPECT_EQ(h.Boxes(), L"192.168.10.20|255.255.255.0|192.168.10.1||");
}

// A service error in the middle of the loop ends Set_Static there: no later call, no result test,
// no fallback (the second adapter's 66 would have caused one), blnFailed as it was.
TEST(SetStaticFallback, FaultInTheLoopSkipsTheRest) {
  for (const bool failed_before : {false, true}) {
    Harness h;
    h.net.adapters = {StaticAdapter(), StaticAdapter()};
    h.net.adapters[1].results = {{L"EnableStatic", 66}};
    TypeValid(h);
    h.win.texts[ControlId::txtStatus] = L"kept";
    h.form.blnFailed = failed_before;
    h.net.faults = {{L"SetGateways", 2, 0x80041001, L"Generic failure"}};
    EXPECT_THROW(h.form.Set_Static(), ManagementError);
    EXPECT_EQ(h.Operations(), (std::vector<std::wstring>{
                                  std::wstring(L"bind ") + kCimv2, std::wstring(L"ExecQuery ") + kChangeQuery,
                                  L"EnableStatic #0", L"SetGateways #0", L"SetDNSServerSearchOrder #0",
                                  L"EnableStatic #1", L"SetGateways #1"}));
    EXPECT_EQ(h.form.blnFailed, failed_before);
    EXPECT_EQ(h.Status(), L"kept");
    EXPECT_EQ(h.form.intAddressMode, 0);
  }
}

TEST(SetStaticFallback, OnlyTheLastAdapterCounts) {
  Harness h;
  h.net.adapters = {StaticAdapter(), StaticAdapter()};
  h.net.adapters[0].results = {{L"EnableStatic", 66}};
  TypeValid(h);
  h.form.Set_Static();
  EXPECT_EQ(h.Status(), L"");
  EXPECT_FALSE(h.form.blnFailed);
  EXPECT_EQ(h.CallsOf(L"EnableDHCP").size(), 0u);
}

TEST(SetStaticFallback, NoAdapterLeavesEverything) {
  Harness h;
  h.form.blnFailed = true;
  h.win.texts[ControlId::txtStatus] = L"kept";
  h.form.intAddressMode = 1;
  h.form.Set_Static();
  EXPECT_FALSE(h.form.blnFailed);
  EXPECT_EQ(h.Status(), L"kept");
  EXPECT_EQ(h.form.intAddressMode, 1);
  EXPECT_EQ(h.Operations().size(), 2u);
}

}  // namespace
}  // namespace ipsetter::testing
