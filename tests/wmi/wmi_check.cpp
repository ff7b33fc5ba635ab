// Checks of the WMI layer, run under Wine (tests/wmi/run.sh) or on Windows.
//   wmi_check unit   conversions, RAII owners and error texts, in-process; prints "N passed, N failed"
//   wmi_check live   talks to the real service and prints one line per fact for run.sh to assert
//   wmi_check sleep  idles; run.sh copies this exe to osk.exe and msswchx.exe to have processes to find

#include <fcntl.h>
#include <io.h>
#include <wbemidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "../../src/win32/com_types.h"
#include "../../src/win32/wmi.h"
#include "../../src/win32/wmi_errors.h"

namespace {

using ipsetter::ManagementError;
using ipsetter::Value;
using Microsoft::WRL::ComPtr;
using namespace ipsetter::win32;
using namespace ipsetter::win32::wmi_detail;

// WBEM_INFINITE; the enumerator does not fit the LONG that Next takes.
constexpr LONG kWaitForever = -1;
constexpr std::uint32_t kTypeMismatch = 0x80041005;
constexpr wchar_t kCimv2[] = L"winmgmts:\\\\.\\root\\cimv2";
constexpr wchar_t kAdapterQuery[] = L"Select * from Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
constexpr wchar_t kReadQuery[] =
    L"Select IPAddress, IPSubnet, DNSServerSearchOrder, DefaultIPGateway, DHCPEnabled from "
    L"Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";
constexpr wchar_t kProcessQuery[] =
    L"Select Name from Win32_Process Where Name = 'Osk.exe' OR Name = 'MSSWCHX.EXE'";

std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                      nullptr);
  return out;
}

std::wstring Show(const Value& value) {
  if (value.IsNull())
    return L"null";
  if (value.IsBool())
    return value.AsBool() ? L"true" : L"false";
  if (value.IsInteger())
    return std::to_wstring(value.AsInteger());
  if (value.IsReal())
    return std::to_wstring(value.AsReal());
  if (value.IsString()) {
    std::wstring out = L"\"";
    for (wchar_t c : value.AsString()) {
      if (c == L'"' || c == L'\\')
        out += L'\\';
      if (c == L'\0') {
        out += L"\\0";
        continue;
      }
      out += c;
    }
    return out + L"\"";
  }
  std::wstring out = L"[";
  for (const Value& item : value.AsArray()) {
    if (out.size() > 1)
      out += L",";
    out += Show(item);
  }
  return out + L"]";
}

std::wstring Hex(std::uint32_t code) {
  wchar_t buffer[16];
  swprintf(buffer, 16, L"0x%08X", code);
  return buffer;
}

// What the window shows for a failure.
std::wstring ErrorText(const ManagementError& e) {
  return e.description() + L" (" + Hex(e.code()) + L")";
}

void ThrowIfFailedForCheck(HRESULT hr) {
  if (FAILED(hr))
    throw WmiError(static_cast<std::uint32_t>(hr));
}

