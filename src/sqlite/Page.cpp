#include "sqlite/Page.h"

#include <algorithm>

#include "sqlite/SqliteFile.h"

namespace vantrel {

uint32_t UsableSize(const SqliteFile& db) {
  return db.usableSize != 0 ? db.usableSize : db.pageSize;
}

BTreePage ParsePage(ByteView bytes, uint32_t headerOffset, size_t usableSize) {
  BTreePage page;
  page.bytes = bytes;
  page.headerOffset = headerOffset;
  page.usableSize = static_cast<uint32_t>(std::min(usableSize, bytes.size()));
  const uint32_t h = headerOffset;
  page.typeByte = bytes[h];
  page.firstFreeblock = bytes.U16(h + 1);
  page.cellCount = bytes.U16(h + 3);
  const uint16_t content = bytes.U16(h + 5);
  page.contentStart = content == 0 ? 65536u : content;
  page.fragmentedBytes = bytes[h + 7];
  if (page.IsInterior()) page.rightChild = bytes.U32(h + 8);
  return page;
}

size_t BTreePage::CellPointers(std::vector<uint16_t>& offsets) const {
  const size_t arrayEnd = PointerArrayEnd();
  size_t listed = 0;
  for (size_t i = 0; i < cellCount; ++i) {
    const size_t at = PointerArrayStart() + 2 * i;
    if (at + 2 > bytes.size()) break;
    const uint16_t offset = bytes.U16(at);
    // A pointer into the header, into the pointer array or past the usable
    // part of the page cannot start a cell: skip it, keep the others.
    if (offset < arrayEnd || offset >= usableSize) continue;
    offsets.push_back(offset);
    ++listed;
  }
  return cellCount - listed;
}

PageRange BTreePage::GapBelowCells(const std::vector<uint16_t>& liveOffsets) const {
  size_t lowest = usableSize;
  for (uint16_t offset : liveOffsets) lowest = std::min<size_t>(lowest, offset);
  return {PointerArrayEnd(), lowest};
}

std::unordered_set<uint32_t> FreelistTrunkPages(const SqliteFile& db) {
  std::unordered_set<uint32_t> trunks;
  std::vector<uint8_t> page;
  if (ReadPageNumber(db, 1, page) != PageRead::Whole) return trunks;
  const uint32_t limit = PageLimit(db);
  uint32_t trunk = ByteView(page.data(), page.size()).U32(kFirstFreelistTrunkOffset);
  while (trunk >= 2 && trunk <= limit && trunks.insert(trunk).second) {
    if (ReadPageNumber(db, trunk, page) != PageRead::Whole) break;
    trunk = ByteView(page.data(), page.size()).U32(0);
  }
  return trunks;
}

std::unordered_set<uint32_t> FreelistPages(const SqliteFile& db) {
  std::unordered_set<uint32_t> pages;
  std::vector<uint8_t> page;
  if (ReadPageNumber(db, 1, page) != PageRead::Whole) return pages;
  const uint32_t limit = PageLimit(db);
  std::unordered_set<uint32_t> trunks;
  uint32_t trunk = ByteView(page.data(), page.size()).U32(kFirstFreelistTrunkOffset);
  while (trunk >= 2 && trunk <= limit && trunks.insert(trunk).second) {
    pages.insert(trunk);
    if (ReadPageNumber(db, trunk, page) != PageRead::Whole) break;
    const ByteView view(page.data(), page.size());
    const size_t room = page.size() > kTrunkFirstLeaf ? (page.size() - kTrunkFirstLeaf) / 4 : 0;
    const size_t leaves = std::min<size_t>(view.U32(kTrunkLeafCount), room);
    for (size_t k = 0; k < leaves; ++k) {
      const uint32_t leaf = view.U32(kTrunkFirstLeaf + 4 * k);
      if (leaf >= 2 && leaf <= limit) pages.insert(leaf);
    }
    trunk = view.U32(0);
  }
  return pages;
}

bool OverflowChain::Next(std::vector<uint8_t>& page) {
  if (next_ == 0) return false;
  const uint32_t pageNo = next_;
  next_ = 0;
  if (pageNo > PageLimit(db_) || !visited_.insert(pageNo).second ||
      ReadPageNumber(db_, pageNo, page) != PageRead::Whole) {
    broken_ = true;
    return false;
  }
  current_ = pageNo;
  next_ = ByteView(page.data(), page.size()).U32(0);
  return true;
}

uint64_t AppendOverflowPayload(const SqliteFile& db, uint32_t firstPage, uint64_t want,
                               std::vector<uint8_t>& out, bool* broken) {
  const uint32_t usable = UsableSize(db);
  const size_t perPage = usable > 4 ? usable - 4 : 0;
  OverflowChain chain(db, firstPage);
  std::vector<uint8_t> page;
  // The chain is followed only while it still owes payload.
  while (want > 0 && chain.Next(page)) {
    const ByteView data = ByteView(page.data(), page.size())
                              .Sub(4, static_cast<size_t>(std::min<uint64_t>(want, perPage)));
    out.insert(out.end(), data.data(), data.data() + data.size());
    want -= std::min<uint64_t>(want, perPage);
  }
  if (broken != nullptr) *broken = chain.Broken();
  return want;
}

void FreedOverflowChains::Append(uint32_t usable, uint32_t firstPage, uint64_t want,
                                 std::vector<uint8_t>& out, std::vector<Overwritten>& overwritten) {
  if (usable <= kTrunkFirstLeaf) return;
  if (!trunksRead_) {
    trunks_ = FreelistTrunkPages(db_);
    trunksRead_ = true;
  }
  OverflowChain chain(db_, firstPage);
  std::vector<uint8_t> page;
  while (want > 0 && chain.Upcoming() != 1 && chain.Next(page)) {
    const ByteView view(page.data(), page.size());
    const size_t take = static_cast<size_t>(std::min<uint64_t>(want, usable - 4));
    const ByteView data = view.Sub(4, take);
    const size_t at = out.size();
    out.insert(out.end(), data.data(), data.data() + data.size());
    want -= take;
    if (trunks_.count(chain.Current())) {
      const uint32_t leaves =
          std::min<uint32_t>(view.U32(kTrunkLeafCount), (usable - kTrunkFirstLeaf) / 4);
      overwritten.push_back({at, at + std::min<size_t>(take, 4 + 4 * static_cast<size_t>(leaves))});
      chain.Redirect(leaves > 0 ? view.U32(kTrunkFirstLeaf) : 0);
    }
  }
}

}  // namespace vantrel
