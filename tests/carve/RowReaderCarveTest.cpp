// Carving against rows SQLite really deleted (secure_delete off, no auto-vacuum), on generic
// tables and on the iOS 6/7 fixtures: every deleted row whose bytes are still on one of the
// table's leaf pages comes back (whole, or cut where newer bytes overwrote it), and carving
// invents no rows. The recall per fixture is printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "carve/RowReader.h"
#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::JournalMode;
using fixtures::TempDir;
using fixtures::Value;

// A deleted row: the values it must show at some columns, and a text unique to it that tells
// whether its bytes are still on a leaf page; when the row's tail may have been written over,
// the bytes of its last values too.
struct Wanted {
  std::map<size_t, std::string> values;
  std::string needle;
  std::string tail = {};
};

struct Recall {
  size_t deleted = 0, whole = 0, cut = 0, onLeaves = 0, foundOnLeaves = 0, invented = 0;
};

// Whole: every wanted value equal. Cut: all but the last equal, the last (a text) missing or
// beginning as the carved one does up to where that turns into replacement characters.
bool Matches(const RowValues& row, const std::map<size_t, std::string>& values, bool cut) {
  size_t seen = 0;
  for (const auto& [column, value] : values) {
    const bool last = ++seen == values.size();
    if (!cut || !last) {
      if (column >= row.size() || row[column] != value) return false;
    } else if (column < row.size()) {
      if (value.rfind(row[column].substr(0, row[column].find("\xEF\xBF\xBD")), 0) != 0)
        return false;
    } else if (column == 0 || column - 1 >= row.size()) {
      return false;
    }
  }
  return true;
}

Recall Measure(const std::string& name, const SqliteFile& file, const std::string& table,
               const std::vector<Wanted>& wanted, size_t key = 1) {
  RowList live, carved;
  EXPECT_EQ(ReadTable(file, table, live, carved), TableRead::Read);
  Recall r;
  std::vector<bool> used(carved.size());
  for (const Wanted& w : wanted) {
    ++r.deleted;
    const bool onLeaf = check::OnLeafPage(file, table, w.needle) &&
                        (w.tail.empty() || check::OnLeafPage(file, table, w.tail));
    r.onLeaves += onLeaf;
    bool found = false;
    for (bool cut : {false, true}) {
      for (size_t i = 0; i < carved.size() && !found; ++i) {
        if (used[i] || !Matches(carved[i], w.values, cut)) continue;
        used[i] = found = true;
        ++(cut ? r.cut : r.whole);
        r.foundOnLeaves += onLeaf;
      }
    }
  }
  // Every other carved row must be an older copy of a live or deleted row (SQLite leaves
  // copies behind when it moves or rewrites cells): its key value must be one of theirs.
  std::set<std::string> keys;
  for (const RowValues& row : live)
    if (row.size() > key) keys.insert(row[key]);
  for (const Wanted& w : wanted)
    if (w.values.count(key)) keys.insert(w.values.at(key));
  for (size_t i = 0; i < carved.size(); ++i) {
    if (used[i]) continue;
    const RowValues& row = carved[i];
    bool real = row.size() > key && keys.count(row[key]);
    if (row.size() == key + 1) {  // cut inside the key itself: a beginning of one
      auto it = keys.lower_bound(row[key]);
      real = it != keys.end() && it->rfind(row[key], 0) == 0;
    }
    r.invented += !real;
  }
  std::printf(
      "[ recall   ] %-36s deleted %3zu, found whole %3zu (recall %.3f), cut %zu; on leaf pages "
      "%3zu, found %3zu; invented %zu\n",
      name.c_str(), r.deleted, r.whole, r.deleted ? double(r.whole) / r.deleted : 1.0, r.cut,
      r.onLeaves, r.foundOnLeaves, r.invented);
  EXPECT_EQ(r.foundOnLeaves, r.onLeaves) << name;
  EXPECT_EQ(r.invented, 0u) << name;
  return r;
}

