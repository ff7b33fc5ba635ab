// Texts for failure codes: WMI's own spelled out (the system has no text for them), else the system's.
#include "wmi_errors.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace ipsetter::win32 {
namespace {

struct KnownError {
  std::uint32_t code;
  const wchar_t* text;
};

// WMI's own codes have no text in the system message table (they live in wmiutils.dll, which
// Wine lacks), so the ones a user can meet here are spelled out.
constexpr KnownError kKnownErrors[] = {
    {0x80041001, L"Generic failure"},
    {0x80041002, L"Not found"},
    {0x80041003, L"Access denied"},
    {0x80041004, L"Provider failure"},
    {0x80041005, L"Type mismatch"},
    {0x80041006, L"Out of memory"},
    {0x80041008, L"Invalid parameter"},
    {0x80041009, L"Not available"},
    {0x8004100A, L"Critical error"},
    {0x8004100C, L"Not supported"},
    {0x8004100E, L"Invalid namespace"},
    {0x8004100F, L"Invalid object"},
    {0x80041010, L"Invalid class"},
    {0x80041011, L"Provider not found"},
    {0x80041013, L"Provider load failure"},
    {0x80041014, L"Initialization failure"},
    {0x80041017, L"Invalid query"},
    {0x80041018, L"Invalid query type"},
    {0x8004101D, L"Unexpected error"},
    {0x8004102E, L"Invalid method"},
    {0x8004102F, L"Invalid method parameters"},
    {0x80041032, L"Call cancelled"},
    {0x80041033, L"Shutting down"},
    {0x8004103A, L"Invalid object path"},
    {0x800706BA, L"The RPC server is unavailable"},
    {0x800706BE, L"The remote procedure call failed"},
    {0x800706BF, L"The remote procedure call failed and did not execute"},
    {0x80070005, L"Access denied"},
    {0x8007000E, L"Out of memory"},
    {0x800401F0, L"COM is not initialized"},
    {0x80040154, L"Class not registered"},
    {0x80004005, L"Unspecified error"},
};

// System texts end in a period and CR/LF; the caller appends the code in parentheses.
std::wstring Tidy(std::wstring text) {
  while (!text.empty() &&
         (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.')) {
    text.pop_back();
  }
  return text;
}

std::wstring SystemMessage(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || !buffer)
    return std::wstring();
  std::wstring text(buffer, length);
  LocalFree(buffer);
  return Tidy(std::move(text));
}

}  // namespace

std::wstring DescribeWmiError(std::uint32_t code) {
  const auto known = std::find_if(std::begin(kKnownErrors), std::end(kKnownErrors),
                                  [code](const KnownError& e) { return e.code == code; });
  if (known != std::end(kKnownErrors))
    return known->text;
  std::wstring text = SystemMessage(code);
  // Win32 errors wrapped as HRESULTs are not always in the table under their wrapped number.
  if (text.empty() && HRESULT_FACILITY(code) == FACILITY_WIN32)
    text = SystemMessage(HRESULT_CODE(code));
  return text;
}

ManagementError WmiError(std::uint32_t code) {
  return ManagementError(code, DescribeWmiError(code));
}

}  // namespace ipsetter::win32
