// Checks the stand-in provider's strictness through real COM, as a client of CLSID_WbemLocator in a
// Wine prefix where netrig_wbem.dll is registered (tests/netrig/provider/register.sh).
//   netrig_provider_check.exe         the provider against a scripted agent inside this program
//   netrig_provider_check.exe live    also against the rig's agent named by NETRIG_AGENT: the adapter
//                                     query, a rejected EnableStatic (70) and an unknown Index
//   netrig_provider_check.exe sleep   idles (a process for Terminate to end)
// Prints "PASS name" or "FAIL name: detail" per check and ends with "N passed, N failed".
#include <winsock2.h>

#include <fcntl.h>
#include <io.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

int g_passed = 0;
int g_failed = 0;

// UTF-8 lines: stdout is binary, so that Wine writes no CRLF.
void Print(const std::wstring& line) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text.data(), size, nullptr, nullptr);
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
}

void Check(bool ok, const std::wstring& name, const std::wstring& detail = L"") {
  ok ? ++g_passed : ++g_failed;
  Print((ok ? L"PASS " : L"FAIL ") + name + (ok || detail.empty() ? L"" : L": " + detail));
}

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
  return text;
}

void CheckHr(HRESULT got, HRESULT want, const std::wstring& name) {
  Check(got == want, name, L"got " + Hex(got) + L", want " + Hex(want));
}

// --- a scripted agent: answers every connection with the line set last, and keeps the request ---

class ScriptedAgent {
 public:
  ScriptedAgent() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 4);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }

  void Use() const {
    SetEnvironmentVariableW(L"NETRIG_AGENT", (L"127.0.0.1:" + std::to_wstring(port_)).c_str());
  }
  void Answer(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = line;
  }
  std::string Request() {
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
  }

 private:
  void Serve() {
    for (;;) {
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET)
        return;
      std::string request;
      char buffer[4096];
      while (request.find('\n') == std::string::npos) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
          break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      std::string answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        request_ = request.substr(0, request.find('\n'));
        answer = answer_;
      }
      send(s, answer.data(), static_cast<int>(answer.size()), 0);
      closesocket(s);
    }
  }

  SOCKET listener_;
  u_short port_ = 0;
  std::mutex mutex_;
  std::string answer_;
  std::string request_;
};

constexpr char kAdapters[] =
    "{\"ok\":true,\"adapters\":["
    "{\"Index\":7,\"Description\":\"eth7\",\"IPEnabled\":true,\"DHCPEnabled\":false,\"IPAddress\":[\"10.1.0."
    "5\","
    "\"fd00::5\"],\"IPSubnet\":[\"255.255.255.0\",\"64\"],\"DefaultIPGateway\":null,\"GatewayCostMetric\":[1]"
    "},"
    "{\"Index\":8,\"Description\":\"eth8\",\"IPEnabled\":true,\"DHCPEnabled\":true},"
    "{\"Index\":9,\"Description\":\"eth9\",\"IPEnabled\":false}]}\n";
constexpr char kReturnZero[] = "{\"ok\":true,\"ReturnValue\":0}\n";

// --- COM helpers ---

class Bstr {
 public:
  explicit Bstr(const wchar_t* s) : b_(s ? SysAllocString(s) : nullptr) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return b_; }

 private:
  BSTR b_;
};

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

void StringArray(VARIANT& v, std::initializer_list<const wchar_t*> items) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(items.size()));
  LONG i = 0;
  for (const wchar_t* item : items) {
    BSTR b = SysAllocString(item);
    SafeArrayPutElement(a, &i, b);
    SysFreeString(b);
    ++i;
  }
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = a;
}

void IntArray(VARIANT& v, std::initializer_list<LONG> items) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(items.size()));
  LONG i = 0;
  for (LONG item : items) {
    SafeArrayPutElement(a, &i, &item);
    ++i;
  }
  v.vt = VT_ARRAY | VT_I4;
  v.parray = a;
}

HRESULT Connect(const wchar_t* resource, ComPtr<IWbemServices>& services, const wchar_t* user = nullptr) {
  ComPtr<IWbemLocator> locator;
  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
  if (FAILED(hr))
    return hr;
  Bstr r(resource);
  Bstr u(user);
  return locator->ConnectServer(r, u, nullptr, nullptr, 0, nullptr, nullptr, &services);
}

