// Fuzz target: the input is a property list. It goes through the XML reader
// with the walks the backup discovery does on an Info.plist (and, for some
// inputs, through the real ExamineBackupFolder on a folder holding it), the encrypted-backup check
// that reads Manifest.plist in either form (XML or binary), and the reader's other navigation
// calls.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "backup/Discovery.h"
#include "backup/EncryptedBackup.h"
#include "backup/XmlDocument.h"

namespace {

// Every cursor call, in the order a careless caller might make them: each must
// stay inside the element table whatever the document holds.
void Wander(vantrel::XmlDocument& doc) {
  int steps = 0;
  while (doc.LocateNext() && steps++ < 64) {
    (void)doc.MainName();
    (void)doc.MainText();
    while (doc.LocateChild() && steps++ < 64) {
      (void)doc.ChildName();
      (void)doc.ChildText();
    }
    if (doc.DescendToChild()) (void)doc.MainText();
  }
  doc.ResetPosition();
}

// The walk the discovery code makes over an Info.plist: the top dictionary's
// keys in document order, each followed by the next value element of its type.
void ReadLikeDiscovery(vantrel::XmlDocument& doc) {
  doc.ResetPosition();
  if (!doc.LocateChild("dict") || !doc.DescendToChild()) return;
  while (doc.LocateChild("key")) {
    const std::string key = doc.ChildText();
    if (key == "Device Name" && doc.LocateChild("string")) (void)doc.ChildText();
    if (key == "Last Backup Date" && doc.LocateChild("date")) (void)doc.ChildText();
    if (key == "Product Version" && doc.LocateChild("string")) (void)doc.ChildText();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  XmlDocument doc;
  doc.LoadBytes(bytes);
  (void)doc.ElementCount();
  ReadLikeDiscovery(doc);
  Wander(doc);
  doc.SetIgnoreCase(true);
  Wander(doc);

  (void)PlistSaysEncrypted(bytes);

  // The discovery code itself reads Info.plist from a backup folder by path.
  // Files cost more than the parse, so one input in eight (by its length) takes
  // that way too.
  if (size % 8 != 0) return 0;
  static const std::string folder = [] {
    const std::string f = fuzz::ScratchPath("backup");
    std::error_code ec;
    std::filesystem::create_directories(f, ec);
    return f;
  }();
  fuzz::WriteFile(folder + "/Info.plist", bytes);
  fuzz::WriteFile(folder + "/Manifest.plist", bytes);
  BackupRow row;
  ExamineBackupFolder(folder, row);
  (void)IsEncryptedBackup(folder);
  return 0;
}
