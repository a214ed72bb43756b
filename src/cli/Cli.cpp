#include "cli/Cli.h"

#include <map>
#include <ostream>
#include <set>

#include "cli/Commands.h"
#include "platform/Version.h"

namespace vantrel {
namespace {

constexpr char kUsage[] =
    "Usage: vantrel-cli COMMAND [ARGS] [OPTIONS]\n"
    "\n"
    "Reads iPhone backups (iOS 6 to 18, encrypted or not) and SQLite databases read-only with\n"
    "Vantrel's own reader.\n"
    "\n"
    "Commands:\n"
    "  backups [ROOT]                      list the device backups in ROOT (default: the\n"
    "                                      sync software's backup folder)\n"
    "  summary BACKUP                      load a backup folder or database file and print\n"
    "                                      the category tree with its counts\n"
    "  export BACKUP OUTDIR                save all categories (or one) as CSV or TXT files,\n"
    "                                      or everything as Vantrel.json or Report.html\n"
    "  records PATH messages|contacts|calls\n"
    "                                      print the records of one kind, one per line; for\n"
    "                                      messages and calls the last field is the contact\n"
    "                                      name(s) of the number (from a backup folder's\n"
    "                                      address book)\n"
    "  records PATH traces                 print the deleted messages only the message\n"
    "                                      table's GUID index still names: GUID, rowid,\n"
    "                                      'content lost' and where the entry was found\n"
    "  tables FILE                         list the tables of an SQLite database\n"
    "  tables FILE --dropped               list the dropped tables whose CREATE statement\n"
    "                                      survives in the schema's free space\n"
    "  rows FILE TABLE                     print a table's live rows (or carved ones; a\n"
    "                                      dropped table's with --deleted)\n"
    "  rows FILE --free                    print the records on pages no live table owns\n"
    "                                      (a dropped table's as dropped:NAME)\n"
    "\n"
    "Options:\n"
    "  --wal WALFILE        write-ahead log to read with FILE (default: FILE-wal when present)\n"
    "  --deleted            records, rows: print what was recovered from free space\n"
    "  --grep TEXT          records: only records holding TEXT in their text, number or\n"
    "                       name (case and full-width forms of letters and digits ignored)\n"
    "  --since DATE         records: only messages and calls from DATE on\n"
    "  --until DATE         records: only messages and calls up to DATE (a date alone: its\n"
    "                       whole day). DATE is YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS' in\n"
    "                       local time (TZ); a record whose date is unknown is left out\n"
    "  --format csv|txt|json|html\n"
    "                       export: file format (default csv); json writes Vantrel.json,\n"
    "                       html writes Report.html, each with every record\n"
    "  --category NODE      export: only this category, e.g. 短信/删除数据\n"
    "  --attachments        export: also copy message attachments into OUTDIR/attachments\n"
    "  --traces             export: also the deleted messages only the GUID index names\n"
    "                       (content lost): SMS_Traces.CSV/.txt, a messageTraces array in\n"
    "                       JSON, a section of the HTML report\n"
    "  --encoding NAME      export: code page of TXT files (default: the locale's, e.g. UTF-8)\n"
    "  --password-file FILE encrypted backups: the backup password is FILE's first line\n"
    "                       (else $VANTREL_BACKUP_PASSWORD, else asked on the terminal)\n"
    "  --quiet              no progress bar\n"
    "  -h, --help           this text\n"
    "  -V, --version        the version and the commit it was built from\n"
    "\n"
    "Exit status: 0 done, 1 usage error, 2 file or table not found (or BACKUP is a folder\n"
    "of backups: they are listed), 3 nothing readable of that kind, 4 an export file could\n"
    "not be written, 5 an encrypted backup without its password or with a wrong one.\n";

// Options that take a value, and flags.
const std::set<std::string> kValueOptions = {"--wal",  "--format", "--category", "--encoding",
                                             "--grep", "--since",  "--until",    "--password-file"};
const std::set<std::string> kFlags = {"--deleted", "--free",    "--quiet",       "--help",
                                      "--version", "--dropped", "--attachments", "--traces"};

}  // namespace

std::string EscapeField(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// Sorts the arguments into options and positionals; kExitUsage, said on
// err, for an unknown option or one without its value.
int ReadArguments(const std::vector<std::string>& args, CommandLine& cl, std::ostream& err) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "-V") {
      cl.options[a == "-h" ? "--help" : "--version"] = "1";
      continue;
    }
    if (a.size() > 2 && a.rfind("--", 0) == 0) {
      std::string name = a, value;
      bool inlineValue = false;
      if (size_t eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
      if (kValueOptions.count(name)) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) {
            err << "vantrel-cli: " << name << " needs a value (see vantrel-cli --help)\n";
            return kExitUsage;
          }
          value = args[++i];
        }
        cl.options[name] = value;
      } else if (kFlags.count(name) && !inlineValue) {
        cl.options[name] = "1";
      } else {
        err << "vantrel-cli: unknown option " << a << " (see vantrel-cli --help)\n";
        return kExitUsage;
      }
    } else {
      cl.positional.push_back(a);
    }
  }
  return kExitOk;
}

// Runs the command the first positional names, with the others as its
// arguments; kExitUsage, said on err, for no command, an unknown one, or a
// wrong number of arguments.
int RunCommand(CommandLine& cl, std::ostream& out, std::ostream& err) {
  if (cl.positional.empty()) {
    err << "vantrel-cli: no command given (see vantrel-cli --help)\n";
    return kExitUsage;
  }
  const std::string command = cl.positional.front();
  cl.positional.erase(cl.positional.begin());

  struct Entry {
    size_t minArgs, maxArgs;
    const char* synopsis;
    int (*run)(const CommandLine&, std::ostream&, std::ostream&);
  };
  static const std::map<std::string, Entry> commands = {
      {"tables", {1, 1, "tables FILE [--wal WALFILE] [--dropped]", RunTables}},
      {"rows", {1, 2, "rows FILE TABLE [--wal WALFILE] [--deleted] | rows FILE --free", RunRows}},
      {"records",
       {2, 2,
        "records PATH messages|contacts|calls|traces [--deleted] [--wal WALFILE] [--grep TEXT] "
        "[--since DATE] [--until DATE]",
        RunRecords}},
      {"backups", {0, 1, "backups [ROOT]", RunBackups}},
      {"summary", {1, 1, "summary BACKUP", RunSummary}},
      {"export",
       {2, 2,
        "export BACKUP OUTDIR [--format csv|txt|json|html] [--category NODE] [--encoding NAME] "
        "[--attachments] [--traces]",
        RunExport}},
  };
  auto it = commands.find(command);
  if (it == commands.end()) {
    err << "vantrel-cli: unknown command '" << command << "' (see vantrel-cli --help)\n";
    return kExitUsage;
  }
  const Entry& e = it->second;
  if (cl.positional.size() < e.minArgs || cl.positional.size() > e.maxArgs) {
    err << "vantrel-cli: usage: vantrel-cli " << e.synopsis << "\n";
    return kExitUsage;
  }
  return e.run(cl, out, err);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool stderrIsTerminal) {
  CommandLine cl;
  cl.progress = stderrIsTerminal;
  if (int status = ReadArguments(args, cl, err)) return status;
  if (cl.Has("--help")) {
    out << kUsage;
    return kExitOk;
  }
  if (cl.Has("--version")) {
    out << VersionLine("vantrel-cli") << "\n";
    return kExitOk;
  }
  if (cl.Has("--quiet")) cl.progress = false;
  return RunCommand(cl, out, err);
}

}  // namespace vantrel