// ExecQuery and every Next: the first failure, or the objects.
HRESULT Query(IWbemServices* s,
              const wchar_t* text,
              std::vector<ComPtr<IWbemClassObject>>* objects = nullptr,
              const wchar_t* language = L"WQL",
              LONG flags = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY) {
  ComPtr<IEnumWbemClassObject> e;
  Bstr l(language);
  Bstr q(text);
  HRESULT hr = s->ExecQuery(l, q, flags, nullptr, &e);
  while (SUCCEEDED(hr)) {
    ComPtr<IWbemClassObject> o;
    ULONG n = 0;
    hr = e->Next(static_cast<LONG>(WBEM_INFINITE), 1, &o, &n);
    if (FAILED(hr) || n == 0)
      break;
    if (objects)
      objects->push_back(o);
  }
  return FAILED(hr) ? hr : S_OK;
}

std::wstring Text(IWbemClassObject* o, const wchar_t* name) {
  Var v;
  if (FAILED(o->Get(name, 0, &v.v, nullptr, nullptr)) || v.v.vt != VT_BSTR)
    return L"<none>";
  return v.v.bstrVal;
}

HRESULT InParameters(IWbemServices* s,
                     const wchar_t* cls,
                     const wchar_t* method,
                     ComPtr<IWbemClassObject>& in) {
  ComPtr<IWbemClassObject> c;
  ComPtr<IWbemClassObject> signature;
  Bstr name(cls);
  HRESULT hr = s->GetObject(name, 0, nullptr, &c, nullptr);
  if (SUCCEEDED(hr))
    hr = c->GetMethod(method, 0, &signature, nullptr);
  if (SUCCEEDED(hr) && signature)
    hr = signature->SpawnInstance(0, &in);
  return hr;
}

HRESULT Exec(IWbemServices* s,
             const wchar_t* path,
             const wchar_t* method,
             IWbemClassObject* in,
             LONG* result) {
  Bstr p(path);
  Bstr m(method);
  ComPtr<IWbemClassObject> out;
  HRESULT hr = s->ExecMethod(p, m, 0, nullptr, in, &out, nullptr);
  if (SUCCEEDED(hr) && result) {
    Var v;
    hr = out->Get(L"ReturnValue", 0, &v.v, nullptr, nullptr);
    *result = v.v.vt == VT_I4 ? v.v.lVal : -12345;  // ReturnValue must arrive as VT_I4
  }
  return hr;
}

std::wstring Signature(IWbemClassObject* o) {
  if (!o)
    return L"null";
  SAFEARRAY* names = nullptr;
  if (FAILED(o->GetNames(nullptr, WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &names)))
    return L"?";
  std::wstring text;
  LONG high = -1;
  SafeArrayGetUBound(names, 1, &high);
  for (LONG i = 0; i <= high; ++i) {
    BSTR name = nullptr;
    SafeArrayGetElement(names, &i, &name);
    CIMTYPE type = 0;
    o->Get(name, 0, nullptr, &type, nullptr);
    static const struct {
      CIMTYPE t;
      const wchar_t* n;
    } kTypes[] = {{CIM_STRING, L"string"}, {CIM_UINT16, L"uint16"}, {CIM_UINT32, L"uint32"}};
    const wchar_t* type_name = L"?";
    for (const auto& k : kTypes) {
      if (k.t == (type & ~CIM_FLAG_ARRAY))
        type_name = k.n;
    }
    text += (text.empty() ? L"" : L" ") + std::wstring(name) + L":" + type_name +
            ((type & CIM_FLAG_ARRAY) ? L"[]" : L"");
    SysFreeString(name);
  }
  SafeArrayDestroy(names);
  return text;
}

// --- the checks ---

