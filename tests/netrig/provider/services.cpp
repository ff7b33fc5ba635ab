// The locator, the services object (with IClientSecurity), the query enumerator, the method calls,
// and the DLL's entry points.
#include <windows.h>

#include <tlhelp32.h>
#include <wbemcli.h>

#include <functional>
#include <memory>
#include <optional>

#include "channel.h"
#include "com_unknown.h"
#include "wbem_object.h"
#include "wql.h"

namespace netrig {

namespace {

using Objects = std::vector<ComPtr<WbemObject>>;

std::wstring Text(const wchar_t* s) {
  return s ? std::wstring(s) : std::wstring();
}

Json Line(const wchar_t* call) {
  Json line = Json::MakeObject();
  line.Add(L"call", Json::String(call));
  return line;
}

void RecordResult(Json line, HRESULT hr) {
  line.Add(L"hr", Json::String(HexCode(hr)));
  Record(line);
}

bool IsLocalServer(const std::wstring& server) {
  return server == L"." || EqualsNoCase(server, L"localhost") || EqualsNoCase(server, HostName());
}

// Every property of the class from a JSON object; a name the class lacks or a value that does not fit
// its CIM type is an agent fault.
bool InstanceValues(const ClassDef& c, const Json& object, std::vector<Property>& values) {
  if (object.kind() != Json::Kind::kObject)
    return false;
  for (const auto& [name, value] : object.AsObject()) {
    if (!FindProperty(c, name))
      return false;
  }
  for (const PropertyDef& p : c.properties) {
    Property property{p.name, p.type, p.key, Variant()};
    const Json* value = object.Find(p.name);
    if (!JsonToVariant(value ? *value : Json(), p.type, property.value.get()))
      return false;
    values.push_back(std::move(property));
  }
  return true;
}

// The agent's fault: one property of every row typed otherwise than the class says.
HRESULT Retype(const Json& retype, std::vector<std::vector<Property>>& rows) {
  const Json* name = retype.Find(L"name");
  const Json* vt = retype.Find(L"vt");
  const Json* value = retype.Find(L"value");
  Variant typed;
  if (!name || !vt || !value || name->kind() != Json::Kind::kString || vt->kind() != Json::Kind::kString ||
      !JsonAsVarType(*value, vt->AsString(), typed.get()))
    return HRESULT(WBEM_E_PROVIDER_FAILURE);
  for (auto& row : rows)
    for (Property& p : row)
      if (EqualsNoCase(p.name, name->AsString()))
        p.value = typed;
  return HRESULT(WBEM_S_NO_ERROR);
}

HRESULT AdapterRows(std::vector<std::vector<Property>>& rows) {
  Json request = Json::MakeObject();
  request.Add(L"op", Json::String(L"adapters"));
  AgentAnswer answer = AskAgent(request);
  if (FAILED(answer.hr))
    return answer.hr;
  const Json* adapters = answer.body.Find(L"adapters");
  if (!adapters || adapters->kind() != Json::Kind::kArray)
    return HRESULT(WBEM_E_PROVIDER_FAILURE);
  for (const Json& adapter : adapters->AsArray()) {
    const Json* index = adapter.Find(L"Index");
    std::vector<Property> values;
    if (!index || !index->AsInteger(0, 4294967295LL) ||
        !InstanceValues(*FindClass(kAdapterClass), adapter, values))
      return HRESULT(WBEM_E_PROVIDER_FAILURE);
    rows.push_back(std::move(values));
  }
  if (const Json* retype = answer.body.Find(L"retype"))
    return Retype(*retype, rows);
  return HRESULT(WBEM_S_NO_ERROR);
}

// The processes of this wineserver (Toolhelp), as Win32_Process describes them.
HRESULT ProcessRows(std::vector<std::vector<Property>>& rows) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return HRESULT(WBEM_E_PROVIDER_FAILURE);
  const std::wstring host = HostName();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    std::wstring name = entry.szExeFile;
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
      name = name.substr(slash + 1);
    Json p = Json::MakeObject();
    p.Add(L"Name", Json::String(name))
        .Add(L"Caption", Json::String(name))
        .Add(L"Description", Json::String(name))
        .Add(L"Handle", Json::String(std::to_wstring(entry.th32ProcessID)))
        .Add(L"ProcessId", Json::Number(entry.th32ProcessID))
        .Add(L"ParentProcessId", Json::Number(entry.th32ParentProcessID))
        .Add(L"ThreadCount", Json::Number(entry.cntThreads))
        .Add(L"Priority",
             Json::Number(static_cast<double>(entry.pcPriClassBase < 0 ? 0 : entry.pcPriClassBase)))
        .Add(L"CreationClassName", Json::String(kProcessClass))
        .Add(L"CSCreationClassName", Json::String(L"Win32_ComputerSystem"))
        .Add(L"CSName", Json::String(host))
        .Add(L"OSCreationClassName", Json::String(L"Win32_OperatingSystem"));
    if (const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
      wchar_t path[MAX_PATH];
      DWORD size = MAX_PATH;
      if (QueryFullProcessImageNameW(process, 0, path, &size))
        p.Add(L"ExecutablePath", Json::String(std::wstring(path, size)));
      CloseHandle(process);
    }
    std::vector<Property> values;
    InstanceValues(*FindClass(kProcessClass), p, values);
    rows.push_back(std::move(values));
  }
  CloseHandle(snapshot);
  return HRESULT(WBEM_S_NO_ERROR);
}