void Say(const std::wstring& line) {
  std::fputs(Utf8(line).c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// unit

int g_passed = 0;
int g_failed = 0;

void Expect(bool ok, const std::wstring& name, const std::wstring& detail = std::wstring()) {
  if (ok) {
    ++g_passed;
    return;
  }
  ++g_failed;
  Say(L"FAIL " + name + (detail.empty() ? L"" : L": " + detail));
}

// The outcome of a conversion: its value, or the error it raised.
struct Outcome {
  std::optional<Value> value;
  std::uint32_t code = 0;
  std::wstring description;
};

Outcome Convert(const VARIANT& variant) {
  Outcome outcome;
  try {
    outcome.value = ToValue(variant);
  } catch (const ManagementError& e) {
    outcome.code = e.code();
    outcome.description = e.description();
  }
  return outcome;
}

void ExpectValue(const std::wstring& name, const VARIANT& variant, const Value& expected) {
  const Outcome got = Convert(variant);
  if (!got.value) {
    Expect(false, name, L"raised " + Hex(got.code) + L" " + got.description);
    return;
  }
  Expect(*got.value == expected, name, L"got " + Show(*got.value) + L", want " + Show(expected));
}

void ExpectMismatch(const std::wstring& name, const VARIANT& variant) {
  const Outcome got = Convert(variant);
  Expect(!got.value && got.code == kTypeMismatch && got.description == L"Type mismatch", name,
         got.value ? L"got " + Show(*got.value) : L"raised " + Hex(got.code) + L" " + got.description);
}

ScopedVariant Scalar(VARTYPE type, const std::function<void(VARIANT&)>& set) {
  ScopedVariant variant;
  VARIANT* raw = variant.Receive();
  set(*raw);
  raw->vt = type;
  return variant;
}

ScopedVariant ArrayOf(VARTYPE element_type,
                      LONG lower_bound,
                      ULONG count,
                      const std::function<void(SAFEARRAY*, LONG)>& put) {
  SAFEARRAYBOUND bound{count, lower_bound};
  ScopedSafeArray array(SafeArrayCreate(element_type, 1, &bound));
  for (ULONG i = 0; i < count; ++i)
    put(array.Get(), lower_bound + static_cast<LONG>(i));
  ScopedVariant variant;
  variant.SetArray(std::move(array), element_type);
  return variant;
}

void CheckScalars() {
  struct Case {
    const wchar_t* name;
    ScopedVariant variant;
    Value expected;
  };
  Case cases[] = {
      {L"empty", Scalar(VT_EMPTY, [](VARIANT&) {}), Value()},
      {L"null", Scalar(VT_NULL, [](VARIANT&) {}), Value()},
      {L"bool true", Scalar(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), Value(true)},
      {L"bool false", Scalar(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; }), Value(false)},
      {L"bool non-standard true", Scalar(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; }), Value(true)},
      {L"i1", Scalar(VT_I1, [](VARIANT& v) { v.cVal = static_cast<CHAR>(-5); }), Value(-5)},
      {L"ui1", Scalar(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), Value(200)},
      {L"i2", Scalar(VT_I2, [](VARIANT& v) { v.iVal = -32768; }), Value(-32768)},
      {L"ui2", Scalar(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), Value(65535)},
      {L"i4 min", Scalar(VT_I4, [](VARIANT& v) { v.lVal = -2147483647 - 1; }),
       Value(std::int64_t{-2147483647} - 1)},
      {L"ui4 max", Scalar(VT_UI4, [](VARIANT& v) { v.ulVal = 0xFFFFFFFFu; }),
       Value(std::int64_t{0xFFFFFFFF})},
      {L"int", Scalar(VT_INT, [](VARIANT& v) { v.intVal = -7; }), Value(-7)},
      {L"uint", Scalar(VT_UINT, [](VARIANT& v) { v.uintVal = 7; }), Value(7)},
      {L"i8 min", Scalar(VT_I8, [](VARIANT& v) { v.llVal = INT64_MIN; }), Value(std::int64_t{INT64_MIN})},
      {L"ui8 int64 max", Scalar(VT_UI8, [](VARIANT& v) { v.ullVal = INT64_MAX; }),
       Value(std::int64_t{INT64_MAX})},
      {L"r4", Scalar(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }), Value(1.5)},
      {L"r8", Scalar(VT_R8, [](VARIANT& v) { v.dblVal = -0.25; }), Value(-0.25)},
      {L"bstr", Scalar(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString(L"192.168.10.20"); }),
       Value(L"192.168.10.20")},
      {L"bstr empty", Scalar(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString(L""); }), Value(L"")},
      {L"bstr null", Scalar(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), Value(L"")},
      {L"bstr embedded nul", Scalar(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocStringLen(L"a\0b", 3); }),
       Value(std::wstring(L"a\0b", 3))},
  };
  for (const Case& c : cases)
    ExpectValue(std::wstring(L"scalar ") + c.name, c.variant.Get(), c.expected);

  static LONG referenced = 5;
  struct Bad {
    const wchar_t* name;
    ScopedVariant variant;
  };
  Bad bad[] = {
      {L"ui8 above int64", Scalar(VT_UI8, [](VARIANT& v) { v.ullVal = 0x8000000000000000ull; })},
      {L"date", Scalar(VT_DATE, [](VARIANT& v) { v.date = 45000.0; })},
      {L"currency", Scalar(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 10000; })},
      {L"decimal", Scalar(VT_DECIMAL, [](VARIANT&) {})},
      {L"error", Scalar(VT_ERROR, [](VARIANT& v) { v.scode = E_FAIL; })},
      {L"unknown", Scalar(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; })},
      {L"dispatch", Scalar(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; })},
      {L"by reference", Scalar(VT_BYREF | VT_I4, [](VARIANT& v) { v.plVal = &referenced; })},
  };
  for (const Bad& b : bad)
    ExpectMismatch(std::wstring(L"mismatch ") + b.name, b.variant.Get());
}

