#include "sqlite/ColumnRules.h"

namespace vantrel {

namespace {

// ASCII case folding: the words compared against are ASCII, and the locale's
// tolower is a library call per byte on a path taken for every value.
constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, word.size()), word)) return true;
  return false;
}

bool StartsWithNoCase(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && EqualsNoCase(text.substr(0, word.size()), word);
}

}  // namespace

Affinity AffinityOf(std::string_view t) {
  // The words nearly every table declares, answered before the searches
  // below (the reader asks once per value it renders); each gives what the
  // searches would.
  if (t.empty()) return Affinity::Blob;
  if (EqualsNoCase(t, "integer")) return Affinity::Integer;
  if (EqualsNoCase(t, "text")) return Affinity::Text;
  if (ContainsNoCase(t, "int")) return Affinity::Integer;
  if (ContainsNoCase(t, "char") || ContainsNoCase(t, "clob") || ContainsNoCase(t, "text"))
    return Affinity::Text;
  if (t.empty() || ContainsNoCase(t, "blob")) return Affinity::Blob;
  if (ContainsNoCase(t, "real") || ContainsNoCase(t, "floa") || ContainsNoCase(t, "doub"))
    return Affinity::Real;
  return Affinity::Numeric;
}

bool IsRowidAlias(const ColumnDef& column) {
  return EqualsNoCase(column.type, "integer") && ContainsNoCase(column.constraint, "primary key");
}

bool ConstraintStartsWithPrimaryKey(const ColumnDef& column) {
  return StartsWithNoCase(column.constraint, "primary key");
}

DeclaredWord DeclaredWordOf(const ColumnDef& column) {
  if (EqualsNoCase(column.type, "integer")) return DeclaredWord::Integer;
  if (EqualsNoCase(column.type, "text")) return DeclaredWord::Text;
  return DeclaredWord::Other;
}

}  // namespace vantrel
