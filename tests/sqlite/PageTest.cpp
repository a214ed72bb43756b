// The page object against SQLite's own view of the same pages: dbstat gives
// each b-tree page's type, cell count and unused bytes (the gap, the
// freeblocks and the fragments), which the parsed header and the freeblock
// walk must add up to. Damaged chains end the walks instead of looping.
#include "sqlite/Page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "sqlite/BTree.h"
#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

struct DbstatPage {
  std::string type;  // "internal" or "leaf"
  int64_t cells = 0;
  int64_t unused = 0;
};

std::string BuildTable(const TempDir& dir, int pageSize) {
  const std::string path = dir.File("p.db");
  OpenOptions options;
  options.pageSize = pageSize;
  Database db(path, options);
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT)");
  auto insert = db.Prepare("INSERT INTO t (body) VALUES (?)");
  db.Exec("BEGIN");
  for (int i = 0; i < 600; ++i) {
    insert.BindAll({Value::Text(std::string(i % 37 == 0 ? pageSize * 3 : 20 + (i * 13) % 90,
                                            static_cast<char>('a' + i % 26)))});
    insert.Run();
  }
  db.Exec("COMMIT");
  // Freeblocks of every size, fragments, and cells freed at the top of the content area.
  db.Exec("DELETE FROM t WHERE id % 3 = 1 OR id % 7 = 0");
  db.Exec("UPDATE t SET body = substr(body, 1, 5) WHERE id % 11 = 0");
  return path;
}

TEST(BTreePage, HeaderAndFreeSpaceAddUpToWhatDbstatSays) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = BuildTable(dir, pageSize);
    std::map<int64_t, DbstatPage> expected;
    {
      Database db(path);
      for (const fixtures::Row& row :
           db.Query("SELECT pageno, pagetype, ncell, unused FROM dbstat WHERE name = 't' "
                    "AND pagetype != 'overflow'"))
        expected[row[0].integer] = {row[1].AsText(), row[2].integer, row[3].integer};
    }
    ASSERT_GT(expected.size(), 3u);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    std::vector<uint8_t> buffer;
    size_t freeblocks = 0;
    for (const auto& [pageNo, facts] : expected) {
      SCOPED_TRACE(pageNo);
      ASSERT_EQ(ReadPageNumber(file, static_cast<uint32_t>(pageNo), buffer), PageRead::Whole);
      const BTreePage page = ParsePage(ByteView(buffer.data(), buffer.size()), 0, UsableSize(file));
      EXPECT_EQ(page.Is(PageType::LeafTable), facts.type == "leaf");
      EXPECT_EQ(page.Is(PageType::InteriorTable), facts.type == "internal");
      EXPECT_EQ(page.cellCount, facts.cells);
      std::vector<uint16_t> offsets;
      EXPECT_EQ(page.CellPointers(offsets), 0u);
      EXPECT_EQ(static_cast<int64_t>(offsets.size()), facts.cells);
      int64_t unused = 0;
      const PageRange gap = page.GapByHeader();
      unused += static_cast<int64_t>(gap.end - gap.begin) + page.fragmentedBytes;
      EXPECT_EQ(page.ForEachFreeblock(page.PointerArrayEnd(),
                                      [&](Freeblock block) {
                                        unused += static_cast<int64_t>(block.end - block.offset);
                                        ++freeblocks;
                                      }),
                ChainEnd::Complete);
      EXPECT_EQ(unused, facts.unused);
      // No live cell lies below the content area the header states.
      if (!offsets.empty()) EXPECT_EQ(page.GapBelowCells(offsets).begin, gap.begin);
      for (uint16_t offset : offsets) EXPECT_GE(offset, page.contentStart);
    }
    EXPECT_GT(freeblocks, 0u) << "the fixture should leave freeblocks";
  }
}

TEST(BTreePage, DamagedFreeblockChainsEndTheWalk) {
  // A leaf page by hand: two freeblocks, the second of which is then made to
  // loop, to leave the page and to lie inside the pointer array.
  std::vector<uint8_t> bytes(1024, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v >> 8);
    bytes[at + 1] = static_cast<uint8_t>(v);
  };
  bytes[0] = 13;
  put16(1, 300);  // first freeblock
  put16(3, 1);    // one cell
  put16(5, 200);
  put16(8, 900);  // the cell
  put16(300, 500);
  put16(302, 40);
  put16(500, 0);
  put16(502, 2000);  // bigger than the page: cut at its end
  auto walk = [&](std::vector<Freeblock>& seen) {
    const BTreePage page = ParsePage(ByteView(bytes.data(), bytes.size()));
    return page.ForEachFreeblock(page.PointerArrayEnd(),
                                 [&](Freeblock block) { seen.push_back(block); });
  };
  std::vector<Freeblock> seen;
  EXPECT_EQ(walk(seen), ChainEnd::Complete);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].end, 340u);
  EXPECT_EQ(seen[1].end, 1024u);

  for (uint16_t next : {uint16_t{300}, uint16_t{1022}, uint16_t{9}}) {
    SCOPED_TRACE(next);
    put16(500, next);  // back to the first block, past the page, into the pointer array
    seen.clear();
    EXPECT_EQ(walk(seen), ChainEnd::Broken);
    EXPECT_EQ(seen.size(), 2u);
  }
}

