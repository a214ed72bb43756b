// The message loader: live messages filed under the address of their chat,
// deleted ones (carved by GUID, MessageCarver.h) in one list.
#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "recovery/Loaders.h"
#include "recovery/MessageCarver.h"
#include "recovery/RowReader.h"

namespace vantrel {
namespace {

// Column positions, the same in the iOS 6 and iOS 7 tables.
namespace message {
constexpr size_t kRowid = 0;
constexpr size_t kGuid = 1;
constexpr size_t kText = 2;
constexpr size_t kHandleId = 5;
constexpr size_t kService = 11;
constexpr size_t kDate = 15;
constexpr size_t kDateRead = 16;
constexpr size_t kIsSent = 28;
}  // namespace message
namespace chat {
constexpr size_t kChatIdentifier = 6;
constexpr size_t kAccountLogin = 9;
}  // namespace chat
constexpr size_t kHandleAddress = 1;
constexpr size_t kJoinChatId = 0;
constexpr size_t kJoinMessageId = 1;

// The carved rows of chat, handle and the join table are of no use here.
void NoCarving(const SqliteFile&, const LeafPage&, const std::vector<ColumnDef>&, RowList&) {}

// Rows by the integer of one of their values; on a repeated key the first stays.
std::map<int64_t, const RowValues*> IndexRows(const RowList& rows, size_t keyPosition) {
  std::map<int64_t, const RowValues*> index;
  for (const RowValues& row : rows) {
    if (row.size() <= keyPosition) continue;
    index.emplace(TextToInt(row[keyPosition]), &row);
  }
  return index;
}

const std::string* ValueAt(const RowValues* row, size_t position) {
  return row && position < row->size() ? &(*row)[position] : nullptr;
}

// The fields every message row carries, live or carved.
MessageRecord RecordFromRow(const RowValues& row) {
  MessageRecord record;
  for (size_t k = 0; k < row.size(); ++k) {
    const std::string& value = row[k];
    if (k == message::kText) {
      record.text = value;
    } else if (k == message::kService) {
      record.service = value;
    } else if (k == message::kDate) {
      record.date = static_cast<int32_t>(TextToInt(value));
    } else if (k == message::kDateRead) {
      record.readDate = static_cast<int32_t>(TextToInt(value));
    } else if (k == message::kIsSent) {
      record.sent = static_cast<uint8_t>(TextToInt(value) & 0xFF);
      break;
    }
  }
  return record;
}

// Addresses are shown without the mainland country code; anything too short
// to be a number or an account is filed under "0".
std::string NormaliseAddress(std::string address) {
  if (address.size() < 4) return "0";
  if (address.compare(0, 3, "+86") == 0) address.erase(0, 3);
  return address;
}

// A set of GUID texts, looked up by the bytes of a record without making a
// string. A GUID in its usual form (36 characters, upper-case hex digits and
// dashes at 8, 13, 18 and 23) is kept as its 128 bits in an open-addressed
// table: one allocation for the whole set, a probe or two per look-up. Any
// other text is kept as it is.
class GuidSet {
 public:
  // Sets that will be merged get different seeds: one table's slot order is
  // then no order at all for the other's hash, and merging does not cluster.
  explicit GuidSet(uint64_t seed = 0) : seed_(seed * 0x9E3779B97F4A7C15ull) {}