void Namespaces() {
  static const struct {
    const wchar_t* resource;
    const wchar_t* user;
    HRESULT want;
  } kCases[] = {
      {L"\\\\.\\root\\cimv2", nullptr, S_OK},
      {L"root\\cimv2", nullptr, S_OK},
      {L"ROOT\\CIMV2", nullptr, S_OK},
      {L"//./root/cimv2", nullptr, S_OK},
      {L"\\\\localhost\\root\\cimv2", nullptr, S_OK},
      {L"root\\default", nullptr, HRESULT(WBEM_E_INVALID_NAMESPACE)},
      {L"\\\\.\\root\\nosuch", nullptr, HRESULT(WBEM_E_INVALID_NAMESPACE)},
      {L"root\\cimv2", L"someone", HRESULT(WBEM_E_LOCAL_CREDENTIALS)},
  };
  for (const auto& c : kCases) {
    ComPtr<IWbemServices> s;
    CheckHr(Connect(c.resource, s, c.user), c.want,
            std::wstring(L"ConnectServer ") + c.resource + (c.user ? L" with a user" : L""));
  }
  ComPtr<IWbemLocator> locator;
  CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
  Bstr r(L"root\\cimv2");
  CheckHr(locator->ConnectServer(r, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr),
          HRESULT(WBEM_E_INVALID_PARAMETER), L"ConnectServer without an out pointer");
}

void Queries(IWbemServices* s, ScriptedAgent& agent) {
  agent.Answer(kAdapters);
  static const struct {
    const wchar_t* language;
    const wchar_t* query;
    HRESULT want;
    std::size_t count;
  } kCases[] = {
      {L"WQL", L"Select * from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE", S_OK, 2},
      {L"wql", L"SELECT * FROM win32_networkadapterconfiguration WHERE ipenabled = false", S_OK, 1},
      {L"WQL", L"Select * from Win32_NetworkAdapterConfiguration where Description = 'ETH8' OR Index = 9",
       S_OK, 2},
      {L"WQL",
       L"Select Name from Win32_Process Where Name = 'Netrig_Provider_Check.EXE' OR Name = 'none.exe'", S_OK,
       1},
      {L"SQL", L"Select * from Win32_Process", HRESULT(WBEM_E_INVALID_QUERY_TYPE), 0},
      {L"WQL", L"Select * from NoSuchClass", HRESULT(WBEM_E_INVALID_CLASS), 0},
      {L"WQL", L"Select NoSuchProperty from Win32_Process", HRESULT(WBEM_E_INVALID_QUERY), 0},
      {L"WQL", L"Select * Win32_Process", HRESULT(WBEM_E_INVALID_QUERY), 0},
      {L"WQL", L"Select * from Win32_Process where Name = 'open", HRESULT(WBEM_E_INVALID_QUERY), 0},
      {L"WQL", L"Select * from Win32_Process where NoSuch = 'x'", HRESULT(WBEM_E_INVALID_QUERY), 0},
      {L"WQL", L"Select * from Win32_NetworkAdapterConfiguration where IPEnabled = 'yes'",
       HRESULT(WBEM_E_INVALID_QUERY), 0},
      {L"WQL", L"Select * from Win32_NetworkAdapterConfiguration where IPAddress = '10.1.0.5'",
       HRESULT(WBEM_E_INVALID_QUERY), 0},
  };
  for (const auto& c : kCases) {
    std::vector<ComPtr<IWbemClassObject>> objects;
    const HRESULT hr = Query(s, c.query, &objects, c.language);
    Check(hr == c.want && objects.size() == c.count, std::wstring(L"query ") + c.query,
          L"got " + Hex(hr) + L" with " + std::to_wstring(objects.size()) + L" objects");
  }
}

