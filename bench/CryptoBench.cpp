// Encrypted-backup benchmark rows, as Markdown table rows on stdout:
//   (1) opening: Vantrel's key derivation from a keybag with the round counts
//       of a current backup (10,000,000 PBKDF2-HMAC-SHA256 rounds, then
//       10,000 PBKDF2-HMAC-SHA1) against the same two PKCS5_PBKDF2_HMAC calls
//       made directly, taking turns; medians and their ratio;
//   (2) deciphering: a database file (default: a synthetic 64 MiB one; name a
//       large sms.db to use it) enciphered as a backup stores it, then
//       deciphered by Vantrel into memory; MB/s against a direct EVP
//       AES-256-CBC pass over the same bytes.
// Usage: vantrel-cryptobench [--runs N] [--dpic N] [--iter N] [DATABASE]
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/EncryptedBackup.h"
#include "backup/Keybag.h"
#include "fixtures/Encryption.h"
#include "fixtures/Fixtures.h"

namespace fx = vantrel::fixtures;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  uint32_t dpic = 10'000'000, iter = 10'000;
  std::string database;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc)
      runs = std::atoi(argv[++i]);
    else if (a == "--dpic" && i + 1 < argc)
      dpic = static_cast<uint32_t>(std::atol(argv[++i]));
    else if (a == "--iter" && i + 1 < argc)
      iter = static_cast<uint32_t>(std::atol(argv[++i]));
    else
      database = a;
  }

  // (1) Key derivation.
  fx::KeybagOptions k;
  k.password = "benchmark password";
  k.iterations =
      1;  // the keybag's own wrapping is made cheaply, its header then says the real counts
  k.doublePassIterations = 1;
  vantrel::Keybag bag = vantrel::ParseKeybag(fx::MakeKeybag(k).bytes);
  bag.iterations = iter;
  bag.doublePassIterations = dpic;
  std::vector<double> ours, direct;
  for (int r = 0; r < runs; ++r) {
    auto t = Clock::now();
    const vantrel::SecretBytes key = vantrel::DerivePasswordKey(bag, k.password);
    ours.push_back(Seconds(t));
    t = Clock::now();
    unsigned char first[32], second[32];
    PKCS5_PBKDF2_HMAC(k.password.data(), static_cast<int>(k.password.size()),
                      reinterpret_cast<const unsigned char*>(bag.doublePassSalt.data()),
                      static_cast<int>(bag.doublePassSalt.size()), static_cast<int>(dpic),
                      EVP_sha256(), 32, first);
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(first), 32,
                      reinterpret_cast<const unsigned char*>(bag.salt.data()),
                      static_cast<int>(bag.salt.size()), static_cast<int>(iter), EVP_sha1(), 32,
                      second);
    direct.push_back(Seconds(t));
    if (key.size() != 32 || std::memcmp(key.data(), second, 32) != 0) {
      std::fprintf(stderr, "vantrel-cryptobench: the two derivations differ\n");
      return 1;
    }
  }
  std::printf("| step | Vantrel | OpenSSL directly | ratio |\n|---|---|---|---|\n");
  std::printf(
      "| key derivation (%u SHA-256 + %u SHA-1 rounds), median of %d | %.2f s | %.2f s | %.3f |\n",
      dpic, iter, runs, Median(ours), Median(direct), Median(ours) / Median(direct));

  // (2) Deciphering.
  fx::TempDir dir("vantrel-cryptobench");
  std::string plain;
  if (database.empty()) {
    plain = fx::SeededBytes(5, 64u << 20);
    database = "synthetic 64 MiB";
  } else {
    plain = fx::ReadFileBytes(database);
  }
  const std::string key = fx::SeededBytes(6, 32);
  const std::string cipherPath = dir.File("enciphered");
  {
    const std::string cipher = fx::CbcEncrypt(key, plain);
    std::ofstream(cipherPath, std::ios::binary) << cipher;
  }
  const double mb = static_cast<double>(plain.size()) / 1e6;
  const vantrel::SecretBytes secret(key);
  std::vector<double> oursDecrypt, directDecrypt;
  for (int r = 0; r < runs; ++r) {
    auto t = Clock::now();
    vantrel::DecryptedFile out = vantrel::DecryptFileToMemory(secret, cipherPath, "bench");
    oursDecrypt.push_back(Seconds(t));
    if (out.status != vantrel::DecryptStatus::Ok || out.file.Size() != plain.size()) {
      std::fprintf(stderr, "vantrel-cryptobench: deciphering failed\n");
      return 1;
    }
    const std::string cipher = fx::ReadFileBytes(cipherPath);
    t = Clock::now();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    static const unsigned char iv[16] = {};
    EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.data()), iv);
    std::string sink(cipher.size() + 16, '\0');
    int n = 0, last = 0;
    EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(sink.data()), &n,
                      reinterpret_cast<const unsigned char*>(cipher.data()),
                      static_cast<int>(cipher.size()));
    EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(sink.data()) + n, &last);
    EVP_CIPHER_CTX_free(ctx);
    directDecrypt.push_back(Seconds(t));
  }
  std::printf(
      "| deciphering %s (%.1f MB) into memory, median of %d | %.0f MB/s | %.0f MB/s | %.3f |\n",
      database.c_str(), mb, runs, mb / Median(oursDecrypt), mb / Median(directDecrypt),
      Median(oursDecrypt) / Median(directDecrypt));
  return 0;
}