  bool Insert(std::string_view guid) {
    uint64_t hi = 0, lo = 0;
    if (!Pack(guid, hi, lo)) return others_.emplace(guid).second;
    if (hi == 0 && lo == 0) {
      const bool added = !hasZero_;
      hasZero_ = true;
      return added;
    }
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    return Place(hi, lo);
  }
  // Insert for a caller that needs no answer, a few calls late: the key's slot
  // is fetched into the cache now and the key placed after later calls, so
  // the wait for memory overlaps other work. Flush() places what is pending;
  // nothing else sees a pending key.
  void InsertSoon(std::string_view guid) {
    uint64_t hi = 0, lo = 0;
    if (!Pack(guid, hi, lo) || (hi == 0 && lo == 0)) {
      Insert(guid);
      return;
    }
    if (pendingCount_ == kPending) PlaceOldestPending();
    if ((used_ + pendingCount_ + 1) * 2 > slots_.size()) Grow();
    __builtin_prefetch(&slots_[Hash(hi, lo) & (slots_.size() - 1)], 1);
    pending_[(pendingNext_ + pendingCount_) % kPending] = {hi, lo};
    ++pendingCount_;
  }
  void Flush() {
    while (pendingCount_ > 0) PlaceOldestPending();
  }
  void InsertAll(const GuidSet& other) {
    while ((used_ + other.used_) * 2 > slots_.size()) Grow();
    for (const Slot& slot : other.slots_)
      if (slot.hi != 0 || slot.lo != 0) Place(slot.hi, slot.lo);
    hasZero_ = hasZero_ || other.hasZero_;
    others_.insert(other.others_.begin(), other.others_.end());
  }
  bool Contains(std::string_view guid) const {
    uint64_t hi = 0, lo = 0;
    if (!Pack(guid, hi, lo)) return others_.count(std::string(guid)) != 0;
    if (hi == 0 && lo == 0) return hasZero_;
    if (slots_.empty()) return false;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(hi, lo) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hi == hi && slot.lo == lo) return true;
      if (slot.hi == 0 && slot.lo == 0) return false;
    }
  }

 private:
  struct Slot {
    uint64_t hi = 0;
    uint64_t lo = 0;
  };

  static int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  static bool Pack(std::string_view guid, uint64_t& hi, uint64_t& lo) {
    if (guid.size() != 36) return false;
    int nibbles = 0;
    for (size_t i = 0; i < 36; ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        if (guid[i] != '-') return false;
        continue;
      }
      const int v = Nibble(guid[i]);
      if (v < 0) return false;
      uint64_t& half = nibbles < 16 ? hi : lo;
      half = (half << 4) | static_cast<uint64_t>(v);
      ++nibbles;
    }
    return true;
  }
  size_t Hash(uint64_t hi, uint64_t lo) const {
    uint64_t h = (hi ^ seed_ ^ (lo * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
    return static_cast<size_t>(h ^ (h >> 31));
  }
  bool Place(uint64_t hi, uint64_t lo) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(hi, lo) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.hi == hi && slot.lo == lo) return false;
      if (slot.hi == 0 && slot.lo == 0) {
        slot = {hi, lo};
        ++used_;
        return true;
      }
    }
  }
  void PlaceOldestPending() {
    const Slot key = pending_[pendingNext_];
    pendingNext_ = (pendingNext_ + 1) % kPending;
    --pendingCount_;
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    Place(key.hi, key.lo);
  }
  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
    used_ = 0;
    for (const Slot& slot : old)
      if (slot.hi != 0 || slot.lo != 0) Place(slot.hi, slot.lo);
  }

  static constexpr size_t kPending = 8;
  uint64_t seed_ = 0;
  std::array<Slot, kPending> pending_{};  // keys of InsertSoon not yet placed, oldest first
  size_t pendingNext_ = 0;
  size_t pendingCount_ = 0;
  std::vector<Slot> slots_;  // a power of two in size, at most half full
  size_t used_ = 0;
  bool hasZero_ = false;  // the all-zero GUID, whose bits mark an empty slot
  std::unordered_set<std::string> others_;
};

// A live message on its way to its conversation: filed by rowid once all are read.
struct LiveEntry {
  int64_t rowid = 0;
  uint32_t address = 0;  // index into the addresses of the share that read it
  MessageRecord record;
};

// A carved message with its text, filed once every live GUID is known.
struct CarvedEntry {
  std::string guid;
  MessageRecord record;
};

// Appends the carved rows that can be filed (a text is needed: a record
// without one is never filed and never marks its GUID).
void KeepCarved(RowList& rows, std::vector<CarvedEntry>& out) {
  for (RowValues& row : rows) {
    if (row.size() <= message::kText) continue;
    MessageRecord record = RecordFromRow(row);
    if (record.text.empty()) continue;
    out.push_back({std::move(row[message::kGuid]), std::move(record)});
  }
}

// The small tables that say where a live message is filed.
struct Filing {
  std::map<int64_t, const RowValues*> chatByKey;
  std::map<int64_t, const RowValues*> handleByKey;