void SelectedProperties(IWbemServices* s, ScriptedAgent& agent) {
  agent.Answer(kAdapters);
  std::vector<ComPtr<IWbemClassObject>> objects;
  Query(s, L"Select IPAddress, DHCPEnabled from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE",
        &objects);
  if (objects.empty())
    return Check(false, L"selected properties", L"no objects");
  static const struct {
    const wchar_t* name;
    HRESULT want;
    VARTYPE vt;
    CIMTYPE type;
  } kCases[] = {
      {L"IPAddress", S_OK, VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY},
      {L"ipaddress", S_OK, VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY},
      {L"DHCPEnabled", S_OK, VT_BOOL, CIM_BOOLEAN},
      {L"Index", S_OK, VT_I4, CIM_UINT32},  // the key comes along
      {L"__PATH", S_OK, VT_BSTR, CIM_STRING},
      {L"IPSubnet", HRESULT(WBEM_E_NOT_FOUND), VT_EMPTY, 0},
      {L"Description", HRESULT(WBEM_E_NOT_FOUND), VT_EMPTY, 0},
  };
  for (const auto& c : kCases) {
    Var v;
    CIMTYPE type = 0;
    const HRESULT hr = objects[0]->Get(c.name, 0, &v.v, &type, nullptr);
    Check(hr == c.want && v.v.vt == c.vt && type == c.type, std::wstring(L"selected query, Get ") + c.name,
          L"got " + Hex(hr) + L" vt " + std::to_wstring(v.v.vt) + L" type " + std::to_wstring(type));
  }
  wchar_t host[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(host, &size);
  const std::wstring path =
      std::wstring(L"\\\\") + host + L"\\root\\cimv2:Win32_NetworkAdapterConfiguration.Index=7";
  Check(Text(objects[0].Get(), L"__PATH") == path, L"__PATH names the adapter's key",
        Text(objects[0].Get(), L"__PATH"));
  objects.clear();
  Query(s, L"Select * from Win32_NetworkAdapterConfiguration where Index = 7", &objects);
  Var gateway;
  Check(objects.size() == 1 &&
            SUCCEEDED(objects[0]->Get(L"DefaultIPGateway", 0, &gateway.v, nullptr, nullptr)) &&
            gateway.v.vt == VT_NULL,
        L"a null list reads as VT_NULL");
}

void Signatures(IWbemServices* s) {
  static const struct {
    const wchar_t* cls;
    const wchar_t* method;
    HRESULT want;
    const wchar_t* in;
  } kCases[] = {
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", S_OK,
       L"IPAddress:string[] SubnetMask:string[]"},
      {L"Win32_NetworkAdapterConfiguration", L"SetGateways", S_OK,
       L"DefaultIPGateway:string[] GatewayCostMetric:uint16[]"},
      {L"Win32_NetworkAdapterConfiguration", L"SetDNSServerSearchOrder", S_OK,
       L"DNSServerSearchOrder:string[]"},
      {L"Win32_NetworkAdapterConfiguration", L"EnableDHCP", S_OK, L"null"},
      {L"Win32_Process", L"Terminate", S_OK, L"Reason:uint32"},
      {L"Win32_NetworkAdapterConfiguration", L"NoSuchMethod", HRESULT(WBEM_E_NOT_FOUND), L"null"},
      {L"Win32_NetworkAdapterConfiguration", L"RenewDHCPLease", HRESULT(WBEM_E_NOT_SUPPORTED), L"null"},
  };
  for (const auto& c : kCases) {
    ComPtr<IWbemClassObject> cls;
    ComPtr<IWbemClassObject> in;
    ComPtr<IWbemClassObject> out;
    Bstr name(c.cls);
    HRESULT hr = s->GetObject(name, 0, nullptr, &cls, nullptr);
    if (SUCCEEDED(hr))
      hr = cls->GetMethod(c.method, 0, &in, &out);
    const std::wstring got = Signature(in.Get());
    const std::wstring out_got = SUCCEEDED(hr) ? Signature(out.Get()) : L"null";
    const std::wstring out_want = SUCCEEDED(c.want) ? L"ReturnValue:uint32" : L"null";
    Check(hr == c.want && got == c.in && out_got == out_want, std::wstring(L"GetMethod ") + c.method,
          L"got " + Hex(hr) + L" in " + got + L" out " + out_got);
  }
  ComPtr<IWbemClassObject> none;
  Bstr missing(L"NoSuchClass");
  CheckHr(s->GetObject(missing, 0, nullptr, &none, nullptr), HRESULT(WBEM_E_NOT_FOUND),
          L"GetObject of no class");
}

