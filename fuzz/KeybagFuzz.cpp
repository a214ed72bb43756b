// Fuzz target: the input is a backup keybag (BackupKeyBag) and, at the same
// time, the bytes of an encrypted backup file. As a keybag it is parsed and
// its class keys unwrapped with a fixed password key (and, when its round
// counts are small, with a key derived from a password as the header says);
// as a file it is deciphered into memory with a fixed key, where its padding
// decides whether it is whole. The input is also enciphered properly and
// deciphered again, then read from memory as a database with every reader:
// the path an encrypted backup's databases take.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "backup/EncryptedBackup.h"
#include "backup/Keybag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const Keybag bag = ParseKeybag(bytes);
  static const SecretBytes fixedKey(std::string(32, '\x5A'));
  (void)UnlockClassKeys(bag, fixedKey);
  if (bag.iterations <= 8 && (!bag.hasDoublePass || bag.doublePassIterations <= 8))
    (void)UnlockClassKeys(bag, DerivePasswordKey(bag, "password"));

  // Stored file keys as a manifest gives them: class, then a wrapped key.
  BackupKeys keys;
  keys.status = BackupUnlockStatus::Unlocked;
  keys.classKeys.emplace(4, fixedKey);
  (void)UnwrapFileKey(keys, bytes);

  static const std::string path = fuzz::ScratchPath("enciphered");
  fuzz::WriteFile(path, bytes);
  DecryptedFile raw = DecryptFileToMemory(fixedKey, path, "fuzz");
  if (raw.status == DecryptStatus::Ok) {
    SqliteFile db;
    if (OpenDatabase("", db, raw.file.path()) != OpenStatus::NotOpened) fuzz::RunEveryReader(db);
  }

  fuzz::WriteFile(path, EncryptAes256Cbc(fixedKey, bytes));
  DecryptedFile plain = DecryptFileToMemory(fixedKey, path, "fuzz");
  if (plain.status != DecryptStatus::Ok || plain.file.Size() != size) __builtin_trap();
  SqliteFile db;
  if (OpenDatabase("", db, plain.file.path()) == OpenStatus::NotOpened) return 0;
  fuzz::RunEveryReader(db);
  return 0;
}
