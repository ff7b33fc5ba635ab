// WMI over COM: binding, queries, properties and method calls, each failure as a ManagementError.
#include "wmi.h"

#include <wbemidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>
#include <utility>

#include "wmi_errors.h"

namespace ipsetter::win32 {

using Microsoft::WRL::ComPtr;
using wmi_detail::CallMethod;
using wmi_detail::MakeInt32Array;
using wmi_detail::MakeStringArray;
using wmi_detail::MethodArgument;
using wmi_detail::MethodTarget;
using wmi_detail::NamespaceOfMoniker;
using wmi_detail::ToValue;

namespace {

constexpr std::uint32_t kNotFound = WBEM_E_NOT_FOUND;
constexpr std::uint32_t kInvalidNamespace = WBEM_E_INVALID_NAMESPACE;
constexpr std::uint32_t kInvalidMethod = WBEM_E_INVALID_METHOD;
constexpr std::uint32_t kInvalidMethodParameters = WBEM_E_INVALID_METHOD_PARAMETERS;
constexpr std::uint32_t kInvalidObjectPath = WBEM_E_INVALID_OBJECT_PATH;
constexpr std::uint32_t kOutOfMemory = static_cast<std::uint32_t>(E_OUTOFMEMORY);

// WBEM_INFINITE; the enumerator does not fit the LONG that Next takes.
constexpr LONG kWaitForever = -1;
constexpr wchar_t kMonikerPrefix[] = L"winmgmts:";
constexpr wchar_t kLocalCimv2[] = L"\\\\.\\root\\cimv2";
constexpr wchar_t kDefaultNamespace[] = L"root\\cimv2";

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr))
    throw WmiError(static_cast<std::uint32_t>(hr));
}

[[noreturn]] void ThrowTypeMismatchError() {
  throw WmiError(kWbemTypeMismatch);
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

ScopedBstr MakeBstr(std::wstring_view text) {
  ScopedBstr bstr(text);
  if (!bstr.Get())
    throw WmiError(kOutOfMemory);
  return bstr;
}

// --- VARIANT to Value ---

Value ScalarToValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return Value();
    case VT_BOOL:
      return Value(v.boolVal != VARIANT_FALSE);
    case VT_I1:
      return Value(static_cast<std::int64_t>(static_cast<signed char>(v.cVal)));
    case VT_UI1:
      return Value(static_cast<std::int64_t>(v.bVal));
    case VT_I2:
      return Value(static_cast<std::int64_t>(v.iVal));
    case VT_UI2:
      return Value(static_cast<std::int64_t>(v.uiVal));
    case VT_I4:
      return Value(static_cast<std::int64_t>(v.lVal));
    case VT_UI4:
      return Value(static_cast<std::int64_t>(v.ulVal));
    case VT_INT:
      return Value(static_cast<std::int64_t>(v.intVal));
    case VT_UINT:
      return Value(static_cast<std::int64_t>(v.uintVal));
    case VT_I8:
      return Value(static_cast<std::int64_t>(v.llVal));
    case VT_UI8:
      if (v.ullVal > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max()))
        ThrowTypeMismatchError();
      return Value(static_cast<std::int64_t>(v.ullVal));
    case VT_R4:
      return Value(static_cast<double>(v.fltVal));
    case VT_R8:
      return Value(v.dblVal);
    case VT_BSTR:
      return Value(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)));
    default:
      ThrowTypeMismatchError();
  }
}

// Where SafeArrayGetElement should put an element of `type` inside a VARIANT; null for the
// element types that are not read.
void* ElementSlot(VARIANT& v, VARTYPE type) {
  switch (type) {
    case VT_BOOL:
      return &v.boolVal;
    case VT_I1:
      return &v.cVal;
    case VT_UI1:
      return &v.bVal;
    case VT_I2:
      return &v.iVal;
    case VT_UI2:
      return &v.uiVal;
    case VT_I4:
      return &v.lVal;
    case VT_UI4:
      return &v.ulVal;
    case VT_INT:
      return &v.intVal;
    case VT_UINT:
      return &v.uintVal;
    case VT_I8:
      return &v.llVal;
    case VT_UI8:
      return &v.ullVal;
    case VT_R4:
      return &v.fltVal;
    case VT_R8:
      return &v.dblVal;
    case VT_BSTR:
      return &v.bstrVal;
    default:
      return nullptr;
  }
}