void Puts(IWbemServices* s) {
  enum Value { kStrings, kString, kInts, kInt, kShort, kText, kBig, kNull };
  static const struct {
    const wchar_t* cls;
    const wchar_t* method;
    const wchar_t* name;
    Value value;
    HRESULT want;
  } kCases[] = {
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"IPAddress", kStrings, S_OK},
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"ipaddress", kNull, S_OK},
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"IPAddress", kString,
       HRESULT(WBEM_E_TYPE_MISMATCH)},
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"IPAddress", kInts,
       HRESULT(WBEM_E_TYPE_MISMATCH)},
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"Gateway", kStrings,
       HRESULT(WBEM_E_NOT_FOUND)},
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"__CLASS", kString, HRESULT(WBEM_E_READ_ONLY)},
      {L"Win32_NetworkAdapterConfiguration", L"SetGateways", L"GatewayCostMetric", kInts, S_OK},
      {L"Win32_NetworkAdapterConfiguration", L"SetGateways", L"GatewayCostMetric", kStrings,
       HRESULT(WBEM_E_TYPE_MISMATCH)},
      {L"Win32_NetworkAdapterConfiguration", L"SetGateways", L"GatewayCostMetric", kBig,
       HRESULT(WBEM_E_TYPE_MISMATCH)},
      {L"Win32_Process", L"Terminate", L"Reason", kInt, S_OK},
      {L"Win32_Process", L"Terminate", L"Reason", kShort,
       HRESULT(WBEM_E_TYPE_MISMATCH)},  // documented for uint32
      {L"Win32_Process", L"Terminate", L"Reason", kText, HRESULT(WBEM_E_TYPE_MISMATCH)},
  };
  for (const auto& c : kCases) {
    ComPtr<IWbemClassObject> in;
    HRESULT hr = InParameters(s, c.cls, c.method, in);
    Var v;
    switch (c.value) {
      case kStrings:
        StringArray(v.v, {L"10.1.0.5"});
        break;
      case kString:
        v.v.vt = VT_BSTR;
        v.v.bstrVal = SysAllocString(L"10.1.0.5");
        break;
      case kInts:
        IntArray(v.v, {1});
        break;
      case kBig:
        IntArray(v.v, {70000});
        break;
      case kInt:
        v.v.vt = VT_I4;
        v.v.lVal = 3;
        break;
      case kShort:
        v.v.vt = VT_I2;
        v.v.iVal = 3;
        break;
      case kText:
        v.v.vt = VT_BSTR;
        v.v.bstrVal = SysAllocString(L"three");
        break;
      case kNull:
        v.v.vt = VT_NULL;
        break;
    }
    if (SUCCEEDED(hr))
      hr = in->Put(c.name, 0, &v.v, 0);
    CheckHr(hr, c.want,
            std::wstring(L"Put ") + c.method + L"." + c.name + L" (case " + std::to_wstring(c.value) + L")");
  }
}

void Methods(IWbemServices* s, ScriptedAgent& agent) {
  constexpr wchar_t kAdapter[] = L"Win32_NetworkAdapterConfiguration";
  enum In { kNone, kBoth, kAddressOnly, kEmpty, kGatewaysObject };
  static const struct {
    const wchar_t* path;
    const wchar_t* method;
    In in;
    const char* answer;
    HRESULT want;
    const char* request;  // what the agent must have been asked, or null
  } kCases[] = {
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableStatic", kBoth, kReturnZero, S_OK,
       "{\"op\":\"method\",\"method\":\"EnableStatic\",\"Index\":7,\"params\":{\"IPAddress\":[\"10.1.0.5\"],"
       "\"SubnetMask\":[\"255.255.255.0\"]}}"},
      {L"\\\\.\\root\\cimv2:Win32_NetworkAdapterConfiguration.Index=\"8\"", L"EnableStatic", kBoth,
       kReturnZero, S_OK, nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"SetDNSServerSearchOrder", kEmpty, kReturnZero, S_OK,
       "{\"op\":\"method\",\"method\":\"SetDNSServerSearchOrder\",\"Index\":7,\"params\":{}}"},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableDHCP", kNone, kReturnZero, S_OK,
       "{\"op\":\"method\",\"method\":\"EnableDHCP\",\"Index\":7,\"params\":{}}"},
      {L"Win32_NetworkAdapterConfiguration.Index=", L"EnableDHCP", kNone, kReturnZero,
       HRESULT(WBEM_E_INVALID_OBJECT_PATH), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=abc", L"EnableDHCP", kNone, kReturnZero,
       HRESULT(WBEM_E_INVALID_OBJECT_PATH), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Name=7", L"EnableDHCP", kNone, kReturnZero,
       HRESULT(WBEM_E_INVALID_OBJECT_PATH), nullptr},
      {L"NoSuchClass.Index=7", L"EnableDHCP", kNone, kReturnZero, HRESULT(WBEM_E_INVALID_CLASS), nullptr},
      {L"\\\\.\\root\\default:Win32_NetworkAdapterConfiguration.Index=7", L"EnableDHCP", kNone, kReturnZero,
       HRESULT(WBEM_E_INVALID_NAMESPACE), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"NoSuchMethod", kNone, kReturnZero,
       HRESULT(WBEM_E_INVALID_METHOD), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableStatic", kAddressOnly, kReturnZero,
       HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableStatic", kNone, kReturnZero,
       HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableStatic", kGatewaysObject, kReturnZero,
       HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableDHCP", kBoth, kReturnZero,
       HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS), nullptr},
      {L"Win32_NetworkAdapterConfiguration.Index=99", L"EnableDHCP", kNone,
       "{\"ok\":false,\"hresult\":\"0x80041002\"}\n", HRESULT(WBEM_E_NOT_FOUND), nullptr},
      {L"Win32_Process.Handle=\"999999\"", L"Terminate", kNone, kReturnZero, HRESULT(WBEM_E_NOT_FOUND),
       nullptr},
  };
  for (const auto& c : kCases) {
    agent.Answer(c.answer);
    ComPtr<IWbemClassObject> in;
    if (c.in != kNone)
      InParameters(s, kAdapter,
                   c.in == kGatewaysObject ? L"SetGateways"
                   : c.in == kEmpty        ? c.method
                                           : L"EnableStatic",
                   in);
    Var addresses;
    Var masks;
    StringArray(addresses.v, {L"10.1.0.5"});
    StringArray(masks.v, {L"255.255.255.0"});
    if (c.in == kBoth || c.in == kAddressOnly)
      in->Put(L"IPAddress", 0, &addresses.v, 0);
    if (c.in == kBoth)
      in->Put(L"SubnetMask", 0, &masks.v, 0);
    LONG result = -1;
    const HRESULT hr = Exec(s, c.path, c.method, in.Get(), &result);
    const std::string request = agent.Request();
    const bool asked_right = !c.request || request == c.request;
    Check(hr == c.want && (FAILED(hr) || result == 0) && asked_right,
          std::wstring(L"ExecMethod ") + c.path + L" " + c.method + L" (in " + std::to_wstring(c.in) + L")",
          L"got " + Hex(hr) + L" ReturnValue " + std::to_wstring(result) + L" request " +
              std::wstring(request.begin(), request.end()));
  }
}

