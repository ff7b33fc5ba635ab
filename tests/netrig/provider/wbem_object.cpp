#include "wbem_object.h"

#include <cstdio>

#include "channel.h"

namespace netrig {

// {7b22242d-6c87-4463-8e37-7b7f35d2aec8}
const IID IID_NetrigObject = {0x7b22242d, 0x6c87, 0x4463, {0x8e, 0x37, 0x7b, 0x7f, 0x35, 0xd2, 0xae, 0xc8}};

namespace {

LONG g_objects = 0;

constexpr wchar_t kNamespace[] = L"root\\cimv2";

void SetString(VARIANT* v, const std::wstring& s) {
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

void SetInt(VARIANT* v, LONG n) {
  v->vt = VT_I4;
  v->lVal = n;
}

// The elements of a one-dimensional array, each as a VARIANT of the element type.
bool ArrayItems(SAFEARRAY* array, VARTYPE element, std::vector<Variant>& items) {
  if (!array || SafeArrayGetDim(array) != 1)
    return false;
  LONG low = 0;
  LONG high = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high)))
    return false;
  for (LONGLONG i = low; i <= high; ++i) {
    LONG index = static_cast<LONG>(i);
    Variant item;
    VARIANT& v = item.get();
    if (element == VT_VARIANT) {
      if (FAILED(SafeArrayGetElement(array, &index, &v)))
        return false;
    } else {
      VARIANT slot;
      VariantInit(&slot);
      if (FAILED(SafeArrayGetElement(array, &index, &slot.lVal)))  // the union's first byte
        return false;
      slot.vt = element;
      v = slot;  // takes ownership of a copied BSTR
    }
    items.push_back(std::move(item));
  }
  return true;
}

HRESULT MakeArray(VARTYPE element, std::vector<Variant>& items, VARIANT& out) {
  SAFEARRAY* array = SafeArrayCreateVector(element, 0, static_cast<ULONG>(items.size()));
  if (!array)
    return HRESULT(WBEM_E_OUT_OF_MEMORY);
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    VARIANT& v = items[static_cast<std::size_t>(i)].get();
    void* data = element == VT_BSTR      ? static_cast<void*>(v.bstrVal)
                 : element == VT_VARIANT ? static_cast<void*>(&v)
                                         : static_cast<void*>(&v.lVal);
    if (FAILED(SafeArrayPutElement(array, &i, data))) {
      SafeArrayDestroy(array);
      return HRESULT(WBEM_E_OUT_OF_MEMORY);
    }
  }
  out.vt = VT_ARRAY | element;
  out.parray = array;
  return S_OK;
}

HRESULT CoerceScalar(CIMTYPE type, const VARIANT& in, VARIANT& out) {
  if (in.vt == VT_NULL || in.vt == VT_EMPTY || (in.vt & (VT_ARRAY | VT_BYREF)))
    return HRESULT(WBEM_E_TYPE_MISMATCH);
  Variant converted;
  switch (type) {
    case CIM_UINT32:
      // Documented exceptions: VT_I4 is taken as it is (its bits), VT_I2 is refused.
      if (in.vt == VT_I4)
        return VariantCopy(&out, Source(in));
      if (in.vt == VT_I2 || FAILED(VariantChangeType(&converted.get(), Source(in), 0, VT_UI4)))
        return HRESULT(WBEM_E_TYPE_MISMATCH);
      SetInt(&out, static_cast<LONG>(converted.get().ulVal));
      return S_OK;
    case CIM_UINT16:
      if (FAILED(VariantChangeType(&converted.get(), Source(in), 0, VT_UI2)))
        return HRESULT(WBEM_E_TYPE_MISMATCH);
      SetInt(&out, converted.get().uiVal);
      return S_OK;
    default:
      if (FAILED(VariantChangeType(&out, Source(in), 0, AutomationType(type))))
        return HRESULT(WBEM_E_TYPE_MISMATCH);
      return S_OK;
  }
}

