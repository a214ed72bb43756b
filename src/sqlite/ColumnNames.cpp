#include "sqlite/ColumnNames.h"

namespace vantrel {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (Lower(a[k]) != Lower(b[k])) return false;
  return true;
}

}  // namespace

size_t ColumnPosition(const std::vector<ColumnDef>& columns, std::string_view name) {
  for (size_t k = 0; k < columns.size(); ++k)
    if (SameNameIgnoringCase(columns[k].name, name)) return k;
  return kNoColumn;
}

}  // namespace vantrel