// The stand-in asks the agent before it ends a process: a fault held for Terminate answers instead.
void Terminates(IWbemServices* s, ScriptedAgent& agent) {
  static const struct {
    const char* answer;
    LONG want_result;
    bool want_ended;
    const wchar_t* name;
  } kCases[] = {
      {"{\"ok\":true}\n", 0, true, L"Terminate without in-parameters ends the process"},
      {"{\"ok\":true,\"ReturnValue\":2}\n", 2, false, L"Terminate, the agent's fault: 2, the process runs on"},
  };
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(exe) + L"\" sleep";
  for (const auto& c : kCases) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return Check(false, c.name, L"could not start a process");
    agent.Answer(c.answer);
    const std::wstring path = L"Win32_Process.Handle=\"" + std::to_wstring(pi.dwProcessId) + L"\"";
    LONG result = -1;
    const HRESULT hr = Exec(s, path.c_str(), L"Terminate", nullptr, &result);
    const std::string request = agent.Request();
    const bool ended = WaitForSingleObject(pi.hProcess, c.want_ended ? 5000 : 500) == WAIT_OBJECT_0;
    Check(hr == S_OK && result == c.want_result && ended == c.want_ended &&
              request.find("\"op\":\"terminate\"") != std::string::npos,
          c.name,
          L"got " + Hex(hr) + L" ReturnValue " + std::to_wstring(result) + (ended ? L", ended" : L", running") +
              L", request " + std::wstring(request.begin(), request.end()));
    if (!ended)
      TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
}

