// Reading a scenario file (JSON) into the simulated network.
#include "scenario.h"

#include <array>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

namespace ipsetter::simexe {

namespace {

using nlohmann::json;

const std::array<const char*, 8> kOperations = {"bind",         "ExecQuery",   "property",
                                                "EnableStatic", "SetGateways", "SetDNSServerSearchOrder",
                                                "EnableDHCP",   "Terminate"};
const std::array<const char*, 4> kAdapterMethods = {"EnableStatic", "SetGateways", "SetDNSServerSearchOrder",
                                                    "EnableDHCP"};

[[noreturn]] void Bad(const std::string& where, const std::string& problem) {
  throw ScenarioError(where + ": " + problem);
}

template <size_t N>
bool OneOf(const std::string& name, const std::array<const char*, N>& names) {
  for (const char* n : names)
    if (name == n)
      return true;
  return false;
}

template <size_t N>
std::string Listed(const std::array<const char*, N>& names) {
  std::string out;
  for (const char* n : names)
    out += (out.empty() ? "" : ", ") + std::string(n);
  return out;
}

Value ToValue(const json& j, const std::string& where) {
  switch (j.type()) {
    case json::value_t::null:
      return Value();
    case json::value_t::boolean:
      return Value(j.get<bool>());
    case json::value_t::number_integer:
      return Value(j.get<std::int64_t>());
    case json::value_t::number_unsigned: {
      const auto u = j.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        Bad(where, "integer too large");
      return Value(static_cast<std::int64_t>(u));
    }
    case json::value_t::number_float:
      return Value(j.get<double>());
    case json::value_t::string:
      return Value(FromUtf8(j.get<std::string>()));
    case json::value_t::array: {
      Value::Array items;
      for (size_t i = 0; i < j.size(); ++i)
        items.push_back(ToValue(j[i], where + "[" + std::to_string(i) + "]"));
      return Value(std::move(items));
    }
    default:
      Bad(where, "expected null, a Boolean, a number, a string or an array");
  }
}

// A result or fault code: a number (negative ones as the signed reading of 32 bits) or a text
// such as "0x8004102E".
std::uint32_t ToCode(const json& j, const std::string& where) {
  const std::string expected =
      "expected an integer from -2147483648 to 4294967295 or a text such as \"0x80041001\"";
  if (j.is_number_unsigned()) {
    const auto u = j.get<std::uint64_t>();
    if (u > 0xFFFFFFFFull)
      Bad(where, expected);
    return static_cast<std::uint32_t>(u);
  }
  if (j.is_number_integer()) {
    const auto i = j.get<std::int64_t>();
    if (i < std::numeric_limits<std::int32_t>::min() || i > 0xFFFFFFFFll)
      Bad(where, expected);
    return static_cast<std::uint32_t>(i);
  }
  if (j.is_string()) {
    const std::string s = j.get<std::string>();
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const std::string digits = hex ? s.substr(2) : s;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u))
      Bad(where, expected);
    std::uint64_t value = 0;
    for (char c : digits) {
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (hex && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        Bad(where, expected);
      value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    }
    if (value > 0xFFFFFFFFull)
      Bad(where, expected);
    return static_cast<std::uint32_t>(value);
  }
  Bad(where, expected);
}

int ToCount(const json& j, const std::string& where, int minimum) {
  if (!j.is_number_integer() || j.get<std::int64_t>() < minimum ||
      j.get<std::int64_t>() > std::numeric_limits<int>::max())
    Bad(where, "expected an integer of at least " + std::to_string(minimum));
  return static_cast<int>(j.get<std::int64_t>());
}

std::wstring ToText(const json& j, const std::string& where) {
  if (!j.is_string())
    Bad(where, "expected a text");
  return FromUtf8(j.get<std::string>());
}

const json& Object(const json& j, const std::string& where) {
  if (!j.is_object())
    Bad(where, "expected an object");
  return j;
}

const json& Array(const json& j, const std::string& where) {
  if (!j.is_array())
    Bad(where, "expected an array");
  return j;
}

sim::Adapter ToAdapter(const json& j, const std::string& where) {
  sim::Adapter adapter;
  for (const auto& [key, value] : Object(j, where).items()) {
    const std::string at = where + "." + key;
    if (key == "results") {
      for (const auto& [method, result] : Object(value, at).items()) {
        if (!OneOf(method, kAdapterMethods))
          Bad(at + "." + method, "unknown method; expected one of " + Listed(kAdapterMethods));
        adapter.results[FromUtf8(method)] = ToCode(result, at + "." + method);
      }
    } else if (key == "lease") {
      sim::Lease lease;
      for (const auto& [name, item] : Object(value, at).items()) {
        if (name == "afterReads")
          lease.after_reads = ToCount(item, at + ".afterReads", 0);
        else
          lease.properties[FromUtf8(name)] = ToValue(item, at + "." + name);
      }
      adapter.lease = std::move(lease);
    } else {
      adapter.properties[FromUtf8(key)] = ToValue(value, at);
    }
  }
  return adapter;
}

// "osk.exe", or {"name": "osk.exe", "session": 2} for a process of another Windows session.
sim::Process ToProcess(const json& j, const std::string& where) {
  if (j.is_string())
    return sim::Process(ToText(j, where));
  if (!j.is_object())
    Bad(where, "expected a text or an object");
  sim::Process process(L"");
  bool has_name = false;
  for (const auto& [key, value] : j.items()) {
    const std::string at = where + "." + key;
    if (key == "name") {
      process.name = ToText(value, at);
      has_name = true;
    } else if (key == "session") {
      process.session = static_cast<std::uint32_t>(ToCount(value, at, 0));
    } else {
      Bad(at, "unknown key; expected name or session");
    }
  }
  if (!has_name)
    Bad(where, "missing \"name\"");
  return process;
}

sim::Fault ToFault(const json& j, const std::string& where) {
  sim::Fault fault;
  bool has_operation = false;
  for (const auto& [key, value] : Object(j, where).items()) {
    const std::string at = where + "." + key;
    if (key == "operation") {
      if (!value.is_string() || !OneOf(value.get<std::string>(), kOperations))
        Bad(at, "expected one of " + Listed(kOperations));
      fault.operation = FromUtf8(value.get<std::string>());
      has_operation = true;
    } else if (key == "nth") {
      fault.nth = ToCount(value, at, 1);
    } else if (key == "code") {
      fault.code = ToCode(value, at);
    } else if (key == "description") {
      fault.description = ToText(value, at);
    } else {
      Bad(at, "unknown key; expected operation, nth, code or description");
    }
  }
  if (!has_operation)
    Bad(where, "missing \"operation\"");
  return fault;
}

nlohmann::ordered_json ToJson(const Value& v) {
  if (v.IsNull())
    return nullptr;
  if (v.IsBool())
    return v.AsBool();
  if (v.IsInteger())
    return v.AsInteger();
  if (v.IsReal())
    return v.AsReal();
  if (v.IsString())
    return ToUtf8(v.AsString());
  nlohmann::ordered_json items = nlohmann::ordered_json::array();
  for (const Value& item : v.AsArray())
    items.push_back(ToJson(item));
  return items;
}

}  // namespace

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80           ? 0
                : (lead >> 5) == 0x6  ? 1
                : (lead >> 4) == 0xE  ? 2
                : (lead >> 3) == 0x1E ? 3
                                      : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= text.size())
      throw ScenarioError("invalid UTF-8 text");
    std::uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((c & 0xC0) != 0x80)
        throw ScenarioError("invalid UTF-8 text");
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      throw ScenarioError("invalid UTF-8 text");
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto cp = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      cp = 0xFFFD;  // a lone surrogate cannot be written as UTF-8
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

