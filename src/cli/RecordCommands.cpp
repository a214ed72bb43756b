// records: the records of one kind, as the loaders produce them, one per line.
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <type_traits>

#include "backup/BackupFiles.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Password.h"
#include "export/CategoryNames.h"
#include "export/StatusTexts.h"
#include "load/BackupLoader.h"
#include "model/ContactNames.h"
#include "model/RecordFilter.h"
#include "platform/ReadOnlyFile.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

std::string ChooseWal(const CommandLine& cl, const std::string& file);

namespace {

struct KindWord {
  const char* word;  // as the command line names it
  RecordKind kind;
  const char* keyTable;  // the table whose absence means another kind of database
  bool traces = false;   // the messages only the GUID index still names
};
constexpr KindWord kKindWords[] = {
    {"messages", RecordKind::Messages, "message"},
    {"contacts", RecordKind::Contacts, "ABPerson"},
    {"calls", RecordKind::Calls, "ZCALLRECORD' or 'call"},
    {"traces", RecordKind::Messages, "message", true},
};

// A deleted message of which only its index entry is left: GUID, rowid
// (empty when its bytes were written over), "content lost", then where it
// was found. --grep looks in the GUID; a trace has no date, so a date range
// leaves it out.
void PrintTraces(const MessageTraceList& traces, const RecordFilter& filter, std::ostream& out) {
  for (const MessageTrace& t : traces) {
    if (!filter.empty() && !filter.MatchesKey(FoldForSearch(t.guid), std::nullopt)) continue;
    out << EscapeField(t.guid) << '\t' << (t.rowid != 0 ? std::to_string(t.rowid) : "") << '\t'
        << "content lost" << FoundFields(FoundOrNull(t.found)) << '\n';
  }
}

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

// The fields of later versions, after every other: reactions ("loved:ADDRESS",
// "me" for the owner, joined by commas), the text replied to, the edit and
// unsend times, the attachments' names, then for the deleted list the kind of
// deletion (carved, recently-deleted), its time and conversation.
void PrintMessageExtras(const MessageRecord& m, bool deleted, std::ostream& out) {
  const MessageExtras empty;
  const MessageExtras& x = m.extras ? *m.extras : empty;
  std::vector<std::string> reactions, names;
  for (const Reaction& r : x.reactions)
    reactions.push_back(std::string(ReactionWord(r.kind)) + ":" + (r.fromMe ? "me" : r.sender));
  for (const MessageAttachment& a : x.attachments) names.push_back(a.transferName);
  out << '\t' << EscapeField(JoinedList(reactions)) << '\t' << EscapeField(x.replyToText) << '\t'
      << OptionalField(x.editedAt) << '\t' << OptionalField(x.retractedAt) << '\t'
      << EscapeField(JoinedList(names));
  if (!deleted) return;
  out << '\t' << (x.deletedKind == DeletedKind::RecentlyDeleted ? "recently-deleted" : "carved")
      << '\t' << OptionalField(x.deletedAt) << '\t' << EscapeField(x.deletedFrom);
}

// What the records command prints: names from the address book beside
// numbers, and only the records the filter keeps.
struct Printing {
  const ContactNames& names;
  const RecordFilter& filter;
};

// Fields after the first seven came later and stay last: scripts read the
// first seven by position. They are printed for every version, empty when
// the database does not tell. The fourth is the direction: 1 written by the
// owner (a failed send included), 0 received, empty unknown. The tenth is the
// contact name(s) of the address, empty when the address book has none; the
// later versions' facts follow it (PrintMessageExtras). Deleted records end
// with where they were found (FoundFields) and whether the record is an
// earlier text of a live message, from the log.
void PrintMessages(const std::string& shown, const MessageList& records, const Printing& p,
                   std::ostream& out, bool deleted) {
  std::string cachedAddress, cachedName;
  bool cached = false;
  for (const MessageRecord& m : records) {
    // A deleted message is listed under a placeholder; its own address, when
    // the carver knew it, finds its name.
    const std::string& address = m.address.empty() ? shown : m.address;
    if (!cached || address != cachedAddress) {
      cachedAddress = address;
      cachedName = address == kDeletedMessagesAddress ? std::string() : p.names.NameOf(address);
      cached = true;
    }
    if (!p.filter.empty() &&
        !p.filter.Matches(m, address == kDeletedMessagesAddress ? "" : address, cachedName))
      continue;
    out << EscapeField(shown) << '\t' << OptionalField(m.date) << '\t' << m.readDate << '\t'
        << OptionalField(m.fromMe) << '\t' << EscapeField(m.service) << '\t'
        << EscapeField(m.account()) << '\t' << EscapeField(m.text) << '\t'
        << EscapeField(m.chatName()) << '\t' << EscapeField(JoinedList(m.participants())) << '\t'
        << EscapeField(cachedName);
    PrintMessageExtras(m, deleted, out);
    if (deleted) out << FoundFields(FoundOrNull(m.found)) << '\t' << (m.earlierVersion ? '1' : '0');
    out << '\n';
  }
}

void PrintContacts(const ContactMap& map, const Printing& p, std::ostream& out) {
  for (const auto& [key, c] : map) {
    if (!p.filter.Matches(c)) continue;
    out << key << '\t' << EscapeField(c.name) << '\t' << EscapeField(c.phonetic) << '\t'
        << EscapeField(c.organization);
    for (size_t i = 0; i < c.labels.size() && i < c.values.size(); ++i)
      out << '\t' << EscapeField(c.labels[i]) << '=' << EscapeField(c.values[i]);
    out << '\n';
  }
}

// As for messages, the fields after the first four came later: type,
// answered (1/0), the other participants of a group call, the contact
// name(s) of the number; deleted calls end with where they were found.
void PrintCalls(const CallMap& map, const Printing& p, bool deleted, std::ostream& out) {
  for (const auto& [number, calls] : map) {
    const std::string name = p.names.NameOf(number);
    for (const CallRecord& c : calls) {
      if (!p.filter.empty() && !p.filter.Matches(c, number, name)) continue;
      out << EscapeField(number) << '\t' << static_cast<uint32_t>(c.date) << '\t' << c.duration
          << '\t' << c.flags << '\t' << (c.type == CallType::Unknown ? "" : CallTypeWord(c.type))
          << '\t';
      if (c.answered >= 0) out << static_cast<int>(c.answered);
      out << '\t' << EscapeField(JoinedList(c.participants)) << '\t' << EscapeField(name);
      if (deleted) out << FoundFields(FoundOrNull(c.found));
      out << '\n';
    }
  }
}

void PrintRecords(const Collections& data, RecordKind kind, bool deleted, const Printing& p,
                  std::ostream& out) {
  switch (kind) {
    case RecordKind::Messages:
      if (deleted) {
        PrintMessages(kDeletedMessagesAddress, data.deletedMessages, p, out, true);
      } else {
        for (const auto& [address, records] : data.liveMessages)
          PrintMessages(address, records, p, out, false);
      }
      break;
    case RecordKind::Contacts:
      if (!deleted) {
        PrintContacts(data.contacts, p, out);
      } else if (data.deletedContacts) {
        // After where it was found: the owner's organisation and rowid (empty
        // when not known). A deleted person found without any value has an
        // empty first field.
        for (const DeletedContact& c : *data.deletedContacts) {
          if (!p.filter.Matches(c)) continue;
          out << EscapeField(c.number) << '\t' << EscapeField(c.owner)
              << FoundFields(FoundOrNull(c.found)) << '\t' << EscapeField(c.organization) << '\t';
          if (c.ownerRowid != 0) out << c.ownerRowid;
          out << '\n';
        }
      }
      break;
    case RecordKind::Calls:
      PrintCalls(deleted ? data.deletedCalls : data.liveCalls, p, deleted, out);
      break;
  }
}

// The address book of a backup folder, for the names beside messages and
// calls; empty when the folder has none or it does not read. A database file
// given alone has no address book beside it.
ContactNames AddressBookNames(const BackupFiles* files, const BackupKeys* keys) {
  if (files == nullptr) return {};
  const Source& source = SourceOf(RecordKind::Contacts);
  KindDatabase found = LocateKindDatabase(*files, source);
  if (found.path.empty()) return {};
  DecipheredDatabase plain;  // kept open while the address book is read
  if (keys != nullptr) {
    plain = DecipherKindDatabase(*keys, found);
    if (plain.file.path.empty()) return {};
    found = plain.file;
  }
  SqliteFile db;
  if (OpenDatabase(found.walPath, db, found.path) == OpenStatus::NotOpened) return {};
  Collections contacts;
  if (source.load(db, contacts) == LoaderStatus::TableAbsent) return {};
  return ContactNames(contacts);
}

// --grep, --since and --until as a filter; nullopt (said on err) when a date
// does not read.
std::optional<RecordFilter> FilterOf(const CommandLine& cl, std::ostream& err) {
  std::optional<int64_t> since, until;
  for (const auto& [option, endOfDay, into] :
       {std::tuple{"--since", false, &since}, std::tuple{"--until", true, &until}}) {
    if (!cl.Has(option)) continue;
    *into = ParseLocalDate(cl.Get(option), endOfDay);
    if (!*into) {
      err << "vantrel-cli: " << option
          << " takes YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS' (local time), "
          << "not '" << cl.Get(option) << "'\n";
      return std::nullopt;
    }
  }
  return RecordFilter(cl.Get("--grep"), since, until);
}

}  // namespace