bool JsonScalar(const Json& value, CIMTYPE type, VARIANT& out) {
  std::optional<std::int64_t> n;
  switch (type) {
    case CIM_BOOLEAN:
      if (value.kind() != Json::Kind::kBool)
        return false;
      out.vt = VT_BOOL;
      out.boolVal = value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case CIM_UINT8:
      if (!(n = value.AsInteger(0, 255)))
        return false;
      out.vt = VT_UI1;
      out.bVal = static_cast<BYTE>(*n);
      return true;
    case CIM_UINT16:
      if (!(n = value.AsInteger(0, 65535)))
        return false;
      SetInt(&out, static_cast<LONG>(*n));
      return true;
    case CIM_UINT32:
      if (!(n = value.AsInteger(0, 4294967295LL)))
        return false;
      SetInt(&out, static_cast<LONG>(static_cast<ULONG>(*n)));
      return true;
    default:
      if (AutomationType(type) != VT_BSTR || value.kind() != Json::Kind::kString)
        return false;
      SetString(&out, value.AsString());
      return true;
  }
}

}  // namespace

std::wstring HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = static_cast<DWORD>(std::size(name));
  return GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring(L".");
}

const std::vector<std::wstring>& SystemPropertyNames() {
  static const std::vector<std::wstring> names{
      L"__GENUS",          L"__CLASS",      L"__SUPERCLASS", L"__DYNASTY",   L"__RELPATH",
      L"__PROPERTY_COUNT", L"__DERIVATION", L"__SERVER",     L"__NAMESPACE", L"__PATH"};
  return names;
}

void ObjectCreated() {
  InterlockedIncrement(&g_objects);
}
void ObjectDestroyed() {
  InterlockedDecrement(&g_objects);
}
LONG ObjectsAlive() {
  return g_objects;
}

std::wstring VarTypeText(VARTYPE vt) {
  static const struct {
    VARTYPE vt;
    const wchar_t* name;
  } kNames[] = {{VT_EMPTY, L"VT_EMPTY"},     {VT_NULL, L"VT_NULL"},
                {VT_I2, L"VT_I2"},           {VT_I4, L"VT_I4"},
                {VT_R4, L"VT_R4"},           {VT_R8, L"VT_R8"},
                {VT_CY, L"VT_CY"},           {VT_DATE, L"VT_DATE"},
                {VT_BSTR, L"VT_BSTR"},       {VT_DISPATCH, L"VT_DISPATCH"},
                {VT_ERROR, L"VT_ERROR"},     {VT_BOOL, L"VT_BOOL"},
                {VT_VARIANT, L"VT_VARIANT"}, {VT_UNKNOWN, L"VT_UNKNOWN"},
                {VT_I1, L"VT_I1"},           {VT_UI1, L"VT_UI1"},
                {VT_UI2, L"VT_UI2"},         {VT_UI4, L"VT_UI4"},
                {VT_I8, L"VT_I8"},           {VT_UI8, L"VT_UI8"},
                {VT_INT, L"VT_INT"},         {VT_UINT, L"VT_UINT"}};
  std::wstring text;
  if (vt & VT_BYREF)
    text += L"VT_BYREF|";
  if (vt & VT_ARRAY)
    text += L"VT_ARRAY|";
  const VARTYPE base = vt & VT_TYPEMASK;
  for (const auto& entry : kNames) {
    if (entry.vt == base)
      return text + entry.name;
  }
  wchar_t hex[8];
  std::swprintf(hex, std::size(hex), L"0x%04X", base);
  return text + hex;
}

Json VariantJson(const VARIANT& v) {
  if (v.vt & VT_ARRAY) {
    std::vector<Variant> items;
    if ((v.vt & VT_BYREF) || !ArrayItems(v.parray, v.vt & VT_TYPEMASK, items))
      return Json::String(L"?");
    Json array = Json::MakeArray();
    for (const Variant& item : items)
      array.Push(VariantJson(item.get()));
    return array;
  }
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return Json();
    case VT_BOOL:
      return Json::Bool(v.boolVal != VARIANT_FALSE);
    case VT_BSTR:
      return Json::String(v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring());
    case VT_R4:
      return Json::Number(v.fltVal);
    case VT_R8:
      return Json::Number(v.dblVal);
    default: {
      Variant wide;
      if (FAILED(VariantChangeType(&wide.get(), Source(v), 0, VT_I8)))
        return Json::String(L"?");
      return Json::Number(static_cast<double>(wide.get().llVal));
    }
  }
}

