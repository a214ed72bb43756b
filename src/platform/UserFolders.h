// Who the user is and where the desktop sync software keeps device backups on
// this machine. The candidate list comes from one replaceable function so that
// tests can point discovery at a folder of their own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantrel {

std::string HomeFolder();  // $HOME, else the password database's entry
std::string UserName();    // the login name, else $USER, else ""

// The default backup folder candidates, in the order they are tried:
// ~/Library/Application Support/MobileSync/Backup, then the three Windows
// locations under a mounted system drive (/mnt/c), in their usual order.
std::vector<std::string> DefaultBackupCandidates();

// Replaces DefaultBackupCandidates() (tests); an empty function restores it.
void SetBackupCandidatesProvider(std::function<std::vector<std::string>()> provider);

}  // namespace vantrel
