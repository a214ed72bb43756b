// Pages no live table owns: a run of deleted rows that emptied whole leaves and a dropped
// table send their pages to the freelist, where SQLite leaves the old images. Their records
// come back assigned to the table whose columns they fit, or by their shape when the table
// is gone; each once, none of them live.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "carve/FreePages.h"
#include "fixtures/Fixtures.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;

std::string Body(int id) {
  char text[64];
  std::snprintf(text, sizeof text, "deleted note %05d, words of it", id);
  return text;
}

std::string Memo(int id) {
  char text[64];
  std::snprintf(text, sizeof text, "memo of a dropped table %04d", id);
  return text;
}

TEST(FreePages, EmptiedLeavesAndADroppedTableComeBackOnceByTableOrShape) {
  for (int pageSize : {1024, 4096, 65536}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("free.db");
    const int rows = pageSize == 65536 ? 4000 : 600;
    bool notesFreedPages = false;  // whether the deleted run emptied whole leaves
    {
      OpenOptions options;
      options.pageSize = pageSize;
      Database db(path, options);
      db.Exec(
          "CREATE TABLE note (id INTEGER PRIMARY KEY, body TEXT, n INTEGER);"
          "CREATE TABLE memo (id INTEGER PRIMARY KEY, stamp INTEGER, memo TEXT, size REAL);");
      db.Exec("BEGIN");
      for (int id = 1; id <= rows; ++id) {
        db.Query("INSERT INTO note (id, body, n) VALUES (?, ?, ?)",
                 {fixtures::Value::Int(id), fixtures::Value::Text(Body(id)),
                  fixtures::Value::Int(id * 3)});
        if (id <= rows / 2)
          db.Query("INSERT INTO memo (stamp, memo, size) VALUES (?, ?, ?)",
                   {fixtures::Value::Int(1000000 + id), fixtures::Value::Text(Memo(id)),
                    fixtures::Value::Real(id + 0.5)});
      }
      db.Exec("COMMIT");
      // A long run of neighbouring rows (whole leaves emptied), and the other table dropped.
      db.Exec("DELETE FROM note WHERE id > " + std::to_string(rows / 5) +
              " AND id <= " + std::to_string(rows * 4 / 5));
      notesFreedPages = db.QueryInt("PRAGMA freelist_count") > 0;
      db.Exec("DROP TABLE memo");
      EXPECT_GT(db.QueryInt("PRAGMA freelist_count"), 0);
    }
    std::set<std::string> liveBodies;
    std::set<int64_t> treePages;  // pages of live b-trees, as SQLite's dbstat lists them
    {
      Database db(path);
      for (const auto& row : db.Query("SELECT body FROM note")) liveBodies.insert(row[0].AsText());
      for (const auto& row : db.Query("SELECT pageno FROM dbstat"))
        treePages.insert(row[0].AsInt());
    }
    // The deleted notes whose text still lies on a page outside the live trees.
    size_t notesOnFreePages = 0;
    {
      const std::string bytes = fixtures::ReadFileBytes(path);
      for (int id = rows / 5 + 1; id <= rows * 4 / 5; ++id) {
        for (size_t at = bytes.find(Body(id)); at != std::string::npos;
             at = bytes.find(Body(id), at + 1)) {
          if (!treePages.count(static_cast<int64_t>(at / pageSize + 1))) {
            ++notesOnFreePages;
            break;
          }
        }
      }
    }

    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    const std::vector<FreePageRecord> found = CarveFreePages(file);
    std::map<std::string, size_t> perTable;
    std::multiset<std::string> notes, memos;
    size_t wrong = 0;
    for (const FreePageRecord& record : found) {
      EXPECT_EQ(record.found.place, Place::FreePage);
      EXPECT_EQ(record.found.page, record.found.offset / pageSize + 1);
      ++perTable[record.table];
      if (record.table == "note") {
        // A deleted note, whole, with its rowid when its cell was whole.
        if (record.row.size() == 3 && record.row[1].rfind("deleted note ", 0) == 0 &&
            !liveBodies.count(record.row[1])) {
          notes.insert(record.row[1]);
        } else {
          ++wrong;
        }
      } else if (record.table == "shape:NITR") {
        if (record.row.size() == 4 && record.row[2].rfind("memo of a dropped table ", 0) == 0)
          memos.insert(record.row[2]);
        else
          ++wrong;
      } else {
        ++wrong;
      }
    }
    const size_t deletedNotes = static_cast<size_t>(rows * 3 / 5);
    std::printf(
        "[free pages] page %d: %zu records; note %zu of %zu deleted (%zu of them on free "
        "pages), dropped memo %zu of %d, %zu not fitting\n",
        pageSize, found.size(), notes.size(), deletedNotes, notesOnFreePages, memos.size(),
        rows / 2, wrong);
    for (const auto& [table, count] : perTable) std::printf("  %s: %zu\n", table.c_str(), count);
    // Precision: at least 95% of the records are real rows of the right table.
    EXPECT_GE(static_cast<double>(notes.size() + memos.size()),
              0.95 * static_cast<double>(found.size()));
    // No record twice.
    EXPECT_EQ(std::set<std::string>(notes.begin(), notes.end()).size(), notes.size());
    EXPECT_EQ(std::set<std::string>(memos.begin(), memos.end()).size(), memos.size());
    // Whole pages went to the freelist: most of what was on them comes back.
    // Recall on free pages: nearly every deleted note whose text lies there comes back.
    EXPECT_GE(static_cast<double>(notes.size()), 0.9 * static_cast<double>(notesOnFreePages));
    EXPECT_EQ(notesFreedPages, notesOnFreePages > 0);
    EXPECT_GT(memos.size(), static_cast<size_t>(rows / 4));
  }
}

}  // namespace
}  // namespace vantrel
