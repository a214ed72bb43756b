// The load driver: opens the three databases in turn, runs each kind's loader
// and reports categories and counts through LoadObserver.
#include "backup/BackupLoader.h"

#include <climits>
#include <thread>

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

  // The address book is a file of its own: it is read on a second thread
  // while the messages load, and reported after them, as a load one file at
  // a time would. Nothing of it is shared with the message load.
  SqliteFile contactsDatabase;
  int contactsOpened = -1;
  int contactsStatus = -2;
  auto loadContacts = [&] {
    contactsOpened =
        OpenDatabase(walPath, contactsDatabase, paths[1]) == OpenStatus::NotOpened ? -1 : 0;
    if (contactsOpened == 0) contactsStatus = ContactLoader(contactsDatabase, collections.contacts);
  };
  std::thread contactsThread;
  if (std::thread::hardware_concurrency() > 1) contactsThread = std::thread(loadContacts);
  // Joined on every way out, so an exception from the message load never
  // leaves the thread running.
  struct Joiner {
    std::thread& thread;
    ~Joiner() {
      if (thread.joinable()) thread.join();
    }
  } joiner{contactsThread};

  if (OpenDatabase(walPath, database, paths[0]) != OpenStatus::NotOpened) {
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

  if (contactsThread.joinable()) {
    contactsThread.join();
  } else {
    loadContacts();
  }
  if (contactsOpened == 0) {
    observer.StepProgress();
    ContactMap& contacts = collections.contacts;
    if (contactsStatus != -2) {
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

  if (OpenDatabase(walPath, database, paths[2]) != OpenStatus::NotOpened) {
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
