// The two classes as Microsoft documents them: property names and CIM types, keys, and the methods
// with their [in] parameters.
#pragma once

#include <wbemcli.h>

#include <string>
#include <string_view>
#include <vector>

namespace netrig {

inline constexpr wchar_t kAdapterClass[] = L"Win32_NetworkAdapterConfiguration";
inline constexpr wchar_t kProcessClass[] = L"Win32_Process";
inline constexpr wchar_t kParametersClass[] = L"__PARAMETERS";

struct PropertyDef {
  std::wstring name;
  CIMTYPE type;
  bool key = false;
};

struct ParameterDef {
  std::wstring name;
  CIMTYPE type;
  bool required;
};

struct MethodDef {
  std::wstring name;
  // The stand-in carries out only some of the documented methods; the others are named so that a
  // call of one reads "not supported" rather than "no such method".
  bool implemented;
  std::vector<ParameterDef> in;
};

struct ClassDef {
  std::wstring name;
  std::vector<std::wstring> derivation;  // superclass first, root last
  std::vector<PropertyDef> properties;
  std::vector<MethodDef> methods;
};

bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

const ClassDef* FindClass(std::wstring_view name);
const PropertyDef* FindProperty(const ClassDef& c, std::wstring_view name);
const MethodDef* FindMethod(const ClassDef& c, std::wstring_view name);

// The VARIANT type WMI uses for a CIM type in automation (uint16 and uint32 travel as VT_I4,
// 64-bit integers and datetimes as VT_BSTR); arrays add VT_ARRAY.
VARTYPE AutomationType(CIMTYPE type);

}  // namespace netrig