int RunRecords(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  const std::string& path = cl.positional[0];
  const std::string& word = cl.positional[1];
  const KindWord* kind = nullptr;
  for (const KindWord& k : kKindWords)
    if (word == k.word) kind = &k;
  if (!kind) {
    err << "vantrel-cli: unknown kind '" << word << "': use messages, contacts, calls or traces\n";
    return kExitUsage;
  }
  const std::optional<RecordFilter> filter = FilterOf(cl, err);
  if (!filter) return kExitUsage;
  const Source& source = SourceOf(kind->kind);
  // A backup folder's index finds the kind's database and the log its
  // manifest stores; a folder of backups is not one of them.
  std::string file = path, wal;
  std::string name;  // the database as the phone names it, for where records were found
  BackupFiles files;
  std::optional<BackupKeys> keys;
  const ExaminedPath examined = ExaminePath(path);
  if (examined.kind == PathKind::FolderOfBackups) return ListHeldBackups(examined, err);
  const bool folder = examined.IsBackup();
  DecipheredDatabase plain;  // an encrypted backup's database, deciphered into memory
  if (folder) {
    if (int status = UnlockForCli(examined, cl, err, keys)) return status;
    files.Open(examined, keys ? &*keys : nullptr);
    const KindDatabase found = LocateKindDatabase(files, source);
    file = found.path.empty() ? KindFileInFolder(path, source) : found.path;
    wal = found.walPath;
    if (!found.domain.empty()) name = found.domain + "-" + found.relativePath;
    if (keys && !found.path.empty()) {
      plain = DecipherKindDatabase(*keys, found);
      for (const DecryptionProblem& problem : plain.problems)
        err << "vantrel-cli: " << DecryptionProblemText(problem) << "\n";
      if (plain.file.path.empty()) return kExitNoData;
      file = plain.file.path;
      wal = plain.file.walPath;
    }
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
  if (!name.empty()) db.name = name;
  Collections data;
  if (source.load(db, data) == LoaderStatus::TableAbsent) {
    err << "vantrel-cli: " << file << ": no '" << kind->keyTable << "' table: not a " << word
        << " database\n";
    return kExitNoData;
  }
  if (kind->traces) {
    PrintTraces(data.messageTraces, *filter, out);
    return kExitOk;
  }
  const ContactNames names =
      kind->kind == RecordKind::Contacts
          ? ContactNames()
          : AddressBookNames(folder ? &files : nullptr, keys ? &*keys : nullptr);
  PrintRecords(data, kind->kind, cl.Has("--deleted"), Printing{names, *filter}, out);
  return kExitOk;
}

}  // namespace vantrel
