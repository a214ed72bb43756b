#include <malloc.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/LeftToExit.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // One command, then the process ends: its load is left to the system.
  vantrel::LeaveLoadsToProcessExit();
  // A load builds and drops many lists of a few hundred kilobytes (tables
  // grown by doubling, pages read in runs). By default each is mapped on its
  // own and handed back when freed, so the next one faults in fresh pages;
  // kept in the heap and never trimmed, freed memory is used again. The
  // process is short-lived, so holding on to it costs nothing.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // Each heap grows by what it lacks, a page or a few at a time: one system
  // call each time, thousands per load on the reading threads' heaps. With a
  // large pad a thread's heap is made writable whole when it is made, and
  // the main heap grows in large steps. Only pages written are ever used.
  mallopt(M_TOP_PAD, 64 << 20);
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = vantrel::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "vantrel-cli: could not write the output\n";
    return vantrel::kExitWriteFailed;
  }
  return status;
}
