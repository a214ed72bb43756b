// vantrel-cli: the command-line face of Vantrel. Every command is a function
// over the libraries; main() only hands over its arguments and streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vantrel {

// Exit statuses of vantrel-cli.
enum CliStatus : int {
  kExitOk = 0,
  kExitUsage = 1,        // bad arguments
  kExitNotFound = 2,     // a file cannot be opened, a path or table does not exist
  kExitNoData = 3,       // nothing this kind of database should hold was found
  kExitWriteFailed = 4,  // an export file could not be written
  kExitPassword = 5      // an encrypted backup without its password, or with a wrong one
};

// Runs one command line (args without the program name). Data goes to out,
// messages and the progress bar to err. stderrIsTerminal enables the bar.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool stderrIsTerminal);

// A value with backslash, tab, CR and LF written as \\, \t, \r, \n, so one
// record stays on one line.
std::string EscapeField(const std::string& value);

}  // namespace vantrel