HRESULT Rows(const ClassDef& c, std::vector<std::vector<Property>>& rows) {
  return c.name == kAdapterClass ? AdapterRows(rows) : ProcessRows(rows);
}

// A query's rows, and whether its objects carry their keys: the agent may retype a process property
// or leave the keys out of a selection (they stay in the objects' paths).
HRESULT QueriedRows(const ClassDef& c, std::vector<std::vector<Property>>& rows, bool& keys) {
  keys = true;
  const HRESULT hr = Rows(c, rows);
  if (FAILED(hr) || c.name == kAdapterClass)
    return hr;
  Json request = Json::MakeObject();
  request.Add(L"op", Json::String(L"processes"));
  const AgentAnswer answer = AskAgent(request);
  if (FAILED(answer.hr))
    return answer.hr;
  const Json* fault = answer.body.Find(L"fault");
  if (!fault)
    return hr;
  if (const Json* keep = fault->Find(L"keys")) {
    keys = keep->kind() == Json::Kind::kBool && keep->AsBool();
    return hr;
  }
  return Retype(*fault, rows);
}

// --- object paths: [\\server\namespace:]Class[.Key=value | =value] ---

struct ObjectPath {
  const ClassDef* cls = nullptr;
  bool has_key = false;
  std::wstring key_value;  // as text; numbers in decimal
};

HRESULT ParsePath(const wchar_t* text, ObjectPath& path, HRESULT unknown_class) {
  if (!text)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  std::wstring s = text;  // stops at the first NUL, as a C string would
  std::size_t pos = 0;
  if (s.compare(0, 2, L"\\\\") == 0 || s.compare(0, 2, L"//") == 0) {
    const std::size_t end = s.find_first_of(L"\\/", 2);
    if (end == std::wstring::npos || !IsLocalServer(s.substr(2, end - 2)))
      return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
    pos = end + 1;
  }
  const std::size_t colon = s.find(L':', pos);
  if (colon != std::wstring::npos) {
    std::wstring ns = s.substr(pos, colon - pos);
    for (wchar_t& c : ns) {
      if (c == L'/')
        c = L'\\';
    }
    if (!EqualsNoCase(ns, L"root\\cimv2"))
      return HRESULT(WBEM_E_INVALID_NAMESPACE);
    pos = colon + 1;
  } else if (pos != 0) {
    return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
  }
  const std::size_t name_end = s.find_first_of(L".=", pos);
  const std::wstring class_name =
      s.substr(pos, name_end == std::wstring::npos ? std::wstring::npos : name_end - pos);
  if (class_name.empty())
    return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
  path.cls = FindClass(class_name);
  if (!path.cls)
    return unknown_class;
  if (name_end == std::wstring::npos)
    return HRESULT(WBEM_S_NO_ERROR);
  const PropertyDef* key = nullptr;
  for (const PropertyDef& p : path.cls->properties) {
    if (p.key)
      key = &p;
  }
  pos = name_end + 1;
  if (s[name_end] == L'.') {
    const std::size_t equals = s.find(L'=', pos);
    if (equals == std::wstring::npos || !EqualsNoCase(s.substr(pos, equals - pos), key->name))
      return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
    pos = equals + 1;
  }
  std::wstring value;
  if (pos < s.size() && s[pos] == L'"') {
    for (++pos;; ++pos) {
      if (pos >= s.size())
        return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
      if (s[pos] == L'"')
        break;
      if (s[pos] == L'\\' && pos + 1 < s.size())
        ++pos;
      value += s[pos];
    }
    ++pos;
  } else {
    while (pos < s.size() && s[pos] >= L'0' && s[pos] <= L'9')
      value += s[pos++];
    if (value.empty())
      return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
  }
  if (pos != s.size())
    return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
  if (key->type == CIM_UINT32) {
    if (value.empty() || value.size() > 10 || value.find_first_not_of(L"0123456789") != std::wstring::npos ||
        std::stoull(value) > 4294967295ULL) {
      return HRESULT(WBEM_E_INVALID_OBJECT_PATH);
    }
    value = std::to_wstring(std::stoull(value));
  }
  path.has_key = true;
  path.key_value = value;
  return HRESULT(WBEM_S_NO_ERROR);
}

