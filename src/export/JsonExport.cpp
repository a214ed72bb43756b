#include "export/JsonExport.h"

#include "export/CategoryNames.h"
#include "export/JsonWriter.h"
#include "export/OutputFile.h"
#include "export/TimeText.h"
#include "sources/Source.h"

namespace vantrel {
namespace {

// A date as {"iso": local time with offset, "raw": the stored seconds};
// null when unknown.
void DateMember(JsonWriter& json, std::string_view name, std::optional<int64_t> raw,
                int64_t epochOffset) {
  json.Key(name);
  if (!raw) {
    json.Null();
    return;
  }
  json.BeginObject();
  json.Member("iso", IsoLocalTime(*raw + epochOffset));
  json.Member("raw", *raw);
  json.EndObject();
}

void OptionalBool(JsonWriter& json, std::string_view name, std::optional<bool> value) {
  json.Key(name);
  if (value)
    json.Bool(*value);
  else
    json.Null();
}

void StringArray(JsonWriter& json, std::string_view name, const std::vector<std::string>& items) {
  json.Key(name);
  json.BeginArray();
  for (const std::string& item : items) json.String(item);
  json.EndArray();
}

void FoundMember(JsonWriter& json, const FoundAt* found) {
  json.Key("found");
  if (!found) {
    json.Null();
    return;
  }
  json.BeginObject();
  json.Member("file", found->file);
  json.Member("page", static_cast<uint64_t>(found->page));
  json.Member("offset", found->offset);
  json.Member("place", PlaceWord(found->place));
  json.Key("frame");
  if (found->place == Place::LogFrame)
    json.UInt(found->frame);
  else
    json.Null();
  json.EndObject();
}

std::optional<int64_t> Widened(std::optional<int32_t> value) {
  return value ? std::optional<int64_t>(*value) : std::nullopt;
}

// What later versions record around a message; null when it has none.
void ExtrasMember(JsonWriter& json, const MessageRecord& m) {
  json.Key("extras");
  if (!m.extras) {
    json.Null();
    return;
  }
  const MessageExtras& x = *m.extras;
  json.BeginObject();
  json.Key("reactions");
  json.BeginArray();
  for (const Reaction& r : x.reactions) {
    json.BeginObject();
    json.Member("kind", ReactionWord(r.kind));
    json.Member("fromMe", r.fromMe);
    json.Member("sender", r.sender);
    DateMember(json, "date", Widened(r.date), kMessageEpochOffset);
    json.EndObject();
  }
  json.EndArray();
  json.Key("replyTo");
  if (x.isReply) {
    json.BeginObject();
    json.Member("text", x.replyToText);
    DateMember(json, "date", Widened(x.replyToDate), kMessageEpochOffset);
    json.EndObject();
  } else {
    json.Null();
  }
  DateMember(json, "editedAt", Widened(x.editedAt), kMessageEpochOffset);
  DateMember(json, "retractedAt", Widened(x.retractedAt), kMessageEpochOffset);
  json.Key("earlierTexts");
  json.BeginArray();
  for (const EarlierText& e : x.earlierTexts) {
    json.BeginObject();
    json.Member("text", e.text);
    DateMember(json, "date", Widened(e.date), kMessageEpochOffset);
    json.EndObject();
  }
  json.EndArray();
  json.Key("attachments");
  json.BeginArray();
  for (const MessageAttachment& a : x.attachments) {
    json.BeginObject();
    json.Member("filename", a.filename);
    json.Member("mimeType", a.mimeType);
    json.Member("transferName", a.transferName);
    json.Member("totalBytes", a.totalBytes);
    json.Member("inBackup", !a.backupPath.empty());
    json.EndObject();
  }
  json.EndArray();
  json.Member("deletedKind",
              x.deletedKind == DeletedKind::RecentlyDeleted ? "recently-deleted" : "carved");
  DateMember(json, "deletedAt", Widened(x.deletedAt), kMessageEpochOffset);
  json.Member("deletedFrom", x.deletedFrom);
  json.EndObject();
}

void Message(JsonWriter& json, const std::string& address, const MessageRecord& m, bool deleted,
             const ContactNames& names) {
  json.BeginObject();
  json.Member("deleted", deleted);
  json.Member("address", address);
  StringArray(json, "names", address.empty() ? std::vector<std::string>{} : names.NamesOf(address));
  json.Member("text", m.text);
  json.Member("service", m.service);
  json.Member("account", m.account());
  DateMember(json, "date", m.date ? std::optional<int64_t>(*m.date) : std::nullopt,
             kMessageEpochOffset);
  DateMember(json, "readDate", m.readDate ? std::optional<int64_t>(m.readDate) : std::nullopt,
             kMessageEpochOffset);
  OptionalBool(json, "fromMe", m.fromMe);
  OptionalBool(json, "sent", m.sent);
  json.Member("chatName", m.chatName());
  StringArray(json, "participants", m.participants());
  FoundMember(json, FoundOrNull(m.found));
  json.Member("earlierVersion", m.earlierVersion);
  ExtrasMember(json, m);
  json.EndObject();
}

void Call(JsonWriter& json, const std::string& number, const CallRecord& c, bool deleted,
          const ContactNames& names) {
  json.BeginObject();
  json.Member("deleted", deleted);
  json.Member("number", number);
  StringArray(json, "names", names.NamesOf(number));
  // The stored count is unsigned 32-bit seconds (CallDateText reads it so).
  DateMember(json, "date", static_cast<int64_t>(static_cast<uint32_t>(c.date)), 0);
  json.Member("duration", static_cast<int64_t>(static_cast<uint32_t>(c.duration)));
  json.Member("flags", c.flags);
  json.Member("outgoing", (c.flags & 1) != 0);
  json.Member("type", CallTypeWord(c.type));
  OptionalBool(json, "answered",
               c.answered < 0 ? std::nullopt : std::optional<bool>(c.answered != 0));
  StringArray(json, "participants", c.participants);
  FoundMember(json, FoundOrNull(c.found));
  json.EndObject();
}

void Sources(JsonWriter& json, const ReportFacts& facts) {
  json.Key("sources");
  json.BeginArray();
  for (const ReportSource& s : facts.sources) {
    json.BeginObject();
    json.Member("kind", s.kind);
    json.Member("path", s.path);
    json.Member("domain", s.domain);
    json.Member("relativePath", s.relativePath);
    json.Member("size", s.size);
    json.Member("sha256", s.sha256);
    json.Key("wal");
    if (s.walPath.empty()) {
      json.Null();
    } else {
      json.BeginObject();
      json.Member("path", s.walPath);
      json.Member("size", s.walSize);
      json.Member("sha256", s.walSha256);
      json.EndObject();
    }
    json.EndObject();
  }
  json.EndArray();
}

// What made the file and from what: format, generator, time of export, the
// backup and its database files.
void Provenance(JsonWriter& json, const ReportFacts& facts) {
  json.Member("format", kJsonFormatName);
  json.Member("formatVersion", static_cast<int64_t>(kJsonFormatVersion));
  json.Key("generator");
  json.BeginObject();
  json.Member("name", "Vantrel");
  json.Member("version", VantrelVersion());
  json.EndObject();
  DateMember(json, "exportedAt", facts.generatedAt, 0);
  json.Key("backup");
  json.BeginObject();
  json.Member("folder", facts.folder);
  json.Member("device", facts.device);
  json.Member("iosVersion", facts.iosVersion);
  json.Member("backupDate", facts.backupDate);
  json.EndObject();
  Sources(json, facts);
}

void CountsMember(JsonWriter& json, const Collections& data) {
  json.Key("counts");
  json.BeginObject();
  static constexpr const char* kCountNames[] = {"liveMessages", "deletedMessages",
                                                "liveContacts", "deletedContacts",
                                                "liveCalls",    "deletedCalls"};
  for (size_t i = 0; i < std::size(kAllCategories); ++i)
    json.Member(kCountNames[i], static_cast<uint64_t>(RecordCount(data, kAllCategories[i])));
  json.EndObject();
}

void MessagesMember(JsonWriter& json, const Collections& data, const ContactNames& names) {
  json.Key("messages");
  json.BeginArray();
  for (const auto& [address, messages] : data.liveMessages)
    for (const MessageRecord& m : messages) Message(json, address, m, false, names);
  for (const MessageRecord& m : data.deletedMessages) Message(json, m.address, m, true, names);
  json.EndArray();
}

void Contact(JsonWriter& json, uint32_t rowid, const ContactRecord& c) {
  json.BeginObject();
  json.Member("id", static_cast<uint64_t>(rowid));
  json.Member("name", c.name);
  json.Member("phonetic", c.phonetic);
  json.Member("organization", c.organization);
  json.Key("values");
  json.BeginArray();
  const size_t n = std::min(c.labels.size(), c.values.size());
  for (size_t i = 0; i < n; ++i) {
    json.BeginObject();
    json.Key("property");
    if (i < c.propertyCodes.size())
      json.Int(c.propertyCodes[i]);
    else
      json.Null();
    json.Member("label", c.labels[i]);
    json.Member("value", c.values[i]);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
}

void DeletedContactObject(JsonWriter& json, const DeletedContact& c) {
  json.BeginObject();
  json.Member("number", c.number);
  json.Member("owner", c.owner);
  FoundMember(json, FoundOrNull(c.found));
  json.Member("organization", c.organization);
  if (c.ownerRowid != 0)
    json.Member("ownerRowid", static_cast<uint64_t>(c.ownerRowid));
  else {
    json.Key("ownerRowid");
    json.Null();
  }
  json.EndObject();
}

// The live contacts, then the deleted ones: null when the address book left
// no deleted rows at all; [] when it did, none kept.
void ContactsMembers(JsonWriter& json, const Collections& data) {
  json.Key("contacts");
  json.BeginArray();
  for (const auto& [rowid, c] : data.contacts) Contact(json, rowid, c);
  json.EndArray();

  json.Key("deletedContacts");
  if (!data.deletedContacts) {
    json.Null();
    return;
  }
  json.BeginArray();
  for (const DeletedContact& c : *data.deletedContacts) DeletedContactObject(json, c);
  json.EndArray();
}

void CallsMember(JsonWriter& json, const Collections& data, const ContactNames& names) {
  json.Key("calls");
  json.BeginArray();
  for (const auto& [number, calls] : data.liveCalls)
    for (const CallRecord& c : calls) Call(json, number, c, false, names);
  for (const auto& [number, calls] : data.deletedCalls)
    for (const CallRecord& c : calls) Call(json, number, c, true, names);
  json.EndArray();
}

void MessageTracesMember(JsonWriter& json, const Collections& data) {
  json.Key("messageTraces");
  json.BeginArray();
  for (const MessageTrace& t : data.messageTraces) {
    json.BeginObject();
    json.Member("guid", t.guid);
    json.Key("rowid");
    if (t.rowid != 0)
      json.Int(t.rowid);
    else
      json.Null();
    json.Member("content", "lost");
    FoundMember(json, FoundOrNull(t.found));
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace

const char* KindWord(RecordKind kind) {
  return SourceOf(kind).word;
}

std::string JsonDocument(const Collections& data, const ReportFacts& facts,
                         const ContactNames& names, bool withTraces) {
  JsonWriter json;
  json.BeginObject();
  Provenance(json, facts);
  CountsMember(json, data);
  MessagesMember(json, data, names);
  ContactsMembers(json, data);
  CallsMember(json, data, names);
  // Last and only when asked for: files written without it read as before.
  if (withTraces) MessageTracesMember(json, data);
  json.EndObject();
  return json.text();
}

ExportResult WriteWholeFile(const std::string& path, const std::string& text) {
  ExportResult result;
  OutputFile file(path, "UTF-8");
  if (!file.Open() || !file.WriteText(text) || !file.Close()) {
    result.ok = false;
    result.failedFile = path;
    result.reason = file.reason();
    return result;
  }
  result.writtenFiles.push_back(path);
  return result;
}

ExportResult ExportJson(const Collections& data, const ReportFacts& facts,
                        const std::string& folder, bool withTraces) {
  return WriteWholeFile(folder + "/" + kJsonFileName,
                        JsonDocument(data, facts, ContactNames(data), withTraces));
}

}  // namespace vantrel
