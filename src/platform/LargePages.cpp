#include "platform/LargePages.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/ReadOnlyFile.h"

namespace vantrel {

namespace {

constexpr std::string_view kTunable = "glibc.malloc.hugetlb";

// Whether memory checkers replace the allocator: the tunable means nothing
// to theirs, and a checker run through a preloaded library must not have
// its program started again without it.
bool AllocatorIsWatched() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  return true;
#endif
#endif
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && *preload != '\0';
}

}  // namespace

std::optional<std::string> TunablesForLargePages(const char* current, bool systemGivesLargePages) {
  if (!systemGivesLargePages) return std::nullopt;
  const std::string_view now = current != nullptr ? current : "";
  // Set already: by an earlier start of this process, or by the user, whose
  // choice (even 0) stands.
  if (now.find(kTunable) != std::string_view::npos) return std::nullopt;
  std::string value(now);
  if (!value.empty()) value += ':';
  value += kTunable;
  value += "=1";
  return value;
}

bool SystemGivesLargePages() {
  // "always [madvise] never": the bracketed word is the one in force. The
  // file says it is 4096 bytes long, whatever it holds.
  ReadOnlyFile file;
  if (!file.Open("/sys/kernel/mm/transparent_hugepage/enabled")) return false;
  char text[128] = {};
  const std::string_view mode(text, file.ReadAt(0, text, sizeof text - 1));
  return mode.find('[') != std::string_view::npos &&
         mode.find("[never]") == std::string_view::npos;
}

void StartAgainWithLargePages(char** argv) {
  if (argv == nullptr || argv[0] == nullptr || AllocatorIsWatched()) return;
  const std::optional<std::string> tunables =
      TunablesForLargePages(std::getenv("GLIBC_TUNABLES"), SystemGivesLargePages());
  if (!tunables) return;
  if (setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Not started again (no /proc, say): go on as we are, with the tunable
  // left set so that nothing this process starts tries the same.
}

}  // namespace vantrel
