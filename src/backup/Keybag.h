// The backup keybag: Manifest.plist's BackupKeyBag, the list of class keys of
// an encrypted backup, each wrapped under a key derived from the user's
// backup password.
//
// The keybag is a run of tag-length-value items: a 4-byte ASCII tag, a 4-byte
// big-endian length, then that many bytes (integers are big-endian, 4 bytes).
// The header comes first:
//
//   VERS  keybag version          TYPE  keybag type (1 = backup)
//   UUID  keybag id               HMCK  the keybag's own HMAC key (wrapped)
//   WRAP  how the keybag is wrapped
//   SALT  salt of the SHA-1 step  ITER  rounds of the SHA-1 step
//   DPWT  (iOS 10.2 on)           DPIC  rounds of the SHA-256 step
//   DPSL  salt of the SHA-256 step
//
// then one group per protection class, each starting with its own UUID:
//
//   UUID  class key id   CLAS  protection class (1..11)
//   WRAP  bit 2 (value 2): wrapped with the password key
//   KTYP  key type       WPKY  the wrapped class key (40 bytes)
//
// The password key is PBKDF2-HMAC-SHA256(password, DPSL, DPIC rounds, 32
// bytes) fed to PBKDF2-HMAC-SHA1(that, SALT, ITER rounds, 32 bytes); backups
// older than iOS 10.2 carry no DPSL/DPIC and take only the SHA-1 step over the
// password itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "backup/BackupCrypto.h"

namespace vantrel {

enum class KeybagStatus {
  Ok,
  Empty,      // no bytes at all
  Truncated,  // an item runs past the end, or the header lacks SALT or ITER
  NoClasses,  // no class key to unwrap
};

struct KeybagClassKey {
  uint32_t protectionClass = 0;
  uint32_t wrap = 0;  // bit 2: wrapped with the password key
  uint32_t keyType = 0;
  std::string uuid;
  std::string wrappedKey;  // WPKY
};

struct Keybag {
  KeybagStatus status = KeybagStatus::Empty;
  uint32_t version = 0, type = 0, wrap = 0;
  std::string uuid, hmck;
  std::string salt;  // SALT: salt of the SHA-1 step
  uint32_t iterations = 0;
  bool hasDoublePass = false;                  // DPSL and DPIC present (iOS 10.2 on)
  std::string doublePassSalt;                  // DPSL
  uint32_t doublePassIterations = 0;           // DPIC
  uint32_t doublePassWrap = 0;                 // DPWT
  std::map<uint32_t, KeybagClassKey> classes;  // by protection class; a repeated class: the last
};

// Reads the items of a keybag. Unknown tags are passed over; a class group
// without CLAS is dropped.
Keybag ParseKeybag(std::string_view bytes);

// The key that unwraps the class keys, derived from the password as the
// header says (the slow step: seconds with real round counts). Empty when the
// round counts are 0 or too large for OpenSSL.
SecretBytes DerivePasswordKey(const Keybag& keybag, std::string_view password);

enum class UnlockStatus {
  Unlocked,       // at least one class key unwrapped
  WrongPassword,  // no class key unwrapped: the integrity check failed for each
  NoPasswordKey,  // the key could not be derived (damaged round counts)
};

// Class keys unwrapped with the password key: protection class -> 32-byte key.
struct ClassKeys {
  UnlockStatus status = UnlockStatus::WrongPassword;
  std::map<uint32_t, SecretBytes> keys;
  size_t failed = 0;  // class keys with the password bit that did not unwrap
};

ClassKeys UnlockClassKeys(const Keybag& keybag, const SecretBytes& passwordKey);

}  // namespace vantrel
