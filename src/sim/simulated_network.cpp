// Adapters, leases, processes and faults of the simulated network, and its record of every call.
#include "simulated_network.h"

#include <algorithm>
#include <cwctype>
#include <regex>

namespace ipsetter::sim {

namespace {

std::wstring Lower(std::wstring s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return s;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return Lower(a) == Lower(b);
}

[[noreturn]] void Fail(std::uint32_t code, const wchar_t* description) {
  throw ManagementError(code, description);
}

constexpr std::uint32_t kNotFound = kWbemNotFound;
constexpr std::uint32_t kInvalidNamespace = kWbemInvalidNamespace;
constexpr std::uint32_t kInvalidClass = kWbemInvalidClass;
constexpr std::uint32_t kInvalidQuery = kWbemInvalidQuery;
constexpr std::uint32_t kInvalidMethod = kWbemInvalidMethod;

// Method results as Windows gives them.
constexpr std::uint32_t kNotSupported = 64;
constexpr std::uint32_t kInvalidSubnetMask = 66;
constexpr std::uint32_t kInvalidIpAddress = 70;
constexpr std::uint32_t kUnableToConfigureDhcp = 81;
constexpr std::uint32_t kInvalidGatewayAddress = 71;

// A dotted quad, each part 0..255, as the stack accepts it.
std::optional<std::uint32_t> ParseIpv4(const std::wstring& text) {
  static const std::wregex pattern(L"(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})");
  std::wsmatch m;
  if (!std::regex_match(text, m, pattern))
    return std::nullopt;
  std::uint32_t value = 0;
  for (int i = 1; i <= 4; ++i) {
    const unsigned long part = std::stoul(m[i].str());
    if (part > 255)
      return std::nullopt;
    value = (value << 8) | static_cast<std::uint32_t>(part);
  }
  return value;
}

bool IsUsableAddress(const std::wstring& text) {
  const auto v = ParseIpv4(text);
  return v && *v != 0 && *v != 0xFFFFFFFFu;
}

bool IsMask(const std::wstring& text) {
  const auto v = ParseIpv4(text);
  if (!v || *v == 0)
    return false;
  const std::uint32_t inverted = ~*v;
  return (inverted & (inverted + 1)) == 0;  // ones, then zeros
}

bool AllOf(const std::vector<std::wstring>& items, bool (*ok)(const std::wstring&)) {
  return !items.empty() && std::all_of(items.begin(), items.end(), ok);
}

bool IsDhcp(const PropertyMap& p) {
  const auto it = p.find(L"DHCPEnabled");
  return it != p.end() && it->second.IsBool() && it->second.AsBool();
}

// IPSubnet holds prefix lengths ("64") for the IPv6 addresses, the other lists IPv6 addresses.
bool IsIpv6Entry(const std::wstring& list, const Value& entry) {
  if (!entry.IsString())
    return false;
  const std::wstring& s = entry.AsString();
  return SameText(list, L"IPSubnet") ? s.find(L'.') == std::wstring::npos
                                     : s.find(L':') != std::wstring::npos;
}

std::vector<Value> Part(const PropertyMap& p, const std::wstring& list, bool ipv6) {
  std::vector<Value> out;
  const auto it = p.find(list);
  if (it != p.end() && it->second.IsArray()) {
    for (const Value& e : it->second.AsArray())
      if (IsIpv6Entry(list, e) == ipv6)
        out.push_back(e);
  }
  return out;
}

// Windows lists an adapter's IPv6 entries after its IPv4 ones, and the IPv4 methods and leases
// change only the IPv4 part: the new IPv4 entries first, then the IPv6 ones the list had.
void SetIpv4Part(PropertyMap& p, const std::wstring& list, const Value& ipv4) {
  Value::Array out;
  Value::Array ipv6;
  if (ipv4.IsArray()) {
    for (const Value& e : ipv4.AsArray())
      (IsIpv6Entry(list, e) ? ipv6 : out).push_back(e);
  }
  for (const Value& e : Part(p, list, true))
    if (std::find(ipv6.begin(), ipv6.end(), e) == ipv6.end())
      out.push_back(e);
  out.insert(out.end(), ipv6.begin(), ipv6.end());
  p[list] = out.empty() ? Value() : Value(std::move(out));
}

Value IntegerArray(const std::vector<std::int16_t>& items) {
  Value::Array a;
  for (auto i : items)
    a.emplace_back(static_cast<int>(i));
  return Value(std::move(a));
}

// "Select <props> from <class> [where <condition>]"
struct ParsedQuery {
  std::vector<std::wstring> selected;  // empty: all
  std::wstring class_name;
  std::wstring condition;
};

std::wstring Trim(const std::wstring& s) {
  const auto first = s.find_first_not_of(L" \t");
  if (first == std::wstring::npos)
    return L"";
  return s.substr(first, s.find_last_not_of(L" \t") - first + 1);
}

ParsedQuery ParseQuery(const std::wstring& text) {
  static const std::wregex pattern(L"\\s*select\\s+(.+?)\\s+from\\s+(\\w+)(?:\\s+where\\s+(.+?))?\\s*",
                                   std::regex::icase);
  std::wsmatch m;
  if (!std::regex_match(text, m, pattern))
    Fail(kInvalidQuery, L"Invalid query");
  ParsedQuery q;
  q.class_name = m[2].str();
  q.condition = m[3].matched ? Trim(m[3].str()) : L"";
  const std::wstring props = Trim(m[1].str());
  if (props != L"*") {
    std::wstring item;
    for (wchar_t c : props + L",") {
      if (c == L',') {
        if (Trim(item).empty())
          Fail(kInvalidQuery, L"Invalid query");
        q.selected.push_back(Trim(item));
        item.clear();
      } else {
        item += c;
      }
    }
  }
  return q;
}

bool Selected(const std::vector<std::wstring>& selected, const std::wstring& name) {
  if (selected.empty())
    return true;
  return std::any_of(selected.begin(), selected.end(), [&](const auto& s) { return SameText(s, name); });
}

class AdapterObject : public ManagementObject {
 public:
  // Like WMI's objects, a snapshot taken at the query: the methods change the adapter, not it.
  AdapterObject(SimulatedNetwork& net, int index, std::vector<std::wstring> selected)
      : net_(net), index_(index), selected_(std::move(selected)), snapshot_(adapter().properties) {}