void CheckArrays() {
  ExpectValue(L"array strings round trip", MakeStringArray({L"fd00::2", L"192.0.2.2"}).Get(),
              Value::Strings({L"fd00::2", L"192.0.2.2"}));
  ExpectValue(L"array empty strings", MakeStringArray({}).Get(), Value(Value::Array{}));

  ScopedVariant i4 = ArrayOf(VT_I4, -3, 3, [](SAFEARRAY* a, LONG i) {
    LONG item = i * 10;
    SafeArrayPutElement(a, &i, &item);
  });
  ExpectValue(L"array negative lower bound", i4.Get(),
              Value(Value::Array{Value(-30), Value(-20), Value(-10)}));

  ScopedVariant high_empty = ArrayOf(VT_BSTR, 5, 0, [](SAFEARRAY*, LONG) {});
  ExpectValue(L"array empty with lower bound 5", high_empty.Get(), Value(Value::Array{}));

  ScopedVariant shifted = ArrayOf(VT_BSTR, 1, 2, [](SAFEARRAY* a, LONG i) {
    ScopedBstr s(i == 1 ? L"first" : L"second");
    SafeArrayPutElement(a, &i, s.Get());
  });
  ExpectValue(L"array lower bound 1 keeps order", shifted.Get(), Value::Strings({L"first", L"second"}));

  ScopedVariant bytes = ArrayOf(VT_UI1, 0, 2, [](SAFEARRAY* a, LONG i) {
    BYTE item = i == 0 ? 0 : 255;
    SafeArrayPutElement(a, &i, &item);
  });
  ExpectValue(L"array ui1", bytes.Get(), Value(Value::Array{Value(0), Value(255)}));

  ScopedVariant bools = ArrayOf(VT_BOOL, 0, 2, [](SAFEARRAY* a, LONG i) {
    VARIANT_BOOL item = i == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    SafeArrayPutElement(a, &i, &item);
  });
  ExpectValue(L"array bool", bools.Get(), Value(Value::Array{Value(true), Value(false)}));

  ScopedVariant variants = ArrayOf(VT_VARIANT, 0, 4, [](SAFEARRAY* a, LONG i) {
    ScopedVariant item;
    if (i == 0)
      item = Scalar(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString(L"a"); });
    if (i == 1)
      item = Scalar(VT_NULL, [](VARIANT&) {});
    if (i == 2)
      item = Scalar(VT_I2, [](VARIANT& v) { v.iVal = 7; });
    if (i == 3)
      item = MakeStringArray({L"x"});
    SafeArrayPutElement(a, &i, item.AsInput());
  });
  ExpectValue(L"array of variants", variants.Get(),
              Value(Value::Array{Value(L"a"), Value(), Value(7), Value::Strings({L"x"})}));

  std::vector<std::wstring> many;
  for (int i = 0; i < 70000; ++i)
    many.push_back(std::to_wstring(i));
  const Outcome big = Convert(MakeStringArray(many).Get());
  Expect(big.value && big.value->IsArray() && big.value->AsArray().size() == 70000 &&
             big.value->AsArray().back() == Value(L"69999"),
         L"array beyond 16-bit bounds is read whole");

  ScopedVariant null_array = Scalar(VT_ARRAY | VT_BSTR, [](VARIANT& v) { v.parray = nullptr; });
  ExpectValue(L"array without SAFEARRAY reads as null", null_array.Get(), Value());

  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  ScopedVariant two_d;
  two_d.SetArray(ScopedSafeArray(SafeArrayCreate(VT_BSTR, 2, square)), VT_BSTR);
  ExpectMismatch(L"array two-dimensional", two_d.Get());
  ExpectMismatch(L"array of dates", ArrayOf(VT_DATE, 0, 0, [](SAFEARRAY*, LONG) {}).Get());
  ScopedVariant bad_element = ArrayOf(VT_VARIANT, 0, 1, [](SAFEARRAY* a, LONG i) {
    ScopedVariant item = Scalar(VT_DATE, [](VARIANT& v) { v.date = 1.0; });
    SafeArrayPutElement(a, &i, item.AsInput());
  });
  ExpectMismatch(L"array with a date element", bad_element.Get());
}

