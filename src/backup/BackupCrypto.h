// The cryptography of an encrypted backup, all of it done by OpenSSL's
// libcrypto: PBKDF2 over a password (HMAC-SHA1 and HMAC-SHA256), the AES key
// unwrap of RFC 3394 that protects every class key and file key, and
// AES-256-CBC with a zero IV and PKCS#7 padding that enciphers each file.
// Keys are held in SecretBytes, which wipes itself (OPENSSL_cleanse) on
// every way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// Bytes that are a key or a password: wiped when they die or are reassigned.
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(size_t n) : bytes_(n, '\0') {}
  explicit SecretBytes(std::string_view bytes) : bytes_(bytes) {}
  ~SecretBytes() { Wipe(); }
  SecretBytes(const SecretBytes& other) : bytes_(other.bytes_) {}
  SecretBytes& operator=(const SecretBytes& other);
  SecretBytes(SecretBytes&& other) noexcept;
  SecretBytes& operator=(SecretBytes&& other) noexcept;

  // Zeroes the bytes and empties the buffer.
  void Wipe();
  size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  uint8_t* data() { return reinterpret_cast<uint8_t*>(bytes_.data()); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(bytes_.data()); }
  std::string_view view() const { return bytes_; }

 private:
  std::string bytes_;
};

// Zeroes a string's bytes (OPENSSL_cleanse) and empties it: for a password
// read into an ordinary string before it is copied into SecretBytes.
void WipeString(std::string& text);

enum class PbkdfHash { Sha1, Sha256 };

// PBKDF2 (RFC 8018) of password and salt with the given HMAC hash, rounds
// iterations, outLength bytes: OpenSSL's PKCS5_PBKDF2_HMAC. Empty when
// OpenSSL refuses (rounds < 1).
SecretBytes Pbkdf2(PbkdfHash hash, std::string_view password, std::string_view salt,
                   uint32_t rounds, size_t outLength);

// RFC 3394 AES key unwrap of wrapped under kek (16, 24 or 32 bytes): the
// plain key, or nullopt when the integrity check fails (the wrong key) or the
// lengths are not those of a wrapped key (a multiple of 8, at least 24).
std::optional<SecretBytes> AesKeyUnwrap(const SecretBytes& kek, std::string_view wrapped);
// The inverse, for building test backups and for the known-answer tests.
std::string AesKeyWrap(const SecretBytes& kek, std::string_view key);

enum class CbcStatus {
  Ok,
  BadLength,   // the ciphertext is not a whole number of 16-byte blocks
  BadPadding,  // the last block does not end in valid PKCS#7 padding: a damaged file or wrong key
  BadKey,      // the key is not 32 bytes
};

// AES-256-CBC deciphering with a zero IV, fed in pieces of any size, so a
// large database never sits in memory twice.
class CbcDecryptor {
 public:
  explicit CbcDecryptor(const SecretBytes& key);
  ~CbcDecryptor();
  CbcDecryptor(const CbcDecryptor&) = delete;
  CbcDecryptor& operator=(const CbcDecryptor&) = delete;

  // Appends the plain bytes of cipher that are final to out (the last block
  // is held back until Finish, since it carries the padding).
  void Update(std::string_view cipher, std::string& out);
  // Checks and removes the padding, appending the last plain bytes to out.
  // An empty ciphertext is BadLength: even an empty file enciphers to one
  // block of padding.
  CbcStatus Finish(std::string& out);

 private:
  void* ctx_ = nullptr;  // EVP_CIPHER_CTX
  bool keyOk_ = false;
  uint64_t fed_ = 0;
  std::string held_;  // the last plain block so far: it ends in the padding
};

// The whole of cipher at once.
CbcStatus DecryptAes256Cbc(const SecretBytes& key, std::string_view cipher, std::string& out);
// The inverse (test backups).
std::string EncryptAes256Cbc(const SecretBytes& key, std::string_view plain);

}  // namespace vantrel