Value ElementToValue(SAFEARRAY* array, LONG index, VARTYPE type) {
  ScopedVariant element;
  VARIANT* raw = element.Receive();
  if (type == VT_VARIANT) {
    ThrowIfFailed(SafeArrayGetElement(array, &index, raw));
    return ToValue(element.Get());
  }
  ThrowIfFailed(SafeArrayGetElement(array, &index, ElementSlot(*raw, type)));
  // Only now does the VARIANT own what was copied in (a BSTR), so it is freed on every path.
  raw->vt = type;
  return ScalarToValue(element.Get());
}

Value ArrayToValue(SAFEARRAY* array, VARTYPE type) {
  if (!array)
    return Value();
  if (type != VT_VARIANT) {
    VARIANT probe;
    VariantInit(&probe);
    if (!ElementSlot(probe, type))
      ThrowTypeMismatchError();
  }
  if (SafeArrayGetDim(array) != 1)
    ThrowTypeMismatchError();
  LONG lower = 0;
  LONG upper = 0;
  ThrowIfFailed(SafeArrayGetLBound(array, 1, &lower));
  ThrowIfFailed(SafeArrayGetUBound(array, 1, &upper));
  Value::Array items;
  // 64-bit index: an upper bound of LONG_MAX must not wrap the loop.
  for (std::int64_t i = lower; i <= upper; ++i)
    items.push_back(ElementToValue(array, static_cast<LONG>(i), type));
  return Value(std::move(items));
}

// --- In-parameters and method calls ---

// Empty when the object lacks it: Wine leaves out __PATH when a query selects properties, where
// Windows adds it with the key properties.
std::wstring SystemString(IWbemClassObject* object, const wchar_t* name) {
  ScopedVariant value;
  if (FAILED(object->Get(name, 0, value.Receive(), nullptr, nullptr)) || value.Type() != VT_BSTR ||
      !value.Get().bstrVal) {
    return std::wstring();
  }
  // Wine's __PATH carries trailing nulls inside the BSTR's length; the path ends at the first.
  return value.Get().bstrVal;
}

// WMI hands ReturnValue over as VT_I4 also for uint32 results; its bits are the unsigned result.
std::uint32_t ReadReturnValue(IWbemClassObject* out_parameters) {
  if (!out_parameters)
    ThrowTypeMismatchError();
  ScopedVariant value;
  ThrowIfFailed(out_parameters->Get(L"ReturnValue", 0, value.Receive(), nullptr, nullptr));
  const Value result = ToValue(value.Get());
  if (!result.IsInteger())
    ThrowTypeMismatchError();
  return static_cast<std::uint32_t>(result.AsInteger());
}

std::vector<MethodArgument> Parameters(MethodArgument first) {
  std::vector<MethodArgument> parameters;
  parameters.push_back(std::move(first));
  return parameters;
}

std::vector<MethodArgument> Parameters(MethodArgument first, MethodArgument second) {
  std::vector<MethodArgument> parameters = Parameters(std::move(first));
  parameters.push_back(std::move(second));
  return parameters;
}

// --- The management-service interface ---

class WmiObject : public ManagementObject {
 public:
  WmiObject(ComPtr<IWbemServices> services, ComPtr<IWbemClassObject> object)
      : services_(std::move(services)),
        object_(std::move(object)),
        target_{SystemString(object_.Get(), L"__CLASS"), SystemString(object_.Get(), L"__PATH")} {}

