#include "sqlite/Schema.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>

#include "platform/Text.h"
#include "sqlite/BTree.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

namespace {

// Columns of a schema row.
constexpr size_t kTypeColumn = 0;
constexpr size_t kNameColumn = 1;
constexpr size_t kRootPageColumn = 3;
constexpr size_t kSqlColumn = 4;
constexpr size_t kSchemaColumns = 5;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsQuote(char c) {
  return c == '\'' || c == '"' || c == '`' || c == '[';
}
char CloseQuote(char open) {
  return open == '[' ? ']' : open;
}

// The index just past a quoted run starting at `at` (a doubled closing quote
// stays inside it). The end of the text when the quote is never closed.
size_t SkipQuoted(const std::string& s, size_t at) {
  const char close = CloseQuote(s[at]);
  size_t i = at + 1;
  while (i < s.size()) {
    if (s[i] == close) {
      if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return s.size();
}

// White space outside quotes collapsed to single blanks, ends trimmed.
std::string Collapse(const std::string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (IsQuote(c)) {
      const size_t end = SkipQuoted(s, i);
      out.append(s, i, end - i);
      i = end;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
      ++i;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The next word of a column definition: a quoted name, a parenthesised
// group, or a run of other characters up to a blank or a parenthesis.
size_t WordEnd(const std::string& s, size_t at) {
  if (at >= s.size()) return at;
  if (IsQuote(s[at])) return SkipQuoted(s, at);
  if (s[at] == '(') {
    int depth = 0;
    for (size_t i = at; i < s.size(); ++i) {
      if (IsQuote(s[i])) {
        i = SkipQuoted(s, i) - 1;
      } else if (s[i] == '(') {
        ++depth;
      } else if (s[i] == ')' && --depth == 0) {
        return i + 1;
      }
    }
    return s.size();
  }
  size_t i = at;
  while (i < s.size() && s[i] != ' ' && s[i] != '(' && !IsQuote(s[i])) ++i;
  return i;
}

std::string Unquote(const std::string& word) {
  if (word.size() >= 2 && IsQuote(word[0]) && word.back() == CloseQuote(word[0])) {
    const char close = word.back();
    std::string out;
    for (size_t i = 1; i + 1 < word.size(); ++i) {
      out.push_back(word[i]);
      if (word[i] == close && close != ']' && i + 2 < word.size() && word[i + 1] == close) ++i;
    }
    return out;
  }
  return word;
}

bool IsTableConstraintWord(const std::string& upperWord) {
  return upperWord == "CONSTRAINT" || upperWord == "PRIMARY" || upperWord == "UNIQUE" ||
         upperWord == "CHECK" || upperWord == "FOREIGN";
}

bool IsColumnConstraintWord(const std::string& upperWord) {
  return upperWord == "CONSTRAINT" || upperWord == "PRIMARY" || upperWord == "NOT" ||
         upperWord == "NULL" || upperWord == "UNIQUE" || upperWord == "CHECK" ||
         upperWord == "DEFAULT" || upperWord == "COLLATE" || upperWord == "REFERENCES" ||
         upperWord == "GENERATED" || upperWord == "AS";
}

// Splits the text between the outer parentheses of a CREATE TABLE at the
// commas that are not inside parentheses or quotes.
std::vector<std::string> SplitDefinitions(const std::string& sql) {
  std::vector<std::string> pieces;
  size_t i = 0;
  while (i < sql.size() && sql[i] != '(') i = IsQuote(sql[i]) ? SkipQuoted(sql, i) : i + 1;
  if (i >= sql.size()) return pieces;
  int depth = 0;
  std::string piece;
  for (++i; i < sql.size(); ++i) {
    const char c = sql[i];
    if (IsQuote(c)) {
      const size_t end = SkipQuoted(sql, i);
      piece.append(sql, i, end - i);
      i = end - 1;
      continue;
    }
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth == 0) break;
      --depth;
    } else if (c == ',' && depth == 0) {
      pieces.push_back(piece);
      piece.clear();
      continue;
    }
    piece.push_back(c);
  }
  pieces.push_back(piece);  // the last definition, even when the text was cut short
  return pieces;
}

// A table constraint PRIMARY KEY(x) on one INTEGER column makes that column
// the rowid alias, just as a column constraint would: note it on the column.
void MarkTablePrimaryKey(const std::string& definition, SchemaTable& table) {
  const std::string upper = Upper(definition);
  const size_t key = upper.find("PRIMARY KEY");
  if (key == std::string::npos) return;
  const size_t open = definition.find('(', key);
  if (open == std::string::npos) return;
  const size_t close = definition.find(')', open);
  std::string inner = Collapse(definition.substr(
      open + 1, close == std::string::npos ? std::string::npos : close - open - 1));
  if (inner.find(',') != std::string::npos) return;
  const std::string name = Unquote(inner.substr(0, WordEnd(inner, 0)));
  for (ColumnDef& column : table.columns) {
    if (Upper(column.name) == Upper(name) && Upper(column.type) == "INTEGER" &&
        Upper(column.constraint).find("PRIMARY KEY") == std::string::npos) {
      column.constraint =
          column.constraint.empty() ? "PRIMARY KEY" : "PRIMARY KEY " + column.constraint;
    }
  }
}

int32_t RootPageValue(uint64_t serialType, ByteView content) {
  if (serialType == 9) return 1;
  if (serialType < 1 || serialType > 6) return 0;
  int64_t value = (content[0] & 0x80) ? -1 : 0;
  for (size_t i = 0; i < content.size(); ++i) value = (value << 8) | content[i];
  return value < 0 || value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

}  // namespace

void ParseCreateTable(const std::string& sql, SchemaTable& table) {
  std::vector<std::string> tableConstraints;
  for (const std::string& raw : SplitDefinitions(sql)) {
    const std::string piece = Collapse(raw);
    if (piece.empty()) continue;
    const size_t nameEnd = WordEnd(piece, 0);
    const std::string first = piece.substr(0, nameEnd);
    if (!IsQuote(first[0]) && IsTableConstraintWord(Upper(first))) {
      tableConstraints.push_back(piece);
      continue;
    }
    ColumnDef column;
    column.name = Unquote(first);
    // The declared type is every word up to the first constraint keyword
    // ("UNSIGNED BIG INT", "VARCHAR(255)"); the rest is the constraint text.
    size_t at = nameEnd;
    while (at < piece.size() && piece[at] == ' ') ++at;
    size_t typeEnd = at;
    size_t scan = at;
    while (scan < piece.size()) {
      const size_t end = WordEnd(piece, scan);
      if (end == scan) break;
      if (piece[scan] != '(' && IsColumnConstraintWord(Upper(piece.substr(scan, end - scan))))
        break;
      typeEnd = end;
      scan = end;
      while (scan < piece.size() && piece[scan] == ' ') ++scan;
    }
    column.type = piece.substr(at, typeEnd - at);
    while (!column.type.empty() && column.type.back() == ' ') column.type.pop_back();
    size_t rest = typeEnd;
    while (rest < piece.size() && piece[rest] == ' ') ++rest;
    column.constraint = piece.substr(rest);
    table.columns.push_back(std::move(column));
  }
  for (const std::string& constraint : tableConstraints) MarkTablePrimaryKey(constraint, table);
}

bool ReadSchemaRows(SqliteFile& db, const std::vector<int32_t>& leafPages) {
  bool whole = true;
  std::vector<uint8_t> buffer;
  for (int32_t pageNo : leafPages) {
    if (ReadPageNumber(db, static_cast<uint32_t>(pageNo), buffer) != PageRead::Whole) {
      whole = false;
      CountDamagedPage(db);
    }
    const ByteView page(buffer.data(), buffer.size());
    std::vector<uint16_t> offsets;
    const size_t refused =
        ParsePage(page, pageNo == 1 ? kPage1HeaderOffset : 0, UsableSize(db)).CellPointers(offsets);
    for (size_t k = 0; k < refused; ++k) CountDamagedCell(db);
    for (uint16_t offset : offsets) {
      CellPayload cell;
      RecordHeader header;
      // A damaged row is skipped and counted; the rows around it are still read.
      if (!AssembleCellPayload(db, page, offset, cell) || !DecodeRecordHeader(cell, header) ||
          header.serialTypes.size() > kSchemaColumns) {
        CountDamagedCell(db);
        continue;
      }
      if (cell.chainBroken) CountDamagedPage(db);
      SchemaTable table;
      bool isTable = false;
      std::string sql;
      size_t at = header.bodyOffset;
      for (size_t i = 0; i < header.serialTypes.size(); ++i) {
        const uint64_t type = header.serialTypes[i];
        const uint64_t size = SerialTypeSize(type);
        ByteView content = cell.bytes.Sub(at, size);
        at += static_cast<size_t>(std::min<uint64_t>(size, cell.bytes.size()));
        const bool isText = IsTextSerialType(type);
        if (i == kTypeColumn) {
          isTable = isText && content.AsString().substr(0, 5) == "table";
        } else if (i == kNameColumn && isText) {
          table.name = Utf8ToAnsi(content.AsString());
        } else if (i == kRootPageColumn) {
          table.rootPage = RootPageValue(type, content);
        } else if (i == kSqlColumn && isText) {
          sql = Utf8ToAnsi(content.AsString());
        }
      }
      if (!isTable) continue;
      ParseCreateTable(sql, table);
      db.schemaTables.push_back(std::move(table));
    }
  }
  return whole;
}

bool LoadSchema(SqliteFile& db) {
  if (!ReadDatabaseHeader(db)) return false;
  std::vector<uint8_t> page1;
  if (ReadPageNumber(db, 1, page1) != PageRead::Whole) {
    CountDamagedPage(db);
    return false;
  }
  std::vector<int32_t> leaves;
  CollectLeafPages(db, ByteView(page1.data(), page1.size()), kPage1HeaderOffset, 1, leaves);
  return ReadSchemaRows(db, leaves);
}

bool CollectTablePages(const SqliteFile& db, int32_t rootPage, std::vector<PageSet>& pageSets) {
  if (rootPage == 0) return false;
  std::vector<uint8_t> root;
  if (rootPage < 0 || static_cast<uint32_t>(rootPage) > PageLimit(db) ||
      ReadPageNumber(db, static_cast<uint32_t>(rootPage), root) != PageRead::Whole) {
    CountDamagedPage(db);
    return false;
  }
  PageSet set;
  CollectLeafPages(db, ByteView(root.data(), root.size()), rootPage == 1 ? kPage1HeaderOffset : 0,
                   rootPage, set.leafPages, &set.emptyLeafPages);
  pageSets.push_back(std::move(set));
  return true;
}

void BuildTableMap(SqliteFile& db) {
  // Tables naming the same root page (only a damaged or crafted schema has
  // them) share one walk of that tree: thousands of them cost no more than one.
  std::map<int32_t, const TableInfo*> walked;
  for (const SchemaTable& table : db.schemaTables) {
    if (table.name.empty() || db.tableMap.count(table.name)) continue;
    TableInfo info;
    info.columns = table.columns;
    auto same = walked.find(table.rootPage);
    if (same != walked.end())
      info.pageSets = same->second->pageSets;
    else
      CollectTablePages(db, table.rootPage, info.pageSets);
    auto added = db.tableMap.emplace(table.name, std::move(info)).first;
    walked.emplace(table.rootPage, &added->second);
  }
}

const TableInfo* FindTable(const SqliteFile& db, const std::string& name) {
  auto it = db.tableMap.find(name);
  return it == db.tableMap.end() ? nullptr : &it->second;
}

}  // namespace vantrel
