// The load driver: opens the three databases in turn, runs each kind's loader
// and reports categories and counts through LoadObserver.
#include "backup/BackupLoader.h"

#include <climits>

#include "backup/EncryptedBackup.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/Loaders.h"

namespace vantrel {
namespace {

template <typename Map>
int TotalRecords(const Map& map) {
  size_t total = 0;
  for (const auto& [key, records] : map) total += records.size();
  return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

int Clamp(size_t n) {
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

}  // namespace

void BackupLoader::LoadBackup(LoadObserver& observer) {
  const std::string base = backupFolder;
  // A folder is a device backup holding the databases under their hashed
  // names, read without any log. Anything else is one database file offered
  // to every loader, with its "-wal" log when one lies beside it.
  const bool isFolder = IsDirectory(base);
  std::string paths[3];
  if (isFolder) {
    const std::string prefix = (!base.empty() && base.back() == '/') ? base : base + "/";
    paths[0] = prefix + kMessagesDatabaseName;
    paths[1] = prefix + kContactsDatabaseName;
    paths[2] = prefix + kCallsDatabaseName;
    walPath.clear();
  } else {
    paths[0] = paths[1] = paths[2] = base;
    walPath = base + "-wal";
    if (!PathExists(walPath)) walPath.clear();
  }

  observer.BeginProgress();
  observer.ResetViews();
  // Nothing of an earlier load may survive, whichever databases open now.
  collections.Clear();
  bool loaded = false;

  if (OpenDatabase(walPath, database, paths[0]) == 0) {
    observer.StepProgress();
    MessageMap& live = collections.liveMessages;
    MessageMap& deleted = collections.deletedMessages;
    if (MessageLoader(database, live, deleted) != -2) {
      loaded = true;
      const auto node = observer.AddCategory(category::kMessages);
      if (!deleted.empty())
        observer.AddCount(node, category::kDeleted, TotalRecords(deleted), true);
      if (!live.empty()) observer.AddCount(node, category::kLive, TotalRecords(live), false);
      observer.ExpandCategory(node);
    }
  }
  observer.StepProgress();

  if (OpenDatabase(walPath, database, paths[1]) == 0) {
    observer.StepProgress();
    ContactMap& contacts = collections.contacts;
    if (ContactLoader(database, contacts) != -2) {
      loaded = true;
      const auto node = observer.AddCategory(category::kContacts);
      // Deleted contacts are gathered in the one entry under key 0.
      const bool hasDeleted = !contacts.empty() && contacts.begin()->first == 0;
      if (hasDeleted) {
        observer.AddCount(node, category::kDeletedContacts,
                          Clamp(contacts.begin()->second.labels.size()), true);
      }
      observer.AddCount(node, category::kLiveContacts,
                        Clamp(contacts.size() - (hasDeleted ? 1 : 0)), false);
      observer.ExpandCategory(node);
    }
  }
  observer.StepProgress();

  if (OpenDatabase(walPath, database, paths[2]) == 0) {
    observer.StepProgress();
    CallMap& live = collections.liveCalls;
    CallMap& deleted = collections.deletedCalls;
    if (CallLoader(database, live, deleted) != -2) {
      loaded = true;
      const auto node = observer.AddCategory(category::kCalls);
      observer.AddCount(node, category::kDeleted, TotalRecords(deleted), true);
      observer.AddCount(node, category::kLive, TotalRecords(live), false);
      observer.ExpandCategory(node);
    }
  }
  observer.StepProgress();

  observer.EndProgress();
  if (!loaded) {
    observer.ShowMessage(isFolder && IsEncryptedBackup(base) ? kEncryptedBackupMessage
                                                             : kUnsupportedVersionMessage);
  }
}

}  // namespace vantrel
