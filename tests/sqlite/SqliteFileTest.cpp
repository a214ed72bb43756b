// Opening a database: which headers are accepted, what a refused or short file gives, and
// the page count when the header's size field is 0.
#include "sqlite/SqliteFile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;

std::string MakeDatabase(const TempDir& dir, int pageSize = 4096) {
  const std::string path = dir.File("h.db");
  OpenOptions options;
  options.pageSize = pageSize;
  Database db(path, options);
  db.Exec("CREATE TABLE t (a TEXT); INSERT INTO t VALUES ('x')");
  return path;
}

bool Accepts(std::string header) {
  return ValidateHeader(reinterpret_cast<const uint8_t*>(header.data()), header.size());
}

TEST(DatabaseHeader, AcceptsWhatSqliteWritesAndRefusesDamage) {
  TempDir dir;
  const std::string real = check::ReadBytes(MakeDatabase(dir)).substr(0, 100);
  ASSERT_TRUE(Accepts(real));

  struct Edit {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    bool accepted;
  };
  const Edit edits[] = {
      {"page size 512 with 32 reserved bytes (480 usable)", 16, {0x02, 0x00}, true},
      {"page size 65536 (field value 1)", 16, {0x00, 0x01}, true},
      {"page size 256", 16, {0x01, 0x00}, false},
      {"page size not a power of two", 16, {0x03, 0x00}, false},
      {"UTF-16le text encoding", 56, {0, 0, 0, 2}, true},
      {"text encoding 4", 56, {0, 0, 0, 4}, false},
      {"read format version 3", 19, {3}, false},
      {"magic without its zero byte", 15, {' '}, false},
      {"maximum payload fraction 65", 21, {65}, false},
      {"leaf payload fraction 33", 23, {33}, false},
  };
  for (const Edit& e : edits) {
    std::string header = real;
    for (size_t i = 0; i < e.bytes.size(); ++i) header[e.at + i] = static_cast<char>(e.bytes[i]);
    if (e.at == 16 && e.bytes[0] == 0x02) header[20] = 32;
    EXPECT_EQ(Accepts(header), e.accepted) << e.what;
  }
  std::string tooMuchReserved = real;
  tooMuchReserved[16] = 0x02;
  tooMuchReserved[17] = 0x00;
  tooMuchReserved[20] = 33;  // 479 usable bytes
  EXPECT_FALSE(Accepts(tooMuchReserved));
  EXPECT_FALSE(Accepts(real.substr(0, 99)));
}

TEST(OpenDatabase, MissingRefusedAndShortFiles) {
  TempDir dir;
  SqliteFile file;
  EXPECT_EQ(OpenDatabase("", file, dir.File("absent.db")), OpenStatus::NotOpened);
  EXPECT_EQ(OpenDatabase("", file, ""), OpenStatus::NotOpened);

  const std::string path = MakeDatabase(dir);
  ASSERT_EQ(OpenDatabase(dir.File("absent.db-wal"), file, path),
            OpenStatus::Opened);  // a missing log is no error
  EXPECT_NE(FindTable(file, "t"), nullptr);

  // A refused header: opened, but an empty catalogue and no page size to read with.
  std::string bytes = check::ReadBytes(path);
  bytes[21] = 65;
  check::WriteBytes(dir.File("refused.db"), bytes);
  ASSERT_EQ(OpenDatabase("", file, dir.File("refused.db")), OpenStatus::HeaderRefused);
  EXPECT_TRUE(file.tableMap.empty());
  EXPECT_EQ(file.pageSize, 0u);

  // Shorter than a header, and cut inside page 2: nothing crashes; what is there is read.
  check::WriteBytes(dir.File("tiny.db"), check::ReadBytes(path).substr(0, 60));
  ASSERT_EQ(OpenDatabase("", file, dir.File("tiny.db")), OpenStatus::HeaderRefused);
  EXPECT_TRUE(file.tableMap.empty());
  check::WriteBytes(dir.File("cut.db"), check::ReadBytes(path).substr(0, 4096 + 100));
  ASSERT_EQ(OpenDatabase("", file, dir.File("cut.db")), OpenStatus::Opened);
  ASSERT_NE(FindTable(file, "t"), nullptr);
  std::vector<uint8_t> page;
  EXPECT_EQ(ReadPageNumber(file, 2, page), PageRead::Short);  // short read reported, rest zeros
  EXPECT_EQ(page.size(), 4096u);
  EXPECT_EQ(page.back(), 0);
  // The same buffer after a whole page (page 1 ends in the schema's cells):
  // the short read's tail is zeros, not what the buffer held before.
  ASSERT_EQ(ReadPageNumber(file, 1, page), PageRead::Whole);
  ASSERT_NE(page.back(), 0);
  EXPECT_EQ(ReadPageNumber(file, 2, page), PageRead::Short);
  const std::string cutBytes = check::ReadBytes(dir.File("cut.db"));
  EXPECT_EQ(std::string(page.begin(), page.begin() + 100), cutBytes.substr(4096, 100));
  EXPECT_TRUE(std::all_of(page.begin() + 100, page.end(), [](uint8_t b) { return b == 0; }));
  // Past the read budget a page reads as zeros, whatever the buffer held.
  ASSERT_EQ(ReadPageNumber(file, 1, page), PageRead::Whole);
  file.pageReadBudget = 1;
  EXPECT_EQ(ReadPageNumber(file, 1, page), PageRead::OverBudget);
  EXPECT_TRUE(std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; }));
}

TEST(OpenDatabase, PageCountFromFileSizeWhenHeaderSaysZero) {
  TempDir dir;
  const std::string path = MakeDatabase(dir, 1024);
  std::string bytes = check::ReadBytes(path);
  const uint32_t declared = check::Get32(bytes, 28);
  check::Put32(bytes, 28, 0);
  check::WriteBytes(path, bytes);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  EXPECT_EQ(file.pageCount, declared);
  EXPECT_EQ(file.pageCount, bytes.size() / 1024);
  ASSERT_NE(FindTable(file, "t"), nullptr);
  EXPECT_EQ(FindTable(file, "t")->pageSets.at(0).leafPages, std::vector<int32_t>{2});
}

}  // namespace
}  // namespace vantrel
