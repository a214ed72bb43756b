#include "recovery/CallHistory.h"

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <unordered_set>

#include "recovery/CallScanner.h"
#include "recovery/Loaders.h"
#include "recovery/PageWalk.h"
#include "recovery/RowReader.h"
#include "sqlite/Schema.h"

namespace vantrel {

namespace {

constexpr char kCallTable[] = "call";
// A table leaf page starts with an 8-byte header, then the cell pointers.
constexpr size_t kLeafHeaderSize = 8;
constexpr size_t kCellCountOffset = 3;
// A freeblock is scanned from this many bytes before it, so that the byte
// before its first possible anchor (the record's header-size byte) is seen.
constexpr size_t kFreeblockWidening = 32;
// On a page outside the table no record starts inside the 8-byte b-tree page
// header; its header-size byte comes first, so anchors start one further.
constexpr size_t kFirstAnchorOutside = kLeafHeaderSize + 1;

void AddHits(const std::vector<CallHit>& hits, size_t stretchStart, CallPlace place,
             uint32_t pageNo, std::vector<CarvedCall>& carved) {
  for (const CallHit& hit : hits) {
    CarvedCall call;
    call.row = hit.row;
    call.place = place;
    call.pageNo = pageNo;
    call.offset = static_cast<uint32_t>(stretchStart + hit.anchor);
    carved.push_back(std::move(call));
  }
}

// Carves one leaf page of `call` after its live pass: the unallocated front
// (from the end of the cell pointers up to the lowest live cell, or the page
// end when no cell is left) and each freeblock of the chain.
void CarveCallLeafPage(const LeafPage& page, uint32_t usableSize, const CallRecordShape& shape,
                       std::vector<CarvedCall>& carved) {
  const ByteView bytes = page.bytes.Sub(0, usableSize);
  const size_t n = bytes.size();
  const uint32_t pageNo = static_cast<uint32_t>(page.pageNo);
  std::vector<CallHit> hits;

  size_t frontEnd = n;
  for (uint16_t offset : page.liveOffsets)
    if (offset >= kLeafHeaderSize && offset < frontEnd) frontEnd = offset;
  const size_t cellCount = std::max<size_t>(bytes.U16(kCellCountOffset), page.liveOffsets.size());
  const size_t frontStart = kLeafHeaderSize + 2 * cellCount;
  if (frontStart < frontEnd) {
    ScanCallRecords(bytes.Sub(0, frontEnd), frontStart + 1, shape, hits);
    AddHits(hits, 0, CallPlace::UnallocatedFront, pageNo, carved);
  }

  // The chain is followed while it stays inside the page and does not revisit
  // a block; a page holds at most n / 4 freeblocks.
  std::unordered_set<size_t> visited;
  size_t block = page.firstFreeblock;
  while (block >= kLeafHeaderSize && block + 4 <= n && visited.insert(block).second) {
    const size_t next = bytes.U16(block);
    const size_t end = std::min(n, block + bytes.U16(block + 2));
    const size_t start = block >= kFreeblockWidening ? block - kFreeblockWidening : 0;
    if (end > block) {
      hits.clear();
      ScanCallRecords(bytes.Sub(start, end - start), block - start, shape, hits);
      AddHits(hits, start, CallPlace::Freeblock, pageNo, carved);
    }
    block = next;
  }
}

int32_t FieldInt(const RowValues& row, size_t i) {
  return i < row.size() ? static_cast<int32_t>(TextToInt(row[i])) : 0;
}

CallRecord MakeCallRecord(const RowValues& row) {
  CallRecord record;
  record.date = FieldInt(row, 2);
  record.duration = FieldInt(row, 3);
  record.flags = FieldInt(row, 4);
  return record;
}

using CallKey = std::tuple<std::string, int32_t, int32_t, int32_t>;

CallKey KeyOf(const std::string& number, const CallRecord& record) {
  return {number, record.date, record.duration, record.flags};
}

}  // namespace

int GatherCallRows(const SqliteFile& db, RowList& live, std::vector<CarvedCall>& carved) {
  const TableInfo* table = FindTable(db, kCallTable);
  if (!table) return -2;
  const CallRecordShape shape = MakeCallRecordShape(table->columns);
  const uint32_t usableSize = db.usableSize ? db.usableSize : db.pageSize;

  const CarveStep carveStep = [&](const SqliteFile&, const LeafPage& page,
                                  const std::vector<ColumnDef>&,
                                  RowList&) { CarveCallLeafPage(page, usableSize, shape, carved); };
  RowList unused;
  for (const PageSet& pageSet : table->pageSets)
    ReadPageSetRows(db, pageSet, live, unused, table->columns, carveStep);

  std::vector<CallHit> hits;
  WalkPagesOutsideTable(db, table, [&](ByteView block, uint32_t pageNo) {
    hits.clear();
    ScanCallRecords(block, kFirstAnchorOutside, shape, hits);
    AddHits(hits, 0, CallPlace::OtherPage, pageNo, carved);
  });
  return table->pageSets.empty() ? -1 : 0;
}

void GroupCalls(const RowList& live, const std::vector<CarvedCall>& carved, CallMap& liveMap,
                CallMap& deletedMap) {
  std::set<CallKey> liveKeys;
  for (const RowValues& row : live) {
    if (row.size() < 2 || row[1].empty()) continue;
    CallRecord record = MakeCallRecord(row);
    liveKeys.insert(KeyOf(row[1], record));
    liveMap[row[1]].push_back(record);
  }
  std::set<CallKey> seen;
  for (const CarvedCall& call : carved) {
    const RowValues& row = call.row;
    if (row.size() < 2 || row[1].empty()) continue;
    CallRecord record = MakeCallRecord(row);
    CallKey key = KeyOf(row[1], record);
    if (liveKeys.count(key) || !seen.insert(key).second) continue;
    deletedMap[row[1]].push_back(record);
  }
}

int CallLoader(const SqliteFile& db, CallMap& live, CallMap& deleted) {
  RowList liveRows;
  std::vector<CarvedCall> carved;
  const int result = GatherCallRows(db, liveRows, carved);
  if (result == -2) return result;
  GroupCalls(liveRows, carved, live, deleted);
  return result;
}

}  // namespace vantrel
