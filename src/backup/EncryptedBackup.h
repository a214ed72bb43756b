// Whether a backup folder holds an encrypted backup, as its Manifest.plist
// says (key IsEncrypted). Encrypted backups keep their databases enciphered,
// so the load driver tells the user why nothing could be read.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// True when folder/Manifest.plist says IsEncrypted is true. Both forms of
// property list are understood (PropertyList.h).
bool IsEncryptedBackup(const std::string& folder);

// The same for the bytes of a property list; false for anything unreadable.
bool PlistSaysEncrypted(std::string_view plist);

}  // namespace vantrel