// The exact shapes handed to ExecMethod.
void CheckInParameterShapes() {
  auto shape = [](const ScopedVariant& v, VARTYPE vt, LONG upper) {
    LONG lower = -1, got_upper = -2;
    SAFEARRAY* a = v.Get().parray;
    return v.Type() == vt && a && SafeArrayGetDim(a) == 1 && SUCCEEDED(SafeArrayGetLBound(a, 1, &lower)) &&
           SUCCEEDED(SafeArrayGetUBound(a, 1, &got_upper)) && lower == 0 && got_upper == upper;
  };
  const ScopedVariant gateway = MakeStringArray({L""});
  Expect(shape(gateway, VT_ARRAY | VT_BSTR, 0), L"one empty gateway is VT_ARRAY|VT_BSTR [0..0]");
  LONG index = 0;
  ScopedBstr element;
  Expect(SUCCEEDED(SafeArrayGetElement(gateway.Get().parray, &index, element.Receive())) && element.Get() &&
             SysStringLen(element.Get()) == 0,
         L"one empty gateway is an empty, non-null BSTR");

  const ScopedVariant dns = MakeStringArray({L" 10.0.0.1 ", L"10.0.0.2"});
  Expect(shape(dns, VT_ARRAY | VT_BSTR, 1), L"two servers are VT_ARRAY|VT_BSTR [0..1]");
  Expect(Convert(dns.Get()).value == Value::Strings({L" 10.0.0.1 ", L"10.0.0.2"}),
         L"servers keep their spaces");

  const ScopedVariant metric = MakeInt32Array({1});
  Expect(shape(metric, VT_ARRAY | VT_I4, 0), L"metric is VT_ARRAY|VT_I4 [0..0]");
  LONG item = 0;
  Expect(SUCCEEDED(SafeArrayGetElement(metric.Get().parray, &index, &item)) && item == 1, L"metric holds 1");
}

void CheckMonikers() {
  struct Case {
    const wchar_t* moniker;
    const wchar_t* expected;  // null: Invalid namespace
  };
  const Case cases[] = {
      {L"winmgmts:\\\\.\\root\\cimv2", L"\\\\.\\root\\cimv2"},
      {L"winmgmts:", L"root\\cimv2"},
      {L"WinMgmts:\\\\.\\ROOT\\CIMV2", L"\\\\.\\root\\cimv2"},
      {L"", nullptr},
      {L"winmgmts", nullptr},
      {L"winmgmts:\\\\server\\root\\cimv2", nullptr},
      {L"winmgmts:\\\\.\\root\\default", nullptr},
      {L"winmgmts:{impersonationLevel=impersonate}", nullptr},
      {L"winmgmts:\\\\.\\root\\cimv2\\", nullptr},
      {L"ldap:\\\\.\\root\\cimv2", nullptr},
  };
  for (const Case& c : cases) {
    std::wstring got;
    try {
      got = NamespaceOfMoniker(c.moniker);
    } catch (const ManagementError& e) {
      got = L"error " + ErrorText(e);
    }
    const std::wstring want = c.expected ? c.expected : L"error Invalid namespace (0x8004100E)";
    Expect(got == want, std::wstring(L"moniker '") + c.moniker + L"'", L"got " + got + L", want " + want);
  }
}

