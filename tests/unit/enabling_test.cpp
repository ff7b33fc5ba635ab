// Which controls are usable when: locking, unlocking and the Static box.
#include "harness.h"

namespace ipsetter::testing {
namespace {

// Input states are the ten controls in locking order: five address boxes, Static, Apply,
// Refresh, Close, keyboard.
struct EnablingCase {
  const char* name;
  std::string before;
  int check;  // value the box holds (set without its handler)
  std::int16_t mode;
  bool via_click;  // chkStatic_Click, else Enable_Controls
  std::string after;
  friend void PrintTo(const EnablingCase& c, std::ostream* os) { *os << c.name; }
};

class Enabling : public ::testing::TestWithParam<EnablingCase> {};

TEST_P(Enabling, FollowsTheStateTable) {
  const EnablingCase& c = GetParam();
  Harness h;
  static const ControlId order[] = {ControlId::txtIp,      ControlId::txtSubnet,  ControlId::txtGateway,
                                    ControlId::txtDns1,    ControlId::txtDns2,    ControlId::chkStatic,
                                    ControlId::cmdApply,   ControlId::cmdRefresh, ControlId::cmdExit,
                                    ControlId::cmdKeyboard};
  for (size_t i = 0; i < 10; ++i)
    h.win.enabled[order[i]] = c.before[i] == '1';
  h.form.chkStatic.on_click = nullptr;
  h.form.chkStatic.SetValue(c.check);
  h.form.intAddressMode = c.mode;
  if (c.via_click)
    h.form.chkStatic_Click();
  else
    h.form.Enable_Controls();
  EXPECT_EQ(h.win.InputStates(), c.after);
  EXPECT_TRUE(h.win.visible || (c.via_click && c.check != 1));
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Enabling,
    ::testing::Values(
        EnablingCase{"EnableChecked", "0000000000", 1, 1, false, "1111111111"},
        EnablingCase{"EnableUncheckedKeepsLockedBoxes", "0000000000", 0, 2, false, "0000010111"},
        // "as before": an Apply switched on earlier by the box's handler stays on.
        EnablingCase{"EnableUncheckedKeepsApplyOn", "0000001000", 0, 1, false, "0000011111"},
        EnablingCase{"EnableUncheckedLeavesOnBoxesOn", "1111100000", 0, 1, false, "1111110111"},
        EnablingCase{"EnableGreyCountsAsUnchecked", "0000000000", 2, 2, false, "0000010111"},
        EnablingCase{"ClickChecked", "0000000000", 1, 1, true, "1111111111"},
        EnablingCase{"ClickUncheckedWhileStatic", "1111111111", 0, 2, true, "0000011111"},
        EnablingCase{"ClickUncheckedWhileDhcp", "1111111111", 0, 1, true, "0000010111"},
        EnablingCase{"ClickUncheckedBeforeFirstReading", "1111111111", 0, 0, true, "0000010111"},
        EnablingCase{"ClickGreyWhileStatic", "0000000000", 2, 2, true, "0000011111"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Locking, DisableSwitchesTheTenInOrderAndNothingElse) {
  Harness h;
  h.win.log.clear();
  h.form.Disable_Controls();
  const std::vector<std::wstring> expected = {L"off 113", L"off 112", L"off 111", L"off 110", L"off 109",
                                              L"off 105", L"off 108", L"off 104", L"off 107", L"off 103"};
  EXPECT_EQ(h.win.log, expected);
}

TEST(Locking, EnableSwitchesOnInOrderThenShows) {
  Harness h;
  h.form.chkStatic.SetValue(1);
  h.form.Disable_Controls();
  h.win.log.clear();
  h.form.Enable_Controls();
  const std::vector<std::wstring> expected = {L"on 113", L"on 112", L"on 111", L"on 110",
                                              L"on 109", L"on 108", L"on 105", L"on 104",
                                              L"on 107", L"on 103", L"show"};
  EXPECT_EQ(h.win.log, expected);
}

TEST(UserTogglesStatic, TickingUnlocksAndUntickingLocksTheBoxes) {
  Harness h;
  h.net.adapters = {DhcpAdapter()};
  h.form.OnLoad();
  ASSERT_EQ(h.win.InputStates(), "0000010111");
  h.form.OnStaticClick();
  EXPECT_EQ(h.form.chkStatic.Value(), 1);
  EXPECT_EQ(h.win.checks[ControlId::chkStatic], 1);
  EXPECT_EQ(h.win.InputStates(), "1111111111");
  h.form.OnStaticClick();
  EXPECT_EQ(h.form.chkStatic.Value(), 0);
  EXPECT_EQ(h.win.InputStates(), "0000010111");
}

TEST(UserTogglesStatic, UntickingStaticAdaptersKeepsApply) {
  Harness h;
  h.net.adapters = {StaticAdapter()};
  h.form.OnLoad();
  h.form.OnStaticClick();
  EXPECT_EQ(h.win.InputStates(), "0000011111");
  EXPECT_EQ(h.net.CountOf(L"bind"), 1);  // toggling asks the service nothing
}

TEST(UserTogglesStatic, DisabledBoxIgnoresTheClick) {
  Harness h;
  h.form.Disable_Controls();
  h.form.OnStaticClick();
  EXPECT_EQ(h.form.chkStatic.Value(), 0);
  EXPECT_EQ(h.win.InputStates(), "0000000000");
}

}  // namespace
}  // namespace ipsetter::testing
