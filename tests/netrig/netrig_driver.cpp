// Real-network lane: the unchanged ipsetter.exe, the stand-in management service and real Linux
// interfaces (tests/netrig/run.sh sets them up). Every road is checked from both sides: the window,
// and what the kernel, the resolver file and the DHCP server hold (the script's "kernel" snapshot).
//
//   netrig-driver.exe main    EXE WORK_DIR SYNC_DIR
//   netrig-driver.exe timeout EXE WORK_DIR SYNC_DIR
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver_support.h"
#include "window_view.h"

namespace e2e {
namespace {

using nlohmann::json;

// The main lane's networks (run.sh): a0 on 10.81.0.0/24, a1 on 10.82.0.0/24, dnsmasq at .1.
const wchar_t kStaticIp[] = L"10.80.5.5";
const wchar_t kMask24[] = L"255.255.255.0";
const wchar_t kStaticGw[] = L"10.80.5.1";
const wchar_t kStaticDns1[] = L"10.80.5.53";
const wchar_t kStaticDns2[] = L"10.80.5.54";
// The program's timer: its id is the control id of Timer1.
const UINT_PTR kTimer1Id = 106;

struct Link {
  int index = 0;
  std::string mac;
  std::vector<std::string> inet;  // "address/prefix"
  std::vector<std::string> inet6_global;
  std::vector<std::string> gateways;  // IPv4 default routes, by metric
};

struct Kernel {
  std::map<std::string, Link> links;
  std::vector<std::string> nameservers;
  std::string leases;
  std::set<std::string> dhcp_clients;

  const Link& operator[](const std::string& name) const {
    static const Link none;
    const auto it = links.find(name);
    return it == links.end() ? none : it->second;
  }
  // The address, without prefix, of a link's one IPv4 entry ("" when it has none or several).
  std::wstring Ip(const std::string& name) const {
    const auto& inet = (*this)[name].inet;
    return inet.size() == 1 ? Wide(inet[0].substr(0, inet[0].find('/'))) : L"";
  }
  bool Leased(const std::string& name) const {
    const Link& l = (*this)[name];
    const std::string ip = Utf8(Ip(name));
    return !ip.empty() && leases.find(l.mac + " " + ip + " ") != std::string::npos;
  }
};

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items)
    out += (out.empty() ? "" : " ") + i;
  return out;
}

// The announcements the UI Automation stand-in recorded, oldest first.
std::vector<std::string> Announced() {
  std::string text;
  std::vector<std::string> out;
  if (!ReadText(L"C:\\netrig-uia.log", &text))
    return out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    out.push_back(line);
  return out;
}

class Lane {
 public:
  Lane(Report& r, Script& s, std::wstring exe, std::wstring work)
      : r_(r), script_(s), exe_(std::move(exe)), work_(std::move(work)) {}

  // The kernel once `settled` holds, read again for 10 s at most: the window's "Updated" says the
  // last adapter is complete, while an earlier adapter's DHCP client may answer a moment later.
  Kernel SettledKernel(const std::function<bool(const Kernel&)>& settled) {
    Kernel k = ReadKernel();
    for (const ULONGLONG start = GetTickCount64(); !settled(k) && GetTickCount64() - start < 10000;) {
      Sleep(200);
      k = ReadKernel();
    }
    return k;
  }

  Kernel ReadKernel() {
    Kernel k;
    const std::wstring path = work_ + L"\\kernel.json";
    DeleteFileW(path.c_str());
    std::string text;
    if (!script_.Run("kernel") || !ReadText(path, &text)) {
      r_.Check(false, "kernel snapshot read");
      return k;
    }
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded())
      return k;
    for (const auto& l : j["addr"]) {
      Link link;
      link.index = l.value("ifindex", 0);
      link.mac = l.value("address", "");
      for (const auto& a : l.value("addr_info", json::array())) {
        const std::string entry = a.value("local", "") + "/" + std::to_string(a.value("prefixlen", 0));
        if (a.value("family", "") == "inet")
          link.inet.push_back(entry);
        else if (a.value("scope", "") == "global")
          link.inet6_global.push_back(entry);
      }
      k.links[l.value("ifname", "")] = link;
    }
    std::vector<json> routes(j["route4"].begin(), j["route4"].end());
    std::stable_sort(routes.begin(), routes.end(), [](const json& a, const json& b) {
      return a.value("metric", 0) < b.value("metric", 0);
    });
    for (const auto& rt : routes)
      k.links[rt.value("dev", "")].gateways.push_back(rt.value("gateway", ""));
    std::istringstream resolv(j.value("resolv", ""));
    for (std::string word, server; resolv >> word;)
      if (word == "nameserver" && resolv >> server)
        k.nameservers.push_back(server);
    k.leases = j.value("leases", "");
    for (const auto& c : j["clients"])
      k.dhcp_clients.insert(c.get<std::string>());
    return k;
  }

  // The methods the provider ran since the mark, as "Method #index Name:VT=value ... -> result".
  std::vector<std::string> MethodsSinceMark() const {
    std::vector<std::string> out;
    for (const json& j : RecordSinceMark()) {
      if (j.value("call", "") != "ExecMethod")
        continue;
      const std::string path = j.value("path", "");
      const size_t eq = path.rfind('=');
      std::string item =
          j.value("method", "?") + " #" + (eq == std::string::npos ? "?" : path.substr(eq + 1));
      if (j.contains("in") && j["in"].is_array())
        for (const auto& p : j["in"])
          item += " " + p.value("name", "?") + ":" + p.value("vt", "?") + "=" + p["value"].dump();
      else
        item += " (no in-parameters)";
      const bool returned = j.contains("ReturnValue") && !j["ReturnValue"].is_null();
      item += " -> " + (returned ? j["ReturnValue"].dump() : j.value("hr", "?"));
      out.push_back(item);
    }
    return out;
  }
  void Mark() { mark_ = RecordLines().size(); }
  // The properties of processes read since the mark, with their results: "Handle=0x00000000 ...".
  std::string ProcessReadsSinceMark() const {
    std::string out;
    for (const json& j : RecordSinceMark())
      if (j.value("call", "") == "Get" && j.value("class", "") == "Win32_Process")
        out += (out.empty() ? "" : " ") + j.value("name", "?") + "=" + j.value("hr", "?");
    return out;
  }

  // The whole record since the mark, for the log.
  void PrintRecordSinceMark(const std::string& title) const {
    r_.Line("-- provider record: " + title);
    for (const json& j : RecordSinceMark())
      r_.Line("   " + j.dump());
  }

  bool Start() {
    if (!r_.Check(app_.Start(exe_, L"", work_, 30000), "window appears"))
      return false;
    return true;
  }

  void TypeStatic(const std::wstring& ip,
                  const std::wstring& gw,
                  const std::wstring& dns1,
                  const std::wstring& dns2) {
    app_.SetText(kTxtIp, ip);
    app_.SetText(kTxtSubnet, kMask24);
    app_.SetText(kTxtGateway, gw);
    app_.SetText(kTxtDns1, dns1);
    app_.SetText(kTxtDns2, dns2);
  }

  // Waits for a title, checking it; the elapsed time goes to the log.
  bool Reaches(const std::wstring& title, DWORD ms, const std::string& what) {
    const DWORD t0 = GetTickCount();
    const bool ok = app_.WaitTitle(title, ms);
    r_.Check(
        ok, what + ": title becomes \"" + Utf8(title) + "\" (" + std::to_string(GetTickCount() - t0) + " ms)",
        "title \"" + Utf8(app_.Title()) + "\", status \"" + Utf8(app_.Text(kTxtStatus)) + "\"");
    return ok;
  }

  void Main();
  void Timeout();
  void KeysAt144Dpi();
  void DpiAndColourChanges();
  void EndSession();

 private:
  // The record's lines from the mark on.
  std::vector<json> RecordSinceMark() const {
    std::vector<json> lines = RecordLines();
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(mark_, lines.size())));
    return lines;
  }
  std::vector<json> RecordLines() const {
    std::vector<json> out;
    std::string text;
    if (!ReadText(work_ + L"\\provider.rec", &text))
      return out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      json j = json::parse(line, nullptr, false);
      out.push_back(j.is_discarded() ? json{{"call", "<bad line>"}, {"text", line}} : j);
    }
    return out;
  }

  std::string Idx(const std::string& link) { return std::to_string(kernel_[link].index); }

  void Load();
  void ApplyStatic();
  void ChangeStatic();
  void RejectedAddress();
  void NoGateway();
  void ClearedBoxWhileServerHolds();
  void Keyboard();
  void ProviderFaults();
  void WronglyTyped();
  void MethodFaults();
  void TerminateFails();
  void StaticEightyOneOnDhcp();
  void HeldApply();
  void HeldApplyClosed();
  // The methods since the mark in short, grouped by adapter: "a0 ES=0 SG=71 DNS=0; a1 ...".
  std::string MethodsInShort() const;
  // The record since the mark, as the queries and method calls it holds, in order.
  std::vector<std::string> QueriesAndMethodsSinceMark() const;
  // How long the provider's caller waited for the agent's answer to a method; -1 if not recorded.
  long long WaitedMs(const std::string& method) const;
  // Whether the provider has returned from a call of the method since the mark.
  bool Answered(const std::string& method) const;

  Report& r_;
  Script& script_;
  std::wstring exe_;
  std::wstring work_;
  App app_;
  Kernel kernel_;
  size_t mark_ = 0;
  std::map<int, RECT> start_rects_;
};

