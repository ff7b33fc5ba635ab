// End-to-end driver: runs under Wine beside ipsetter.exe or ipsetter-sim.exe and checks the real
// window from outside, through window messages, and through real keystrokes that the calling
// script sends with xdotool on request (see Script).
//
//   e2e-driver.exe sim      SIM_EXE WORK_DIR SYNC_DIR [NAME_PART]
//   e2e-driver.exe timeout  SIM_EXE WORK_DIR SYNC_DIR
//   e2e-driver.exe real     EXE     WORK_DIR SYNC_DIR IP MASK DNS1 DNS2 GATEWAY
//   e2e-driver.exe plumbing EXE     WORK_DIR SYNC_DIR

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

#include "driver_support.h"
#include "window_view.h"

namespace e2e {
namespace {

using nlohmann::json;

const char kCimv2[] = R"(bind winmgmts:\\.\root\cimv2)";
const char kDefault[] = "bind winmgmts:";
const char kQueryInfo[] =
    "ExecQuery Select IPAddress, IPSubnet, DNSServerSearchOrder, DefaultIPGateway, DHCPEnabled from "
    "Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
const char kQueryAll[] = "ExecQuery Select * from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
const char kQueryProcesses[] =
    "ExecQuery Select Name from Win32_Process Where Name = 'Osk.exe' OR Name = 'MSSWCHX.EXE'";

// As Windows lists them: IPv6 entries after the IPv4 ones.
const char kStaticAdapter[] = R"({
  "IPEnabled": true, "DHCPEnabled": false,
  "IPAddress": ["192.168.10.20", "fe80::20"], "IPSubnet": ["255.255.255.0", "64"],
  "DefaultIPGateway": ["192.168.10.1", "fe80::1"], "DNSServerSearchOrder": ["192.168.10.1", "192.168.10.2"] })";
const char kStaticNoGateway[] = R"({
  "IPEnabled": true, "DHCPEnabled": false,
  "IPAddress": ["192.168.10.20", "fe80::20"], "IPSubnet": ["255.255.255.0", "64"],
  "DNSServerSearchOrder": ["192.168.10.1"] })";
const char kLease[] = R"({ "IPAddress": ["10.0.0.5"], "IPSubnet": ["255.0.0.0"],
  "DefaultIPGateway": ["10.0.0.1"], "DNSServerSearchOrder": ["10.0.0.1"] })";

// An adapter's JSON object with more members put in front.
std::string With(const char* adapter, const std::string& members) {
  std::string s(adapter);
  s.insert(s.find('{') + 1, members + ",");
  return s;
}

std::string LeaseAfter(int reads) {
  return "\"lease\": " + With(kLease, "\"afterReads\": " + std::to_string(reads));
}

// The number of tools of the tooltip window that `owner` owns; -1 without one.
int ToolCount(HWND owner) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"tooltips_class32", nullptr); w != nullptr;
       w = FindWindowExW(nullptr, w, L"tooltips_class32", nullptr)) {
    DWORD_PTR count = 0;
    if (GetWindow(w, GW_OWNER) == owner &&
        SendMessageTimeoutW(w, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count) != 0)
      return static_cast<int>(count);
  }
  return -1;
}

// What a screen reader hears: the name (and role) the system's accessibility proxy gives a
// control, asked from this process as Narrator or NVDA ask.
std::wstring AccessibleName(HWND control, long* role) {
  IAccessible* accessible = nullptr;
  // Not IID_IAccessible: MinGW's import library makes it a thunk that every call refuses.
  if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&accessible))) ||
      accessible == nullptr) {
    return L"(no accessible object)";
  }
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring out = SUCCEEDED(accessible->get_accName(self, &name)) && name != nullptr
                         ? std::wstring(name, SysStringLen(name))
                         : L"(no name)";
  SysFreeString(name);
  VARIANT got;
  VariantInit(&got);
  *role = SUCCEEDED(accessible->get_accRole(self, &got)) && got.vt == VT_I4 ? got.lVal : 0;
  VariantClear(&got);
  accessible->Release();
  return out;
}

// Every control a screen reader can land on has a true name. Wine's proxy, unlike Windows', walks
// back past tab stops to any static, so the label must also be the window just before the box.
void ExpectNames(Report& r, const App& app, const std::string& when) {
  const struct {
    int id;
    const char* control;
    std::wstring name;
    bool edit;
    bool labelled;  // by a hidden static just before it
  } rows[] = {
      {kTxtIp, "txtIp", L"IP Address", true, true},
      {kTxtSubnet, "txtSubnet", L"Subnet", true, true},
      {kTxtGateway, "txtGateway", L"Gateway", true, true},
      {kTxtDns1, "txtDns1", L"DNS 1", true, true},
      {kTxtDns2, "txtDns2", L"DNS 2", true, true},
      {kChkStatic, "chkStatic", L"Static", false, false},
      {kCmdApply, "cmdApply", L"Apply", false, false},
      {kCmdKeyboard, "cmdKeyboard", L"Virtual Keyboard", false, false},
      {kTxtOver, "txtOver", app.Title(), true, true},
      {kTxtStatus, "txtStatus", L"Status", true, true},
      {kText1, "Text1", L"Status", true, false},
  };
  // Made once the window has been painted, after the tooltips.
  WaitUntil([&] { return GetWindow(app.Ctl(kTxtOver), GW_HWNDPREV) != app.Ctl(kLblDns2); }, 3000);
  std::string heard;
  for (const auto& row : rows) {
    HWND control = app.Ctl(row.id);
    long role = 0;
    const std::wstring name = AccessibleName(control, &role);
    heard += std::string(" ") + row.control + "=\"" + Utf8(name) + "\"";
    r.Equal(name, row.name, when + ": " + row.control + " is named");
    if (row.edit)
      r.Equal(role, ROLE_SYSTEM_TEXT, when + ": " + row.control + " is an edit");
    if (row.labelled) {
      HWND before = GetWindow(control, GW_HWNDPREV);
      wchar_t cls[32] = {};
      GetClassNameW(before, cls, 32);
      r.Check(_wcsicmp(cls, L"Static") == 0 && App::TextOf(before) == row.name && !IsWindowVisible(before),
              when + ": just before " + row.control + " a hidden static with its name",
              Utf8(cls) + " \"" + Utf8(App::TextOf(before)) + "\"");
    }
  }
  r.Line("# names, " + when + ":" + heard);
}

