// How the leaves of a table are read: leaves next to each other in the file
// come in with one read, the tree walk reads a leaf only as far as its
// header. Checked against what SQLite returns for the whole file, and on
// copies cut short in the middle of a run of leaves and under a read budget,
// where each page must fare exactly as a page read on its own does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "sqlite/BTree.h"
#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

constexpr int kPageSize = 1024;

// A table written in rowid order, so that most of its leaves follow each
// other in the file, under one interior root page.
std::string MakeTable(TempDir& dir) {
  const std::string path = dir.File("t.db");
  OpenOptions options;
  options.pageSize = kPageSize;
  Database db(path, options);
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT, n INTEGER)");
  auto insert = db.Prepare("INSERT INTO t (body, n) VALUES (?, ?)");
  db.Exec("BEGIN");
  for (int i = 0; i < 1500; ++i) {
    insert.BindAll({Value::Text(std::string(20 + i % 40, static_cast<char>('a' + i % 26))),
                    Value::Int(i * 7919LL)});
    insert.Run();
  }
  db.Exec("COMMIT");
  return path;
}

struct Visited {
  std::vector<int32_t> pages;
  RowList rows;
};

Visited VisitAll(const SqliteFile& file, const PageSet& leaves) {
  Visited seen;
  const TableInfo* table = FindTable(file, "t");
  EXPECT_NE(table, nullptr);
  if (table == nullptr) return seen;
  RowValues row;
  VisitLeafPages(file, leaves, [&](const LeafPage& page) {
    seen.pages.push_back(page.pageNo);
    VisitLiveCells(file, page, table->columns, {}, row,
                   [&](const RowValues& values, uint64_t) { seen.rows.push_back(values); });
  });
  return seen;
}

// Index of a leaf inside a run: the leaves before and after it are its
// neighbours in the file too.
size_t LeafInsideARun(const std::vector<int32_t>& leaves) {
  for (size_t k = leaves.size() / 2; k + 1 < leaves.size(); ++k)
    if (leaves[k - 1] + 1 == leaves[k] && leaves[k] + 1 == leaves[k + 1]) return k;
  return 0;
}

std::string CutCopy(TempDir& dir, const std::string& path, uint64_t size) {
  const std::string cut = dir.File("cut.db");
  std::filesystem::copy_file(path, cut);
  std::filesystem::resize_file(cut, size);
  return cut;
}

TEST(LeafReads, RunsOfLeavesGiveWhatSqliteReturns) {
  TempDir dir;
  const std::string path = MakeTable(dir);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  const PageSet& leaves = FindTable(file, "t")->pageSets.at(0);
  ASSERT_GT(LeafInsideARun(leaves.leafPages), 0u) << "the fixture has no run of leaves";
  Visited seen = VisitAll(file, leaves);
  EXPECT_EQ(seen.pages, leaves.leafPages);
  // The walk meets the right-most leaf first: the rows as a set.
  Database db(path);
  RowList expected = check::SqliteRows(db, "t");
  std::sort(seen.rows.begin(), seen.rows.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen.rows, expected);
  EXPECT_EQ(Damage(file).pages, 0u);
}

// The leaves of list whose page number passes keep.
template <typename Keep>
PageSet LeavesWhere(const PageSet& list, Keep keep) {
  PageSet kept;
  for (int32_t pageNo : list.leafPages)
    if (keep(pageNo)) kept.leafPages.push_back(pageNo);
  return kept;
}

TEST(LeafReads, ACopyCutInsideARunKeepsEveryLeafBeforeTheCut) {
  TempDir dir;
  const std::string path = MakeTable(dir);
  SqliteFile whole;
  ASSERT_EQ(OpenDatabase("", whole, path), OpenStatus::Opened);
  const PageSet leaves = FindTable(whole, "t")->pageSets.at(0);
  const size_t k = LeafInsideARun(leaves.leafPages);
  ASSERT_GT(k, 0u);
  const int32_t cutPage = leaves.leafPages[k];
  const PageSet before = LeavesWhere(leaves, [&](int32_t p) { return p < cutPage; });
  const PageSet from = LeavesWhere(leaves, [&](int32_t p) { return p >= cutPage; });
  ASSERT_FALSE(before.leafPages.empty());
  const Visited beforeWhole = VisitAll(whole, before);

  for (const uint64_t into : {uint64_t{0}, uint64_t{kPageSize / 2}}) {
    SCOPED_TRACE("cut " + std::to_string(into) + " bytes into page " + std::to_string(cutPage));
    TempDir cutDir;
    const uint64_t cutAt = static_cast<uint64_t>(cutPage - 1) * kPageSize + into;
    SqliteFile cut;
    ASSERT_EQ(OpenDatabase("", cut, CutCopy(cutDir, path, cutAt)), OpenStatus::Opened);

    // The whole file's leaves, read from the cut copy. The leaf cut in two
    // (the rest of its page read as zeros) and every leaf past the end
    // (nothing but zeros) count as damage; a cut leaf keeps its header, so it
    // is still visited, and one past the end is not.
    const uint64_t damagedAtOpen = Damage(cut).pages;
    const Visited seen = VisitAll(cut, leaves);
    EXPECT_EQ(Damage(cut).pages - damagedAtOpen, from.leafPages.size());
    const PageSet visitable =
        LeavesWhere(leaves, [&](int32_t p) { return into == 0 ? p < cutPage : p <= cutPage; });
    EXPECT_EQ(seen.pages, visitable.leafPages);
    // Every leaf before the cut gives what it gives in the whole file.
    EXPECT_EQ(VisitAll(cut, before).rows, beforeWhole.rows);

    // The cut copy's own tree walk lists the leaves whose header is in the
    // file (its root comes before them all).
    ASSERT_LT(FindTable(whole, "t")->pageSets.size(), 2u);
    EXPECT_EQ(FindTable(cut, "t")->pageSets.at(0).leafPages, visitable.leafPages);
  }
}

TEST(LeafReads, TheReadBudgetStopsAtTheSameLeafInsideARun) {
  TempDir dir;
  const std::string path = MakeTable(dir);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  const PageSet leaves = FindTable(file, "t")->pageSets.at(0);
  const size_t k = LeafInsideARun(leaves.leafPages);
  ASSERT_GT(k, 0u);
  // ReadPageNumber gives a page while the bytes read before it stay under
  // the budget: with the count at zero, exactly the first k pages.
  file.pageBytesRead.store(0);
  file.pageReadBudget = static_cast<uint64_t>(k) * kPageSize;
  const uint64_t damagedBefore = Damage(file).pages;
  const Visited seen = VisitAll(file, leaves);
  EXPECT_EQ(seen.pages,
            std::vector<int32_t>(leaves.leafPages.begin(), leaves.leafPages.begin() + k));
  EXPECT_EQ(Damage(file).pages - damagedBefore, leaves.leafPages.size() - k);
  EXPECT_EQ(file.pageBytesRead.load(), leaves.leafPages.size() * uint64_t{kPageSize});
}

}  // namespace
}  // namespace vantrel
