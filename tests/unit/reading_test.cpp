// Reading the configuration in force into the window.
#include "harness.h"

namespace ipsetter::testing {
namespace {

struct ReadingCase {
  const char* name;
  std::vector<sim::Adapter> adapters;
  std::wstring boxes;  // ip|subnet|gateway|dns1|dns2
  int check;
  std::wstring label;
  int mode;
  friend void PrintTo(const ReadingCase& c, std::ostream* os) { *os << c.name; }
};

class Reading : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(Reading, ShowsWhatTheAdaptersReport) {
  const ReadingCase& c = GetParam();
  Harness h;
  h.net.adapters = c.adapters;
  h.form.Get_Info();
  EXPECT_EQ(h.Boxes(), c.boxes);
  EXPECT_EQ(h.form.chkStatic.Value(), c.check);
  EXPECT_EQ(h.Text(ControlId::lblStatus), c.label);
  EXPECT_EQ(h.form.intAddressMode, c.mode);
}

sim::Adapter WithProperty(sim::Adapter a, const wchar_t* name, Value v) {
  a.properties[name] = std::move(v);
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Adapters,
    Reading,
    ::testing::Values(
        ReadingCase{"NoAdapter", {}, L"||||", 1, L"", 2},
        ReadingCase{"DhcpAdapter",
                    {DhcpAdapter()},
                    L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|10.0.0.2",
                    0,
                    L"automatic",
                    1},
        ReadingCase{"StaticAdapter",
                    {StaticAdapter()},
                    L"192.168.10.20|255.255.255.0|192.168.10.1|192.168.10.1|",
                    1,
                    L"",
                    2},
        ReadingCase{"TwoAddressesShowTheLast",
                    {MakeAdapter(false,
                                 {L"10.1.1.1", L"10.2.2.2"},
                                 {L"255.0.0.0", L"255.255.0.0"},
                                 {L"10.1.1.254"},
                                 {})},
                    L"10.2.2.2|255.255.0.0|10.1.1.254||",
                    1,
                    L"",
                    2},
        ReadingCase{"ThreeDnsServersShowTheFirstTwo",
                    {MakeAdapter(true,
                                 {L"10.0.0.5"},
                                 {L"255.0.0.0"},
                                 {L"10.0.0.1"},
                                 {L"1.1.1.1", L"2.2.2.2", L"3.3.3.3"})},
                    L"10.0.0.5|255.0.0.0|10.0.0.1|1.1.1.1|2.2.2.2",
                    0,
                    L"automatic",
                    1},
        ReadingCase{"NullListsLeaveBoxesEmpty",
                    {MakeAdapter(true, {}, {}, {}, {})},
                    L"||||",
                    0,
                    L"automatic",
                    1},
        ReadingCase{"EmptyArraysLeaveBoxesEmpty",
                    {WithProperty(
                        WithProperty(MakeAdapter(false, {}, {}, {}, {}), L"IPAddress", Value(Value::Array{})),
                        L"DNSServerSearchOrder",
                        Value(Value::Array{}))},
                    L"||||",
                    1,
                    L"",
                    2},
        // The last adapter's address beside an earlier adapter's gateway and DNS servers.
        ReadingCase{"ValuesMixAcrossAdapters",
                    {MakeAdapter(false,
                                 {L"192.168.1.10"},
                                 {L"255.255.255.0"},
                                 {L"192.168.1.1"},
                                 {L"8.8.8.8", L"8.8.4.4"}),
                     MakeAdapter(true, {L"172.16.0.9"}, {L"255.255.0.0"}, {}, {L"172.16.0.1"})},
                    L"172.16.0.9|255.255.0.0|192.168.1.1|172.16.0.1|8.8.4.4",
                    0,
                    L"automatic",
                    1},
        // Windows lists IPv6 entries after the IPv4 ones; Wine before them.
        ReadingCase{"Ipv6AfterIpv4IsPassedOver",
                    {MakeAdapter(false,
                                 {L"192.168.5.5", L"fe80::1c2b:3cff:fe4d:5e6f"},
                                 {L"255.255.255.0", L"64"},
                                 {L"192.168.5.1", L"fe80::1"},
                                 {L"192.168.5.1", L"fec0:0:0:ffff::1"})},
                    L"192.168.5.5|255.255.255.0|192.168.5.1|192.168.5.1|",
                    1,
                    L"",
                    2},
        ReadingCase{"Ipv6BeforeIpv4IsPassedOver",
                    {MakeAdapter(true,
                                 {L"2001:db8::5", L"fe80::5", L"10.9.8.7"},
                                 {L"64", L"64", L"255.255.255.0"},
                                 {L"fe80::1", L"10.9.8.1"},
                                 {L"2001:db8::53", L"10.9.8.53", L"10.9.8.54"})},
                    L"10.9.8.7|255.255.255.0|10.9.8.1|10.9.8.53|10.9.8.54",
                    0,
                    L"automatic",
                    1},
        ReadingCase{
            "OnlyIpv6LastAdapterSuppliesNothing",
            {StaticAdapter(), MakeAdapter(true, {L"fe80::2"}, {L"64"}, {L"fe80::1"}, {L"fec0:0:0:ffff::1"})},
            L"192.168.10.20|255.255.255.0|192.168.10.1|192.168.10.1|",
            0,
            L"automatic",
            1},
        ReadingCase{"StringsTakenAsGiven",
                    {MakeAdapter(false, {L" 10.0.0.1 "}, {L"\u00e9t\u00e9.255"}, {L"gw"}, {L"x"})},
                    L" 10.0.0.1 |\u00e9t\u00e9.255|gw|x|",
                    1,
                    L"",
                    2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadingCalls, BindsQueriesAndReadsInOrder) {
  Harness h;
  h.net.adapters = {StaticAdapter(), DhcpAdapter()};
  h.form.Get_Info();
  std::vector<std::wstring> seen;
  for (const auto& c : h.net.calls)
    seen.push_back(c.operation + L" " + c.target + L" " + std::to_wstring(c.adapter));
  const std::vector<std::wstring> expected = {std::wstring(L"bind ") + kCimv2 + L" -1",
                                              std::wstring(L"ExecQuery ") + kReadQuery + L" -1",
                                              L"property IpAddress 0",
                                              L"property IPSubnet 0",
                                              L"property DefaultIPGateway 0",
                                              L"property DNSServerSearchOrder 0",
                                              L"property DHCPEnabled 0",
                                              L"property IpAddress 1",
                                              L"property IPSubnet 1",
                                              L"property DefaultIPGateway 1",
                                              L"property DNSServerSearchOrder 1",
                                              L"property DHCPEnabled 1"};
  EXPECT_EQ(seen, expected);
}

TEST(ReadingCalls, EmptiesTheBoxesBeforeAskingTheService) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.Get_Info();
  std::vector<std::wstring> boxes_at_bind;
  h.net.on_call = [&](const sim::Call& c) {
    if (c.operation == L"bind")
      boxes_at_bind.push_back(h.Boxes());
  };
  h.form.Get_Info();
  EXPECT_EQ(boxes_at_bind, std::vector<std::wstring>{L"||||"});
}

TEST(ReadingStaticBox, HandlerRunsInsideTheReadingWithThePreviousMode) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.Get_Info();
  ASSERT_EQ(h.form.intAddressMode, 2);

  h.net.adapters = {DhcpAdapter()};
  h.form.Disable_Controls();
  h.form.Get_Info();
  // Unticked while the mode still read 2: Apply comes on, the address boxes stay off.
  EXPECT_EQ(h.form.chkStatic.Value(), 0);
  EXPECT_EQ(h.form.intAddressMode, 1);
  EXPECT_EQ(h.win.InputStates(), "0000011111");
  // The handler ran after the boxes were written and before the label.
  const auto& log = h.win.log;
  const auto check = std::find(log.begin(), log.end(), L"check 105 0");
  const auto label = std::find(log.begin(), log.end(), L"text 115 automatic");
  const auto dns2 = std::find(log.begin(), log.end(), L"text 109 10.0.0.2");
  ASSERT_NE(check, log.end());
  EXPECT_LT(dns2, check);
  EXPECT_LT(check, label);
}

TEST(ReadingStaticBox, SameValueRunsNoHandler) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.Get_Info();
  h.form.Disable_Controls();
  h.form.Get_Info();
  EXPECT_EQ(h.win.InputStates(), "0000000000");
}

// Values the program cannot use end in the error text at the handler boundary, never in a crash.
struct BadValueCase {
  const char* name;
  const wchar_t* property;
  Value value;
  friend void PrintTo(const BadValueCase& c, std::ostream* os) { *os << c.name; }
};

class BadValue : public ::testing::TestWithParam<BadValueCase> {};

TEST_P(BadValue, EndsInTypeMismatch) {
  Harness h;
  h.net.adapters = {WithProperty(DhcpAdapter(), GetParam().property, GetParam().value)};
  h.form.OnRefreshClick();
  EXPECT_EQ(h.Status(), L"Type mismatch (0x80041005)");
  EXPECT_EQ(h.win.title, L"Ipsetter - Error");
  EXPECT_FALSE(h.win.timer_running);
  EXPECT_EQ(h.win.InputStates().substr(5), "10111");
}

INSTANTIATE_TEST_SUITE_P(
    Shapes,
    BadValue,
    ::testing::Values(BadValueCase{"NullDhcp", L"DHCPEnabled", Value()},
                      BadValueCase{"IntegerDhcp", L"DHCPEnabled", Value(1)},
                      BadValueCase{"StringDhcp", L"DHCPEnabled", Value(L"True")},
                      BadValueCase{"ScalarAddress", L"IPAddress", Value(L"10.0.0.1")},
                      BadValueCase{"IntegerMask", L"IPSubnet", Value(24)},
                      BadValueCase{"NumberInList", L"DefaultIPGateway",
                                   Value(Value::Array{Value(L"1.1.1.1"), Value(7)})},
                      BadValueCase{"NullInList", L"DNSServerSearchOrder", Value(Value::Array{Value()})},
                      BadValueCase{"NestedArray", L"IPAddress", Value(Value::Array{Value(Value::Array{})})},
                      BadValueCase{"RealInList", L"IPSubnet", Value(Value::Array{Value(2.5)})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadingLimits, HugeArraysAndLongStringsAreRead) {
  Harness h;
  std::vector<std::wstring> many;
  for (int i = 0; i < 100000; ++i)
    many.push_back(L"10.0." + std::to_wstring(i / 256 % 256) + L"." + std::to_wstring(i % 256));
  const std::wstring long_text = std::wstring(70000, L'\u00fc') + L".1";
  h.net.adapters = {MakeAdapter(true, many, {long_text}, {L"10.0.0.1"}, many)};
  h.form.Get_Info();
  EXPECT_EQ(h.Text(ControlId::txtIp), L"10.0.134.159");
  EXPECT_TRUE(h.Text(ControlId::txtSubnet) == long_text);  // not printed: 70,000 characters
  EXPECT_EQ(h.Text(ControlId::txtDns1), L"10.0.0.0");
  EXPECT_EQ(h.Text(ControlId::txtDns2), L"10.0.0.1");
}

// A reading that fails part way (the bind, the second adapter's first or last property) leaves the
// boxes empty and the box, the label and the mode as the last reading set them.
TEST(ReadingFailure, PartialReadingChangesNeitherBoxNorLabelNorMode) {
  const std::pair<const wchar_t*, int> faults[] = {{L"bind", 1}, {L"property", 6}, {L"property", 10}};
  for (const auto& [operation, nth] : faults) {
    SCOPED_TRACE(nth);
    Harness h;
    h.net.adapters = {DhcpAdapter(), DhcpAdapter()};
    h.form.OnLoad();
    h.net.adapters = {StaticAdapter(), StaticAdapter()};
    h.net.faults = {{operation, h.net.CountOf(operation) + nth, 0x80041001, L"Generic failure"}};
    h.form.OnRefreshClick();
    EXPECT_EQ(h.Boxes(), L"||||");
    EXPECT_EQ(h.form.chkStatic.Value(), 0);
    EXPECT_EQ(h.Text(ControlId::lblStatus), L"automatic");
    EXPECT_EQ(h.form.intAddressMode, 1);
    EXPECT_EQ(h.Status(), L"Generic failure (0x80041001)");
    EXPECT_EQ(h.win.title, L"Ipsetter - Error");
    EXPECT_FALSE(h.win.timer_running);
    EXPECT_EQ(h.win.InputStates(), "0000010111");
  }
}

TEST(ReadingFailure, ErrorWithoutDescriptionNamesTheService) {
  EXPECT_EQ(ErrorText(ManagementError(0x80041001, L"")), L"Management service error (0x80041001)");
  EXPECT_EQ(ErrorText(ManagementError(0x8004102E, L"Invalid method")), L"Invalid method (0x8004102E)");
  EXPECT_EQ(ErrorText(ManagementError(0x5, L"x")), L"x (0x00000005)");
}

}  // namespace
}  // namespace ipsetter::testing