  // A message's chat row by the first join row naming the message (nullptr
  // when that row's chat is missing). Message rowids are dense on a device,
  // so they index a flat table; anything else goes to a hash map.
  // byRowid holds 0 for no join row, else 1 + an index into chats.
  std::vector<uint32_t> byRowid;  // index: message rowid
  std::vector<const RowValues*> chats;
  std::unordered_map<int64_t, uint32_t> chatIndex;  // chat_id -> index into chats
  std::unordered_map<int64_t, const RowValues*> byOtherRowid;

  void AddJoin(int64_t messageId, int64_t chatId, size_t joinRows) {
    const size_t dense = 4 * joinRows + 4096;
    if (messageId >= 0 && static_cast<uint64_t>(messageId) < dense) {
      const size_t at = static_cast<size_t>(messageId);
      if (byRowid.size() <= at) byRowid.resize(std::max(at + 1, byRowid.size() * 2), 0);
      if (byRowid[at] != 0) return;
      auto known = chatIndex.find(chatId);
      if (known == chatIndex.end()) {
        auto found = chatByKey.find(chatId);
        chats.push_back(found == chatByKey.end() ? nullptr : found->second);
        known = chatIndex.emplace(chatId, static_cast<uint32_t>(chats.size() - 1)).first;
      }
      byRowid[at] = known->second + 1;
    } else {
      auto found = chatByKey.find(chatId);
      byOtherRowid.emplace(messageId, found == chatByKey.end() ? nullptr : found->second);
    }
  }
  // The chat row of a message rowid, or nullptr.
  const RowValues* ChatOf(int64_t messageId) const {
    if (messageId >= 0 && static_cast<uint64_t>(messageId) < byRowid.size() &&
        byRowid[static_cast<size_t>(messageId)] != 0)
      return chats[byRowid[static_cast<size_t>(messageId)] - 1];
    auto found = byOtherRowid.find(messageId);
    return found == byOtherRowid.end() ? nullptr : found->second;
  }
};

// One worker's share of the load: the live rows and page carving of a run of
// leaf pages, then the file scan of a run of pages. Shares are merged in
// order, so the result is the same as one pass over everything.
struct Share {
  PageSet leafPages;
  uint32_t scanFirst = 0;
  uint32_t scanEnd = 0;
  bool scanLog = false;

  std::vector<LiveEntry> entries;
  std::vector<std::string> addresses;
  std::unordered_map<std::string, uint32_t> addressIndex;
  std::unordered_map<const RowValues*, uint32_t> addressOfChat;
  GuidSet liveGuids;
  std::vector<CarvedEntry> pageCarved;  // from the leaf pages' free space, in page order
  std::vector<CarvedEntry> scanCarved;  // from the file scan, in page order, then the log

  void AddLive(const RowValues& row, const Filing& filing) {
    if (row.size() > message::kGuid) liveGuids.InsertSoon(row[message::kGuid]);
    LiveEntry entry;
    entry.rowid = row.empty() ? 0 : TextToInt(row[message::kRowid]);
    entry.record = RecordFromRow(row);

    const RowValues* chatRow =
        row.size() > message::kRowid ? filing.ChatOf(TextToInt(row[message::kRowid])) : nullptr;
    if (const std::string* account = ValueAt(chatRow, chat::kAccountLogin))
      entry.record.account = *account;
    // A chat identifier of five or more characters is the address whatever
    // the handle: worked out once per chat.
    const std::string* identifier = ValueAt(chatRow, chat::kChatIdentifier);
    const bool byChat = identifier != nullptr && identifier->size() >= 5;
    if (byChat) {
      auto known = addressOfChat.find(chatRow);
      if (known != addressOfChat.end()) {
        entry.address = known->second;
        entries.push_back(std::move(entry));
        return;
      }
    }
    std::string address;
    if (identifier != nullptr) address = *identifier;
    if (address.size() < 5 && row.size() > message::kHandleId) {
      auto found = filing.handleByKey.find(TextToInt(row[message::kHandleId]));
      if (found != filing.handleByKey.end() && found->second->size() > kHandleAddress)
        address = (*found->second)[kHandleAddress];
    }
    address = NormaliseAddress(std::move(address));
    auto at = addressIndex.find(address);
    if (at == addressIndex.end()) {
      at = addressIndex.emplace(address, static_cast<uint32_t>(addresses.size())).first;
      addresses.push_back(std::move(address));
    }
    entry.address = at->second;
    if (byChat) addressOfChat.emplace(chatRow, entry.address);
    entries.push_back(std::move(entry));
  }

