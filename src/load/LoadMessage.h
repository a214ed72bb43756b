// What a load tells the user when it read nothing, or not everything, as
// facts: which case it is, the iOS version the backup names, the files of an
// encrypted backup that did not decipher. The window and the command line
// put it in words (export/StatusTexts.h).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "backup/EncryptedBackup.h"

namespace vantrel {

enum class LoadProblem {
  NothingReadable,   // no database a loader reads, and nothing names the iOS that made the path
  TooOldVersion,     // Info.plist names iOS 5 or older, which no loader reads
  DatabasesMissing,  // Info.plist names a later version, but the backup lacks the databases
  Encrypted,         // an encrypted backup, loaded without unlocked keys
  Undeciphered,      // files of an unlocked backup could not be deciphered (files)
};

struct LoadMessage {
  LoadProblem problem = LoadProblem::NothingReadable;
  std::string iosVersion;                // TooOldVersion, DatabasesMissing: "4.3.5"
  std::vector<DecryptionProblem> files;  // Undeciphered: in the order met

  LoadMessage() = default;
  LoadMessage(LoadProblem problem, std::string iosVersion = {},
              std::vector<DecryptionProblem> files = {})
      : problem(problem), iosVersion(std::move(iosVersion)), files(std::move(files)) {}
  bool operator==(const LoadMessage&) const = default;
};

}  // namespace vantrel
