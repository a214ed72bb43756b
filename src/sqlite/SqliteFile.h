// One opened SQLite 3 database, read page by page with Vantrel's own reader:
// no database engine, no SQL, nothing ever written.
//
// The database file is an array of pages of pageSize bytes; page n (from 1)
// occupies bytes (n - 1) * pageSize .. n * pageSize - 1. Page 1 starts with the
// 100-byte database header (all integers big-endian):
//
//   offset size  field
//        0   16  "SQLite format 3\0"
//       16    2  page size: 512..32768, or 1 meaning 65536
//       18    1  write version (1 rollback journal, 2 WAL)
//       19    1  read version: 0, 1 or 2 accepted
//       20    1  reserved bytes at the end of each page; usable size U = page size - reserved
//       21    1  max embedded payload fraction, must be 64
//       22    1  min embedded payload fraction, must be 32
//       23    1  leaf payload fraction, must be 32
//       28    4  database size in pages (0 in some files: then worked out from the file size)
//       56    4  text encoding: 1 UTF-8, 2 UTF-16le, 3 UTF-16be (text is always read as UTF-8)
//
// When a write-ahead log is given, every page read is served from the log's
// newest committed image of that page (WalIndex.h), the schema included; only
// the 100-byte header is always read from the database file itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ReadOnlyFile.h"
#include "sqlite/Schema.h"
#include "sqlite/WalIndex.h"

namespace vantrel {

struct SqliteFile {
  ReadOnlyFile mainFile;
  ReadOnlyFile walFile;       // not open when no log was given or it could not be opened
  uint32_t pageSize = 0;      // from the last accepted header; 0 until then
  uint32_t usableSize = 0;    // pageSize minus the header's reserved bytes
  uint32_t pageCount = 0;     // pages in the database file (by size when the header says 0)
  uint32_t walPageCount = 0;  // database size in pages after the log's last valid commit; 0 = none
  WalIndex walIndex;          // page number -> log offset of its current image
  std::vector<SchemaTable> schemaTables;      // "table" rows of the schema, in schema order
  std::map<std::string, TableInfo> tableMap;  // the catalogue, exact case-sensitive names
  // Page bytes read through ReadPageNumber since the file was opened, and the
  // most that may be read (0 = no limit; OpenDatabase sets it from the file
  // sizes). Every walk is bounded on its own, but a crafted file can make many
  // walks cover the same pages again and again (thousands of cells naming one
  // long overflow chain, thousands of tables rooted in one big tree); past
  // the budget pages read as zeros, so such a file loads in a moment instead
  // of hours. A sound file reads its pages only a few times per load.
  mutable std::atomic<uint64_t> pageBytesRead{0};
  uint64_t pageReadBudget = 0;
  // Damage the reader passed over since the file was opened: cells refused
  // (bad pointer, varints or record header) and pages not read (unreadable,
  // past the last page, entered twice, past the read budget, not the page the
  // tree said). Atomic, since the message loader reads one file from two threads.
  mutable std::atomic<uint64_t> damagedCells{0};
  mutable std::atomic<uint64_t> damagedPages{0};
  // The file's name as the load knows it, for showing where a deleted record
  // was found: the path given to OpenDatabase, unless the opener knows a
  // better one (a backup names its files by domain and relative path).
  std::string name;
};

enum class OpenStatus : uint8_t {
  Opened,         // header accepted, catalogue read
  HeaderRefused,  // the file opened but its header was refused: the catalogue is empty
  NotOpened,      // no such file, or it could not be opened
};

// How a page read went. Whatever was not read is zeros.
enum class PageRead : uint8_t {
  Whole,       // every byte asked for was read
  Short,       // the file (or the log frame) ends first
  OverBudget,  // the file's read budget is spent
  NoPage,      // page 0, or no page size known
};

// The damage counts of a file, as a snapshot.
struct DamageCounts {
  uint64_t cells = 0;
  uint64_t pages = 0;
};
DamageCounts Damage(const SqliteFile& db);
// Counts one damaged cell or page skipped by the reader or a live pass.
void CountDamagedCell(const SqliteFile& db);
void CountDamagedPage(const SqliteFile& db);

// Opens dbPath (and walPath, when not empty) read-only, validates the header,
// builds the log index and reads the catalogue through it, and collects each
// table's leaf pages.
OpenStatus OpenDatabase(const std::string& walPath, SqliteFile& db, const std::string& dbPath);

// True when the first bytes of a file form an acceptable database header.
// header must hold at least 100 bytes.
bool ValidateHeader(const uint8_t* header, size_t size);

// Reads n bytes at file offset into dest: from the log's image of the page
// when the log index holds the page (whole-page reads), else from the
// database file. Whole when exactly n bytes were read; a short read leaves
// zeros after what was read.
PageRead ReadPage(const SqliteFile& db, size_t n, uint8_t* dest, uint64_t offset);

// Reads page pageNo (from 1) whole into page, resized to pageSize; a zeroed
// page once the file's read budget is spent.
PageRead ReadPageNumber(const SqliteFile& db, uint32_t pageNo, std::vector<uint8_t>& page);

// Empties walIndex, schemaTables and tableMap and zeroes the counts; handles
// and pageSize stay.
void ResetDatabase(SqliteFile& db);

// Reads the 100-byte header from the database file itself (never the log),
// validates it and sets pageSize, usableSize and pageCount. On a refused or
// short header pageSize, usableSize and pageCount become 0 and false is returned.
bool ReadDatabaseHeader(SqliteFile& db);

// The number of pages of the database file itself (the last may be short).
uint32_t PagesInDatabaseFile(const SqliteFile& db);

// The first trunk page of the freelist, from the database header (0 = none).
inline constexpr size_t kFirstFreelistTrunkOffset = 32;
// The fewest usable bytes a page may keep: the payload rules (BTree.h) break
// down below it, so ValidateHeader refuses a header that leaves less.
inline constexpr uint32_t kMinUsableSize = 480;

// The highest page number any walk may visit: the larger of the file's page
// count and the size the log's last commit gives. Page numbers above it (or 0)
// are damage, never followed.
uint32_t PageLimit(const SqliteFile& db);

}  // namespace vantrel
