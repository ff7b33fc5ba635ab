#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frm_ipsetter.h"
#include "memory_window.h"
#include "simulated_network.h"

namespace ipsetter::sim {
inline void PrintTo(const Process& p, std::ostream* os) {
  *os << std::string(p.name.begin(), p.name.end()) << "@" << p.session;
}
}  // namespace ipsetter::sim

namespace ipsetter::testing {

inline constexpr wchar_t kCimv2[] = L"winmgmts:\\\\.\\root\\cimv2";
inline constexpr wchar_t kReadQuery[] =
    L"Select IPAddress, IPSubnet, DNSServerSearchOrder, DefaultIPGateway, DHCPEnabled from "
    L"Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
inline constexpr wchar_t kChangeQuery[] =
    L"Select * from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
inline constexpr wchar_t kKeyboardQuery[] =
    L"Select Name from Win32_Process Where Name = 'Osk.exe' OR Name = 'MSSWCHX.EXE'";

inline Value Strings(std::vector<std::wstring> items) {
  return Value::Strings(items);
}

// An IP-enabled adapter with the given settings (empty list: property left null).
inline sim::Adapter MakeAdapter(bool dhcp,
                                std::vector<std::wstring> ip,
                                std::vector<std::wstring> subnet,
                                std::vector<std::wstring> gateway,
                                std::vector<std::wstring> dns) {
  sim::Adapter a;
  a.properties[L"IPEnabled"] = true;
  a.properties[L"DHCPEnabled"] = dhcp;
  if (!ip.empty())
    a.properties[L"IPAddress"] = Strings(ip);
  if (!subnet.empty())
    a.properties[L"IPSubnet"] = Strings(subnet);
  if (!gateway.empty())
    a.properties[L"DefaultIPGateway"] = Strings(gateway);
  if (!dns.empty())
    a.properties[L"DNSServerSearchOrder"] = Strings(dns);
  return a;
}

// As Windows lists them: IPv6 entries after the IPv4 ones, kept through every method and lease.
inline sim::Adapter StaticAdapter() {
  return MakeAdapter(false, {L"192.168.10.20", L"fe80::20"}, {L"255.255.255.0", L"64"},
                     {L"192.168.10.1", L"fe80::1"}, {L"192.168.10.1"});
}

inline sim::Adapter DhcpAdapter() {
  return MakeAdapter(true, {L"10.0.0.5", L"fe80::5"}, {L"255.0.0.0", L"64"}, {L"10.0.0.1", L"fe80::1"},
                     {L"10.0.0.1", L"10.0.0.2"});
}

// A lease of 10.0.0.5/8 with gateway and DNS 10.0.0.1, once the adapter has been read `reads` times.
inline sim::Lease LeaseAfter(int reads) {
  sim::Lease lease;
  lease.after_reads = reads;
  lease.properties[L"IPAddress"] = Strings({L"10.0.0.5"});
  lease.properties[L"IPSubnet"] = Strings({L"255.0.0.0"});
  lease.properties[L"DefaultIPGateway"] = Strings({L"10.0.0.1"});
  lease.properties[L"DNSServerSearchOrder"] = Strings({L"10.0.0.1"});
  return lease;
}

// The window with the simulated network behind it.
struct Harness {
  sim::SimulatedNetwork net;
  MemoryWindow win;
  frmIpsetter form{win, win, net};

  Harness() {
    win.on_tick = [this] { form.OnTimerTick(); };
    win.in_this_session = [this](std::uint32_t id) { return net.RunsInProgramSession(id); };
  }

  std::wstring Text(ControlId id) const { return win.Text(id); }
  std::wstring Status() const { return win.Text(ControlId::txtStatus); }
  // The five address boxes joined by '|'.
  std::wstring Boxes() const {
    return Text(ControlId::txtIp) + L"|" + Text(ControlId::txtSubnet) + L"|" + Text(ControlId::txtGateway) +
           L"|" + Text(ControlId::txtDns1) + L"|" + Text(ControlId::txtDns2);
  }
  void Type(ControlId id, const std::wstring& text) { win.texts[id] = text; }

  // Calls of one operation, e.g. every method call.
  std::vector<sim::Call> CallsOf(const std::wstring& operation) const {
    std::vector<sim::Call> out;
    for (const auto& c : net.calls)
      if (c.operation == operation)
        out.push_back(c);
    return out;
  }
  // Operations other than property reads, in order, as "op target #adapter".
  std::vector<std::wstring> Operations() const {
    std::vector<std::wstring> out;
    for (const auto& c : net.calls) {
      if (c.operation == L"property")
        continue;
      std::wstring s = c.operation;
      if (!c.target.empty())
        s += L" " + c.target;
      if (c.adapter >= 0)
        s += L" #" + std::to_wstring(c.adapter);
      out.push_back(s);
    }
    return out;
  }
  void ClearCalls() { net.calls.clear(); }
};

}  // namespace ipsetter::testing