void ExpectPlacement(Report& r, const App& app, const std::string& who) {
  const LONG_PTR ex = GetWindowLongPtrW(app.window(), GWL_EXSTYLE);
  r.Check((ex & WS_EX_TOPMOST) != 0, who + ": window is topmost (WS_EX_TOPMOST)");
  RECT rc{};
  GetWindowRect(app.window(), &rc);
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  r.Check(sw == 1024 && sh == 768, who + ": screen is 1024x768",
          "got " + std::to_string(sw) + "x" + std::to_string(sh));
  const double want_left = (sw - (rc.right - rc.left)) / 2.0, want_top = (sh - (rc.bottom - rc.top)) / 2.0;
  r.Check(std::abs(rc.left - want_left) <= 1.0 && std::abs(rc.top - want_top) <= 1.0,
          who + ": window centred on the screen",
          "at " + std::to_string(rc.left) + "," + std::to_string(rc.top) + " size " +
              std::to_string(rc.right - rc.left) + "x" + std::to_string(rc.bottom - rc.top));
  RECT client{};
  GetClientRect(app.window(), &client);
  r.Check(client.right == 296 && client.bottom == 192, who + ": client area 296x192 at 96 dpi",
          "got " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
  // Made once the window has been painted.
  int tools = -1;
  WaitUntil([&] { return (tools = ToolCount(app.window())) == 4; }, 3000);
  r.Equal(tools, 4, who + ": the window owns a tooltip window with four tools");
}

// The call record that ipsetter-sim.exe appends to, one JSON object a line.
class Record {
 public:
  explicit Record(std::wstring path) : path_(std::move(path)) { DeleteFileW(path_.c_str()); }

  // Every call but property reads (how often a list is fetched is the program's business), as
  // "operation target #adapter [args]".
  std::vector<std::string> All() const {
    std::vector<std::string> out;
    std::string text;
    if (!ReadText(path_, &text))
      return out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      const json j = json::parse(line, nullptr, false);
      if (j.is_discarded() || !j.is_object()) {
        out.push_back("<bad line> " + line);
        continue;
      }
      const std::string op = j.value("operation", "?");
      if (op == "property")
        continue;
      std::string item = op;
      const std::string target = j.value("target", "");
      if (!target.empty())
        item += " " + target;
      const int adapter = j.value("adapter", -1);
      if (adapter >= 0)
        item += " #" + std::to_string(adapter) + " " + j.value("args", json::array()).dump();
      out.push_back(item);
    }
    return out;
  }
  bool Exists() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }
  void Mark() { mark_ = All().size(); }
  std::vector<std::string> SinceMark() const {
    const auto all = All();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
  }
  long long Count(const std::string& item) const {
    const auto all = All();
    return std::count(all.begin(), all.end(), item);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  size_t mark_ = 0;
};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}
const std::vector<std::string> kGetInfo = {kCimv2, kQueryInfo};

class SimSuite {
 public:
  SimSuite(Report& r, Script& s, std::wstring exe, std::wstring work)
      : r_(r), script_(s), exe_(std::move(exe)), work_(std::move(work)) {}

  // Writes the scenario (adapters, processes and faults as JSON texts) and starts the program.
  bool Start(App& app,
             Record& rec,
             const std::string& name,
             const std::string& adapters,
             const std::string& extra = "",
             int show = -1) {
    r_.Line("== " + name);
    const std::wstring file = work_ + L"\\" + Wide(name) + L".json";
    json scenario =
        json::parse("{\"adapters\": [" + adapters + "]" + (extra.empty() ? "" : ", " + extra) + "}");
    scenario["record"] = Utf8(rec.path());
    WriteText(file, scenario.dump(2));
    return r_.Check(app.Start(exe_, L"\"" + file + L"\"", L"", 15000, show), name + ": window appears");
  }
  Record NewRecord(const std::string& name) { return Record(work_ + L"\\" + Wide(name) + L".rec"); }

  void CloseWithButton(App& app, Record& rec, const std::string& name) {
    rec.Mark();
    app.PostClick(kCmdExit);
    DWORD code = 1;
    r_.Check(app.WaitExit(5000, &code), name + ": Close ends the process");
    r_.Equal(code, 0, name + ": exit code");
    r_.Calls(rec.SinceMark(), {kDefault, kQueryProcesses}, name + ": unload looks for keyboards");
  }

