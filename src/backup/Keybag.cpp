// Parsing the backup keybag and unwrapping its class keys.
#include "backup/Keybag.h"

#include <climits>

namespace vantrel {
namespace {

uint32_t Be32(std::string_view v) {
  uint32_t n = 0;
  // Integers are 4 bytes; a longer value keeps its last four, a shorter one
  // reads as what it holds.
  if (v.size() > 4) v.remove_prefix(v.size() - 4);
  for (unsigned char c : v) n = (n << 8) | c;
  return n;
}

// The password bit of a class key's WRAP.
constexpr uint32_t kWrappedWithPassword = 2;

}  // namespace

Keybag ParseKeybag(std::string_view bytes) {
  Keybag bag;
  if (bytes.empty()) return bag;
  bag.status = KeybagStatus::Ok;
  KeybagClassKey current;
  bool inClass = false, hasClass = false, sawSalt = false, sawIter = false;
  auto finishClass = [&] {
    if (inClass && hasClass) bag.classes[current.protectionClass] = current;
    current = KeybagClassKey();
    hasClass = false;
  };
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 8) {
      bag.status = KeybagStatus::Truncated;
      break;
    }
    const std::string_view tag = bytes.substr(pos, 4);
    const uint32_t length = Be32(bytes.substr(pos + 4, 4));
    pos += 8;
    if (length > bytes.size() - pos) {
      bag.status = KeybagStatus::Truncated;
      break;
    }
    const std::string_view value = bytes.substr(pos, length);
    pos += length;
    if (tag == "UUID") {
      // The header's own UUID comes first; each later one starts a class.
      if (bag.uuid.empty() && !inClass) {
        bag.uuid = value;
        continue;
      }
      finishClass();
      inClass = true;
      current.uuid = value;
    } else if (!inClass) {
      if (tag == "VERS")
        bag.version = Be32(value);
      else if (tag == "TYPE")
        bag.type = Be32(value);
      else if (tag == "WRAP")
        bag.wrap = Be32(value);
      else if (tag == "HMCK")
        bag.hmck = value;
      else if (tag == "SALT")
        bag.salt = value, sawSalt = true;
      else if (tag == "ITER")
        bag.iterations = Be32(value), sawIter = true;
      else if (tag == "DPWT")
        bag.doublePassWrap = Be32(value);
      else if (tag == "DPIC")
        bag.doublePassIterations = Be32(value);
      else if (tag == "DPSL")
        bag.doublePassSalt = value;
    } else {
      if (tag == "CLAS")
        current.protectionClass = Be32(value), hasClass = true;
      else if (tag == "WRAP")
        current.wrap = Be32(value);
      else if (tag == "KTYP")
        current.keyType = Be32(value);
      else if (tag == "WPKY")
        current.wrappedKey = value;
    }
  }
  finishClass();
  bag.hasDoublePass = !bag.doublePassSalt.empty() && bag.doublePassIterations > 0;
  if (bag.status == KeybagStatus::Ok && (!sawSalt || !sawIter))
    bag.status = KeybagStatus::Truncated;
  if (bag.status == KeybagStatus::Ok && bag.classes.empty()) bag.status = KeybagStatus::NoClasses;
  return bag;
}

SecretBytes DerivePasswordKey(const Keybag& keybag, std::string_view password) {
  if (keybag.iterations == 0) return SecretBytes();
  if (!keybag.hasDoublePass)
    return Pbkdf2(PbkdfHash::Sha1, password, keybag.salt, keybag.iterations, 32);
  const SecretBytes first =
      Pbkdf2(PbkdfHash::Sha256, password, keybag.doublePassSalt, keybag.doublePassIterations, 32);
  if (first.empty()) return SecretBytes();
  return Pbkdf2(PbkdfHash::Sha1, first.view(), keybag.salt, keybag.iterations, 32);
}

ClassKeys UnlockClassKeys(const Keybag& keybag, const SecretBytes& passwordKey) {
  ClassKeys out;
  if (passwordKey.size() != 32) {
    out.status = UnlockStatus::NoPasswordKey;
    return out;
  }
  for (const auto& [protectionClass, classKey] : keybag.classes) {
    if (!(classKey.wrap & kWrappedWithPassword)) continue;
    if (std::optional<SecretBytes> key = AesKeyUnwrap(passwordKey, classKey.wrappedKey))
      out.keys.emplace(protectionClass, std::move(*key));
    else
      ++out.failed;
  }
  out.status = out.keys.empty() ? UnlockStatus::WrongPassword : UnlockStatus::Unlocked;
  return out;
}

}  // namespace vantrel