bool JsonToVariant(const Json& value, CIMTYPE type, VARIANT& out) {
  VariantClear(&out);
  if (value.IsNull()) {
    out.vt = VT_NULL;
    return true;
  }
  if (!(type & CIM_FLAG_ARRAY))
    return JsonScalar(value, type, out);
  if (value.kind() != Json::Kind::kArray)
    return false;
  std::vector<Variant> items;
  for (const Json& item : value.AsArray()) {
    Variant v;
    if (!JsonScalar(item, type & ~CIM_FLAG_ARRAY, v.get()))
      return false;
    items.push_back(std::move(v));
  }
  return SUCCEEDED(MakeArray(AutomationType(type) & VT_TYPEMASK, items, out));
}

namespace {

// A JSON scalar as the VARIANT type `vt` (VT_VARIANT: as JSON gives it).
bool JsonAsType(const Json& value, VARTYPE vt, VARIANT& out) {
  Variant plain;
  switch (value.kind()) {
    case Json::Kind::kBool:
      plain.get().vt = VT_BOOL;
      plain.get().boolVal = value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Json::Kind::kNumber:
      plain.get().vt = VT_R8;
      plain.get().dblVal = value.AsNumber();
      break;
    case Json::Kind::kString:
      SetString(&plain.get(), value.AsString());
      break;
    default:
      return false;
  }
  return SUCCEEDED(vt == VT_VARIANT ? VariantCopy(&out, &plain.get())
                                    : VariantChangeType(&out, &plain.get(), 0, vt));
}

}  // namespace

bool JsonAsVarType(const Json& value, const std::wstring& vt_text, VARIANT& out) {
  VariantClear(&out);
  constexpr std::wstring_view kArray = L"VT_ARRAY|";
  const bool array = vt_text.compare(0, kArray.size(), kArray) == 0;
  const std::wstring base_text = array ? vt_text.substr(kArray.size()) : vt_text;
  VARTYPE base = VT_ILLEGAL;
  for (VARTYPE vt = 0; vt <= VT_UINT; ++vt) {
    if (VarTypeText(vt) == base_text)
      base = vt;
  }
  if (base == VT_ILLEGAL || (!array && base == VT_VARIANT))
    return false;
  if (!array)
    return JsonAsType(value, base, out);
  if (value.kind() != Json::Kind::kArray)
    return false;
  std::vector<Variant> items;
  for (const Json& item : value.AsArray()) {
    Variant v;
    if (!JsonAsType(item, base, v.get()))
      return false;
    items.push_back(std::move(v));
  }
  return SUCCEEDED(MakeArray(base, items, out));
}

HRESULT CoerceForPut(CIMTYPE type, const VARIANT& in, VARIANT& out) {
  VariantClear(&out);
  if (in.vt == VT_NULL || in.vt == VT_EMPTY) {
    out.vt = VT_NULL;
    return S_OK;
  }
  if (!(type & CIM_FLAG_ARRAY))
    return CoerceScalar(type, in, out);
  // Arrays are not coerced element type by element type (VT_ARRAY|VT_R8 into uint32[] fails, as
  // documented); VT_ARRAY|VT_VARIANT is taken when each element fits.
  const VARTYPE element = in.vt & VT_TYPEMASK;
  const VARTYPE stored = AutomationType(type) & VT_TYPEMASK;
  std::vector<Variant> items;
  if ((in.vt & ~VT_TYPEMASK) != VT_ARRAY || (element != stored && element != VT_VARIANT) ||
      !ArrayItems(in.parray, element, items)) {
    return HRESULT(WBEM_E_TYPE_MISMATCH);
  }
  std::vector<Variant> converted(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const HRESULT hr = CoerceScalar(type & ~CIM_FLAG_ARRAY, items[i].get(), converted[i].get());
    if (FAILED(hr))
      return hr;
  }
  return MakeArray(stored, converted, out);
}

// --- WbemObject ---

WbemObject::WbemObject() {
  ObjectCreated();
}

WbemObject::~WbemObject() {
  ObjectDestroyed();
}

// Takes the new object's one reference. MinGW's ComPtr::Attach adds a reference (Microsoft's does
// not), which kept every object of the stand-in alive: about 7 KB a method call.
ComPtr<WbemObject> WbemObject::Adopt(WbemObject* fresh) {
  ComPtr<WbemObject> o;
  *o.ReleaseAndGetAddressOf() = fresh;
  return o;
}

ComPtr<WbemObject> WbemObject::NewClass(const ClassDef& c) {
  ComPtr<WbemObject> o = Adopt(new WbemObject());
  o->def_ = &c;
  for (const PropertyDef& p : c.properties)
    o->props_.push_back({p.name, p.type, p.key, Variant()});
  for (Property& p : o->props_)
    p.value.get().vt = VT_NULL;
  return o;
}

