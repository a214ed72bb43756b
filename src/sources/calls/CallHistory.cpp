#include "sources/calls/CallHistory.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "carve/PageWalk.h"
#include "carve/RowReader.h"
#include "sources/Loaders.h"
#include "sources/calls/CallScanner.h"
#include "sqlite/Schema.h"

namespace vantrel {

namespace {

constexpr char kCallTable[] = "call";
// A freeblock is scanned from this many bytes before it, so that the byte
// before its first possible anchor (the record's header-size byte) is seen.
constexpr size_t kFreeblockWidening = 32;
// On a page outside the table no record starts inside the 8-byte b-tree page
// header; its header-size byte comes first, so anchors start one further.
constexpr size_t kFirstAnchorOutside = kLeafHeaderSize + 1;

// base: where the page's first byte lies; each call's offset is added to it.
void AddHits(const std::vector<CallHit>& hits, size_t stretchStart, CallPlace place,
             uint32_t pageNo, const FoundAt& base, std::vector<CarvedCall>& carved) {
  for (const CallHit& hit : hits) {
    CarvedCall call;
    call.row = hit.row;
    call.place = place;
    call.pageNo = pageNo;
    call.offset = static_cast<uint32_t>(stretchStart + hit.anchor);
    call.cut = hit.cut;
    call.found = base;
    call.found.offset += call.offset;
    carved.push_back(std::move(call));
  }
}

// Carves one leaf page of `call` after its live pass: the unallocated front
// (from the end of the cell pointers up to the lowest live cell, or the page
// end when no cell is left) and each freeblock of the chain.
void CarveCallLeafPage(const SqliteFile& db, const LeafPage& page, const CallRecordShape& shape,
                       std::vector<CarvedCall>& carved) {
  const BTreePage& tree = page.tree;
  const ByteView bytes = tree.bytes.Sub(0, tree.usableSize);
  const uint32_t pageNo = static_cast<uint32_t>(page.pageNo);
  std::vector<CallHit> hits;

  const PageRange front = tree.GapBelowCells(page.liveOffsets);
  if (front.begin < front.end) {
    ScanCallRecords(bytes.Sub(0, front.end), front.begin + 1, shape, hits);
    AddHits(hits, 0, CallPlace::UnallocatedFront, pageNo,
            FoundOnPage(db, pageNo, 0, page.liveOffsets.empty() ? Place::LeafPage : Place::Gap),
            carved);
  }

  tree.ForEachFreeblock(kLeafHeaderSize, [&](Freeblock block) {
    const size_t start = block.offset >= kFreeblockWidening ? block.offset - kFreeblockWidening : 0;
    if (block.end > block.offset) {
      hits.clear();
      ScanCallRecords(bytes.Sub(start, block.end - start), block.offset - start, shape, hits);
      AddHits(
          hits, start, CallPlace::Freeblock, pageNo,
          FoundOnPage(db, pageNo, 0, page.liveOffsets.empty() ? Place::LeafPage : Place::Freeblock),
          carved);
    }
  });
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

TableRead GatherCallRows(const SqliteFile& db, RowList& live, std::vector<CarvedCall>& carved) {
  const TableInfo* table = FindTable(db, kCallTable);
  if (!table) return TableRead::Absent;
  const CallRecordShape shape = MakeCallRecordShape(table->columns);

  const CarveStep carveStep = [&](const SqliteFile&, const LeafPage& page,
                                  const std::vector<ColumnDef>&, RowList&,
                                  FoundList*) { CarveCallLeafPage(db, page, shape, carved); };
  RowList unused;
  for (const PageSet& pageSet : table->pageSets)
    ReadPageSetRows(db, pageSet, live, unused, table->columns, carveStep);

  std::vector<CallHit> hits;
  std::vector<uint16_t> offsets;
  std::vector<size_t> cellStarts;
  // A page scanned whole: base is where its first byte lies.
  const auto scanWhole = [&](ByteView block, uint32_t pageNo, CallPlace place,
                             const FoundAt& base) {
    hits.clear();
    // The live cells of a b-tree page (an interior page of the table, a page of another
    // table) are where a deleted record's tail may have been written over.
    cellStarts.clear();
    const BTreePage tree = ParsePage(block, 0, UsableSize(db));
    if (tree.IsInterior() || tree.Is(PageType::LeafTable) || tree.Is(PageType::LeafIndex)) {
      offsets.clear();
      tree.CellPointers(offsets);
      cellStarts.assign(offsets.begin(), offsets.end());
      std::sort(cellStarts.begin(), cellStarts.end());
    }
    ScanCallRecords(block, kFirstAnchorOutside, shape, hits, cellStarts);
    AddHits(hits, 0, place, pageNo, base, carved);
  };
  const PagePlaces places(db);
  WalkPagesOutsideTable(db, table, [&](ByteView block, uint32_t pageNo) {
    scanWhole(block, pageNo, CallPlace::OtherPage, places.At(pageNo, block, 0));
  });
  WalkFileImagesOfLoggedLeaves(db, *table, [&](ByteView block, uint32_t pageNo) {
    scanWhole(block, pageNo, CallPlace::OlderImage, places.At(pageNo, block, 0));
  });
  // The log's older frames, and the current image of any page that is no live leaf of the
  // table: a leaf freed in a committed transaction keeps its calls only there.
  WalkLogFramesOutsideLeaves(db, table, [&](ByteView block, const FoundAt& frame, bool) {
    scanWhole(block, frame.page, CallPlace::LogFrame, frame);
  });
  return table->pageSets.empty() ? TableRead::NoPages : TableRead::Read;
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
  // Each listed call: where it is in deletedMap, and how many values its copy had.
  std::map<CallKey, std::pair<size_t, size_t>> listed;
  for (const CarvedCall& call : carved) {
    const RowValues& row = call.row;
    if (row.size() < 2 || row[1].empty()) continue;
    CallRecord record = MakeCallRecord(row);
    CallKey key = KeyOf(row[1], record);
    if (liveKeys.count(key)) continue;
    std::vector<CallRecord>& calls = deletedMap[row[1]];
    auto [at, added] = listed.try_emplace(key, calls.size(), row.size());
    if (!added) {
      // A copy with more of the record shows where the call lies best.
      if (row.size() > at->second.second) {
        at->second.second = row.size();
        calls[at->second.first].found = call.found;
      }
      continue;
    }
    record.found = call.found;
    calls.push_back(std::move(record));
  }
}

LoaderStatus CallLoader(const SqliteFile& db, CallMap& live, CallMap& deleted) {
  RowList liveRows;
  std::vector<CarvedCall> carved;
  const TableRead result = GatherCallRows(db, liveRows, carved);
  if (result == TableRead::Absent) return LoaderStatus::TableAbsent;
  GroupCalls(liveRows, carved, live, deleted);
  return result == TableRead::NoPages ? LoaderStatus::NoPages : LoaderStatus::Loaded;
}

}  // namespace vantrel