// The three calls Set_Static makes on one adapter (gateway 10.80.5.1), as MethodsSinceMark() lists
// them; `dns` is the server list as JSON, empty for the call without servers.
std::vector<std::string> StaticCalls(const std::string& index,
                                     const std::string& ip,
                                     const std::string& static_result,
                                     const std::string& dns) {
  return {"EnableStatic #" + index + R"( IPAddress:VT_ARRAY|VT_BSTR=[")" + ip +
              R"("] SubnetMask:VT_ARRAY|VT_BSTR=["255.255.255.0"] -> )" + static_result,
          "SetGateways #" + index +
              R"( DefaultIPGateway:VT_ARRAY|VT_BSTR=["10.80.5.1"] GatewayCostMetric:VT_ARRAY|VT_I4=[1] -> 0)",
          "SetDNSServerSearchOrder #" + index +
              (dns.empty() ? "" : " DNSServerSearchOrder:VT_ARRAY|VT_BSTR=" + dns) + " -> 0"};
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// The resolver holds, adapter by adapter, the servers of each lease (dnsmasq gives .53 and .54 of the
// lease's subnet) or the adapter's configured ones.
std::vector<std::string> ResolverWant(const Kernel& k,
                                      const std::map<std::string, std::vector<std::string>>& configured) {
  std::vector<std::string> want;
  for (const char* name : {"a0", "a1"}) {
    const auto it = configured.find(name);
    if (it != configured.end()) {
      want.insert(want.end(), it->second.begin(), it->second.end());
    } else if (k.Leased(name)) {
      const std::string ip = Utf8(k.Ip(name));
      const std::string net = ip.substr(0, ip.rfind('.') + 1);
      want.push_back(net + "53");
      want.push_back(net + "54");
    }
  }
  return want;
}

void ExpectResolverFollowsLeases(Report& r,
                                 const Kernel& k,
                                 const std::map<std::string, std::vector<std::string>>& configured,
                                 const std::string& what) {
  const std::vector<std::string> want = ResolverWant(k, configured);
  r.Check(k.nameservers == want, what + ": resolver " + Joined(want), "got " + Joined(k.nameservers));
}

// Both adapters leased and the resolver holding both leases' servers.
bool BothLeased(const Kernel& k) {
  return k.Leased("a0") && k.Leased("a1") && k.nameservers == ResolverWant(k, {});
}

std::wstring WithLease(const Kernel& k, const std::wstring& gateway_and_dns) {
  return k.Ip("a1") + L"|" + kMask24 + L"|" + gateway_and_dns;
}

void Lane::Load() {
  kernel_ = ReadKernel();
  r_.Check(kernel_.Leased("a1") && kernel_.dhcp_clients.count("a1") == 1,
           "kernel at start: a1 holds a lease of the DHCP server and its client runs",
           "a1 " + Joined(kernel_["a1"].inet) + ", leases:\n" + kernel_.leases);
  r_.Check(kernel_["a0"].inet == std::vector<std::string>{"10.81.0.20/24"} &&
               kernel_.dhcp_clients.count("a0") == 0,
           "kernel at start: a0 static 10.81.0.20/24", Joined(kernel_["a0"].inet));
  ExpectResolverFollowsLeases(r_, kernel_, {{"a0", {"10.81.0.1"}}},
                              "at start (a1's lease came before any call)");
  // a1 comes last: its lease decides address, mask, gateway, DNS servers and the DHCP state.
  ExpectWindow(r_, app_, "load (a0 static, a1 leased)",
               {L"Ipsetter", WithLease(kernel_, L"10.82.0.1|10.82.0.53|10.82.0.54"), 0, L"automatic", L"",
                kDhcpShown});
  script_.Shot("netrig-loaded");
}

void Lane::ApplyStatic() {
  app_.Click(kChkStatic);
  r_.Check(Enables(app_) == kAllOn, std::string("Static ticked: enabled ") + kAllOn, Enables(app_));
  TypeStatic(kStaticIp, kStaticGw, kStaticDns1, kStaticDns2);
  Mark();
  r_.Check(TitlesOfClick(app_, kCmdApply, L"Ipsetter - Updated", 10000) ==
               std::vector<std::wstring>{L"Ipsetter - Processing ..", L"Ipsetter - Updated"},
           "Apply static: titles \"Ipsetter - Processing ..\", then \"Ipsetter - Updated\"",
           "title \"" + Utf8(app_.Title()) + "\"");
  ExpectWindow(r_, app_, "Apply static, two adapters",
               {L"Ipsetter - Updated", L"10.80.5.5|255.255.255.0|10.80.5.1|10.80.5.53|10.80.5.54", 1, L"",
                L"", kAllOn});
  const Kernel k = ReadKernel();
  for (const char* a : {"a0", "a1"}) {
    const std::string n = a;
    r_.Check(k[n].inet == std::vector<std::string>{"10.80.5.5/24"},
             "kernel after static Apply: " + n + " 10.80.5.5/24", Joined(k[n].inet));
    r_.Check(k[n].gateways == std::vector<std::string>{"10.80.5.1"},
             "kernel after static Apply: " + n + " default route via 10.80.5.1", Joined(k[n].gateways));
    r_.Check(k[n].inet6_global.size() == 1, "kernel after static Apply: " + n + " keeps its IPv6 address",
             Joined(k[n].inet6_global));
  }
  r_.Check(k.dhcp_clients.empty(), "kernel after static Apply: no DHCP client runs",
           std::to_string(k.dhcp_clients.size()));
  r_.Check(k.nameservers == std::vector<std::string>{"10.80.5.53", "10.80.5.54", "10.80.5.53", "10.80.5.54"},
           "resolver after static Apply: both adapters' servers", Joined(k.nameservers));
  // The program's exact COM shapes, as the provider received them.
  // a0 was static already: EnableStatic answers 81 there and still makes the change.
  std::vector<std::string> want = StaticCalls(Idx("a0"), "10.80.5.5", "81", R"(["10.80.5.53","10.80.5.54"])");
  Append(want, StaticCalls(Idx("a1"), "10.80.5.5", "0", R"(["10.80.5.53","10.80.5.54"])"));
  r_.Calls(MethodsSinceMark(), want, "provider record of the static Apply");
  PrintRecordSinceMark("one static Apply, settle tick and first poll");
  script_.Shot("netrig-static");
}

// From static to static, the commonest change: EnableStatic answers 81 and still makes it.
void Lane::ChangeStatic() {
  TypeStatic(L"10.80.5.6", kStaticGw, kStaticDns1, L"");
  Mark();
  app_.Click(kCmdApply);
  Reaches(L"Ipsetter - Updated", 10000, "static to static");
  ExpectWindow(
      r_, app_, "static to static",
      {L"Ipsetter - Updated", L"10.80.5.6|255.255.255.0|10.80.5.1|10.80.5.53|", 1, L"", L"", kAllOn});
  const Kernel k = ReadKernel();
  r_.Check(k["a0"].inet == std::vector<std::string>{"10.80.5.6/24"} &&
               k["a1"].inet == std::vector<std::string>{"10.80.5.6/24"} && k.dhcp_clients.empty(),
           "kernel after static to static: both 10.80.5.6/24, no DHCP client",
           Joined(k["a0"].inet) + " / " + Joined(k["a1"].inet));
  std::vector<std::string> want;
  for (const char* a : {"a0", "a1"})
    Append(want, StaticCalls(Idx(a), "10.80.5.6", "81", R"(["10.80.5.53"])"));
  r_.Calls(MethodsSinceMark(), want, "provider record of static to static: no fallback");
}

