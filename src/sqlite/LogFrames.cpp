#include "sqlite/LogFrames.h"

#include <algorithm>
#include <vector>

#include "sqlite/SqliteFile.h"
#include "sqlite/WalIndex.h"

namespace vantrel {

namespace {
// How many restarts back a frame's salt may lie and still be taken for a frame
// of an earlier run of the same log.
constexpr uint32_t kMostLogRuns = 1u << 16;
}  // namespace

void ForEachLogFrame(const SqliteFile& db, const std::function<void(const WalFrame&)>& visit) {
  if (!db.walFile.IsOpen() || db.pageSize == 0) return;
  uint8_t logHeader[kWalHeaderSize] = {};
  if (!db.walFile.ReadExact(0, logHeader, sizeof logHeader)) return;
  const ByteView header(logHeader, sizeof logHeader);
  if (header.U32(kWalPageSizeOffset) != db.pageSize) return;
  const uint32_t salt1 = header.U32(kWalSalt1Offset);
  const uint32_t salt2 = header.U32(kWalSalt2Offset);
  // The last commit's frame holds the newest current image: no frame of this
  // run after it was committed.
  uint64_t lastCommitted = 0;
  for (const auto& [page, offset] : db.walIndex) lastCommitted = std::max(lastCommitted, offset);

  const uint64_t frameSize = uint64_t{kWalFrameHeaderSize} + db.pageSize;
  const uint64_t logSize = db.walFile.Size();
  std::vector<uint8_t> bytes(frameSize);
  const ByteView frameBytes(bytes.data(), bytes.size());
  WalFrame frame;
  frame.image = frameBytes.Sub(kWalFrameHeaderSize);
  for (uint64_t at = kWalHeaderSize; at + frameSize <= logSize; at += frameSize) {
    ++frame.number;
    if (!db.walFile.ReadExact(at, bytes.data(), bytes.size())) break;
    frame.pageNo = frameBytes.U32(kFramePageOffset);
    frame.imageOffset = at + kWalFrameHeaderSize;
    // Each restart of the log adds one to salt-1 and draws a new salt-2: a
    // frame of an earlier run has a smaller salt-1 and a salt-2 of its own.
    const uint32_t frameSalt2 = frameBytes.U32(kFrameSalt2Offset);
    const uint32_t runsBefore = salt1 - frameBytes.U32(kFrameSalt1Offset);
    if (frame.pageNo == 0) {
      frame.kind = FrameKind::Unknown;
    } else if (runsBefore > 0 && runsBefore < kMostLogRuns && frameSalt2 != 0) {
      frame.kind = FrameKind::EarlierRun;
    } else if (runsBefore != 0 || frameSalt2 != salt2) {
      frame.kind = FrameKind::Unknown;
    } else if (frame.imageOffset > lastCommitted) {
      frame.kind = FrameKind::AfterCommit;
    } else {
      const auto current = db.walIndex.find(frame.pageNo);
      frame.kind = current != db.walIndex.end() && current->second == frame.imageOffset
                       ? FrameKind::Current
                       : FrameKind::Older;
    }
    visit(frame);
  }
}

uint32_t LogFrameNumber(uint64_t imageOffset, uint32_t pageSize) {
  return static_cast<uint32_t>(
      (imageOffset - kWalHeaderSize) / (uint64_t{kWalFrameHeaderSize} + pageSize) + 1);
}

}  // namespace vantrel