void CheckErrorTexts() {
  struct Case {
    std::uint32_t code;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0x80041001, L"Generic failure"},
      {0x80041002, L"Not found"},
      {0x80041003, L"Access denied"},
      {0x80041005, L"Type mismatch"},
      {0x80041008, L"Invalid parameter"},
      {0x8004100E, L"Invalid namespace"},
      {0x80041010, L"Invalid class"},
      {0x80041013, L"Provider load failure"},
      {0x80041017, L"Invalid query"},
      {0x8004102E, L"Invalid method"},
      {0x800706BA, L"The RPC server is unavailable"},
      {0x80041FFF, L""},
  };
  for (const Case& c : cases) {
    const std::wstring got = DescribeWmiError(c.code);
    Expect(got == c.text, L"text of " + Hex(c.code), L"got '" + got + L"'");
  }
  // From the system's message table: readable, without the trailing period and line break.
  const std::wstring system = DescribeWmiError(0x80070002);
  Expect(!system.empty() && system.back() != L'.' && system.back() != L'\n' && system.back() != L'\r',
         L"system text of 0x80070002 is tidied", L"got '" + system + L"'");
  const ManagementError error = WmiError(0x8004102E);
  Expect(ErrorText(error) == L"Invalid method (0x8004102E)", L"WmiError carries code and text",
         ErrorText(error));
}

void CheckOwners() {
  static_assert(!std::is_copy_constructible_v<ScopedBstr> && !std::is_copy_assignable_v<ScopedBstr>);
  static_assert(!std::is_copy_constructible_v<ScopedVariant> && !std::is_copy_assignable_v<ScopedVariant>);
  static_assert(!std::is_copy_constructible_v<ScopedSafeArray> &&
                !std::is_copy_assignable_v<ScopedSafeArray>);
  static_assert(std::is_nothrow_move_constructible_v<ScopedBstr> &&
                std::is_nothrow_move_constructible_v<ScopedVariant> &&
                std::is_nothrow_move_constructible_v<ScopedSafeArray>);

  ScopedBstr a(L"abc");
  ScopedBstr b(std::move(a));
  Expect(!a.Get() && b.ToString() == L"abc", L"moved BSTR leaves its source empty");
  ScopedBstr c(L"old");
  c = std::move(b);
  Expect(!b.Get() && c.ToString() == L"abc", L"move-assigned BSTR takes the string");

  ScopedVariant v = MakeStringArray({L"x"});
  ScopedVariant w(std::move(v));
  Expect(v.Type() == VT_EMPTY && w.Type() == (VT_ARRAY | VT_BSTR), L"moved VARIANT leaves VT_EMPTY behind");
  v = std::move(w);
  Expect(w.Type() == VT_EMPTY && Convert(v.Get()).value == Value::Strings({L"x"}),
         L"move-assigned VARIANT takes the array");

  ScopedSafeArray s(SafeArrayCreateVector(VT_I4, 0, 1));
  SAFEARRAY* raw = s.Get();
  ScopedSafeArray t(std::move(s));
  Expect(!s.Get() && t.Get() == raw, L"moved SAFEARRAY leaves its source empty");
}

