#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = vantrel::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "vantrel-cli: could not write the output\n";
    return vantrel::kExitWriteFailed;
  }
  return status;
}