  Value Property(const std::wstring& name) override {
    net_.Enter({L"property", name, index_, {}});
    if (!Selected(selected_, name))
      Fail(kNotFound, L"Not found");
    const auto it = snapshot_.find(name);
    return it == snapshot_.end() ? Value() : it->second;
  }

  std::uint32_t EnableStatic(const std::vector<std::wstring>& addresses,
                             const std::vector<std::wstring>& masks) override {
    net_.Enter({L"EnableStatic", L"", index_, {Value::Strings(addresses), Value::Strings(masks)}});
    std::uint32_t result = Scripted(L"EnableStatic");
    auto& p = adapter().properties;
    const bool was_static = !IsDhcp(p);
    // A scripted 81 is what Windows answers on a static adapter anyway; on one that is on DHCP it is
    // a failure that changes nothing.
    if (result == kUnableToConfigureDhcp && was_static)
      result = 0;
    if (result == 0 && !AllOf(addresses, IsUsableAddress))
      result = kInvalidIpAddress;
    if (result == 0 && (masks.size() != addresses.size() || !AllOf(masks, IsMask)))
      result = kInvalidSubnetMask;
    if (result > 1)
      return result;
    SetIpv4Part(p, L"IPAddress", Value::Strings(addresses));
    SetIpv4Part(p, L"IPSubnet", Value::Strings(masks));
    p[L"DHCPEnabled"] = false;
    adapter().reads_since_dhcp.reset();
    // Documented: on an adapter that is already static it answers 81, "However, the function still
    // succeeds in setting with the new operation."
    return result == 0 && was_static ? kUnableToConfigureDhcp : result;
  }