  void ReadLeaves(const SqliteFile& db, const TableInfo& table, const std::vector<bool>& wanted,
                  const Filing& filing) {
    RowValues row;
    RowList carved;
    VisitLeafPages(db, leafPages, [&](const LeafPage& page) {
      VisitLiveCells(db, page, table.columns, wanted, row,
                     [&](const RowValues& r, uint64_t) { AddLive(r, filing); });
      CarveMessagePage(db, page, table.columns, carved);
      KeepCarved(carved, pageCarved);
      carved.clear();
    });
    liveGuids.Flush();
  }

  void Scan(const SqliteFile& db, const TableInfo& table, const GuidFilter& skip) {
    const CarvedRowSink keep = [&](RowList& rows) { KeepCarved(rows, scanCarved); };
    ScanPagesForMessages(db, table.columns, scanFirst, scanEnd, skip, keep);
    if (scanLog) ScanLogForMessages(db, table.columns, skip, keep);
  }
};

// Runs work(share) for every share: the first shares on threads of their
// own, the last on the calling thread.
template <typename Work>
void RunShares(std::vector<Share>& shares, const Work& work) {
  std::vector<std::thread> threads;
  for (size_t k = 0; k + 1 < shares.size(); ++k) threads.emplace_back(work, std::ref(shares[k]));
  if (!shares.empty()) work(shares.back());
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

LoaderStatus MessageLoader(const SqliteFile& db, MessageMap& live, MessageList& deleted) {
  const TableInfo* table = FindTable(db, "message");
  if (table == nullptr) return LoaderStatus::TableAbsent;
  if (table->pageSets.empty()) return LoaderStatus::NoPages;

  // The small tables first, so that each message row is filed as it is read
  // and no row of the big table is kept whole.
  RowList chatRows, handleRows, unused;
  ReadTable(db, "chat", chatRows, unused, NoCarving);
  ReadTable(db, "handle", handleRows, unused, NoCarving);
  Filing filing;
  filing.chatByKey = IndexRows(chatRows, 0);
  filing.handleByKey = IndexRows(handleRows, 0);
  // A message's chat: the join row naming it; on a repeated message the first
  // join row stays. Chat and handle rowids are separate sequences, so the
  // handle key never finds a chat.
  if (const TableInfo* join = FindTable(db, "chat_message_join")) {
    const std::vector<bool> wanted = {kJoinChatId == 0 || kJoinMessageId == 0,
                                      kJoinChatId == 1 || kJoinMessageId == 1};
    size_t joinRows = 0;
    for (const PageSet& set : join->pageSets) joinRows += set.leafPages.size() * 512;
    RowValues row;
    for (const PageSet& set : join->pageSets) {
      VisitLeafPages(db, set, [&](const LeafPage& page) {
        VisitLiveCells(db, page, join->columns, wanted, row, [&](const RowValues& r, uint64_t) {
          if (r.size() <= kJoinMessageId) return;
          filing.AddJoin(TextToInt(r[kJoinMessageId]), TextToInt(r[kJoinChatId]), joinRows);
        });
      });
    }
  }

  // Only the columns a record or its filing reads are rendered.
  std::vector<bool> wanted;
  for (size_t k : {message::kRowid, message::kGuid, message::kText, message::kHandleId,
                   message::kService, message::kDate, message::kDateRead, message::kIsSent}) {
    if (wanted.size() <= k) wanted.resize(k + 1, false);
    wanted[k] = true;
  }

  // The work is shared out over the processors: the leaf pages in runs, then
  // the file's pages in runs. Small files are read on the calling thread.
  PageSet allLeaves;
  for (const PageSet& set : table->pageSets)
    allLeaves.leafPages.insert(allLeaves.leafPages.end(), set.leafPages.begin(),
                               set.leafPages.end());
  const uint32_t filePages = PagesInDatabaseFile(db);
  const size_t workers = filePages >= 2048 && std::thread::hardware_concurrency() > 1 ? 2 : 1;
  std::vector<Share> shares(workers);
  for (size_t k = 0; k < workers; ++k) shares[k].liveGuids = GuidSet(k + 1);
  const size_t leaves = allLeaves.leafPages.size();
  for (size_t k = 0; k < workers; ++k) {
    Share& share = shares[k];
    share.leafPages.leafPages.assign(allLeaves.leafPages.begin() + leaves * k / workers,
                                     allLeaves.leafPages.begin() + leaves * (k + 1) / workers);
    const uint64_t span = filePages > 1 ? filePages - 1 : 0;  // pages 2 .. filePages
    share.scanFirst = static_cast<uint32_t>(2 + span * k / workers);
    share.scanEnd =
        k + 1 == workers ? UINT32_MAX : static_cast<uint32_t>(2 + span * (k + 1) / workers);
    share.scanLog = k + 1 == workers;
  }
  allLeaves = {};

  RunShares(shares, [&](Share& share) { share.ReadLeaves(db, *table, wanted, filing); });
  // Every live GUID is known now; the scan passes over the records they name.
  GuidSet& liveGuids = shares.front().liveGuids;
  for (size_t k = 1; k < shares.size(); ++k) {
    liveGuids.InsertAll(shares[k].liveGuids);
    shares[k].liveGuids = GuidSet();
  }
  auto isLive = [&liveGuids](std::string_view guid) { return liveGuids.Contains(guid); };

  // Deleted messages: the first record of each GUID that is not live and
  // still has its text; the leaf pages' free space first, then the scan. The
  // first are filed now, so that the scan passes over what they already gave.
  GuidSet filedGuids;
  auto file = [&](std::vector<CarvedEntry>& list) {
    for (CarvedEntry& entry : list) {
      if (isLive(entry.guid)) continue;
      if (!filedGuids.Insert(entry.guid)) continue;
      deleted.push_back(std::move(entry.record));
    }
    list = {};
  };
  for (Share& share : shares) file(share.pageCarved);
  const GuidFilter skip = [&](std::string_view guid) {
    return isLive(guid) || filedGuids.Contains(guid);
  };
  // The live rows are filed while the scan runs: the two touch different
  // parts of the shares.
  auto fileLive = [&] {
    // Leaf pages come in b-tree walk order, which puts the right-most subtree
    // first; a conversation reads in the order it was written, so live rows are
    // filed by rowid (rows of equal rowid in the order read).
    std::vector<std::pair<int64_t, uint32_t>> order;   // (rowid, position in reading order)
    std::vector<std::pair<uint32_t, uint32_t>> where;  // (share, entry) of each position
    for (uint32_t k = 0; k < shares.size(); ++k) {
      for (uint32_t e = 0; e < shares[k].entries.size(); ++e) {
        order.emplace_back(shares[k].entries[e].rowid, static_cast<uint32_t>(where.size()));
        where.emplace_back(k, e);
      }
    }
    std::sort(order.begin(), order.end());
    // Each conversation's list is made its final size first, so filing never
    // moves records from a full list to a bigger one.
    std::vector<std::vector<std::vector<MessageRecord>*>> lists(shares.size());
    std::map<std::vector<MessageRecord>*, size_t> needed;
    for (size_t k = 0; k < shares.size(); ++k) {
      lists[k].assign(shares[k].addresses.size(), nullptr);
      for (size_t a = 0; a < lists[k].size(); ++a) lists[k][a] = &live[shares[k].addresses[a]];
      std::vector<size_t> counts(lists[k].size(), 0);
      for (const LiveEntry& entry : shares[k].entries) ++counts[entry.address];
      for (size_t a = 0; a < counts.size(); ++a) needed[lists[k][a]] += counts[a];
    }
    for (const auto& [list, count] : needed) list->reserve(list->size() + count);
    for (const auto& [rowid, position] : order) {
      const auto [k, e] = where[position];
      LiveEntry& entry = shares[k].entries[e];
      lists[k][entry.address]->push_back(std::move(entry.record));
    }
  };
  std::thread filer;
  if (shares.size() > 1) {
    filer = std::thread(fileLive);
  } else {
    fileLive();
  }
  RunShares(shares, [&](Share& share) { share.Scan(db, *table, skip); });
  if (filer.joinable()) filer.join();
  for (Share& share : shares) file(share.scanCarved);
  return LoaderStatus::Loaded;
}

}  // namespace vantrel