  void BadScenarios() {
    r_.Line("== bad scenario files");
    const std::wstring bad = work_ + L"\\bad.json";
    WriteText(bad, "{\"adapters\": 5}");
    const struct {
      std::wstring args;
      const char* what;
    } cases[] = {{L"\"" + bad + L"\"", "malformed scenario"},
                 {L"\"" + work_ + L"\\missing.json\"", "missing scenario file"},
                 {L"", "no argument"}};
    for (const auto& c : cases) {
      DWORD code = 0;
      r_.Check(RunToEnd(exe_, c.args, 10000, &code), std::string(c.what) + ": ends at once");
      r_.Equal(code, 2, std::string(c.what) + ": exit code");
    }
    r_.Equal(static_cast<long long>(IpsetterWindows().size()), 0, "bad scenario files: no window left");
  }

  // Load, placement, single instance, tab order and access keys, all with real keystrokes.
  void StartupAndKeyboardUse() {
    App app;
    Record rec = NewRecord("startup");
    const std::string adapters = std::string(R"({ "IPEnabled": false, "DHCPEnabled": false,
        "IPAddress": ["172.16.0.9"], "IPSubnet": ["255.255.0.0"], "DefaultIPGateway": ["172.16.0.1"] },
      { "IPEnabled": true, "DHCPEnabled": true, "IPAddress": ["10.0.0.5", "fe80::5"],
        "IPSubnet": ["255.0.0.0", "64"], "DefaultIPGateway": ["10.0.0.1", "fe80::1"],
        "DNSServerSearchOrder": ["10.0.0.1"] })");
    if (!Start(app, rec, "startup", adapters))
      return;
    ExpectWindow(r_, app, "load (DHCP)",
                 {L"Ipsetter", L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|", 0, L"automatic", L"", kDhcpShown});
    ExpectPlacement(r_, app, "sim");
    ExpectNames(r_, app, "DHCP shown");
    r_.Calls(rec.All(), kGetInfo, "load reads once and changes nothing");
    script_.Shot("loaded");

    // A second start ends silently, before it touches the network.
    Record second = NewRecord("startup-second");
    json scenario = json::parse("{\"adapters\": [" + adapters + "]}");
    scenario["record"] = Utf8(second.path());
    WriteText(work_ + L"\\second.json", scenario.dump());
    DWORD code = 0;
    r_.Check(RunToEnd(exe_, L"\"" + work_ + L"\\second.json\"", 5000, &code), "second start ends within 5 s");
    r_.Equal(static_cast<long long>(IpsetterWindows().size()), 1, "second start: still one window");
    r_.Check(!second.Exists(), "second start made no management call");

    // A freshly started window takes keys at once: the focus is on its first usable control.
    r_.Check(WaitUntil([&] { return app.FocusId() == kChkStatic; }, 1000),
             "after start the focus is on the first usable control (Static box)", app.FocusInfo());

    // A real mouse click on Refresh; the command parks the focus in the sink.
    rec.Mark();
    RECT rc{};
    GetWindowRect(app.Ctl(kCmdRefresh), &rc);
    script_.Run("xdo mousemove " + std::to_string((rc.left + rc.right) / 2) + " " +
                std::to_string((rc.top + rc.bottom) / 2) + " click 1");
    r_.Check(WaitUntil([&] { return rec.SinceMark().size() >= 4 && app.Title() == L"Ipsetter"; }, 5000),
             "mouse click on Refresh: read, poll, \"Ipsetter\"", "title \"" + Utf8(app.Title()) + "\"");
    r_.Calls(rec.SinceMark(), Join({kGetInfo, kGetInfo}), "mouse click on Refresh: calls");
    r_.Equal(app.FocusId(), kTxtOver, "mouse click on Refresh: focus in the sink");

    // Tab order with the address boxes and Apply off: they are skipped.
    TabCycle(r_, script_, app, {kChkStatic, kCmdRefresh, kCmdExit, kCmdKeyboard, kTxtOver, kChkStatic},
             "Tab order, DHCP shown");

    rec.Mark();
    script_.Keys("alt+a");
    r_.Check(!WaitUntil([&] { return app.Title() != L"Ipsetter"; }, 700) && rec.SinceMark().empty(),
             "Alt+A does nothing while Apply is off");

    script_.Keys("space");
    r_.Check(WaitUntil([&] { return app.CheckState(kChkStatic) == 1; }, 3000), "space ticks the Static box");
    r_.Check(Enables(app) == kAllOn, std::string("ticked by the user: enabled ") + kAllOn,
             "got " + Enables(app));
    r_.Check(rec.SinceMark().empty(), "ticking the box makes no management call");
    script_.Shot("static-ticked");

    TabCycle(r_, script_, app,
             {kCmdApply, kCmdRefresh, kCmdExit, kCmdKeyboard, kTxtOver, kTxtIp, kTxtSubnet, kTxtGateway,
              kTxtDns1, kTxtDns2, kChkStatic},
             "Tab order, all on");
    TabCycle(r_, script_, app, {kCmdApply, kCmdRefresh, kCmdExit, kCmdKeyboard, kTxtOver}, "Tab to the focus sink");
    script_.Run("xdo type --delay 40 77");
    WaitUntil([&] { return app.Text(kTxtOver) == L"77"; }, 3000);
    r_.Equal(app.Text(kTxtOver), L"77", "typing in the focus sink lands there");
    r_.Equal(app.Text(kTxtIp), L"10.0.0.5", "typing in the focus sink: address box unchanged");
    TabCycle(r_, script_, app, {kTxtIp}, "Tab from the focus sink");
    script_.Run("xdo type --delay 40 10.0.0.77");
    WaitUntil([&] { return app.Text(kTxtIp) == L"10.0.0.77"; }, 3000);
    r_.Equal(app.Text(kTxtIp), L"10.0.0.77", "typed address replaces the selected text");

    rec.Mark();
    script_.Keys("alt+a");
    r_.Check(app.WaitTitle(L"Ipsetter - Processing ..", 3000), "Alt+A applies: \"Ipsetter - Processing ..\"",
             "title \"" + Utf8(app.Title()) + "\"");
    r_.Check(app.WaitTitle(L"Ipsetter - Updated", 5000), "Alt+A: then \"Ipsetter - Updated\"",
             "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(r_, app, "after Alt+A",
                 {L"Ipsetter - Updated", L"10.0.0.77|255.0.0.0|10.0.0.1|10.0.0.1|", 1, L"", L"", kAllOn});
    r_.Calls(rec.SinceMark(),
             Join({{kCimv2, kQueryAll, R"(EnableStatic #1 [["10.0.0.77"],["255.0.0.0"]])",
                    R"(SetGateways #1 [["10.0.0.1"],[1]])", R"(SetDNSServerSearchOrder #1 [["10.0.0.1"]])"},
                   kGetInfo,
                   kGetInfo}),
             "Alt+A: static applied to the IP-enabled adapter only, settle and one poll");

    rec.Mark();
    script_.Keys("alt+r");
    r_.Check(app.WaitTitle(L"Ipsetter - Refreshing ..", 3000),
             "Alt+R refreshes: \"Ipsetter - Refreshing ..\"", "title \"" + Utf8(app.Title()) + "\"");
    r_.Check(app.WaitTitle(L"Ipsetter", 5000), "Alt+R: then \"Ipsetter\"",
             "title \"" + Utf8(app.Title()) + "\"");
    r_.Calls(rec.SinceMark(), Join({kGetInfo, kGetInfo}), "Alt+R: read, then one complete poll");

    rec.Mark();
    script_.Keys("alt+c");
    DWORD exit_code = 1;
    r_.Check(app.WaitExit(5000, &exit_code), "Alt+C ends the process");
    r_.Calls(rec.SinceMark(), {kDefault, kQueryProcesses}, "Alt+C: unload looks for keyboards");
  }

  void ApplyStatic() {
    App app;
    Record rec = NewRecord("apply-static");
    // Started from a shortcut set to "Minimized": the window still comes up normal, centred, on top.
    if (!Start(app, rec, "apply-static", kStaticAdapter, "", SW_SHOWMINIMIZED))
      return;
    r_.Check(!IsIconic(app.window()), "started minimized: the window is shown normal");
    ExpectPlacement(r_, app, "started minimized");
    ExpectWindow(r_, app, "load (static)",
                 {L"Ipsetter", L"192.168.10.20|255.255.255.0|192.168.10.1|192.168.10.1|192.168.10.2", 1, L"",
                  L"", kAllOn});
    ExpectNames(r_, app, "static shown");
    app.SetText(kTxtIp, L"192.168.10.30");
    app.SetText(kTxtDns1, L"  ");
    app.SetText(kTxtDns2, L"192.168.10.9");
    rec.Mark();
    app.Click(kCmdApply);
    ExpectWindow(r_, app, "Apply returned",
                 {L"Ipsetter - Processing ..", L"192.168.10.30|255.255.255.0|192.168.10.1|  |192.168.10.9", 1,
                  L"", L"", kAllOff});
    r_.Equal(app.FocusId(), kTxtOver, "Apply moves the focus to the sink");
    long role = 0;
    r_.Equal(AccessibleName(app.Ctl(kTxtOver), &role), L"Ipsetter - Processing ..",
             "the sink is named after the title");
    r_.Calls(rec.SinceMark(),
             {kCimv2, kQueryAll, R"(EnableStatic #0 [["192.168.10.30"],["255.255.255.0"]])",
              R"(SetGateways #0 [["192.168.10.1"],[1]])", R"(SetDNSServerSearchOrder #0 [["192.168.10.9"]])"},
             "Apply static: calls and arguments (blank first DNS left out)");
    rec.Mark();
    r_.Check(app.WaitTitle(L"Ipsetter - Updated", 5000), "Apply static ends in \"Ipsetter - Updated\"",
             "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(r_, app, "Apply static done",
                 {L"Ipsetter - Updated", L"192.168.10.30|255.255.255.0|192.168.10.1|192.168.10.9|", 1, L"",
                  L"", kAllOn});
    r_.Calls(rec.SinceMark(), Join({kGetInfo, kGetInfo}),
             "Apply static: settle tick and one poll, then stop");
    CloseWithButton(app, rec, "apply-static");
  }

  // A static step fails (the network rejects the value); the fallback to DHCP then succeeds.
  void StaticFailsThenLease(const std::string& name,
                            int box,
                            const std::wstring& value,
                            const std::wstring& status,
                            const std::vector<std::string>& calls) {
    App app;
    Record rec = NewRecord(name);
    if (!Start(app, rec, name, With(kStaticAdapter, LeaseAfter(6))))
      return;
    app.SetText(box, value);
    rec.Mark();
    app.Click(kCmdApply);
    r_.Equal(app.Title(), L"Ipsetter - Processing ..", name + ": title when Apply returns");
    r_.Equal(app.Text(kTxtStatus), status, name + ": status");
    r_.Calls(rec.SinceMark(),
             Join({{kCimv2, kQueryAll},
                   calls,
                   {kCimv2, kQueryAll, "EnableDHCP #0 []", "SetDNSServerSearchOrder #0 []"}}),
             name + ": static calls, then the DHCP fallback");
    r_.Check(app.WaitTitle(L"Ipsetter - Acquiring ..", 5000),
             name + ": \"Ipsetter - Acquiring ..\" while no lease", "title \"" + Utf8(app.Title()) + "\"");
    // The box turned off inside the reading while the mode was still static: Apply stays on.
    // EnableDHCP keeps the static gateway.
    ExpectWindow(r_, app, name + " acquiring",
                 {L"Ipsetter - Acquiring ..", L"0.0.0.0|0.0.0.0|192.168.10.1||", 0, L"automatic", status,
                  kUntickedStatic});
    if (name == "mask-66")
      script_.Shot("acquiring");
    r_.Check(app.WaitTitle(L"Ipsetter - Updated", 10000),
             name + ": \"Ipsetter - Updated\" once the lease arrives", "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(r_, app, name + " leased",
                 {L"Ipsetter - Updated", L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|", 0, L"automatic", L"",
                  kUntickedStatic});
    r_.Equal(rec.Count("EnableDHCP #0 []"), 1, name + ": one switch to DHCP, no repeat once DHCP is on");
    CloseWithButton(app, rec, name);
  }

  // EnableStatic answers 81 on an adapter that is on DHCP: a failure, reported, and the fallback runs.
  void StaticEightyOneOnDhcp() {
    App app;
    Record rec = NewRecord("static-81-on-dhcp");
    if (!Start(app, rec, "static-81-on-dhcp",
               With(R"({ "IPEnabled": true, "DHCPEnabled": true, "IPAddress": ["10.0.0.5", "fe80::5"],
                         "IPSubnet": ["255.0.0.0", "64"], "DefaultIPGateway": ["10.0.0.1"],
                         "DNSServerSearchOrder": ["10.0.0.1"] })",
                    LeaseAfter(0) + R"(, "results": {"EnableStatic": 81})")))
      return;
    app.Click(kChkStatic);
    app.SetText(kTxtIp, L"10.0.0.77");
    rec.Mark();
    app.Click(kCmdApply);
    r_.Equal(app.Text(kTxtStatus), L"Unable to Configure DHCP - Trying DHCP ..",
             "81 on a DHCP adapter: status");
    r_.Calls(rec.SinceMark(),
             {kCimv2, kQueryAll, R"(EnableStatic #0 [["10.0.0.77"],["255.0.0.0"]])",
              R"(SetGateways #0 [["10.0.0.1"],[1]])", R"(SetDNSServerSearchOrder #0 [["10.0.0.1"]])", kCimv2,
              kQueryAll, "EnableDHCP #0 []", "SetDNSServerSearchOrder #0 []"},
             "81 on a DHCP adapter: static calls, then the DHCP fallback");
    r_.Check(app.WaitTitle(L"Ipsetter - Updated", 5000),
             "81 on a DHCP adapter: \"Ipsetter - Updated\" on the lease",
             "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(r_, app, "81 on a DHCP adapter, after the fallback",
                 {L"Ipsetter - Updated", L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|", 0, L"automatic", L"",
                  kUntickedStatic});
    CloseWithButton(app, rec, "static-81-on-dhcp");
  }

  void DhcpFails() {
    App app;
    Record rec = NewRecord("dhcp-fails");
    if (!Start(app, rec, "dhcp-fails", With(kStaticAdapter, R"("results": {"EnableDHCP": 81})")))
      return;
    app.Click(kChkStatic);
    r_.Equal(app.CheckState(kChkStatic), 0, "click clears the Static box");
    r_.Check(Enables(app) == kUntickedStatic, std::string("cleared while static: enabled ") + kUntickedStatic,
             "got " + Enables(app));
    rec.Mark();
    app.Click(kCmdApply);
    ExpectWindow(r_, app, "Set_DHCP failed",
                 {L"Ipsetter - Error", L"192.168.10.20|255.255.255.0|192.168.10.1||", 1, L"",
                  L"Unable to Configure DHCP", kAllOn});
    r_.Calls(rec.SinceMark(),
             Join({{kCimv2, kQueryAll, "EnableDHCP #0 []", "SetDNSServerSearchOrder #0 []"}, kGetInfo}),
             "Set_DHCP failed: calls, then one re-read");
    script_.Shot("error");
    const size_t calls = rec.All().size();
    Sleep(1500);
    r_.Check(app.Title() == L"Ipsetter - Error" && rec.All().size() == calls,
             "Set_DHCP failed: no tick follows in 1.5 s");
    CloseWithButton(app, rec, "dhcp-fails");
  }

  void RefreshWithoutGateway() {
    App app;
    Record rec = NewRecord("refresh-no-gateway");
    if (!Start(app, rec, "refresh-no-gateway", With(kStaticNoGateway, LeaseAfter(3))))
      return;
    rec.Mark();
    app.Click(kCmdRefresh);
    ExpectWindow(
        r_, app, "Refresh returned",
        {L"Ipsetter - Refreshing ..", L"192.168.10.20|255.255.255.0||192.168.10.1|", 1, L"", L"", kAllOff});
    r_.Check(
        WaitUntil([&] { return app.Text(kTxtStatus) == L"Invalid Gateway Address - Trying DHCP .."; }, 3000),
        "no gateway: \"Invalid Gateway Address - Trying DHCP ..\"",
        "status \"" + Utf8(app.Text(kTxtStatus)) + "\"");
    r_.Equal(app.Title(), L"Ipsetter - Acquiring ..", "no gateway: title at the fallback");
    r_.Check(app.WaitTitle(L"Ipsetter - Updated", 10000),
             "no gateway: \"Ipsetter - Updated\" after the lease", "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(
        r_, app, "no gateway leased",
        {L"Ipsetter - Updated", L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|", 0, L"automatic", L"", kDhcpShown});
    const auto all = rec.SinceMark();
    r_.Calls(
        std::vector<std::string>(all.begin(), all.begin() + std::min<size_t>(all.size(), 8)),
        Join({kGetInfo, kGetInfo, {kCimv2, kQueryAll, "EnableDHCP #0 []", "SetDNSServerSearchOrder #0 []"}}),
        "no gateway: read, poll, then the fallback");
    r_.Equal(rec.Count("EnableDHCP #0 []"), 1, "no gateway: one fallback");
    CloseWithButton(app, rec, "refresh-no-gateway");
  }

  void CloseThroughFrame(const std::string& name, UINT message, WPARAM wparam) {
    App app;
    Record rec = NewRecord(name);
    if (!Start(app, rec, name, R"({ "IPEnabled": true, "DHCPEnabled": true, "IPAddress": ["0.0.0.0"],
                                    "IPSubnet": ["0.0.0.0"] })",
               R"("processes": ["osk.exe"])"))
      return;
    app.Click(kCmdRefresh);
    r_.Check(WaitUntil([&] { return rec.Count(kQueryInfo) >= 4; }, 5000) &&
                 app.Title() == L"Ipsetter - Acquiring ..",
             name + ": monitor polls with \"Ipsetter - Acquiring ..\"",
             "title \"" + Utf8(app.Title()) + "\"");
    r_.Check(!app.Enabled(kCmdExit), name + ": Close is off while the monitor runs");
    rec.Mark();
    script_.Keys("alt+r alt+c");
    Sleep(700);
    const auto polls = rec.SinceMark();
    r_.Check(app.Running() && app.Title() == L"Ipsetter - Acquiring .." &&
                 std::all_of(polls.begin(), polls.end(),
                             [](const std::string& c) { return c == kCimv2 || c == kQueryInfo; }),
             name + ": Alt+R and Alt+C do nothing while locked", "title \"" + Utf8(app.Title()) + "\"");
    LPARAM lparam = 0;
    if (message == WM_ENDSESSION) {
      lparam = ENDSESSION_LOGOFF;
      DWORD_PTR agreed = 0;
      SendMessageTimeoutW(app.window(), WM_QUERYENDSESSION, 0, lparam, SMTO_ABORTIFHUNG, 5000, &agreed);
      r_.Check(agreed == TRUE && app.Running(), name + ": the program agrees to the logoff and waits for it");
    }
    rec.Mark();
    PostMessageW(app.window(), message, wparam, lparam);
    DWORD code = 1;
    r_.Check(app.WaitExit(5000, &code), name + ": the frame's close ends the process");
    r_.Equal(code, 0, name + ": exit code");
    auto since = rec.SinceMark();
    // A poll may have been under way when the message arrived.
    while (!since.empty() && (since.front() == kCimv2 || since.front() == kQueryInfo))
      since.erase(since.begin());
    r_.Calls(since, {kDefault, kQueryProcesses, "Terminate osk.exe #0 []"},
             name + ": unload ends the keyboard, no tick after it");
  }

  void Keyboard() {
    App app;
    Record rec = NewRecord("keyboard");
    if (!Start(app, rec, "keyboard", kStaticAdapter,
               R"("processes": ["osk.exe", {"name": "osk.exe", "session": 2}, "msswchx.exe", "notepad.exe"])"))
      return;
    rec.Mark();
    app.Click(kCmdKeyboard);
    r_.Calls(rec.SinceMark(),
             {kDefault, kQueryProcesses, "Terminate osk.exe #0 []", "Terminate msswchx.exe #2 []",
              "StartProcess osk.exe"},
             "keyboard: ends this session's osk.exe and msswchx.exe, not another session's, then starts osk.exe");
    r_.Equal(app.FocusId(), kTxtOver, "keyboard moves the focus to the sink");
    r_.Check(app.Title() == L"Ipsetter" && Enables(app) == kAllOn, "keyboard leaves title and controls alone",
             "title \"" + Utf8(app.Title()) + "\", " + Enables(app));
    rec.Mark();
    app.Click(kCmdKeyboard);
    // "#2": the place in the machine's list (another session's osk.exe, notepad.exe, ours).
    r_.Calls(rec.SinceMark(), {kDefault, kQueryProcesses, "Terminate osk.exe #2 []", "StartProcess osk.exe"},
             "keyboard twice: the one started is ended, one new one");
    rec.Mark();
    app.PostClick(kCmdExit);
    r_.Check(app.WaitExit(5000), "keyboard: Close ends the process");
    r_.Calls(rec.SinceMark(), {kDefault, kQueryProcesses, "Terminate osk.exe #2 []"},
             "Close ends the running keyboard and starts none");
  }

  void FaultInTick() {
    App app;
    Record rec = NewRecord("fault-tick");
    if (!Start(
            app, rec, "fault-tick",
            R"({ "IPEnabled": true, "DHCPEnabled": true, "IPAddress": ["10.0.0.5"], "IPSubnet": ["255.0.0.0"],
                    "DefaultIPGateway": ["10.0.0.1"], "DNSServerSearchOrder": ["10.0.0.1", "10.0.0.2"] })",
            R"("faults": [{"operation": "ExecQuery", "nth": 3, "code": "0x80041001",
                              "description": "Generic failure"}])"))
      return;
    app.Click(kCmdRefresh);
    r_.Check(app.WaitTitle(L"Ipsetter - Error", 3000), "fault in a tick: \"Ipsetter - Error\"",
             "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(
        r_, app, "fault in a tick",
        {L"Ipsetter - Error", L"||||", 0, L"automatic", L"Generic failure (0x80041001)", kDhcpShown});
    const size_t calls = rec.All().size();
    Sleep(1000);
    r_.Check(app.Title() == L"Ipsetter - Error" && rec.All().size() == calls,
             "fault in a tick: the monitor stopped");
    app.Click(kCmdRefresh);
    r_.Check(app.WaitTitle(L"Ipsetter", 3000), "after the fault, Refresh works and ends in \"Ipsetter\"",
             "title \"" + Utf8(app.Title()) + "\"");
    ExpectWindow(
        r_, app, "refresh after the fault",
        {L"Ipsetter", L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|10.0.0.2", 0, L"automatic", L"", kDhcpShown});
    CloseWithButton(app, rec, "fault-tick");
  }

  void FaultAtLoad() {
    App app;
    Record rec = NewRecord("fault-load");
    if (!Start(app, rec, "fault-load", kStaticAdapter,
               R"("faults": [{"operation": "bind", "nth": 1, "code": "0x80041013"}])"))
      return;
    ExpectWindow(
        r_, app, "fault at load",
        {L"Ipsetter - Error", L"||||", 0, L"", L"Management service error (0x80041013)", kDhcpShown});
    CloseWithButton(app, rec, "fault-load");
  }

  // A lease that never comes: the 350th tick gives up.
  void Timeout() {
    App app;
    Record rec = NewRecord("timeout");
    if (!Start(app, rec, "timeout", kStaticNoGateway))
      return;
    const ULONGLONG start = GetTickCount64();
    app.Click(kCmdRefresh);
    r_.Check(Enables(app) == kAllOff, "Refresh locks everything, Close included", Enables(app));
    r_.Check(WaitUntil([&] { return app.Title() == L"Ipsetter - Acquiring .."; }, 3000),
             "no lease: \"Ipsetter - Acquiring ..\"");
    const bool timed_out = app.WaitTitle(L"Ipsetter - Timed Out!", 200000);
    const ULONGLONG elapsed = GetTickCount64() - start;
    r_.Check(timed_out, "no lease: \"Ipsetter - Timed Out!\"", "title \"" + Utf8(app.Title()) + "\"");
    r_.Check(elapsed >= 104000 && elapsed <= 160000, "time-out after 350 ticks of 300 ms (about 105 s)",
             "took " + std::to_string(elapsed) + " ms");
    ExpectWindow(r_, app, "timed out",
                 {L"Ipsetter - Timed Out!", L"0.0.0.0|0.0.0.0|||", 0, L"automatic",
                  L"Invalid Gateway Address - Trying DHCP ..", kDhcpShown});
    r_.Equal(rec.Count(kQueryInfo), 352, "readings: load, Refresh, 349 polls, the time-out");
    r_.Equal(rec.Count("EnableDHCP #0 []"), 1, "one fallback only");
    const size_t calls = rec.All().size();
    Sleep(1000);
    r_.Check(app.Title() == L"Ipsetter - Timed Out!" && rec.All().size() == calls,
             "no tick after the time-out");
    CloseWithButton(app, rec, "timeout");
  }

 private:
  Report& r_;
  Script& script_;
  std::wstring exe_;
  std::wstring work_;
};