ComPtr<WbemObject> WbemObject::NewSignature(const ClassDef& c, const MethodDef& m, bool in) {
  ComPtr<WbemObject> o = Adopt(new WbemObject());
  o->def_ = &c;
  o->method_ = &m;
  o->in_signature_ = in;
  if (in) {
    for (const ParameterDef& p : m.in)
      o->props_.push_back({p.name, p.type, false, Variant()});
  } else {
    o->props_.push_back({L"ReturnValue", CIM_UINT32, false, Variant()});
  }
  for (Property& p : o->props_)
    p.value.get().vt = VT_NULL;
  return o;
}

ComPtr<WbemObject> WbemObject::NewInstance(const ClassDef& c,
                                           std::vector<Property> values,
                                           const std::vector<std::wstring>& names,
                                           bool keys) {
  ComPtr<WbemObject> o = NewClass(c);
  o->genus_ = WBEM_GENUS_INSTANCE;
  for (Property& p : o->props_) {
    for (Property& v : values) {
      if (EqualsNoCase(v.name, p.name))
        p.value = v.value;
    }
  }
  if (!keys)
    o->relpath_ = o->RelPath();
  std::vector<Property> kept;
  for (Property& p : o->props_) {
    bool selected = names.empty() || (p.key && keys);
    for (const std::wstring& n : names)
      selected = selected || EqualsNoCase(n, p.name);
    if (selected)
      kept.push_back(std::move(p));
  }
  o->props_ = std::move(kept);
  return o;
}

ComPtr<WbemObject> WbemObject::NewOutParameters(const ClassDef& c,
                                                const MethodDef& m,
                                                std::optional<ULONG> return_value) {
  ComPtr<WbemObject> o = NewSignature(c, m, false);
  o->genus_ = WBEM_GENUS_INSTANCE;
  if (return_value)
    SetInt(&o->props_.front().value.get(), static_cast<LONG>(*return_value));
  return o;
}

const Property* WbemObject::Find(const std::wstring& name) const {
  for (const Property& p : props_) {
    if (EqualsNoCase(p.name, name))
      return &p;
  }
  return nullptr;
}

std::wstring WbemObject::ClassName() const {
  return method_ ? kParametersClass : def_->name;
}

std::wstring WbemObject::RelPath() const {
  if (!IsInstance())
    return ClassName();
  if (!relpath_.empty())
    return relpath_;
  if (method_)
    return std::wstring();
  for (const Property& p : props_) {
    if (!p.key || p.value.IsNull())
      continue;
    const VARIANT& v = p.value.get();
    if (v.vt == VT_BSTR) {
      std::wstring quoted;
      for (const wchar_t* c = v.bstrVal; c && *c; ++c) {
        if (*c == L'"' || *c == L'\\')
          quoted += L'\\';
        quoted += *c;
      }
      return def_->name + L"." + p.name + L"=\"" + quoted + L"\"";
    }
    return def_->name + L"." + p.name + L"=" + std::to_wstring(static_cast<ULONG>(v.lVal));
  }
  return std::wstring();
}

bool WbemObject::SystemProperty(const std::wstring& name, VARIANT* value, CIMTYPE* type) const {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_NULL;
  CIMTYPE t = CIM_STRING;
  const std::wstring relpath = RelPath();
  const bool located = !method_ && !relpath.empty();
  if (EqualsNoCase(name, L"__GENUS")) {
    SetInt(&v, genus_);
    t = CIM_SINT32;
  } else if (EqualsNoCase(name, L"__CLASS")) {
    SetString(&v, ClassName());
  } else if (EqualsNoCase(name, L"__SUPERCLASS")) {
    if (!method_)
      SetString(&v, def_->derivation.front());
  } else if (EqualsNoCase(name, L"__DYNASTY")) {
    SetString(&v, method_ ? ClassName() : def_->derivation.back());
  } else if (EqualsNoCase(name, L"__RELPATH")) {
    if (!relpath.empty())
      SetString(&v, relpath);
  } else if (EqualsNoCase(name, L"__PROPERTY_COUNT")) {
    SetInt(&v, static_cast<LONG>(props_.size()));
    t = CIM_SINT32;
  } else if (EqualsNoCase(name, L"__DERIVATION")) {
    std::vector<Variant> items;
    for (const std::wstring& d : method_ ? std::vector<std::wstring>() : def_->derivation) {
      items.emplace_back();
      SetString(&items.back().get(), d);
    }
    MakeArray(VT_BSTR, items, v);
    t = CIM_STRING | CIM_FLAG_ARRAY;
  } else if (EqualsNoCase(name, L"__SERVER")) {
    if (located)
      SetString(&v, HostName());
  } else if (EqualsNoCase(name, L"__NAMESPACE")) {
    if (located)
      SetString(&v, kNamespace);
  } else if (EqualsNoCase(name, L"__PATH")) {
    if (located)
      SetString(&v, L"\\\\" + HostName() + L"\\" + kNamespace + L":" + relpath);
  } else {
    return false;
  }
  if (type)
    *type = t;
  if (value)
    *value = v;
  else
    VariantClear(&v);
  return true;
}