TEST(OverflowChain, ReadsSqlitesChainAndStopsAtLoops) {
  TempDir dir;
  const std::string path = dir.File("o.db");
  {
    OpenOptions options;
    options.pageSize = 1024;
    Database db(path, options);
    db.Exec("CREATE TABLE t (body BLOB)");
    auto insert = db.Prepare("INSERT INTO t VALUES (?)");
    insert.BindAll({Value::Text(std::string(5000, 'q'))});
    insert.Run();
  }
  std::vector<int64_t> chain;
  {
    Database db(path);
    for (const fixtures::Row& row : db.Query(
             "SELECT pageno FROM dbstat WHERE name = 't' AND pagetype = 'overflow' ORDER BY path"))
      chain.push_back(row[0].integer);
  }
  ASSERT_GE(chain.size(), 4u);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  std::vector<uint8_t> page;
  OverflowChain reader(file, static_cast<uint32_t>(chain.front()));
  std::vector<int64_t> read;
  while (reader.Next(page)) read.push_back(reader.Current());
  EXPECT_EQ(read, chain);
  EXPECT_FALSE(reader.Broken());

  // The third page names the first again: the chain stops there, broken.
  std::string bytes = check::ReadBytes(path);
  check::Put32(bytes, (chain[2] - 1) * 1024, static_cast<uint32_t>(chain[0]));
  check::WriteBytes(path, bytes);
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  std::vector<uint8_t> out;
  bool broken = false;
  const uint64_t owed =
      AppendOverflowPayload(file, static_cast<uint32_t>(chain.front()), 5000, out, &broken);
  EXPECT_TRUE(broken);
  EXPECT_EQ(out.size(), 3u * (1024 - 4));
  EXPECT_EQ(owed, 5000u - out.size());
}

// A long row deleted while the freelist was empty: the first page of its overflow chain became
// the freelist's trunk, its links over the start of the content, and the rest of the chain its
// leaves. The freed chain reads back whole, equal to what it held before the delete except for
// the links' bytes, which are named.
TEST(FreedOverflowChains, APageThatBecameATrunkGoesOnWithItsLeaves) {
  for (const int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("f.db");
    std::string blob(static_cast<size_t>(pageSize) * 5, '\0');
    for (size_t k = 0; k < blob.size(); ++k) blob[k] = static_cast<char>(k * 7 % 251 + 1);
    std::vector<int64_t> chain;
    {
      OpenOptions options;
      options.pageSize = pageSize;
      Database db(path, options);
      db.Exec("CREATE TABLE t (body BLOB)");
      auto insert = db.Prepare("INSERT INTO t VALUES (?)");
      insert.BindAll({Value::Blob(blob)});
      insert.Run();
      for (const fixtures::Row& row :
           db.Query("SELECT pageno FROM dbstat WHERE name = 't' AND pagetype = 'overflow' "
                    "ORDER BY path"))
        chain.push_back(row[0].integer);
    }
    ASSERT_GE(chain.size(), 4u);
    const uint64_t want = chain.size() * static_cast<uint64_t>(pageSize - 4);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    std::vector<uint8_t> held;
    bool broken = true;
    AppendOverflowPayload(file, static_cast<uint32_t>(chain.front()), want, held, &broken);
    ASSERT_FALSE(broken);
    {
      Database db(path);
      ASSERT_EQ(db.QueryInt("PRAGMA freelist_count"), 0);
      db.Exec("DELETE FROM t");
      ASSERT_EQ(db.QueryInt("PRAGMA freelist_count"), static_cast<int64_t>(chain.size()));
    }

    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    FreedOverflowChains chains(file);
    std::vector<uint8_t> read;
    std::vector<FreedOverflowChains::Overwritten> overwritten;
    chains.Append(file.usableSize, static_cast<uint32_t>(chain.front()), want, read, overwritten);
    ASSERT_EQ(read.size(), held.size());
    // The trunk's leaf count and one page number per leaf, after its next-trunk field (the
    // chain's own next-page field).
    ASSERT_EQ(overwritten.size(), 1u);
    EXPECT_EQ(overwritten[0].begin, 0u);
    EXPECT_EQ(overwritten[0].end, 4 + 4 * (chain.size() - 1));
    EXPECT_TRUE(std::equal(read.begin() + overwritten[0].end, read.end(),
                           held.begin() + overwritten[0].end));
  }
}

}  // namespace
}  // namespace vantrel