Scenario LoadScenario(const std::string& json_text, sim::SimulatedNetwork& network) {
  json root;
  try {
    root = json::parse(json_text);
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("not valid JSON: ") + e.what());
  }
  Object(root, "scenario");

  Scenario scenario;
  std::vector<sim::Adapter> adapters;
  std::vector<sim::Process> processes;
  std::vector<sim::Fault> faults;
  for (const auto& [key, value] : root.items()) {
    if (key == "adapters") {
      for (size_t i = 0; i < Array(value, key).size(); ++i)
        adapters.push_back(ToAdapter(value[i], "adapters[" + std::to_string(i) + "]"));
    } else if (key == "processes") {
      for (size_t i = 0; i < Array(value, key).size(); ++i)
        processes.push_back(ToProcess(value[i], "processes[" + std::to_string(i) + "]"));
    } else if (key == "faults") {
      for (size_t i = 0; i < Array(value, key).size(); ++i)
        faults.push_back(ToFault(value[i], "faults[" + std::to_string(i) + "]"));
    } else if (key == "record") {
      scenario.record_path = ToText(value, key);
      if (scenario.record_path.empty())
        Bad(key, "expected a file name");
    } else if (key == "highContrast") {
      if (!value.is_boolean())
        Bad(key, "expected true or false");
      scenario.high_contrast = value.get<bool>();
    } else {
      Bad(key, "unknown key; expected adapters, processes, faults, record or highContrast");
    }
  }
  network.adapters = std::move(adapters);
  network.processes = std::move(processes);
  network.faults = std::move(faults);
  return scenario;
}

std::string CallToJson(const sim::Call& call) {
  nlohmann::ordered_json args = nlohmann::ordered_json::array();
  for (const Value& a : call.args)
    args.push_back(ToJson(a));
  const nlohmann::ordered_json line = {{"operation", ToUtf8(call.operation)},
                                       {"target", ToUtf8(call.target)},
                                       {"adapter", call.adapter},
                                       {"args", std::move(args)}};
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace ipsetter::simexe
