// Typed facts of Info.plist, Manifest.plist and Status.plist.
#include "backup/BackupPlists.h"

#include <cstdlib>

namespace vantrel {

int InfoPlistFacts::IosMajor() const {
  return std::atoi(productVersion.c_str());
}

InfoPlistFacts InfoPlistFrom(const PlistDocument& doc) {
  InfoPlistFacts f;
  f.status = doc.status;
  f.form = doc.form;
  const PlistValue& r = doc.root;
  f.deviceName = r.StringAt("Device Name", r.StringAt("Display Name"));
  f.productVersion = r.StringAt("Product Version");
  f.productType = r.StringAt("Product Type");
  f.buildVersion = r.StringAt("Build Version");
  f.uniqueIdentifier = r.StringAt("Unique Identifier");
  f.lastBackupDate = r.DateTextAt("Last Backup Date");
  return f;
}

ManifestPlistFacts ManifestPlistFrom(const PlistDocument& doc) {
  ManifestPlistFacts f;
  f.status = doc.status;
  f.form = doc.form;
  const PlistValue& r = doc.root;
  f.isEncrypted = r.BoolAt("IsEncrypted");
  f.version = r.StringAt("Version");
  f.date = r.DateTextAt("Date");
  if (const PlistValue* lockdown = r.Find("Lockdown")) {
    f.productVersion = lockdown->StringAt("ProductVersion");
    f.deviceName = lockdown->StringAt("DeviceName");
  }
  f.wasPasscodeSet = r.BoolAt("WasPasscodeSet");
  f.manifestKey = r.DataAt("ManifestKey");
  f.backupKeyBag = r.DataAt("BackupKeyBag");
  return f;
}

StatusPlistFacts StatusPlistFrom(const PlistDocument& doc) {
  StatusPlistFacts f;
  f.status = doc.status;
  f.form = doc.form;
  const PlistValue& r = doc.root;
  f.version = r.StringAt("Version");
  f.date = r.DateTextAt("Date");
  f.isFullBackup = r.BoolAt("IsFullBackup");
  f.backupState = r.StringAt("BackupState");
  f.snapshotState = r.StringAt("SnapshotState");
  f.uuid = r.StringAt("UUID");
  return f;
}

InfoPlistFacts ReadInfoPlist(const std::string& folder) {
  return InfoPlistFrom(LoadPropertyListFile(folder + "/Info.plist"));
}
ManifestPlistFacts ReadManifestPlist(const std::string& folder) {
  return ManifestPlistFrom(LoadPropertyListFile(folder + "/Manifest.plist"));
}
StatusPlistFacts ReadStatusPlist(const std::string& folder) {
  return StatusPlistFrom(LoadPropertyListFile(folder + "/Status.plist"));
}

}  // namespace vantrel
