// B-tree walking, cells and records against SQLite's own view of the same file: the dbstat
// table lists every page of a table or an index with its cell count and local payload bytes.
#include "sqlite/BTree.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

struct PageFacts {
  int64_t cells = 0;
  int64_t payload = 0;  // payload bytes kept on the page
  bool operator==(const PageFacts&) const = default;
};

// SQLite's facts about the leaf pages of a table.
std::map<int64_t, PageFacts> SqliteLeaves(Database& db, const std::string& table) {
  std::map<int64_t, PageFacts> pages;
  for (const fixtures::Row& row :
       db.Query("SELECT pageno, ncell, payload FROM dbstat WHERE name = ? AND pagetype = 'leaf'",
                {Value::Text(table)}))
    pages[row[0].integer] = {row[1].integer, row[2].integer};
  return pages;
}

// The same facts as Vantrel's reader sees them; also checks that every cell assembles to
// its full payload and returns the rowids in page order.
std::map<int64_t, PageFacts> ReaderLeaves(const SqliteFile& file, const std::string& table,
                                          std::vector<int64_t>& rowids) {
  std::map<int64_t, PageFacts> pages;
  const TableInfo* info = FindTable(file, table);
  EXPECT_NE(info, nullptr) << table;
  if (!info) return pages;
  EXPECT_EQ(info->pageSets.size(), 1u);
  std::vector<uint8_t> buffer;
  for (const PageSet& set : info->pageSets) {
    for (int32_t pageNo : set.leafPages) {
      EXPECT_EQ(pages.count(pageNo), 0u) << "page listed twice: " << pageNo;
      EXPECT_EQ(ReadPageNumber(file, pageNo, buffer), PageRead::Whole);
      ByteView page(buffer.data(), buffer.size());
      std::vector<uint16_t> offsets;
      ReadCellPointers(page, offsets, file, pageNo == 1);
      PageFacts& facts = pages[pageNo];
      facts.cells = static_cast<int64_t>(offsets.size());
      for (uint16_t offset : offsets) {
        CellPayload cell;
        EXPECT_TRUE(AssembleCellPayload(file, page, offset, cell));
        const size_t start = cell.lengthOfPayloadVarint + cell.lengthOfRowidVarint;
        EXPECT_EQ(cell.bytes.size(), start + cell.payloadLength);
        facts.payload +=
            static_cast<int64_t>(LocalPayloadSize(cell.payloadLength, file.usableSize));
        RecordHeader header;
        EXPECT_TRUE(DecodeRecordHeader(cell, header));
        rowids.push_back(static_cast<int64_t>(cell.rowid));
      }
    }
  }
  return pages;
}

// SQLite's facts about the pages of an index, interior pages included: their cells hold
// keys too.
std::map<int64_t, PageFacts> SqliteIndexPages(Database& db, const std::string& index) {
  std::map<int64_t, PageFacts> pages;
  for (const fixtures::Row& row :
       db.Query("SELECT pageno, ncell, payload FROM dbstat WHERE name = ? AND pagetype != "
                "'overflow'",
                {Value::Text(index)}))
    pages[row[0].integer] = {row[1].integer, row[2].integer};
  return pages;
}

// The same facts as the index cell rule gives them, on the pages SQLite names.
std::map<int64_t, PageFacts> ReaderIndexPages(const SqliteFile& file,
                                              const std::map<int64_t, PageFacts>& named) {
  std::map<int64_t, PageFacts> pages;
  std::vector<uint8_t> buffer;
  for (const auto& [pageNo, facts] : named) {
    EXPECT_EQ(ReadPageNumber(file, static_cast<uint32_t>(pageNo), buffer), PageRead::Whole);
    const ByteView page(buffer.data(), buffer.size());
    const BTreePage tree = ParsePage(page, 0, file.usableSize);
    EXPECT_TRUE(tree.Is(PageType::LeafIndex) || tree.Is(PageType::InteriorIndex)) << pageNo;
    std::vector<uint16_t> offsets;
    tree.CellPointers(offsets);
    PageFacts& read = pages[pageNo];
    read.cells = static_cast<int64_t>(offsets.size());
    for (uint16_t offset : offsets) {
      // An interior cell starts with its left child's page number.
      uint64_t payload = 0;
      int length = 0;
      DecodeVarint(page.Sub(offset + (tree.IsInterior() ? 4 : 0)), payload, length);
      read.payload += static_cast<int64_t>(IndexLocalPayloadSize(payload, file.usableSize));
    }
  }
  return pages;
}

