// records: the records of one kind, as the loaders produce them, one per line.
#include <ostream>

#include "backup/BackupLoader.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

std::string ChooseWal(const CommandLine& cl, const std::string& file);

namespace {

void PrintMessages(const MessageMap& map, std::ostream& out) {
  for (const auto& [address, records] : map)
    for (const MessageRecord& m : records)
      out << EscapeField(address) << '\t' << m.date << '\t' << m.readDate << '\t'
          << static_cast<int>(m.sent) << '\t' << EscapeField(m.service) << '\t'
          << EscapeField(m.account) << '\t' << EscapeField(m.text) << '\n';
}

void PrintContacts(const ContactMap& map, bool deleted, std::ostream& out) {
  for (const auto& [key, c] : map) {
    if (deleted != (key == 0)) continue;
    if (deleted) {
      for (size_t i = 0; i < c.labels.size(); ++i)
        out << EscapeField(c.labels[i]) << '\t'
            << EscapeField(i < c.values.size() ? c.values[i] : "") << '\n';
      continue;
    }
    out << key << '\t' << EscapeField(c.name) << '\t' << EscapeField(c.phonetic) << '\t'
        << EscapeField(c.organization);
    for (size_t i = 0; i < c.labels.size() && i < c.values.size(); ++i)
      out << '\t' << EscapeField(c.labels[i]) << '=' << EscapeField(c.values[i]);
    out << '\n';
  }
}

void PrintCalls(const CallMap& map, std::ostream& out) {
  for (const auto& [number, calls] : map)
    for (const CallRecord& c : calls)
      out << EscapeField(number) << '\t' << static_cast<uint32_t>(c.date) << '\t' << c.duration
          << '\t' << c.flags << '\n';
}

}  // namespace

int RunRecords(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  const std::string& path = cl.positional[0];
  const std::string& kind = cl.positional[1];
  const char* hashedName = kind == "messages"   ? kMessagesDatabaseName
                           : kind == "contacts" ? kContactsDatabaseName
                           : kind == "calls"    ? kCallsDatabaseName
                                                : nullptr;
  if (!hashedName) {
    err << "vantrel-cli: unknown kind '" << kind << "': use messages, contacts or calls\n";
    return kExitUsage;
  }
  // A backup folder holds the kind's database under its hashed name, without a log.
  std::string file = path, wal;
  if (IsDirectory(path)) {
    file = path + "/" + hashedName;
  } else {
    wal = ChooseWal(cl, path);
  }
  if (!PathExists(file)) {
    err << "vantrel-cli: " << file << ": " << kFileNotFoundMessage << "\n";
    return kExitNotFound;
  }
  SqliteFile db;
  if (OpenDatabase(wal, db, file) == OpenStatus::NotOpened) {
    ReadOnlyFile probe;
    probe.Open(file);
    err << "vantrel-cli: " << file << ": cannot open (" << probe.lastError() << ")\n";
    return kExitNotFound;
  }
  const bool deleted = cl.Has("--deleted");
  int status;
  if (kind == "messages") {
    MessageMap live, gone;
    status = MessageLoader(db, live, gone);
    if (status != -2) PrintMessages(deleted ? gone : live, out);
  } else if (kind == "contacts") {
    ContactMap contacts;
    status = ContactLoader(db, contacts);
    if (status != -2) PrintContacts(contacts, deleted, out);
  } else {
    CallMap live, gone;
    status = CallLoader(db, live, gone);
    if (status != -2) PrintCalls(deleted ? gone : live, out);
  }
  if (status == -2) {
    const char* table = kind == "messages" ? "message" : kind == "contacts" ? "ABPerson" : "call";
    err << "vantrel-cli: " << file << ": no '" << table << "' table: not a " << kind
        << " database of iOS 6 or 7\n";
    return kExitNoData;
  }
  return kExitOk;
}

}  // namespace vantrel