// A generic table of `rows` rows built by SQLite, then the statements run on it (deletes,
// and perhaps new rows written into the freed space); what SQLite no longer returns is the
// deleted truth, each row known by its address.
std::vector<Wanted> BuildGeneric(const std::string& path, int pageSize, int rows,
                                 const std::vector<std::string>& statements) {
  std::vector<Wanted> wanted;
  fixtures::OpenOptions options;
  options.pageSize = pageSize;
  Database db(path, options);
  db.Exec(
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date "
      "INTEGER, duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT)");
  auto insert = db.Prepare("INSERT INTO call VALUES (NULL, ?, ?, ?, ?, ?, ?, ?)");
  db.Exec("BEGIN");
  for (int i = 0; i < rows; ++i) {
    std::string name = "张三 " + std::to_string(i) + std::string(i % 7 == 3 ? 150 : 0, 'x');
    insert.BindAll({Value::Text("+86138" + std::to_string(10000000 + i * 7919)),
                    Value::Int(1380000000 + i * 3600), Value::Int((i * 37) % 4000),
                    Value::Int(i % 5 == 0 ? 5 : 4), Value::Int(i % 9 == 0 ? -1 : i),
                    i % 4 ? Value::Text(name) : Value::Null(), Value::Text("460")});
    insert.Run();
  }
  db.Exec("COMMIT");
  RowList before = check::Sorted(check::SqliteRows(db, "call"));
  for (const std::string& statement : statements) db.Exec(statement);
  RowList after = check::Sorted(check::SqliteRows(db, "call")), deleted;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::back_inserter(deleted));
  for (const RowValues& row : deleted) {
    // The name and country code end the record, back to back; a nameless row keeps its
    // address alone as the sign of its bytes.
    Wanted w{{}, row[1], row[6].empty() ? "" : row[6] + row[7]};
    for (size_t i = 1; i < row.size(); ++i) w.values[i] = row[i];
    wanted.push_back(w);
  }
  return wanted;
}