void Lane::RejectedAddress() {
  TypeStatic(L"10.80.5.300", kStaticGw, L"", L"");
  Mark();
  const size_t said_before = Announced().size();
  app_.Click(kCmdApply);
  r_.Equal(app_.Text(kTxtStatus), L"Invalid IP address - Trying DHCP ..", "Apply 10.80.5.300: status");
  std::vector<std::string> want;
  for (const char* a : {"a0", "a1"})
    Append(want, StaticCalls(Idx(a), "10.80.5.300", "70", ""));
  for (const char* a : {"a0", "a1"}) {
    want.push_back("EnableDHCP #" + Idx(a) + " (no in-parameters) -> 0");
    want.push_back("SetDNSServerSearchOrder #" + Idx(a) + " -> 0");
  }
  r_.Calls(MethodsSinceMark(), want, "provider record of the rejected Apply and its fallback");
  Reaches(L"Ipsetter - Updated", 20000, "rejected address, fallback to DHCP");
  const Kernel k = SettledKernel(BothLeased);
  r_.Check(k.Leased("a0") && k.Leased("a1"), "kernel after the fallback: both adapters hold a lease",
           "a0 " + Joined(k["a0"].inet) + ", a1 " + Joined(k["a1"].inet) + ", leases:\n" + k.leases);
  ExpectResolverFollowsLeases(r_, k, {}, "after the fallback");
  // The fallback's success clears the failure flag, so the success empties the status line. The box
  // cleared by the reading ran its handler while the mode still read static: Apply stays usable.
  ExpectWindow(r_, app_, "rejected address, after the lease",
               {L"Ipsetter - Updated", WithLease(k, L"10.82.0.1|10.82.0.53|10.82.0.54"), 0, L"automatic", L"",
                kUntickedStatic});
  // EnableDHCP keeps a static default gateway (Microsoft documents it): SetGateways had set one.
  r_.Check(k["a1"].gateways == std::vector<std::string>{"10.80.5.1", "10.82.0.1"},
           "kernel after the fallback: the static gateway stays beside the lease's",
           Joined(k["a1"].gateways));
  script_.Shot("netrig-lease");
  // What a screen reader was told, as the real UI Automation call received it. Whether a poll
  // finds the lease still missing ("Acquiring") depends on how fast the DHCP client is.
  const auto Said = [&](size_t from) {
    const auto all = Announced();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
  };
  const std::string head = "4 2 Ipsetter.Outcome frmIpsetter|";
  const std::vector<std::string> said = Said(said_before);
  std::vector<std::string> want_said = {head + "Ipsetter - Processing ..", head + "Invalid IP address",
                                        head + "Invalid IP address - Trying DHCP ..",
                                        head + "Ipsetter - Updated"};
  if (said.size() == 5)
    want_said.insert(want_said.begin() + 3, head + "Ipsetter - Acquiring ..");
  r_.Calls(said, want_said, "announced, Apply with fallback");
  const size_t refresh_from = Announced().size();
  app_.Click(kCmdRefresh);
  Reaches(L"Ipsetter", 5000, "Refresh after the fallback");
  r_.Calls(Said(refresh_from), {head + "Ipsetter - Refreshing ..", head + "Ipsetter"}, "announced, Refresh");
}

void Lane::NoGateway() {
  app_.Click(kChkStatic);
  TypeStatic(L"10.80.6.6", L"", L"", L"");
  app_.Click(kCmdApply);
  r_.Equal(app_.Text(kTxtStatus), L"", "Apply without gateway: the methods succeed, nothing reported yet");
  const bool seen = WaitUntil(
      [&] {
        return app_.Text(kTxtStatus) == L"Invalid Gateway Address - Trying DHCP .." &&
               app_.Title() == L"Ipsetter - Acquiring ..";
      },
      5000);
  r_.Check(
      seen,
      "Apply without gateway: the poll writes \"Invalid Gateway Address - Trying DHCP ..\" while acquiring",
      "title \"" + Utf8(app_.Title()) + "\", status \"" + Utf8(app_.Text(kTxtStatus)) + "\"");
  Reaches(L"Ipsetter - Updated", 20000, "Apply without gateway, fallback");
  const Kernel k = SettledKernel(BothLeased);
  r_.Check(
      k.Leased("a0") && k.Leased("a1") && k["a1"].gateways == std::vector<std::string>{"10.82.0.1"},
      "kernel after the fallback: leases, and only the lease's gateway (the empty one removed the static)",
      "a1 " + Joined(k["a1"].inet) + " via " + Joined(k["a1"].gateways));
  ExpectWindow(r_, app_, "Apply without gateway, after the lease",
               {L"Ipsetter - Updated", WithLease(k, L"10.82.0.1|10.82.0.53|10.82.0.54"), 0, L"automatic", L"",
                kDhcpShown});
}

void Lane::ClearedBoxWhileServerHolds() {
  // From a static configuration: only then does Apply stay usable with the box cleared.
  app_.Click(kChkStatic);
  TypeStatic(kStaticIp, kStaticGw, kStaticDns1, kStaticDns2);
  app_.Click(kCmdApply);
  Reaches(L"Ipsetter - Updated", 10000, "static again");
  script_.Run("dhcp-hold");
  app_.Click(kChkStatic);
  r_.Check(Enables(app_) == kUntickedStatic,
           std::string("box cleared on static adapters: ") + kUntickedStatic, Enables(app_));
  app_.Click(kCmdApply);
  Reaches(L"Ipsetter - Acquiring ..", 5000, "Apply with the box cleared, server silent");
  Sleep(1500);
  // A poll empties the boxes before it asks the service, and the window answers while it waits
  // (a busy machine may keep the agent a second or more).
  WaitUntil([&] { return Boxes(app_) != L"||||"; }, 5000);
  // No address yet; the static gateway stays (EnableDHCP keeps it); the servers were cleared.
  ExpectWindow(r_, app_, "server silent 1.5 s later",
               {L"Ipsetter - Acquiring ..", L"0.0.0.0|0.0.0.0|10.80.5.1||", 0, L"automatic", L"", kAllOff});
  const Kernel k = ReadKernel();
  r_.Check(
      k["a0"].inet.empty() && k["a1"].inet.empty() && k.dhcp_clients == std::set<std::string>{"a0", "a1"},
      "kernel while the server is silent: no IPv4 address, both DHCP clients run",
      Joined(k["a0"].inet) + " / " + Joined(k["a1"].inet) + " clients " +
          std::to_string(k.dhcp_clients.size()));
  script_.Shot("netrig-acquiring");
  script_.Run("dhcp-release");
  Reaches(L"Ipsetter - Updated", 30000, "server answers");
  const Kernel after = SettledKernel(BothLeased);
  r_.Check(after.Leased("a0") && after.Leased("a1"), "kernel after the server answered: both leased",
           Joined(after["a0"].inet) + " / " + Joined(after["a1"].inet));
  ExpectResolverFollowsLeases(r_, after, {}, "after the server answered");
  ExpectWindow(r_, app_, "server answered",
               {L"Ipsetter - Updated", WithLease(after, L"10.82.0.1|10.82.0.53|10.82.0.54"), 0, L"automatic",
                L"", kDhcpShown});
}

void Launch(const std::wstring& exe) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + exe + L"\"";
  if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

constexpr int kKeyboardClicks = 300;
constexpr int kWarmUpClicks = 50;

// Visible top-level windows of every process: a message box of the shell's would add one.
int VisibleWindows() {
  int count = 0;
  EnumWindows(
      [](HWND hwnd, LPARAM counter) CALLBACK -> BOOL {
        if (IsWindowVisible(hwnd))
          ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// Processes of the prefix with one of these names (case-insensitive): pid -> name.
std::map<DWORD, std::wstring> Keyboards() {
  std::map<DWORD, std::wstring> out;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e))
    if (_wcsicmp(e.szExeFile, L"osk.exe") == 0 || _wcsicmp(e.szExeFile, L"msswchx.exe") == 0)
      out[e.th32ProcessID] = e.szExeFile;
  CloseHandle(snap);
  return out;
}

// The image name of the process that started `pid` ("" when either is gone).
std::wstring ParentName(DWORD pid) {
  std::map<DWORD, PROCESSENTRY32W> all;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e))
    all[e.th32ProcessID] = e;
  CloseHandle(snap);
  const auto child = all.find(pid);
  if (child == all.end())
    return L"";
  const auto parent = all.find(child->second.th32ParentProcessID);
  return parent == all.end() ? L"" : parent->second.szExeFile;
}

// Handles and working set (KB) of a process. Wine answers GetProcessHandleCount, GetGuiResources and
// PrivateUsage with 0; it does list every handle with its owner (SystemHandleInformation).
struct Footprint {
  long long handles = -1;
  SIZE_T working_set_kb = 0;
  std::string Text() const {
    return std::to_string(handles) + " handles, " + std::to_string(working_set_kb) + " KB working set";
  }
};

