#include "json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace netrig {

Json Json::Bool(bool b) {
  Json j;
  j.kind_ = Kind::kBool;
  j.bool_ = b;
  return j;
}

Json Json::Number(double n) {
  Json j;
  j.kind_ = Kind::kNumber;
  j.number_ = n;
  return j;
}

Json Json::String(std::wstring s) {
  Json j;
  j.kind_ = Kind::kString;
  j.string_ = std::move(s);
  return j;
}

Json Json::MakeArray(Array items) {
  Json j;
  j.kind_ = Kind::kArray;
  j.array_ = std::move(items);
  return j;
}

Json Json::MakeObject(Object members) {
  Json j;
  j.kind_ = Kind::kObject;
  j.object_ = std::move(members);
  return j;
}

const Json* Json::Find(const std::wstring& name) const {
  if (kind_ != Kind::kObject)
    return nullptr;
  for (const auto& [key, value] : object_) {
    if (key == name)
      return &value;
  }
  return nullptr;
}

std::optional<std::int64_t> Json::AsInteger(std::int64_t low, std::int64_t high) const {
  if (kind_ != Kind::kNumber || std::floor(number_) != number_ || number_ < static_cast<double>(low) ||
      number_ > static_cast<double>(high)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(number_);
}

Json& Json::Add(std::wstring name, Json value) {
  object_.emplace_back(std::move(name), std::move(value));
  return *this;
}

Json& Json::Push(Json value) {
  array_.push_back(std::move(value));
  return *this;
}

namespace {

constexpr int kMaxDepth = 32;

class Reader {
 public:
  explicit Reader(const std::string& text) : s_(text) {}

  std::optional<Json> Document() {
    std::optional<Json> value = Value(0);
    SkipSpace();
    if (!value || pos_ != s_.size())
      return std::nullopt;
    return value;
  }

 private:
  void SkipSpace() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0)
      return false;
    pos_ += w.size();
    return true;
  }

  std::optional<Json> Value(int depth) {
    if (depth > kMaxDepth)
      return std::nullopt;
    SkipSpace();
    if (pos_ >= s_.size())
      return std::nullopt;
    const char c = s_[pos_];
    if (c == '{')
      return ObjectValue(depth);
    if (c == '[')
      return ArrayValue(depth);
    if (c == '"') {
      std::optional<std::wstring> text = StringValue();
      if (!text)
        return std::nullopt;
      return Json::String(std::move(*text));
    }
    if (Literal("true"))
      return Json::Bool(true);
    if (Literal("false"))
      return Json::Bool(false);
    if (Literal("null"))
      return Json();
    return NumberValue();
  }

  std::optional<Json> ObjectValue(int depth) {
    ++pos_;
    Json object = Json::MakeObject();
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return object;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '"')
        return std::nullopt;
      std::optional<std::wstring> key = StringValue();
      SkipSpace();
      if (!key || pos_ >= s_.size() || s_[pos_] != ':')
        return std::nullopt;
      ++pos_;
      std::optional<Json> member = Value(depth + 1);
      if (!member)
        return std::nullopt;
      object.Add(std::move(*key), std::move(*member));
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') {
        ++pos_;
        return object;
      }
      return std::nullopt;
    }
  }

  std::optional<Json> ArrayValue(int depth) {
    ++pos_;
    Json array = Json::MakeArray();
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return array;
    }
    for (;;) {
      std::optional<Json> item = Value(depth + 1);
      if (!item)
        return std::nullopt;
      array.Push(std::move(*item));
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
        return array;
      }
      return std::nullopt;
    }
  }

  std::optional<Json> NumberValue() {
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
        ++pos_;
      return pos_ > from;
    };
    if (pos_ < s_.size() && s_[pos_] == '-')
      ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0')
      ++pos_;
    else if (!digits())
      return std::nullopt;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits())
        return std::nullopt;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-'))
        ++pos_;
      if (!digits())
        return std::nullopt;
    }
    const std::string text = s_.substr(start, pos_ - start);
    const double n = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(n))
      return std::nullopt;
    return Json::Number(n);
  }

  std::optional<unsigned> Hex4() {
    if (pos_ + 4 > s_.size())
      return std::nullopt;
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<unsigned>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return v;
  }

  // One UTF-8 sequence at pos_, appended as UTF-16; overlong forms and surrogates are refused.
  bool Utf8(std::wstring& out) {
    const auto lead = static_cast<unsigned char>(s_[pos_]);
    int extra = 0;
    unsigned code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (pos_ + 1 + static_cast<std::size_t>(extra) > s_.size())
      return false;
    for (int i = 1; i <= extra; ++i) {
      const auto c = static_cast<unsigned char>(s_[pos_ + static_cast<std::size_t>(i)]);
      if ((c & 0xC0) != 0x80)
        return false;
      code = (code << 6) | (c & 0x3F);
    }
    static constexpr unsigned kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    pos_ += 1 + static_cast<std::size_t>(extra);
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
    return true;
  }

  std::optional<std::wstring> StringValue() {
    ++pos_;
    std::wstring out;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20)
        return std::nullopt;
      if (c != '\\') {
        if (!Utf8(out))
          return std::nullopt;
        continue;
      }
      ++pos_;
      if (pos_ >= s_.size())
        return std::nullopt;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += static_cast<wchar_t>(e);
          break;
        case 'b':
          out += L'\b';
          break;
        case 'f':
          out += L'\f';
          break;
        case 'n':
          out += L'\n';
          break;
        case 'r':
          out += L'\r';
          break;
        case 't':
          out += L'\t';
          break;
        case 'u': {
          std::optional<unsigned> unit = Hex4();
          if (!unit)
            return std::nullopt;
          out += static_cast<wchar_t>(*unit);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

void WriteString(const std::wstring& s, std::string& out) {
  out += '"';
  for (const wchar_t c : s) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c) & 0xFFFF);
      out += buffer;
    }
  }
  out += '"';
}

void Write(const Json& value, std::string& out) {
  switch (value.kind()) {
    case Json::Kind::kNull:
      out += "null";
      break;
    case Json::Kind::kBool:
      out += value.AsBool() ? "true" : "false";
      break;
    case Json::Kind::kNumber: {
      char buffer[32];
      const double n = value.AsNumber();
      if (std::floor(n) == n && std::fabs(n) < 1e15)
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(n));
      else
        std::snprintf(buffer, sizeof buffer, "%.17g", n);
      out += buffer;
      break;
    }
    case Json::Kind::kString:
      WriteString(value.AsString(), out);
      break;
    case Json::Kind::kArray: {
      out += '[';
      bool first = true;
      for (const Json& item : value.AsArray()) {
        if (!first)
          out += ',';
        first = false;
        Write(item, out);
      }
      out += ']';
      break;
    }
    case Json::Kind::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [key, member] : value.AsObject()) {
        if (!first)
          out += ',';
        first = false;
        WriteString(key, out);
        out += ':';
        Write(member, out);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

std::optional<Json> ParseJson(const std::string& utf8) {
  return Reader(utf8).Document();
}

std::string WriteJson(const Json& value) {
  std::string out;
  Write(value, out);
  return out;
}

}  // namespace netrig