std::vector<std::wstring> WbemObject::Names(LONG flags) const {
  std::vector<std::wstring> names;
  const LONG origin = flags & 0x70;
  if (origin != WBEM_FLAG_NONSYSTEM_ONLY && !(flags & WBEM_FLAG_KEYS_ONLY)) {
    names = SystemPropertyNames();
  }
  if (origin != WBEM_FLAG_SYSTEM_ONLY && !(flags & WBEM_FLAG_REFS_ONLY)) {
    for (const Property& p : props_) {
      if (p.key || !(flags & WBEM_FLAG_KEYS_ONLY))
        names.push_back(p.name);
    }
  }
  return names;
}

STDMETHODIMP WbemObject::QueryInterface(REFIID riid, void** ppv) {
  return Offer(riid, ppv, {{&IID_IUnknown, this}, {&IID_IWbemClassObject, this}, {&IID_NetrigObject, this}});
}

STDMETHODIMP_(ULONG) WbemObject::AddRef() {
  return refs_.Add();
}

STDMETHODIMP_(ULONG) WbemObject::Release() {
  return refs_.Drop(this);
}

STDMETHODIMP WbemObject::GetQualifierSet(IWbemQualifierSet** /*ppQualSet*/) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

STDMETHODIMP WbemObject::Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
  HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
  if (!wszName || lFlags != 0) {
    hr = HRESULT(WBEM_E_INVALID_PARAMETER);
  } else if (SystemProperty(wszName, pVal, pType)) {
    if (plFlavor)
      *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
  } else if (const Property* p = Find(wszName)) {
    if (pVal) {
      VariantInit(pVal);
      hr = VariantCopy(pVal, Source(p->value.get()));
    }
    if (pType)
      *pType = p->type;
    if (plFlavor)
      *plFlavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  } else {
    hr = HRESULT(WBEM_E_NOT_FOUND);
  }
  Json line = Json::MakeObject();
  line.Add(L"call", Json::String(L"Get"))
      .Add(L"class", Json::String(ClassName()))
      .Add(L"name", Json::String(wszName ? wszName : L""))
      .Add(L"hr", Json::String(HexCode(hr)));
  Record(line);
  return hr;
}

STDMETHODIMP WbemObject::Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) {
  HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
  const std::wstring name = wszName ? wszName : L"";
  Property* target = nullptr;
  for (Property& p : props_) {
    if (EqualsNoCase(p.name, name))
      target = &p;
  }
  if (!wszName || lFlags != 0 || (IsInstance() && Type != 0)) {
    hr = HRESULT(WBEM_E_INVALID_PARAMETER);
  } else if (name.compare(0, 2, L"__") == 0) {
    hr = HRESULT(WBEM_E_READ_ONLY);  // "All other system properties are read-only."
  } else if (!target) {
    // An instance's properties are fixed by its class: "Put cannot create a property value".
    hr = IsInstance() ? HRESULT(WBEM_E_NOT_FOUND) : HRESULT(WBEM_E_NOT_SUPPORTED);
  } else {
    VARIANT null_value;
    VariantInit(&null_value);
    null_value.vt = VT_NULL;
    Variant stored;
    hr = CoerceForPut(target->type, pVal ? *pVal : null_value, stored.get());
    if (SUCCEEDED(hr)) {
      target->value = stored;
      target->put_vt = pVal ? pVal->vt : static_cast<VARTYPE>(VT_NULL);
    }
  }
  Json line = Json::MakeObject();
  line.Add(L"call", Json::String(L"Put")).Add(L"class", Json::String(ClassName()));
  if (method_)
    line.Add(L"method", Json::String(method_->name));
  line.Add(L"name", Json::String(name))
      .Add(L"vt", Json::String(VarTypeText(pVal ? pVal->vt : static_cast<VARTYPE>(VT_NULL))))
      .Add(L"value", pVal ? VariantJson(*pVal) : Json())
      .Add(L"hr", Json::String(HexCode(hr)));
  Record(line);
  return hr;
}