// The real program against Wine's WMI and adapters the script set up in a network namespace.
void RealSuite(Report& r,
               Script& script,
               const std::wstring& exe,
               const std::wstring& work,
               const std::vector<std::wstring>& want) {
  const std::wstring& ip = want[0];
  const std::wstring& mask = want[1];
  const std::wstring& dns1 = want[2];
  const std::wstring& dns2 = want[3];
  const std::wstring& gateway = want[4];
  App app;
  r.Line("== real ipsetter.exe");
  if (!r.Check(app.Start(exe, L"", work, 30000), "real: window appears"))
    return;
  ExpectWindow(
      r, app, "real load",
      {L"Ipsetter", ip + L"|" + mask + L"||" + dns1 + L"|" + dns2, 0, L"automatic", L"", kDhcpShown});
  ExpectPlacement(r, app, "real");
  script.Shot("real-loaded");

  DWORD code = 0;
  r.Check(RunToEnd(exe, L"", 10000, &code), "real: second start ends within 10 s");
  r.Equal(static_cast<long long>(IpsetterWindows().size()), 1, "real: still one window");

  script.Run("route-add");
  r.Check(TitlesOfClick(app, kCmdRefresh, L"Ipsetter", 5000) ==
              std::vector<std::wstring>{L"Ipsetter - Refreshing ..", L"Ipsetter"},
          "real Refresh: titles \"Ipsetter - Refreshing ..\", then \"Ipsetter\"",
          "title \"" + Utf8(app.Title()) + "\"");
  ExpectWindow(r, app, "real Refresh",
               {L"Ipsetter", ip + L"|" + mask + L"|" + gateway + L"|" + dns1 + L"|" + dns2, 0, L"automatic",
                L"", kDhcpShown});

  app.Click(kChkStatic);
  r.Check(Enables(app) == kAllOn, std::string("real: Static ticked, enabled ") + kAllOn, Enables(app));
  app.Click(kCmdApply);
  const std::wstring status = app.Text(kTxtStatus);
  r.Equal(app.Title(), L"Ipsetter - Error", "real Apply static: title");
  // Wine has no adapter methods: the service's own failure, shown with its code.
  r.Equal(status, L"Invalid method (0x8004102E)", "real Apply static: status");
  r.Equal(Boxes(app), ip + L"|" + mask + L"|" + gateway + L"|" + dns1 + L"|" + dns2,
          "real Apply static: boxes kept");
  r.Check(Enables(app) == kAllOn, std::string("real Apply static: controls usable ") + kAllOn, Enables(app));
  Sleep(1000);
  r.Equal(app.Title(), L"Ipsetter - Error", "real Apply static: still \"Ipsetter - Error\" a second later");

  // The keyboard comes from the system directory, never from the program's own directory.
  wchar_t system_dir[MAX_PATH];
  GetSystemDirectoryW(system_dir, MAX_PATH);
  const std::wstring log = L"C:\\e2e-osk.log";
  DeleteFileW(log.c_str());
  app.Click(kCmdKeyboard);
  std::string text;
  WaitUntil([&] { return ReadText(log, &text) && !text.empty(); }, 10000);
  Sleep(1500);
  ReadText(log, &text);
  // Started by the desktop's shell, so as the desktop user, not as the elevated program's child.
  const std::string want_line = Utf8(std::wstring(system_dir) + L"\\osk.exe") + " parent explorer.exe\n";
  r.Check(_stricmp(text.c_str(), want_line.c_str()) == 0,
          "real keyboard: System32 osk.exe started, only it, by explorer.exe", "log \"" + text + "\"");

  app.PostClick(kCmdExit);
  r.Check(app.WaitExit(10000, &code), "real: Close ends the process");
}