  Value Property(const std::wstring& name) override {
    ScopedVariant value;
    ThrowIfFailed(object_->Get(name.c_str(), 0, value.Receive(), nullptr, nullptr));
    return ToValue(value.Get());
  }

  std::uint32_t EnableStatic(const std::vector<std::wstring>& addresses,
                             const std::vector<std::wstring>& masks) override {
    return Call(
        L"EnableStatic", true,
        Parameters({L"IPAddress", MakeStringArray(addresses)}, {L"SubnetMask", MakeStringArray(masks)}));
  }

  std::uint32_t SetGateways(const std::vector<std::wstring>& gateways,
                            const std::vector<std::int16_t>& metrics) override {
    // WMI carries uint16 as VT_I4 inside a VARIANT.
    const std::vector<std::int32_t> wide_metrics(metrics.begin(), metrics.end());
    return Call(L"SetGateways", true,
                Parameters({L"DefaultIPGateway", MakeStringArray(gateways)},
                           {L"GatewayCostMetric", MakeInt32Array(wide_metrics)}));
  }

  std::uint32_t SetDNSServerSearchOrder(const std::vector<std::wstring>& servers) override {
    return Call(L"SetDNSServerSearchOrder", true,
                Parameters({L"DNSServerSearchOrder", MakeStringArray(servers)}));
  }

  // The parameter is left unset, which is how WMI is told to clear the list.
  std::uint32_t SetDNSServerSearchOrder() override { return Call(L"SetDNSServerSearchOrder", true, {}); }

  std::uint32_t EnableDHCP() override { return Call(L"EnableDHCP", false, {}); }

  std::uint32_t Terminate() override { return Call(L"Terminate", false, {}); }

 private:
  std::uint32_t Call(const wchar_t* method, bool with_parameters, std::vector<MethodArgument> parameters) {
    return CallMethod(services_.Get(), target_, method, with_parameters, std::move(parameters));
  }

  ComPtr<IWbemServices> services_;
  ComPtr<IWbemClassObject> object_;
  MethodTarget target_;
};

class WmiService : public ManagementService {
 public:
  explicit WmiService(ComPtr<IWbemServices> services) : services_(std::move(services)) {}

  ResultSet ExecQuery(const std::wstring& query) override {
    const ScopedBstr language = MakeBstr(L"WQL");
    const ScopedBstr text = MakeBstr(query);
    ComPtr<IEnumWbemClassObject> enumerator;
    ThrowIfFailed(services_->ExecQuery(language.Get(), text.Get(),
                                       WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                       &enumerator));
    ResultSet results;
    for (;;) {
      ComPtr<IWbemClassObject> object;
      ULONG returned = 0;
      // With WBEM_FLAG_RETURN_IMMEDIATELY a bad query may only fail here.
      const HRESULT hr = enumerator->Next(kWaitForever, 1, &object, &returned);
      ThrowIfFailed(hr);
      if (returned == 0 || !object)
        break;
      results.push_back(std::make_unique<WmiObject>(services_, std::move(object)));
    }
    return results;
  }

 private:
  ComPtr<IWbemServices> services_;
};

class WmiLocator : public ManagementLocator {
 public:
  std::unique_ptr<ManagementService> Bind(const std::wstring& moniker) override {
    const ScopedBstr resource = MakeBstr(NamespaceOfMoniker(moniker));
    ComPtr<IWbemLocator> locator;
    ThrowIfFailed(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator)));
    ComPtr<IWbemServices> services;
    ThrowIfFailed(
        locator->ConnectServer(resource.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services));
    // Without impersonation the configuration methods fail on Windows. A service in this process
    // is no proxy and answers E_NOINTERFACE; it needs no blanket.
    const HRESULT hr =
        CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                          RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (hr != E_NOINTERFACE)
      ThrowIfFailed(hr);
    return std::make_unique<WmiService>(std::move(services));
  }
};

}  // namespace

std::unique_ptr<ManagementLocator> MakeWmiLocator() {
  return std::make_unique<WmiLocator>();
}

