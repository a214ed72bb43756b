// Encrypted backups: whether a backup folder is one (Manifest.plist's
// IsEncrypted), opening it with the user's backup password, and deciphering
// its files into memory.
//
// Manifest.plist carries the keybag (BackupKeyBag, Keybag.h) and, from iOS
// 10.2 on, ManifestKey: Manifest.db's own key. Every file key, ManifestKey
// included, is stored as 4 little-endian bytes naming its protection class,
// then the key wrapped (RFC 3394) with that class's key. Each file, and
// Manifest.db from iOS 10.2 on, is AES-256-CBC with a zero IV and PKCS#7
// padding. The manifest records a file's size, but a file can grow while
// the backup runs, so the padding, not the recorded size, tells its end.
//
// Nothing deciphered ever lands on disk: files are deciphered into a
// MemoryFile that the SQLite reader opens by its path.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "backup/BackupCrypto.h"
#include "platform/ReadOnlyFile.h"

namespace vantrel {

struct ManifestPlistFacts;

// True when folder/Manifest.plist says IsEncrypted is true. Both forms of
// property list are understood (PropertyList.h).
bool IsEncryptedBackup(const std::string& folder);

// The same for the bytes of a property list; false for anything unreadable.
bool PlistSaysEncrypted(std::string_view plist);

enum class BackupUnlockStatus {
  Unlocked,
  NotEncrypted,        // Manifest.plist does not say the backup is encrypted: nothing to unlock
  NoKeybag,            // Manifest.plist is unreadable or has no BackupKeyBag
  KeybagDamaged,       // the keybag is cut short or holds no class key
  WrongPassword,       // no class key unwrapped with the password
  ManifestKeyDamaged,  // ManifestKey is there but does not unwrap with its class key
};

// The keys of an unlocked backup. Holds no password; every key is wiped when
// it dies.
struct BackupKeys {
  BackupUnlockStatus status = BackupUnlockStatus::NoKeybag;
  std::map<uint32_t, SecretBytes> classKeys;  // protection class -> class key
  SecretBytes manifestDbKey;                  // empty before iOS 10.2 (Manifest.mbdb era)
  size_t classKeysNotUnwrapped = 0;           // class keys whose integrity check failed

  bool unlocked() const { return status == BackupUnlockStatus::Unlocked; }
};

// Reads folder/Manifest.plist and unlocks its keybag with password. The slow
// step (key derivation) runs here once; call it off any interface thread.
BackupKeys UnlockBackup(const std::string& folder, std::string_view password);
// The same from Manifest.plist as already read (ExaminePath reads it once).
BackupKeys UnlockBackup(const ManifestPlistFacts& manifest, std::string_view password);
// The same from Manifest.plist's bytes (tests and fuzzing).
BackupKeys UnlockManifestPlist(std::string_view manifestPlist, std::string_view password);

enum class DecryptStatus {
  Ok,
  NoKey,            // the manifest gives the file no wrapped key
  KeyNotUnwrapped,  // its class has no key, or the key does not unwrap: a damaged manifest
  Unreadable,       // the file cannot be read
  Damaged,          // its length or padding is wrong: a damaged or cut file
  NoMemory,         // no memory file could be made or filled
  // Deciphered, but to no readable database: a wrong key or a damaged file.
  // Said by whoever opens the plain bytes, never by the deciphering itself.
  NotADatabase,
};

// A file that could not be deciphered, and so is missing from what was
// read: why, and the phone's path of it ("Library/SMS/sms.db", "Manifest.db").
struct DecryptionProblem {
  DecryptStatus status = DecryptStatus::Ok;
  std::string name;

  bool operator==(const DecryptionProblem&) const = default;
};

// A deciphered file: status and, when Ok, the memory file with its bytes.
struct DecryptedFile {
  DecryptStatus status = DecryptStatus::Unreadable;
  MemoryFile file;
};

// The key of a file from its stored wrapped key (4-byte LE class + wrapped
// key); empty when it cannot be unwrapped.
SecretBytes UnwrapFileKey(const BackupKeys& keys, std::string_view storedKey);

// Deciphers the file at path with key into memory. label names the memory
// file (for /proc only).
DecryptedFile DecryptFileToMemory(const SecretBytes& key, const std::string& path,
                                  const std::string& label);
// The same with the file's stored wrapped key.
DecryptedFile DecryptBackupFile(const BackupKeys& keys, const std::string& path,
                                std::string_view storedKey, bool hasKey);

}  // namespace vantrel
