// The message loader: live messages filed under the address of their chat,
// deleted ones (carved by GUID, MessageCarver.h) in one list. The load runs in
// named steps: the filing tables; the live rows and the carving of the leaf
// pages; the scan of the whole file; the filing of what was found. The work
// is shared out over two processors on large files (Parallel.h); where each
// record goes is decided in MessageFiling.h.
#include <algorithm>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "carve/RowReader.h"
#include "platform/Parallel.h"
#include "sources/Loaders.h"
#include "sources/apple/AttributedBody.h"
#include "sources/messages/GuidSet.h"
#include "sources/messages/IndexTraces.h"
#include "sources/messages/MessageCarver.h"
#include "sources/messages/MessageExtras.h"
#include "sources/messages/MessageFiling.h"
#include "sqlite/BTree.h"

namespace vantrel {
namespace {

// The carved rows of chat, handle and the join table are of no use here.
void NoCarving(const SqliteFile&, const LeafPage&, const std::vector<ColumnDef>&, RowList&,
               FoundList*) {}

// The live rows of a two-column join table, as (first, second) integers by
// the named columns; nothing when the table or a column is absent.
template <typename Visit>
void VisitJoinRows(const SqliteFile& db, const char* table, const char* first, const char* second,
                   Visit visit) {
  const TableInfo* join = FindTable(db, table);
  if (join == nullptr) return;
  const size_t a = ColumnPosition(join->columns, first);
  const size_t b = ColumnPosition(join->columns, second);
  if (a == kNoColumn || b == kNoColumn) return;
  const std::vector<ValueRules> rules = ValueRulesOf(join->columns);
  LiveCell cell;
  for (const PageSet& set : join->pageSets) {
    VisitLeafPages(db, set, [&](const LeafPage& page) {
      VisitLiveCellValues(db, page, rules, cell, [&](const LiveCell& c) {
        if (!c.Has(a) || !c.Has(b)) return;
        visit(c.Integer(a), c.Integer(b));
      });
    });
  }
}

// The chat, handle and join tables, read first so that each message row is
// filed as it is read and no row of the big table is kept whole. Chat and
// handle rowids are separate sequences, so the handle key never finds a chat.
ChatIndex ReadChatIndex(const SqliteFile& db, RowList& chatRows, RowList& handleRows) {
  RowList unused;
  ReadTable(db, "chat", chatRows, unused, NoCarving);
  ReadTable(db, "handle", handleRows, unused, NoCarving);
  ChatIndex chats;
  if (const TableInfo* chat = FindTable(db, "chat"))
    chats.SetChats(chatRows, ChatColumns::Of(chat->columns));
  if (const TableInfo* handle = FindTable(db, "handle")) {
    const size_t address = ColumnPosition(handle->columns, "id");
    chats.SetHandles(handleRows, address == kNoColumn ? handle_column::kAddress : address);
  }
  VisitJoinRows(db, "chat_handle_join", "chat_id", "handle_id",
                [&](int64_t chatId, int64_t handleId) { chats.AddChatHandle(chatId, handleId); });
  size_t joinRows = 0;
  if (const TableInfo* join = FindTable(db, "chat_message_join"))
    for (const PageSet& set : join->pageSets) joinRows += set.leafPages.size() * 512;
  VisitJoinRows(
      db, "chat_message_join", "chat_id", "message_id",
      [&](int64_t chatId, int64_t messageId) { chats.AddJoin(messageId, chatId, joinRows); });
  return chats;
}

// One worker's share of the load: the live rows and page carving of a run of
// leaf pages, then the file scan of a run of pages. Shares are merged in
// order, so the result is the same as one pass over everything.
struct Share {
  PageSet leafPages;
  uint32_t scanFirst = 0;
  uint32_t scanEnd = 0;
  bool scanLog = false;

  LiveBatch live;
  ModernFacts modernFacts;  // reactions, replies, edits of the live rows (later versions)
  GuidSet::Gathered liveGuids;
  // With a log open: the live texts by GUID, to tell earlier versions in old frames.
  bool keepTexts = false;
  std::unordered_map<std::string, std::string> liveTexts;
  std::vector<CarvedEntry> pageCarved;  // from the leaf pages' free space, in page order
  std::vector<CarvedEntry> scanCarved;  // from the file scan, in page order, then the log