void ProviderFailures(IWbemServices* s, ScriptedAgent& agent) {
  static const struct {
    const char* answer;  // null: no agent at the address
    bool method;
    HRESULT want;
    const wchar_t* name;
  } kCases[] = {
      {nullptr, false, HRESULT(WBEM_E_PROVIDER_FAILURE), L"no agent listening"},
      {"", false, HRESULT(WBEM_E_PROVIDER_FAILURE), L"agent closes without an answer"},
      {"hello\n", false, HRESULT(WBEM_E_PROVIDER_FAILURE), L"answer not JSON"},
      {"{\"ok\":true}\n", false, HRESULT(WBEM_E_PROVIDER_FAILURE), L"no adapters list"},
      {"{\"ok\":true,\"adapters\":[{\"Index\":\"7\"}]}\n", false, HRESULT(WBEM_E_PROVIDER_FAILURE),
       L"Index not a number"},
      {"{\"ok\":true,\"adapters\":[{\"Index\":7,\"Speed\":1}]}\n", false, HRESULT(WBEM_E_PROVIDER_FAILURE),
       L"a property the class lacks"},
      {"{\"ok\":true,\"adapters\":[{\"Index\":7,\"IPAddress\":\"10.1.0.5\"}]}\n", false,
       HRESULT(WBEM_E_PROVIDER_FAILURE), L"a list sent as a string"},
      {"{\"ok\":false,\"hresult\":\"0x00000000\"}\n", false, HRESULT(WBEM_E_PROVIDER_FAILURE),
       L"a made-up success"},
      {"{\"ok\":false,\"hresult\":\"0x80041001\"}\n", false, HRESULT(WBEM_E_FAILED),
       L"the agent's own failure code"},
      {"{\"ok\":true,\"ReturnValue\":-1}\n", true, HRESULT(WBEM_E_PROVIDER_FAILURE),
       L"ReturnValue out of range"},
      {"{\"ok\":true}\n", true, HRESULT(WBEM_E_PROVIDER_FAILURE), L"no ReturnValue"},
      {"{\"ok\":true,\"adapters\":[{\"Index\":7}],\"retype\":{\"name\":\"DHCPEnabled\",\"vt\":\"VT_BOGUS\",\"value\":1}}\n",
       false, HRESULT(WBEM_E_PROVIDER_FAILURE), L"a retype to a type that has no name"},
      {"{\"ok\":false,\"hresult\":\"0x80041001\"}\n", true, HRESULT(WBEM_E_FAILED),
       L"the agent's method failure code"},
  };
  for (const auto& c : kCases) {
    if (c.answer) {
      agent.Use();
      agent.Answer(c.answer);
    } else {
      SetEnvironmentVariableW(L"NETRIG_AGENT", L"127.0.0.1:1");
    }
    HRESULT hr;
    if (c.method)
      hr = Exec(s, L"Win32_NetworkAdapterConfiguration.Index=7", L"EnableDHCP", nullptr, nullptr);
    else
      hr = Query(s, L"Select * from Win32_NetworkAdapterConfiguration");
    CheckHr(hr, c.want, std::wstring(L"provider failure: ") + c.name);
  }
  SetEnvironmentVariableW(L"NETRIG_AGENT", nullptr);
  CheckHr(
      Query(s, L"Select * from Win32_NetworkAdapterConfiguration", nullptr, L"WQL", WBEM_FLAG_FORWARD_ONLY),
      HRESULT(WBEM_E_PROVIDER_FAILURE), L"provider failure: NETRIG_AGENT unset, synchronous query");
  agent.Use();
}

// The record holds the program's COM shapes: the lead's lane asserts them, so their form is checked.
void RecordLines(const std::wstring& file) {
  std::string text;
  if (FILE* f = _wfopen(file.c_str(), L"rb")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
      text.append(buffer, n);
    std::fclose(f);
  }
  static const char* const kLines[] = {
      "{\"call\":\"ExecMethod\",\"path\":\"Win32_NetworkAdapterConfiguration.Index=7\",\"method\":"
      "\"EnableStatic\","
      "\"in\":[{\"name\":\"IPAddress\",\"vt\":\"VT_ARRAY|VT_BSTR\",\"value\":[\"10.1.0.5\"]},{\"name\":"
      "\"SubnetMask\",\"vt\":\"VT_ARRAY|VT_BSTR\",\"value\":[\"255.255.255.0\"]}],\"ReturnValue\":0,\"hr\":"
      "\"0x00000000\"}\n",
      "{\"call\":\"ExecMethod\",\"path\":\"Win32_NetworkAdapterConfiguration.Index=7\",\"method\":"
      "\"SetDNSServerSearchOrder\",\"in\":[],\"ReturnValue\":0,\"hr\":\"0x00000000\"}\n",
      "{\"call\":\"ExecMethod\",\"path\":\"Win32_NetworkAdapterConfiguration.Index=7\",\"method\":"
      "\"EnableDHCP\","
      "\"in\":null,\"ReturnValue\":0,\"hr\":\"0x00000000\"}\n",
      "{\"call\":\"Put\",\"class\":\"__PARAMETERS\",\"method\":\"SetGateways\",\"name\":"
      "\"GatewayCostMetric\","
      "\"vt\":\"VT_ARRAY|VT_I4\",\"value\":[1],\"hr\":\"0x00000000\"}\n",
      "{\"call\":\"ExecQuery\",\"language\":\"WQL\",\"query\":\"Select * Win32_Process\",\"flags\":48,\"hr\":"
      "\"0x80041017\"}\n",
  };
  for (const char* line : kLines) {
    const std::string want = line;
    Check(text.find(want) != std::string::npos,
          L"record line " + std::wstring(want.begin(), want.begin() + 90) + L"...");
  }
}

