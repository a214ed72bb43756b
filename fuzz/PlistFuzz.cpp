// Fuzz target: the input is a property list. It goes through the XML reader
// with the walks the backup discovery does on an Info.plist (and, for some
// inputs, through the real ExamineBackupFolder and ExaminePath on a folder
// holding it), the encrypted-backup check that reads Manifest.plist in either
// form (XML or binary), and the reader's other navigation calls; through the
// property-list loader into a value tree (walked whole), the keyed-archive
// decoder and the MBFile reading of Manifest.db records; the
// Info/Manifest/Status.plist readers; and, as bytes of a Manifest.mbdb,
// through the manifest record parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "backup/BackupPlists.h"
#include "backup/Discovery.h"
#include "backup/EncryptedBackup.h"
#include "backup/ExaminedPath.h"
#include "backup/KeyedArchive.h"
#include "backup/ManifestMbdb.h"
#include "backup/PropertyList.h"
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

// Every value of a tree, with the typed reads callers make; the tree is bounded
// in depth, so the recursion is too.
size_t Visit(const vantrel::PlistValue& v) {
  size_t n = 1;
  (void)v.StringAt("Device Name");
  (void)v.IntAt("Size");
  (void)v.BoolAt("IsEncrypted");
  (void)v.DataAt("ManifestKey");
  (void)v.DateTextAt("Date");
  for (const vantrel::PlistValue& item : v.items) n += Visit(item);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  XmlDocument doc;
  doc.LoadBytes(bytes);
  (void)doc.ElementCount();
  ReadLikeDiscovery(doc);
  (void)XmlDocument::FirstElementName(doc.text());
  Wander(doc);
  doc.SetIgnoreCase(true);
  Wander(doc);

  (void)PlistSaysEncrypted(bytes);

  const PlistDocument plist = LoadPropertyList(bytes);
  (void)Visit(plist.root);
  (void)InfoPlistFrom(plist);
  (void)ManifestPlistFrom(plist);
  (void)StatusPlistFrom(plist);
  const ArchiveDocument archive = DecodeKeyedArchive(plist.root);
  (void)Visit(archive.root);
  (void)DecodeMbFile(bytes);
  // The same bytes as a Manifest.mbdb, with and without its magic.
  (void)ParseManifestMbdb(bytes);
  std::string mbdb("mbdb\x05\x00", 6);
  mbdb.append(bytes);
  (void)ParseManifestMbdb(mbdb);

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
  (void)ExaminePath(folder);
  (void)ReadInfoPlist(folder);
  (void)ReadManifestPlist(folder);
  return 0;
}