bool KeyMatches(const std::vector<Property>& row, const std::wstring& key_value) {
  for (const Property& p : row) {
    if (!p.key)
      continue;
    const VARIANT& v = p.value.get();
    if (v.vt == VT_BSTR)
      return EqualsNoCase(v.bstrVal, key_value);
    return v.vt == VT_I4 && std::to_wstring(static_cast<ULONG>(v.lVal)) == key_value;
  }
  return false;
}

// --- the enumerator ---

class Enumerator final : public IEnumWbemClassObject {
 public:
  using Loader = std::function<HRESULT(Objects&)>;

  Enumerator(Loader loader, bool forward_only) : loader_(std::move(loader)), forward_only_(forward_only) {
    ObjectCreated();
  }

  // Runs the query now (a synchronous call) rather than at the first Next.
  HRESULT Load() {
    if (!loaded_) {
      loaded_ = true;
      load_hr_ = loader_(objects_);
    }
    return load_hr_;
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return Offer(riid, ppv, {{&IID_IUnknown, this}, {&IID_IEnumWbemClassObject, this}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }

  STDMETHODIMP Reset() override {
    if (forward_only_)
      return HRESULT(WBEM_E_INVALID_OPERATION);
    position_ = 0;
    return HRESULT(WBEM_S_NO_ERROR);
  }

  STDMETHODIMP Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects, ULONG* puReturned) override {
    HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
    ULONG returned = 0;
    if (!apObjects || !puReturned || (lTimeout < 0 && lTimeout != static_cast<LONG>(WBEM_INFINITE))) {
      hr = HRESULT(WBEM_E_INVALID_PARAMETER);
    } else if (FAILED(hr = Load())) {
      *puReturned = 0;
    } else {
      while (returned < uCount && position_ < objects_.size()) {
        ComPtr<WbemObject> o = objects_[position_++];
        apObjects[returned++] = o.Detach();
      }
      *puReturned = returned;
      hr = returned == uCount ? HRESULT(WBEM_S_NO_ERROR) : HRESULT(WBEM_S_FALSE);
    }
    Json line = Line(L"Next");
    line.Add(L"count", Json::Number(uCount)).Add(L"returned", Json::Number(returned));
    RecordResult(std::move(line), hr);
    return hr;
  }

  STDMETHODIMP NextAsync(ULONG /*uCount*/, IWbemObjectSink* /*pSink*/) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }

  STDMETHODIMP Clone(IEnumWbemClassObject** ppEnum) override {
    if (!ppEnum)
      return HRESULT(WBEM_E_INVALID_PARAMETER);
    *ppEnum = nullptr;
    if (forward_only_)
      return HRESULT(WBEM_E_INVALID_OPERATION);
    auto* copy = new Enumerator(loader_, forward_only_);
    copy->loaded_ = loaded_;
    copy->load_hr_ = load_hr_;
    copy->objects_ = objects_;
    copy->position_ = position_;
    *ppEnum = copy;
    return HRESULT(WBEM_S_NO_ERROR);
  }

