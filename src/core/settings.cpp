// Reading and changing the adapters' configuration through the management service.
#include <cwchar>

#include "frm_ipsetter.h"

namespace ipsetter {

namespace {

constexpr wchar_t kReadQuery[] =
    L"Select IPAddress, IPSubnet, DNSServerSearchOrder, DefaultIPGateway, DHCPEnabled from "
    L"Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
constexpr wchar_t kChangeQuery[] =
    L"Select * from Win32_NetworkAdapterConfiguration "
    L"where IPEnabled=TRUE";
constexpr wchar_t kTryingDhcpSuffix[] = L" - Trying DHCP ..";

// Windows lists IPv6 entries beside the IPv4 ones; the window deals in IPv4 only.
bool IsIpv6Address(const std::wstring& s) {
  return s.find(L':') != std::wstring::npos;
}
bool IsIpv6PrefixLength(const std::wstring& s) {
  return s.find(L'.') == std::wstring::npos;
}

// The IPv4 elements of a list property, in order; null gives none.
std::vector<std::wstring> Ipv4Elements(const Value& list, bool (*is_ipv6)(const std::wstring&)) {
  std::vector<std::wstring> out;
  if (list.IsNull())
    return out;
  if (!list.IsArray())
    ThrowTypeMismatch();
  for (const Value& element : list.AsArray()) {
    if (!element.IsString())
      ThrowTypeMismatch();
    if (!is_ipv6(element.AsString()))
      out.push_back(element.AsString());
  }
  return out;
}

void StoreLast(ManagementObject& adapter,
               const wchar_t* property,
               bool (*is_ipv6)(const std::wstring&),
               std::wstring& field) {
  const auto elements = Ipv4Elements(adapter.Property(property), is_ipv6);
  if (!elements.empty())
    field = elements.back();
}

// Only 0 and 1 are success; WMI can also answer with 0x8004xxxx codes.
bool IsFailure(std::uint32_t result) {
  return result > 1;
}

// EnableStatic answers 81 ("Unable to Configure DHCP") on an adapter that is already static, yet makes
// the change: reporting it would throw the user's static configuration away for DHCP. On an adapter
// that was on DHCP, 81 is a failure. The object is the query's snapshot, so it still tells the state
// from before the call. Only a Boolean false lets 81 pass: when we cannot tell, the change failed.
bool IsStaticFailure(std::uint32_t result, ManagementObject& adapter) {
  constexpr std::uint32_t kUnableToConfigureDhcp = 81;
  if (result != kUnableToConfigureDhcp)
    return IsFailure(result);
  const Value dhcp = adapter.Property(L"DHCPEnabled");
  return !(dhcp.IsBool() && !dhcp.AsBool());
}

// Results beyond the 16-bit codes have no text.
std::wstring ResultText(std::uint32_t result) {
  return result <= 32767 ? frmIpsetter::Get_Error_Text(static_cast<std::int16_t>(result)) : std::wstring();
}

bool IsBlank(const std::wstring& s) {
  return s.find_first_not_of(L' ') == std::wstring::npos;
}

}  // namespace

void ThrowTypeMismatch() {
  throw ManagementError(kWbemTypeMismatch, L"Type mismatch");
}

std::wstring ErrorText(const ManagementError& error) {
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08X", static_cast<unsigned>(error.code()));
  const std::wstring description =
      error.description().empty() ? std::wstring(L"Management service error") : error.description();
  return description + L" (" + code + L")";
}

void frmIpsetter::Get_Info() {
  txtIp.SetText(L"");
  txtSubnet.SetText(L"");
  txtGateway.SetText(L"");
  txtDns1.SetText(L"");
  txtDns2.SetText(L"");

  auto service = wmi_.Bind(kCimv2Moniker);
  ResultSet adapters = service->ExecQuery(kReadQuery);

  AdapterSettings settings;
  for (auto& adapter : adapters) {
    StoreLast(*adapter, L"IpAddress", IsIpv6Address, settings.strIp);
    StoreLast(*adapter, L"IPSubnet", IsIpv6PrefixLength, settings.strSubnet);
    StoreLast(*adapter, L"DefaultIPGateway", IsIpv6Address, settings.strGateway);

    const auto dns = Ipv4Elements(adapter->Property(L"DNSServerSearchOrder"), IsIpv6Address);
    if (dns.size() > 0)
      settings.strDns1 = dns[0];
    if (dns.size() > 1)
      settings.strDns2 = dns[1];

    const Value dhcp = adapter->Property(L"DHCPEnabled");
    if (!dhcp.IsBool())
      ThrowTypeMismatch();
    settings.blnDhcp = dhcp.AsBool();
  }

  txtIp.SetText(settings.strIp);
  txtSubnet.SetText(settings.strSubnet);
  txtGateway.SetText(settings.strGateway);
  txtDns1.SetText(settings.strDns1);
  txtDns2.SetText(settings.strDns2);

  // The box's handler runs inside this assignment and still sees the previous mode.
  if (settings.blnDhcp) {
    chkStatic.SetValue(0);
    intAddressMode = 1;
    lblStatus.SetCaption(L"automatic");
  } else {
    chkStatic.SetValue(1);
    intAddressMode = 2;
    lblStatus.SetCaption(L"");
  }
}

void frmIpsetter::Set_Static() {
  auto service = wmi_.Bind(kCimv2Moniker);
  ResultSet adapters = service->ExecQuery(kChangeQuery);

  const std::vector<std::wstring> addresses{txtIp.Text()};
  const std::vector<std::wstring> masks{txtSubnet.Text()};
  const std::vector<std::wstring> gateways{txtGateway.Text()};
  const std::vector<std::int16_t> metrics{1};

  const std::wstring dns1 = txtDns1.Text();
  const std::wstring dns2 = txtDns2.Text();
  std::vector<std::wstring> dns_servers;
  if (!IsBlank(dns1))
    dns_servers.push_back(dns1);
  if (!IsBlank(dns2))
    dns_servers.push_back(dns2);
  const bool has_dns_list = !dns_servers.empty();

  std::uint32_t static_result = 0;
  std::uint32_t gateway_result = 0;
  std::uint32_t dns_result = 0;
  ManagementObject* last_adapter = nullptr;
  for (auto& adapter : adapters) {
    last_adapter = adapter.get();
    static_result = adapter->EnableStatic(addresses, masks);
    gateway_result = adapter->SetGateways(gateways, metrics);
    dns_result =
        has_dns_list ? adapter->SetDNSServerSearchOrder(dns_servers) : adapter->SetDNSServerSearchOrder();
  }

  blnFailed = false;
  if (last_adapter != nullptr && IsStaticFailure(static_result, *last_adapter)) {
    blnFailed = true;
    txtStatus.SetText(ResultText(static_result));
  } else if (IsFailure(gateway_result)) {
    blnFailed = true;
    txtStatus.SetText(ResultText(gateway_result));
  } else if (IsFailure(dns_result) && dns_result == 70) {
    blnFailed = true;
    txtStatus.SetText(L"Invalid DNS Address");
  } else if (IsFailure(dns_result)) {
    blnFailed = true;
    txtStatus.SetText(ResultText(dns_result));
  }

  if (blnFailed) {
    txtStatus.SetText(txtStatus.Text() + kTryingDhcpSuffix);
    intAddressMode = 2;
    Set_DHCP();
  }
}

void frmIpsetter::Set_DHCP() {
  auto service = wmi_.Bind(kCimv2Moniker);
  ResultSet adapters = service->ExecQuery(kChangeQuery);

  std::uint32_t dhcp_result = 0;
  std::uint32_t dns_result = 0;
  for (auto& adapter : adapters) {
    dhcp_result = adapter->EnableDHCP();
    dns_result = adapter->SetDNSServerSearchOrder();
  }

  blnFailed = false;
  if (IsFailure(dhcp_result)) {
    blnFailed = true;
    txtStatus.SetText(ResultText(dhcp_result));
  } else if (IsFailure(dns_result)) {
    blnFailed = true;
    txtStatus.SetText(ResultText(dns_result));
  }

  if (blnFailed) {
    Timer1.SetEnabled(false);
    Timer1.SetInterval(0);
    intTickCount = 0;
    Get_Info();
    SetCaption(L"Ipsetter - Error");
    Enable_Controls();
  }
}

std::wstring frmIpsetter::Get_Error_Text(std::int16_t code) {
  static constexpr const wchar_t* kTexts[] = {
      L"Success, No Reboot Required",      // 0
      L"Success, Reboot Required",         // 1
      L"Method Not Supported",             // 64
      L"Unknown Failure",                  // 65
      L"Invalid Subnet Mask",              // 66
      L"Processing Error",                 // 67
      L"Invalid Input",                    // 68
      L"Gateways Limit Error",             // 69
      L"Invalid IP address",               // 70
      L"Invalid Gateway Address",          // 71
      L"Registry Access Error",            // 72
      L"Invalid Domain Name",              // 73
      L"Invalid Host Name",                // 74
      L"No WINS Server Defined",           // 75
      L"Invalid File",                     // 76
      L"Invalid System Path",              // 77
      L"File Copy Failed",                 // 78
      L"Invalid Security Parameter",       // 79
      L"Unable to Configure TCP/IP",       // 80
      L"Unable to Configure DHCP",         // 81
      L"Unable to Renew DHCP",             // 82
      L"Unable to Release DHCP",           // 83
      L"IP Not Enabled On Adapter",        // 84
      L"IPX Not Enabled On Adapter",       // 85
      L"Frame/Network Error",              // 86
      L"Invalid Frame Type",               // 87
      L"Invalid Network Number",           // 88
      L"Duplicate Network Number",         // 89
      L"Parameter Out Of Bounds",          // 90
      L"Access Denied",                    // 91
      L"Out Of Memory",                    // 92
      L"Already Exists",                   // 93
      L"Path, File, or Object Not Found",  // 94
      L"Unable To Notify Service",         // 95
      L"Unable To Notify DNS Service",     // 96
      L"Interface Not Configurable",       // 97
      L"Not All DHCP Released/Renewed",    // 98
  };
  if (code == 0 || code == 1)
    return kTexts[code];
  if (code >= 64 && code <= 98)
    return kTexts[code - 62];
  if (code == 100)
    return L"DHCP Not Enabled On Adapter";
  return L"";
}

}  // namespace ipsetter