  std::uint32_t SetGateways(const std::vector<std::wstring>& gateways,
                            const std::vector<std::int16_t>& metrics) override {
    net_.Enter({L"SetGateways", L"", index_, {Value::Strings(gateways), IntegerArray(metrics)}});
    std::uint32_t result = Scripted(L"SetGateways");
    auto& p = adapter().properties;
    // Documented: it works only in static mode ("not supported when the NIC is in DHCP mode").
    if (result == 0 && IsDhcp(p))
      result = kNotSupported;
    // An empty entry removes the gateway, as the control panel does with an empty field; so does
    // the adapter's own address, as documented.
    const std::vector<Value> own = Part(p, L"IPAddress", false);
    std::vector<std::wstring> kept;
    for (const auto& g : gateways)
      if (!g.empty() && std::find(own.begin(), own.end(), Value(g)) == own.end())
        kept.push_back(g);
    if (result == 0 && !kept.empty() && !AllOf(kept, IsUsableAddress))
      result = kInvalidGatewayAddress;
    if (result > 1)
      return result;
    SetIpv4Part(p, L"DefaultIPGateway", Value::Strings(kept));
    p[L"GatewayCostMetric"] = kept.empty() ? Value() : IntegerArray(metrics);
    return result;
  }

  std::uint32_t SetDNSServerSearchOrder(const std::vector<std::wstring>& servers) override {
    net_.Enter({L"SetDNSServerSearchOrder", L"", index_, {Value::Strings(servers)}});
    std::uint32_t result = Scripted(L"SetDNSServerSearchOrder");
    if (result == 0 && !servers.empty() && !AllOf(servers, IsUsableAddress))
      result = kInvalidIpAddress;
    if (result > 1)
      return result;
    if (servers.empty())
      ClearStaticDns();
    else
      SetIpv4Part(adapter().properties, L"DNSServerSearchOrder", Value::Strings(servers));
    return result;
  }

  std::uint32_t SetDNSServerSearchOrder() override {
    net_.Enter({L"SetDNSServerSearchOrder", L"", index_, {}});
    // "SetDNSServerSearchOrder()" scripts the form without servers alone.
    const std::uint32_t result = adapter().results.count(L"SetDNSServerSearchOrder()")
                                     ? Scripted(L"SetDNSServerSearchOrder()")
                                     : Scripted(L"SetDNSServerSearchOrder");
    if (result > 1)
      return result;
    ClearStaticDns();
    return result;
  }

  std::uint32_t EnableDHCP() override {
    net_.Enter({L"EnableDHCP", L"", index_, {}});
    const std::uint32_t result = Scripted(L"EnableDHCP");
    if (result > 1)
      return result;
    auto& p = adapter().properties;
    const Value dhcp = p[L"DHCPEnabled"];
    if (dhcp.IsBool() && dhcp.AsBool())
      return result;  // keeps its lease
    // Documented: a static default gateway stays.
    p[L"DHCPEnabled"] = true;
    SetIpv4Part(p, L"IPAddress", Value::Strings({L"0.0.0.0"}));
    SetIpv4Part(p, L"IPSubnet", Value::Strings({L"0.0.0.0"}));
    adapter().reads_since_dhcp = 0;
    return result;
  }

  std::uint32_t Terminate() override {
    net_.Enter({L"Terminate", L"", index_, {}});
    Fail(kInvalidMethod, L"Invalid method");
  }

 private:
  Adapter& adapter() { return net_.adapters.at(static_cast<size_t>(index_)); }
  std::uint32_t Scripted(const wchar_t* method) {
    const auto& results = adapter().results;
    const auto it = results.find(method);
    return it == results.end() ? 0 : it->second;
  }

  // Without static servers an adapter on DHCP uses those of its lease, once it has one.
  void ClearStaticDns() {
    Adapter& a = adapter();
    Value servers;
    if (IsDhcp(a.properties) && a.lease && !a.reads_since_dhcp) {
      const auto it = a.lease->properties.find(L"DNSServerSearchOrder");
      if (it != a.lease->properties.end())
        servers = it->second;
    }
    SetIpv4Part(a.properties, L"DNSServerSearchOrder", servers);
  }

