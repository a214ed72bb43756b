// Shared by the damaged-file tests: loading a file the way the product does
// (LoadBackup on one database file, its "-wal" beside it), the live records a
// load returns reduced to comparable keys, and where each live row of a
// fixture lies (its leaf page and that page's ancestors in the b-tree, from
// SQLite's dbstat), so a test can say which rows a given damage may take.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "load/BackupLoader.h"
#include "sqlite/BTree.h"

namespace vantrel::robust {

namespace fx = vantrel::fixtures;
namespace fs = std::filesystem;

// An observer that only counts, so a load runs exactly as in the app.
class QuietObserver : public LoadObserver {
 public:
  void BeginProgress() override {}
  void StepProgress() override { ++steps; }
  void EndProgress() override {}
  void ResetViews() override {}
  CategoryHandle AddCategory(RecordKind) override { return ++categories; }
  void AddCount(CategoryHandle, Category, int) override {}
  void ExpandCategory(CategoryHandle) override {}
  void ShowMessage(const LoadMessage& message) override { messages.push_back(message); }
  int steps = 0;
  int categories = 0;
  std::vector<LoadMessage> messages;
};

struct LoadOutcome {
  Collections data;
  double seconds = 0;
};

// LoadBackup on path (a backup folder or one database file), timed.
inline LoadOutcome LoadPath(const std::string& path) {
  QuietObserver observer;
  const auto start = std::chrono::steady_clock::now();
  LoadResult loaded = LoadBackup(path, observer);
  LoadOutcome out;
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.data = std::move(loaded.collections);
  return out;
}

// The kinds of database a fixture can be, with the table their loader keys on.
enum class Kind { Messages, Contacts, Calls };

inline const char* KeyTable(Kind kind) {
  return kind == Kind::Messages ? "message" : kind == Kind::Contacts ? "ABPerson" : "call";
}

// A live message is known by its date and the start of its text (the start is
// stored on the leaf page even when the rest overflows); a contact by its
// person rowid; a call by its number, date and duration.
inline std::string MessageKey(int64_t date, const std::string& text) {
  return std::to_string(static_cast<int32_t>(date)) + "|" + text.substr(0, 40);
}
inline std::string ContactKey(int64_t rowid) {
  return std::to_string(rowid);
}
inline std::string CallKey(const std::string& number, int64_t date, int64_t duration) {
  return number + "|" + std::to_string(static_cast<int32_t>(date)) + "|" +
         std::to_string(static_cast<int32_t>(duration));
}

// The keys of every live record a load returned for one kind.
inline std::set<std::string> LiveKeys(const Collections& data, Kind kind) {
  std::set<std::string> keys;
  if (kind == Kind::Messages) {
    for (const auto& [address, records] : data.liveMessages)
      for (const MessageRecord& m : records) keys.insert(MessageKey(m.date.value_or(0), m.text));
  } else if (kind == Kind::Contacts) {
    for (const auto& [rowid, contact] : data.contacts) keys.insert(ContactKey(rowid));
  } else {
    for (const auto& [number, records] : data.liveCalls)
      for (const CallRecord& c : records) keys.insert(CallKey(number, c.date, c.duration));
  }
  return keys;
}

// The same keys from a row of the key table as the reader renders it.
inline std::string RowKey(Kind kind, const RowValues& row) {
  auto at = [&](size_t i) { return i < row.size() ? row[i] : std::string(); };
  if (kind == Kind::Messages) return MessageKey(TextToInt(at(15)), at(2));
  if (kind == Kind::Contacts) return ContactKey(TextToInt(at(0)));
  return CallKey(at(1), TextToInt(at(2)), TextToInt(at(3)));
}

// The same keys as SQLite itself sees the live rows (with any log beside the file).
inline std::set<std::string> SqliteKeys(const std::string& path, Kind kind) {
  // A copy, so that SQLite's own log recovery and -shm file touch nothing of the original.
  fx::TempDir dir("vantrel-sqlite-view");
  const std::string copy = dir.File("view.db");
  fx::CopyDatabase(path, copy);
  fx::OpenOptions o;
  o.create = false;
  o.autoVacuum = "";
  fx::Database db(copy, o);
  std::set<std::string> keys;
  if (kind == Kind::Messages) {
    for (const fx::Row& r : db.Query("SELECT date, text FROM message"))
      keys.insert(MessageKey(r[0].AsInt(), r[1].AsText()));
  } else if (kind == Kind::Contacts) {
    for (const fx::Row& r : db.Query("SELECT ROWID FROM ABPerson"))
      keys.insert(ContactKey(r[0].AsInt()));
  } else {
    for (const fx::Row& r : db.Query("SELECT address, date, duration FROM call"))
      keys.insert(CallKey(r[0].AsText(), r[1].AsInt(), r[2].AsInt()));
  }
  return keys;
}

// Where the live rows of a fixture's key table lie.
struct Layout {
  uint32_t pageSize = 0;
  std::vector<uint32_t> leaves;                             // leaf pages of the key table
  std::vector<uint32_t> interiors;                          // its interior pages
  std::vector<uint32_t> overflows;                          // its overflow pages
  std::vector<uint32_t> schemaPages;                        // the schema b-tree's pages
  std::map<uint32_t, std::vector<uint32_t>> ancestors;      // leaf -> interior pages above it
  std::map<uint32_t, std::vector<std::string>> keysOnLeaf;  // leaf -> row keys, pointer order
  std::set<std::string> AllKeys() const {
    std::set<std::string> all;
    for (const auto& [leaf, keys] : keysOnLeaf) all.insert(keys.begin(), keys.end());
    return all;
  }
};

inline Layout ReadLayout(const std::string& path, Kind kind) {
  Layout layout;
  std::map<std::string, uint32_t> byPath;
  {
    fx::TempDir dir("vantrel-layout");
    const std::string copy = dir.File("layout.db");
    fs::copy_file(path, copy);  // the file alone: its own pages, never a log's
    fx::OpenOptions o;
    o.create = false;
    o.autoVacuum = "";
    fx::Database db(copy, o);
    layout.pageSize = static_cast<uint32_t>(db.QueryInt("PRAGMA page_size"));
    for (const fx::Row& r : db.Query("SELECT pageno FROM dbstat WHERE name IN "
                                     "('sqlite_schema', 'sqlite_master')"))
      layout.schemaPages.push_back(static_cast<uint32_t>(r[0].AsInt()));
    for (const fx::Row& r : db.Query("SELECT path, pageno, pagetype FROM dbstat WHERE name = ?",
                                     {fx::Value::Text(KeyTable(kind))})) {
      const uint32_t page = static_cast<uint32_t>(r[1].AsInt());
      const std::string type = r[2].AsText();
      if (type == "overflow") {
        layout.overflows.push_back(page);
        continue;
      }
      byPath[r[0].AsText()] = page;
      (type == "leaf" ? layout.leaves : layout.interiors).push_back(page);
    }
  }
  for (const auto& [treePath, page] : byPath) {
    std::vector<uint32_t> above;
    for (const auto& [otherPath, other] : byPath)
      if (otherPath.size() < treePath.size() &&
          treePath.compare(0, otherPath.size(), otherPath) == 0)
        above.push_back(other);
    layout.ancestors[page] = above;
  }
  // The rows of each leaf, read one page at a time by the product's reader.
  SqliteFile file;
  if (OpenDatabase("", file, path) == OpenStatus::NotOpened) return layout;
  const TableInfo* table = FindTable(file, KeyTable(kind));
  if (table == nullptr) return layout;
  for (uint32_t leaf : layout.leaves) {
    PageSet one;
    one.leafPages.push_back(static_cast<int32_t>(leaf));
    RowList live, carved;
    ReadPageSetRows(file, one, live, carved, table->columns, CarveStep());
    for (const RowValues& row : live) layout.keysOnLeaf[leaf].push_back(RowKey(kind, row));
  }
  return layout;
}

// One fixture of the damage tests: a small database of one kind, its bytes
// and where its rows lie.
struct Fixture {
  Kind kind;
  std::string name;  // "messages", "contacts" or "calls": the file is <name>.db
  std::string path;
  std::string bytes;
  Layout layout;
};

// Builds small iOS 7 databases with 1024-byte pages (so every key table has
// interior pages) in dir, each also as <name>-wal.db with a write-ahead log,
// and returns the three without a log. Seeds are seed, seed + 1 and seed + 2.
inline std::vector<Fixture> BuildDamageFixtures(const fx::TempDir& dir, uint64_t seed,
                                                int messageCount, int personCount) {
  for (bool wal : {false, true}) {
    const std::string tag = wal ? "-wal" : "";
    const fx::JournalMode journal = wal ? fx::JournalMode::Wal : fx::JournalMode::Rollback;
    fx::MessageOptions m;
    m.pageSize = 1024;
    m.seed = seed;
    m.journal = journal;
    m.computeSurvival = false;
    m.messageCount = messageCount;
    fx::BuildMessagesDb(dir.File("messages" + tag + ".db"), m);
    fx::ContactOptions c;
    c.pageSize = 1024;
    c.seed = seed + 1;
    c.journal = journal;
    c.computeSurvival = false;
    c.personCount = personCount;
    fx::BuildContactsDb(dir.File("contacts" + tag + ".db"), c);
    fx::CallOptions k;
    k.pageSize = 1024;
    k.seed = seed + 2;
    k.journal = journal;
    k.computeSurvival = false;
    fx::BuildCallsDb(dir.File("calls" + tag + ".db"), k);
  }
  std::vector<Fixture> fixtures;
  for (auto [kind, name] :
       {std::pair{Kind::Messages, "messages"}, std::pair{Kind::Contacts, "contacts"},
        std::pair{Kind::Calls, "calls"}}) {
    Fixture f{kind, name, dir.File(std::string(name) + ".db"), {}, {}};
    f.bytes = fx::ReadFileBytes(f.path);
    f.layout = ReadLayout(f.path, kind);
    fixtures.push_back(std::move(f));
  }
  return fixtures;
}

// Pages (from 1) whose bytes differ between two images of a file, or that one
// of them lacks or holds only in part.
inline std::set<uint32_t> ChangedPages(const std::string& a, const std::string& b,
                                       uint32_t pageSize) {
  std::set<uint32_t> changed;
  const size_t longest = std::max(a.size(), b.size());
  for (size_t at = 0; at < longest; at += pageSize) {
    const uint32_t page = static_cast<uint32_t>(at / pageSize + 1);
    if (at + pageSize > a.size() || at + pageSize > b.size() ||
        std::memcmp(a.data() + at, b.data() + at, pageSize) != 0)
      changed.insert(page);
  }
  return changed;
}

// The keys of the rows on leaves that are untouched and reached only through
// untouched pages (the schema's pages, which name the table, included).
inline std::set<std::string> KeysOnUndamagedPages(const Layout& layout,
                                                  const std::set<uint32_t>& damaged) {
  std::set<std::string> keys;
  if (damaged.count(1)) return keys;
  for (uint32_t page : layout.schemaPages)
    if (damaged.count(page)) return keys;
  for (const auto& [leaf, rows] : layout.keysOnLeaf) {
    bool intact = damaged.count(leaf) == 0;
    auto up = layout.ancestors.find(leaf);
    if (up != layout.ancestors.end())
      for (uint32_t page : up->second) intact = intact && damaged.count(page) == 0;
    if (intact) keys.insert(rows.begin(), rows.end());
  }
  return keys;
}

// Byte access on a file image (big-endian, as the file format stores integers).
inline uint16_t Get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(b[at]) << 8) |
                               static_cast<uint8_t>(b[at + 1]));
}
inline uint32_t Get32(const std::string& b, size_t at) {
  return (static_cast<uint32_t>(Get16(b, at)) << 16) | Get16(b, at + 2);
}
inline void Put16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v >> 8);
  b[at + 1] = static_cast<char>(v);
}
inline void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v >> 16));
  Put16(b, at + 2, static_cast<uint16_t>(v));
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Varint(uint64_t v) {
  if (v <= 0x7F) return std::string(1, static_cast<char>(v));
  std::string groups;
  while (v) {
    groups.insert(groups.begin(), static_cast<char>(v & 0x7F));
    v >>= 7;
  }
  for (size_t i = 0; i + 1 < groups.size(); ++i) groups[i] = static_cast<char>(groups[i] | 0x80);
  return groups;
}