void PlumbingSuite(Report& r, Script& script, const std::wstring& exe) {
  App app;
  if (!r.Check(app.Start(exe, L"", L"", 15000), "plumbing: window appears"))
    return;
  r.Equal(app.Title(), L"Ipsetter", "plumbing: title");
  ExpectPlacement(r, app, "plumbing");
  script.Shot("plumbing");
  WaitUntil(
      [&] {
        if (app.FocusId() == kCmdExit)
          return true;
        script.Keys("Tab");
        return false;
      },
      10000);
  r.Equal(app.FocusId(), kCmdExit, "plumbing: Tab reaches the button");
  script.Keys("alt+c");
  r.Check(app.WaitExit(5000), "plumbing: Alt+C closes");
}

}  // namespace
}  // namespace e2e

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  using namespace e2e;
  Report report;
  if (argc < 5) {
    report.Line("usage: e2e-driver.exe sim|timeout|real|plumbing EXE WORK_DIR SYNC_DIR [values]");
    return 2;
  }
  const std::wstring suite = argv[1], exe = argv[2], work = argv[3];
  Script script(report, argv[4]);
  if (suite == L"sim") {
    // An optional fifth argument runs only the scenarios whose name contains it.
    const std::wstring only = argc > 5 ? argv[5] : L"";
    auto run = [&](const wchar_t* name) {
      return only.empty() || std::wstring(name).find(only) != std::wstring::npos;
    };
    SimSuite s(report, script, exe, work);
    if (run(L"bad"))
      s.BadScenarios();
    if (run(L"startup"))
      s.StartupAndKeyboardUse();
    if (run(L"apply-static"))
      s.ApplyStatic();
    if (run(L"mask-66"))
      s.StaticFailsThenLease("mask-66", kTxtSubnet, L"255.0.255.0", L"Invalid Subnet Mask - Trying DHCP ..",
                             {R"(EnableStatic #0 [["192.168.10.20"],["255.0.255.0"]])",
                              R"(SetGateways #0 [["192.168.10.1"],[1]])",
                              R"(SetDNSServerSearchOrder #0 [["192.168.10.1","192.168.10.2"]])"});
    if (run(L"dns-70"))
      s.StaticFailsThenLease("dns-70", kTxtDns1, L"192.168.10.300", L"Invalid DNS Address - Trying DHCP ..",
                             {R"(EnableStatic #0 [["192.168.10.20"],["255.255.255.0"]])",
                              R"(SetGateways #0 [["192.168.10.1"],[1]])",
                              R"(SetDNSServerSearchOrder #0 [["192.168.10.300","192.168.10.2"]])"});
    if (run(L"static-81-on-dhcp"))
      s.StaticEightyOneOnDhcp();
    if (run(L"dhcp-fails"))
      s.DhcpFails();
    if (run(L"refresh-no-gateway"))
      s.RefreshWithoutGateway();
    if (run(L"close-wm-close"))
      s.CloseThroughFrame("close-wm-close", WM_CLOSE, 0);
    if (run(L"close-sc-close"))
      s.CloseThroughFrame("close-sc-close", WM_SYSCOMMAND, SC_CLOSE);
    if (run(L"close-logoff"))
      s.CloseThroughFrame("close-logoff", WM_ENDSESSION, TRUE);
    if (run(L"keyboard"))
      s.Keyboard();
    if (run(L"fault-tick"))
      s.FaultInTick();
    if (run(L"fault-load"))
      s.FaultAtLoad();
  } else if (suite == L"timeout") {
    SimSuite(report, script, exe, work).Timeout();
  } else if (suite == L"real" && argc == 10) {
    RealSuite(report, script, exe, work, {argv[5], argv[6], argv[7], argv[8], argv[9]});
  } else if (suite == L"plumbing") {
    PlumbingSuite(report, script, exe);
  } else {
    report.Line("unknown suite or wrong arguments");
    return 2;
  }
  return report.Summary();
}
