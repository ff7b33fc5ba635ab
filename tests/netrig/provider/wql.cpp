#include "wql.h"

#include <wbemcli.h>

#include <cwctype>

namespace netrig {

namespace {

struct Token {
  enum class Kind { kEnd, kWord, kString, kNumber, kSymbol };
  Kind kind;
  std::wstring text;
};

bool Lex(const std::wstring& s, std::vector<Token>& tokens) {
  std::size_t i = 0;
  while (i < s.size()) {
    const wchar_t c = s[i];
    if (std::iswspace(c)) {
      ++i;
    } else if (std::iswalpha(c) || c == L'_') {
      const std::size_t start = i;
      while (i < s.size() && (std::iswalnum(s[i]) || s[i] == L'_'))
        ++i;
      tokens.push_back({Token::Kind::kWord, s.substr(start, i - start)});
    } else if (std::iswdigit(c) || (c == L'-' && i + 1 < s.size() && std::iswdigit(s[i + 1]))) {
      const std::size_t start = i++;
      while (i < s.size() && std::iswdigit(s[i]))
        ++i;
      tokens.push_back({Token::Kind::kNumber, s.substr(start, i - start)});
    } else if (c == L'\'' || c == L'"') {
      std::wstring text;
      for (++i;; ++i) {
        if (i >= s.size())
          return false;
        if (s[i] == c)
          break;
        if (s[i] == L'\\' && i + 1 < s.size())
          ++i;
        text += s[i];
      }
      ++i;
      tokens.push_back({Token::Kind::kString, text});
    } else {
      static const wchar_t* const kSymbols[] = {L"<>", L"!=", L"<=", L">=", L"=", L"<",
                                                L">",  L"(",  L")",  L",",  L"*"};
      bool found = false;
      for (const wchar_t* symbol : kSymbols) {
        const std::wstring sym = symbol;
        if (s.compare(i, sym.size(), sym) == 0) {
          tokens.push_back({Token::Kind::kSymbol, sym == L"!=" ? L"<>" : sym});
          i += sym.size();
          found = true;
          break;
        }
      }
      if (!found)
        return false;
    }
  }
  tokens.push_back({Token::Kind::kEnd, L""});
  return true;
}

bool IsSystemProperty(const std::wstring& name) {
  for (const std::wstring& n : SystemPropertyNames()) {
    if (EqualsNoCase(name, n))
      return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  HRESULT Parse(Query& query) {
    if (!Keyword(L"SELECT"))
      return HRESULT(WBEM_E_INVALID_QUERY);
    if (Symbol(L"*")) {
      query.properties.clear();
    } else {
      do {
        if (Peek().kind != Token::Kind::kWord || IsReserved(Peek().text))
          return HRESULT(WBEM_E_INVALID_QUERY);
        query.properties.push_back(t_[pos_++].text);
      } while (Symbol(L","));
    }
    if (!Keyword(L"FROM") || Peek().kind != Token::Kind::kWord || IsReserved(Peek().text))
      return HRESULT(WBEM_E_INVALID_QUERY);
    class_name_ = t_[pos_++].text;
    if (Keyword(L"WHERE")) {
      query.where = Or();
      if (!query.where)
        return HRESULT(WBEM_E_INVALID_QUERY);
    }
    if (Peek().kind != Token::Kind::kEnd)
      return HRESULT(WBEM_E_INVALID_QUERY);
    query.cls = FindClass(class_name_);
    if (!query.cls)
      return HRESULT(WBEM_E_INVALID_CLASS);
    for (const std::wstring& p : query.properties) {
      if (!FindProperty(*query.cls, p) && !IsSystemProperty(p))
        return HRESULT(WBEM_E_INVALID_QUERY);
    }
    return query.where ? Check(*query.where, *query.cls) : HRESULT(WBEM_S_NO_ERROR);
  }

 private:
  const Token& Peek() const { return t_[pos_]; }

  static bool IsReserved(const std::wstring& word) {
    for (const wchar_t* k :
         {L"SELECT", L"FROM", L"WHERE", L"AND", L"OR", L"NOT", L"IS", L"NULL", L"TRUE", L"FALSE"}) {
      if (EqualsNoCase(word, k))
        return true;
    }
    return false;
  }

  bool Keyword(const wchar_t* word) {
    if (Peek().kind == Token::Kind::kWord && EqualsNoCase(Peek().text, word)) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Symbol(const wchar_t* symbol) {
    if (Peek().kind == Token::Kind::kSymbol && Peek().text == symbol) {
      ++pos_;
      return true;
    }
    return false;
  }

  std::unique_ptr<Condition> Join(Condition::Kind kind,
                                  std::unique_ptr<Condition> (Parser::*operand)(),
                                  const wchar_t* keyword) {
    std::unique_ptr<Condition> first = (this->*operand)();
    if (!first || !(Peek().kind == Token::Kind::kWord && EqualsNoCase(Peek().text, keyword)))
      return first;
    auto joined = std::make_unique<Condition>();
    joined->kind = kind;
    joined->operands.push_back(std::move(first));
    while (Keyword(keyword)) {
      std::unique_ptr<Condition> next = (this->*operand)();
      if (!next)
        return nullptr;
      joined->operands.push_back(std::move(next));
    }
    return joined;
  }

  std::unique_ptr<Condition> Or() { return Join(Condition::Kind::kOr, &Parser::And, L"OR"); }
  std::unique_ptr<Condition> And() { return Join(Condition::Kind::kAnd, &Parser::Factor, L"AND"); }

  std::unique_ptr<Condition> Factor() {
    if (Keyword(L"NOT")) {
      std::unique_ptr<Condition> inner = Factor();
      if (!inner)
        return nullptr;
      auto c = std::make_unique<Condition>();
      c->kind = Condition::Kind::kNot;
      c->operands.push_back(std::move(inner));
      return c;
    }
    if (Symbol(L"(")) {
      std::unique_ptr<Condition> inner = Or();
      if (!inner || !Symbol(L")"))
        return nullptr;
      return inner;
    }
    if (Peek().kind != Token::Kind::kWord || IsReserved(Peek().text))
      return nullptr;
    auto c = std::make_unique<Condition>();
    c->property = t_[pos_++].text;
    if (Keyword(L"IS")) {
      c->kind = Keyword(L"NOT") ? Condition::Kind::kIsNotNull : Condition::Kind::kIsNull;
      return Keyword(L"NULL") ? std::move(c) : nullptr;
    }
    if (Peek().kind != Token::Kind::kSymbol || Peek().text == L"(" || Peek().text == L")" ||
        Peek().text == L"," || Peek().text == L"*") {
      return nullptr;
    }
    c->kind = Condition::Kind::kCompare;
    c->op = t_[pos_++].text;
    const Token& value = t_[pos_];
    if (value.kind == Token::Kind::kString)
      c->literal = Json::String(value.text);
    else if (value.kind == Token::Kind::kNumber)
      c->literal = Json::Number(std::wcstod(value.text.c_str(), nullptr));
    else if (value.kind == Token::Kind::kWord && EqualsNoCase(value.text, L"TRUE"))
      c->literal = Json::Bool(true);
    else if (value.kind == Token::Kind::kWord && EqualsNoCase(value.text, L"FALSE"))
      c->literal = Json::Bool(false);
    else
      return nullptr;
    ++pos_;
    return c;
  }

  // Names the class has, and a literal of the property's kind.
  HRESULT Check(Condition& c, const ClassDef& cls) {
    for (auto& operand : c.operands) {
      const HRESULT hr = Check(*operand, cls);
      if (FAILED(hr))
        return hr;
    }
    if (c.kind != Condition::Kind::kCompare && c.kind != Condition::Kind::kIsNull &&
        c.kind != Condition::Kind::kIsNotNull) {
      return HRESULT(WBEM_S_NO_ERROR);
    }
    const PropertyDef* p = FindProperty(cls, c.property);
    if (!p || (p->type & CIM_FLAG_ARRAY))
      return HRESULT(WBEM_E_INVALID_QUERY);
    c.property = p->name;
    c.type = p->type;
    if (c.kind != Condition::Kind::kCompare)
      return HRESULT(WBEM_S_NO_ERROR);
    const VARTYPE vt = AutomationType(p->type);
    const bool numeric_text = p->type == CIM_UINT64 || p->type == CIM_SINT64;
    const Json::Kind want = vt == VT_BOOL                      ? Json::Kind::kBool
                            : (vt == VT_BSTR && !numeric_text) ? Json::Kind::kString
                                                               : Json::Kind::kNumber;
    if (c.literal.kind() != want || (want == Json::Kind::kBool && c.op != L"=" && c.op != L"<>"))
      return HRESULT(WBEM_E_INVALID_QUERY);
    return HRESULT(WBEM_S_NO_ERROR);
  }

  std::vector<Token> t_;
  std::size_t pos_ = 0;
  std::wstring class_name_;
};

bool Holds(const std::wstring& op, int order) {
  if (op == L"=")
    return order == 0;
  if (op == L"<>")
    return order != 0;
  if (op == L"<")
    return order < 0;
  if (op == L">")
    return order > 0;
  if (op == L"<=")
    return order <= 0;
  return order >= 0;
}

}  // namespace

HRESULT ParseWql(const std::wstring& text, Query& query) {
  std::vector<Token> tokens;
  if (!Lex(text, tokens))
    return HRESULT(WBEM_E_INVALID_QUERY);
  return Parser(std::move(tokens)).Parse(query);
}

bool Matches(const Condition& c, const std::vector<Property>& values) {
  switch (c.kind) {
    case Condition::Kind::kOr:
      for (const auto& operand : c.operands) {
        if (Matches(*operand, values))
          return true;
      }
      return false;
    case Condition::Kind::kAnd:
      for (const auto& operand : c.operands) {
        if (!Matches(*operand, values))
          return false;
      }
      return true;
    case Condition::Kind::kNot:
      return !Matches(*c.operands.front(), values);
    default:
      break;
  }
  const VARIANT* value = nullptr;
  for (const Property& p : values) {
    if (EqualsNoCase(p.name, c.property))
      value = &p.value.get();
  }
  const bool is_null = !value || value->vt == VT_NULL || value->vt == VT_EMPTY;
  if (c.kind == Condition::Kind::kIsNull)
    return is_null;
  if (c.kind == Condition::Kind::kIsNotNull)
    return !is_null;
  if (is_null)
    return false;
  int order = 0;
  if (value->vt == VT_BOOL) {
    order = (value->boolVal != VARIANT_FALSE) == c.literal.AsBool() ? 0 : 1;
  } else if (value->vt == VT_BSTR && c.literal.kind() == Json::Kind::kString) {
    const std::wstring& literal = c.literal.AsString();
    order = CompareStringOrdinal(value->bstrVal, static_cast<int>(SysStringLen(value->bstrVal)),
                                 literal.c_str(), static_cast<int>(literal.size()), TRUE) -
            CSTR_EQUAL;
  } else {
    double n = 0;
    if (value->vt == VT_BSTR)
      n = std::wcstod(value->bstrVal, nullptr);
    else if (value->vt == VT_UI1)
      n = value->bVal;
    else if (c.type == CIM_UINT32)
      n = static_cast<ULONG>(value->lVal);
    else
      n = value->lVal;
    order = n < c.literal.AsNumber() ? -1 : (n > c.literal.AsNumber() ? 1 : 0);
  }
  return Holds(c.op, order);
}

}  // namespace netrig