namespace wmi_detail {

// The class object -> the method's in-signature -> an instance of it with the arguments put in ->
// ExecMethod on the object's path. Without `with_parameters` no in-parameter object is passed.
std::uint32_t CallMethod(IWbemServices* services,
                         const MethodTarget& target,
                         const wchar_t* method,
                         bool with_parameters,
                         std::vector<MethodArgument> arguments) {
  if (target.class_name.empty())
    throw WmiError(kInvalidObjectPath);
  const ScopedBstr class_name = MakeBstr(target.class_name);
  ComPtr<IWbemClassObject> class_object;
  ThrowIfFailed(services->GetObject(class_name.Get(), 0, nullptr, &class_object, nullptr));
  ComPtr<IWbemClassObject> in_signature;
  const HRESULT found = class_object->GetMethod(method, 0, &in_signature, nullptr);
  // The class has no such method (Wine's adapter class has none): say so, not a bare "Not found".
  if (static_cast<std::uint32_t>(found) == kNotFound)
    throw WmiError(kInvalidMethod);
  ThrowIfFailed(found);

  ComPtr<IWbemClassObject> in_parameters;
  if (with_parameters) {
    if (!in_signature)
      throw WmiError(kInvalidMethodParameters);
    ThrowIfFailed(in_signature->SpawnInstance(0, &in_parameters));
    for (auto& argument : arguments)
      ThrowIfFailed(in_parameters->Put(argument.name, 0, argument.value.AsInput(), 0));
  }

  if (target.path.empty())
    throw WmiError(kInvalidObjectPath);
  const ScopedBstr path = MakeBstr(target.path);
  const ScopedBstr method_name = MakeBstr(method);
  ComPtr<IWbemClassObject> out_parameters;
  ThrowIfFailed(services->ExecMethod(path.Get(), method_name.Get(), 0, nullptr, in_parameters.Get(),
                                     &out_parameters, nullptr));
  return ReadReturnValue(out_parameters.Get());
}

std::wstring NamespaceOfMoniker(const std::wstring& moniker) {
  const std::size_t prefix_length = std::size(kMonikerPrefix) - 1;
  if (moniker.size() >= prefix_length && EqualsNoCase(moniker.substr(0, prefix_length), kMonikerPrefix)) {
    const std::wstring path = moniker.substr(prefix_length);
    if (path.empty())
      return kDefaultNamespace;
    if (EqualsNoCase(path, kLocalCimv2))
      return kLocalCimv2;
  }
  throw WmiError(kInvalidNamespace);
}

Value ToValue(const VARIANT& variant) {
  if ((variant.vt & ~VT_TYPEMASK) == VT_ARRAY)
    return ArrayToValue(variant.parray, static_cast<VARTYPE>(variant.vt & VT_TYPEMASK));
  return ScalarToValue(variant);
}

ScopedVariant MakeStringArray(const std::vector<std::wstring>& items) {
  ScopedSafeArray array(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(items.size())));
  if (!array.Get())
    throw WmiError(kOutOfMemory);
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    const ScopedBstr item = MakeBstr(items[static_cast<std::size_t>(i)]);
    // Stores a copy of the string.
    ThrowIfFailed(SafeArrayPutElement(array.Get(), &i, item.Get()));
  }
  ScopedVariant variant;
  variant.SetArray(std::move(array), VT_BSTR);
  return variant;
}

ScopedVariant MakeInt32Array(const std::vector<std::int32_t>& items) {
  ScopedSafeArray array(SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(items.size())));
  if (!array.Get())
    throw WmiError(kOutOfMemory);
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    LONG item = items[static_cast<std::size_t>(i)];
    ThrowIfFailed(SafeArrayPutElement(array.Get(), &i, &item));
  }
  ScopedVariant variant;
  variant.SetArray(std::move(array), VT_I4);
  return variant;
}

}  // namespace wmi_detail
}  // namespace ipsetter::win32
