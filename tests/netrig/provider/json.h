// A small JSON value with a strict reader and an ASCII-only writer: enough for the agent's lines
// and the record. Strings are UTF-16, as everything else in the provider.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace netrig {

class Json {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::wstring, Json>>;

  Json() = default;
  static Json Bool(bool b);
  static Json Number(double n);
  static Json String(std::wstring s);
  static Json MakeArray(Array items = {});
  static Json MakeObject(Object members = {});

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  bool AsBool() const { return bool_; }
  double AsNumber() const { return number_; }
  const std::wstring& AsString() const { return string_; }
  const Array& AsArray() const { return array_; }
  const Object& AsObject() const { return object_; }

  // The member named `name` of an object (exact match); null when absent or not an object.
  const Json* Find(const std::wstring& name) const;
  // An integral number within [low, high].
  std::optional<std::int64_t> AsInteger(std::int64_t low, std::int64_t high) const;

  Json& Add(std::wstring name, Json value);  // objects
  Json& Push(Json value);                    // arrays

 private:
  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::wstring string_;
  Array array_;
  Object object_;
};

// The whole text must be one JSON value (surrounding white space allowed); nullopt otherwise.
std::optional<Json> ParseJson(const std::string& utf8);
// One line of ASCII: every character outside printable ASCII is written as \uXXXX.
std::string WriteJson(const Json& value);

}  // namespace netrig