STDMETHODIMP WbemObject::Delete(LPCWSTR /*wszName*/) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

STDMETHODIMP WbemObject::GetNames(LPCWSTR wszQualifierName,
                                  LONG lFlags,
                                  VARIANT* /*pQualifierVal*/,
                                  SAFEARRAY** pNames) {
  if (!pNames)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  const LONG origin = lFlags & 0x70;
  if (wszQualifierName || (lFlags & 0x3) || origin == WBEM_FLAG_LOCAL_ONLY ||
      origin == WBEM_FLAG_PROPAGATED_ONLY)
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  std::vector<Variant> items;
  for (const std::wstring& n : Names(lFlags)) {
    items.emplace_back();
    SetString(&items.back().get(), n);
  }
  VARIANT array;
  VariantInit(&array);
  const HRESULT hr = MakeArray(VT_BSTR, items, array);
  *pNames = SUCCEEDED(hr) ? array.parray : nullptr;
  return hr;
}

STDMETHODIMP WbemObject::BeginEnumeration(LONG lEnumFlags) {
  const LONG origin = lEnumFlags & 0x70;
  if ((lEnumFlags & ~0x7C) || origin == WBEM_FLAG_LOCAL_ONLY || origin == WBEM_FLAG_PROPAGATED_ONLY)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  enumeration_ = Names(lEnumFlags);
  enumerated_ = 0;
  enumerating_ = true;
  return HRESULT(WBEM_S_NO_ERROR);
}

STDMETHODIMP WbemObject::Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
  if (lFlags != 0)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  if (!enumerating_)
    return HRESULT(WBEM_E_UNEXPECTED);
  if (enumerated_ >= enumeration_.size())
    return HRESULT(WBEM_S_NO_MORE_DATA);
  const std::wstring& name = enumeration_[enumerated_++];
  if (strName)
    *strName = SysAllocString(name.c_str());
  if (SystemProperty(name, pVal, pType)) {
    if (plFlavor)
      *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
    return HRESULT(WBEM_S_NO_ERROR);
  }
  const Property* p = Find(name);
  if (pVal) {
    VariantInit(pVal);
    VariantCopy(pVal, Source(p->value.get()));
  }
  if (pType)
    *pType = p->type;
  if (plFlavor)
    *plFlavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  return HRESULT(WBEM_S_NO_ERROR);
}

STDMETHODIMP WbemObject::EndEnumeration() {
  enumerating_ = false;
  return HRESULT(WBEM_S_NO_ERROR);
}

STDMETHODIMP WbemObject::GetPropertyQualifierSet(LPCWSTR /*wszProperty*/, IWbemQualifierSet** /*ppQualSet*/) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

STDMETHODIMP WbemObject::Clone(IWbemClassObject** ppCopy) {
  if (!ppCopy)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  WbemObject* copy = new WbemObject();
  copy->genus_ = genus_;
  copy->def_ = def_;
  copy->method_ = method_;
  copy->in_signature_ = in_signature_;
  copy->props_ = props_;
  copy->relpath_ = relpath_;
  *ppCopy = copy;
  return HRESULT(WBEM_S_NO_ERROR);
}

STDMETHODIMP WbemObject::GetObjectText(LONG lFlags, BSTR* pstrObjectText) {
  if (!pstrObjectText || lFlags != 0)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  if (!IsInstance())
    return HRESULT(WBEM_E_NOT_SUPPORTED);
  std::wstring text = L"\ninstance of " + ClassName() + L"\n{\n";
  for (const Property& p : props_) {
    if (p.value.IsNull())
      continue;
    std::string value = WriteJson(VariantJson(p.value.get()));
    if (!value.empty() && value.front() == '[') {
      value.front() = '{';
      value.back() = '}';
    }
    text += L"\t" + p.name + L" = " + std::wstring(value.begin(), value.end()) + L";\n";
  }
  text += L"};\n";
  *pstrObjectText = SysAllocString(text.c_str());
  return HRESULT(WBEM_S_NO_ERROR);
}

