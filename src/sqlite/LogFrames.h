// The one walk over the frames of a write-ahead log (its layout: WalIndex.h),
// each frame told what it is to the reader. The reader reads a page from its
// current image alone (the index BuildWalIndex makes); the carvers read the
// other frames too, each caller keeping the kinds it wants:
//
//   Current      this run's newest committed image of its page, the one the
//                reader reads as the page
//   Older        a committed image of this run that a later commit replaced:
//                it keeps its page as it was then, rows deleted since included
//   EarlierRun   a frame an earlier run of the log left past this run's newest
//                frames after a checkpoint restarted the log (its salt-1 lies
//                a little below the header's); taken for a committed image,
//                since that run's commits can no longer be told
//   AfterCommit  a frame of this run past its last valid commit: a
//                transaction that never committed, or rolled back after its
//                pages spilled
//   Unknown      names no page (page number 0), or its salts are of no run
//                (zeros: written for a transaction without salts): zeros or damage
#pragma once

#include <cstdint>
#include <functional>

#include "sqlite/ByteView.h"

namespace vantrel {

struct SqliteFile;

enum class FrameKind : uint8_t { Current, Older, EarlierRun, AfterCommit, Unknown };

// Current, Older and EarlierRun: images a commit made.
constexpr bool IsCommittedImage(FrameKind kind) {
  return kind == FrameKind::Current || kind == FrameKind::Older || kind == FrameKind::EarlierRun;
}

// One frame as the walk hands it over; image views the walk's own buffer,
// good until the visitor returns.
struct WalFrame {
  ByteView image;            // the page image, one whole page
  uint32_t pageNo = 0;       // as the frame header names it
  uint32_t number = 0;       // from 1, in log order
  uint64_t imageOffset = 0;  // where the image starts in the log
  FrameKind kind = FrameKind::Unknown;
};

// Hands every whole frame of db's log to visit, in log order. Nothing when no
// log is open, its header cannot be read or its page size is not the
// database's; the walk stops at a frame that cannot be read.
void ForEachLogFrame(const SqliteFile& db, const std::function<void(const WalFrame&)>& visit);

// The number (from 1) of the frame whose page image starts at imageOffset.
uint32_t LogFrameNumber(uint64_t imageOffset, uint32_t pageSize);

}  // namespace vantrel