int RunUnit() {
  CheckScalars();
  CheckArrays();
  CheckInParameterShapes();
  CheckMonikers();
  CheckErrorTexts();
  CheckOwners();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------
// live

// The VARIANT types the service really hands over, read past the layer under test.
void SayRawTypes(const wchar_t* query, const std::vector<const wchar_t*>& names) {
  ComPtr<IWbemLocator> locator;
  ComPtr<IWbemServices> services;
  ComPtr<IEnumWbemClassObject> results;
  ScopedBstr ns(L"root\\cimv2"), wql(L"WQL"), text(query);
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator))) ||
      FAILED(locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services)) ||
      FAILED(services->ExecQuery(wql.Get(), text.Get(), WBEM_FLAG_FORWARD_ONLY, nullptr, &results))) {
    Say(L"raw types unavailable");
    return;
  }
  ComPtr<IWbemClassObject> object;
  ULONG returned = 0;
  for (int i = 0; results->Next(kWaitForever, 1, &object, &returned) == S_OK && returned == 1; ++i) {
    for (const wchar_t* name : names) {
      ScopedVariant value;
      CIMTYPE cim = 0;
      const HRESULT hr = object->Get(name, 0, value.Receive(), &cim, nullptr);
      wchar_t line[160];
      swprintf(line, 160, L"vartype %d %ls vt=0x%04X cim=0x%04X hr=0x%08X", i, name, value.Type(),
               static_cast<unsigned>(cim), static_cast<unsigned>(hr));
      Say(line);
    }
    object.Reset();
  }
}

// What Wine answers at each step of a method call, for the record.
void SayRawMethodSteps() {
  ComPtr<IWbemLocator> locator;
  ComPtr<IWbemServices> services;
  ScopedBstr ns(L"root\\cimv2");
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator))) ||
      FAILED(locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
    Say(L"raw steps unavailable");
    return;
  }
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  struct Step {
    const wchar_t* class_name;
    const wchar_t* method;
    std::wstring path;
  };
  const Step steps[] = {
      {L"Win32_NetworkAdapterConfiguration", L"EnableStatic", L"Win32_NetworkAdapterConfiguration.Index=0"},
      {L"Win32_NetworkAdapterConfiguration", L"EnableDHCP", L"Win32_NetworkAdapterConfiguration.Index=0"},
      {L"Win32_Process", L"Terminate", L"Win32_Process.Handle=\"" + pid + L"\""},
      {L"Win32_Process", L"GetOwner", L"Win32_Process.Handle=\"" + pid + L"\""},
  };
  for (const Step& step : steps) {
    ScopedBstr class_name(step.class_name), method(step.method), path(step.path);
    ComPtr<IWbemClassObject> class_object, in_signature, out;
    const HRESULT get = services->GetObject(class_name.Get(), 0, nullptr, &class_object, nullptr);
    const HRESULT method_hr =
        class_object ? class_object->GetMethod(step.method, 0, &in_signature, nullptr) : E_POINTER;
    const HRESULT exec = services->ExecMethod(path.Get(), method.Get(), 0, nullptr, nullptr, &out, nullptr);
    wchar_t line[200];
    swprintf(line, 200, L"raw %ls.%ls GetObject=0x%08X GetMethod=0x%08X ExecMethod=0x%08X", step.class_name,
             step.method, static_cast<unsigned>(get), static_cast<unsigned>(method_hr),
             static_cast<unsigned>(exec));
    Say(line);
  }
}

// Runs `step`; prints "<label> ok <what it returned>" or "<label> error <text>".
void Attempt(const std::wstring& label, const std::function<std::wstring()>& step) {
  try {
    const std::wstring result = step();
    Say(label + L" ok" + (result.empty() ? L"" : L" " + result));
  } catch (const ManagementError& e) {
    Say(label + L" error " + ErrorText(e));
  }
}

ScopedVariant Text(const wchar_t* text) {
  return Scalar(VT_BSTR, [text](VARIANT& v) { v.bstrVal = SysAllocString(text); });
}