  // Step 1 and 2: the live rows of the share's leaf pages, and what their
  // free space still holds. Each row's values are taken from its cell as the
  // record asks for them: numbers as numbers, texts rendered once, and the
  // archived blobs (attributedBody, message_summary_info) as raw bytes, since
  // the rendered text of a blob stops at its first zero byte.
  //
  // Each leaf of the file whose free space was carved here, and of which the
  // file scan would find nothing more, is marked in carvedAlready (the shares'
  // leaves are different pages, so each writes its own bytes of it).
  void ReadLeaves(const SqliteFile& db, const TableInfo& table, const MessageColumns& columns,
                  const ModernColumns& modern, const ChatIndex& chats,
                  std::vector<uint8_t>& carvedAlready) {
    LiveCell cell;
    RowList carved;
    FoundList found;
    const bool anyModern = modern.Any();
    const std::vector<ValueRules> rules = ValueRulesOf(table.columns);
    const std::vector<DeclaredWord> kinds = MessageColumnKinds(table.columns);
    const RenderedColumns rendered = ColumnsKeepCarvedReads(columns, table.columns.size());
    bool sized = false;
    VisitLeafPages(db, leafPages, [&](const LeafPage& page) {
      if (!sized && !page.liveOffsets.empty()) {
        // The first page with rows stands for the others, with a quarter to
        // spare; a wrong guess costs only a regrowth. Capped, so that a
        // first page of tiny rows in front of a huge table cannot ask for
        // more address space than the system grants: rooms never filled are
        // never touched, so the cap costs no memory.
        constexpr size_t kMostReserved = size_t{4} << 20;
        const size_t perPage = page.liveOffsets.size() + page.liveOffsets.size() / 4 + 1;
        const size_t rows = std::min(kMostReserved, leafPages.leafPages.size() * perPage);
        live.Reserve(rows);
        liveGuids.Reserve(rows);
        sized = true;
      }
      VisitLiveCellValues(db, page, rules, cell, [&](const LiveCell& c) {
        const bool hasGuid = c.Has(columns.guid);
        if (hasGuid) {
          // A GUID stored as text in the usual form renders as its own bytes.
          const uint64_t type = c.SerialType(columns.guid);
          const bool text = type >= 13 && type % 2 == 1;
          if (!text || !liveGuids.AddIfUsual(c.Content(columns.guid).AsString()))
            liveGuids.Add(c.Text(columns.guid));
        }
        if (keepTexts && hasGuid && c.Has(columns.text) && !c.Empty(columns.text))
          liveTexts.emplace(c.Text(columns.guid), c.Text(columns.text));
        live.Add(c, chats, columns);
        const uint32_t entry = static_cast<uint32_t>(live.entries().size() - 1);
        MessageRecord& record = live.entries().back().record;
        if (record.text.empty() && c.Has(columns.attributedBody) &&
            !c.Empty(columns.attributedBody))
          FillBodyText(c, columns.attributedBody, record);
        if (anyModern &&
            modernFacts.Take(c, entry, live.entries().back().rowid, columns, modern, chats))
          FillSummary(c, modern.summaryInfo);
      });
      CarveMessagePageOfKinds(db, page, table.columns, kinds, carved, &found, &rendered);
      const auto pageNo = static_cast<uint32_t>(page.pageNo);
      if (pageNo < carvedAlready.size() && !db.walIndex.count(pageNo) &&
          ScanAddsNothingTo(page, db.usableSize))
        carvedAlready[pageNo] = 1;
      KeepCarved(carved, pageCarved, columns, &found);
      carved.clear();
      found.clear();
    });
  }

  // The words of a row that has only an attributedBody: the text its
  // archive holds, when the value is a blob.
  static void FillBodyText(const LiveCell& cell, size_t bodyColumn, MessageRecord& record) {
    const uint64_t type = cell.SerialType(bodyColumn);
    if (type < 12 || type % 2 != 0) return;  // no blob
    const ByteView body = cell.Content(bodyColumn);
    if (body.empty()) return;
    if (std::optional<std::string> text = TextOfAttributedBody(body))
      record.text = std::move(*text);
  }

  // The raw message_summary_info of a row that has one, when the cell holds it whole.
  void FillSummary(const LiveCell& cell, size_t column) {
    ModernFacts::Row* facts = modernFacts.RowOf(static_cast<int64_t>(cell.rowid()));
    if (facts != nullptr && cell.Whole(column))
      facts->summaryInfo = std::string(cell.Content(column).AsString());
  }