  STDMETHODIMP Skip(LONG lTimeout, ULONG nCount) override {
    if (lTimeout < 0 && lTimeout != static_cast<LONG>(WBEM_INFINITE))
      return HRESULT(WBEM_E_INVALID_PARAMETER);
    const HRESULT hr = Load();
    if (FAILED(hr))
      return hr;
    const std::size_t left = objects_.size() - position_;
    position_ += nCount < left ? nCount : left;
    return nCount <= left ? HRESULT(WBEM_S_NO_ERROR) : HRESULT(WBEM_S_FALSE);
  }

 private:
  friend class netrig::RefCount;
  ~Enumerator() { ObjectDestroyed(); }

  RefCount refs_;
  Loader loader_;
  bool forward_only_;
  bool loaded_ = false;
  HRESULT load_hr_ = HRESULT(WBEM_S_NO_ERROR);
  Objects objects_;
  std::size_t position_ = 0;
};

// --- method calls ---

struct CallResult {
  HRESULT hr;
  ULONG return_value = 0;
  std::wstring process = {};  // the image a Terminate ended
  bool no_value = false;       // the agent's fault: ReturnValue left null
};

// The agent's answer as a method's result: a ReturnValue that is null leaves it unset (a fault the
// agent is told to give); one that is absent or out of range is the provider's failure.
CallResult ResultOfAnswer(const AgentAnswer& answer) {
  if (FAILED(answer.hr))
    return {answer.hr};
  const Json* value = answer.body.Find(L"ReturnValue");
  if (value && value->IsNull())
    return {HRESULT(WBEM_S_NO_ERROR), 0, {}, true};
  std::optional<std::int64_t> n;
  if (!value || !(n = value->AsInteger(0, 4294967295LL)))
    return {HRESULT(WBEM_E_PROVIDER_FAILURE)};
  return {HRESULT(WBEM_S_NO_ERROR), static_cast<ULONG>(*n)};
}

CallResult CallAdapterMethod(const MethodDef& m, const std::wstring& index, const WbemObject* in) {
  Json params = Json::MakeObject();
  if (in) {
    for (const Property& p : in->Properties()) {
      if (!p.value.IsNull())
        params.Add(p.name, VariantJson(p.value.get()));
    }
  }
  Json request = Json::MakeObject();
  request.Add(L"op", Json::String(L"method"))
      .Add(L"method", Json::String(m.name))
      .Add(L"Index", Json::Number(static_cast<double>(std::stoull(index))))
      .Add(L"params", std::move(params));
  return ResultOfAnswer(AskAgent(request));
}

CallResult Terminate(const std::wstring& handle, const WbemObject* in) {
  std::vector<std::vector<Property>> rows;
  if (FAILED(ProcessRows(rows)))
    return {HRESULT(WBEM_E_PROVIDER_FAILURE)};
  std::wstring name;
  for (const auto& row : rows) {
    if (KeyMatches(row, handle)) {
      for (const Property& p : row) {
        if (p.name == L"Name")
          name = p.value.get().bstrVal;
      }
    }
  }
  if (name.empty())
    return {HRESULT(WBEM_E_NOT_FOUND)};
  // A fault the agent holds for Terminate answers instead of the process's end.
  Json request = Json::MakeObject();
  request.Add(L"op", Json::String(L"terminate"))
      .Add(L"method", Json::String(L"Terminate"))
      .Add(L"process", Json::String(name));
  const AgentAnswer answer = AskAgent(request);
  if (FAILED(answer.hr) || answer.body.Find(L"ReturnValue")) {
    CallResult faulted = ResultOfAnswer(answer);
    faulted.process = name + L" (left running)";
    return faulted;
  }
  UINT exit_code = 0;
  if (in) {
    if (const Property* reason = in->Find(L"Reason"); reason && !reason->value.IsNull())
      exit_code = static_cast<UINT>(reason->value.get().lVal);
  }
  const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(handle)));
  if (!process)
    return {HRESULT(WBEM_S_NO_ERROR), GetLastError() == ERROR_ACCESS_DENIED ? 2UL : 8UL, name};
  const bool ended = TerminateProcess(process, exit_code);
  const DWORD error = GetLastError();
  CloseHandle(process);
  if (!ended)
    return {HRESULT(WBEM_S_NO_ERROR), error == ERROR_ACCESS_DENIED ? 2UL : 8UL, name};
  return {HRESULT(WBEM_S_NO_ERROR), 0, name};
}