  SimulatedNetwork& net_;
  int index_;
  std::vector<std::wstring> selected_;
  PropertyMap snapshot_;
};

class ProcessObject : public ManagementObject {
 public:
  ProcessObject(SimulatedNetwork& net, int index, const Process& process, std::vector<std::wstring> selected)
      : net_(net),
        index_(index),
        name_(process.name),
        id_(process.id),
        path_key_(process.path_key.value_or(std::to_wstring(process.id))),
        selected_(std::move(selected)) {}

  // Only what the query selected, and the relative path, which every object carries; whether
  // Windows adds the key Handle to a selection is not documented, so here it does not.
  Value Property(const std::wstring& name) override {
    net_.Enter({L"property", name, index_, {}});
    if (SameText(name, L"__RELPATH"))
      return L"Win32_Process.Handle=\"" + path_key_ + L"\"";
    if (!Selected(selected_, name))
      Fail(kNotFound, L"Not found");
    if (SameText(name, L"Name"))
      return name_;
    if (SameText(name, L"Handle"))
      return std::to_wstring(id_);
    return Value();
  }
  std::uint32_t EnableStatic(const std::vector<std::wstring>&, const std::vector<std::wstring>&) override {
    return NotHere(L"EnableStatic");
  }
  std::uint32_t SetGateways(const std::vector<std::wstring>&, const std::vector<std::int16_t>&) override {
    return NotHere(L"SetGateways");
  }
  std::uint32_t SetDNSServerSearchOrder(const std::vector<std::wstring>&) override {
    return NotHere(L"SetDNSServerSearchOrder");
  }
  std::uint32_t SetDNSServerSearchOrder() override { return NotHere(L"SetDNSServerSearchOrder"); }
  std::uint32_t EnableDHCP() override { return NotHere(L"EnableDHCP"); }

  std::uint32_t Terminate() override {
    net_.Enter({L"Terminate", name_, index_, {}});
    auto& list = net_.processes;
    const auto it = std::find_if(list.begin(), list.end(), [&](const Process& p) { return p.id == id_; });
    if (it == list.end())
      return 2;  // already gone: access denied, as Windows answers
    list.erase(it);
    return 0;
  }

 private:
  std::uint32_t NotHere(const wchar_t* method) {
    net_.Enter({method, name_, index_, {}});
    Fail(kInvalidMethod, L"Invalid method");
  }

  SimulatedNetwork& net_;
  int index_;
  std::wstring name_;
  std::uint32_t id_;
  std::wstring path_key_;
  std::vector<std::wstring> selected_;
};

// Names in: Name = 'a' OR Name = 'b' ...
std::vector<std::wstring> ProcessNames(const std::wstring& condition) {
  static const std::wregex term(L"\\s*name\\s*=\\s*'([^']*)'\\s*", std::regex::icase);
  std::vector<std::wstring> names;
  std::wstring rest = condition;
  static const std::wregex or_split(L"\\s+or\\s+", std::regex::icase);
  std::wsregex_token_iterator it(rest.begin(), rest.end(), or_split, -1), end;
  for (; it != end; ++it) {
    const std::wstring part = it->str();
    std::wsmatch m;
    if (!std::regex_match(part, m, term))
      Fail(kInvalidQuery, L"Invalid query");
    names.push_back(m[1].str());
  }
  return names;
}

class Service : public ManagementService {
 public:
  explicit Service(SimulatedNetwork& net) : net_(net) {}

  ResultSet ExecQuery(const std::wstring& text) override {
    net_.Enter({L"ExecQuery", text, -1, {}});
    const ParsedQuery q = ParseQuery(text);
    if (SameText(q.class_name, L"Win32_NetworkAdapterConfiguration"))
      return Adapters(q);
    if (SameText(q.class_name, L"Win32_Process"))
      return Processes(q);
    Fail(kInvalidClass, L"Invalid class");
  }