TEST(RowReaderCarve, GenericTableWithEveryKindOfDelete) {
  struct Case {
    const char* name;
    int pageSize;
    const char* where;
  };
  const Case cases[] = {
      {"scattered, 4096", 4096, "ROWID % 4 = 1"},
      {"every third, 1024", 1024, "ROWID % 3 = 0"},
      {"newest rows (unallocated gap), 4096", 4096, "ROWID > 597"},
      {"one in ten, 65536", 65536, "ROWID % 10 = 3"},
      {"runs (merged freeblocks), 4096", 4096, "ROWID % 20 BETWEEN 5 AND 9"},
      {"short and long mixed, 1024", 1024, "ROWID % 7 IN (2, 3)"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.File("calls.db");
    const std::vector<Wanted> wanted =
        BuildGeneric(path, c.pageSize, 600, {"DELETE FROM call WHERE " + std::string(c.where)});
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    EXPECT_GT(Measure(c.name, file, "call", wanted).onLeaves, 0u);
  }
}

// A table whose every row was deleted keeps the rows' bytes on its root page, which then has
// no cell: no live row to copy a record's shape from, and not in the list of pages with rows.
// Emptied at once (SQLite only resets the page header), row by row (freeblocks, then the page
// reset when its last cell goes), and in runs with new rows written over part of the space.
TEST(RowReaderCarve, EmptiedPagesAndReusedFreeblocks) {
  struct Case {
    const char* name;
    int pageSize;
    int rows;
    std::vector<std::string> statements;
    bool emptied;
  };
  const std::string clear = "DELETE FROM call";
  const std::string oneByOne = "DELETE FROM call WHERE ROWID > 0";
  const std::string refill =
      "INSERT INTO call (address, date, duration, flags, id, name, country_code) "
      "SELECT '10086' || ROWID, date + 1, 7, 4, ROWID, 'n' || ROWID, '86' FROM call "
      "WHERE ROWID % 6 = 0";
  const Case cases[] = {
      {"emptied at once, 1024", 1024, 6, {clear}, true},
      {"emptied at once, 4096", 4096, 20, {clear}, true},
      {"emptied at once, 65536", 65536, 100, {clear}, true},
      {"emptied row by row, 1024", 1024, 6, {oneByOne}, true},
      {"emptied row by row, 4096", 4096, 20, {oneByOne}, true},
      {"emptied row by row, 65536", 65536, 100, {oneByOne}, true},
      {"emptied in two runs, 4096",
       4096,
       20,
       {"DELETE FROM call WHERE ROWID % 2 = 0", "DELETE FROM call"},
       true},
      {"runs, then new rows, 4096",
       4096,
       400,
       {"DELETE FROM call WHERE ROWID % 10 BETWEEN 2 AND 6", refill},
       false},
      {"runs, then new rows, 1024",
       1024,
       300,
       {"DELETE FROM call WHERE ROWID % 8 BETWEEN 1 AND 4", refill},
       false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.File("calls.db");
    const std::vector<Wanted> wanted = BuildGeneric(path, c.pageSize, c.rows, c.statements);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    const Recall r = Measure(c.name, file, "call", wanted);
    EXPECT_GT(r.onLeaves, 0u) << c.name;
    if (c.emptied) {
      RowList live, carved;
      ReadTable(file, "call", live, carved);
      EXPECT_TRUE(live.empty()) << c.name;
      // Every deleted row is still whole on the emptied page, and each comes back once.
      EXPECT_EQ(r.onLeaves, r.deleted) << c.name;
      EXPECT_EQ(carved.size(), r.whole + r.cut) << c.name;
    }
  }
}

// A table without a rowid alias, emptied: a record whose first four bytes a freeblock header
// took also lost its first serial type, which no live cell can show; it is found by trying the
// integer types. (A lost NULL, 0 or 1 takes no body bytes and cannot be told apart: the values
// here take some.)
TEST(RowReaderCarve, EmptiedTableWithoutRowidAlias) {
  for (int pageSize : {1024, 4096, 65536}) {
    for (const char* remove : {"DELETE FROM kv", "DELETE FROM kv WHERE value >= 0"}) {
      TempDir dir;
      const std::string path = dir.File("kv.db");
      std::vector<Wanted> wanted;
      {
        fixtures::OpenOptions options;
        options.pageSize = pageSize;
        Database db(path, options);
        db.Exec("CREATE TABLE kv (value INTEGER, name TEXT, note TEXT)");
        auto insert = db.Prepare("INSERT INTO kv VALUES (?, ?, ?)");
        for (int i = 0; i < 12; ++i) {
          const std::string name = "键 " + std::to_string(i * 13);
          const int64_t value = i % 3 == 0 ? i * 7 + 2 : i * 100000;
          insert.BindAll(
              {Value::Int(value), Value::Text(name), Value::Text(i % 2 ? "备注" : "note")});
          insert.Run();
          wanted.push_back(
              {{{0, std::to_string(value)}, {1, name}, {2, i % 2 ? "备注" : "note"}}, name});
        }
        db.Exec(remove);
      }
      SqliteFile file;
      ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
      const std::string name = std::to_string(pageSize) + ", " + remove;
      const Recall r = Measure("no rowid alias, " + name, file, "kv", wanted, 1);
      EXPECT_EQ(r.onLeaves, wanted.size()) << name;
      EXPECT_EQ(r.whole, wanted.size()) << name;
    }
  }
}

// A deleted row's long text whose first overflow page became a freelist trunk (the freelist
// was empty when the row went, so its first freed page took the links, the rest of the chain
// became its leaves): the text before and after the links' bytes comes back, one U+FFFD for
// the stretch they took, ASCII and Chinese alike, on 1024 and 4096-byte pages.
TEST(RowReaderCarve, OverflowPageReusedAsFreelistTrunk) {
  const std::string mark = "\xEF\xBF\xBD";
  for (int pageSize : {1024, 4096}) {
    for (bool chinese : {false, true}) {
      TempDir dir;
      const std::string path = dir.File("notes.db");
      std::string body;
      for (int i = 0; body.size() < 4u * pageSize; ++i)
        body +=
            chinese ? "第" + std::to_string(i) + "行记录；" : "line " + std::to_string(i) + ". ";
      {
        fixtures::OpenOptions options;
        options.pageSize = pageSize;
        Database db(path, options);
        db.Exec("CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT, body TEXT)");
        auto insert = db.Prepare("INSERT INTO note VALUES (NULL, ?, ?)");
        for (int i = 0; i < 3; ++i) {
          insert.BindAll({Value::Text("note " + std::to_string(i)), Value::Text(body)});
          insert.Run();
        }
        ASSERT_EQ(db.QueryInt("PRAGMA freelist_count"), 0);
        db.Exec("DELETE FROM note WHERE id = 2");
        ASSERT_GT(db.QueryInt("PRAGMA freelist_count"), 1);
      }
      SqliteFile file;
      ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
      RowList live, carved;
      ASSERT_EQ(ReadTable(file, "note", live, carved), TableRead::Read);
      ASSERT_EQ(live.size(), 2u);
      const std::string name = std::to_string(pageSize) + (chinese ? " chinese" : " ascii");
      ASSERT_EQ(carved.size(), 1u) << name;
      ASSERT_EQ(carved[0].size(), 3u) << name;
      EXPECT_EQ(carved[0][1], "note 1") << name;
      const std::string& text = carved[0][2];
      const size_t gap = text.find(mark);
      ASSERT_NE(gap, std::string::npos) << name;
      EXPECT_EQ(text.find(mark, gap + mark.size()), std::string::npos) << name;
      const std::string before = text.substr(0, gap), after = text.substr(gap + mark.size());
      EXPECT_EQ(body.rfind(before, 0), 0u) << name;
      ASSERT_GE(body.size(), after.size());
      EXPECT_EQ(body.compare(body.size() - after.size(), after.size(), after), 0) << name;
      // Lost: the links (leaf count and one number per leaf) and a character they split.
      const size_t overflowPages = (body.size() + pageSize - 1) / (pageSize - 4) + 1;
      EXPECT_LE(body.size() - before.size() - after.size(), 4 + 4 * overflowPages + 6) << name;
      std::printf("[ trunk    ] %-14s text %zu bytes, came back %zu + %zu\n", name.c_str(),
                  body.size(), before.size(), after.size());
    }
  }
}

struct Config {
  int ios;
  JournalMode journal;
  int pageSize;
};

template <typename Options>
Options Make(const Config& c) {
  Options options;
  options.iosVersion = c.ios;
  options.journal = c.journal;
  options.pageSize = c.pageSize;
  // As on a real iOS 7 device: WAL with incremental auto-vacuum (pointer-map pages).
  options.incrementalVacuum = c.ios == 7 && c.journal == JournalMode::Wal;
  return options;
}

std::string Name(const char* kind, const Config& c) {
  return std::string(kind) + " ios" + std::to_string(c.ios) +
         (c.journal == JournalMode::Wal ? " wal " : " ") + std::to_string(c.pageSize);
}

template <typename T>
bool Deleted(const T& row) {
  return row.deleted && row.deletedIn != fixtures::Stage::WalUncommitted;
}

// Opens a fixture as the reader does, after checking every table's live rows against SQLite.
void Open(const std::string& path, const Config& c, SqliteFile& file) {
  const std::string wal = c.journal == JournalMode::Wal ? path + "-wal" : "";
  check::ExpectSameTables(path, wal);
  ASSERT_EQ(OpenDatabase(wal, file, path), OpenStatus::Opened);
}

TEST(RowReaderCarve, IosFixtures) {
  const Config configs[] = {{6, JournalMode::Rollback, 4096},
                            {7, JournalMode::Wal, 4096},
                            {7, JournalMode::Rollback, 1024},
                            {7, JournalMode::Rollback, 65536}};
  for (const Config& c : configs) {
    TempDir dir;
    SqliteFile file;
    const auto messages =
        fixtures::BuildMessagesDb(dir.File("sms.db"), Make<fixtures::MessageOptions>(c));
    Open(messages.path, c, file);
    std::vector<Wanted> wanted;
    for (const auto& m : messages.messages)
      if (Deleted(m)) wanted.push_back({{{1, m.guid}, {2, m.Text()}}, m.guid});
    Measure(Name("message", c), file, "message", wanted);
    if (c.pageSize != 4096) continue;

    const auto contacts =
        fixtures::BuildContactsDb(dir.File("ab.db"), Make<fixtures::ContactOptions>(c));
    Open(contacts.path, c, file);
    std::vector<Wanted> persons, values;
    for (const auto& p : contacts.persons) {
      if (Deleted(p))
        persons.push_back(
            {{{1, p.first}, {2, p.last}, {3, p.middle}}, p.first + p.last + p.middle});
      for (const auto& v : p.multiValues)
        if ((Deleted(v) || Deleted(p)) && v.value)
          values.push_back({{{1, std::to_string(v.recordId)}, {5, *v.value}}, *v.value});
    }
    Measure(Name("ABPerson", c), file, "ABPerson", persons);
    Measure(Name("ABMultiValue", c), file, "ABMultiValue", values);

    for (bool upgraded : {false, true}) {
      if (upgraded && c.ios == 6) continue;
      auto options = Make<fixtures::CallOptions>(c);
      options.upgradedFromIos6 = upgraded;  // older rows hold 13 values in the 14-column table
      const auto calls = fixtures::BuildCallsDb(dir.File("calls.db"), options);
      Open(calls.path, c, file);
      wanted.clear();
      for (const auto& call : calls.calls)
        if (Deleted(call))
          wanted.push_back({{{1, call.address}, {2, std::to_string(call.date)}}, call.address});
      Measure(Name(upgraded ? "call (upgraded)" : "call", c), file, "call", wanted);
    }
  }
}

// A table whose columns take any value (as FTS shadow tables' do) fits the schema's own
// records: the log's images of a schema leaf, older and current, hold "table"/"index" rows of
// five values. Those are the schema's, never rows of the table; the table's own deleted rows
// in the log still come back.
TEST(OlderImages, SchemaLeavesInTheLogAreNeverAnotherTablesRows) {
  for (const int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("shapes.db");
    std::set<std::string> deletedTexts;
    {
      Database db(path, {.pageSize = pageSize});
      db.Exec("PRAGMA journal_mode=WAL");
      db.Exec("CREATE TABLE loose (a, b, c, d, e)");
      for (int k = 0; k < 40; ++k)
        db.Query("INSERT INTO loose VALUES (?, ?, ?, ?, ?)",
                 {Value::Text("row"), Value::Text("value " + std::to_string(k)), Value::Text("x"),
                  Value::Int(k), Value::Text(std::string(60, 'a' + k % 26))});
      ASSERT_EQ(db.QueryInt("PRAGMA wal_checkpoint(TRUNCATE)"), 0);
      // In the log: the schema grows over more than one leaf, and rows of loose are deleted.
      for (int k = 0; k < 30; ++k)
        db.Exec("CREATE TABLE extra" + std::to_string(k) + " (id INTEGER PRIMARY KEY, note TEXT" +
                std::string(40, ' ') + ")");
      for (int k = 0; k < 40; k += 4) {
        db.Query("DELETE FROM loose WHERE d = ?", {Value::Int(k)});
        deletedTexts.insert("value " + std::to_string(k));
      }
    }
    SqliteFile file;
    ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
    RowList live, carved;
    ASSERT_EQ(ReadTable(file, "loose", live, carved), TableRead::Read);
    RowList older;
    CarveOlderImages(file, "loose", live, older);
    std::set<std::string> found;
    for (const RowValues& row : older) {
      ASSERT_FALSE(row.empty());
      EXPECT_NE(row[0], "table") << "a schema record was taken for a row: " << row[1];
      EXPECT_NE(row[0], "index") << "a schema record was taken for a row: " << row[1];
      if (row.size() > 1 && row[0] == "row") found.insert(row[1]);
    }
    for (const RowValues& row : carved)
      if (row.size() > 1 && row[0] == "row") found.insert(row[1]);
    // Every deleted row of loose lies in the older images the log keeps of its leaves.
    for (const std::string& text : deletedTexts) EXPECT_TRUE(found.count(text)) << text;
  }
}

}  // namespace
}  // namespace vantrel
