// Texts for the HRESULTs a WMI call can fail with.
#pragma once

#include <cstdint>
#include <string>

#include "../core/management.h"

namespace ipsetter::win32 {

// A short, readable text for a WMI, RPC or COM failure code; empty when nothing is known about it.
std::wstring DescribeWmiError(std::uint32_t code);

// The exception the management-service interface raises for a failed call.
ManagementError WmiError(std::uint32_t code);

}  // namespace ipsetter::win32