// The method road past its failures: Wine lacks the adapter methods but has StdRegProv's, which
// take in-parameters and answer with a ReturnValue, and Win32_Process.GetOwner, which takes none.
void SayMethodRoad() {
  ComPtr<IWbemLocator> locator;
  ComPtr<IWbemServices> services;
  ScopedBstr ns(L"root\\default");
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator))) ||
      FAILED(locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
    Say(L"method road unavailable");
    return;
  }
  const MethodTarget registry{L"StdRegProv", L"StdRegProv"};
  constexpr wchar_t kKey[] = L"Software\\ipsetter-wmi-check";
  auto current_user = [] {
    return Scalar(VT_I4, [](VARIANT& v) { v.lVal = static_cast<LONG>(0x80000001u); });
  };
  auto call = [&](const MethodTarget& target, const wchar_t* method, bool with_parameters,
                  std::vector<MethodArgument> arguments) {
    return std::to_wstring(CallMethod(services.Get(), target, method, with_parameters, std::move(arguments)));
  };
  Attempt(L"call CreateKey", [&] {
    std::vector<MethodArgument> arguments;
    arguments.push_back({L"hDefKey", current_user()});
    arguments.push_back({L"sSubKeyName", Text(kKey)});
    return call(registry, L"CreateKey", true, std::move(arguments));
  });
  Attempt(L"call SetStringValue", [&] {
    std::vector<MethodArgument> arguments;
    arguments.push_back({L"hDefKey", current_user()});
    arguments.push_back({L"sSubKeyName", Text(kKey)});
    arguments.push_back({L"sValueName", Text(L"v")});
    arguments.push_back({L"sValue", Text(L"written through WMI")});
    return call(registry, L"SetStringValue", true, std::move(arguments));
  });
  wchar_t stored[64] = L"";
  DWORD size = sizeof(stored);
  const LONG read = RegGetValueW(HKEY_CURRENT_USER, kKey, L"v", RRF_RT_REG_SZ, nullptr, stored, &size);
  Say(L"registry holds " + (read == ERROR_SUCCESS ? Show(Value(stored)) : L"nothing"));
  Attempt(L"call GetStringValue of a missing key", [&] {
    std::vector<MethodArgument> arguments;
    arguments.push_back({L"hDefKey", current_user()});
    arguments.push_back({L"sSubKeyName", Text(L"Software\\ipsetter-wmi-check-missing")});
    arguments.push_back({L"sValueName", Text(L"v")});
    return call(registry, L"GetStringValue", true, std::move(arguments));
  });
  Attempt(L"call NoSuchMethod", [&] { return call(registry, L"NoSuchMethod", false, {}); });
  Attempt(L"call without a path", [&] { return call({L"StdRegProv", L""}, L"CreateKey", false, {}); });
  const std::wstring self = L"Win32_Process.Handle=\"" + std::to_wstring(GetCurrentProcessId()) + L"\"";
  Attempt(L"call GetOwner", [&] {
    ComPtr<IWbemServices> cimv2;
    ScopedBstr path(L"root\\cimv2");
    ThrowIfFailedForCheck(
        locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &cimv2));
    return std::to_wstring(CallMethod(cimv2.Get(), {L"Win32_Process", self}, L"GetOwner", false, {}));
  });
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

std::wstring Directory() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

// A process under a name the keyboard query looks for; null when the copy is missing.
HANDLE StartNamed(const wchar_t* name) {
  const std::wstring path = Directory() + name;
  std::wstring command = L"\"" + path + L"\" sleep";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    Say(L"spawn " + std::wstring(name) + L" failed " + Hex(GetLastError()));
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

void SayAdapters(ipsetter::ManagementService& service) {
  const ipsetter::ResultSet adapters = service.ExecQuery(kReadQuery);
  Say(L"read count " + std::to_wstring(adapters.size()));
  const wchar_t* names[] = {L"IpAddress", L"IPSubnet", L"DefaultIPGateway", L"DNSServerSearchOrder",
                            L"DHCPEnabled"};
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    for (const wchar_t* name : names)
      Attempt(L"adapter " + std::to_wstring(i) + L" " + name,
              [&] { return Show(adapters[i]->Property(name)); });
  }
}

