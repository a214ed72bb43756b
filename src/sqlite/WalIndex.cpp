#include "sqlite/WalIndex.h"

#include <utility>
#include <vector>

#include "sqlite/ByteView.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

namespace {

constexpr uint32_t kWalMagicLittle = 0x377F0682;  // checksums over little-endian words
constexpr uint32_t kWalMagicBig = 0x377F0683;     // checksums over big-endian words
constexpr uint32_t kWalVersion = 3007000;

struct Checksum {
  uint32_t s1 = 0;
  uint32_t s2 = 0;
};

uint32_t LittleEndian32(ByteView b, size_t i) {
  return static_cast<uint32_t>(b[i]) | (static_cast<uint32_t>(b[i + 1]) << 8) |
         (static_cast<uint32_t>(b[i + 2]) << 16) | (static_cast<uint32_t>(b[i + 3]) << 24);
}

// The log's running checksum: the data is taken as pairs of 32-bit words, in
// the byte order the magic's low bit chooses, and each pair is folded into the
// two sums. The length is always a multiple of 8 here.
void AddToChecksum(ByteView data, bool bigEndianWords, Checksum& sum) {
  for (size_t i = 0; i + 8 <= data.size(); i += 8) {
    const uint32_t x0 = bigEndianWords ? data.U32(i) : LittleEndian32(data, i);
    const uint32_t x1 = bigEndianWords ? data.U32(i + 4) : LittleEndian32(data, i + 4);
    sum.s1 += x0 + sum.s2;
    sum.s2 += x1 + sum.s1;
  }
}

}  // namespace

bool BuildWalIndex(SqliteFile& db) {
  db.walIndex.clear();
  db.walPageCount = 0;
  if (!db.walFile.IsOpen() || db.pageSize == 0) return true;

  uint8_t headerBytes[kWalHeaderSize] = {};
  if (!db.walFile.ReadExact(0, headerBytes, sizeof headerBytes)) return true;
  ByteView header(headerBytes, sizeof headerBytes);
  const uint32_t magic = header.U32(kWalMagicOffset);
  if (magic != kWalMagicLittle && magic != kWalMagicBig) return false;
  if (header.U32(kWalVersionOffset) != kWalVersion || header.U32(kWalPageSizeOffset) != db.pageSize)
    return false;
  const bool bigEndianWords = (magic & 1) != 0;

  // A header whose own checksum fails makes the whole log void, as it does
  // for SQLite: none of its frames were ever valid.
  Checksum sum;
  AddToChecksum(header.Sub(0, kWalChecksumOffset), bigEndianWords, sum);
  if (sum.s1 != header.U32(kWalChecksumOffset) || sum.s2 != header.U32(kWalChecksumOffset + 4))
    return true;
  const uint32_t salt1 = header.U32(kWalSalt1Offset);
  const uint32_t salt2 = header.U32(kWalSalt2Offset);

  const uint64_t logSize = db.walFile.Size();
  const uint64_t frameSize = kWalFrameHeaderSize + db.pageSize;
  std::vector<uint8_t> frameBytes(frameSize);
  // Frames since the last commit: they become visible only when a later
  // commit frame closes their transaction.
  std::vector<std::pair<uint32_t, uint64_t>> pending;
  for (uint64_t at = kWalHeaderSize; at + frameSize <= logSize; at += frameSize) {
    if (!db.walFile.ReadExact(at, frameBytes.data(), frameSize)) break;
    ByteView frame(frameBytes.data(), frameSize);
    const uint32_t pageNo = frame.U32(kFramePageOffset);
    const uint32_t commitSize = frame.U32(kFrameCommitSizeOffset);
    if (pageNo == 0 || frame.U32(kFrameSalt1Offset) != salt1 ||
        frame.U32(kFrameSalt2Offset) != salt2)
      break;
    Checksum next = sum;
    // The sums skip the salts and the checksum itself: the frame header's
    // first two fields, then the image.
    AddToChecksum(frame.Sub(0, kFrameSalt1Offset), bigEndianWords, next);
    AddToChecksum(frame.Sub(kWalFrameHeaderSize), bigEndianWords, next);
    if (next.s1 != frame.U32(kFrameChecksumOffset) ||
        next.s2 != frame.U32(kFrameChecksumOffset + 4))
      break;
    sum = next;
    pending.emplace_back(pageNo, at + kWalFrameHeaderSize);
    if (commitSize != 0) {
      // Later frames overwrite earlier ones: the newest committed image wins.
      for (const auto& [page, offset] : pending) db.walIndex[page] = offset;
      pending.clear();
      db.walPageCount = commitSize;
    }
  }
  return true;
}

}  // namespace vantrel
