#include "sources/messages/MessageExtras.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "carve/RowReader.h"
#include "sources/apple/AppleTime.h"
#include "sqlite/BTree.h"

namespace vantrel {
namespace {

uint64_t GuidHash(std::string_view guid) {
  return std::hash<std::string_view>{}(guid);
}

const std::string* ValueAt(const RowValues& row, size_t position) {
  return position < row.size() ? &row[position] : nullptr;
}

// A stored time (seconds or nanoseconds since 2001); empty when 0 or absent.
std::optional<int32_t> StoredTime(const std::string* value) {
  if (value == nullptr || value->empty()) return std::nullopt;
  const int32_t seconds = MessageSecondsFromStored(*value);
  if (seconds == 0) return std::nullopt;
  return seconds;
}
template <typename Values>
std::optional<int32_t> StoredTime(const Values& row, size_t position) {
  if (!row.Has(position) || row.Empty(position)) return std::nullopt;
  const int32_t seconds = MessageSecondsFromStored(row.Integer(position));
  if (seconds == 0) return std::nullopt;
  return seconds;
}

MessageExtras& ExtrasOf(MessageRecord& record) {
  if (!record.extras) record.extras = std::make_shared<MessageExtras>();
  return *record.extras;
}

void NoCarving(const SqliteFile&, const LeafPage&, const std::vector<ColumnDef>&, RowList&,
               FoundList*) {}

// Every live row of a table, or nothing when it is absent.
const TableInfo* ReadWhole(const SqliteFile& db, const char* name, RowList& rows) {
  RowList unused;
  if (FindTable(db, name) == nullptr) return nullptr;
  ReadTable(db, name, rows, unused, NoCarving);
  return FindTable(db, name);
}

}  // namespace

ModernColumns ModernColumns::Of(const std::vector<ColumnDef>& columns) {
  ModernColumns c;
  c.associatedGuid = ColumnPosition(columns, "associated_message_guid");
  c.associatedType = ColumnPosition(columns, "associated_message_type");
  c.threadOriginator = ColumnPosition(columns, "thread_originator_guid");
  c.dateEdited = ColumnPosition(columns, "date_edited");
  c.dateRetracted = ColumnPosition(columns, "date_retracted");
  c.summaryInfo = ColumnPosition(columns, "message_summary_info");
  return c;
}

bool ModernColumns::Any() const {
  return associatedGuid != kNoColumn || threadOriginator != kNoColumn || dateEdited != kNoColumn ||
         dateRetracted != kNoColumn || summaryInfo != kNoColumn;
}

std::optional<ReactionType> ReactionTypeOf(int64_t associatedType) {
  if (associatedType >= 2000 && associatedType <= 2005)
    return ReactionType{static_cast<ReactionKind>(associatedType - 2000), false};
  if (associatedType >= 3000 && associatedType <= 3005)
    return ReactionType{static_cast<ReactionKind>(associatedType - 3000), true};
  return std::nullopt;
}

std::string StripAssociatedPrefix(const std::string& associated) {
  // "p:0/GUID" names a part of a message, "bp:GUID" a whole bubble.
  if (const size_t slash = associated.find('/'); slash != std::string::npos)
    return associated.substr(slash + 1);
  if (associated.rfind("bp:", 0) == 0) return associated.substr(3);
  return associated;
}

bool ModernFacts::Take(const RowValues& row, uint32_t entry, int64_t rowid,
                       const MessageColumns& columns, const ModernColumns& modern,
                       const ChatIndex& chats) {
  return TakeRow(RenderedRow(row), entry, rowid, columns, modern, chats);
}

bool ModernFacts::Take(const LiveCell& cell, uint32_t entry, int64_t rowid,
                       const MessageColumns& columns, const ModernColumns& modern,
                       const ChatIndex& chats) {
  return TakeRow(cell, entry, rowid, columns, modern, chats);
}

template <typename Values>
bool ModernFacts::TakeRow(const Values& row, uint32_t entry, int64_t rowid,
                          const MessageColumns& columns, const ModernColumns& modern,
                          const ChatIndex& chats) {
  if (guidHashes_.size() <= entry) guidHashes_.resize(entry + 1, 0);
  if (row.Has(columns.guid)) guidHashes_[entry] = GuidHash(row.Text(columns.guid));

  Row facts;
  facts.entry = entry;
  facts.rowid = rowid;
  if (row.Has(modern.associatedType) && !row.Empty(modern.associatedType))
    facts.reaction = ReactionTypeOf(row.Integer(modern.associatedType));
  if (facts.reaction) {
    if (row.Has(modern.associatedGuid))
      facts.target = StripAssociatedPrefix(row.Text(modern.associatedGuid));
    if ((!row.Has(columns.isFromMe) || row.Integer(columns.isFromMe) == 0) &&
        row.Has(columns.handleId)) {
      if (const std::string* address = chats.HandleAddress(row.Integer(columns.handleId));
          address != nullptr && !address->empty())
        facts.sender = NormaliseAddress(*address);
    }
  }
  if (row.Has(modern.threadOriginator)) facts.thread = row.Text(modern.threadOriginator);
  facts.edited = StoredTime(row, modern.dateEdited);
  facts.retracted = StoredTime(row, modern.dateRetracted);
  const bool wantsSummary = row.Has(modern.summaryInfo) && !row.Empty(modern.summaryInfo);
  if (!facts.reaction && facts.thread.empty() && !facts.edited && !facts.retracted && !wantsSummary)
    return false;
  if (wantsSummary) byRowid_[rowid] = rows_.size();
  rows_.push_back(std::move(facts));
  return wantsSummary;
}

ModernFacts::Row* ModernFacts::RowOf(int64_t rowid) {
  auto found = byRowid_.find(rowid);
  return found == byRowid_.end() ? nullptr : &rows_[found->second];
}

ModernTables ReadModernTables(const SqliteFile& db, const RowList& chatRows,
                              const ChatColumns& chatColumns) {
  ModernTables tables;
  RowList attachmentRows, joinRows, recoverableRows;
  if (const TableInfo* attachment = ReadWhole(db, "attachment", attachmentRows)) {
    const auto& cols = attachment->columns;
    const size_t rowid = ColumnPosition(cols, "ROWID");
    const size_t filename = ColumnPosition(cols, "filename");
    const size_t mime = ColumnPosition(cols, "mime_type");
    const size_t transfer = ColumnPosition(cols, "transfer_name");
    const size_t bytes = ColumnPosition(cols, "total_bytes");
    std::unordered_map<int64_t, MessageAttachment> byRowid;
    for (const RowValues& row : attachmentRows) {
      const std::string* key = ValueAt(row, rowid);
      if (key == nullptr) continue;
      MessageAttachment a;
      if (const std::string* v = ValueAt(row, filename)) a.filename = *v;
      if (const std::string* v = ValueAt(row, mime)) a.mimeType = *v;
      if (const std::string* v = ValueAt(row, transfer)) a.transferName = *v;
      if (const std::string* v = ValueAt(row, bytes)) a.totalBytes = TextToInt(*v);
      byRowid.emplace(TextToInt(*key), std::move(a));
    }
    if (const TableInfo* join = ReadWhole(db, "message_attachment_join", joinRows)) {
      const size_t message = ColumnPosition(join->columns, "message_id");
      const size_t attachmentId = ColumnPosition(join->columns, "attachment_id");
      // The join's own rowid order is the order the files were attached.
      for (const RowValues& row : joinRows) {
        const std::string* m = ValueAt(row, message);
        const std::string* a = ValueAt(row, attachmentId);
        if (m == nullptr || a == nullptr) continue;
        auto found = byRowid.find(TextToInt(*a));
        if (found != byRowid.end()) tables.attachments[TextToInt(*m)].push_back(found->second);
      }
    }
  }
  if (const TableInfo* recoverable =
          ReadWhole(db, "chat_recoverable_message_join", recoverableRows)) {
    const size_t chat = ColumnPosition(recoverable->columns, "chat_id");
    const size_t message = ColumnPosition(recoverable->columns, "message_id");
    const size_t date = ColumnPosition(recoverable->columns, "delete_date");
    for (const RowValues& row : recoverableRows) {
      const std::string* m = ValueAt(row, message);
      if (m == nullptr) continue;
      ModernTables::Recoverable r;
      if (const std::string* c = ValueAt(row, chat)) r.chatId = TextToInt(*c);
      r.deletedAt = StoredTime(ValueAt(row, date));
      tables.recoverable.emplace(TextToInt(*m), r);
    }
    for (const RowValues& row : chatRows) {
      const std::string* key = ValueAt(row, chatColumns.rowid);
      const std::string* identifier = ValueAt(row, chatColumns.chatIdentifier);
      if (key != nullptr && identifier != nullptr)
        tables.chatAddresses.emplace(TextToInt(*key), NormaliseAddress(*identifier));
    }
  }
  return tables;
}

namespace {

// Every live message by the hash of its GUID, to find what a reaction or a
// reply points at in whichever batch holds it. Only the messages something
// points at are indexed: a few percent of a large database.
class PointedAtIndex {
 public:
  PointedAtIndex(const std::vector<LiveBatch*>& batches, const std::vector<ModernFacts*>& facts)
      : batches_(batches) {
    std::unordered_set<uint64_t> pointedAt;
    for (ModernFacts* f : facts)
      for (const ModernFacts::Row& row : f->rows()) {
        if (row.reaction) pointedAt.insert(GuidHash(row.target));
        if (!row.thread.empty()) pointedAt.insert(GuidHash(row.thread));
      }
    if (pointedAt.empty()) return;
    for (uint32_t k = 0; k < facts.size(); ++k)
      for (uint32_t e = 0; e < facts[k]->guidHashes().size(); ++e)
        if (pointedAt.count(facts[k]->guidHashes()[e]) != 0)
          index_.push_back({facts[k]->guidHashes()[e], k, e});
    std::sort(index_.begin(), index_.end());
  }

