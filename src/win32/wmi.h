#pragma once

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

}  // namespace wmi_detail
}  // namespace ipsetter::win32
