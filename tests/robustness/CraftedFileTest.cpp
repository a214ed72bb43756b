// Files made to attack the reader: every link is bounded on its own, but a file
// can make many walks cover the same pages again and again. Each must still
// load in a moment, and rows outside the crafted part must still come back.
#include <gtest/gtest.h>

#include "DamageSupport.h"

namespace vantrel::robust {
namespace {

std::string Varint(uint64_t v) {
  if (v <= 0x7F) return std::string(1, static_cast<char>(v));
  std::string groups;
  while (v) {
    groups.insert(groups.begin(), static_cast<char>(v & 0x7F));
    v >>= 7;
  }
  for (size_t i = 0; i + 1 < groups.size(); ++i) groups[i] = static_cast<char>(groups[i] | 0x80);
  return groups;
}

// The call table of a call database replaced by a tree of 100 leaves whose
// 451 cells each (all pointing at one cell) claim a payload of 1 GiB that
// continues in one overflow chain through 900 pages: read naively, 40 million
// page reads. (The bytes are written here; SQLite cannot make such a file.)
TEST(CraftedFiles, ThousandsOfCellsSharingOneLongOverflowChain) {
  fx::TempDir dir("vantrel-crafted");
  const std::string path = dir.File("calls.db");
  fx::CallOptions k;
  k.pageSize = 1024;
  k.computeSurvival = false;
  k.callCount = 30;
  k.keepNewest = 30;
  fx::BuildCallsDb(path, k);
  uint32_t root = 0;
  {
    fx::Database db(path);
    root =
        static_cast<uint32_t>(db.QueryInt("SELECT rootpage FROM sqlite_master WHERE name='call'"));
  }
  std::string b = fx::ReadFileBytes(path);
  const size_t ps = 1024;
  const uint32_t pages = static_cast<uint32_t>(b.size() / ps);
  const uint32_t leaves = 100, chain = 900;
  const uint32_t firstLeaf = pages + 1, firstChain = firstLeaf + leaves;
  const uint32_t total = firstChain + chain - 1;
  b.resize(static_cast<size_t>(total) * ps, '\0');

  const uint64_t payload = uint64_t{1} << 30;
  const uint64_t local = LocalPayloadSize(payload, ps);
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
  WriteBytes(path, b);

  const LoadOutcome out = LoadPath(path);
  std::printf("shared overflow chain, %zu KB: %.3f s\n", b.size() / 1024, out.seconds);
  EXPECT_LT(out.seconds, 2 * LoadBoundSeconds());
}

// Thousands of tables whose schema rows (rewritten through SQLite's own
// writable_schema) all name the root of one big tree; a sound call table
// beside them must still be read whole.
TEST(CraftedFiles, ThousandsOfTablesRootedInOneBigTree) {
  fx::TempDir dir("vantrel-crafted");
  const std::string path = dir.File("calls.db");
  fx::CallOptions k;
  k.pageSize = 1024;
  k.computeSurvival = false;
  fx::BuildCallsDb(path, k);
  {
    fx::OpenOptions o;
    o.create = false;
    o.autoVacuum = "";
    fx::Database db(path, o);
    db.Exec("BEGIN; CREATE TABLE big (x TEXT)");
    auto insert = db.Prepare("INSERT INTO big VALUES (?)");
    for (int i = 0; i < 3000; ++i) insert.Bind(1, std::string(200, 'a' + i % 26)).Run();
    for (int i = 0; i < 3000; ++i) db.Exec("CREATE TABLE t" + std::to_string(i) + " (a)");
    db.Exec("COMMIT; PRAGMA writable_schema = ON");
    db.Exec(
        "UPDATE sqlite_master SET rootpage = (SELECT rootpage FROM sqlite_master WHERE "
        "name = 'big') WHERE name GLOB 't[0-9]*'");
    db.Exec("PRAGMA writable_schema = OFF");
  }
  const std::set<std::string> expected = SqliteKeys(path, Kind::Calls);
  ASSERT_FALSE(expected.empty());
  const LoadOutcome out = LoadPath(path);
  std::printf("3000 tables on one tree, %ju KB: %.3f s\n",
              static_cast<uintmax_t>(fs::file_size(path) / 1024), out.seconds);
  EXPECT_LT(out.seconds, 2 * LoadBoundSeconds());
  EXPECT_EQ(LiveKeys(out.data, Kind::Calls), expected);
}

}  // namespace
}  // namespace vantrel::robust
