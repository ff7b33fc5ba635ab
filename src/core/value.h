// A property value as the management service hands it out: null, Boolean, integer, string or a list.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ipsetter {

// A property value as the management service hands it over.
class Value {
 public:
  using Array = std::vector<Value>;

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : data_(b) {}
  Value(int i) : data_(static_cast<std::int64_t>(i)) {}
  Value(std::int64_t i) : data_(i) {}
  Value(double d) : data_(d) {}
  Value(const wchar_t* s) : data_(std::wstring(s)) {}
  Value(std::wstring s) : data_(std::move(s)) {}
  Value(Array a) : data_(std::move(a)) {}

  static Value Strings(const std::vector<std::wstring>& items) {
    Array a;
    a.reserve(items.size());
    for (const auto& s : items)
      a.emplace_back(s);
    return Value(std::move(a));
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(data_); }
  bool IsBool() const { return std::holds_alternative<bool>(data_); }
  bool IsInteger() const { return std::holds_alternative<std::int64_t>(data_); }
  bool IsReal() const { return std::holds_alternative<double>(data_); }
  bool IsString() const { return std::holds_alternative<std::wstring>(data_); }
  bool IsArray() const { return std::holds_alternative<Array>(data_); }

  bool AsBool() const { return std::get<bool>(data_); }
  std::int64_t AsInteger() const { return std::get<std::int64_t>(data_); }
  double AsReal() const { return std::get<double>(data_); }
  const std::wstring& AsString() const { return std::get<std::wstring>(data_); }
  const Array& AsArray() const { return std::get<Array>(data_); }

  bool operator==(const Value&) const = default;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::wstring, Array> data_;
};

}  // namespace ipsetter