  // Step 3: the records the share's run of the file and (last share) the log
  // hold, passing over those skip names.
  void Scan(const SqliteFile& db, const TableInfo& table, const MessageColumns& columns,
            const GuidFilter& skip, const GuidFilter& skipInLog,
            const std::vector<bool>& liveLeaves, const std::vector<uint8_t>& carvedAlready) {
    const CarvedRowSink keep = [&](RowList& rows, FoundList& found) {
      KeepCarved(rows, scanCarved, columns, &found);
    };
    const RenderedColumns rendered = ColumnsKeepCarvedReads(columns, table.columns.size());
    ScanPagesForMessages(db, table.columns, scanFirst, scanEnd, skip, keep, &liveLeaves,
                         &carvedAlready, &rendered);
    if (scanLog) ScanLogForMessages(db, table.columns, skipInLog, keep, &rendered);
  }
};

// Threads for the shares: two for a file of any size, else the calling one.
size_t ShareThreads(const SqliteFile& db) {
  return PagesInDatabaseFile(db) >= 2048 && std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

// Shares per thread when there are several: each thread takes the next share
// left, so one that finished early takes more and none waits long for the
// other at the end (the halves of a table can differ by a third in work).
constexpr size_t kSharesPerThread = 4;

// The shares for so many threads: the leaf pages in runs, then the file's
// pages in runs. Small files (one thread) are read by one share.
std::vector<Share> PlanShares(const SqliteFile& db, const TableInfo& table, size_t threads) {
  PageSet allLeaves;
  // Leaves that lost every row hold no live cell but are carved like the others.
  for (const PageSet& set : table.pageSets) {
    allLeaves.leafPages.insert(allLeaves.leafPages.end(), set.leafPages.begin(),
                               set.leafPages.end());
    allLeaves.leafPages.insert(allLeaves.leafPages.end(), set.emptyLeafPages.begin(),
                               set.emptyLeafPages.end());
  }
  const uint32_t filePages = PagesInDatabaseFile(db);
  const size_t workers = threads > 1 ? threads * kSharesPerThread : 1;
  std::vector<Share> shares(workers);
  const size_t leaves = allLeaves.leafPages.size();
  // Each share smaller than the one before (weights workers, ..., 2, 1): the
  // last ones taken are short, so the thread that runs out of shares first
  // waits little for the other.
  const uint64_t total = uint64_t{workers} * (workers + 1) / 2;
  const auto before = [&](size_t k) {  // the weight of the shares before k, of total
    return uint64_t{k} * workers - uint64_t{k} * (k - 1) / 2;
  };
  const uint64_t span = filePages > 1 ? filePages - 1 : 0;  // pages 2 .. filePages
  for (size_t k = 0; k < workers; ++k) {
    Share& share = shares[k];
    share.leafPages.leafPages.assign(allLeaves.leafPages.begin() + leaves * before(k) / total,
                                     allLeaves.leafPages.begin() + leaves * before(k + 1) / total);
    share.scanFirst = static_cast<uint32_t>(2 + span * before(k) / total);
    share.scanEnd =
        k + 1 == workers ? UINT32_MAX : static_cast<uint32_t>(2 + span * before(k + 1) / total);
    share.scanLog = k + 1 == workers;
  }
  return shares;
}

// Every share's live GUIDs in one set, emptying the shares' lists.
GuidSet MergeLiveGuids(std::vector<Share>& shares) {
  size_t total = 0;
  for (const Share& share : shares) total += share.liveGuids.PackedCount();
  GuidSet all;
  // Made its final size once, rather than at each share's turn.
  all.Reserve(total);
  for (Share& share : shares) {
    all.InsertAll(share.liveGuids);
    share.liveGuids = {};
  }
  return all;
}

void FileLive(std::vector<Share>& shares, MessageMap& live) {
  std::vector<LiveBatch*> batches;
  for (Share& share : shares) batches.push_back(&share.live);
  FileLiveByRowid(std::move(batches), live);
  // What the records were moved out of is given back now, while the scan
  // still allocates, rather than when the shares go.
  for (Share& share : shares) share.live = LiveBatch();
  // A conversation whose every row was a reaction or recently deleted has
  // nothing to show.
  std::erase_if(live, [](const auto& item) { return item.second.empty(); });
}

// Reactions onto their messages, replies, edits, attachments; recently
// deleted rows out of the live batches.
void ApplyModern(std::vector<Share>& shares, const ModernTables& tables,
                 MessageList& recentlyDeleted) {
  std::vector<LiveBatch*> batches;
  std::vector<ModernFacts*> facts;
  for (Share& share : shares) {
    batches.push_back(&share.live);
    facts.push_back(&share.modernFacts);
  }
  ApplyModernFacts(std::move(batches), std::move(facts), tables, recentlyDeleted);
  for (Share& share : shares) share.modernFacts = ModernFacts();
}

}  // namespace

LoaderStatus MessageLoader(const SqliteFile& db, MessageMap& live, MessageList& deleted,
                           MessageTraceList* traces) {
  const TableInfo* table = FindTable(db, "message");
  if (table == nullptr) return LoaderStatus::TableAbsent;
  if (table->pageSets.empty()) return LoaderStatus::NoPages;

  RowList chatRows, handleRows;
  ChatIndex chats = ReadChatIndex(db, chatRows, handleRows);
  const MessageColumns columns = MessageColumns::Of(table->columns);
  const ModernColumns modern = ModernColumns::Of(table->columns);
  const size_t threads = ShareThreads(db);
  std::vector<Share> shares = PlanShares(db, *table, threads);
  for (Share& share : shares) share.keepTexts = db.walFile.IsOpen();

  // Pages 0 .. the file's last, by number.
  std::vector<uint8_t> carvedAlready(static_cast<size_t>(PagesInDatabaseFile(db)) + 1, 0);
  RunEachOn(threads, shares, [&](Share& share) {
    share.ReadLeaves(db, *table, columns, modern, chats, carvedAlready);
  });
  MessageList recentlyDeleted;
  if (modern.Any()) {
    const TableInfo* chat = FindTable(db, "chat");
    const ModernTables tables =
        ReadModernTables(db, chatRows, chat ? ChatColumns::Of(chat->columns) : ChatColumns{});
    ApplyModern(shares, tables, recentlyDeleted);
  }
  // Beside the merging of the live GUIDs, the filing of what the leaves'
  // free space holds and the scan, on threads of their own: the live rows
  // are filed (they touch different parts of the shares), and, once the live
  // GUIDs are known, the index's traces of live GUIDs are passed over; those
  // of GUIDs filed as deleted are dropped once everything is filed. Whether
  // an entry is known is asked of each GUID alone, so dropping them
  // afterwards leaves the same list, in the same order.
  const bool besides = threads > 1;
  Beside helper(besides, [&] { FileLive(shares, live); });
  // Every live GUID is known now; the scan passes over the records they name.
  GuidSet liveGuids = MergeLiveGuids(shares);
  MessageTraceList indexTraces;
  Beside tracing(besides && traces, [&] {
    if (traces) indexTraces = FindMessageTraces(db, liveGuids);
  });

  // Deleted messages: the most complete record of each GUID that is not live
  // and still has its text; the leaf pages' free space first, then the scan.
  // The first are filed now, so that the scan passes over the GUIDs they
  // already gave whole.
  std::unordered_map<std::string, std::string> liveTexts;
  for (Share& share : shares) {
    liveTexts.merge(share.liveTexts);
    share.liveTexts = {};
  }
  DeletedFiling deletedFiling(liveGuids, deleted);
  if (!liveTexts.empty()) deletedFiling.SetLiveTexts(&liveTexts);
  size_t pageCarved = 0;
  for (const Share& share : shares) pageCarved += share.pageCarved.size();
  deletedFiling.Reserve(pageCarved);
  for (Share& share : shares) {
    SetCarvedAddresses(chats, share.pageCarved);
    deletedFiling.File(share.pageCarved);
  }
  {
    const GuidFilter skip = [&](std::string_view guid) { return deletedFiling.PassesOver(guid); };
    const GuidFilter skipInLog = [&](std::string_view guid) {
      return deletedFiling.PassesOverInLog(guid);
    };
    const std::vector<bool> liveLeaves = LiveLeavesInFile(db);
    RunEachOn(threads, shares, [&](Share& share) {
      share.Scan(db, *table, columns, skip, skipInLog, liveLeaves, carvedAlready);
    });
  }
  size_t scanCarved = 0;
  for (const Share& share : shares) scanCarved += share.scanCarved.size();
  deletedFiling.Reserve(scanCarved);
  for (Share& share : shares) {
    SetCarvedAddresses(chats, share.scanCarved);
    deletedFiling.File(share.scanCarved);
  }
  // The recently deleted are whole rows, listed after what was carved.
  for (MessageRecord& record : recentlyDeleted) deleted.push_back(std::move(record));
  // Last, the GUIDs only the index keeps: every record that could be found is known now.
  helper.Join();
  tracing.Join();
  if (traces) {
    std::vector<std::string_view> guids;
    guids.reserve(indexTraces.size());
    for (const MessageTrace& trace : indexTraces) guids.push_back(trace.guid);
    std::vector<bool> filed;
    deletedFiling.WasFiledEach(guids, filed);
    size_t kept = 0;
    for (size_t k = 0; k < indexTraces.size(); ++k)
      if (!filed[k]) {
        if (kept != k) indexTraces[kept] = std::move(indexTraces[k]);
        ++kept;
      }
    indexTraces.resize(kept);
    *traces = std::move(indexTraces);
  }
  return LoaderStatus::Loaded;
}

}  // namespace vantrel
