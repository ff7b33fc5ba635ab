#include "schema.h"

#include <windows.h>

namespace netrig {

namespace {

constexpr CIMTYPE kStringArray = CIM_STRING | CIM_FLAG_ARRAY;

std::vector<MethodDef> Documented(std::vector<MethodDef> implemented,
                                  std::initializer_list<const wchar_t*> others) {
  for (const wchar_t* name : others)
    implemented.push_back({name, false, {}});
  return implemented;
}

const ClassDef& Adapter() {
  static const ClassDef c{
      kAdapterClass,
      {L"CIM_Setting"},
      {{L"ArpAlwaysSourceRoute", CIM_BOOLEAN},
       {L"ArpUseEtherSNAP", CIM_BOOLEAN},
       {L"Caption", CIM_STRING},
       {L"DatabasePath", CIM_STRING},
       {L"DeadGWDetectEnabled", CIM_BOOLEAN},
       {L"DefaultIPGateway", kStringArray},
       {L"DefaultTOS", CIM_UINT8},
       {L"DefaultTTL", CIM_UINT8},
       {L"Description", CIM_STRING},
       {L"DHCPEnabled", CIM_BOOLEAN},
       {L"DHCPLeaseExpires", CIM_DATETIME},
       {L"DHCPLeaseObtained", CIM_DATETIME},
       {L"DHCPServer", CIM_STRING},
       {L"DNSDomain", CIM_STRING},
       {L"DNSDomainSuffixSearchOrder", kStringArray},
       {L"DNSEnabledForWINSResolution", CIM_BOOLEAN},
       {L"DNSHostName", CIM_STRING},
       {L"DNSServerSearchOrder", kStringArray},
       {L"DomainDNSRegistrationEnabled", CIM_BOOLEAN},
       {L"ForwardBufferMemory", CIM_UINT32},
       {L"FullDNSRegistrationEnabled", CIM_BOOLEAN},
       {L"GatewayCostMetric", CIM_UINT16 | CIM_FLAG_ARRAY},
       {L"IGMPLevel", CIM_UINT8},
       {L"Index", CIM_UINT32, true},
       {L"InterfaceIndex", CIM_UINT32},
       {L"IPAddress", kStringArray},
       {L"IPConnectionMetric", CIM_UINT32},
       {L"IPEnabled", CIM_BOOLEAN},
       {L"IPFilterSecurityEnabled", CIM_BOOLEAN},
       {L"IPPortSecurityEnabled", CIM_BOOLEAN},
       {L"IPSecPermitIPProtocols", kStringArray},
       {L"IPSecPermitTCPPorts", kStringArray},
       {L"IPSecPermitUDPPorts", kStringArray},
       {L"IPSubnet", kStringArray},
       {L"IPUseZeroBroadcast", CIM_BOOLEAN},
       {L"IPXAddress", CIM_STRING},
       {L"IPXEnabled", CIM_BOOLEAN},
       {L"IPXFrameType", CIM_UINT32 | CIM_FLAG_ARRAY},
       {L"IPXMediaType", CIM_UINT32},
       {L"IPXNetworkNumber", kStringArray},
       {L"IPXVirtualNetNumber", CIM_STRING},
       {L"KeepAliveInterval", CIM_UINT32},
       {L"KeepAliveTime", CIM_UINT32},
       {L"MACAddress", CIM_STRING},
       {L"MTU", CIM_UINT32},
       {L"NumForwardPackets", CIM_UINT32},
       {L"PMTUBHDetectEnabled", CIM_BOOLEAN},
       {L"PMTUDiscoveryEnabled", CIM_BOOLEAN},
       {L"ServiceName", CIM_STRING},
       {L"SettingID", CIM_STRING},
       {L"TcpipNetbiosOptions", CIM_UINT32},
       {L"TcpMaxConnectRetransmissions", CIM_UINT32},
       {L"TcpMaxDataRetransmissions", CIM_UINT32},
       {L"TcpNumConnections", CIM_UINT32},
       {L"TcpUseRFC1122UrgentPointer", CIM_BOOLEAN},
       {L"TcpWindowSize", CIM_UINT16},
       {L"WINSEnableLMHostsLookup", CIM_BOOLEAN},
       {L"WINSHostLookupFile", CIM_STRING},
       {L"WINSPrimaryServer", CIM_STRING},
       {L"WINSScopeID", CIM_STRING},
       {L"WINSSecondaryServer", CIM_STRING}},
      Documented(
          {
              // [in] without [optional] is required, except where the page says otherwise:
              // SetDNSServerSearchOrder "can be called without supplying in parameters".
              {L"EnableStatic",
               true,
               {{L"IPAddress", kStringArray, true}, {L"SubnetMask", kStringArray, true}}},
              {L"SetGateways",
               true,
               {{L"DefaultIPGateway", kStringArray, true},
                {L"GatewayCostMetric", CIM_UINT16 | CIM_FLAG_ARRAY, false}}},
              {L"SetDNSServerSearchOrder", true, {{L"DNSServerSearchOrder", kStringArray, false}}},
              {L"EnableDHCP", true, {}},
          },
          {L"DisableIPSec",
           L"EnableDNS",
           L"EnableIPFilterSec",
           L"EnableIPSec",
           L"EnableWINS",
           L"ReleaseDHCPLease",
           L"ReleaseDHCPLeaseAll",
           L"RenewDHCPLease",
           L"RenewDHCPLeaseAll",
           L"SetArpAlwaysSourceRoute",
           L"SetArpUseEtherSNAP",
           L"SetDatabasePath",
           L"SetDeadGWDetect",
           L"SetDefaultTOS",
           L"SetDefaultTTL",
           L"SetDNSDomain",
           L"SetDNSSuffixSearchOrder",
           L"SetDynamicDNSRegistration",
           L"SetForwardBufferMemory",
           L"SetIGMPLevel",
           L"SetIPConnectionMetric",
           L"SetIPUseZeroBroadcast",
           L"SetIPXFrameTypeNetworkPairs",
           L"SetIPXVirtualNetworkNumber",
           L"SetKeepAliveInterval",
           L"SetKeepAliveTime",
           L"SetMTU",
           L"SetNumForwardPackets",
           L"SetPMTUBHDetect",
           L"SetPMTUDiscovery",
           L"SetTcpipNetbios",
           L"SetTcpMaxConnectRetransmissions",
           L"SetTcpMaxDataRetransmissions",
           L"SetTcpNumConnections",
           L"SetTcpUseRFC1122UrgentPointer",
           L"SetTcpWindowSize",
           L"SetWINSServer"})};
  return c;
}

const ClassDef& Process() {
  static const ClassDef c{
      kProcessClass,
      {L"CIM_Process", L"CIM_LogicalElement", L"CIM_ManagedSystemElement"},
      {{L"Caption", CIM_STRING},
       {L"CommandLine", CIM_STRING},
       {L"CreationClassName", CIM_STRING},
       {L"CreationDate", CIM_DATETIME},
       {L"CSCreationClassName", CIM_STRING},
       {L"CSName", CIM_STRING},
       {L"Description", CIM_STRING},
       {L"ExecutablePath", CIM_STRING},
       {L"ExecutionState", CIM_UINT16},
       {L"Handle", CIM_STRING, true},
       {L"HandleCount", CIM_UINT32},
       {L"InstallDate", CIM_DATETIME},
       {L"KernelModeTime", CIM_UINT64},
       {L"MaximumWorkingSetSize", CIM_UINT32},
       {L"MinimumWorkingSetSize", CIM_UINT32},
       {L"Name", CIM_STRING},
       {L"OSCreationClassName", CIM_STRING},
       {L"OSName", CIM_STRING},
       {L"OtherOperationCount", CIM_UINT64},
       {L"OtherTransferCount", CIM_UINT64},
       {L"PageFaults", CIM_UINT32},
       {L"PageFileUsage", CIM_UINT32},
       {L"ParentProcessId", CIM_UINT32},
       {L"PeakPageFileUsage", CIM_UINT32},
       {L"PeakVirtualSize", CIM_UINT64},
       {L"PeakWorkingSetSize", CIM_UINT32},
       {L"Priority", CIM_UINT32},
       {L"PrivatePageCount", CIM_UINT64},
       {L"ProcessId", CIM_UINT32},
       {L"QuotaNonPagedPoolUsage", CIM_UINT32},
       {L"QuotaPagedPoolUsage", CIM_UINT32},
       {L"QuotaPeakNonPagedPoolUsage", CIM_UINT32},
       {L"QuotaPeakPagedPoolUsage", CIM_UINT32},
       {L"ReadOperationCount", CIM_UINT64},
       {L"ReadTransferCount", CIM_UINT64},
       {L"SessionId", CIM_UINT32},
       {L"Status", CIM_STRING},
       {L"TerminationDate", CIM_DATETIME},
       {L"ThreadCount", CIM_UINT32},
       {L"UserModeTime", CIM_UINT64},
       {L"VirtualSize", CIM_UINT64},
       {L"WindowsVersion", CIM_STRING},
       {L"WorkingSetSize", CIM_UINT64},
       {L"WriteOperationCount", CIM_UINT64},
       {L"WriteTransferCount", CIM_UINT64}},
      // Reason is [in] without [optional], yet the page's own scripts call Terminate() bare.
      Documented({{L"Terminate", true, {{L"Reason", CIM_UINT32, false}}}},
                 {L"AttachDebugger", L"Create", L"GetAvailableVirtualSize", L"GetOwner", L"GetOwnerSid",
                  L"SetPriority"})};
  return c;
}

}  // namespace

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

const ClassDef* FindClass(std::wstring_view name) {
  for (const ClassDef* c : {&Adapter(), &Process()}) {
    if (EqualsNoCase(c->name, name))
      return c;
  }
  return nullptr;
}

const PropertyDef* FindProperty(const ClassDef& c, std::wstring_view name) {
  for (const PropertyDef& p : c.properties) {
    if (EqualsNoCase(p.name, name))
      return &p;
  }
  return nullptr;
}

const MethodDef* FindMethod(const ClassDef& c, std::wstring_view name) {
  for (const MethodDef& m : c.methods) {
    if (EqualsNoCase(m.name, name))
      return &m;
  }
  return nullptr;
}

VARTYPE AutomationType(CIMTYPE type) {
  const VARTYPE array = (type & CIM_FLAG_ARRAY) ? VT_ARRAY : 0;
  switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_BOOLEAN:
      return array | VT_BOOL;
    case CIM_UINT8:
      return array | VT_UI1;
    case CIM_SINT8:
    case CIM_SINT16:
    case CIM_CHAR16:
      return array | VT_I2;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
      return array | VT_I4;
    case CIM_REAL32:
      return array | VT_R4;
    case CIM_REAL64:
      return array | VT_R8;
    default:  // strings, datetimes, references, 64-bit integers
      return array | VT_BSTR;
  }
}

}  // namespace netrig