void FillTable(Database& db, int rows, int pageSize) {
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT, n INTEGER)");
  // Keys of every length, some longer than a page: the index's cells overflow too.
  db.Exec("CREATE INDEX t_body ON t (body)");
  auto insert = db.Prepare("INSERT INTO t (body, n) VALUES (?, ?)");
  db.Exec("BEGIN");
  for (int i = 0; i < rows; ++i) {
    // Every few rows one longer than a page, so that overflow chains mix with short cells.
    const size_t length = i % 13 == 0 ? pageSize * 2 + i : 10 + (i * 31) % (pageSize / 3);
    insert.BindAll({Value::Text(std::string(length, static_cast<char>('a' + i % 26))),
                    Value::Int(i * 1000003LL)});
    insert.Run();
  }
  db.Exec("COMMIT");
  // Freeblocks beside overflowing cells: the local part of a cell must come from the
  // payload rule, never from where the next cell happens to start.
  db.Exec("DELETE FROM t WHERE id % 4 = 2");
}

TEST(BTreeLeaves, MatchDbstatAtEveryPageSizeAndReservedSize) {
  struct Case {
    int pageSize;
    int reserved;
  };
  for (const Case c :
       {Case{1024, 0}, Case{4096, 0}, Case{65536, 0}, Case{1024, 32}, Case{4096, 200}}) {
    SCOPED_TRACE(std::to_string(c.pageSize) + " reserved " + std::to_string(c.reserved));
    TempDir dir;
    const std::string path = dir.File("t.db");
    {
      OpenOptions options;
      options.pageSize = c.pageSize;
      Database db(path, options);
      if (c.reserved) {
        int reserve = c.reserved;
        ASSERT_EQ(sqlite3_file_control(db.Handle(), "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve),
                  SQLITE_OK);
      }
      FillTable(db, c.pageSize == 65536 ? 2000 : 700, c.pageSize);
    }
    Database db(path);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    EXPECT_EQ(file.pageSize, static_cast<uint32_t>(c.pageSize));
    EXPECT_EQ(file.usableSize, static_cast<uint32_t>(c.pageSize - c.reserved));
    std::vector<int64_t> rowids;
    EXPECT_EQ(ReaderLeaves(file, "t", rowids), SqliteLeaves(db, "t"));
    const std::map<int64_t, PageFacts> indexPages = SqliteIndexPages(db, "t_body");
    EXPECT_EQ(ReaderIndexPages(file, indexPages), indexPages);
    std::vector<int64_t> expected;
    for (const fixtures::Row& row : db.Query("SELECT rowid FROM t ORDER BY rowid"))
      expected.push_back(row[0].integer);
    std::sort(rowids.begin(), rowids.end());
    EXPECT_EQ(rowids, expected);
  }
}

TEST(BTreeLeaves, OneLeafAndEmptyTable) {
  TempDir dir;
  const std::string path = dir.File("t.db");
  {
    Database db(path);
    db.Exec("CREATE TABLE one (a); INSERT INTO one VALUES (1); CREATE TABLE none (a)");
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  ASSERT_NE(FindTable(file, "one"), nullptr);
  EXPECT_EQ(FindTable(file, "one")->pageSets.at(0).leafPages, std::vector<int32_t>{2});
  ASSERT_NE(FindTable(file, "none"), nullptr);
  EXPECT_TRUE(FindTable(file, "none")->pageSets.at(0).leafPages.empty());
}

TEST(Varints, NineByteAndCutVarints) {
  uint64_t value = 0;
  int length = 0;
  // Nine bytes: the ninth contributes all eight bits.
  const uint8_t nine[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  DecodeVarint(ByteView(nine, 9), value, length);
  EXPECT_EQ(value, UINT64_MAX);
  EXPECT_EQ(length, 9);
  // Bytes that end inside a varint give no value; a header split drops that varint.
  DecodeVarint(ByteView(nine, 8), value, length);
  EXPECT_EQ(length, 0);
  std::vector<uint64_t> types;
  const uint8_t header[] = {0x01, 0x81, 0x01, 0x0D, 0x83};
  SplitSerialTypes(ByteView(header, 5), 5, types);
  EXPECT_EQ(types, (std::vector<uint64_t>{1, 129, 13}));
}

}  // namespace
}  // namespace vantrel
