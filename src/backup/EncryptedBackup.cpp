// Reading IsEncrypted from a backup's Manifest.plist, XML or binary.
#include "backup/EncryptedBackup.h"

#include "backup/PropertyList.h"

namespace vantrel {

bool PlistSaysEncrypted(std::string_view plist) {
  const PlistDocument doc = LoadPropertyList(plist);
  if (!doc.Readable()) return false;
  // Only the top dictionary's own key counts (Lockdown holds one of its own),
  // and only a boolean true.
  const PlistValue* value = doc.root.Find("IsEncrypted");
  return value && value->kind == PlistValue::Kind::Bool && value->integer != 0;
}

bool IsEncryptedBackup(const std::string& folder) {
  // Manifest.plist is small; LoadPropertyListFile refuses anything huge.
  const PlistDocument doc = LoadPropertyListFile(folder + "/Manifest.plist");
  if (!doc.Readable()) return false;
  const PlistValue* value = doc.root.Find("IsEncrypted");
  return value && value->kind == PlistValue::Kind::Bool && value->integer != 0;
}

}  // namespace vantrel
