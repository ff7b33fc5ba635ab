// IWbemClassObject for the stand-in's class objects, instances, and method signatures (__PARAMETERS).
#pragma once

#include <wbemcli.h>
#include <windows.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <vector>

#include "com_unknown.h"
#include "json.h"
#include "schema.h"

namespace netrig {

using Microsoft::WRL::ComPtr;

// The OLE functions take VARIANT* for sources they only read.
inline VARIANT* Source(const VARIANT& v) {
  return const_cast<VARIANT*>(&v);
}

// Owns one VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant& other) : Variant() { VariantCopy(&v_, Source(other.v_)); }
  Variant& operator=(const Variant& other) {
    if (this != &other)
      VariantCopy(&v_, Source(other.v_));
    return *this;
  }
  VARIANT& get() { return v_; }
  const VARIANT& get() const { return v_; }
  VARTYPE vt() const { return v_.vt; }
  bool IsNull() const { return v_.vt == VT_NULL || v_.vt == VT_EMPTY; }

 private:
  VARIANT v_;
};

// This computer's name, as __SERVER and __PATH give it.
std::wstring HostName();
// The system properties every object has (__GENUS, __CLASS, ... __PATH), in GetNames order.
const std::vector<std::wstring>& SystemPropertyNames();

std::wstring VarTypeText(VARTYPE vt);
// The value as JSON (arrays as arrays, VT_NULL as null); a type without a JSON form gives "?".
Json VariantJson(const VARIANT& v);
// The stored form of a JSON value for a property of `type`: false when it does not fit.
bool JsonToVariant(const Json& value, CIMTYPE type, VARIANT& out);
// A JSON value as the VARIANT type named as VarTypeText names it ("VT_ARRAY|VT_I2"), whatever the
// schema says: false when it does not convert.
bool JsonAsVarType(const Json& value, const std::wstring& vt_text, VARIANT& out);
// What Put accepts for a property of `type`, converted to the stored form; WBEM_E_TYPE_MISMATCH
// when the VARIANT does not coerce.
HRESULT CoerceForPut(CIMTYPE type, const VARIANT& in, VARIANT& out);

struct Property {
  std::wstring name;
  CIMTYPE type;
  bool key;
  Variant value;
  VARTYPE put_vt = VT_EMPTY;  // the type the caller put, before coercion
};

// {7b22242d-6c87-4463-8e37-7b7f35d2aec8}: asks an IWbemClassObject whether it is one of ours.
extern const IID IID_NetrigObject;

class WbemObject final : public IWbemClassObject {
 public:
  // The class object of `c`: every property null.
  static ComPtr<WbemObject> NewClass(const ClassDef& c);
  // The in-signature (`in`) or out-signature of a method: a __PARAMETERS class.
  static ComPtr<WbemObject> NewSignature(const ClassDef& c, const MethodDef& m, bool in);
  // An instance of `c` holding only the named properties (and the keys, unless `keys` is false: then
  // only its path names them); all when `names` is empty.
  static ComPtr<WbemObject> NewInstance(const ClassDef& c,
                                        std::vector<Property> values,
                                        const std::vector<std::wstring>& names,
                                        bool keys = true);
  // The out-parameters of a method: an instance of __PARAMETERS with ReturnValue (uint32, VT_I4).
  static ComPtr<WbemObject> NewOutParameters(const ClassDef& c,
                                             const MethodDef& m,
                                             std::optional<ULONG> return_value);

  bool IsInstance() const { return genus_ == WBEM_GENUS_INSTANCE; }
  const ClassDef* Definition() const { return def_; }
  const MethodDef* Method() const { return method_; }
  bool IsInSignature() const { return in_signature_; }
  const std::vector<Property>& Properties() const { return props_; }
  const Property* Find(const std::wstring& name) const;
  std::wstring RelPath() const;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IWbemClassObject
  STDMETHODIMP GetQualifierSet(IWbemQualifierSet** ppQualSet) override;
  STDMETHODIMP Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) override;
  STDMETHODIMP Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) override;
  STDMETHODIMP Delete(LPCWSTR wszName) override;
  STDMETHODIMP GetNames(LPCWSTR wszQualifierName,
                        LONG lFlags,
                        VARIANT* pQualifierVal,
                        SAFEARRAY** pNames) override;
  STDMETHODIMP BeginEnumeration(LONG lEnumFlags) override;
  STDMETHODIMP Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) override;
  STDMETHODIMP EndEnumeration() override;
  STDMETHODIMP GetPropertyQualifierSet(LPCWSTR wszProperty, IWbemQualifierSet** ppQualSet) override;
  STDMETHODIMP Clone(IWbemClassObject** ppCopy) override;
  STDMETHODIMP GetObjectText(LONG lFlags, BSTR* pstrObjectText) override;
  STDMETHODIMP SpawnDerivedClass(LONG lFlags, IWbemClassObject** ppNewClass) override;
  STDMETHODIMP SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) override;
  STDMETHODIMP CompareTo(LONG lFlags, IWbemClassObject* pCompareTo) override;
  STDMETHODIMP GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) override;
  STDMETHODIMP InheritsFrom(LPCWSTR strAncestor) override;
  STDMETHODIMP GetMethod(LPCWSTR wszName,
                         LONG lFlags,
                         IWbemClassObject** ppInSignature,
                         IWbemClassObject** ppOutSignature) override;
  STDMETHODIMP PutMethod(LPCWSTR wszName,
                         LONG lFlags,
                         IWbemClassObject* pInSignature,
                         IWbemClassObject* pOutSignature) override;
  STDMETHODIMP DeleteMethod(LPCWSTR wszName) override;
  STDMETHODIMP BeginMethodEnumeration(LONG lEnumFlags) override;
  STDMETHODIMP NextMethod(LONG lFlags,
                          BSTR* pstrName,
                          IWbemClassObject** ppInSignature,
                          IWbemClassObject** ppOutSignature) override;
  STDMETHODIMP EndMethodEnumeration() override;
  STDMETHODIMP GetMethodQualifierSet(LPCWSTR wszMethod, IWbemQualifierSet** ppQualSet) override;
  STDMETHODIMP GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) override;

 private:
  WbemObject();
  static ComPtr<WbemObject> Adopt(WbemObject* fresh);
  friend class RefCount;
  ~WbemObject();
  std::wstring ClassName() const;
  // The system properties, computed; false for a name that is none.
  bool SystemProperty(const std::wstring& name, VARIANT* value, CIMTYPE* type) const;
  std::vector<std::wstring> Names(LONG flags) const;

  RefCount refs_;
  LONG genus_ = WBEM_GENUS_CLASS;
  const ClassDef* def_ = nullptr;
  const MethodDef* method_ = nullptr;  // set for __PARAMETERS
  bool in_signature_ = false;
  std::vector<Property> props_;
  std::wstring relpath_;  // when the keys are left out
  std::vector<std::wstring> enumeration_;
  std::size_t enumerated_ = 0;
  bool enumerating_ = false;
};

// Objects and servers alive, for DllCanUnloadNow.
void ObjectCreated();
void ObjectDestroyed();
LONG ObjectsAlive();

}  // namespace netrig
