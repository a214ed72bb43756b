#include "export/ReportFacts.h"

#include <openssl/evp.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>

#include "platform/Version.h"

namespace vantrel {
namespace {

struct DigestFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::string Offset(long seconds) {
  const char sign = seconds < 0 ? '-' : '+';
  if (seconds < 0) seconds = -seconds;
  char text[8];
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", sign, seconds / 3600 % 100, seconds / 60 % 60);
  return text;
}

}  // namespace

std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::unique_ptr<EVP_MD_CTX, DigestFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.gcount() > 0 &&
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(in.gcount())) != 1)
      return {};
  }
  if (in.bad()) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

// The version, with the commit it was built from when the build knows it.
std::string VantrelVersion() {
  const std::string commit = VersionCommit();
  return commit.empty() ? std::string(VersionNumber())
                        : std::string(VersionNumber()) + " (" + commit + ")";
}

std::string IsoLocalTime(int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text + Offset(tm.tm_gmtoff);
}

std::string TimeZoneText(int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return {};
  return std::string(tm.tm_zone ? tm.tm_zone : "") + " (UTC" + Offset(tm.tm_gmtoff) + ")";
}

}  // namespace vantrel
