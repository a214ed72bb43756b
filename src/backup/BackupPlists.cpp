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
  const PlistValue* encrypted = r.Find("IsEncrypted");
  f.isEncrypted = encrypted && encrypted->kind == PlistValue::Kind::Bool && encrypted->integer != 0;
  f.version = r.StringAt("Version");
  f.date = r.DateTextAt("Date");
  if (const PlistValue* lockdown = r.Find("Lockdown")) {
    f.productVersion = lockdown->StringAt("ProductVersion");
    f.deviceName = lockdown->StringAt("DeviceName");
  }
  f.wasPasscodeSet = r.BoolAt("WasPasscodeSet");
  if (const PlistValue* key = r.Find("ManifestKey"); key && key->kind == PlistValue::Kind::Data) {
    f.hasManifestKey = true;
    f.manifestKey = key->bytes;
  }
  if (const PlistValue* bag = r.Find("BackupKeyBag"); bag && bag->kind == PlistValue::Kind::Data) {
    f.hasBackupKeyBag = true;
    f.backupKeyBag = bag->bytes;
  }
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