STDMETHODIMP WbemObject::SpawnDerivedClass(LONG /*lFlags*/, IWbemClassObject** /*ppNewClass*/) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

STDMETHODIMP WbemObject::SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) {
  HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
  if (!ppNewInstance || lFlags != 0) {
    hr = HRESULT(WBEM_E_INVALID_PARAMETER);
  } else if (IsInstance()) {
    *ppNewInstance = nullptr;
    hr = HRESULT(WBEM_E_INCOMPLETE_CLASS);  // "Current object is not a valid class definition."
  } else {
    WbemObject* instance = new WbemObject();
    instance->genus_ = WBEM_GENUS_INSTANCE;
    instance->def_ = def_;
    instance->method_ = method_;
    instance->in_signature_ = in_signature_;
    instance->props_ = props_;
    for (Property& p : instance->props_) {
      VariantClear(&p.value.get());
      p.value.get().vt = VT_NULL;
    }
    *ppNewInstance = instance;
  }
  Json line = Json::MakeObject();
  line.Add(L"call", Json::String(L"SpawnInstance")).Add(L"class", Json::String(ClassName()));
  if (method_)
    line.Add(L"method", Json::String(method_->name));
  line.Add(L"hr", Json::String(HexCode(hr)));
  Record(line);
  return hr;
}

STDMETHODIMP WbemObject::CompareTo(LONG /*lFlags*/, IWbemClassObject* /*pCompareTo*/) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

STDMETHODIMP WbemObject::GetPropertyOrigin(LPCWSTR /*wszName*/, BSTR* /*pstrClassName*/) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

STDMETHODIMP WbemObject::InheritsFrom(LPCWSTR strAncestor) {
  if (!strAncestor)
    return HRESULT(WBEM_E_INVALID_PARAMETER);
  if (!method_) {
    for (const std::wstring& d : def_->derivation) {
      if (EqualsNoCase(d, strAncestor))
        return HRESULT(WBEM_S_NO_ERROR);
    }
  }
  return HRESULT(WBEM_S_FALSE);
}

STDMETHODIMP WbemObject::GetMethod(LPCWSTR wszName,
                                   LONG lFlags,
                                   IWbemClassObject** ppInSignature,
                                   IWbemClassObject** ppOutSignature) {
  HRESULT hr = HRESULT(WBEM_S_NO_ERROR);
  const MethodDef* m = nullptr;
  if (ppInSignature)
    *ppInSignature = nullptr;
  if (ppOutSignature)
    *ppOutSignature = nullptr;
  if (!wszName || lFlags != 0) {
    hr = HRESULT(WBEM_E_INVALID_PARAMETER);
  } else if (IsInstance()) {
    hr = HRESULT(
        WBEM_E_ILLEGAL_OPERATION);  // "only supported if the current object is a CIM class definition"
  } else if (method_ || !(m = FindMethod(*def_, wszName))) {
    hr = HRESULT(WBEM_E_NOT_FOUND);
  } else if (!m->implemented) {
    hr = HRESULT(WBEM_E_NOT_SUPPORTED);
  } else {
    // No [in] parameters: no in-signature object, as Windows does.
    if (ppInSignature && !m->in.empty())
      *ppInSignature = NewSignature(*def_, *m, true).Detach();
    if (ppOutSignature)
      *ppOutSignature = NewSignature(*def_, *m, false).Detach();
  }
  Json line = Json::MakeObject();
  line.Add(L"call", Json::String(L"GetMethod"))
      .Add(L"class", Json::String(ClassName()))
      .Add(L"name", Json::String(wszName ? wszName : L""))
      .Add(L"hr", Json::String(HexCode(hr)));
  Record(line);
  return hr;
}

STDMETHODIMP WbemObject::PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}
STDMETHODIMP WbemObject::DeleteMethod(LPCWSTR) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}
STDMETHODIMP WbemObject::BeginMethodEnumeration(LONG) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}
STDMETHODIMP WbemObject::NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}
STDMETHODIMP WbemObject::EndMethodEnumeration() {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}
STDMETHODIMP WbemObject::GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}
STDMETHODIMP WbemObject::GetMethodOrigin(LPCWSTR, BSTR*) {
  return HRESULT(WBEM_E_NOT_SUPPORTED);
}

}  // namespace netrig
