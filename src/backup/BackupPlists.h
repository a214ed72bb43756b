// The three property lists at the top of a backup folder, XML or binary:
//
//   Info.plist      written by the computer: device name, iOS version (Product
//                   Version), Last Backup Date, identifiers
//   Manifest.plist  IsEncrypted, Version, Date, Lockdown {ProductVersion,
//                   DeviceName ...}, and from iOS 10.2 in encrypted backups
//                   ManifestKey (the wrapped key of Manifest.db)
//   Status.plist    the state of the last backup: Version, Date, IsFullBackup,
//                   BackupState ("new"), SnapshotState ("finished"), UUID
//
// Each reader returns a typed struct whose status says whether the file was read.
#pragma once

#include <string>

#include "backup/PropertyList.h"

namespace vantrel {

struct InfoPlistFacts {
  PlistStatus status = PlistStatus::Empty;
  PlistForm form = PlistForm::Unknown;
  std::string deviceName;      // "Device Name" (else "Display Name")
  std::string productVersion;  // "Product Version": the iOS version, "14.3"
  std::string productType;     // "iPhone9,3"
  std::string buildVersion;
  std::string uniqueIdentifier;
  std::string lastBackupDate;  // ISO 8601 UTC, "2014-07-17T19:15:04Z"; "" when absent
  int IosMajor() const;        // 14 for "14.3"; 0 when unknown
};

// IsEncrypted counts only as a boolean true in the top dictionary (Lockdown
// holds one of its own), and the two keys only as data: the rules the
// encrypted-backup check and the unlock go by (EncryptedBackup.h).
struct ManifestPlistFacts {
  PlistStatus status = PlistStatus::Empty;
  PlistForm form = PlistForm::Unknown;
  bool isEncrypted = false;
  std::string version;         // "9.1", "10.0"
  std::string date;            // ISO 8601 UTC
  std::string productVersion;  // Lockdown ProductVersion
  std::string deviceName;      // Lockdown DeviceName
  bool wasPasscodeSet = false;
  bool hasManifestKey = false, hasBackupKeyBag = false;
  std::string manifestKey;   // ManifestKey bytes: 4-byte class, then the wrapped key
  std::string backupKeyBag;  // BackupKeyBag bytes
  bool Readable() const { return PlistReadable(status); }
};

struct StatusPlistFacts {
  PlistStatus status = PlistStatus::Empty;
  PlistForm form = PlistForm::Unknown;
  std::string version;  // "3.3"
  std::string date;     // ISO 8601 UTC
  bool isFullBackup = false;
  std::string backupState;    // "new", "old"
  std::string snapshotState;  // "finished" when the backup completed
  std::string uuid;
};

InfoPlistFacts ReadInfoPlist(const std::string& folder);
ManifestPlistFacts ReadManifestPlist(const std::string& folder);
StatusPlistFacts ReadStatusPlist(const std::string& folder);

// The same from a loaded property list.
InfoPlistFacts InfoPlistFrom(const PlistDocument& doc);
ManifestPlistFacts ManifestPlistFrom(const PlistDocument& doc);
StatusPlistFacts StatusPlistFrom(const PlistDocument& doc);

}  // namespace vantrel
