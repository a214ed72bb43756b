// tables and rows: a look inside any SQLite file with Vantrel's own reader.
#include <ostream>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/RowReader.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

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

int RunRows(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  SqliteFile db;
  const std::string& file = cl.positional[0];
  const std::string& tableName = cl.positional[1];
  if (!OpenForCommand(cl, file, db, err)) return kExitNotFound;
  RowList live, carved;
  if (ReadTable(db, tableName, live, carved) == TableRead::Absent) {
    err << "vantrel-cli: " << file << ": no table named '" << tableName << "'\n";
    return kExitNotFound;
  }
  for (const RowValues& row : cl.Has("--deleted") ? carved : live) {
    for (size_t i = 0; i < row.size(); ++i) out << (i ? "\t" : "") << EscapeField(row[i]);
    out << '\n';
  }
  return kExitOk;
}

}  // namespace vantrel
