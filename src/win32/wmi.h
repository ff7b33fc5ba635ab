// The management service over WMI: COM calls behind the interface the form uses.
#pragma once

#include <wbemidl.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../core/management.h"
#include "com_types.h"

namespace ipsetter::win32 {

// The management service over WMI. The caller has initialised COM (apartment threaded) and COM
// security on this thread; every object handed out must be used on this thread only.
std::unique_ptr<ManagementLocator> MakeWmiLocator();

// The conversions behind it, exposed for the checks in tests/wmi.
namespace wmi_detail {

// "winmgmts:\\.\root\cimv2" and "winmgmts:" to the namespace path for ConnectServer.
std::wstring NamespaceOfMoniker(const std::wstring& moniker);

// Null, Boolean, integer, real, string, or a one-dimensional array of these (any bounds);
// anything else raises "Type mismatch".
Value ToValue(const VARIANT& variant);

// VT_ARRAY|VT_BSTR and VT_ARRAY|VT_I4, lower bound 0, as WMI's in-parameters take them.
ScopedVariant MakeStringArray(const std::vector<std::wstring>& items);
ScopedVariant MakeInt32Array(const std::vector<std::int32_t>& items);

// Which object a method is called on. Taken when the result set is walked: Wine's objects read
// through to a table that the next query of the class refills (GetObject of the class does), so
// a later read can name another object, and the second process of a set another process.
struct MethodTarget {
  std::wstring class_name;
  std::wstring path;
};

struct MethodArgument {
  const wchar_t* name;
  ScopedVariant value;
};

// Calls `method` on `target` and gives its ReturnValue as unsigned 32 bits. Without
// `with_parameters` no in-parameter object is passed; with it, the arguments not given stay unset.
std::uint32_t CallMethod(IWbemServices* services,
                         const MethodTarget& target,
                         const wchar_t* method,
                         bool with_parameters,
                         std::vector<MethodArgument> arguments);

}  // namespace wmi_detail
}  // namespace ipsetter::win32
