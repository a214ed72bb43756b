// PBKDF2, AES key unwrap and AES-256-CBC through OpenSSL's EVP interfaces.
#include "backup/BackupCrypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace vantrel {
namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

const EVP_CIPHER* WrapCipher(size_t kekLength) {
  switch (kekLength) {
    case 16:
      return EVP_aes_128_wrap();
    case 24:
      return EVP_aes_192_wrap();
    case 32:
      return EVP_aes_256_wrap();
    default:
      return nullptr;
  }
}

}  // namespace

SecretBytes& SecretBytes::operator=(const SecretBytes& other) {
  if (this != &other) {
    Wipe();
    bytes_ = other.bytes_;
  }
  return *this;
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept : bytes_(other.bytes_) {
  other.Wipe();
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Wipe();
    // Copied, then the source wiped: a moved std::string may leave its short
    // buffer behind, unwiped.
    bytes_ = other.bytes_;
    other.Wipe();
  }
  return *this;
}

void SecretBytes::Wipe() {
  if (!bytes_.empty()) OPENSSL_cleanse(bytes_.data(), bytes_.size());
  bytes_.clear();
}

void WipeString(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

SecretBytes Pbkdf2(PbkdfHash hash, std::string_view password, std::string_view salt,
                   uint32_t rounds, size_t outLength) {
  SecretBytes out(outLength);
  const EVP_MD* md = hash == PbkdfHash::Sha1 ? EVP_sha1() : EVP_sha256();
  if (rounds < 1 || rounds > static_cast<uint32_t>(INT32_MAX) ||
      PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()),
                        static_cast<int>(salt.size()), static_cast<int>(rounds), md,
                        static_cast<int>(outLength), out.data()) != 1)
    return SecretBytes();
  return out;
}

std::optional<SecretBytes> AesKeyUnwrap(const SecretBytes& kek, std::string_view wrapped) {
  const EVP_CIPHER* cipher = WrapCipher(kek.size());
  if (!cipher || wrapped.size() < 24 || wrapped.size() % 8 != 0) return std::nullopt;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return std::nullopt;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  SecretBytes out(wrapped.size());  // the unwrap writes at most wrapped - 8 bytes
  int written = 0, last = 0;
  if (EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, kek.data(), nullptr) != 1 ||
      EVP_DecryptUpdate(ctx.get(), out.data(), &written,
                        reinterpret_cast<const unsigned char*>(wrapped.data()),
                        static_cast<int>(wrapped.size())) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), out.data() + written, &last) != 1 || written <= 0)
    return std::nullopt;
  return SecretBytes(out.view().substr(0, static_cast<size_t>(written + last)));
}

std::string AesKeyWrap(const SecretBytes& kek, std::string_view key) {
  const EVP_CIPHER* cipher = WrapCipher(kek.size());
  if (!cipher || key.size() < 16 || key.size() % 8 != 0) return {};
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  std::string out(key.size() + 16, '\0');
  int written = 0, last = 0;
  if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, kek.data(), nullptr) != 1 ||
      EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &written,
                        reinterpret_cast<const unsigned char*>(key.data()),
                        static_cast<int>(key.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + written,
                          &last) != 1)
    return {};
  out.resize(static_cast<size_t>(written + last));
  return out;
}

CbcDecryptor::CbcDecryptor(const SecretBytes& key) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  ctx_ = ctx;
  static const unsigned char kZeroIv[16] = {};
  keyOk_ = ctx && key.size() == 32 &&
           EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv) == 1;
  // The padding is checked here rather than by OpenSSL, so a bad one is told
  // apart from other failures.
  if (keyOk_) EVP_CIPHER_CTX_set_padding(ctx, 0);
}

CbcDecryptor::~CbcDecryptor() {
  if (!held_.empty()) OPENSSL_cleanse(held_.data(), held_.size());
  EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_));
}

void CbcDecryptor::Update(std::string_view cipher, std::string& out) {
  if (!keyOk_ || cipher.empty()) return;
  auto* ctx = static_cast<EVP_CIPHER_CTX*>(ctx_);
  const size_t start = out.size();
  out += held_;
  // OpenSSL takes int lengths: large pieces go in slices.
  constexpr size_t kSlice = size_t{1} << 30;
  while (!cipher.empty()) {
    const size_t n = std::min(cipher.size(), kSlice);
    const size_t at = out.size();
    out.resize(at + n + 16);
    int written = 0;
    EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data() + at), &written,
                      reinterpret_cast<const unsigned char*>(cipher.data()), static_cast<int>(n));
    out.resize(at + static_cast<size_t>(written));
    fed_ += n;
    cipher.remove_prefix(n);
  }
  // The last whole block carries the padding: it waits for Finish.
  const size_t mine = out.size() - start;
  const size_t keep = mine >= 16 ? 16 : mine;
  held_.assign(out, out.size() - keep, keep);
  out.resize(out.size() - keep);
}

CbcStatus CbcDecryptor::Finish(std::string& out) {
  if (!keyOk_) return CbcStatus::BadKey;
  if (fed_ == 0 || fed_ % 16 != 0 || held_.size() != 16) return CbcStatus::BadLength;
  const uint8_t pad = static_cast<uint8_t>(held_.back());
  if (pad < 1 || pad > 16) return CbcStatus::BadPadding;
  for (size_t i = 16 - pad; i < 16; ++i)
    if (static_cast<uint8_t>(held_[i]) != pad) return CbcStatus::BadPadding;
  out.append(held_, 0, 16 - pad);
  OPENSSL_cleanse(held_.data(), held_.size());
  held_.clear();
  return CbcStatus::Ok;
}

CbcStatus DecryptAes256Cbc(const SecretBytes& key, std::string_view cipher, std::string& out) {
  out.clear();
  CbcDecryptor decryptor(key);
  decryptor.Update(cipher, out);
  return decryptor.Finish(out);
}

std::string EncryptAes256Cbc(const SecretBytes& key, std::string_view plain) {
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  static const unsigned char kZeroIv[16] = {};
  std::string out(plain.size() + 32, '\0');
  int written = 0, last = 0;
  if (key.size() != 32 ||
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv) != 1 ||
      EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &written,
                        reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + written,
                          &last) != 1)
    return {};
  out.resize(static_cast<size_t>(written + last));
  return out;
}

}  // namespace vantrel