void SayMethods(ipsetter::ManagementService& service) {
  const ipsetter::ResultSet adapters = service.ExecQuery(kAdapterQuery);
  Say(L"all count " + std::to_wstring(adapters.size()));
  if (adapters.empty())
    return;
  ipsetter::ManagementObject& first = *adapters.front();
  Attempt(L"property NoSuchProperty", [&] { return Show(first.Property(L"NoSuchProperty")); });
  Attempt(L"property description", [&] { return Show(first.Property(L"description")); });
  Attempt(L"property __PATH", [&] { return Show(first.Property(L"__PATH")); });
  auto result = [](std::uint32_t r) { return std::to_wstring(r); };
  Attempt(L"method EnableStatic",
          [&] { return result(first.EnableStatic({L"192.0.2.50"}, {L"255.255.255.0"})); });
  Attempt(L"method SetGateways", [&] { return result(first.SetGateways({L""}, {1})); });
  Attempt(L"method SetDNSServerSearchOrder(list)", [&] {
    return result(first.SetDNSServerSearchOrder({L"192.0.2.1", L"192.0.2.3"}));
  });
  Attempt(L"method SetDNSServerSearchOrder()", [&] { return result(first.SetDNSServerSearchOrder()); });
  Attempt(L"method EnableDHCP", [&] { return result(first.EnableDHCP()); });
}

void SayProcesses(ipsetter::ManagementLocator& locator) {
  HANDLE osk = StartNamed(L"osk.exe");
  HANDLE companion = StartNamed(L"msswchx.exe");
  Attempt(L"processes", [&] {
    const std::unique_ptr<ipsetter::ManagementService> service = locator.Bind(L"winmgmts:");
    const ipsetter::ResultSet processes = service->ExecQuery(kProcessQuery);
    auto names = [&] {
      std::wstring all;
      for (const auto& process : processes)
        all += L" " + Show(process->Property(L"Name"));
      return all;
    };
    Say(L"process names before" + names());
    for (std::size_t i = 0; i < processes.size(); ++i)
      Attempt(L"terminate " + std::to_wstring(i), [&] { return std::to_wstring(processes[i]->Terminate()); });
    Say(L"process names after" + names());
    return std::to_wstring(processes.size());
  });
  for (HANDLE process : {osk, companion}) {
    if (!process)
      continue;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}

int RunLive() {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                       nullptr, EOAC_NONE, nullptr);
  {
    const std::unique_ptr<ipsetter::ManagementLocator> locator = MakeWmiLocator();
    for (const wchar_t* moniker : {kCimv2, L"winmgmts:", L"winmgmts:\\\\.\\root\\nosuch"})
      Attempt(std::wstring(L"bind ") + moniker, [&] {
        locator->Bind(moniker);
        return std::wstring();
      });
    Attempt(L"query bad class", [&] {
      return std::to_wstring(locator->Bind(kCimv2)->ExecQuery(L"Select * from NoSuchClass").size());
    });
    Attempt(L"query bad syntax",
            [&] { return std::to_wstring(locator->Bind(kCimv2)->ExecQuery(L"Select from where").size()); });

    // The service is let go before its objects are used: they keep what they need.
    Attempt(L"walk", [&] {
      std::unique_ptr<ipsetter::ManagementService> service = locator->Bind(kCimv2);
      SayAdapters(*service);
      SayMethods(*service);
      return std::wstring();
    });
    SayRawTypes(kReadQuery,
                {L"IPAddress", L"IPSubnet", L"DefaultIPGateway", L"DNSServerSearchOrder", L"DHCPEnabled"});
    SayRawMethodSteps();
    SayMethodRoad();
    SayProcesses(*locator);
  }
  if (SUCCEEDED(init))
    CoUninitialize();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // "\n", not "\r\n": the script compares whole lines.
  _setmode(_fileno(stdout), _O_BINARY);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"unit")
    return RunUnit();
  if (mode == L"live")
    return RunLive();
  if (mode == L"sleep") {
    Sleep(60000);
    return 0;
  }
  std::fputs("usage: wmi_check unit|live|sleep\n", stderr);
  return 2;
}