 private:
  ResultSet Adapters(const ParsedQuery& q) {
    static const std::wregex ip_enabled(L"IPEnabled\\s*=\\s*TRUE", std::regex::icase);
    if (!q.condition.empty() && !std::regex_match(q.condition, ip_enabled))
      Fail(kInvalidQuery, L"Invalid query");
    ResultSet out;
    for (size_t i = 0; i < net_.adapters.size(); ++i) {
      Adapter& a = net_.adapters[i];
      if (!q.condition.empty()) {
        const auto it = a.properties.find(L"IPEnabled");
        if (it == a.properties.end() || !(it->second.IsBool() && it->second.AsBool()))
          continue;
      }
      CountRead(a);
      out.push_back(std::make_unique<AdapterObject>(net_, static_cast<int>(i), q.selected));
    }
    return out;
  }

  // Waiting for a lease: the first `after_reads` reads still see 0.0.0.0.
  static void CountRead(Adapter& a) {
    if (!a.reads_since_dhcp || !a.lease)
      return;
    if (*a.reads_since_dhcp >= a.lease->after_reads) {
      for (const auto& [name, value] : a.lease->properties) {
        if (SameText(name, L"DefaultIPGateway")) {
          // After the static gateways that EnableDHCP kept.
          Value::Array gateways(Part(a.properties, name, false));
          if (value.IsArray()) {
            for (const Value& g : value.AsArray())
              if (std::find(gateways.begin(), gateways.end(), g) == gateways.end())
                gateways.push_back(g);
          }
          SetIpv4Part(a.properties, name, Value(std::move(gateways)));
        } else if (SameText(name, L"DNSServerSearchOrder")) {
          // Static servers still set take precedence over the lease's.
          if (Part(a.properties, name, false).empty())
            SetIpv4Part(a.properties, name, value);
        } else if (SameText(name, L"IPAddress") || SameText(name, L"IPSubnet")) {
          SetIpv4Part(a.properties, name, value);
        } else {
          a.properties[name] = value;
        }
      }
      a.reads_since_dhcp.reset();
      return;
    }
    ++*a.reads_since_dhcp;
  }

  ResultSet Processes(const ParsedQuery& q) {
    const auto names = q.condition.empty() ? std::vector<std::wstring>() : ProcessNames(q.condition);
    net_.NumberProcesses();
    ResultSet out;
    for (size_t i = 0; i < net_.processes.size(); ++i) {
      const Process& p = net_.processes[i];
      const bool match = names.empty() || std::any_of(names.begin(), names.end(),
                                                      [&](const auto& n) { return SameText(n, p.name); });
      if (match)
        out.push_back(std::make_unique<ProcessObject>(net_, static_cast<int>(i), p, q.selected));
    }
    return out;
  }

  SimulatedNetwork& net_;
};

}  // namespace

bool NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
  return Lower(a) < Lower(b);
}

std::unique_ptr<ManagementService> SimulatedNetwork::Bind(const std::wstring& moniker) {
  Enter({L"bind", moniker, -1, {}});
  if (!SameText(moniker, L"winmgmts:\\\\.\\root\\cimv2") && !SameText(moniker, L"winmgmts:"))
    Fail(kInvalidNamespace, L"Invalid namespace");
  return std::make_unique<Service>(*this);
}

void SimulatedNetwork::StartProcess(const std::wstring& name) {
  Enter({L"StartProcess", name, -1, {}});
  processes.emplace_back(name, program_session);
  NumberProcesses();
}

bool SimulatedNetwork::RunsInProgramSession(std::uint32_t id) const {
  return std::any_of(processes.begin(), processes.end(),
                     [&](const Process& p) { return p.id == id && p.session == program_session; });
}

void SimulatedNetwork::NumberProcesses() {
  for (Process& p : processes) {
    if (p.id == 0) {
      p.id = next_id_;
      next_id_ += 4;
    }
  }
}

int SimulatedNetwork::CountOf(const std::wstring& operation) const {
  const auto it = counts_.find(operation);
  return it == counts_.end() ? 0 : it->second;
}

void SimulatedNetwork::Enter(Call call) {
  const int n = ++counts_[call.operation];
  calls.push_back(call);
  if (on_call)
    on_call(call);
  for (const Fault& f : faults)
    if (f.nth == n && SameText(f.operation, call.operation))
      throw ManagementError(f.code, f.description);
}

}  // namespace ipsetter::sim
