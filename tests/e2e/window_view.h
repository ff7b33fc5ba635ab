// What the end-to-end drivers read off the window: control ids, enabled states, the boxes.
#pragma once

#include <string>

#include "driver_support.h"

namespace e2e {

// Control ids: 100 + the control's row in the window's control table.
enum Id {
  kText1 = 101,
  kTxtStatus = 102,
  kCmdKeyboard = 103,
  kCmdRefresh = 104,
  kChkStatic = 105,
  kCmdExit = 107,
  kCmdApply = 108,
  kTxtDns2 = 109,
  kTxtDns1 = 110,
  kTxtGateway = 111,
  kTxtSubnet = 112,
  kTxtIp = 113,
  kTxtOver = 114,
  kLblStatus = 115,
  kLblDns2 = 116,
};

// Enabled states of the ten input controls, in the order the program switches them off.
inline constexpr char kAllOn[] = "boxes=11111 static=1 apply=1 refresh=1 close=1 keyboard=1";
inline constexpr char kAllOff[] = "boxes=00000 static=0 apply=0 refresh=0 close=0 keyboard=0";
inline constexpr char kDhcpShown[] = "boxes=00000 static=1 apply=0 refresh=1 close=1 keyboard=1";
inline constexpr char kUntickedStatic[] = "boxes=00000 static=1 apply=1 refresh=1 close=1 keyboard=1";

inline std::string Enables(const App& app) {
  auto bit = [&](int id) { return app.Enabled(id) ? "1" : "0"; };
  return std::string("boxes=") + bit(kTxtIp) + bit(kTxtSubnet) + bit(kTxtGateway) + bit(kTxtDns1) +
         bit(kTxtDns2) + " static=" + bit(kChkStatic) + " apply=" + bit(kCmdApply) +
         " refresh=" + bit(kCmdRefresh) + " close=" + bit(kCmdExit) + " keyboard=" + bit(kCmdKeyboard);
}

// ip|mask|gateway|dns1|dns2
inline std::wstring Boxes(const App& app) {
  return app.Text(kTxtIp) + L"|" + app.Text(kTxtSubnet) + L"|" + app.Text(kTxtGateway) + L"|" +
         app.Text(kTxtDns1) + L"|" + app.Text(kTxtDns2);
}

// What the window shows; every field is one check.
struct Shown {
  std::wstring title;
  std::wstring boxes;  // ip|mask|gateway|dns1|dns2
  int check;
  std::wstring mode_label;
  std::wstring status;
  std::string enables;
};

inline void ExpectWindow(Report& r, const App& app, const std::string& when, const Shown& want) {
  r.Equal(app.Title(), want.title, when + ": title");
  r.Equal(Boxes(app), want.boxes, when + ": address boxes");
  r.Equal(app.CheckState(kChkStatic), want.check, when + ": Static box");
  r.Equal(app.Text(kLblStatus), want.mode_label, when + ": mode label");
  r.Equal(app.Text(kTxtStatus), want.status, when + ": status line");
  r.Check(Enables(app) == want.enables, when + ": enabled " + want.enables, "got " + Enables(app));
}

}  // namespace e2e