// The in-parameters must be an instance of this method's in-signature with its required ones set, or
// absent when none is required.
HRESULT CheckInParameters(const ClassDef& c, const MethodDef& m, IWbemClassObject* in, WbemObject** ours) {
  *ours = nullptr;
  if (!in) {
    for (const ParameterDef& p : m.in) {
      if (p.required)
        return HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS);
    }
    return HRESULT(WBEM_S_NO_ERROR);
  }
  ComPtr<IUnknown> identity;
  if (FAILED(in->QueryInterface(IID_NetrigObject, &identity)))
    return HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS);
  auto* object = static_cast<WbemObject*>(static_cast<IWbemClassObject*>(identity.Get()));
  if (m.in.empty() || !object->IsInstance() || object->Method() != &m || !object->IsInSignature() ||
      object->Definition() != &c) {
    return HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS);
  }
  for (const ParameterDef& p : m.in) {
    const Property* value = object->Find(p.name);
    if (p.required && (!value || value->value.IsNull()))
      return HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS);
  }
  *ours = object;
  return HRESULT(WBEM_S_NO_ERROR);
}

Json InParametersJson(const WbemObject* in) {
  if (!in)
    return Json();
  Json list = Json::MakeArray();
  for (const Property& p : in->Properties()) {
    if (p.value.IsNull())
      continue;
    Json item = Json::MakeObject();
    item.Add(L"name", Json::String(p.name))
        .Add(L"vt", Json::String(VarTypeText(p.put_vt)))
        .Add(L"value", VariantJson(p.value.get()));
    list.Push(std::move(item));
  }
  return list;
}

// The in-parameters as the record shows them: null for none, "?" for an object not of this provider.
Json DescribeIn(IWbemClassObject* in) {
  if (!in)
    return Json();
  ComPtr<IUnknown> identity;
  if (FAILED(in->QueryInterface(IID_NetrigObject, &identity)))
    return Json::String(L"?");
  return InParametersJson(static_cast<WbemObject*>(static_cast<IWbemClassObject*>(identity.Get())));
}

// --- the services object ---

class Services final : public IWbemServices, public IClientSecurity {
 public:
  Services() { ObjectCreated(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    IWbemServices* services = this;
    IClientSecurity* security = this;
    return Offer(
        riid, ppv,
        {{&IID_IUnknown, services}, {&IID_IWbemServices, services}, {&IID_IClientSecurity, security}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }

  // IClientSecurity: the blanket is taken and remembered, as a proxy's would be.
  STDMETHODIMP QueryBlanket(IUnknown* /*pProxy*/,
                            DWORD* pAuthnSvc,
                            DWORD* pAuthzSvc,
                            OLECHAR** pServerPrincName,
                            DWORD* pAuthnLevel,
                            DWORD* pImpLevel,
                            void** pAuthInfo,
                            DWORD* pCapabilites) override {
    if (pAuthnSvc)
      *pAuthnSvc = authn_;
    if (pAuthzSvc)
      *pAuthzSvc = authz_;
    if (pServerPrincName)
      *pServerPrincName = nullptr;
    if (pAuthnLevel)
      *pAuthnLevel = level_;
    if (pImpLevel)
      *pImpLevel = impersonation_;
    if (pAuthInfo)
      *pAuthInfo = nullptr;
    if (pCapabilites)
      *pCapabilites = capabilities_;
    return S_OK;
  }
  STDMETHODIMP SetBlanket(IUnknown* /*pProxy*/,
                          DWORD dwAuthnSvc,
                          DWORD dwAuthzSvc,
                          OLECHAR* /*pServerPrincName*/,
                          DWORD dwAuthnLevel,
                          DWORD dwImpLevel,
                          void* /*pAuthInfo*/,
                          DWORD dwCapabilities) override {
    authn_ = dwAuthnSvc;
    authz_ = dwAuthzSvc;
    level_ = dwAuthnLevel;
    impersonation_ = dwImpLevel;
    capabilities_ = dwCapabilities;
    Json line = Line(L"SetBlanket");
    line.Add(L"authn", Json::Number(dwAuthnSvc))
        .Add(L"authz", Json::Number(dwAuthzSvc))
        .Add(L"level", Json::Number(dwAuthnLevel))
        .Add(L"impersonation", Json::Number(dwImpLevel));
    RecordResult(std::move(line), S_OK);
    return S_OK;
  }
  STDMETHODIMP CopyProxy(IUnknown* pProxy, IUnknown** ppCopy) override {
    if (!ppCopy)
      return E_POINTER;
    return pProxy ? pProxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppCopy)) : E_INVALIDARG;
  }

  // IWbemServices
  STDMETHODIMP OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP CancelAsyncCall(IWbemObjectSink*) override { return HRESULT(WBEM_E_NOT_SUPPORTED); }
  STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink**) override { return HRESULT(WBEM_E_NOT_SUPPORTED); }

