// tables and rows: a look inside any SQLite file with Vantrel's own reader.
#include <algorithm>
#include <ostream>

#include "carve/DroppedTables.h"
#include "carve/FreePages.h"
#include "carve/RowReader.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "export/CategoryNames.h"
#include "platform/ReadOnlyFile.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

std::string FoundFields(const FoundAt* found) {
  if (!found) return "\t\t\t\t\t";
  return "\t" + EscapeField(found->file) + '\t' + std::to_string(found->page) + '\t' +
         std::to_string(found->offset) + '\t' + PlaceWord(found->place) + '\t' +
         std::to_string(found->frame);
}

// The log to read with file: --wal when given, else FILE-wal when it exists.
std::string ChooseWal(const CommandLine& cl, const std::string& file) {
  if (cl.Has("--wal")) return cl.Get("--wal");
  std::string beside = file + "-wal";
  return IsRegularFile(beside) ? beside : std::string();
}

// Opens file for a reader command; on failure says why on err and returns false.
bool OpenForCommand(const CommandLine& cl, const std::string& file, SqliteFile& db,
                    std::ostream& err) {
  if (IsDirectory(file)) {
    err << "vantrel-cli: " << file << ": is a folder, not a database file\n";
    return false;
  }
  const std::string wal = ChooseWal(cl, file);
  if (cl.Has("--wal") && !IsRegularFile(wal)) {
    err << "vantrel-cli: " << wal << ": write-ahead log not found\n";
    return false;
  }
  if (OpenDatabase(wal, db, file) == OpenStatus::NotOpened) {
    ReadOnlyFile probe;
    probe.Open(file);
    err << "vantrel-cli: " << file << ": cannot open ("
        << (probe.lastError().empty() ? "unreadable" : probe.lastError()) << ")\n";
    return false;
  }
  if (db.pageSize == 0) {
    err << "vantrel-cli: " << file << ": not an SQLite 3 database (header not recognised)\n";
    return false;
  }
  return true;
}

int RunTables(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  SqliteFile db;
  if (!OpenForCommand(cl, cl.positional[0], db, err)) return kExitNotFound;
  if (cl.Has("--dropped")) {
    // Each dropped table whose schema record was found: its name, the root
    // page it had, its column count, where the record lay (the five fields
    // of FoundFields), then its CREATE statement.
    for (const DroppedTable& table : FindDroppedTables(db)) {
      out << EscapeField(table.table.name) << '\t' << table.table.rootPage << '\t'
          << table.table.columns.size() << FoundFields(FoundOrNull(table.found)) << '\t'
          << EscapeField(table.sql) << '\n';
    }
    return kExitOk;
  }
  for (const SchemaTable& table : db.schemaTables) {
    auto it = db.tableMap.find(table.name);
    if (it == db.tableMap.end()) continue;
    size_t leaves = 0;
    for (const PageSet& set : it->second.pageSets) leaves += set.leafPages.size();
    out << EscapeField(table.name) << '\t' << it->second.columns.size() << '\t' << leaves;
    for (const ColumnDef& column : it->second.columns) out << '\t' << EscapeField(column.name);
    out << '\n';
  }
  return kExitOk;
}

namespace {

// rows FILE --free: each record found on a page no live table owns, as the
// table it was assigned to (or its shape), where it was found (the five
// fields of FoundFields), then its values.
int RunFreeRows(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  SqliteFile db;
  if (!OpenForCommand(cl, cl.positional[0], db, err)) return kExitNotFound;
  for (const FreePageRecord& record : CarveFreePages(db, FindDroppedTables(db))) {
    out << EscapeField(record.table) << FoundFields(FoundOrNull(record.found));
    for (const std::string& value : record.row) out << '\t' << EscapeField(value);
    out << '\n';
  }
  return kExitOk;
}

}  // namespace

int RunRows(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  if (cl.Has("--free")) {
    if (cl.positional.size() != 1) {
      err << "vantrel-cli: usage: vantrel-cli rows FILE --free\n";
      return kExitUsage;
    }
    return RunFreeRows(cl, out, err);
  }
  if (cl.positional.size() != 2) {
    err << "vantrel-cli: usage: vantrel-cli rows FILE TABLE [--wal WALFILE] [--deleted]\n";
    return kExitUsage;
  }
  SqliteFile db;
  const std::string& file = cl.positional[0];
  const std::string& tableName = cl.positional[1];
  if (!OpenForCommand(cl, file, db, err)) return kExitNotFound;
  RowList live, carved;
  FoundList found;
  size_t width = 0;
  if (ReadTable(db, tableName, live, carved, TemplateCarvePage, &found) == TableRead::Absent) {
    // A dropped table has no live rows; its deleted ones are the records
    // free-page carving assigns to it.
    const std::vector<DroppedTable> dropped = FindDroppedTables(db);
    const DroppedTable* table = FindDroppedTable(dropped, tableName);
    if (table == nullptr) {
      err << "vantrel-cli: " << file << ": no table named '" << tableName << "'\n";
      return kExitNotFound;
    }
    width = table->table.columns.size();
    for (FreePageRecord& record : CarveFreePages(db, dropped)) {
      if (record.table != kDroppedPrefix + table->table.name) continue;
      carved.push_back(std::move(record.row));
      found.push_back(std::move(record.found));
    }
  } else {
    width = FindTable(db, tableName)->columns.size();
  }
  if (cl.Has("--deleted")) CarveOlderImages(db, tableName, live, carved, &found);
  if (!cl.Has("--deleted")) {
    for (const RowValues& row : live) {
      for (size_t i = 0; i < row.size(); ++i) out << (i ? "\t" : "") << EscapeField(row[i]);
      out << '\n';
    }
    return kExitOk;
  }
  // A carved row may hold fewer values than the table has columns: it is
  // padded with empty fields, so that where it was found always stands in
  // the same fields after them.
  for (size_t r = 0; r < carved.size(); ++r) {
    const RowValues& row = carved[r];
    for (size_t i = 0; i < std::max(width, row.size()); ++i)
      out << (i ? "\t" : "") << (i < row.size() ? EscapeField(row[i]) : std::string());
    out << FoundFields(r < found.size() ? &found[r] : nullptr) << '\n';
  }
  return kExitOk;
}

}  // namespace vantrel
