// The call-record scanner on call cells written by the real SQLite engine: a row of 13 values
// (iOS 6, or an upgraded device's old row) and one of 14 (iOS 7) in the same 14-column table,
// placed anywhere in a stretch, with their first four bytes overwritten as a freeblock header
// overwrites them, and cut by the stretch end.
#include "sources/calls/CallScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fixtures/Fixtures.h"
#include "sqlite/BTree.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;
using fixtures::Value;

struct RealCell {
  std::vector<uint8_t> bytes;  // the cell from its payload-length varint to its last value
  RowValues expected;          // "", address, date, duration, flags, id as SQLite returns them
  size_t originalAddressLength = 0;
  size_t storedValues = 0;
};

struct RealCells {
  CallRecordShape shape;
  std::vector<RealCell> cells;  // rowid order
};

// One call written into the iOS 6 table, then `answered` added as an upgrade adds it, then one
// call written with 14 values; the cells are cut from the table's one leaf page.
RealCells MakeRealCells(const TempDir& dir) {
  const std::string path = dir.File("calls.db");
  {
    Database sqlite(path);
    sqlite.Exec(fixtures::ReadSchemaFile("ios6_call_history.sql"));
    const char* insert =
        "INSERT INTO call (address, date, duration, flags, id, name, country_code, network_code, "
        "read, assisted, face_time_data, originalAddress) VALUES (?, ?, ?, ?, ?, ?, 'cn', '01', "
        "?, 0, NULL, ?)";
    sqlite.Query(insert, {Value::Text("13800138000"), Value::Int(fixtures::UnixSeconds(2013, 5, 2)),
                          Value::Int(3725), Value::Int(5), Value::Int(-1), Value::Text("张三"),
                          Value::Int(1), Value::Text("138 0013 8000")});
    sqlite.Exec("ALTER TABLE call ADD COLUMN answered INTEGER DEFAULT '1'");
    sqlite.Query(insert, {Value::Text("friend@example.com"),
                          Value::Int(fixtures::UnixSeconds(2014, 7, 17, 19, 15)), Value::Int(42),
                          Value::Int(4), Value::Int(12), Value::Null(), Value::Int(0),
                          Value::Text("friend@example.com")});
  }
  RealCells out;
  Database sqlite(path, {.create = false, .readOnly = true});
  std::vector<fixtures::Row> rows = sqlite.Query(
      "SELECT '', address, date, duration, flags, id, length(originalAddress) FROM call "
      "ORDER BY rowid");

  SqliteFile db;
  EXPECT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
  const TableInfo* table = FindTable(db, "call");
  EXPECT_NE(table, nullptr);
  if (!table || table->pageSets.empty() || table->pageSets[0].leafPages.empty()) return out;
  out.shape = MakeCallRecordShape(table->columns);
  std::vector<uint8_t> page;
  EXPECT_EQ(ReadPageNumber(db, table->pageSets[0].leafPages[0], page), PageRead::Whole);
  ByteView view(page.data(), page.size());
  std::vector<uint16_t> offsets;
  ReadCellPointers(view, offsets, db, false);
  EXPECT_EQ(offsets.size(), rows.size());
  std::vector<uint16_t> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < offsets.size() && i < rows.size(); ++i) {
    auto next = std::upper_bound(sorted.begin(), sorted.end(), offsets[i]);
    size_t end = next == sorted.end() ? db.usableSize : *next;
    RealCell cell;
    cell.bytes.assign(page.begin() + offsets[i], page.begin() + end);
    for (size_t k = 0; k < 6; ++k) cell.expected.push_back(rows[i][k].AsText());
    cell.originalAddressLength = static_cast<size_t>(rows[i][6].AsInt());
    cell.storedValues = i == 0 ? 13 : 14;
    out.cells.push_back(cell);
  }
  return out;
}

std::vector<CallHit> Scan(const std::vector<uint8_t>& bytes, size_t firstAnchor,
                          const CallRecordShape& shape) {
  std::vector<CallHit> hits;
  ScanCallRecords(ByteView(bytes.data(), bytes.size()), firstAnchor, shape, hits);
  return hits;
}

class CallScannerTest : public testing::Test {
 protected:
  void SetUp() override {
    real_ = MakeRealCells(dir_);
    ASSERT_EQ(real_.cells.size(), 2u);
    ASSERT_EQ(real_.shape.columns.size(), 14u);
  }
  TempDir dir_;
  RealCells real_;
};

TEST_F(CallScannerTest, FindsBothRecordWidthsAnywhereInAStretch) {
  for (const RealCell& cell : real_.cells) {
    SCOPED_TRACE(std::to_string(cell.storedValues) + " values");
    for (size_t before : {0, 1, 9, 40}) {
      for (size_t after : {0, 25}) {
        std::vector<uint8_t> stretch(before, 0);
        stretch.insert(stretch.end(), cell.bytes.begin(), cell.bytes.end());
        stretch.resize(stretch.size() + after, 0);
        std::vector<CallHit> hits = Scan(stretch, 0, real_.shape);
        ASSERT_EQ(hits.size(), 1u) << "at " << before;
        EXPECT_EQ(hits[0].row, cell.expected);
      }
    }
  }
}

