// records: the records of one kind, as the loaders produce them, one per line.
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>

#include "backup/BackupFiles.h"
#include "backup/BackupLoader.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "export/CategoryNames.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

std::string ChooseWal(const CommandLine& cl, const std::string& file);

namespace {

struct KindWord {
  const char* word;  // as the command line names it
  RecordKind kind;
  const char* keyTable;  // the table whose absence means another kind of database
};
constexpr KindWord kKindWords[] = {
    {"messages", RecordKind::Messages, "message"},
    {"contacts", RecordKind::Contacts, "ABPerson"},
    {"calls", RecordKind::Calls, "ZCALLRECORD' or 'call"},
};

// Addresses of a group joined by commas (no address holds one).
std::string JoinedList(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += ',';
    joined += item;
  }
  return joined;
}

// A value that may be unknown: empty when it is, so no script reads a
// made-up date or direction. A flag prints as 1 or 0.
template <typename T>
std::string OptionalField(const std::optional<T>& value) {
  if (!value) return {};
  if constexpr (std::is_same_v<T, bool>)
    return *value ? "1" : "0";
  else
    return std::to_string(*value);
}

// Fields after the first seven came later and stay last: scripts read the
// first seven by position. They are printed for every version, empty when
// the database does not tell. The fourth is the direction: 1 written by the
// owner (a failed send included), 0 received, empty unknown.
// Deleted records end with where they were found (FoundFields).
void PrintMessages(const std::string& address, const MessageList& records, bool deleted,
                   std::ostream& out) {
  for (const MessageRecord& m : records) {
    out << EscapeField(address) << '\t' << OptionalField(m.date) << '\t' << m.readDate << '\t'
        << OptionalField(m.fromMe) << '\t' << EscapeField(m.service) << '\t'
        << EscapeField(m.account) << '\t' << EscapeField(m.text) << '\t' << EscapeField(m.chatName)
        << '\t' << EscapeField(JoinedList(m.participants));
    // Then whether it is an earlier text of a live message, from the log.
    if (deleted) out << FoundFields(m.found) << '\t' << (m.earlierVersion ? '1' : '0');
    out << '\n';
  }
}

void PrintContacts(const ContactMap& map, std::ostream& out) {
  for (const auto& [key, c] : map) {
    out << key << '\t' << EscapeField(c.name) << '\t' << EscapeField(c.phonetic) << '\t'
        << EscapeField(c.organization);
    for (size_t i = 0; i < c.labels.size() && i < c.values.size(); ++i)
      out << '\t' << EscapeField(c.labels[i]) << '=' << EscapeField(c.values[i]);
    out << '\n';
  }
}

const char* CallTypeWord(CallType type) {
  switch (type) {
    case CallType::Phone:
      return "phone";
    case CallType::FaceTimeAudio:
      return "facetime-audio";
    case CallType::FaceTimeVideo:
      return "facetime-video";
    case CallType::Other:
      return "other";
    case CallType::Unknown:
      break;
  }
  return "";
}

// As for messages, the fields after the first four came later: type,
// answered (1/0), the other participants of a group call.
void PrintCalls(const CallMap& map, bool deleted, std::ostream& out) {
  for (const auto& [number, calls] : map)
    for (const CallRecord& c : calls) {
      out << EscapeField(number) << '\t' << static_cast<uint32_t>(c.date) << '\t' << c.duration
          << '\t' << c.flags << '\t' << CallTypeWord(c.type) << '\t';
      if (c.answered >= 0) out << static_cast<int>(c.answered);
      out << '\t' << EscapeField(JoinedList(c.participants));
      if (deleted) out << FoundFields(c.found);
      out << '\n';
    }
}

void PrintRecords(const Collections& data, RecordKind kind, bool deleted, std::ostream& out) {
  switch (kind) {
    case RecordKind::Messages:
      if (deleted) {
        PrintMessages(kDeletedMessagesAddress, data.deletedMessages, true, out);
      } else {
        for (const auto& [address, records] : data.liveMessages)
          PrintMessages(address, records, false, out);
      }
      break;
    case RecordKind::Contacts:
      if (!deleted) {
        PrintContacts(data.contacts, out);
      } else if (data.deletedContacts) {
        for (const DeletedContact& c : *data.deletedContacts)
          out << EscapeField(c.number) << '\t' << EscapeField(c.owner) << FoundFields(c.found)
              << '\n';
      }
      break;
    case RecordKind::Calls:
      PrintCalls(deleted ? data.deletedCalls : data.liveCalls, deleted, out);
      break;
  }
}

}  // namespace

int RunRecords(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  const std::string& path = cl.positional[0];
  const std::string& word = cl.positional[1];
  const KindWord* kind = nullptr;
  for (const KindWord& k : kKindWords)
    if (word == k.word) kind = &k;
  if (!kind) {
    err << "vantrel-cli: unknown kind '" << word << "': use messages, contacts or calls\n";
    return kExitUsage;
  }
  const KindSource& source = KindSourceOf(kind->kind);
  // A backup folder's index finds the kind's database and the log its
  // manifest stores; a folder of backups is not one of them.
  std::string file = path, wal;
  if (IsDirectory(path)) {
    const std::vector<std::string> held = BackupsHeldIn(path);
    if (!held.empty()) return ListHeldBackups(path, held, err);
    BackupFiles files;
    files.Open(path);
    const KindDatabase found = LocateKindDatabase(files, source);
    file = found.path.empty() ? KindFileInFolder(path, source) : found.path;
    wal = found.walPath;
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
  Collections data;
  if (source.load(db, data) == LoaderStatus::TableAbsent) {
    err << "vantrel-cli: " << file << ": no '" << kind->keyTable << "' table: not a " << word
        << " database\n";
    return kExitNoData;
  }
  PrintRecords(data, kind->kind, cl.Has("--deleted"), out);
  return kExitOk;
}

}  // namespace vantrel
