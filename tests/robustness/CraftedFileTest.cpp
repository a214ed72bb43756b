// Files made to attack the reader: every link is bounded on its own, but a file
// can make many walks cover the same pages again and again. Each must still
// load in a moment, and rows outside the crafted part must still come back.
#include <gtest/gtest.h>

#include "DamageSupport.h"

namespace vantrel::robust {
namespace {

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
  const std::string b = CraftSharedOverflowChain(path, 100, 900);
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