  STDMETHODIMP GetObject(const BSTR strObjectPath,
                         LONG lFlags,
                         IWbemContext* /*pCtx*/,
                         IWbemClassObject** ppObject,
                         IWbemCallResult** ppCallResult) override {
    HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
    ObjectPath path;
    if (ppObject)
      *ppObject = nullptr;
    if (!ppObject || (lFlags & ~(WBEM_FLAG_USE_AMENDED_QUALIFIERS | WBEM_FLAG_DIRECT_READ)))
      hr = HRESULT(WBEM_E_INVALID_PARAMETER);
    else if (ppCallResult || !strObjectPath || !*strObjectPath)
      hr = HRESULT(WBEM_E_NOT_SUPPORTED);  // no call results, no empty class to build on
    else
      hr = ParsePath(strObjectPath, path, HRESULT(WBEM_E_NOT_FOUND));
    if (SUCCEEDED(hr) && !path.has_key) {
      *ppObject = WbemObject::NewClass(*path.cls).Detach();
    } else if (SUCCEEDED(hr)) {
      std::vector<std::vector<Property>> rows;
      hr = Rows(*path.cls, rows);
      if (SUCCEEDED(hr))
        hr = HRESULT(WBEM_E_NOT_FOUND);
      for (auto& row : rows) {
        if (SUCCEEDED(hr) || !KeyMatches(row, path.key_value))
          continue;
        *ppObject = WbemObject::NewInstance(*path.cls, std::move(row), {}).Detach();
        hr = HRESULT(WBEM_S_NO_ERROR);
      }
    }
    Json line = Line(L"GetObject");
    line.Add(L"path", Json::String(Text(strObjectPath)));
    RecordResult(std::move(line), hr);
    return hr;
  }
  STDMETHODIMP GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP CreateInstanceEnum(const BSTR strFilter,
                                  LONG lFlags,
                                  IWbemContext* pCtx,
                                  IEnumWbemClassObject** ppEnum) override {
    if (!strFilter)
      return HRESULT(WBEM_E_INVALID_PARAMETER);
    const std::wstring query = L"SELECT * FROM " + std::wstring(strFilter);
    BSTR language = SysAllocString(L"WQL");
    BSTR text = SysAllocString(query.c_str());
    const HRESULT hr = ExecQuery(language, text, lFlags, pCtx, ppEnum);
    SysFreeString(language);
    SysFreeString(text);
    return hr;
  }
  STDMETHODIMP CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }

  STDMETHODIMP ExecQuery(const BSTR strQueryLanguage,
                         const BSTR strQuery,
                         LONG lFlags,
                         IWbemContext* /*pCtx*/,
                         IEnumWbemClassObject** ppEnum) override {
    constexpr LONG kKnownFlags = WBEM_FLAG_USE_AMENDED_QUALIFIERS | WBEM_FLAG_RETURN_IMMEDIATELY |
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_ENSURE_LOCATABLE | WBEM_FLAG_PROTOTYPE |
                                 WBEM_FLAG_DIRECT_READ;
    HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
    auto query = std::make_shared<Query>();
    if (ppEnum)
      *ppEnum = nullptr;
    if (!ppEnum || !strQuery || (lFlags & ~kKnownFlags))
      hr = HRESULT(WBEM_E_INVALID_PARAMETER);
    else if (!strQueryLanguage || !EqualsNoCase(strQueryLanguage, L"WQL"))
      hr = HRESULT(WBEM_E_INVALID_QUERY_TYPE);
    else if (lFlags & WBEM_FLAG_PROTOTYPE)
      hr = HRESULT(WBEM_E_NOT_SUPPORTED);
    else
      hr = ParseWql(strQuery, *query);
    if (SUCCEEDED(hr)) {
      auto loader = [query](Objects& objects) {
        std::vector<std::vector<Property>> rows;
        bool keys = true;
        const HRESULT rows_hr = QueriedRows(*query->cls, rows, keys);
        if (FAILED(rows_hr))
          return rows_hr;
        for (auto& row : rows) {
          if (!query->where || Matches(*query->where, row))
            objects.push_back(WbemObject::NewInstance(*query->cls, std::move(row), query->properties, keys));
        }
        return HRESULT(WBEM_S_NO_ERROR);
      };
      auto* enumerator = new Enumerator(loader, (lFlags & WBEM_FLAG_FORWARD_ONLY) != 0);
      // Semisynchronous: the provider is asked at the first Next, where its failure then shows.
      if (!(lFlags & WBEM_FLAG_RETURN_IMMEDIATELY))
        hr = enumerator->Load();
      if (SUCCEEDED(hr))
        *ppEnum = enumerator;
      else
        enumerator->Release();
    }
    Json line = Line(L"ExecQuery");
    line.Add(L"language", Json::String(Text(strQueryLanguage)))
        .Add(L"query", Json::String(Text(strQuery)))
        .Add(L"flags", Json::Number(lFlags));
    RecordResult(std::move(line), hr);
    return hr;
  }
  STDMETHODIMP ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP ExecNotificationQuery(const BSTR,
                                     const BSTR,
                                     LONG,
                                     IWbemContext*,
                                     IEnumWbemClassObject**) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }
  STDMETHODIMP ExecNotificationQueryAsync(const BSTR,
                                          const BSTR,
                                          LONG,
                                          IWbemContext*,
                                          IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }

  STDMETHODIMP ExecMethod(const BSTR strObjectPath,
                          const BSTR strMethodName,
                          LONG lFlags,
                          IWbemContext* /*pCtx*/,
                          IWbemClassObject* pInParams,
                          IWbemClassObject** ppOutParams,
                          IWbemCallResult** ppCallResult) override {
    CallResult result{HRESULT(WBEM_S_NO_ERROR)};
    bool called = false;
    ObjectPath path;
    const MethodDef* m = nullptr;
    WbemObject* in = nullptr;
    if (ppOutParams)
      *ppOutParams = nullptr;
    if (!strMethodName || (lFlags & ~WBEM_FLAG_RETURN_IMMEDIATELY))
      result.hr = HRESULT(WBEM_E_INVALID_PARAMETER);
    else if (ppCallResult || lFlags)
      result.hr = HRESULT(WBEM_E_NOT_SUPPORTED);  // semisynchronous calls are not offered
    else
      result.hr = ParsePath(strObjectPath, path, HRESULT(WBEM_E_INVALID_CLASS));
    if (SUCCEEDED(result.hr)) {
      m = FindMethod(*path.cls, strMethodName);
      if (!m)
        result.hr = HRESULT(WBEM_E_INVALID_METHOD);
      else if (!m->implemented)
        result.hr = HRESULT(WBEM_E_NOT_SUPPORTED);
      else if (!path.has_key)
        result.hr = HRESULT(WBEM_E_INVALID_METHOD_PARAMETERS);  // these are instance methods
      else
        result.hr = CheckInParameters(*path.cls, *m, pInParams, &in);
    }
    if (SUCCEEDED(result.hr)) {
      called = true;
      result = path.cls->name == kAdapterClass ? CallAdapterMethod(*m, path.key_value, in)
                                               : Terminate(path.key_value, in);
    }
    if (SUCCEEDED(result.hr) && ppOutParams)
      *ppOutParams = WbemObject::NewOutParameters(
                         *path.cls, *m, result.no_value ? std::nullopt : std::optional(result.return_value))
                         .Detach();
    Json line = Line(L"ExecMethod");
    line.Add(L"path", Json::String(Text(strObjectPath)))
        .Add(L"method", Json::String(Text(strMethodName)))
        .Add(L"in", DescribeIn(pInParams))
        .Add(L"ReturnValue", called && SUCCEEDED(result.hr) && !result.no_value ? Json::Number(result.return_value)
                                                                                 : Json());
    if (!result.process.empty())
      line.Add(L"process", Json::String(result.process));
    RecordResult(std::move(line), result.hr);
    return result.hr;
  }
  STDMETHODIMP ExecMethodAsync(const BSTR,
                               const BSTR,
                               LONG,
                               IWbemContext*,
                               IWbemClassObject*,
                               IWbemObjectSink*) override {
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  }

 private:
  friend class netrig::RefCount;
  ~Services() { ObjectDestroyed(); }

  RefCount refs_;
  DWORD authn_ = RPC_C_AUTHN_WINNT;
  DWORD authz_ = RPC_C_AUTHZ_NONE;
  DWORD level_ = RPC_C_AUTHN_LEVEL_CONNECT;
  DWORD impersonation_ = RPC_C_IMP_LEVEL_IDENTIFY;
  DWORD capabilities_ = EOAC_NONE;
};

