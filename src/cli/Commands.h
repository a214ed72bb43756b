// The commands of vantrel-cli, each over the libraries: reader commands
// (tables, rows), record commands (records), and backup commands (backups,
// summary, export).
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backup/ExaminedPath.h"
#include "sources/Collections.h"

namespace vantrel {

struct CommandLine {
  std::vector<std::string> positional;         // after the command name
  std::map<std::string, std::string> options;  // "--wal" -> path, "--deleted" -> "1"
  bool progress = false;                       // draw a progress bar on err

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback = "") const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
};

// Where a deleted record was found, as the five trailing fields of `rows
// --deleted` and `records --deleted`, each after a tab: file, page, byte
// offset, place (freeblock, gap, leaf-page, interior-page, free-page,
// log-frame, index-only, unknown) and log frame number (0 outside the log).
// Five empty fields when it is not known.
std::string FoundFields(const FoundAt* found);

int RunTables(const CommandLine& cl, std::ostream& out, std::ostream& err);
int RunRows(const CommandLine& cl, std::ostream& out, std::ostream& err);
int RunRecords(const CommandLine& cl, std::ostream& out, std::ostream& err);
// For a folder that holds backups instead of being one: says so on err with
// the backups it holds (as `backups` lists them) and a hint; kExitNotFound.
int ListHeldBackups(const ExaminedPath& folder, std::ostream& err);
int RunBackups(const CommandLine& cl, std::ostream& out, std::ostream& err);
int RunSummary(const CommandLine& cl, std::ostream& out, std::ostream& err);
int RunExport(const CommandLine& cl, std::ostream& out, std::ostream& err);

}  // namespace vantrel