  // The live message of a GUID, or nullptr.
  MessageRecord* Find(const std::string& guid) const {
    if (guid.empty()) return nullptr;
    const uint64_t hash = GuidHash(guid);
    auto at = std::lower_bound(index_.begin(), index_.end(), At{hash, 0, 0});
    if (at == index_.end() || at->hash != hash) return nullptr;
    return &batches_[at->batch]->entries()[at->entry].record;
  }

 private:
  struct At {
    uint64_t hash;
    uint32_t batch, entry;
    bool operator<(const At& o) const {
      return std::tie(hash, batch, entry) < std::tie(o.hash, o.batch, o.entry);
    }
  };
  const std::vector<LiveBatch*>& batches_;
  std::vector<At> index_;
};

// Which entries of each batch leave it, by batch and entry.
using DroppedEntries = std::vector<std::vector<bool>>;

DroppedEntries NoneDropped(const std::vector<LiveBatch*>& batches) {
  DroppedEntries dropped(batches.size());
  for (size_t k = 0; k < batches.size(); ++k)
    dropped[k].assign(batches[k]->entries().size(), false);
  return dropped;
}

// Attachments of every row.
void AttachFiles(const std::vector<LiveBatch*>& batches, const ModernTables& tables) {
  if (tables.attachments.empty()) return;
  for (LiveBatch* batch : batches)
    for (LiveBatch::Entry& entry : batch->entries())
      if (auto found = tables.attachments.find(entry.rowid); found != tables.attachments.end())
        ExtrasOf(entry.record).attachments = found->second;
}

// Edits, and replies with the text and date of what they answer.
void ApplyEditsAndReplies(const std::vector<LiveBatch*>& batches,
                          const std::vector<ModernFacts*>& facts, const PointedAtIndex& index) {
  for (uint32_t k = 0; k < facts.size(); ++k) {
    for (const ModernFacts::Row& row : facts[k]->rows()) {
      if (row.reaction) continue;
      MessageRecord& record = batches[k]->entries()[row.entry].record;
      if (row.edited || row.retracted || !row.summaryInfo.empty()) {
        MessageExtras& extras = ExtrasOf(record);
        extras.editedAt = row.edited;
        extras.retractedAt = row.retracted;
        extras.summaryInfo = row.summaryInfo;
      }
      if (!row.thread.empty()) {
        MessageExtras& extras = ExtrasOf(record);
        extras.isReply = true;
        if (const MessageRecord* original = index.Find(row.thread)) {
          extras.replyToText = original->text;
          extras.replyToDate = original->date;
        }
      }
    }
  }
}

// The reactions (rowid, batch, facts), in the order they were written.
using Reactions = std::vector<std::tuple<int64_t, uint32_t, const ModernFacts::Row*>>;

Reactions ReactionsInOrder(const std::vector<ModernFacts*>& facts) {
  Reactions reactions;
  for (uint32_t k = 0; k < facts.size(); ++k)
    for (const ModernFacts::Row& row : facts[k]->rows())
      if (row.reaction) reactions.emplace_back(row.rowid, k, &row);
  std::sort(reactions.begin(), reactions.end(),
            [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
  return reactions;
}

// Each reaction onto the message it points at, in order; a removal cancels
// the same sender's latest reaction of that kind. Every reaction leaves its
// batch, whether or not its message was found.
void ApplyReactions(const Reactions& reactions, const std::vector<LiveBatch*>& batches,
                    const PointedAtIndex& index, DroppedEntries& dropped) {
  for (const auto& [rowid, k, row] : reactions) {
    const MessageRecord& reactionRecord = batches[k]->entries()[row->entry].record;
    dropped[k][row->entry] = true;
    MessageRecord* target = index.Find(row->target);
    if (target == nullptr) continue;
    MessageExtras& extras = ExtrasOf(*target);
    const bool fromMe = reactionRecord.fromMe.value_or(false);
    if (row->reaction->removal) {
      for (auto it = extras.reactions.rbegin(); it != extras.reactions.rend(); ++it) {
        if (it->kind == row->reaction->kind && it->fromMe == fromMe && it->sender == row->sender) {
          extras.reactions.erase(std::next(it).base());
          break;
        }
      }
      continue;
    }
    extras.reactions.push_back({row->reaction->kind, fromMe, row->sender, reactionRecord.date});
  }
}

// Recently deleted rows leave the live lists for the deleted one, in rowid
// order.
void MoveRecentlyDeleted(const std::vector<LiveBatch*>& batches, const ModernTables& tables,
                         DroppedEntries& dropped, MessageList& recentlyDeleted) {
  if (tables.recoverable.empty()) return;
  std::vector<std::tuple<int64_t, uint32_t, uint32_t>> moved;
  for (uint32_t k = 0; k < batches.size(); ++k) {
    std::vector<LiveBatch::Entry>& entries = batches[k]->entries();
    for (uint32_t e = 0; e < entries.size(); ++e)
      if (!dropped[k][e] && tables.recoverable.count(entries[e].rowid) != 0)
        moved.emplace_back(entries[e].rowid, k, e);
  }
  std::sort(moved.begin(), moved.end());
  for (const auto& [rowid, k, e] : moved) {
    LiveBatch::Entry& entry = batches[k]->entries()[e];
    const ModernTables::Recoverable& r = tables.recoverable.at(rowid);
    MessageExtras& extras = ExtrasOf(entry.record);
    extras.deletedKind = DeletedKind::RecentlyDeleted;
    extras.deletedAt = r.deletedAt;
    if (auto chat = tables.chatAddresses.find(r.chatId); chat != tables.chatAddresses.end())
      extras.deletedFrom = chat->second;
    if (extras.deletedFrom.empty()) extras.deletedFrom = batches[k]->addresses()[entry.address];
    // The row still names its party, so it keeps its place in the conversation.
    entry.record.address = batches[k]->addresses()[entry.address];
    recentlyDeleted.push_back(std::move(entry.record));
    dropped[k][e] = true;
  }
}

// The batches without their dropped entries, the others in their order.
void RemoveDropped(const std::vector<LiveBatch*>& batches, const DroppedEntries& dropped) {
  for (size_t k = 0; k < batches.size(); ++k) {
    std::vector<LiveBatch::Entry>& entries = batches[k]->entries();
    size_t out = 0;
    for (size_t e = 0; e < entries.size(); ++e)
      if (!dropped[k][e]) {
        if (out != e) entries[out] = std::move(entries[e]);
        ++out;
      }
    entries.resize(out);
  }
}

}  // namespace

void ApplyModernFacts(std::vector<LiveBatch*> batches, std::vector<ModernFacts*> facts,
                      const ModernTables& tables, MessageList& recentlyDeleted) {
  const PointedAtIndex index(batches, facts);
  DroppedEntries dropped = NoneDropped(batches);
  AttachFiles(batches, tables);
  ApplyEditsAndReplies(batches, facts, index);
  ApplyReactions(ReactionsInOrder(facts), batches, index, dropped);
  MoveRecentlyDeleted(batches, tables, dropped, recentlyDeleted);
  RemoveDropped(batches, dropped);
}

}  // namespace vantrel