Footprint FootprintOf(HANDLE process, DWORD pid) {
  struct Entry {
    USHORT pid, back_trace;
    UCHAR type, attributes;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  Footprint f;
  std::vector<char> buffer(4 << 20);
  ULONG size = 0;
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  if (NtQuerySystemInformation(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                               &size) == 0) {
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
    f.handles = std::count_if(entries, entries + count, [&](const Entry& e) { return e.pid == pid; });
  }
  PROCESS_MEMORY_COUNTERS memory{};
  if (K32GetProcessMemoryInfo(process, &memory, sizeof memory))
    f.working_set_kb = memory.WorkingSetSize / 1024;
  return f;
}

std::string Names(const std::map<DWORD, std::wstring>& procs) {
  std::string out;
  for (const auto& [pid, name] : procs)
    out += Utf8(name) + "(" + std::to_string(pid) + ") ";
  return out;
}

void Lane::Keyboard() {
  wchar_t sys[MAX_PATH];
  GetSystemDirectoryW(sys, MAX_PATH);
  const std::wstring log = L"C:\\netrig-keyboard.log";
  DeleteFileW(log.c_str());
  for (const wchar_t* name : {L"osk.exe", L"msswchx.exe"})
    Launch(std::wstring(sys) + L"\\" + name);
  WaitUntil([] { return Keyboards().size() == 2; }, 10000);
  const auto before = Keyboards();
  r_.Equal(static_cast<long long>(before.size()), 2, "keyboard: a keyboard and its companion run");
  app_.Click(kCmdKeyboard);
  WaitUntil(
      [&] {
        const auto now = Keyboards();
        return now.size() == 1 && !before.count(now.begin()->first);
      },
      10000);
  const auto first = Keyboards();
  r_.Check(first.size() == 1 && !before.count(first.begin()->first) &&
               _wcsicmp(first.begin()->second.c_str(), L"osk.exe") == 0,
           "keyboard click: both ended, one new osk.exe runs", Names(first));
  // Started by the desktop's shell, so at the desktop user's level: never by the elevated program.
  const std::wstring parent = first.empty() ? L"" : ParentName(first.begin()->first);
  r_.Check(_wcsicmp(parent.c_str(), L"explorer.exe") == 0, "keyboard: started by the desktop's shell",
           "parent " + Utf8(parent));
  app_.Click(kCmdKeyboard);
  WaitUntil([&] { return Keyboards().size() == 1 && !first.count(Keyboards().begin()->first); }, 10000);
  const auto second = Keyboards();
  r_.Check(second.size() == 1 && !first.count(second.begin()->first),
           "second click: the first ended, one new runs", Names(second));
  // Two started by us, one by each click; a new process writes its line a moment after it appears.
  std::string text;
  WaitUntil([&] { return ReadText(log, &text) && std::count(text.begin(), text.end(), '\n') == 4; }, 10000);
  const std::string want_tail = " " + Utf8(std::wstring(sys) + L"\\osk.exe") + "\n";
  r_.Check(text.size() >= want_tail.size() &&
               _stricmp(text.substr(text.size() - want_tail.size()).c_str(), want_tail.c_str()) == 0,
           "keyboard: the one started comes from System32", text);
  r_.Equal(app_.Title(), L"Ipsetter - Updated", "keyboard: title untouched");

  // Many clicks leave one keyboard and the program as it was: every COM object of the shell's road
  // released, no handle kept. The first clicks load what the road needs once (about 2 MB under
  // Wine); from then on nothing may grow.
  const Footprint start = FootprintOf(app_.process(), app_.pid());
  Footprint warm = start;
  DWORD last = second.empty() ? 0 : second.begin()->first;
  int one_each_time = 0;
  for (int i = 1; i <= kKeyboardClicks; ++i) {
    app_.Click(kCmdKeyboard);
    if (WaitUntil([&] { return Keyboards().size() == 1 && !Keyboards().count(last); }, 5000))
      ++one_each_time;
    const auto now = Keyboards();
    last = now.empty() ? 0 : now.begin()->first;
    if (i == kWarmUpClicks)
      warm = FootprintOf(app_.process(), app_.pid());
  }
  const Footprint end = FootprintOf(app_.process(), app_.pid());
  r_.Equal(one_each_time, kKeyboardClicks, "keyboard soak: one new keyboard after each click");
  r_.Line("keyboard soak: at the start " + start.Text() + "; after " + std::to_string(kWarmUpClicks) +
          " clicks " + warm.Text() + "; after " + std::to_string(kKeyboardClicks) + " " + end.Text());
  r_.Check(
      warm.handles > 0 && end.handles <= warm.handles + 2 && end.working_set_kb <= warm.working_set_kb + 256,
      "keyboard soak: handles and working set flat after the first " + std::to_string(kWarmUpClicks) +
          " clicks",
      end.Text());

  // No keyboard on this Windows: the click ends the running one and says nothing, no box of the
  // shell's either.
  const std::wstring osk = std::wstring(sys) + L"\\osk.exe", away = osk + L".away";
  const int windows_before = VisibleWindows();
  MoveFileW(osk.c_str(), away.c_str());
  app_.Click(kCmdKeyboard);
  Sleep(1500);
  const int windows_after = VisibleWindows();
  MoveFileW(away.c_str(), osk.c_str());
  r_.Check(Keyboards().empty() && windows_after == windows_before && app_.Title() == L"Ipsetter - Updated" &&
               app_.Text(kTxtStatus).empty() && Enables(app_) == kDhcpShown,
           "no osk.exe: the running keyboard ended, nothing started or shown, the window as it was",
           Names(Keyboards()) + std::to_string(windows_before) + " -> " + std::to_string(windows_after) +
               " visible windows, " + Enables(app_));
  app_.Click(kCmdKeyboard);  // the lanes after this one close with a keyboard running
  WaitUntil([] { return Keyboards().size() == 1; }, 10000);
}

void Lane::ProviderFaults() {
  // The boxes were emptied before the service was asked; the error ends the Refresh. Codes the
  // program does not name take the system's text, else a plain one.
  static const struct {
    const char* answer;
    const wchar_t* status;
  } kRefreshFaults[] = {
      {"garbage", L"Provider failure (0x80041004)"},
      {"hresult:0x80070057", L"Invalid parameter (0x80070057)"},
      {"hresult:0x800704C7", L"Operation canceled by user (0x800704C7)"},
      {"hresult:0x80041099", L"Management service error (0x80041099)"},
  };
  for (const auto& row : kRefreshFaults) {
    script_.Run(std::string(R"(agent {"op":"fault","on":"adapters","answer":")") + row.answer + R"("})");
    app_.Click(kCmdRefresh);
    ExpectWindow(r_, app_, std::string("Refresh, the agent answers ") + row.answer,
                 {L"Ipsetter - Error", L"||||", 0, L"automatic", row.status, kDhcpShown});
  }
  app_.Click(kCmdRefresh);
  Reaches(L"Ipsetter", 5000, "Refresh after the fault");
  const Kernel k = ReadKernel();
  r_.Equal(Boxes(app_), WithLease(k, L"10.82.0.1|10.82.0.53|10.82.0.54"),
           "Refresh after the fault: boxes back");

  app_.Click(kChkStatic);
  TypeStatic(kStaticIp, kStaticGw, L"", L"");
  script_.Run(R"(agent {"op":"fault","on":"method","answer":"hresult:0x80041001"})");
  Mark();
  app_.Click(kCmdApply);
  r_.Equal(app_.Title(), L"Ipsetter - Error", "Apply, the first method fails: title");
  r_.Equal(app_.Text(kTxtStatus), L"Generic failure (0x80041001)", "Apply, the first method fails: status");
  r_.Check(Enables(app_) == kAllOn, std::string("Apply, the first method fails: usable ") + kAllOn,
           Enables(app_));
  r_.Calls(
      MethodsSinceMark(),
      {"EnableStatic #" + Idx("a0") +
       R"( IPAddress:VT_ARRAY|VT_BSTR=["10.80.5.5"] SubnetMask:VT_ARRAY|VT_BSTR=["255.255.255.0"] -> 0x80041001)"},
      "provider record: nothing runs after the failed call");
  const Kernel after = ReadKernel();
  r_.Check(after.Leased("a0") && after.Leased("a1"), "kernel: the failed Apply changed nothing",
           Joined(after["a0"].inet) + " / " + Joined(after["a1"].inet));
}

std::vector<std::string> Lane::QueriesAndMethodsSinceMark() const {
  std::vector<std::string> out;
  for (const json& j : RecordSinceMark()) {
    const std::string call = j.value("call", "");
    if (call == "ExecQuery") {
      out.push_back("ExecQuery " + j.value("query", ""));
    } else if (call == "ExecMethod") {
      const std::string path = j.value("path", "");
      const bool returned = j.contains("ReturnValue") && !j["ReturnValue"].is_null();
      out.push_back(j.value("method", "?") + " #" + path.substr(path.rfind('=') + 1) + " -> " +
                    (returned ? j["ReturnValue"].dump() : j.value("hr", "?")));
    }
  }
  return out;
}

long long Lane::WaitedMs(const std::string& method) const {
  for (const json& j : RecordSinceMark())
    if (j.value("call", "") == "agent" && j.value("method", "") == method)
      return j.value("waited_ms", -1LL);
  return -1;
}

bool Lane::Answered(const std::string& method) const {
  const auto lines = RecordSinceMark();
  return std::any_of(lines.begin(), lines.end(), [&](const json& j) {
    return j.value("call", "") == "ExecMethod" && j.value("method", "") == method;
  });
}

std::string Lane::MethodsInShort() const {
  static const std::map<std::string, std::string> kShort{{"EnableStatic", "ES"},
                                                         {"SetGateways", "SG"},
                                                         {"SetDNSServerSearchOrder", "DNS"},
                                                         {"EnableDHCP", "DHCP"}};
  std::string out, adapter;
  for (const json& j : RecordSinceMark()) {
    if (j.value("call", "") != "ExecMethod")
      continue;
    const std::string path = j.value("path", "");
    const std::string index = path.substr(path.rfind('=') + 1);
    std::string name = "#" + index;
    for (const auto& [link, l] : kernel_.links)
      if (std::to_string(l.index) == index)
        name = link;
    if (name != adapter)
      out += (out.empty() ? "" : "; ") + name;
    adapter = name;
    const auto method = kShort.find(j.value("method", ""));
    const bool returned = j.contains("ReturnValue") && !j["ReturnValue"].is_null();
    out += " " + (method == kShort.end() ? j.value("method", "?") : method->second) + "=" +
           (returned ? j["ReturnValue"].dump() : j.value("hr", "?"));
  }
  return out;
}

// A service that breaks its own schema: each property read in another VARIANT type than the class
// gives it. What the window can use it shows; anything else ends the Refresh as a type mismatch.
void Lane::WronglyTyped() {
  static const struct {
    const char* property;
    const char* vt;
    const char* value;
    const wchar_t* boxes;  // what the Refresh shows; null: the mismatch; "LEASE|": a1's lease first
  } kRows[] = {
      {"DHCPEnabled", "VT_I1", "1", nullptr},
      {"DHCPEnabled", "VT_UI1", "1", nullptr},
      {"DHCPEnabled", "VT_I2", "1", nullptr},
      {"DHCPEnabled", "VT_UI2", "1", nullptr},
      {"DHCPEnabled", "VT_I4", "1", nullptr},
      {"DHCPEnabled", "VT_UI4", "1", nullptr},
      {"DHCPEnabled", "VT_INT", "1", nullptr},
      {"DHCPEnabled", "VT_UINT", "1", nullptr},
      {"DHCPEnabled", "VT_I8", "1", nullptr},
      {"DHCPEnabled", "VT_UI8", "1", nullptr},
      {"DHCPEnabled", "VT_UI8", "1e19", nullptr},  // beyond a signed 64-bit number
      {"DHCPEnabled", "VT_R4", "1", nullptr},
      {"DHCPEnabled", "VT_R8", "1", nullptr},
      {"DHCPEnabled", "VT_BSTR", R"("TRUE")", nullptr},
      {"DHCPEnabled", "VT_DATE", "1", nullptr},
      {"IPAddress", "VT_BSTR", R"("10.81.0.200")", nullptr},
      {"IPAddress", "VT_ARRAY|VT_BOOL", "[true]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_I1", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_UI1", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_I2", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_UI2", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_I4", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_UI4", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_INT", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_UINT", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_I8", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_UI8", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_R4", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_R8", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_CY", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_VARIANT", "[10]", nullptr},
      {"IPAddress", "VT_ARRAY|VT_VARIANT", R"(["fd00::5","10.81.0.200"])",
       L"10.81.0.200|255.255.255.0|10.82.0.1|10.82.0.53|10.82.0.54"},
      {"DNSServerSearchOrder", "VT_ARRAY|VT_BSTR", "[]", L"LEASE|10.82.0.1||"},
  };
  // From a window that shows what is in force: a failed Refresh leaves the Static box as it was.
  app_.Click(kCmdRefresh);
  Reaches(L"Ipsetter", 5000, "Refresh before the wrongly typed properties");
  const Kernel k = ReadKernel();
  for (const auto& row : kRows) {
    const std::string what = std::string("Refresh, ") + row.property + " as " + row.vt + " " + row.value;
    // A Refresh that reads ends with one poll, which reads again: a usable value is given to both.
    script_.Run(std::string(R"(agent {"op":"fault","on":"adapters","count":)") + (row.boxes ? "2" : "1") +
                R"(,"answer":{"name":")" + row.property + R"(","vt":")" + row.vt + R"(","value":)" + row.value +
                "}}");
    app_.Click(kCmdRefresh);
    if (!row.boxes) {
      ExpectWindow(r_, app_, what,
                   {L"Ipsetter - Error", L"||||", 0, L"automatic", L"Type mismatch (0x80041005)", kDhcpShown});
    } else {
      app_.WaitTitle(L"Ipsetter", 5000);  // after the Refresh's one poll
      const std::wstring boxes = row.boxes;
      const std::wstring lease = L"LEASE|";
      ExpectWindow(r_, app_, what,
                   {L"Ipsetter",
                    boxes.rfind(lease, 0) == 0 ? WithLease(k, boxes.substr(lease.size())) : boxes, 0,
                    L"automatic", L"", kDhcpShown});
    }
  }
  app_.Click(kCmdRefresh);
  Reaches(L"Ipsetter", 5000, "Refresh after the wrongly typed properties");
}

// Each configuration method failing on the last adapter and on an earlier one. Only the last
// adapter's results count; a failed static change falls back to DHCP; a failed DHCP change ends in
// "Ipsetter - Error". The rows run in order: each starts from where the one before left the adapters
// (DHCP Apply needs a static window). The agent's "return:N" changes nothing on its adapter.
void Lane::MethodFaults() {
  static const struct {
    const char* name;
    bool static_apply;
    std::vector<const char*> faults;  // method@adapter=answer
    const wchar_t* status;
    const wchar_t* title;
    const char* calls;
  } kRows[] = {
      {"SetGateways fails on the last adapter, a code without text", true, {"SetGateways@a1=2"},
       L" - Trying DHCP ..", L"Ipsetter - Updated",
       "a0 ES=0 SG=0 DNS=0; a1 ES=0 SG=2 DNS=0; a0 DHCP=0 DNS=0; a1 DHCP=0 DNS=0"},
      {"SetDNSServerSearchOrder fails on the last adapter", true, {"SetDNSServerSearchOrder@a1=70"},
       L"Invalid DNS Address - Trying DHCP ..", L"Ipsetter - Updated",
       "a0 ES=0 SG=0 DNS=0; a1 ES=0 SG=0 DNS=70; a0 DHCP=0 DNS=0; a1 DHCP=0 DNS=0"},
      {"SetDNSServerSearchOrder fails on the last adapter, another code", true, {"SetDNSServerSearchOrder@a1=68"},
       L"Invalid Input - Trying DHCP ..", L"Ipsetter - Updated",
       "a0 ES=0 SG=0 DNS=0; a1 ES=0 SG=0 DNS=68; a0 DHCP=0 DNS=0; a1 DHCP=0 DNS=0"},
      {"SetGateways fails on an earlier adapter", true, {"SetGateways@a0=71"}, L"", L"Ipsetter - Updated",
       "a0 ES=0 SG=71 DNS=0; a1 ES=0 SG=0 DNS=0"},
      {"SetDNSServerSearchOrder (DHCP) fails on an earlier adapter", false, {"SetDNSServerSearchOrder@a0=70"},
       L"", L"Ipsetter - Updated", "a0 DHCP=0 DNS=70; a1 DHCP=0 DNS=0"},
      {"EnableStatic fails on an earlier adapter", true, {"EnableStatic@a0=66"}, L"", L"Ipsetter - Updated",
       "a0 ES=66 SG=64 DNS=0; a1 ES=0 SG=0 DNS=0"},
      {"EnableDHCP fails on an earlier adapter", false, {"EnableDHCP@a0=81"}, L"", L"Ipsetter - Updated",
       "a0 DHCP=81 DNS=0; a1 DHCP=0 DNS=0"},
      {"SetDNSServerSearchOrder (static) fails on an earlier adapter", true, {"SetDNSServerSearchOrder@a0=70"},
       L"", L"Ipsetter - Updated", "a0 ES=0 SG=0 DNS=70; a1 ES=0 SG=0 DNS=0"},
      {"EnableDHCP fails on the last adapter", false, {"EnableDHCP@a1=81"}, L"Unable to Configure DHCP",
       L"Ipsetter - Error", "a0 DHCP=0 DNS=0; a1 DHCP=81 DNS=0"},
      {"SetDNSServerSearchOrder (DHCP) fails on the last adapter", false, {"SetDNSServerSearchOrder@a1=70"},
       L"Invalid IP address", L"Ipsetter - Error", "a0 DHCP=0 DNS=0; a1 DHCP=0 DNS=70"},
      {"EnableStatic and its fallback fail on the last adapter", true, {"EnableStatic@a1=66", "EnableDHCP@a1=100"},
       L"DHCP Not Enabled On Adapter", L"Ipsetter - Error",
       "a0 ES=0 SG=0 DNS=0; a1 ES=66 SG=64 DNS=0; a0 DHCP=0 DNS=0; a1 DHCP=100 DNS=0"},
      {"EnableStatic answers no ReturnValue", true, {"EnableStatic@a0=null"}, L"Type mismatch (0x80041005)",
       L"Ipsetter - Error", "a0 ES=0x00000000"},
  };
  for (const auto& row : kRows) {
    const std::string what = std::string(row.static_apply ? "static" : "DHCP") + " Apply, " + row.name;
    app_.Click(kCmdRefresh);
    if (!app_.WaitTitle(L"Ipsetter", 5000))
      r_.Check(false, what + ": Refresh before", Utf8(app_.Title()));
    if ((app_.CheckState(kChkStatic) == BST_CHECKED) != row.static_apply)
      app_.Click(kChkStatic);
    if (row.static_apply)
      TypeStatic(kStaticIp, kStaticGw, kStaticDns1, kStaticDns2);
    for (const std::string fault : row.faults) {
      const size_t at = fault.find('@'), eq = fault.find('=');
      script_.Run(R"(agent {"op":"fault","on":")" + fault.substr(0, at) + R"(","adapter":")" +
                  fault.substr(at + 1, eq - at - 1) + R"(","answer":"return:)" + fault.substr(eq + 1) + R"("})");
    }
    Mark();
    r_.Check(app_.Enabled(kCmdApply) && app_.Click(kCmdApply), what + ": Apply clicked", Enables(app_));
    // Read as the click returns: the monitor's later polls may fall back again, and "Updated" clears
    // the status line.
    const std::string calls = MethodsInShort();
    r_.Equal(app_.Text(kTxtStatus), row.status, what + ": status");
    r_.Check(calls == row.calls, what + ": the calls and their results", "got " + calls + "\n    want " + row.calls);
    if (!app_.WaitTitle(row.title, 30000)) {
      r_.Check(false, what + ": title \"" + Utf8(row.title) + "\"", Utf8(app_.Title()));
      PrintRecordSinceMark(what);
    }
  }
  app_.Click(kCmdRefresh);
  const Kernel k = SettledKernel(BothLeased);
  r_.Check(k.Leased("a0") && k.Leased("a1"), "kernel after the method faults: both adapters on DHCP, leased",
           Joined(k["a0"].inet) + " / " + Joined(k["a1"].inet));
}

// Keyboards the program cannot end (Terminate failing, an id it cannot read) run on, silently, and
// a new one starts; the next click ends them all. A selection without its key: the id is read from
// the path.
void Lane::TerminateFails() {
  const struct {
    const char* on;
    const char* answer;
    bool ends;
    const char* reads;
  } rows[] = {
      {"Terminate", R"("return:2")", false, "Handle=0x00000000"},
      {"Terminate", R"("hresult:0x80041001")", false, "Handle=0x00000000"},
      {"processes", R"({"name":"Handle","vt":"VT_BSTR","value":""})", false, "Handle=0x00000000"},
      {"processes", R"({"name":"Handle","vt":"VT_BSTR","value":"12x"})", false, "Handle=0x00000000"},
      {"processes", R"({"name":"Handle","vt":"VT_BSTR","value":"4294967296"})", false, "Handle=0x00000000"},
      {"processes", R"({"name":"Handle","vt":"VT_I4","value":1234})", false,
       "Handle=0x00000000 __RELPATH=0x00000000"},
      {"processes", R"({"keys":false})", true, "Handle=0x80041002 __RELPATH=0x00000000"},
  };
  for (const auto& row : rows) {
    const std::string what = std::string(row.on) + " " + row.answer;
    const auto before = Keyboards();
    script_.Run(std::string(R"(agent {"op":"fault","on":")") + row.on + R"(","answer":)" + row.answer + "}");
    const std::wstring title = app_.Title(), status = app_.Text(kTxtStatus);
    Mark();
    app_.Click(kCmdKeyboard);
    const size_t want = row.ends ? 1 : 2;
    const DWORD old = before.empty() ? 0 : before.begin()->first;
    auto as_wanted = [&](const std::map<DWORD, std::wstring>& k) {
      return k.size() == want && (k.count(old) == 0) == row.ends;
    };
    WaitUntil([&] { return as_wanted(Keyboards()); }, 10000);
    const auto after = Keyboards();
    const std::string outcome = row.ends ? ": the keyboard ended" : ": the keyboard runs on";
    r_.Check(before.size() == 1 && as_wanted(after) && app_.Title() == title && app_.Text(kTxtStatus) == status,
             what + outcome + ", a new one starts, nothing said",
             Names(before) + " -> " + Names(after) + ", title \"" + Utf8(app_.Title()) + "\"");
    const std::string reads = ProcessReadsSinceMark();
    // Each object's class and path are read as it is wrapped.
    r_.Check(reads == std::string("__CLASS=0x00000000 __PATH=0x00000000 ") + row.reads,
             what + ": properties read", reads);
    if (row.ends)
      continue;
    app_.Click(kCmdKeyboard);
    WaitUntil([&] { return Keyboards().size() == 1 && !after.count(Keyboards().begin()->first); }, 10000);
    const auto next = Keyboards();
    r_.Check(next.size() == 1 && !after.count(next.begin()->first), what + ": the next click ends both, starts one",
             Names(after) + " -> " + Names(next));
  }
}

const char kReadQuery[] =
    "ExecQuery Select IPAddress, IPSubnet, DNSServerSearchOrder, DefaultIPGateway, DHCPEnabled from "
    "Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
const char kChangeQuery[] = "ExecQuery Select * from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";

// EnableStatic answers 81 on a1, which is on DHCP: a failure like any other, reported, and the
// fallback runs. (SetGateways answers 64 there, DHCP mode: the static result is the one reported.)
void Lane::StaticEightyOneOnDhcp() {
  app_.Click(kCmdRefresh);
  Reaches(L"Ipsetter", 5000, "Refresh before 81 on a DHCP adapter");
  app_.Click(kChkStatic);
  TypeStatic(kStaticIp, kStaticGw, L"", L"");
  script_.Run(R"(agent {"op":"fault","on":"EnableStatic","adapter":"a1","answer":"return:81"})");
  Mark();
  app_.Click(kCmdApply);
  r_.Equal(app_.Text(kTxtStatus), L"Unable to Configure DHCP - Trying DHCP ..",
           "81 on DHCP adapter a1: status");
  std::vector<std::string> want = StaticCalls(Idx("a0"), "10.80.5.5", "0", "");
  want.push_back(
      "EnableStatic #" + Idx("a1") +
      R"( IPAddress:VT_ARRAY|VT_BSTR=["10.80.5.5"] SubnetMask:VT_ARRAY|VT_BSTR=["255.255.255.0"] -> 81)");
  want.push_back(
      "SetGateways #" + Idx("a1") +
      R"( DefaultIPGateway:VT_ARRAY|VT_BSTR=["10.80.5.1"] GatewayCostMetric:VT_ARRAY|VT_I4=[1] -> 64)");
  want.push_back("SetDNSServerSearchOrder #" + Idx("a1") + " -> 0");
  for (const char* a : {"a0", "a1"}) {
    want.push_back("EnableDHCP #" + Idx(a) + " (no in-parameters) -> 0");
    want.push_back("SetDNSServerSearchOrder #" + Idx(a) + " -> 0");
  }
  r_.Calls(MethodsSinceMark(), want,
           "provider record of 81 on a DHCP adapter: the static calls, then the fallback");
  Reaches(L"Ipsetter - Updated", 20000, "81 on a DHCP adapter, fallback");
  const Kernel k = SettledKernel(BothLeased);
  r_.Check(k.Leased("a0") && k.Leased("a1") && k.dhcp_clients == std::set<std::string>{"a0", "a1"},
           "kernel after 81 on a DHCP adapter: both back on DHCP with a lease",
           Joined(k["a0"].inet) + " / " + Joined(k["a1"].inet));
  ExpectResolverFollowsLeases(r_, k, {}, "after 81 on a DHCP adapter");
  ExpectWindow(r_, app_, "81 on a DHCP adapter, after the lease",
               {L"Ipsetter - Updated", WithLease(k, L"10.82.0.1|10.82.0.53|10.82.0.54"), 0, L"automatic", L"",
                kUntickedStatic});
}

// Sent from here, a message reaches the window while its thread waits in the provider's modal loop.
bool SendToWindow(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR unused = 0;
  return SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_NORMAL, 1000, &unused) != 0;
}

// The agent holds a0's EnableStatic 3 s. Windows' modal loop may dispatch ticks, clicks and paints
// meanwhile; Wine's dispatches sent messages and paints only, so what Windows could dispatch from the
// queue is sent here.
void Lane::HeldApply() {
  app_.Click(kChkStatic);
  TypeStatic(kStaticIp, kStaticGw, L"", L"");
  script_.Run(R"(agent {"op":"fault","on":"EnableStatic","adapter":"a0","answer":"hold:3"})");
  Mark();
  const DWORD t0 = GetTickCount();
  app_.PostClick(kCmdApply);
  std::vector<std::wstring> titles;
  // From the Apply's first title on: before the posted click runs, the previous title still shows.
  auto sample_title = [&] {
    const std::wstring t = app_.Title();
    if ((titles.empty() && t == L"Ipsetter - Processing ..") || (!titles.empty() && titles.back() != t))
      titles.push_back(t);
    return t;
  };
  WaitUntil([&] { return sample_title() == L"Ipsetter - Processing .."; }, 3000);
  Sleep(100);

  // A repaint: the invalidated window and its status line are validated only by painting them.
  const HWND status = app_.Ctl(kTxtStatus);
  const bool invalidated =
      RedrawWindow(app_.window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN) != FALSE;
  const bool painted = WaitUntil(
      [&] { return !GetUpdateRect(app_.window(), nullptr, FALSE) && !GetUpdateRect(status, nullptr, FALSE); },
      800);
  const DWORD painted_at = GetTickCount() - t0;
  const bool still_held = !Answered("EnableStatic");
  r_.Check(invalidated && painted && still_held,
           "held Apply: the window repaints while EnableStatic waits (" + std::to_string(painted_at) + " ms)",
           std::string("invalidated ") + (invalidated ? "yes" : "no") + ", painted " +
               (painted ? "yes" : "no") + ", EnableStatic answered already: " + (still_held ? "no" : "yes"));
  script_.Shot("netrig-held-apply");

  // Ticks as Windows' loop could dispatch them, and a click on Refresh in two forms: the button's
  // own, and the notification a click queued before the lock would bring.
  const HWND refresh = app_.Ctl(kCmdRefresh);
  r_.Check(!app_.Enabled(kCmdRefresh), "held Apply: Refresh is locked during the wait");
  const bool clicked = SendToWindow(refresh, BM_CLICK, 0, 0) &&
                       SendToWindow(app_.window(), WM_COMMAND, MAKEWPARAM(kCmdRefresh, BN_CLICKED),
                                    reinterpret_cast<LPARAM>(refresh));
  int ticks = 0;
  // Within the hold, with a second to spare: the screenshot before may take a while on a busy machine.
  while (GetTickCount() - t0 < 2000 && !Answered("EnableStatic")) {
    ticks += SendToWindow(app_.window(), WM_TIMER, kTimer1Id, 0) ? 1 : 0;
    sample_title();
    Sleep(150);
  }
  const bool ticks_in_hold = !Answered("EnableStatic");
  r_.Check(clicked && ticks >= 4 && ticks_in_hold,
           "held Apply: the window took " + std::to_string(ticks) +
               " ticks and both Refresh clicks during the wait",
           std::string("clicks delivered: ") + (clicked ? "yes" : "no"));
  WaitUntil([&] { return sample_title() == L"Ipsetter - Updated"; }, 10000);
  const DWORD done = GetTickCount() - t0;
  std::string seen;
  for (const auto& t : titles)
    seen += " -> \"" + Utf8(t) + "\"";
  r_.Check(titles == std::vector<std::wstring>{L"Ipsetter - Processing ..", L"Ipsetter - Updated"},
           "held Apply: titles \"Ipsetter - Processing ..\" -> \"Ipsetter - Updated\" only (" +
               std::to_string(done) + " ms)",
           "seen" + seen);
  const long long waited = WaitedMs("EnableStatic");
  r_.Check(waited >= 2900, "held Apply: the provider's caller waited 3 s for EnableStatic",
           std::to_string(waited) + " ms");
  // Neither the ticks nor the clicks ran anything: the settle read and one poll come after the Apply's
  // last call, and no Refresh read follows.
  std::vector<std::string> want = {kChangeQuery};
  for (const char* a : {"a0", "a1"})
    for (const char* m : {"EnableStatic", "SetGateways", "SetDNSServerSearchOrder"})
      want.push_back(std::string(m) + " #" + Idx(a) + " -> 0");  // both were on DHCP: no 81
  want.push_back(kReadQuery);
  want.push_back(kReadQuery);
  Sleep(700);
  r_.Calls(QueriesAndMethodsSinceMark(), want, "held Apply: provider record, settle and poll after the wait");
  PrintRecordSinceMark("an Apply whose EnableStatic the agent held 3 s");
  ExpectWindow(r_, app_, "held Apply done",
               {L"Ipsetter - Updated", L"10.80.5.5|255.255.255.0|10.80.5.1||", 1, L"", L"", kAllOn});
}

// A close through the frame while EnableStatic waits: the program ends once the Apply has ended.
void Lane::HeldApplyClosed() {
  r_.Check(!Keyboards().empty(), "held close: a keyboard runs before", Names(Keyboards()));
  TypeStatic(L"10.80.5.6", kStaticGw, L"", L"");
  script_.Run(R"(agent {"op":"fault","on":"EnableStatic","adapter":"a0","answer":"hold:3"})");
  Mark();
  const DWORD t0 = GetTickCount();
  app_.PostClick(kCmdApply);
  app_.WaitTitle(L"Ipsetter - Processing ..", 3000);
  Sleep(300);
  const bool sent = SendToWindow(app_.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  const bool waits = IsWindow(app_.window()) && app_.Running() && !Answered("EnableStatic");
  r_.Check(sent && waits, "held close: the close arrives during the wait and the window stays for now");
  DWORD code = 1;
  const bool ended = app_.WaitExit(10000, &code);
  const DWORD elapsed = GetTickCount() - t0;
  r_.Check(ended && code == 0 && elapsed >= 2000,
           "held close: the program ends after the Apply (" + std::to_string(elapsed) + " ms), exit code 0",
           "ended " + std::string(ended ? "yes" : "no") + ", code " + std::to_string(code));
  std::vector<std::string> methods = MethodsSinceMark();
  std::vector<std::string> want;
  for (const char* a : {"a0", "a1"})
    Append(want, StaticCalls(Idx(a), "10.80.5.6", "81", ""));
  const size_t static_calls = want.size();
  r_.Calls(
      std::vector<std::string>(methods.begin(), methods.begin() + std::min(methods.size(), static_calls)),
      want, "held close: every call of the Apply made");
  const bool terminated = methods.size() > static_calls &&
                          std::all_of(methods.begin() + static_cast<long>(static_calls), methods.end(),
                                      [](const std::string& m) { return m.rfind("Terminate #", 0) == 0; });
  r_.Check(terminated, "held close: then the keyboard ended at unload, nothing else",
           Joined(std::vector<std::string>(
               methods.begin() + static_cast<long>(std::min(methods.size(), static_calls)), methods.end())));
  WaitUntil([] { return Keyboards().empty(); }, 5000);
  r_.Check(Keyboards().empty(), "held close: no keyboard process left", Names(Keyboards()));
  PrintRecordSinceMark("a close through the frame during a held Apply");
}

void Lane::Main() {
  r_.Line("== netrig main: two adapters, a DHCP server");
  if (!Start())
    return;
  Load();
  ApplyStatic();
  ChangeStatic();
  RejectedAddress();
  NoGateway();
  ClearedBoxWhileServerHolds();
  Keyboard();
  ProviderFaults();
  TerminateFails();
  WronglyTyped();
  MethodFaults();
  StaticEightyOneOnDhcp();
  HeldApply();
  HeldApplyClosed();
}

// Every control's place in the window's client area.
std::map<int, RECT> ControlRects(HWND window) {
  std::map<int, RECT> rects;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    rects[GetDlgCtrlID(child)] = r;
  }
  return rects;
}

// Whether each rectangle of `at` is that of `base` scaled by num/den, within a pixel of rounding.
bool Scaled(const std::map<int, RECT>& base, const std::map<int, RECT>& at, int num, int den, std::string* why) {
  // The labels for screen readers come at the first idle moment: only the controls of `base` count.
  bool ok = base.size() >= 15;
  if (!ok)
    *why += std::to_string(base.size()) + " controls;";
  for (const auto& [id, b] : base) {
    const auto found = at.find(id);
    if (found == at.end()) {
      *why += " control " + std::to_string(id) + " gone;";
      return false;
    }
    const RECT& a = found->second;
    const LONG want[] = {b.left * num / den, b.top * num / den, b.right * num / den, b.bottom * num / den};
    const LONG got[] = {a.left, a.top, a.right, a.bottom};
    for (int i = 0; i < 4; ++i) {
      if (std::abs(got[i] - want[i]) > 1) {
        ok = false;
        *why += " control " + std::to_string(id) + " edge " + std::to_string(i) + ": " + std::to_string(got[i]) +
                " for " + std::to_string(want[i]) + ";";
      }
    }
  }
  return ok;
}

// WM_DPICHANGED carries a pointer: the rectangle is put at one address in both processes, so that
// it holds whether or not Wine copies the message's data across.
bool SendDpiChange(HWND window, DWORD pid, int from_dpi, int dpi) {
  RECT suggested{};
  GetWindowRect(window, &suggested);
  suggested.right = suggested.left + (suggested.right - suggested.left) * dpi / from_dpi;
  suggested.bottom = suggested.top + (suggested.bottom - suggested.top) * dpi / from_dpi;
  const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  if (!process)
    return false;
  std::vector<void*> ours;
  void* shared = nullptr;
  for (int attempt = 0; attempt < 32 && !shared; ++attempt) {
    void* local = VirtualAlloc(nullptr, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!local)
      break;
    ours.push_back(local);
    if (VirtualAllocEx(process, local, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) == local)
      shared = local;
  }
  bool sent = false;
  if (shared) {
    *static_cast<RECT*>(shared) = suggested;
    WriteProcessMemory(process, shared, &suggested, sizeof suggested, nullptr);
    DWORD_PTR unused = 0;
    sent = SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(shared),
                               SMTO_NORMAL, 5000, &unused) != 0;
    VirtualFreeEx(process, shared, 0, MEM_RELEASE);
  }
  for (void* p : ours)
    VirtualFree(p, 0, MEM_RELEASE);
  CloseHandle(process);
  return sent;
}

