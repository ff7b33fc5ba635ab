// The WQL the two classes need: SELECT * | p1, p2 FROM class [WHERE conditions with = <> < > <= >=,
// IS [NOT] NULL, AND, OR, NOT and parentheses]. Keywords and names are case-insensitive, and so are
// string comparisons, as on Windows.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "json.h"
#include "schema.h"
#include "wbem_object.h"

namespace netrig {

struct Condition {
  enum class Kind { kOr, kAnd, kNot, kCompare, kIsNull, kIsNotNull };
  Kind kind;
  std::vector<std::unique_ptr<Condition>> operands;
  std::wstring property;
  CIMTYPE type = CIM_EMPTY;
  std::wstring op;  // =, <>, <, >, <=, >=
  Json literal;
};

struct Query {
  const ClassDef* cls = nullptr;
  std::vector<std::wstring> properties;  // empty for *
  std::unique_ptr<Condition> where;
};

// WBEM_E_INVALID_QUERY for bad syntax, a property the class lacks or a comparison its type does not
// allow; WBEM_E_INVALID_CLASS for a class the stand-in does not know.
HRESULT ParseWql(const std::wstring& text, Query& query);

bool Matches(const Condition& condition, const std::vector<Property>& values);

}  // namespace netrig