// A freed cell's payload length, rowid, header-size byte and (with one-byte varints) the
// rowid's NULL serial type lie under the freeblock header. The 13-value record must not be
// read as 14 values, which would shift every value by one byte.
TEST_F(CallScannerTest, ReadsCellsUnderAFreeblockHeader) {
  for (const RealCell& cell : real_.cells) {
    SCOPED_TRACE(std::to_string(cell.storedValues) + " values");
    std::vector<uint8_t> stretch(32, 0);
    stretch.insert(stretch.end(), cell.bytes.begin(), cell.bytes.end());
    const size_t size = cell.bytes.size();
    stretch[32] = 0;
    stretch[33] = 0;
    stretch[34] = static_cast<uint8_t>(size >> 8);
    stretch[35] = static_cast<uint8_t>(size & 0xFF);
    std::vector<CallHit> hits = Scan(stretch, 32, real_.shape);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].row, cell.expected);
  }
}

// Cut by the stretch end (a live cell or the page end follows): the record is kept while its
// address, date, duration and flags fit, with the values that fit; nothing past the end is
// read (the vector is exactly the stretch).
TEST_F(CallScannerTest, RecordCutByTheStretchEnd) {
  for (const RealCell& cell : real_.cells) {
    SCOPED_TRACE(std::to_string(cell.storedValues) + " values");
    const size_t whole = cell.bytes.size();
    size_t valuesBefore = 0;
    for (size_t length = 0; length <= whole; ++length) {
      std::vector<uint8_t> stretch(cell.bytes.begin(), cell.bytes.begin() + length);
      std::vector<CallHit> hits = Scan(stretch, 0, real_.shape);
      if (length >= whole - cell.originalAddressLength) {
        ASSERT_EQ(hits.size(), 1u) << "cut at " << length;
        EXPECT_EQ(hits[0].row, cell.expected);
      }
      ASSERT_LE(hits.size(), 1u);
      if (hits.empty()) {
        EXPECT_EQ(valuesBefore, 0u) << "lost again at " << length;
        continue;
      }
      const RowValues& row = hits[0].row;
      ASSERT_GE(row.size(), 5u) << "cut at " << length;
      EXPECT_GE(row.size(), valuesBefore);
      EXPECT_TRUE(std::equal(row.begin(), row.end(), cell.expected.begin()));
      valuesBefore = row.size();
    }
    EXPECT_EQ(valuesBefore, 6u);
  }
}

// A later cell written over an old record's tail: the old record keeps the values before the
// later cell, and the later record is found too. When the later cell starts inside the old
// record's duration or flags, the old record is not taken.
TEST_F(CallScannerTest, RecordOverwrittenByALaterCell) {
  const RealCell& older = real_.cells[1];
  const RealCell& later = real_.cells[0];
  // Where the old record's flags end, from its header: payload length and rowid take one
  // byte each in this small table, then the header-size byte and one byte per serial type.
  ASSERT_LT(older.bytes[0], 0x80);
  ASSERT_LT(older.bytes[1], 0x80);
  size_t flagsEnd = 2 + older.bytes[2];
  for (size_t column = 1; column <= 4; ++column) {
    ASSERT_LT(older.bytes[3 + column], 0x80);
    flagsEnd += SerialTypeSize(older.bytes[3 + column]);
  }
  ASSERT_EQ(SerialTypeSize(older.bytes[3 + 5]), 1u) << "the id should take one byte";
  for (size_t overwriteAt : {flagsEnd, flagsEnd + 1, flagsEnd - 1}) {
    SCOPED_TRACE("later cell at " + std::to_string(overwriteAt));
    std::vector<uint8_t> stretch(older.bytes.begin(), older.bytes.begin() + overwriteAt);
    stretch.insert(stretch.end(), later.bytes.begin(), later.bytes.end());
    std::vector<CallHit> hits = Scan(stretch, 0, real_.shape);
    if (overwriteAt < flagsEnd) {
      ASSERT_EQ(hits.size(), 1u);
      EXPECT_EQ(hits[0].row, later.expected);
      continue;
    }
    ASSERT_EQ(hits.size(), 2u);
    const size_t kept = overwriteAt > flagsEnd ? 6 : 5;
    EXPECT_EQ(hits[0].row, RowValues(older.expected.begin(), older.expected.begin() + kept));
    EXPECT_EQ(hits[1].row, later.expected);
  }
}

// Anchors before firstAnchor are not taken; two records back to back are both found.
TEST_F(CallScannerTest, FirstAnchorAndNeighbouringRecords) {
  std::vector<uint8_t> stretch;
  for (const RealCell& cell : real_.cells)
    stretch.insert(stretch.end(), cell.bytes.begin(), cell.bytes.end());
  std::vector<CallHit> hits = Scan(stretch, 0, real_.shape);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].row, real_.cells[0].expected);
  EXPECT_EQ(hits[1].row, real_.cells[1].expected);
  hits = Scan(stretch, hits[0].anchor + 1, real_.shape);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].row, real_.cells[1].expected);
}

// Damaged bytes around and inside real records: never a read outside the stretch (checked by
// the sanitizer build), and a record is either taken with its own values or not at all when
// the damage lies in the bytes it checks.
TEST_F(CallScannerTest, DamagedBytesNeverLeaveTheStretch) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> stretch(rng() % 160);
    for (uint8_t& b : stretch) b = static_cast<uint8_t>(rng());
    const RealCell& cell = real_.cells[rng() % 2];
    if (stretch.size() > cell.bytes.size() && rng() % 2) {
      size_t at = rng() % (stretch.size() - cell.bytes.size());
      std::copy(cell.bytes.begin(), cell.bytes.end(), stretch.begin() + at);
    }
    std::vector<CallHit> hits = Scan(stretch, rng() % 4, real_.shape);
    for (const CallHit& hit : hits) {
      EXPECT_LT(hit.anchor, stretch.size());
      EXPECT_LE(hit.row.size(), 6u);
    }
  }
}

}  // namespace
}  // namespace vantrel
