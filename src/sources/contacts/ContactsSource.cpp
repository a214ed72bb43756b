#include "sources/contacts/ContactsSource.h"

namespace vantrel {
namespace {

LoaderStatus LoadContacts(const SqliteFile& db, Collections& into) {
  return ContactLoader(db, into.contacts, into.deletedContacts);
}

}  // namespace

Source ContactsSource() {
  // Read on a thread of its own while the messages load.
  return {.kind = RecordKind::Contacts,
          .word = "contacts",
          .fileStem = "Contacts",
          .backupFiles = {{"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"}},
          .load = LoadContacts,
          .nodes = {{Category::DeletedContacts, false}, {Category::LiveContacts, true}},
          .ownThread = true};
}

}  // namespace vantrel
