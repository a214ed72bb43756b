#include "sqlite/SqliteFile.h"

#include <algorithm>
#include <cstring>

#include "sqlite/ByteView.h"

namespace vantrel {

namespace {

constexpr size_t kHeaderSize = 100;
constexpr char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                             'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

// The page size the header's 16-bit field names: 1 stands for 65536, every
// other value is taken as it is (the validator decides whether it is allowed).
uint32_t PageSizeFromField(uint16_t field) {
  return field == 1 ? 65536u : field;
}

}  // namespace

uint32_t PagesInDatabaseFile(const SqliteFile& db) {
  if (db.pageSize == 0 || !db.mainFile.IsOpen()) return 0;
  const uint64_t size = db.mainFile.Size();
  const uint64_t pages = (size + db.pageSize - 1) / db.pageSize;
  return pages > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(pages);
}

bool ValidateHeader(const uint8_t* header, size_t size) {
  if (header == nullptr || size < kHeaderSize) return false;
  ByteView h(header, size);
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return false;
  if (h[21] != 64 || h[22] != 32 || h[23] != 32) return false;
  if (h[19] > 2) return false;
  const uint32_t pageSize = PageSizeFromField(h.U16(16));
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) return false;
  if (pageSize - h[20] < kMinUsableSize) return false;
  const uint32_t encoding = h.U32(56);
  return encoding >= 1 && encoding <= 3;
}

bool ReadDatabaseHeader(SqliteFile& db) {
  uint8_t header[512] = {};
  const size_t got = db.mainFile.IsOpen() ? db.mainFile.ReadAt(0, header, sizeof header) : 0;
  if (got < kHeaderSize || !ValidateHeader(header, got)) {
    db.pageSize = 0;
    db.usableSize = 0;
    db.pageCount = 0;
    return false;
  }
  ByteView h(header, got);
  db.pageSize = PageSizeFromField(h.U16(16));
  db.usableSize = db.pageSize - h[20];
  // The size field is only trusted when the change counter it was written
  // with (offset 92) matches the current one (offset 24); older writers and
  // some real files leave it 0, and then the file's length says it.
  const uint32_t declared = h.U32(28);
  const bool declaredValid = declared != 0 && h.U32(92) == h.U32(24);
  db.pageCount = declaredValid ? declared : PagesInDatabaseFile(db);
  return true;
}

uint32_t PageLimit(const SqliteFile& db) {
  return std::max({db.pageCount, PagesInDatabaseFile(db), db.walPageCount});
}

PageRead ReadPage(const SqliteFile& db, size_t n, uint8_t* dest, uint64_t offset) {
  if (dest == nullptr) return PageRead::NoPage;
  // Only what was not read is zeroed: clearing every page before reading it
  // cost as much as the read.
  const auto shortAfter = [&](size_t done) {
    std::memset(dest + done, 0, n - done);
    return PageRead::Short;
  };
  if (db.pageSize == 0 || db.walIndex.empty() || !db.walFile.IsOpen()) {
    if (!db.mainFile.IsOpen()) return shortAfter(0);
    const size_t got = db.mainFile.ReadAt(offset, dest, n);
    return got == n ? PageRead::Whole : shortAfter(got);
  }
  // Page by page, so that a read spanning pages takes each page from where
  // its current image lives.
  size_t done = 0;
  while (done < n) {
    const uint64_t at = offset + done;
    const uint64_t pageNo = at / db.pageSize + 1;
    const uint64_t within = at % db.pageSize;
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n - done, db.pageSize - within));
    size_t got = 0;
    auto hit =
        pageNo <= UINT32_MAX ? db.walIndex.find(static_cast<uint32_t>(pageNo)) : db.walIndex.end();
    if (hit != db.walIndex.end()) {
      got = db.walFile.ReadAt(hit->second + within, dest + done, chunk);
    } else if (db.mainFile.IsOpen()) {
      got = db.mainFile.ReadAt(at, dest + done, chunk);
    }
    done += got;
    if (got < chunk) return shortAfter(done);
  }
  return PageRead::Whole;
}

PageRead ReadPageNumber(const SqliteFile& db, uint32_t pageNo, std::vector<uint8_t>& page) {
  if (pageNo == 0 || db.pageSize == 0) {
    page.assign(db.pageSize, 0);
    return PageRead::NoPage;
  }
  // ReadPage writes or zeroes every byte, so a buffer of the right size is
  // not cleared first.
  page.resize(db.pageSize);
  // The message loader reads pages of one file from two threads at once.
  const uint64_t spent = db.pageBytesRead.fetch_add(db.pageSize, std::memory_order_relaxed);
  if (db.pageReadBudget != 0 && spent >= db.pageReadBudget) {
    std::fill(page.begin(), page.end(), uint8_t{0});
    return PageRead::OverBudget;
  }
  return ReadPage(db, db.pageSize, page.data(), static_cast<uint64_t>(pageNo - 1) * db.pageSize);
}

void ResetDatabase(SqliteFile& db) {
  db.walIndex.clear();
  db.walPageCount = 0;
  db.schemaTables.clear();
  db.tableMap.clear();
  db.pageBytesRead.store(0, std::memory_order_relaxed);
  db.damagedCells.store(0, std::memory_order_relaxed);
  db.damagedPages.store(0, std::memory_order_relaxed);
}

DamageCounts Damage(const SqliteFile& db) {
  return {db.damagedCells.load(std::memory_order_relaxed),
          db.damagedPages.load(std::memory_order_relaxed)};
}

void CountDamagedCell(const SqliteFile& db) {
  db.damagedCells.fetch_add(1, std::memory_order_relaxed);
}

void CountDamagedPage(const SqliteFile& db) {
  db.damagedPages.fetch_add(1, std::memory_order_relaxed);
}

OpenStatus OpenDatabase(const std::string& walPath, SqliteFile& db, const std::string& dbPath) {
  if (dbPath.empty()) return OpenStatus::NotOpened;
  if (!db.mainFile.Open(dbPath)) return OpenStatus::NotOpened;
  db.name = dbPath;
  db.walFile.Close();
  if (!walPath.empty()) db.walFile.Open(walPath);
  ResetDatabase(db);
  // Room to read every page of the database and its log 16 times over, and
  // never less than 4 MiB: far more than any load of a sound file needs.
  constexpr uint64_t kBudgetFloor = uint64_t{4} << 20;
  db.pageReadBudget = 16 * (db.mainFile.Size() + db.walFile.Size()) + kBudgetFloor;
  // The header always comes from the database file; everything after it is
  // read through the log, the schema included, so tables created since the
  // last checkpoint are found and no stale schema row is believed.
  if (!ReadDatabaseHeader(db)) return OpenStatus::HeaderRefused;
  BuildWalIndex(db);
  LoadSchema(db);
  BuildTableMap(db);
  return OpenStatus::Opened;
}

}  // namespace vantrel
