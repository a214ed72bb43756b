#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace vantrel {
namespace {
std::function<std::vector<std::string>()>& Provider() {
  static std::function<std::vector<std::string>()> provider;
  return provider;
}
}  // namespace

std::string HomeFolder() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return {};
}

std::vector<std::string> DefaultBackupCandidates() {
  if (Provider()) return Provider()();
  std::vector<std::string> out;
  const std::string home = HomeFolder();
  if (!home.empty()) out.push_back(home + "/Library/Application Support/MobileSync/Backup");
  const std::string user = UserName();
  const std::string drive = "/mnt/c";
  out.push_back(drive + "/Documents and Settings/" + user +
                "/Application Data/Apple Computer/MobileSync/Backup");
  out.push_back(drive + "/Users/" + user + "/Application Data/Apple Computer/MobileSync/Backup");
  out.push_back(drive + "/Users/" + user + "/AppData/Roaming/Apple Computer/MobileSync/Backup");
  return out;
}

void SetBackupCandidatesProvider(std::function<std::vector<std::string>()> provider) {
  Provider() = std::move(provider);
}

}  // namespace vantrel
