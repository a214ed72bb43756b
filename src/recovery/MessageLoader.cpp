// The message loader: live messages filed under the address of their chat,
// deleted ones (carved by GUID, MessageCarver.h) in one list. The load runs in
// named steps: the filing tables; the live rows and the carving of the leaf
// pages; the scan of the whole file; the filing of what was found. The work
// is shared out over two processors on large files (Parallel.h); where each
// record goes is decided in MessageFiling.h.
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "recovery/GuidSet.h"
#include "recovery/Loaders.h"
#include "recovery/MessageCarver.h"
#include "recovery/MessageFiling.h"
#include "recovery/Parallel.h"
#include "recovery/RowReader.h"

namespace vantrel {
namespace {

namespace mc = message_column;

// The carved rows of chat, handle and the join table are of no use here.
void NoCarving(const SqliteFile&, const LeafPage&, const std::vector<ColumnDef>&, RowList&) {}

// The chat, handle and join tables, read first so that each message row is
// filed as it is read and no row of the big table is kept whole. Chat and
// handle rowids are separate sequences, so the handle key never finds a chat.
ChatIndex ReadChatIndex(const SqliteFile& db, RowList& chatRows, RowList& handleRows) {
  RowList unused;
  ReadTable(db, "chat", chatRows, unused, NoCarving);
  ReadTable(db, "handle", handleRows, unused, NoCarving);
  ChatIndex chats;
  chats.SetChats(chatRows);
  chats.SetHandles(handleRows);
  const TableInfo* join = FindTable(db, "chat_message_join");
  if (join == nullptr) return chats;
  const std::vector<bool> wanted = {join_column::kChatId == 0 || join_column::kMessageId == 0,
                                    join_column::kChatId == 1 || join_column::kMessageId == 1};
  size_t joinRows = 0;
  for (const PageSet& set : join->pageSets) joinRows += set.leafPages.size() * 512;
  RowValues row;
  for (const PageSet& set : join->pageSets) {
    VisitLeafPages(db, set, [&](const LeafPage& page) {
      VisitLiveCells(db, page, join->columns, wanted, row, [&](const RowValues& r, uint64_t) {
        if (r.size() <= join_column::kMessageId) return;
        chats.AddJoin(TextToInt(r[join_column::kMessageId]), TextToInt(r[join_column::kChatId]),
                      joinRows);
      });
    });
  }
  return chats;
}

// Only the columns a record or its filing reads are rendered.
std::vector<bool> WantedColumns() {
  std::vector<bool> wanted;
  for (size_t k : {mc::kRowid, mc::kGuid, mc::kText, mc::kHandleId, mc::kService, mc::kDate,
                   mc::kDateRead, mc::kIsSent}) {
    if (wanted.size() <= k) wanted.resize(k + 1, false);
    wanted[k] = true;
  }
  return wanted;
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
  GuidSet liveGuids;
  std::vector<CarvedEntry> pageCarved;  // from the leaf pages' free space, in page order
  std::vector<CarvedEntry> scanCarved;  // from the file scan, in page order, then the log

  // Step 1 and 2: the live rows of the share's leaf pages, and what their
  // free space still holds.
  void ReadLeaves(const SqliteFile& db, const TableInfo& table, const std::vector<bool>& wanted,
                  const ChatIndex& chats) {
    RowValues row;
    RowList carved;
    VisitLeafPages(db, leafPages, [&](const LeafPage& page) {
      VisitLiveCells(db, page, table.columns, wanted, row, [&](const RowValues& r, uint64_t) {
        if (r.size() > mc::kGuid) liveGuids.InsertSoon(r[mc::kGuid]);
        live.Add(r, chats);
      });
      CarveMessagePage(db, page, table.columns, carved);
      KeepCarved(carved, pageCarved);
      carved.clear();
    });
    liveGuids.Flush();
  }

  // Step 3: the records the share's run of the file and (last share) the log
  // hold, passing over those skip names.
  void Scan(const SqliteFile& db, const TableInfo& table, const GuidFilter& skip) {
    const CarvedRowSink keep = [&](RowList& rows) { KeepCarved(rows, scanCarved); };
    ScanPagesForMessages(db, table.columns, scanFirst, scanEnd, skip, keep);
    if (scanLog) ScanLogForMessages(db, table.columns, skip, keep);
  }
};

// The shares: the leaf pages in runs, then the file's pages in runs. Small
// files are read by one share on the calling thread.
std::vector<Share> PlanShares(const SqliteFile& db, const TableInfo& table) {
  PageSet allLeaves;
  for (const PageSet& set : table.pageSets)
    allLeaves.leafPages.insert(allLeaves.leafPages.end(), set.leafPages.begin(),
                               set.leafPages.end());
  const uint32_t filePages = PagesInDatabaseFile(db);
  const size_t workers = filePages >= 2048 && std::thread::hardware_concurrency() > 1 ? 2 : 1;
  std::vector<Share> shares(workers);
  const size_t leaves = allLeaves.leafPages.size();
  for (size_t k = 0; k < workers; ++k) {
    Share& share = shares[k];
    share.liveGuids = GuidSet(k + 1);
    share.leafPages.leafPages.assign(allLeaves.leafPages.begin() + leaves * k / workers,
                                     allLeaves.leafPages.begin() + leaves * (k + 1) / workers);
    const uint64_t span = filePages > 1 ? filePages - 1 : 0;  // pages 2 .. filePages
    share.scanFirst = static_cast<uint32_t>(2 + span * k / workers);
    share.scanEnd =
        k + 1 == workers ? UINT32_MAX : static_cast<uint32_t>(2 + span * (k + 1) / workers);
    share.scanLog = k + 1 == workers;
  }
  return shares;
}

// Every share's live GUIDs in one set, emptying the shares' own.
GuidSet MergeLiveGuids(std::vector<Share>& shares) {
  GuidSet all = std::move(shares.front().liveGuids);
  for (size_t k = 1; k < shares.size(); ++k) {
    all.InsertAll(shares[k].liveGuids);
    shares[k].liveGuids = GuidSet();
  }
  return all;
}

void FileLive(std::vector<Share>& shares, MessageMap& live) {
  std::vector<LiveBatch*> batches;
  for (Share& share : shares) batches.push_back(&share.live);
  FileLiveByRowid(std::move(batches), live);
}

}  // namespace

LoaderStatus MessageLoader(const SqliteFile& db, MessageMap& live, MessageList& deleted) {
  const TableInfo* table = FindTable(db, "message");
  if (table == nullptr) return LoaderStatus::TableAbsent;
  if (table->pageSets.empty()) return LoaderStatus::NoPages;

  RowList chatRows, handleRows;
  const ChatIndex chats = ReadChatIndex(db, chatRows, handleRows);
  const std::vector<bool> wanted = WantedColumns();
  std::vector<Share> shares = PlanShares(db, *table);

  RunEach(shares, [&](Share& share) { share.ReadLeaves(db, *table, wanted, chats); });
  // Every live GUID is known now; the scan passes over the records they name.
  const GuidSet liveGuids = MergeLiveGuids(shares);

  // Deleted messages: the first record of each GUID that is not live and
  // still has its text; the leaf pages' free space first, then the scan. The
  // first are filed now, so that the scan passes over what they already gave.
  DeletedFiling deletedFiling(liveGuids, deleted);
  for (Share& share : shares) deletedFiling.File(share.pageCarved);
  {
    // The live rows are filed while the scan runs: the two touch different
    // parts of the shares.
    const Beside filer(shares.size() > 1, [&] { FileLive(shares, live); });
    const GuidFilter skip = [&](std::string_view guid) { return deletedFiling.PassesOver(guid); };
    RunEach(shares, [&](Share& share) { share.Scan(db, *table, skip); });
  }
  for (Share& share : shares) deletedFiling.File(share.scanCarved);
  return LoaderStatus::Loaded;
}

}  // namespace vantrel
