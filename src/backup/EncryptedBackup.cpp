// Reading IsEncrypted from a backup's Manifest.plist, unlocking the keybag
// with the password, and deciphering backup files into memory.
#include "backup/EncryptedBackup.h"

#include "backup/BackupPlists.h"
#include "backup/Keybag.h"
#include "backup/PropertyList.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace vantrel {

BackupKeys UnlockBackup(const ManifestPlistFacts& manifest, std::string_view password) {
  BackupKeys keys;
  // An unreadable list gives no keybag, whatever it might have said.
  if (!manifest.Readable()) return keys;
  if (!manifest.isEncrypted) {
    keys.status = BackupUnlockStatus::NotEncrypted;
    return keys;
  }
  if (!manifest.hasBackupKeyBag) return keys;
  const Keybag bag = ParseKeybag(manifest.backupKeyBag);
  if (bag.status != KeybagStatus::Ok) {
    keys.status = BackupUnlockStatus::KeybagDamaged;
    return keys;
  }
  SecretBytes passwordKey = DerivePasswordKey(bag, password);
  ClassKeys unlocked = UnlockClassKeys(bag, passwordKey);
  passwordKey.Wipe();
  keys.classKeysNotUnwrapped = unlocked.failed;
  if (unlocked.status == UnlockStatus::NoPasswordKey) {
    keys.status = BackupUnlockStatus::KeybagDamaged;
    return keys;
  }
  if (unlocked.status == UnlockStatus::WrongPassword) {
    keys.status = BackupUnlockStatus::WrongPassword;
    return keys;
  }
  keys.classKeys = std::move(unlocked.keys);
  keys.status = BackupUnlockStatus::Unlocked;
  if (manifest.hasManifestKey) {
    keys.manifestDbKey = UnwrapFileKey(keys, manifest.manifestKey);
    if (keys.manifestDbKey.empty()) keys.status = BackupUnlockStatus::ManifestKeyDamaged;
  }
  return keys;
}

bool PlistSaysEncrypted(std::string_view plist) {
  return ManifestPlistFrom(LoadPropertyList(plist)).isEncrypted;
}

bool IsEncryptedBackup(const std::string& folder) {
  // Manifest.plist is small; LoadPropertyListFile refuses anything huge.
  return ReadManifestPlist(folder).isEncrypted;
}

BackupKeys UnlockBackup(const std::string& folder, std::string_view password) {
  return UnlockBackup(ReadManifestPlist(folder), password);
}

BackupKeys UnlockManifestPlist(std::string_view manifestPlist, std::string_view password) {
  return UnlockBackup(ManifestPlistFrom(LoadPropertyList(manifestPlist)), password);
}

SecretBytes UnwrapFileKey(const BackupKeys& keys, std::string_view storedKey) {
  if (storedKey.size() < 4 + 24) return SecretBytes();
  const uint32_t protectionClass = static_cast<uint8_t>(storedKey[0]) |
                                   static_cast<uint32_t>(static_cast<uint8_t>(storedKey[1])) << 8 |
                                   static_cast<uint32_t>(static_cast<uint8_t>(storedKey[2])) << 16 |
                                   static_cast<uint32_t>(static_cast<uint8_t>(storedKey[3])) << 24;
  const auto it = keys.classKeys.find(protectionClass);
  if (it == keys.classKeys.end()) return SecretBytes();
  std::optional<SecretBytes> key = AesKeyUnwrap(it->second, storedKey.substr(4));
  if (!key || key->size() != 32) return SecretBytes();
  return std::move(*key);
}

DecryptedFile DecryptFileToMemory(const SecretBytes& key, const std::string& path,
                                  const std::string& label) {
  DecryptedFile out;
  ReadOnlyFile in;
  if (!in.Open(path)) return out;
  if (!out.file.Create(label)) {
    out.status = DecryptStatus::NoMemory;
    return out;
  }
  // Deciphered a slice at a time, so a large database is held once, in the
  // memory file, and never whole in a buffer beside it.
  constexpr size_t kSlice = 4 << 20;
  const uint64_t size = in.Size();
  const size_t slice = static_cast<size_t>(std::min<uint64_t>(size, kSlice));
  std::string cipher(slice, '\0'), plain;
  CbcDecryptor decryptor(key);
  DecryptStatus status = DecryptStatus::Ok;
  for (uint64_t at = 0; at < size && status == DecryptStatus::Ok;) {
    const size_t n = in.ReadAt(at, cipher.data(), slice);
    if (n == 0) {
      status = DecryptStatus::Unreadable;
      break;
    }
    at += n;
    plain.clear();
    decryptor.Update(std::string_view(cipher.data(), n), plain);
    if (!out.file.Append(plain.data(), plain.size())) status = DecryptStatus::NoMemory;
    OPENSSL_cleanse(plain.data(), plain.size());
  }
  if (status == DecryptStatus::Ok) {
    plain.clear();
    const CbcStatus finished = decryptor.Finish(plain);
    if (finished != CbcStatus::Ok)
      status = DecryptStatus::Damaged;
    else if (!out.file.Append(plain.data(), plain.size()) || !out.file.Seal())
      status = DecryptStatus::NoMemory;
    OPENSSL_cleanse(plain.data(), plain.size());
  }
  out.status = status;
  if (status != DecryptStatus::Ok) out.file.Close();
  return out;
}

DecryptedFile DecryptBackupFile(const BackupKeys& keys, const std::string& path,
                                std::string_view storedKey, bool hasKey) {
  DecryptedFile out;
  if (!hasKey || storedKey.empty()) {
    out.status = DecryptStatus::NoKey;
    return out;
  }
  const SecretBytes key = UnwrapFileKey(keys, storedKey);
  if (key.empty()) {
    out.status = DecryptStatus::KeyNotUnwrapped;
    return out;
  }
  const size_t slash = path.find_last_of('/');
  return DecryptFileToMemory(key, path, slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace vantrel