// The image of the call database at path with its call table replaced by a
// tree of `leaves` leaves whose cells (every pointer of a leaf naming one cell)
// each claim a payload of 1 GiB continuing in one overflow chain through
// `chain` pages appended to the file. Read naively, that is leaves x cells x
// chain page reads. SQLite cannot make such a file, so its bytes are written here.
inline std::string CraftSharedOverflowChain(const std::string& path, uint32_t leaves,
                                            uint32_t chain) {
  uint32_t root = 0;
  size_t ps = 0;
  {
    fx::Database db(path);
    root =
        static_cast<uint32_t>(db.QueryInt("SELECT rootpage FROM sqlite_master WHERE name='call'"));
    ps = static_cast<size_t>(db.QueryInt("PRAGMA page_size"));
  }
  std::string b = fx::ReadFileBytes(path);
  const uint32_t pages = static_cast<uint32_t>(b.size() / ps);
  const uint32_t firstLeaf = pages + 1, firstChain = firstLeaf + leaves;
  const uint32_t total = firstChain + chain - 1;
  b.resize(static_cast<size_t>(total) * ps, '\0');

  const uint64_t payload = uint64_t{1} << 30;
  const uint64_t local = LocalPayloadSize(payload, static_cast<uint32_t>(ps));
  std::string cell = Varint(payload) + Varint(1) + std::string(local, '\0') + "xxxx";
  Put32(cell, cell.size() - 4, firstChain);
  const size_t cellAt = ps - cell.size();
  const uint16_t cells = static_cast<uint16_t>((cellAt - 8) / 2);
  for (uint32_t i = 0; i < leaves; ++i) {
    const size_t at = static_cast<size_t>(firstLeaf + i - 1) * ps;
    b[at] = 13;
    Put16(b, at + 3, cells);
    Put16(b, at + 5, static_cast<uint16_t>(cellAt));
    for (uint16_t c = 0; c < cells; ++c) Put16(b, at + 8 + 2 * c, static_cast<uint16_t>(cellAt));
    b.replace(at + cellAt, cell.size(), cell);
  }
  for (uint32_t j = 0; j < chain; ++j)
    Put32(b, static_cast<size_t>(firstChain + j - 1) * ps, j + 1 < chain ? firstChain + j + 1 : 0);
  // The root: an interior page naming every crafted leaf.
  const size_t at = static_cast<size_t>(root - 1) * ps;
  std::fill(b.begin() + at, b.begin() + at + ps, '\0');
  b[at] = 5;
  size_t content = ps;
  for (uint32_t i = 0; i + 1 < leaves; ++i) {
    std::string interior = "xxxx" + Varint(i + 1);
    Put32(interior, 0, firstLeaf + i);
    content -= interior.size();
    b.replace(at + content, interior.size(), interior);
    Put16(b, at + 12 + 2 * i, static_cast<uint16_t>(content));
  }
  Put16(b, at + 3, static_cast<uint16_t>(leaves - 1));
  Put16(b, at + 5, static_cast<uint16_t>(content));
  Put32(b, at + 8, firstLeaf + leaves - 1);
  Put32(b, 28, total);
  return b;
}

// How long a load of a 1 MB file may take. The sanitizers slow the reader
// down several times over, so their build gets a wider bound.
inline double LoadBoundSeconds() {
#if defined(__SANITIZE_ADDRESS__)
  return 4.0;
#else
  return 0.5;
#endif
}

}  // namespace vantrel::robust
