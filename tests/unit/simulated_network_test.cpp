// The simulated network answers as Windows does for what the program asks.
#include "harness.h"

namespace ipsetter::testing {
namespace {

TEST(SimulatedNetwork, QueriesFilterAndSelectLikeWql) {
  sim::SimulatedNetwork net;
  net.adapters = {StaticAdapter(), StaticAdapter()};
  net.adapters[1].properties[L"IPEnabled"] = false;
  net.processes = {L"osk.exe", L"explorer.exe", L"MsSwChX.exe"};
  auto service = net.Bind(kCimv2);
  EXPECT_EQ(service->ExecQuery(kChangeQuery).size(), 1u);
  EXPECT_EQ(service->ExecQuery(L"select * from Win32_NetworkAdapterConfiguration").size(), 2u);
  auto rows = service->ExecQuery(kReadQuery);
  EXPECT_EQ(rows[0]->Property(L"ipaddress"), Strings({L"192.168.10.20", L"fe80::20"}));
  EXPECT_THROW(rows[0]->Property(L"MACAddress"), ManagementError);  // not selected
  auto processes = net.Bind(L"winmgmts:")->ExecQuery(kKeyboardQuery);
  ASSERT_EQ(processes.size(), 2u);
  EXPECT_EQ(processes[1]->Property(L"Name"), Value(L"MsSwChX.exe"));
  // The key only where selected; the relative path always, numbered as the network first saw them.
  EXPECT_THROW(processes[1]->Property(L"Handle"), ManagementError);
  EXPECT_EQ(processes[1]->Property(L"__RELPATH"), Value(L"Win32_Process.Handle=\"1008\""));
  EXPECT_THROW(processes[0]->EnableDHCP(), ManagementError);
}

TEST(SimulatedNetwork, RejectsWhatWindowsRejects) {
  sim::SimulatedNetwork net;
  const auto code = [&](auto&& f) {
    try {
      f();
    } catch (const ManagementError& e) {
      return e.code();
    }
    return 0u;
  };
  EXPECT_EQ(code([&] { net.Bind(L"winmgmts:\\\\.\\root\\default"); }), 0x8004100Eu);
  auto service = net.Bind(kCimv2);
  EXPECT_EQ(code([&] { service->ExecQuery(L"Select from"); }), 0x80041017u);
  EXPECT_EQ(code([&] { service->ExecQuery(L"Select * from Win32_Nothing"); }), 0x80041010u);
  EXPECT_EQ(code([&] { service->ExecQuery(L"Select * from Win32_NetworkAdapterConfiguration where X=1"); }),
            0x80041017u);
}

TEST(SimulatedNetwork, MethodsValidateAndChangeTheAdapter) {
  struct {
    std::vector<std::wstring> ip, mask;
    std::uint32_t result;
  } cases[] = {{{L"10.0.0.9"}, {L"255.255.0.0"}, 0},  {{L"10.0.0.256"}, {L"255.0.0.0"}, 70},
               {{L"0.0.0.0"}, {L"255.0.0.0"}, 70},    {{L""}, {L"255.0.0.0"}, 70},
               {{L"10.0.0.9"}, {L"255.0.255.0"}, 66}, {{L"10.0.0.9"}, {L"abc"}, 66},
               {{L" 10.0.0.9"}, {L"255.0.0.0"}, 70}};
  for (const auto& c : cases) {
    sim::SimulatedNetwork net;
    net.adapters = {DhcpAdapter()};
    auto adapter = std::move(net.Bind(kCimv2)->ExecQuery(kChangeQuery)[0]);
    EXPECT_EQ(adapter->EnableStatic(c.ip, c.mask), c.result);
    EXPECT_EQ(net.adapters[0].properties[L"DHCPEnabled"], Value(c.result != 0));
    // As WMI's, the object is the query's snapshot: it still shows the state before the call.
    EXPECT_EQ(adapter->Property(L"DHCPEnabled"), Value(true));
  }
  sim::SimulatedNetwork net;
  net.adapters = {StaticAdapter()};
  auto adapter = std::move(net.Bind(kCimv2)->ExecQuery(kChangeQuery)[0]);
  EXPECT_EQ(adapter->SetGateways({L""}, {1}), 0u);
  EXPECT_EQ(net.adapters[0].properties[L"DefaultIPGateway"], Strings({L"fe80::1"}));
  EXPECT_EQ(adapter->SetGateways({L"10.0.0.300"}, {1}), 71u);
  EXPECT_EQ(adapter->SetDNSServerSearchOrder({L"1.1.1.1", L"x"}), 70u);
  EXPECT_EQ(adapter->SetDNSServerSearchOrder({L"1.1.1.1"}), 0u);
  EXPECT_EQ(net.adapters[0].properties[L"DNSServerSearchOrder"], Strings({L"1.1.1.1"}));
}

// What Microsoft documents of the methods: EnableStatic on a static adapter answers 81 and still makes
// the change, EnableDHCP keeps a static default gateway, SetGateways
// works only in static mode and drops the adapter's own address, DHCP brings the lease's DNS servers
// back; and the IPv6 entries stay after the IPv4 ones through everything.
TEST(SimulatedNetwork, FollowsTheDocumentedBehaviour) {
  sim::SimulatedNetwork net;
  net.adapters = {MakeAdapter(false, {L"192.168.10.20", L"fe80::20"}, {L"255.255.255.0", L"64"},
                              {L"192.168.10.1", L"fe80::1"}, {L"192.168.10.1", L"fec0::1"})};
  net.adapters[0].lease = sim::Lease{1,
                                     {{L"IPAddress", Strings({L"10.0.0.5"})},
                                      {L"IPSubnet", Strings({L"255.0.0.0"})},
                                      {L"DefaultIPGateway", Strings({L"10.0.0.1"})},
                                      {L"DNSServerSearchOrder", Strings({L"10.0.0.1"})}}};
  auto service = net.Bind(kCimv2);
  auto adapter = std::move(service->ExecQuery(kChangeQuery)[0]);
  auto lists = [&] {
    std::wstring out;
    for (const wchar_t* name : {L"IPAddress", L"IPSubnet", L"DefaultIPGateway", L"DNSServerSearchOrder"}) {
      const Value& v = net.adapters[0].properties[name];
      if (v.IsArray())
        for (const Value& e : v.AsArray())
          out += e.AsString() + L" ";
      out += L"| ";
    }
    return out;
  };
  EXPECT_EQ(adapter->EnableStatic({L"10.1.1.1"}, {L"255.0.0.0"}), 81u);
  EXPECT_EQ(adapter->SetGateways({L"10.1.1.254"}, {1}), 0u);
  EXPECT_EQ(adapter->SetDNSServerSearchOrder({L"1.1.1.1"}), 0u);
  EXPECT_EQ(lists(), L"10.1.1.1 fe80::20 | 255.0.0.0 64 | 10.1.1.254 fe80::1 | 1.1.1.1 fec0::1 | ");
  EXPECT_EQ(adapter->SetGateways({L"10.1.1.1"}, {1}), 0u);
  EXPECT_EQ(lists(), L"10.1.1.1 fe80::20 | 255.0.0.0 64 | fe80::1 | 1.1.1.1 fec0::1 | ");
  EXPECT_EQ(adapter->SetGateways({L"10.1.1.254"}, {1}), 0u);
  EXPECT_EQ(adapter->EnableDHCP(), 0u);
  EXPECT_EQ(lists(), L"0.0.0.0 fe80::20 | 0.0.0.0 64 | 10.1.1.254 fe80::1 | 1.1.1.1 fec0::1 | ");
  EXPECT_EQ(adapter->SetGateways({L"10.9.9.9"}, {1}), 64u);
  EXPECT_EQ(adapter->SetDNSServerSearchOrder(), 0u);
  EXPECT_EQ(lists(), L"0.0.0.0 fe80::20 | 0.0.0.0 64 | 10.1.1.254 fe80::1 | fec0::1 | ");
  service->ExecQuery(kReadQuery);
  service->ExecQuery(kReadQuery);
  EXPECT_EQ(lists(), L"10.0.0.5 fe80::20 | 255.0.0.0 64 | 10.1.1.254 10.0.0.1 fe80::1 | 10.0.0.1 fec0::1 | ");
  EXPECT_EQ(adapter->SetDNSServerSearchOrder({L"8.8.8.8"}), 0u);
  EXPECT_EQ(adapter->SetDNSServerSearchOrder(), 0u);
  EXPECT_EQ(lists(), L"10.0.0.5 fe80::20 | 255.0.0.0 64 | 10.1.1.254 10.0.0.1 fe80::1 | 10.0.0.1 fec0::1 | ");
  // Told to answer 81 on an adapter on DHCP: a failure that changes nothing.
  net.adapters[0].results[L"EnableStatic"] = 81;
  EXPECT_EQ(adapter->EnableStatic({L"10.1.1.2"}, {L"255.0.0.0"}), 81u);
  EXPECT_EQ(lists(), L"10.0.0.5 fe80::20 | 255.0.0.0 64 | 10.1.1.254 10.0.0.1 fe80::1 | 10.0.0.1 fec0::1 | ");
}

TEST(SimulatedNetwork, LeaseArrivesAfterTheSetNumberOfReads) {
  sim::SimulatedNetwork net;
  net.adapters = {StaticAdapter()};
  net.adapters[0].lease = sim::Lease{2, {{L"IPAddress", Strings({L"10.0.0.5"})}}};
  auto service = net.Bind(kCimv2);
  service->ExecQuery(kChangeQuery)[0]->EnableDHCP();
  std::vector<Value> seen;
  for (int i = 0; i < 4; ++i)
    seen.push_back(service->ExecQuery(kReadQuery)[0]->Property(L"IPAddress"));
  EXPECT_EQ(seen,
            (std::vector<Value>{Strings({L"0.0.0.0", L"fe80::20"}), Strings({L"0.0.0.0", L"fe80::20"}),
                                Strings({L"10.0.0.5", L"fe80::20"}), Strings({L"10.0.0.5", L"fe80::20"})}));
}

}  // namespace
}  // namespace ipsetter::testing