void Live(IWbemServices* s) {
  std::vector<ComPtr<IWbemClassObject>> objects;
  const HRESULT hr =
      Query(s, L"Select * from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE", &objects);
  Check(hr == S_OK && !objects.empty(), L"live: the agent lists IP-enabled adapters",
        L"got " + Hex(hr) + L" with " + std::to_wstring(objects.size()));
  if (objects.empty())
    return;
  const std::wstring path = Text(objects[0].Get(), L"__PATH");
  ComPtr<IWbemClassObject> in;
  InParameters(s, L"Win32_NetworkAdapterConfiguration", L"EnableStatic", in);
  Var addresses;
  Var masks;
  StringArray(addresses.v, {L"999.1.1.1"});
  StringArray(masks.v, {L"255.255.255.0"});
  in->Put(L"IPAddress", 0, &addresses.v, 0);
  in->Put(L"SubnetMask", 0, &masks.v, 0);
  LONG result = -1;
  const HRESULT exec = Exec(s, path.c_str(), L"EnableStatic", in.Get(), &result);
  Check(exec == S_OK && result == 70, L"live: EnableStatic of 999.1.1.1 gives 70 as VT_I4",
        L"got " + Hex(exec) + L" ReturnValue " + std::to_wstring(result));
  CheckHr(Exec(s, L"Win32_NetworkAdapterConfiguration.Index=4000000000", L"EnableDHCP", nullptr, nullptr),
          HRESULT(WBEM_E_NOT_FOUND), L"live: an Index the agent does not know");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"sleep") {
    Sleep(60000);
    return 0;
  }
  _setmode(_fileno(stdout), _O_BINARY);
  // The provider reads NETRIG_RECORD once, at its first record line.
  wchar_t record[MAX_PATH] = L"";
  if (!GetEnvironmentVariableW(L"NETRIG_RECORD", record, MAX_PATH)) {
    GetTempPathW(MAX_PATH, record);
    wcscat(record, L"netrig-provider-check.jsonl");
    DeleteFileW(record);
    SetEnvironmentVariableW(L"NETRIG_RECORD", record);
  }
  std::wstring record_file = record;
  if (!record_file.empty() && record_file[0] == L'/') {
    for (wchar_t& c : record_file) {
      if (c == L'/')
        c = L'\\';
    }
    record_file = L"Z:" + record_file;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                       nullptr, EOAC_NONE, nullptr);
  {
    ComPtr<IWbemServices> s;
    const HRESULT hr = Connect(L"\\\\.\\root\\cimv2", s);
    CheckHr(hr, S_OK, L"connect to the stand-in");
    if (SUCCEEDED(hr)) {
      CheckHr(CoSetProxyBlanket(s.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
              S_OK, L"CoSetProxyBlanket on the services");
      if (mode == L"live")
        Live(s.Get());
      wchar_t real_agent[64] = L"";
      GetEnvironmentVariableW(L"NETRIG_AGENT", real_agent, 64);
      ScriptedAgent agent;
      agent.Use();
      Namespaces();
      Queries(s.Get(), agent);
      SelectedProperties(s.Get(), agent);
      Signatures(s.Get());
      Puts(s.Get());
      Methods(s.Get(), agent);
      Terminates(s.Get(), agent);
      ProviderFailures(s.Get(), agent);
      RecordLines(record_file);
      SetEnvironmentVariableW(L"NETRIG_AGENT", *real_agent ? real_agent : nullptr);
    }
  }
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  std::fflush(stdout);
  CoUninitialize();
  return g_failed == 0 ? 0 : 1;
}
