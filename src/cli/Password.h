// The backup password of vantrel-cli: from --password-file FILE, else the
// environment variable VANTREL_BACKUP_PASSWORD, else asked on the terminal
// without echo when standard input is one. Used only for a backup folder
// whose Manifest.plist says it is encrypted.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "backup/EncryptedBackup.h"
#include "backup/ExaminedPath.h"
#include "cli/Commands.h"

namespace vantrel {

inline constexpr char kPasswordEnvironment[] = "VANTREL_BACKUP_PASSWORD";

// For an examined path: kExitOk with keys empty when it is no encrypted
// backup, or with the unlocked keys; else says why on err and returns
// kExitPassword (no password, a wrong one) or kExitNoData (a damaged keybag).
// The password is wiped once the keys are derived.
int UnlockForCli(const ExaminedPath& backup, const CommandLine& cl, std::ostream& err,
                 std::optional<BackupKeys>& keys);

}  // namespace vantrel
