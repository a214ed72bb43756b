// Large memory pages for the heap of a short-lived process. A load of a big
// backup writes a few hundred megabytes it has just allocated; in the
// system's usual 4 KiB pages that is tens of thousands of page faults, a
// third of the load's time, and as many pages to take back at exit. The C
// library hands out 2 MiB pages for its heaps when its tunable
// glibc.malloc.hugetlb is 1, but reads its tunables only as the process
// starts: the process then starts itself once more with the tunable set.
#pragma once

#include <optional>
#include <string>

namespace vantrel {

// The GLIBC_TUNABLES value to start again with, given the current one (null
// when unset) and whether the system gives large pages to a heap that asks
// (transparent huge pages not "never"); nothing when the process should go on
// as it is: the user chose the tunable already, or there is nothing to gain.
std::optional<std::string> TunablesForLargePages(const char* current, bool systemGivesLargePages);

// Whether the system gives large pages to memory that asks for them.
bool SystemGivesLargePages();

// Starts the running program again (same arguments, same process) with the
// heap in large pages, when TunablesForLargePages says so and the program is
// not run under a tool that watches its memory. Returns only when it did not
// start again; the program then goes on as before. Call first thing in main.
void StartAgainWithLargePages(char** argv);

}  // namespace vantrel
