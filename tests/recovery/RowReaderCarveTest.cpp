// Template carving against rows SQLite really deleted (secure_delete off, no auto-vacuum): every
// deleted row whose bytes survive on one of the table's leaf pages (in a freeblock or in the
// unallocated gap) must come back as a carved row, and carving must not invent rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "recovery/RowReader.h"
#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

RowValues Tail(const RowValues& row) {
  return row.empty() ? row : RowValues(row.begin() + 1, row.end());
}

// How carving did on one database.
struct CarveScore {
  size_t deleted = 0;        // rows SQLite deleted
  size_t onLeaves = 0;       // of them, rows whose unique text is still on a leaf page
  size_t found = 0;          // deleted rows found among the carved rows
  size_t foundOnLeaves = 0;  // of them, those counted in onLeaves
  size_t carved = 0;
  size_t invented = 0;  // carved rows that are neither a deleted nor a live row
  RowList missedOnLeaves;
};

// A deleted row is found when a carved row holds all its values after the rowid column
// (carving cannot know the rowid: its bytes are the first a freeblock overwrites). Its
// `key` column is a text unique to the row, used to see whether its bytes are on a leaf page.
CarveScore Score(const SqliteFile& file, const std::string& path, const std::string& table,
                 const RowList& deleted, const RowList& live, const RowList& carved, size_t key) {
  CarveScore score;
  score.deleted = deleted.size();
  score.carved = carved.size();
  std::multiset<RowValues> tails;
  for (const RowValues& row : carved) tails.insert(Tail(row));
  std::set<int32_t> leaves;
  for (const PageSet& set : FindTable(file, table)->pageSets)
    leaves.insert(set.leafPages.begin(), set.leafPages.end());
  const std::string bytes = check::ReadBytes(path);
  for (const RowValues& row : deleted) {
    bool onLeaf = false;
    for (size_t at = bytes.find(row[key]); at != std::string::npos && !onLeaf;
         at = bytes.find(row[key], at + 1))
      onLeaf = leaves.count(static_cast<int32_t>(at / file.pageSize) + 1) != 0;
    auto it = tails.find(Tail(row));
    const bool found = it != tails.end();
    if (found) tails.erase(it);
    score.onLeaves += onLeaf;
    score.found += found;
    score.foundOnLeaves += onLeaf && found;
    if (onLeaf && !found) score.missedOnLeaves.push_back(row);
  }
  // Stale copies of live rows (left behind when SQLite moved cells between pages) are real
  // bytes, not inventions.
  for (const RowValues& row : live) tails.erase(Tail(row));
  // A record whose tail newer cells took comes back cut: a prefix of a real row.
  auto isPrefix = [](const RowValues& cut, const RowValues& whole) {
    if (cut.empty() || cut.size() > whole.size()) return false;
    for (size_t i = 0; i + 1 < cut.size(); ++i)
      if (cut[i] != whole[i]) return false;
    return whole[cut.size() - 1].rfind(
               cut.back().substr(0, cut.back().size() > 3 ? cut.back().size() - 3 : 0), 0) == 0;
  };
  for (const RowValues& row : tails) {
    bool real = false;
    for (const RowList* rows : {&deleted, &live})
      for (const RowValues& whole : *rows) real = real || isPrefix(row, Tail(whole));
    if (!real) ++score.invented;
  }
  return score;
}

void Report(const std::string& name, const CarveScore& s) {
  std::printf(
      "[ recall   ] %s: deleted %zu, carved %zu, found %zu (recall %.3f); on leaf pages %zu, "
      "found %zu; invented %zu\n",
      name.c_str(), s.deleted, s.carved, s.found,
      s.deleted ? static_cast<double>(s.found) / s.deleted : 1.0, s.onLeaves, s.foundOnLeaves,
      s.invented);
  for (const RowValues& row : s.missedOnLeaves)
    std::printf("  missed %s\n", check::Show(row).c_str());
}

struct CarveCase {
  std::string name;
  int pageSize;
  std::string deleteWhere;
};

TEST(RowReaderCarve, RecoversEveryDeletedRowLeftOnALeafPage) {
  const CarveCase cases[] = {
      {"scattered rows, 4096", 4096, "ROWID % 4 = 1"},
      {"every third row, 1024", 1024, "ROWID % 3 = 0"},
      {"newest rows (unallocated gap), 4096", 4096, "ROWID > 590"},
      {"one in ten, 65536", 65536, "ROWID % 10 = 3"},
      {"runs of neighbours (merged freeblocks), 4096", 4096, "ROWID % 20 BETWEEN 5 AND 9"},
      {"short and long names mixed, 1024", 1024, "ROWID % 7 IN (2, 3)"},
  };
  for (const CarveCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("calls.db");
    RowList before, live;
    {
      OpenOptions options;
      options.pageSize = c.pageSize;
      Database db(path, options);
      db.Exec(
          "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date "
          "INTEGER, duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT)");
      auto insert = db.Prepare("INSERT INTO call VALUES (NULL, ?, ?, ?, ?, ?, ?, ?)");
      db.Exec("BEGIN");
      for (int i = 0; i < 600; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "+86138%08d", i * 7919 % 100000000);
        std::string name = "张三 " + std::to_string(i);
        if (i % 7 == 3) name += std::string(150 + i % 100, 'x');
        insert.BindAll({Value::Text(number), Value::Int(1380000000 + i * 3600),
                        Value::Int((i * 37) % 4000), Value::Int(i % 5 == 0 ? 5 : 4),
                        Value::Int(i % 9 == 0 ? -1 : i), i % 4 ? Value::Text(name) : Value::Null(),
                        Value::Text("460")});
        insert.Run();
      }
      db.Exec("COMMIT");
      before = check::Sorted(check::SqliteRows(db, "call"));
      db.Exec("DELETE FROM call WHERE " + c.deleteWhere);
      live = check::Sorted(check::SqliteRows(db, "call"));
    }
    RowList deleted;
    std::set_difference(before.begin(), before.end(), live.begin(), live.end(),
                        std::back_inserter(deleted));
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), 0);
    RowList ours, carved;
    ASSERT_EQ(ReadTable(file, "call", ours, carved), 0);
    EXPECT_TRUE(check::SameRows(ours, live));
    const CarveScore score = Score(file, path, "call", deleted, live, carved, 1);
    Report(c.name, score);
    EXPECT_EQ(score.foundOnLeaves, score.onLeaves);
    EXPECT_GT(score.onLeaves, 0u);
    EXPECT_EQ(score.invented, 0u);
  }
}

}  // namespace
}  // namespace vantrel