// A plain window of the driver's own, with its own message loop, for the focus to go to and come
// back from.
class OtherWindow {
 public:
  OtherWindow() {
    thread_ = CreateThread(nullptr, 0, &OtherWindow::Run, this, 0, nullptr);
    WaitUntil([&] { return hwnd_ != nullptr; }, 5000);
  }
  ~OtherWindow() {
    if (hwnd_)
      PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
  }
  HWND hwnd() const { return hwnd_; }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* me = static_cast<OtherWindow*>(self);
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) CALLBACK -> LRESULT {
      if (m == WM_DESTROY)
        PostQuitMessage(0);
      return DefWindowProcW(h, m, w, l);
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NetrigOtherWindow";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&wc);
    HWND h = CreateWindowExW(0, wc.lpszClassName, L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                             120, nullptr, nullptr, wc.hInstance, nullptr);
    me->hwnd_ = h;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return 0;
  }
  HANDLE thread_ = nullptr;
  HWND volatile hwnd_ = nullptr;
};

void Click(Script& script, int x, int y) {
  script.Run("xdo mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

// This lane's prefix has 144 DPI. The user's keys drive it: Tab order, the focus coming back after
// another window was active, space and the access keys.
void Lane::KeysAt144Dpi() {
  r_.Check(WaitUntil([&] { return app_.FocusId() == kTxtIp; }, 2000),
           "144 DPI: after start the focus is on the address box", app_.FocusInfo());
  start_rects_ = ControlRects(app_.window());
  RECT client{};
  GetClientRect(app_.window(), &client);
  r_.Line("client area at 144 DPI: " + std::to_string(client.right) + " x " + std::to_string(client.bottom));
  script_.Shot("netrig-144dpi-start");
  TabCycle(r_, script_, app_,
           {kTxtSubnet, kTxtGateway, kTxtDns1, kTxtDns2, kChkStatic, kCmdApply, kCmdRefresh, kCmdExit, kCmdKeyboard,
            kTxtOver, kTxtIp, kTxtSubnet, kTxtGateway, kTxtDns1, kTxtDns2, kChkStatic},
           "real exe: Tab order, all on, round to the Static box");
  {
    OtherWindow other;
    Click(script_, 100, 60);
    r_.Check(WaitUntil([&] { return GetForegroundWindow() == other.hwnd(); }, 3000),
             "another program's window clicked: it is active", app_.FocusInfo());
    RECT frame{};
    GetWindowRect(app_.window(), &frame);
    Click(script_, (frame.left + frame.right) / 2, frame.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2);
    r_.Check(WaitUntil([&] { return GetForegroundWindow() == app_.window() && app_.FocusId() == kChkStatic; }, 3000),
             "the window's title bar clicked: active again, the focus back on the Static box", app_.FocusInfo());
  }
  script_.Keys("space");
  r_.Check(WaitUntil([&] { return app_.CheckState(kChkStatic) == BST_UNCHECKED; }, 3000) &&
               Enables(app_) == kUntickedStatic,
           std::string("space clears the Static box: ") + kUntickedStatic, Enables(app_));
}

// After the time-out: a DPI change at run time (to 96 and back) and a colour change.
void Lane::DpiAndColourChanges() {
  if (!SendDpiChange(app_.window(), app_.pid(), 144, 96)) {
    r_.Check(false, "WM_DPICHANGED to 96 sent");
    return;
  }
  std::string why;
  const auto at96 = ControlRects(app_.window());
  r_.Check(Scaled(start_rects_, at96, 96, 144, &why), "WM_DPICHANGED to 96: every control at 2/3 of its place",
           why);
  RECT client{};
  GetClientRect(app_.window(), &client);
  r_.Line("client area after the change to 96 DPI: " + std::to_string(client.right) + " x " +
          std::to_string(client.bottom));
  script_.Shot("netrig-96dpi-after-change");
  SendDpiChange(app_.window(), app_.pid(), 96, 144);
  why.clear();
  r_.Check(Scaled(start_rects_, ControlRects(app_.window()), 1, 1, &why),
           "WM_DPICHANGED back to 144: every control where it started", why);
  script_.Shot("netrig-144dpi-after-change");
  // Wine cannot turn high contrast on (SPI_SETHIGHCONTRAST fails): the change road runs with "off".
  DWORD_PTR unused = 0;
  const bool answered =
      SendMessageTimeoutW(app_.window(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0, SMTO_NORMAL, 5000, &unused) &&
      SendMessageTimeoutW(app_.window(), WM_SYSCOLORCHANGE, 0, 0, SMTO_NORMAL, 5000, &unused);
  r_.Check(answered && app_.Title() == L"Ipsetter - Timed Out!" && Enables(app_) == kDhcpShown,
           "a colour and contrast change: answered, the window as it was", Enables(app_));
}

void Lane::Timeout() {
  r_.Line("== netrig timeout: the DHCP server is down");
  if (!Start())
    return;
  ExpectWindow(r_, app_, "load (a0 static)",
               {L"Ipsetter", L"10.83.0.20|255.255.255.0|10.83.0.1|10.83.0.1|", 1, L"", L"", kAllOn});
  KeysAt144Dpi();
  const DWORD t0 = GetTickCount();
  script_.Keys("alt+a");
  Reaches(L"Ipsetter - Acquiring ..", 5000, "Alt+A with the box cleared, no server");
  const bool timed_out = app_.WaitTitle(L"Ipsetter - Timed Out!", 150000);
  const DWORD elapsed = GetTickCount() - t0;
  r_.Check(timed_out && elapsed >= 105000, "\"Ipsetter - Timed Out!\" after 350 ticks, no earlier than 105 s",
           std::to_string(elapsed) + " ms, title \"" + Utf8(app_.Title()) + "\"");
  r_.Line("time-out after " + std::to_string(elapsed) + " ms");
  // The title comes before the tick's re-read, which waits on the service while the window answers.
  WaitUntil([&] { return Enables(app_) == kDhcpShown; }, 3000);
  ExpectWindow(r_, app_, "timed out",
               {L"Ipsetter - Timed Out!", L"0.0.0.0|0.0.0.0|10.83.0.1||", 0, L"automatic", L"", kDhcpShown});
  const Kernel k = ReadKernel();
  r_.Check(k["a0"].inet.empty() && k.dhcp_clients == std::set<std::string>{"a0"},
           "kernel: no IPv4 address, the DHCP client still asks", Joined(k["a0"].inet));
  Sleep(1000);
  r_.Equal(app_.Title(), L"Ipsetter - Timed Out!", "a second later: still timed out (the monitor stopped)");
  DpiAndColourChanges();
  script_.Keys("alt+c");
  r_.Check(app_.WaitExit(10000), "Alt+C ends the process");
  EndSession();
}

// Logging off ends the program like a close: its keyboard goes with it, nothing is left waiting.
void Lane::EndSession() {
  if (!r_.Check(app_.Start(exe_, L"", work_, 30000), "log-off: the window appears again"))
    return;
  wchar_t sys[MAX_PATH];
  GetSystemDirectoryW(sys, MAX_PATH);
  Launch(std::wstring(sys) + L"\\osk.exe");
  WaitUntil([] { return Keyboards().size() == 1; }, 10000);
  // A static address that goes away before the first poll (a conflict, or someone else's change):
  // the poll finds the static adapter without an address and falls back to DHCP. The settle read is
  // held a second so that the address is gone whenever the script gets to it.
  kernel_ = ReadKernel();
  app_.Click(kChkStatic);
  TypeStatic(L"10.83.0.50", L"10.83.0.1", L"", L"");
  script_.Run(R"(agent {"op":"fault","on":"adapters","answer":"hold:1"})");
  Mark();
  app_.Click(kCmdApply);
  script_.Run("ip -4 addr flush dev a0");
  const std::string calls = "a0 ES=0 SG=0 DNS=0 DHCP=0 DNS=0";
  const bool fell_back = WaitUntil(
      [&] { return app_.Text(kTxtStatus) == L"Trying DHCP .." && MethodsInShort() == calls; }, 8000);
  r_.Check(fell_back && app_.Title() == L"Ipsetter - Acquiring ..",
           "a static address gone before the first poll: \"Trying DHCP ..\", the fallback runs",
           "title \"" + Utf8(app_.Title()) + "\", status \"" + Utf8(app_.Text(kTxtStatus)) + "\", calls " +
               MethodsInShort());
  // The log-off comes while the monitor runs.
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(app_.window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                      &answer);
  r_.Check(answer != 0, "log-off: the program agrees to end the session");
  SendMessageTimeoutW(app_.window(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, nullptr);
  DWORD code = 1;
  r_.Check(app_.WaitExit(10000, &code) && code == 0, "log-off: the program ends with 0",
           std::to_string(code));
  WaitUntil([] { return Keyboards().empty(); }, 5000);
  r_.Check(Keyboards().empty(), "log-off: the keyboard ended with it", Names(Keyboards()));
}

}  // namespace
}  // namespace e2e

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  // Window places and clicks in the screen's own pixels, at any DPI.
  SetProcessDPIAware();
  e2e::Report report;
  if (argc != 5) {
    report.Line("usage: netrig-driver.exe main|timeout EXE WORK_DIR SYNC_DIR");
    report.Check(false, "arguments");
    return report.Summary();
  }
  const std::wstring suite = argv[1];
  e2e::Script script(report, argv[4]);
  e2e::Lane lane(report, script, argv[2], argv[3]);
  if (suite == L"main")
    lane.Main();
  else if (suite == L"timeout")
    lane.Timeout();
  else
    report.Check(false, "unknown suite");
  return report.Summary();
}
