// Backup discovery: examining candidate folders, the default folder's listing
// and the backups remembered between openings of the selection dialog.
#include "backup/Discovery.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "backup/BackupPlists.h"
#include "backup/XmlDocument.h"
#include "platform/ReadOnlyFile.h"
#include "platform/UserFolders.h"

namespace vantrel {
namespace {

// The folder's own name: what follows the last separator, trailing ones ignored.
std::string FolderName(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const char* name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Reads device name, date and version from an XML Info.plist into row, with
// the tolerant reader alone: it reads what libplist would refuse, keeps the
// date's text exactly as stored, and finds values as rows have always been
// read. Keys are read in document order; date and version count only after
// "Device Name", and "Product Version" ends the reading. A value is the next
// element of its type after the key, not necessarily the key's neighbour.
// False when no "Device Name" was found.
bool ReadXmlInfoPlist(std::string_view bytes, BackupRow& row) {
  XmlDocument doc;
  doc.LoadBytes(bytes);
  if (!doc.LocateChild("dict") || !doc.DescendToChild()) return false;
  bool named = false;
  while (doc.LocateChild("key")) {
    const std::string key = doc.ChildText();
    if (key == "Device Name") {
      if (doc.LocateChild("string")) row.deviceName = doc.ChildText();
      named = true;
    } else if (key == "Last Backup Date" && named) {
      if (doc.LocateChild("date")) row.lastBackupDate = doc.ChildText();
    } else if (key == "Product Version" && named) {
      if (doc.LocateChild("string")) row.productVersion = doc.ChildText();
      break;
    }
  }
  return named;
}

// The same facts from a binary Info.plist (iOS 10 and later computers write
// it so), through libplist: "Device Name" (else "Display Name"), "Last Backup
// Date" as ISO 8601 UTC, "Product Version". False when it names no device.
bool ReadBinaryInfoPlist(std::string_view bytes, BackupRow& row) {
  const InfoPlistFacts facts = InfoPlistFrom(LoadPropertyList(bytes));
  if (facts.deviceName.empty()) return false;
  row.deviceName = facts.deviceName;
  row.lastBackupDate = facts.lastBackupDate;
  row.productVersion = facts.productVersion;
  return true;
}

// Info.plist opened and read once, whichever its form ("bplist" starts the
// binary one), each form by its one parser. Either form's bound on the size
// read holds: an XML file is cut at kMaxXmlDocumentBytes, and a binary one
// above kMaxPlistFileBytes is not read.
bool ReadInfoPlistRow(const std::string& path, BackupRow& row) {
  ReadOnlyFile file;
  if (!file.Open(path)) return false;
  std::string bytes(static_cast<size_t>(std::min(file.Size(), kMaxXmlDocumentBytes)), '\0');
  if (file.ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) return false;
  if (bytes.starts_with("bplist"))
    return file.Size() <= kMaxPlistFileBytes && ReadBinaryInfoPlist(bytes, row);
  return ReadXmlInfoPlist(bytes, row);
}

}  // namespace

bool ExamineBackupFolder(const std::string& folder, BackupRow& row) {
  const std::string infoPlist = JoinPath(folder, "Info.plist");
  const bool hasInfoPlist = PathExists(infoPlist);
  if (!hasInfoPlist && !PathExists(JoinPath(folder, "Manifest.mbdb")) &&
      !PathExists(JoinPath(folder, "Manifest.db")))
    return false;
  BackupRow found;
  found.folder = folder;
  const bool named = hasInfoPlist && ReadInfoPlistRow(infoPlist, found);
  if (named) {
    // A "Device Name" whose value is missing still names no device.
    if (found.deviceName.empty()) found.deviceName = FolderName(folder);
  } else {
    found = BackupRow{folder, FolderName(folder), {}, {}};
  }
  row = std::move(found);
  return true;
}

std::string FindDefaultBackupFolder() {
  for (const std::string& candidate : DefaultBackupCandidates())
    if (IsDirectory(candidate)) return candidate;
  return {};
}

std::vector<BackupRow> ListBackups(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code kindError;
    if (it->is_directory(kindError)) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<BackupRow> rows;
  for (const std::string& name : names) {
    BackupRow row;
    if (ExamineBackupFolder(JoinPath(root, name.c_str()), row)) rows.push_back(std::move(row));
  }
  return rows;
}

BackupListing RememberedBackups::OpenListing() {
  BackupListing listing;
  listing.defaultFolder = FindDefaultBackupFolder();
  if (!listing.defaultFolder.empty()) {
    listing.rows = ListBackups(listing.defaultFolder);
    listing.defaultCount = static_cast<int>(listing.rows.size());
  }
  // The remembered rows after the default folder's ones are listed again,
  // unless they have stopped being backups or are already listed.
  for (size_t i = listing.rows.size(); i < folders_.size(); ++i) {
    const std::string& folder = folders_[i];
    const bool listed = std::any_of(listing.rows.begin(), listing.rows.end(),
                                    [&](const BackupRow& r) { return r.folder == folder; });
    BackupRow row;
    if (!listed && ExamineBackupFolder(folder, row)) listing.rows.push_back(std::move(row));
  }
  folders_.clear();
  for (const BackupRow& row : listing.rows) folders_.push_back(row.folder);
  if (lastRow_ >= 0 && static_cast<size_t>(lastRow_) < listing.rows.size())
    listing.selectedRow = lastRow_;
  return listing;
}

bool RememberedBackups::AddBackupRow(const std::string& folder, int& rowCount, BackupRow& row) {
  if (rowCount < 0 || !ExamineBackupFolder(folder, row)) return false;
  folders_.resize(static_cast<size_t>(rowCount));
  folders_.push_back(folder);
  ++rowCount;
  return true;
}

void RememberedBackups::RememberFolders(const std::vector<std::string>& folders) {
  // After the default folder's backups, which OpenListing puts first.
  size_t first = ListBackups(FindDefaultBackupFolder()).size();
  first = std::max(first, folders_.size());
  for (const std::string& folder : folders) {
    if (std::find(folders_.begin(), folders_.end(), folder) != folders_.end()) continue;
    folders_.resize(first);
    folders_.push_back(folder);
    ++first;
  }
}

std::string RememberedBackups::FolderAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= folders_.size()) return {};
  return folders_[static_cast<size_t>(row)];
}

}  // namespace vantrel