// --- the locator and its class factory ---

bool ValidLocale(const wchar_t* locale) {
  if (!locale || !*locale)
    return true;
  const std::wstring s = locale;
  return s.size() > 3 && s.compare(0, 3, L"MS_") == 0 &&
         s.find_first_not_of(L"0123456789abcdefABCDEF", 3) == std::wstring::npos;
}

class Locator final : public IWbemLocator {
 public:
  Locator() { ObjectCreated(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return Offer(riid, ppv, {{&IID_IUnknown, this}, {&IID_IWbemLocator, this}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }

  STDMETHODIMP ConnectServer(const BSTR strNetworkResource,
                             const BSTR strUser,
                             const BSTR strPassword,
                             const BSTR strLocale,
                             LONG lSecurityFlags,
                             const BSTR strAuthority,
                             IWbemContext* /*pCtx*/,
                             IWbemServices** ppNamespace) override {
    HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
    std::wstring resource = Text(strNetworkResource);
    for (wchar_t& c : resource) {
      if (c == L'/')
        c = L'\\';
    }
    std::wstring server = L".";
    if (resource.compare(0, 2, L"\\\\") == 0) {
      const std::size_t end = resource.find(L'\\', 2);
      server = resource.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
      resource = end == std::wstring::npos ? std::wstring() : resource.substr(end + 1);
    }
    if (ppNamespace)
      *ppNamespace = nullptr;
    if (!ppNamespace || !strNetworkResource || (lSecurityFlags & ~WBEM_FLAG_CONNECT_USE_MAX_WAIT) ||
        !ValidLocale(strLocale)) {
      hr = HRESULT(WBEM_E_INVALID_PARAMETER);
    } else if (!IsLocalServer(server)) {
      hr = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);  // no remote machines behind this stand-in
    } else if ((strUser && *strUser) || (strPassword && *strPassword) || (strAuthority && *strAuthority)) {
      hr = HRESULT(WBEM_E_LOCAL_CREDENTIALS);
    } else if (!EqualsNoCase(resource, L"root\\cimv2")) {
      hr = HRESULT(WBEM_E_INVALID_NAMESPACE);
    } else {
      *ppNamespace = new Services();
    }
    Json line = Line(L"ConnectServer");
    line.Add(L"resource", Json::String(Text(strNetworkResource)));
    RecordResult(std::move(line), hr);
    return hr;
  }

 private:
  friend class netrig::RefCount;
  ~Locator() { ObjectDestroyed(); }
  RefCount refs_;
};

LONG g_locks = 0;

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return Offer(riid, ppv, {{&IID_IUnknown, this}, {&IID_IClassFactory, this}});
  }
  // A static object: its lifetime is the DLL's.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
      return CLASS_E_NOAGGREGATION;
    auto* locator = new Locator();
    const HRESULT hr = locator->QueryInterface(riid, ppv);
    locator->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL fLock) override {
    if (fLock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

}  // namespace netrig

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_WbemLocator)
    return CLASS_E_CLASSNOTAVAILABLE;
  return netrig::g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return netrig::ObjectsAlive() == 0 && netrig::g_locks == 0 ? S_OK : S_FALSE;
}
