// What a screen reader is told on the main roads: every new, non-empty title and status text, once.
#include <functional>

#include "harness.h"

namespace ipsetter::testing {
namespace {

struct Road {
  const char* name;
  std::function<void(Harness&)> setup;  // before the load
  std::function<void(Harness&)> act;    // after it
  std::vector<std::wstring> announced;
  friend void PrintTo(const Road& r, std::ostream* os) { *os << r.name; }
};

class Announcing : public ::testing::TestWithParam<Road> {};

TEST_P(Announcing, TellsEachNewOutcomeOnce) {
  const Road& road = GetParam();
  Harness h;
  road.setup(h);
  h.form.OnLoad();
  EXPECT_TRUE(h.win.announced.empty()) << "the load itself is no outcome";
  road.act(h);
  h.win.Ticks(400);
  EXPECT_EQ(h.win.announced, road.announced);
}

const Road kRoads[] = {
    {"apply static, complete at the first poll",
     [](Harness& h) { h.net.adapters = {StaticAdapter()}; },
     [](Harness& h) { h.form.OnApplyClick(); },
     {L"Ipsetter - Processing ..", L"Ipsetter - Updated"}},
    {"apply static refused, DHCP fallback, lease after polls",
     [](Harness& h) {
       h.net.adapters = {StaticAdapter()};
       h.net.adapters[0].results[L"EnableStatic"] = 66;
       h.net.adapters[0].lease = LeaseAfter(3);
     },
     [](Harness& h) { h.form.OnApplyClick(); },
     {L"Ipsetter - Processing ..", L"Invalid Subnet Mask", L"Invalid Subnet Mask - Trying DHCP ..",
      L"Ipsetter - Acquiring ..", L"Ipsetter - Updated"}},
    {"refresh, static without a gateway, then incomplete polls until the lease",
     [](Harness& h) {
       h.net.adapters = {MakeAdapter(false, {L"192.168.10.20"}, {L"255.255.255.0"}, {}, {})};
       h.net.adapters[0].lease = LeaseAfter(4);
     },
     [](Harness& h) { h.form.OnRefreshClick(); },
     {L"Ipsetter - Refreshing ..", L"Ipsetter - Acquiring ..", L"Invalid Gateway Address - Trying DHCP ..",
      L"Ipsetter - Updated"}},
    {"apply DHCP, no lease ever: the time-out",
     [](Harness& h) { h.net.adapters = {StaticAdapter()}; },
     [](Harness& h) {
       h.form.OnStaticClick();
       h.form.OnApplyClick();
     },
     {L"Ipsetter - Processing ..", L"Ipsetter - Acquiring ..", L"Ipsetter - Timed Out!"}},
    {"apply DHCP refused by Set_DHCP",
     [](Harness& h) {
       h.net.adapters = {StaticAdapter()};
       h.net.adapters[0].results[L"EnableDHCP"] = 65;
     },
     [](Harness& h) {
       h.form.OnStaticClick();
       h.form.OnApplyClick();
     },
     {L"Ipsetter - Processing ..", L"Unknown Failure", L"Ipsetter - Error"}},
    {"service error at the boundary of two refreshes: the same error text is told once",
     [](Harness& h) { h.net.adapters = {StaticAdapter()}; },
     [](Harness& h) {
       const int queries = h.net.CountOf(L"ExecQuery");
       h.net.faults = {{L"ExecQuery", queries + 1, 0x80041001, L"Generic failure"},
                       {L"ExecQuery", queries + 2, 0x80041001, L"Generic failure"}};
       h.form.OnRefreshClick();
       h.form.OnRefreshClick();
     },
     {L"Ipsetter - Refreshing ..", L"Generic failure (0x80041001)", L"Ipsetter - Error",
      L"Ipsetter - Refreshing ..", L"Ipsetter - Error"}},
};

INSTANTIATE_TEST_SUITE_P(Roads, Announcing, ::testing::ValuesIn(kRoads));

}  // namespace
}  // namespace ipsetter::testing
