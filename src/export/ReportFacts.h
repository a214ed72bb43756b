// What the JSON export and the HTML report say about where their records came
// from: the backup (device, iOS version, backup date, folder), each database
// file read with its size and SHA-256, and when the report was made. The
// caller fills these from its load; the hashes are computed here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// A database file the records were read from.
struct ReportSource {
  std::string kind;          // "messages", "contacts", "calls"
  std::string path;          // on disk
  std::string domain;        // "HomeDomain"; "" for a file chosen on its own
  std::string relativePath;  // "Library/SMS/sms.db"; "" likewise
  uint64_t size = 0;
  std::string sha256;   // lower-case hex; "" when the file could not be read
  std::string walPath;  // the log read with it; "" when none
  uint64_t walSize = 0;
  std::string walSha256;
};

struct ReportFacts {
  std::string folder;       // the chosen backup folder or database file
  std::string device;       // Info.plist's device name; "" when unknown
  std::string iosVersion;   // "14.3"; "" when unknown
  std::string backupDate;   // ISO 8601 UTC as Info.plist has it; "" when unknown
  int64_t generatedAt = 0;  // Unix seconds: when the report was made
  std::vector<ReportSource> sources;
};

// The SHA-256 of a file's bytes as 64 lower-case hex digits; "" when the
// file cannot be read.
std::string Sha256OfFile(const std::string& path);

// Vantrel's version, "1.0.0".
std::string VantrelVersion();

// A Unix time as local ISO 8601 with its offset, "2012-02-29T08:00:00+08:00".
std::string IsoLocalTime(int64_t unixSeconds);
// The local time zone at that time, "CST (UTC+08:00)".
std::string TimeZoneText(int64_t unixSeconds);

}  // namespace vantrel
