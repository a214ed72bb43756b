// The write-ahead log overlay. A log ("<db>-wal") starts with a 32-byte header
// followed by frames of a 24-byte frame header and one page image:
//
//   log header                        frame header
//   0  4 magic 0x377F0682/0x377F0683  0  4 page number
//   4  4 format version (3007000)     4  4 database size in pages after a commit, else 0
//   8  4 page size                    8  4 salt-1 (must equal the header's)
//  12  4 checkpoint sequence         12  4 salt-2 (must equal the header's)
//  16  4 salt-1                      16  8 cumulative checksum
//  20  4 salt-2                      24    page image
//  24  8 header checksum
//
// Like SQLite itself, a page is read from the LAST frame that holds it among
// the frames up to the last valid commit frame; a frame is valid while salts
// match and the cumulative checksum verifies from the log's start. The first
// invalid frame ends the log; frames after the last commit are ignored.
//
// Checksum: two 32-bit sums s1, s2 run over the data as pairs of 32-bit words
// (x0, x1): s1 += x0 + s2; s2 += x1 + s1. The words are big-endian when the
// magic's low bit is set (0x377F0683), little-endian otherwise. The header's
// sums cover its first 24 bytes from (0, 0); each frame's continue from the
// previous frame's (the header's for the first) over the frame header's first
// 8 bytes and then the page image. A log whose header checksum fails is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace vantrel {

struct SqliteFile;

// Sizes of the log header and of each frame header, and where each field of
// them stands (the table above).
inline constexpr size_t kWalHeaderSize = 32;
inline constexpr size_t kWalFrameHeaderSize = 24;
inline constexpr size_t kWalMagicOffset = 0;
inline constexpr size_t kWalVersionOffset = 4;
inline constexpr size_t kWalPageSizeOffset = 8;
inline constexpr size_t kWalSalt1Offset = 16;
inline constexpr size_t kWalSalt2Offset = 20;
inline constexpr size_t kWalChecksumOffset = 24;  // s1, then s2 at 28
inline constexpr size_t kFramePageOffset = 0;
inline constexpr size_t kFrameCommitSizeOffset = 4;
inline constexpr size_t kFrameSalt1Offset = 8;
inline constexpr size_t kFrameSalt2Offset = 12;
inline constexpr size_t kFrameChecksumOffset = 16;  // s1, then s2 at 20

// Page number -> offset in the log of the first byte of that page's image.
using WalIndex = std::map<uint32_t, uint64_t>;

// Scans db.walFile into db.walIndex. True when there is no log or it was
// scanned; false (index empty) when its magic or page size does not match.
bool BuildWalIndex(SqliteFile& db);

}  // namespace vantrel
